"""The Debian package that CPack makes from this build: lintian finds nothing
to complain about, the package holds what an administrator expects, dpkg
installs it, the installed program runs, and dpkg removes every file again.

dpkg works in a root of its own (--root, with an empty package database) so
that the test never touches this machine's packages: a developer may have
the real package installed.
"""

import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["MODEL_BUILD_DIR"]
VERSION = os.environ["MODEL_VERSION"]
MACHINES = os.path.join(os.environ["MODEL_TESTS_DIR"], "machines")
# Empty until the capture tool is built.
CAPTURE = os.environ.get("MODEL_CAPTURE_BIN", "")


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, check=False,
                          timeout=120, **kwargs)


def tree(root):
    """Every path below root, relative, folders included."""
    found = set()
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


class DebianPackage(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="model-deb-")
        made = run(["cpack", "-G", "DEB", "-B", os.path.join(cls.tmp, "out"),
                    "--config", os.path.join(BUILD, "CPackConfig.cmake")])
        if made.returncode != 0:
            raise RuntimeError(made.stdout + made.stderr)
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        cls.deb = os.path.join(cls.tmp, "out", f"model_{VERSION}_{arch}.deb")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_lintian_finds_no_error_or_warning(self):
        # The one override, a statically linked binary, carries its reason
        # in the package (packaging/debian/lintian-overrides).
        done = run(["lintian", "--fail-on", "error,warning", self.deb])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_contents(self):
        listing = run(["dpkg-deb", "--contents", self.deb]).stdout
        files = {row.split()[-1].lstrip(".") for row in listing.splitlines()
                 if not row.startswith("d")}
        programs = {"model"} | ({"model-capture"} if CAPTURE else set())
        want = {f"/usr/bin/{p}" for p in programs}
        want |= {f"/usr/share/man/man1/{p}.1.gz" for p in programs}
        want |= {"/usr/share/doc/model/" + name
                 for name in ("README.md", "copyright", "changelog.gz")}
        want.add("/usr/share/lintian/overrides/model")
        self.assertEqual(files, want)

    def test_version_reaches_control_man_page_and_changelog(self):
        self.assertEqual(
            run(["dpkg-deb", "--field", self.deb, "Version"]).stdout.strip(),
            VERSION)
        root = os.path.join(self.tmp, "extract")
        run(["dpkg-deb", "--extract", self.deb, root])
        with gzip.open(os.path.join(root, "usr/share/man/man1/model.1.gz"),
                       "rt") as f:
            self.assertIn(f'"model {VERSION}"', f.readline() + f.readline())
        with gzip.open(os.path.join(root, "usr/share/doc/model/changelog.gz"),
                       "rt") as f:
            self.assertTrue(f.readline().startswith(f"model ({VERSION}) "))

    def test_install_run_remove(self):
        root = os.path.join(self.tmp, "root")
        admin = os.path.join(root, "var/lib/dpkg")
        for sub in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(admin, sub))
        for name in ("status", "available"):
            open(os.path.join(admin, name), "w").close()
        before = tree(root)

        def dpkg(*args):
            done = run(["dpkg", f"--root={root}", *args])
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

        dpkg("--install", self.deb)
        windir = os.path.join(self.tmp, "windows")
        os.mkdir(windir)
        env = {"PATH": "/usr/bin:/bin", "Windir": windir, "TZ": "UTC0",
               "MODEL_FS_ROOT": os.path.join(MACHINES, "laptop")}
        done = run([os.path.join(root, "usr/bin/model"),
                    "Win32_ComputerSystem;Name"], env=env)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(windir, "Model.txt"), "rb") as f:
            self.assertEqual(f.read(),
                             b'Model = "20XWCTO1WW"\r\nName = "x1carbon"\r\n')

        dpkg("--remove", "model")
        left = {p for p in tree(root) - before
                if not p.startswith("var/lib/dpkg/")}
        self.assertEqual(left, set())
        self.assertEqual(
            [n for n in os.listdir(os.path.join(admin, "info"))
             if n.startswith("model.")], [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
