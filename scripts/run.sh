#!/usr/bin/env bash
# Builds the native program when needed (installing what the build needs on
# a Debian machine), runs it with out/ as the Windows directory and shows
# what the run left there:
#   scripts/run.sh [REQUEST...]
# The results are shown only when this run wrote them. After a failed run
# the log is shown instead, together with a note that out/Model.txt still
# holds an earlier run's results. Exits with the program's exit code.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# What configuring build/ takes; the test tools are scripts/test.sh's.
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build unit

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ ! -f build/CMakeCache.txt ]; then
  if ! cmake --preset default >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: configuring build/ failed" >&2
    exit 1
  fi
fi
# One line says that a build is under way, then CMake's own progress lines;
# an up-to-date program shows nothing.
set +o pipefail
cmake --build --preset default -j "$(nproc)" --target model 2>&1 |
  tee "$log" |
  awk '/^\[ *[0-9]+%\] (Building|Linking)/ {
         if (!shown) print "building build/model"
         shown = 1
         print
         fflush()
       }' >&2
built=${PIPESTATUS[0]}
set -o pipefail
if [ "$built" -ne 0 ]; then
  cat "$log" >&2
  echo "run.sh: the build failed" >&2
  exit 1
fi

# The options answer on their own and write nothing.
for arg in "$@"; do
  case $arg in
    --help | -h | --version) exec build/model "$@" ;;
  esac
done

# Whether this run wrote Model.txt: a replaced file is a new inode, a file
# written in place has a new modification time.
identity() { stat -c '%d %i %s %y' "$1" 2>/dev/null || true; }
mkdir -p out
before=$(identity out/Model.txt)
status=0
Windir="$root/out" build/model "$@" || status=$?
after=$(identity out/Model.txt)

if [ -n "$after" ] && [ "$after" != "$before" ]; then
  echo "== out/Model.txt"
  cat out/Model.txt
fi
if [ -s out/Model.log ]; then
  echo "== out/Model.log"
  cat out/Model.log
fi
if [ -z "$after" ]; then
  echo "model exited with $status and wrote no results." >&2
elif [ "$after" = "$before" ]; then
  echo "model exited with $status without writing out/Model.txt: the results" \
    "of an earlier run were kept there and are not shown." >&2
fi
exit "$status"
