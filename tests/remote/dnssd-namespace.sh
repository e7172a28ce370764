#!/usr/bin/env bash
# Runs a test program inside a network namespace of its own with loopback alone, beside a
# private system bus and an Avahi daemon limited to lo, so nothing is announced or browsed on
# the machine's real interfaces. Exits 77 (skipped) where namespaces cannot be made.
set -u
program=$1
name=cw-dnssd-$$
work=$(mktemp -d)
daemons=
bus_pid=
cleanup() {
  [ -n "$daemons" ] && kill "$daemons" 2>/dev/null && wait "$daemons" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  ip netns del "$name" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../support/netns-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/netns-common.sh"

netns_require_tools
netns_add_or_skip "$name"
ip netns exec "$name" ip link set lo up
ip netns exec "$name" ip link set lo multicast on
# A second address, so that the host is announced at two.
ip netns exec "$name" ip addr add 127.0.0.5/8 dev lo

# A bus of its own, reached through DBUS_SYSTEM_BUS_ADDRESS by the daemon and the test alike.
netns_write_bus_conf "$work/bus.conf" "$work/bus"
dbus-daemon --config-file="$work/bus.conf" --fork --print-pid=3 3>"$work/bus.pid" || exit 1
bus_pid=$(cat "$work/bus.pid")
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
export CW_TEST_PROVIDES="${CW_TEST_PROVIDES:-} DBUS_SYSTEM_BUS_ADDRESS"

netns_write_avahi_conf "$work/avahi.conf" lo
# The test starts first and signals once its servers wait for the daemon, which then starts:
# publishing must wait for a daemon that appears late. The daemon writes its pid where the test
# finds it, and is started again whenever it ends while the test runs (as a service manager
# would), so that the test can stop it to see the discovery go away and come back.
ready="$work/ready"
daemon_pid="$work/avahi.pid"
CW_DNSSD_NAMESPACE=$name CW_DNSSD_SECOND_ADDRESS=127.0.0.5 CW_DNSSD_READY=$ready CW_DNSSD_DAEMON_PID=$daemon_pid \
  ip netns exec "$name" "$program" &
test_pid=$!
for _ in $(seq 100); do
  [ -e "$ready" ] || ! kill -0 "$test_pid" 2>/dev/null && break
  sleep 0.1
done
# Its own mount namespace too, so its pid file and socket never meet another daemon's.
mkdir -p /run/avahi-daemon
keep_daemon() {
  trap 'kill $! 2>/dev/null; wait $! 2>/dev/null; exit 0' TERM
  while kill -0 "$test_pid" 2>/dev/null; do
    ip netns exec "$name" unshare -m sh -c \
      "echo \$\$ >'$daemon_pid' && mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f '$work/avahi.conf'" \
      >>"$work/avahi.log" 2>&1 &
    wait $!
  done
}
keep_daemon &
daemons=$!

wait "$test_pid"
status=$?
if [ $status -ne 0 ]; then
  echo "--- avahi-daemon:"
  cat "$work/avahi.log"
fi
exit $status
