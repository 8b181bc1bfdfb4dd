#!/usr/bin/env bash
# The upgrade's Digest client against standard Digest servers: each server below is started from a
# configuration written here, on its own loopback address, port 80, in the foreground as a child of this
# script, and ended with it. It serves a status page at /admin/advanced behind Digest authentication
# (realm "QOR Administrator", user admin). The right password must read the five fields, twice under one
# nonce; a wrong one must be refused.
#
#   digest_servers.sh STATUS_READER
#
# A server that is not installed is skipped; without any, or without the privilege to bind port 80, the
# whole test is skipped (77).
set -uo pipefail
reader=$1

# server   address    program
servers=(
  "apache   127.0.0.5  apache2"
  "lighttpd 127.0.0.6  lighttpd"
)

realm="QOR Administrator"
user="admin"
password=qor-interop
expected="Product Name: QOR-2102
MAC Address: 00:0E:08:12:34:56
Software Version: 3.2.1
Hardware Version: 2.0
Serial Number: FM500123"

work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

unprivileged_start=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
if [ "$(id -u)" -ne 0 ] && [ "$unprivileged_start" -gt 80 ]; then
  echo "skipped: binding port 80 needs root"
  exit 77
fi

if ! command -v htdigest >/dev/null 2>&1; then
  echo "skipped: htdigest (apache2-utils) is not installed"
  exit 77
fi

# The servers drop to this account when started as root: what they serve must be readable by it.
run_user=www-data run_group=www-data
id "$run_user" >/dev/null 2>&1 || { run_user=nobody run_group=nogroup; }
chmod 755 "$work"
mkdir -p "$work/docroot/admin"
chmod -R 755 "$work/docroot"
{
  echo "<html><table>"
  while IFS= read -r line; do
    echo "<tr><td>${line%%: *}:</td><td>${line#*: }</td></tr>"
  done <<<"$expected"
  echo "</table></html>"
} >"$work/docroot/admin/advanced"
# htdigest asks for the password on the terminal when there is one: without one it reads stdin.
printf '%s\n%s\n' "$password" "$password" |
  setsid -w htdigest -c "$work/passwords" "$realm" "$user" >"$work/htdigest.log" 2>&1
grep -q "^$user:$realm:" "$work/passwords" || { echo "FAIL: htdigest wrote no password file" >&2; exit 1; }
chmod 644 "$work/docroot/admin/advanced" "$work/passwords"

write_apache_config() {  # DIR ADDRESS
  local modules=/usr/lib/apache2/modules
  cat >"$1/httpd.conf" <<EOF
ServerRoot "$1"
DefaultRuntimeDir "$1"
PidFile "$1/httpd.pid"
ErrorLog "$1/error.log"
LogLevel notice
Listen $2:80
ServerName $2
User $run_user
Group $run_group
# The upgrade reads a reply until the server closes, as the device does after every reply.
KeepAlive Off
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authn_core_module $modules/mod_authn_core.so
LoadModule authn_file_module $modules/mod_authn_file.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule authz_user_module $modules/mod_authz_user.so
LoadModule auth_digest_module $modules/mod_auth_digest.so
DocumentRoot "$work/docroot"
<Location "/admin/">
  AuthType Digest
  AuthName "$realm"
  AuthDigestDomain /admin/
  AuthDigestProvider file
  AuthUserFile "$work/passwords"
  Require valid-user
</Location>
EOF
}

write_lighttpd_config() {  # DIR ADDRESS
  cat >"$1/lighttpd.conf" <<EOF
server.bind = "$2"
server.port = 80
server.document-root = "$work/docroot"
server.errorlog = "$1/error.log"
server.modules = ("mod_auth", "mod_authn_file")
# The upgrade reads a reply until the server closes, as the device does after every reply.
server.max-keep-alive-requests = 0
auth.backend = "htdigest"
auth.backend.htdigest.userfile = "$work/passwords"
auth.require = ("/admin/" => ("method" => "digest", "realm" => "$realm", "require" => "valid-user"))
EOF
  [ "$(id -u)" -ne 0 ] || printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$run_user" "$run_group" \
    >>"$1/lighttpd.conf"
}

# Starts the server in the foreground as this script's child; 0 once it listens, 77 when its port
# cannot be bound, 1 on any other failure.
start_server() {  # NAME DIR ADDRESS
  local name=$1 dir=$2 ready
  case $name in
    apache)
      write_apache_config "$dir" "$3"
      apache2 -f "$dir/httpd.conf" -k start -D FOREGROUND >"$dir/stdout.log" 2>&1 &
      ready="resuming normal operations"
      ;;
    lighttpd)
      write_lighttpd_config "$dir" "$3"
      lighttpd -D -f "$dir/lighttpd.conf" >"$dir/stdout.log" 2>&1 &
      ready="server started"
      ;;
  esac
  server_pid=$!
  for _ in $(seq 200); do
    grep -qs "$ready" "$dir/error.log" && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$dir/stdout.log" "$dir/error.log" >&2 2>/dev/null
  stop_server
  grep -qsE "make_sock: could not bind|bind\(\).*(Address already in use|Permission denied)" \
    "$dir/stdout.log" "$dir/error.log" && return 77
  return 1
}

stop_server() {
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=
}

failures=0 ran=0
for row in "${servers[@]}"; do
  read -r name address program <<<"$row"
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$name: skipped, $program is not installed"
    continue
  fi
  dir="$work/$name"
  mkdir "$dir"
  # lighttpd opens its log after it has dropped to the account.
  [ "$(id -u)" -ne 0 ] || chown "$run_user:$run_group" "$dir"
  start_server "$name" "$dir" "$address"
  case $? in
    0) ;;
    77)
      echo "$name: skipped, $address:80 cannot be bound"
      continue
      ;;
    *)
      echo "FAIL $name: the server did not start" >&2
      failures=$((failures + 1))
      continue
      ;;
  esac
  ran=$((ran + 1))
  failed_before=$failures

  right=$(timeout 30 "$reader" "$address" "$user" "$password")
  status=$?
  if [ $status -ne 0 ] || [ "$right" != "$expected" ]; then
    echo "FAIL $name: the right password gave status $status and:" >&2
    echo "$right" >&2
    failures=$((failures + 1))
  fi
  wrong=$(timeout 30 "$reader" "$address" "$user" "not-$password")
  status=$?
  if [ $status -ne 1 ]; then
    echo "FAIL $name: a wrong password gave status $status, not the refusal:" >&2
    echo "$wrong" >&2
    failures=$((failures + 1))
  fi
  stop_server
  [ $failures -eq "$failed_before" ] || cat "$dir/error.log" >&2
  echo "$name: done"
done

if [ $ran -eq 0 ] && [ $failures -eq 0 ]; then
  echo "skipped: no Digest server could be started"
  exit 77
fi
[ $failures -eq 0 ]
