#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64:
#   windows-x64  x86_64: built with its tests, which run under wine64 (unit and dialog tests, the
#                desktop program's dialogs under Xvfb, the command line upgrading the Linux simulator)
#   windows-x86  i686, the 32-bit deliverable: built with its tests, which run under 32-bit wine (the
#                same tests and end-to-end run); skipped, and said so, on a machine whose kernel runs
#                no 32-bit programs
# a check that every executable imports nothing but the system's own libraries, and the installer made
# from the 32-bit build, signed and tried (scripts/windows-package-test.sh).
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

# Wine's own prefix for each build's tests, and its server kept running: without one, ctest would wait
# on the server that the first program starts. (The tests that open windows have a prefix of their own.)
# The 32-bit build's prefix is a 32-bit one, as on a 32-bit Windows.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
start_wine() {  # start_wine BUILD_DIR win64|win32
  export WINEPREFIX=$root/$1/wineprefix WINEARCH=$2
  mkdir -p "$root/$1"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== windows: a $2 wine prefix"
    bash scripts/wine-run.sh wineboot -i >"$root/$1/wineboot.log" 2>&1 || true
    wineserver -w  # the registry files are written when the server ends
    [ -f "$WINEPREFIX/system.reg" ] || { cat "$root/$1/wineboot.log" >&2; exit 1; }
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  # Wine's own services start with the first program of a prefix and live as long as its server;
  # started here, they do not hold a test's output open (ctest would wait for them until its time-out).
  bash scripts/wine-run.sh wineboot </dev/null >/dev/null 2>&1 || true
}
stop_wine() {
  for prefix in "$root/build-win64/wineprefix" "$root/build-win32/wineprefix"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
}
trap stop_wine EXIT
start_wine build-win64 win64

echo "=== windows-x64: configure and build"
cmake --preset windows-x64 -DQOR_DEVICE_SIM="$sim" >/dev/null
cmake --build --preset windows-x64 -j "$jobs"
echo "=== windows-x64: tests under wine64"
ctest --preset windows-x64 -j "$jobs"

echo "=== windows-x86: configure and build"
cmake --preset windows-x86 -DQOR_DEVICE_SIM="$sim" >/dev/null
cmake --build --preset windows-x86 -j "$jobs"
# 32-bit wine needs a kernel that runs 32-bit Linux programs; some machines' kernels have that left out.
if WINEARCH=win32 bash scripts/wine-run.sh --can-run; then
  echo "=== windows-x86: tests under 32-bit wine"
  start_wine build-win32 win32
  ctest --preset windows-x86 -j "$jobs"
else
  echo "=== windows-x86: SKIPPED the tests under 32-bit wine: this machine's kernel runs no 32-bit programs"
fi

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
[ $status -eq 0 ] || exit $status

echo "=== windows: the installer"
stop_wine
bash scripts/windows-package-test.sh
