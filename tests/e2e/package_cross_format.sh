#!/usr/bin/env bash
# One package format on both hosts: examples/demo built natively with the
# Windows engine as "setup.exe" installs under Wine, and built under Wine with
# the native engine installs natively. A link in the payload folder comes back
# as a link natively and as a copy of its file on Windows.
#
#   tests/e2e/package_cross_format.sh <native build dir> <win64 build dir>
#
# Uses a fresh Wine prefix and a private native registry in one temporary
# folder, removed at the end. Exits 0 when both installs completed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
native=$(cd "$1" && pwd)/bin/setup
windows=$(cd "$2" && pwd)/bin/setup.exe
work=$(mktemp -d "${TMPDIR:-/tmp}/volok-cross-XXXXXX")
export VOLOK_WINEPREFIX=$work/wineprefix VOLOK_REGISTRY_DIR=$work/registry
trap 'WINEPREFIX=$VOLOK_WINEPREFIX wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$VOLOK_REGISTRY_DIR"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { timeout 300 "$here/scripts/wine-run" "$@"; }
status=0

check_install() {  # <what> <install folder>
  if grep -q "Установка завершена\." "$2/setup.log" 2>/dev/null && [ -f "$2/docs/readme.txt" ] &&
    [ -f "$2/license.txt" ] && [ -f "$2/uninstall.exe" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1"; sed 's/\r$//' "$2/setup.log" 2>/dev/null || true; status=1
  fi
}

# A link in the payload folder (the demo's readme under another name): a
# link again natively, a copy of its file on Windows.
check_latest() {  # <what> <install folder> link|copy
  local latest=$2/docs/latest.txt kind=copy
  [ -L "$latest" ] && kind=link
  if [ "$kind" = "$3" ] && cmp -s "$2/docs/readme.txt" "$latest"; then
    echo "ok: $1, docs/latest.txt is a $3"
  else
    echo "FAILED: $1, docs/latest.txt should be a $3 of docs/readme.txt"; ls -l "$2/docs"; status=1
  fi
}

# Built natively with the Windows engine, installed under Wine.
cp -r "$here/examples/demo" "$work/linux-built"
ln -s readme.txt "$work/linux-built/payload/app/docs/latest.txt"
(cd "$work/linux-built" && "$native" build "$(winpath "$windows")" >/dev/null)
package=$(ls -d "$work/linux-built/output-installer"/*/)
python3 "$here/tests/e2e/tools/sealed_copy.py" "$windows" "$package/setup.exe" || { echo "FAILED: the package does not carry the Windows engine"; status=1; }
(cd "$package" && wine_run ./setup.exe silent "$(winpath "$work/on-wine")") || true
check_install "built natively, installed under Wine" "$work/on-wine"
check_latest "built natively, installed under Wine" "$work/on-wine" copy

# The same sources built and installed natively.
cp -r "$work/linux-built" "$work/native-built"
rm -rf "$work/native-built/output-installer"
(cd "$work/native-built" && "$native" build >/dev/null)
package=$(ls -d "$work/native-built/output-installer"/*/)
(cd "$package" && timeout 120 ./setup.exe silent "$(winpath "$work/native-linux")") || true
check_install "built natively, installed natively" "$work/native-linux"
check_latest "built natively, installed natively" "$work/native-linux" link

# Built under Wine with the native engine, installed natively.
cp -r "$here/examples/demo" "$work/wine-built"
ln -s readme.txt "$work/wine-built/payload/app/docs/latest.txt"
(cd "$work/wine-built" && wine_run "$windows" build "$(winpath "$native")" >/dev/null)
package=$(ls -d "$work/wine-built/output-installer"/*/)
python3 "$here/tests/e2e/tools/sealed_copy.py" "$native" "$package/setup.exe" || { echo "FAILED: the package does not carry the native engine"; status=1; }
chmod +x "$package/setup.exe"  # Wine's copy keeps no Unix execute bit
(cd "$package" && timeout 120 ./setup.exe silent "$(winpath "$work/native")") || true
check_install "built under Wine, installed natively" "$work/native"
check_latest "built under Wine (links followed), installed natively" "$work/native" copy
exit $status
