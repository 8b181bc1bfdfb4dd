#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine, in the build's own wine prefix.
# The prefix is build-win64/wineprefix unless WINEPREFIX says otherwise; scripts/windows.sh makes it and
# starts its wine server before the tests. A 64-bit prefix is run by wine64 itself: Debian's `wine`
# starts the 32-bit loader first whenever wine32 is installed, and that fails on a machine whose kernel
# runs no 32-bit programs. With WINEARCH=win32 it is the 32-bit loader.
#   wine-run.sh --can-run   exit 0 when this machine can run the loader that WINEARCH calls for
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build-win64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
loader=/usr/lib/wine/wine64
if [ "${WINEARCH:-}" = win32 ]; then
  loader=/usr/lib/wine/wine
else
  export WINELOADER=${WINELOADER:-$loader}
fi
if [ "${1:-}" = --can-run ]; then
  "$loader" --version >/dev/null 2>&1
  exit
fi
exec "$loader" "$@"
