#!/bin/bash
# The real program on its own virtual X server, driven from the outside as a user would:
# started with a configuration file, it writes that file's values to a simulated module;
# then Ctrl+F finds the three simulated modules and Return reads the first one found.
# What reached the line is read from the simulator's log.
#
# Usage: real_window_search_test.sh <path to lorvane> <path to lorvane-sim> <scan.png to write>
# Exit status: 0 passed, 1 failed, 77 a needed program is missing.

set -u

readonly test_name=real_window_search
readonly shown_logs='xvfb lorvane sim'
# shellcheck source=x_windows.sh
source "$(dirname "$0")/x_windows.sh"

readonly CAPTION='LorvaneV1.1'
readonly BOX_TITLE='Lorvane'
readonly SCAN_TITLE='查找模块'
# Centres of controls inside the client area, in logical pixels (Xvfb runs at 96 dpi).
readonly PORT_X=108 PORT_Y=20    # 串口号
readonly OPEN_X=164 OPEN_Y=20    # 打开
readonly WRITE_X=108 WRITE_Y=504 # 写入到模块
readonly WAIT_STEPS=150          # polls 0.1 s apart

[ $# -eq 3 ] || { echo "usage: $0 <lorvane> <lorvane-sim> <scan.png>" >&2; exit 1; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "real_window_search: SKIP: no $tool" >&2; exit 77; }
done
program=$1
sim=$2
screenshot=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/real_window_search.XXXXXX") || fail "no temporary folder"
xvfb_pid= app_pid= other_pids=
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# shellcheck source=../scripts/xvfb.sh
source "$(dirname "$0")/../scripts/xvfb.sh"
use_xvfb "$work" || fail "no X server"

"$sim" --pace-baud=9600 --address=60,5,200 --verbose >"$work/sim.out" 2>"$work/sim.log" &
other_pids=$!
for _ in $(seq "$WAIT_STEPS"); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
pty=$(head -n 1 "$work/sim.out")
[ -n "$pty" ] || fail "the simulator printed no terminal"

# Module 60 (3C), refresh period 77 (4D), key 1: address 99 (63), line 42 (2A), pulse (3).
cat >"$work/hall.json" <<'JSON'
{"format": "lorvane-panel/1", "module_address": 60, "refresh_period": 77, "keys": [
 {"key": 1, "address": 99, "line": 42, "operation": "pulse"},
 {"key": 2, "address": 1, "line": 2, "operation": "toggle"},
 {"key": 3, "address": 1, "line": 3, "operation": "toggle"},
 {"key": 4, "address": 1, "line": 4, "operation": "toggle"},
 {"key": 5, "address": 1, "line": 5, "operation": "toggle"},
 {"key": 6, "address": 1, "line": 6, "operation": "toggle"},
 {"key": 7, "address": 1, "line": 7, "operation": "toggle"},
 {"key": 8, "address": 1, "line": 8, "operation": "toggle"},
 {"key": 9, "address": 1, "line": 9, "operation": "toggle"},
 {"key": 10, "address": 1, "line": 10, "operation": "toggle"},
 {"key": 11, "address": 1, "line": 11, "operation": "toggle"},
 {"key": 12, "address": 1, "line": 12, "operation": "toggle"},
 {"key": 13, "address": 1, "line": 13, "operation": "toggle"},
 {"key": 14, "address": 1, "line": 14, "operation": "toggle"},
 {"key": 15, "address": 1, "line": 15, "operation": "toggle"},
 {"key": 16, "address": 1, "line": 16, "operation": "momentary"}]}
JSON

QT_QPA_PLATFORM=xcb "$program" "$work/hall.json" >"$work/lorvane.log" 2>&1 &
app_pid=$!

wait_for_log()
{
    for _ in $(seq "$WAIT_STEPS"); do
        grep -q "$1" "$work/sim.log" && return 0
        sleep 0.1
    done
    fail "the simulator never saw: $2"
}
# Confirms the one box that is up with Return, after checking it is there.
confirm_box()
{
    local box
    box=$(wait_for_window "$BOX_TITLE") || exit 1
    xdotool windowfocus --sync "$box" key Return || fail "cannot confirm the box"
    for _ in $(seq "$WAIT_STEPS"); do
        find_window "$BOX_TITLE" >/dev/null || return 0
        sleep 0.1
    done
    fail "the box stayed up"
}

window=$(wait_for_window "$CAPTION") || exit 1
sleep 0.5  # the file is opened once the window is up
xdotool mousemove --window "$window" "$PORT_X" "$PORT_Y" click 1 key ctrl+a type "$pty" ||
    fail "cannot type the port"
xdotool mousemove --window "$window" "$OPEN_X" "$OPEN_Y" click 1 || fail "cannot click 打开"
sleep 0.3
find_window "$BOX_TITLE" >/dev/null && fail "a box came up on opening the port"
xdotool mousemove --window "$window" "$WRITE_X" "$WRITE_Y" click 1 || fail "cannot click 写入到模块"
wait_for_log 'rx 55 3C F0 00 4D' "the file's refresh period written to module 60"
wait_for_log 'rx 55 3C F0 01 63 2A 03' "the file's key 1 written to module 60"
confirm_box
echo "real_window_search: the file given on the command line was written to module 60"

xdotool windowfocus --sync "$window" key ctrl+f || fail "cannot press Ctrl+F"
scan=$(wait_for_window "$SCAN_TITLE") || exit 1
wait_for_log 'rx 55 FF F1 00' "the scan's probe of address 255"
sleep 1.5  # the scan listens after its last probe, then looks again where needed
import -window "$scan" "$screenshot" 2>/dev/null || fail "no screenshot of the scan dialog"
xdotool windowfocus --sync "$scan" key Return || fail "cannot press Return in the dialog"
wait_for_log 'rx 55 05 F1 10' "a read of record 16 from module 5, the first one found"
confirm_box
grep -q 'rx 55 C8 F1 01' "$work/sim.log" && fail "module 200 was read, not the first one found"
echo "real_window_search: Ctrl+F found the modules and Return read module 5"
kill -0 "$app_pid" 2>/dev/null || fail "lorvane exited"
echo "real_window_search: PASS"
