#!/usr/bin/env python3
"""Writes the SMBIOS files of the machine trees (sys/firmware/dmi/tables/
smbios_entry_point and DMI) from the descriptions below, each transcribed from
a machine's published dmidecode output (tests/machines/SOURCES names them).
Run it after changing a description; the files it writes are committed.
    tests/machines/make_smbios.py
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def structure(type_, handle, length, fields):
    """One structure: `fields` maps offsets to (struct format, value), or to
    a str (a string of the set; None or "" for string number 0, as a set
    cannot hold an empty string)."""
    area = bytearray(length)
    area[0:4] = struct.pack("<BBH", type_, length, handle)
    strings = []
    for offset, value in sorted(fields.items()):
        if isinstance(value, str) or value is None:
            if not value:
                number = 0
            else:
                strings.append(value.encode())
                number = len(strings)
            value = ("B", number)
        fmt, v = value
        packed = struct.pack("<" + fmt, *v) if isinstance(v, tuple) else \
            struct.pack("<" + fmt, v)
        if offset + len(packed) <= length:
            area[offset:offset + len(packed)] = packed
    tail = b"".join(s + b"\0" for s in strings) + b"\0" if strings else b"\0\0"
    return bytes(area) + tail


def b(v):
    return ("B", v)


def w(v):
    return ("H", v)


def d(v):
    return ("I", v)


def q(v):
    return ("Q", v)


def bios(handle, length, vendor, version, date, release):
    return structure(0, handle, length, {
        0x04: vendor, 0x05: version, 0x06: w(0xE000), 0x08: date,
        0x09: b(0xFF), 0x14: b(release[0]), 0x15: b(release[1]),
        0x16: b(0xFF), 0x17: b(0xFF)})


def system(handle, length, maker, product, version, serial, sku, family):
    return structure(1, handle, length, {
        0x04: maker, 0x05: product, 0x06: version, 0x07: serial,
        0x18: b(6), 0x19: sku, 0x1A: family})


def board(handle, length, maker, product, version, serial, asset):
    return structure(2, handle, length, {
        0x04: maker, 0x05: product, 0x06: version, 0x07: serial, 0x08: asset,
        0x0D: w(handle + 1), 0x0E: b(0x0A)})


def chassis(handle, length, maker, type_, version, serial, asset, sku=None):
    return structure(3, handle, length, {
        0x04: maker, 0x05: b(type_), 0x06: version, 0x07: serial, 0x08: asset,
        0x09: b(3), 0x0A: b(3), 0x0B: b(3), 0x0C: b(2), 0x12: b(1),
        0x13: b(0), 0x14: b(0), 0x15: sku})


def processor(handle, length, socket, maker, cpuid, version, clocks, status,
              cores=None):
    eax, edx = cpuid
    external, top, current = clocks
    fields = {
        0x04: socket, 0x05: b(3), 0x06: b(0xFE), 0x07: maker,
        0x08: d(eax), 0x0C: d(edx), 0x10: version, 0x11: b(0x8B),
        0x12: w(external), 0x14: w(top), 0x16: w(current), 0x18: b(status),
        0x19: b(1), 0x1A: w(0xFFFF), 0x1C: w(0xFFFF), 0x1E: w(0xFFFF),
        0x20: None, 0x21: None, 0x22: None}
    if cores:
        fields.update({0x23: b(cores[0]), 0x24: b(cores[0]), 0x25: b(cores[1]),
                       0x2A: w(cores[0]), 0x2C: w(cores[0]), 0x2E: w(cores[1])})
    return structure(4, handle, length, fields)


def memory_array(handle, length, location, use, ecc, max_kib, devices,
                 max_bytes=0):
    return structure(16, handle, length, {
        0x04: b(location), 0x05: b(use), 0x06: b(ecc), 0x07: d(max_kib),
        0x0B: w(0xFFFE), 0x0D: w(devices), 0x0F: q(max_bytes)})


def memory(handle, length, array, widths, size, form, locators, type_, detail,
           speeds, maker, serial, asset, part, volts, ext_size=0,
           ext_speeds=(0, 0)):
    """`size` is the size word as stored; `speeds` (speed, configured)."""
    return structure(17, handle, length, {
        0x04: w(array), 0x06: w(0xFFFE), 0x08: w(widths[0]),
        0x0A: w(widths[1]), 0x0C: w(size), 0x0E: b(form), 0x0F: b(0),
        0x10: locators[0], 0x11: locators[1], 0x12: b(type_),
        0x13: w(detail), 0x15: w(speeds[0]), 0x17: maker, 0x18: serial,
        0x19: asset, 0x1A: part, 0x1B: b(2), 0x1C: d(ext_size),
        0x20: w(speeds[1]), 0x22: w(volts), 0x24: w(volts), 0x26: w(volts),
        0x54: d(ext_speeds[0]), 0x58: d(ext_speeds[1])})


def end(handle):
    return structure(127, handle, 4, {})


def entry_point_64(version, table):
    major, minor, docrev = version
    ep = bytearray(struct.pack("<5sBBBBBBBIQ", b"_SM3_", 0, 0x18, major, minor,
                               docrev, 1, 0, len(table), 0x8EBC6000))
    ep[5] = (-sum(ep)) & 0xFF
    return bytes(ep)


def entry_point_32(version, table, count):
    major, minor = version
    tail = bytearray(struct.pack("<5sBHIHB", b"_DMI_", 0, len(table),
                                 0x000E0010, count, major << 4 | minor))
    tail[5] = (-sum(tail)) & 0xFF
    ep = bytearray(struct.pack("<4sBBBBHB5s", b"_SM_", 0, 0x1F, major, minor,
                               0x100, 0, b"\0" * 5) + tail)
    ep[4] = (-sum(ep[:0x10])) & 0xFF
    return bytes(ep)


GB = 1 << 10  # MiB per GiB

# ThinkPad X1 Carbon Gen 9 (20XW): SMBIOS 3.3, one processor, soldered
# LPDDR4X on two channels.
LAPTOP = ((3, 3, 0), [
    bios(0x0000, 0x1A, "LENOVO", "N32ET86W (1.62 )", "03/06/2023", (1, 62)),
    system(0x0001, 0x1B, "LENOVO", "20XWCTO1WW", "ThinkPad X1 Carbon Gen 9",
           "PF3ABCDE", "LENOVO_MT_20XW_BU_Think_FM_ThinkPad X1 Carbon Gen 9",
           "ThinkPad X1 Carbon Gen 9"),
    board(0x0002, 0x0F, "LENOVO", "20XWCTO1WW", "SDK0J40697 WIN",
          "L1HF16S01AB", "Not Available"),
    chassis(0x0003, 0x16, "LENOVO", 0x0A, "None", "PF3ABCDE", "No Asset Information"),
    processor(0x0004, 0x30, "U3E1", "Intel(R) Corporation",
              (0x000806C1, 0xBFEBFBFF),
              "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz",
              (100, 4700, 2800), 0x41, (4, 8)),
    memory_array(0x0005, 0x17, 0x03, 0x03, 0x03, 0x01000000, 2),
    memory(0x0006, 0x5C, 0x0005, (64, 64), 8 * GB, 0x0B,
           ("Controller0-ChannelA", "BANK 0"), 0x1E, 0x4080, (4267, 4267),
           "Samsung", "00000000", None, "K4UBE3D4AA-MGCL", 600),
    memory(0x0007, 0x5C, 0x0005, (64, 64), 8 * GB, 0x0B,
           ("Controller1-ChannelA", "BANK 0"), 0x1E, 0x4080, (4267, 4267),
           "Samsung", "00000000", None, "K4UBE3D4AA-MGCL", 600),
    end(0x0008),
])

# Supermicro server, SMBIOS 3.2: a populated and an empty CPU socket, 32 GiB
# DDR4 modules (the extended size), the first slot without a module.
SERVER = ((3, 2, 0), [
    bios(0x0000, 0x1A, "American Megatrends Inc.", "1.4", "06/17/2020",
         (5, 13)),
    system(0x0001, 0x1B, "Supermicro", "Super Server", "0123456789",
           "0123456789", "To be filled by O.E.M.", "To be filled by O.E.M."),
    board(0x0002, 0x0F, "Supermicro", "H11SSW-NT", "1.01", "ZM19AS003456",
          "To be filled by O.E.M."),
    chassis(0x0003, 0x16, "Supermicro", 0x11, "0123456789", "0123456789",
            "To be filled by O.E.M.", "To be filled by O.E.M."),
    processor(0x0004, 0x30, "CPU1", "Advanced Micro Devices, Inc.",
              (0x00830F10, 0x178BFBFF), "AMD EPYC 7402P 24-Core Processor",
              (100, 3350, 2800), 0x41, (24, 48)),
    processor(0x0005, 0x30, "CPU2", None, (0, 0), None, (0, 0, 0), 0x00),
    memory_array(0x0016, 0x17, 0x03, 0x03, 0x06, 0x80000000, 3, 2 << 40),
    memory(0x0025, 0x54, 0x0016, (0xFFFF, 0xFFFF), 0, 0x02,
           ("DIMMA1", "P0_Node0_Channel0_Dimm0"), 0x02, 0x0000, (0, 0),
           "NO DIMM", "NO DIMM", "NO DIMM", "NO DIMM", 0),
    memory(0x0026, 0x54, 0x0016, (72, 64), 0x7FFF, 0x09,
           ("DIMMA2", "P0_Node0_Channel0_Dimm1"), 0x1A, 0x2080, (2667, 2667),
           "Micron", "28D430AA", "TestAsset0", "18ADF4G72AZ-2G6B2   ", 1200,
           32 * GB),
    memory(0x0027, 0x54, 0x0016, (72, 64), 0x7FFF, 0x09,
           ("DIMMB1", "P0_Node0_Channel1_Dimm0"), 0x1A, 0x2080, (2667, 2667),
           "Micron", "28D430B1", "TestAsset0", "18ADF4G72AZ-2G6B2   ", 1200,
           32 * GB),
    end(0x0028),
])

# VMware Virtual Platform, SMBIOS 2.7 with the 32-bit entry point: two
# sockets of which the second is disabled, one module in a RAM slot.
VM = ((2, 7), [
    bios(0x0000, 0x18, "Phoenix Technologies LTD", "6.00", "12/12/2018",
         (4, 6)),
    system(0x0001, 0x1B, "VMware, Inc.", "VMware Virtual Platform", "None",
           "VMware-56 4d 2a 1c 3e 70 1b 9b-4c 0e 4a 5b 2f 8e 61 03",
           "", ""),
    board(0x0002, 0x0F, "Intel Corporation", "440BX Desktop Reference Platform",
          "None", "None", ""),
    chassis(0x0003, 0x15, "No Enclosure", 0x01, "N/A", "None", "No Asset Tag"),
    processor(0x0004, 0x2A, "CPU #000", "GenuineIntel",
              (0x000006E3, 0x1FABFBFF),
              "Intel(R) Core(TM) i7-6820HQ CPU @ 2.70GHz", (0, 30000, 2700),
              0x41, (2, 2)),
    processor(0x0005, 0x2A, "CPU #001", "GenuineIntel",
              (0x000006E3, 0x1FABFBFF),
              "Intel(R) Core(TM) i7-6820HQ CPU @ 2.70GHz", (0, 30000, 2700),
              0x43, (2, 2)),
    memory_array(0x01A3, 0x17, 0x01, 0x03, 0x03, 0x40000000, 2),
    memory(0x01A4, 0x22, 0x01A3, (32, 32), 4 * GB, 0x09,
           ("RAM slot #0", "RAM slot #0"), 0x07, 0x0080, (0, 0),
           "Not Specified", "Not Specified", "Not Specified", "Not Specified",
           0),
    memory(0x01A5, 0x22, 0x01A3, (32, 32), 0, 0x09,
           ("RAM slot #1", "RAM slot #1"), 0x07, 0x0080, (0, 0),
           "Not Specified", "Not Specified", "Not Specified", "Not Specified",
           0),
    end(0x01A6),
])


def write(tree, table, ep):
    out = HERE / tree / "sys/firmware/dmi/tables"
    out.mkdir(parents=True, exist_ok=True)
    (out / "DMI").write_bytes(table)
    (out / "smbios_entry_point").write_bytes(ep)


def acpi_root(tree, oem_id, table_id, revision):
    """The header of the ACPI root table (XSDT), no entries."""
    header = bytearray(struct.pack("<4sIBB6s8sI4sI", b"XSDT", 36, 1, 0, oem_id,
                                   table_id, revision, b"LNVO", 1))
    header[9] = (-sum(header)) & 0xFF
    out = HERE / tree / "sys/firmware/acpi"
    (out / "tables").mkdir(parents=True, exist_ok=True)
    (out / "tables/XSDT").write_bytes(bytes(header))


def main():
    acpi_root("laptop", b"LENOVO", b"TP-N32  ", 0x1620)
    for tree, (version, structures) in (("laptop", LAPTOP),
                                        ("server", SERVER)):
        table = b"".join(structures)
        write(tree, table, entry_point_64(version, table))
    version, structures = VM
    table = b"".join(structures)
    write("vm", table, entry_point_32(version, table, len(structures)))


if __name__ == "__main__":
    main()
