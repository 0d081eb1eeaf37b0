#!/usr/bin/env python3
"""Loopback HTTPS/HTTP servers for the tests, scripted per test, recording what they receive.

    loopback_server.py start STATE_DIR [RELEASE_PORT]
                                         make the test CA and certificates (once), start the servers
                                          in the background, return once they listen
    loopback_server.py stop STATE_DIR    stop them (and the nginx they supervise)
    loopback_server.py serve STATE_DIR   run in the foreground (what `start` runs)

STATE_DIR/ports holds one "name=value" per line: the control port (plain HTTP, for the tests), the
scripted listeners "https" (localhost certificate from the test CA), "http", "wrong_host",
"expired" and "untrusted" (certificates that must be refused), "release" (like "https", on
RELEASE_PORT when given: the release site that a loopback build of the installer has built in), "nginx" (a real nginx serving
STATE_DIR/www over TLS with the same CA, through the release site's shipped configuration,
site/nginx/) and "www". ca.der is the CA that the tests trust inside their own Wine prefix only. Everything listens on 127.0.0.1 only.

Control requests (JSON bodies):
    POST /reset                          forget scripts and records
    POST /script {"path", "responses"}   queue answers for a path; the last one repeats
    POST /mute {"listener"}              until the next reset, that listener accepts connections and
                                         never answers the TLS handshake
    POST /file {"name", "size", "seed"}  make a deterministic file; answers {"sha256"}
    POST /file {"name", "path"}          serve a copy of the file at that Linux path; answers {"sha256"}
    POST /sign {"package", "version", "url"}
                                         a release manifest for the package (a Linux path), signed by
                                         the release tool with the development key; answers
                                         {"manifest"}. Needs KORVANE_RELEASE_TOOL and
                                         KORVANE_RELEASE_SIGNING_KEY in the servers' environment.
                                         With "unchecked": true, signed by plain openssl with the same
                                         key, for a package the release tool would refuse to sign.
    /records (any method)                what the scripted listeners received, in order, with
                                         the connections each listener accepted

An answer (every member optional):
    "status": 200                  "headers": {name: value} or [[name, value], ...]
    "body": text                   "body_size": n (that many "a"s)
    "file": name                   a made file; honours Range with an exact 206
    "ignore_range": true           answer a ranged request with 200 and the whole file
    "content_range": text          a Content-Range of the script's choosing
    "corrupt": offset              flip one byte of the file
    "content_length": n | "omit"   a wrong length, or none (the body then ends with the connection)
    "extra": n                     n bytes more than the announced length
    "close_after": n               close cleanly after n bytes of the body
    "reset": true                  reset the connection after the body (or its first close_after bytes)
    "stall_after": n, "stall": s   hold the body back for s seconds after n bytes
    "rate": n                      send the body at n bytes per second (the headers at once, and
                                   with "stall_after" that many bytes of the body too)
    "delay": s                     wait s seconds before answering
    "drop": true                   reset the connection without answering
    "hang": true                   never answer (until the client gives up, or two minutes)
"{http_port}" in a header value becomes the plain HTTP listener's port.

The servers end on SIGTERM, or by themselves after IDLE_SECONDS without a request, so an
interrupted test run cannot leave them behind; nginx is killed with them even when they are killed
outright.
"""
import hashlib
import json
import os
import random
import select
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import nginx, signing  # noqa: E402
from testkit.test_ca import make_certificates, tls_context  # noqa: E402

IDLE_SECONDS = 300
HANG_SECONDS = 120


class State:
    """Scripts, files and records shared by every listener thread."""

    def __init__(self):
        self.lock = threading.Lock()
        self.last_activity = time.monotonic()
        self.ports = {}
        self.reset()

    def reset(self):
        with self.lock:
            self.scripts = {}
            self.files = {}
            self.records = []
            self.connections = {}
            self.muted = set()

    def touch(self):
        self.last_activity = time.monotonic()

    def next_answer(self, path):
        with self.lock:
            queue = self.scripts.get(path)
            if not queue:
                return {"status": 404, "body": "not scripted"}
            return queue.pop(0) if len(queue) > 1 else queue[0]


STATE = State()


def read_request(stream):
    """Request line, headers (a list, in order) and body; None when the client closed."""
    line = stream.readline(65537)
    if not line:
        return None
    method, target, _ = line.decode("latin-1").rstrip("\r\n").split(" ", 2)
    headers = []
    while True:
        line = stream.readline(65537).decode("latin-1").rstrip("\r\n")
        if not line:
            break
        name, _, value = line.partition(":")
        headers.append([name, value.strip()])
    length = int(next((v for n, v in headers if n.lower() == "content-length"), "0"))
    body = stream.read(length) if length else b""
    return method, target, headers, body


def header(headers, name):
    return next((v for n, v in headers if n.lower() == name.lower()), None)


def file_answer(answer, headers):
    """Status, extra headers and body for an answer that serves a made file."""
    data = STATE.files[answer["file"]]
    if "corrupt" in answer:
        data = bytearray(data)
        data[answer["corrupt"]] ^= 0xFF
        data = bytes(data)
    requested = header(headers, "Range")
    if requested is None or answer.get("ignore_range"):
        return 200, [], data
    first, _, last = requested.split("=", 1)[1].partition("-")
    first, last = int(first), min(int(last), len(data) - 1)
    content_range = answer.get("content_range", f"bytes {first}-{last}/{len(data)}")
    return 206, [["Content-Range", content_range]], data[first:last + 1]


class ScriptedHandler(socketserver.BaseRequestHandler):
    def handle(self):
        connection = self.request
        with STATE.lock:
            muted = self.server.name in STATE.muted
        if muted:
            hold_silently(connection)
            return
        if isinstance(connection, ssl.SSLSocket):
            try:
                connection.do_handshake()
            except (ssl.SSLError, OSError):
                return  # the client refused the certificate: exactly what some tests want
        with STATE.lock:
            STATE.connections[self.server.name] = STATE.connections.get(self.server.name, 0) + 1
        stream = connection.makefile("rb")
        try:
            while self.exchange(connection, stream):
                pass
        except (OSError, ValueError):
            pass

    def exchange(self, connection, stream):
        request = read_request(stream)
        if request is None:
            return False
        method, target, headers, body = request
        STATE.touch()
        with STATE.lock:
            STATE.records.append({"listener": self.server.name, "method": method, "path": target,
                                  "headers": headers, "body": body.decode("utf-8", "replace"),
                                  "time": time.monotonic()})
        answer = STATE.next_answer(target.split("?", 1)[0])
        if answer.get("hang"):
            wait_for_close(connection)
            return False
        time.sleep(answer.get("delay", 0))
        if answer.get("drop"):
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            connection.close()
            return False
        status, extra_headers, payload = 200, [], b""
        if "file" in answer:
            status, extra_headers, payload = file_answer(answer, headers)
        elif "body_size" in answer:
            payload = b"a" * answer["body_size"]
        else:
            payload = answer.get("body", "").encode("utf-8")
        status = answer.get("status", status)
        lines = [f"HTTP/1.1 {status} Scripted"]
        scripted = answer.get("headers", [])
        if isinstance(scripted, dict):
            scripted = list(scripted.items())
        for name, value in extra_headers + scripted:
            lines.append(f"{name}: {value.replace('{http_port}', str(STATE.ports['http']))}")
        length = answer.get("content_length", len(payload))
        if length != "omit":
            lines.append(f"Content-Length: {length}")
        closing = length == "omit" or "close_after" in answer or answer.get("reset")
        lines.append("Connection: close" if closing else "Connection: keep-alive")
        payload += b"b" * answer.get("extra", 0)
        if "close_after" in answer:
            payload = payload[:answer["close_after"]]
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        if method == "HEAD":
            payload = b""
        if "rate" in answer:
            fast = answer.get("stall_after", 0)
            connection.sendall(head + payload[:fast])
            trickle(connection, payload[fast:], answer["rate"])
        else:
            stall_at = answer.get("stall_after", len(payload))
            connection.sendall(head + payload[:stall_at])
            if stall_at < len(payload):
                time.sleep(answer.get("stall", 1))
                connection.sendall(payload[stall_at:])
        if answer.get("reset"):
            # Give the client time to take the headers: a reset discards what it has not read yet.
            time.sleep(0.3)
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            connection.close()
            return False
        if closing:
            shut_down(connection)
            return False
        return True


def shut_down(connection):
    """A clean TCP close (no TLS close_notify, whose exchange could wait on the client)."""
    try:
        connection.shutdown(socket.SHUT_RDWR)
    except (OSError, ValueError):
        pass


def trickle(connection, payload, rate):
    """The body at `rate` bytes per second in tenth-of-a-second pieces, for at most HANG_SECONDS."""
    piece = max(1, rate // 10)
    interval = piece / rate
    deadline = time.monotonic() + HANG_SECONDS
    for start in range(0, len(payload), piece):
        if time.monotonic() > deadline:
            return
        connection.sendall(payload[start:start + piece])
        time.sleep(interval)


def hold_silently(connection):
    """A TCP connection whose TLS handshake never comes: whatever the client sends is read and ignored."""
    deadline = time.monotonic() + HANG_SECONDS
    try:
        while time.monotonic() < deadline:
            readable, _, _ = select.select([connection], [], [], 0.5)
            if readable and not os.read(connection.fileno(), 4096):
                return
    except OSError:
        pass


def wait_for_close(connection):
    """Holds a request unanswered until the client gives up (or a bound, so nothing hangs for ever)."""
    deadline = time.monotonic() + HANG_SECONDS
    while time.monotonic() < deadline:
        readable, _, _ = select.select([connection], [], [], 0.5)
        if readable and not connection.recv(4096):
            return


class Listener(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, name, handler, context=None, port=0):
        super().__init__(("127.0.0.1", port), handler)
        self.name, self.context = name, context

    def get_request(self):
        connection, address = self.socket.accept()
        if self.context is not None:
            # The handshake runs in the handler's thread: a client that never speaks TLS must not
            # stall the accept loop.
            connection = self.context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False)
        return connection, address


class ControlHandler(socketserver.StreamRequestHandler):
    def handle(self):
        request = read_request(self.rfile)
        if request is None:
            return
        method, target, _, body = request
        STATE.touch()
        command = json.loads(body) if body else {}
        answer = {}
        if target == "/reset":
            STATE.reset()
        elif target == "/script":
            with STATE.lock:
                STATE.scripts.setdefault(command["path"], []).extend(command["responses"])
        elif target == "/file":
            if "path" in command:
                with open(command["path"], "rb") as source:
                    data = source.read()
            else:
                data = made_file(command["size"], command.get("seed", 0))
            with STATE.lock:
                STATE.files[command["name"]] = data
            answer = {"sha256": hashlib.sha256(data).hexdigest()}
        elif target == "/mute":
            with STATE.lock:
                STATE.muted.add(command["listener"])
        elif target == "/records":
            with STATE.lock:
                answer = {"records": STATE.records, "connections": STATE.connections}
        elif target == "/sign":
            try:
                answer = {"manifest": signed_manifest(command)}
            except (KeyError, OSError, subprocess.CalledProcessError) as error:
                answer = {"error": f"signing failed: {getattr(error, 'stderr', None) or error}"}
        elif target != "/ping":
            answer = {"error": f"unknown command {method} {target}"}
        payload = json.dumps(answer).encode("utf-8")
        self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                         + str(len(payload)).encode() + b"\r\nConnection: close\r\n\r\n" + payload)


def signed_manifest(command):
    """What a publisher uploads: the release tool signs the package (CNG cannot sign under Wine 8)."""
    tool, key = os.environ["KORVANE_RELEASE_TOOL"], os.environ["KORVANE_RELEASE_SIGNING_KEY"]
    if command.get("unchecked"):
        return openssl_signed_manifest(command, key)
    with tempfile.TemporaryDirectory() as scratch:
        output = os.path.join(scratch, "launcher-release.json")
        subprocess.run([tool, "sign", command["package"], "--version", command["version"], "--url",
                        command["url"], "--key", key, "--output", output],
                       check=True, capture_output=True, text=True)
        with open(output) as manifest:
            return json.load(manifest)


def openssl_signed_manifest(command, key):
    """A manifest signed past the release tool's package checks: what a careless publisher could serve."""
    with open(command["package"], "rb") as package:
        data = package.read()
    return signing.signed_manifest(key, command["version"], len(data), hashlib.sha256(data).hexdigest(),
                                   command["url"])


def made_file(size, seed):
    """Deterministic, non-repeating bytes: a range served from the wrong offset cannot pass the hash."""
    return random.Random(seed).randbytes(size)


def start_nginx(directory):
    """nginx serving STATE_DIR/www through the release site's shipped configuration."""
    port, www = nginx.free_port(), os.path.join(directory, "www")
    os.makedirs(www, exist_ok=True)
    return nginx.serve(directory, port, www), port, www


def serve(directory, release_port=None):
    directory = os.path.abspath(directory)
    make_certificates(directory)
    listeners = [Listener("https", ScriptedHandler, tls_context(directory, "localhost")),
                 Listener("http", ScriptedHandler),
                 Listener("wrong_host", ScriptedHandler, tls_context(directory, "wrong_host")),
                 Listener("expired", ScriptedHandler, tls_context(directory, "expired")),
                 Listener("untrusted", ScriptedHandler, tls_context(directory, "untrusted")),
                 Listener("control", ControlHandler)]
    if release_port:
        listeners.append(Listener("release", ScriptedHandler, tls_context(directory, "localhost"),
                                  int(release_port)))
    STATE.ports = {listener.name: listener.server_address[1] for listener in listeners}
    site, nginx_port, www = start_nginx(directory)
    for listener in listeners:
        threading.Thread(target=listener.serve_forever, daemon=True).start()

    stop = threading.Event()
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, lambda *_: stop.set())
    with open(os.path.join(directory, "ports.tmp"), "w") as out:
        for name, port in {**STATE.ports, "nginx": nginx_port}.items():
            out.write(f"{name}={port}\n")
        out.write(f"www={www}\n")
    os.replace(os.path.join(directory, "ports.tmp"), os.path.join(directory, "ports"))
    try:
        while not stop.wait(1.0):
            if time.monotonic() - STATE.last_activity > IDLE_SECONDS or site.poll() is not None:
                break
    finally:
        site.kill()
        site.wait()
        for name in ("ports", "server.pid"):
            try:
                os.remove(os.path.join(directory, name))
            except FileNotFoundError:
                pass


def start(directory, release_port=None):
    directory = os.path.abspath(directory)
    stop(directory)
    make_certificates(directory)
    # A server killed outright leaves its ports file behind; it must not pass for the new one's.
    for stale in ("ports", "ports.tmp"):
        if os.path.exists(os.path.join(directory, stale)):
            os.remove(os.path.join(directory, stale))
    log = open(os.path.join(directory, "server.log"), "w")
    process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", directory,
                                *([release_port] if release_port else [])],
                               start_new_session=True, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    with open(os.path.join(directory, "server.pid"), "w") as out:
        out.write(str(process.pid))
    for _ in range(400):
        if os.path.exists(os.path.join(directory, "ports")):
            return
        if process.poll() is not None:
            break
        time.sleep(0.05)
    process.kill()
    sys.exit(f"the loopback servers did not start; see {directory}/server.log")


def stop(directory):
    pid_file = os.path.join(os.path.abspath(directory), "server.pid")
    try:
        pid = int(open(pid_file).read())
    except (FileNotFoundError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        os.remove(pid_file)
    except FileNotFoundError:
        pass


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("start", "stop", "serve") or \
            (len(sys.argv) == 4 and sys.argv[1] == "stop"):
        sys.exit(__doc__)
    {"start": start, "stop": stop, "serve": serve}[sys.argv[1]](*sys.argv[2:])
