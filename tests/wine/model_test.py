"""End-to-end runs of Model.exe under Wine, against Wine's own WMI.

Every case starts from the files of an earlier run, a Model.txt and a
Model.log with text in them, runs Model.exe with its arguments and compares
both files whole, and the exit code. Expected values are read from Wine's WMI
independently, through Wine's wmic, so the cases hold for whatever computer
Wine describes. The prefix has one CD-ROM drive, D:.
"""

import functools
import re
import unittest
from dataclasses import dataclass
from typing import Callable, Union

from winerun import (LOG, RESULTS, RESULTS_WINDOWS_PATH, EXE, attributes, read,
                     wine, wmic_value, write)

STALE_RESULTS = b'Model = "left by an earlier run"\r\n'
STALE_LOG = b"Failed to connect. Error code = 80041003\r\n\r\n"


@functools.cache
def wmi(class_name, prop):
    return wmic_value(class_name, prop)


def model_line():
    return f'Model = "{wmi("Win32_ComputerSystem", "Model")}"'


def cdrom_id():
    value = wmi("Win32_CDROMDrive", "DeviceId")
    # Only an IDE CD-ROM identifier would be shortened, so the case below
    # proves something only with one.
    assert value.startswith("IDE\\CDROM"), value
    return value


def lines(*texts):
    return b"".join(text.encode("latin-1") + b"\r\n" for text in texts)


# Types as WMI hands them over: CIM integers up to 32 bits arrive as VT_I4,
# booleans as VT_BOOL and 64-bit integers as decimal strings (VT_BSTR).
I4_PROPERTIES = {
    "DomainRole", "NumberOfLogicalProcessors", "NumberOfProcessors"
}
BOOL_PROPERTIES = {"HypervisorPresent"}
UINT64_PROPERTIES = {"TotalPhysicalMemory"}


def check_computer_system(test, text):
    """Every property of Win32_ComputerSystem, each formatted by its type."""
    rows = text.decode("latin-1").split("\r\n")
    test.assertEqual(rows[0], model_line())
    test.assertEqual(rows[-1], "", "the file ends with CR LF")
    seen = set()
    for row in rows[1:-1]:
        name, sep, value = row.partition(" = ")
        test.assertTrue(sep, row)
        seen.add(name)
        reported = wmi("Win32_ComputerSystem", name)
        if name in I4_PROPERTIES:
            number = int(reported)
            test.assertEqual(value, f"{number} (0x{number & 0xFFFFFFFF:X})")
        elif name in BOOL_PROPERTIES:
            truth = reported.upper() in ("1", "TRUE", "-1")
            test.assertEqual(value, "TRUE" if truth else "FALSE")
        elif name in UINT64_PROPERTIES:
            test.assertRegex(value, r'^"[0-9]+"$')
            test.assertEqual(value, f'"{reported}"')
        elif value == "<null>":
            test.assertEqual(reported, "")
        else:
            test.assertEqual(value, f'"{reported}"')
    test.assertLessEqual(I4_PROPERTIES | BOOL_PROPERTIES | UINT64_PROPERTIES,
                         seen)


@dataclass
class Case:
    name: str
    args: list
    # Model.txt afterwards: a function giving its exact bytes, or one that
    # checks them (test, bytes).
    results: Callable
    # Model.log afterwards: its exact bytes or a pattern for them.
    log: Union[bytes, "re.Pattern"] = b""
    exit_code: int = 0
    protect_results: bool = False
    dll_overrides: str = ""
    check: bool = False


CASES = [
    Case("no_arguments", [], lambda: lines(model_line())),
    # Wine's WMI spells the property DeviceId, and the name test is
    # case-sensitive, so its identifier is left whole.
    Case("cdrom_device_id", ["Win32_CDROMDrive;DeviceID"],
         lambda: lines(model_line(), f'DeviceId = "{cdrom_id()}"')),
    Case("computer_system_all", ["Win32_ComputerSystem;*"],
         check_computer_system, check=True),
    # Two requests in one command line run in their order.
    Case("two_requests", ["Win32_CDROMDrive;Drive",
                          "Win32_ComputerSystem;Manufacturer"],
         lambda: lines(model_line(), 'Drive = "D:"',
                       'Manufacturer = "'
                       f'{wmi("Win32_ComputerSystem", "Manufacturer")}"')),
    # No display: Wine's message box returns at once, and the run goes on.
    Case("request_without_property", ["Win32_CDROMDrive"],
         lambda: lines(model_line())),
    Case("invalid_query", ["Win32_ComputerSystem;Model,"],
         lambda: lines(model_line()),
         log=b"Failed to execute the WMI Query: SELECT Model, FROM "
             b"Win32_ComputerSystem. Error code = WBEM_E_INVALID_QUERY"
             b"\r\n\r\n"),
    # Windows fails this query with WBEM_E_INVALID_CLASS, which the log would
    # show; Wine's WMI answers an unknown class with no objects at all.
    Case("unknown_class", ["Win32_NoSuchClass;Model"],
         lambda: lines(model_line())),
    # Windows rejects a select list that names no property of the class;
    # Wine's WMI returns the object with no properties, so no line.
    Case("unknown_property", ["Win32_ComputerSystem;NoSuchProperty"],
         lambda: lines(model_line())),
    Case("protected_results_replaced", [], lambda: lines(model_line()),
         protect_results=True),
    # Without Wine's WMI provider the locator cannot be created: the run
    # ends at start-up and leaves the earlier results alone.
    Case("start_up_failure", [], lambda: STALE_RESULTS,
         log=re.compile(rb"Failed to create IWbemLocator object\. "
                        rb"Error code = [0-9A-F]{8}\r\n\r\n\Z"),
         exit_code=1, dll_overrides="wbemprox="),
]


class ModelUnderWine(unittest.TestCase):
    maxDiff = None

    def run_case(self, case):
        write(RESULTS, STALE_RESULTS)
        write(LOG, STALE_LOG)
        if case.protect_results:
            # Wine's attrib applies only the last of several +flags.
            wine(["cmd", "/c", "attrib", "+h", RESULTS_WINDOWS_PATH, "&",
                  "attrib", "+r", RESULTS_WINDOWS_PATH])
            self.assertLessEqual({"R", "H"}, attributes(RESULTS_WINDOWS_PATH))

        code, out, err = wine([EXE] + case.args,
                              dll_overrides=case.dll_overrides)
        self.assertEqual(code, case.exit_code, (out + err).decode("latin-1"))

        results = read(RESULTS)
        if case.check:
            case.results(self, results)
        else:
            self.assertEqual(results, case.results())
        log = read(LOG)
        if isinstance(case.log, bytes):
            self.assertEqual(log, case.log)
        else:
            self.assertRegex(log, case.log)
        if case.protect_results:
            self.assertFalse({"R", "H"} & attributes(RESULTS_WINDOWS_PATH))


for _case in CASES:
    setattr(ModelUnderWine, f"test_{_case.name}",
            lambda self, case=_case: self.run_case(case))

if __name__ == "__main__":
    unittest.main(verbosity=2)
