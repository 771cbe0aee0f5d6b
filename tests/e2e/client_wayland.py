#!/usr/bin/env python3
"""The client as a Wayland client: weston's headless backend on a socket of
its own in a private runtime folder, vexor-server on loopback, a copy of the
program folder with its own registry and home.

    client_wayland.py --stage DIR --server FILE [--keep]

The client starts and syncs, its main window and the window of the module
marked "Default" appear in weston's scene graph (weston-debug); pressed
through the accessibility interface (AT-SPI on a private session bus, as a
screen reader would: the headless backend has no input devices), Button1
opens the menu and the Clock button opens and closes its module's window; a
second copy exits at once with status 0, and SIGTERM makes the client write
settings.ini with CR LF line ends, keeping the stored position: Wayland
reports none.

Exit status 0 passed, 1 failed, 77 skipped (weston, Qt's Wayland plugin,
dbus-daemon, gdbus or at-spi2-core missing).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys

from client_e2e import client_arguments, client_folders, log_requests, register, settings_values
from harness import (Deadline, Failure, check, exit_text, fail, read_text, run_in_temp_folder, start_server,
                     wait_for)

Socket = "vexor-e2e"


def scene_graph(env):
    result = subprocess.run(["weston-debug", "scene-graph"], env=env, capture_output=True, timeout=Deadline)
    return result.stdout.decode(errors="replace")


def toplevels(env, title):
    return scene_graph(env).count(f"top-level window '{title}'")


class Accessibility:
    """The client's accessible objects over AT-SPI: a private session bus, on
    which the client's Qt asks at-spi-bus-launcher for the accessibility bus."""

    def __init__(self, processes, runtime):
        read_end, write_end = os.pipe()
        processes.start(["dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                         f"--print-address={write_end}"], pass_fds=(write_end,),
                        env=dict(os.environ, XDG_RUNTIME_DIR=runtime), stdout=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            self.session = pipe.readline().decode().strip()
        if not self.session:
            raise Failure("dbus-daemon gave no address")
        self.bus = None

    def call(self, dest, path, method, *args, address=None):
        result = subprocess.run(["gdbus", "call", "--address", address or self.bus, "--dest", dest,
                                 "--object-path", path, "--method", method, *args],
                                capture_output=True, timeout=Deadline)
        return result.stdout.decode(errors="replace") if result.returncode == 0 else ""

    def children(self, dest, path):
        text = self.call(dest, path, "org.a11y.atspi.Accessible.GetChildren")
        return re.findall(r"\('([^']*)', (?:objectpath )?'(/[^']*)'\)", text)

    def find(self, name, roles=("push button", "toggle button", "check box")):
        """The button called `name` in any application: (bus name, path), or
        None. A module's window has its module's name too."""
        if not self.bus:
            answer = self.call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress", address=self.session)
            self.bus = re.sub(r"^\('(.*)',\)$", r"\1", answer.strip()) or None
            if not self.bus:
                return None
        pending = self.children("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
        while pending:
            dest, path = pending.pop(0)
            text = self.call(dest, path, "org.freedesktop.DBus.Properties.Get", "org.a11y.atspi.Accessible", "Name")
            if text.strip() == f"(<'{name}'>,)" and re.sub(r"^\('(.*)',\)$", r"\1", self.call(
                    dest, path, "org.a11y.atspi.Accessible.GetRoleName").strip()) in roles:
                return dest, path
            pending += self.children(dest, path)
        return None

    def press(self, name):
        found = wait_for(f"the button '{name}'", lambda: self.find(name))
        check(self.call(*found, "org.a11y.atspi.Action.DoAction", "0").strip() == "(true,)",
              f"'{name}' takes the press action")


def start_weston(processes, folder, runtime):
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("DISPLAY", None)
    with open(os.path.join(folder, "weston.log"), "wb") as out:
        weston = processes.start(["weston", "--backend=headless-backend.so", f"--socket={Socket}", "--debug",
                                  "--idle-time=0"], env=env, stdout=out, stderr=subprocess.STDOUT)
    wait_for("weston's socket", lambda: os.path.exists(os.path.join(runtime, Socket))
             or (weston.poll() is not None and fail(f"weston ended with {weston.returncode}")))
    return dict(env, WAYLAND_DISPLAY=Socket)


def run_test(args, folder, processes):
    app, home, config, runtime, registry = client_folders(args.stage, folder)
    register(app, registry, "Notes", "Y")
    register(app, registry, "Clock", "N")
    with open(os.path.join(app, "settings.ini"), "wb") as out:
        out.write(b"[Settings]\r\nLeft=37\r\nTop=41\r\n")

    _, port, server_log = start_server(processes, args.server, folder)
    wayland = start_weston(processes, folder, runtime)
    accessibility = Accessibility(processes, runtime)

    env = {key: value for key, value in wayland.items() if not key.startswith("QT_")}
    env.update(HOME=home, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="wayland",
               DBUS_SESSION_BUS_ADDRESS=accessibility.session, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               VEXOR_SERVER_HOST=f"127.0.0.1:{port}", VEXOR_WEB_HOST=f"127.0.0.1:{port}",
               VEXOR_OPEN_URL_LOG=os.path.join(folder, "opened-urls.log"))
    vexor = os.path.join(app, "vexor")
    with open(os.path.join(folder, "client.out"), "wb") as out:
        client = processes.start([vexor], env=env, cwd=home, stdout=out, stderr=subprocess.STDOUT)

    def alive(what):
        if client.poll() is not None:
            raise Failure(f"the client ended with status {client.returncode} while waiting for {what}")

    wait_for("the main window 'Vexor' in weston's scene graph",
             lambda: alive("the main window") or toplevels(wayland, "Vexor") == 1)
    print("ok: the main window is a Wayland top-level window")
    wait_for("the window 'Notes' of the module marked Default",
             lambda: alive("the Notes window") or toplevels(wayland, "Notes") == 1)
    print("ok: the module marked Default opened its window")
    wait_for("a whole sync cycle in the server's log",
             lambda: alive("the sync") or [r["A"] for r in log_requests(server_log)][:4]
             == ["LANGL", "VERSION", "MODL", "LCOUNT"])
    print("ok: the client synced over loopback")

    accessibility.press("Clock")
    wait_for("the Clock module's window", lambda: alive("the Clock window") or toplevels(wayland, "Clock") == 1)
    accessibility.press("Clock")
    wait_for("the Clock module's window to close", lambda: alive("the Clock window") or toplevels(wayland, "Clock") == 0)
    print("ok: the Clock button opens and closes its module's window")

    second = subprocess.run([vexor], env=env, cwd=home, capture_output=True, timeout=Deadline)
    check(second.returncode == 0 and not second.stdout and not second.stderr,
          "a second copy exits at once with status 0 and says nothing",
          f"status {second.returncode}: {second.stdout + second.stderr}")
    check(toplevels(wayland, "Vexor") == 1, "the first copy's window is still the only one")

    # Qt shows a popup that no pointer press opened as a surface of its own,
    # named like the application.
    accessibility.press("Preferences")
    wait_for("the menu", lambda: alive("the menu") or "role xdg_popup" in scene_graph(wayland)
             or toplevels(wayland, "Vexor") == 2)
    print("ok: Button1 opens the menu")

    check(processes.stop(client, signal.SIGTERM, timeout=Deadline) == 0,
          "the client closes with status 0 on SIGTERM", exit_text(client))
    wait_for("the client's windows to leave the scene graph",
             lambda: toplevels(wayland, "Vexor") == 0 and toplevels(wayland, "Notes") == 0)
    text = read_text(os.path.join(app, "settings.ini"))
    settings = settings_values(os.path.join(app, "settings.ini"))
    check(settings.get("StartUps") == "0" and settings.get("Install") == "0",
          "settings.ini holds StartUps 0 and Install 0 after a completed sync", settings)
    check(settings.get("Left") == "37" and settings.get("Top") == "41",
          "the stored position is kept: Wayland reports none", settings)
    check(text.count("\n") == text.count("\r\n"), "settings.ini ends its lines with CR LF", repr(text[:80]))


def main():
    args = client_arguments(__doc__)
    for tool, package in (("weston", "weston"), ("weston-debug", "weston"), ("dbus-daemon", "dbus-daemon"),
                          ("gdbus", "libglib2.0-bin")):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed (Debian package {package})")
            return 77
    if not glob.glob("/usr/libexec/at-spi-bus-launcher"):
        print("SKIP: at-spi-bus-launcher is not installed (Debian package at-spi2-core)")
        return 77
    if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
        print("SKIP: Qt's Wayland plugin is not installed (Debian package qt6-wayland)")
        return 77

    def show_files(folder):
        for name in ("weston.log", "client.out", "server.log", "app/settings.ini"):
            print(f"---- {name}\n" + "\n".join(read_text(os.path.join(folder, name)).splitlines()[-20:]))

    return run_in_temp_folder(lambda folder, processes: run_test(args, folder, processes), "vexor-wayland-",
                              alarm=150, keep=args.keep, on_failure=show_files)


if __name__ == "__main__":
    sys.exit(main())
