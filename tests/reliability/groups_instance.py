"""Single instance: many starts at once leave one client; a killed holder
frees the lock; a browser the client started does not hold it."""

import os
import signal
import subprocess
import time

import vendor
from common import (Figures, ProgramFolder, WorkFolder, client_env, read_bytes, start_client, stop_process,
                    wait_until, write_bytes)

BROWSER = """#!/bin/sh
# Stands in for the desktop's URL opener: notes its pid and the address and
# stays, as a browser does (bounded).
echo "$$ $1" >> "%s"
exec sleep 120
"""


def parallel_starts(cfg, fig, program, env, starts):
    procs = [start_client(program, env) for _ in range(starts)]
    # Every start but one must end by itself, with status 0.
    wait_until(lambda: sum(p.poll() is None for p in procs) <= 1, 60, 0.1)
    time.sleep(1.0)  # a late second holder would show up now
    alive = [p for p in procs if p.poll() is None]
    statuses = [p.returncode for p in procs if p.poll() is not None]
    fig.add("%d parallel starts: %d running, %d ended (%d with status 0)"
            % (starts, len(alive), len(statuses), statuses.count(0)))
    fig.check(len(alive) == 1, "%d clients running after %d parallel starts" % (len(alive), starts))
    fig.check(statuses.count(0) == len(statuses), "second instances ended with %s" % sorted(set(statuses)))
    if alive:
        up = cfg.ping(alive[0].pid, 200)
        fig.check(up.get("answered", 0) > 0, "the remaining client shows no window")
    return alive


def lock_holders(lock_path):
    holders = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == lock_path:
                    holders.append(int(pid))
        except OSError:
            continue
    return holders


def run(cfg):
    fig = Figures("single-instance")
    server = vendor.Vendor(version=b"9.9")  # a newer version: the client offers the update page
    browsers = []
    try:
        with WorkFolder("vexor-rel-instance-") as work:
            program = ProgramFolder(work.path, cfg.stage_dir)
            bin_dir = work.sub("bin")
            browser_log = work.sub("browser.log")
            write_bytes(os.path.join(bin_dir, "xdg-open"), (BROWSER % browser_log).encode())
            os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
            env = client_env(program, cfg.display, server.host)
            env.pop("VEXOR_OPEN_URL_LOG")  # start the (stand-in) browser for real
            env["PATH"] = bin_dir + ":" + env["PATH"]
            lock_path = os.path.join(program.run, "Vexor.lock")

            alive = parallel_starts(cfg, fig, program, env, cfg.instance_starts)
            # The holder's cycle brings the update prompt; Return accepts it
            # and the client opens the update page in the browser.
            if alive:
                holder = alive[0]
                wait_until(lambda: "VERSION" in server.actions(), 20)
                opened = False
                for _ in range(20):
                    subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(holder.pid),
                                    "--name", ".", "windowfocus", "--sync", "%@", "key", "Return"],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
                    if wait_until(lambda: read_bytes(browser_log), 1):
                        opened = True
                        break
                log = (read_bytes(browser_log) or b"").decode().split()
                browsers = [int(log[0])] if log else []
                fig.check(opened, "the client did not start the browser")
                browser_alive = bool(browsers) and os.path.exists("/proc/%d" % browsers[0])
                holders_before = lock_holders(lock_path)
                fig.check(holders_before == [holder.pid],
                          "lock held by %s, client is %d" % (holders_before, holder.pid))
                holder.send_signal(signal.SIGKILL)
                holder.wait()
                holders_after = lock_holders(lock_path)
                fig.check(not holders_after, "lock still held by %s after kill -9" % holders_after)
                fig.check(browser_alive, "the browser was not running when the client was killed")

                again = start_client(program, env)
                up = cfg.ping(again.pid, 300)
                started = again.poll() is None and up.get("answered", 0) > 0
                fig.check(started, "no client started after kill -9 of the holder")
                fig.add("after kill -9 of the holder: next start %s, browser (pid %s) %s, lock holders %s"
                        % ("runs" if started else "FAILED", browsers[0] if browsers else "-",
                           "still running" if browser_alive else "not running",
                           lock_holders(lock_path) == [again.pid] and "= new client" or lock_holders(lock_path)))
                stop_process(again, signal.SIGTERM, 15)
    finally:
        for pid in browsers:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        server.stop()
    return [fig]
