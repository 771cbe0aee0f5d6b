#!/usr/bin/env python3
"""The Debian package, built with scripts/package, unpacked with dpkg-deb -x
into a temporary root (never installed) and started there under Xvfb with a
temporary home: control fields, files, entries and metadata; the first start
makes the user's program folder (data only), registers the sample modules and
syncs; after a simulated upgrade from 1.3-1 the next start removes its copies,
updates the shipped language files and keeps what the client wrote.

    package_deb.py --source DIR --build DIR --server FILE

Exit status 0 passed, 1 failed, 77 skipped (no Xvfb).
"""

import argparse
import filecmp
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

from client_e2e import describe, log_requests, read_lineup, start_xvfb
from harness import check, read_text, run_in_temp_folder, start_server, wait_for
from install_tree import Client, ProgramFiles, ProgramFolders, desktop_entry, png_size, settings, tree

Icons = {f"usr/share/icons/hicolor/{size}x{size}/apps/vexor.png": size for size in (48, 64, 128)}
PackageFiles = {os.path.join("usr/lib/vexor", f) for f in ProgramFiles} | set(Icons) | {
    "usr/bin/vexor", "usr/bin/vexor-reg", "usr/share/applications/vexor.desktop",
    "etc/xdg/autostart/vexor.desktop", "usr/share/icons/hicolor/scalable/apps/vexor.svg",
    "usr/share/metainfo/example.vexor.Vexor.metainfo.xml", "usr/share/man/man1/vexor.1.gz",
    "usr/share/man/man1/vexor-reg.1.gz", "usr/share/doc/vexor/copyright",
    "usr/share/doc/vexor/changelog.Debian.gz"}


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=kwargs.pop("timeout", 60), **kwargs)


def check_package(args, root):
    built = run([os.path.join(args.source, "scripts/package"), "--build-dir", args.build], timeout=1200)
    print(built.stdout[-2000:])
    check(built.returncode == 0, "scripts/package builds the package and lintian finds no error",
          built.stdout[-3000:] + built.stderr[-3000:])
    # The version and revision of the changelog's first entry.
    version = read_text(os.path.join(args.source, "data/package/changelog.Debian")).split("(", 1)[1].split(")")[0]
    deb = os.path.join(args.build, f"vexor_{version}_amd64.deb")
    check(glob.glob(os.path.join(args.build, "*.deb")) == [deb], f"the package is vexor_{version}_amd64.deb")
    depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
    check(all(name in depends for name in ("libqt6widgets6", "libc6", "xdg-utils", "ca-certificates")),
          "Depends names the libraries of the binaries, xdg-utils and the trust store", depends)
    conffiles = run(["dpkg-deb", "-I", deb, "conffiles"]).stdout
    check(conffiles.split() == ["/etc/xdg/autostart/vexor.desktop"], "the autostart entry is a conffile", conffiles)

    run(["dpkg-deb", "-x", deb, root], check=True)
    files, folders = tree(root)
    check(files == PackageFiles, "the package holds exactly the program, launcher, tool, entries, icons and docs",
          f"missing {sorted(PackageFiles - files)}, unexpected {sorted(files - PackageFiles)}")
    check({os.path.join("usr/lib/vexor", f) for f in ProgramFolders} <= folders, "the program folder's folders")
    for path, size in Icons.items():
        check(png_size(os.path.join(root, path)) == (size, size), f"{path} is a {size} x {size} PNG")
    for path in ("usr/share/applications/vexor.desktop", "etc/xdg/autostart/vexor.desktop"):
        entry = desktop_entry(os.path.join(root, path))
        check(entry.get("Type") == "Application" and entry.get("Exec") == "/usr/bin/vexor"
              and entry.get("Icon") == "vexor" and "Hidden" not in entry, f"{path} starts /usr/bin/vexor", entry)
    metainfo = os.path.join(root, "usr/share/metainfo/example.vexor.Vexor.metainfo.xml")
    validation = run(["appstreamcli", "validate", "--no-net", metainfo])
    check(validation.returncode == 0, "appstreamcli validates the metadata", validation.stdout)
    launchable = ElementTree.parse(metainfo).getroot().findtext("launchable") or "-"
    check(os.path.isfile(os.path.join(root, "usr/share/applications", launchable)),
          "the metadata names the package's desktop entry", launchable)


def registry(client, root, *args):
    return run([os.path.join(root, "usr/bin/vexor-reg"), *args], env=client.env).stdout.strip()


def first_start(client, root, server_log, lineup):
    program = os.path.join(client.env["HOME"], ".local/share/vexor")
    registry(client, root, "add", "HKCU\\Software\\Vexor\\Clock", "--value", "ACTIVE", "--data", "N")
    banners = [banner for banner in lineup if banner != "000000"]
    expected = ["LANGL", "VERSION", "MODL", "LCOUNT"] + [f"{a}/{b}" for b in banners for a in ("LOGO", "HTML")]
    client.start(os.path.join(root, "usr/bin/vexor"))
    exe = os.readlink(f"/proc/{client.process.pid}/exe")
    check(exe == os.path.join(root, "usr/lib/vexor/vexor"), "the launcher runs the packaged client", exe)
    wait_for("the first sync cycle", lambda: client.locked() and describe(log_requests(server_log)).split() == expected)
    files = {f"advs/{slot}.htm" for slot, b in enumerate(lineup) if b != "000000"} | {f"advs/{b}.gif" for b in banners}
    wait_for("the banners in the user's folder", lambda: {"Languages/lang.ini"} | files <= tree(program)[0])
    check(os.stat(program).st_mode & 0o777 == 0o700, "the user's folder is private")
    check(not {f for f in tree(program)[0] if f == "vexor" or f.endswith(".mdl")}, "no code in the user's folder")
    notes = registry(client, root, "query", "HKCU\\Software\\Vexor\\Notes", "--value", "ModulePath", "--raw")
    check(notes == os.path.join(root, "usr/lib/vexor/modules/Notes/"), "Notes is registered where it lies", notes)
    check(registry(client, root, "query", "HKCU\\Software\\Vexor\\Clock", "--value", "ACTIVE", "--raw") == "N",
          "the user's own Clock entry stays")
    check(client.terminate() == 0, "the client closes with 0 on SIGTERM", read_text(client.output))
    values = settings(program)
    check(values.get("StartUps") == "0" and values.get("Banners") == "".join(lineup),
          "settings.ini in the user's folder: a completed sync and its line-up", values)
    return program


def upgraded_start(client, root, program):
    shipped = os.path.join(root, "usr/lib/vexor")
    # As 1.3-1 left it: copies of the program and of Notes, listed in its manifest, Notes registered there.
    copies = ["vexor", "modules/Notes/Notes.mdl", "modules/Notes/icon.bmp"]
    with open(os.path.join(program, ".shipped.sha256"), "a") as manifest:
        for name in copies:
            os.makedirs(os.path.dirname(os.path.join(program, name)), exist_ok=True)
            shutil.copy(os.path.join(shipped, name), os.path.join(program, name))
            manifest.write(f"{hashlib.sha256(Path(shipped, name).read_bytes()).hexdigest()}  ./{name}\n")
    registry(client, root, "add", "HKCU\\Software\\Vexor\\Notes", "--value", "ModulePath", "--data",
             program + "/modules/Notes/")
    kept = {}
    for name in ("settings.ini", "Languages/lang.ini", "modules/modl.ini", "advs/0.htm"):
        with open(os.path.join(program, name), "rb") as f:
            kept[name] = f.read()
    check(not filecmp.cmp(os.path.join(program, "Languages/lang.ini"), os.path.join(shipped, "Languages/lang.ini"),
                          shallow=False), "the sync replaced the shipped language list")
    # A newer English file and language list.
    for name, extra in (("Languages/english.lng", b"; newer\r\n"), ("Languages/lang.ini", b"; newer\r\n")):
        with open(os.path.join(shipped, name), "ab") as f:
            f.write(extra)
    client.start(os.path.join(root, "usr/bin/vexor"))
    for name in ("Languages/english.lng",):
        check(filecmp.cmp(os.path.join(program, name), os.path.join(shipped, name), shallow=False),
              f"the upgrade brought {name} up to date")
    notes = registry(client, root, "query", "HKCU\\Software\\Vexor\\Notes", "--value", "ModulePath", "--raw")
    check(notes == os.path.join(shipped, "modules/Notes/"), "the entry of the copied Notes moved to the package", notes)
    left = [name for name in copies + ["modules/Notes"] if os.path.exists(os.path.join(program, name))]
    check(not left, "the copies of 1.3-1 are gone", left)
    for name, data in kept.items():
        with open(os.path.join(program, name), "rb") as f:
            check(f.read() == data, f"the upgrade kept {name} byte for byte")
    check(client.terminate() == 0, "the upgraded client closes with 0", read_text(client.output))


def run_test(args, folder, processes):
    client = Client(os.path.join(folder, "home"), 0)
    try:
        check_package(args, os.path.join(folder, "root"))
        server, port, server_log = start_server(processes, args.server, folder)
        for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME"):
            client.env.pop(name, None)  # the defaults below HOME
        client.env.update(DISPLAY=start_xvfb(processes), QT_QPA_PLATFORM="xcb",
                          VEXOR_SERVER_HOST=f"127.0.0.1:{port}", VEXOR_WEB_HOST=f"127.0.0.1:{port}")
        lineup, _ = read_lineup(os.path.join(os.path.dirname(args.server), "content", "lineups", "1.txt"))
        program = first_start(client, os.path.join(folder, "root"), server_log, lineup)
        processes.stop(server)  # the upgraded start reaches no server and changes nothing
        upgraded_start(client, os.path.join(folder, "root"), program)
    finally:
        client.stop()



def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--source", "--build", "--server"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed (Debian package xvfb)")
        return 77
    return run_in_temp_folder(lambda folder, processes: run_test(args, folder, processes), "vexor-package-")


if __name__ == "__main__":
    sys.exit(main())
