"""The Linux program's own options: --help, -h and --version answer on
standard output and leave the Windows directory alone; every other argument,
however much it looks like an option, is a request as on Windows.
"""

import os
import tempfile
import unittest

import modeltest
from modeltest import BIN, MACHINE_MOF


def run(args):
    """Runs the program in an empty Windows directory; returns the exit code,
    standard output, standard error and the files the run left there."""
    with tempfile.TemporaryDirectory() as windir:
        done = modeltest.run(args, windir, cwd=windir, MODEL_WMI_REPOSITORY=MACHINE_MOF)
        return done.code, done.stdout.decode(), done.stderr.decode(), done.listing


class OptionsTest(unittest.TestCase):
    def test_options_answer_without_a_run(self):
        usage = r"Usage: model \[REQUEST\.\.\.\]\n(.*\n)*.*man model"
        for args, expected in [
                (["--help"], usage),
                (["-h"], usage),
                (["--version"], r"model \d+\.\d+\.\d+\n"),
                # Wherever it stands, and help before the version.
                (["Win32_CDROMDrive;Drive", "--help"], usage),
                (["--version", "-h"], usage)]:
            with self.subTest(args):
                code, out, err, files = run(args)
                self.assertRegex(out, "^" + expected)
                self.assertEqual((code, err, files), (0, "", []))

    def test_other_dashes_are_requests(self):
        for arg in ["-help", "--Help", "-H", "--", "-"]:
            with self.subTest(arg):
                code, out, err, files = run([arg])
                self.assertEqual((code, out, err.splitlines(), files),
                                 (0, "", [os.path.realpath(BIN) + ": " + arg + " - "],
                                  ["Model.log", "Model.txt"]))


if __name__ == "__main__":
    unittest.main()
