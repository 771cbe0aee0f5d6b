"""Crash safety: processes killed with SIGKILL while they write, and writes
that the file system refuses (a full disk, a read-only folder)."""

import os
import random
import re
import shutil
import signal
import subprocess
import time

from common import DEVNULL, Figures, WorkFolder, read_bytes, write_bytes, wait_until


def kill_after(proc, delay):
    time.sleep(delay)
    try:
        proc.send_signal(signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


# ---- settings.ini -----------------------------------------------------------

def settings_kills(cfg, kills):
    """settings_writer writes two states in turn through the client's
    WriteSettings; it is killed at a random moment of the loop."""
    fig = Figures("crash/settings")
    tool = cfg.tool("settings_writer")
    damaged = 0
    with WorkFolder("vexor-rel-settings-") as work:
        folder = work.sub("app")
        os.makedirs(folder)
        for i in range(kills):
            proc = subprocess.Popen([tool, "loop", folder], stdout=subprocess.PIPE, stderr=DEVNULL)
            proc.stdout.readline()  # "ready": one whole write is done
            kill_after(proc, random.uniform(0, 0.02))
            proc.stdout.close()
            result = subprocess.run([tool, "check", folder], stdout=subprocess.PIPE, stderr=DEVNULL)
            if result.returncode != 0:
                damaged += 1
                if damaged <= 3:
                    shutil.copy(os.path.join(folder, "settings.ini"), cfg.keep("settings-damaged-%d.ini" % damaged))
        leftovers = [n for n in os.listdir(folder) if n != "settings.ini"]
    fig.add("%d kills, %d damaged, %d inside a write (temporary file left behind)" % (kills, damaged, len(leftovers)))
    fig.check(damaged == 0, "%d damaged settings files" % damaged)
    return fig



def client_settings_kills(cfg, kills):
    """The staged client under Xvfb: a close request (SIGTERM) makes it write
    settings.ini, and SIGKILL follows after a random few milliseconds. The file
    must then be the old one or exactly what an uninterrupted close writes."""
    from common import ProgramFolder, client_env, start_client, stop_process
    fig = Figures("crash/client-settings")
    old = b"[Settings]\r\nAutoConnect=0\r\nStartUps=7\r\n"
    counts = {"old": 0, "new": 0, "damaged": 0, "no window": 0}
    with WorkFolder("vexor-rel-client-settings-") as work:
        program = ProgramFolder(work.path, cfg.stage_dir)
        path = os.path.join(program.app, "settings.ini")
        env = client_env(program, cfg.display, "127.0.0.1:1")

        def start():
            write_bytes(path, old)
            proc = start_client(program, env)
            up = cfg.ping(proc.pid, 100).get("answered", 0) > 0
            return proc, up

        references = set()
        for _ in range(2):
            proc, up = start()
            stop_process(proc, signal.SIGTERM, 15)
            references.add(read_bytes(path))
        fig.check(len(references) == 1 and old not in references,
                  "an uninterrupted close does not write one fixed file")
        new = references.pop() if len(references) == 1 else None
        for i in range(kills):
            proc, up = start()
            if not up:
                counts["no window"] += 1
            proc.send_signal(signal.SIGTERM)
            kill_after(proc, random.uniform(0, 0.006))
            now = read_bytes(path)
            key = "old" if now == old else "new" if now == new else "damaged"
            counts[key] += 1
            if key == "damaged" and counts["damaged"] <= 3:
                write_bytes(cfg.keep("client-settings-damaged-%d.ini" % counts["damaged"]), now or b"")
        leftovers = [n for n in os.listdir(program.app) if n.startswith(".settings.ini")]
    fig.add("%d kills after the close request (%d before the write, %d after), %d damaged, %d inside a write (temporary file left behind)"
            % (kills, counts["old"], counts["new"], counts["damaged"], len(leftovers)))
    fig.check(counts["damaged"] == 0, "%d damaged settings files" % counts["damaged"])
    fig.check(counts["no window"] == 0, "%d starts showed no window" % counts["no window"])
    return fig

# ---- registry.reg -----------------------------------------------------------

def parse_reg(data):
    """{key: {name: value}} of a REGEDIT4 file, or None when it does not
    parse as one."""
    if data is None:
        return None
    text = data.decode("utf-8", "replace").replace("\r\n", "\n")
    lines = text.split("\n")
    if not lines or lines[0] != "REGEDIT4":
        return None
    keys, current = {}, None
    for line in lines[1:]:
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"', line)
        if not m or current is None:
            return None
        current[m.group(1)] = m.group(2)
    return keys


def registry_kills(cfg, kills):
    """vexor-reg sets one of five values to a new text and is killed at a
    random moment of its run; the file must then be the old or the new file,
    byte for byte (the new one comes from the same command run on a copy)."""
    fig = Figures("crash/registry")
    reg = cfg.stage("vexor-reg")
    key = "HKCU\\Software\\Vexor\\KillTest"
    damaged = old = new = 0
    with WorkFolder("vexor-rel-registry-") as work:
        live = work.sub("live", "registry.reg")
        scratch = work.sub("scratch", "registry.reg")
        os.makedirs(os.path.dirname(live))
        os.makedirs(os.path.dirname(scratch))
        for n in range(5):
            subprocess.run([reg, "--file", live, "add", key, "--value", "V%d" % n, "--data", "start"], check=True)
        for i in range(kills):
            before = read_bytes(live)
            args = ["add", key, "--value", "V%d" % random.randrange(5), "--data", "t%d-%s" % (i, "x" * random.randrange(200))]
            write_bytes(scratch, before)
            t0 = time.monotonic()
            subprocess.run([reg, "--file", scratch] + args, check=True)
            run_time = time.monotonic() - t0
            after = read_bytes(scratch)
            proc = subprocess.Popen([reg, "--file", live] + args, stdout=DEVNULL, stderr=DEVNULL)
            # Anywhere in a whole run of the same command, start-up included.
            kill_after(proc, random.uniform(0, run_time))
            now = read_bytes(live)
            if now == before:
                old += 1
            elif now == after:
                new += 1
            else:
                damaged += 1
                write_bytes(live, after)  # go on from a known state
            if parse_reg(now) is None:
                fig.check(False, "kill %d left a registry that does not parse" % i)
        query = subprocess.run([reg, "--file", live, "query", key], stdout=DEVNULL, stderr=DEVNULL)
        fig.check(query.returncode == 0, "vexor-reg cannot read the registry after the kills")
        leftovers = [n for n in os.listdir(os.path.dirname(live)) if n not in ("registry.reg", "registry.reg.lock")]
    fig.add("%d kills (%d before the write, %d after), %d damaged, %d inside a write (temporary file left behind)"
            % (kills, old, new, damaged, len(leftovers)))
    fig.check(damaged == 0, "%d damaged registry files" % damaged)
    return fig


# ---- language and module lists, banners --------------------------------------

def vendor_content(folder, letter, ids, interval):
    lang = b"[Languages]\r\nEnglish=english.lng\r\nVariant" + letter + b"=" + letter.lower() + b".lng\r\n"
    modl = b"[Modules]\r\nNotes=Notes\r\nClock=Clock\r\nOnly" + letter + b"=Mod" + letter + b"\r\n"
    write_bytes(os.path.join(folder, "lang.ini"), lang)
    write_bytes(os.path.join(folder, "modl.ini"), modl)
    write_bytes(os.path.join(folder, "version.txt"), b"1.3\n")
    write_bytes(os.path.join(folder, "lineups", "1.txt"), (" ".join(ids) + " %d\n" % interval).encode())
    write_bytes(os.path.join(folder, "web", "update.htm"), b"<html></html>")
    write_bytes(os.path.join(folder, "web", "faq.htm"), b"<html></html>")
    images, pages = {}, {}
    for banner in ids:
        images[banner] = b"GIF89a" + banner.encode() * 4000  # 24 KB: a transfer takes a moment
        pages[banner] = b"<html><body>" + banner.encode() + b'<img src="' + banner.encode() + b'.gif"></body></html>'
        write_bytes(os.path.join(folder, "banners", banner + ".gif"), images[banner])
        write_bytes(os.path.join(folder, "banners", banner + ".htm"), pages[banner])
    return lang, modl, images, pages


def start_server(cfg, content, folder):
    port_file = os.path.join(folder, "port")
    proc = subprocess.Popen([cfg.server, "--listen", "127.0.0.1", "--port", "0", "--port-file", port_file,
                             "--content", content, "--log", os.path.join(folder, "requests.log")],
                            stdout=DEVNULL, stderr=DEVNULL)
    text = wait_until(lambda: (read_bytes(port_file) or b"").strip(), 20)
    if not text:
        proc.kill()
        raise RuntimeError("vexor-server did not start")
    return proc, "127.0.0.1:" + text.decode()


def list_kills(cfg, kills):
    """sync_cycler runs whole cycles, alternately against two servers whose
    lists and banners differ, and is killed at a random moment; afterwards
    every live file must be one that a server sent, whole."""
    fig = Figures("crash/sync")
    damaged = []
    cycles = 0
    with WorkFolder("vexor-rel-sync-") as work:
        content = {}
        servers = []
        try:
            for letter, first in ((b"A", 100001), (b"B", 200001)):
                ids = [str(first + i) for i in range(10)]
                folder = work.sub("server" + letter.decode())
                content[letter] = vendor_content(os.path.join(folder, "content"), letter, ids, 5000)
                servers.append(start_server(cfg, os.path.join(folder, "content"), folder))
            app = work.sub("app")
            for name in ("Languages", "advs", "modules"):
                os.makedirs(os.path.join(app, name))
            initial_lang = read_bytes(os.path.join(cfg.stage_dir, "Languages", "lang.ini"))
            write_bytes(os.path.join(app, "Languages", "lang.ini"), initial_lang)
            langs = {initial_lang, content[b"A"][0], content[b"B"][0]}
            modls = {content[b"A"][1], content[b"B"][1]}
            images = {**content[b"A"][2], **content[b"B"][2]}
            pages = set(content[b"A"][3].values()) | set(content[b"B"][3].values())
            had_modl = False
            for i in range(kills):
                order = [servers[0][1], servers[1][1]] if i % 2 == 0 else [servers[1][1], servers[0][1]]
                proc = subprocess.Popen([cfg.tool("sync_cycler"), app] + order, stdout=subprocess.PIPE, stderr=DEVNULL)
                kill_after(proc, random.uniform(0, 0.25))
                cycles += proc.stdout.read().count(b"ended")
                proc.stdout.close()
                problems = check_sync_folder(app, langs, modls, images, pages, had_modl)
                had_modl = had_modl or os.path.exists(os.path.join(app, "modules", "modl.ini"))
                if problems:
                    damaged.append((i, problems))
        finally:
            for proc, _ in servers:
                proc.terminate()
                proc.wait()
    fig.add("%d kills, %d whole cycles before them, %d damaged" % (kills, cycles, len(damaged)))
    for i, problems in damaged[:3]:
        fig.add("kill %d: %s" % (i, problems[0]))
    fig.check(not damaged, "%d kills left damaged files" % len(damaged))
    fig.check(cycles > 0, "no cycle completed between the kills")
    return fig


def check_sync_folder(app, langs, modls, images, pages, had_modl):
    problems = []
    lang = read_bytes(os.path.join(app, "Languages", "lang.ini"))
    if lang not in langs:
        problems.append("lang.ini " + ("missing" if lang is None else "neither old nor new"))
    modl = read_bytes(os.path.join(app, "modules", "modl.ini"))
    if (modl is None and had_modl) or (modl is not None and modl not in modls):
        problems.append("modl.ini " + ("missing" if modl is None else "neither old nor new"))
    advs = os.path.join(app, "advs")
    for name in os.listdir(advs):
        data = read_bytes(os.path.join(advs, name))
        if name.endswith(".htm") and data not in pages:
            problems.append(name + " is not a whole page")
        if name.endswith(".gif") and data != images.get(name[:-4]):
            problems.append(name + " is not a whole image")
    return problems


# ---- refused writes --------------------------------------------------------

class Mount:
    """A small tmpfs (root only), unmounted at the end."""

    def __init__(self, path, size_kb):
        self.path = path
        os.makedirs(path, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk,mode=0755" % size_kb, "tmpfs", path], check=True)

    def fill(self):
        """Writes a filler file until the file system is full."""
        fd = os.open(os.path.join(self.path, "filler"), os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            while True:
                os.write(fd, b"\0" * 4096)
        except OSError:
            pass
        finally:
            os.close(fd)

    def read_only(self):
        subprocess.run(["mount", "-o", "remount,ro", self.path], check=True)

    def close(self):
        subprocess.run(["umount", self.path], check=False)


def refused_write_case(cfg, fig, label, folder, make_unwritable):
    """The settings write, vexor-reg and the running client against a folder
    that refuses the write: the message names the file, the old file stays."""
    tool = cfg.tool("settings_writer")
    reg = cfg.stage("vexor-reg")
    registry = os.path.join(folder, "registry.reg")
    subprocess.run([tool, "once", folder, "A"], stdout=DEVNULL, check=True)
    subprocess.run([reg, "--file", registry, "add", "HKCU\\Software\\Vexor\\Disk", "--value", "V", "--data", "old"],
                   check=True)
    old_settings = read_bytes(os.path.join(folder, "settings.ini"))
    old_registry = read_bytes(registry)
    make_unwritable()

    result = subprocess.run([tool, "once", folder, "B"], stdout=subprocess.PIPE, stderr=DEVNULL)
    message = result.stdout.decode().strip()
    expected = "Unable to write to " + os.path.join(folder, "settings.ini")
    fig.check(result.returncode == 1 and message == expected, "%s: settings write said '%s'" % (label, message))
    fig.check(read_bytes(os.path.join(folder, "settings.ini")) == old_settings, "%s: settings.ini changed" % label)

    result = subprocess.run([reg, "--file", registry, "add", "HKCU\\Software\\Vexor\\Disk", "--value", "V",
                             "--data", "new" * 2000], stdout=DEVNULL, stderr=subprocess.PIPE)
    err = result.stderr.decode().strip()
    fig.check(result.returncode == 3 and ("Unable to write to " + registry) in err,
              "%s: vexor-reg said '%s' (status %d)" % (label, err, result.returncode))
    fig.check(read_bytes(registry) == old_registry, "%s: registry.reg changed" % label)
    return message, err


def refused_writes(cfg):
    fig = Figures("crash/refused-writes")
    if os.geteuid() != 0:
        # Without root there is no tmpfs to fill, and permissions are enough
        # for a read-only folder.
        with WorkFolder("vexor-rel-ro-") as work:
            folder = work.sub("ro")
            os.makedirs(folder)
            refused_write_case(cfg, fig, "read-only", folder, lambda: os.chmod(folder, 0o555))
            os.chmod(folder, 0o755)
        fig.add("read-only folder checked (full disk needs root: skipped)")
        return fig
    with WorkFolder("vexor-rel-disk-") as work:
        for label in ("full-disk", "read-only"):
            mount = Mount(work.sub(label), 1024)
            try:
                make = mount.fill if label == "full-disk" else mount.read_only
                settings_msg, reg_msg = refused_write_case(cfg, fig, label, mount.path, make)
            finally:
                mount.close()
        client_refused(cfg, fig, work)
    fig.add("full disk and read-only tmpfs: settings write, vexor-reg, client; e.g. '%s'" % settings_msg)
    return fig


def client_refused(cfg, fig, work):
    """The staged client on a full tmpfs: its close request cannot write the
    settings; it says so on stderr and in its error box, keeps the old file,
    and a second request ends it."""
    from common import ProgramFolder, client_env, start_client, stop_process
    size_kb = os.path.getsize(os.path.join(cfg.stage_dir, "vexor")) // 1024 + 4096
    for label in ("full-disk", "read-only"):
        mount = Mount(work.sub("client-" + label), size_kb)
        try:
            program = ProgramFolder(mount.path, cfg.stage_dir, copy_binary=True, state_root=work.sub("state-" + label))
            old = b"[Settings]\nAutoConnect=0\nStartUps=7\n"
            write_bytes(os.path.join(program.app, "settings.ini"), old)
            if label == "full-disk":
                mount.fill()
            else:
                mount.read_only()
            stderr_path = work.sub("client-%s.err" % label)
            proc = start_client(program, client_env(program, cfg.display, "127.0.0.1:1"), stderr_path)
            up = cfg.ping(proc.pid, 300)
            fig.check(up.get("answered", 0) > 0, "%s: client did not come up" % label)
            proc.send_signal(signal.SIGTERM)
            expected = "Unable to write to " + os.path.join(program.app, "settings.ini")
            said = wait_until(lambda: expected in (read_bytes(stderr_path) or b"").decode(), 10)
            fig.check(said, "%s: client did not report '%s'" % (label, expected))
            fig.check(proc.poll() is None, "%s: client ended before a second close request" % label)
            status, by_itself = stop_process(proc, signal.SIGTERM, 10)
            fig.check(by_itself, "%s: second close request did not end the client" % label)
            fig.check(read_bytes(os.path.join(program.app, "settings.ini")) == old,
                      "%s: client changed settings.ini" % label)
        finally:
            mount.close()


def run(cfg):
    yield settings_kills(cfg, cfg.kills)
    yield client_settings_kills(cfg, cfg.client_kills)
    yield registry_kills(cfg, cfg.kills)
    yield list_kills(cfg, cfg.kills)
    yield refused_writes(cfg)
