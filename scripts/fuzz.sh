#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with ASan and UBSan) and
# runs each for the given number of seconds (default 20), as many at a time
# as there are cores, starting from its seeds in fuzz/corpus/<target>/. New
# inputs collect in build-fuzz/corpus/; a crashing input is saved in
# build-fuzz/artifacts/ and fails the script. The last line counts the
# targets: "N passed, N failed".
#   scripts/fuzz.sh [seconds] [target...]
# A target is named as its source in fuzz/, with or without "_fuzz":
# tokenizer or tokenizer_fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

known=()
for src in fuzz/*_fuzz.cpp; do
  known+=("$(basename "$src" .cpp)")
done
usage() {
  echo "usage: scripts/fuzz.sh [seconds] [target...]" >&2
  echo "targets: ${known[*]%_fuzz}" >&2
  exit 2
}

seconds=20
if [ $# -gt 0 ]; then
  [[ $1 =~ ^[1-9][0-9]*$ ]] || usage
  seconds=$1
  shift
fi
targets=()
for name in "$@"; do
  name=${name%_fuzz}_fuzz
  found=
  for target in "${known[@]}"; do
    [ "$target" = "$name" ] && found=1
  done
  if [ -z "$found" ]; then
    echo "fuzz.sh: no fuzz target ${name%_fuzz}" >&2
    usage
  fi
  targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || targets=("${known[@]}")

# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build fuzz

CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) cmake --workflow --preset fuzz >/dev/null

# One target per core: each runs on one thread, and fuzzing two at once on
# two cores takes half the time of one after the other.
fuzz_one() {
  local target=$1 corpus=build-fuzz/corpus/$1 log=build-fuzz/$1.log runs
  mkdir -p "$corpus"
  # -timeout catches a hang on one input; -rss_limit_mb runaway memory.
  if build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/artifacts/"$target"- \
      "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ${runs:-?} runs in ${seconds}s, no failure"
  else
    echo "fuzz $target: FAILED (log: $log)"
    grep -E 'ERROR|runtime error|Test unit written' "$log" | head -5 || true
    return 1
  fi
}

mkdir -p build-fuzz/artifacts
declare -A running=()
failed=()
# Waits for one target to finish and notes it when it failed.
reap_one() {
  local pid status=0
  wait -n -p pid || status=$?
  [ "$status" -eq 0 ] || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  [ ${#running[@]} -lt "$(nproc)" ] || reap_one
  fuzz_one "$target" &
  running[$!]=$target
done
while [ ${#running[@]} -gt 0 ]; do reap_one; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found failures in: ${failed[*]}"
  echo "reproduce: build-fuzz/fuzz/<target> build-fuzz/artifacts/<target>-crash-*"
fi
echo "$((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
