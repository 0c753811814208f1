# shellcheck shell=bash disable=SC2154  # test_name, shown_logs, work, WAIT_STEPS and the pids are the caller's
# Sourced by the real-window tests: failing with the last lines of the logs, stopping what
# the test started, and finding and driving the program's windows on the private X server.
# The caller sets test_name, shown_logs (names of $work/NAME.log to show on failure),
# WAIT_STEPS (polls 0.1 s apart), and, as it starts them, work, xvfb_pid, app_pid (the
# program under test) and other_pids.

# fail MESSAGE: says what failed, shows the end of each log, and exits 1.
fail()
{
    echo "$test_name: FAIL: $*" >&2
    local log
    for log in $shown_logs; do
        if [ -n "${work:-}" ] && [ -s "$work/$log.log" ]; then
            echo "--- $log output (last lines) ---" >&2
            tail -n 30 "$work/$log.log" >&2
        fi
    done
    exit 1
}

# Ends the processes the test started, TERM first and KILL after 2 s, and removes $work.
# shellcheck disable=SC2317  # only called by the EXIT trap
cleanup()
{
    local pid
    for pid in ${app_pid:-} ${other_pids:-} ${xvfb_pid:-}; do
        if kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null
            for _ in $(seq 20); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null
    done
    [ -z "${work:-}" ] || rm -rf "$work"
}

# find_window TITLE: prints the id of the one viewable window titled exactly TITLE; fails
# while there is none, and when there are several.
find_window()
{
    local ids
    ids=$(xdotool search --onlyvisible --name "^${1//./\\.}\$" 2>/dev/null) || return 1
    [ "$(printf '%s\n' "$ids" | wc -l)" -eq 1 ] || fail "several windows are titled '$1'"
    printf '%s\n' "$ids"
}

# wait_for_window TITLE: waits until a window titled exactly TITLE is mapped and prints its id.
wait_for_window()
{
    local id
    for _ in $(seq "$WAIT_STEPS"); do
        kill -0 "$app_pid" 2>/dev/null || fail "lorvane exited while waiting for '$1'"
        if id=$(find_window "$1"); then
            printf '%s\n' "$id"
            return 0
        fi
        sleep 0.1
    done
    fail "no window titled '$1' appeared"
}

# wait_until_gone TITLE: waits until no window titled TITLE is viewable.
wait_until_gone()
{
    for _ in $(seq "$WAIT_STEPS"); do
        find_window "$1" >/dev/null || return 0
        sleep 0.1
    done
    fail "the window '$1' stayed up"
}

# keys WINDOW KEY...: focuses the window and types the keys.
keys()
{
    local window=$1
    shift
    xdotool windowfocus --sync "$window" key "$@" || fail "cannot press $* in window $window"
}
