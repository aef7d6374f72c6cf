# Shared by the end-to-end install tests (tests/wine/install_*.sh): projects
# built into real installers by zosetup-pack, run under Wine, and checks on
# what landed in the prefix.
#   ZO_WIN_BUILD     the Windows tests' build folder (default build/win)
#   ZO_PROGRAMS_BUILD the 64-bit installer and uninstaller (default build/win64)
#   ZO_NATIVE_BUILD  the native build folder (default build/native)
set -uo pipefail
ZO_ROOT="${ZO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}"
cd "$ZO_ROOT"
WIN_BUILD="${ZO_WIN_BUILD:-build/win}"
PROGRAMS="${ZO_PROGRAMS_BUILD:-build/win64}"
PACK="${ZO_NATIVE_BUILD:-build/native}/Packager/zosetup-pack"
STUB="$PROGRAMS/Installer/zosetup.exe"
HELPER="$WIN_BUILD/tests/win/steps_helper.exe"
# The registry view the installers under test register in: the 64-bit one of
# the stub in build/win64 (a script testing the 32-bit pair sets /reg:32). Wine's
# own reg.exe is the 32-bit one once wine32 is there, so it must be told.
REG_VIEW=/reg:64
DRIVER="$WIN_BUILD/tests/win/ui_driver.exe"
source "$ZO_ROOT/scripts/wine-env.sh"
for f in "$PACK" "$STUB" "$HELPER"; do
  [ -f "$f" ] || { echo "missing $f (build the native and Windows targets first)"; exit 1; }
done
wine_up >/dev/null 2>&1

# Everything of one run lives in C:\zo-e2e-ID (the prefix's drive C) and in a
# work folder; both go at the end, with the registry keys the run names.
ID="$$-$RANDOM"
WINROOT="C:\\zo-e2e-$ID"
ROOT="$WINEPREFIX/drive_c/zo-e2e-$ID"
WORK=$(mktemp -d "$ZO_ROOT/build/install-test.XXXXXX")
mkdir -p "$ROOT"
failures=0
CLEAN_KEYS=()
BG_PIDS=()

cleanup() {
  local p k
  for p in "${BG_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for k in "${CLEAN_KEYS[@]}"; do wine reg delete "$k" /f "$REG_VIEW" >/dev/null 2>&1; done
  rm -rf "$WORK" "$ROOT"
  # A display this test started for itself (run on its own) goes with it.
  if [ -n "${ZO_XVFB_PID:-}" ]; then wineserver -k 2>/dev/null; kill "$ZO_XVFB_PID" 2>/dev/null; fi
}
trap cleanup EXIT

check() {  # description, expected, actual
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

contains() {  # description, needle, haystack
  case "$3" in
    *"$2"*) echo "ok: $1" ;;
    *) echo "FAIL: $1: [$3] lacks [$2]"; failures=$((failures + 1)) ;;
  esac
}

finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}

# "same" when two programs are one build, whatever their resources (the tool
# gives the uninstaller it adds the product's icon), else "differs".
same_program() { python3 "$ZO_ROOT/tests/wine/lib/same_code.py" "$1" "$2" && echo same || echo differs; }

new_guid() { python3 -c 'import uuid; print("{%s}" % str(uuid.uuid4()).upper())'; }

uninstall_key() { echo "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"; }

# The data of one value of a key, read from `reg export` (UTF-16): the text of
# a string, "dword:0000000a" for a number, "" when absent.
reg_value() {  # key, value name
  local file="$WORK/export-$RANDOM.reg"
  wine reg export "$1" "$(winepath -w "$file" 2>/dev/null)" /y "$REG_VIEW" >/dev/null 2>&1 || { echo ""; return; }
  python3 - "$file" "$2" <<'PY'
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
want = '"%s"=' % sys.argv[2].replace("\\", "\\\\").replace('"', '\\"')
section = None
for line in text.splitlines():
    if line.startswith("["):
        section = line if section is None else section + "!"  # only the key's own values
        continue
    if section and not section.endswith("!") and line.startswith(want):
        value = line[len(want):]
        if value.startswith('"'):
            value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        print(value)
        break
PY
  rm -f "$file"
}

build_installer() {  # project.xml -> prints the installer's path
  "$PACK" build "$1" -o "$WORK/out" --stub "$STUB" --quiet >/dev/null || { echo "FAIL: building $1" >&2; exit 1; }
  ls -t "$WORK"/out/*.exe | head -1
}

# Runs an installer in the foreground with a time limit; prints its exit code
# and leaves what it printed in $WORK/last.out.
run_installer() {  # installer, arguments...
  local exe=$1; shift
  (cd "$(dirname "$exe")" && timeout 120 wine "$(basename "$exe")" "$@" >"$WORK/last.out" 2>/dev/null)
  echo $?
}
