#!/usr/bin/env bash
# The single-file package: "setup build" writes <ShortName>-<version>-setup.exe
# beside the folder form. Copied alone into an empty folder it installs
# silently, and the uninstall.exe it writes is the bare engine. Under Wine the
# build signs: osslsigncode verifies the one file and the installed
# uninstall.exe, which uninstalls. A byte changed anywhere in the file (the
# engine, setup.xml, the payload, the bare engine, the manifest) breaks the
# signature and makes the install fail with nothing installed.
#
#   tests/e2e/single_file.sh wine|native
E2E_PLATFORM=${1:-wine}
E2E_NAME=single-file-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
name=VolokDemo-1.4.0.0-setup.exe
keys=$work/keys
mkdir -p "$keys"
verify() { osslsigncode verify -CAfile "$keys/plain.pem" -in "$1" >"$out/verify-$(basename "$1").txt" 2>&1; }

step "build the package with the $E2E_PLATFORM engine"
cp -a "$e2e_root/examples/demo" "$work/demo"
sign=()
if [ "$E2E_PLATFORM" = wine ]; then
  command -v osslsigncode >/dev/null || { fail "osslsigncode is not installed (scripts/bootstrap installs it)"; finish; }
  openssl req -x509 -newkey rsa:2048 -days 2 -subj "/CN=volok e2e single" -noenc \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/plain.key" -out "$keys/plain.pem" >/dev/null 2>&1 ||
    fail "openssl made no certificate"
  sign=("$(winpath "$engine")" --sign "$keys/plain.pem" --sign-key "$keys/plain.key")
fi
(cd "$work/demo" && timeout 300 "$BUILD_NATIVE/bin/setup" build "${sign[@]}" --json "$work/report.json") \
  >"$out/build.txt" 2>&1
expect_eq "exit code of the build" 0 $?
package=$work/demo/output-installer/1.4.0.0
expect_file "$package/$name"
expect_grep "$out/build.txt" "[MakeUpdate]: Установщик одним файлом: output-installer\\1.4.0.0\\$name"
expect_eq "the report's installer" "$name $(sha256sum <"$package/$name" | cut -d' ' -f1)" \
  "$(python3 -c 'import json,sys; i=json.load(open(sys.argv[1]))["installer"]; print(i["name"], i["sha256"])' \
    "$work/report.json")"
# The folder form stays as it was: its setup.exe reads the files beside it.
expect_eq "the folder form's files" "$name app.zip license.txt settings.ini setup.exe setup.xml" \
  "$(cd "$package" && ls | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
python3 "$e2e_root/tests/e2e/tools/single_file_parts.py" "$package/$name" >"$out/parts.txt"
expect_eq "the parts of the single file" "setup.exe setup.exe.tail uninstall.exe setup.xml settings.ini license.txt app.zip manifest" \
  "$(cut -d' ' -f1 "$out/parts.txt" | tr '\n' ' ' | sed 's/ $//')"
if [ "$E2E_PLATFORM" = wine ]; then
  verify "$package/$name"
  expect_eq "osslsigncode verify of the single file" 0 $?
fi

step "copied alone into an empty folder, it installs silently"
mkdir -p "$work/alone"
cp "$package/$name" "$work/alone/"
(cd "$work/alone" && run 300 "./$name" silent "$(winpath "$work/installed")") >"$out/install.txt" 2>&1
expect_eq "exit code of the install from the single file" 0 $?
wait_idle
expect_file "$work/installed/license.txt"
expect_file "$work/installed/settings.ini"
expect_eq "files beside the single file" "$name" "$(cd "$work/alone" && ls | grep -v '\.log$')"
# The uninstaller is the bare engine, byte for byte as it was signed.
read -r _ bare_at bare_size < <(grep '^uninstall.exe ' "$out/parts.txt")
expect_eq "the installed uninstall.exe" "$(tail -c +$((bare_at + 1)) "$package/$name" | head -c "$bare_size" | sha256sum)" \
  "$(sha256sum <"$work/installed/uninstall.exe")"
if [ "$E2E_PLATFORM" = wine ]; then
  verify "$work/installed/uninstall.exe"
  expect_eq "osslsigncode verify of the installed uninstall.exe" 0 $?
else
  expect_same_file "$engine" "$work/installed/uninstall.exe"
fi
(cd "$work/installed" && run 180 ./uninstall.exe silent) >"$out/uninstall.txt" 2>&1
expect_eq "exit code of the uninstaller" 0 $?
wait_idle
expect_absent "$work/installed"

step "a byte changed anywhere breaks the signature and the install"
flip() {  # <file> <offset>
  python3 -c 'import sys; p, at = sys.argv[1], int(sys.argv[2]); d = bytearray(open(p, "rb").read()); d[at] ^= 0x20; open(p, "wb").write(d)' "$1" "$2"
}
part_at() { awk -v n="$1" -v i="$2" '$1 == n { print $2 + i }' "$out/parts.txt"; }
# A byte of the engine that its loader never looks at, so the program still
# starts and its own check must refuse it: the PE's DOS stub text; the
# ELF's section headers at the end of its image.
engine_at=$(part_at setup.exe 78)
[ "$E2E_PLATFORM" = native ] && engine_at=$(awk '$1 == "setup.exe.tail" { print $2 + $3 - 3 }' "$out/parts.txt")
for place in "engine:$engine_at" "setup.xml:$(part_at setup.xml 7)" "payload:$(part_at app.zip 100)" \
  "bare-engine:$(part_at uninstall.exe 78)" "manifest:$(part_at manifest 30)"; do
  what=${place%%:*} at=${place#*:}
  rm -rf "$work/changed" && mkdir -p "$work/changed"
  cp "$package/$name" "$work/changed/"
  flip "$work/changed/$name" "$at"
  if [ "$E2E_PLATFORM" = wine ]; then
    verify "$work/changed/$name"
    expect_eq "osslsigncode verify with a byte of the $what changed fails" 1 "$([ $? -ne 0 ] && echo 1)"
  fi
  (cd "$work/changed" && run 180 "./$name" silent "$(winpath "$work/installed-$what")") >"$out/changed-$what.txt" 2>&1
  expect_eq "exit code with a byte of the $what changed (1603, its low 8 bits)" 67 $?
  wait_idle
  expect_absent "$work/installed-$what"
  expect_eq "log with a byte of the $what changed" "Fatal Ошибка расчета контрольных сумм установочных файлов." \
    "$(log_stamped "$work/changed/${name%.exe}.log")"
done
finish
