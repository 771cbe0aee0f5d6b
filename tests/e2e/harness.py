"""What every end-to-end script does around its checks: waiting on a
condition, the processes it starts and ends whatever happens, the stand-in
vendor server on a free loopback port, and the run in a temporary folder that
turns a failure or ctest's time-out into exit status 1 and cleans up.
"""

import ctypes
import os
import shutil
import signal
import subprocess
import tempfile
import time

Deadline = 30.0  # seconds for every wait


class Failure(Exception):
    pass


def wait_for(what, probe, deadline=Deadline, interval=0.05):
    """Polls `probe` until it returns a true value and returns that value;
    raises Failure naming `what` after `deadline` seconds."""
    end = time.monotonic() + deadline
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"timed out after {deadline:.0f} s waiting for {what}")
        time.sleep(interval)


def read_text(path):
    """The file's text, "" when there is no such file (or a folder has its
    name)."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except (FileNotFoundError, IsADirectoryError):
        return ""


def fail(message):
    raise Failure(message)


def check(condition, what, detail=""):
    if not condition:
        raise Failure(f"check failed: {what}" + (f": {detail}" if detail else ""))
    print("ok:", what)


def exit_text(process):
    if getattr(process, "timed_out", None):
        return f"still running {process.timed_out:.0f} s after the signal (killed)"
    if process.returncode < 0:
        return f"ended by signal {-process.returncode}"
    return f"exit status {process.returncode}"


def die_with_parent():
    # PR_SET_PDEATHSIG: a child outlives no test that is killed outright.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)


class Processes:
    """Every process the test starts; all are ended by close(), whatever
    happened."""

    def __init__(self):
        self.running = []

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, preexec_fn=die_with_parent, **kwargs)
        self.running.append(process)
        return process

    def stop(self, process, sig=signal.SIGTERM, timeout=5.0):
        """Sends `sig`, waits up to `timeout` seconds, then kills. Returns the
        exit status, or None when the process had to be killed."""
        status = process.poll()
        if status is None:
            try:
                process.send_signal(sig)
                status = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                process.timed_out = timeout
        if process in self.running:
            self.running.remove(process)
        return status

    def close(self):
        # Latest first: clients before the server, the X server last.
        for process in reversed(list(self.running)):
            self.stop(process)


def start_server(processes, server, folder):
    """vexor-server on a free loopback port, its log `folder`/server.log and
    its output `folder`/server.out. Returns the server, its port and log."""
    port_file, log = os.path.join(folder, "port"), os.path.join(folder, "server.log")
    with open(os.path.join(folder, "server.out"), "wb") as out:
        process = processes.start([server, "--port", "0", "--port-file", port_file, "--log", log],
                                  stdout=out, stderr=subprocess.STDOUT)
    port = wait_for("vexor-server's port file", lambda: read_text(port_file).strip() or
                    (process.poll() is not None and fail(f"vexor-server ended with {process.returncode}")))
    return process, port, log


def run_in_temp_folder(test, prefix, alarm=None, keep=False, on_failure=None):
    """Runs `test(folder, processes)` in a new temporary folder and returns the
    exit status: 0 when it passed, 1 when it raised Failure or a process or
    file error. SIGTERM (ctest's time-out), SIGINT and, after `alarm` seconds,
    SIGALRM end it as a failure. Afterwards every process it started is ended,
    `on_failure(folder)` shows what tells why it failed, and the folder goes
    unless `keep` (or VEXOR_E2E_KEEP after a failure) asks to keep it."""
    def terminate(signum, _frame):
        raise Failure(f"stopped by signal {signum}")

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
        signal.signal(sig, terminate)
    if alarm:
        signal.alarm(alarm)
    folder = tempfile.mkdtemp(prefix=prefix)
    processes = Processes()
    status = 1
    try:
        test(folder, processes)
        print("PASS")
        status = 0
    except (Failure, OSError, subprocess.SubprocessError) as failure:
        print("FAIL:", failure)
    finally:
        processes.close()
        if status != 0 and on_failure:
            on_failure(folder)
        if keep or status != 0 and os.environ.get("VEXOR_E2E_KEEP"):
            print("kept:", folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)
    return status
