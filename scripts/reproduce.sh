#!/usr/bin/env bash
# Checks that scripts/package.sh is reproducible: packs the commit given
# (HEAD by default) twice, from two fresh clones in two folders, the second
# a while after the first and under another umask, and compares the files.
# Prints each file's checksum and whether both runs agree; exits 1 when any
# file differs.
#
#   scripts/reproduce.sh [COMMIT]
#
# Two full release builds, without the compiler cache. To check a
# download instead, run scripts/package.sh in a clone of the release's
# commit and compare dist/SHA256SUMS with the one published (README,
# "Checking a download").
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse "${1:-HEAD}")
# A rebuild that compiles everything again, not one served from a cache.
export CCACHE_DISABLE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for run in first second; do
  git clone -q --no-checkout . "$work/$run/model"
  git -C "$work/$run/model" checkout -q "$commit"
  echo "== $run run in $work/$run/model"
  # The umask of the checkout differs too; package.sh sets its own.
  (cd "$work/$run/model" && umask 077 && scripts/package.sh >../log 2>&1) || {
    tail -n 20 "$work/$run/log"
    exit 1
  }
  sleep 2
done

status=0
for file in "$work"/first/model/dist/*; do
  name=$(basename "$file")
  if cmp -s "$file" "$work/second/model/dist/$name"; then
    echo "same     $(sha256sum <"$file" | cut -c1-64)  $name"
  else
    echo "DIFFERS  $name"
    status=1
  fi
done
exit $status
