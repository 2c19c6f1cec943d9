#!/usr/bin/env bash
# Fails when an executable imports, at load time, a DLL that is not one of
# the system's Known DLLs: the loader looks for any other in the
# executable's own folder first, before main() can restrict the search, so
# a DLL planted beside a downloaded setup.exe would run with its rights.
#
#   known_dlls.sh <objdump> <executable>
set -uo pipefail
objdump=$1 executable=$2

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of current
# Windows (the same on Windows 7 to 11 for these), with the modules the
# loader maps itself (ntdll) or takes from the system through a Known DLL
# (kernelbase, the API sets, which are no files at all).
known=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
  imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll
  psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll
  wldap32.dll ws2_32.dll ntdll.dll kernelbase.dll "

known=" $(echo $known) "
names=$("$objdump" -p "$executable" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr -d '\r' | tr 'A-Z' 'a-z')
[ -n "$names" ] || { echo "no import table read from $executable"; exit 1; }
bad=0
for name in $names; do
  case "$name" in api-ms-win-*|ext-ms-win-*) continue ;; esac
  if [[ "$known" != *" $name "* ]]; then
    echo "imports $name, which is no Known DLL: load it from the system folder when needed"
    bad=1
  fi
done
echo "imports: $(echo $names)"
exit $bad
