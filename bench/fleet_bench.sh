#!/usr/bin/env bash
# Many devices in one run: N simulated devices (N = 1, 10, 50, 100) upgraded by one qor-upgrade-cli run
# each with the default --jobs, side by side with the same simulator; the wall time of each, its ratio to
# one device's and the peak resident memory of the command-line process.
#
#   bench/fleet_bench.sh [BUILD_DIR]        (default build; its qor-upgrade-cli and qor-device-sim)
#
# Every upgrade waits the program's fixed settling time after its transfer (937 x 32 ms, about 30 s),
# which the shipped program never shortens: one device takes about that long, and many devices take
# about as long as one when their waits overlap. Passes when the time for 100 is at most 1.1 times the
# time for one, and the peak resident memory for 100 is under 64 MiB.
#
# Needs root: the devices serve port 80, the upgrade's TFTP listeners ports 69 and up. It runs in a
# network namespace of its own, so the devices (127.0.0.2 and up) and the ports are its alone.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ "$(id -u)" -ne 0 ]; then
  echo "fleet_bench: needs root (ports 80 and 69, a network namespace)" >&2
  exit 1
fi
if [ "${QOR_IN_NAMESPACE:-}" != 1 ]; then
  cmake --build "$build" --target qor-upgrade-cli qor-device-sim -j2 >/dev/null
  exec env QOR_IN_NAMESPACE=1 unshare --net --mount "$0" "$@"
fi
ip link set lo up  # the namespace's own loopback
mkdir -p /run/lock && mount -t tmpfs qor-locks /run/lock  # and device locks of its own

sim=$build/sim/qor-device-sim
cli=$build/front/console/qor-upgrade-cli
tmp=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

"$sim" --count 100 --version-before 3.1.0 --flash-seconds 1 >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do
  [ "$(grep -c 'listening on' "$tmp/sim.log")" -eq 100 ] && break
  sleep 0.05
done
[ "$(grep -c 'listening on' "$tmp/sim.log")" -eq 100 ] || { echo "fleet_bench: the simulator did not start" >&2; exit 1; }

# Peak resident set of a process: polled from /proc while it runs (VmHWM only grows).
peak_kib() {
  local pid=$1 peak=0 now
  while kill -0 "$pid" 2>/dev/null; do
    now=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ -n "$now" ] && [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.2
  done
  echo "$peak"
}

# run N: upgrades 127.0.0.2 .. 127.0.0.(N+1) at once; sets seconds and kib. The same devices serve every
# run: --force flashes those an earlier run left on the carried version.
run() {
  local n=$1
  for i in $(seq 2 $((n + 1))); do echo "127.0.0.$i"; done >"$tmp/devices"
  local start end
  start=$(date +%s.%N)
  "$cli" --devices "$tmp/devices" --yes --force --report "$tmp/report-$n.json" </dev/null >"$tmp/cli-$n.log" 2>&1 &
  local pid=$!
  kib=$(peak_kib "$pid")
  local status=0
  wait "$pid" || status=$?
  end=$(date +%s.%N)
  seconds=$(echo "$end - $start" | bc -l)
  if [ "$status" -ne 0 ] || ! grep -q "\"upgraded\": $n," "$tmp/report-$n.json"; then
    echo "fleet_bench: not every one of $n devices was upgraded and verified (status $status)" >&2
    tail -n $((n + 8)) "$tmp/cli-$n.log" >&2
    exit 1
  fi
}

command -v bc >/dev/null || { echo "fleet_bench: needs bc" >&2; exit 1; }
printf '%8s  %10s  %12s  %14s\n' devices "wall time" "ratio to 1" "peak resident"
declare -A wall
for n in 1 10 50 100; do
  run "$n"
  wall[$n]=$seconds
  printf '%8d  %8.1f s  %12.2f  %10.1f MiB\n' "$n" "$seconds" "$(echo "$seconds / ${wall[1]}" | bc -l)" \
    "$(echo "$kib / 1024" | bc -l)"
done

ratio=$(echo "${wall[100]} / ${wall[1]}" | bc -l)
mib=$(echo "$kib / 1024" | bc -l)
verdict=0
if (($(echo "$ratio <= 1.1" | bc -l))); then
  printf 'time for 100 devices / time for 1: %.2f (at most 1.1): pass\n' "$ratio"
else
  printf 'time for 100 devices / time for 1: %.2f (at most 1.1): FAIL\n' "$ratio"
  verdict=1
fi
if (($(echo "$kib < 65536" | bc -l))); then
  printf 'peak resident memory with 100 devices at once: %.1f MiB (under 64): pass\n' "$mib"
else
  printf 'peak resident memory with 100 devices at once: %.1f MiB (under 64): FAIL\n' "$mib"
  verdict=1
fi
exit $verdict
