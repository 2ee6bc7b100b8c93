"""Round trips of the capture tool on Linux, and its errors.

A capture replayed through MODEL_WMI_REPOSITORY must give the model program
the same Model.txt, byte for byte, as the source it was captured from: each
machine tree in tests/machines, this machine, and a repository that holds
every value type, strings only escapes can write and embedded objects.
"""

import os
import re
import subprocess
import tempfile
import unittest

import modeltest
from modeltest import CAPTURE, FIXTURES, MACHINES, QUICK, environment, file_size_limit, read, \
    write

# Every run, of either program, in one time zone, and one with summer time.
TZ = "CET-1CEST,M3.5.0,M10.5.0/3"

DEFAULT_CLASSES = modeltest.default_classes()


def capture(args, limit=None, **settings):
    """Runs the capture tool; returns (exit code, stdout, stderr lines)."""
    done = subprocess.run([CAPTURE, *args], env=environment(TZ=TZ, **settings),
                          capture_output=True, timeout=120,
                          preexec_fn=file_size_limit(limit))
    return done.returncode, done.stdout, done.stderr.decode().splitlines()


def model(requests, **settings):
    """Model.txt of one run of the model program."""
    done = modeltest.run(requests, timeout=120, TZ=TZ, **settings)
    if done.code != 0 or done.stderr:
        raise AssertionError(f"model {requests}: exit {done.code}, "
                             f"{done.stderr.decode()}")
    return done.txt


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
            mof = read(path)
        for name in volatile:
            pattern = re.compile(rb"^(%s = )[^\r\n]*" % name.encode(), re.M)
            want, got = (pattern.sub(rb"\1...", t) for t in (want, got))
        self.assertEqual(got.decode().split("\r\n"), want.decode().split("\r\n"))
        self.assertEqual(got, want)
        return mof

    def test_machine_trees(self):
        # Under valgrind (scripts/memcheck.sh) one machine tree stands for all.
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
        literals = re.findall(rb"^instance of Model_Strings \{ Id = \d+; (Text = .*;) \};$",
                              read(repository), re.M)
        self.assertEqual(len(literals), 10)
        for literal in literals:
            self.assertIn(b"    " + literal + b"\n", first)
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "first.mof")
            write(path, first)
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
            write(path, out)
            self.assertEqual(model([], MODEL_WMI_REPOSITORY=path),
                             b'Model = "Failing"\r\n')

    def test_output_not_written(self):
        repository = os.path.join(FIXTURES, "failures.mof")
        with tempfile.TemporaryDirectory() as work:
            previous = os.path.join(work, "previous.mof")
            write(previous, b"// kept\n")
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
            self.assertEqual(read(previous), b"// kept\n")
            self.assertEqual(sorted(os.listdir(work)), ["previous.mof"])

    def test_dead_captures_temporary_files_are_removed(self):
        # What captures killed while writing left beside the output goes
        # with the next capture to it; others' files stay.
        dead = ["out.mof.0123456789ABCDEF.tmp", "out.mof.12.3.tmp"]
        kept = ["other.mof.0123456789ABCDEF.tmp", "out.mof.notes.tmp"]
        with tempfile.TemporaryDirectory() as work:
            for name in dead + kept:
                write(os.path.join(work, name), b"")
            code, _, err = capture(["-o", os.path.join(work, "out.mof"), "Win32_ComputerSystem"],
                                   MODEL_WMI_REPOSITORY=os.path.join(FIXTURES, "failures.mof"))
            self.assertEqual((code, err), (0, []))
            self.assertEqual(sorted(os.listdir(work)), sorted(kept + ["out.mof"]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
