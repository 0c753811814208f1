#!/usr/bin/env bash
# Builds the tool and the benchmarks with the dev preset, then runs every benchmark and prints
# the Markdown table on stdout (progress on stderr). Starts its own Xvfb for the xcb start-up
# figures and stops it again on exit. Extra arguments go to lorvane-bench (see --help there),
# e.g. bench/run.sh --chains 200.
#
# Exit status: that of lorvane-bench (0 all sections ran, 1 a section failed, 2 bad usage),
# or 1 when the build or Xvfb fails.

set -euo pipefail


root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# Configure when there is no build folder yet, or when it predates bench/ (the top-level
# CMakeLists.txt only looks for bench/CMakeLists.txt at configure time).
if [ ! -f build/CMakeCache.txt ] || ! grep -q 'lorvane-bench' build/build.ninja 2>/dev/null; then
    cmake --preset dev >&2
fi
cmake --build --preset dev >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/lorvane-bench.XXXXXX")
xvfb_pid=

# Stops the Xvfb this script started, by its id, and removes the temporary folder.
# shellcheck disable=SC2317  # only called by the EXIT trap
cleanup()
{
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

display_args=()
if command -v Xvfb >/dev/null 2>&1; then
    # shellcheck source=../scripts/xvfb.sh
    source "$root/scripts/xvfb.sh"
    start_xvfb "$work" || { echo "run.sh: no X server" >&2; exit 1; }
    display=$xvfb_display
    display_args=(--display ":$display")
else
    echo "run.sh: Xvfb not found (Debian package xvfb); the xcb start-up is left out" >&2
fi

# Qt wants a private runtime folder; give it one instead of a warning on every start.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING QT_FONT_DPI \
    QT_QPA_PLATFORMTHEME WAYLAND_DISPLAY

status=0
build/lorvane-bench "${display_args[@]}" "$@" || status=$?
exit "$status"
