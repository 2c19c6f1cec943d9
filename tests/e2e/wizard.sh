#!/usr/bin/env bash
# The window, driven with xdotool under Wine and Xvfb: a package built with
# "setup.exe create" and the "Создать" button (it must equal the headless
# build), an install with options other than the defaults (exactly the chosen
# entries run), and the uninstall from the install folder, which hands over to
# a copy in the temporary folder that removes everything, itself included.
# Then an install by keyboard alone (Tab, space, Return, Escape) of a
# 3,000-item archive, whose log view must still end with the green
# completion line. A screenshot of every page lands in build/e2e/wizard/.
#
#   tests/e2e/wizard.sh
E2E_PLATFORM=wine
E2E_NAME=wizard
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokOptions'
options_key='Software\Volok\VolokOptions'

export DISPLAY=:$((100 + RANDOM % 100))
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
# Creating the prefix takes a while: do it before the first window is awaited.
run 300 cmd /c exit >/dev/null 2>&1

# Window coordinates of the buttons (the client area: there is no window
# manager, so the window has no frame).
create=(52 329) next=(380 329) quit=(472 329)

# start <folder> <program> <args...>: starts the window, bounded, in the background.
start() { (cd "$1" && shift && timeout 300 "$e2e_root/scripts/wine-run" "$@" >/dev/null 2>&1 &); }
# Waits (bounded) for the wizard window and prints it. The previous window
# must be gone: X reuses the ids of clients that have ended, so a new window
# may carry the old one's id.
await_window() {
  local _ w
  for _ in $(seq 1 120); do
    w=$(xdotool search --onlyvisible --name "^Установка" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { sleep 1; echo "$w"; return 0; }
    sleep 0.5
  done
  import -window root "$out/no-window.png" 2>/dev/null
  return 1
}
# Waits (bounded) until a condition holds.
await() {  # <seconds> <command...>
  local limit=$(($1 * 2)) _
  shift
  for _ in $(seq 1 "$limit"); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}
window_gone() { ! xdotool search --onlyvisible --name "^Установка" >/dev/null 2>&1; }
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep "${3:-1.5}"; }
# key <key...>: key events only, to the window that has the input focus.
key() { for k in "$@"; do xdotool key "$k"; sleep 0.4; done; }
shot() { import -window "$wid" "$out/$1.png" 2>/dev/null || fail "no screenshot $1"; }
# The Windows command line of the process that owns the window.
window_program() { tr '\0' ' ' <"/proc/$(xdotool getwindowpid "$wid")/cmdline" 2>/dev/null; }
is_log_done() { grep -q "Установка завершена\." "$1" 2>/dev/null; }

step "build with setup.exe create and the button «Создать»"
cp -a "$e2e_root/examples/demo" "$work/window-build"
cp -a "$e2e_root/examples/demo" "$work/headless-build"
cp "$engine" "$work/window-build/setup.exe"
start "$work/window-build" ./setup.exe create
wid=$(await_window) || { fail "no wizard window appeared"; finish; }
shot 01-create-description-error
click "${create[@]}" 1
await 120 test -f "$work/window-build/output-installer/1.4.0.0/setup.exe" || fail "the button built no package"
sleep 1
shot 02-create-log
click "${quit[@]}"
await 30 window_gone || fail "the window did not close"
(cd "$work/headless-build" && run 120 "$engine" build) >"$out/headless-build.txt" 2>&1 || fail "setup build failed"
window=$work/window-build/output-installer/1.4.0.0
headless=$work/headless-build/output-installer/1.4.0.0
expect_eq "package files" "$(ls "$headless")" "$(ls "$window")"
for f in license.txt settings.ini; do expect_same_file "$headless/$f" "$window/$f"; done
# The archives' encryption headers are random: compare what they hold, and the
# descriptions with each archive's own checksum; each engine carries the
# manifest of its own package.
for f in "$headless/setup.exe" "$window/setup.exe"; do expect_sealed_copy "$engine" "$f"; done
zip_items() { python3 -c '
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename, i.CRC, i.file_size, i.date_time)' "$1"; }
expect_eq "items of the window's app.zip" "$(zip_items "$headless/app.zip")" "$(zip_items "$window/app.zip")"
own_crc_masked() {
  decrypt "$1/setup.xml" | sed "s|<CRC32>$(python3 -c 'import sys,zlib; print("%08X" % zlib.crc32(open(sys.argv[1],"rb").read()))' "$1/app.zip")<|<CRC32>(app.zip)<|"
}
expect_eq "setup.xml of the window's build" "$(own_crc_masked "$headless")" "$(own_crc_masked "$window")"

step "interactive install with options other than the defaults"
mkdir -p "$work/options"
cp -a "$e2e_root/examples/demo/payload" "$e2e_root/tests/e2e/options/installer.xml" "$work/options/"
(cd "$work/options" && run 120 "$engine" build) >"$out/options-build.txt" 2>&1 || fail "setup build failed"
package=$work/options/output-installer/2.1.0.7
folder='C:\Program Files\Волок Параметры'
target=$(hostpath "$folder")
start "$package" ./setup.exe
wid=$(await_window) || { fail "no wizard window appeared"; finish; }
shot 03-welcome
click "${next[@]}"
shot 04-options-default
# The scroll box starts at (158, 137): the two group panels, then the check box.
click 180 248 0.5  # "Ярлык в папке программы" off
click 180 181 0.5  # "Минимальная"
click 260 225 0.5  # the language list's edit field
xdotool key Down
sleep 1            # "en"
shot 05-options-chosen
click "${next[@]}" 1
await 120 is_log_done "$target/setup.log" || fail "the install did not complete"
sleep 1
shot 06-install-finished
click "${quit[@]}"
await 30 window_gone || fail "the window did not close"
wait_idle
cp "$target/setup.log" "$out/options-setup.log" 2>/dev/null
expect_eq "entries that ran" "[Operation] Программа
[Operation] Настройки
[Operation] Описание
[Operation] Вид: минимальная" "$(log_stamped "$target/setup.log" | grep '^\[Operation\]')"
expect_eq "installed files" "$(printf '%s\n' bin bin/demo.cmd docs docs/readme.txt readme-en.txt settings.ini \
  setup.log uninstall.exe uninstall.xml | LC_ALL=C sort)" \
  "$(cd "$target" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)"
expect_eq "HKCU\\$options_key" "Kind=Min" "$(tool reg HKCU "$options_key" Kind 2>&1 | tr -d '\r')"
decrypt "$target/uninstall.xml" >"$out/options-uninstall.xml" || fail "uninstall.xml does not decrypt"
expect_eq "uninstall entries (the shortcut's is not chosen)" "Installer/UnInstall/File/Name=Ключ реестра
Installer/UnInstall/File/Name=Папка программы" \
  "$(xml_leaves "$out/options-uninstall.xml" | grep '^Installer/UnInstall/File/Name=')"
expect_eq "registered" "DisplayVersion=2.1.0.7" "$(tool reg HKLM "$uninstall_key" DisplayVersion 2>&1 | tr -d '\r')"

step "uninstall through the window, started from the install folder"
temp=$(temp_folder)
start "$target" ./uninstall.exe
wid=$(await_window) || { fail "no uninstall window appeared"; finish; }
checks=$((checks + 1))
[[ "$(window_program)" == *\\Temp\\volok-uninstall-*\\uninstall.exe* ]] ||
  fail "the uninstall window is not the temporary copy: $(window_program)"
shot 07-uninstall-welcome
click "${next[@]}" 1
await 60 test ! -e "$target" || fail "the install folder was not removed"
sleep 1
shot 08-uninstall-finished
click "${quit[@]}"
await 30 window_gone || fail "the window did not close"
wait_idle
expect_absent "$target"
expect_eq "registration after the uninstall" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
expect_eq "HKCU\\$options_key after the uninstall" 1 "$(tool key HKCU "$options_key" >/dev/null 2>&1; echo $?)"
expect_eq "temporary copies and batches left" "" "$(cd "$temp" && ls -d volok-uninstall-* 2>/dev/null)"

step "install of a 3,000-item archive by keyboard alone"
many=$work/many
mkdir -p "$many/payload"
for d in $(seq -w 1 30); do
  mkdir -p "$many/payload/folder-$d"
  for f in $(seq -w 1 100); do echo "$d/$f" >"$many/payload/folder-$d/item-$f.txt"; done
done
cat >"$many/installer.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<Installer>
  <UpdateSource></UpdateSource><UpdateType>File</UpdateType><UpdateAction>Copy</UpdateAction>
  <Number>3.0</Number><Company>Волок</Company><Name>Много файлов</Name><ShortName>VolokMany</ShortName>
  <URL>https://example.invalid/volok-many</URL><InstallPath>C:\Volok Many</InstallPath>
  <Options>
    <Option><Name>Copy</Name><Type>check</Type><DisplayName>Копия архива</DisplayName></Option>
    <Default>Copy</Default>
  </Options>
  <Install>
    <File><UpdateSource>payload</UpdateSource><UpdateType>Folder</UpdateType><UpdateAction>Zip</UpdateAction>
      <Name>Файлы</Name><FileName>many.zip</FileName><Action>UnZip</Action>
      <Destination>{InstallPath}</Destination><Size>0</Size><CRC32>0</CRC32></File>
    <File><UpdateSource></UpdateSource><UpdateType>Command</UpdateType><UpdateAction>None</UpdateAction>
      <Name>Копия</Name><FileName>{InstallerPath}\many.zip</FileName><Action>Copy2</Action>
      <Destination>{InstallPath}\many.zip</Destination><Options>Copy</Options><Size>0</Size><CRC32>0</CRC32></File>
  </Install>
  <UnInstall>
    <File><Name>Папка</Name><FileName>{InstallPath}</FileName><Action>DeleteFolder</Action><Destination>-</Destination></File>
  </UnInstall>
</Installer>
XML
(cd "$many" && run 300 "$engine" build) >"$out/many-build.txt" 2>&1 || fail "setup build failed"
target=$(hostpath 'C:\Volok Many')
start "$many/output-installer/3.0.0.0" ./setup.exe
wid=$(await_window) || { fail "no wizard window appeared"; finish; }
# Input focus for the key events (no window manager gives it).
xdotool windowfocus --sync "$wid" 2>/dev/null
sleep 0.5
shot 09-keyboard-welcome
key Return                # "Далее": the options page, the focus in the folder field
key Tab Tab               # "...", then the check box
key space                 # "Копия архива" off
shot 10-keyboard-options
key Return                # the default button starts the install
await 300 is_log_done "$target/setup.log" || fail "the keyboard install did not complete"
sleep 2
shot 11-keyboard-finished
expect_eq "files unpacked" 3000 "$(find "$target" -name 'item-*.txt' 2>/dev/null | wc -l)"
expect_absent "$target/many.zip"
# The log view (below its caption, above the progress bar) must show the
# completion line in green (0, 128, 0) at its bottom: the rich edit kept the
# 3,000-line message before it.
green_pixels() {
  convert "$1" -crop 360x44+158+240 +repage txt:- 2>/dev/null | grep -c '#008000' || true
}
checks=$((checks + 1))
[ "$(green_pixels "$out/11-keyboard-finished.png")" -ge 20 ] ||
  fail "no green completion line at the bottom of the log view (11-keyboard-finished.png)"
key Escape                # "Выход": the worker has ended, so no question
await 30 window_gone || fail "Escape did not close the window"
wait_idle
finish
