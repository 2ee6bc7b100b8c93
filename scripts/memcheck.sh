#!/usr/bin/env bash
# Runs the end-to-end tests (tests/*_test.py) once more with every run of the
# program under valgrind memcheck, and fails on any memory error or any leak
# (still-reachable blocks included). It uses build/model_dynamic: valgrind
# cannot follow malloc in the static build/model. The tests shrink their big
# inputs (MODEL_MEMCHECK=1); memory errors do not need the size.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
  echo "== installing: valgrind"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq valgrind >/dev/null
fi
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target model_dynamic \
  model_capture >/dev/null

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export MODEL_BIN="$PWD/build/model_dynamic" MODEL_TESTS_DIR="$PWD/tests"
export MODEL_MEMCHECK=1 MEMCHECK_LOGS="$logs"

status=0
python3 - tests/*_test.py <<'PY' || status=$?
import importlib.util
import os
import subprocess
import sys
import unittest

program = os.path.realpath(os.environ["MODEL_BIN"])
valgrind = ["valgrind", "-q", "--leak-check=full", "--show-leak-kinds=all",
            "--errors-for-leak-kinds=all", "--error-exitcode=99",
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
suite = unittest.TestSuite()
for path in sys.argv[1:]:
    found = importlib.util.spec_from_file_location(os.path.basename(path)[:-3], path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    suite.addTests(unittest.defaultTestLoader.loadTestsFromModule(module))
result = unittest.TextTestRunner(verbosity=1).run(suite)
sys.exit(0 if result.wasSuccessful() else 1)
PY

runs=$(find "$logs" -name '*.log' | wc -l)
found=$(find "$logs" -name '*.log' -size +0 | wc -l)
if [ "$found" -gt 0 ]; then
  find "$logs" -name '*.log' -size +0 -exec cat {} + | head -100
  echo "memcheck: $found of $runs runs reported errors or leaks"
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"
echo "memcheck: $runs runs, no memory error, no leak"
