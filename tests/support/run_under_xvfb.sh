#!/usr/bin/env bash
# Runs a test program under an Xvfb of its own on the xcb platform; skips (77) without Xvfb.
# Usage: run_under_xvfb.sh [Xvfb screen options ...] -- program [arguments ...]
# (no screen options: one 1920x1080 screen).
set -u
screens=()
while [[ $# -gt 0 && $1 != "--" ]]; do
  screens+=("$1")
  shift
done
shift
[[ ${#screens[@]} -eq 0 ]] && screens=(-screen 0 1920x1080x24)
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
# -displayfd picks a free display number, so tests running side by side never clash.
Xvfb -displayfd 5 "${screens[@]}" -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
cleanup() {
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
DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb "$@"
