#!/usr/bin/env bash
# Static checks: clang-tidy (checks in .clang-tidy) over every source that the
# native build compiles, and over the fuzz targets when the fuzz build is
# configured; then cppcheck over the same folders. Exits non-zero on any
# finding; the last line counts the checks, each file's clang-tidy and
# cppcheck: "N passed, N failed". Suppressions are inline, each with its
# reason.
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

# One clang-tidy per file, as many at a time as there are cores, so that
# each file counts as one check and the cores stay busy to the end. The fuzz
# targets are compiled only in the fuzz build, so they take its commands.
jobs=()
for f in "${sources[@]}"; do
  case "$f" in
    fuzz/*) [ -f build-fuzz/compile_commands.json ] && jobs+=("build-fuzz $f") ;;
    *) jobs+=("build $f") ;;
  esac
done
echo "== clang-tidy: ${#jobs[@]} sources"
tidy() {
  local out
  if out=$(clang-tidy -p "$1" --quiet "$2" 2>/dev/null); then
    echo "ok     $2"
  else
    printf '%s\nFAILED %s\n' "$out" "$2"
  fi
}
export -f tidy
results=$(printf '%s\n' "${jobs[@]}" | xargs -P "$(nproc)" -L 1 bash -c 'tidy "$@"' _)
echo "$results"
passed=$(grep -c '^ok ' <<<"$results" || true)
failed=$(grep -c '^FAILED ' <<<"$results" || true)

# useStlAlgorithm is a matter of taste: plain loops are this code's style.
# The stand-in's functions keep the Windows signatures, so a pointer that
# they do not write through is still not const there (constParameter).
echo "== cppcheck"
if cppcheck --enable=warning,performance,portability,style --inline-suppr \
  --std=c++20 --language=c++ --library=googletest -I . --quiet \
  --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
  --suppress='constParameter:posix/*' --error-exitcode=1 "${dirs[@]}"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
