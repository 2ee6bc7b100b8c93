"""Reads what a Windows program carries in its resources: the VERSIONINFO
block and the application manifest, straight from the PE file, so that the
tests can check a built or an installed .exe without Windows."""

import struct

RT_VERSION = 16
RT_MANIFEST = 24


def _resource(data, type_id, name_id):
    """The bytes of resource type_id/name_id (any language), or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    # The resource table is data directory 2, after the 16 (PE32) or 32
    # (PE32+) bytes that PE32+ adds to the fixed fields.
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if rsrc_rva == 0:
        return None
    table = optional + optional_size
    spans = []
    for i in range(sections):
        (vsize, vaddr, rsize, raw) = struct.unpack_from(
            "<IIII", data, table + i * 40 + 8)
        spans.append((vaddr, max(vsize, rsize), raw))

    def offset(rva):
        for vaddr, size, raw in spans:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raw
        raise ValueError(f"RVA {rva:#x} outside every section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from(
                "<II", data, base + directory + 16 + i * 8)
            yield name, target

    def find(directory, wanted):
        for name, target in entries(directory):
            if wanted is None or name == wanted:
                return target
        return None

    # Three levels: type, name, language (the first one found); the high bit
    # of an entry marks a further directory, the last one is the data entry.
    at = 0
    for wanted in (type_id, name_id, None):
        target = find(at, wanted)
        if target is None:
            return None
        at = target & 0x7FFFFFFF
    rva, size = struct.unpack_from("<II", data, base + at)
    start = offset(rva)
    return data[start:start + size]


def _blocks(data, start, end):
    """The child blocks (key, value bytes, value type, children span) of a
    version-information block, each aligned on 32 bits."""
    at = start
    while at + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        # A text value's length counts UTF-16 units, a binary one bytes.
        value_bytes = value_length * 2 if value_type == 1 else value_length
        value = data[value_at:value_at + value_bytes]
        children = (value_at + value_bytes + 3) & ~3
        yield key, value, value_type, children, at + length
        at = (at + length + 3) & ~3


def version_info(path):
    """The version resource: {"FileVersion": (1, 0, 0, 0), "ProductVersion":
    (...), "strings": {name: text}}, or None when the file has none."""
    with open(path, "rb") as f:
        data = f.read()
    block = _resource(data, RT_VERSION, 1)
    if block is None:
        return None
    ((key, fixed, _, children, end),) = list(_blocks(block, 0, len(block)))
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource starts with {key!r}")
    signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    info = {
        "FileVersion": (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF),
        "ProductVersion": (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF),
        "strings": {},
    }
    for key, _, _, start, stop in _blocks(block, children, end):
        if key != "StringFileInfo":
            continue
        for _, _, _, table_start, table_stop in _blocks(block, start, stop):
            for name, value, _, _, _ in _blocks(block, table_start, table_stop):
                info["strings"][name] = value.decode("utf-16-le").rstrip("\0")
    return info


def manifest(path):
    """The application manifest (resource 1 of type RT_MANIFEST) as text, or
    None."""
    with open(path, "rb") as f:
        data = f.read()
    text = _resource(data, RT_MANIFEST, 1)
    return None if text is None else text.decode("utf-8")
