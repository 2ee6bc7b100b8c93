"""Model.exe under Wine while another program holds one of its files open,
the way inventory agents, virus scanners and a second run do.

holdfile.exe (built beside Model.exe, test-only) opens the file with a given
access and share mode, runs Model.exe while the file stays open and returns
its exit code. Expected results come from a run with nothing held.
"""

import glob
import os
import unittest

from winerun import (EXE, LOG, RESULTS, RESULTS_WINDOWS_PATH, WINDOWS_DIR,
                     attributes, read, wine, write)

HOLDFILE = os.environ["MODEL_HOLDFILE"]
STALE_RESULTS = b'Model = "left by an earlier run"\r\n'
STALE_LOG = b"Failed to connect. Error code = 80041003\r\n\r\n"
BAD_QUERY = "Win32_ComputerSystem;Model,"
BAD_QUERY_LOG = (b"Failed to execute the WMI Query: SELECT Model, FROM "
                 b"Win32_ComputerSystem. Error code = WBEM_E_INVALID_QUERY"
                 b"\r\n\r\n")


def windows_path(path):
    """A Unix path as Wine's drive Z: shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def in_windows_dir(name):
    return "C:\\windows\\" + name


class SharingUnderWine(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        write(RESULTS, STALE_RESULTS)
        code, out, err = wine([EXE])
        assert code == 0, (out + err).decode("latin-1")
        cls.results = read(RESULTS)

    def setUp(self):
        write(RESULTS, STALE_RESULTS)
        write(LOG, STALE_LOG)
        self.addCleanup(self.remove_temporaries)

    def remove_temporaries(self):
        # Wine's ReplaceFile moves the replaced file to an rf*.tmp name of
        # its own first and leaves that file behind when the move fails.
        for pattern in ("Model.*.tmp", "rf*.tmp"):
            for path in glob.glob(os.path.join(WINDOWS_DIR, pattern)):
                os.remove(path)

    def hold(self, access, share, name, args=()):
        """Runs Model.exe while holdfile holds C:\\windows\\`name`."""
        code, out, err = wine([HOLDFILE, access, share, in_windows_dir(name),
                               windows_path(EXE)] + list(args))
        self.assertLess(code, 120, (out + err).decode("latin-1"))
        return code

    def test_results_held_by_a_reader_are_written_in_place(self):
        # The reader shares reading and writing but not deleting, as the C
        # runtime does: Model.txt cannot be replaced, only rewritten.
        self.assertEqual(self.hold("r", "rw", "Model.txt"), 0)
        self.assertEqual(read(RESULTS), self.results)

    def test_log_held_by_another_writer(self):
        # A second run, or a tool that rotates logs, has Model.log open for
        # writing; each message is still appended.
        self.assertEqual(self.hold("rw", "rw", "Model.log", [BAD_QUERY]), 0)
        self.assertEqual(read(LOG), BAD_QUERY_LOG)

    def test_only_dead_runs_temporary_files_are_removed(self):
        live = "Model.0123456789ABCDEF.tmp"
        dead = ["Model.FEDCBA9876543210.tmp", "Model.4242.0.tmp"]
        for name in [live] + dead:
            write(os.path.join(WINDOWS_DIR, name), b"partial")
        # A live run writes its file without sharing deletion.
        self.assertEqual(self.hold("w", "r", live), 0)
        self.assertEqual(read(RESULTS), self.results)
        left = sorted(os.path.basename(p)
                      for p in glob.glob(os.path.join(WINDOWS_DIR, "Model.*.tmp")))
        self.assertEqual(left, [live])

    def test_failed_run_keeps_attributes(self):
        wine(["cmd", "/c", "attrib", "+r", RESULTS_WINDOWS_PATH])
        self.assertIn("R", attributes(RESULTS_WINDOWS_PATH))
        # Held with no sharing at all: neither replacing nor writing works.
        self.assertEqual(self.hold("r", "0", "Model.txt"), 2)
        self.assertEqual(read(RESULTS), STALE_RESULTS)
        self.assertIn("R", attributes(RESULTS_WINDOWS_PATH))

    def test_files_with_a_second_name_are_left_alone(self):
        # A hard link may make Model.txt or Model.log another name for
        # someone else's file: Wine counts the names as Windows does.
        victim = os.path.join(os.path.dirname(WINDOWS_DIR), "victim.txt")
        self.addCleanup(os.remove, victim)
        for path, code in ((RESULTS, 2), (LOG, 0)):
            with self.subTest(os.path.basename(path)):
                write(victim, b"someone else's")
                os.remove(path)
                os.link(victim, path)
                self.assertEqual(wine([EXE])[0], code)
                self.assertEqual(read(victim), b"someone else's")
                os.remove(path)


if __name__ == "__main__":
    unittest.main(verbosity=2)
