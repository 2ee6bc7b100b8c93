#!/usr/bin/env bash
# Builds the native program if needed, runs it with out/ as the Windows
# directory and prints the results (and the log, when it has anything).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
if [ ! -f build/CMakeCache.txt ]; then
  cmake --preset default >/dev/null
fi
cmake --build --preset default -j "$(nproc)" >/dev/null
if [ ! -x build/model ]; then
  echo "The program is not built yet."
  exit 0
fi
mkdir -p out
status=0
Windir="$root/out" build/model "$@" || status=$?
[ -f out/Model.txt ] && cat out/Model.txt
if [ -s out/Model.log ]; then
  echo "--- Model.log"
  cat out/Model.log
fi
exit $status
