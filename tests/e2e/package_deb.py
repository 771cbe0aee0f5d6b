#!/usr/bin/env python3
"""The Debian package: built with scripts/package, unpacked with dpkg-deb -x
into a temporary root (nothing is installed on the machine), and its launcher
run from there under Xvfb with a temporary home.

    package_deb.py --source DIR --build DIR --server FILE [--keep]

Checks: the control fields and the files of the package, the menu and
autostart entries and the AppStream metadata; the first start makes the
user's program folder from the packaged one, registers the sample modules
there, syncs with vexor-server and leaves its settings there; after a
simulated upgrade (a newer executable and English file) the next start brings
those up to date and keeps the settings, the synced language list and the
banners byte for byte.

Exit status 0 passed, 1 failed, 77 skipped (no Xvfb).
"""

import argparse
import filecmp
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client_e2e import Processes, describe, log_requests, read_lineup, start_xvfb  # noqa: E402
from install_tree import (Client, Failure, ProgramFiles, ProgramFolders, check, desktop_entry,  # noqa: E402
                          png_size, read_text, settings, tree, wait_for)

Icons = {f"usr/share/icons/hicolor/{size}x{size}/apps/vexor.png": size for size in (48, 64, 128)}
PackageFiles = {os.path.join("usr/lib/vexor", f) for f in ProgramFiles} | set(Icons) | {
    "usr/bin/vexor", "usr/bin/vexor-reg", "usr/share/applications/vexor.desktop",
    "etc/xdg/autostart/vexor.desktop", "usr/share/icons/hicolor/scalable/apps/vexor.svg",
    "usr/share/metainfo/example.vexor.Vexor.metainfo.xml", "usr/share/man/man1/vexor.1.gz",
    "usr/share/man/man1/vexor-reg.1.gz", "usr/share/doc/vexor/copyright",
    "usr/share/doc/vexor/changelog.Debian.gz"}


def build_package(source, build):
    result = subprocess.run([os.path.join(source, "scripts/package"), "--build-dir", build],
                            capture_output=True, text=True, timeout=1200)
    print(result.stdout[-2000:])
    check(result.returncode == 0, "scripts/package builds the package and lintian finds no error",
          result.stdout[-3000:] + result.stderr[-3000:])
    debs = glob.glob(os.path.join(build, "vexor_*.deb"))
    check(len(debs) == 1, "one package", debs)
    return debs[0]


def check_package(deb, root):
    def field(name):
        return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True,
                              check=True, timeout=60).stdout.strip()
    check(os.path.basename(deb) == "vexor_1.3-1_amd64.deb" and field("Version") == "1.3-1",
          "the package is vexor 1.3-1 for amd64", deb)
    depends = field("Depends")
    check("libqt6widgets6" in depends and "libc6" in depends and "xdg-utils" in depends,
          "Depends names the libraries of the binaries and xdg-utils", depends)
    conffiles = subprocess.run(["dpkg-deb", "-I", deb, "conffiles"], capture_output=True, text=True, timeout=60)
    check(conffiles.stdout.split() == ["/etc/xdg/autostart/vexor.desktop"], "the autostart entry is a conffile",
          conffiles.stdout + conffiles.stderr)

    subprocess.run(["dpkg-deb", "-x", deb, root], check=True, timeout=60)
    files, folders = tree(root)
    check(files == PackageFiles, "the package holds exactly the program, launcher, tool, entries, icons and docs",
          f"missing {sorted(PackageFiles - files)}, unexpected {sorted(files - PackageFiles)}")
    for folder in ProgramFolders:
        check(os.path.join("usr/lib/vexor", folder) in folders, f"the program folder has {folder}/")
    for path, size in Icons.items():
        check(png_size(os.path.join(root, path)) == (size, size), f"{path} is a {size} x {size} PNG")

    for path in ("usr/share/applications/vexor.desktop", "etc/xdg/autostart/vexor.desktop"):
        entry = desktop_entry(os.path.join(root, path))
        check(entry.get("Type") == "Application" and entry.get("Exec") == "/usr/bin/vexor"
              and entry.get("Icon") == "vexor" and "Hidden" not in entry, f"{path} starts /usr/bin/vexor", entry)
    metainfo = os.path.join(root, "usr/share/metainfo/example.vexor.Vexor.metainfo.xml")
    validation = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo],
                                capture_output=True, text=True, timeout=60)
    check(validation.returncode == 0, "appstreamcli validates the metadata", validation.stdout)
    launchable = ElementTree.parse(metainfo).getroot().findtext("launchable")
    check(os.path.isfile(os.path.join(root, "usr/share/applications", launchable or "-")),
          "the metadata names the package's desktop entry", launchable)


def registry_value(client, root, key, value):
    result = subprocess.run([os.path.join(root, "usr/bin/vexor-reg"), "query", "HKCU\\Software\\Vexor\\" + key,
                             "--value", value, "--raw"], env=client.env, capture_output=True, text=True, timeout=30)
    return result.stdout.strip()


def first_start(client, root, server_log, lineup):
    program = os.path.join(client.env["HOME"], ".local/share/vexor")
    # A user who switched Clock off before: that stays.
    subprocess.run([os.path.join(root, "usr/bin/vexor-reg"), "add", "HKCU\\Software\\Vexor\\Clock",
                    "--value", "ACTIVE", "--data", "N"], env=client.env, check=True, timeout=30)
    expected = ["LANGL", "VERSION", "MODL", "LCOUNT"] + [
        f"{action}/{banner}" for banner in lineup if banner != "000000" for action in ("LOGO", "HTML")]
    client.start(os.path.join(root, "usr/bin/vexor"))
    exe = os.readlink(f"/proc/{client.process.pid}/exe")
    check(exe == os.path.join(program, "vexor"), "the launcher runs the user's copy of the client", exe)
    wait_for("the first sync cycle", lambda: client.locked() and describe(log_requests(server_log)).split() == expected)
    banners = [f"advs/{slot}.htm" for slot, banner in enumerate(lineup) if banner != "000000"] + [
        f"advs/{banner}.gif" for banner in lineup if banner != "000000"]
    wait_for("the banners in the user's folder", lambda: ProgramFiles | set(banners) <= tree(program)[0])
    registered = registry_value(client, root, "Notes", "ModulePath")
    check(registered == program + "/modules/Notes/", "Notes is registered in the user's folder", registered)
    check(registry_value(client, root, "Clock", "ACTIVE") == "N", "the user's own Clock entry stays")
    check(client.terminate() == 0, "the client closes with 0 on SIGTERM", read_text(client.output))
    values = settings(program)
    check(values.get("StartUps") == "0" and values.get("Banners") == "".join(lineup),
          "settings.ini in the user's folder: a completed sync and its line-up", values)
    return program


def upgraded_start(client, root, program):
    shipped = os.path.join(root, "usr/lib/vexor")
    kept = {}
    for name in ("settings.ini", "Languages/lang.ini", "modules/modl.ini", "advs/0.htm"):
        with open(os.path.join(program, name), "rb") as f:
            kept[name] = f.read()
    check(kept["Languages/lang.ini"] != open(os.path.join(shipped, "Languages/lang.ini"), "rb").read(),
          "the sync replaced the shipped language list")
    # The upgrade: a newer executable (trailing bytes do not matter to it), a
    # newer English file and language list.
    for name, extra in (("vexor", b"\0" * 64), ("Languages/english.lng", b"; newer\r\n"),
                        ("Languages/lang.ini", b"; newer\r\n")):
        with open(os.path.join(shipped, name), "ab") as f:
            f.write(extra)
    client.start(os.path.join(root, "usr/bin/vexor"))
    for name in ("vexor", "Languages/english.lng"):
        check(filecmp.cmp(os.path.join(program, name), os.path.join(shipped, name), shallow=False),
              f"the upgrade brought {name} up to date")
    for name, data in kept.items():
        with open(os.path.join(program, name), "rb") as f:
            check(f.read() == data, f"the upgrade kept {name} byte for byte")
    check(client.terminate() == 0, "the upgraded client closes with 0", read_text(client.output))


def run_test(args, folder, processes):
    root = os.path.join(folder, "root")
    check_package(build_package(args.source, args.build), root)

    port_file, server_log = os.path.join(folder, "port"), os.path.join(folder, "server.log")
    server = processes.start([args.server, "--port", "0", "--port-file", port_file, "--log", server_log],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port = int(wait_for("vexor-server's port file", lambda: read_text(port_file).strip()))
    lineup, _ = read_lineup(os.path.join(os.path.dirname(args.server), "content", "lineups", "1.txt"))
    client = Client(os.path.join(folder, "home"), port)
    for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME"):
        client.env.pop(name, None)  # the defaults below HOME
    client.env.update(DISPLAY=start_xvfb(processes), QT_QPA_PLATFORM="xcb")
    try:
        program = first_start(client, root, server_log, lineup)
        processes.stop(server)  # the second start reaches no server and changes nothing
        upgraded_start(client, root, program)
    finally:
        client.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--build", required=True, help="the folder for the package's build")
    parser.add_argument("--server", required=True, help="the vexor-server binary")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed (Debian package xvfb)")
        return 77

    def terminate(signum, _frame):
        raise Failure(f"stopped by signal {signum}")

    signal.signal(signal.SIGTERM, terminate)
    folder = tempfile.mkdtemp(prefix="vexor-package-")
    processes = Processes()
    status = 1
    try:
        run_test(args, folder, processes)
        print("PASS")
        status = 0
    except (Failure, OSError, subprocess.SubprocessError) as failure:
        print("FAIL:", failure)
    finally:
        processes.close()
        if args.keep:
            print("kept:", folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
