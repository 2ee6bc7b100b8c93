"""Packs a folder into a zip that depends on the folder's contents alone:
members in sorted order under one top folder, every time SOURCE_DATE_EPOCH
(or 1980-01-01, the first time a zip can hold, when it is not set), no user
or group ids, modes 0644 for files and 0755 for folders and programs.

    zip.py <output.zip> <folder>

The top folder inside the zip is the folder's own name.
"""

import os
import sys
import time
import zipfile

# Zip times are local times of day without a zone; UTC keeps them the same
# wherever the zip is made. Zip cannot hold times before 1980.
EARLIEST = 315532800


def timestamp():
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", EARLIEST)), EARLIEST)
    return time.gmtime(epoch)[:6]


def members(folder):
    """(name in the zip, path) of every folder and file, sorted by name."""
    top = os.path.basename(os.path.normpath(folder))
    found = [(top + "/", folder)]
    for parent, dirs, files in os.walk(folder):
        rel = os.path.relpath(parent, folder)
        prefix = top + "/" if rel == "." else f"{top}/{rel}/"
        found += [(prefix + d + "/", os.path.join(parent, d)) for d in dirs]
        found += [(prefix + f, os.path.join(parent, f)) for f in files]
    return sorted(found)


def main():
    output, folder = sys.argv[1], sys.argv[2]
    when = timestamp()
    with zipfile.ZipFile(output, "w") as archive:
        for name, path in members(folder):
            info = zipfile.ZipInfo(name, when)
            info.create_system = 3  # Unix, so that the modes below count
            if name.endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10
                archive.writestr(info, b"")
                continue
            mode = 0o755 if os.access(path, os.X_OK) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
