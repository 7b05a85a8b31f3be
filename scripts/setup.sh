#!/bin/sh
# Installs what building, testing and checking the package need on a Debian machine, if it
# is missing.
set -eu
packages="cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix mingw-w64-tools
          binutils-mingw-w64-x86-64 wine wine64 libwine-dev googletest
          nlohmann-json3-dev unzip"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq $missing >/dev/null
fi
