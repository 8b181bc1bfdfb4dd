#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine, in the build's own wine prefix.
# The prefix is build-win64/wineprefix unless WINEPREFIX says otherwise; scripts/windows.sh makes it and
# starts its wine server before the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build-win64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
