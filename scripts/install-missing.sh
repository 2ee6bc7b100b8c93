# shellcheck shell=bash
# Sourced by the scripts: installs the Debian packages of the stages they
# need, as listed in scripts/packages.txt.
#   install_packages STAGE...   installs what those stages need and is missing
#   missing_packages STAGE...   prints what those stages need and is missing
#   install_missing PACKAGE...  installs the packages named, if any
# Installing needs root (or sudo) and apt-get; without them it names the
# packages and fails.

missing_packages() {
  local stage package present
  while read -r stage package present; do
    case " $* " in *" $stage "*) ;; *) continue ;; esac
    if [[ $present == /* ]]; then
      compgen -G "$present" >/dev/null && continue
    else
      command -v "$present" >/dev/null && continue
    fi
    echo "$package"
  done < <(grep -v '^\s*\(#\|$\)' "$(dirname "${BASH_SOURCE[0]}")/packages.txt")
}

install_packages() {
  local missing
  missing=$(missing_packages "$@")
  # shellcheck disable=SC2086 # one package a line
  install_missing $missing
}

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
  # Another apt-get at work (another checkout's tests, say) is waited for.
  local apt=(apt-get -o DPkg::Lock::Timeout=600)
  ${run_as[@]+"${run_as[@]}"} env DEBIAN_FRONTEND=noninteractive \
    "${apt[@]}" update -qq
  ${run_as[@]+"${run_as[@]}"} env DEBIAN_FRONTEND=noninteractive \
    "${apt[@]}" install -y -qq "$@" >/dev/null
}
