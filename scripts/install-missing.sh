# Sourced by the scripts: install_missing installs the Debian packages named
# in its arguments, if any, without asking.
install_missing() {
  [ $# -gt 0 ] || return 0
  echo "== installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "$@" >/dev/null
}
