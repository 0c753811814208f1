#!/bin/bash
# The real program on its own virtual X server, driven from the keyboard only as an installer
# would: Ctrl+Shift+O and the site file's path open the site window over two simulated buses;
# Alt+C checks the site, Alt+W and Return write the modules that differ, Alt+R, a path and
# Return (the as-built question's default) save the report. What reached the lines is read
# from the simulators' logs, what was written from the audit log and the report.
#
# Usage: real_window_site_test.sh <path to lorvane> <path to lorvane-sim> <site.png to write>
# Exit status: 0 passed, 1 failed, 77 a needed program is missing.

set -u

readonly test_name=real_window_site
readonly shown_logs='xvfb lorvane east west'
# shellcheck source=x_windows.sh
source "$(dirname "$0")/x_windows.sh"

readonly CAPTION='LorvaneV1.1'
readonly BOX_TITLE='Lorvane'
readonly OPEN_TITLE='打开工程文件'
readonly SITE_TITLE='工程：Riverside Tower'
readonly REPORT_TITLE='保存报告'
readonly WAIT_STEPS=300  # polls 0.1 s apart: a scan at 9600 baud takes 5 s

[ $# -eq 3 ] || { echo "usage: $0 <lorvane> <lorvane-sim> <site.png>" >&2; exit 1; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "real_window_site: SKIP: no $tool" >&2; exit 77; }
done
program=$1
sim=$2
screenshot=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/real_window_site.XXXXXX") || fail "no temporary folder"
xvfb_pid= app_pid= other_pids=
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# shellcheck source=../scripts/xvfb.sh
source "$(dirname "$0")/../scripts/xvfb.sh"
use_xvfb "$work" || fail "no X server"

# start_sim NAME ADDRESSES: a simulator of its own at the line's pace, logging every frame to
# $work/NAME.log; sets sim_pid and sim_pty (its terminal).
start_sim()
{
    "$sim" --address="$2" --pace-baud=9600 --verbose >"$work/$1.out" 2>"$work/$1.log" &
    sim_pid=$!
    for _ in $(seq "$WAIT_STEPS"); do
        [ -s "$work/$1.out" ] && break
        sleep 0.1
    done
    sim_pty=$(head -n 1 "$work/$1.out")
    [ -n "$sim_pty" ] || fail "the $1 simulator printed no terminal"
}
start_sim east 1,2,3
other_pids="$other_pids $sim_pid" east=$sim_pty
start_sim west 5,6
other_pids="$other_pids $sim_pid" west=$sim_pty

# A panel file for module $1: refresh period $2, key 3 on line $3, every other value as a
# fresh module holds it.
panel_file()
{
    local k line
    printf '{"format": "lorvane-panel/1", "module_address": %d, "refresh_period": %d, "keys": [' "$1" "$2"
    for k in $(seq 1 16); do
        line=$k
        [ "$k" = 3 ] && line=$3
        printf '%s{"key": %d, "address": 1, "line": %d, "operation": "toggle"}' \
            "$([ "$k" -gt 1 ] && echo ,)" "$k" "$line"
    done
    printf ']}\n'
}
mkdir -p "$work/east" "$work/west"
panel_file 1 50 3 >"$work/east/1.json"   # as the module holds it: 相同
panel_file 2 40 9 >"$work/east/2.json"   # refresh period and key 3's line differ: 不同
panel_file 4 50 3 >"$work/east/4.json"   # no such module on the line: 无应答
panel_file 5 50 3 >"$work/west/5.json"
panel_file 6 80 3 >"$work/west/6.json"   # the refresh period differs
cat >"$work/site.json" <<JSON
{"format": "lorvane-site/1", "name": "Riverside Tower", "buses": [
 {"name": "east riser", "port": "$east", "panels": ["east/1.json", "east/2.json", "east/4.json"]},
 {"name": "west riser", "port": "$west", "panels": ["west/5.json", "west/6.json"]}]}
JSON

QT_QPA_PLATFORM=xcb "$program" >"$work/lorvane.log" 2>&1 &
app_pid=$!

# wait_for_log NAME PATTERN WHAT: until the NAME simulator has logged PATTERN.
wait_for_log()
{
    for _ in $(seq "$WAIT_STEPS"); do
        grep -q "$2" "$work/$1.log" && return 0
        sleep 0.1
    done
    fail "the $1 simulator never saw: $3"
}

main=$(wait_for_window "$CAPTION") || exit 1
keys "$main" ctrl+shift+o
dialog=$(wait_for_window "$OPEN_TITLE") || exit 1
xdotool windowfocus --sync "$dialog" type "$work/site.json" || fail "cannot type the path"
keys "$dialog" Return
site=$(wait_for_window "$SITE_TITLE") || exit 1
find_window "$BOX_TITLE" >/dev/null && fail "a box came up on opening the site"
echo "real_window_site: Ctrl+Shift+O and the path opened the site window"

keys "$site" alt+c
wait_for_log east 'rx 55 02 F1 10' "the check's read of module 2"
wait_for_log west 'rx 55 06 F1 10' "the check's read of module 6"
sleep 2  # module 4 does not answer: the check ends after its time-out
grep -q 'rx 55 .. F0' "$work/east.log" "$work/west.log" && fail "the check wrote to a module"
import -window "$site" "$screenshot" 2>/dev/null || fail "no screenshot of the site window"
echo "real_window_site: Alt+C checked both buses"

keys "$site" alt+w
box=$(wait_for_window "$BOX_TITLE") || exit 1
keys "$box" Return
wait_until_gone "$BOX_TITLE"
wait_for_log east 'rx 55 02 F0 10' "the write of module 2's record 16"
wait_for_log west 'rx 55 06 F0 10' "the write of module 6's record 16"
sleep 2  # the read-backs, and module 4's time-out
for unchanged in 'rx 55 01 F0' 'rx 55 05 F0'; do
    grep -q "$unchanged" "$work/east.log" "$work/west.log" && fail "a module that held its panel was written"
done
[ "$(grep -c '"action":"written"' "$work/site.json.log")" = 2 ] ||
    fail "the audit log does not hold the two writes: $(cat "$work/site.json.log")"
echo "real_window_site: Alt+W and Return wrote modules 2 and 6 only, both in the audit log"

keys "$site" alt+r
dialog=$(wait_for_window "$REPORT_TITLE") || exit 1
xdotool windowfocus --sync "$dialog" key ctrl+a type "$work/report.html" || fail "cannot type the report's path"
keys "$dialog" Return
box=$(wait_for_window "$BOX_TITLE") || exit 1  # add the as-built appendix? Return: yes
keys "$box" Return
for _ in $(seq "$WAIT_STEPS"); do
    [ -s "$work/report.html" ] && break
    sleep 0.1
done
grep -q '<html lang="zh-CN">' "$work/report.html" && grep -q '工程写入' "$work/report.html" &&
    grep -q '已写入' "$work/report.html" || fail "no Chinese report of the write was saved"
grep -q '竣工资料' "$work/report.html" || fail "the report has no as-built appendix"
echo "real_window_site: Alt+R, the path and Return saved the write's report with its as-built pages"
kill -0 "$app_pid" 2>/dev/null || fail "lorvane exited"
echo "real_window_site: PASS"
