# Sourced by scripts that need a private X server (the real-window test, the benchmarks).
#
# start_xvfb WORKDIR: starts Xvfb at 96 dpi on a display it picks itself, waits (about 10 s
# at most) until it accepts clients, and sets xvfb_pid and xvfb_display (the number, without
# the colon). Returns 1, with Xvfb's output on stderr, when it does not come up; the caller
# stops it by xvfb_pid in its own exit trap either way.
#
# -displayfd: Xvfb writes the display number to fd 3 once it accepts clients, so two runs
# never race for a number. -noreset: by default the server resets when its last client
# leaves, and a client connecting during that reset is refused.
start_xvfb()
{
    local work=$1 step
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    xvfb_display=
    for step in $(seq 100); do
        xvfb_display=$(tr -d '\n' <"$work/display")
        [ -n "$xvfb_display" ] && break
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "Xvfb exited:" >&2
            cat "$work/xvfb.log" >&2
            return 1
        fi
        sleep 0.1
    done
    if ! [[ "$xvfb_display" =~ ^[0-9]+$ ]]; then
        echo "Xvfb did not report a display (after $step polls)" >&2
        return 1
    fi
}

# use_xvfb WORKDIR: starts Xvfb as start_xvfb does and points this shell's X clients at it,
# as a user's plain 96 dpi desktop: DISPLAY set, every scaling override cleared, and a
# private XDG_RUNTIME_DIR in WORKDIR. Returns 1 when the server does not come up.
use_xvfb()
{
    start_xvfb "$1" || return 1
    export DISPLAY=":$xvfb_display"
    unset WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING \
        QT_FONT_DPI QT_QPA_PLATFORMTHEME
    export XDG_RUNTIME_DIR="$1/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}
