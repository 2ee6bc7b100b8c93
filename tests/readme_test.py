"""The README's sample Model.txt is what the program writes: its example
command runs over tests/fixtures/sample.mof, and the result must match the
sample that the README shows and explains line by line. The classes that the
README and the manual pages say the Linux build serves are the ones it does.
"""

import os
import re
import shlex
import unittest

import modeltest
from modeltest import FIXTURES, TESTS

README = os.path.join(TESTS, os.pardir, "README.md")
MARKER = "tests/readme_test.py"
# Where each document lists the served classes: the text between two marks,
# and the pattern of a class name in it.
CLASS_LISTS = [
    ("README.md", "### Classes served on Linux", "\n#", r"^\| `(\w+)`"),
    ("packaging/man/model.1.in", "(the classes ", ")", r"\w+_\w+"),
    ("packaging/man/model-capture.1.in", "are captured: ", ".\n", r"\w+_\w+"),
]


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

    def test_documented_classes_are_the_served_ones(self):
        served = modeltest.default_classes()
        for path, start, end, name in CLASS_LISTS:
            with self.subTest(path), open(os.path.join(TESTS, os.pardir, path),
                                          encoding="utf-8") as f:
                text = f.read()
                text = text[text.index(start) + len(start):]
                text = text[:text.index(end)]
                self.assertEqual(re.findall(name, text, re.M), served)


if __name__ == "__main__":
    unittest.main()
