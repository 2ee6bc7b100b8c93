// The classes the capture tool captures when none is named: those the model
// program's Linux build serves from live facts, so that a capture of any
// machine replays every class the Linux build answers by itself. The Linux
// build's unit tests hold this list to the live class table; everything else
// (tests, benchmarks, the documentation's check) reads it from
// `model-capture --list-defaults`.
#pragma once

inline constexpr const char* kDefaultClasses[] = {
    "Win32_BaseBoard",
    "Win32_BIOS",
    "Win32_CDROMDrive",
    "Win32_ComputerSystem",
    "Win32_ComputerSystemProduct",
    "Win32_DiskDrive",
    "Win32_OperatingSystem",
    "Win32_Processor",
    "Win32_Battery",
    "Win32_LogicalDisk",
    "Win32_NetworkAdapter",
    "Win32_NetworkAdapterConfiguration",
    "Win32_VideoController",
    // Made of the firmware's SMBIOS structures.
    "Win32_SystemEnclosure",
    "Win32_PhysicalMemory",
    "Win32_PhysicalMemoryArray",
};
