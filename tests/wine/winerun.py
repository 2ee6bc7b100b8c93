"""Runs Windows programs in the test prefix and reads what Model.exe leaves.

Every run goes through scripts/wine-prefix.sh, which gives Wine files rather
than pipes for its output; what comes back here through a pipe is only what
the script copies out of those files once Wine has finished.
"""

import os
import subprocess

EXE = os.environ["MODEL_EXE"]
WINE_DIR = os.environ["MODEL_WINE_DIR"]
SCRIPT = os.environ["MODEL_WINE_SCRIPT"]
WINDOWS_DIR = os.path.join(WINE_DIR, "prefix", "drive_c", "windows")
RESULTS = os.path.join(WINDOWS_DIR, "Model.txt")
LOG = os.path.join(WINDOWS_DIR, "Model.log")
RESULTS_WINDOWS_PATH = "C:\\windows\\Model.txt"


def wine(args, dll_overrides="", display="", timeout=60):
    """Runs args[0] under Wine; returns (exit code, stdout, stderr) as bytes."""
    env = dict(os.environ)
    env["MODEL_WINE_DLLOVERRIDES"] = dll_overrides
    env["MODEL_WINE_DISPLAY"] = display
    done = subprocess.run([SCRIPT, "run", WINE_DIR] + list(args),
                          stdin=subprocess.DEVNULL, capture_output=True,
                          env=env, timeout=timeout, check=False)
    return done.returncode, done.stdout, done.stderr


def wmic_value(class_name, prop):
    """One property of the first instance of a class, as Wine's wmic prints
    it (Unicode output, a header line, then the value padded with blanks)."""
    code, out, err = wine(["wmic", "path", class_name, "get", prop])
    if code != 0:
        raise RuntimeError(f"wmic {class_name} {prop}: exit {code}: {err!r}")
    text = out.decode("utf-16") if out.startswith(b"\xff\xfe") else out.decode()
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    if len(lines) < 2 or lines[0].lower() != prop.lower():
        raise RuntimeError(f"wmic {class_name} {prop}: unexpected {text!r}")
    return lines[1]


def attributes(windows_path):
    """The attribute letters that Wine's attrib shows for one file."""
    code, out, err = wine(["cmd", "/c", "attrib", windows_path])
    text = out.decode("latin-1")
    if code != 0 or windows_path not in text:
        raise RuntimeError(f"attrib {windows_path}: {text!r} {err!r}")
    return set(text[:text.index(windows_path)].replace(" ", ""))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    # A new file, so that no attribute of an earlier one carries over.
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.write(data)
