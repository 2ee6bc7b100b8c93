"""Release files are the same bytes wherever and whenever they are packed:
each kind this build ships is packed twice, in two folders, its inputs
older than SOURCE_DATE_EPOCH the first time and newer the second. Archive
members are in sorted order, at SOURCE_DATE_EPOCH, owned by root; the
programs hold no folder of the build and, on Windows, no link time.
(scripts/reproduce.sh rebuilds from two clones, compilers included; this
covers the rest in seconds.)"""

import calendar
import io
import os
import shutil
import struct
import subprocess
import tarfile
import tempfile
import unittest
import zipfile

ENV = os.environ
BUILD, SOURCE = ENV["MODEL_BUILD_DIR"], ENV["MODEL_SOURCE_DIR"]
PROGRAMS = [p for p in (ENV["MODEL_BIN"], ENV.get("MODEL_CAPTURE_BIN")) if p]
WINDOWS = PROGRAMS[0].endswith(".exe")
EPOCH = 1700000000  # not the clock's time: a clock's stamp shows


def run(*args):
    return subprocess.run(args, capture_output=True, check=True, timeout=180,
                          env=dict(ENV, SOURCE_DATE_EPOCH=str(EPOCH)),
                          preexec_fn=lambda: os.umask(0o022)).stdout


def linux_packages(out):
    run("cpack", "-G", "DEB;RPM", "-B", out, "--config",
        os.path.join(BUILD, "CPackConfig.cmake"))
    return [os.path.join(out, n) for n in sorted(os.listdir(out))
            if n.endswith((".deb", ".rpm"))]


def windows_zip(out):
    tree = os.path.join(out, "Model-win64")
    run(ENV["MODEL_CMAKE"], "--install", BUILD, "--prefix", tree)
    run(ENV["MODEL_PYTHON"], f"{SOURCE}/packaging/zip.py", tree + ".zip", tree)
    return [tree + ".zip"]


def windows_msi(out):
    run(ENV["MODEL_CMAKE"], "-D", "WIXL=" + ENV["MODEL_WIXL"],
        "-D", "PYTHON=" + ENV["MODEL_PYTHON"], "-D", "WXS=" + ENV["MODEL_WXS"],
        "-D", f"OUTPUT={out}/m.msi", "-D", "VERSION=" + ENV["MODEL_VERSION"],
        "-D", "UPGRADE_CODE=" + ENV["MODEL_UPGRADE_CODE"],
        "-P", ENV["MODEL_MSI_SCRIPT"])
    return [f"{out}/m.msi"]


# Listers: (name, time, owner) of each member, in the file's order; names in
# parentheses are not files, their order the format's. An MSI is a
# database, its order its tables': two equal builds show its times.
def deb_members(path):
    found = []
    for part, mark in (("--fsys-tarfile", "{}"), ("--ctrl-tarfile", "({})")):
        with tarfile.open(fileobj=io.BytesIO(run("dpkg-deb", part, path))) as t:
            found += [(mark.format(m.name), m.mtime, m.uname) for m in t]
    return found


def rpm_members(path):
    rows = run("rpm", "-qp", "--qf", "%{BUILDTIME} root\n"
               "[%{FILENAMES} %{FILEMTIMES} %{FILEUSERNAME}\n]", path)
    rows = rows.decode().splitlines()
    return [("(build)", *rows[0].split())] + [r.split() for r in rows[1:]]


def zip_members(path):
    with zipfile.ZipFile(path) as z:  # a zip holds no owner
        return [(i.filename, calendar.timegm(i.date_time + (0, 0, 0)), "root")
                for i in z.infolist()]


MEMBERS = {".deb": deb_members, ".rpm": rpm_members, ".zip": zip_members}
# Inputs that packing copies as they are (CPack strips the programs and
# builds the generated files again).
if WINDOWS:
    BUILDERS = {"zip": windows_zip, "msi": windows_msi}
    INPUTS = PROGRAMS + [f"{BUILD}/resources/LICENSE.txt", f"{SOURCE}/README.md"]
else:
    BUILDERS = {"deb-rpm": linux_packages}
    INPUTS = [f"{SOURCE}/README.md", f"{SOURCE}/packaging/debian/copyright"]


class Reproducible(unittest.TestCase):

    def test_two_packings_give_the_same_bytes(self):
        tmp = tempfile.mkdtemp(prefix="model-reproducible-")
        self.addCleanup(shutil.rmtree, tmp)
        for kind, build in BUILDERS.items():
            with self.subTest(kind):
                # Inputs older than SOURCE_DATE_EPOCH, then newer.
                for path in INPUTS:
                    os.utime(path, (EPOCH - 86400, EPOCH - 86400))
                first = build(f"{tmp}/{kind}/first")
                for path in INPUTS:
                    os.utime(path)
                second = build(f"{tmp}/{kind}/second/deeper")
                for a, b in zip(first, second, strict=True):
                    with open(a, "rb") as fa, open(b, "rb") as fb:
                        self.assertTrue(fa.read() == fb.read(), a)
                    lister = MEMBERS.get(os.path.splitext(a)[1])
                    members = lister(a) if lister else []
                    names = [m[0] for m in members if m[0][0] != "("]
                    self.assertEqual(names, sorted(names), a)
                    self.assertEqual({(int(t), u) for _, t, u in members},
                                     {(EPOCH, "root")} if members else set())

    def test_programs_hold_no_build_folder_or_link_time(self):
        for path in PROGRAMS:
            with open(path, "rb") as f:
                image = f.read()
            for folder in {SOURCE, BUILD}:
                self.assertNotIn(folder.encode(), image, path)
            if WINDOWS:  # the PE header's TimeDateStamp
                at = struct.unpack_from("<I", image, 0x3C)[0] + 8
                self.assertEqual(struct.unpack_from("<I", image, at)[0], 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
