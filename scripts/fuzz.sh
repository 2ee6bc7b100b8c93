#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with ASan and UBSan) and
# runs each for the given number of seconds (default 20), starting from its
# seeds in fuzz/corpus/<target>/. New inputs collect in build-fuzz/corpus/;
# a crashing input is saved in build-fuzz/artifacts/ and fails the script.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true

need=()
command -v clang++ >/dev/null || need+=(clang)
command -v cmake >/dev/null || need+=(cmake)
# libFuzzer's runtime comes with the compiler-rt package.
if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a \
    >/dev/null 2>&1; then
  need+=(libclang-rt-dev)
fi
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_missing ${need[@]+"${need[@]}"}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi

mkdir -p build-fuzz/artifacts
failed=()
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  log=build-fuzz/$target.log
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
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found failures in: ${failed[*]}"
  echo "reproduce: build-fuzz/fuzz/<target> build-fuzz/artifacts/<target>-crash-*"
  exit 1
fi
