#!/usr/bin/env bash
# A "version.dll" planted beside a downloaded package's setup.exe (what a
# downloads folder invites): the engine, elevated, must never load it, at
# start or when it reads a version later, and must still work. The planted
# DLL leaves "version.dll.loaded" beside itself when it is loaded.
#
#   tests/e2e/planted_dll.sh wine
E2E_PLATFORM=wine
E2E_NAME=planted-dll
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# Wine prefers its own builtin version.dll; Windows takes the first one its
# search finds. Native first makes Wine search as Windows does.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;version=n,b"
planted=$BUILD_WIN64/bin/planted/version.dll
[ -f "$planted" ] || { fail "missing $planted (target planted_version)"; finish; }

step "the build, with a version.dll beside the engine"
cp -a "$e2e_root/examples/demo" "$work/source"
cp "$engine" "$work/source/setup.exe"
cp "$planted" "$work/source/version.dll"
(cd "$work/source" && run 120 ./setup.exe build) >"$out/build.txt" 2>&1 || fail "setup build failed"
expect_absent "$work/source/version.dll.loaded"
package=$work/source/output-installer/1.4.0.0
expect_file "$package/setup.exe"

step "the silent install, with a version.dll beside the package"
cp "$planted" "$package/version.dll"
(cd "$package" && run 120 ./setup.exe silent "$(winpath "$work/installed")") >"$out/install.txt" 2>&1
expect_eq "exit code" 0 $?
wait_idle
expect_absent "$package/version.dll.loaded"
expect_file "$work/installed/uninstall.exe"
expect_file "$work/installed/setup.log"

# That the planted DLL would be loaded by a program that imports it: else
# the checks above could not fail.
step "the planted DLL is loaded where a static import names it"
tool_copy=$work/importer
mkdir -p "$tool_copy"
cp "$planted" "$tool_copy/version.dll"
cp "$BUILD_WIN64/bin/planted/version_importer.exe" "$tool_copy/" 2>/dev/null &&
  (cd "$tool_copy" && run 60 ./version_importer.exe >/dev/null 2>&1)
expect_file "$tool_copy/version.dll.loaded"
finish
