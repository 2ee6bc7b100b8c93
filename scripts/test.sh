#!/usr/bin/env bash
# Installs what the builds and the tests need, builds, and runs every test in
# stages: first the functional ones (unit, end-to-end, Windows build under
# Wine), then the hardening ones (sanitizers, fuzzing, memcheck, static
# checks). Each stage prints one line: its result, its tests and its time;
# its whole output goes to build-logs/<stage>.log. The last line counts the
# tests of every stage, "N passed, N failed"; the exit code is 1 when
# anything failed.
#   scripts/test.sh           everything, as CI runs it
#   scripts/test.sh --quick   the builds and the functional stages only
#
# A stage is one line near the end of this file: `stage NAME COMMAND...`.
# Its tests are counted from its output: CTest's "N tests failed out of M",
# or a line "N passed, N failed" of its own (the hardening scripts print
# one); a command that prints neither counts as one test, passed when it
# exits 0. A stage that mostly waits runs beside the next ones with
# `stage_start NAME COMMAND...` and reports with `stage_wait NAME`.
# The native build's CTest tests run in two stages: those labelled "unit"
# (the GoogleTest cases) and all others (end-to-end); a kind of test that
# wants a stage of its own takes a label and leaves the "e2e" stage with -LE.
set -uo pipefail
cd "$(dirname "$0")/.."

quick=
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

# What the first build and the native tests need (scripts/packages.txt),
# installed first; the rest installs in the background while that build runs.
# Google Benchmark must be there before the native build is configured, for
# the benchmarks must keep building.
first=(build unit)
rest=(windows mingw wine package)
[ -n "$quick" ] || { first+=(bench); rest+=(fuzz memcheck lint); }
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages "${first[@]}" || exit 1
mapfile -t rest < <(missing_packages "${rest[@]}")

jobs=$(nproc)
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
passed=0
failed=0
started=$SECONDS
declare -A running=()

# run_stage NAME COMMAND...: runs the command with its output in the stage's
# log, then notes its exit code and time beside it.
run_stage() {
  local name=$1
  shift
  local log=$logs/${name// /-}.log begin=$SECONDS status=0
  "$@" >"$log" 2>&1 </dev/null || status=$?
  echo "$status $((SECONDS - begin))" >"$log.status"
}

# report NAME: prints the stage's line and adds its tests to the totals.
report() {
  local name=$1
  local log=$logs/${name// /-}.log status took
  read -r status took <"$log.status"
  local total=1 bad=0 skipped=0 ctest own
  ctest=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  own=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [ -n "$ctest" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$ctest")
    total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$ctest")
    skipped=$(grep -cE '\(Skipped\)$' "$log")
  elif [ -n "$own" ]; then
    read -r total _ bad _ <<<"$own"
    total=$((total + bad))
  else
    [ "$status" -eq 0 ] || bad=1
  fi
  # A command that failed without a failed test to show for it (a crash, a
  # build error, no tests found) still fails its stage.
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    bad=1
    total=$((total + 1))
  fi
  local good=$((total - bad - skipped)) result=ok counts
  counts="$good passed"
  [ "$bad" -eq 0 ] || { result=FAILED; counts+=", $bad failed"; }
  [ "$skipped" -eq 0 ] || counts+=", $skipped skipped"
  printf '%-20s %-7s %-32s %4d s\n' "$name" "$result" "$counts" "$took"
  passed=$((passed + good))
  failed=$((failed + bad))
  if [ "$bad" -ne 0 ]; then
    # CTest's list of failed tests, else the end of the output.
    if grep -q '^The following tests FAILED:' "$log"; then
      sed -n '/^The following tests FAILED:/,$p' "$log" | grep -E '^\s+[0-9]+ - '
    else
      tail -n 15 "$log"
    fi | sed 's/^/    /'
    echo "    (whole output: $log)"
  fi
}

# stage NAME COMMAND...: runs a stage and prints its line.
stage() {
  run_stage "$@"
  report "$1"
}

# A stage that takes little of the machine may run beside others:
# stage_start NAME COMMAND... starts it, stage_wait NAME prints its line once
# it is done. builds_start PRESET... builds the presets one after another
# beside the next stages, each its own stage, "build PRESET".
stage_start() {
  run_stage "$@" &
  running[$1]=$!
}
builds_start() {
  local preset pid
  (for preset in "$@"; do run_stage "build $preset" build "$preset"; done) &
  pid=$!
  for preset in "$@"; do running["build $preset"]=$pid; done
}
stage_wait() {
  local pid=${running[$1]} status=$logs/${1// /-}.log.status
  until [ -f "$status" ]; do
    # A job that ended without noting its stage's result was cut short.
    if ! kill -0 "$pid" 2>/dev/null && [ ! -f "$status" ]; then
      echo "1 0" >"$status"
      break
    fi
    sleep 1
  done
  unset "running[$1]"
  report "$1"
}

# The process ids below $1, children first.
descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    descendants "$child"
  done
}

build() {
  cmake --preset "$1" && cmake --build --preset "$1" -j "$jobs"
}

# The Windows build's tests start one wineserver and stop it at their end;
# should they be cut short, stop it here.
trap 'scripts/wine-prefix.sh stop build-mingw/wine >/dev/null 2>&1 || true' EXIT

if [ ${#rest[@]} -gt 0 ]; then
  stage_start install install_missing "${rest[@]}"
fi
stage "build default" build default
# Builds that need nothing more than the native one run beside the native
# tests and whatever is still being installed.
later=(release)
[ -n "$quick" ] || later+=(asan)
builds_start "${later[@]}"
stage unit ctest --preset default -j "$jobs" -L '^unit$'
stage e2e ctest --preset default -j "$jobs" -LE '^unit$'
[ -z "${running[install]:-}" ] || stage_wait install
if [ -z "$quick" ]; then
  # clang-tidy needs only the compile commands (the fuzz targets' come with
  # configuring their build), so the static checks run beside all the other
  # stages at the lowest priority, on the cycles that those leave: linking,
  # Wine, packaging, test runs that keep one core busy.
  cmake --preset fuzz >"$logs/configure-fuzz.log" 2>&1
  stage_start lint nice -n 19 scripts/lint.sh
fi
stage "build mingw" build mingw
# The Wine stage mostly waits for Wine; the remaining builds use the cores.
later=(mingw-release)
[ -n "$quick" ] || later+=(fuzz)
builds_start "${later[@]}"
stage wine ctest --preset mingw -j "$jobs"
stage_wait "build release"
stage package ctest --preset release -j "$jobs"
stage_wait "build mingw-release"
stage "release image" ctest --preset mingw-release -j "$jobs"
if [ -z "$quick" ]; then
  stage_wait "build asan"
  stage_wait "build fuzz"
  stage asan ctest --preset asan -j "$jobs"
  stage fuzz scripts/fuzz.sh 20
  stage memcheck scripts/memcheck.sh
  # Alone now, the checks may have their full share again (only root may
  # raise a priority; anyone else's checks finish at the lowest one).
  renice -n 0 -p $(descendants "${running[lint]}") >/dev/null 2>&1 || true
  stage_wait lint
fi
wait

echo "took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
