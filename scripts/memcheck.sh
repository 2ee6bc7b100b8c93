#!/usr/bin/env bash
# Runs the end-to-end tests (tests/*_test.py) once more with every run of the
# program under valgrind memcheck, and fails on any memory error or any leak
# (still-reachable blocks included). It uses build/model_dynamic: valgrind
# cannot follow malloc in the static build/model. The tests shrink their big
# inputs (MODEL_MEMCHECK=1); memory errors do not need the size. The test
# methods run one per core at a time; the last line counts them:
# "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build unit memcheck
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target model_dynamic \
  model_capture >/dev/null

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export MODEL_BIN="$PWD/build/model_dynamic" MODEL_TESTS_DIR="$PWD/tests"
export MODEL_MEMCHECK=1 MEMCHECK_LOGS="$logs"
# The tests import their helpers (tests/modeltest.py) from beside them.
export PYTHONPATH="$PWD/tests${PYTHONPATH:+:$PYTHONPATH}" PYTHONDONTWRITEBYTECODE=1

status=0
python3 - "$(nproc)" tests/*_test.py <<'PY' || status=$?
import importlib.util
import io
import multiprocessing
import os
import subprocess
import sys
import unittest

program = os.path.realpath(os.environ["MODEL_BIN"])
# Inlined frames only refine a report's stack; reading them costs a fifth of
# every run.
valgrind = ["valgrind", "-q", "--leak-check=full", "--show-leak-kinds=all",
            "--errors-for-leak-kinds=all", "--error-exitcode=99",
            "--read-inline-info=no",
            "--log-file=" + os.path.join(os.environ["MEMCHECK_LOGS"], "%p.log")]
spawn = subprocess.Popen.__init__


def under_valgrind(self, args, *rest, **options):
    # Only the program goes under valgrind; its exit code, standard error
    # and the caption of its message boxes stay the program's own.
    if isinstance(args, (list, tuple)) and args and \
            os.path.realpath(os.fsdecode(args[0])) == program:
        args = valgrind + list(args)
    spawn(self, args, *rest, **options)


subprocess.Popen.__init__ = under_valgrind


def load(path):
    found = importlib.util.spec_from_file_location(os.path.basename(path)[:-3], path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def tests_of(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from tests_of(item)
        else:
            yield item


def run_one(job):
    """Runs one test method in a worker; returns its id, whether it passed
    and the report of its failures."""
    path, name = job
    test = unittest.defaultTestLoader.loadTestsFromName(name, load(path))
    report = io.StringIO()
    result = unittest.TextTestRunner(stream=report, verbosity=0).run(test)
    return name, result.wasSuccessful(), report.getvalue()


if __name__ == "__main__":
    workers, paths = int(sys.argv[1]), sys.argv[2:]
    jobs = [(path, test.id().split(".", 1)[1]) for path in paths
            for test in tests_of(unittest.defaultTestLoader.loadTestsFromModule(load(path)))]
    passed = failed = 0
    with multiprocessing.Pool(workers) as pool:
        for name, ok, report in pool.imap_unordered(run_one, jobs):
            print(("ok     " if ok else "FAILED ") + name, flush=True)
            if ok:
                passed += 1
            else:
                failed += 1
                print(report, flush=True)
    with open(os.path.join(os.environ["MEMCHECK_LOGS"], "counts"), "w") as f:
        f.write("%d %d\n" % (passed, failed))
    sys.exit(1 if failed else 0)
PY

passed=0
failed=1
[ -f "$logs/counts" ] && read -r passed failed <"$logs/counts"
runs=$(find "$logs" -name '*.log' | wc -l)
found=$(find "$logs" -name '*.log' -size +0 | wc -l)
if [ "$found" -gt 0 ]; then
  find "$logs" -name '*.log' -size +0 -exec cat {} + | head -100
  echo "memcheck: $found of $runs runs reported errors or leaks"
  # Each test checks the program's exit code, which valgrind turns into 99
  # on an error; should one not, the run still fails here.
  [ "$failed" -gt 0 ] || failed=1
  status=1
else
  echo "memcheck: $runs runs, no memory error, no leak"
fi
echo "$passed passed, $failed failed"
exit "$status"
