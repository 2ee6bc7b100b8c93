#!/usr/bin/env bash
# Builds what the project ships into dist/, from the release presets:
#
#   model_<version>_amd64.deb     the Debian package (CPack, build-release/)
#   Model-<version>-win64.msi     the Windows Installer package (wixl)
#   Model-<version>-win64.zip     the Windows programs and the README
#   SHA256SUMS                    the checksums of the three
#
# Installs what the builds need when it is missing (Debian, as root). Refuses
# to ship a Windows program that is over 1 MB or needs a DLL Windows does not
# have (the release images' tests).
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh
install_packages build windows

jobs=$(nproc)
# A package of an earlier version must not slip into dist/.
rm -f build-mingw-release/Model-*-win64.msi
for preset in release mingw-release; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
echo "== check the Windows images"
ctest --preset mingw-release

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cpack --preset release -B "$staging/deb" >/dev/null
cpack --preset mingw-release -B "$staging/zip" >/dev/null

rm -rf dist
mkdir dist
cp "$staging"/deb/*.deb "$staging"/zip/*.zip build-mingw-release/*.msi dist/
(cd dist && sha256sum -- *.deb *.msi *.zip >SHA256SUMS)
echo "== dist/"
ls -l dist
