"""Opens a page in headless Chromium and reports what a visitor would meet:
the errors of its console, the requests it made and the value of one
expression evaluated once it has loaded. Speaks the DevTools protocol over
a minimal WebSocket client, so that the tests need nothing beyond Python's
standard library and Debian's chromium package.
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

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class Socket:
    """A WebSocket client for text messages: what the protocol needs."""

    def __init__(self, url):
        host, port, path = re.match(r"ws://([^:/]+):(\d+)(/.*)", url).groups()
        self.sock = socket.create_connection((host, int(port)), timeout=20)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((
            "GET %s HTTP/1.1\r\nHost: %s:%s\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
            "Sec-WebSocket-Version: 13\r\n\r\n" % (path, host, port, key)
        ).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise ConnectionError(head.decode(errors="replace"))

    def exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data

    def send(self, message):
        data = json.dumps(message).encode()
        mask = os.urandom(4)
        head = bytes([0x81])
        if len(data) < 126:
            head += bytes([0x80 | len(data)])
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", len(data))
        self.sock.sendall(head + mask + bytes(
            b ^ mask[i % 4] for i, b in enumerate(data)))

    def receive(self):
        data = b""
        while True:
            first, second = self.exact(2)
            n = second & 0x7F
            if n == 126:
                n = struct.unpack(">H", self.exact(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self.exact(8))[0]
            data += self.exact(n)
            if first & 0x80:
                return json.loads(data)


def visit(path, expression):
    """(console errors, URLs requested, value of expression) for the page."""
    profile = tempfile.mkdtemp(prefix="model-chromium-")
    browser = subprocess.Popen(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
         "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync",
         "--remote-debugging-port=0", "--user-data-dir=" + profile,
         "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        text=True)
    try:
        for line in browser.stderr:
            found = re.search(r"ws://127\.0\.0\.1:(\d+)/", line)
            if found:
                break
        # Chromium keeps talking on standard error; a full pipe would stop it.
        threading.Thread(target=browser.stderr.read, daemon=True).start()
        listing = "http://127.0.0.1:%s/json/list" % found.group(1)
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        pages = json.load(opener.open(listing, timeout=20))
        page = Socket([p for p in pages if p["type"] == "page"][0]
                      ["webSocketDebuggerUrl"])
        errors, urls, answers = [], [], {}
        for n, method in enumerate(["Runtime.enable", "Log.enable",
                                    "Network.enable", "Page.enable"]):
            page.send({"id": n, "method": method})
        page.send({"id": 10, "method": "Page.navigate",
                   "params": {"url": "file://" + os.path.abspath(path)}})
        while True:
            event = page.receive()
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                errors.append(details.get("exception", {}).get(
                    "description", details["text"]))
            elif (method == "Runtime.consoleAPICalled"
                  and params["type"] in ("error", "warning", "assert")):
                errors.append(json.dumps(params["args"]))
            elif method == "Log.entryAdded" and params["entry"]["level"] in (
                    "error", "warning"):
                errors.append(params["entry"]["text"])
            elif method == "Network.requestWillBeSent":
                urls.append(params["request"]["url"])
            elif method == "Page.loadEventFired":
                page.send({"id": 11, "method": "Runtime.evaluate", "params": {
                    "expression": expression, "returnByValue": True}})
            elif event.get("id") == 11:
                answers = event["result"]
                break
        if "exceptionDetails" in answers:
            errors.append(json.dumps(answers["exceptionDetails"]))
        return errors, urls, answers["result"].get("value")
    finally:
        browser.kill()
        browser.wait()
        shutil.rmtree(profile, ignore_errors=True)
