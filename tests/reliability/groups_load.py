"""Load: connect requests posted while cycles run, and module windows opened
and closed many times; neither may grow the process."""

import re
import subprocess

from common import Figures, WorkFolder


def figures_of(text):
    values = {}
    for key, value in re.findall(r"(\w+)=(\S+)", text):
        values[key] = value
    return values


def growth(pair):
    before, after = (int(x) for x in pair.split("->"))
    return before, after, after - before


def connect_requests(cfg, posts):
    fig = Figures("load/connect")
    with WorkFolder("vexor-rel-connect-") as work:
        result = subprocess.run([cfg.tool("connect_load"), work.path, cfg.server, str(posts)],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=3600)
    out = result.stdout.decode().strip()
    v = figures_of(out)
    if "rss_kb" not in v:
        fig.check(False, "connect_load failed: " + out[-300:])
        return fig
    rss0, rss1, drss = growth(v["rss_kb"])
    t0, t1, _ = growth(v["threads"])
    f0, f1, _ = growth(v["fds"])
    fig.add("%s posts, %s accepted, %s cycles (server saw %s), %s refused while idle, %s overlapping"
            % (v["posts"], v["accepted"], v["cycles"], v["langl"], v["refused_while_idle"], v["overlaps"]))
    fig.add("RSS %d -> %d kB (%+d), threads %d -> %d (thread ended), fds %d -> %d" % (rss0, rss1, drss, t0, t1, f0, f1))
    fig.check(result.returncode == 0, "cycles, posts or resources do not match: " + out)
    fig.check(drss <= cfg.rss_slack_kb, "RSS grew by %d kB" % drss)
    return fig


def module_cycles(cfg, cycles):
    fig = Figures("load/modules")
    result = subprocess.run([cfg.tool("module_cycles"), cfg.stage("modules"), str(cycles)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=3600,
                            env=dict(cfg.env, QT_QPA_PLATFORM="offscreen"))
    out = result.stdout.decode().strip()
    v = figures_of(out)
    if "rss_kb" not in v:
        fig.check(False, "module_cycles failed: " + out[-300:])
        return fig
    rss0, rss1, drss = growth(v["rss_kb"])
    f0, f1, _ = growth(v["fds"])
    t0, t1, _ = growth(v["threads"])
    fig.add("%s open/close cycles of %s modules (%s windows), %s failures"
            % (v["cycles"], v["modules"], v["opens"], v["failures"]))
    fig.add("RSS %d -> %d kB (%+d), fds %d -> %d, threads %d -> %d" % (rss0, rss1, drss, f0, f1, t0, t1))
    fig.check(result.returncode == 0, "module cycles failed or grew: " + out)
    fig.check(drss <= cfg.rss_slack_kb, "RSS grew by %d kB" % drss)
    return fig


def run(cfg):
    yield connect_requests(cfg, cfg.posts)
    yield module_cycles(cfg, cfg.module_cycles)
