"""The Linux programs' own options: model's --help, -h, /? and --version, and
model-capture's --help and --version, answer on standard output and leave
the current directory (and model's Windows directory) alone; every other
argument of model, however much it looks like an option, is a request as on
Windows.
"""

import os
import subprocess
import tempfile
import unittest

import modeltest
from modeltest import BIN, CAPTURE, MACHINE_MOF


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
                (["/?"], usage),
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

    def test_capture_tool_answers_without_a_capture(self):
        version = r"model-capture \d+\.\d+\.\d+\n$"
        for args, expected in [(["--help"], r"Usage: model-capture "), (["--version"], version),
                               (["-o", "out.mof", "Win32_BIOS", "--version"], version)]:
            with self.subTest(args), tempfile.TemporaryDirectory() as cwd:
                done = subprocess.run([CAPTURE, *args], cwd=cwd, capture_output=True)
                self.assertRegex(done.stdout.decode(), "^" + expected)
                self.assertEqual((done.returncode, done.stderr, os.listdir(cwd)), (0, b"", []))


if __name__ == "__main__":
    unittest.main()
