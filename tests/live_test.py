"""End-to-end runs of the Linux build answering from live machine facts.

Each machine in tests/machines is a small file tree standing for a whole
computer (MODEL_FS_ROOT); the program runs over it and Model.txt must come out
byte for byte. One more test runs on this very machine and checks only what
holds everywhere. TZ is set on every run so boot times are fixed.
"""

import os
import shlex
import unittest

import modeltest
from modeltest import MACHINES


def run(machine, args, tz="UTC0"):
    """Runs the program; returns (exit code, Model.txt bytes, Model.log bytes)."""
    settings = {"TZ": tz}
    if machine:
        settings["MODEL_FS_ROOT"] = os.path.join(MACHINES, machine)
    done = modeltest.run(args, timeout=120, **settings)
    return done.code, done.txt, done.log


def lines(*texts):
    return "".join(t + "\r\n" for t in texts).encode()


class MachineTrees(unittest.TestCase):
    def check(self, machine, args, want, tz="UTC0"):
        code, txt, log = run(machine, args, tz)
        self.assertEqual(code, 0)
        self.assertEqual(log, b"")
        self.assertEqual(txt.decode().split("\r\n"), want.decode().split("\r\n"))
        self.assertEqual(txt, want)

    def test_desktop_optical_drives_and_disk(self):
        scsi = r"SCSI\CDROM&VEN_ASUS&PROD_BW-16D1HT&REV_3.10\5&ADDA573C&0&000000"
        ide = (
            r"IDE\CDROMHL-DT-ST_DVDRAM_GH22NP20________________1.02____"
            r"\5&3A507FAD&0&6.0.0"
        )
        self.check(
            "desktop",
            ["Win32_CDROMDrive;DeviceID", "Win32_CDROMDrive;*", "Win32_DiskDrive;*"],
            lines(
                'Model = "To Be Filled By O.E.M."',
                f'DeviceID = "{scsi}"',
                "DeviceID = HL-DT-ST DVDRAM GH22NP20 1.02",
                'Caption = "ASUS BW-16D1HT"',
                f'DeviceID = "{scsi}"',
                'Drive = "/dev/sr0"',
                'Manufacturer = "ASUS"',
                "MediaLoaded = TRUE",
                'MediaType = "CD-ROM"',
                'Name = "ASUS BW-16D1HT"',
                f'PNPDeviceID = "{scsi}"',
                'Caption = "HL-DT-ST DVDRAM GH22NP20"',
                "DeviceID = HL-DT-ST DVDRAM GH22NP20 1.02",
                'Drive = "/dev/sr1"',
                'Manufacturer = "HL-DT-ST"',
                "MediaLoaded = FALSE",
                'MediaType = "CD-ROM"',
                'Name = "HL-DT-ST DVDRAM GH22NP20"',
                f'PNPDeviceID = "{ide}"',
                'DeviceID = "/dev/sda"',
                "Index = 0 (0x0)",
                'InterfaceType = "IDE"',
                'MediaType = "Fixed hard disk media"',
                'Model = "Samsung SSD 860"',
                'Name = "/dev/sda"',
                'SerialNumber = "S3Z9NB0K123456A"',
                'Size = "500107862016"',
            ),
        )

    def test_desktop_firmware_and_system(self):
        oem = '"To Be Filled By O.E.M."'
        self.check(
            "desktop",
            [
                "Win32_BIOS;*",
                "Win32_BaseBoard;*",
                "Win32_ComputerSystemProduct;*",
                "Win32_OperatingSystem;*",
            ],
            lines(
                f"Model = {oem}",
                "BIOSVersion = ",  # arrays are written without value
                'Manufacturer = "American Megatrends Inc."',
                'ReleaseDate = "20191218000000.000000+000"',
                f"SerialNumber = {oem}",
                'SMBIOSBIOSVersion = "P4.20"',
                "SMBIOSMajorVersion = <null>",
                "SMBIOSMinorVersion = <null>",
                "SMBIOSPresent = TRUE",
                "SystemBiosMajorVersion = <null>",
                "SystemBiosMinorVersion = <null>",
                'Version = "P4.20"',
                'Manufacturer = "ASRock"',
                'Product = "B365M Pro4"',
                'SerialNumber = "M80-C6011900123"',
                'Tag = "Base Board"',
                'Version = ""',
                f"IdentifyingNumber = {oem}",
                f"Name = {oem}",
                'UUID = "03C00218-044D-05E6-F706-E70700080009"',
                f"Vendor = {oem}",
                f"Version = {oem}",
                'Caption = "Debian GNU/Linux 12 (bookworm)"',
                'CSName = "DESKTOP-7"',
                'FreePhysicalMemory = "13579246"',
                "InstallDate = <null>",
                'LastBootUpTime = "20231114231320.000000+060"',
                'OSArchitecture = "64-bit"',
                'SerialNumber = "0f2e4d6c8b0a4f1e9d3c5b7a6e8f0d2c"',
                'TotalVisibleMemorySize = "16303812"',
                'Version = "6.1.0-18-amd64"',
            ),
            tz="CET-1",
        )

    def test_laptop_usb_optical_and_nvme(self):
        self.check(
            "laptop",
            [
                "Win32_CDROMDrive;DeviceID",
                "Win32_DiskDrive;InterfaceType,MediaType,Model,SerialNumber",
                "Win32_ComputerSystem;*",
                "Win32_Processor;*",
                "Win32_BIOS;SerialNumber,Version",
                "Win32_OperatingSystem;LastBootUpTime",
            ],
            lines(
                'Model = "20XWCTO1WW"',
                r'DeviceID = "USBSTOR\CDROM&VEN_HL-DT-ST&PROD_DVDRAM_GP57EB40'
                r'&REV_PR11\KZ5E8N01234&0"',
                'InterfaceType = "NVMe"',
                'MediaType = "Fixed hard disk media"',
                'Model = "SAMSUNG MZVL2512HCJQ-00BL7"',
                'SerialNumber = "S64KNX0T123456"',
                'InterfaceType = "USB"',
                'MediaType = "Removable Media"',
                'Model = "Ultra"',
                "SerialNumber = <null>",
                'Domain = "corp.example.com"',
                "HypervisorPresent = FALSE",
                'Manufacturer = "LENOVO"',
                'Model = "20XWCTO1WW"',
                'Name = "x1carbon"',
                "NumberOfLogicalProcessors = 8 (0x8)",
                "NumberOfProcessors = 1 (0x1)",
                "PartOfDomain = TRUE",
                "PCSystemType = 2 (0x2)",
                'SystemFamily = "ThinkPad X1 Carbon Gen 9"',
                'SystemSKUNumber = "LENOVO_MT_20XW_BU_Think_FM_ThinkPad X1 Carbon Gen 9"',
                'SystemType = "x64-based PC"',
                'TotalPhysicalMemory = "16493596672"',
                'UserName = "mara"',
                "Workgroup = <null>",
                "Architecture = 9 (0x9)",
                "CurrentClockSpeed = 2800 (0xAF0)",
                'DeviceID = "CPU0"',
                "ExternalClock = 100 (0x64)",
                'Manufacturer = "GenuineIntel"',
                "MaxClockSpeed = 4700 (0x125C)",
                'Name = "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz"',
                "NumberOfCores = 4 (0x4)",
                "NumberOfLogicalProcessors = 8 (0x8)",
                'ProcessorId = "BFEBFBFF000806C1"',
                'SocketDesignation = "U3E1"',
                "SerialNumber = <null>",
                'Version = "N32ET86W (1.62 )"',
                # Summer time: the offset follows the date, not today.
                'LastBootUpTime = "20240405213438.000000+120"',
            ),
            tz="CET-1CEST,M3.5.0,M10.5.0/3",
        )

    def test_arm_board_with_device_tree_only(self):
        self.check(
            "armboard",
            [
                "Win32_ComputerSystem;*",
                "Win32_Processor;*",
                "Win32_OperatingSystem;*",
                "Win32_DiskDrive;DeviceID,InterfaceType,Size",
                "Win32_BIOS;*",
                "Win32_CDROMDrive;DeviceID",
            ],
            lines(
                'Model = "Raspberry Pi 4 Model B Rev 1.4"',
                "Domain = <null>",
                "HypervisorPresent = <null>",
                "Manufacturer = <null>",
                'Model = "Raspberry Pi 4 Model B Rev 1.4"',
                'Name = "raspberrypi"',
                "NumberOfLogicalProcessors = 4 (0x4)",
                "NumberOfProcessors = 1 (0x1)",
                "PartOfDomain = FALSE",
                "PCSystemType = <null>",
                "SystemFamily = <null>",
                "SystemSKUNumber = <null>",
                'SystemType = "ARM64-based PC"',
                'TotalPhysicalMemory = "3977601024"',
                "UserName = <null>",
                "Workgroup = <null>",
                "Architecture = 12 (0xC)",
                "CurrentClockSpeed = <null>",
                'DeviceID = "CPU0"',
                "ExternalClock = <null>",
                "Manufacturer = <null>",
                "MaxClockSpeed = 1500 (0x5DC)",
                "Name = <null>",
                "NumberOfCores = 4 (0x4)",
                "NumberOfLogicalProcessors = 4 (0x4)",
                "ProcessorId = <null>",
                "SocketDesignation = <null>",
                'Caption = "Debian GNU/Linux 12 (bookworm)"',
                'CSName = "raspberrypi"',
                'FreePhysicalMemory = "3123456"',
                "InstallDate = <null>",
                'LastBootUpTime = "20240101000000.000000+000"',
                'OSArchitecture = "64-bit"',
                "SerialNumber = <null>",
                'TotalVisibleMemorySize = "3884376"',
                'Version = "6.6.20+rpt-rpi-v8"',
                'DeviceID = "/dev/mmcblk0"',
                "InterfaceType = <null>",
                'Size = "31914983424"',
                "BIOSVersion = <null>",
                "Manufacturer = <null>",
                "ReleaseDate = <null>",
                "SerialNumber = <null>",
                "SMBIOSBIOSVersion = <null>",
                "SMBIOSMajorVersion = <null>",
                "SMBIOSMinorVersion = <null>",
                "SMBIOSPresent = FALSE",
                "SystemBiosMajorVersion = <null>",
                "SystemBiosMinorVersion = <null>",
                "Version = <null>",
            ),
        )

    def test_container_without_dmi_or_devices(self):
        self.check(
            "container",
            [
                "Win32_ComputerSystem;*",
                "Win32_Processor;*",
                "Win32_OperatingSystem;Caption,LastBootUpTime",
                "Win32_CDROMDrive;DeviceID",
                "Win32_DiskDrive;*",
            ],
            lines(
                "Model = <null>",
                "Domain = <null>",
                "HypervisorPresent = TRUE",
                "Manufacturer = <null>",
                "Model = <null>",
                'Name = "3f2a9c1b7d4e"',
                "NumberOfLogicalProcessors = 2 (0x2)",
                "NumberOfProcessors = 1 (0x1)",
                "PartOfDomain = FALSE",
                "PCSystemType = <null>",
                "SystemFamily = <null>",
                "SystemSKUNumber = <null>",
                'SystemType = "x64-based PC"',
                'TotalPhysicalMemory = "4123168768"',
                "UserName = <null>",
                "Workgroup = <null>",
                "Architecture = 9 (0x9)",
                "CurrentClockSpeed = <null>",
                'DeviceID = "CPU0"',
                "ExternalClock = <null>",
                'Manufacturer = "AuthenticAMD"',
                "MaxClockSpeed = 2450 (0x992)",
                'Name = "AMD EPYC 7B13"',
                "NumberOfCores = 2 (0x2)",
                "NumberOfLogicalProcessors = 2 (0x2)",
                "ProcessorId = <null>",
                "SocketDesignation = <null>",
                'Caption = "Alpine Linux v3.19"',
                'LastBootUpTime = "20231031190000.000000-300"',
            ),
            tz="EST5",
        )


def os_release_pretty_name():
    for path in ("/etc/os-release", "/usr/lib/os-release"):
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            continue
        for line in text.splitlines():
            if line.startswith("PRETTY_NAME="):
                return "".join(shlex.split(line[len("PRETTY_NAME=") :]))
        return None
    return None


class ThisMachine(unittest.TestCase):
    def test_model_line_without_repository(self):
        code, txt, log = run(None, [])
        self.assertEqual(code, 0)
        self.assertEqual(log, b"")
        self.assertRegex(txt, rb'^Model = ("[^"\r\n]*"|<null>)\r\n$')

    def test_caption_is_the_os_release_name(self):
        code, txt, _ = run(None, ["Win32_OperatingSystem;Caption"])
        self.assertEqual(code, 0)
        caption = txt.split(b"\r\n")[1].decode()
        name = os_release_pretty_name()
        self.assertEqual(
            caption, f'Caption = "{name}"' if name is not None else "Caption = <null>"
        )


if __name__ == "__main__":
    unittest.main()
