"""Model.exe as a Windows image: a GUI-subsystem program (no console window)
that needs nothing but DLLs every Windows installation has. ModelCapture.exe,
when built, is the same but for its console subsystem."""

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


CAPTURE_EXE = os.environ.get("MODEL_CAPTURE_EXE", "")


def headers(exe=EXE):
    return subprocess.run([OBJDUMP, "-p", exe], capture_output=True, text=True,
                          check=True).stdout


def subsystem(exe):
    rows = [r.split() for r in headers(exe).splitlines()
            if r.startswith("Subsystem")]
    return int(rows[0][1], 16) if len(rows) == 1 else rows


def imports(exe):
    return {r.split("DLL Name:")[1].strip().lower()
            for r in headers(exe).splitlines() if "DLL Name:" in r}


class ModelImage(unittest.TestCase):

    def test_gui_subsystem(self):
        self.assertEqual(subsystem(EXE), 2, "IMAGE_SUBSYSTEM_WINDOWS_GUI")

    def test_imports_only_system_dlls(self):
        dlls = imports(EXE)
        foreign = {d for d in dlls
                   if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")}
        self.assertEqual(foreign, set())
        # COM, OLE Automation and the message boxes come from these.
        self.assertLessEqual({"ole32.dll", "oleaut32.dll", "user32.dll"}, dlls)

    @unittest.skipUnless(CAPTURE_EXE, "ModelCapture.exe is not built")
    def test_capture_tool_is_a_console_program_of_system_dlls(self):
        self.assertEqual(subsystem(CAPTURE_EXE), 3, "IMAGE_SUBSYSTEM_WINDOWS_CUI")
        dlls = imports(CAPTURE_EXE)
        foreign = {d for d in dlls
                   if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")}
        self.assertEqual(foreign, set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
