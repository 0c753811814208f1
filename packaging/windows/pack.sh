#!/usr/bin/env bash
# Packs a built Windows release: the folder a user unpacks, as a zip, and an NSIS installer.
#
#   packaging/windows/pack.sh BUILD_DIR QT_PREFIX VERSION
#
# Leaves BUILD_DIR/lorvane-VERSION-win64.zip and BUILD_DIR/lorvane-VERSION-setup.exe. The
# folder holds the two programs, the Wireshark dissector, the Qt and C++ runtime DLLs they load (all stripped; Qt
# Network for ports behind network serial servers), the windows platform plugin, the vista
# style and the TLS plugin (Schannel, Windows' own TLS: nothing more to carry), Qt's Chinese
# catalogue (translations/qtbase_zh_CN.qm), a README,
# and the licence texts.
set -euo pipefail

build=$(cd "$1" && pwd)
qt=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
triple=x86_64-w64-mingw32
strip=$triple-strip
name=lorvane-$version
stage_root=$build/stage
stage=$stage_root/$name

rm -rf "$stage_root"
mkdir -p "$stage"/{platforms,styles,tls,translations,licenses/qt,licenses/mingw-w64}

dll_of()
{
    "$triple-g++-posix" -print-file-name="$1"
}

install -m 644 "$build/lorvane.exe" "$build/lorvane-cli.exe" "$stage/"
# The Wireshark dissector for line captures, beside the programs (README.txt says where it goes).
install -m 644 "$root/tools/wireshark/lorvane.lua" "$stage/"
install -m 644 "$qt"/bin/Qt6{Core,Gui,Widgets,Network}.dll "$stage/"
install -m 644 "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
install -m 644 "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
install -m 644 "$qt/plugins/tls/qschannelbackend.dll" "$stage/tls/"
# Qt's own Chinese texts (file dialogs, standard buttons) for the Chinese face, from Debian's
# qt6-translations-l10n of the same Qt version; the window's English is built into lorvane.exe.
install -m 644 /usr/share/qt6/translations/qtbase_zh_CN.qm "$stage/translations/"
for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
    install -m 644 "$(dll_of "$dll")" "$stage/"
done
find "$stage" -name '*.exe' -o -name '*.dll' | while read -r binary; do
    "$strip" --strip-unneeded "$binary"
done

# Text files for Windows: CRLF line ends.
crlf()
{
    sed 's/$/\r/' "$1" >"$2"
}
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
sed -e "s/@VERSION@/$version/g" -e "s/@QT_VERSION@/$qt_version/g" "$here/README.txt" >"$stage_root/README.txt"
crlf "$stage_root/README.txt" "$stage/README.txt"
crlf "$root/LICENSE" "$stage/LICENSE.txt"
install -m 644 "$root/ui/icons/lorvane.ico" "$stage/lorvane.ico"

# Qt: the LGPL (which builds on the GPL v3), and the notices of the code built into it.
for licence in LGPL-3.0-only GPL-3.0-only Qt-GPL-exception-1.0; do
    crlf "$qt/licenses/LICENSES/$licence.txt" "$stage/licenses/qt/$licence.txt"
done
for part in zlib pcre2 harfbuzz-ng libpng freetype double-conversion md4c easing icc \
            tinycbor blake2 rfc6234 sha3 md5 sha1; do
    [ -d "$qt/licenses/src/3rdparty/$part" ] || continue
    for text in "$qt/licenses/src/3rdparty/$part"/*; do
        crlf "$text" "$stage/licenses/qt/3rdparty-$part-$(basename "$text").txt"
    done
done
# The MinGW-w64 runtime: GCC's runtime library exception, winpthreads.
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/mingw-w64/gcc-runtime.txt"
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64/mingw-w64.txt"

# The zip: one folder, lorvane-VERSION.
zip_file=$build/$name-win64.zip
rm -f "$zip_file"
(cd "$stage_root" && zip -q -r -9 -X "$zip_file" "$name")

# The installer; its uninstaller removes exactly the files packed here.
{
    (cd "$stage" && find . -type f | sort) | sed -e 's|^\./||' -e 's|/|\\|g' |
        while read -r file; do printf 'Delete "$INSTDIR\\%s"\n' "$file"; done
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | sed -e 's|^\./||' -e 's|/|\\|g' |
        while read -r dir; do printf 'RMDir "$INSTDIR\\%s"\n' "$dir"; done
} >"$stage_root/uninstall-files.nsh"
setup=$build/$name-setup.exe
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" "$here/lorvane.nsi"

echo "pack.sh: $(basename "$zip_file") $(du -h "$zip_file" | cut -f1), $(basename "$setup") $(du -h "$setup" | cut -f1)" >&2
