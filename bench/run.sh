#!/usr/bin/env bash
# Builds the tool and the benchmarks with the dev preset, then runs every benchmark and prints
# the Markdown table on stdout (progress on stderr). Starts its own Xvfb for the xcb start-up
# figures and stops it again on exit. Extra arguments go to lorvane-bench (see --help there),
# e.g. bench/run.sh --chains 200.
#
# Exit status: that of lorvane-bench (0 all sections ran, 1 a section failed, 2 bad usage),
# or 1 when the build or Xvfb fails.

set -euo pipefail

readonly WAIT_STEPS=100  # polls 0.1 s apart for Xvfb's display number: about 10 s

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
    # Xvfb picks a free display itself and writes its number to fd 3 once it accepts
    # clients. -noreset: the server must not reset between the start-ups measured.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    display=
    for _ in $(seq "$WAIT_STEPS"); do
        display=$(tr -d '\n' <"$work/display")
        [ -n "$display" ] && break
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "run.sh: Xvfb exited:" >&2
            cat "$work/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    if ! [[ "$display" =~ ^[0-9]+$ ]]; then
        echo "run.sh: Xvfb did not report a display" >&2
        exit 1
    fi
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
