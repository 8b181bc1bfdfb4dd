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

# Xvfb picks a free display number itself and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

# openbox runs its start-up command once it manages the screen.
openbox --sm-disable --startup "touch $work/managed" 2>"$work/openbox.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -e "$work/managed" ] && break
  sleep 0.1
done
if [ ! -e "$work/managed" ]; then
  echo "openbox did not start:" >&2
  cat "$work/openbox.log" >&2
  exit 1
fi

QT_QPA_PLATFORM=xcb "$@"
