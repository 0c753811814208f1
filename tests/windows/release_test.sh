#!/bin/bash
# The Windows release as a user gets it, under Wine, each check in a fresh Wine prefix with
# nothing on its PATH but the release itself:
#
#   release_test.sh window      lorvane.exe from the unpacked zip on a virtual screen: its
#                               caption and size, the Chinese texts drawn, and every key
#                               row's address and line box showing its digits; Qt's own
#                               button texts from the zip's qtbase_zh_CN.qm; --language en
#   release_test.sh com         COM5 mapped to lorvane-sim: lorvane-cli.exe writes, reads and
#                               verifies, then the window reads and writes a whole chain;
#                               once unpaced and once at 9600 baud; a port that goes
#                               away under lorvane-cli; Ctrl-C while `write -` waits on a pipe
#   release_test.sh search      lorvane.exe FILE: the file's values written through COM5;
#                               then Ctrl+F finds the three simulated modules and Return
#                               reads the first one found
#   release_test.sh site        lorvane.exe SITE.json: a site of two buses on COM5 and COM6
#                               (a simulator each); Alt+C checks it, Alt+W and Return write
#                               the modules that differ (logged), Alt+R saves the report
#   release_test.sh network     lorvane-sim behind the Linux ser2net: lorvane-cli.exe writes,
#                               reads and verifies through tcp://, rfc2217:// and, with a
#                               certificate made here and trusted by --trust, rfc2217+tls://
#                               on 127.0.0.1 (Windows' Schannel, under Wine through GnuTLS)
#   release_test.sh installer   the installer, silent: files, start-menu entry, and an
#                               uninstaller that leaves the system as it found it
#
# Environment (CTest passes it): LORVANE_RELEASE_DIR (holds the zip and the installer),
# LORVANE_VERSION, LORVANE_SIM (the Linux simulator). Exit status 0 passed, 1 failed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
check=${1:-}
version=${LORVANE_VERSION:?}
release=${LORVANE_RELEASE_DIR:?}
zip_file=$release/lorvane-$version-win64.zip
setup=$release/lorvane-$version-setup.exe

readonly CAPTION='LorvaneV1.1'
readonly BOX_TITLE='Lorvane'
readonly WIDTH=366
readonly HEIGHT=526
# Centres of the buttons in the client area, logical pixels.
readonly PORT_BOX_XY=(108 20)
readonly OPEN_XY=(164 20)
readonly WRITE_XY=(108 504)
readonly READ_XY=(236 504)

work=$(mktemp -d "${TMPDIR:-/tmp}/lorvane-windows.XXXXXX")
xvfb_pid=
sim_pid=
app_pid=
ser2net_pid=
site_sim_pids=

fail()
{
    echo "windows_$check: FAIL: $*" >&2
    [ -s "$work/sim.log" ] && { echo "--- simulator log (last 20 lines) ---" >&2; tail -n 20 "$work/sim.log" >&2; }
    exit 1
}

# shellcheck disable=SC2317  # the EXIT trap
cleanup()
{
    [ -n "${WINEPREFIX:-}" ] && /usr/lib/wine/wineserver -k 2>/dev/null
    local pid
    for pid in $app_pid $ser2net_pid $sim_pid $site_sim_pids $xvfb_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

[ -f "$zip_file" ] && [ -f "$setup" ] ||
    fail "no release in $release; run scripts/build-windows.sh first"

# A fresh prefix of this check's own; the release must bring every DLL it needs.
export LORVANE_WINEPREFIX=$work/prefix LORVANE_WINE_DLL_DIRS=
# shellcheck source=wine_env.sh
source "$here/wine_env.sh"
wine_setup || fail "cannot create a Wine prefix"

unpack()
{
    unzip -q "$zip_file" -d "$work/unpacked" || fail "cannot unpack $zip_file"
    app=$work/unpacked/lorvane-$version
    [ -f "$app/lorvane.exe" ] || fail "the zip has no lorvane-$version/lorvane.exe"
    cmp -s "$app/lorvane.lua" "$here/../../tools/wireshark/lorvane.lua" ||
        fail "the zip has no lorvane-$version/lorvane.lua (the Wireshark dissector) as shipped"
}

need_display()
{
    local tool
    for tool in Xvfb xdotool xwininfo import convert; do
        command -v "$tool" >/dev/null || fail "$tool is missing"
    done
    # shellcheck source=../../scripts/xvfb.sh
    source "$here/../../scripts/xvfb.sh"
    start_xvfb "$work" || fail "no X server"
    export DISPLAY=":$xvfb_display"
}

# Prints the id of the viewable window titled exactly $1 once there is one (60 s at most:
# a fresh prefix makes the first start slow).
wait_for_window()
{
    local id
    for _ in $(seq 600); do
        if id=$(xdotool search --onlyvisible --name "^${1//./\\.}\$" 2>/dev/null | head -n 1) &&
            [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

wait_until_gone()
{
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

start_window()
{
    (cd "$app" && exec /usr/lib/wine/wine64 lorvane.exe "$@") >"$work/lorvane.log" 2>&1 &
    app_pid=$!
    window=$(wait_for_window "$CAPTION") || fail "no window titled $CAPTION appeared"
}

click()
{
    xdotool mousemove --window "$window" "$1" "$2" click 1 || fail "cannot click at $1,$2"
}

# ---------------------------------------------------------------------------------------
# window

check_window()
{
    unpack
    need_display
    start_window
    local info width height drawn=
    info=$(xwininfo -id "$window")
    width=$(awk '/^ *Width:/ { print $2 }' <<<"$info")
    height=$(awk '/^ *Height:/ { print $2 }' <<<"$info")
    [ "$width" = "$WIDTH" ] && [ "$height" = "$HEIGHT" ] ||
        fail "the window is ${width}x${height}, expected ${WIDTH}x${HEIGHT}"

    # shellcheck source=../screenshot_checks.sh
    source "$here/../screenshot_checks.sh"
    for _ in $(seq 100); do
        # Until the window has painted, a screenshot shows black or a part of it only.
        if import -window "$window" "$work/shot.png" 2>/dev/null &&
            key_boxes_show_text "$work/shot.png" 2>"$work/boxes.log" &&
            chinese_captions_drawn "$work/shot.png" 2>>"$work/boxes.log"; then
            drawn=yes
            break
        fi
        sleep 0.2
    done
    cp "$work/shot.png" "$release/wine-window.png" 2>/dev/null
    [ -n "$drawn" ] || fail "$(cat "$work/boxes.log") (screenshot: $release/wine-window.png)"
    echo "windows_window: $CAPTION ${width}x${height}, Chinese captions and every key box's digits drawn"

    # Qt's own texts come from the zip's translations/qtbase_zh_CN.qm: the same box (the
    # write button with the port closed) drawn without that file differs only in its OK
    # button, which Qt then words in English.
    [ -f "$app/translations/qtbase_zh_CN.qm" ] || fail "the zip has no translations/qtbase_zh_CN.qm"
    box_shot "$work/box_zh.png"
    stop_window
    mv "$app/translations" "$work/translations.away"
    start_window
    box_shot "$work/box_bare.png"
    stop_window
    mv "$work/translations.away" "$app/translations"
    local differ
    differ=$(compare -metric AE "$work/box_zh.png" "$work/box_bare.png" null: 2>&1)
    [ "${differ%%.*}" -gt 20 ] 2>/dev/null ||
        fail "the box looks the same without qtbase_zh_CN.qm ($differ pixels differ)"
    echo "windows_window: the box's standard button is worded by the zip's qtbase_zh_CN.qm ($differ pixels)"

    # The English face: same size, every key box's digits drawn, other captions.
    start_window --language en
    drawn=
    for _ in $(seq 100); do
        if import -window "$window" "$work/english.png" 2>/dev/null &&
            key_boxes_show_text "$work/english.png" 2>/dev/null; then
            drawn=yes
            break
        fi
        sleep 0.2
    done
    cp "$work/english.png" "$release/wine-window-en.png" 2>/dev/null
    [ -n "$drawn" ] || fail "the English window lacks its key boxes' digits (screenshot: $release/wine-window-en.png)"
    [ "$(identify -format '%wx%h' "$work/english.png")" = "${WIDTH}x${HEIGHT}" ] ||
        fail "the English window is not ${WIDTH}x${HEIGHT}"
    differ=$(compare -metric AE "$work/shot.png" "$work/english.png" null: 2>&1)
    [ "${differ%%.*}" -gt 50 ] 2>/dev/null ||
        fail "lorvane.exe --language en looks like the Chinese window ($differ pixels differ)"
    echo "windows_window: lorvane.exe --language en drawn in English ($differ pixels differ)"
}

# The box of a click on the write button while the port is closed, as a PNG at $1; the box is
# confirmed afterwards.
box_shot()
{
    local box
    click "${WRITE_XY[@]}"
    box=$(wait_for_window "$BOX_TITLE") || fail "no box after a click on the write button"
    sleep 1  # its first paint
    import -window "$box" "$1" 2>/dev/null || fail "cannot take a picture of the box"
    xdotool key --window "$box" Return
    wait_until_gone "$BOX_TITLE" || fail "the box did not close"
}

# Ends the window started last: every process of this check's own prefix.
stop_window()
{
    /usr/lib/wine/wineserver -k 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
}

# ---------------------------------------------------------------------------------------
# com

# A random configuration for module 1 as a file, and the write requests it means, as the
# simulator logs them ("55 01 F0 00 32 00 00 78"); the window sends the same after it has
# read them (a code above 3 has no text there, but the row keeps it).
random_config()
{
    local file=$1 k ops=(none toggle momentary pulse) op code
    refresh=$((RANDOM % 256))
    key_address=() key_line=() key_code=()
    {
        printf '{"format": "lorvane-panel/1", "module_address": 1, "refresh_period": %d, "keys": [' "$refresh"
        for k in $(seq 1 16); do
            key_address[k]=$((RANDOM % 256))
            key_line[k]=$((RANDOM % 256))
            code=$((RANDOM % 8 < 5 ? RANDOM % 4 : RANDOM % 256))
            key_code[k]=$code
            if [ "$code" -lt 4 ]; then op="\"${ops[code]}\""; else op=$code; fi
            printf '%s{"key": %d, "address": %d, "line": %d, "operation": %s}' \
                "$([ "$k" -gt 1 ] && echo ,)" "$k" "${key_address[k]}" "${key_line[k]}" "$op"
        done
        printf ']}\n'
    } >"$file"
}

frame_hex()
{
    local bytes=("$@") sum=0 b text=""
    for b in "${bytes[@]}"; do sum=$((sum + b)); done
    bytes+=($((sum & 255)))
    for b in "${bytes[@]}"; do text+=$(printf '%02X ' "$b"); done
    echo "${text% }"
}

expected_writes()
{
    local k
    frame_hex 0x55 1 0xF0 0 "$refresh" 0 0
    for k in $(seq 1 16); do
        frame_hex 0x55 1 0xF0 "$k" "${key_address[k]}" "${key_line[k]}" "${key_code[k]}"
    done
}

# The requests the simulator logged after line $1 of its log, one per line.
logged_requests()
{
    tail -n "+$(($1 + 1))" "$work/sim.log" | sed -n 's/.*\] rx \(\([0-9A-F][0-9A-F] \)\{7\}[0-9A-F][0-9A-F]\) .*/\1/p'
}

# Waits until the simulator has logged $2 requests after line $1.
wait_for_requests()
{
    for _ in $(seq 100); do
        [ "$(logged_requests "$1" | wc -l)" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

start_sim()
{
    [ -x "${LORVANE_SIM:-}" ] || fail "the Linux simulator LORVANE_SIM=${LORVANE_SIM:-} is missing"
    # The last simulator's path must not pass for this one's before the shell empties the file.
    rm -f "$work/sim.out"
    "$LORVANE_SIM" --verbose "$@" >"$work/sim.out" 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -s "$work/sim.out" ] && break
        sleep 0.1
    done
    local pts
    pts=$(head -n 1 "$work/sim.out")
    [ -n "$pts" ] || fail "the simulator printed no terminal"
    # COM1..4 belong to the serial ports Wine finds (ttyS0..3) and are remade at its start;
    # COM5 is free for a link of our own.
    ln -sfn "$pts" "$WINEPREFIX/dosdevices/com5"
}

stop_sim()
{
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

# win_path PATH: PATH as the programs under Wine name it (drive Z: is /). Computed here rather
# than asked of winepath, which now and then prints nothing while the prefix is busy.
win_path()
{
    local path=$1
    printf 'Z:%s\n' "${path//\//\\}"
}

cli()
{
    (cd "$app" && /usr/lib/wine/wine64 lorvane-cli.exe "$@")
}

com_round()
{
    local pacing=$1 mark
    shift
    start_sim "$@"
    random_config "$work/config.json"
    local config_path
    config_path=$(win_path "$work/config.json")

    # The command line: write, read back, verify.
    mark=$(wc -l <"$work/sim.log")
    cli write --port COM5 --quiet "$config_path" || fail "$pacing: lorvane-cli write failed"
    [ "$(logged_requests "$mark")" = "$(expected_writes)" ] ||
        fail "$pacing: the module did not receive the file's 17 write requests"
    cli read --port COM5 >"$work/back.json" || fail "$pacing: lorvane-cli read failed"
    grep -q '"format": "lorvane-panel/1"' "$work/back.json" || fail "$pacing: read gave no file"
    # --output replaces a file whole, one with a name of 250 characters too (its path is past
    # MAX_PATH), and leaves no temporary behind.
    local long_name
    long_name=$work/$(printf 'q%.0s' $(seq 245)).json
    printf 'old\n' >"$long_name"
    cli read --port COM5 --quiet --output "$(win_path "$long_name")" ||
        fail "$pacing: lorvane-cli read --output to a long name failed"
    cmp -s "$long_name" "$work/back.json" || fail "$pacing: read --output wrote other bytes"
    ! ls -A "$work" | grep -q '^\.lv' || fail "$pacing: read --output left a temporary file"
    rm -f "$long_name"
    cli verify --port COM5 --quiet "$config_path" || fail "$pacing: lorvane-cli verify failed"

    # The window: type 5 into 串口号, open, read the module, write it back.
    start_window
    click "${PORT_BOX_XY[@]}"
    xdotool key ctrl+a type 5 || fail "cannot type into the port box"
    click "${OPEN_XY[@]}"
    mark=$(wc -l <"$work/sim.log")
    click "${READ_XY[@]}"
    wait_for_requests "$mark" 17 || fail "$pacing: the window's read chain stopped early"
    local box
    box=$(wait_for_window "$BOX_TITLE") || fail "$pacing: no message after the read chain"
    [ "$(logged_requests "$mark" | grep -c ' F1 ')" = 17 ] || fail "$pacing: not 17 read requests"
    xdotool key --window "$box" Return
    wait_until_gone "$BOX_TITLE" || fail "$pacing: the message box did not close"
    mark=$(wc -l <"$work/sim.log")
    click "${WRITE_XY[@]}"
    wait_for_requests "$mark" 17 || fail "$pacing: the window's write chain stopped early"
    box=$(wait_for_window "$BOX_TITLE") || fail "$pacing: no message after the write chain"
    [ "$(logged_requests "$mark")" = "$(expected_writes)" ] ||
        fail "$pacing: the window did not write back what it read"
    xdotool key --window "$box" Return
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
    stop_sim
    echo "windows_com: $pacing: lorvane-cli write, read and verify, and the window's read and write chains, through COM5"
}

# The far end goes away while lorvane-cli waits for a reply: it says so and exits 3.
com_lost_port()
{
    start_sim --silent-after 2
    cli read --port COM5 --timeout 20000 >/dev/null 2>"$work/lost.err" &
    local cli_pid=$!
    wait_for_requests 0 3 || fail "lorvane-cli sent no requests"
    stop_sim
    wait "$cli_pid"
    local status=$?
    [ "$status" = 3 ] && grep -q 'went away' "$work/lost.err" ||
        fail "a lost port gave exit status $status: $(cat "$work/lost.err")"
    echo "windows_com: a port that goes away mid-transfer: $(sed 's/^lorvane-cli: //' "$work/lost.err")"
}

# Ctrl-C while `lorvane-cli.exe write -` waits for its file on a pipe that stays open: the
# wait ends at once with exit 130 and nothing is sent. Wine hands a SIGINT of the process to
# the console's Ctrl-C handlers, as Windows does for Ctrl-C in a console.
com_interrupt_on_stdin()
{
    local mark cli_pid status
    start_sim
    mkfifo "$work/stdin.fifo" || fail "cannot make a FIFO"
    exec 7<>"$work/stdin.fifo"  # a writer that never writes nor closes: the input never ends
    mark=$(wc -l <"$work/sim.log")
    (cd "$app" && exec /usr/lib/wine/wine64 lorvane-cli.exe write --port COM5 -) \
        <"$work/stdin.fifo" >/dev/null 2>"$work/interrupt.err" &
    cli_pid=$!
    sleep 3  # until it waits for its input (the prefix is warm from the rounds before)
    kill -0 "$cli_pid" 2>/dev/null || fail "lorvane-cli.exe write - ended before Ctrl-C: $(cat "$work/interrupt.err")"
    kill -INT "$cli_pid"
    for _ in $(seq 50); do
        kill -0 "$cli_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$cli_pid" 2>/dev/null; then
        kill -KILL "$cli_pid"
        wait "$cli_pid" 2>/dev/null
        fail "Ctrl-C did not end lorvane-cli.exe write - within 5 s"
    fi
    wait "$cli_pid"
    status=$?
    exec 7>&-
    [ "$status" = 130 ] && grep -q 'interrupted; nothing was sent' "$work/interrupt.err" ||
        fail "Ctrl-C on write - gave exit status $status: $(cat "$work/interrupt.err")"
    [ -z "$(logged_requests "$mark")" ] || fail "write - sent requests after Ctrl-C"
    stop_sim
    echo "windows_com: Ctrl-C ended write - waiting on a pipe at once: exit 130, nothing sent"
}

# lorvane-cli health through COM5: the driver's error counters (ClearCommError) are reported,
# and a clean line gives no finding.
com_health()
{
    start_sim
    local rc=0
    cli health --port COM5 --first 1 --last 3 --samples 3 --json >"$work/health.json" \
        2>"$work/health.err" || rc=$?
    stop_sim
    [ "$rc" = 0 ] || fail "health on a clean line exited $rc: $(cat "$work/health.err")"
    grep -q '"os_errors":{"framing":0,"parity":0,"overrun":0,"break":0}' "$work/health.json" ||
        fail "health reported no OS error counters: $(cat "$work/health.json")"
    echo "windows_com: lorvane-cli health through COM5: the driver's counters, no finding"

    # A read recorded into a capture that Linux's tshark reads: 17 requests out, 17 replies in.
    start_sim
    rm -f "$work/read.pcapng"
    cli read --port COM5 --capture "Z:${work//\//\\}\\read.pcapng" >/dev/null 2>"$work/cap.err" ||
        fail "read --capture failed: $(cat "$work/cap.err")"
    stop_sim
    local out in
    out=$(tshark -r "$work/read.pcapng" -T fields -e frame.packet_flags_direction 2>/dev/null |
        grep -c 0x00000002) || true
    in=$(tshark -r "$work/read.pcapng" -T fields -e frame.interface_name -e data 2>/dev/null |
        awk -F'\t' '$1 == "COM5" { n += length($2) / 2 } END { print n + 0 }')
    [ "$out" = 17 ] || fail "the capture holds $out requests, not 17"
    # Each request's 8 bytes are in it too, under the same interface name.
    [ "$in" = $((17 * 16)) ] || fail "the capture holds $in bytes, not 17 requests and replies"
    echo "windows_com: lorvane-cli read --capture through COM5: 17 requests and replies, read by tshark"
}

check_com()
{
    unpack
    need_display
    com_round unpaced
    com_round "9600 baud" --pace-baud 9600
    com_health
    com_lost_port
    com_interrupt_on_stdin
}

# ---------------------------------------------------------------------------------------
# search

check_search()
{
    unpack
    need_display
    start_sim --pace-baud 9600 --address 1,77,200
    random_config "$work/config.json"
    local config_path mark box scan
    config_path=$(win_path "$work/config.json")

    # Started with a file: its values are what the window writes.
    start_window "$config_path"
    sleep 1  # the file is opened once the window is up
    click "${PORT_BOX_XY[@]}"
    xdotool key ctrl+a type 5 || fail "cannot type into the port box"
    click "${OPEN_XY[@]}"
    mark=$(wc -l <"$work/sim.log")
    click "${WRITE_XY[@]}"
    wait_for_requests "$mark" 17 || fail "the window's write chain stopped early"
    box=$(wait_for_window "$BOX_TITLE") || fail "no message after the write chain"
    [ "$(logged_requests "$mark")" = "$(expected_writes)" ] ||
        fail "the window did not write the values of the file it was started with"
    xdotool key --window "$box" Return
    wait_until_gone "$BOX_TITLE" || fail "the message box did not close"
    echo "windows_search: lorvane.exe FILE wrote the file's 17 records through COM5"

    # Ctrl+F, then Return on the first module found.
    xdotool windowfocus --sync "$window" key ctrl+f || fail "cannot press Ctrl+F"
    scan=$(wait_for_window '查找模块') || fail "no 查找模块 dialog"
    for _ in $(seq 200); do
        grep -qF 'rx 55 FF F1 00' "$work/sim.log" && break
        sleep 0.1
    done
    grep -qF 'rx 55 FF F1 00' "$work/sim.log" || fail "the scan never probed address 255"
    sleep 2  # it listens after its last probe, then looks again where it must
    import -window "$scan" "$release/wine-scan.png" 2>/dev/null
    mark=$(wc -l <"$work/sim.log")
    xdotool windowfocus --sync "$scan" key Return || fail "cannot press Return in the dialog"
    wait_for_requests "$mark" 17 || fail "no read chain after Return (screenshot: $release/wine-scan.png)"
    box=$(wait_for_window "$BOX_TITLE") || fail "no message after the read chain"
    [ "$(logged_requests "$mark" | grep -c '^55 01 F1 ')" = 17 ] ||
        fail "Return did not read module 1, the first one found"
    xdotool key --window "$box" Return
    echo "windows_search: Ctrl+F found the modules through COM5; Return read module 1"
}

# ---------------------------------------------------------------------------------------
# site

# site_sim NAME COM ADDRESSES: lorvane-sim at 9600 baud with modules ADDRESSES, mapped to COM
# port number COM, logging to $work/NAME.log.
site_sim()
{
    "$LORVANE_SIM" --verbose --pace-baud 9600 --address "$3" >"$work/$1.out" 2>"$work/$1.log" &
    site_sim_pids="$site_sim_pids $!"
    for _ in $(seq 50); do
        [ -s "$work/$1.out" ] && break
        sleep 0.1
    done
    local pts
    pts=$(head -n 1 "$work/$1.out")
    [ -n "$pts" ] || fail "the $1 simulator printed no terminal"
    ln -sfn "$pts" "$WINEPREFIX/dosdevices/com$2"
}

# A panel file for module $1: refresh period $2, key 3 on line $3, the rest as a fresh module
# holds it.
site_panel()
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

# Waits until the simulator NAME has logged PATTERN.
site_log()
{
    for _ in $(seq 300); do
        grep -q "$2" "$work/$1.log" && return 0
        sleep 0.1
    done
    fail "the $1 simulator never saw: $3"
}

check_site()
{
    [ -x "${LORVANE_SIM:-}" ] || fail "the Linux simulator LORVANE_SIM=${LORVANE_SIM:-} is missing"
    unpack
    need_display
    site_sim east 5 1,2,3
    site_sim west 6 5,6
    mkdir -p "$work/site/east" "$work/site/west"
    site_panel 1 50 3 >"$work/site/east/1.json"  # as the module holds it
    site_panel 2 40 9 >"$work/site/east/2.json"  # differs
    site_panel 4 50 3 >"$work/site/east/4.json"  # no such module
    site_panel 5 50 3 >"$work/site/west/5.json"
    site_panel 6 80 3 >"$work/site/west/6.json"  # differs
    cat >"$work/site/site.json" <<'JSON'
{"format": "lorvane-site/1", "name": "Riverside Tower", "buses": [
 {"name": "east riser", "port": "COM5", "panels": ["east/1.json", "east/2.json", "east/4.json"]},
 {"name": "west riser", "port": "COM6", "panels": ["west\\5.json", "west\\6.json"]}]}
JSON
    local site_path site box dialog
    site_path=$(win_path "$work/site/site.json")

    start_window "$site_path"
    site=$(wait_for_window '工程：Riverside Tower') || fail "no site window for lorvane.exe SITE.json"
    xdotool windowfocus --sync "$site" key alt+c || fail "cannot press Alt+C"
    site_log east 'rx 55 02 F1 10' "the check's read of module 2"
    site_log west 'rx 55 06 F1 10' "the check's read of module 6"
    sleep 2  # module 4 does not answer: the check ends after its time-out
    import -window "$site" "$release/wine-site.png" 2>/dev/null
    grep -q 'rx 55 .. F0' "$work/east.log" "$work/west.log" && fail "the check wrote to a module"
    echo "windows_site: lorvane.exe SITE.json opened the site; Alt+C checked COM5 and COM6"

    xdotool windowfocus --sync "$site" key alt+w || fail "cannot press Alt+W"
    box=$(wait_for_window "$BOX_TITLE") || fail "no confirmation before the write (screenshot: $release/wine-site.png)"
    xdotool windowfocus --sync "$box" key Return || fail "cannot confirm the write"
    site_log east 'rx 55 02 F0 10' "the write of module 2"
    site_log west 'rx 55 06 F0 10' "the write of module 6"
    sleep 2  # the read-backs, and module 4's time-out
    grep -q 'rx 55 0[15] F0' "$work/east.log" "$work/west.log" &&
        fail "a module that held its panel was written"
    [ "$(grep -c '"action":"written"' "$work/site/site.json.log")" = 2 ] ||
        fail "the audit log does not hold the two writes: $(cat "$work/site/site.json.log" 2>&1)"
    echo "windows_site: Alt+W and Return wrote modules 2 and 6 only, both in site.json.log"

    xdotool windowfocus --sync "$site" key alt+r || fail "cannot press Alt+R"
    dialog=$(wait_for_window '保存报告') || fail "no 保存报告 dialog"
    # The name box offers a name of its own; Wine's box takes no Ctrl+A, so select it by hand.
    xdotool windowfocus --sync "$dialog" key End shift+Home Delete \
        type "$(win_path "$work/report.html")" ||
        fail "cannot type the report's path"
    import -window "$dialog" "$release/wine-site-report.png" 2>/dev/null
    xdotool windowfocus --sync "$dialog" key Return || fail "cannot press Return in the dialog"
    # Then the as-built question; Return takes its default, the report with the as-built pages.
    box=$(wait_for_window "$BOX_TITLE") || fail "no as-built question after the report's name"
    xdotool key --window "$box" Return || fail "cannot answer the as-built question"
    for _ in $(seq 100); do
        [ -s "$work/report.html" ] && break
        sleep 0.1
    done
    grep -q '<html lang="zh-CN">' "$work/report.html" && grep -q '已写入' "$work/report.html" &&
        grep -q '竣工资料' "$work/report.html" ||
        fail "no Chinese report of the write with its as-built pages was saved (screenshot: $release/wine-site-report.png)"
    echo "windows_site: Alt+R saved the report, with its as-built pages"
}

# ---------------------------------------------------------------------------------------
# network

# A loopback TCP port no socket uses just now (from the kernel's tables).
free_port()
{
    local port hex
    while :; do
        port=$((40000 + RANDOM % 20000))
        hex=$(printf ':%04X' "$port")
        awk -v p="$hex" 'FNR > 1 && substr($2, length($2) - 4) == p { found = 1 }
                         END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null ||
            { echo "$port"; return; }
    done
}

listening()
{
    awk -v a="$(printf '0100007F:%04X' "$1")" '$2 == a && $4 == "0A" { found = 1 }
                                               END { exit !found }' /proc/net/tcp
}

check_network()
{
    local ser2net raw_port telnet_port tls_port pts url mode mark config_path fingerprint
    local trust=()
    ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
    [ -x "$ser2net" ] || fail "ser2net is missing (Debian package ser2net)"
    command -v openssl >/dev/null || fail "openssl is missing (Debian package openssl)"
    unpack
    start_sim
    pts=$(head -n 1 "$work/sim.out")
    raw_port=$(free_port)
    telnet_port=$(free_port)
    [ "$raw_port" != "$telnet_port" ] || telnet_port=$((raw_port + 1))
    tls_port=$(free_port)
    while [ "$tls_port" = "$raw_port" ] || [ "$tls_port" = "$telnet_port" ]; do tls_port=$(free_port); done
    # The server's self-signed certificate, as an installer makes one.
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -keyout "$work/server.key" -out "$work/server.crt" -days 365 -subj /CN=wine-ser2net \
        >/dev/null 2>&1 || fail "openssl cannot make a certificate"
    fingerprint=sha256:$(openssl x509 -noout -fingerprint -sha256 -in "$work/server.crt" |
        sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
    # The RFC 2217 ports start at another baud rate: the client sets it.
    printf '%s\n' "connection: &raw" "  accepter: tcp,127.0.0.1,$raw_port" \
        "  connector: serialdev,$pts,9600n81,local" "connection: &rfc2217" \
        "  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet_port" \
        "  connector: serialdev,$pts,19200n81,local" "connection: &tls" \
        "  accepter: telnet(rfc2217),ssl(key=$work/server.key,cert=$work/server.crt),tcp,127.0.0.1,$tls_port" \
        "  connector: serialdev,$pts,19200n81,local" >"$work/ser2net.yaml"
    "$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
    ser2net_pid=$!
    for _ in $(seq 50); do
        listening "$raw_port" && listening "$telnet_port" && listening "$tls_port" && break
        sleep 0.1
    done
    listening "$raw_port" && listening "$telnet_port" && listening "$tls_port" ||
        fail "ser2net did not start: $(cat "$work/ser2net.log")"

    # An unknown certificate: nothing sent, exit 3, and the fingerprint openssl gives.
    mark=$(wc -l <"$work/sim.log")
    cli read --port "rfc2217+tls://127.0.0.1:$tls_port" >/dev/null 2>"$work/cli.err"
    local status=$?
    [ "$status" = 3 ] && grep -qF "trust 127.0.0.1:$tls_port $fingerprint" "$work/cli.err" ||
        fail "an unknown certificate gave exit status $status: $(cat "$work/cli.err")"
    [ -z "$(logged_requests "$mark")" ] || fail "requests went out to an unknown server"
    echo "windows_network: an unknown certificate is refused with its fingerprint, $fingerprint"

    for mode in raw rfc2217 rfc2217+tls; do
        url=tcp://127.0.0.1:$raw_port
        trust=()
        [ "$mode" = rfc2217 ] && url=rfc2217://127.0.0.1:$telnet_port
        [ "$mode" = rfc2217+tls ] && url=rfc2217+tls://127.0.0.1:$tls_port trust=(--trust "$fingerprint")
        random_config "$work/config.json"
        config_path=$(win_path "$work/config.json")
        # Each command waits a moment: ser2net frees the device shortly after a client left.
        sleep 0.5
        mark=$(wc -l <"$work/sim.log")
        cli write --port "$url" "${trust[@]}" --quiet "$config_path" 2>"$work/cli.err" ||
            fail "$mode: lorvane-cli write through $url failed: $(cat "$work/cli.err")"
        [ "$(logged_requests "$mark")" = "$(expected_writes)" ] ||
            fail "$mode: the module did not receive the file's 17 write requests"
        sleep 0.5
        cli read --port "$url" "${trust[@]}" >"$work/back.json" 2>"$work/cli.err" ||
            fail "$mode: lorvane-cli read through $url failed: $(cat "$work/cli.err")"
        grep -q '"format": "lorvane-panel/1"' "$work/back.json" || fail "$mode: read gave no file"
        sleep 0.5
        cli verify --port "$url" "${trust[@]}" --quiet "$config_path" 2>"$work/cli.err" ||
            fail "$mode: lorvane-cli verify through $url failed: $(cat "$work/cli.err")"
        echo "windows_network: $mode: lorvane-cli.exe wrote, read and verified through $url"
    done

    # Discovery: where dnsapi lacks DnsServiceBrowse and DnsServiceResolve (Wine 8 has
    # neither), the program still starts and says so, exit 3, for servers and a dnssd: port.
    local said
    if ! /usr/lib/wine/wine64 --version >/dev/null 2>&1; then fail "wine64 does not run"; fi
    for args in "servers" "read --port dnssd:line-1"; do
        # shellcheck disable=SC2086  # the words of each command on purpose
        cli $args >/dev/null 2>"$work/cli.err"
        status=$?
        said=$(tr -d '\r' <"$work/cli.err")
        if [ "$status" = 3 ] && grep -qF "discovery is not available on this system" <<<"$said"; then
            echo "windows_network: '$args': $said"
        elif [ "$status" = 0 ] && [ "$args" = servers ]; then
            echo "windows_network: this Wine has DnsServiceBrowse: servers ran: $said"
        else
            fail "'$args' gave exit status $status: $said"
        fi
    done
}

# ---------------------------------------------------------------------------------------
# installer

system_files()
{
    # Wine keeps its own logs and caches in the user's folders; they are not ours.
    (cd "$WINEPREFIX/drive_c" && find . -path './users/*/AppData/Local/Temp' -prune -o \
        -path './users/*/Temp' -prune -o -path './windows' -prune -o -print | sort)
}

check_installer()
{
    local before program start_menu
    before=$(system_files)
    /usr/lib/wine/wine64 "$setup" /S || fail "the installer failed"
    /usr/lib/wine/wineserver -w
    program="$WINEPREFIX/drive_c/Program Files/Lorvane"
    start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Lorvane"
    for file in lorvane.exe lorvane-cli.exe Qt6Widgets.dll Qt6Network.dll platforms/qwindows.dll \
                styles/qwindowsvistastyle.dll tls/qschannelbackend.dll uninstall.exe LICENSE.txt licenses/qt/LGPL-3.0-only.txt; do
        [ -f "$program/$file" ] || fail "not installed: $file"
    done
    [ -f "$start_menu/Lorvane.lnk" ] || fail "no start-menu entry"
    local shown
    shown=$(cd "$program" && /usr/lib/wine/wine64 lorvane-cli.exe --version) ||
        fail "the installed lorvane-cli.exe does not run"
    [ "$shown" = "lorvane-cli $version" ] || fail "the installed program says '$shown'"

    /usr/lib/wine/wine64 "$program/uninstall.exe" /S || fail "the uninstaller failed"
    /usr/lib/wine/wineserver -w  # it runs from a copy of itself and returns at once
    [ ! -e "$program" ] || fail "the uninstaller left $(cd "$program" && find . | head -n 5 | tr '\n' ' ')"
    [ ! -e "$start_menu" ] || fail "the uninstaller left the start-menu entry"
    diff <(echo "$before") <(system_files) >"$work/diff.txt" ||
        fail "install and uninstall changed other files: $(head -n 10 "$work/diff.txt" | tr '\n' ' ')"
    echo "windows_installer: installed $(du -sh "$setup" | cut -f1) setup, ran lorvane-cli $version, uninstalled without a trace"
}

case "$check" in
    window) check_window ;;
    com) check_com ;;
    search) check_search ;;
    site) check_site ;;
    network) check_network ;;
    installer) check_installer ;;
    *) echo "usage: $0 window|com|search|site|network|installer" >&2; exit 1 ;;
esac
exit 0
