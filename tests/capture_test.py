"""Round trips of the capture tool on Linux, and its errors.

A capture replayed through MODEL_WMI_REPOSITORY must give the model program
the same Model.txt, byte for byte, as the source it was captured from: each
machine tree in tests/machines, this machine, and a repository that holds
every value type, strings only escapes can write and embedded objects. The
--json document of a source must hold the values of its MOF capture, and
--redact must leave no identifying value and still tell values apart.
"""

import json
import os
import re
import struct
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
        trees = sorted(name for name in os.listdir(MACHINES)
                       if os.path.isdir(os.path.join(MACHINES, name)))
        for machine in trees[:1 if QUICK else None]:
            with self.subTest(machine):
                self.replays(DEFAULT_CLASSES,
                             MODEL_FS_ROOT=os.path.join(MACHINES, machine))

    def test_this_machine(self):
        self.replays(DEFAULT_CLASSES, volatile=["FreePhysicalMemory", "FreeSpace",
                                               "EstimatedChargeRemaining",
                                               "EstimatedRunTime"])

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


MOF_TOKEN = re.compile(rb'"(?:[^"\\]|\\.)*"|[-+.\w]+|[{}=;,]')
MOF_ESCAPE = re.compile(r"\\x([0-9A-F]{4})|\\(.)|(.)", re.S)


def mof_string(literal):
    """A MOF string literal's text as JSON carries it: lone surrogates as
    U+FFFD."""
    units = []
    for code, escaped, plain in MOF_ESCAPE.findall(literal[1:-1].decode()):
        if code:
            units.append(int(code, 16))
            continue
        data = ({"n": "\n", "r": "\r", "t": "\t"}.get(escaped, escaped)
                or plain).encode("utf-16-le")
        units += struct.unpack("<%dH" % (len(data) // 2), data)
    return struct.pack("<%dH" % len(units), *units).decode("utf-16-le", "replace")


def mof_instances(mof):
    """{class: [instance, ...]} of a capture's instances, each a list of
    (property, value) pairs as written; an embedded object the same, with
    ("__CLASS", its class) first."""
    tokens = MOF_TOKEN.findall(mof[mof.index(b"\ninstance of"):])[::-1]
    take = tokens.pop

    def instance():
        take(), take()  # instance of
        name, pairs = take().decode(), []
        take()  # {
        while tokens[-1] != b"}":
            prop = take().decode()
            take()  # =
            pairs.append((prop, value()))
            take()  # ;
        take()
        return name, pairs

    def value():
        if tokens[-1] == b"instance":
            name, pairs = instance()
            return [("__CLASS", name)] + pairs
        token = take()
        if token == b"{":
            items = []
            while tokens[-1] != b"}":
                items.append(value())
                if tokens[-1] == b",":
                    take()
            take()
            return items
        if token.startswith(b'"'):
            return mof_string(token)
        words = {b"TRUE": True, b"FALSE": False, b"NULL": None}
        if token in words:
            return words[token]
        return float(token) if re.search(rb"[.eE]", token) else int(token)

    found = {}
    while tokens:
        name, pairs = instance()
        take()  # ;
        found.setdefault(name, []).append(pairs)
    return found


# What --redact must replace in the desktop's tree, and the form of each
# placeholder.
TEXT = r"REDACTED-\d+"
MAC = r"02:00:00:00:00:[0-9A-F]{2}"
IP = r"(192\.0\.2|198\.51\.100|203\.0\.113)\.\d+|2001:db8::[0-9a-f]+"
IDENTIFYING = {
    ("Win32_BaseBoard", "SerialNumber"): TEXT,
    ("Win32_BIOS", "SerialNumber"): TEXT,
    ("Win32_CDROMDrive", "DeviceID"): TEXT,
    ("Win32_CDROMDrive", "PNPDeviceID"): TEXT,
    ("Win32_ComputerSystem", "Name"): TEXT,
    ("Win32_ComputerSystemProduct", "IdentifyingNumber"): TEXT,
    ("Win32_ComputerSystemProduct", "UUID"): r"0{8}-0{4}-0{4}-0{4}-[0-9A-F]{12}",
    ("Win32_DiskDrive", "SerialNumber"): TEXT,
    ("Win32_OperatingSystem", "CSName"): TEXT,
    ("Win32_OperatingSystem", "SerialNumber"): TEXT,
    ("Win32_Processor", "SystemName"): TEXT,
    ("Win32_LogicalDisk", "VolumeSerialNumber"): TEXT,
    ("Win32_NetworkAdapter", "MACAddress"): MAC,
    ("Win32_NetworkAdapter", "PNPDeviceID"): TEXT,
    ("Win32_NetworkAdapterConfiguration", "DefaultIPGateway"): IP,
    ("Win32_NetworkAdapterConfiguration", "DNSHostName"): TEXT,
    ("Win32_NetworkAdapterConfiguration", "DNSServerSearchOrder"): IP,
    ("Win32_NetworkAdapterConfiguration", "MACAddress"): MAC,
    ("Win32_VideoController", "PNPDeviceID"): TEXT,
}


class Json(unittest.TestCase):
    maxDiff = None

    def captures(self, args, **source):
        """(the --json document as pairs, the MOF capture) of `args`."""
        code, mof, err = capture(args, **source)
        self.assertEqual((code, err), (0, []))
        code, text, err = capture(["--json", *args], **source)
        self.assertEqual((code, err), (0, []))
        return json.loads(text.decode("utf-8"), object_pairs_hook=list), mof

    def test_json_holds_the_values_of_the_mof_capture(self):
        laptop = {"MODEL_FS_ROOT": os.path.join(MACHINES, "laptop")}
        cases = [
            (["Model_Kinds", "Model_Strings", "Win32_ComputerSystem", "Model_Part"],
             {"MODEL_WMI_REPOSITORY": os.path.join(FIXTURES, "capture.mof")}),
            (DEFAULT_CLASSES, laptop),
            (["--redact", *DEFAULT_CLASSES], laptop),
        ]
        for args, source in cases:
            with self.subTest(args=args[:2], **source):
                document, mof = self.captures(args, **source)
                header = re.match(rb"// WMI classes of (.*), root.*\n// Captured .* by "
                                  rb"model-capture (\S+)\n", mof)
                self.assertEqual([k for k, _ in document],
                                 ["machine", "captured", "version", "classes"])
                document = dict(document)
                self.assertEqual((document["machine"], document["version"]),
                                 (header[1].decode(), header[2].decode()))
                self.assertRegex(document["captured"],
                                 r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
                self.assertEqual({c: i for c, i in document["classes"] if i},
                                 mof_instances(mof))

    def test_redact(self):
        source = {"MODEL_FS_ROOT": os.path.join(MACHINES, "desktop")}
        plain, _ = self.captures(DEFAULT_CLASSES, **source)
        redacted, mof = self.captures(["--redact", *DEFAULT_CLASSES], **source)

        def values(document):
            found = {}
            for cls, instances in dict(document)["classes"]:
                for instance in instances:
                    for prop, value in instance:
                        found.setdefault((cls, prop), []).append(value)
            return found

        before, after = values(plain), values(redacted)
        self.assertEqual(before.keys(), after.keys())
        given = {dict(plain)["machine"]: dict(redacted)["machine"]}
        shown_ones = set()  # the placeholders Model.txt can show: no arrays
        for key in before:
            with self.subTest(key):
                if key not in IDENTIFYING:
                    self.assertEqual(after[key], before[key])
                    continue
                for old, new in zip(before[key], after[key]):
                    if old is None:
                        self.assertIsNone(new)
                        continue
                    # An array's items each take their own placeholder.
                    pairs = zip(old, new) if isinstance(old, list) else [(old, new)]
                    for item, placeholder in pairs:
                        self.assertRegex(placeholder, "^(%s)$" % IDENTIFYING[key])
                        self.assertEqual(given.setdefault(item, placeholder), placeholder)
                        if not isinstance(old, list):
                            shown_ones.add(placeholder)
        # One placeholder for each value, so the two drives stay two.
        self.assertEqual(len(set(given.values())), len(given))
        self.assertEqual(len(set(after["Win32_CDROMDrive", "PNPDeviceID"])), 2)
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "capture.mof")
            write(path, mof)
            replayed = model([f"{c};{p}" for c, p in IDENTIFYING],
                             MODEL_WMI_REPOSITORY=path)
        # The model's line first, then the placeholders' lines.
        shown = {line.split(" = ")[1].strip('"')
                 for line in replayed.decode().split("\r\n")[1:-1]}
        # Arrays show no value in Model.txt, NULL items as <null>.
        self.assertEqual(shown - {"", "<null>"}, shown_ones)


if __name__ == "__main__":
    unittest.main(verbosity=2)
