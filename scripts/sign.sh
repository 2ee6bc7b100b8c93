#!/usr/bin/env bash
# Signs release files (scripts/package.sh; the signing test):
#
#   scripts/sign.sh authenticode FILE...   an Authenticode signature in each
#                                          .exe or .msi, in place
#   scripts/sign.sh gpg FILE               FILE.asc, an armoured detached
#                                          GnuPG signature
#
# authenticode reads MODEL_SIGN_PKCS12 (the certificate and key),
# MODEL_SIGN_PASSWORD_FILE (its password) and, when set,
# MODEL_SIGN_TIMESTAMP_URL (an RFC 3161 server); gpg reads MODEL_GPG_KEY (the
# key id) and GNUPGHOME as gpg does.
set -euo pipefail

usage() {
  echo "usage: scripts/sign.sh authenticode FILE... | gpg FILE" >&2
  exit 2
}

[ $# -ge 2 ] || usage
kind=$1
shift
case $kind in
  authenticode)
    : "${MODEL_SIGN_PKCS12:?names the PKCS#12 file}"
    : "${MODEL_SIGN_PASSWORD_FILE:?names the file with its password}"
    stamp=()
    if [ -n "${MODEL_SIGN_TIMESTAMP_URL:-}" ]; then
      stamp=(-ts "$MODEL_SIGN_TIMESTAMP_URL")
    fi
    for file in "$@"; do
      # A new file beside the old, then a rename: a failed signing leaves the
      # unsigned file as it was.
      rm -f "$file.signed"
      osslsigncode sign -pkcs12 "$MODEL_SIGN_PKCS12" \
        -readpass "$MODEL_SIGN_PASSWORD_FILE" -h sha256 -n Model \
        ${stamp[@]+"${stamp[@]}"} -in "$file" -out "$file.signed" >/dev/null
      mv "$file.signed" "$file"
    done
    ;;
  gpg)
    [ $# -eq 1 ] || usage
    : "${MODEL_GPG_KEY:?names the GnuPG key}"
    gpg --batch --yes --local-user "$MODEL_GPG_KEY" --armor --detach-sign \
      --output "$1.asc" "$1"
    ;;
  *) usage ;;
esac
