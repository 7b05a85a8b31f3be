#!/bin/sh
# Demonstration: builds everything, then for two simulated machines (a 64-bit Outlook 2013
# and a 32-bit Outlook 2010 on 64-bit Windows) creates a fresh Wine prefix with an agent
# folder, registers the registration broker and runs the reference host: install, repair,
# repair after the deployed DLL was deleted, uninstall. `installer-host status` shows the
# machine after each. Before the uninstall, each machine is broken in turn in every way
# that keeps the add-in from loading; status shows what it finds, then the request it names
# (or a hand where none does) mends the machine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null

bin=$PWD/build/bin
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
agent='C:\Agent\Outlook'
user_key='HKCU\SOFTWARE\Microsoft\Office'
addin_key='HKLM\SOFTWARE\Microsoft\Office\Outlook\Addins\Tolvane.OutlookAddin.1'
class_key='HKLM\SOFTWARE\Classes\CLSID\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}'
session_manager='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'

say() { printf '%s\n' "$*"; }
step() { printf '\n=== %s\n' "$*"; }

# host <arguments...>: runs the reference host; its output is in $WINEPREFIX/host.log and
# its exit code in $code.
host() {
  code=0
  wine "$bin/installer-host.exe" "$@" >"$WINEPREFIX/host.log" || code=$?
}

status() {
  step "installer-host status $agent"
  host status "$agent"
  tr -d '\r' <"$WINEPREFIX/host.log"
  say "exit code: $code"
}

request() {
  step "installer-host $1 $agent"
  host "$1" "$agent"
  tr -d '\r' <"$WINEPREFIX/host.log"
  say "exit code: $code"
  status
}

# broken <what was done to the machine>: status's problems and verdict for it.
broken() {
  step "Broken: $1"
  host status "$agent"
  tr -d '\r' <"$WINEPREFIX/host.log" | sed -n '/^Problems$/,$p'
  say "exit code: $code"
}

# mend <request...>: runs the requests status named, then shows its verdict.
mend() {
  for name in "$@"; do
    host "$name" "$agent"
    say "installer-host $name: exit code $code"
  done
  verdict
}

verdict() {
  host status "$agent"
  tr -d '\r' <"$WINEPREFIX/host.log" | grep '^Verdict'
}

# The text as UTF-16LE, in hex: Outlook's disabled-item records hold the DLL's path so.
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -d ' \n'; }

# Outlook's record that it disabled <file> for the prefix's user.
disable() {
  wine reg add "$user_key\\15.0\\Outlook\\Resiliency\\DisabledItems" /v 5E1A /t REG_BINARY \
    /d "$(utf16_hex "$agent\\$1")" /f >/dev/null
}

# Schedules <path> for deletion at the next restart, as MoveFileEx records it (pairs of an NT
# path and an empty new name in a REG_MULTI_SZ); reg.exe cannot write empty strings.
schedule_deletion() {
  bytes=$(printf '%s' "\\??\\$1" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
  printf 'REGEDIT4\r\n\r\n[%s]\r\n"PendingFileRenameOperations"=hex(7):%s,00,00,00\r\n' \
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager' "$bytes" \
    >"$WINEPREFIX/pending.reg"
  wine reg import "$(winepath -w "$WINEPREFIX/pending.reg")"
}

# prepare <name> <Office version key> <reg view: 32|64> <Office folder>
prepare() {
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

  status
  request install
  request repair
  step "Deleting the deployed add-in DLL by hand"
  rm -f "$folder/tolvane.dll" "$folder/tolvane64.dll"
  status
  request repair
}

prepare outlook2013-x64 15.0 64 Office15
step "installer-host status $agent --json"
host status "$agent" --json
tr -d '\r' <"$WINEPREFIX/host.log"
say "exit code: $code"

disable tolvane64.dll
broken "Outlook disabled tolvane64.dll for the user"
mend uninstall install

wine reg add "$user_key\\Outlook\\Addins\\Tolvane.OutlookAddin.1" /v LoadBehavior /t REG_DWORD /d 0 /f >/dev/null
broken "the user's own LoadBehavior set to 0"
mend repair

cp "$bin/fixtures/v2/tolvane64.dll" "$folder/Install/"
broken "a newer add-in (FileVersion 1.0.0.2) put into Install"
mend repair

wine reg delete "$class_key" /reg:64 /f >/dev/null
broken "the add-in's COM class deleted"
mend repair

wine reg add "$class_key\\InprocServer32" /ve /d 'C:\Old\tolvane64.dll' /reg:64 /f >/dev/null
broken "the add-in's COM class pointed to another copy"
mend install

wine reg add "$addin_key" /v FriendlyName /d 'Someone else' /reg:64 /f >/dev/null
broken "a value of the add-in key changed"
mend repair

schedule_deletion "$agent\\tolvane64.dll"
broken "the deployed add-in scheduled for deletion at the next restart"
wine reg delete "$session_manager" /v PendingFileRenameOperations /f >/dev/null
say "(the scheduled deletion removed by hand)"
verdict

request uninstall
wineserver -k >/dev/null 2>&1 || true

prepare outlook2010-x86 14.0 32 Office14

disable tolvane.dll
broken "Outlook disabled tolvane.dll for the user"
mend uninstall install

wine "$bin/fixtures/broker/ComRegistrationBroker.exe" /UnregServer
broken "the registration broker unregistered"
wine "$bin/fixtures/broker/ComRegistrationBroker.exe" /RegServer
say "(the broker registered again by hand)"
verdict

wine reg add 'HKLM\SOFTWARE\Microsoft\Office\15.0\Outlook\InstallRoot' /v Path /t REG_SZ \
  /d 'C:\Program Files\Microsoft Office\Office15\' /reg:64 /f >/dev/null
broken "Outlook reinstalled as 64-bit Outlook 2013"
mend uninstall install

request uninstall
wineserver -k >/dev/null 2>&1 || true
