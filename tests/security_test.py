"""The program as root next to another user: links, FIFOs and swapped path
elements planted where it reads and writes.

It runs as SYSTEM or root, often in a Windows directory (or, with Windir
unset, a current directory) that other users can write, and reads a machine
tree (MODEL_FS_ROOT) that others may have built. The other user's side runs
as `nobody` through setpriv. Every case checks that nothing outside the
expected files was read, written or changed. Needs root; skipped otherwise.
"""

import fcntl
import os
import signal
import stat
import subprocess
import sys
import tempfile
import unittest

from modeltest import AS_NOBODY, BIN, CAPTURE, IS_ROOT, MACHINE_MOF, NOBODY, QUICK, \
    environment, read, scratch, write

MODEL = b'Model = "Contoso Desk 7"\r\n'
# The other user cannot run a Python installed below /root.
OTHERS_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


@unittest.skipUnless(IS_ROOT, "needs root and setpriv")
class OtherUsersFiles(unittest.TestCase):
    maxDiff = 4000

    def setUp(self):
        self.root = scratch(self, 0o755)
        # Files only root may touch, which the other user points links at.
        self.vault = os.path.join(self.root, "vault")
        os.mkdir(self.vault, 0o700)
        self.victims = {}
        for name, mode in (("secret", 0o600), ("read-only", 0o444)):
            path = os.path.join(self.vault, name)
            write(path, b"root's own " + name.encode())
            os.chmod(path, mode)
            self.victims[path] = (read(path), mode)

    def shared_directory(self):
        """A directory every user may write, without the sticky bit, so the
        kernel's protection of links in sticky directories does not apply."""
        path = tempfile.mkdtemp(dir=self.root)
        os.chmod(path, 0o777)
        return path

    def assertVictimsUntouched(self):
        for path, (data, mode) in self.victims.items():
            self.assertEqual((read(path), stat.S_IMODE(os.stat(path).st_mode)), (data, mode),
                             path)
        self.assertEqual(sorted(os.listdir(self.vault)), ["read-only", "secret"])

    def test_links_and_fifos_in_the_windows_directory(self):
        secret = os.path.join(self.vault, "secret")
        read_only = os.path.join(self.vault, "read-only")
        # What the other user plants, and the exit code: 0 when Model.txt
        # was written, 2 when it was refused.
        cases = {
            "log linked to a root file": ([("link", "Model.log", secret)], 0),
            "log linked to a file not there yet":
                ([("link", "Model.log", os.path.join(self.vault, "new"))], 0),
            "results linked to a read-only root file":
                ([("link", "Model.txt", read_only)], 2),
            "results linked, and the temporary names of old versions taken":
                ([("link", "Model.txt", secret)] +
                 [("link", "Model.$$.%d.tmp" % i, secret) for i in range(16)], 2),
            "log is a FIFO": ([("fifo", "Model.log", None)], 0),
            "results are a FIFO": ([("fifo", "Model.txt", None)], 2),
        }
        for name, (plants, code) in cases.items():
            with self.subTest(name):
                windir = self.shared_directory()
                # The shell plants as the other user, then becomes the
                # program, keeping its process id ($$).
                script = "cd \"$1\" && shift && " + " && ".join(
                    " ".join(AS_NOBODY) + (
                        " ln -s '%s' \"%s\"" % (target, link) if kind == "link"
                        else " mkfifo \"%s\"" % link)
                    for kind, link, target in plants) + " && exec \"$@\""
                done = subprocess.run(
                    ["sh", "-c", script, "sh", windir, BIN],
                    env=environment(MODEL_WMI_REPOSITORY=MACHINE_MOF),
                    capture_output=True, timeout=30)
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertVictimsUntouched()
                # Each planted name is still what was planted.
                for kind, link, _ in plants:
                    path = os.path.join(windir, link.replace("$$", "*"))
                    if "*" not in path:
                        mode = os.lstat(path).st_mode
                        self.assertTrue(stat.S_ISLNK(mode) or stat.S_ISFIFO(mode), path)
                if code == 0:
                    self.assertEqual(read(os.path.join(windir, "Model.txt")), MODEL)

    def test_hard_links_in_the_windows_directory(self):
        # Without the kernel's protected_hardlinks (off by default where
        # systemd does not turn it on) the other user may give any file of
        # the same file system a second name; root plants it for them here.
        secret = os.path.join(self.vault, "secret")
        read_only = os.path.join(self.vault, "read-only")
        box = "Can not open {}\\%s"
        # name: (program and arguments, name given, file named, held open
        # elsewhere so that it cannot be replaced, exit code, messages)
        cases = {
            "log": ([BIN], "Model.log", secret, False, 0, [box % "Model.log"]),
            "results, read-only": ([BIN], "Model.txt", read_only, False, 2,
                                   [box % "Model.txt"]),
            "results, held open": ([BIN], "Model.txt", secret, True, 2, [box % "Model.txt"]),
            "capture's output": ([CAPTURE, "-o", "{}/out.mof", "Win32_ComputerSystem"], "out.mof",
                                 read_only, False, 2,
                                 ["model-capture: cannot write {}/out.mof: Access is denied."]),
        }
        for name, (command, link, target, held, code, messages) in cases.items():
            with self.subTest(name):
                windir = self.shared_directory()
                os.link(target, os.path.join(windir, link))
                with open(target) as holder:
                    if held:  # as the stand-in's handles without delete sharing hold it
                        fcntl.lockf(holder, fcntl.LOCK_SH, 1, (1 << 63) - 2)
                    done = subprocess.run(
                        [arg.format(windir) for arg in command], capture_output=True,
                        env=environment(Windir=windir, MODEL_WMI_REPOSITORY=MACHINE_MOF),
                        timeout=30)
                self.assertEqual((done.returncode, done.stderr.decode().splitlines()),
                                 (code, [m.format(windir) for m in messages]))
                self.assertVictimsUntouched()
                self.assertTrue(os.path.samefile(os.path.join(windir, link), target))

    def test_empty_windir_means_the_current_directory(self):
        # Not the file-system root. The run is the other user's, so a wrong
        # guess fails instead of writing into /.
        cwd = self.shared_directory()
        done = subprocess.run(AS_NOBODY + [BIN], cwd=cwd, capture_output=True, timeout=30,
                              env=environment(Windir="", MODEL_WMI_REPOSITORY=MACHINE_MOF))
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertEqual(read(os.path.join(cwd, "Model.txt")), MODEL)
        self.assertEqual(sorted(os.listdir(cwd)), ["Model.log", "Model.txt"])

    def test_machine_tree_element_swapped_for_a_link(self):
        # The other user owns a folder of the tree and swaps one element of
        # the path to the serial number for a link out of the tree, to and
        # fro, while the program reads that file 2,000 times per run.
        tree = os.path.join(self.root, "tree")
        dmi = os.path.join(tree, "sys", "class", "dmi")
        os.makedirs(os.path.join(dmi, "id"))
        write(os.path.join(dmi, "id", "product_serial"), b"in the tree\n")
        write(os.path.join(self.vault, "product_serial"), b"root's own serial\n")
        os.chmod(os.path.join(self.vault, "product_serial"), 0o600)
        os.symlink(self.vault, os.path.join(dmi, "swap"))
        for path in (dmi, os.path.join(dmi, "id")):
            os.lchown(path, NOBODY, NOBODY)
        os.lchown(os.path.join(dmi, "swap"), NOBODY, NOBODY)
        swapper = subprocess.Popen(AS_NOBODY + [OTHERS_PYTHON, "-c", SWAPPER, dmi])
        self.addCleanup(swapper.wait)
        self.addCleanup(swapper.send_signal, signal.SIGKILL)
        windir = tempfile.mkdtemp(dir=self.root)
        # Under valgrind (scripts/memcheck.sh) the race runs less often.
        reads = 100 if QUICK else 2000
        for attempt in range(1 if QUICK else 5):
            done = subprocess.run([BIN] + ["Win32_BIOS;SerialNumber"] * reads,
                                  env=environment(Windir=windir, MODEL_FS_ROOT=tree),
                                  capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            results = read(os.path.join(windir, "Model.txt"))
            leaked = results.count(b"root's own")
            self.assertEqual(leaked, 0, "run %d: %d of %d reads left the tree"
                             % (attempt, leaked, reads))
            # Each read found the tree's file, or nothing while the element
            # was a link (to a path the tree does not have).
            values = set(results.split(b"\r\n")[1:-1])
            self.assertLessEqual(values, {b'SerialNumber = "in the tree"',
                                          b"SerialNumber = <null>"})


# Exchanges dmi/id and dmi/swap atomically, again and again, until killed.
SWAPPER = """
import ctypes, os, sys
os.chdir(sys.argv[1])
renameat2 = ctypes.CDLL(None, use_errno=True).renameat2
AT_FDCWD, RENAME_EXCHANGE = -100, 2
while True:
    renameat2(AT_FDCWD, b"id", AT_FDCWD, b"swap", RENAME_EXCHANGE)
"""


if __name__ == "__main__":
    unittest.main()
