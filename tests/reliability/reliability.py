#!/usr/bin/env python3
"""Runs the reliability groups against built programs and prints one line of
figures per group and a summary line. Started by scripts/reliability, which
builds what is needed first."""

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import common  # noqa: E402

GROUPS = ["fuzz", "crash", "hostile", "instance", "load"]


class Config:
    def __init__(self, args):
        self.source = os.path.abspath(args.source)
        self.build = os.path.abspath(args.build)
        self.fuzz_build = os.path.abspath(args.fuzz_build)
        self.stage_dir = os.path.join(self.build, "stage")
        self.server = os.path.join(self.build, "server", "vexor-server")
        self.fuzz_runs = args.fuzz_runs
        self.kills = args.kills
        self.client_kills = args.client_kills
        self.posts = args.posts
        self.module_cycles = args.module_cycles
        self.instance_starts = args.starts
        self.hostile_hold_ms = args.hold_ms
        self.update_corpus = args.update_corpus
        self.seed = args.seed
        self.fuzz_timeout = 4 * 3600
        self.max_file_bytes = 32 << 20
        # A case counts as responsive when no ping was lost, none took over a
        # second, and at most this share took over 100 ms: an idle client on a
        # machine busy with other work already has the odd slow one.
        self.ping_limit_ms = 1000
        self.ping_slow_share = 0.05
        self.rss_slack_kb = 2048  # allocator noise; a leak per cycle shows far above this
        self.fuzz_work = os.path.join(self.fuzz_build, "reliability")
        self.keep_dir = os.path.join(self.build, "reliability")
        os.makedirs(self.keep_dir, exist_ok=True)
        self.env = dict(os.environ)
        self.display = None
        self.verbose = args.verbose
        import vendor
        self.hostile_modes = args.modes.split(",") if args.modes else vendor.HOSTILE_MODES
        self.log_file = open(os.path.join(self.keep_dir, "reliability.log"), "a")

    def tool(self, name):
        return os.path.join(self.build, "tests", "reliability", name)

    def stage(self, name):
        return os.path.join(self.stage_dir, name)

    def keep(self, name):
        return os.path.join(self.keep_dir, name)

    def ping(self, pid, duration_ms):
        return common.xping(self.tool("xping"), pid, duration_ms, 50, dict(self.env, DISPLAY=self.display))

    def log(self, text):
        self.log_file.write(time.strftime("%H:%M:%S ") + text + "\n")
        self.log_file.flush()
        if self.verbose:
            print("  " + text, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--fuzz-build", required=True)
    parser.add_argument("--groups", default=",".join(GROUPS))
    parser.add_argument("--fuzz-runs", type=int, default=1000000)
    parser.add_argument("--kills", type=int, default=1000)
    parser.add_argument("--client-kills", type=int, default=200)
    parser.add_argument("--posts", type=int, default=10000)
    parser.add_argument("--module-cycles", type=int, default=1000)
    parser.add_argument("--starts", type=int, default=100)
    parser.add_argument("--hold-ms", type=int, default=8000)
    parser.add_argument("--modes", default="")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--update-corpus", action="store_true")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    random.seed(args.seed)
    cfg = Config(args)

    groups = [g for g in args.groups.split(",") if g]
    unknown = set(groups) - set(GROUPS)
    if unknown:
        parser.error("unknown groups: " + ", ".join(sorted(unknown)))
    xvfb = None
    if {"hostile", "instance", "crash"} & set(groups):
        xvfb = common.Xvfb()
        cfg.display = xvfb.display
    results = []
    started = time.monotonic()
    try:
        for group in groups:
            module = __import__("groups_" + group)
            t0 = time.monotonic()
            for fig in module.run(cfg):
                fig.add("%.0f s" % (time.monotonic() - t0))
                t0 = time.monotonic()
                results.append(fig)
                print(fig.line(), flush=True)
    finally:
        if xvfb:
            xvfb.stop()
    failed = [f for f in results if f.failures]
    print("reliability: %d lines, %d ok, %d failed, %.0f s"
          % (len(results), len(results) - len(failed), len(failed), time.monotonic() - started), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
