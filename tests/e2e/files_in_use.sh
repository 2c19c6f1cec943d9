#!/usr/bin/env bash
# Programs that hold files of the install folder during an upgrade.
# Natively: a real program whose current folder lies in the install folder is
# named and the silent upgrade refused (1603); with /closeapplications it is
# closed and the upgrade completes. Under Wine (whose Restart Manager lists
# nothing) a file held open without delete sharing keeps its place: the new
# version waits beside it, the run ends with 3010, and a restart of the
# prefix (wineboot -r) moves it in.
#
#   tests/e2e/files_in_use.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=files-in-use-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
target="$work/Занятая программа"
folder=$(winpath "$target")
holder=

stop_holder() { [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null; holder=; }
trap 'stop_holder; cleanup' EXIT

# The silent run's exit code as Windows reports it (the shell sees only the
# low byte of a Windows code).
install() {  # <package> <switches...>
  local package=$1
  shift
  if [ "$E2E_PLATFORM" = wine ]; then
    # The folder travels in the environment: a batch line holds no Cyrillic.
    printf '@start /wait "" setup.exe silent "%%E2E_FOLDER%%" %%*\r\n@echo %%errorlevel%%\r\n' >"$package/run.bat"
    (cd "$package" && E2E_FOLDER=$folder run 180 cmd /c run.bat "$@") 2>>"$out/install.txt" | tr -d '\r' | tail -n 1
  else
    (cd "$package" && run 180 ./setup.exe silent "$folder" "$@") >>"$out/install.txt" 2>&1
    echo $?
  fi
}

step "build and install version 1"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
package=$work/source/output-installer/1.4.0.0
expect_eq "exit code of version 1" 0 "$(install "$package")"
wait_idle

if [ "$E2E_PLATFORM" = native ]; then
  step "a program in the folder refuses the silent upgrade"
  (cd "$target" && exec sleep 60) &
  holder=$!
  timeout 10 sh -c "until [ \"\$(readlink /proc/$holder/cwd)\" = \"$target\" ]; do sleep 0.05; done" ||
    fail "the holder did not start"
  expect_eq "exit code without the switch" $((1603 & 255)) "$(install "$package")"
  expect_eq "last log line" \
    "Fatal Установка завершена с ошибкой: Файлы программы заняты: sleep ($holder). Закройте их или запустите установку с /closeapplications." \
    "$(log_stamped "$target/setup.log" | tail -n 1)"
  kill -0 "$holder" 2>/dev/null || fail "the holder was ended without the switch"

  step "/closeapplications closes it and the upgrade completes"
  expect_eq "exit code with the switch" 0 "$(install "$package" /closeapplications)"
  timeout 15 sh -c "while kill -0 $holder 2>/dev/null; do sleep 0.05; done" || fail "the holder still runs"
  wait "$holder" 2>/dev/null
  holder=
  # Said before the earlier content moved, so in the earlier log.
  expect_grep "$target/Backup/setup.log" "[InUse] Программы закрыты."
  expect_file "$target/Backup/settings.ini"
else
  step "a file held open keeps its place and gets the new version at the restart"
  printf 'изменено пользователем\r\n' >>"$target/settings.ini"
  before=$(sha256sum <"$target/settings.ini")
  # It lets go when its standard input ends: the script holds the pipe.
  mkfifo "$work/hold.in"
  run 120 "$BUILD_WIN64/bin/e2e_tool.exe" hold "$folder\\settings.ini" 100 <"$work/hold.in" >"$out/hold.txt" 2>&1 &
  exec 7>"$work/hold.in"
  timeout 60 sh -c "tail -f \"$out/hold.txt\" | grep -q -m1 held" || fail "the holder did not start"
  expect_eq "exit code of the upgrade" 3010 "$(install "$package")"
  cp "$target/setup.log" "$out/setup-2.log"
  expect_grep "$target/setup.log" "[Install] Файлы заняты и будут заменены после перезагрузки: $folder\\settings.ini"
  expect_eq "the held file until the restart" "$before" "$(sha256sum <"$target/settings.ini")"
  expect_eq "its copy in Backup" "$before" "$(sha256sum <"$target/Backup/settings.ini")"
  waiting=$(compgen -G "$target/settings.ini.volok-*.new")
  expect_file "$waiting"
  exec 7>&-
  wait_idle
  step "the restart moves the new version in"
  WINEPREFIX=$VOLOK_WINEPREFIX timeout 120 /usr/lib/wine/wine64 wineboot -r >/dev/null 2>&1
  wait_idle
  expect_absent "$waiting"
  if grep -q "изменено пользователем" "$target/settings.ini"; then fail "settings.ini is still the held one"; fi
fi
finish
