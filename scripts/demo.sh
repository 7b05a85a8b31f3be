#!/bin/sh
# Demonstration: builds everything, then for two simulated machines (a 64-bit Outlook 2013
# and a 32-bit Outlook 2010 on 64-bit Windows) creates a fresh Wine prefix with an agent
# folder, registers the registration broker and runs the reference host: install, repair,
# repair after the deployed DLL was deleted, uninstall. The machine's state is shown after
# each request.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null

bin=$PWD/build/bin
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
agent='C:\Agent\Outlook'

say() { printf '%s\n' "$*"; }
step() { printf '\n=== %s\n' "$*"; }

request() {
  step "installer-host $1 $agent"
  status=0
  wine "$bin/installer-host.exe" "$1" "$agent" >"$WINEPREFIX/host.log" || status=$?
  tr -d '\r' <"$WINEPREFIX/host.log"
  say "exit code: $status"
  wine "$bin/machine-state.exe" "$agent" | tr -d '\r'
}

# scenario <name> <Office version key> <reg view: 32|64> <Office folder>
scenario() {
  export WINEPREFIX="$PWD/build/demo/$1"
  step "Scenario: $1 (fresh Wine prefix $WINEPREFIX)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w

  say "Outlook install root: HKLM\\SOFTWARE\\Microsoft\\Office\\$2\\Outlook\\InstallRoot (${3}-bit view)"
  wine reg add "HKLM\\SOFTWARE\\Microsoft\\Office\\$2\\Outlook\\InstallRoot" /v Path /t REG_SZ \
    /d "C:\\Program Files\\Microsoft Office\\$4\\" "/reg:$3" /f >/dev/null

  folder="$WINEPREFIX/drive_c/Agent/Outlook"
  mkdir -p "$folder/Install" "$folder/temp"
  cp "$bin/fixtures/v1/tolvane.dll" "$bin/fixtures/v1/tolvane64.dll" "$folder/Install/"
  say "Agent folder $agent holds Install\\tolvane.dll and Install\\tolvane64.dll (FileVersion 1.0.0.1)"
  wine "$bin/fixtures/broker/ComRegistrationBroker.exe" /RegServer
  say "Registration broker registered"

  request install
  request repair
  step "Deleting the deployed add-in DLL by hand"
  rm -f "$folder/tolvane.dll" "$folder/tolvane64.dll"
  request repair
  request uninstall
  wineserver -k >/dev/null 2>&1 || true
}

scenario outlook2013-x64 15.0 64 Office15
scenario outlook2010-x86 14.0 32 Office14
