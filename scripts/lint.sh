#!/usr/bin/env bash
# Static checks: clang-tidy (checks in .clang-tidy) over every source that the
# native build compiles, and over the fuzz targets when the fuzz build is
# configured; then cppcheck over the same folders. Exits non-zero on any
# finding. Suppressions are inline, each with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v clang-tidy >/dev/null || need+=(clang-tidy)
command -v cppcheck >/dev/null || need+=(cppcheck)
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_missing ${need[@]+"${need[@]}"}
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null

dirs=(app text wmi output capture posix bench fuzz)
sources=()
for dir in "${dirs[@]}" posix/wbem posix/live; do
  for f in "$dir"/*.cpp; do [ -e "$f" ] && sources+=("$f"); done
done

native=()
fuzz=()
for f in "${sources[@]}"; do
  case "$f" in
    fuzz/*) fuzz+=("$f") ;;
    *) native+=("$f") ;;
  esac
done
echo "== clang-tidy: ${#native[@]} sources"
printf '%s\n' "${native[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p build --quiet 2>/dev/null
if [ -f build-fuzz/compile_commands.json ] && [ ${#fuzz[@]} -gt 0 ]; then
  echo "== clang-tidy: ${#fuzz[@]} fuzz targets"
  printf '%s\n' "${fuzz[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p build-fuzz --quiet 2>/dev/null
fi

# useStlAlgorithm is a matter of taste: plain loops are this code's style.
# The stand-in's functions keep the Windows signatures, so a pointer that
# they do not write through is still not const there (constParameter).
echo "== cppcheck"
cppcheck --enable=warning,performance,portability,style --inline-suppr \
  --std=c++20 --language=c++ --library=googletest -I . --quiet \
  --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
  --suppress='constParameter:posix/*' --error-exitcode=1 "${dirs[@]}"
echo "static checks clean"
