"""Model.exe as a Windows image: a GUI-subsystem program (no console window)
that needs nothing but DLLs every Windows installation has."""

import os
import subprocess
import unittest

EXE = os.environ["MODEL_EXE"]
OBJDUMP = os.environ["MODEL_OBJDUMP"]

# DLLs of Windows itself. Anything else, libstdc++-6.dll, libgcc_s_seh-1.dll
# or libwinpthread-1.dll above all, would have to be shipped beside the .exe.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "combase.dll", "msvcrt.dll", "ucrtbase.dll",
}


def headers():
    return subprocess.run([OBJDUMP, "-p", EXE], capture_output=True, text=True,
                          check=True).stdout


class ModelImage(unittest.TestCase):

    def test_gui_subsystem(self):
        rows = [r.split() for r in headers().splitlines()
                if r.startswith("Subsystem")]
        self.assertEqual(len(rows), 1, rows)
        self.assertEqual(int(rows[0][1], 16), 2, "IMAGE_SUBSYSTEM_WINDOWS_GUI")

    def test_imports_only_system_dlls(self):
        dlls = {r.split("DLL Name:")[1].strip().lower()
                for r in headers().splitlines() if "DLL Name:" in r}
        foreign = {d for d in dlls
                   if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")}
        self.assertEqual(foreign, set())
        # COM, OLE Automation and the message boxes come from these.
        self.assertLessEqual({"ole32.dll", "oleaut32.dll", "user32.dll"}, dlls)


if __name__ == "__main__":
    unittest.main(verbosity=2)
