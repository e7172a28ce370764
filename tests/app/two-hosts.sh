#!/usr/bin/env bash
# Runs a test program as the controlling host of a small network of two network namespaces made
# here, each with its own system bus and an Avahi daemon limited to its own interfaces:
#   server host: s1 192.0.2.1/24 and s2 192.0.2.2/24, two interfaces on one network (a laptop on
#                Ethernet and Wi-Fi); announced through s2 only, while the route back to the
#                controller leaves through s1 (so a reply the system gives a source picks 192.0.2.1);
#   controller:  br0 192.0.2.100/24, a bridge joining both of the server's interfaces.
# The addresses are the documentation network's and never leave the namespaces. The program runs
# in the controller's namespace with CW_SERVER_NETNS (the server's namespace), CW_SERVER_BUS (its
# bus address), CW_SERVER_ADDRESS (the announced address) and CW_OTHER_ADDRESS (the one the route
# picks); DBUS_SYSTEM_BUS_ADDRESS is the controller's bus. Exits 77 (skipped) where namespaces
# cannot be made. Usage: two-hosts.sh program [arguments ...]
set -u
id=$$
server=cw-srv-$id
controller=cw-ctl-$id
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  ip netns del "$server" 2>/dev/null
  ip netns del "$controller" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../support/netns-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/netns-common.sh"

netns_require_tools
netns_add_or_skip "$server" "$controller"
in_server() { ip netns exec "$server" "$@"; }
in_controller() { ip netns exec "$controller" "$@"; }
set -e
for ns in "$server" "$controller"; do
  ip netns exec "$ns" ip link set lo up
done
in_controller ip link add br0 type bridge
in_controller ip link set br0 up
for i in 1 2; do
  ip link add "s$i-$id" netns "$server" type veth peer name "b$i-$id" netns "$controller"
  in_server ip link set "s$i-$id" name "s$i"
  in_controller ip link set "b$i-$id" name "b$i"
  in_controller ip link set "b$i" master br0
  in_controller ip link set "b$i" up
done
# s1 first: its route to the network is the one the system takes for replies.
in_server ip addr add 192.0.2.1/24 dev s1
in_server ip link set s1 up
in_server ip addr add 192.0.2.2/24 dev s2
in_server ip link set s2 up
in_controller ip addr add 192.0.2.100/24 dev br0
set +e
for _ in $(seq 100); do
  in_controller ping -c1 -W1 192.0.2.2 >/dev/null 2>&1 && break
  sleep 0.1
done
route=$(in_server ip route get 192.0.2.100)
if [[ $route != *"src 192.0.2.1"* ]]; then
  echo "the route back does not pick 192.0.2.1 as it should: $route"
  exit 1
fi

# A bus and an Avahi daemon for each host, each daemon in a mount namespace of its own so that
# its pid file and socket never meet another daemon's.
start_host() { # name namespace interfaces
  local name=$1 ns=$2 interfaces=$3
  netns_write_bus_conf "$work/$name-bus.conf" "$work/$name-bus"
  dbus-daemon --config-file="$work/$name-bus.conf" --nofork >"$work/$name-bus.log" 2>&1 &
  pids+=($!)
  netns_write_avahi_conf "$work/$name-avahi.conf" "$interfaces" "cw-$name-$id"
  for _ in $(seq 100); do
    [ -S "$work/$name-bus" ] && break
    sleep 0.1
  done
  mkdir -p /run/avahi-daemon
  DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/$name-bus" ip netns exec "$ns" unshare -m sh -c \
    "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f '$work/$name-avahi.conf'" \
    >"$work/$name-avahi.log" 2>&1 &
  pids+=($!)
}
start_host server "$server" s2
start_host controller "$controller" br0

export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/controller-bus"
export CW_TEST_PROVIDES="${CW_TEST_PROVIDES:-} DBUS_SYSTEM_BUS_ADDRESS"
CW_SERVER_NETNS=$server CW_SERVER_BUS="unix:path=$work/server-bus" CW_SERVER_ADDRESS=192.0.2.2 \
  CW_OTHER_ADDRESS=192.0.2.1 in_controller "$@"
status=$?
if [ $status -ne 0 ]; then
  for log in "$work"/*-avahi.log; do
    echo "--- $log:"
    cat "$log"
  done
fi
exit $status
