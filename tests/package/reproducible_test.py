"""Release files are the same bytes wherever, whenever and by whomever they
are packed: each kind of file this build ships is made twice, in two
folders, a second apart, with its inputs' times changed in between, and the
two must be equal. Their members carry SOURCE_DATE_EPOCH as their time and
root as their owner, in sorted order; the programs carry no path of the
build and, on Windows, no link time.

Rebuilding from two clones (scripts/reproduce.sh) also covers the compilers;
this test covers everything after them, in seconds.
"""

import calendar
import io
import os
import shutil
import struct
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile

BUILD = os.environ["MODEL_BUILD_DIR"]
SOURCE = os.environ["MODEL_SOURCE_DIR"]
VERSION = os.environ["MODEL_VERSION"]
PROGRAMS = [p for p in (os.environ["MODEL_BIN"],
                        os.environ.get("MODEL_CAPTURE_BIN", "")) if p]
WINDOWS = PROGRAMS[0].endswith(".exe")
# A fixed time that is not the clock's, so that a file stamped with the
# clock is told apart from one stamped with this.
EPOCH = 1700000000


def run(args, **kwargs):
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH))
    done = subprocess.run(args, capture_output=True, env=env, check=False,
                          timeout=180, preexec_fn=lambda: os.umask(0o022),
                          **kwargs)
    if done.returncode != 0:
        raise RuntimeError(f"{args}: {done.stdout!r} {done.stderr!r}")
    return done.stdout


def linux_packages(out):
    run(["cpack", "-G", "DEB;RPM", "-B", out,
         "--config", os.path.join(BUILD, "CPackConfig.cmake")])
    return [os.path.join(out, n) for n in os.listdir(out)
            if n.endswith((".deb", ".rpm"))]


def windows_zip(out):
    tree = os.path.join(out, f"Model-{VERSION}-win64")
    run([os.environ["MODEL_CMAKE"], "--install", BUILD, "--prefix", tree])
    zip_path = tree + ".zip"
    run([os.environ["MODEL_PYTHON"],
         os.path.join(SOURCE, "packaging", "zip.py"), zip_path, tree])
    return [zip_path]


def windows_msi(out):
    msi = os.path.join(out, f"Model-{VERSION}-win64.msi")
    run([os.environ["MODEL_CMAKE"], "-D", "WIXL=" + os.environ["MODEL_WIXL"],
         "-D", "PYTHON=" + os.environ["MODEL_PYTHON"],
         "-D", "WXS=" + os.environ["MODEL_WXS"], "-D", "OUTPUT=" + msi,
         "-D", "VERSION=" + VERSION,
         "-D", "UPGRADE_CODE=" + os.environ["MODEL_UPGRADE_CODE"],
         "-P", os.environ["MODEL_MSI_SCRIPT"]])
    return [msi]


# Listers: (name, time, owner) of each member of a release file, in the
# file's order; names in parentheses are not files (their order is the
# format's).
def tar_members(path, part):
    data = subprocess.run(["dpkg-deb", part, path], capture_output=True,
                          check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        return [(m.name, m.mtime, m.uname) for m in tar]


def deb_members(path):
    return tar_members(path, "--fsys-tarfile") + [
        (f"({name})", t, u)
        for name, t, u in tar_members(path, "--ctrl-tarfile")]


def rpm_members(path):
    rows = run(["rpm", "-qp", "--qf",
                "[%{FILENAMES} %{FILEMTIMES} %{FILEUSERNAME}\n]", path])
    found = [tuple(r.split()) for r in rows.decode().splitlines()]
    build_time = run(["rpm", "-qp", "--qf", "%{BUILDTIME}", path]).decode()
    return [(n, int(t), u) for n, t, u in found] + [
        ("(build time)", int(build_time), "root")]


def zip_members(path):
    with zipfile.ZipFile(path) as archive:
        # A zip holds no owner.
        return [(i.filename, calendar.timegm(i.date_time + (0, 0, 0)),
                 "root") for i in archive.infolist()]


# The MSI is a database, its order its tables'; its times are checked by
# the bytes of two builds being equal.
MEMBERS = {".deb": deb_members, ".rpm": rpm_members, ".zip": zip_members}

# What each platform's build ships, and the inputs whose times must not
# reach it.
if WINDOWS:
    BUILDERS = {"zip": windows_zip, "msi": windows_msi}
    INPUTS = PROGRAMS + [os.path.join(BUILD, "resources", "LICENSE.txt")]
else:
    BUILDERS = {"deb-rpm": linux_packages}
    INPUTS = PROGRAMS + [os.path.join(BUILD, "man", "model.1.gz")]


def pe_link_time(path):
    with open(path, "rb") as f:
        image = f.read(1024)
    (header,) = struct.unpack_from("<I", image, 0x3C)
    return struct.unpack_from("<I", image, header + 8)[0]


class Reproducible(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="model-reproducible-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_two_packings_give_the_same_bytes(self):
        for kind, build in BUILDERS.items():
            with self.subTest(kind):
                first = build(os.path.join(self.tmp, kind, "first"))
                time.sleep(1.1)
                for path in INPUTS:
                    os.utime(path)  # the clock's time, a second later
                second = build(os.path.join(self.tmp, kind, "second", "x"))
                self.assertEqual(len(first), len(second))
                for a, b in zip(sorted(first), sorted(second)):
                    with open(a, "rb") as fa, open(b, "rb") as fb:
                        self.assertTrue(fa.read() == fb.read(),
                                        f"{a} and {b} differ")
                    lister = MEMBERS.get(os.path.splitext(a)[1])
                    if not lister:
                        continue
                    members = lister(a)
                    names = [m[0] for m in members if m[0][0] != "("]
                    self.assertEqual(names, sorted(names), a)
                    self.assertEqual({(t, u) for _, t, u in members},
                                     {(EPOCH, "root")}, a)

    def test_programs_hold_no_build_path_or_link_time(self):
        for path in PROGRAMS:
            with self.subTest(os.path.basename(path)):
                with open(path, "rb") as f:
                    image = f.read()
                for folder in {SOURCE, BUILD}:
                    self.assertNotIn(folder.encode(), image)
                if WINDOWS:
                    self.assertEqual(pe_link_time(path), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
