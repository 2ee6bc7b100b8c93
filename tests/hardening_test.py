"""Bad input and output faults, end to end.

Each run ends with a clear error or a correct result: never a crash, a hang,
a partial Model.txt or a temporary file left behind. Big inputs are made at
test time. With MODEL_MEMCHECK=1 (scripts/memcheck.sh runs the program under
valgrind, the asan test preset under AddressSanitizer) the inputs are
smaller, since the point there is memory errors, not size.
"""

import os
import resource
import subprocess
import unittest

import modeltest
from modeltest import BIN, MACHINE_MOF, QUICK, SANITIZED, Run, environment, read, scratch, write

EXE = modeltest.EXE.encode()
TIMEOUT = 600 if QUICK else 60

PREVIOUS_TXT = b'Model = "previous"\r\n'
MODEL = b'Model = "Contoso Desk 7"'
DRIVES = [b'Drive = "D:"', b'Drive = "E:"']
CONNECT_REFUSED = b"Failed to connect. Error code = 80041021\r\n\r\n"
SYSTEM_CLASS = (b"class Win32_ComputerSystem { string Model; };\n"
                b'instance of Win32_ComputerSystem { Model = "Contoso Desk 7"; };\n')


def lines(*items):
    return b"".join(item + b"\r\n" for item in items)


def query_failed(query, status):
    return b"Failed to execute the WMI Query: %s. Error code = %s\r\n\r\n" % (query, status)


class HardeningTest(unittest.TestCase):
    maxDiff = 2000

    def setUp(self):
        self.root = scratch(self)
        self.windir = os.path.join(self.root, "win")
        os.mkdir(self.windir)

    def fresh(self):
        """Puts back the results and log of an earlier run."""
        for name in os.listdir(self.windir):
            os.unlink(os.path.join(self.windir, name))
        for name, data in (("Model.txt", PREVIOUS_TXT), ("Model.log", b"old\r\n")):
            write(os.path.join(self.windir, name), data)

    def repository(self, data, name="repo.mof"):
        path = os.path.join(self.root, name)
        write(path, data)
        return path

    def run_model(self, args, repository=MACHINE_MOF, limit=None):
        self.fresh()
        run = modeltest.run(args, self.windir, limit=limit, timeout=TIMEOUT,
                            MODEL_WMI_REPOSITORY=repository)
        self.assertIn(run.code, (0, 1, 2), run.stderr[-2000:])
        self.assertEqual(run.listing, ["Model.log", "Model.txt"])
        return run

    def assertResult(self, run, txt, log=b"", stderr=b""):
        self.assertEqual((run.code, run.stderr, run.log), (0, stderr, log))
        self.assertEqual(run.txt, txt)

    def assertRefused(self, run, repository):
        """A repository that the service refuses: the connection fails, the
        earlier results stay, and standard error says where the file is
        wrong."""
        self.assertEqual((run.code, run.txt, run.log), (1, PREVIOUS_TXT, CONNECT_REFUSED))
        self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)
        self.assertRegex(run.stderr, rb"^%s:\d+:\d+: .+\n$" % repository.encode())

    # Bad input on the command line.

    def test_requests_of_100000_bytes(self):
        size = 100000
        prefix = b"Win32_CDROMDrive;"
        # A property list that long, naming one property again and again.
        listed = prefix + b"Drive," * ((size - len(prefix)) // 6)
        listed += b"Drive"[:size - len(listed)]
        self.assertEqual(len(listed), size)
        run = self.run_model([listed])
        self.assertResult(run, lines(MODEL, *DRIVES))

        # A property and a class of that length are errors, logged whole.
        name = b"A" * (size - len(prefix))
        run = self.run_model([prefix + name])
        self.assertResult(run, lines(MODEL), query_failed(
            b"SELECT %s FROM Win32_CDROMDrive" % name, b"WBEM_E_INVALID_QUERY"))
        run = self.run_model([name + b";Drive"])
        self.assertResult(run, lines(MODEL), query_failed(
            b"SELECT Drive FROM %s" % name, b"WBEM_E_INVALID_CLASS"))

    def test_50000_requests(self):
        count = 1000 if QUICK else 50000
        run = self.run_model([b"Win32_CDROMDrive;Drive"] * count)
        self.assertResult(run, lines(MODEL, *(DRIVES * count)))

    def test_every_byte_on_the_command_line(self):
        every = bytes(range(1, 256))
        # The space splits it in two requests: the first has no semicolon,
        # the second is a class and a property that WQL refuses.
        first, second = every.split(b" ")
        cls, prop = second.split(b";")
        run = self.run_model([every])
        self.assertResult(
            run, lines(MODEL),
            query_failed(b"SELECT %s FROM %s" % (prop, cls), b"WBEM_E_INVALID_QUERY"),
            EXE + b": " + first + b" - \n")

        # Each byte as a class of its own: one failed query per byte, except
        # the semicolon, whose request has no property left.
        requests = [bytes([b]) + b";Model" for b in range(1, 256) if b != 32]
        run = self.run_model(requests)
        self.assertEqual((run.code, run.txt), (0, lines(MODEL)))
        self.assertEqual(run.stderr, EXE + b": Model - \n")
        self.assertEqual(run.log.count(b"Failed to execute the WMI Query: SELECT Model FROM "),
                         len(requests) - 1)

    # Bad and big repositories.

    def test_repository_of_100000_instances(self):
        count = 2000 if QUICK else 100000
        items = b"".join(b'instance of Item { Id = %d; Name = "item %d"; };\n' % (i, i)
                         for i in range(count))
        repository = self.repository(
            SYSTEM_CLASS + b"class Item { [key] uint32 Id; string Name; };\n" + items)
        run = self.run_model([b"Item;Name"], repository)
        self.assertResult(run, lines(MODEL, *(b'Name = "item %d"' % i for i in range(count))))

    def test_string_value_of_10_megabytes(self):
        size = 100000 if QUICK else 10 * 1000 * 1000
        pattern = "abcdefgh\u00e9\u20ac".encode()  # one- to three-byte characters
        text = (pattern * (size // len(pattern) + 1))[:size - size % len(pattern)]
        repository = self.repository(
            SYSTEM_CLASS + b'class Big { string Text; };\ninstance of Big { Text = "%s"; };\n'
            % text)
        run = self.run_model([b"Big;Text"], repository)
        self.assertResult(run, lines(MODEL, b'Text = "%s"' % text))

    def test_invalid_utf8_in_strings(self):
        valid = self.repository(SYSTEM_CLASS.replace(b"Desk", b"D\xc3\xa9sk"))
        self.assertResult(self.run_model([], valid), lines(MODEL.replace(b"Desk", b"D\xc3\xa9sk")))
        # A file that is not UTF-8 is Windows-1252 text, as the files that
        # Western Windows systems write without a byte order mark are; the
        # five bytes that code page leaves out stand for the C1 controls.
        def windows_1252(data):
            return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D)
                           else bytes([b]).decode("cp1252") for b in data)
        cases = {
            "stray byte": b"D\xffsk",
            "lead byte without its trail": b"D\xc3sk",
            "overlong slash": b"D\xc0\xafsk",
            "surrogate half": b"D\xed\xa0\x80sk",
            "beyond U+10FFFF": b"D\xf4\x90\x80\x80sk",
            "cut by the closing quote": b"Desk 7\xe2\x82",
        }
        for name, bad in cases.items():
            with self.subTest(name):
                target = b"Desk 7" if bad.startswith(b"Desk 7") else b"Desk"
                repository = self.repository(SYSTEM_CLASS.replace(target, bad))
                read = MODEL.replace(target, windows_1252(bad).encode())
                self.assertResult(self.run_model([], repository), lines(read))

    def test_injected_success_is_refused(self):
        # A call that "fails" with a success code would hand out no object
        # to a caller that relies on one: such a file is refused where the
        # code stands, and the program runs on nothing.
        for operation in ("OleInitialize", "CoInitializeSecurity", "CoCreateInstance",
                          "ConnectServer", "ExecQuery"):
            for code in (b"0", b"1", b"0x7FFFFFFF"):
                with self.subTest(operation=operation, code=code):
                    repository = self.repository(
                        b'#pragma fail("%s", %s)\n' % (operation.encode(), code) + SYSTEM_CLASS)
                    run = self.run_model([], repository)
                    self.assertRefused(run, repository)
                    self.assertIn(b":1:%d: expected a failure code" % (18 + len(operation)),
                                  run.stderr)

    def test_source_that_is_no_regular_file(self):
        # Refused at once: reading /dev/zero would never end and a FIFO
        # would wait for a writer for ever; a machine tree that is no folder
        # would answer nothing.
        fifo = os.path.join(self.root, "repo.fifo")
        os.mkfifo(fifo)
        repository, tree = "MODEL_WMI_REPOSITORY", "MODEL_FS_ROOT"
        for source, path, reason in (
                (repository, b"/dev/zero", b"not a regular file"),
                (repository, fifo.encode(), b"not a regular file"),
                (repository, self.root.encode(), b"Is a directory"),
                (tree, fifo.encode(), b"Not a directory"),
                (tree, self.root.encode() + b"/missing", b"No such file or directory")):
            with self.subTest(path=path):
                self.fresh()
                run = modeltest.run([], self.windir, **{source: path.decode()})
                self.assertEqual((run.code, run.txt, run.stderr),
                                 (1, PREVIOUS_TXT, path + b": " + reason + b"\n"))
                self.assertEqual(run.log, b"Failed to connect. Error code = 8004100E\r\n\r\n")

    @unittest.skipIf(QUICK or SANITIZED,
                     "valgrind and the sanitizers reserve more address space than this")
    def test_repository_larger_than_memory(self):
        # Running out of memory while reading is an answer of the service,
        # WBEM_E_OUT_OF_MEMORY, never an exception that ends the program.
        items = b"".join(b'instance of Item { Id = %d; Name = "item %d of many"; };\n' % (i, i)
                         for i in range(300000))
        repository = self.repository(
            SYSTEM_CLASS + b"class Item { [key] uint32 Id; string Name; };\n" + items)

        def small_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (64 << 20, 64 << 20))
        self.fresh()
        done = subprocess.run([BIN], env=environment(Windir=self.windir,
                                                     MODEL_WMI_REPOSITORY=repository),
                              capture_output=True, timeout=TIMEOUT,
                              preexec_fn=small_address_space)
        run = Run(done, self.windir)
        self.assertEqual((run.code, run.txt, run.stderr),
                         (1, PREVIOUS_TXT, repository.encode() + b": out of memory\n"))
        self.assertEqual(run.log, b"Failed to connect. Error code = 80041006\r\n\r\n")

    def test_truncated_repository(self):
        whole = read(MACHINE_MOF)
        args = [b"Win32_CDROMDrive;*"]
        complete = self.run_model(args)
        self.assertEqual(complete.code, 0)
        all_lines = complete.txt.split(b"\r\n")
        no_system = query_failed(b"SELECT Model FROM Win32_ComputerSystem",
                                 b"WBEM_E_INVALID_CLASS")
        no_drives = query_failed(b"SELECT * FROM Win32_CDROMDrive", b"WBEM_E_INVALID_CLASS")
        texts = [("UTF-8", whole, 1)]
        texts.append(("UTF-16", b"\xff\xfe" + whole.decode().encode("utf-16-le"), 3))
        for encoding, text, step in texts:
            step *= 29 if QUICK else 1
            for cut in range(0, len(text), step):
                with self.subTest(encoding=encoding, cut=cut):
                    repository = self.repository(text[:cut])
                    run = self.run_model(args, repository)
                    if run.code == 1:
                        self.assertRefused(run, repository)
                        continue
                    # A cut between two whole statements is a smaller
                    # repository: its lines are some of the whole file's,
                    # in the same order, each complete; a cut before a
                    # class makes the queries for it fail.
                    self.assertEqual(run.stderr, b"")
                    self.assertIn(run.log, (b"", no_drives, no_system + no_drives))
                    self.assertTrue(run.txt == b"" or run.txt.endswith(b"\r\n"))
                    got = run.txt.split(b"\r\n")[:-1]
                    position = 0
                    for line in got:
                        self.assertIn(line, all_lines[position:], run.txt)
                        position = all_lines.index(line, position) + 1

    # Faults in the output.

    def test_results_write_failing_part_way(self):
        count = 500 if QUICK else 20000
        items = b"".join(b'instance of Item { Name = "item %d"; };\n' % i for i in range(count))
        repository = self.repository(SYSTEM_CLASS + b"class Item { string Name; };\n" + items)
        expected = lines(MODEL, *(b'Name = "item %d"' % i for i in range(count)))
        failed = b"Can not write %s\\Model.txt\n" % self.windir.encode()
        # valgrind writes files of its own at start-up, so it needs a few
        # bytes of the limit.
        limits = (4096,) if QUICK else (0, 1, 4096)
        for limit in limits + (len(expected) // 2, len(expected) - 1):
            with self.subTest(limit=limit):
                run = self.run_model([b"Item;Name"], repository, limit=limit)
                self.assertEqual((run.code, run.stderr, run.txt), (2, failed, PREVIOUS_TXT))
        run = self.run_model([b"Item;Name"], repository, limit=len(expected))
        self.assertResult(run, expected)

    def test_two_runs_at_once(self):
        count = 200 if QUICK else 20000
        expected, repositories = [], []
        for tag in (b"a", b"b"):
            items = b"".join(b'instance of Item { Name = "%s%d"; };\n' % (tag, i)
                             for i in range(count))
            repositories.append(self.repository(
                SYSTEM_CLASS + b"class Item { string Name; };\n" + items, tag.decode() + ".mof"))
            expected.append(lines(MODEL, *(b'Name = "%s%d"' % (tag, i) for i in range(count))))
        for attempt in range(3 if QUICK else 10):
            with self.subTest(attempt=attempt):
                self.fresh()
                runs = [subprocess.Popen([BIN, "Item;Name"],
                                         env=environment(Windir=self.windir,
                                                         MODEL_WMI_REPOSITORY=r),
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                        for r in repositories]
                for p in runs:
                    _, err = p.communicate(timeout=TIMEOUT)
                    self.assertEqual((p.returncode, err), (0, b""))
                self.assertEqual(sorted(os.listdir(self.windir)), ["Model.log", "Model.txt"])
                self.assertIn(read(os.path.join(self.windir, "Model.txt")), expected)


if __name__ == "__main__":
    unittest.main()
