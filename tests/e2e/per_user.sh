#!/usr/bin/env bash
# A per-user install as a user without administrator rights meets it: the
# demo described with Scope user installs into the user's own programs
# folder (natively $XDG_DATA_HOME/Programs, run as uid 65534 with its home
# in the work folder; under Wine %LOCALAPPDATA%\Programs, by the engine
# whose rights are taken away), its entry under HKEY_CURRENT_USER and none
# under HKEY_LOCAL_MACHINE, its journal in the user's own state folder; a
# switch against the fixed scope exits 1639; the uninstaller finds the
# scope the install recorded and removes the folder and the user's entry.
#
#   tests/e2e/per_user.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=per-user-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'
nobody=65534

step "build the demo for the current user"
cp -a "$e2e_root/examples/demo" "$work/source"
sed -i 's|</InstallPath>|</InstallPath>\n  <Scope>user</Scope>|' "$work/source/installer.xml"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
package=$work/source/output-installer/1.4.0.0
expect_eq "described scope" "<Scope>user</Scope>" "$(decrypt "$package/setup.xml" | grep -o '<Scope>[^<]*</Scope>')"

if [ "$E2E_PLATFORM" = native ]; then
  # The user's own home, writable by it alone; the package readable by all.
  home=$work/nobody
  mkdir -p "$home/tmp"
  chown -R "$nobody:$nobody" "$home"
  chmod 700 "$home"
  # The folders above the home may be read, as /home is: the engine checks
  # each of them before it trusts its state folder.
  chmod o+rx "$work" "$work/source" "$work/source/output-installer"
  chmod -R o+rX "$package"
  as_user() {
    timeout 120 setpriv --reuid "$nobody" --regid "$nobody" --clear-groups \
      env -i PATH=/usr/bin:/bin HOME="$home" TMPDIR="$home/tmp" XDG_DATA_HOME="$home/data" \
      XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config" "$@"
  }
  installed=$home/data/Programs/Volok\ Demo
  installed_win=$(winpath "$installed")
  install_user() { (cd "$package" && as_user ./setup.exe "$@") >>"$out/runs.txt" 2>&1; }
  registered() { as_user "$native_tool" reg "$@" 2>&1; }
  uninstall_user() {
    (cd "$installed" && as_user ./uninstall.exe silent) >>"$out/runs.txt" 2>&1
    local code=$?
    for _ in $(seq 1 60); do compgen -G "$home/tmp/volok-uninstall-*" >/dev/null || break; sleep 0.5; done
    return $code
  }
  # The shipped engine under the name the package gives it.
  expect_file "$package/setup.exe"
else
  # The engine without administrator rights, sealed into the package.
  "$native_tool" seal "$no_rights" "$package" || fail "cannot seal the engine without rights"
  local_app_data=$(run 60 cmd /c echo %LOCALAPPDATA% | tr -d '\r\n')
  installed_win="$local_app_data\\Programs\\Volok Demo"
  installed=$(hostpath "$installed_win")
  install_user() { (cd "$package" && run 180 ./setup.exe "$@") >>"$out/runs.txt" 2>&1; local code=$?; wait_idle; return $code; }
  registered() { tool reg "$@" 2>&1 | tr -d '\r'; }
  uninstall_user() { (cd "$installed" && run 180 ./uninstall.exe silent) >>"$out/runs.txt" 2>&1; local code=$?; wait_idle; return $code; }
fi

step "a switch against the fixed scope is a bad command line"
install_user /S /allusers
expect_eq "exit code (1639, its low 8 bits)" 103 $?
expect_absent "$installed"

step "the silent install for the user, without rights"
install_user /S
expect_eq "exit code" 0 $?
expect_file "$installed/uninstall.exe"
expect_file "$installed/license.txt"
expect_file "$installed/Демо volok.lnk"
expect_eq "the user's entry" "InstallLocation=$installed_win
UninstallString=\"$installed_win\\uninstall.exe\"" "$(registered HKCU "$uninstall_key" InstallLocation UninstallString)"
expect_eq "no entry for the machine" "InstallLocation=<missing>" "$(registered HKLM "$uninstall_key" InstallLocation)"
expect_eq "the demo's own value" "Version=1.4.0.0" "$(registered HKCU '\Software\Volok\VolokDemo' Version)"
expect_eq "scope recorded for the uninstaller" "<Scope>user</Scope>" \
  "$(decrypt "$installed/uninstall.xml" | grep -o '<Scope>[^<]*</Scope>')"
expect_grep "$installed/setup.log" "[Install] Установка завершена."
if [ "$E2E_PLATFORM" = native ]; then
  expect_eq "owner of the installed files" "$nobody" "$(stat -c %u "$installed/uninstall.exe")"
  expect_eq "the user's journal folder" "$nobody 700" "$(stat -c '%u %a' "$home/state/volok/journal")"
  expect_file "$home/data/volok/registry/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Uninstall/VolokDemo/.values.reg"
  expect_absent "$home/data/volok/registry/HKEY_LOCAL_MACHINE"
else
  WINEPREFIX=$VOLOK_WINEPREFIX timeout 60 wineserver -w
  query=$(run 60 reg query "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VolokDemo" /v DisplayVersion | tr -d '\r')
  checks=$((checks + 1))
  [[ "$query" == *"DisplayVersion"*"REG_SZ"*"1.4.0.0"* ]] || fail "wine reg query of the user's entry: $query"
  run 60 reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VolokDemo" >/dev/null 2>&1
  expect_eq "wine reg query of the machine's entry fails" 1 $?
fi

step "the uninstall finds the user's install and entry"
uninstall_user
expect_eq "exit code" 0 $?
expect_absent "$installed"
expect_eq "the user's entry is gone" "InstallLocation=<missing>" "$(registered HKCU "$uninstall_key" InstallLocation)"
expect_eq "the demo's key is gone" "Version=<missing>" "$(registered HKCU '\Software\Volok\VolokDemo' Version)"

finish
