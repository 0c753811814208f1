#!/usr/bin/env bash
# Installs what the build needs (Debian 12 / Ubuntu), then configures and builds one
# preset. Quick when everything is already there: packages are checked with dpkg-query
# and only missing ones go to apt-get; the build is incremental.
#
#   scripts/setup.sh [--preset NAME] [--with-tests] [--with-fuzz]
set -euo pipefail

preset=dev
extras=()
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset="$2"; shift 2 ;;
    --with-tests) extras+=(xvfb xauth xdotool x11-utils imagemagick dpkg-dev file desktop-file-utils lintian ser2net openssl strace tshark chromium
                          avahi-daemon avahi-utils iproute2 dbus-daemon); shift ;;
    --with-fuzz) extras+=(clang libclang-rt-14-dev); shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
# qt6-tools-dev and qt6-l10n-tools: lupdate, lrelease and their CMake package for the
# English catalogue; qt6-translations-l10n: Qt's own Chinese texts (qtbase_zh_CN.qm).
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
          libavahi-client-dev fonts-noto-cjk "${extras[@]}")

# shellcheck source=packages.sh
source "$root/scripts/packages.sh"
ensure_packages "${packages[@]}"

cd "$root"
case "$preset" in
  dev) binary_dir=build ;;
  *) binary_dir=build-$preset ;;
esac
if [ ! -f "$binary_dir/CMakeCache.txt" ]; then
  cmake --preset "$preset"
fi
cmake --build --preset "$preset"
