"""Runs where nobody could answer a message box (the stand-in's invisible
window station: standard error closed or the null device): each box's text
goes to Model.log, or to syslog when the log cannot be written, and the run
goes on as if OK had been pressed.
"""

import os
import subprocess
import tempfile
import unittest

import modeltest
from modeltest import BIN, EXE, MACHINE_MOF

LINE = b"Message box (not shown, no interactive desktop): " + EXE.encode() + b": %s - \r\n"
MODEL = b'Model = "Contoso Desk 7"\r\n'
CLOSE_STDERR = lambda: os.close(2)  # noqa: E731

# (request, standard error, Windows directory exists, exit code, Model.log, Model.txt)
CASES = [("Win32_CDROMDrive", subprocess.DEVNULL, True, 0, LINE % b"Win32_CDROMDrive", MODEL),
         ("Win32_BIOS", CLOSE_STDERR, True, 0, LINE % b"Win32_BIOS", MODEL),
         ("Win32_BIOS", subprocess.DEVNULL, False, 2, None, None)]
# valgrind (scripts/memcheck.sh) opens files of its own in the program's
# place, one of which takes the closed descriptor 2.
if os.environ.get("MEMCHECK_LOGS"):
    CASES = [case for case in CASES if case[1] is not CLOSE_STDERR]


class UnattendedTest(unittest.TestCase):
    def test_boxes_go_to_the_log(self):
        for request, stderr, exists, *expected in CASES:
            with self.subTest((request, exists)), tempfile.TemporaryDirectory() as top:
                windir = top if exists else os.path.join(top, "missing")
                closed = callable(stderr)
                done = subprocess.run(
                    [BIN, request], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=None if closed else stderr, preexec_fn=stderr if closed else None,
                    env=modeltest.environment(Windir=windir, MODEL_WMI_REPOSITORY=MACHINE_MOF),
                    timeout=60)
                self.assertEqual([done.returncode] + [modeltest.read(os.path.join(windir, name))
                                                      for name in ("Model.log", "Model.txt")],
                                 expected)


if __name__ == "__main__":
    unittest.main()
