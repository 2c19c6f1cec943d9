#!/usr/bin/env bash
# A signed package: "setup build --sign" with a certificate made here by
# openssl signs the Windows engine shipped as setup.exe (osslsigncode); the
# signature verifies on the package's setup.exe and on the uninstall.exe an
# install under Wine leaves. Signing that cannot be done fails the build
# loudly and leaves no package that could pass for a signed one.
#
#   tests/e2e/signed_package.sh
E2E_PLATFORM=wine
E2E_NAME=signed-package
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
windows_engine=$BUILD_WIN64/bin/setup.exe
native_engine=$BUILD_NATIVE/bin/setup
keys=$work/keys
mkdir -p "$keys"
command -v osslsigncode >/dev/null || { fail "osslsigncode is not installed (scripts/bootstrap installs it)"; finish; }

step "a code-signing certificate of our own, and a second one"
make_cert() {  # <name> <openssl key options...>
  local name=$1
  shift
  openssl req -x509 -newkey rsa:2048 -days 2 -subj "/CN=volok e2e $name" "$@" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/$name.key" -out "$keys/$name.pem" >/dev/null 2>&1 ||
    fail "openssl made no certificate $name"
}
make_cert plain -noenc
printf 'e2e secret\n' >"$keys/pass.txt"
make_cert locked -passout "file:$keys/pass.txt"
make_cert other -noenc

# build <name> <arguments...>: setup build in a fresh copy of the demo, the
# build's output in $out/<name>.txt, its exit code in $status.
build() {
  local name=$1
  shift
  rm -rf "$work/$name" && cp -a "$e2e_root/examples/demo" "$work/$name"
  (cd "$work/$name" && timeout 120 "$native_engine" build "$@") >"$out/$name.txt" 2>&1
  status=$?
  package=$work/$name/output-installer/1.4.0.0
}
verify() { osslsigncode verify -CAfile "$1" -in "$2" >"$out/verify-$(basename "$2").txt" 2>&1; }

step "build signed with the Windows engine"
build signed "$(winpath "$windows_engine")" --sign "$keys/plain.pem" --sign-key "$keys/plain.key"
expect_eq "exit code of the signed build" 0 "$status"
expect_grep "$out/signed.txt" "[MakeUpdate]: Подпись setup.exe: $keys/plain.pem"
expect_grep "$out/signed.txt" "[MakeUpdate]: Установка создана. Предупреждений: 0"
verify "$keys/plain.pem" "$package/setup.exe"
expect_eq "osslsigncode verify of the package's setup.exe" 0 $?
expect_grep "$out/verify-setup.exe.txt" "Subject: /CN=volok e2e plain"
checks=$((checks + 1))
cmp -s "$windows_engine" "$package/setup.exe" && fail "setup.exe is the unsigned engine"
expect_eq "files left by the signing" "" "$(cd "$package" && ls | grep -iv -e '^setup\.\(exe\|xml\)$' -e '^app\.zip$' \
  -e '^license\.txt$' -e '^settings\.ini$' -e '^VolokDemo-1\.4\.0\.0-setup\.exe$')"
verify "$keys/other.pem" "$package/setup.exe"
expect_eq "verify against another certificate fails" 1 "$([ $? -ne 0 ] && echo 1)"

step "install the signed package under Wine: uninstall.exe keeps the signature"
(cd "$package" && run 180 ./setup.exe silent "$(winpath "$work/installed")") >"$out/install.txt" 2>&1
expect_eq "exit code of the silent install" 0 $?
wait_idle
expect_same_file "$package/setup.exe" "$work/installed/uninstall.exe"
verify "$keys/plain.pem" "$work/installed/uninstall.exe"
expect_eq "osslsigncode verify of the installed uninstall.exe" 0 $?
(cd "$work/installed" && run 120 ./uninstall.exe silent) >"$out/uninstall.txt" 2>&1
expect_eq "exit code of the signed uninstaller" 0 $?
wait_idle
expect_absent "$work/installed"

step "a signed package whose app.zip was replaced is refused, its signature still valid"
cp -a "$package" "$work/swapped"
python3 - "$work/swapped/app.zip" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) // 2] ^= 0x5A  # same size, other bytes
open(path, "wb").write(data)
PY
verify "$keys/plain.pem" "$work/swapped/setup.exe"
expect_eq "osslsigncode verify of the untouched setup.exe" 0 $?
(cd "$work/swapped" && run 180 ./setup.exe silent "$(winpath "$work/installed-swapped")") >"$out/swapped.txt" 2>&1
expect_eq "exit code of the altered package (1603, its low 8 bits)" 67 $?
wait_idle
expect_absent "$work/installed-swapped"
expect_eq "log of the altered package" "Fatal Ошибка расчета контрольных сумм установочных файлов." \
  "$(log_stamped "$work/swapped/setup.log")"

step "a key locked by a password, given in a file"
build locked "$(winpath "$windows_engine")" --sign "$keys/locked.pem" --sign-key "$keys/locked.key" \
  --sign-pass-file "$keys/pass.txt"
expect_eq "exit code with --sign-pass-file" 0 "$status"
verify "$keys/locked.pem" "$package/setup.exe"
expect_eq "osslsigncode verify of the password-protected signature" 0 $?

# Each failure: exit code 1, the reason in the build's output, and no
# package folder left behind.
expect_refused() {  # <name> <text the output must hold>
  expect_eq "exit code of build $1" 1 "$status"
  expect_grep "$out/$1.txt" "$2"
  expect_grep "$out/$1.txt" "[MakeUpdate]: Установка не создана."
  expect_absent "$package"
}
step "signing that cannot be done fails the build"
build wrong-key "$(winpath "$windows_engine")" --sign "$keys/plain.pem" --sign-key "$keys/other.key"
expect_refused wrong-key "[MakeUpdate] Ошибка: Не удалось подписать output-installer\\1.4.0.0\\setup.exe: osslsigncode завершилась с кодом 255"
build missing-key "$(winpath "$windows_engine")" --sign "$keys/plain.pem" --sign-key "$keys/none.key"
expect_refused missing-key "[MakeUpdate] Ошибка: Файл для подписи не найден: $keys/none.key."
build locked-no-pass "$(winpath "$windows_engine")" --sign "$keys/locked.pem" --sign-key "$keys/locked.key"
expect_refused locked-no-pass "Не удалось подписать output-installer\\1.4.0.0\\setup.exe: osslsigncode завершилась с кодом 255: Enter PEM pass phrase: Failed to decode private key file: $keys/locked.key (Wrong password?)"
build pass-on-line "$(winpath "$windows_engine")" --sign "$keys/locked.pem" --sign-pass "e2e secret"
expect_refused pass-on-line "Пароль в командной строке не принимается"
build native-engine --sign "$keys/plain.pem" --sign-key "$keys/plain.key"
expect_refused native-engine "Файл не является программой Windows x64 или x86"
VOLOK_OSSLSIGNCODE=$work/no-such-tool build no-tool "$(winpath "$windows_engine")" --sign "$keys/plain.pem"
expect_refused no-tool "Подпись невозможна: программа подписи $work/no-such-tool не запускается"
finish
