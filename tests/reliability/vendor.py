"""A scripted vendor server on a loopback port of the system's choosing. In
the "good" mode it answers the client's query script like the vendor does; in
every other mode it answers each request with one kind of hostile reply.
Every connection is handled by its own thread and ends by itself: a stalled
reply gives up after HOLD_SECONDS, an endless one after ENDLESS_LIMIT bytes."""

import os
import socket
import struct
import threading
import time
import urllib.parse

HOLD_SECONDS = 90
ENDLESS_LIMIT = 2 << 30  # a safety net for the machine, far above any cap the client should have

GOOD_LANG = b"[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n"
GOOD_MODL = b"[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n"
GOOD_IDS = ["300001", "300002", "300003"] + ["000000"] * 7
GOOD_INTERVAL = 5000
# A 1 x 1 GIF.
GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
       b"\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")

# Names that try to leave the program folder; "vxevil" marks every one, so a
# search for it finds anything they managed to create.
EVIL_LANG = (b"[Languages]\r\nEnglish=english.lng\r\nUp=../../vxevil1.lng\r\nBack=..\\..\\vxevil2.lng\r\n"
             b"Abs=/tmp/vxevil3.lng\r\nDots=..\r\n")
EVIL_MODL = b"[Modules]\r\n../../vxevil4=../../vxevil4\r\n/tmp/vxevil5=/tmp/vxevil5\r\n"
EVIL_IDS = ["../../", "..\\..\\", "/vxevi", "..%2F.", "300001", "../vxe", "000000", "000000", "000000", "000000"]

HOSTILE_MODES = [
    "silent",            # reads the request, never answers
    "drip",              # one byte a second, forever
    "endless-body",      # a valid header, then a body without end at full speed
    "endless-line",      # a header line that never ends
    "endless-header",    # header lines without end, never the empty line
    "header-10000",      # 10,000 header lines, then a good answer
    "redirect-self",     # 302 to the same address, forever
    "redirect-pingpong", # 302 between two addresses
    "dotdot",            # good protocol, identifiers and file names with "../"
    "length-short",      # Content-Length far above what is sent, then close
    "length-long",       # Content-Length below what is sent
    "lcount-length",     # LCOUNT answers of 65 and 67 characters
    "garbage",           # binary bytes instead of an HTTP reply
    "garbage-body",      # a good header and a binary body
    "reset-mid-body",    # half the announced body, then a TCP reset
]


def lineup(ids, interval):
    return ("".join(ids) + "%06X" % interval).encode()


def page(banner_id):
    return b'<html><body style="margin:0"><img src="' + banner_id.encode() + b'.gif"></body></html>'


class Vendor:
    def __init__(self, version=b"1.3"):
        self.mode = "good"
        self.version = version
        self.log = []  # (time, mode, action, query dict)
        self.bytes_sent = 0
        self.lock = threading.Lock()
        self.stopping = False
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.host = "127.0.0.1:%d" % self.port
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def stop(self):
        self.stopping = True
        self.thread.join(5)
        self.sock.close()

    def set_mode(self, mode):
        with self.lock:
            self.mode = mode

    def actions(self, since=0.0, mode=None):
        with self.lock:
            return [a for (t, m, a, _) in self.log if t >= since and (mode is None or m == mode)]

    def _accept(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    # ---- one connection -------------------------------------------------

    def _serve(self, conn):
        conn.settimeout(10)
        try:
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 65536:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                request += chunk
            line = request.split(b"\r\n", 1)[0].decode("latin-1")
            parts = line.split(" ")
            target = parts[1] if len(parts) > 1 else "/"
            url = urllib.parse.urlsplit(target)
            query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
            with self.lock:
                mode = self.mode
                self.log.append((time.monotonic(), mode, query.get("A", url.path), query))
            getattr(self, "_mode_" + mode.replace("-", "_"))(conn, url, query)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def _send(self, conn, data):
        conn.sendall(data)
        with self.lock:
            self.bytes_sent += len(data)

    def _hold(self, conn):
        """Keeps the connection open until the client closes it."""
        conn.settimeout(1)
        deadline = time.monotonic() + HOLD_SECONDS
        while time.monotonic() < deadline and not self.stopping:
            try:
                if conn.recv(4096) == b"":
                    return
            except socket.timeout:
                continue

    def _endless(self, conn, prefix, unit):
        self._send(conn, prefix)
        block = unit * (65536 // len(unit))
        sent = 0
        conn.settimeout(HOLD_SECONDS)
        while sent < ENDLESS_LIMIT and not self.stopping:
            self._send(conn, block)
            sent += len(block)

    def good_body(self, query, ids=None, lang=None, modl=None):
        action = query.get("A", "")
        if action == "LANGL":
            return lang or GOOD_LANG
        if action == "VERSION":
            return self.version
        if action == "MODL":
            return modl or GOOD_MODL
        if action == "LCOUNT":
            return lineup(ids or GOOD_IDS, GOOD_INTERVAL)
        if action == "LOGO":
            return GIF
        if action == "HTML":
            return page(query.get("LOGOID", ""))
        return None

    def _reply(self, conn, body, extra=b"", length=None):
        if body is None:
            self._send(conn, b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            return
        size = len(body) if length is None else length
        self._send(conn, b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n" + extra
                   + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % size + body)

    # ---- modes ------------------------------------------------------------

    def _mode_good(self, conn, url, query):
        self._reply(conn, self.good_body(query))

    def _mode_silent(self, conn, url, query):
        self._hold(conn)

    def _mode_drip(self, conn, url, query):
        reply = b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + (self.good_body(query) or b"")
        deadline = time.monotonic() + HOLD_SECONDS
        i = 0
        while time.monotonic() < deadline and not self.stopping:
            self._send(conn, reply[i:i + 1] if i < len(reply) else b"x")
            i += 1
            time.sleep(1)

    def _mode_endless_body(self, conn, url, query):
        self._endless(conn, b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n[Languages]\r\n",
                      b"Filler=filler.lng\r\n")

    def _mode_endless_line(self, conn, url, query):
        self._endless(conn, b"HTTP/1.0 200 OK\r\nX-Never-Ends: ", b"a")

    def _mode_endless_header(self, conn, url, query):
        self._endless(conn, b"HTTP/1.0 200 OK\r\n", b"X-More: yes\r\n")

    def _mode_header_10000(self, conn, url, query):
        lines = b"".join(b"X-Line-%d: %d\r\n" % (i, i) for i in range(10000))
        self._reply(conn, self.good_body(query), extra=lines)

    def _mode_redirect_self(self, conn, url, query):
        location = ("http://%s%s?%s" % (self.host, url.path, url.query)).encode("latin-1")
        self._send(conn, b"HTTP/1.0 302 Found\r\nLocation: " + location + b"\r\nContent-Length: 0\r\n\r\n")

    def _mode_redirect_pingpong(self, conn, url, query):
        other = "/b/script" if not url.path.startswith("/b/") else "/cgi-bin/script/vexor_parser.pl"
        location = ("%s?%s" % (other, url.query)).encode("latin-1")
        self._send(conn, b"HTTP/1.0 302 Found\r\nLocation: " + location + b"\r\nContent-Length: 0\r\n\r\n")

    def _mode_dotdot(self, conn, url, query):
        action = query.get("A", "")
        if action == "LOGO" or action == "HTML":
            # Whatever it asks for; the names are what must not get through.
            self._reply(conn, GIF if action == "LOGO" else page("vxevil"))
            return
        self._reply(conn, self.good_body(query, ids=EVIL_IDS, lang=EVIL_LANG, modl=EVIL_MODL))

    def _mode_length_short(self, conn, url, query):
        body = self.good_body(query) or b""
        self._reply(conn, body, length=len(body) + 100000)

    def _mode_length_long(self, conn, url, query):
        body = self.good_body(query) or b""
        self._reply(conn, body + b"trailing bytes past the announced length", length=max(0, len(body) - 3))

    def _mode_lcount_length(self, conn, url, query):
        if query.get("A") == "LCOUNT":
            body = lineup(GOOD_IDS, GOOD_INTERVAL)
            self._reply(conn, body[:-1] if len(self.log) % 2 else body + b"0")
        else:
            self._mode_good(conn, url, query)

    def _mode_garbage(self, conn, url, query):
        self._send(conn, os.urandom(65536))

    def _mode_garbage_body(self, conn, url, query):
        self._reply(conn, os.urandom(32768))

    def _mode_reset_mid_body(self, conn, url, query):
        body = (self.good_body(query) or b"") + os.urandom(100000)
        self._send(conn, b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % (2 * len(body)) + body)
        # SO_LINGER with a zero time-out: close() sends a reset.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
