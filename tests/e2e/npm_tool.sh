#!/usr/bin/env bash
# A real third-party program through its whole life under Wine: esbuild's
# Windows x64 command-line tool, fetched from the npm registry at pinned
# versions, packaged with examples/esbuild/installer.xml (the description
# README walks through), installed silently, run, upgraded to the next
# version, and uninstalled, with its folder and registration gone.
#
#   tests/e2e/npm_tool.sh
#
# The tarballs are kept in build/npm-cache/ (checked against their pinned
# SHA-1), so reruns do not fetch again. An unreachable registry fails the
# script and says so.
E2E_PLATFORM=wine
E2E_NAME=npm-tool
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cache=$e2e_root/build/npm-cache
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\esbuild'
declare -A shasum=([0.21.4]=11ef0398f9abee161193461910a507ef0d4c0c32 [0.21.5]=acad351d582d157bb145535db2a6ff53dd514b5c)

# fetch <version>: the npm package @esbuild/win32-x64@<version> unpacked into
# $work/esbuild-<version>/payload, beside the example's installer.xml.
fetch() {
  local version=$1 tarball=$cache/esbuild-win32-x64-$1.tgz
  mkdir -p "$cache"
  if ! echo "${shasum[$version]}  $tarball" | sha1sum -c --status 2>/dev/null; then
    rm -f "$tarball"
    # npm's own cache and logs stay in the work folder, not in the home.
    if ! (cd "$cache" && HOME=$work/npm-home npm_config_cache=$work/npm-home/cache timeout 90 \
      npm pack --fetch-retries=1 "@esbuild/win32-x64@$version") >"$out/npm-$version.txt" 2>&1; then
      fail "the npm registry is unreachable, @esbuild/win32-x64@$version not fetched:" \
        "$(grep -m 2 -E 'npm error (code|errno|request|network)' "$out/npm-$version.txt" | tr '\n' ' ')"
      finish
    fi
    echo "${shasum[$version]}  $tarball" | sha1sum -c --status ||
      { fail "the fetched $tarball is not the pinned one"; finish; }
  fi
  local source=$work/esbuild-$version
  mkdir -p "$source/payload"
  sed "s|<Number>0.21.5</Number>|<Number>$version</Number>|" "$e2e_root/examples/esbuild/installer.xml" >"$source/installer.xml"
  tar -xzf "$tarball" -C "$source/payload" --strip-components=1 || fail "$tarball does not unpack"
}
# build <version>: setup build on Linux with the Windows engine shipped.
build() {
  (cd "$work/esbuild-$1" && timeout 120 "$BUILD_NATIVE/bin/setup" build "$(winpath "$engine")" --strict) >"$out/build-$1.txt" 2>&1
  expect_eq "exit code of setup build --strict for $1" 0 $?
  package=$work/esbuild-$1/output-installer/$1.0
  expect_file "$package/esbuild.zip"
}
install() {  # <version>
  (cd "$package" && run 180 ./setup.exe silent) >"$out/install-$1.txt" 2>&1
  expect_eq "exit code of the silent install of $1" 0 $?
  wait_idle
  cp "$target/setup.log" "$out/setup-$1.log" 2>/dev/null
}
folder='C:\Program Files\esbuild'
target=$(hostpath "$folder")

step "fetch @esbuild/win32-x64 0.21.4 and 0.21.5 from the npm registry"
fetch 0.21.4
fetch 0.21.5

step "build and install 0.21.4"
build 0.21.4
install 0.21.4
expect_grep "$out/setup-0.21.4.log" "[RunWait] Программа завершилась с кодом 0: \"$folder\\esbuild.exe\" --version"
expect_eq "esbuild --version, installed" "0.21.4" "$(cd "$target" && run 60 ./esbuild.exe --version | tr -d '\r')"
expect_eq "DisplayVersion" "DisplayVersion=0.21.4.0" "$(tool reg HKLM "$uninstall_key" DisplayVersion 2>&1 | tr -d '\r')"

step "upgrade to 0.21.5: the earlier version moves into Backup"
build 0.21.5
install 0.21.5
expect_eq "esbuild --version, upgraded" "0.21.5" "$(cd "$target" && run 60 ./esbuild.exe --version | tr -d '\r')"
expect_same_file "$work/esbuild-0.21.5/payload/esbuild.exe" "$target/esbuild.exe"
expect_eq "DisplayVersion" "DisplayVersion=0.21.5.0" "$(tool reg HKLM "$uninstall_key" DisplayVersion 2>&1 | tr -d '\r')"
expect_eq "installed files" "$(printf '%s\n' README.md esbuild.exe package.json setup.log uninstall.exe uninstall.xml)" \
  "$(cd "$target" && ls | grep -v '^Backup')"

step "uninstall"
(cd "$target" && run 120 ./uninstall.exe silent) >"$out/uninstall.txt" 2>&1
expect_eq "exit code of the silent uninstall" 0 $?
wait_idle
expect_absent "$target"
expect_eq "registration after the uninstall" 1 "$(tool key HKLM "$uninstall_key" >/dev/null 2>&1; echo $?)"
finish
