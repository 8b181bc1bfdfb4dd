#!/usr/bin/env bash
# TFTP throughput on loopback: our transfer session (bench/tftp_bench_server) against tftpd-hpa's
# in.tftpd, the same file fetched by the same curl client, the servers taking turns, in one run.
#
#   bench/tftp_bench.sh [REPETITIONS [MODE...]]     (default: 7 repetitions; modes idle loaded lan)
#
# Servers: tftpd-hpa, and ours with each of the program's views drawing the upload window: none (the
# dialog manager alone), the console's, and Qt's (offscreen; only when Qt is there to build it).
# Modes:
#   idle    nothing else runs but what the machine runs anyway
#   loaded  one busy loop per processor, started before the mode and ended after it; run twice, with
#           curl and the server held on one processor (loaded-same) and on two (loaded-apart). Left to
#           itself the scheduler puts them either way, at random, and that alone makes a fetch 2.5 times
#           slower or not, for tftpd-hpa as for ours: a median over random placements says little
#   lan     curl reaches each server through bench/udp_delay_relay, which holds every datagram for
#           QOR_BENCH_DELAY_US (default 200) microseconds each way, as a LAN would. Two bounds: the
#           nominal one, the delays alone ((blocks + 1) x 2 x delay), and the path's, the time less the
#           server's turns as the relay timed them (from passing it a datagram to its answer): what the
#           fetch would take with a server that answers at once, over the same relay, with the same curl
# Per server and mode it prints the median time of a fetch and the median processor time the server
# used for it (user and system, its children included), and both as ratios to tftpd-hpa's.
#
# Environment: QOR_BENCH_MIB (file size, default 8), QOR_BENCH_DELAY_US, QOR_BENCH_PORT (default 6969),
# QOR_BENCH_SERVERS (a subset of: null console qt), QOR_BENCH_BUILD (default build-tftp-bench: a
# release build of the servers and the relay).
# Everything listens on 127.0.0.x addresses and is ended with the script; in.tftpd runs in the
# foreground (-L) with a temporary directory, never as a system service.
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${1:-7}
shift || true
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(idle loaded lan)
for i in "${!modes[@]}"; do [ "${modes[$i]}" = loaded ] && modes[$i]="loaded-same loaded-apart"; done
read -r -a modes <<<"${modes[*]}"
if [ "$(nproc)" -lt 2 ] && [[ " ${modes[*]} " == *" loaded-apart "* ]]; then
  echo "one processor: loaded-apart left out"
  read -r -a modes <<<"${modes[*]/loaded-apart/}"
fi
build=${QOR_BENCH_BUILD:-build-tftp-bench}
port=${QOR_BENCH_PORT:-6969}
mib=${QOR_BENCH_MIB:-8}
delay_us=${QOR_BENCH_DELAY_US:-200}
name=image${mib}m.bin
size=$((mib * 1048576))
blocks=$((size / 512 + 1))

for mode in "${modes[@]}"; do
  case $mode in idle | loaded-same | loaded-apart | lan) ;;
    *) echo "unknown mode $mode (idle, loaded, loaded-same, loaded-apart, lan)" >&2; exit 2 ;;
  esac
done

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
  if [ "$created" = 1 ]; then rm -f "$policy"; fi
  # Should an init system have started it anyway, it listens on port 69, never on ours.
}

install_tftpd
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target tftp_bench_server udp_delay_relay -j2 >/dev/null

tmp=$(mktemp -d)
pids=()
busy=()
cgroup=""
stop_busy() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  busy=()
}
cleanup() {
  stop_busy
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "$cgroup" ]; then
    sleep 0.2
    for d in "$cgroup"/*/; do rmdir "$d" 2>/dev/null || true; done
    rmdir "$cgroup" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir "$tmp/files" "$tmp/xdg"
head -c "$size" /dev/urandom >"$tmp/files/$name"
chmod 755 "$tmp" "$tmp/files"
chmod 644 "$tmp"/files/*
chmod 700 "$tmp/xdg"

# Processor time: from a cgroup of each server's own when the machine lets us make one (nanoseconds,
# children included even once they have ended), otherwise from /proc/PID/stat (clock ticks, children
# counted once reaped).
for root in /sys/fs/cgroup/cpuacct /sys/fs/cgroup/cpu,cpuacct /sys/fs/cgroup; do
  if [ -w "$root" ] && { [ -e "$root/cpuacct.usage" ] || [ -e "$root/cgroup.subtree_control" ]; }; then
    if mkdir "$root/qor-tftp-bench-$$" 2>/dev/null; then
      cgroup=$root/qor-tftp-bench-$$
      break
    fi
  fi
done
ticks=$(getconf CLK_TCK)

declare -A addr pid_of
servers=(hpa null console)
addr[hpa]=127.0.0.62
addr[null]=127.0.0.61
addr[console]=127.0.0.63
addr[qt]=127.0.0.64
declare -A relay_pid
declare -A relay_addr=([hpa]=127.0.0.72 [null]=127.0.0.71 [console]=127.0.0.73 [qt]=127.0.0.74)
declare -A label=([hpa]=tftpd-hpa [null]="ours, no view" [console]="ours, console" [qt]="ours, Qt")

start_server() {
  local who=$1
  if [ "$who" = hpa ]; then
    local user=tftp
    id "$user" >/dev/null 2>&1 || user=nobody
    in.tftpd -L -a "${addr[hpa]}:$port" -u "$user" -s "$tmp/files" >"$tmp/hpa.log" 2>&1 &
  else
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/xdg \
      "$build/bench/tftp_bench_server" --view "$who" "${addr[$who]}" "$port" "$tmp/files" >"$tmp/$who.log" 2>&1 &
  fi
  pid_of[$who]=$!
  pids+=($!)
  if [ -n "$cgroup" ]; then
    mkdir "$cgroup/$who"
    echo "${pid_of[$who]}" >"$cgroup/$who/cgroup.procs"
  fi
}

"$build/bench/tftp_bench_server" --views | grep -qw qt && servers+=(qt)
if [ -n "${QOR_BENCH_SERVERS:-}" ]; then  # a subset, e.g. "hpa null"; tftpd-hpa is always one
  read -r -a servers <<<"hpa ${QOR_BENCH_SERVERS//hpa/}"
fi
for who in "${servers[@]}"; do start_server "$who"; done
for who in "${servers[@]}"; do
  [ "$who" = hpa ] && continue
  for _ in $(seq 100); do grep -q ready "$tmp/$who.log" 2>/dev/null && break; sleep 0.1; done
done
sleep 0.3
for who in "${servers[@]}"; do
  if ! kill -0 "${pid_of[$who]}" 2>/dev/null; then
    echo "server $who did not start (port $port taken?):" >&2
    cat "$tmp"/*.log >&2
    exit 1
  fi
done

if [[ " ${modes[*]} " == *" lan "* ]]; then
  for who in "${servers[@]}"; do
    "$build/bench/udp_delay_relay" "${relay_addr[$who]}" "$port" "${addr[$who]}" "$port" "$delay_us" \
      >"$tmp/relay-$who.log" 2>&1 &
    relay_pid[$who]=$!
    pids+=($!)
  done
  sleep 0.2
fi

# Processor time of a server so far, in nanoseconds.
cpu_ns() {
  local who=$1
  if [ -n "$cgroup" ]; then
    if [ -e "$cgroup/$who/cpuacct.usage" ]; then
      cat "$cgroup/$who/cpuacct.usage"
    else
      awk '$1 == "usage_usec" {print $2 * 1000}' "$cgroup/$who/cpu.stat"
    fi
  else
    # utime stime cutime cstime: fields 14 to 17, counted after the ") " that ends the name
    sed 's/.*) //' "/proc/${pid_of[$who]}/stat" | awk -v t="$ticks" '{print ($12 + $13 + $14 + $15) * 1e9 / t}'
  fi
}

# The turns of the last fetch through a server's relay: "server-us client-us late-us".
relay_turns() {
  local log=$tmp/relay-$1.log before
  before=$(grep -c '^turns:' "$log" || true)
  kill -USR1 "${relay_pid[$1]}"
  for _ in $(seq 100); do
    [ "$(grep -c '^turns:' "$log" || true)" -gt "$before" ] && break
    sleep 0.01
  done
  grep '^turns:' "$log" | tail -1 | awk '{print $3, $5, $7}'
}

# One fetch: "microseconds cpu-nanoseconds"; checks the bytes afterwards.
fetch() {
  local who=$1 host=$2 start end c0 c1
  rm -f "$tmp/out"
  c0=$(cpu_ns "$who")
  start=$(date +%s%N)
  "${curl_on[@]}" curl -sS --max-time 300 --tftp-blksize 512 -o "$tmp/out" "tftp://$host:$port/$name"
  end=$(date +%s%N)
  cmp -s "$tmp/out" "$tmp/files/$name" || { echo "$who: $name arrived damaged" >&2; exit 1; }
  sleep 0.1  # lets a forked server end and be counted
  c1=$(cpu_ns "$who")
  echo "$(((end - start) / 1000)) $((c1 - c0))"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# Where curl and the servers (every thread of theirs) run: "CURL-CPU SERVER-CPU", or "any".
curl_on=()
place() {
  local server_cpus=0-$(($(nproc) - 1))
  curl_on=()
  if [ "$1" != any ]; then
    curl_on=(taskset -c "$1")
    server_cpus=$2
  fi
  for who in "${servers[@]}"; do taskset -a -p -c "$server_cpus" "${pid_of[$who]}" >/dev/null; done
}

start_busy() {  # loop i on processor i, lest the scheduler move them about and make two on one
  for cpu in $(seq 0 $(($(nproc) - 1))); do
    taskset -c "$cpu" bash -c 'while :; do :; done' &
    busy+=($!)
  done
  sleep 0.5
}

echo "TFTP benchmark: $name ($blocks blocks of 512 bytes), curl, $reps repetitions, $(nproc) processors," \
  "load $(cut -d' ' -f1-3 /proc/loadavg); processor time from ${cgroup:+a cgroup}${cgroup:-/proc (ticks of 1/$ticks s)}"
declare -A times cpus paths turns
for mode in "${modes[@]}"; do
  case $mode in
    loaded-same) start_busy; place 0 0 ;;
    loaded-apart) start_busy; place 0 1 ;;
  esac
  for who in "${servers[@]}"; do  # warm-up, not counted
    host=${addr[$who]}
    [ "$mode" = lan ] && host=${relay_addr[$who]}
    fetch "$who" "$host" >/dev/null
  done
  n=${#servers[@]}
  for r in $(seq "$reps"); do
    line=""
    for i in $(seq 0 $((n - 1))); do
      who=${servers[$(((i + r) % n))]}  # each repetition starts with the next server
      host=${addr[$who]}
      [ "$mode" = lan ] && host=${relay_addr[$who]}
      read -r t c < <(fetch "$who" "$host")
      times[$mode,$who]+="$t "
      cpus[$mode,$who]+="$c "
      line+=$(printf '  %s %.3f/%.3f' "$who" "$(echo "$t / 1000000" | bc -l)" "$(echo "$c / 1000000000" | bc -l)")
      if [ "$mode" = lan ]; then
        read -r s cl late < <(relay_turns "$who")
        paths[$who]+="$(echo "$t / ($t - $s)" | bc -l) "
        turns[$who]+="$s $cl $late,"
        line+=$(printf '/%.3f' "$(echo "$s / 1000000" | bc -l)")
      fi
    done
    what="time/cpu"
    [ "$mode" = lan ] && what+="/server's turns"
    echo "  $mode run $r ($what s):$line"
  done
  [[ $mode == loaded-* ]] && { stop_busy; place any; }
done

bound=$(echo "($blocks + 1) * 2 * $delay_us / 1000000" | bc -l)
echo
printf '%-12s %-15s %9s %9s %9s %9s %11s %11s\n' mode server "time s" "cpu s" time/hpa cpu/hpa time/nominal time/path
for mode in "${modes[@]}"; do
  ht=$(echo "${times[$mode,hpa]}" | tr ' ' '\n' | grep . | median)
  hc=$(echo "${cpus[$mode,hpa]}" | tr ' ' '\n' | grep . | median)
  for who in "${servers[@]}"; do
    t=$(echo "${times[$mode,$who]}" | tr ' ' '\n' | grep . | median)
    c=$(echo "${cpus[$mode,$who]}" | tr ' ' '\n' | grep . | median)
    b="" p=""
    if [ "$mode" = lan ]; then
      b=$(printf '%.3f' "$(echo "$t / 1000000 / $bound" | bc -l)")
      p=$(printf '%.3f' "$(echo "${paths[$who]}" | tr ' ' '\n' | grep . | median)")
    fi
    cr=n/a
    [ "$hc" != 0 ] && cr=$(printf '%.2f' "$(echo "$c / $hc" | bc -l)")
    printf '%-12s %-15s %9.3f %9.3f %9.2f %9s %11s %11s\n' "$mode" "${label[$who]}" "$(echo "$t / 1000000" | bc -l)" \
      "$(echo "$c / 1000000000" | bc -l)" "$(echo "$t / $ht" | bc -l)" "$cr" "$b" "$p"
  done
done
if [[ " ${modes[*]} " == *" lan "* ]]; then
  echo "lan, per block (us, medians): the server's turn; how late the relay's sends ended and curl's turn, in the path"
  per_block() { echo "${turns[$1]}" | tr ',' '\n' | grep . | awk -v f="$2" -v b="$blocks" '{print $f / b}' | median; }
  for who in "${servers[@]}"; do
    printf '  %-15s server %5.1f   relay %5.1f   curl %5.1f\n' "${label[$who]}" "$(per_block "$who" 1)" \
      "$(per_block "$who" 3)" "$(per_block "$who" 2)"
  done
fi
lan_note=""
[[ " ${modes[*]} " == *" lan "* ]] &&
  lan_note="; lan: relay $delay_us us each way, nominal bound $(printf '%.3f' "$bound") s, time/path: the time over the time less the server's turns"
echo "(medians of $reps$lan_note)"
