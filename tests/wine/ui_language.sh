#!/usr/bin/env bash
# Both languages, at 100 %, 150 % and 200 %: a project's Language and /LANG= choose
# the texts; the English window's captions push their neighbours aside rather
# than run under them; the uninstaller speaks as its installation did.
# Screenshots of the idle, installing and finished looks and of the
# uninstaller, per language and scale, and of the English scope buttons, proxy
# and failure windows, go to build/artifacts/lang-*.png.
ZO_ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
export WINEPREFIX="$ZO_ROOT/build/wine/language-prefix"
export ZO_XVFB_SCREEN=1700x1100x24
unset ZO_DISPLAY
source "$ZO_ROOT/scripts/wine-env.sh"
wine_fresh_prefix "$WINEPREFIX"
source "$(dirname "$0")/lib/ui-common.sh"
# Wine has no Segoe UI: DejaVu Sans stands in, a little wider, so English
# texts are measured with more room to need than on Windows.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Segoe UI" /d "DejaVu Sans" /f >/dev/null 2>&1
# Control IDs (Forms/ControlIds.h, Uninstaller/UninstallFrm_win.h).
TITLE=102 VERSION=103 INSTALL=107 DESTLABEL=109 EDIT=110 BROWSE=111 AGREE=112 LICENSE=113 RUNAPP=118
UNINSTALL=107 PROMPT=120 PROXYLINK=114 ALLUSERS=119 JUSTME=120
LBLADDR=602 ADDR=603 LBLPORT=604 PORT=605 LBLUSER=606 USER=607 LBLPASS=608 PASS=609
field() { drv geom "$1" "${3:-TMainForm}" | cut -d' ' -f"$2"; }
right() { echo $(($(field "$1" 1 "${2:-}") + $(field "$1" 3 "${2:-}"))); }
before() { [ "$1" -le "$2" ] && echo yes || echo "no ($1 > $2)"; }

set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
}
shoot() {  # window class, file: that window alone
  local x y w h
  import -window root "$WORK/screen.png"
  read -r x y w h < <(drv rect "$1")
  convert "$WORK/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$ARTIFACTS/$2"
}
wait_text() {  # id, text: up to 15 s
  local i
  for i in $(seq 1 150); do [ "$(drv text "$1")" = "$2" ] && return 0; sleep 0.1; done
  return 1
}

CHILD=$(winepath -w "$WIN_BUILD/tests/win/ui_child.exe")
UNINSTALLER="$PROGRAMS/Uninstaller/Uninstall.exe"
[ -f "$UNINSTALLER" ] || { echo "missing $UNINSTALLER"; exit 1; }
# The run entry holds the installing look for a moment.
pkg zh --title "示例软件" --version 2.3.0 --defdir "{pf}\\ZoLangZh\\" --wait-run "$CHILD" "sleep 2500"
pkg online --title "Sample App" --script online --language en-US
pkg scope --title "Sample App" --scope either --language en-US
pkg en --title "Sample App" --version 2.3.0 --defdir "{pf}\\ZoLangEn\\" --language en-US \
  --wait-run "$CHILD" "sleep 2500"

for dpi in 96 144 192; do
  percent=$((dpi * 100 / 96))
  set_dpi "$dpi"
  for lang in zh en; do
    if [ $lang = zh ]; then
      words="立即安装|同意|安装完成|立即卸载" folder=ZoLangZh
    else
      words="Install|I accept the|Installation complete|Uninstall" folder=ZoLangEn
    fi
    IFS='|' read -r install agree finished uninstall <<<"$words"
    tag="$lang $percent %"
    start_app $lang
    drv wait TMainForm 10000 >/dev/null
    sleep 0.5
    shoot TMainForm "lang-$lang-$percent-idle.png"
    check "$tag: the install button" "$install" "$(drv text $INSTALL)"
    check "$tag: the agreement box" "$agree" "$(drv text $AGREE)"
    check "$tag: the folder's caption ends before the folder" yes "$(before "$(right $DESTLABEL)" "$(field $EDIT 1)")"
    check "$tag: the agreement box ends before the link" yes "$(before "$(right $AGREE)" "$(field $LICENSE 1)")"
    check "$tag: the folder ends before Browse" yes "$(before "$(right $EDIT)" "$(field $BROWSE 1)")"
    drv click $INSTALL
    sleep 1.5
    shoot TMainForm "lang-$lang-$percent-installing.png"
    wait_text $TITLE "$finished" || check "$tag: the finished look" "$finished" "$(drv text $TITLE)"
    sleep 0.3
    shoot TMainForm "lang-$lang-$percent-finished.png"
    check "$tag: the run button inside the window" yes \
      "$(before "$(right $RUNAPP)" "$(drv rect TMainForm | cut -d' ' -f3)")"
    drv close TMainForm
    wait_app

    # The installation left its script beside where the uninstaller goes.
    app="$WINEPREFIX/drive_c/Program Files/$folder"
    cp "$UNINSTALLER" "$app/Uninstall.exe"
    ZO_UI_EXE=$(winepath -w "$app/Uninstall.exe" 2>/dev/null); export ZO_UI_EXE
    (cd "$WORK" && exec wine "$app/Uninstall.exe" >"$WORK/uninstall.out" 2>/dev/null) &
    APP_PID=$!
    drv wait TUninstallForm 15000 >/dev/null
    sleep 0.5
    shoot TUninstallForm "lang-$lang-$percent-uninstall.png"
    check "$tag: the uninstaller speaks as the installation did" "$uninstall" "$(drv text $UNINSTALL TUninstallForm)"
    drv click $UNINSTALL TUninstallForm
    sleep 1.5
    shoot TUninstallForm "lang-$lang-$percent-uninstalled.png"
    drv close TUninstallForm
    wait_app
  done

  # The scope's two buttons in English, after the agreement's row.
  start_app scope
  drv wait TMainForm 10000 >/dev/null
  sleep 0.5
  shoot TMainForm "lang-en-$percent-scope.png"
  check "en $percent %: the link ends before the scope" yes "$(before "$(right $LICENSE)" "$(field $ALLUSERS 1)")"
  check "en $percent %: all users ends before just me" yes "$(before "$(right $ALLUSERS)" "$(field $JUSTME 1)")"
  check "en $percent %: just me inside the window" yes \
    "$(before "$(right $JUSTME)" "$(drv rect TMainForm | cut -d' ' -f3)")"
  drv close TMainForm
  wait_app

  # The online installer's two windows in English: the proxy settings, and the
  # failure of a download from nowhere.
  start_app online
  drv wait TMainForm 10000 >/dev/null
  drv click $PROXYLINK
  if drv wait TIndyProxySettingsForm 5000 >/dev/null; then
    sleep 0.5
    shoot TIndyProxySettingsForm "lang-en-$percent-proxy.png"
    for pair in "$LBLADDR $ADDR" "$LBLPORT $PORT" "$LBLUSER $USER" "$LBLPASS $PASS"; do
      read -r label box <<<"$pair"
      check "en $percent %: proxy caption $label ends before its box" yes \
        "$(before "$(right "$label" TIndyProxySettingsForm)" "$(field "$box" 1 TIndyProxySettingsForm)")"
    done
    drv close TIndyProxySettingsForm
    drv gone TIndyProxySettingsForm 5000 >/dev/null
  else
    check "en $percent %: the proxy window opens" yes no
  fi
  drv click $INSTALL
  if drv wait TDownloadFailureForm 15000 >/dev/null; then
    sleep 0.5
    shoot TDownloadFailureForm "lang-en-$percent-failure.png"
    check "en $percent %: Exit Setup ends before Retry" yes \
      "$(before "$(right 1 TDownloadFailureForm)" "$(field 2 1 TDownloadFailureForm)")"
    drv click 1 TDownloadFailureForm
  else
    check "en $percent %: the failure window opens" yes no
  fi
  wait_app
done

# /LANG= wins over the project, and the uninstaller keeps the choice.
set_dpi 96
start_app zh /LANG=en-US
drv wait TMainForm 10000 >/dev/null
check "/LANG=en-US: English over a Chinese project" "Install" "$(drv text $INSTALL)"
drv click $INSTALL
wait_text $TITLE "Installation complete" || true
drv close TMainForm
wait_app
cp "$UNINSTALLER" "$WINEPREFIX/drive_c/Program Files/ZoLangZh/Uninstall.exe"
ZO_UI_EXE=$(winepath -w "$WINEPREFIX/drive_c/Program Files/ZoLangZh/Uninstall.exe" 2>/dev/null); export ZO_UI_EXE
(cd "$WORK" && exec wine "$WINEPREFIX/drive_c/Program Files/ZoLangZh/Uninstall.exe" >/dev/null 2>&1) &
APP_PID=$!
drv wait TUninstallForm 15000 >/dev/null
check "/LANG=en-US: the uninstaller is English too" "Uninstall" "$(drv text $UNINSTALL TUninstallForm)"
drv close TUninstallForm
wait_app
finish
