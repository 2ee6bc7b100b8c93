#!/usr/bin/env bash
# Runs the benchmarks and prints each measurement beside what it is compared
# with, as ratios taken in the same run:
#   - CTokenizer vs memchr on 1 MB of text; FormatPropertyValue per type
#     (bench/core_bench, Google Benchmark)
#   - parsers at sizes ten times apart, with the growth of their cost
#     (bench/live_bench, bench/scaling.py)
#   - whole runs of build/model vs a static C program that reads one sysfs
#     file and writes one line; instructions (callgrind) and peak RSS; 1,000
#     vs 10,000 requests (bench/wholerun.py)
#   - the MOF reader: a 1,600-class schema through #pragma include vs reading
#     its bytes (bench/mof_bench); repositories of n vs 10 n classes or
#     properties, whole runs (bench/mof_scale.py)
#   - under Wine, when build-mingw holds the Windows build: a capture of the
#     eight default classes vs one Model.exe run per class
#     (bench/capture_wine.py)
# Timings depend on the machine and its load; the ratios are what to compare.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build unit bench memcheck
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null

echo "== micro-benchmarks"
build/bench/core_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_format=json --benchmark_out=build/core_bench.json \
  --benchmark_out_format=json >/dev/null 2>&1
python3 bench/report.py build/core_bench.json

echo "== scaling"
build/bench/live_bench --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out=build/live_bench.json \
  --benchmark_out_format=json >/dev/null 2>&1
python3 bench/scaling.py build/live_bench.json

echo "== whole runs"
python3 bench/wholerun.py build

echo "== MOF repositories"
build/bench/mof_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json \
  --benchmark_out=build/mof_bench.json --benchmark_out_format=json \
  >/dev/null 2>&1
python3 bench/mof_report.py build/mof_bench.json
python3 bench/mof_scale.py build

# Under Wine, when the Windows build is there: one capture of the eight
# default classes against one Model.exe run per class.
if [ -x build-mingw/ModelCapture.exe ] && command -v wine >/dev/null; then
  echo "== capture under Wine"
  python3 bench/capture_wine.py build-mingw
fi
