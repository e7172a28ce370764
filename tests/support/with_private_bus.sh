#!/usr/bin/env bash
# Runs a test program beside a private session bus of its own, whose address it finds in the
# variable named by the first argument; skips (77) without dbus-daemon.
# Usage: with_private_bus.sh VARIABLE program [arguments ...]
set -u
variable=$1
shift
if ! command -v dbus-daemon >/dev/null 2>&1; then
  echo "dbus-daemon is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/address" 4>"$work/pid" || {
  echo "dbus-daemon did not start: skipped"
  rm -rf "$work"
  exit 77
}
cleanup() {
  kill "$(cat "$work/pid")" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export "$variable=$(head -n1 "$work/address")"
export CW_TEST_PROVIDES="${CW_TEST_PROVIDES:-} $variable"
"$@"
