#!/usr/bin/env bash
# Runs a test program under an Xvfb of its own on the xcb platform; skips (77) without Xvfb.
# Usage: run_under_xvfb.sh [--wm] [--desktop] [Xvfb screen options ...] -- program [arguments ...]
# (no screen options: one 1920x1080 screen). --wm starts openbox first, as focus and activation
# only behave as on a desktop under a window manager; skips (77) without openbox. --desktop runs
# the program as if from a terminal of an X11 desktop: the display is the shell's, not the
# test's, so a test that needs none must leave it.
set -u
screens=()
wm=0
desktop=0
while [[ $# -gt 0 && $1 != "--" ]]; do
  if [[ $1 == "--wm" ]]; then
    wm=1
  elif [[ $1 == "--desktop" ]]; then
    desktop=1
  else
    screens+=("$1")
  fi
  shift
done
shift
[[ ${#screens[@]} -eq 0 ]] && screens=(-screen 0 1920x1080x24)
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is not installed: skipped"
  exit 77
fi
if [[ $wm -eq 1 ]] && ! command -v openbox >/dev/null 2>&1; then
  echo "openbox is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
# -displayfd picks a free display number, so tests running side by side never clash.
Xvfb -displayfd 5 "${screens[@]}" -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
wmpid=
cleanup() {
  if [[ -n $wmpid ]]; then
    kill "$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 50); do
  [[ -s "$work/display" ]] && break
  sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
  echo "Xvfb did not start: skipped"
  cat "$work/xvfb.log"
  exit 77
fi
display=":$(head -n1 "$work/display")"
# The server named its display; wait until it takes connections (a loaded machine gets a minute).
for _ in $(seq 1 600); do
  DISPLAY=$display xprop -root >/dev/null 2>&1 && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [[ $wm -eq 1 ]]; then
  # Its own config and session folders, so nothing of the user's desktop comes in.
  mkdir -p "$work/wm-config" "$work/wm-runtime"
  chmod 700 "$work/wm-runtime"
  wm_running() {
    DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"
  }
  # Running once it announces itself on the root window; one that died before that (it could not
  # reach a server still busy starting) is started again, a few times.
  for _ in 1 2 3 4 5; do
    DISPLAY=$display XDG_CONFIG_HOME="$work/wm-config" XDG_RUNTIME_DIR="$work/wm-runtime" \
      openbox --sm-disable >>"$work/openbox.log" 2>&1 &
    wmpid=$!
    for _ in $(seq 1 600); do
      wm_running && break
      kill -0 "$wmpid" 2>/dev/null || break
      sleep 0.1
    done
    wm_running && break
    kill "$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
    wmpid=
    sleep 0.5
  done
  if ! wm_running; then
    echo "openbox did not start"
    cat "$work/openbox.log" "$work/xvfb.log"
    exit 1
  fi
fi
if [[ $desktop -eq 1 ]]; then
  DISPLAY=$display "$@"
  exit
fi
# The display is ours; the shell's Wayland session, if any, is not.
unset WAYLAND_DISPLAY
DISPLAY=$display QT_QPA_PLATFORM=xcb CW_TEST_PROVIDES="${CW_TEST_PROVIDES:-} DISPLAY" "$@"
