#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests
#   default  release build: unit, GUI (offscreen) and end-to-end tests; then the Debian package made
#            from it, installed, used by an ordinary user and removed (scripts/package-test.sh, as root)
#   dev      AddressSanitizer + UndefinedBehaviorSanitizer build: the same tests
#   tsan     ThreadSanitizer build of the core: its threaded tests
#   fuzz     libFuzzer targets (clang): a short run of each
#   windows  the Windows builds (MinGW-w64): their tests under wine64 and 32-bit wine, the installer
#            made, signed, installed and removed (scripts/windows.sh)
# Give preset names to run only those, e.g. scripts/test.sh default
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default dev tsan fuzz windows)

for preset in "${presets[@]}"; do
  if [ "$preset" = windows ]; then
    bash scripts/windows.sh
    continue
  fi
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = default ]; then
    echo "=== default: the Debian package"
    bash scripts/package-test.sh
  fi
done
