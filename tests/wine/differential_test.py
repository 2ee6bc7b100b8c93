"""Odd requests answered both ways: Model.exe under Wine, and the Linux
build replaying a capture of the same prefix, must leave the same Model.txt
(Model.exe's after its one conversion from the ANSI code page) and the same
Model.log, with the same exit code. A row that Wine answers unlike Windows
carries the reason, and there the two must differ: the replay answers as
Windows does, and a mark that no longer holds is found.
"""

import os
import re
import sys
import unittest

from winerun import LOG, RESULTS, EXE, read, wine
from capture_test import NATIVE, VOLATILE, capture, replay

# Captured from the prefix: every class a row names, except the unknown ones.
CLASSES = ["Win32_ComputerSystem", "Win32_BIOS", "Win32_Processor",
           "CIM_Processor", "Win32_Service", "Win32_Printer",
           "CIM_LogicalDevice"]

NO_SUCH_CLASS = ("Wine answers a class it does not know with nothing; "
                 "Windows fails the query with WBEM_E_INVALID_CLASS")
NO_SUCH_PROPERTY = ("Wine accepts a property the class does not have; "
                    "Windows fails the query with WBEM_E_INVALID_QUERY")

# The requests of one run, and why Wine departs from Windows, if it does.
ROWS = [
    (["Win32_BIOS;__GENUS,Name"], None),
    (["Win32_BIOS;__CLASS"], None),
    (["Win32_BIOS;__PATH,__RELPATH,__SERVER,__NAMESPACE,__DERIVATION,"
      "__DYNASTY,__SUPERCLASS,__PROPERTY_COUNT"], None),
    (["Win32_BIOS;__class,name"], None),
    (["win32_bios;NAME,serialnumber"], None),
    (["Win32_BIOS;Name,Name,name"], None),
    (["Win32_BIOS;*"], None),
    (["Win32_Service;__RELPATH"], None),
    (["Win32_Processor;Name,__PATH"], None),
    (["CIM_Processor;Name"], None),
    # The capture finds the class (Wine's query succeeds) but, with no
    # instance, not its properties, so the replay refuses DeviceID.
    (["CIM_LogicalDevice;DeviceID"], NO_SUCH_CLASS),
    (["Win32_Printer;*"], None),
    (["Win32_BIOS;NoSuchProperty"], NO_SUCH_PROPERTY),
    (["Win32_BIOS;Name,NoSuchProperty"], NO_SUCH_PROPERTY),
    (["Win32_NoSuchClass;Name"], NO_SUCH_CLASS),
    (["Win32_BIOS;"], None),
    ([";Name"], None),
    (["Win32_BIOS;,Name"], None),
    (["Win32_BIOS;Name", "Win32_BIOS;Name;Extra", "Win32_Processor;Name"],
     None),
    (["Win32_BIOS;Name", "Win32_NoSuchClass;Name", "Win32_Processor;Name"],
     NO_SUCH_CLASS),
]


def normal(text):
    return VOLATILE.sub(rb"\1...", text)


class Differential(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        code, err, cls.repository = capture("differential.mof", CLASSES)
        if code != 0 or err:
            raise AssertionError(f"ModelCapture.exe {CLASSES}: {code} {err}")
        codeset = re.search(rb'CodeSet = "(\d+)"', read(cls.repository))
        cls.ansi = "cp" + codeset.group(1).decode() if codeset else "cp1252"

    def under_wine(self, args):
        code, _, _ = wine([EXE, *args])
        return (code, *(normal(read(f).decode(self.ansi).encode("utf-8"))
                        for f in (RESULTS, LOG)))

    def test_odd_requests_answer_as_windows_would(self):
        for args, departure in ROWS:
            with self.subTest(" ".join(args)):
                want = self.under_wine(args)
                code, _, *files = replay(self.repository, *args,
                                         files=("Model.txt", "Model.log"))
                got = (code, *map(normal, files))
                if departure:
                    self.assertNotEqual(got, want, "no longer differs: "
                                        + departure)
                else:
                    self.assertEqual(got, want)


if __name__ == "__main__":
    if not os.access(NATIVE, os.X_OK):
        print(f"skipped: no Linux build of the model program at {NATIVE!r}")
        sys.exit(77)
    unittest.main(verbosity=2)
