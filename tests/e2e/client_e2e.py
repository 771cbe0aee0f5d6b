#!/usr/bin/env python3
"""The client as a user runs it: a real X server (Xvfb), vexor-server on
loopback, a copy of the program folder with its own registry, runtime folder
and home.

    client_e2e.py --stage DIR --server FILE [--keep]

First run: the client syncs (the server's log shows the whole first cycle),
shows a banner page, opens the module marked "Default"; a second copy started
meanwhile exits at once with status 0 and creates no window; SIGTERM makes the
client write settings.ini with the new line-up. Second run: the client reports
one start and no installation, and fetches no banner again.

Exit status 0 passed, 1 failed, 77 skipped (no Xvfb).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from harness import (Deadline, Failure, check, exit_text, read_text, run_in_temp_folder, start_server,
                     wait_for)

TotalDeadline = 240  # seconds for the whole test, below ctest's time-out
EmptyBanner = "000000"
BannerSize = (124, 94)


# ---------------------------------------------------------------- the server


def read_lineup(path):
    """Ten banner ids and the interval of a line-up file ('#' comments)."""
    values = []
    for line in read_text(path).splitlines():
        values += line.split("#", 1)[0].split()
    if len(values) != 11:
        raise Failure(f"{path}: expected ten ids and an interval, found {values}")
    return values[:10], int(values[10])


def log_requests(log_file):
    """The query-script requests of the server's log, each a dict of its
    query pairs ('A' is the action), in log order."""
    requests = []
    for line in read_text(log_file).splitlines():
        fields = line.split(" ")[2:]
        if fields and fields[0] in ("GET", "HEAD"):
            continue  # a web page, not the query script
        pairs = {}
        for field in fields:
            key, _, value = field.partition("=")
            pairs.setdefault(key, value)
        if "A" in pairs:
            requests.append(pairs)
    return requests


def describe(requests):
    return " ".join(r["A"] + ("/" + r["LOGOID"] if "LOGOID" in r else "") for r in requests)


# --------------------------------------------------------------------- X


def start_xvfb(processes):
    read_end, write_end = os.pipe()
    xvfb = processes.start(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    end = time.monotonic() + Deadline
    while not number.endswith(b"\n"):
        if time.monotonic() > end or xvfb.poll() is not None:
            raise Failure("Xvfb did not report its display number")
        chunk = os.read(read_end, 16)
        if not chunk:
            raise Failure("Xvfb closed the display pipe without a number")
        number += chunk
    os.close(read_end)
    return ":" + number.decode().strip()


def x_tool(display, args):
    env = dict(os.environ, DISPLAY=display)
    result = subprocess.run(args, env=env, capture_output=True, timeout=Deadline)
    if result.returncode != 0:
        raise Failure(f"{' '.join(args)} failed: {result.stderr.decode(errors='replace').strip()}")
    return result.stdout


TreeLine = re.compile(r'^\s*(0x[0-9a-f]+) "(.*)":.*?(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)\s*$')


def named_windows(display, name):
    """Viewable windows called `name`: (id, width, height, x, y) with x and y
    absolute."""
    found = []
    tree = x_tool(display, ["xwininfo", "-root", "-tree"]).decode(errors="replace")
    for line in tree.splitlines():
        match = TreeLine.match(line)
        if not match or match.group(2) != name:
            continue
        wid = match.group(1)
        info = x_tool(display, ["xwininfo", "-id", wid]).decode(errors="replace")
        if "IsViewable" not in info:
            continue
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        found.append((wid, int(match.group(3)), int(match.group(4)), x, y))
    return found


def grab_rgb(display, x, y, width, height):
    """Raw 8-bit RGB pixels of a screen rectangle."""
    return x_tool(display, ["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                            "+repage", "-depth", "8", "rgb:-"])


def banner_frames(images):
    """Every frame of the GIF images as raw RGB of the banner's size: a dict
    from pixels to (file, frame)."""
    frames = {}
    size = BannerSize[0] * BannerSize[1] * 3
    for image in images:
        result = subprocess.run(["convert", image, "-coalesce", "-depth", "8", "rgb:-"],
                                capture_output=True, timeout=Deadline)
        if result.returncode != 0 or not result.stdout or len(result.stdout) % size:
            raise Failure(f"convert could not read {image} as {BannerSize[0]} x {BannerSize[1]} frames")
        for index in range(len(result.stdout) // size):
            frames[result.stdout[index * size:(index + 1) * size]] = (os.path.basename(image), index)
    return frames


def colours(pixels):
    return {pixels[i:i + 3] for i in range(0, len(pixels) - 2, 3)}


class WindowCreations:
    """Watches the root window for new top-level windows (xev), so that a
    window that comes and goes between two looks is still seen."""

    def __init__(self, processes, display, folder):
        self.display = display
        self.log = os.path.join(folder, "xev-root.log")
        self.processes = processes
        self.marks = 0
        env = dict(os.environ, DISPLAY=display)
        with open(self.log, "wb") as out:
            self.xev = processes.start(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"],
                                       env=env, stdout=out, stderr=subprocess.DEVNULL)

    def creations(self):
        return [line for line in read_text(self.log).splitlines() if line.startswith("CreateNotify")]

    def barrier(self):
        """Creates a window of its own and waits until the watcher reports
        it: every window created before has been reported by then. Returns
        the number of creations seen before the marker."""
        before = len(self.creations())
        self.marks += 1
        env = dict(os.environ, DISPLAY=self.display)
        marker = self.processes.start(["xev", "-name", f"e2e-mark-{self.marks}", "-geometry", "10x10+0+0"],
                                      env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for("the watcher to report the marker window",
                     lambda: len(self.creations()) > before)
        finally:
            self.processes.stop(marker)
        return len(self.creations()) - 1


# ------------------------------------------------------------------ client


def settings_values(path):
    values = {}
    section = None
    for line in read_text(path).splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].lower()
        elif section == "settings" and "=" in line:
            key, _, value = line.partition("=")
            values.setdefault(key, value)
    return values


def prepare_program_folder(stage, app):
    """A copy of the staged program folder without anything a run leaves
    there (settings, banners, synced lists, notes, downloaded languages)."""
    shutil.copytree(stage, app, symlinks=False)
    for name in ("settings.ini", "notes.txt", "modules/modl.ini", "modules/modl.inibak",
                 "Languages/lang.inibak"):
        path = os.path.join(app, name)
        if os.path.exists(path):
            os.remove(path)
    advs = os.path.join(app, "advs")
    for name in os.listdir(advs):
        os.remove(os.path.join(advs, name))
    for module in ("Notes", "Clock"):
        library = os.path.join(app, "modules", module, module + ".mdl")
        if not os.path.isfile(library):
            raise Failure(f"sample module missing from the staged folder: {library}")


def client_folders(stage, folder):
    """A fresh program folder (app) in `folder`, and the user's home, config
    and runtime folders (0700) with the registry file's path: the paths
    (app, home, config, runtime, registry)."""
    app = os.path.join(folder, "app")
    prepare_program_folder(stage, app)
    home, config, runtime = (os.path.join(folder, name) for name in ("home", "config", "runtime"))
    for path in (home, config, runtime):
        os.makedirs(path, mode=0o700)
    return app, home, config, runtime, os.path.join(config, "vexor", "registry.reg")


def register(app, registry, module, default):
    tool = os.path.join(app, "vexor-reg")
    key = "HKCU\\Software\\Vexor\\" + module
    for value, data in (("ModulePath", os.path.join(app, "modules", module) + "/"),
                        ("ACTIVE", "Y"), ("Default", default)):
        subprocess.run([tool, "--file", registry, "add", key, "--value", value, "--data", data],
                       check=True, timeout=Deadline)


def run_test(args, folder, processes):
    server_dir = os.path.dirname(os.path.abspath(args.server))
    lineup_ids, lineup_interval = read_lineup(os.path.join(server_dir, "content", "lineups", "1.txt"))

    app, home, config, runtime, registry = client_folders(args.stage, folder)
    register(app, registry, "Notes", "Y")
    register(app, registry, "Clock", "N")

    _, port, server_log = start_server(processes, args.server, folder)
    display = start_xvfb(processes)
    watcher = WindowCreations(processes, display, folder)

    env = {key: value for key, value in os.environ.items() if not key.startswith("QT_")}
    env.update(DISPLAY=display, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               VEXOR_SERVER_HOST=f"127.0.0.1:{port}", VEXOR_WEB_HOST=f"127.0.0.1:{port}",
               VEXOR_OPEN_URL_LOG=os.path.join(folder, "opened-urls.log"), QT_QPA_PLATFORM="xcb")
    vexor = os.path.join(app, "vexor")

    def start_client(run):
        out = open(os.path.join(folder, f"client-{run}.out"), "wb")
        client = processes.start([vexor], env=env, cwd=home, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        return client

    def alive(client, what):
        if client.poll() is not None:
            raise Failure(f"the client ended with status {client.returncode} while waiting for {what}")

    # ---- first run
    client = start_client(1)
    expected = ["LANGL", "VERSION", "MODL", "LCOUNT"]
    new_banners = []
    for slot, banner in enumerate(lineup_ids):
        if banner != EmptyBanner:
            new_banners.append((slot, banner))
            expected += [f"LOGO/{banner}", f"HTML/{banner}"]

    def first_cycle():
        alive(client, "the first sync cycle")
        return describe(log_requests(server_log)).split() == expected

    wait_for(f"the first sync cycle in the server's log: {' '.join(expected)}", first_cycle)
    requests = log_requests(server_log)
    langl = requests[0]
    check(langl.get("STARTUP") == "1" and langl.get("INSTALL") == "True",
          "the first LANGL reports STARTUP=1 and INSTALL=True", langl)
    lcount = requests[3]
    check(lcount.get("LOGOIDS") == EmptyBanner * 10 and lcount.get("LOG") == "0" * 60,
          "the first LCOUNT reports ten empty slots and no displays", lcount)

    first_page = os.path.join(app, "advs", f"{new_banners[0][0]}.htm")
    wait_for(f"the banner page {first_page}", lambda: alive(client, "advs/0.htm") or os.path.isfile(first_page))
    for slot, banner in new_banners:
        served = os.path.join(server_dir, "content", "banners", banner)
        wait_for(f"advs/{slot}.htm and advs/{banner}.gif as served",
                 lambda: read_text(os.path.join(app, "advs", f"{slot}.htm")) == read_text(served + ".htm")
                 and os.path.isfile(os.path.join(app, "advs", f"{banner}.gif")))

    main = wait_for("the main window \"Vexor\" on the screen",
                    lambda: alive(client, "the main window") or named_windows(display, "Vexor"))
    check(len(main) == 1, "one main window", main)
    wid, width, height, x, y = main[0]
    check(height == 123 and width == 124 + 34, "the main window is 158 x 123 with two modules", main[0])

    # Until the first tick after the sync the pane shows its placeholder; then
    # it shows the banner pages, each of which shows its image unscaled at
    # the top left corner.
    frames = banner_frames([os.path.join(server_dir, "content", "banners", banner + ".gif")
                            for _, banner in new_banners])

    def banner_drawn():
        pixels = grab_rgb(display, x, y, *BannerSize)
        if len(pixels) != BannerSize[0] * BannerSize[1] * 3:
            raise Failure(f"import gave {len(pixels)} bytes for the banner area")
        return frames.get(pixels)

    shown = wait_for("the banner pane to show one of the line-up's images pixel for pixel", banner_drawn)
    print(f"ok: the banner pane shows {shown[0]} (frame {shown[1]}) pixel for pixel")
    check(len(colours(grab_rgb(display, x, y, *BannerSize))) > 1, "the banner area is not blank")
    wait_for("the window \"Notes\" of the module marked Default",
             lambda: alive(client, "the Notes window") or named_windows(display, "Notes"))
    check(not named_windows(display, "Clock"), "the Clock module (not Default) stays closed")

    # A second copy while the first runs: silent exit, status 0, no window.
    seen = watcher.barrier()
    second = subprocess.run([vexor], env=env, cwd=home, capture_output=True, timeout=Deadline)
    check(second.returncode == 0 and not second.stdout and not second.stderr,
          "a second copy exits at once with status 0 and says nothing",
          f"status {second.returncode}: {second.stdout + second.stderr}")
    check(watcher.barrier() == seen + 1, "the second copy creates no window",
          " | ".join(watcher.creations()[seen + 1:]))
    check(len(named_windows(display, "Vexor")) == 1, "the first copy's window is still the only one")

    check(processes.stop(client, signal.SIGTERM, timeout=Deadline) == 0, "the client closes with status 0 on SIGTERM",
          exit_text(client))
    settings = settings_values(os.path.join(app, "settings.ini"))
    check(settings.get("Banners") == "".join(lineup_ids), "settings.ini holds line-up 1", settings)
    check(settings.get("Rotation") == str(lineup_interval), "settings.ini holds the server's interval", settings)
    check(settings.get("StartUps") == "0" and settings.get("Install") == "0",
          "settings.ini holds StartUps 0 and Install 0 after a completed sync", settings)

    # ---- second run
    count = len(log_requests(server_log))
    client = start_client(2)

    def second_cycle():
        alive(client, "the second sync cycle")
        return [r["A"] for r in log_requests(server_log)[count:]] == ["LANGL", "VERSION", "MODL", "LCOUNT"]

    wait_for("the second cycle's LANGL, VERSION, MODL and LCOUNT", second_cycle)
    later = log_requests(server_log)[count:]
    check(later[0].get("STARTUP") == "1" and "INSTALL" not in later[0],
          "the second run's LANGL reports STARTUP=1 and no INSTALL", later[0])
    check(later[3].get("LOGOIDS") == "".join(lineup_ids), "the second run's LCOUNT reports line-up 1", later[3])
    wait_for("the main window of the second run",
             lambda: alive(client, "the main window") or named_windows(display, "Vexor"))
    check(processes.stop(client, signal.SIGTERM, timeout=Deadline) == 0, "the second run closes with status 0",
          exit_text(client))
    extra = log_requests(server_log)[count + 4:]
    check(not extra, "the unchanged line-up fetches no banner again", describe(extra))


def show_files(folder):
    for name in ("server.log", "server.out", "client-1.out", "client-2.out", "app/settings.ini"):
        text = read_text(os.path.join(folder, name))
        if text:
            print(f"---- {name} (last lines)")
            print("\n".join(text.splitlines()[-25:]))


def client_arguments(doc):
    """--stage, --server and --keep, the arguments of the client's tests."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--stage", required=True, help="the staged program folder (build/stage)")
    parser.add_argument("--server", required=True, help="the vexor-server binary")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return parser.parse_args()


def main():
    args = client_arguments(__doc__)

    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed (Debian package xvfb); the end-to-end test needs an X server")
        return 77
    for tool in ("xwininfo", "xev", "import", "convert", "stdbuf"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is not installed (scripts/install-deps installs it)")
            return 1

    return run_in_temp_folder(lambda folder, processes: run_test(args, folder, processes), "vexor-e2e-",
                              alarm=TotalDeadline, keep=args.keep, on_failure=show_files)


if __name__ == "__main__":
    sys.exit(main())
