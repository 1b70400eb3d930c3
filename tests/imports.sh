#!/usr/bin/env bash
# Fails when the program imports a DLL that Windows might load from beside
# the program instead of from the system folder: only KnownDLLs may be
# imported, and common controls only through the manifest's dependency.
# Usage: imports.sh OBJDUMP PROGRAM_EXE
set -uo pipefail
objdump="$1"
program="$2"

# The KnownDLLs of Windows 10 and 11 this program has reason to use.
allowed=" advapi32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll ole32.dll oleaut32.dll
  shlwapi.dll comdlg32.dll "
# One blank between names, also where the list breaks its line.
allowed=" $(echo $allowed) "

listing="$("$objdump" -p "$program")" || { echo "FAIL: cannot read the headers of $program"; exit 1; }
# Plain and delay-load imports alike are listed as "DLL Name:".
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<< "$listing" | tr -d '\r' | tr 'A-Z' 'a-z' | sort -u)
[ ${#dlls[@]} -gt 0 ] || { echo "FAIL: no import table found in $program"; exit 1; }

failures=0
for dll in "${dlls[@]}"; do
  if [ "$dll" = comctl32.dll ]; then
    # Without the manifest's dependency the loader searches for it by name.
    grep -qaF 'Microsoft.Windows.Common-Controls' "$program" ||
      { echo "FAIL: comctl32.dll imported without the common controls dependency in the manifest"; failures=$((failures + 1)); }
  elif [[ "$allowed" != *" $dll "* ]]; then
    echo "FAIL: $program imports $dll, which Windows may load from beside the program"
    failures=$((failures + 1))
  fi
done
echo "imports: ${dlls[*]}"
[ $failures -eq 0 ]
