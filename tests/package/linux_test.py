"""The Debian and RPM packages that CPack makes from this build: lintian
finds nothing to complain about in the .deb, both hold the same files, the
version reaches their metadata and changelogs, and each installs, runs and
removes every file again.

dpkg and rpm work in a root of their own (dpkg --root, rpm --root and
--dbpath, with empty package databases) so that the test never touches this
machine's packages: a developer may have the real package installed.
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


def dpkg_root(root):
    admin = os.path.join(root, "var/lib/dpkg")
    for sub in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(admin, sub))
    for name in ("status", "available"):
        open(os.path.join(admin, name), "w").close()


def rpm_root(root):
    # An RPM owns only its own folders; the system's are there before it.
    for folder in ("var/lib/rpm", "usr/bin", "usr/share/doc",
                   "usr/share/man/man1", "usr/share/lintian/overrides"):
        os.makedirs(os.path.join(root, folder))
    done = run(["rpm", f"--root={root}", "--dbpath=/var/lib/rpm", "--initdb"])
    if done.returncode != 0:
        raise RuntimeError(done.stderr)


# Per format: the file, its files (one path per line), a query of its
# version (and the RPM's changelog) with what it must print, how to make a
# private root, install and remove, and the package database in that root.
RPM = ["rpm", "--root={root}", "--dbpath=/var/lib/rpm"]
FORMATS = {
    "deb": (lambda arch: f"model_{VERSION}_{arch}.deb",
            lambda pkg: [row.split()[-1] for row in run(
                ["dpkg-deb", "--contents", pkg]).stdout.splitlines()
                if not row.startswith("d")],
            ["dpkg-deb", "--field", "{pkg}", "Version"], rf"{VERSION}\n",
            dpkg_root, ["dpkg", "--root={root}", "--install", "{pkg}"],
            ["dpkg", "--root={root}", "--remove", "model"], "var/lib/dpkg/"),
    "rpm": (lambda arch: f"model-{VERSION}-1.x86_64.rpm",
            lambda pkg: run(["rpm", "-qlp", pkg]).stdout.splitlines(),
            ["rpm", "-qp", "--qf", "%{{VERSION}}-%{{RELEASE}} %{{CHANGELOGNAME}}",
             "{pkg}"], rf"{VERSION}-1 .* - {VERSION}-1",
            rpm_root, RPM + ["--install", "{pkg}"], RPM + ["--erase", "model"],
            "var/lib/rpm"),
}


def fill(args, **values):
    return [a.format(**values) for a in args]


class LinuxPackages(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="model-packages-")
        out = os.path.join(cls.tmp, "out")
        made = run(["cpack", "-G", "DEB;RPM", "-B", out,
                    "--config", os.path.join(BUILD, "CPackConfig.cmake")])
        if made.returncode != 0:
            raise RuntimeError(made.stdout + made.stderr)
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        cls.packages = {kind: os.path.join(out, f[0](arch))
                        for kind, f in FORMATS.items()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_lintian_finds_no_error_or_warning(self):
        # The one override, a statically linked binary, carries its reason
        # in the package (packaging/debian/lintian-overrides).
        done = run(["lintian", "--fail-on", "error,warning",
                    self.packages["deb"]])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_contents_and_version(self):
        programs = {"model"} | ({"model-capture"} if CAPTURE else set())
        want = {f"/usr/bin/{p}" for p in programs}
        want |= {f"/usr/share/man/man1/{p}.1.gz" for p in programs}
        want |= {"/usr/share/doc/model/" + name
                 for name in ("README.md", "copyright", "changelog.gz")}
        want.add("/usr/share/lintian/overrides/model")
        for kind, (_, files, query, version, *_) in FORMATS.items():
            with self.subTest(kind):
                pkg = self.packages[kind]
                # An RPM lists the folders it owns, a .deb shows them as "d".
                listed = {"/" + p.lstrip("./") for p in files(pkg)}
                self.assertEqual(
                    {p for p in listed if not p.endswith("/doc/model")}, want)
                self.assertRegex(run(fill(query, pkg=pkg)).stdout,
                                 f"^{version}$")
        root = os.path.join(self.tmp, "extract")
        run(["dpkg-deb", "--extract", self.packages["deb"], root])
        with gzip.open(os.path.join(root, "usr/share/man/man1/model.1.gz"),
                       "rt") as f:
            self.assertIn(f'"model {VERSION}"', f.readline() + f.readline())
        with gzip.open(os.path.join(root, "usr/share/doc/model/changelog.gz"),
                       "rt") as f:
            self.assertTrue(f.readline().startswith(f"model ({VERSION}) "))

    def test_install_run_remove(self):
        for kind, (*_, prepare, install, remove, db) in FORMATS.items():
            with self.subTest(kind):
                root = os.path.join(self.tmp, "root-" + kind)
                prepare(root)
                before = tree(root)

                def call(args):
                    done = run(fill(args, root=root, pkg=self.packages[kind]))
                    self.assertEqual(done.returncode, 0,
                                     done.stdout + done.stderr)

                call(install)
                windir = os.path.join(self.tmp, "windows-" + kind)
                os.mkdir(windir)
                env = {"PATH": "/usr/bin:/bin", "Windir": windir,
                       "TZ": "UTC0",
                       "MODEL_FS_ROOT": os.path.join(MACHINES, "laptop")}
                done = run([os.path.join(root, "usr/bin/model"),
                            "Win32_ComputerSystem;Name"], env=env)
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(os.path.join(windir, "Model.txt"), "rb") as out:
                    self.assertEqual(
                        out.read(),
                        b'Model = "20XWCTO1WW"\r\nName = "x1carbon"\r\n')

                call(remove)
                left = {p for p in tree(root) - before
                        if not p.startswith(db)}
                self.assertEqual(left, set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
