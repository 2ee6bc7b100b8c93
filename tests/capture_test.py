"""Round trips of the capture tool on Linux, and its errors.

A capture replayed through MODEL_WMI_REPOSITORY must give the model program
the same Model.txt, byte for byte, as the source it was captured from: each
machine tree in tests/machines, this machine, and a repository that holds
every value type, strings only escapes can write and embedded objects.
"""

import os
import re
import resource
import signal
import subprocess
import tempfile
import unittest

BIN = os.environ["MODEL_BIN"]
# Beside the model program when not named (scripts/memcheck.sh).
CAPTURE = os.environ.get("MODEL_CAPTURE_BIN") or os.path.join(
    os.path.dirname(BIN), "model-capture")
TESTS = os.environ["MODEL_TESTS_DIR"]
FIXTURES = os.path.join(TESTS, "fixtures")
MACHINES = os.path.join(TESTS, "machines")
# Under valgrind (scripts/memcheck.sh) one machine tree stands for all.
QUICK = os.environ.get("MODEL_MEMCHECK") == "1"

DEFAULT_CLASSES = subprocess.run([CAPTURE, "--list-defaults"], capture_output=True,
                                 check=True, timeout=60).stdout.decode().split()


def environment(**settings):
    """This process's environment without the variables that pick the WMI
    source or the Windows directory, plus `settings`."""
    env = {k: v for k, v in os.environ.items()
           if k.upper() not in ("WINDIR", "MODEL_WMI_REPOSITORY", "MODEL_FS_ROOT")}
    env["TZ"] = "CET-1CEST,M3.5.0,M10.5.0/3"
    env.update(settings)
    return env


def capture(args, limit=None, **settings):
    """Runs the capture tool; returns (exit code, stdout, stderr lines)."""
    def limit_file_size():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    done = subprocess.run([CAPTURE, *args], env=environment(**settings),
                          capture_output=True, timeout=120,
                          preexec_fn=limit_file_size if limit else None)
    return done.returncode, done.stdout, done.stderr.decode().splitlines()


def model(requests, **settings):
    """Model.txt of one run of the model program."""
    with tempfile.TemporaryDirectory() as windir:
        done = subprocess.run([BIN, *requests],
                              env=environment(Windir=windir, **settings),
                              capture_output=True, timeout=120)
        if done.returncode != 0 or done.stderr:
            raise AssertionError(f"model {requests}: exit {done.returncode}, "
                                 f"{done.stderr.decode()}")
        with open(os.path.join(windir, "Model.txt"), "rb") as f:
            return f.read()


def body(mof):
    """A capture without its header comment (machine, time, command line)."""
    return mof[mof.index(b"#pragma"):]


class RoundTrips(unittest.TestCase):
    maxDiff = None

    def replays(self, classes, volatile=(), **source):
        """Captures `classes` from `source` and checks that every
        'Class;*' request gives the same Model.txt from the capture. Lines of
        `volatile` properties, which change between two runs by themselves,
        are compared by name only. Returns the capture."""
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "capture.mof")
            code, out, err = capture(["-o", path, *classes], **source)
            self.assertEqual((code, out, err), (0, b"", []))
            requests = [f"{c};*" for c in classes]
            want = model(requests, **source)
            got = model(requests, MODEL_WMI_REPOSITORY=path)
            with open(path, "rb") as f:
                mof = f.read()
        for name in volatile:
            pattern = re.compile(rb"^(%s = )[^\r\n]*" % name.encode(), re.M)
            want, got = (pattern.sub(rb"\1...", t) for t in (want, got))
        self.assertEqual(got.decode().split("\r\n"), want.decode().split("\r\n"))
        self.assertEqual(got, want)
        return mof

    def test_machine_trees(self):
        for machine in sorted(os.listdir(MACHINES))[:1 if QUICK else None]:
            with self.subTest(machine):
                self.replays(DEFAULT_CLASSES,
                             MODEL_FS_ROOT=os.path.join(MACHINES, machine))

    def test_this_machine(self):
        self.replays(DEFAULT_CLASSES, volatile=["FreePhysicalMemory"])

    def test_every_value_type_and_odd_strings(self):
        repository = os.path.join(FIXTURES, "capture.mof")
        # Model_Part is met embedded before it is asked for.
        first = self.replays(
            ["Model_Kinds", "Model_Strings", "Win32_ComputerSystem", "Model_Part"],
            MODEL_WMI_REPOSITORY=repository)
        # Model.txt shows strings only up to a NUL, lone surrogates as U+FFFD
        # and embedded objects not at all. The fixture writes its odd strings
        # as a capture does, so each must come back as the same literal; and
        # capturing the capture must give the same text again.
        with open(repository, "rb") as f:
            literals = re.findall(rb"^instance of Model_Strings \{ Id = \d+; (Text = .*;) \};$",
                                  f.read(), re.M)
        self.assertEqual(len(literals), 10)
        for literal in literals:
            self.assertIn(b"    " + literal + b"\n", first)
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "first.mof")
            with open(path, "wb") as f:
                f.write(first)
            code, second, err = capture(
                ["Model_Kinds", "Model_Strings", "Win32_ComputerSystem", "Model_Part"],
                MODEL_WMI_REPOSITORY=path)
        self.assertEqual((code, err), (0, []))
        self.assertEqual(body(second).decode(), body(first).decode())


class Errors(unittest.TestCase):
    maxDiff = None

    def test_failing_classes_are_named_and_the_rest_captured(self):
        code, out, err = capture(
            ["Model_BadBegin", "Win32_ComputerSystem", "Model_BadProperty",
             "Model_BadObject", "Win32_NoSuchClass", "Win32_Bad;Class"],
            MODEL_WMI_REPOSITORY=os.path.join(FIXTURES, "failures.mof"))
        self.assertEqual(code, 1)
        self.assertEqual(err, [
            "model-capture: Model_BadBegin: WBEM_E_FAILED (0x80041001)",
            "model-capture: Model_BadProperty: WBEM_E_OUT_OF_MEMORY (0x80041006)",
            "model-capture: Model_BadObject: WBEM_E_TRANSPORT_FAILURE (0x80041015)",
            "model-capture: Win32_NoSuchClass: WBEM_E_NOT_FOUND (0x80041002)",
            "model-capture: Win32_Bad;Class: 0x8004103a",
        ])
        self.assertNotIn(b"Model_Bad", body(out))
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "capture.mof")
            with open(path, "wb") as f:
                f.write(out)
            self.assertEqual(model([], MODEL_WMI_REPOSITORY=path),
                             b'Model = "Failing"\r\n')

    def test_output_not_written(self):
        repository = os.path.join(FIXTURES, "failures.mof")
        with tempfile.TemporaryDirectory() as work:
            previous = os.path.join(work, "previous.mof")
            with open(previous, "wb") as f:
                f.write(b"// kept\n")
            cases = [
                (os.path.join(work, "missing", "x.mof"), None,
                 "The system cannot find the path specified."),
                (work, None, "Access is denied."),
                # Cut short by the file size limit: the earlier file stays.
                (previous, 100,
                 "The file size exceeds the limit allowed and cannot be saved."),
            ]
            for path, limit, reason in cases:
                with self.subTest(path):
                    code, out, err = capture(["-o", path, "Win32_ComputerSystem"], limit=limit,
                                             MODEL_WMI_REPOSITORY=repository)
                    self.assertEqual((code, out), (2, b""))
                    self.assertEqual(err, [f"model-capture: cannot write {path}: {reason}"])
            with open(previous, "rb") as f:
                self.assertEqual(f.read(), b"// kept\n")
            self.assertEqual(sorted(os.listdir(work)), ["previous.mof"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
