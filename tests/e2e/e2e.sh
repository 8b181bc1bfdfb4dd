#!/usr/bin/env bash
# One end-to-end scenario: a simulated QOR on ADDRESS and the command-line upgrade against it.
#   e2e.sh SCENARIO ADDRESS SIM CLI CLI_TWO_STAGE
set -uo pipefail
scenario=$1 device=$2 sim=$3 cli=$4 cli2=$5

case $device in 127.*) ;; *) echo "loopback addresses only" >&2; exit 2 ;; esac
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($scenario): $*" >&2
  echo "--- upgrade output" >&2; cat "$work/cli.out" "$work/cli.err" >&2 2>/dev/null
  echo "--- device log" >&2; cat "$work/sim.log" >&2 2>/dev/null
  # Kept beside the test as well: a failure seen once in many runs is read afterwards.
  mkdir -p e2e-failed && rm -rf "e2e-failed/$scenario" && cp -r "$work" "e2e-failed/$scenario" 2>/dev/null
  exit 1
}

# Ports 80 and 69 need root (or CAP_NET_BIND_SERVICE on both executables, which tests do not set).
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: binding ports 80 and 69 needs root"
  exit 77
fi

start_sim() {
  "$sim" --address "$device" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qs listening "$work/sim.log" && return 0
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start"
    sleep 0.05
  done
  fail "the simulator did not start listening"
}

# Runs the upgrade without a terminal, within a time limit well inside the test's own (so that a hang
# still ends in a failure with the logs); with INTERRUPT_AT set, presses Ctrl-C once its output shows
# that text (the phase under test has begun). With E2E_VERBOSE=1 the trace goes to its error output.
# --foreground: timeout passes a signal on to the program alone; without it the program would get Ctrl-C
# twice (once from timeout, once to the process group) and quit at once instead of cancelling.
run_cli() {
  local exe=$1
  shift
  [ "${E2E_VERBOSE:-0}" = 1 ] && set -- --verbose "$@"
  timeout --foreground -k 10 "${E2E_LIMIT:-150}" "$exe" --device "$device" --yes "$@" </dev/null >"$work/cli.out" 2>"$work/cli.err" &
  local pid=$!
  if [ -n "${INTERRUPT_AT:-}" ]; then
    for _ in $(seq 400); do
      grep -qF -- "$INTERRUPT_AT" "$work/cli.out" && break
      sleep 0.05
    done
    [ -z "${BEFORE_INTERRUPT:-}" ] || $BEFORE_INTERRUPT
    kill -INT "$pid" 2>/dev/null
  fi
  wait "$pid"
  cli_status=$?
  [ "$cli_status" -ne 124 ] && [ "$cli_status" -ne 137 ] || fail "the upgrade did not end within ${E2E_LIMIT:-150} s"
}

# The device ends soon after the upgrade that it took part in.
wait_sim() {
  local state
  for _ in $(seq 300); do
    state=$(awk '{ print $3 }' "/proc/$sim_pid/stat" 2>/dev/null)
    [ -z "$state" ] || [ "$state" = Z ] && break
    sleep 0.1
  done
  [ -z "$state" ] || [ "$state" = Z ] || fail "the simulated device did not end 30 s after the upgrade"
  wait "$sim_pid"
  sim_status=$?
  sim_pid=
}

# Another host on the network that knows the protocol: it asks the program's listener for every name the
# program could have announced and counts the answers.
steal_image() {
  python3 - "$work/thief.out" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.99", 0))
s.setblocking(False)
answers = 0
def drain():
    global answers
    try:
        while True:
            s.recvfrom(2048)
            answers += 1
    except BlockingIOError:
        pass
for stage in (1, 0):
    for n in range(0x8000):
        s.sendto(b"\0\1/qor%x.bi%d\0octet\0tsize\0" b"0\0" % (n, stage), ("127.0.0.1", 69))
        if n % 64 == 63:
            time.sleep(0.001)
            drain()
time.sleep(1)
drain()
open(sys.argv[1], "w").write(f"answers {answers}\n")
PY
}

expect_out() { grep -qF -- "$1" "$work/cli.out" "$work/cli.err" || fail "expected output: $1"; }
expect_log() { grep -qF -- "$1" "$work/sim.log" || fail "expected in the device log: $1"; }
expect_status() { [ "$cli_status" -eq "$1" ] || fail "upgrade exit status $cli_status, expected $1"; }

case $scenario in
  single_stage)
    start_sim --once
    run_cli "$cli"
    wait_sim
    expect_status 0
    [ "$sim_status" -eq 0 ] || fail "device status $sim_status"
    expect_out "QOR@$device Upgrade Successful!"
    expect_out "3.2.1"
    ;;
  two_stage)
    # The device asks for each name once more while it flashes: neither is answered again.
    start_sim --once --final-version 3.2.1 --version-before 3.0.0 --repeat-request
    run_cli "$cli2"
    wait_sim
    expect_status 0
    [ "$sim_status" -eq 0 ] || fail "device status $sim_status"
    expect_out "Note: Since your current firmware version"
    expect_out "Uploading Transition Firmware"
    expect_out "Uploading Target Firmware"
    expect_out "Upgrade Successful!"
    ! grep -q FAULT "$work/sim.log" || fail "a name was served again"
    ;;
  password)
    printf 'secret\n' >"$work/password"
    start_sim --once --user admin --password secret --nonce new --qop auth --algorithm MD5-sess
    run_cli "$cli" --password-file "$work/password"
    wait_sim
    expect_status 0
    [ "$sim_status" -eq 0 ] || fail "device status $sim_status"
    expect_out "Upgrade Successful!"
    # After its restart the device has forgotten the nonce: one quiet repeat with the new one.
    expect_log "unknown or stale nonce"
    expect_log "accepted (nonce"
    [ "$(grep -c 'Enter Password Information' "$work/cli.out")" -eq 1 ] || fail "asked for the password more than once"
    ;;
  wrong_password)
    printf 'guess\n' >"$work/password"
    start_sim --user admin --password secret --nonce fixed
    run_cli "$cli" --password-file "$work/password"
    expect_status 1
    expect_out "Upgrade Failed: User Abort"
    ! grep -q "Upgrade Successful" "$work/cli.out" || fail "reported success"
    ;;
  no_device)
    run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: No Response From QOR"
    ;;
  never_answers)
    start_sim --never-answer-http
    INTERRUPT_AT="Connecting with QOR@$device" run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: User Abort"
    ;;
  version_mismatch)
    start_sim --once --report-version 9.9.9
    run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: Version not matching"
    ! grep -q "Upgrade Successful" "$work/cli.out" || fail "reported success"
    ;;
  held_upgrade_request | late_upgrade_reply)
    # The device fetches at once and either never answers the upgrade request or answers it long after
    # verification was due: verification still goes out about 30 s after the last acknowledgement.
    if [ "$scenario" = held_upgrade_request ]; then
      start_sim --once --hold-upgrade-request
    else
      start_sim --once --fetch-before-reply --delay-upgrade-reply 100
    fi
    start=$SECONDS
    run_cli "$cli"
    elapsed=$((SECONDS - start))
    expect_status 0
    expect_out "QOR@$device Upgrade Successful!"
    [ "$elapsed" -lt 60 ] || fail "verification waited for the upgrade request ($elapsed s)"
    ;;
  lossy_link)
    start_sim --once --drop-every 50 --duplicate-acks
    run_cli "$cli"
    wait_sim
    expect_status 0
    [ "$sim_status" -eq 0 ] || fail "device status $sim_status: the image did not arrive whole"
    expect_out "Upgrade Successful!"
    ;;
  stolen_transfer)
    # The device named never fetches; another host tries every name: it gets nothing, and the run waits
    # for the device until it is cancelled.
    start_sim --never-fetch
    INTERRUPT_AT="Waiting For Firmware Download Request From QOR" BEFORE_INTERRUPT=steal_image run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: User Abort"
    grep -qx "answers 0" "$work/thief.out" || fail "another host was served: $(cat "$work/thief.out")"
    ! grep -q "Upgrade Successful" "$work/cli.out" || fail "reported success"
    ;;
  no_version_after)
    # Already on the target version before; after flashing the page says no version at all.
    start_sim --once --version-before 3.2.1 --no-version-after
    run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: Version not matching"
    ;;
  closed_pipe)
    # The reader of the output goes away early: the run still verifies, and its status says so.
    start_sim --once
    { "$cli" --device "$device" --yes </dev/null 2>"$work/cli.err"; echo $? >"$work/status"; } | head -c 1 >/dev/null
    wait_sim
    cli_status=$(cat "$work/status")
    expect_status 0
    [ "$sim_status" -eq 0 ] || fail "device status $sim_status"
    expect_log "status page read after the last fetch"
    ;;
  never_fetches)
    start_sim --never-fetch
    INTERRUPT_AT="Waiting For Firmware Download Request From QOR" run_cli "$cli"
    expect_status 1
    expect_out "Upgrade Failed: User Abort"
    expect_out "Waiting For Firmware Download Request From QOR"
    ;;
  *)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
echo "ok: $scenario"
