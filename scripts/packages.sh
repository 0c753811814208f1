# Sourced by the setup and build scripts: installs Debian packages that are missing.
#
# ensure_packages PACKAGE...: checks each with dpkg-query and hands only the missing ones to
# apt-get (through sudo when not root), so a second call costs a fraction of a second.
# ensure_deb_src: adds deb-src entries for the archive the system already uses, when there
# are none, so that `apt-get source` works.

run_as_root()
{
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        command -v sudo >/dev/null || { echo "Need root or sudo to run: $*" >&2; return 1; }
        sudo "$@"
    fi
}

ensure_packages()
{
    local missing=() p status
    for p in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [ "$status" = "install ok installed" ] || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    run_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
    run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}" >&2
}

ensure_deb_src()
{
    local lists=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
    if grep -qsE '^(deb-src[[:space:]]|Types:.*deb-src)' "${lists[@]}"; then
        return 0
    fi
    local f entries=""
    # deb822 files: the same stanzas with Types: deb-src.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && grep -qE '^Types:.*\bdeb\b' "$f" || continue
        entries+=$(sed -E 's/^Types:.*/Types: deb-src/' "$f")$'\n\n'
    done
    [ -n "$entries" ] && printf '%s' "$entries" |
        run_as_root tee /etc/apt/sources.list.d/lorvane-deb-src.sources >/dev/null
    # One-line lists.
    local lines=""
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        lines+=$(grep -E '^deb[[:space:]]' "$f" | sed -E 's/^deb([[:space:]])/deb-src\1/')$'\n'
    done
    [ -n "${lines//$'\n'/}" ] && printf '%s' "$lines" |
        run_as_root tee /etc/apt/sources.list.d/lorvane-deb-src.list >/dev/null
    run_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
}
