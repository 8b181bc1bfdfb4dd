#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the release configuration and runs its tests.
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the release build's tests only
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
}

run_preset default
