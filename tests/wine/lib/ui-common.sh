# Shared by the window tests (tests/wine/ui_*.sh): test installers made from
# the stub, the UI driver, and running an installer in the background.
#   ZO_WIN_BUILD   the Windows tests' build folder (default build/win)
#   ZO_PROGRAMS_BUILD the 64-bit installer and uninstaller (default build/win64)
set -uo pipefail
ZO_ROOT="${ZO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}"
cd "$ZO_ROOT"
WIN_BUILD="${ZO_WIN_BUILD:-build/win}"
PROGRAMS="${ZO_PROGRAMS_BUILD:-build/win64}"
STUB="$PROGRAMS/Installer/zosetup.exe"
DRIVER="$WIN_BUILD/tests/win/ui_driver.exe"
MAKEPKG="$WIN_BUILD/tests/win/ui_makepkg.exe"
ARTIFACTS="$ZO_ROOT/build/artifacts"
source "$ZO_ROOT/scripts/wine-env.sh"
# Run on its own, the test brings up its own virtual display.
_zo_display_answers "${ZO_DISPLAY:-}" || _zo_start_xvfb || exit 1
for f in "$STUB" "$DRIVER" "$MAKEPKG"; do
  [ -f "$f" ] || { echo "missing $f (build the Windows targets first)"; exit 1; }
done
# Unmanaged windows close at once without a window manager (also set in new prefixes).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Caption buttons need Marlett (also copied into new prefixes).
[ -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] ||
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

WORK=$(mktemp -d "$ZO_ROOT/build/ui-test.XXXXXX")
mkdir -p "$ARTIFACTS"
failures=0
APP_PID=""

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  if [ -n "${ZO_XVFB_PID:-}" ]; then wineserver -k 2>/dev/null; kill "$ZO_XVFB_PID" 2>/dev/null; fi
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

contains() {  # description, needle, haystack
  case "$3" in
    *"$2"*) echo "ok: $1" ;;
    *) echo "FAIL: $1: [$3] lacks [$2]"; failures=$((failures + 1)) ;;
  esac
}

pkg() {  # name, ui_makepkg options... -> $WORK/name.exe
  local name=$1; shift
  wine "$MAKEPKG" "$STUB" "$WORK/$name.exe" "$@" || { echo "FAIL: making $name"; exit 1; }
}

drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }

start_app() {  # name, arguments... : runs it in the background, waits for its window
  local name=$1; shift
  # The driver looks at this program's windows only.
  ZO_UI_EXE=$(winepath -w "$WORK/$name.exe" 2>/dev/null); export ZO_UI_EXE
  (cd "$WORK" && exec wine "$name.exe" "$@" >"$WORK/$name.out" 2>/dev/null) &
  APP_PID=$!
}

wait_app() {  # sets RC to the exit code of the background installer (time-out 20 s gives 124)
  local i
  for i in $(seq 1 200); do
    if ! kill -0 "$APP_PID" 2>/dev/null; then
      wait "$APP_PID"; RC=$?; APP_PID=""; return
    fi
    sleep 0.1
  done
  kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""; RC=124
}

run_app() {  # name, arguments... : runs in the foreground; prints the exit code
  local name=$1; shift
  (cd "$WORK" && timeout 30 wine "$name.exe" "$@" >"$WORK/$name.out" 2>/dev/null)
  echo $?
}

app_out() {  # name: what the installer wrote to standard output (UTF-8 off a console)
  tr -d '\r' <"$WORK/$1.out"
}

finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}
