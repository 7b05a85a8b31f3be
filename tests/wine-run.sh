#!/bin/sh
# Runs a Windows test program under Wine, in a fresh prefix of its own inside the build
# tree, and stops that prefix's processes afterwards (a COM server left running included).
#   wine-run.sh <prefix root> <program.exe> [arguments...]
# A prefix is a copy of one made once per root: a copy takes a second or two, wineboot ten.
set -u
root=$1; shift
name=$(basename "$1" .exe)
export WINEPREFIX="$root/$name"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root"
template="$root/.template"
(
  flock 9
  if [ ! -f "$template/.made" ]; then
    rm -rf "$template"
    mkdir -p "$template"
    WINEPREFIX="$template" wineboot -i >/dev/null 2>&1
    # A server started before wineboot has settled can hang for minutes.
    WINEPREFIX="$template" wineserver -w
    touch "$template/.made"
  fi
) 9>"$root/.template.lock"
rm -rf "$WINEPREFIX"
cp -a "$template" "$WINEPREFIX"
rm -f "$WINEPREFIX/.made"
status=0
wine "$@" || status=$?
wineserver -k >/dev/null 2>&1
exit $status
