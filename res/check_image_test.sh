#!/usr/bin/env bash
# The image checker refuses what the program could not serve, each with a message that says why.
#   check_image_test.sh QOR_IMAGE_TOOL
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expect() {  # expect ok|refused FILE [message]
  local want=$1 file=$2 message=${3:-}
  "$tool" check "$file" 2>"$work/err"
  local rc=$?
  if [ "$want" = ok ] && [ $rc -ne 0 ]; then echo "FAIL: $file refused: $(cat "$work/err")"; exit 1; fi
  if [ "$want" = refused ] && [ $rc -eq 0 ]; then echo "FAIL: $file accepted"; exit 1; fi
  if [ -n "$message" ] && ! grep -qF "$message" "$work/err"; then
    echo "FAIL: $file: expected '$message', got: $(cat "$work/err")"
    exit 1
  fi
}

"$tool" make "$work/good.bin" QoR4710fFiRmWaRe 3.2.1 4096 1 || exit 1
expect ok "$work/good.bin"
"$tool" make "$work/smallest.bin" QoR4710fFiRmWaRe 3.2.1 128 1 || exit 1
expect ok "$work/smallest.bin"

head -c 127 "$work/good.bin" >"$work/short.bin"
expect refused "$work/short.bin" "at least 128 bytes"

# A version text that runs to byte 127 without its NUL.
{ head -c 92 "$work/good.bin"; printf '%036d' 0; } >"$work/unterminated.bin"
expect refused "$work/unterminated.bin" "no NUL"

# 65,535 blocks is the most TFTP can number: 33,553,919 bytes pass, one more does not.
"$tool" make "$work/largest.bin" QoR4710fFiRmWaRe 3.2.1 33553919 1 || exit 1
expect ok "$work/largest.bin"
"$tool" make "$work/too_large.bin" QoR4710fFiRmWaRe 3.2.1 33553920 1 || exit 1
expect refused "$work/too_large.bin" "at most 33553919 bytes"

expect refused "$work/missing.bin" "cannot be read"
echo "image checks: all as expected"
