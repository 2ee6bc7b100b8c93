"""The README's sample Model.txt is what the program writes: its example
command runs over tests/fixtures/sample.mof, and the result must match the
sample that the README shows and explains line by line.
"""

import os
import re
import shlex
import unittest

import modeltest
from modeltest import FIXTURES, TESTS

README = os.path.join(TESTS, os.pardir, "README.md")
MARKER = "tests/readme_test.py"


def sample():
    """The example's arguments and the sample's lines, from the two code
    blocks that follow the marker in the README."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    blocks = re.findall(r"^```[a-z]*\n(.*?)^```$", text[text.index(MARKER):], re.M | re.S)
    command = shlex.split(blocks[0])
    assert command[0] == "model", command
    return command[1:], blocks[1].splitlines()


class ReadmeTest(unittest.TestCase):
    def test_sample_is_what_the_program_writes(self):
        args, lines = sample()
        done = modeltest.run(args, MODEL_WMI_REPOSITORY=os.path.join(FIXTURES, "sample.mof"))
        self.assertEqual((done.code, done.stderr), (0, b""))
        written = done.txt.decode()
        # An editor may drop the blank after " = " of a line without value.
        self.assertEqual([line.rstrip() for line in written.split("\r\n")],
                         [line.rstrip() for line in lines] + [""])


if __name__ == "__main__":
    unittest.main()
