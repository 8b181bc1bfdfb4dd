#!/usr/bin/env bash
# The main job: upgrades the bundled simulated QOR on this machine, from the command line.
#   scripts/run-demo.sh          command line (qor-upgrade-cli)
#   scripts/run-demo.sh --gui    the desktop program instead (needs a display)
# The simulated device listens on 127.0.0.2 (TCP 80) and our TFTP server on UDP 69: both need root.
set -euo pipefail
cd "$(dirname "$0")/.."

gui=0
[ "${1:-}" = "--gui" ] && gui=1

if [ "$(id -u)" -ne 0 ]; then
  echo "run-demo: the simulated QOR serves HTTP on port 80 and the upgrade serves TFTP on port 69;" >&2
  echo "binding ports below 1024 needs root: run this script as root." >&2
  exit 1
fi
if [ $gui -eq 1 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run-demo: --gui needs a graphical display (DISPLAY is not set)." >&2
  exit 1
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
targets=(qor-upgrade-cli qor-device-sim)
[ $gui -eq 1 ] && targets+=(qor-upgrade)
cmake --build --preset default -j "$(nproc)" --target "${targets[@]}" | grep -v '^\[' || true

log=build/demo-device.log
echo "Starting the simulated QOR on 127.0.0.2 (its log: $log)"
build/sim/qor-device-sim --address 127.0.0.2 --version-before 3.0.0 --once --linger 60 >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q "listening" "$log" 2>/dev/null && break
  kill -0 $sim 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done

status=0
if [ $gui -eq 1 ]; then
  build/front/qt/qor-upgrade --loopback-addresses || status=$?
else
  build/front/console/qor-upgrade-cli --device 127.0.0.2 --yes || status=$?
fi

wait $sim && sim_status=0 || sim_status=$?
trap - EXIT
echo
echo "What the simulated QOR saw:"
sed 's/^/  /' "$log"
if [ $status -eq 0 ] && [ $sim_status -eq 0 ]; then
  echo "Demo upgrade done: the device received the whole image and reports its version."
else
  echo "Demo upgrade failed (upgrade status $status, device status $sim_status)." >&2
  exit 1
fi
