"""The Linux program's own options: --help, -h and --version answer on
standard output and leave the Windows directory alone; every other argument,
however much it looks like an option, is a request as on Windows.
"""

import os
import subprocess
import tempfile
import unittest

BIN = os.environ.get("MODEL_BIN", "")
TESTS = os.environ.get("MODEL_TESTS_DIR", os.path.dirname(os.path.abspath(__file__)))
REPOSITORY = os.path.join(TESTS, "fixtures", "machine.mof")


def run(args):
    """Runs the program in an empty Windows directory; returns the exit code,
    standard output, standard error and the files the run left there."""
    with tempfile.TemporaryDirectory() as windir:
        env = {k: v for k, v in os.environ.items() if k.lower() != "windir"}
        env.update(Windir=windir, MODEL_WMI_REPOSITORY=REPOSITORY)
        done = subprocess.run([BIN] + args, env=env, cwd=windir, capture_output=True,
                              timeout=60)
        return (done.returncode, done.stdout.decode(), done.stderr.decode(),
                sorted(os.listdir(windir)))


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
