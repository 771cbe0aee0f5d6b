"""Shared pieces of the reliability runs: temporary folders, a virtual X
server, program folders made from the staged client, client processes,
snapshots of folders, and the figures each group reports."""

import hashlib
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

DEVNULL = subprocess.DEVNULL


class Figures:
    """One group's figures and failed checks."""

    def __init__(self, group):
        self.group = group
        self.parts = []
        self.failures = []

    def add(self, text):
        self.parts.append(text)

    def check(self, ok, what):
        if not ok:
            self.failures.append(what)
        return ok

    def line(self):
        text = "; ".join(self.parts)
        status = "ok" if not self.failures else "FAILED: " + ", ".join(self.failures[:8])
        if len(self.failures) > 8:
            status += ", ... (%d in all)" % len(self.failures)
        return "%s: %s [%s]" % (self.group, text, status)


class WorkFolder:
    """A temporary folder removed at the end (also on errors)."""

    def __init__(self, prefix):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def sub(self, *names):
        return os.path.join(self.path, *names)


def wait_until(predicate, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def snapshot(root, skip=()):
    """path -> (size, sha1) of every file and '<dir>' of every folder below
    root, leaving out the subtrees named in skip (absolute paths)."""
    result = {}
    skip = {os.path.realpath(s) for s in skip}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.realpath(os.path.join(folder, d)) not in skip]
        for d in dirs:
            result[os.path.relpath(os.path.join(folder, d), root)] = "<dir>"
        for name in files:
            path = os.path.join(folder, name)
            data = read_bytes(path)
            digest = hashlib.sha1(data).hexdigest() if data is not None else "<unreadable>"
            result[os.path.relpath(path, root)] = (os.path.getsize(path), digest)
    return result


def largest_file(root, skip=()):
    size = 0
    for folder, _, files in os.walk(root):
        for name in files:
            if name in skip:
                continue
            try:
                size = max(size, os.path.getsize(os.path.join(folder, name)))
            except OSError:
                pass
    return size


# On a machine shared with compilers, the scheduler alone can hold a runnable
# GUI thread back for more than 100 ms. As root the client and the ping tool
# run at a raised priority, so that what the figures show is the client's own
# waiting, not the queue for a CPU (set VEXOR_RELIABILITY_NICE=0 to compare).
NICE = int(os.environ.get("VEXOR_RELIABILITY_NICE", "-10")) if os.geteuid() == 0 else 0


def raise_priority():
    if NICE:
        os.nice(NICE)


class Xvfb:
    """A virtual X server on a free display number, for the whole run."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=DEVNULL, stderr=DEVNULL, preexec_fn=raise_priority)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 1)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def link_or_copy(source, target):
    try:
        os.link(source, target)
    except OSError:
        shutil.copy2(source, target)


class ProgramFolder:
    """A program folder made from the staged client: <root>/app/ with the
    executable, Languages/, advs/ and modules/, beside a registry folder
    (<root>/config, XDG_CONFIG_HOME), a runtime folder (<root>/run,
    XDG_RUNTIME_DIR) and a sentinel tree that nothing may touch."""

    def __init__(self, root, stage, copy_binary=False, state_root=None):
        self.root = root
        self.app = os.path.join(root, "app")
        # The registry and runtime folders may lie elsewhere (a read-only
        # program folder still needs a writable lock folder).
        state_root = state_root or root
        self.config = os.path.join(state_root, "config")
        self.run = os.path.join(state_root, "run")
        os.makedirs(self.app, exist_ok=True)
        os.makedirs(self.config, exist_ok=True)
        os.makedirs(self.run, mode=0o700, exist_ok=True)
        os.chmod(self.run, 0o700)
        exe = os.path.join(self.app, "vexor")
        if copy_binary:
            shutil.copy2(os.path.join(stage, "vexor"), exe)
        else:
            link_or_copy(os.path.join(stage, "vexor"), exe)
        shutil.copytree(os.path.join(stage, "Languages"), os.path.join(self.app, "Languages"), dirs_exist_ok=True)
        os.makedirs(os.path.join(self.app, "advs"), exist_ok=True)
        os.makedirs(os.path.join(self.app, "modules"), exist_ok=True)
        self.exe = exe
        sentinel = os.path.join(root, "sentinel")
        write_bytes(os.path.join(sentinel, "keep.txt"), b"sentinel\n")
        write_bytes(os.path.join(sentinel, "deep", "keep.lng"), b"[Texts]\r\nX=1\r\n")
        write_bytes(os.path.join(root, "beside.txt"), b"beside the program folder\n")

    def outside_snapshot(self):
        """Everything below root except the client's own three folders."""
        return snapshot(self.root, skip=(self.app, self.config, self.run))

    def settings(self):
        return read_bytes(os.path.join(self.app, "settings.ini"))


def client_env(program, display, server_host, extra=None):
    env = dict(os.environ)
    for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "VEXOR_OPEN_URL_LOG"):
        env.pop(name, None)
    env.update({
        "DISPLAY": display,
        "XDG_CONFIG_HOME": program.config,
        "XDG_RUNTIME_DIR": program.run,
        "VEXOR_SERVER_HOST": server_host,
        "VEXOR_WEB_HOST": server_host,
        "VEXOR_OPEN_URL_LOG": os.path.join(program.root, "urls.log"),
        "QT_QPA_PLATFORM": "xcb",
    })
    if extra:
        env.update(extra)
    return env


def start_client(program, env, stderr_path=None):
    err = open(stderr_path, "ab") if stderr_path else DEVNULL
    try:
        return subprocess.Popen([program.exe], env=env, cwd=program.root, stdout=DEVNULL, stderr=err,
                                start_new_session=True, preexec_fn=raise_priority)
    finally:
        if stderr_path:
            err.close()


def stop_process(proc, sig=signal.SIGTERM, timeout=15):
    """Sends sig and waits; kills after timeout. Returns (exit status, True
    when it ended by itself within the time)."""
    if proc.poll() is not None:
        return proc.returncode, True
    try:
        proc.send_signal(sig)
    except ProcessLookupError:
        pass
    try:
        return proc.wait(timeout), True
    except subprocess.TimeoutExpired:
        proc.kill()
        return proc.wait(), False


def xping(tool, pid, duration_ms, interval_ms=50, env=None):
    """Runs the ping tool; returns a dict of its figures (empty when no
    window was found)."""
    out = subprocess.run([tool, str(pid), str(duration_ms), str(interval_ms)], env=env, preexec_fn=raise_priority,
                         stdout=subprocess.PIPE, stderr=DEVNULL, timeout=duration_ms / 1000 + 60).stdout.decode()
    figures = {}
    for part in out.split():
        if "=" in part:
            key, value = part.split("=", 1)
            try:
                figures[key] = float(value)
            except ValueError:
                pass
    figures["raw"] = out.strip()
    return figures
