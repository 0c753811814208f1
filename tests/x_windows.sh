# shellcheck shell=bash disable=SC2154  # fail, WAIT_STEPS and app_pid are the caller's
# Sourced by the real-window tests: finding and driving the program's windows on the private
# X server. The caller defines fail MESSAGE (it exits), sets WAIT_STEPS (polls 0.1 s apart)
# and app_pid (the program under test).

# find_window TITLE: prints the id of the first viewable window titled exactly TITLE; fails
# while there is none.
find_window()
{
    xdotool search --onlyvisible --name "^${1//./\\.}\$" 2>/dev/null | head -n 1 | grep .
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
