#!/usr/bin/env python3
"""`cmake --install` into temporary prefixes, and the installed client run
from there (Qt's offscreen platform, no X server needed).

    install_tree.py --build DIR --source DIR [--keep]

Checks: the tree under the prefix (program folder lib/vexor with the sample
modules, launcher, desktop entry, icon) and nothing else; a DESTDIR install
lands below DESTDIR but points at the prefix; no build paths in the binaries;
the launcher starts the installed client, which writes its settings into its
own folder; a moved program folder still works; a settings file that cannot
be written is reported at close and nothing else is touched.
"""

import argparse
import errno
import fcntl
import filecmp
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys

from harness import Deadline, Failure, check, die_with_parent, read_text, run_in_temp_folder, wait_for

ProgramFiles = {
    "vexor", "Languages/lang.ini", "Languages/english.lng",
    "modules/Notes/Notes.mdl", "modules/Notes/icon.bmp",
    "modules/Clock/Clock.mdl", "modules/Clock/icon.bmp",
}
ProgramFolders = {"Languages", "advs", "modules", "modules/Notes", "modules/Clock"}


def tree(root):
    """Relative paths of the files and of the folders below root."""
    files, folders = set(), set()
    for base, dirs, names in os.walk(root):
        rel = os.path.relpath(base, root)
        for d in dirs:
            folders.add(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            files.add(os.path.normpath(os.path.join(rel, n)))
    return files, folders


Cmake = "cmake"


def install(build, prefix, destdir=None):
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = destdir
    result = subprocess.run([Cmake, "--install", build, "--prefix", prefix],
                            env=env, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise Failure(f"cmake --install --prefix {prefix} failed:\n{result.stdout}{result.stderr}")


def executable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def desktop_entry(path):
    lines = read_text(path).splitlines()
    check(lines and lines[0] == "[Desktop Entry]", f"{path} starts with [Desktop Entry]")
    return dict(line.split("=", 1) for line in lines[1:] if "=" in line and not line.startswith("#"))


def check_tree(root, prefix, source):
    """root: where the files are (prefix, or DESTDIR + prefix); prefix: where
    they will run from."""
    files, folders = tree(root)
    program = {os.path.join("lib/vexor", f) for f in ProgramFiles}
    expected = program | {"bin/vexor", "bin/vexor-reg", "share/applications/vexor.desktop",
                          "share/icons/hicolor/64x64/apps/vexor.png"}
    check(files == expected, "installed files are exactly the program folder, launcher, tool, entry and icon",
          f"missing {sorted(expected - files)}, unexpected {sorted(files - expected)}")
    for folder in ProgramFolders:
        check(os.path.join("lib/vexor", folder) in folders, f"program folder has {folder}/", root)
    for name in ("Languages/lang.ini", "Languages/english.lng"):
        check(filecmp.cmp(os.path.join(root, "lib/vexor", name), os.path.join(source, "data/stage", name),
                          shallow=False), f"{name} as shipped", root)
    for module, folder in (("Notes", "notes"), ("Clock", "clock")):
        check(filecmp.cmp(os.path.join(root, "lib/vexor/modules", module, "icon.bmp"),
                          os.path.join(source, "examples", folder, "icon.bmp"), shallow=False),
              f"{module} icon as shipped", root)
    for name in ("lib/vexor/vexor", "bin/vexor", "bin/vexor-reg"):
        check(executable(os.path.join(root, name)), f"{name} is executable", root)

    launcher = read_text(os.path.join(root, "bin/vexor"))
    check(launcher.startswith("#!/bin/sh") and f'exec "{prefix}/lib/vexor/vexor" "$@"' in launcher,
          f"the launcher runs {prefix}/lib/vexor/vexor", repr(launcher))
    entry = desktop_entry(os.path.join(root, "share/applications/vexor.desktop"))
    check(entry.get("Type") == "Application" and entry.get("Name") == "Vexor"
          and entry.get("Exec") == f"{prefix}/bin/vexor" and entry.get("Icon") == "vexor",
          "the desktop entry starts the launcher with the icon 'vexor'", entry)
    check(png_size(os.path.join(root, "share/icons/hicolor/64x64/apps/vexor.png")) == (64, 64),
          "icon is a 64 x 64 PNG")


def check_relocatable(root, build):
    """No path of the build tree in the installed binaries, every library
    found."""
    for name in ("lib/vexor/vexor", "bin/vexor-reg", "lib/vexor/modules/Notes/Notes.mdl",
                 "lib/vexor/modules/Clock/Clock.mdl"):
        path = os.path.join(root, name)
        dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, timeout=60).stdout
        paths = [line for line in dynamic.splitlines() if "RPATH" in line or "RUNPATH" in line]
        check(not any(build in line for line in paths), f"{name} has no run path into the build tree", paths)
        ldd = subprocess.run(["ldd", path], capture_output=True, text=True, timeout=60).stdout
        check("not found" not in ldd, f"{name} finds every shared library", ldd)


class Client:
    """The installed client under the offscreen platform, with its own
    runtime folder and registry; its server address refuses connections."""

    def __init__(self, folder, refused_port):
        self.runtime = os.path.join(folder, "runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.config = os.path.join(folder, "config")
        self.output = os.path.join(folder, "client.out")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
        self.env.update(QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=self.runtime, XDG_CONFIG_HOME=self.config,
                        HOME=folder, VEXOR_SERVER_HOST=f"127.0.0.1:{refused_port}",
                        VEXOR_WEB_HOST=f"127.0.0.1:{refused_port}",
                        VEXOR_OPEN_URL_LOG=os.path.join(folder, "urls.log"))
        self.process = None

    def start(self, command):
        with open(self.output, "wb") as out:
            self.process = subprocess.Popen([command], env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                            preexec_fn=die_with_parent)
        # The client holds its lock once its signal handlers are in place.
        wait_for("the client to take its lock", self.locked)

    def locked(self):
        if self.process.poll() is not None:
            raise Failure(f"the client ended with {self.process.returncode}", read_text(self.output))
        path = os.path.join(self.runtime, "Vexor.lock")
        if not os.path.exists(path):
            return False
        with open(path, "rb") as f:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError as error:
                return error.errno in (errno.EWOULDBLOCK, errno.EAGAIN)
            fcntl.flock(f, fcntl.LOCK_UN)
            return False

    def terminate(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=Deadline)
        except subprocess.TimeoutExpired:
            raise Failure("the client did not close on SIGTERM", read_text(self.output)) from None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def settings(program):
    return dict(line.split("=", 1) for line in read_text(os.path.join(program, "settings.ini")).splitlines()
                if "=" in line)


def register_notes(program, config):
    registry = os.path.join(config, "vexor", "registry.reg")
    tool = os.path.join(os.path.dirname(os.path.dirname(program)), "bin", "vexor-reg")
    for value, data in (("ModulePath", program + "/modules/Notes/"), ("ACTIVE", "Y"), ("Default", "N")):
        subprocess.run([tool, "add", "HKCU\\Software\\Vexor\\Notes", "--value", value, "--data", data],
                       env=dict(os.environ, XDG_CONFIG_HOME=config), check=True, timeout=Deadline)
    return registry


def run_installed(folder, prefix, refused_port):
    program = os.path.join(prefix, "lib/vexor")
    client = Client(folder, refused_port)
    registry = register_notes(program, client.config)
    check("ModulePath" in read_text(registry), f"the installed vexor-reg wrote {registry}")
    try:
        # Through the launcher: the installed executable runs and keeps its
        # settings beside itself.
        client.start(os.path.join(prefix, "bin/vexor"))
        exe = os.readlink(f"/proc/{client.process.pid}/exe")
        check(exe == os.path.join(program, "vexor"), "the launcher runs the installed client", exe)
        check(client.terminate() == 0, "the client closes with 0 on SIGTERM", read_text(client.output))
        values = settings(program)
        check(values.get("StartUps") == "1" and values.get("Install") == "1",
              "settings.ini in the program folder: one start, no sync", values)

        # The program folder moved elsewhere works as it is.
        moved = os.path.join(folder, "elsewhere", "vexor")
        os.makedirs(os.path.dirname(moved))
        shutil.move(program, moved)
        client.start(os.path.join(moved, "vexor"))
        check(client.terminate() == 0, "the moved client closes with 0", read_text(client.output))
        check(settings(moved).get("StartUps") == "2", "the moved folder keeps its settings", settings(moved))

        # A settings file that cannot be written: the error appears at close,
        # nothing else changes.
        os.remove(os.path.join(moved, "settings.ini"))
        os.mkdir(os.path.join(moved, "settings.ini"))
        before_registry = read_text(registry)
        before_files = {f: read_text(os.path.join(moved, f)) for f in tree(moved)[0]}
        client.start(os.path.join(moved, "vexor"))
        client.process.send_signal(signal.SIGTERM)
        message = f"Unable to write to {moved}/settings.ini"
        wait_for(f"'{message}' from the client", lambda: message in read_text(client.output))
        check(client.process.poll() is None, "the client stays open while it shows the error")
        status = client.terminate()  # a second request ends it
        check(status == 1, "asked twice, the client ends with status 1", status)
        check(read_text(registry) == before_registry, "the registry is unchanged")
        after_files = {f: read_text(os.path.join(moved, f)) for f in tree(moved)[0]}
        check(after_files == before_files, "the program folder is unchanged")
    finally:
        client.stop()


def run_test(args, folder):
    # A port that refuses connections: bound, never listening.
    with socket.socket() as refuser:
        refuser.bind(("127.0.0.1", 0))
        build = os.path.realpath(args.build)
        prefix = os.path.join(folder, "prefix")
        install(build, prefix)
        check_tree(prefix, prefix, args.source)
        check_relocatable(prefix, build)

        destdir = os.path.join(folder, "dest")
        staged_prefix = os.path.join(folder, "not-there", "opt")
        install(build, staged_prefix, destdir)
        check_tree(destdir + staged_prefix, staged_prefix, args.source)
        check(not os.path.exists(staged_prefix), "a DESTDIR install writes nothing under the prefix itself")

        run_installed(folder, prefix, refuser.getsockname()[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the configured and built build folder")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--cmake", default="cmake", help="the cmake program")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    global Cmake
    Cmake = args.cmake
    for tool in (Cmake, "readelf", "ldd"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is not installed")
            return 1
    return run_in_temp_folder(lambda folder, _: run_test(args, folder), "vexor-install-", alarm=200,
                              keep=args.keep)


if __name__ == "__main__":
    sys.exit(main())
