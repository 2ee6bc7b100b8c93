#!/usr/bin/env bash
# Installs what the build and tests need, builds every target (native,
# sanitized, Windows cross build) and runs every test. Exits non-zero on any
# failure; the last line is CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  need+=(g++-mingw-w64-x86-64)
# Wine runs the Windows build's tests; Xvfb, xwininfo, xwd and xdotool show
# one of its message boxes on a virtual display.
command -v wine >/dev/null || need+=(wine wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwininfo >/dev/null || need+=(x11-utils)
command -v xwd >/dev/null || need+=(x11-apps)
command -v xdotool >/dev/null || need+=(xdotool)
# Hardening: benchmarks (built with the native preset), libFuzzer, valgrind
# and the static checkers.
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a \
  >/dev/null 2>&1 || need+=(libclang-rt-dev)
command -v valgrind >/dev/null || need+=(valgrind)
command -v clang-tidy >/dev/null || need+=(clang-tidy)
command -v cppcheck >/dev/null || need+=(cppcheck)
# Packaging: wixl builds the MSI (tested in the Wine stage), lintian checks
# the Debian package, Ansible runs the fleet playbook (package stage).
command -v wixl >/dev/null || need+=(wixl)
command -v lintian >/dev/null || need+=(lintian)
command -v ansible-playbook >/dev/null || need+=(ansible-core)
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_missing ${need[@]+"${need[@]}"}

jobs=$(nproc)
for preset in default asan mingw; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== hardening: fuzzing, memcheck, static checks"
started=$SECONDS
scripts/fuzz.sh 20
scripts/memcheck.sh
scripts/lint.sh
echo "== hardening took $((SECONDS - started)) s"

echo "== test asan"
ctest --preset asan -j "$jobs"

# The Windows build under Wine. CTest starts one wineserver for the stage and
# stops it at the end; should CTest itself be cut short, stop it here.
echo "== test mingw (under Wine)"
trap 'scripts/wine-prefix.sh stop build-mingw/wine >/dev/null 2>&1 || true' EXIT
started=$SECONDS
ctest --preset mingw -j "$jobs"
echo "== Wine stage took $((SECONDS - started)) s"

# The release builds (no unit tests) and what they ship: the Windows images,
# the Debian package and the Ansible playbook.
echo "== package stage"
started=$SECONDS
for preset in release mingw-release; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
ctest --preset mingw-release -j "$jobs"
ctest --preset release -j "$jobs"
echo "== package stage took $((SECONDS - started)) s"

echo "== test default"
ctest --preset default -j "$jobs"
