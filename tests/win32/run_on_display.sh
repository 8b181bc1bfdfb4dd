#!/bin/bash
# Runs a Windows test program under Wine on a display of its own.
#   run_on_display.sh WINEPREFIX WINE PROGRAM [ARGS...]
# The prefix is private to the GUI tests: the desktop process that Wine starts for a prefix keeps the
# display it was started with. A persistent wine server is started first (with its output elsewhere,
# or ctest waits on it) and stopped at the end. Without xvfb-run and without a display: exit 77 (skip).
set -u
prefix=$1 wine=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}  # no offer to install .NET or a browser
mkdir -p "$prefix"

if [ "${QOR_IN_DISPLAY:-}" != 1 ]; then
  export QOR_IN_DISPLAY=1
  if command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$prefix" "$wine" "$@"
  fi
  [ -n "${DISPLAY:-}" ] || { echo "no display and no xvfb-run: skipped"; exit 77; }
fi

wineserver -p </dev/null >/dev/null 2>&1
ready=$prefix/.qor-gui-ready
if [ ! -e "$ready" ]; then
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  # No window manager here: Wine draws the frames and captions itself, as Windows does, and does not
  # wait for a manager to take a hidden window away (2 s each time).
  for value in Decorated Managed; do
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v $value /d N /f </dev/null >/dev/null 2>&1
  done
  touch "$ready"
fi
# The screen's resolution: QOR_WINE_DPI, or Windows' usual 96.
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${QOR_WINE_DPI:-96}" /f \
  </dev/null >/dev/null 2>&1
# Wine's own fonts (Debian: fonts-wine), among them the dialogs' MS Sans Serif, found in the prefix.
fonts=$prefix/drive_c/windows/Fonts
if [ -e /usr/share/wine/fonts/sserife.fon ] && [ ! -e "$fonts/sserife.fon" ]; then
  mkdir -p "$fonts" && cp /usr/share/wine/fonts/* "$fonts/"
fi
"$wine" "$@" </dev/null
status=$?
wineserver -k </dev/null >/dev/null 2>&1
exit $status
