"""The message box of a request without a property, on a real X display.

Runs Model.exe under Wine on an Xvfb display, finds the box by its title,
which must be the full Windows path of Model.exe, saves a screenshot for a
person to look at (message-box.png beside the Wine prefix), presses Enter and
checks that the run then finishes as usual. Then runs Model.exe on the same
display in a window station nobody sees, as in session 0, where a box would
wait for ever: each box's text must be in Model.log and the run must end by
itself. Exits 77 (skipped) when Xvfb, xwininfo, xwd or xdotool is missing.
"""

import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zlib

from winerun import (EXE, LOG, RESULTS, SCRIPT, WINE_DIR, read, wine,
                     wmic_value, write)

WINSTATION = os.environ["MODEL_WINSTATION"]
# The helper's exit code for a program it had to end.
ENDED = 124
UNSHOWN = b"Message box (not shown, no interactive desktop): "

TOOLS = ("Xvfb", "xwininfo", "xwd", "xdotool")
SCREENSHOT = os.path.join(WINE_DIR, "message-box.png")


def xwd_to_png(xwd, png_path):
    """Converts a 24-bit TrueColor XWD dump (what Xvfb gives) to a PNG."""
    header = struct.unpack(">25I", xwd[:100])
    header_size, width, height = header[0], header[4], header[5]
    byte_order, bytes_per_line, colours = header[7], header[12], header[19]
    masks = header[14:17]
    if masks != (0xFF0000, 0xFF00, 0xFF) or bytes_per_line < width * 4:
        raise ValueError(f"unexpected XWD layout {header}")
    pixels = header_size + colours * 12
    # Each pixel is one 32-bit word with red in bits 16-23.
    red, green, blue = (2, 1, 0) if byte_order == 0 else (1, 2, 3)
    raw = bytearray()
    for y in range(height):
        row = xwd[pixels + y * bytes_per_line:][:width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = (row[red::4], row[green::4],
                                           row[blue::4])
        raw += b"\0" + rgb

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))

    with open(png_path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0,
                                           0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def desktop_processes():
    """Pids of the explorer.exe that serves as the prefix's desktop."""
    prefix = f"WINEPREFIX={os.path.join(WINE_DIR, 'prefix')}".encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"explorer.exe" not in f.read():
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if prefix in f.read().split(b"\0"):
                    found.append(pid)
        except OSError:
            pass
    return found


def wait_for(what, probe, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    raise AssertionError(f"timed out waiting for {what}")


class MessageBoxOnDisplay(unittest.TestCase):

    def setUp(self):
        # Xvfb picks a free display and writes its number once it listens.
        ready, announce = os.pipe()
        self.xvfb_log = open(os.path.join(WINE_DIR, "logs", "xvfb.out"), "wb")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(announce), "-screen", "0", "800x600x24",
             "-nolisten", "tcp"], pass_fds=(announce,),
            stdin=subprocess.DEVNULL, stdout=self.xvfb_log,
            stderr=subprocess.STDOUT)
        os.close(announce)
        with os.fdopen(ready) as f:
            number = f.readline().strip()
        self.assertTrue(number.isdigit(), "Xvfb did not start")
        self.display = f":{number}"

    def tearDown(self):
        self.xvfb.terminate()
        self.xvfb.wait(10)
        self.xvfb_log.close()

    def x(self, *args):
        return subprocess.run(args, env=dict(os.environ, DISPLAY=self.display),
                              stdin=subprocess.DEVNULL, capture_output=True,
                              check=True).stdout

    def window_titled(self, title):
        quoted = f'"{title}":'.encode("latin-1")
        for row in self.x("xwininfo", "-root", "-tree").splitlines():
            if quoted in row:
                return row.split()[0].decode()
        return None

    def test_box_carries_path_of_program(self):
        code, out, err = wine(["winepath", "-w", EXE])
        self.assertEqual(code, 0, err)
        windows_path = out.decode("latin-1").strip()
        model = wmic_value("Win32_ComputerSystem", "Model")
        write(RESULTS, b"")
        write(LOG, b"left by an earlier run\r\n")

        # A program joins the desktop that is up, with that desktop's display:
        # one opened by an earlier run without a display would swallow the
        # box. Wine closes a desktop about a second after its last program.
        wait_for("the desktop of earlier runs to close",
                 lambda: not desktop_processes(), 30)
        env = dict(os.environ, MODEL_WINE_DISPLAY=self.display)
        run = subprocess.Popen(
            [SCRIPT, "run", WINE_DIR, EXE, "Win32_CDROMDrive"], env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE)
        try:
            window = wait_for(f"a window titled {windows_path}",
                              lambda: self.window_titled(windows_path), 60)
            time.sleep(1)  # let Wine paint the box
            xwd_to_png(self.x("xwd", "-root", "-silent"), SCREENSHOT)
            print(f"screenshot: {SCREENSHOT}", file=sys.stderr)
            self.assertIsNone(run.poll(), "the run did not wait for OK")
            self.x("xdotool", "windowfocus", "--sync", window, "key", "Return")
            out, err = run.communicate(timeout=30)
            # Likewise, runs after this one must not join this display.
            wait_for("the desktop of this run to close",
                     lambda: not desktop_processes(), 30)
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
        self.assertEqual(run.returncode, 0, (out + err).decode("latin-1"))
        self.assertEqual(read(RESULTS), f'Model = "{model}"\r\n'.encode())
        self.assertEqual(read(LOG), b"")

    def test_no_box_waits_without_a_visible_station(self):
        code, out, err = wine(["winepath", "-w", EXE])
        self.assertEqual(code, 0, err)
        unshown = UNSHOWN + out.strip() + b": "
        model = f'Model = "{wmic_value("Win32_ComputerSystem", "Model")}"\r\n'.encode()
        stale = b"left by an earlier run\r\n"
        version = os.environ["MODEL_VERSION"].encode()
        # (arguments, start of Model.log, Model.txt afterwards)
        for args, log, results in [
                (["Win32_CDROMDrive"], b"Win32_CDROMDrive - \r\n", model),
                (["Win32_BIOS;Name", "/?"], b"Usage: Model.exe", stale),
                (["--version"], b"Model " + version + b"\r\n", stale)]:
            with self.subTest(args):
                write(RESULTS, stale)
                write(LOG, stale)
                code, out, err = wine([WINSTATION, "30", EXE, *args],
                                      display=self.display, timeout=120)
                self.assertEqual(code, 0, (out + err).decode("latin-1"))
                self.assertTrue(read(LOG).startswith(unshown + log), read(LOG))
                self.assertEqual(read(RESULTS), results)

if __name__ == "__main__":
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed")
        sys.exit(77)
    unittest.main(verbosity=2)
