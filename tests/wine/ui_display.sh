#!/usr/bin/env bash
# The main window at 100 %, 150 % and 200 % and under dark system colours: the
# window, its controls and fonts scale with the DPI, the white strip's texts
# stay dark, a long title ends in an ellipsis. Both settings reach every program
# of a prefix, so the test has a prefix of its own, and a display large enough
# for the window at 200 %.
ZO_ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
export WINEPREFIX="$ZO_ROOT/build/wine/display-prefix"
export ZO_XVFB_SCREEN=1700x1100x24
unset ZO_DISPLAY
source "$ZO_ROOT/scripts/wine-env.sh"
wine_fresh_prefix "$WINEPREFIX"
source "$(dirname "$0")/lib/ui-common.sh"
# Control IDs (Forms/ControlIds.h).
TITLE=102 VERSION=103 MINIMIZE=104 CLOSE=105 ICON=106 INSTALL=107 PNLBOTTOM=108 DESTLABEL=109
EDIT=110 BROWSE=111 AGREE=112 LICENSE=113
SCALED="$ICON $TITLE $VERSION $INSTALL $MINIMIZE $CLOSE $EDIT $BROWSE $AGREE"

# The prefix's DPI and colours are read when its first program starts.
restart_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  restart_wine
}
shoot() {  # file: the screen in $SHOT, and the main window alone in file
  local x y w h
  import -window root "$SHOT"
  read -r x y w h < <(drv rect TMainForm)
  convert "$SHOT" -crop "${w}x${h}+${x}+${y}" +repage "$1"
}
# The darkest grey (0..100) and the most red (0..100) within a control's area on screen.
darkest() { local x y w h; read -r x y w h < <(drv srect "$1")
  convert "$SHOT" -crop "${w}x${h}+${x}+${y}" +repage -colorspace Gray -format "%[fx:int(100*minima)]" info:; }
reddest() {  # id, x offset, width: a strip of the control's area
  local x y w h; read -r x y w h < <(drv srect "$1")
  convert "$SHOT" -crop "${3}x${h}+$((x + $2))+${y}" +repage -format "%[fx:int(100*maxima.r)]" info:; }
ink_height() {  # id, background: the height of what is drawn over the background within the control
  local x y w h; read -r x y w h < <(drv srect "$1")
  convert "$SHOT" -crop "${w}x${h}+${x}+${y}" +repage -bordercolor "$2" -border 1 -fuzz 25% -trim -format "%h" info:; }
near() { [ "$1" -ge $(($2 - 2)) ] && [ "$1" -le $(($2 + 2)) ] && echo yes || echo no; }
doubled() { local l t w h _; read -r l t w h _ <<<"$1"; echo "$((2 * l)) $((2 * t)) $((2 * w)) $((2 * h))"; }

pkg main --title "示例软件" --version 2.3.0 --defdir "{pf}\\ZoDemo\\"

# ---- 100 %, 150 %, 200 %
declare -A at96
SHOT="$WORK/screen.png"
for dpi in 96 144 192; do
  percent=$((dpi * 100 / 96))
  set_dpi "$dpi"
  start_app main
  drv wait TMainForm 10000 >/dev/null
  sleep 0.5
  shoot "$ARTIFACTS/ui-dpi-$percent.png"
  size=$(drv rect TMainForm | cut -d' ' -f3-4)
  case $dpi in
    96)
      check "100 %: the window is 750 x 480" "750 480" "$size"
      for id in $SCALED; do at96[$id]=$(drv geom "$id" | cut -d' ' -f1-4); done
      title96=$(ink_height $TITLE "#0099F9") dest96=$(ink_height $DESTLABEL white)
      ;;
    144)
      check "150 %: the window is 1125 x 720" "1125 720" "$size"
      check "150 %: the install button" "413 420 300 75" "$(drv geom $INSTALL | cut -d' ' -f1-4)"
      check "150 %: the title's letters are half as high again" yes \
        "$(near "$(ink_height $TITLE "#0099F9")" $((title96 * 3 / 2)))"
      ;;
    192)
      check "200 %: the window is 1500 x 960" "1500 960" "$size"
      for id in $SCALED; do
        check "200 %: control $id at twice its place and size" "$(doubled "${at96[$id]}")" \
          "$(drv geom "$id" | cut -d' ' -f1-4)"
      done
      check "200 %: the white strip is 200 high at the bottom" "200 958" \
        "$(drv geom $PNLBOTTOM | awk '{print $4, $2 + $4}')"
      check "200 %: the title's letters are twice as high" yes "$(near "$(ink_height $TITLE "#0099F9")" $((2 * title96)))"
      check "200 %: 安装目录： is twice as high" yes "$(near "$(ink_height $DESTLABEL white)" $((2 * dest96)))"
      ;;
  esac
  drv close TMainForm
  wait_app
  check "$percent %: closing the window ends the installer with 0" 0 "$RC"
done

# ---- A long title ends in "..." inside its label instead of being cut at both edges
set_dpi 96
pkg long --title "示例软件专业版：为了检查很长很长的标题而起的一个非常非常长的产品名称" --version 1.0
start_app long
drv wait TMainForm 10000 >/dev/null
sleep 0.5
shoot "$ARTIFACTS/ui-long-title.png"
check "long title: the label's left edge carries no cut glyph" 0 "$(reddest $TITLE 0 3)"
drv close TMainForm
wait_app

# ---- Dark system colours: the strip's texts and the link stay dark on white
for pair in "Window 0 0 0" "WindowText 255 255 255" "ButtonFace 0 0 0" "ButtonText 255 255 255" \
  "GrayText 200 200 200" "Background 0 0 0"; do
  read -r name rgb <<<"$pair"
  wine reg add 'HKCU\Control Panel\Colors' /v "$name" /d "$rgb" /f >/dev/null 2>&1
done
restart_wine
check "dark colours: the system's window text is white" "255 255 255" "$(drv syscolor 8)"
start_app main
drv wait TMainForm 10000 >/dev/null
sleep 0.5
shoot "$ARTIFACTS/ui-dark-colours.png"
check "dark colours: 安装目录： is dark on white" yes "$([ "$(darkest $DESTLABEL)" -lt 40 ] && echo yes || echo no)"
check "dark colours: 同意 is dark on white" yes "$([ "$(darkest $AGREE)" -lt 40 ] && echo yes || echo no)"
check "dark colours: the agreement link is dark on white" yes "$([ "$(darkest $LICENSE)" -lt 40 ] && echo yes || echo no)"
check "dark colours: the destination is dark on white" yes "$([ "$(darkest $EDIT)" -lt 40 ] && echo yes || echo no)"
drv close TMainForm
wait_app
finish
