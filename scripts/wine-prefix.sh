#!/usr/bin/env bash
# A throwaway Wine prefix for running the Windows build: creates it, keeps one
# wineserver running for a batch of runs, stops that server, and runs single
# Windows programs in it.
#
#   scripts/wine-prefix.sh create DIR    make DIR/prefix unless it is ready
#   scripts/wine-prefix.sh start DIR     create, then start a wineserver
#   scripts/wine-prefix.sh stop DIR      stop the wineserver that start began
#   scripts/wine-prefix.sh run DIR EXE [ARGS...]
#                                        run EXE under Wine, print what it
#                                        printed, exit with its exit code
#
# DIR holds the prefix, the CD-ROM drive's folder, the server's pid file and
# logs/. Nothing outside DIR is touched but Wine's own socket folder in /tmp.
#
# Wine's helper processes (services.exe, explorer.exe, ...) inherit the
# standard output of the Wine process that started them and outlive it, so a
# pipe handed to Wine may never see its end: every Wine process here writes
# into files under DIR/logs instead.
set -euo pipefail

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

[ $# -ge 2 ] || usage
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

prefix=$dir/prefix
stamp=$dir/prefix.ready
pidfile=$dir/wineserver.pid
logs=$dir/logs
mkdir -p "$logs"

# No display, so nothing can wait for a click; no Mono or Gecko, whose
# absence would otherwise bring up an installer dialog; no menu entries or
# file associations written into $HOME. A caller may add DLL overrides
# (MODEL_WINE_DLLOVERRIDES) or hand over an X display (MODEL_WINE_DISPLAY).
export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -n "${MODEL_WINE_DLLOVERRIDES:-}" ]; then
  WINEDLLOVERRIDES+=";$MODEL_WINE_DLLOVERRIDES"
fi
export WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${MODEL_WINE_DISPLAY:-}" ]; then
  export DISPLAY=$MODEL_WINE_DISPLAY
fi

wine_version() { wine --version 2>/dev/null || echo unknown; }

# The folder that holds the server's socket: Debian's Wine makes a random one
# in $TMPDIR at each start and names it in the prefix's file "wineserver";
# upstream Wine uses /tmp/.wine-UID. The server folder in it is named after
# the prefix's device and inode numbers.
socket_path() {
  local base
  base=/tmp/.wine-$(id -u)
  if [ -f "$prefix/wineserver" ]; then
    base=${TMPDIR:-/tmp}/$(cat "$prefix/wineserver")
  fi
  printf '%s/server-%x-%x/socket\n' "$base" "0x$(stat -c %D "$prefix")" \
    "$(stat -c %i "$prefix")"
}

# Whether process $1 still runs; a zombie that nobody reaps does not.
alive() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# The pid in the pid file when that process is still our wineserver (a pid
# file left behind by a killed run may name a process that reused the id).
running_pid() {
  [ -f "$pidfile" ] || return 1
  local pid
  pid=$(cat "$pidfile")
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  alive "$pid" || return 1
  [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == *wineserver* ]] || return 1
  echo "$pid"
}

create() {
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(wine_version)" ] &&
    [ -d "$prefix/drive_c/windows" ]; then
    return 0
  fi
  local started=$SECONDS
  echo "creating Wine prefix $prefix"
  rm -rf "$prefix" "$stamp"
  mkdir -p "$dir/cdrom"
  wine wineboot --init >"$logs/create.out" 2>&1 </dev/null || {
    cat "$logs/create.out"
    echo "wineboot failed" >&2
    return 1
  }
  # A CD-ROM drive D: whose disc is an empty folder. mountmgr reads the drive
  # types when it starts, so the value must be in place before the server of
  # the test runs starts.
  ln -sfn ../../cdrom "$prefix/dosdevices/d:"
  wine reg add 'HKLM\Software\Wine\Drives' /v d: /t REG_SZ /d cdrom /f \
    >"$logs/create-drive.out" 2>&1 </dev/null || {
    cat "$logs/create-drive.out"
    echo "could not define the CD-ROM drive" >&2
    return 1
  }
  # The server started for the set-up writes the registry to disk when it
  # exits, a few seconds after its last process.
  wineserver --wait >>"$logs/create.out" 2>&1 </dev/null || true
  wine_version >"$stamp"
  echo "Wine prefix ready after $((SECONDS - started)) s"
}

start() {
  create
  stop
  # Our own session, so that signals meant for the caller's terminal or test
  # runner do not reach the server. With job control off a background job is
  # no group leader, so setsid execs in place and $! is the server's pid.
  setsid wineserver --foreground --persistent \
    >"$logs/wineserver.out" 2>&1 </dev/null &
  local pid=$!
  echo "$pid" >"$pidfile"
  local waited=0
  until [ -S "$(socket_path)" ]; do
    if ! alive "$pid" || [ $waited -ge 100 ]; then
      cat "$logs/wineserver.out"
      echo "wineserver did not come up (waited for $(socket_path))" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  # Bring up services.exe and the other helpers now, with files as their
  # standard output, rather than in the first test.
  wine cmd /c exit >"$logs/warm-up.out" 2>&1 </dev/null
  echo "wineserver running, pid $pid"
}

stop() {
  local pid
  if ! pid=$(running_pid); then
    rm -f "$pidfile"
    return 0
  fi
  # SIGINT makes the server end every process of the prefix and then exit,
  # which takes it a few seconds; a plain SIGTERM would leave services.exe
  # and the other helpers behind.
  kill -INT "$pid" 2>/dev/null || true
  local waited=0
  while alive "$pid"; do
    if [ $waited -ge 150 ]; then
      echo "wineserver $pid ignored SIGINT; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  rm -f "$pidfile"
  echo "wineserver $pid stopped"
}

run() {
  [ $# -ge 1 ] || usage
  local name status=0
  name=$(basename "$1")
  wine "$@" >"$logs/$name.out" 2>"$logs/$name.err" </dev/null || status=$?
  cat "$logs/$name.out"
  cat "$logs/$name.err" >&2
  return $status
}

case $command in
  create) create ;;
  start) start ;;
  stop) stop ;;
  run) run "$@" ;;
  *) usage ;;
esac
