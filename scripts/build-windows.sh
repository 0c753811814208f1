#!/usr/bin/env bash
# Builds the Windows release of Lorvane on Debian 12, from the top of a clone:
#
#   scripts/build-windows.sh
#
# leaves build-windows/lorvane-<version>-win64.zip and build-windows/lorvane-<version>-setup.exe.
# It installs what it needs from Debian (mingw-w64, Wine, NSIS, the host Qt tools, deb-src
# entries), cross-builds Qt's qtbase from Debian's source package once into a cache outside
# the repository (scripts/windows/qtbase.sh; 25 to 50 minutes on 2 cores, then reused),
# cross-builds lorvane.exe, lorvane-cli.exe and the tests with the `windows` preset, and packs
# the release. Then `ctest --preset windows` runs the tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$(date +%s)

# shellcheck source=packages.sh
source "$root/scripts/packages.sh"
# Wine's Schannel is GnuTLS underneath: libgnutls30 of the architecture wine64 runs (amd64),
# which Wine only recommends. openssl makes the network check's server certificate.
ensure_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev \
    gcc-mingw-w64-base cmake ninja-build qt6-base-dev qt6-base-dev-tools dpkg-dev xz-utils \
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n \
    wine wine64 libgnutls30 nsis zip unzip xvfb xauth xdotool x11-utils imagemagick \
    fonts-noto-cjk ser2net openssl
ensure_deb_src

step=$(date +%s)
LORVANE_WINDOWS_QT=$("$root/scripts/windows/qtbase.sh")
export LORVANE_WINDOWS_QT
echo "build-windows.sh: qtbase ready in $(( $(date +%s) - step )) s: $LORVANE_WINDOWS_QT" >&2

step=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "build-windows.sh: project built in $(( $(date +%s) - step )) s" >&2

version=$(sed -n 's/^project(lorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
"$root/packaging/windows/pack.sh" build-windows "$LORVANE_WINDOWS_QT" "$version"
echo "build-windows.sh: done in $(( $(date +%s) - started )) s" >&2
