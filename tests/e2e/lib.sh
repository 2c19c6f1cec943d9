# Shared by the end-to-end scripts (sourced). Each script runs the engine as
# its users do, natively or under Wine, and checks what it left behind.
#
# Before sourcing: E2E_NAME (the script's name for its output folder) and
# E2E_PLATFORM (wine or native). From the environment: BUILD_NATIVE and
# BUILD_WIN64, the build folders (absolute paths) holding bin/setup(.exe),
# bin/e2e_tool(.exe) and bin/setup_no_rights(.exe).
#
# Output: build/e2e/<E2E_NAME>/ holds the logs, decrypted descriptions and
# screenshots of the run; the work folder (packages, installs, the Wine
# prefix) is removed at the end, unless E2E_KEEP=1 (for a closer look).
set -uo pipefail

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${BUILD_NATIVE:?set BUILD_NATIVE to the native build folder}" "${BUILD_WIN64:?set BUILD_WIN64 to the win64 build folder}"
out=$e2e_root/build/e2e/$E2E_NAME
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d "$e2e_root/build/e2e-work-XXXXXX")
native_tool=$BUILD_NATIVE/bin/e2e_tool
failures=0
checks=0
E2E_STEP="start"

# --- reporting ---------------------------------------------------------------

step() { E2E_STEP=$1; echo "== $1"; }
fail() {
  failures=$((failures + 1))
  echo "FAILED [$E2E_NAME] $E2E_STEP: $*"
}
# expect_eq <what> <expected> <actual>: multi-line values are shown as a diff.
expect_eq() {
  checks=$((checks + 1))
  [ "$2" = "$3" ] && return 0
  if [[ "$2$3" == *$'\n'* ]]; then
    fail "$1 differs (- expected, + actual):"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed -n '/^[<>]/{s/^</  -/;s/^>/  +/;p}'
  else
    fail "$1: expected '$2', got '$3'"
  fi
}
expect_file() { checks=$((checks + 1)); [ -f "$1" ] || fail "missing file $1"; }
expect_absent() { checks=$((checks + 1)); [ ! -e "$1" ] || fail "should not exist: $1"; }
expect_same_file() { checks=$((checks + 1)); cmp -s "$1" "$2" || fail "$2 differs from $1"; }
# <engine> <package's setup.exe>: the engine as the build seals it: the same
# bytes but its manifest record, and the manifest appended.
expect_sealed_copy() {
  checks=$((checks + 1))
  python3 "$e2e_root/tests/e2e/tools/sealed_copy.py" "$1" "$2" || fail "$2 is not $1 sealed with a manifest"
}
expect_grep() {  # <file> <fixed text>
  checks=$((checks + 1))
  grep -qF -- "$2" "$1" 2>/dev/null || fail "$(basename "$1") lacks: $2"
}
finish() {
  echo "-- $E2E_NAME: $checks checks, $failures failed (output in $out)"
  [ "$failures" -eq 0 ]
  exit $?
}

# --- running the engine --------------------------------------------------------

export VOLOK_WINEPREFIX=$work/prefix
if [ "$E2E_PLATFORM" = wine ]; then
  engine=$BUILD_WIN64/bin/setup.exe
  no_rights=$BUILD_WIN64/bin/setup_no_rights.exe
else
  engine=$BUILD_NATIVE/bin/setup
  no_rights=$BUILD_NATIVE/bin/setup_no_rights
  # A fresh account, as a new user meets the engine: an empty home in the
  # work folder and none of the variables that choose other places, so the
  # engine must make its registry, shell folders and Trash under the home
  # itself. Everything it touches stays in the work folder.
  unset VOLOK_REGISTRY_DIR $(compgen -e | grep '^XDG_')
  export TMPDIR=$work/tmp HOME=$work/home
  mkdir -p "$TMPDIR" "$HOME"
fi

cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  if [ -d "$VOLOK_WINEPREFIX" ]; then WINEPREFIX=$VOLOK_WINEPREFIX timeout 30 wineserver -k 2>/dev/null; fi
  if [ "${E2E_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# run <seconds> <program> <args...>: the program in the current folder, bounded.
run() {
  local seconds=$1
  shift
  if [ "$E2E_PLATFORM" = wine ]; then
    timeout "$seconds" "$e2e_root/scripts/wine-run" "$@"
  else
    timeout "$seconds" "$@"
  fi
}
# Waits (bounded) until every process the runs started has ended: under Wine
# the relaunched uninstaller and its batch belong to the prefix's server.
wait_idle() {
  if [ "$E2E_PLATFORM" = wine ]; then
    WINEPREFIX=$VOLOK_WINEPREFIX timeout 120 wineserver -w || fail "the prefix's processes did not end"
  else
    # The relaunched uninstaller runs from the work folder; the batch that
    # removes it runs detached under another command line, so its work is
    # awaited by what it deletes.
    local _
    for _ in $(seq 1 120); do
      pgrep -f "$work" >/dev/null || compgen -G "$TMPDIR/volok-uninstall-*" >/dev/null || return 0
      sleep 0.5
    done
    fail "processes started from $work did not end"
  fi
}
# tool <args...>: e2e_tool of the platform under test (the registry it sees).
tool() {
  if [ "$E2E_PLATFORM" = wine ]; then
    run 60 "$BUILD_WIN64/bin/e2e_tool.exe" "$@"
  else
    "$native_tool" "$@"
  fi
}
decrypt() { "$native_tool" decrypt "$1"; }

# --- paths -------------------------------------------------------------------

# The Windows path of a host path (drive Z: is "/", as under Wine).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# The host path of a Windows path: C: is the prefix's drive_c, Z: is "/".
hostpath() {
  local p=${1//\\//}
  case "$p" in
    [Cc]:*) printf '%s/drive_c%s' "$VOLOK_WINEPREFIX" "${p:2}" ;;
    [Zz]:*) printf '%s' "${p:2}" ;;
    *) printf '%s' "$p" ;;
  esac
}
# The temporary folder the engine sees, as a host path.
temp_folder() {
  if [ "$E2E_PLATFORM" = wine ]; then
    hostpath "$(run 60 cmd /c echo %TEMP% | tr -d '\r\n')"
  else
    printf '%s' "$TMPDIR"
  fi
}

# --- reading results -----------------------------------------------------------

# Every element with text of an XML file as "path=text" lines, in document
# order (python's own parser, not ours).
xml_leaves() {
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
def walk(node, path):
    path = path + "/" + node.tag if path else node.tag
    kids = list(node)
    if not kids:
        print(f"{path}={(node.text or '').strip()}")
    for kid in kids:
        walk(kid, path)
walk(ET.parse(sys.argv[1]).getroot(), "")
PY
}
# A log file's messages: the "yyyy.mm.dd;hh:nn:ss;" prefix checked and cut
# (lines of a multi-line message carry none); CR LF endings and the byte-order
# mark checked and removed.
log_messages() {
  python3 - "$1" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
if not data.startswith(b"\xef\xbb\xbf"):
    print("<no UTF-8 byte-order mark>")
data = data[3:] if data.startswith(b"\xef\xbb\xbf") else data
text = data.decode("utf-8", "replace")
if not text.endswith("\r\n") or "\n" in text.replace("\r\n", ""):
    print("<lines not ended by CR LF>")
stamp = re.compile(r"^\d{4}\.\d\d\.\d\d;\d\d:\d\d:\d\d;")
for line in text.split("\r\n")[:-1]:
    print(stamp.sub("", line, count=1))
PY
}
# The lines of a log file that carry a time stamp, messages only.
log_stamped() { python3 -c '
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "replace")
for line in text.split("\r\n"):
    m = re.match(r"^\ufeff?\d{4}\.\d\d\.\d\d;\d\d:\d\d:\d\d;(.*)", line)
    if m: print(m.group(1))' "$1"; }
# The fields of a shortcut as lnkinfo reads them: path, arguments, folder.
lnk_fields() {
  lnkinfo "$1" 2>/dev/null | sed -n 's/^[[:space:]]*\(Local path\|Command line arguments\|Working directory\)[[:space:]]*: /\1: /p'
}
