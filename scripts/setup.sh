#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Safe to run again: it does nothing once everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build help2man file
  qt6-base-dev pkgconf
  libgtest-dev libgmock-dev
  nlohmann-json3-dev  # JSON of the reports, header-only (the Windows builds take it from /usr/include)
  clang clang-format libclang-rt-dev
  curl
  python3 iproute2
  ansible-core  # the Ansible collection's test
  apache2 apache2-utils lighttpd
  xvfb openbox xdotool
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64
  wine32:i386  # the 32-bit programs' tests; the i386 architecture is added for it
  nsis osslsigncode openssl  # the Windows installer, signed with a throwaway certificate
  fonts-wine  # MS Sans Serif, the dialogs' font, for the Win32 review pictures
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  # Apache and lighttpd only serve the interoperability test, from its own configurations: keep their
  # system services from starting on install. A policy-rc.d that was already there is left as it is.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy"
    own_policy=1
  fi
  status=0
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}" || status=$?
  [ $own_policy -eq 0 ] || rm -f "$policy"
  exit $status
fi
