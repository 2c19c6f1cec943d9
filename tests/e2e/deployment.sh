#!/usr/bin/env bash
# The package as deployment tools run it: the switches they pass, read by
# the engine, and the exit codes they read. Under Wine the codes come
# through cmd ("%errorlevel%" holds all of a code; the Unix shell only its
# low 8 bits), with an X server running, so a window that opens where none
# may is seen at once instead of hanging the run; natively the 8-bit codes.
#
#   tests/e2e/deployment.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=deployment-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'

if [ "$E2E_PLATFORM" = wine ]; then
  export DISPLAY=:$((100 + RANDOM % 100))
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  run 300 cmd /c exit >/dev/null 2>&1
fi

# The full code Windows programs see (natively the exit status and its 8
# bits: 1603 as 67 and so on).
full_code() {  # <code>
  if [ "$E2E_PLATFORM" = wine ]; then echo "$1"; else echo $(($1 & 255)); fi
}
# code <folder> <program> <args...>: runs it there, bounded, and prints its
# exit code; a wizard window that appears meanwhile is a failure.
code() {
  local folder=$1 program=$2 arg line
  shift 2
  if [ "$E2E_PLATFORM" = wine ]; then
    # The command line goes into a batch, as a tool's command line stands
    # (Wine would escape quotes in an argument handed over from the Unix
    # side); a batch waits for a window program too. cmd runs outside the
    # folder: its current folder would keep an uninstalled folder from going.
    line="@\"$(winpath "$folder/${program#./}")\""
    for arg in "$@"; do
      if [[ "$arg" == *" "* && "$arg" != /D=* ]]; then line+=" \"$arg\""; else line+=" $arg"; fi
    done
    printf '%s\r\n@echo %%errorlevel%%\r\n' "$line" >"$work/run.cmd"
    (cd "$work" && timeout 120 "$e2e_root/scripts/wine-run" cmd /c "$(winpath "$work/run.cmd")" >"$out/code.txt" 2>/dev/null) &
    local pid=$! _
    for _ in $(seq 1 240); do
      kill -0 "$pid" 2>/dev/null || break
      if xdotool search --onlyvisible --name "^Установка" >/dev/null 2>&1; then
        fail "a window opened for: $program $*"
        WINEPREFIX=$VOLOK_WINEPREFIX wineserver -k 2>/dev/null
        break
      fi
      sleep 0.5
    done
    wait "$pid"
    tr -d '\r' <"$out/code.txt" | tail -n 1
  else
    (cd "$folder" && run 120 "$program" "$@" >"$out/code.txt" 2>&1)
    echo $?
  fi
}
registered() { tool key HKLM "$uninstall_key" >/dev/null 2>&1 && echo yes || echo no; }

step "build the demo package"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
package=$work/source/output-installer/1.4.0.0

step "what is not understood does nothing and says 1639"
for args in "/S /bogus" "silent /norestart $(winpath "$work/x")" "silent $(winpath "$work/x") extra" "/qn /log"; do
  expect_eq "exit code of: $args" "$(full_code 1639)" "$(code "$package" ./setup.exe $args)"
done
expect_eq "registration" no "$(registered)"
expect_absent "$work/x"
expect_absent "$package/setup.log"

step "install with Inno Setup's switches, into a folder with blanks after /D="
target="$work/Volok Demo"
expect_eq "exit code of the install" 0 \
  "$(code "$package" ./setup.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART "/log=$(winpath "$work/install.log")" "/D=$(winpath "$target")")"
expect_file "$target/uninstall.exe"
expect_eq "registration" yes "$(registered)"
expect_grep "$work/install.log" "[Install] Установка завершена."

step "the uninstall returns once it has ended"
expect_eq "exit code of the uninstall" 0 "$(code "$target" ./uninstall.exe /qn)"
# Detection right after the uninstall, with nothing awaited.
expect_absent "$target"
expect_eq "registration right after the uninstall" no "$(registered)"
wait_idle

step "install and uninstall with Windows Installer's and NSIS's spellings"
expect_eq "exit code of the install" 0 "$(code "$package" ./setup.exe /quiet "INSTALLDIR=$(winpath "$target")")"
expect_file "$target/uninstall.exe"
expect_eq "exit code of the uninstall" 0 "$(code "$target" ./uninstall.exe -S)"
expect_absent "$target"
expect_eq "registration right after the uninstall" no "$(registered)"
wait_idle
finish
