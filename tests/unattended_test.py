"""Runs where nobody could answer a message box: standard error closed or
the null device, the stand-in's invisible window station. Each box's text
then goes to Model.log, and the run goes on as if OK had been pressed.
"""

import os
import subprocess
import tempfile
import unittest

import modeltest
from modeltest import BIN, EXE, MACHINE_MOF

MODEL = b'Model = "Contoso Desk 7"\r\n'
UNSHOWN = b"Message box (not shown, no interactive desktop): "

# (name, arguments, where standard error goes, Windows directory exists,
#  exit code, Model.log, Model.txt)
CASES = [
    ("bad request, stderr null", ["Win32_CDROMDrive"], subprocess.DEVNULL, True,
     0, UNSHOWN + EXE.encode() + b": Win32_CDROMDrive - \r\n", MODEL),
    ("bad request, stderr closed", ["Win32_BIOS"], "closed", True,
     0, UNSHOWN + EXE.encode() + b": Win32_BIOS - \r\n", MODEL),
    # Neither the log nor the results can be written: the messages go to
    # syslog and the run still ends.
    ("no Windows directory", ["Win32_BIOS"], subprocess.DEVNULL, False,
     2, None, None),
]


def run(args, stderr, windir):
    """Runs the program with `stderr`: a subprocess constant or "closed"."""
    closed = stderr == "closed"
    done = subprocess.run(
        [BIN, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=None if closed else stderr, timeout=60,
        preexec_fn=(lambda: os.close(2)) if closed else None,
        env=modeltest.environment(Windir=windir, MODEL_WMI_REPOSITORY=MACHINE_MOF))
    return done.returncode


class UnattendedTest(unittest.TestCase):
    def test_boxes_go_to_the_log(self):
        for name, args, stderr, exists, code, log, txt in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as top:
                windir = top if exists else os.path.join(top, "missing")
                self.assertEqual(
                    (run(args, stderr, windir),
                     modeltest.read(os.path.join(windir, "Model.log")),
                     modeltest.read(os.path.join(windir, "Model.txt"))),
                    (code, log, txt))


if __name__ == "__main__":
    unittest.main()
