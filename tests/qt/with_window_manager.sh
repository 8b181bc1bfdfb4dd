#!/usr/bin/env bash
# Runs a command on a virtual X display of its own under a real window manager, which frames windows
# as a desktop does (offscreen windows get only a thin frame of Qt's). Exits 77, which the test counts
# as skipped, when Xvfb or openbox is not installed.
#   with_window_manager.sh COMMAND [ARGUMENT...]
set -euo pipefail

for tool in Xvfb openbox; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed: skipped"
    exit 77
  fi
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 10 s for a file with something in it, written by the program NAME once it is ready.
await_ready() {
  local file=$1 name=$2
  for _ in $(seq 100); do
    [ -s "$file" ] && return 0
    sleep 0.1
  done
  echo "$name did not start:" >&2
  cat "$work/$name.log" >&2
  exit 1
}

# Xvfb picks a free display number itself and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/Xvfb.log" &
pids+=($!)
await_ready "$work/display" Xvfb
export DISPLAY=":$(head -n1 "$work/display")"

# openbox runs its start-up command once it manages the screen.
openbox --sm-disable --startup "sh -c 'echo yes >$work/managed'" 2>"$work/openbox.log" &
pids+=($!)
await_ready "$work/managed" openbox

QT_QPA_PLATFORM=xcb "$@"
