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

DEFAULT_CLASSES = subprocess.run([CAPTURE, "--list-defaults"], capture_output=True,
                                 check=True, timeout=60).stdout.decode().split()


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

    def test_what_the_reader_takes_the_capture_writes(self):
        # Embedded objects as deep as the reader takes, in arrays too, and a
        # property whose name is a word of the grammar: each capture reads
        # back, and capturing it again gives the same text.
        def nested(depth, array):
            value = ("{%s}" if array else "%s") % (
                "" if depth == 0 else "instance of Link { Next = %s; }" % nested(depth - 1, array))
            return value if value != "" else "NULL"
        cases = {
            "objects 32 deep": "class Link { object Next; };\n"
                               "instance of Top { K = 1; Next = %s; };" % nested(32, False),
            "arrays 32 deep": "class Link { object Next[]; };\n"
                              "instance of Top { K = 1; Next = %s; };" % nested(32, True),
            "a property named ref": "class Link { object ref; };\n"
                                    "instance of Top { K = 1; Next = instance of Link {"
                                    " ref = instance of Link { ref = NULL; }; }; };",
        }
        for what, text in cases.items():
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                source = os.path.join(work, "source.mof")
                write(source, b"class Top { [key] uint32 K; object Next%s; };\n%s\n" % (
                    b"[]" if "arrays" in what else b"", text.encode()))
                code, first, err = capture(["Top"], MODEL_WMI_REPOSITORY=source)
                self.assertEqual((code, err), (0, []))
                path = os.path.join(work, "first.mof")
                write(path, first)
                code, second, err = capture(["Top"], MODEL_WMI_REPOSITORY=path)
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

    def test_an_object_reached_along_many_paths_stops_the_capture(self):
        # Thirty objects, each holding the one before twice: 2^29 copies.
        text = 'class E0 { string S; };\ninstance of E0 as $A0 { S = "x"; };\n'
        for i in range(1, 30):
            text += "class E%d { object A; object B; };\n" % i
            text += "instance of E%d as $A%d { A = $A%d; B = $A%d; };\n" % (i, i, i - 1, i - 1)
        text += "class Top { object O; };\ninstance of Top { O = $A29; };\n"
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "bomb.mof")
            write(path, text.encode())
            code, out, err = capture(["Top"], MODEL_WMI_REPOSITORY=path)
        self.assertEqual((code, err), (1, [
            "model-capture: Top: WBEM_E_OUT_OF_MEMORY (0x80041006)",
            "model-capture: Top: more than the 268435456 bytes of MOF text a replay reads; "
            "not captured"]))
        self.assertNotIn(b"instance of Top", out)

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
