#!/usr/bin/env bash
# Failures a user meets, each on its own copy of one freshly built demo
# package: a payload file altered after the build (one with a CRC, one
# without), an engine that lacks the package's manifest, a "setup.xml"
# altered by one digit, installing without administrator rights, and a
# payload archive that cannot be fully unpacked. None of them may leave an installation or a
# registration behind, and each silent run must end with exit code 1.
#
#   tests/e2e/failures.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=failures-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'

step "build the demo package"
cp -a "$e2e_root/examples/demo" "$work/source"
(cd "$work/source" && run 120 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
built=$work/source/output-installer/1.4.0.0

# A fresh copy of the package; prints its folder.
package_copy() {
  cp -a "$built" "$work/$1"
  printf '%s' "$work/$1"
}
# install <package> <install folder, host path>: the silent install's exit
# code, with its output kept.
install() {
  (cd "$1" && run 120 ./setup.exe silent "$(winpath "$2")") >"$out/$(basename "$1").txt" 2>&1
  local code=$?
  wait_idle
  return $code
}
expect_unregistered() {
  expect_eq "registration" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
  expect_eq "the description's registry key" 1 "$(tool key HKCU 'Software\Volok\VolokDemo' >/dev/null 2>&1; echo $?)"
}
# The messages of the log beside the package's engine (no install folder).
package_log() { log_stamped "$1/setup.log" | tee "$out/$(basename "$1").log"; }

step "a payload file altered after the build"
package=$(package_copy altered-payload)
printf 'x' >>"$package/license.txt"
install "$package" "$work/installed-1"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
expect_absent "$work/installed-1"
expect_eq "log" "Fatal Ошибка расчета контрольных сумм установочных файлов." "$(package_log "$package")"
expect_unregistered

step "a line appended to a file the description records without CRC"
package=$(package_copy altered-settings)
printf 'evil=1\r\n' >>"$package/settings.ini"
install "$package" "$work/installed-1b"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
expect_absent "$work/installed-1b"
expect_eq "log" "Fatal Ошибка расчета контрольных сумм установочных файлов." "$(package_log "$package")"
expect_unregistered

step "an engine without the package's manifest"
package=$(package_copy bare-engine)
cp "$engine" "$package/setup.exe"
install "$package" "$work/installed-1c"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
expect_absent "$work/installed-1c"
expect_eq "log" "Fatal В установщике нет описи файлов пакета: пакет собран без неё или повреждён. Установка невозможна." \
  "$(package_log "$package")"
expect_unregistered

step "setup.xml altered by one digit"
package=$(package_copy altered-description)
# The first pair of hexadecimal digits encodes the first Base64 character of
# the cipher text: change its second digit so that it still names a Base64
# character, and the first block of the XML decrypts to noise.
python3 - "$package/setup.xml" <<'PY'
import string, sys
path = sys.argv[1]
text = open(path).read()
alphabet = string.ascii_letters + string.digits + "+/"
for digit in "0123456789ABCDEF":
    pair = text[0] + digit
    if pair != text[:2] and chr(int(pair, 16)) in alphabet:
        open(path, "w").write(pair + text[2:])
        break
PY
install "$package" "$work/installed-2"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
expect_absent "$work/installed-2"
# The manifest sealed into setup.exe finds it before the description is parsed.
expect_eq "log" "Fatal Ошибка расчета контрольных сумм установочных файлов." "$(package_log "$package")"
expect_unregistered

step "installing without administrator rights (injected)"
package=$(package_copy no-rights)
"$native_tool" seal "$no_rights" "$package" || fail "cannot seal the engine without rights"
# An earlier install of this program lives in the folder (its uninstall
# description names the same program): nothing of it may be touched.
mkdir -p "$work/installed-3"
echo "earlier install" >"$work/installed-3/earlier.txt"
cp "$package/setup.xml" "$work/installed-3/uninstall.xml"
install "$package" "$work/installed-3"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
expect_eq "install folder" "$(printf '%s\n' earlier.txt setup.log uninstall.xml)" "$(ls "$work/installed-3")"
expect_eq "earlier file" "earlier install" "$(cat "$work/installed-3/earlier.txt")"
expect_eq "log" \
  "Fatal Установка завершена с ошибкой: Недостаточно прав. Попробуйте запустить программу с правами администратора." \
  "$(log_stamped "$work/installed-3/setup.log")"
expect_unregistered

step "a payload archive that cannot be fully unpacked"
package=$(package_copy damaged-archive)
# Damage the compressed data of one item (beyond its 12-byte encryption
# header), then record the damaged archive's checksum and seal the package
# again, as a publisher's build of a damaged archive would be, so that the
# start-up check passes and UnZip meets the damage.
python3 - "$package/app.zip" <<'PY'
import struct, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    info = z.getinfo("docs/readme.txt")
data = bytearray(open(path, "rb").read())
name_len, extra_len = struct.unpack("<HH", data[info.header_offset + 26:info.header_offset + 30])
start = info.header_offset + 30 + name_len + extra_len + 12
data[start + (info.compress_size - 12) // 2] ^= 0x55
open(path, "wb").write(data)
PY
crc=$(python3 -c 'import sys,zlib; print("%08X" % zlib.crc32(open(sys.argv[1],"rb").read()))' "$package/app.zip")
decrypt "$package/setup.xml" | python3 -c '
import re, sys
text = sys.stdin.read()
print(re.sub(r"(<FileName>app\.zip</FileName>.*?<CRC32>)[0-9A-F]{8}", r"\g<1>" + sys.argv[1], text, count=1, flags=re.S), end="")' \
  "$crc" >"$work/setup.txt"
"$native_tool" encrypt "$work/setup.txt" "$package/setup.xml" || fail "cannot rewrite setup.xml"
"$native_tool" seal "$engine" "$package" || fail "cannot seal the damaged package"
install "$package" "$work/installed-4"
expect_eq "exit code (1603, its low 8 bits)" 67 $?
log_stamped "$work/installed-4/setup.log" >"$out/damaged-archive.log"
expect_eq "last log line" \
  "Fatal Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: Не все файлы распакованы. Распаковано 3 из 4." \
  "$(tail -n 1 "$out/damaged-archive.log")"
expect_absent "$work/installed-4/docs/readme.txt"
# The folder held nothing before: what the failed run wrote is taken back.
expect_absent "$work/installed-4/bin/demo.cmd"
expect_absent "$work/installed-4/uninstall.xml"
expect_absent "$work/installed-4/uninstall.exe"
expect_unregistered
finish
