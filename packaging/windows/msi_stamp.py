"""Makes an MSI that wixl wrote depend on its contents alone.

wixl gives every package a random package code, stamps its creation and
last-saved times with the clock, and gives each file in the embedded cabinet
the time its source file was last changed. This rewrites them in place:

- the times become SOURCE_DATE_EPOCH when it is set (and stay as wixl wrote
  them otherwise);
- the package code becomes a name-based UUID of the package's own bytes
  (hashed with a zero code in its place) under the product code, so that two
  packages differ in their package codes exactly when they differ at all, as
  Windows Installer wants.

Every value keeps its size and its place in the compound file, so nothing
else moves.

    msi_stamp.py <file.msi> <product code>
"""

import hashlib
import os
import struct
import sys
import time
import uuid

SUMMARY = "\x05SummaryInformation"
PID_REVISION = 9  # the package code, a GUID in braces
PID_CREATED = 12
PID_SAVED = 13
VT_LPSTR = 0x1E
VT_FILETIME = 0x40
# 100-ns intervals between 1601-01-01 and 1970-01-01.
FILETIME_1970 = 116444736000000000
END_OF_CHAIN = 0xFFFFFFFA  # this and above: no further sector


def chain(table, start):
    """The sector numbers of a chain in an allocation table."""
    found = []
    while start < END_OF_CHAIN:
        found.append(start)
        start = table[start]
    return found


def streams(msi):
    """{name: [(file offset, length), ...]} of every stream of the compound
    file (an MSI is one), each stream's pieces in order. Small streams live
    in the mini stream, which lives in ordinary sectors."""
    shift, mini_shift = struct.unpack_from("<HH", msi, 0x1E)
    size, mini_size = 1 << shift, 1 << mini_shift
    (fat_count, dir_start, _, cutoff, minifat_start, _, difat_start,
     difat_count) = struct.unpack_from("<8I", msi, 0x2C)

    def offset(sector):
        return (sector + 1) * size

    def table(sectors):
        words = []
        for sector in sectors:
            words += struct.unpack_from(f"<{size // 4}I", msi, offset(sector))
        return words

    fat_sectors = list(struct.unpack_from("<109I", msi, 0x4C))
    # Past 109 FAT sectors, the list goes on in sectors of its own, each
    # ending with the number of the next.
    sector = difat_start
    for _ in range(difat_count):
        more = table([sector])
        fat_sectors += more[:-1]
        sector = more[-1]
    fat = table(fat_sectors[:fat_count])
    minifat = table(chain(fat, minifat_start))
    entries = b"".join(msi[offset(s):offset(s) + size]
                       for s in chain(fat, dir_start))
    container = chain(fat, struct.unpack_from("<I", entries, 116)[0])

    found = {}
    for at in range(0, len(entries), 128):
        length, kind = struct.unpack_from("<HB", entries, at + 64)
        if kind != 2:  # not a stream
            continue
        name = entries[at:at + length - 2].decode("utf-16-le")
        start, left = struct.unpack_from("<IQ", entries, at + 116)
        if left < cutoff:
            spans = []
            for mini in chain(minifat, start):
                byte = mini * mini_size
                spans.append((offset(container[byte // size]) + byte % size,
                              mini_size))
        else:
            spans = [(offset(s), size) for s in chain(fat, start)]
        pieces = []
        for place, piece in spans:
            pieces.append((place, min(piece, left)))
            left -= pieces[-1][1]
        found[name] = pieces
    return found


def read(msi, spans):
    return b"".join(bytes(msi[at:at + length]) for at, length in spans)


def write(msi, spans, data):
    for at, length in spans:
        msi[at:at + length], data = data[:length], data[length:]


def properties(data):
    """{property id: (type, offset of the value)} of the first property set
    of a summary information stream."""
    (section,) = struct.unpack_from("<I", data, 44)
    (count,) = struct.unpack_from("<I", data, section + 4)
    found = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        (kind,) = struct.unpack_from("<H", data, section + offset)
        found[pid] = (kind, section + offset + 4)
    return found


def with_times(data, epoch):
    props = properties(data)
    stamp = struct.pack("<Q", FILETIME_1970 + epoch * 10**7)
    for pid in (PID_CREATED, PID_SAVED):
        kind, at = props[pid]
        if kind != VT_FILETIME:
            raise SystemExit("unexpected time in the summary information")
        data = data[:at] + stamp + data[at + 8:]
    return data


def with_code(data, code):
    kind, at = properties(data)[PID_REVISION]
    (size,) = struct.unpack_from("<I", data, at)
    text = ("{%s}" % str(code).upper()).encode("ascii") + b"\0"
    if kind != VT_LPSTR or size != len(text):
        raise SystemExit("unexpected package code in the summary information")
    return data[:at + 4] + text + data[at + 4 + size:]


def with_cabinet_times(cab, epoch):
    """The cabinet with every file's date and time set to epoch (MS-DOS
    form, no zone, as a cabinet holds them; 1980 at the earliest)."""
    files_at, = struct.unpack_from("<I", cab, 16)
    count, = struct.unpack_from("<H", cab, 28)
    earliest = 315532800
    year, month, day, hour, minute, second = time.gmtime(
        max(epoch, earliest))[:6]
    date = ((year - 1980) << 9) | (month << 5) | day
    clock = (hour << 11) | (minute << 5) | (second // 2)
    cab = bytearray(cab)
    at = files_at
    for _ in range(count):
        struct.pack_into("<HH", cab, at + 10, date, clock)
        at = cab.index(b"\0", at + 16) + 1
    return bytes(cab)


def main():
    path, product = sys.argv[1], uuid.UUID(sys.argv[2])
    with open(path, "rb") as f:
        msi = bytearray(f.read())
    found = streams(msi)
    summary = read(msi, found[SUMMARY])
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is not None:
        summary = with_times(summary, int(epoch))
        for spans in found.values():
            data = read(msi, spans)
            if data.startswith(b"MSCF"):
                write(msi, spans, with_cabinet_times(data, int(epoch)))
    write(msi, found[SUMMARY], with_code(summary, uuid.UUID(int=0)))
    digest = hashlib.sha256(msi).hexdigest()
    write(msi, found[SUMMARY], with_code(summary, uuid.uuid5(product, digest)))
    with open(path + ".tmp", "wb") as f:
        f.write(msi)
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
