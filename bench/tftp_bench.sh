#!/usr/bin/env bash
# TFTP throughput on loopback: our transfer session (bench/tftp_bench_server) against tftpd-hpa's
# in.tftpd, the same files fetched by the same curl client, alternating, several repetitions.
# Prints the median time of each server per file and the ratio ours / tftpd-hpa.
#
#   bench/tftp_bench.sh [REPETITIONS]        (default 7)
#
# in.tftpd runs in the foreground (-L) on a 127.0.0.x address with a temporary directory and is ended
# with the script; it is never started as a system service. Builds a release tftp_bench_server in
# $QOR_BENCH_BUILD (default build-tftp-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${1:-7}
build=${QOR_BENCH_BUILD:-build-tftp-bench}
ours_addr=127.0.0.61
hpa_addr=127.0.0.62
port=${QOR_BENCH_PORT:-6969}

install_tftpd() {
  command -v in.tftpd >/dev/null 2>&1 && return
  echo "installing tftpd-hpa (its service is kept from starting)"
  local policy=/usr/sbin/policy-rc.d created=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    created=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends tftpd-hpa >/dev/null
  [ "$created" = 1 ] && rm -f "$policy"
  # Should an init system have started it anyway, it listens on port 69, never on ours.
}

install_tftpd
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target tftp_bench_server -j2 >/dev/null

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir "$tmp/files"
head -c 8388608 /dev/urandom >"$tmp/files/image8m.bin"
head -c 32000000 /dev/urandom >"$tmp/files/image32m.bin"
chmod 755 "$tmp" "$tmp/files"
chmod 644 "$tmp"/files/*

"$build/bench/tftp_bench_server" "$ours_addr" "$port" "$tmp/files" >"$tmp/ours.log" 2>&1 &
pids+=($!)
tftpd_user=tftp
id "$tftpd_user" >/dev/null 2>&1 || tftpd_user=nobody
in.tftpd -L -a "$hpa_addr:$port" -u "$tftpd_user" -s "$tmp/files" >"$tmp/hpa.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q ready "$tmp/ours.log" 2>/dev/null && break; sleep 0.1; done
sleep 0.3
for pid in "${pids[@]}"; do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "a server did not start (port $port taken?):" >&2
    cat "$tmp/ours.log" "$tmp/hpa.log" >&2
    exit 1
  fi
done

# Microseconds one fetch takes; checks the bytes afterwards.
fetch() {
  local addr=$1 name=$2 start end
  rm -f "$tmp/out"
  start=$(date +%s%N)
  curl -sS --max-time 300 --tftp-blksize 512 -o "$tmp/out" "tftp://$addr:$port/$name"
  end=$(date +%s%N)
  cmp -s "$tmp/out" "$tmp/files/$name" || { echo "$addr: $name arrived damaged" >&2; exit 1; }
  echo $(((end - start) / 1000))
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

declare -A times
for name in image8m.bin image32m.bin; do
  fetch "$ours_addr" "$name" >/dev/null  # warm-up, not counted
  fetch "$hpa_addr" "$name" >/dev/null
  for r in $(seq "$reps"); do
    if ((r % 2)); then order="ours hpa"; else order="hpa ours"; fi
    for who in $order; do
      addr=$ours_addr
      [ "$who" = hpa ] && addr=$hpa_addr
      t=$(fetch "$addr" "$name")
      times[$who,$name]+="$t "
      printf '  %-13s %-5s run %d: %8.3f s\n' "$name" "$who" "$r" "$(echo "$t / 1000000" | bc -l)"
    done
  done
done

echo
printf '%-13s %10s %14s %10s   (median of %d, seconds)\n' file ours tftpd-hpa ours/hpa "$reps"
for name in image8m.bin image32m.bin; do
  o=$(echo "${times[ours,$name]}" | tr ' ' '\n' | grep . | median)
  h=$(echo "${times[hpa,$name]}" | tr ' ' '\n' | grep . | median)
  printf '%-13s %10.3f %14.3f %10.3f\n' "$name" "$(echo "$o / 1000000" | bc -l)" \
    "$(echo "$h / 1000000" | bc -l)" "$(echo "$o / $h" | bc -l)"
done
