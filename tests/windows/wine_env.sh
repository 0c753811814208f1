# Sourced by the Windows checks: Wine set up for this build's programs.
#
# Expects LORVANE_WINEPREFIX (the prefix, created on first use) and LORVANE_WINE_DLL_DIRS
# (colon-separated Linux folders of the DLLs: Qt, the C++ runtime), as CTest passes them.
# wine_setup then exports what Wine needs and makes sure the prefix exists; wine64 runs a
# program. Wine ignores the Unix PATH, TEMP and every QT_* variable, and takes WINEPATH,
# WINEQT_* instead.

wine_setup()
{
    export WINEPREFIX=${LORVANE_WINEPREFIX:?LORVANE_WINEPREFIX is not set}
    export WINEDEBUG=-all WINEARCH=win64
    # No Mono or Gecko installer prompts in a fresh prefix.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local dir windows_dirs=""
    IFS=: read -r -a dirs <<<"${LORVANE_WINE_DLL_DIRS:-}"
    for dir in "${dirs[@]}"; do
        windows_dirs+="Z:${dir//\//\\};"
    done
    export WINEPATH=$windows_dirs
    # QtTest's output reaches stderr only when told so; Qt programs log there too.
    export WINEQT_FORCE_STDERR_LOGGING=1
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
            /usr/lib/wine/wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
}

wine64()
{
    /usr/lib/wine/wine64 "$@"
}
