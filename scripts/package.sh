#!/usr/bin/env bash
# Builds what the project ships into dist/, from the release presets:
#
#   model_<version>_amd64.deb       the Debian package (CPack, build-release/)
#   model-<version>-1.x86_64.rpm    the RPM package (CPack, build-release/)
#   Model-<version>-win64.msi       the Windows Installer package (wixl)
#   Model-<version>-win64.zip       the Windows programs, README, CHANGELOG
#                                   and LICENSE
#   SHA256SUMS                      the checksums of the four
#   SHA256SUMS.asc                  its GnuPG signature, when a key is given
#
# The files are reproducible: a run from another clone of the same commit,
# at another time, gives the same bytes (scripts/reproduce.sh checks that).
# Their times are the commit's (SOURCE_DATE_EPOCH, unless it is set).
#
# Signing, when the environment names what to sign with (unsigned is the
# default, and only unsigned files are reproducible):
#   MODEL_SIGN_PKCS12          a PKCS#12 file with the code-signing
#                              certificate and its key: both .exe files (before
#                              they go into the MSI and the zip) and the MSI
#                              get an Authenticode signature
#   MODEL_SIGN_PASSWORD_FILE   the file that holds the PKCS#12 file's password
#   MODEL_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamping server, so
#                              that signatures outlive the certificate
#   MODEL_GPG_KEY              a GnuPG key id: SHA256SUMS.asc
#
# Installs what the builds need when it is missing (Debian, as root). Refuses
# to ship a Windows program that is over 1 MB or needs a DLL Windows does not
# have (the release images' tests).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=(build windows release)
[ -z "${MODEL_SIGN_PKCS12:-}${MODEL_GPG_KEY:-}" ] || stages+=(sign)
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages "${stages[@]}"

# What may differ between two machines or two users and must not reach the
# files: the time, the permissions of new files, the order of names.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
# No compiled Python left in the sources by the packing scripts.
export PYTHONDONTWRITEBYTECODE=1
umask 022

jobs=$(nproc)
# A package of an earlier version must not slip into dist/, nor programs
# signed by an earlier run into this one: they are linked again.
rm -f build-mingw-release/Model-*-win64.msi build-mingw-release/*.exe
for preset in release mingw-release; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
echo "== check the Windows images"
ctest --preset mingw-release -R '^windows\.release_image\.'

if [ -n "${MODEL_SIGN_PKCS12:-}" ]; then
  echo "== sign the Windows programs, then the MSI made of them"
  scripts/sign.sh authenticode build-mingw-release/*.exe
  cmake --build --preset mingw-release --target msi
  scripts/sign.sh authenticode build-mingw-release/Model-*-win64.msi
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
  build-release/CMakeCache.txt)
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cpack --config build-release/CPackConfig.cmake -B "$staging/linux" >/dev/null
tree=$staging/zip/Model-$version-win64
cmake --install build-mingw-release --prefix "$tree" >/dev/null
python3 packaging/zip.py "$staging/Model-$version-win64.zip" "$tree"

rm -rf dist
mkdir dist
cp "$staging"/linux/*.deb "$staging"/linux/*.rpm "$staging"/*.zip \
  build-mingw-release/*.msi dist/
(cd dist && sha256sum -- *.deb *.msi *.rpm *.zip >SHA256SUMS)
if [ -n "${MODEL_GPG_KEY:-}" ]; then
  scripts/sign.sh gpg dist/SHA256SUMS
fi
echo "== dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
ls -l dist
