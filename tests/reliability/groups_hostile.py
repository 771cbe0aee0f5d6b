"""A hostile vendor server against the running client: every case starts the
staged client in a fresh program folder with AutoConnect on against a scripted
server that answers each request in one hostile way, measures how quickly the
client's window answers while that goes on, closes the client, and starts it
again against good answers, whose cycle must complete."""

import glob
import os
import signal
import time

import vendor
from common import (Figures, ProgramFolder, WorkFolder, client_env, largest_file, read_bytes, start_client,
                    stop_process, wait_until)

GOOD_FILES = {
    os.path.join("Languages", "lang.ini"): vendor.GOOD_LANG,
    os.path.join("modules", "modl.ini"): vendor.GOOD_MODL,
    os.path.join("advs", "0.htm"): vendor.page("300001"),
    os.path.join("advs", "2.htm"): vendor.page("300003"),
    os.path.join("advs", "300002.gif"): vendor.GIF,
}


def evil_files(work):
    """Files named by the hostile answers, wherever they landed: in the case's
    folder tree, or up to /tmp."""
    return set(glob.glob(os.path.join(work, "**", "*vxevil*"), recursive=True) + glob.glob("/tmp/*vxevil*"))


def good_cycle(cfg, server, program, stderr_path):
    """Starts the client against good answers; True when its cycle put every
    file in place. Returns (ok, reason)."""
    since = time.monotonic()
    proc = start_client(program, client_env(program, cfg.display, server.host), stderr_path)
    try:
        def done():
            # The line-up is asked for after both lists; banners that are in
            # place from an earlier cycle are not fetched again.
            return "LCOUNT" in server.actions(since, "good") and all(
                read_bytes(os.path.join(program.app, name)) == data for name, data in GOOD_FILES.items())
        ok = wait_until(done, 30, 0.1)
        reason = "" if ok else "requests %s" % server.actions(since)
    finally:
        status, by_itself = stop_process(proc, signal.SIGTERM, 15)
    if not by_itself:
        return False, "did not close after the good cycle"
    return ok, reason


def run_case(cfg, fig, server, mode, hold_ms, totals, baseline=None):
    with WorkFolder("vexor-rel-hostile-") as work:
        # The case's own logs lie beside the folder tree that is checked.
        program = ProgramFolder(work.sub("case"), cfg.stage_dir)
        outside_before = program.outside_snapshot()
        evil_before = evil_files(work.path)
        stderr_path = work.sub("client.err")
        server.set_mode(mode)
        since = time.monotonic()
        proc = start_client(program, client_env(program, cfg.display, server.host), stderr_path)
        ping = cfg.ping(proc.pid, hold_ms)
        hostile_requests = len(server.actions(since, mode))
        alive = proc.poll() is None
        server.set_mode("good")
        status, by_itself = stop_process(proc, signal.SIGTERM, 15)
        largest = largest_file(program.app, skip=("vexor",))
        ok, reason = good_cycle(cfg, server, program, stderr_path)
        outside_after = program.outside_snapshot()
        evil_after = evil_files(work.path) - evil_before
        for path in evil_after:
            try:
                os.remove(path)
            except OSError:
                pass

        totals["pings"] += int(ping.get("pings", 0))
        totals["over"] += int(ping.get("over_100ms", 0)) + int(ping.get("lost", 0))
        totals["max"] = max(totals["max"], ping.get("max_ms", 0.0))
        totals["largest"] = max(totals["largest"], largest)
        problems = []
        if not alive:
            problems.append("client ended (status %s)" % proc.returncode)
        if ping.get("answered", 0) == 0:
            problems.append("window never answered: " + ping.get("raw", ""))
        elif baseline is None and (ping.get("lost", 0) or ping.get("max_ms", 0) > cfg.ping_limit_ms
              or ping.get("over_100ms", 0) > cfg.ping_slow_share * ping.get("pings", 0)):
            problems.append("slow: " + ping.get("raw", ""))
        if hostile_requests == 0 and baseline is None:
            problems.append("no request reached the hostile server")
        if not by_itself or status != 0:
            problems.append("close request: status %s%s" % (status, "" if by_itself else ", killed"))
        if largest > cfg.max_file_bytes:
            problems.append("a file of %d bytes in the program folder" % largest)
        if outside_after != outside_before or evil_after:
            changed = sorted(set(outside_after.items()) ^ set(outside_before.items()))
            problems.append("wrote outside its folders: %s %s" % (changed[:3], sorted(evil_after)[:3]))
        if not ok:
            problems.append("next good cycle failed: " + reason)
        fig.check(not problems, "%s: %s" % (mode, "; ".join(problems)))
        if baseline is not None:
            baseline.add("good answers: %s, good cycle %s" % (ping.get("raw", ""), "ok" if ok else "FAILED"))
        cfg.log("hostile %-18s requests=%-3d %s largest_file=%d good_cycle=%s %s"
                % (mode, hostile_requests, ping.get("raw", ""), largest, ok, "; ".join(problems)))


def idle_ping(cfg):
    """The window of a client that does nothing at all (no server): how often
    this machine alone makes a ping slower than 100 ms."""
    with WorkFolder("vexor-rel-idle-") as work:
        program = ProgramFolder(work.sub("case"), cfg.stage_dir)
        with open(os.path.join(program.app, "settings.ini"), "wb") as f:
            f.write(b"[Settings]\nAutoConnect=0\n")
        proc = start_client(program, client_env(program, cfg.display, "127.0.0.1:1"))
        try:
            return cfg.ping(proc.pid, max(cfg.hostile_hold_ms, 10000)).get("raw", "")
        finally:
            stop_process(proc, signal.SIGTERM, 15)


def run(cfg):
    fig = Figures("hostile")
    server = vendor.Vendor()
    totals = {"pings": 0, "over": 0, "max": 0.0, "largest": 0}
    baseline = Figures("hostile/baseline")
    try:
        # The same measurement against good answers first: what the machine
        # itself adds to the ping times.
        run_case(cfg, baseline, server, "good", cfg.hostile_hold_ms,
                 {"pings": 0, "over": 0, "max": 0.0, "largest": 0}, baseline)
        for mode in cfg.hostile_modes:
            run_case(cfg, fig, server, mode, cfg.hostile_hold_ms, totals)
    finally:
        server.stop()
    cases = len(cfg.hostile_modes)
    fig.add("%d cases, %d passed" % (cases, cases - len(fig.failures)))
    fig.add("%d pings, max %.1f ms, %d over 100 ms or lost" % (totals["pings"], totals["max"], totals["over"]))
    baseline.add("the same client idle: %s" % idle_ping(cfg))
    fig.add("largest file written %d bytes" % totals["largest"])
    return [baseline, fig]
