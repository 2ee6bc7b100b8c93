#!/usr/bin/env bash
# Static checks: clang-tidy (checks in .clang-tidy) over every source that the
# native build compiles, and over the fuzz targets when the fuzz build is
# configured; then cppcheck over the same folders. Exits non-zero on any
# finding; the last line counts the checks, each file's clang-tidy and
# cppcheck: "N passed, N failed". Suppressions are inline, each with its
# reason.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build unit lint
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null

dirs=(app text wmi output capture posix bench fuzz)

# compiled BUILD [FOLDER]: "BUILD FILE" for each C++ source of the tree that
# BUILD's compile commands hold (only those in FOLDER, if given).
compiled() {
  [ -f "$1/compile_commands.json" ] || return 0
  python3 - "$@" <<'PY'
import json, os, sys
build, under = sys.argv[1], sys.argv[2:]
files = set()
for command in json.load(open(os.path.join(build, "compile_commands.json"))):
    path = os.path.relpath(os.path.join(command["directory"], command["file"]))
    top = path.split(os.sep)[0]
    if path.endswith(".cpp") and top != ".." and not top.startswith("build") \
            and (not under or top in under):
        files.add(path)
for path in sorted(files):
    print(build, path)
PY
}

# One clang-tidy per file, as many at a time as there are cores, so that
# each file counts as one check and the cores stay busy to the end. The fuzz
# targets are compiled only in the fuzz build, so they take its commands.
mapfile -t jobs < <(compiled build && compiled build-fuzz fuzz)
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
