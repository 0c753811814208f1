#!/bin/bash
# Installs the build into a scratch prefix and builds the Debian package from it, then
# checks what a user would get: the programs, the menu entry, the icons, the manual pages,
# the copyright file and changelog, a Depends line computed from the linked libraries, and
# what lintian says.
#
# Usage: package_test.sh <build folder>
# Exit status: 0 passed, 1 failed, 77 cpack's helpers (dpkg-shlibdeps, file) are missing.
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/root" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; }
for f in bin/lorvane bin/lorvane-cli bin/lorvane-sim share/applications/lorvane.desktop \
         share/icons/hicolor/32x32/apps/lorvane.png share/icons/hicolor/256x256/apps/lorvane.png \
         share/icons/hicolor/scalable/apps/lorvane.svg; do
    [ -e "$work/root/$f" ] || fail "not installed: $f"
done
[ -x "$work/root/bin/lorvane" ] || fail "lorvane is not executable"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/root/share/applications/lorvane.desktop" || fail "desktop entry"
fi
identify -format '%w %h' "$work/root/share/icons/hicolor/32x32/apps/lorvane.png" 2>/dev/null |
    grep -qx '32 32' || ! command -v identify >/dev/null || fail "32x32 icon has the wrong size"

for tool in dpkg-shlibdeps file dpkg-deb; do
    command -v "$tool" >/dev/null || { echo "package: $tool missing, skipped"; exit 77; }
done
(cd "$work" && cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake") \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/lorvane_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb produced"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6serialport6 libqt6widgets6 libqt6network6 libc6 qt6-translations-l10n; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/lorvane ./usr/bin/lorvane-cli ./usr/bin/lorvane-sim \
         ./usr/share/applications/lorvane.desktop; do
    grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
for f in ./usr/share/doc/lorvane/copyright ./usr/share/doc/lorvane/changelog.gz \
         ./usr/share/man/man1/lorvane-cli.1.gz ./usr/share/lorvane/wireshark/lorvane.lua; do
    grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
# The Wireshark dissector as the package ships it is the one the tests run.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/lorvane/wireshark/lorvane.lua |
    cmp -s - "$(dirname "$0")/../tools/wireshark/lorvane.lua" ||
    fail "the package's lorvane.lua differs from tools/wireshark/lorvane.lua"
# lintian: no error or warning (the remaining informational tags are explained in
# docs/packaging.md).
if command -v lintian >/dev/null; then
    tags=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ')
    [ -z "$tags" ] || fail "lintian: $tags"
    echo "lintian: no errors or warnings"
fi
echo "package: OK ($(basename "$deb"))"
