#!/usr/bin/env bash
# Cross-builds Qt's qtbase (shared, release) for x86_64-w64-mingw32 from Debian's own source
# package, once, into a cache outside the repository; later calls find it and return at once.
#
#   scripts/windows/qtbase.sh          prints the prefix of the cross-built Qt on stdout
#
# The cache folder is named by the Qt version and a hash of this script's build options and
# of the toolchain file, so changing either builds a new tree beside the old one. Override
# the cache's location with LORVANE_WINDOWS_CACHE. Needs the packages that
# scripts/build-windows.sh installs (mingw-w64, the host Qt of the same version, deb-src).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${LORVANE_JOBS:-$(nproc)}

# Must equal the host Qt's version: its moc, rcc and uic generate code for this tree.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/[+-].*//')

# The smallest qtbase that runs a Widgets program and reaches network serial servers, over
# plain TCP or TLS: no SQL, D-Bus, printing or OpenGL. TLS comes from Windows' own Schannel
# (plugins/tls/qschannelbackend.dll), not OpenSSL, so the release carries no crypto library.
# Qt's own copies of zlib, pcre2, harfbuzz, libpng, freetype and double-conversion are built
# in, so the program needs no other DLLs.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_network=ON -DFEATURE_ssl=ON -DFEATURE_schannel=ON -DFEATURE_openssl=OFF
  -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF
  -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
  # Turning FEATURE_opengl off alone is overridden on Windows; INPUT_opengl is what counts.
  -DINPUT_opengl=no -DFEATURE_opengl=OFF
  # The Debian source package has no wintab headers.
  -DFEATURE_tabletevent=OFF
  # Without direct2d, directwrite3 must go too, or qwindows.dll fails to link.
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
)
key=$( (printf '%s\n' "${options[@]}"; cat "$toolchain"; x86_64-w64-mingw32-g++-posix --version | head -n 1) |
  sha256sum | cut -c1-12)
cache=${LORVANE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lorvane-windows}
prefix=$cache/qtbase-$qt_version-$key

# Qt's licence texts and those of the third-party code built into it, for the release.
# Taken from the source package's tarball into $prefix/licenses.
save_licences()
{
  local tarball=$1 top
  top=qtbase-everywhere-src-$qt_version  # the tarball's one top folder
  rm -rf "$prefix/licenses.tmp"
  mkdir -p "$prefix/licenses.tmp"
  tar xf "$tarball" -C "$prefix/licenses.tmp" --wildcards "$top/LICENSES/*" \
    "$top/src/3rdparty/*/LICENSE*" "$top/src/3rdparty/*/LICENCE*" "$top/src/3rdparty/*/COPYING*"
  mv "$prefix/licenses.tmp/$top" "$prefix/licenses"
  rmdir "$prefix/licenses.tmp"
}

if [ -f "$prefix/.complete" ]; then
  if [ ! -d "$prefix/licenses" ]; then
    work=$(mktemp -d)
    (cd "$work" && apt-get source --download-only \
      "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)") >/dev/null 2>&1 ||
      { echo "qtbase.sh: cannot fetch the qtbase sources for their licences" >&2; exit 1; }
    save_licences "$(ls "$work"/qt6-base_*.orig.tar.*)"
    rm -rf "$work"
  fi
  echo "$prefix"
  exit 0
fi

work=$cache/work-qtbase-$qt_version-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
log=$work/build.log
echo "qtbase.sh: building qtbase $qt_version for Windows into $prefix (log: $log)" >&2
start=$(date +%s)
(
  cd "$work"
  # Debian's source package: the upstream tarball is all that is needed.
  apt-get source --download-only "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)"
  tar xf qt6-base_*.orig.tar.*
  src=$(find . -maxdepth 1 -type d -name 'qtbase*' | head -n 1)
  cmake -G Ninja -S "$src" -B build \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DLORVANE_WINE=LORVANE_WINE-NOTFOUND \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}"
  cmake --build build --parallel "$jobs"
  cmake --install build
) >"$log" 2>&1 || { tail -n 60 "$log" >&2; echo "qtbase.sh: FAILED, see $log" >&2; exit 1; }
save_licences "$(ls "$work"/qt6-base_*.orig.tar.*)"
touch "$prefix/.complete"
echo "qtbase.sh: qtbase built in $(( $(date +%s) - start )) s, $(du -sh "$prefix" | cut -f1)" >&2
rm -rf "$work/build" "$work"/qtbase* "$work"/qt6-base_*
echo "$prefix"
