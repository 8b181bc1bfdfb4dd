#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64:
#   windows-x64  x86_64: built with its tests, which run under wine64 (unit and dialog tests, the
#                desktop program's dialogs under Xvfb, the command line upgrading the Linux simulator)
#   windows-x86  i686, the 32-bit deliverable: built and linked only (32-bit code cannot run here)
# and a check that every executable imports nothing but the system's own libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
jobs=$(nproc)

# The simulator runs on Linux: from the native build when there is one.
sim=$root/build/sim/qor-device-sim
if [ ! -x "$sim" ]; then
  echo "=== windows: the simulator, natively"
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$jobs" --target qor-device-sim
fi

# Wine's own prefix for the tests, and its server kept running: without one, ctest would wait on the
# server that the first program starts. (The tests that open windows have a prefix of their own.)
export WINEPREFIX=$root/build-win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root/build-win64"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== windows: a wine prefix"
  # Without 32-bit wine it fails to start the 32-bit helpers, and says so in its status; the 64-bit
  # prefix is made all the same.
  wineboot -i >"$root/build-win64/wineboot.log" 2>&1 || true
  wineserver -w  # the registry files are written when the server ends
  [ -f "$WINEPREFIX/system.reg" ] || { cat "$root/build-win64/wineboot.log" >&2; exit 1; }
fi
wineserver -p </dev/null >/dev/null 2>&1
# Wine's own services start with the first program of a prefix and live as long as its server; started
# here, they do not hold a test's output open (ctest would wait for them until its time-out).
wine wineboot </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "=== windows-x64: configure and build"
cmake --preset windows-x64 -DQOR_DEVICE_SIM="$sim" >/dev/null
cmake --build --preset windows-x64 -j "$jobs"
echo "=== windows-x64: tests under wine64"
ctest --preset windows-x64 -j "$jobs"

echo "=== windows-x86: configure and build"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j "$jobs"

echo "=== windows: imports"
status=0
for exe in build-win32/front/win32/*.exe build-win32/front/console/*.exe build-win64/front/win32/*.exe \
           build-win64/front/console/*.exe; do
  [ -e "$exe" ] || { echo "missing: $exe" >&2; status=1; continue; }
  objdump=x86_64-w64-mingw32-objdump
  case $exe in build-win32/*) objdump=i686-w64-mingw32-objdump ;; esac
  dlls=$("$objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  foreign=$(grep -vxE 'kernel32\.dll|user32\.dll|gdi32\.dll|comctl32\.dll|wsock32\.dll|winmm\.dll|msvcrt\.dll|advapi32\.dll|shell32\.dll|api-ms-win-crt-[a-z0-9-]+\.dll' <<<"$dlls" || true)
  echo "$exe: $(tr '\n' ' ' <<<"$dlls")"
  if [ -n "$foreign" ]; then
    echo "  imports a library that is not the system's: $foreign" >&2
    status=1
  fi
done
exit $status
