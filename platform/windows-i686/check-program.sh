#!/usr/bin/env bash
# Checks a Windows program of the build: a console (CUI) program that imports only DLLs every
# Windows has, and not the OpenGL libraries, which it opens at run time.
# Usage: check-program.sh <objdump> <program.exe>
set -euo pipefail
objdump="$1" program="$2"
headers="$("$objdump" -p "$program")"
status=0
grep -qE '^Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "$program is not a console (CUI) program"; status=1; }
system_dlls=" kernel32.dll user32.dll gdi32.dll winmm.dll advapi32.dll msvcrt.dll shell32.dll ole32.dll "
while read -r dll; do
  lower="$(tr '[:upper:]' '[:lower:]' <<<"$dll")"
  case "$system_dlls" in
    *" $lower "*) echo "imports $dll" ;;
    *) echo "$program imports $dll, which is not a Windows system DLL"; status=1 ;;
  esac
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
exit "$status"
