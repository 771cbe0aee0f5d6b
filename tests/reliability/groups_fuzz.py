"""Fuzzing: every libFuzzer target of the fuzz build for a fixed number of
runs, starting from its committed corpus."""

import glob
import os
import re
import shutil
import subprocess

from common import Figures


def targets(fuzz_build):
    found = {}
    for path in glob.glob(os.path.join(fuzz_build, "tests", "**", "fuzz_*"), recursive=True):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            found[os.path.basename(path)[len("fuzz_"):]] = path
    return dict(sorted(found.items()))


def run_target(cfg, name, binary, runs):
    seeds = os.path.join(cfg.source, "tests", "fuzz", "corpus", name)
    work = os.path.join(cfg.fuzz_work, name)
    found = os.path.join(work, "found")
    artifacts = os.path.join(work, "artifacts") + "/"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(found)
    os.makedirs(artifacts)
    # New inputs go to the first folder; the committed seeds are read only.
    cmd = [binary, "-runs=%d" % runs, "-seed=%d" % cfg.seed, "-timeout=10", "-rss_limit_mb=2048",
           "-max_len=8192", "-print_final_stats=1", "-artifact_prefix=" + artifacts, found, seeds]
    env = dict(cfg.env, ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1",
               UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        # Targets that write files (settings, profile functions) sync them to
        # disk; on a memory file system that costs nothing.
        env["TMPDIR"] = "/dev/shm"
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=cfg.fuzz_timeout)
    out = result.stdout.decode("utf-8", "replace")
    with open(os.path.join(work, "fuzz.log"), "w") as log:
        log.write(out)
    done = re.search(r"stat::number_of_executed_units:\s*(\d+)", out) or re.search(r"Done (\d+) runs", out)
    crashes = sorted(os.listdir(artifacts))
    return int(done.group(1)) if done else 0, result.returncode, crashes, len(os.listdir(found))


def merge_into_corpus(cfg, name, binary):
    """Adds to the committed corpus the found inputs that reach new code."""
    seeds = os.path.join(cfg.source, "tests", "fuzz", "corpus", name)
    found = os.path.join(cfg.fuzz_work, name, "found")
    before = len(os.listdir(seeds))
    # Edges only (no hit counts): an input joins the corpus when it runs code
    # that no input there runs, which keeps the corpus to a handful of files.
    subprocess.run([binary, "-merge=1", "-use_counters=0", "-use_value_profile=0", "-max_len=8192", seeds, found],
                   stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=cfg.env, timeout=cfg.fuzz_timeout)
    return len(os.listdir(seeds)) - before


def run(cfg):
    fig = Figures("fuzz")
    found = targets(cfg.fuzz_build)
    if not found:
        fig.check(False, "no fuzz targets in %s" % cfg.fuzz_build)
        return [fig]
    total_runs = total_crashes = 0
    for name, binary in found.items():
        runs, status, crashes, new_inputs = run_target(cfg, name, binary, cfg.fuzz_runs)
        total_runs += runs
        total_crashes += len(crashes) or (status != 0)
        added = merge_into_corpus(cfg, name, binary) if cfg.update_corpus and not crashes else 0
        cfg.log("fuzz %-16s runs=%d status=%d crashes=%d new_inputs=%d added_to_corpus=%d"
                % (name, runs, status, len(crashes), new_inputs, added))
        fig.add("%s %d runs %d crashes" % (name, runs, len(crashes) or (status != 0)))
        fig.check(status == 0 and not crashes,
                  "%s: status %d, artifacts %s (%s)" % (name, status, crashes[:2], os.path.join(cfg.fuzz_work, name)))
        fig.check(runs >= cfg.fuzz_runs, "%s: only %d of %d runs" % (name, runs, cfg.fuzz_runs))
    fig.parts.insert(0, "%d targets, %d runs, %d crashes" % (len(found), total_runs, total_crashes))
    return [fig]
