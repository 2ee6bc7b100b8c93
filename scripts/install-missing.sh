# Sourced by the scripts: install_missing installs the Debian packages named
# in its arguments, if any, without asking. It needs root (or sudo) and
# apt-get; without them it names the packages and fails.
install_missing() {
  [ $# -gt 0 ] || return 0
  local run_as=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
      run_as=(sudo)
    else
      echo "missing: $* (install them, or run this as root)" >&2
      return 1
    fi
  fi
  if ! command -v apt-get >/dev/null; then
    echo "missing: $* (Debian package names; install their equivalents)" >&2
    return 1
  fi
  echo "== installing: $*" >&2
  ${run_as[@]+"${run_as[@]}"} env DEBIAN_FRONTEND=noninteractive \
    apt-get update -qq
  ${run_as[@]+"${run_as[@]}"} env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq "$@" >/dev/null
}
