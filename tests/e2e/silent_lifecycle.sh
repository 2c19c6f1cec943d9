#!/usr/bin/env bash
# The whole life of the demo package without a window: "setup build", a
# silent install into a folder with blanks and Cyrillic letters given with a
# placeholder, every trace it leaves (files, log, uninstall description,
# registration, the description's registry values, the shortcut), then the
# silent uninstall from the install folder through its temporary copy.
#
#   tests/e2e/silent_lifecycle.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=silent-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'
demo_key='Software\Volok\VolokDemo'
if [ "$E2E_PLATFORM" = wine ]; then
  # No trailing backslash here: Wine builds the Windows command line from its
  # arguments by the C runtime's rules and doubles a backslash before the
  # closing quote, which a user's command line would not hold (the native run
  # checks that one trailing backslash is removed).
  folder_param='{ProgramFiles}\Волок Демо'
  folder='C:\Program Files\Волок Демо'
else
  folder_param='{LocalAppData}\Волок Демо\'
  folder=$(winpath "$HOME/.local/share/Волок Демо")
fi
target=$(hostpath "$folder")

step "build the demo package with setup build"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1
expect_eq "exit code of setup build" 0 $?
package=$work/source/output-installer/1.4.0.0
expect_grep "$out/build.txt" "[MakeUpdate]: Установка создана. Предупреждений: 0"
for f in setup.exe setup.xml app.zip license.txt settings.ini; do expect_file "$package/$f"; done
expect_sealed_copy "$engine" "$package/setup.exe"
decrypt "$package/setup.xml" >"$out/setup.xml" || fail "setup.xml does not decrypt"
leaves=$(xml_leaves "$out/setup.xml")
expect_eq "version in setup.xml" "Installer/Number=1.4.0.0" "$(grep '^Installer/Number=' <<<"$leaves")"
expect_eq "builder elements left in setup.xml" "" "$(grep '/Update' <<<"$leaves")"
license_crc=$(python3 -c 'import sys,zlib; print("%08X" % zlib.crc32(open(sys.argv[1],"rb").read()))' "$package/license.txt")
zip_crc=$(python3 -c 'import sys,zlib; print("%08X" % zlib.crc32(open(sys.argv[1],"rb").read()))' "$package/app.zip")
expect_eq "checksums recorded in setup.xml (app.zip, license.txt, then none)" \
  "$(printf 'Installer/Install/File/CRC32=%s\n' "$zip_crc" "$license_crc" 00000000 00000000 00000000 00000000 00000000)" \
  "$(grep '^Installer/Install/File/CRC32=' <<<"$leaves")"
# Info-ZIP lists the archive: every stored name, in archive order.
mapfile -t zip_items < <(unzip -Z1 "$package/app.zip")
expect_eq "items of app.zip" "$(printf '%s\n' bin/ bin/demo.cmd docs/ docs/readme.txt | sort)" \
  "$(printf '%s\n' "${zip_items[@]}" | sort)"

step "silent install into \"$folder_param\""
(cd "$package" && run 180 ./setup.exe silent "$folder_param") >"$out/install.txt" 2>&1
expect_eq "exit code of the silent install" 0 $?
wait_idle
cp "$target/setup.log" "$out/setup.log" 2>/dev/null
expect_eq "installed files" "$(printf '%s\n' bin bin/demo.cmd docs docs/readme.txt license.txt settings.ini \
  'Демо volok.lnk' setup.log uninstall.exe uninstall.xml | LC_ALL=C sort)" \
  "$(cd "$target" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)"
expect_same_file "$e2e_root/examples/demo/payload/app/bin/demo.cmd" "$target/bin/demo.cmd"
expect_same_file "$e2e_root/examples/demo/payload/app/docs/readme.txt" "$target/docs/readme.txt"
expect_same_file "$e2e_root/examples/demo/payload/license.txt" "$target/license.txt"
expect_same_file "$package/setup.exe" "$target/uninstall.exe"
expect_eq "settings.ini (code page 1251, placeholders replaced)" \
  "$(sed -e 's/{Name}/Демо volok/' -e 's/{Company}/Волок/' -e 's/{Version}/1.4.0.0/' \
       -e "s/{InstallPath}/${folder//\\/\\\\}/" "$e2e_root/examples/demo/payload/settings.ini")" \
  "$(iconv -f CP1251 -t UTF-8 "$target/settings.ini" 2>&1)"

step "setup.log line by line"
zip_lines=$(printf '[UnZip] Файл: %s\n' "${zip_items[@]}")
expected_log="[Install] Установка программы в папку: \"$folder\"
[Operation] Программа
[UnZip] Распаковка: Файл: app.zip, Папка: $folder
[UnZip] Файлов в архиве: ${#zip_items[@]}
$zip_lines
[UnZip] Распаковано: ${#zip_items[@]}
[Operation] Лицензия
[Copy]: Копирование файла: license.txt
[Operation] Настройки
[CopyText]: Копирование файла с обработкой: settings.ini
[Operation] Ярлык
[Link] Создание ярлыка: \"$folder\\bin\\demo.cmd\" /quiet
[Operation] Папка в реестре
[RegistryWrite] Запись в реестр: HKCU\\Software\\Volok\\VolokDemo
[Operation] Версия в реестре
[RegistryWrite] Запись в реестр: HKCU\\Software\\Volok\\VolokDemo
[Operation] Счётчик в реестре
[RegistryWrite] Запись в реестр: HKCU\\Software\\Volok\\VolokDemo
[Install] Установка завершена."
expect_eq "setup.log" "$expected_log" "$(log_messages "$target/setup.log")"

step "uninstall.xml, decrypted by the engine's own routines"
decrypt "$target/uninstall.xml" >"$out/uninstall.xml" || fail "uninstall.xml does not decrypt"
expect_eq "uninstall.xml" "Installer/Number=1.4.0.0
Installer/Company=Волок
Installer/Name=Демо volok
Installer/ShortName=VolokDemo
Installer/URL=https://example.invalid/volok-demo
Installer/InstallPath=$folder
Installer/Scope=machine
Installer/UnInstall/File/Name=Ключ реестра
Installer/UnInstall/File/FileName=HKCU\\Software\\Volok\\VolokDemo
Installer/UnInstall/File/Action=RegistryDelete
Installer/UnInstall/File/Destination=\"\"
Installer/UnInstall/File/Size=0
Installer/UnInstall/File/CRC32=00000000
Installer/UnInstall/File/Name=Папка программы
Installer/UnInstall/File/FileName=$folder
Installer/UnInstall/File/Action=DeleteFolder
Installer/UnInstall/File/Destination=-
Installer/UnInstall/File/Size=0
Installer/UnInstall/File/CRC32=00000000" "$(xml_leaves "$out/uninstall.xml" 2>&1)"

# The uninstaller's command lines are quoted (a folder with blanks must not
# let Windows start a program named by a prefix of the path), and the quiet
# one serves tools that uninstall without a window.
step "the values of the Add/Remove Programs entry"
tool reg HKLM "$uninstall_key" DisplayIcon DisplayName DisplayVersion InstallDate InstallLocation Publisher \
  UninstallString QuietUninstallString HelpLink URLInfoAbout URLUpdateInfo NoModify NoRepair >"$out/registration.txt" 2>&1
expect_eq "registration" "DisplayIcon=$folder\\uninstall.exe
DisplayName=Демо volok
DisplayVersion=1.4.0.0
InstallDate=$(date +%Y%m%d)
InstallLocation=$folder
Publisher=Волок
UninstallString=\"$folder\\uninstall.exe\"
QuietUninstallString=\"$folder\\uninstall.exe\" silent
HelpLink=https://example.invalid/volok-demo
URLInfoAbout=https://example.invalid/volok-demo
URLUpdateInfo=https://example.invalid/volok-demo
NoModify=dword:1
NoRepair=dword:1" "$(tr -d '\r' <"$out/registration.txt")"

if [ "$E2E_PLATFORM" = native ]; then
  step "the native registry store, made on the fresh account's first write"
  expect_eq "mode of the store's folders" "700 700" \
    "$(stat -c %a "$HOME/.local/share/volok" "$HOME/.local/share/volok/registry" 2>&1 | tr '\n' ' ' | sed 's/ $//')"
fi

step "the description's registry values"
expect_eq "HKCU\\$demo_key" "InstallPath=$folder
Version=1.4.0.0
Launches=dword:0" "$(tool reg HKCU "$demo_key" InstallPath Version Launches 2>&1 | tr -d '\r')"

step "the shortcut, read with lnkinfo"
lnk_fields "$target/Демо volok.lnk" >"$out/shortcut.txt"
link_path=$folder
# Wine's shell link keeps the local path in the ANSI code page only.
[ "$E2E_PLATFORM" = wine ] && link_path=$(python3 -c 'import re,sys; print(re.sub(r"[^\x00-\x7f]", "?", sys.argv[1]))' "$folder")
expect_eq "shortcut" "Local path: $link_path\\bin\\demo.cmd
Working directory: $folder\\bin\\
Command line arguments: /quiet" "$(cat "$out/shortcut.txt")"

step "silent uninstall started from the install folder"
temp=$(temp_folder)
(cd "$target" && run 120 "./uninstall.exe" silent) >"$out/uninstall.txt" 2>&1
expect_eq "exit code of the silent uninstall" 0 $?
# The caller's wait ends with the uninstall: detection right after it finds
# nothing, before anything else has ended.
expect_absent "$target"
expect_eq "registration right after the uninstall" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
expect_file "$temp/uninstall-VolokDemo.log"
expect_grep "$temp/uninstall-VolokDemo.log" "[UnInstall] Удаление завершено."
wait_idle
expect_eq "HKCU\\$demo_key after the uninstall" 1 "$(tool key HKCU "$demo_key" >/dev/null 2>&1; echo $?)"
expect_eq "temporary copies and batches left" "" "$(cd "$temp" && ls -d volok-uninstall-* 2>/dev/null)"
finish
