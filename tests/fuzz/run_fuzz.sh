#!/usr/bin/env bash
# Runs one fuzz target for a while from a copy of its seeds (the repo keeps the seeds small).
#   run_fuzz.sh TARGET SEED_DIR SECONDS [libFuzzer options...]
set -euo pipefail
target=$1 seeds=$2 seconds=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$@" corpus
