"""Opens a page in headless Chromium through its DevTools protocol, over a
minimal WebSocket client (standard library only): the console's errors, the
URLs the page requested and the value of an expression once it has loaded.
"""

import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import urllib.request

CHROMIUM = shutil.which("chromium")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync",
         "--remote-debugging-port=0"]


def connect(url):
    host, port, path = re.match(r"ws://([^:/]+):(\d+)(/.*)", url).groups()
    sock = socket.create_connection((host, int(port)), timeout=60)
    sock.sendall((
        "GET %s HTTP/1.1\r\nHost: %s:%s\r\nUpgrade: websocket\r\nConnection: "
        "Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
        % (path, host, port, base64.b64encode(os.urandom(16)).decode())
    ).encode())
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        head += sock.recv(1)
    assert b" 101 " in head.split(b"\r\n")[0], head
    return sock


def send(sock, message):
    data, mask = json.dumps(message).encode(), os.urandom(4)
    size = (bytes([0x80 | len(data)]) if len(data) < 126 else
            bytes([0xFF]) + struct.pack(">Q", len(data)))
    sock.sendall(b"\x81" + size + mask +
                 bytes(b ^ mask[i % 4] for i, b in enumerate(data)))


def receive(sock):
    def exact(n):
        data = b""
        while len(data) < n:
            chunk = sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("Chromium closed the connection")
            data += chunk
        return data
    data = b""
    while True:
        first, n = exact(2)
        n &= 0x7F
        if n >= 126:
            n = int.from_bytes(exact(2 if n == 126 else 8), "big")
        data += exact(n)
        if first & 0x80:
            return json.loads(data)


def visit(path, expression):
    """(console errors, URLs requested, value of expression) for the page."""
    profile = tempfile.mkdtemp(prefix="model-chromium-")
    browser = subprocess.Popen(
        [CHROMIUM] + FLAGS + ["--user-data-dir=" + profile, "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    sock = None
    try:
        port = next(m.group(1) for m in map(
            re.compile(r"ws://127\.0\.0\.1:(\d+)/").search, browser.stderr) if m)
        # Chromium goes on writing there; a full pipe would stop it.
        threading.Thread(target=browser.stderr.read, daemon=True).start()
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        pages = json.load(opener.open(
            "http://127.0.0.1:%s/json/list" % port, timeout=60))
        sock = connect(next(p["webSocketDebuggerUrl"] for p in pages
                            if p["type"] == "page"))
        for n, method in enumerate(("Runtime", "Log", "Network", "Page")):
            send(sock, {"id": n, "method": method + ".enable"})
        send(sock, {"id": 10, "method": "Page.navigate",
                    "params": {"url": "file://" + os.path.abspath(path)}})
        errors, urls = [], []
        while True:
            event = receive(sock)
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                errors.append(details.get("exception", details)
                              .get("description", details["text"]))
            elif method == "Runtime.consoleAPICalled" and params["type"] in (
                    "error", "warning", "assert"):
                errors.append(json.dumps(params["args"]))
            elif method == "Log.entryAdded" and params["entry"]["level"] in (
                    "error", "warning"):
                errors.append(params["entry"]["text"])
            elif method == "Network.requestWillBeSent":
                urls.append(params["request"]["url"])
            elif method == "Page.loadEventFired":
                send(sock, {"id": 11, "method": "Runtime.evaluate", "params": {
                    "expression": expression, "returnByValue": True}})
            elif event.get("id") == 11:
                answer = event["result"]
                errors += [json.dumps(answer["exceptionDetails"])] if (
                    "exceptionDetails" in answer) else []
                return errors, urls, answer["result"].get("value")
    finally:
        if sock:
            sock.close()
        browser.kill()
        browser.wait()
        browser.stderr.close()
        shutil.rmtree(profile, ignore_errors=True)
