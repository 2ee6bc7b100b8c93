"""Captures of Wine's WMI, replayed by the Linux build.

ModelCapture.exe captures Wine's classes under Wine; then, class by class,
Model.exe 'Class;*' runs under Wine and the Linux build's model program runs
'Class;*' over the capture, and the two Model.txt must be the same. Model.exe
writes Model.txt in the ANSI code page (Wine's CodeSet) and the Linux build
in UTF-8, so Model.exe's text is compared after that one conversion. A few
properties change by themselves between two runs (free memory, the clock);
their lines are compared by name only.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

from winerun import RESULTS, WINDOWS_DIR, EXE, read, wine

CAPTURE_EXE = os.environ["MODEL_CAPTURE_EXE"]
NATIVE = os.environ.get("MODEL_NATIVE_BIN", "")

# Every Model.txt starts with Win32_ComputerSystem's model, so each capture
# holds that class.
MORE_CLASSES = ["Win32_ComputerSystem", "Win32_DesktopMonitor"]
# Default classes that Wine's WMI has no instances of (or no class at all,
# which its queries do not tell apart): nothing to compare.
NOT_IN_WINE = ["Win32_Battery", "Win32_PhysicalMemoryArray"]
VOLATILE = re.compile(
    rb"^((FreePhysicalMemory|FreeVirtualMemory|LocalDateTime|CurrentClockSpeed"
    rb"|FreeSpace) = )[^\r\n]*", re.M)


def capture(name, classes):
    """Runs ModelCapture.exe into C:\\windows\\<name>; returns the exit
    code, standard error and the file's path on this side."""
    code, _, err = wine([CAPTURE_EXE, "-o", "C:\\windows\\" + name, *classes])
    return code, err.decode("latin-1"), os.path.join(WINDOWS_DIR, name)


def replay(repository, *requests, files=("Model.txt",)):
    """The Linux build's run over the capture: its exit code, standard
    error and files."""
    with tempfile.TemporaryDirectory() as windir:
        env = {k: v for k, v in os.environ.items()
               if k.upper() not in ("WINDIR", "MODEL_FS_ROOT")}
        env.update(Windir=windir, MODEL_WMI_REPOSITORY=repository)
        done = subprocess.run([NATIVE, *requests], env=env,
                              capture_output=True, timeout=60, check=False)
        return (done.returncode, done.stderr,
                *(read(os.path.join(windir, f)) for f in files))


class CaptureUnderWine(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        code, out, err = wine([CAPTURE_EXE, "--list-defaults"])
        if code != 0 or err:
            raise AssertionError(f"ModelCapture.exe --list-defaults: {code} {err}")
        cls.default_classes = out.decode().split()
        cls.captures = {}
        for name, classes in (("default.mof", []), ("more.mof", MORE_CLASSES)):
            code, err, path = capture(name, classes)
            # Wine answers a query of a class it lacks as one of a class
            # without instances, so those are captured as empty classes.
            # Wine itself complains of drives it cannot read the label of.
            got = [l for l in err.splitlines() if not l.startswith("wine:")]
            if code != 0 or got:
                raise AssertionError(f"ModelCapture.exe {classes}: {code} {err}")
            cls.captures[name] = path
        codeset = re.search(rb'CodeSet = "(\d+)"', read(cls.captures["default.mof"]))
        cls.ansi = "cp" + codeset.group(1).decode() if codeset else "cp1252"

    def test_default_classes_and_more_replay_as_under_wine(self):
        plan = [(c, "default.mof") for c in self.default_classes
                if c not in NOT_IN_WINE]
        plan += [(c, "more.mof") for c in MORE_CLASSES[1:]]
        for class_name, name in plan:
            with self.subTest(class_name):
                request = class_name + ";*"
                code, out, err = wine([EXE, request])
                self.assertEqual(code, 0, (out + err).decode("latin-1"))
                want = read(RESULTS).decode(self.ansi).encode("utf-8")
                code, err, got = replay(self.captures[name], request)
                self.assertEqual((code, err), (0, b""))
                # More than the model line: the class has instances.
                self.assertGreater(want.count(b"\r\n"), 1)
                want, got = (VOLATILE.sub(rb"\1...", t) for t in (want, got))
                self.assertEqual(got.decode().split("\r\n"),
                                 want.decode().split("\r\n"))
                self.assertEqual(got, want)

    def test_failures_are_named_with_windows_words(self):
        path = "C:\\no\\such\\folder\\x.mof"
        # Wine answers a query of an unknown class as one of a class without
        # instances, so only a name that no query takes fails under Wine.
        code, _, err = wine([CAPTURE_EXE, "-o", path,
                             "Win32_NoSuchClass.Name=1", "Win32_BIOS"])
        lines = err.decode("latin-1").splitlines()
        self.assertEqual(code, 2, lines)
        self.assertEqual(lines[0], "model-capture: Win32_NoSuchClass.Name=1: "
                                   "WBEM_E_NOT_FOUND (0x80041002)")
        # The system's own reason, whatever its words.
        self.assertRegex(lines[1], r"^model-capture: cannot write "
                                   + re.escape(path) + r": \S.*\.$")
        self.assertEqual(len(lines), 2)


if __name__ == "__main__":
    if not os.access(NATIVE, os.X_OK):
        print(f"skipped: no Linux build of the model program at {NATIVE!r}")
        sys.exit(77)
    unittest.main(verbosity=2)
