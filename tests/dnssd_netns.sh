#!/bin/sh
# Runs a discovery test program (its path and arguments follow) inside a network namespace of
# its own, beside an Avahi daemon of its own on a private D-Bus system bus, so that nothing it
# advertises or asks reaches the machine's own interfaces, bus or daemon. The namespace holds
# a veth pair, both ends inside it (v0 192.0.2.1, v1 192.0.2.2); the daemon uses v0 only.
# Every process started here is ended by its PID and the namespace is removed, also when the
# test fails or is interrupted. Exit 77 (skipped) when not root: namespaces need it.
set -u

if [ "$(id -u)" != 0 ]; then
    echo "skipped: the discovery test needs root (a network namespace of its own)"
    exit 77
fi
for tool in ip dbus-daemon avahi-daemon unshare; do
    command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
done

ns="lorvane-dnssd-$$"
dir=$(mktemp -d /tmp/lorvane-dnssd.XXXXXX)
bus_pid=
avahi_pid=

cleanup() {
    for pid in $avahi_pid $bus_pid; do
        kill "$pid" 2>/dev/null
    done
    for pid in $avahi_pid $bus_pid; do
        # Ended at last by SIGKILL should SIGTERM not do within 5 s.
        n=0
        while kill -0 "$pid" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
        kill -9 "$pid" 2>/dev/null
    done
    ip netns delete "$ns" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ip netns add "$ns" || exit 1
in_ns() { ip netns exec "$ns" "$@"; }
ip -n "$ns" link add v0 type veth peer name v1 || exit 1
ip -n "$ns" addr add 192.0.2.1/24 dev v0
ip -n "$ns" addr add 192.0.2.2/24 dev v1
for link in lo v0 v1; do ip -n "$ns" link set "$link" up || exit 1; done

# The private system bus: Debian's configuration, listening on a socket of our own, run as
# root in the foreground, without the machine's activatable services, and root may own names.
sed -e '/<user>/d' -e '/<fork\/>/d' -e '/<pidfile>/d' -e '/<syslog\/>/d' \
    -e '/<standard_system_servicedirs\/>/d' -e '/<servicehelper>/d' \
    -e "s|<listen>.*</listen>|<listen>unix:path=$dir/system_bus_socket</listen>|" \
    -e 's|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|' \
    -e 's|<include ignore_missing="yes">system-local.conf</include>||' \
    -e 's|</busconfig>|<policy user="root"><allow own="*"/><allow send_destination="*"/></policy></busconfig>|' \
    /usr/share/dbus-1/system.conf >"$dir/system.conf"
# Each daemon writes its own PID before it becomes the daemon (ip netns exec runs it as a
# child of its own, so $! would be ip's).
in_ns sh -c "echo \$\$ >'$dir/bus.pid'; exec dbus-daemon --config-file='$dir/system.conf' --nofork --nopidfile" &
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/system_bus_socket"
n=0
while [ ! -S "$dir/system_bus_socket" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
bus_pid=$(cat "$dir/bus.pid" 2>/dev/null)
[ -S "$dir/system_bus_socket" ] || { echo "the private system bus did not start"; exit 1; }

# The daemon: its own configuration, and its runtime folder (pid file, socket) on a tmpfs of
# its own over /run, seen by it alone.
cat >"$dir/avahi-daemon.conf" <<CONF
[server]
host-name=lorvane-test
domain-name=local
use-ipv4=yes
use-ipv6=yes
allow-interfaces=v0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
CONF
in_ns unshare --mount --propagation private sh -c \
    "echo \$\$ >'$dir/avahi.pid'; mount -t tmpfs lorvane-avahi /run && exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f '$dir/avahi-daemon.conf'" \
    >"$dir/avahi.log" 2>&1 &
# Running once its host name is established.
n=0
until grep -q "Server startup complete" "$dir/avahi.log" 2>/dev/null; do
    avahi_pid=$(cat "$dir/avahi.pid" 2>/dev/null)
    if [ $n -ge 100 ] || { [ -n "$avahi_pid" ] && ! kill -0 "$avahi_pid" 2>/dev/null; }; then
        echo "avahi-daemon did not start:"; cat "$dir/avahi.log"; exit 1
    fi
    sleep 0.1; n=$((n + 1))
done

in_ns "$@"
code=$?
exit $code
