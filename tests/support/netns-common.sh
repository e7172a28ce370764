# Shared pieces of the scripts that run a test inside network namespaces of their own, each with a
# private system bus and an Avahi daemon. Sourced, not run; the caller sets `work` (its temporary
# folder) before calling these.

# Exits 77 (skipped) where a tool the namespaces need is missing.
netns_require_tools() {
  local tool
  for tool in ip dbus-daemon avahi-daemon unshare; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: $tool is not installed"
      exit 77
    fi
  done
}

# Makes each named namespace, or exits 77 (skipped) where namespaces are not allowed here. The
# caller's cleanup deletes those that were made.
netns_add_or_skip() { # namespace ...
  local ns
  for ns in "$@"; do
    if ! ip netns add "$ns" 2>>"$work/netns.err"; then
      echo "SKIPPED: network namespaces are not allowed here: $(cat "$work/netns.err")"
      exit 77
    fi
  done
}

# A system bus configuration that listens on one socket and lets everyone do anything on it.
netns_write_bus_conf() { # file socket
  cat >"$1" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$2</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
}

# An Avahi configuration limited to the given interfaces, IPv4 only, that announces addresses;
# under a host name of its own where given, so that two daemons on one network never take the
# machine's name both (the one that loses renames itself and withdraws what it announced).
netns_write_avahi_conf() { # file interfaces [host-name]
  cat >"$1" <<CONF
[server]
allow-interfaces=$2
${3:+host-name=$3}
use-ipv4=yes
use-ipv6=no
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
publish-addresses=yes
[reflector]
[rlimits]
CONF
}
