"""What the end-to-end tests (tests/*_test.py) share: where the programs and
fixtures are, the environment of a run, running the model program over a
Windows directory and reading what it left there, and the file size limit
and the other user a run may be given.

CTest names the programs through the environment (tests/CMakeLists.txt), and
scripts/memcheck.sh sets the same variables.
"""

import os
import resource
import shutil
import signal
import subprocess
import tempfile

BIN = os.environ.get("MODEL_BIN", "")
EXE = os.path.realpath(BIN)
# Beside the model program when not named (scripts/memcheck.sh).
CAPTURE = os.environ.get("MODEL_CAPTURE_BIN") or os.path.join(
    os.path.dirname(BIN), "model-capture")
TESTS = os.environ.get("MODEL_TESTS_DIR") or os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(TESTS, "fixtures")
MACHINES = os.path.join(TESTS, "machines")
MACHINE_MOF = os.path.join(FIXTURES, "machine.mof")
# Under valgrind (scripts/memcheck.sh) and the sanitizers (the asan test
# preset) the inputs and loops are smaller: the point there is memory
# errors, not size or luck.
QUICK = os.environ.get("MODEL_MEMCHECK") == "1"
SANITIZED = os.environ.get("MODEL_SANITIZED") == "1"

# The other user, for runs next to or as someone without root's rights.
NOBODY = 65534
AS_NOBODY = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
IS_ROOT = os.geteuid() == 0 and shutil.which("setpriv") is not None


def environment(**settings):
    """This process's environment without the variables that pick the
    Windows directory or the WMI source, plus `settings`."""
    env = {k: v for k, v in os.environ.items()
           if k.upper() not in ("WINDIR", "MODEL_WMI_REPOSITORY", "MODEL_FS_ROOT")}
    env.update(settings)
    return env


def read(path):
    """The bytes of a regular file; None where there is none."""
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def scratch(test, mode=0o700):
    """A new directory, removed when `test` ends; 0o755 lets the other user
    (AS_NOBODY) reach what the test shares below it."""
    path = tempfile.mkdtemp()
    test.addCleanup(shutil.rmtree, path)
    os.chmod(path, mode)
    return path


def file_size_limit(limit):
    """A preexec_fn that keeps the files a run writes to `limit` bytes;
    None for no limit."""
    if limit is None:
        return None

    def apply():
        # The signal as a shell's ulimit leaves it, deadly unless the program
        # ignores it.
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class Run:
    """What one run left: its exit code, standard output and error (bytes),
    Model.txt and Model.log (None where there is none) and the names in the
    Windows directory."""

    def __init__(self, done, windir):
        self.code = done.returncode
        self.stdout, self.stderr = done.stdout, done.stderr
        self.txt = read(os.path.join(windir, "Model.txt"))
        self.log = read(os.path.join(windir, "Model.log"))
        self.listing = sorted(os.listdir(windir)) if os.path.isdir(windir) else []


def run(args, windir=None, program=BIN, cwd=None, limit=None, timeout=60, **settings):
    """Runs `program` with `windir` as the Windows directory (a new one,
    removed afterwards, when None) and `settings` in its environment."""
    if windir is None:
        with tempfile.TemporaryDirectory() as new:
            return run(args, new, program, cwd, limit, timeout, **settings)
    done = subprocess.run([program, *args], env=environment(Windir=windir, **settings),
                          cwd=cwd, capture_output=True, timeout=timeout,
                          preexec_fn=file_size_limit(limit))
    return Run(done, windir)


def default_classes():
    """The classes the capture tool captures when none are named."""
    done = subprocess.run([CAPTURE, "--list-defaults"], capture_output=True,
                          check=True, timeout=60)
    return done.stdout.decode().split()
