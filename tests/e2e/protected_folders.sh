#!/usr/bin/env bash
# Install folders and deletes that would reach a protected folder by another
# spelling: an 8.3 short name, the \\?\ and //?/ forms, a device path, a link
# made by the host to a protected folder; an uninstall entry that climbs out
# of the install folder with "..", and an install whose deepest file lies past
# 300 characters, removed again by the silent uninstall. Every refused run
# must exit 1603 and leave the protected folders byte-identical.
#
# Under Wine every folder named here is in the fresh prefix of the run;
# natively in the run's own home. Nothing outside the work folder is named.
#
#   tests/e2e/protected_folders.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=protected-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'

# One digest of a whole tree: names, kinds, link targets and file contents.
tree_digest() {
  python3 - "$1" <<'PY'
import hashlib, os, sys
root, h = sys.argv[1], hashlib.sha256()
for top, dirs, files in os.walk(root):
    dirs.sort()
    for name in sorted(dirs + files):
        path = os.path.join(top, name)
        h.update(os.path.relpath(path, root).encode("utf-8", "surrogateescape") + b"\0")
        if os.path.islink(path):
            h.update(b"L" + os.readlink(path).encode("utf-8", "surrogateescape"))
        elif os.path.isfile(path):
            with open(path, "rb") as f:
                h.update(b"F" + hashlib.sha256(f.read()).digest())
print(h.hexdigest())
PY
}

if [ "$E2E_PLATFORM" = wine ]; then
  run 120 cmd /c exit 0 >/dev/null 2>&1  # makes the prefix
  program_files=$VOLOK_WINEPREFIX/drive_c/Program\ Files
  roaming=$(hostpath "$(run 60 cmd /c echo %APPDATA% | tr -d '\r\n')")
  protected=("$program_files" "$VOLOK_WINEPREFIX/drive_c/Program Files (x86)" "$roaming")
  # The short names of both program-files roots as the system spells them
  # (Wine makes hashed ones, PROG~XYZ, not PROGRA~1).
  printf '@dir /x C:\\\r\n' >"$work/short.cmd"
  mapfile -t short < <(run 60 cmd /c "$(winpath "$work/short.cmd")" 2>/dev/null | tr -d '\r' |
    sed -n 's/.*<DIR> *\([^ ]*~[^ ]*\) *Program Files\( (x86)\)\{0,1\}$/C:\\\1/p')
  ln -s "$roaming" "$VOLOK_WINEPREFIX/drive_c/roaming-link"
  linked='C:\roaming-link'
  spelled=('\\?\C:\Program Files' '//?/C:/Program Files' '\\.\C:\Program Files')
  install_parent=$program_files
else
  # The run's own home: its configuration folder and the place programs go.
  config=$HOME/.config
  install_parent=$work/programs
  mkdir -p "$config/other" "$install_parent/Other program"
  echo "settings" >"$config/other/settings.ini"
  echo "another program" >"$install_parent/Other program/program.txt"
  protected=("$config" "$install_parent")
  ln -s "$config" "$work/config-link"
  linked=$(winpath "$work/config-link")
  config_win=$(winpath "$config")
  short=()
  spelled=("\\\\?\\$config_win" "//?/${config_win//\\//}" "\\\\.\\$config_win")
fi

digests() { local f; for f in "${protected[@]}"; do tree_digest "$f"; done; }
before=$(digests)

step "build a package whose deepest file lies past 300 characters"
cp -a "$e2e_root/examples/demo" "$work/source"
deep=payload/app
for _ in $(seq 1 8); do deep=$deep/a-rather-long-folder-name-of-forty-chars; done
mkdir -p "$work/source/$deep"
echo "deep" >"$work/source/$deep/deepest-file.txt"
# An uninstall entry that climbs out of the install folder, before the one
# that removes the folder itself.
python3 - "$work/source/installer.xml" <<'PY'
import sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
entry = """    <File>
      <Name>Над папкой программы</Name>
      <FileName>{InstallPath}\\..</FileName>
      <Action>DeleteFolder</Action>
      <Destination>-</Destination>
    </File>
"""
text = text.replace("  <UnInstall>\n", "  <UnInstall>\n" + entry, 1)
open(path, "w", encoding="utf-8").write(text)
PY
(cd "$work/source" && run 180 "$engine" build) >"$out/build.txt" 2>&1
expect_eq "exit code of setup build" 0 $?
package=$work/source/output-installer/1.4.0.0

# refused <folder as typed>: the silent install must exit 1603 with the
# install-folder refusal and register nothing.
refused() {
  rm -f "$package/setup.log"
  (cd "$package" && run 120 ./setup.exe silent "$1") >>"$out/refused.txt" 2>&1
  expect_eq "exit code for '$1' (1603, its low 8 bits)" 67 $?
  wait_idle
  expect_grep "$package/setup.log" "Недопустимая папка установки"
  log_stamped "$package/setup.log" >>"$out/refused.log"
  expect_eq "registration after '$1'" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
}

step "other spellings of protected folders are refused"
for folder in "${spelled[@]}" "$linked"; do refused "$folder"; done
if [ "$E2E_PLATFORM" = wine ]; then
  expect_eq "short names of the program-files roots found" 2 "${#short[@]}"
  for folder in "${short[@]}"; do refused "$folder"; done
fi
expect_eq "protected folders after the refused runs" "$before" "$(digests)"

step "install with the deepest file past 300 characters"
if [ "$E2E_PLATFORM" = wine ]; then
  folder='C:\Program Files\Volok Demo'
else
  folder=$(winpath "$install_parent/Volok Demo")
fi
target=$(hostpath "$folder")
(cd "$package" && run 300 ./setup.exe silent "$folder") >"$out/install.txt" 2>&1
expect_eq "exit code of the install" 0 $?
wait_idle
deepest="$folder\\${deep#payload/app/}\\deepest-file.txt"
deepest=${deepest//\//\\}
checks=$((checks + 1))
[ ${#deepest} -gt 300 ] || fail "the deepest path has only ${#deepest} characters"
expect_eq "deepest file" "deep" "$(cat "$(hostpath "$deepest")" 2>&1)"
expect_file "$target/uninstall.exe"

step "silent uninstall: everything removed, nothing above the folder"
(cd "$target" && run 300 ./uninstall.exe silent) >"$out/uninstall.txt" 2>&1
expect_eq "exit code of the uninstall" 0 $?
wait_idle
expect_absent "$target"
expect_eq "registration after the uninstall" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
expect_eq "protected folders after the uninstall" "$before" "$(digests)"
finish
