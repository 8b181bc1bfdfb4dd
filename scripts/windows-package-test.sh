#!/usr/bin/env bash
# The Windows release, checked as a user would meet it: every 32-bit program with its manifest, version
# information and icon, for Vista and later, stripped; the programs and the installer signed with a
# throwaway certificate and verified; the installer installed silently under 32-bit wine, the programs,
# the Start-menu entry and the firewall rules looked for, the installed command line run, and then
# uninstalled, with nothing left behind. Where 32-bit wine cannot run, the installer's own script is
# made into a 64-bit installer and tried so under wine64.
# Run by scripts/windows.sh after the windows-x86 build (build-win32).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-win32
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${QOR_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Manifest, version information, subsystem version, no symbols; for the command line an icon.
check_program() {  # check_program EXE gui|console
  local exe=$1 kind=$2 name rc manifest
  name=$(basename "$exe")
  rc=$(i686-w64-mingw32-windres -J coff -O rc -i "$exe")
  manifest=$(sed -n '/^1 24 /,/^END/s/^  "\(.*\)"$/\1/p' <<<"$rc" | sed 's/""/"/g; s/\\n$//')
  local want=('level="asInvoker"' '<activeCodePage' '>UTF-8</activeCodePage>' '>true</longPathAware>'
              '{e2011457-1546-43c5-a5fe-008deee3d3f0}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}')
  [ "$kind" = gui ] && want+=('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' '>true</dpiAware>')
  for text in "${want[@]}"; do
    grep -qF -- "$text" <<<"$manifest" || fail "$name: the manifest lacks $text"
  done
  for value in '"ProductName", "QOR Firmware Upgrade"' "\"FileVersion\", \"$version\"" \
               "\"ProductVersion\", \"$version\"" "\"OriginalFilename\", \"$name\"" '"FileDescription", "QOR'; do
    grep -qF -- "VALUE $value" <<<"$rc" || fail "$name: the version information lacks $value"
  done
  grep -q "RT_GROUP_ICON" <<<"$rc" || fail "$name: no icon"
  local header
  header=$(i686-w64-mingw32-objdump -p "$exe")
  grep -qP '^MajorSubsystemVersion\t6$' <<<"$header" || fail "$name: not marked for Windows 6.0 (Vista)"
  i686-w64-mingw32-objdump -t "$exe" | grep -q "no symbols" || fail "$name: not stripped"
}

version=$(sed -n 's/^project(qor-upgrade VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
programs=(qor-upgrade qor-upgrade-two-stage qor-upgrade-cli qor-upgrade-cli-two-stage)
echo "=== windows installer: the programs' resources"
for program in "${programs[@]}"; do
  case $program in *cli*) kind=console dir=console ;; *) kind=gui dir=win32 ;; esac
  check_program "$build/front/$dir/$program.exe" $kind
  echo "$program.exe: $(stat -c %s "$build/front/$dir/$program.exe") bytes, manifest and version information"
done

echo "=== windows installer: signed with a throwaway certificate, made with cpack"
# Made here and thrown away with the work folder: never kept, never trusted beyond this check.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=qor-upgrade test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
export QOR_SIGN_KEY=$work/key.pem QOR_SIGN_CERT=$work/cert.pem
(cd "$build" && cpack >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
installer=$build/qor-upgrade-$version-setup-i686.exe
osslsigncode sign -key "$QOR_SIGN_KEY" -certs "$QOR_SIGN_CERT" -h sha256 -n "QOR Firmware Upgrade" \
  -in "$installer" -out "$work/setup.exe" >/dev/null
mv "$work/setup.exe" "$installer"
verify() { osslsigncode verify -CAfile "$QOR_SIGN_CERT" -in "$1" >"$work/verify.log" 2>&1 || {
  cat "$work/verify.log" >&2; fail "$1: the signature does not verify"; }; }
verify "$installer"
echo "$(basename "$installer"): $(stat -c %s "$installer") bytes, signature verified"

# The firewall rules are in the installer's script: netsh adds them on install and removes them on
# uninstall, one per program.
nsi=$build/_CPack_Packages/win32/NSIS/project.nsi
for program in "${programs[@]}"; do
  [ "$(grep -cF "advfirewall firewall delete rule name=\"QOR Firmware Upgrade ($program)\"" "$nsi")" -eq 2 ] &&
    grep -qF "advfirewall firewall add rule name=\"QOR Firmware Upgrade ($program)\" dir=in action=allow protocol=UDP localport=69-168 program=\"\$INSTDIR\\$program.exe\" enable=yes" "$nsi" ||
    fail "the installer's script lacks the firewall rules for $program"
done
echo "installer script: a firewall rule per program, added on install, removed on uninstall"

# The shipped installer is a 32-bit program, tried under 32-bit wine. A machine whose kernel runs no
# 32-bit programs tries the same script made into a 64-bit installer under wine64 instead: everything
# but the installed command line, which is 32-bit, is then tried.
program_files="Program Files"
if WINEARCH=win32 bash scripts/wine-run.sh --can-run; then
  arch=win32 cc=i686-w64-mingw32-gcc
  echo "=== windows installer: installed and uninstalled under 32-bit wine"
else
  arch=win64 cc=x86_64-w64-mingw32-gcc
  echo "=== windows installer: this machine runs no 32-bit programs: the installer's script made 64-bit, under wine64"
  sed 's/^\( *OutFile \).*/\1"setup-amd64.exe"/' "$nsi" >"${nsi%.nsi}-amd64.nsi"
  trap 'rm -f "${nsi%.nsi}-amd64.nsi"; cleanup' EXIT
  makensis -V2 -X"Target amd64-unicode" "${nsi%.nsi}-amd64.nsi" >"$work/makensis.log" 2>&1 ||
    { cat "$work/makensis.log" >&2; fail "makensis for amd64"; }
  mv "$(dirname "$nsi")/setup-amd64.exe" "$work/setup-amd64.exe"
  installer=$work/setup-amd64.exe
fi
export WINEARCH=$arch
wine() { bash "$root/scripts/wine-run.sh" "$@"; }
wine wineboot -i >"$work/wineboot.log" 2>&1 || true
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || { cat "$work/wineboot.log" >&2; fail "no $arch wine prefix"; }
# Wine's netsh has no firewall: one that writes down what it is asked stands in for it.
cat >"$work/netsh.c" <<'C'
#include <stdio.h>
#include <windows.h>
int main(void) {
  FILE* log = fopen("C:\\netsh.log", "a");
  if (!log) return 1;
  fprintf(log, "%s\n", GetCommandLineA());
  return fclose(log) != 0;
}
C
$cc -O2 -o "$WINEPREFIX/drive_c/windows/system32/netsh.exe" "$work/netsh.c"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;netsh.exe=n"
netsh_log=$WINEPREFIX/drive_c/netsh.log

wine "$installer" /S
wineserver -w
dir="$WINEPREFIX/drive_c/$program_files/QOR Firmware Upgrade"
for file in "${programs[@]/%/.exe}" README.txt LICENSE.txt Uninstall.exe; do
  [ -f "$dir/$file" ] || fail "not installed: $file"
done
for program in "${programs[@]}"; do
  verify "$dir/$program.exe"
  grep -qF "firewall add rule name=\"QOR Firmware Upgrade ($program)\" dir=in action=allow protocol=UDP localport=69-168 program=\"C:\\$program_files\\QOR Firmware Upgrade\\$program.exe\" enable=yes" "$netsh_log" ||
    fail "no firewall rule for $program"
done
shortcut=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/QOR Firmware Upgrade/QOR Firmware Upgrade.lnk')
[ -n "$shortcut" ] || fail "no Start-menu entry"
grep -qa "qor-upgrade.exe" "$shortcut" || fail "the Start-menu entry does not start qor-upgrade.exe"
got="(32-bit: not run here)"
if [ $arch = win32 ]; then
  got=$(wine "C:\\$program_files\\QOR Firmware Upgrade\\qor-upgrade-cli.exe" --version </dev/null | tr -d '\r')
  [[ $got == "qor-upgrade-cli $version, carrying "* ]] || fail "the installed command line says: $got"
fi
rules_added=$(wc -l <"$netsh_log")
echo "installed: ${programs[*]}, README, licence, Start-menu entry, $rules_added firewall commands; --version: $got"

wine "C:\\$program_files\\QOR Firmware Upgrade\\Uninstall.exe" /S
wineserver -w  # the uninstaller runs on from a copy of itself
[ ! -e "$dir" ] || fail "left after uninstalling: $(cd "$dir" && ls)"
[ -z "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'QOR Firmware Upgrade*')" ] || fail "Start-menu entry left"
! wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qor-upgrade' >/dev/null 2>&1 ||
  fail "the uninstall entry is left in the registry"
for program in "${programs[@]}"; do
  grep -qF "firewall delete rule name=\"QOR Firmware Upgrade ($program)\"" <(tail -n +$((rules_added + 1)) "$netsh_log") ||
    fail "the firewall rule for $program is not removed"
done
echo "uninstalled: nothing left"
