# Sourced by the scripts that run Windows programs: a private, quiet Wine prefix
# inside the build folder, a virtual display, and a persistent wine server.
#   wine_up      make the prefix if needed, start Xvfb and the server
#   wine_down    stop the server and the display we started
#   wine_fresh_prefix DIR   copy of the pristine prefix for a test that wants a clean one

ZO_ROOT="${ZO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export ZO_PRISTINE_PREFIX="$ZO_ROOT/build/wine/pristine"
export WINEPREFIX="${WINEPREFIX:-$ZO_ROOT/build/wine/prefix}"
# ZO_DISPLAY names the virtual display the tests run on; wine_up starts one on a
# free display number when it is unset or does not answer, and exports it to
# the scripts it runs. ZO_XVFB_SCREEN is the size of a display started here.
[ -n "${ZO_DISPLAY:-}" ] && export DISPLAY="$ZO_DISPLAY"
if locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then export LANG=zh_CN.UTF-8; fi

# What a prefix depends on: Wine's version, and wine32's, since a prefix made
# without wine32 has an empty syswow64 in which no 32-bit program starts.
_zo_prefix_key() {
  local v p
  for p in wine64 wine32:i386; do
    v=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null) || v=none
    printf '%s=%s\n' "$p" "${v:-none}"
  done
}

_zo_prefix_current() {  # DIR
  [ -f "$1/.zo-ready" ] && [ "$(cat "$1/.zo-ready")" = "$(_zo_prefix_key)" ]
}

_zo_make_pristine() {
  _zo_prefix_current "$ZO_PRISTINE_PREFIX" && return 0
  echo "wine: creating a private prefix in $ZO_PRISTINE_PREFIX"
  rm -rf "$ZO_PRISTINE_PREFIX"
  mkdir -p "$(dirname "$ZO_PRISTINE_PREFIX")"
  (
    export WINEPREFIX="$ZO_PRISTINE_PREFIX"
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    for face in "微软雅黑" "Microsoft YaHei" "SimSun" "宋体" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2"; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d "" /f >/dev/null 2>&1
    # No window manager runs in Xvfb: unmanaged windows hide and close at once
    # instead of waiting 2 s for a window-manager state that never comes.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The caption buttons are drawn with Marlett, which Wine does not find by itself here.
    cp /usr/share/wine/fonts/marlett.ttf "$ZO_PRISTINE_PREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver -w
    # User folders are links into the Linux home folder: make them real folders of the prefix.
    for d in "$ZO_PRISTINE_PREFIX"/drive_c/users/*/; do
      for link in "$d"*; do
        if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
      done
    done
  )
  _zo_prefix_key >"$ZO_PRISTINE_PREFIX/.zo-ready"
}

wine_fresh_prefix() {  # DIR
  _zo_make_pristine
  rm -rf "$1"
  cp -a "$ZO_PRISTINE_PREFIX" "$1"
}

_zo_display_answers() {  # DISPLAY
  [ -n "$1" ] && xdpyinfo -display "$1" >/dev/null 2>&1
}

_zo_start_xvfb() {
  # Xvfb picks a free number itself and writes it once it accepts clients, so a
  # stale lock or socket left by an earlier run never stands in for a server.
  local numfile i
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${ZO_XVFB_SCREEN:-1024x768x24}" -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
  ZO_XVFB_PID=$!
  for i in $(seq 100); do
    [ -s "$numfile" ] && break
    kill -0 "$ZO_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$numfile" ]; then
    rm -f "$numfile"
    echo "wine: Xvfb did not start" >&2
    return 1
  fi
  export ZO_DISPLAY=":$(tr -dc 0-9 <"$numfile")"
  export DISPLAY="$ZO_DISPLAY"
  rm -f "$numfile"
}

wine_up() {
  _zo_make_pristine
  # A working prefix copied from an older pristine one is made again.
  if [ -d "$WINEPREFIX" ] && ! _zo_prefix_current "$WINEPREFIX"; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  [ -d "$WINEPREFIX" ] || cp -a "$ZO_PRISTINE_PREFIX" "$WINEPREFIX"
  if _zo_display_answers "${ZO_DISPLAY:-}"; then
    export DISPLAY="$ZO_DISPLAY"
  else
    _zo_start_xvfb || return 1
  fi
  wineserver -p
  # The prefix's services start now, with no output of ours to inherit, and
  # not in the middle of the first test.
  timeout 120 wine wineboot </dev/null >/dev/null 2>&1
  return 0
}

wine_down() {
  wineserver -k 2>/dev/null || true
  if [ -n "${ZO_XVFB_PID:-}" ]; then kill "$ZO_XVFB_PID" 2>/dev/null || true; fi
}
