# Shared by the uninstaller's end-to-end tests (tests/wine/uninstall_*.sh):
# the demo product built by zosetup-pack, installed and uninstalled under Wine
# in a prefix of its own (a copy of the pristine one, so a demo installed in
# the common prefix is not touched, and Windows can be "restarted").
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
UNINSTALLER="$PROGRAMS/Uninstaller/Uninstall.exe"
RUNNER="$WIN_BUILD/tests/win/uninst_run.exe"
DRIVER="$WIN_BUILD/tests/win/ui_driver.exe"
for f in "$PACK" "$STUB" "$UNINSTALLER" "$RUNNER" "$DRIVER" "$PROGRAMS/samples/demo/ZoDemo.exe" \
         "$WIN_BUILD/tests/win/steps_helper.exe"; do
  [ -f "$f" ] || { echo "missing $f (build the native and Windows targets first)"; exit 1; }
done

WORK=$(mktemp -d "$ZO_ROOT/build/uninstall-test.XXXXXX")
ARTIFACTS="$ZO_ROOT/build/artifacts"
mkdir -p "$ARTIFACTS"
source "$ZO_ROOT/scripts/wine-env.sh"
export WINEPREFIX="$WORK/prefix"
wine_up >/dev/null 2>&1
failures=0
APP_PID=""

# "same" when two programs are one build, whatever their resources (the tool
# gives the uninstaller it adds the product's icon), else "differs".
same_program() { python3 "$ZO_ROOT/tests/wine/lib/same_code.py" "$1" "$2" && echo same || echo differs; }

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  wine_down >/dev/null 2>&1
  rm -rf "$WORK"
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

finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}

GUID=$(grep -o 'GUID="{[^"]*}"' samples/demo/demo.xml | head -1 | cut -d'"' -f2)
KEY_PATH="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${GUID}_mw"
KEY="HKLM\\$KEY_PATH"
C="$WINEPREFIX/drive_c"
APP="$C/Program Files/ZoDemo"
GROUP="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Zo 演示"
USERDIR=$(ls -d "$C"/users/*/ | grep -v Public | head -1)
DESKTOP="${USERDIR}Desktop"
TEMPDIR="${USERDIR}Temp"

# The demo project copied for one version: its version numbers changed; the
# caller may change its files before building.
prepare_demo() {  # version -> prints the project folder
  local dir="$WORK/demo-$1"
  rm -rf "$dir"; mkdir -p "$dir"
  cp -r samples/demo/. "$dir/"
  sed -i "s/2\\.5\\.1\\.0/$1/g" "$dir/demo.xml"
  echo "$dir"
}

# Builds the installers of a prepared project into out. The packaging tool is
# run from a folder that holds Uninstall.exe beside it, which it takes.
build_demo() {  # project folder, out folder
  mkdir -p "$WORK/tool"
  cp "$PACK" "$WORK/tool/zosetup-pack"
  cp "$UNINSTALLER" "$WORK/tool/Uninstall.exe"
  "$WORK/tool/zosetup-pack" build "$1/demo.xml" -o "$2" --stub "$STUB" --var "BuildDir=$ZO_ROOT/$PROGRAMS" -q \
    || { echo "FAIL: building $1"; exit 1; }
}

# Runs a program in the foreground (time limit 120 s); prints its exit code,
# its output in $WORK/last.out (UTF-8).
run() {  # program, arguments...
  local exe; exe=$(realpath "$1"); shift
  (cd "$WORK" && timeout 120 wine "$exe" "$@" >"$WORK/last.raw" 2>/dev/null)
  local rc=$?
  tr -d '\r' <"$WORK/last.raw" >"$WORK/last.out"  # our lines are UTF-8 off a console
  echo "$rc"
}

install_demo() { run "$1/ZoDemoSetup.exe" /Silent; }

# The uninstall command line exactly as the registration holds it.
uninstall_registered() { run "$RUNNER" "$KEY_PATH" QuietUninstallString; }

# The 64-bit view, where the installer writes: with wine32 present a bare
# "wine reg" may be the 32-bit one, which sees Wow6432Node instead.
key_exists() { wine reg query "$1" /reg:64 >/dev/null 2>&1 && echo yes || echo no; }

# The names of a key's own values, sorted, one line.
value_names() {  # key
  wine reg query "$1" /reg:64 2>/dev/null | tr -d '\r' | awk '/^    [^ ]/ { print $1 }' | sort | tr '\n' ' ' | sed 's/ $//'
}

# Waits until a path is gone (the uninstaller's copy finishes after it).
wait_gone() {  # path, seconds
  local i
  for i in $(seq 1 $(($2 * 10))); do [ -e "$1" ] || return 0; sleep 0.1; done
  return 1
}

# Waits until the uninstaller's copy has deleted the renamed uninstaller.
wait_copy_done() {  # install folder
  local i
  for i in $(seq 1 100); do
    compgen -G "$1/~Uninstall*" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# Ends the demo programs of this prefix (a demo an installation started would
# otherwise be a running program the next installer or uninstaller asks about).
end_demo() {
  local p i
  for i in $(seq 1 50); do
    for p in $(pgrep -f 'ZoDemo\.exe'); do
      { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && kill "$p" 2>/dev/null
    done
    [ "$(demo_running)" = no ] && return 0
    sleep 0.1
  done
}

# A demo program of this prefix is running.
demo_running() {
  local p
  for p in $(pgrep -f 'ZoDemo\.exe'); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && { echo yes; return; }
  done
  echo no
}
