#!/bin/sh
# Fails when a binary imports anything but Windows' own DLLs (the runtime must be static).
set -u
objdump=$1 binary=$2
imports=$("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table read from $binary"; exit 1; }
status=0
for dll in $imports; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll|advapi32.dll|ole32.dll|oleaut32.dll|version.dll|wtsapi32.dll|user32.dll|msvcrt.dll|rpcrt4.dll|shell32.dll|api-ms-win-*.dll)
      echo "system DLL: $dll" ;;
    *) echo "NOT a system DLL: $dll"; status=1 ;;
  esac
done
exit $status
