#!/bin/sh
# Runs a Windows test program under Wine, in a fresh prefix of its own inside the build
# tree, and stops that prefix's processes afterwards (a COM server left running included).
#   wine-run.sh <prefix root> <program.exe> [arguments...]
set -u
root=$1; shift
name=$(basename "$1" .exe)
export WINEPREFIX="$root/$name"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
# A server started before wineboot has settled can hang for minutes.
wineserver -w
status=0
wine "$@" || status=$?
wineserver -k >/dev/null 2>&1
exit $status
