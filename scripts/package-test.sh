#!/usr/bin/env bash
# The Debian package, tried as a user would: made by CPack from the default build, checked by lintian
# and appstreamcli, installed with dpkg, used by an ordinary user to upgrade the simulated QOR (started as
# root on 127.0.0.2) through the installed qor-upgrade-cli and the installed qor-upgrade, both by way of
# the bind helper, the one file with a capability; then removed; nothing it installed may stay.
# Needs root and the default build (scripts/test.sh runs it after that build's tests):
#   cmake --preset default && cmake --build --preset default && scripts/package-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

package=qor-upgrade
user=qortest
device=127.0.0.2
build=build
helper=/usr/libexec/qor-upgrade/qor-bind-helper

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: skipped: installing a package and serving port 80 need root"
  exit 0
fi
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  echo "package-test: $package is installed on this machine already; remove it first" >&2
  exit 1
fi

# The tools of this test only (strings comes with build-essential, useradd and runuser are in Debian's base).
tools=(lintian appstream libcap2-bin man-db pkgconf)
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
grep -qF "granted CAP_NET_BIND_SERVICE to $helper alone" "$work/dpkg.out" || fail "postinst did not say it granted the bind helper the capability"
# Of every file the package installed, the bind helper alone has a capability.
dpkg -L "$package" | while read -r path; do
  if [ -f "$path" ] && [ ! -L "$path" ]; then getcap "$path"; fi
done >"$work/capabilities"
cat "$work/capabilities"
[ "$(cat "$work/capabilities")" = "$helper cap_net_bind_service=ep" ] || fail "getcap: the bind helper and only it must have cap_net_bind_service=ep"

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

# Starts the simulated QOR, runs "$@" as $user (output in $work/<name>.out and .err) and checks that the
# device took the image whole.
upgrade_as_user() {
  local name=$1
  shift
  qor-device-sim --address "$device" --version-before 3.0.0 --once --linger 60 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qs listening "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$work/sim.log")"
    sleep 0.1
  done
  local status=0 sim_status=0
  runuser -u "$user" -- timeout 180 "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err" || status=$?
  # A program that gave up leaves the device waiting for its image.
  [ $status -eq 0 ] || kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" || sim_status=$?
  sim_pid=
  if [ $status -ne 0 ] || [ $sim_status -ne 0 ]; then
    echo "--- upgrade output" >&2
    cat "$work/$name.out" "$work/$name.err" >&2
    echo "--- device log" >&2
    cat "$work/sim.log" >&2
    fail "the upgrade as $user through $name (status $status, device status $sim_status)"
  fi
  grep -m1 "image .* accepted" "$work/sim.log" || true
}

# Only where ordinary users may not bind these ports do the upgrades below need the bind helper.
[ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start)" -gt 168 ] ||
  fail "ordinary users may bind ports from $(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) here: the bind helper would not be needed"

echo "--- upgrading the simulated QOR as $user through the installed qor-upgrade-cli"
upgrade_as_user cli qor-upgrade-cli --device "$device" --yes
grep -qF "QOR@$device Upgrade Successful!" "$work/cli.out" || fail "qor-upgrade-cli did not report success: $(cat "$work/cli.out")"

# A Qt style plugin of the user's own, built here with moc, runs inside the installed desktop program:
# it must not bind a privileged port there, while the program itself gets its port from the bind helper.
echo "--- a style plugin of $user's own in the installed qor-upgrade (offscreen)"
plugin=$work/plugin
mkdir -p "$plugin/styles" "$plugin/runtime"
cp tests/package/user_style_plugin.cpp "$plugin/"
echo '{ "Keys": [ "qortest" ] }' >"$plugin/user_style_plugin.json"
chown -R "$user" "$plugin"
chmod 700 "$plugin/runtime"
runuser -u "$user" -- sh -c "cd '$plugin' && /usr/lib/qt6/libexec/moc user_style_plugin.cpp -o user_style_plugin.moc &&
  g++ -std=c++17 -shared -fPIC \$(pkg-config --cflags Qt6Widgets) user_style_plugin.cpp \
      -o styles/libuser_style_plugin.so \$(pkg-config --libs Qt6Widgets)" || fail "building the style plugin"
upgrade_as_user gui env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$plugin/runtime" QT_PLUGIN_PATH="$plugin" \
  QT_STYLE_OVERRIDE=qortest QORTEST_DEVICE="$device" QORTEST_LOG="$plugin/log" qor-upgrade --loopback-addresses
cat "$plugin/log"
grep -qxF "bind 127.0.0.1:7: Permission denied" "$plugin/log" || fail "the plugin did not run, or took port 7"
grep -qxF "window dialog_111: QOR@$device Upgrade Successful!" "$plugin/log" || fail "qor-upgrade did not report success"

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
