#!/usr/bin/env bash
# The Debian package, tried as a user would: made by CPack from the default build, checked by lintian
# and appstreamcli, installed with dpkg, used by an ordinary user to upgrade the simulated QOR (started as
# root on 127.0.0.2) through the installed qor-upgrade-cli, then removed; nothing it installed may stay.
# Needs root and the default build (scripts/test.sh runs it after that build's tests):
#   cmake --preset default && cmake --build --preset default && scripts/package-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

package=qor-upgrade
user=qortest
device=127.0.0.2
build=build

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: skipped: installing a package and serving port 80 need root"
  exit 0
fi
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  echo "package-test: $package is installed on this machine already; remove it first" >&2
  exit 1
fi

# The tools of this test only (strings comes with build-essential, useradd and runuser are in Debian's base).
tools=(lintian appstream libcap2-bin man-db)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
chmod 755 "$work"
sim_pid=
installed=0
made_user=0
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  if [ $installed -eq 1 ]; then
    echo "package-test: purging $package after a failure"
    dpkg --purge "$package" >/dev/null 2>&1 || true
  fi
  [ $made_user -eq 1 ] && userdel -r "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL (package): $*" >&2
  exit 1
}

if ! id "$user" >/dev/null 2>&1; then
  useradd -m "$user"
  made_user=1
fi

echo "--- building the package"
rm -f "$build"/${package}_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/${package}_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one ${package}_<version>_amd64.deb in $build"
deb=$work/$(basename "${debs[0]}")
cp "${debs[0]}" "$deb"
chmod 644 "$deb"
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "${package}_${version}_amd64.deb" ] || fail "package file name $(basename "$deb")"
echo "$(basename "$deb")"

echo "--- lintian (as $user)"
runuser -u "$user" -- lintian --fail-on error,warning "$deb" || fail "lintian found errors or warnings"

echo "--- AppStream data and desktop entry"
dpkg-deb -x "$deb" "$work/tree"
appstreamcli validate-tree --no-net "$work/tree" || fail "appstreamcli validate-tree"

echo "--- installing with dpkg -i"
# What exists before, so that the removal can be checked against it.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./#/#; s#/$##' | grep -v '^$' >"$work/paths"
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$work/paths" >"$work/existed"
find /usr /etc /opt /var/lib -xdev -name '*qor*' 2>/dev/null | sort >"$work/qor-before"
installed=1
dpkg -i "$deb" | tee "$work/dpkg.out"
for program in qor-upgrade qor-upgrade-cli; do
  grep -qF "granted CAP_NET_BIND_SERVICE to /usr/bin/$program" "$work/dpkg.out" || fail "postinst did not say it granted $program the capability"
  getcap "/usr/bin/$program" | grep -q "cap_net_bind_service=ep" || fail "/usr/bin/$program lacks CAP_NET_BIND_SERVICE: $(getcap "/usr/bin/$program")"
done
if getcap /usr/bin/qor-device-sim | grep -q .; then fail "the simulator was given a capability"; fi

echo "--- the installed programs"
[ "$(command -v qor-upgrade-cli)" = /usr/bin/qor-upgrade-cli ] || fail "qor-upgrade-cli is not /usr/bin/qor-upgrade-cli"
qor-upgrade-cli --version | tee "$work/version"
grep -q "^qor-upgrade-cli $version," "$work/version" || fail "qor-upgrade-cli --version does not say $version"
gui_version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM qor-upgrade --version) || fail "qor-upgrade --version without a display"
[ "$gui_version" = "qor-upgrade $version" ] || fail "qor-upgrade --version says: $gui_version"
[ "$(man -w qor-upgrade-cli)" = /usr/share/man/man1/qor-upgrade-cli.1.gz ] || fail "man -w qor-upgrade-cli: $(man -w qor-upgrade-cli)"

# Every failure message the installed programs can show, and the caption of its window, is explained in
# the README's Troubleshooting section and in the manual pages of both upgrade programs.
readme=/usr/share/doc/$package/README.md
strings /usr/bin/qor-upgrade /usr/bin/qor-upgrade-cli | grep -x 'Upgrade Failed: [^%]*[^ ]' | sort -u >"$work/messages"
[ "$(wc -l <"$work/messages")" -ge 8 ] || fail "found only $(wc -l <"$work/messages") failure messages in the programs"
printf '%s\n' "Invalid IP Address" "QOR Firwmare Upgrade Error" >>"$work/messages"
for page in qor-upgrade qor-upgrade-cli; do
  LC_ALL=C MANWIDTH=1000 man --nh --nj "$page" >"$work/$page.txt" 2>/dev/null
  grep -q "^TROUBLESHOOTING" "$work/$page.txt" || fail "man $page has no TROUBLESHOOTING section"
done
awk '/^## Troubleshooting$/ { on = 1; next } /^## / { on = 0 } on' "$readme" >"$work/troubleshooting.md"
while read -r message; do
  grep -qxF "### $message" "$work/troubleshooting.md" || grep -qF "\"$message\"" "$work/troubleshooting.md" ||
    fail "README Troubleshooting does not explain: $message"
  for page in qor-upgrade qor-upgrade-cli; do
    grep -qF "$message" "$work/$page.txt" || fail "man $page does not explain: $message"
  done
done <"$work/messages"

echo "--- upgrading the simulated QOR as $user through the installed qor-upgrade-cli"
qor-device-sim --address "$device" --version-before 3.0.0 --once --linger 60 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -qs listening "$work/sim.log" && break
  kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$work/sim.log")"
  sleep 0.1
done
status=0
runuser -u "$user" -- qor-upgrade-cli --device "$device" --yes </dev/null >"$work/cli.out" 2>"$work/cli.err" || status=$?
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=
if [ $status -ne 0 ] || [ $sim_status -ne 0 ] || ! grep -qF "QOR@$device Upgrade Successful!" "$work/cli.out"; then
  echo "--- upgrade output" >&2
  cat "$work/cli.out" "$work/cli.err" >&2
  echo "--- device log" >&2
  cat "$work/sim.log" >&2
  fail "the upgrade as $user (status $status, device status $sim_status)"
fi
grep -m1 "image .* accepted" "$work/sim.log" || true

echo "--- removing with dpkg -r"
dpkg -r "$package"
installed=0
# The package has no configuration files: removing it leaves nothing for a purge.
state=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || echo not-installed)
[ "$state" = not-installed ] || fail "after dpkg -r the package is in state $state"
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    grep -qxF "$path" "$work/existed" || fail "left behind: $path"
  fi
done <"$work/paths"
find /usr /etc /opt /var/lib -xdev -name '*qor*' 2>/dev/null | sort >"$work/qor-after"
diff "$work/qor-before" "$work/qor-after" >&2 || fail "files named *qor* differ from before the installation"
if command -v qor-upgrade-cli >/dev/null; then fail "qor-upgrade-cli is still on PATH: $(command -v qor-upgrade-cli)"; fi
echo "package test: ok ($(basename "$deb"))"
