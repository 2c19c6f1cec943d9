#!/usr/bin/env bash
# The registration is the program's identity: version 2 run without a folder
# upgrades the registered copy where it is; version 1 over it is refused
# with 1638 before anything changes; the entry records its size and numeric
# version; a copy installed elsewhere takes the registration over, and the
# uninstall of the copy left behind no longer removes it.
#
#   tests/e2e/registration.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=registration-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'
first="$work/Первая копия"
second="$work/second copy"

# silent <package> [folder]: the silent install's exit code. Wine gives the
# shell only its low 8 bits, so a run without a folder (the refused one)
# reads the full code through a batch's %errorlevel%; a batch is read in
# the console's code page, so a run with a (Cyrillic) folder is started
# directly and answers the low 8 bits.
silent() {
  local package=$1 code
  shift
  if [ "$E2E_PLATFORM" = wine ] && [ $# -eq 0 ]; then
    printf '@start /wait "" setup.exe silent\r\n@echo %%errorlevel%% > code.txt\r\n' >"$package/run.bat"
    (cd "$package" && run 180 cmd /c run.bat) >>"$out/runs.txt" 2>&1
    code=$(tr -d '\r\n ' <"$package/code.txt" 2>/dev/null)
    rm -f "$package/run.bat" "$package/code.txt"
  else
    (cd "$package" && run 180 ./setup.exe silent "$@") >>"$out/runs.txt" 2>&1
    code=$?
  fi
  wait_idle
  echo "${code:-none}"
}
registered() { tool reg HKLM "$uninstall_key" "$@" 2>&1 | tr -d '\r'; }
number_of() { decrypt "$1/uninstall.xml" | sed -n 's/.*<Number>\([^<]*\)<.*/\1/p'; }

step "build version 1.4 and 2.0 of the demo"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
v1=$work/source/output-installer/1.4.0.0
sed -i 's|<Number>1.4</Number>|<Number>2.0</Number>|' "$work/source/installer.xml"
(cd "$work/source" && run 120 "$engine" build) >>"$out/build.txt" 2>&1 || fail "setup build of 2.0 failed"
v2=$work/source/output-installer/2.0.0.0

step "version 1.4 into a folder of the user's choice"
expect_eq "exit code" 0 "$(silent "$v1" "$(winpath "$first")")"
expect_eq "registered" "InstallLocation=$(winpath "$first")
DisplayVersion=1.4.0.0
VersionMajor=dword:1
VersionMinor=dword:4" "$(registered InstallLocation DisplayVersion VersionMajor VersionMinor)"
# The size is that of the folder's files, in KiB, as the entry was written
# (only the log grows afterwards).
size=$(registered EstimatedSize | sed -n 's/^EstimatedSize=dword://p')
read -r files_kib log_kib < <(python3 - "$first" <<'PY'
import os, sys
files = log = 0
for base, _, names in os.walk(sys.argv[1]):
    for name in names:
        size = os.lstat(os.path.join(base, name)).st_size
        if name == "setup.log" and base == sys.argv[1]: log = size
        else: files += size
print(files // 1024, log // 1024 + 2)
PY
)
checks=$((checks + 1))
[ -n "$size" ] && [ "$size" -ge "$files_kib" ] && [ "$size" -le $((files_kib + log_kib)) ] ||
  fail "EstimatedSize '$size' for files of $files_kib KiB besides the log"

step "version 2.0 without a folder upgrades the registered copy in place"
expect_eq "exit code" 0 "$(silent "$v2")"
expect_eq "version in the first copy" "2.0.0.0" "$(number_of "$first")"
expect_file "$first/Backup/uninstall.xml"
expect_eq "registered" "InstallLocation=$(winpath "$first")
DisplayVersion=2.0.0.0" "$(registered InstallLocation DisplayVersion)"
expect_grep "$first/setup.log" "[Install] Обновление версии 1.4.0.0 до версии 2.0.0.0."
[ "$E2E_PLATFORM" = wine ] && expect_absent "$VOLOK_WINEPREFIX/drive_c/Program Files/Volok Demo"

step "version 1.4 over 2.0 is refused with 1638"
before=$(cd "$first" && find . | LC_ALL=C sort)
expect_eq "exit code" "$([ "$E2E_PLATFORM" = wine ] && echo 1638 || echo $((1638 % 256)))" "$(silent "$v1")"
expect_eq "the first copy" "$before" "$(cd "$first" && find . | LC_ALL=C sort)"
expect_eq "version in the first copy" "2.0.0.0" "$(number_of "$first")"
expect_eq "registered version" "DisplayVersion=2.0.0.0" "$(registered DisplayVersion)"
expect_grep "$v1/setup.log" "Установлена более новая версия программы (2.0.0.0), чем устанавливаемая (1.4.0.0)."

step "the same version again reinstalls"
expect_eq "exit code" 0 "$(silent "$v2")"
expect_grep "$first/setup.log" "[Install] Версия 2.0.0.0 уже установлена: установка выполняется повторно."

step "a second copy elsewhere takes the registration over"
expect_eq "exit code" 0 "$(silent "$v2" "$(winpath "$second")")"
expect_eq "registered" "InstallLocation=$(winpath "$second")" "$(registered InstallLocation)"

step "uninstalling the copy left behind keeps the registration"
(cd "$first" && run 120 ./uninstall.exe silent) >>"$out/runs.txt" 2>&1
wait_idle
expect_absent "$first"
expect_eq "registered" "InstallLocation=$(winpath "$second")" "$(registered InstallLocation)"

step "uninstalling the registered copy removes it"
(cd "$second" && run 120 ./uninstall.exe silent) >>"$out/runs.txt" 2>&1
wait_idle
expect_absent "$second"
expect_eq "registration after the uninstall" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
finish
