"""Nothing lost: Model.txt and Model.log when runs fail, die, meet each
other, or find the Windows directory in an awkward state.

The promise checked here: Model.txt is replaced whole or not at all, keeps
its owner and permissions, and is written in place only where nothing else
can hold the results; the exit code says whether it was written (0) or not
(2); runs at the same time never tear each other's log messages; a killed
run's temporary file is removed by the next run, a live run's never. Cases
that run as another user need root; they are skipped otherwise.
"""

import glob
import os
import random
import shutil
import signal
import stat
import subprocess
import time
import unittest

from modeltest import AS_NOBODY, BIN, IS_ROOT, QUICK, environment, file_size_limit, read, \
    scratch, write

PREVIOUS = b'Model = "previous"\r\n'
SYSTEM_CLASS = (b"class Win32_ComputerSystem { string Model; };\n"
                b'instance of Win32_ComputerSystem { Model = "Contoso Desk 7"; };\n')
MODEL = b'Model = "Contoso Desk 7"\r\n'


def items(tag, count):
    """A repository of `count` instances named after `tag`, and the results
    of a run that asks for their names."""
    mof = SYSTEM_CLASS + b"class Item { string Name; };\n" + b"".join(
        b'instance of Item { Name = "%s%d"; };\n' % (tag, i) for i in range(count))
    txt = MODEL + b"".join(b'Name = "%s%d"\r\n' % (tag, i) for i in range(count))
    return mof, txt


class ModelRuns(unittest.TestCase):
    maxDiff = 4000

    def setUp(self):
        self.root = scratch(self, 0o755)
        self.windir = os.path.join(self.root, "win")
        self.txt = os.path.join(self.windir, "Model.txt")
        self.log = os.path.join(self.windir, "Model.log")
        self.repositories = {}

    def repository(self, tag, count):
        """Writes the repository once; returns its path and the results."""
        if (tag, count) not in self.repositories:
            mof, txt = items(tag, count)
            path = os.path.join(self.root, "%s%d.mof" % (tag.decode(), count))
            write(path, mof)
            os.chmod(path, 0o644)
            self.repositories[tag, count] = (path, txt)
        return self.repositories[tag, count]

    def env(self, repository):
        return environment(Windir=self.windir, MODEL_WMI_REPOSITORY=repository)

    def start(self, repository, args=("Item;Name",), prefix=(), limit=None):
        size_limit = file_size_limit(limit)

        def preexec():
            # The umask that protects nothing: what a file gets is the
            # program's choice alone.
            os.umask(0)
            if size_limit:
                size_limit()
        return subprocess.Popen(
            list(prefix) + [BIN] + list(args), env=self.env(repository),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)

    def run_model(self, repository, **kwargs):
        process = self.start(repository, **kwargs)
        _, err = process.communicate(timeout=60)
        return process.returncode, err.decode().splitlines()

    def fresh(self, mode=0o755):
        shutil.rmtree(self.windir, ignore_errors=True)
        os.mkdir(self.windir)
        os.chmod(self.windir, mode)
        write(self.txt, PREVIOUS)
        write(self.log, b"")

    def temporaries(self):
        return sorted(os.path.basename(p)
                      for p in glob.glob(os.path.join(self.windir, "Model.*.tmp")))

    def test_exit_code_and_where_results_go(self):
        repository, new = self.repository(b"n", 2000)
        half = len(new) // 2
        can_not_open = "Can not open %s\\Model.txt" % self.windir
        can_not_write = "Can not write %s\\Model.txt" % self.windir

        # name: (preparation, run as nobody, size limit, exit code, Model.txt
        # afterwards: "new", "old" or None, message boxes)
        cases = {
            "written": (None, False, None, 0, "new", []),
            "Windows directory missing":
                (lambda: shutil.rmtree(self.windir), False, None, 2, None,
                 ["Can not open %s\\Model.log" % self.windir, can_not_open]),
            "Model.txt is a directory":
                (lambda: (os.remove(self.txt), os.mkdir(self.txt)), False, None, 2, None,
                 [can_not_open]),
            "disk full": (None, False, half, 2, "old", [can_not_write]),
            # Earlier versions named their temporary files after the process
            # id and took the first free of 16; another user could take all
            # of them, and the run then wrote Model.txt in place.
            "old temporary names taken, disk full": ("old names", False, half, 2, "old",
                                                     [can_not_write]),
            "folder takes no new file, Model.txt writable":
                (lambda: os.chmod(self.txt, 0o666), True, None, 0, "new", []),
            "folder takes no new file, nor Model.txt": (None, True, None, 2, "old",
                                                        [can_not_open]),
            "folder takes no new file, Model.txt writable, disk full":
                (lambda: os.chmod(self.txt, 0o666), True, half, 2, None, [can_not_write]),
        }
        for name, (prepare, as_nobody, limit, code, txt, boxes) in cases.items():
            with self.subTest(name):
                if as_nobody and not IS_ROOT:
                    continue
                self.fresh()
                os.chmod(self.log, 0o666)
                inode = os.stat(self.txt).st_ino
                if callable(prepare):
                    prepare()
                prefix = AS_NOBODY if as_nobody else []
                if prepare == "old names":
                    # The shell takes the names in the Windows directory,
                    # then becomes the program, keeping its process id.
                    process = subprocess.Popen(
                        ["sh", "-c", "cd \"$1\" && shift && for i in $(seq 0 15); do"
                         " : > Model.$$.$i.tmp; done; exec \"$@\"", "sh", self.windir,
                         BIN, "Item;Name"],
                        env=self.env(repository), stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE, preexec_fn=file_size_limit(limit))
                    _, err = process.communicate(timeout=60)
                    got = (process.returncode, err.decode().splitlines())
                else:
                    got = self.run_model(repository, prefix=prefix, limit=limit)
                self.assertEqual(got, (code, boxes))
                expected = {"new": new, "old": PREVIOUS, None: None}[txt]
                if txt is not None or code == 0:
                    self.assertEqual(read(self.txt), expected)
                if os.path.isdir(self.windir):
                    self.assertEqual(self.temporaries(), [])
                if as_nobody and txt == "new":
                    # Written in place: the folder took no new file.
                    self.assertEqual(os.stat(self.txt).st_ino, inode)

    @unittest.skipUnless(IS_ROOT, "needs root")
    def test_permissions_of_the_results(self):
        repository, new = self.repository(b"p", 2000)
        # name: (owner, mode before, size limit, exit code, Model.txt, mode
        # afterwards); no owner: no Model.txt before
        cases = {
            "new file writable by its owner alone": (None, None, None, 0, new, 0o644),
            "owner and mode kept": ((1234, 1234), 0o600, None, 0, new, 0o600),
            "group-readable kept": ((0, 1234), 0o640, None, 0, new, 0o640),
            "read-only replaced, writable afterwards": ((0, 0), 0o444, None, 0, new, 0o644),
            "read-only kept by a failed run": ((0, 0), 0o444, 100, 2, PREVIOUS, 0o444),
        }
        for name, (owner, mode, limit, code, txt, after) in cases.items():
            with self.subTest(name):
                self.fresh()
                if owner:
                    os.chown(self.txt, *owner)
                    os.chmod(self.txt, mode)
                else:
                    os.remove(self.txt)
                got, _ = self.run_model(repository, limit=limit)
                st = os.stat(self.txt)
                self.assertEqual((got, read(self.txt), (st.st_uid, st.st_gid),
                                  stat.S_IMODE(st.st_mode)),
                                 (code, txt, owner or (0, 0), after))

    def test_runs_logging_at_once(self):
        # Two runs, each logging 5,000 failed queries, at the same time.
        # Every message in the log must be whole, and the run that emptied
        # the log last must find all of its own messages there.
        repository = os.path.join(self.root, "system.mof")
        write(repository, SYSTEM_CLASS)
        count = 200 if QUICK else 5000
        message = (b"Failed to execute the WMI Query: SELECT X FROM %s."
                   b" Error code = WBEM_E_INVALID_CLASS")
        # Of two lengths, so that a message written over another tears it.
        tags = (b"Absent", b"Absent_Too")
        for attempt in range(1 if QUICK else 3):
            with self.subTest(attempt=attempt):
                self.fresh()
                runs = [self.start(repository, args=[tag.decode() + ";X"] * count)
                        for tag in tags]
                for process in runs:
                    _, err = process.communicate(timeout=60)
                    self.assertEqual((process.returncode, err), (0, b""))
                log = read(self.log)
                self.assertNotIn(b"\0", log)
                self.assertTrue(log.endswith(b"\r\n\r\n"), log[-200:])
                found = log[:-4].split(b"\r\n\r\n")
                whole = {message % tag: tag for tag in tags}
                torn = [m for m in found if m not in whole]
                self.assertEqual(torn, [])
                counts = sorted(found.count(message % tag) for tag in tags)
                self.assertEqual(counts[1], count, counts)

    def test_killed_runs(self):
        # Runs killed at random moments: Model.txt is always the results of
        # a complete run, and the next complete run leaves no temporary file.
        repositories = [self.repository(tag, 1000 if QUICK else 10000)
                        for tag in (b"a", b"b")]
        self.fresh()
        started = time.monotonic()
        self.assertEqual(self.run_model(repositories[0][0]), (0, []))
        duration = time.monotonic() - started
        previous = read(self.txt)
        moments = random.Random(11)
        for kill in range(5 if QUICK else 100):
            repository, new = repositories[kill % 2]
            process = self.start(repository)
            time.sleep(moments.uniform(0, duration))
            process.kill()
            process.communicate()
            now = read(self.txt)
            self.assertIn(now, (previous, new), "kill %d" % kill)
            previous = now
        self.assertEqual(self.run_model(repositories[1][0]), (0, []))
        self.assertEqual(read(self.txt), repositories[1][1])
        self.assertEqual(sorted(os.listdir(self.windir)), ["Model.log", "Model.txt"])

    def test_live_runs_file_is_kept(self):
        # A run stopped while it writes its temporary file is alive: another
        # run must leave that file alone, and the first run then completes.
        big, big_txt = self.repository(b"big", 5000 if QUICK else 60000)
        small, small_txt = self.repository(b"small", 10)
        self.fresh()
        # The results are as private as the file they replace from their
        # first byte on.
        os.chmod(self.txt, 0o600)
        for attempt in range(20):
            first = self.start(big)
            self.addCleanup(first.kill)
            # Watch for the temporary file, then stop the run at once.
            while first.poll() is None and not self.temporaries():
                pass
            first.send_signal(signal.SIGSTOP)
            held = self.temporaries()
            if held:
                mode = os.stat(os.path.join(self.windir, held[0])).st_mode
                self.assertEqual(stat.S_IMODE(mode), 0o600)
                break
            first.send_signal(signal.SIGCONT)
            first.communicate()
        else:
            self.fail("no run was caught writing its temporary file")
        self.assertEqual(self.run_model(small), (0, []))
        self.assertEqual(read(self.txt), small_txt)
        self.assertEqual(self.temporaries(), held)
        first.send_signal(signal.SIGCONT)
        _, err = first.communicate(timeout=60)
        self.assertEqual((first.returncode, err), (0, b""))
        self.assertEqual(read(self.txt), big_txt)
        self.assertEqual(self.temporaries(), [])


if __name__ == "__main__":
    unittest.main()
