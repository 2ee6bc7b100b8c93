"""Whole runs of the model program against MOF repositories.

Each run gets a fresh Windows directory holding a Model.txt and a Model.log
from an earlier run, and the exact bytes of both files, the exit code and the
message boxes (lines on standard error) are compared afterwards.
"""

import dataclasses
import os
import shutil
import stat
import tempfile
import unittest

import modeltest
from modeltest import EXE, FIXTURES, write

PREVIOUS_TXT = b'Model = "previous"\r\n'
PREVIOUS_LOG = b"an old message\r\n\r\n"
UNCHANGED = PREVIOUS_TXT


def results(*lines):
    return b"".join(line.encode() + b"\r\n" for line in lines)


def log(*messages):
    return b"".join(message.encode() + b"\r\n\r\n" for message in messages)


def request_box(text):
    """A query plan message box: captioned with the program's path."""
    return EXE + ": " + text


MODEL = 'Model = "Contoso Desk 7"'
IDE_DRIVE = "IDE\\CDROMVENDOR_DVD-RW_DRIVE_X1__________________1.00____\\5&1A2B3C4D&0&0.0.0"
USB_DRIVE = "USBSTOR\\CDROM&VEN_ACME&PROD_DVD&REV_2.0\\7&2B3C&0"


def run(windir, args, fixture="machine.mof", pragmas=(), cwd=None, limit=None):
    """Runs the program with `windir` as the Windows directory and the
    fixture, with `pragmas` put in front of it, as the WMI repository; its
    standard error comes back as lines."""
    repository = os.path.join(FIXTURES, fixture)
    if pragmas:
        handle, repository = tempfile.mkstemp(suffix=".mof")
        with os.fdopen(handle, "wb") as out, open(os.path.join(FIXTURES, fixture), "rb") as base:
            out.write("".join(p + "\n" for p in pragmas).encode() + base.read())
    try:
        done = modeltest.run(args, windir, cwd=cwd, limit=limit, MODEL_WMI_REPOSITORY=repository)
    finally:
        if pragmas:
            os.unlink(repository)
    done.stderr = done.stderr.decode("utf-8", "replace").splitlines()
    return done


@dataclasses.dataclass
class Case:
    name: str
    args: list
    txt: bytes
    log: bytes = b""
    code: int = 0
    stderr: list = dataclasses.field(default_factory=list)
    fixture: str = "machine.mof"
    pragmas: tuple = ()


def fail(operation, code):
    return '#pragma fail("%s", %s)' % (operation, code)


CASES = [
    # Start-up failures: one message, exit code 1, Model.txt as it was.
    Case("OLE refused", [], UNCHANGED, code=1,
         pragmas=(fail("OleInitialize", "0x80004005"),),
         log=log("Failed to initialize COM library")),
    Case("security refused", ["Win32_CDROMDrive;DeviceID"], UNCHANGED, code=1,
         pragmas=(fail("CoInitializeSecurity", "0x80010119"),),
         log=log("Failed to initialize security. Error code = 80010119")),
    Case("no locator", [], UNCHANGED, code=1,
         pragmas=(fail("CoCreateInstance", "0x80040154"),),
         log=log("Failed to create IWbemLocator object. Error code = 80040154")),
    Case("connection refused", [], UNCHANGED, code=1,
         pragmas=(fail("ConnectServer", "0x80041003"),),
         log=log("Failed to connect. Error code = 80041003")),

    # Query failures: logged with status names, the run goes on, and the log
    # keeps every message of the run in order.
    Case("every query refused", ["Win32_CDROMDrive;Drive"], b"",
         pragmas=(fail("ExecQuery", "0x80070005"),),
         log=log("Failed to execute the WMI Query: SELECT Model FROM Win32_ComputerSystem."
                 " Error code = 0x80070005",
                 "Failed to execute the WMI Query: SELECT Drive FROM Win32_CDROMDrive."
                 " Error code = 0x80070005")),
    Case("unknown class", ["Nothing;Model", "Win32_CDROMDrive;Drive"],
         results(MODEL, 'Drive = "D:"', 'Drive = "E:"'),
         log=log("Failed to execute the WMI Query: SELECT Model FROM Nothing."
                 " Error code = WBEM_E_INVALID_CLASS")),
    Case("property walk cannot start", ["Model_BadBegin;A"],
         results('Model = "Failing"', 'A = "first"'), fixture="failures.mof",
         log=log("Failed to start BeginEnumeration. Error code = WBEM_E_FAILED")),
    Case("property walk fails", ["Model_BadProperty;*"],
         results('Model = "Failing"', 'A = "a"'), fixture="failures.mof",
         log=log("Failed to retrieve ClassObject. Error code = WBEM_E_OUT_OF_MEMORY")),
    Case("object walk fails", ["Model_BadObject;A"],
         results('Model = "Failing"', 'A = "one"'), fixture="failures.mof",
         log=log("Failed to retrieving Service. Error code = WBEM_E_TRANSPORT_FAILURE")),
    Case("unnamed status", ["Model_UnknownCode;A"],
         results('Model = "Failing"'), fixture="failures.mof",
         log=log("Failed to retrieving Service. Error code = 0x8004102d")),
    Case("positive codes end walks quietly",
         ["Model_ShortObjects;A", "Model_ShortProperties;*"],
         results('Model = "Failing"', 'A = "kept"', 'A = "a1"', 'A = "a2"', 'B = "b2"'),
         fixture="failures.mof"),
    Case("log keeps every message",
         ["Model_BadObject;A", "Model_BadBegin;A", "Nothing;A", "Model_BadProperty;A,B,C"],
         results('Model = "Failing"', 'A = "one"', 'A = "first"', 'A = "a"'),
         fixture="failures.mof",
         log=log("Failed to retrieving Service. Error code = WBEM_E_TRANSPORT_FAILURE",
                 "Failed to start BeginEnumeration. Error code = WBEM_E_FAILED",
                 "Failed to execute the WMI Query: SELECT A FROM Nothing."
                 " Error code = WBEM_E_INVALID_CLASS",
                 "Failed to retrieve ClassObject. Error code = WBEM_E_OUT_OF_MEMORY")),

    # CD-ROM identifiers: shortened for the exact class text only.
    Case("CD-ROM identifiers", ["Win32_CDROMDrive;DeviceID"],
         results(MODEL, "DeviceID = VENDOR DVD-RW DRIVE X1 1.00", 'DeviceID = "%s"' % USB_DRIVE)),
    Case("CD-ROM, every property", ["Win32_CDROMDrive;*"],
         results(MODEL,
                 'Caption = "VENDOR DVD-RW DRIVE X1"', "DeviceID = VENDOR DVD-RW DRIVE X1 1.00",
                 'Drive = "D:"', "MediaLoaded = TRUE",
                 'Caption = "ACME USB DVD"', 'DeviceID = "%s"' % USB_DRIVE,
                 'Drive = "E:"', "MediaLoaded = FALSE")),
    Case("CD-ROM class in lower case", ["win32_cdromdrive;DeviceID"],
         results(MODEL, 'DeviceID = "%s"' % IDE_DRIVE, 'DeviceID = "%s"' % USB_DRIVE)),
    # The name that WMI returns decides, not the spelling asked for.
    Case("CD-ROM property in lower case", ["Win32_CDROMDrive;deviceid"],
         results(MODEL, "DeviceID = VENDOR DVD-RW DRIVE X1 1.00", 'DeviceID = "%s"' % USB_DRIVE)),

    # Every value type, as WMI hands it over.
    Case("value texts", ["Model_Values;*"], fixture="values.mof", txt=results(
        "Sint8 = 65535 (0xFFFF)",
        "Uint8Small = 31 (0x1F)",
        "Uint8Letter = 'A' (65, 0x41)",
        "Uint8High = '\u00c8' (200, 0xC8)",
        "Sint16 = 65534 (0xFFFE)",
        "Uint16 = 65535 (0xFFFF)",
        "Sint32 = -2147483648 (0x80000000)",
        "Uint32 = -1 (0xFFFFFFFF)",
        'Sint64 = "-9223372036854775808"',
        'Uint64 = "18446744073709551615"',
        "Real32 =     0.1000",
        "Real64 =    -2.2500",
        "Real64Wide = 123456789.1250",
        "IsTrue = TRUE",
        "IsFalse = FALSE",
        "Char16 = 65 (0x41)",
        'Text = "say "hi""',
        'Empty = ""',
        'Lines = "one\r\ntwo"',
        'Accented = "caf\u00e9"',
        'Installed = "20240102030405.000000+060"',
        'System = "Win32_ComputerSystem.Name="DESK-7""',
        "Embedded = <conversion error>",
        "Missing = <null>",
        "Unset = <null>",
        "Strings = ",
        "Numbers = ",
        "Reals = ",
        "Flags = ",
        "Bytes = ",
        "Bigs = ",
        "Objects = <conversion error>")),

    # The command line.
    Case("no requests", [], results(MODEL)),
    Case("request without property", ["Win32_CDROMDrive", "Win32_CDROMDrive;Drive"],
         results(MODEL, 'Drive = "D:"', 'Drive = "E:"'),
         stderr=[request_box("Win32_CDROMDrive - ")]),
    Case("leading semicolon", [";Model"], results(MODEL), stderr=[request_box("Model - ")]),
    Case("only semicolons", [";;;"], results(MODEL), stderr=[request_box(" - ")]),
    Case("doubled semicolon and third part", ["Win32_CDROMDrive;;Drive;Model"],
         results(MODEL, 'Drive = "D:"', 'Drive = "E:"')),
    Case("runs of spaces, same request twice",
         ["  Win32_CDROMDrive;Drive   Win32_CDROMDrive;Drive  "],
         results(MODEL, 'Drive = "D:"', 'Drive = "E:"', 'Drive = "D:"', 'Drive = "E:"')),
    Case("property list", ["Win32_CDROMDrive;Drive,Caption"],
         results(MODEL, 'Caption = "VENDOR DVD-RW DRIVE X1"', 'Drive = "D:"',
                 'Caption = "ACME USB DVD"', 'Drive = "E:"')),
    Case("quotes are text", ['"Win32_CDROMDrive;Drive"'], results(MODEL),
         log=log('Failed to execute the WMI Query: SELECT Drive" FROM "Win32_CDROMDrive.'
                 " Error code = WBEM_E_INVALID_QUERY")),
    Case("a tab belongs to the request", ["Win32_CDROMDrive;Drive\tCaption"], results(MODEL),
         log=log("Failed to execute the WMI Query: SELECT Drive\tCaption FROM Win32_CDROMDrive."
                 " Error code = WBEM_E_INVALID_QUERY")),
]


class WindowsDirectory:
    """A fresh Windows directory with the files of an earlier run."""

    def __init__(self, test, name="win"):
        self.root = tempfile.mkdtemp()
        test.addCleanup(self.remove)
        self.path = os.path.join(self.root, name)

    def make(self, previous=True):
        os.makedirs(self.path)
        if previous:
            self.write("Model.txt", PREVIOUS_TXT)
            self.write("Model.log", PREVIOUS_LOG)
        return self

    def write(self, name, data):
        write(os.path.join(self.path, name), data)

    def remove(self):
        for top, dirs, files in os.walk(self.root):
            for name in dirs + files:
                os.chmod(os.path.join(top, name), 0o700)
        shutil.rmtree(self.root)


class RunTest(unittest.TestCase):
    maxDiff = None

    def check(self, done, txt, log_bytes, code=0, stderr=()):
        self.assertEqual(
            dict(code=done.code, stderr=done.stderr, txt=done.txt, log=done.log),
            dict(code=code, stderr=list(stderr), txt=txt, log=log_bytes))

    def test_cases(self):
        for case in CASES:
            with self.subTest(case.name):
                windir = WindowsDirectory(self).make()
                done = run(windir.path, case.args, case.fixture, case.pragmas)
                self.check(done, case.txt, case.log, case.code, case.stderr)
                # Nothing but the two files is left behind.
                self.assertEqual(done.listing, ["Model.log", "Model.txt"])

    def test_first_run_creates_both_files(self):
        windir = WindowsDirectory(self).make(previous=False)
        done = run(windir.path, ["Nothing;A"])
        self.check(done, results(MODEL), log(
            "Failed to execute the WMI Query: SELECT A FROM Nothing."
            " Error code = WBEM_E_INVALID_CLASS"))

    def test_refused_repository(self):
        windir = WindowsDirectory(self).make()
        done = run(windir.path, [], "broken.mof")
        self.assertEqual(done.code, 1)
        self.assertEqual(done.txt, UNCHANGED)
        self.assertEqual(done.log, log("Failed to connect. Error code = 80041021"))
        self.assertEqual(len(done.stderr), 1)
        self.assertTrue(done.stderr[0].startswith(os.path.join(FIXTURES, "broken.mof") + ":4:"),
                        done.stderr)

    def test_read_only_results_are_replaced(self):
        windir = WindowsDirectory(self).make()
        txt = os.path.join(windir.path, "Model.txt")
        os.chmod(txt, 0o444)
        done = run(windir.path, [])
        self.check(done, results(MODEL), b"")
        self.assertTrue(os.stat(txt).st_mode & stat.S_IWUSR)
        self.assertEqual(done.listing, ["Model.log", "Model.txt"])

    def test_failed_write_keeps_previous_results(self):
        windir = WindowsDirectory(self).make()
        done = run(windir.path, ["Model_Values;*"], "values.mof", limit=200)
        self.check(done, UNCHANGED, b"", code=2,
                   stderr=["Can not write %s\\Model.txt" % windir.path])
        self.assertEqual(done.listing, ["Model.log", "Model.txt"])

    # valgrind (scripts/memcheck.sh) cannot start without room for its own
    # files.
    @unittest.skipIf(os.environ.get("MODEL_MEMCHECK") == "1", "no room for valgrind")
    def test_full_disk_one_box_per_cause(self):
        # Twenty messages that cannot be written: one box says so.
        windir = WindowsDirectory(self).make()
        done = run(windir.path, ["Nothing;A"] * 20, limit=0)
        self.check(done, UNCHANGED, b"", code=2, stderr=[
            "Can not write %s\\Model.log" % windir.path,
            "Can not write %s\\Model.txt" % windir.path])

    def test_no_room_for_the_temporary_name(self):
        # A Windows directory so long that Model.txt still fits below
        # MAX_PATH but no temporary name beside it does. Writing Model.txt in
        # place would leave half a file if the run died: the old results
        # stay, attributes included, and the exit code says so.
        windir = WindowsDirectory(self)
        windir.path = os.path.join(windir.root, "d" * (249 - len(windir.root) - 1))
        self.assertEqual(len(windir.path + "\\Model.txt"), 259)
        windir.make()
        os.chmod(os.path.join(windir.path, "Model.txt"), 0o444)
        done = run(windir.path, ["Win32_CDROMDrive;Drive"])
        self.check(done, UNCHANGED, b"", code=2,
                   stderr=["Can not open %s\\Model.txt" % windir.path])
        self.assertEqual(os.stat(os.path.join(windir.path, "Model.txt")).st_mode & 0o777, 0o444)
        self.assertEqual(done.listing, ["Model.log", "Model.txt"])

    def test_missing_windows_directory(self):
        windir = WindowsDirectory(self)
        # One box for the log, however many messages it missed.
        boxes = ["Can not open %s\\Model.log" % windir.path]
        done = run(windir.path, ["Nothing;A"] * 3)
        self.check(done, None, None, code=2,
                   stderr=boxes + ["Can not open %s\\Model.txt" % windir.path])
        done = run(windir.path, [], pragmas=(fail("ConnectServer", "0x80041003"),))
        self.check(done, None, None, code=1, stderr=boxes)

    def test_windows_directory_length(self):
        windir = WindowsDirectory(self)
        # 260 characters expand into the 261 bytes; the paths are then too
        # long to open.
        fits = "/" + "w" * 259
        done = run(fits, [], cwd=windir.root)
        self.check(done, None, None, code=2, stderr=[
            "Can not open %s\\Model.log" % fits, "Can not open %s\\Model.txt" % fits])
        # One more is an expansion that failed, not a cut path.
        done = run(fits + "w", ["Nothing;A"], cwd=windir.root)
        self.check(done, None, None, code=2, stderr=[
            "Can not expand environment string", "Can not open ",
            "Can not expand environment string"])
        self.assertEqual(os.listdir(windir.root), [])


if __name__ == "__main__":
    unittest.main()
