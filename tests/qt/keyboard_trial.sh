#!/usr/bin/env bash
# The desktop program at the keyboard, as a user types: real key events (xdotool, through the X server)
# on a display with a window manager (run it under with_window_manager.sh), the simulated QOR as a real
# process on a loopback address. Saves a picture of the screen at each step worth reviewing.
#   keyboard_trial.sh SCENARIO PROGRAM SIM X_PROBE SCREENS
# Scenarios:
#   returns GAP_MS   two Returns GAP_MS apart on Upgrade and one in the updating wait: still upgraded
#   typo             "127.0.0.600" is refused as "Invalid IP Address"; nothing reaches 127.0.0.60
#   no_address       no address of this PC on a network (without --loopback-addresses): said so
#                    before anything is sent to the QOR
#   no_device        nothing answers at the address: the error box says so
#   killed           the warning window killed from outside: the program ends as its close box would
# Exit status 0 passed, 1 failed, 77 skipped.
set -uo pipefail
if ! command -v xdotool >/dev/null; then
  echo "xdotool is not installed: skipped"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the simulated QOR needs port 80 and the upgrade port 69"
  exit 77
fi
# A network namespace of its own, with loopback only: no other test's device answers on its addresses,
# and the program finds no address of this PC on a network unless it offers loopback ones.
if [ "${QOR_IN_NAMESPACE:-}" != 1 ]; then
  unshare -n true 2>/dev/null || { echo "no network namespace to be had: skipped"; exit 77; }
  QOR_IN_NAMESPACE=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up || exit 77
scenario=$1
shift
if [ "$scenario" = returns ]; then
  gap_ms=$1
  shift
fi
program=$1 sim=$2 probe=$3 screens=$4
mkdir -p "$screens"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($scenario): $*" >&2
  "$probe" grab "$screens/x11_${scenario}_failed.png" 2>/dev/null
  echo "--- windows" >&2
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    echo "  $(xdotool getwindowname "$w")" >&2
  done
  echo "--- program" >&2; cat "$work/program.log" >&2
  echo "--- device" >&2; cat "$work/sim.log" >&2 2>/dev/null
  exit 1
}

# The first visible window whose title matches; fails after SECONDS (10).
await_window() {
  local pattern=$1 seconds=${2:-10}
  for _ in $(seq $((seconds * 20))); do
    local id
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.05
  done
  fail "no window \"$pattern\" within $seconds s"
}

await_gone() {
  local id=$1
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$id" || return 0
    sleep 0.05
  done
  fail "window $id stayed"
}

# Gives a window the keyboard as a click on its title would, then types.
keys_to() {
  local id=$1
  shift
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
  sleep 0.2
  xdotool "$@"
}

start_sim() {
  "$sim" --address "$device" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do
    grep -qs listening "$work/sim.log" && return 0
    sleep 0.05
  done
  fail "the simulated QOR did not start"
}

start_program() {
  "$@" >"$work/program.log" 2>&1 &
  program_pid=$!
  pids+=("$program_pid")
}

# The program must end by itself within SECONDS with STATUS.
await_program_end() {
  local status=$1 seconds=$2
  for _ in $(seq $((seconds * 20))); do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      wait "$program_pid"
      local got=$?
      [ "$got" -eq "$status" ] || fail "the program ended with status $got, not $status"
      return 0
    fi
    sleep 0.05
  done
  fail "the program still runs after $seconds s"
}

# The text of the message box, as Ctrl+C copies it.
box_text() {
  local id=$1
  keys_to "$id" key ctrl+c
  sleep 0.3
  "$probe" clipboard
}

# Warning (Cancel has the focus: Tab to Continue, Space), then the address typed key by key and Return
# (OK).
enter_address() {
  local typed=$1
  local warning
  warning=$(await_window 'Firmware Upgrade$' 20) || exit 1
  keys_to "$warning" key Tab space
  await_gone "$warning"
  address=$(await_window 'Firmware Upgrade$') || exit 1
  keys_to "$address" type --delay 60 "$typed"
  xdotool key Return
}

# The device must not have been asked anything.
expect_no_request() {
  sleep 1
  local asked
  asked=$(grep -v "listening on" "$work/sim.log" | grep -E "http|auth|tftp")
  [ -z "$asked" ] || fail "the QOR at $device was asked: $asked"
}

# The error box says WORDS (its picture kept as PNG); OK closes it, nothing reached the device, and
# Escape in the address window ends the program.
expect_refusal() {
  box=$(await_window '^Error$') || exit 1
  "$probe" grab "$screens/$1"
  text=$(box_text "$box")
  grep -q "$2" <<<"$text" || fail "the box says: $text"
  keys_to "$box" key Return
  await_gone "$box"
  expect_no_request
  keys_to "$address" key Escape
  await_program_end 0 10
}

case $scenario in
  returns)
    device=127.0.0.31
    start_sim --once --flash-seconds 1
    start_program "$program" --loopback-addresses
    enter_address "$device"
    confirm=$(await_window '^Confirm Upgrade' 20) || exit 1
    "$probe" grab "$screens/x11_confirm.png"
    # Typed ahead: the second Return lands in whichever window comes up next.
    keys_to "$confirm" key --delay "$gap_ms" Return Return
    # On loopback the upload takes a fraction of a second: the window is met in the updating wait.
    updating=$(await_window '^Updating' 60) || exit 1
    sleep 1
    "$probe" grab "$screens/x11_updating.png"
    keys_to "$updating" key Return
    success=$(await_window 'Upgrade Successful!$' 90) || exit 1
    xdotool search --onlyvisible --name 'Upgrade Error$' >/dev/null 2>&1 && fail "an error box is up"
    keys_to "$success" key Return
    await_program_end 0 10
    wait "$sim_pid"
    sim_status=$?
    [ "$sim_status" -eq 0 ] || fail "the simulated QOR ended with status $sim_status"
    grep -q "image .* accepted" "$work/sim.log" || fail "no image accepted"
    ;;
  typo)
    device=127.0.0.60
    start_sim
    start_program "$program" --loopback-addresses
    enter_address 127.0.0.600
    expect_refusal x11_invalid_address.png "Invalid IP Address"
    ;;
  no_address)
    # The program sees only loopback, which it offers only with --loopback-addresses.
    device=127.0.0.61
    start_sim
    start_program "$program"
    enter_address "$device"
    expect_refusal x11_no_local_address.png "This PC has no address on a network"
    ;;
  no_device)
    # Nothing answers at the address: the error box, centred as the dialogs are.
    device=127.0.0.62
    start_program "$program" --loopback-addresses
    enter_address "$device"
    box=$(await_window 'Upgrade Error$' 30) || exit 1
    sleep 0.5
    "$probe" grab "$screens/x11_error_box.png"
    text=$(box_text "$box")
    grep -q "Upgrade Failed: No Response From QOR" <<<"$text" || fail "the box says: $text"
    keys_to "$box" key Return
    await_program_end 0 10
    ;;
  killed)
    start_program "$program" --loopback-addresses
    warning=$(await_window 'Firmware Upgrade$' 20) || exit 1
    "$probe" grab "$screens/x11_warning.png"
    xdotool windowkill "$warning"
    await_program_end 0 10
    ;;
  *)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
echo "passed: $scenario"
