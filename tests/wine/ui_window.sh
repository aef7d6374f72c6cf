#!/usr/bin/env bash
# The main window as a person meets it: layout figures, the agreement box and
# link, the destination check, the agreement window, an installation through
# to the finished look, and screenshots of the idle and agreement windows.
source "$(dirname "$0")/lib/ui-common.sh"
# Control IDs (Forms/ControlIds.h).
TITLE=102 VERSION=103 MINIMIZE=104 CLOSE=105 ICON=106 INSTALL=107 PNLBOTTOM=108 DESTLABEL=109
EDIT=110 BROWSE=111 AGREE=112 LICENSE=113 PROXY=114 WAIT=115 PROGRESS=116 DETAIL=117 RUNAPP=118 MEMO=300
ALLUSERS=119 ME=120
geom() { drv geom "$@"; }
field() { geom "$1" | cut -d' ' -f"$2"; }  # 1 left, 2 top, 3 width, 4 height, 5 visible, 6 enabled

GUID="{A0000000-0000-4000-8000-0000000000C1}"
CHILD=$(winepath -w "$WIN_BUILD/tests/win/ui_child.exe")
pkg main --title "示例软件" --version 2.3.0 --defdir "{pf}\\ZoDemo\\" --guid "$GUID" --wait-run "$CHILD" "sleep 6000"

# ---- Layout and texts of the idle look
start_app main
drv wait TMainForm 10000 >/dev/null
sleep 0.5
import -window root "$ARTIFACTS/ui-idle.png"
check "imgIcon is centred: left 327" 327 "$(field $ICON 1)"
check "lblAppTitle left 6" 6 "$(field $TITLE 1)"
check "lblVersion left 6" 6 "$(field $VERSION 1)"
check "btnInstall left 275" 275 "$(field $INSTALL 1)"
check "btnDestDir left 645" 645 "$(field $BROWSE 1)"
check "edtDestDir width 529" 529 "$(field $EDIT 3)"
check "pnlBottom sits at the bottom" "0 378 748 100" "$(geom $PNLBOTTOM | cut -d' ' -f1-4)"
check "corner images" "682 2 32 32|714 2 32 32" "$(geom $MINIMIZE | cut -d' ' -f1-4)|$(geom $CLOSE | cut -d' ' -f1-4)"
check "window is 750 x 480" "750 480" "$(drv rect TMainForm | cut -d' ' -f3-4)"
check "title from the script" "示例软件" "$(drv text $TITLE)"
check "version line" "版本：2.3.0" "$(drv text $VERSION)"
check "default folder, constants expanded" 'C:\Program Files\ZoDemo\' "$(drv text $EDIT)"
check "install button caption" "立即安装" "$(drv text $INSTALL)"
check "agreement box and link shown" "1 1" "$(field $AGREE 5) $(field $LICENSE 5)"
check "agreement box starts checked" 1 "$(drv checked $AGREE)"
check "no scope buttons: the product installs for the machine" "0 0" "$(field $ALLUSERS 5) $(field $ME 5)"
# The installing look's controls are made when first shown: not there is not shown.
shown() { local v; v=$(field "$1" 5); echo "${v:-0}"; }
check "the installing controls are hidden" "0 0 0 0" \
  "$(shown $WAIT) $(shown $PROGRESS) $(shown $DETAIL) $(shown $RUNAPP)"
check "the install button has the focus" $INSTALL "$(drv focus)"

# ---- Tab goes round every control of the strip, the agreement link included;
# Enter on the link opens the agreement
order=""
for i in 1 2 3 4 5; do drv key TMainForm 9; order="$order $(drv focus)"; done
check "Tab order: edit, browse, agreement box, link, install button" \
  " $EDIT $BROWSE $AGREE $LICENSE $INSTALL" "$order"
for i in 1 2 3 4; do drv key TMainForm 9; done
check "the agreement link takes the focus" $LICENSE "$(drv focus)"
sleep 0.3
import -window root "$ARTIFACTS/ui-focus-link.png"
drv key TMainForm 13
if drv wait TLicenseForm 5000 >/dev/null; then
  check "Enter on the link opens the agreement window" "用户许可协议" "$(drv caption TLicenseForm)"
  drv close TLicenseForm
  drv gone TLicenseForm 5000 >/dev/null
else
  check "Enter on the link opens the agreement window" yes no
fi
check "the main window's caption is the product's title" "示例软件" "$(drv caption TMainForm)"

# ---- Dragging: the background and the passive labels move the window, the edit does not
drag() {  # x y dx dy, relative to the window
  local wx wy
  read -r wx wy _ < <(drv rect TMainForm)
  xdotool mousemove $((wx + $1)) $((wy + $2)) mousedown 1 sleep 0.1 \
    mousemove $((wx + $1 + $3 / 2)) $((wy + $2 + $4 / 2)) sleep 0.1 \
    mousemove $((wx + $1 + $3)) $((wy + $2 + $4)) sleep 0.1 mouseup 1
  sleep 0.3
}
moved_by() {  # dx dy of the window since "before"
  local x y
  read -r x y _ < <(drv rect TMainForm)
  echo "$((x - ${before%% *})) $((y - ${before##* }))"
}
before=$(drv rect TMainForm | cut -d' ' -f1-2); drag 100 100 40 25
check "pressing on the background drags the window" "40 25" "$(moved_by)"
before=$(drv rect TMainForm | cut -d' ' -f1-2); drag 375 200 -30 -20
check "pressing on the title drags the window" "-30 -20" "$(moved_by)"
before=$(drv rect TMainForm | cut -d' ' -f1-2); drag 30 440 -10 10
check "pressing on the white strip drags the window" "-10 10" "$(moved_by)"
before=$(drv rect TMainForm | cut -d' ' -f1-2); drag 200 416 25 15
check "pressing on the edit does not drag" "0 0" "$(moved_by)"

# ---- The agreement box drives the install button
drv click $AGREE; sleep 0.3
check "unchecking the agreement disables the install button" "0 0" "$(drv checked $AGREE) $(field $INSTALL 6)"
drv click $INSTALL; sleep 0.3
check "a disabled install button does nothing" "示例软件" "$(drv text $TITLE)"
drv click $AGREE; sleep 0.3
check "checking it again enables the button" "1 1" "$(drv checked $AGREE) $(field $INSTALL 6)"

# ---- An empty destination (blanks only) is refused
drv settext $EDIT "   "
drv click $INSTALL
check "blank destination: the message" "安装目录不能为空，请重新输入。" "$(drv msgbox 5000)"
drv msgbox-press 1; sleep 0.3
check "blank destination: the focus goes to the edit" $EDIT "$(drv focus)"
check "blank destination: still idle" "示例软件 1" "$(drv text $TITLE) $(field $INSTALL 5)"

# ---- The agreement window
drv click $LICENSE
if drv wait TLicenseForm 5000 >/dev/null; then
  sleep 0.5
  import -window root "$ARTIFACTS/ui-license.png"
  check "agreement window caption" "用户许可协议" "$(drv caption TLicenseForm)"
  check "the main window is disabled meanwhile" 0 "$(drv enabled TMainForm)"
  drv text $MEMO TLicenseForm >"$WORK/license-utf8.txt"
  drv close TLicenseForm
  drv gone TLicenseForm 5000 >/dev/null
  sleep 0.3
  check "after closing, the main window is enabled again" 1 "$(drv enabled TMainForm)"
  check "closing it leaves the box checked" 1 "$(drv checked $AGREE)"
else
  check "the agreement link opens the agreement window" yes no
fi

# ---- Installing: the installing look (held by a run entry that takes a while),
# the finished look, then the run button ends the installer
dest="C:\\users\\Public\\zo-ui-window-$$"
drv settext $EDIT "$dest"
drv click $INSTALL
for i in $(seq 1 100); do [ "$(field $PROGRESS 5)" = 1 ] && break; sleep 0.05; done
sleep 0.3
import -window root "$ARTIFACTS/ui-installing.png"
check "installing look: pbProgress left 16, width 716" "16 716 1" "$(geom $PROGRESS | cut -d' ' -f1,3,5)"
check "installing look: status lines take the bar's left and width" "16 716 1|16 716 1" \
  "$(geom $WAIT | cut -d' ' -f1,3,5)|$(geom $DETAIL | cut -d' ' -f1,3,5)"
check "installing look: the idle controls are hidden" "0 0 0 0 0" \
  "$(field $VERSION 5) $(field $INSTALL 5) $(field $EDIT 5) $(field $BROWSE 5) $(field $AGREE 5)"
for i in $(seq 1 300); do [ "$(drv text $TITLE)" = "安装完成" ] && break; sleep 0.1; done
check "finished look" "安装完成" "$(drv text $TITLE)"
check "btnRunApp centred at left 274, shown" "274 1" "$(field $RUNAPP 1) $(field $RUNAPP 5)"
check "progress and status lines hidden again" "0 0 0" "$(field $PROGRESS 5) $(field $WAIT 5) $(field $DETAIL 5)"
check "installed into the typed folder plus a backslash" yes \
  "$([ -f "$WINEPREFIX/drive_c/users/Public/zo-ui-window-$$/readme.txt" ] && echo yes || echo no)"
sleep 0.3
import -window root "$ARTIFACTS/ui-finished.png"
drv click $RUNAPP
wait_app
check "the run button ends the installer with 0" 0 "$RC"

# ---- An earlier installation's folder is proposed
start_app main
drv wait TMainForm 10000 >/dev/null
check "earlier installation: its InstallLocation is proposed" "$dest\\" "$(drv text $EDIT)"
drv click $CLOSE
wait_app
rm -rf "$WINEPREFIX/drive_c/users/Public/zo-ui-window-$$"
wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${GUID}_mw" /f /reg:64 >/dev/null 2>&1

# ---- The agreement text in UTF-16 with a mark and ANSI without one reads the same
for enc in utf16 ansi; do
  pkg "lic-$enc" --license "$enc"
  start_app "lic-$enc"
  drv wait TMainForm 10000 >/dev/null
  drv click $LICENSE
  drv wait TLicenseForm 5000 >/dev/null
  drv text $MEMO TLicenseForm >"$WORK/license-$enc.txt"
  check "agreement in $enc reads as in UTF-8" "$(cat "$WORK/license-utf8.txt")" "$(cat "$WORK/license-$enc.txt")"
  drv close TLicenseForm
  drv gone TLicenseForm 5000 >/dev/null
  drv close TMainForm
  wait_app
done

# ---- A project that lets the user choose the scope: the destination follows the choice
pkg scope --scope either
start_app scope /CURRENTUSER
drv wait TMainForm 10000 >/dev/null
sleep 0.5
import -window root "$ARTIFACTS/ui-scope.png"
check "both scope buttons, the switch's choice set" "1 1 0 1" \
  "$(field $ALLUSERS 5) $(field $ME 5) $(drv checked $ALLUSERS) $(drv checked $ME)"
contains "the user's programs folder proposed" '\AppData\Local\Programs\ZoDemo\' "$(drv text $EDIT)"
drv click $ALLUSERS
sleep 0.5
check "every user chosen: Program Files proposed" 'C:\Program Files\ZoDemo\' "$(drv text $EDIT)"
drv close TMainForm
wait_app

# ---- Without an agreement: no box, no link, the install button enabled
pkg nolicense --license none
start_app nolicense
drv wait TMainForm 10000 >/dev/null
check "no agreement: box and link hidden, install enabled" "0 0 1" \
  "$(field $AGREE 5) $(field $LICENSE 5) $(field $INSTALL 6)"
drv close TMainForm
wait_app
finish
