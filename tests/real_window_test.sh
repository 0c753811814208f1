#!/bin/bash
# Runs the real program on its own virtual X server (the xcb platform, as users see it) and
# checks the window from the outside: its caption and size, that it draws something and
# shows the digits of every key row's boxes, and that
# a click on the write button with the port still closed brings up the message box. Then
# `lorvane FIFO` (the window and its box come up at once), `lorvane FILE` with a name
# that is not UTF-8 (the window shows the file's values), and `lorvane --language en`.
#
# Usage: real_window_test.sh <path to lorvane> <screenshot.png to write>
# Exit status: 0 passed, 1 failed, 77 a needed program is missing (CTest counts it as skipped
# when the build found the programs missing as well).

set -u

readonly test_name=real_window
readonly shown_logs='xvfb lorvane'
# shellcheck source=x_windows.sh
source "$(dirname "$0")/x_windows.sh"

readonly CAPTION='LorvaneV1.1'
readonly BOX_TITLE='Lorvane'
readonly WIDTH=366   # client area in logical pixels; Xvfb runs at 96 dpi, so 1:1 pixels
readonly HEIGHT=526
# Centre of the write button ("写入到模块") inside the client area, in logical pixels.
readonly WRITE_X=108
readonly WRITE_Y=504
readonly WAIT_STEPS=100  # polls 0.1 s apart: gives up after about 10 s
# The port and module address row (WxH+X+Y), and how many of its pixels a file's values
# change at least: "222" in place of "1" in the 15.75 pt address box.
readonly TOP_ROW=366x36+0+0
readonly MIN_CHANGED=50
# A painted window has text, frames and fields; a blank or black one has one or two colours.
readonly MIN_COLOURS=10
readonly MIN_DEVIATION=0.02  # of the 0..1 intensity range

if [ $# -ne 2 ]; then
    echo "usage: $0 <path to lorvane> <screenshot.png>" >&2
    exit 1
fi

for tool in Xvfb xdotool xwininfo import convert identify; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "real_window: SKIP: $tool not found (Debian packages xvfb, xdotool, x11-utils," \
            "imagemagick)" >&2
        exit 77
    fi
done

program=$1
screenshot=$2
[ -x "$program" ] || fail "$program is not an executable file"

work=$(mktemp -d "${TMPDIR:-/tmp}/real_window.XXXXXX") || fail "cannot create a temporary folder"
xvfb_pid= app_pid= other_pids=

trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# shellcheck source=../scripts/xvfb.sh
source "$(dirname "$0")/../scripts/xvfb.sh"
use_xvfb "$work" || fail "no X server"

QT_QPA_PLATFORM=xcb "$program" >"$work/lorvane.log" 2>&1 &
app_pid=$!

window=$(wait_for_window "$CAPTION") || exit 1
echo "real_window: window $window '$CAPTION' is mapped on $DISPLAY"

info=$(xwininfo -id "$window") || fail "xwininfo cannot read window $window"
width=$(awk '/^ *Width:/ { print $2 }' <<<"$info")
height=$(awk '/^ *Height:/ { print $2 }' <<<"$info")
if [ "$width" != "$WIDTH" ] || [ "$height" != "$HEIGHT" ]; then
    fail "window is ${width}x${height}, expected ${WIDTH}x${HEIGHT}"
fi
echo "real_window: size ${width}x${height}"

# Mapping comes before the first paint: take pictures until one shows a drawn window.
drawn=
for _ in $(seq "$WAIT_STEPS"); do
    if import -window "$window" "$work/shot.png" 2>"$work/import.log"; then
        colours=$(convert "$work/shot.png" -format '%k' info:) || colours=0
        deviation=$(convert "$work/shot.png" -format '%[fx:standard_deviation]' info:) ||
            deviation=0
        if [ "$colours" -gt "$MIN_COLOURS" ] &&
            awk -v d="$deviation" -v m="$MIN_DEVIATION" 'BEGIN { exit !(d > m) }'; then
            drawn=yes
            break
        fi
    fi
    sleep 0.1
done
[ -n "$drawn" ] || fail "the window stayed blank (${colours:-?} colours, deviation" \
    "${deviation:-?}; $(cat "$work/import.log"))"
shot_size=$(identify -format '%wx%h' "$work/shot.png")
[ "$shot_size" = "${WIDTH}x${HEIGHT}" ] || fail "screenshot is $shot_size"
# shellcheck source=screenshot_checks.sh
source "$(dirname "$0")/screenshot_checks.sh"
key_boxes_show_text "$work/shot.png" || fail "key row boxes are drawn without their digits"
chinese_captions_drawn "$work/shot.png" || fail "the Chinese captions are not drawn"
echo "real_window: every key row's address and line box shows its digits"
cp "$work/shot.png" "$screenshot" || fail "cannot write $screenshot"
echo "real_window: screenshot $screenshot ($colours colours, deviation $deviation)"

find_window "$BOX_TITLE" >/dev/null && fail "a '$BOX_TITLE' box is up before any click"
xdotool mousemove --window "$window" "$WRITE_X" "$WRITE_Y" click 1 ||
    fail "xdotool could not click the write button"
box=$(wait_for_window "$BOX_TITLE") || exit 1
[ "$box" != "$window" ] || fail "the message box is the main window"
echo "real_window: message box $box '$BOX_TITLE' appeared after the click"

kill -0 "$app_pid" 2>/dev/null || fail "lorvane exited"

# Ends the program started last and waits until it is gone.
stop_app()
{
    kill -TERM "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
}

# `lorvane FIFO`: the window comes up and its box says at once that this is no configuration
# file; nothing waits for a writer that never comes.
stop_app
mkfifo "$work/panel.fifo" || fail "cannot make a FIFO"
QT_QPA_PLATFORM=xcb "$program" "$work/panel.fifo" >"$work/lorvane.log" 2>&1 &
app_pid=$!
wait_for_window "$CAPTION" >/dev/null || exit 1
wait_for_window "$BOX_TITLE" >/dev/null || exit 1
echo "real_window: lorvane panel.fifo shows its window and, at once, its box"

# `lorvane FILE` with a name that is not UTF-8 (byte 0xEF), taken as the system gives it:
# the window shows the file's values (模块自身地址 in the top row, where no box would stand,
# differs from the defaults' screenshot) and no box.
stop_app
odd_name=$work/$(printf 'na\357me.json')
{
    printf '{"format": "lorvane-panel/1", "module_address": 222, "refresh_period": 222, "keys": ['
    for k in $(seq 1 16); do
        printf '%s{"key": %d, "address": 222, "line": 222, "operation": "pulse"}' \
            "$([ "$k" -gt 1 ] && echo ,)" "$k"
    done
    printf ']}\n'
} >"$odd_name" || fail "cannot write a file whose name is not UTF-8"
QT_QPA_PLATFORM=xcb "$program" "$odd_name" >"$work/lorvane.log" 2>&1 &
app_pid=$!
window=$(wait_for_window "$CAPTION") || exit 1
convert "$work/shot.png" -crop "$TOP_ROW" +repage "$work/top.png" || fail "cannot crop $work/shot.png"
changed=0
for _ in $(seq "$WAIT_STEPS"); do
    if import -window "$window" "$work/filled.png" 2>/dev/null; then
        convert "$work/filled.png" -crop "$TOP_ROW" +repage "$work/filled_top.png" &&
            changed=$(compare -metric AE "$work/top.png" "$work/filled_top.png" null: 2>&1)
        [ "${changed%%.*}" -gt "$MIN_CHANGED" ] 2>/dev/null && break
    fi
    sleep 0.1
done
[ "${changed%%.*}" -gt "$MIN_CHANGED" ] 2>/dev/null ||
    fail "started with na\\xefme.json, the window kept its defaults ($changed pixels differ)"
find_window "$BOX_TITLE" >/dev/null && fail "a box came up for a file that is valid"
echo "real_window: lorvane na\\xefme.json filled the window ($changed pixels changed), no box"

# `lorvane --language en`: the English face, same size, every key row's digits drawn; its
# screenshot goes beside the Chinese one (SCREENSHOT_en.png), and differs from it.
stop_app
QT_QPA_PLATFORM=xcb "$program" --language en >"$work/lorvane.log" 2>&1 &
app_pid=$!
window=$(wait_for_window "$CAPTION") || exit 1
english=${screenshot%.png}_en.png
drawn=
for _ in $(seq "$WAIT_STEPS"); do
    if import -window "$window" "$work/english.png" 2>/dev/null &&
        key_boxes_show_text "$work/english.png" >/dev/null 2>&1; then
        drawn=yes
        break
    fi
    sleep 0.1
done
[ -n "$drawn" ] || fail "the English window is drawn without its key rows' digits"
[ "$(identify -format '%wx%h' "$work/english.png")" = "${WIDTH}x${HEIGHT}" ] ||
    fail "the English window is not ${WIDTH}x${HEIGHT}"
differ=$(compare -metric AE "$work/shot.png" "$work/english.png" null: 2>&1)
[ "${differ%%.*}" -gt "$MIN_CHANGED" ] 2>/dev/null ||
    fail "the English window looks like the Chinese one ($differ pixels differ)"
cp "$work/english.png" "$english" || fail "cannot write $english"
echo "real_window: lorvane --language en drawn in English, screenshot $english"

echo "real_window: PASS"
exit 0
