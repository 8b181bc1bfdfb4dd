#!/usr/bin/env bash
# The command line's answers to its options, before anything is sent to a device.
#   cli_usage.sh CLI CLI_TWO_STAGE
set -uo pipefail
cli=$1 cli2=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT

check() {  # check STATUS TEXT -- COMMAND...
  local want=$1 text=$2
  shift 3
  "$@" </dev/null >"$out" 2>&1
  local got=$?
  [ "$got" -eq "$want" ] || { echo "FAIL: $* -> status $got, expected $want"; cat "$out"; exit 1; }
  grep -qF -- "$text" "$out" || { echo "FAIL: $* -> expected '$text'"; cat "$out"; exit 1; }
}

check 0 "--password-file FILE" -- "$cli" --help
check 0 "carrying QOR-4710 firmware 3.2.1" -- "$cli" --version
check 0 "(transition firmware 3.0.5)" -- "$cli2" --version
check 2 "give --device ADDR" -- "$cli" --yes
check 2 "give --yes" -- "$cli" --device 127.0.0.99
check 2 "unknown option --frobnicate" -- "$cli" --frobnicate
check 2 "--device needs a value" -- "$cli" --device
check 2 "cannot read a password from /nonexistent/pw" -- "$cli" --device 127.0.0.99 --yes --password-file /nonexistent/pw
check 2 "/dev/zero is larger than 4096 bytes" -- "$cli" --device 127.0.0.99 --yes --password-file /dev/zero
long=$(mktemp)
trap 'rm -f "$out" "$long"' EXIT
head -c 127 /dev/zero | tr '\0' x >"$long"
check 2 "the password is longer than 126 characters" -- "$cli" --device 127.0.0.99 --yes --password-file "$long"
check 2 "--user: a user name of at most 126 characters" -- "$cli" --device 127.0.0.99 --yes --user "$(cat "$long")"
echo secret >"$long" && chmod 644 "$long"
check 2 "warning: $long can be read by others than its owner" -- "$cli" --device 1.2.3 --yes --password-file "$long"
# Checked as the address dialog checks it, before any request goes out.
check 2 "--device: not a valid IPv4 address" -- "$cli" --device 1.2.3 --yes
check 2 "--device: not a valid IPv4 address" -- "$cli" --device 0.0.0.0 --yes
check 2 "--local-address 127.9.9.9 is not an address of this PC" -- "$cli" --device 127.0.0.99 --yes --local-address 127.9.9.9
# Several devices: every address and the number of jobs are checked before anything is sent.
devices=$(mktemp)
trap 'rm -f "$out" "$long" "$devices"' EXIT
for n in $(seq 2 102); do echo "127.0.1.$n"; done >"$devices"
check 2 "--jobs 101: at most 100 devices can be upgraded at once" -- "$cli" --devices "$devices" --jobs 101 --yes
check 2 "--jobs: give a number from 1 to 100" -- "$cli" --devices "$devices" --jobs 0 --yes
printf '# office\n127.0.0.2\n\n127.0.0.300  # old\n' >"$devices"
check 2 "$devices:4: not an IPv4 address of a QOR: '127.0.0.300'" -- "$cli" --devices "$devices" --yes
for a in $(seq 0 40); do printf "127.1.$a.%d\n" $(seq 1 250); done >"$devices"
check 2 "$devices:10001: more than 10000 devices" -- "$cli" --devices "$devices" --yes
printf '127.0.0.2\n127.0.0.3\n' >"$devices"
check 2 "the device 127.0.0.2 is given twice" -- "$cli" --devices "$devices" --device 127.0.0.2 --yes
check 2 "no terminal to ask on: give --yes" -- "$cli" --device 127.0.0.2 --device 127.0.0.3
check 2 "--json goes with --info" -- "$cli" --device 127.0.0.2 --json
echo "command line: all as expected"
