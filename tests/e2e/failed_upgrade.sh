#!/usr/bin/env bash
# An upgrade that fails must leave the earlier version working: version 1 of
# the demo is installed and the user adds a file of their own; version 2
# fails at its second entry. Afterwards the folder holds exactly what it held
# before (its log keeps the failed run's lines), and the registration is
# still that of version 1. A completed upgrade then keeps version 1 in Backup.
#
#   tests/e2e/failed_upgrade.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=failed-upgrade-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'
target="$work/Демо программа"
folder=$(winpath "$target")

# Every file below the install folder with its checksum; setup.log apart.
tree_of() {
  (cd "$1" && find . -mindepth 1 ! -name setup.log -printf '%y %p\n' | LC_ALL=C sort | while read -r kind path; do
    if [ "$kind" = f ]; then printf '%s %s\n' "$(sha256sum <"$path" | cut -c1-16)" "$path"; else printf 'dir %s\n' "$path"; fi
  done)
}
# The package of version 2, built as a vendor builds it: version 1's
# description, renumbered, with a second entry that cannot succeed (it copies
# into a "folder" that the first entry has just unpacked as a file).
make_version_two() {  # <source folder> : prints the package folder
  python3 - "$1/installer.xml" <<'PY'
import sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read().replace("<Number>1.4</Number>", "<Number>2.0</Number>", 1)
broken = ("<File><UpdateSource>payload\\license.txt</UpdateSource><UpdateType>File</UpdateType>"
          "<UpdateAction>Copy</UpdateAction><Name>Сломано</Name><FileName>broken.txt</FileName>"
          "<Action>Copy</Action><Destination>{InstallPath}\\bin\\demo.cmd</Destination>"
          "<Size>0</Size><CRC32>0</CRC32></File>")
first_end = text.index("</File>", text.index("<Install>")) + len("</File>")
open(path, "w", encoding="utf-8").write(text[:first_end] + broken + text[first_end:])
PY
  (cd "$1" && run 120 "$engine" build) >>"$out/build.txt" 2>&1 || fail "cannot build version 2"
}
install() {  # <package> : the silent install's exit code
  (cd "$1" && run 180 ./setup.exe silent "$folder") >>"$out/install.txt" 2>&1
  local code=$?
  wait_idle
  return $code
}
version() { tool reg HKLM "$uninstall_key" DisplayVersion 2>&1 | tr -d '\r'; }

step "build and install version 1, add a file of the user's"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
version1=$work/source/output-installer/1.4.0.0
install "$version1"
expect_eq "exit code of version 1" 0 $?
printf 'мои заметки\r\n' >"$target/заметки пользователя.txt"
before=$(tree_of "$target")
cp "$target/setup.log" "$out/setup-1.log"
expect_eq "registered version" "DisplayVersion=1.4.0.0" "$(version)"

step "version 2 fails at its second entry"
cp -a "$e2e_root/examples/demo" "$work/source2"
make_version_two "$work/source2"
install "$work/source2/output-installer/2.0.0.0"
expect_eq "exit code of version 2 (1603, its low 8 bits)" 67 $?
cp "$target/setup.log" "$out/setup-2.log" 2>/dev/null
expect_eq "install folder after the failed upgrade" "$before" "$(tree_of "$target")"
expect_eq "the user's file" "мои заметки" "$(tr -d '\r' <"$target/заметки пользователя.txt")"
expect_eq "log of version 1 kept at the start" "$(cat "$out/setup-1.log" | sha256sum)" \
  "$(head -c "$(stat -c %s "$out/setup-1.log")" "$target/setup.log" | sha256sum)"
expect_eq "last log line" \
  "Fatal Установка завершена с ошибкой: [Copy]: Не удалось создать папку: $folder\\bin\\demo.cmd\\." \
  "$(log_stamped "$target/setup.log" | tail -n 1)"
expect_eq "registered version" "DisplayVersion=1.4.0.0" "$(version)"

step "a completed upgrade keeps version 1 in Backup"
install "$version1"
expect_eq "exit code of the repeated install" 0 $?
expect_eq "the user's file in Backup" "мои заметки" "$(tr -d '\r' <"$target/Backup/заметки пользователя.txt")"
expect_file "$target/Backup/uninstall.exe"
expect_absent "$target/Backup/Backup"
expect_eq "registered version" "DisplayVersion=1.4.0.0" "$(version)"
finish
