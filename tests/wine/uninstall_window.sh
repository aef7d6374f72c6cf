#!/usr/bin/env bash
# The uninstaller's window as a person meets it, started by the registered
# "UninstallString": the installer's look with the product's icon, title,
# version, the question and the install folder; closing it removes nothing;
# "立即卸载" removes the product and ends in the finished look, whose button
# closes it. Damaged data gets one clear message and removes nothing; what is
# in use is named in the finished look and goes at the next restart; a
# missing icon file only costs the icon. Screenshots go to build/artifacts/.
source "$(dirname "$0")/lib/uninstall-common.sh"
# Control IDs (Uninstaller/UninstallFrm_win.h).
TITLE=102 VERSION=103 CLOSE=105 ICON=106 UNINSTALL=107 WAIT=115 PROGRESS=116 FINISH=118 PROMPT=120 FOLDER=121 LEFTOVERS=122
FORM=TUninstallForm
drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }
field() { drv geom "$1" $FORM | cut -d' ' -f"$2"; }  # 1 left, 2 top, 3 width, 4 height, 5 visible, 6 enabled

# The uninstaller as the registration names it, in the background; the driver
# looks at its windows only.
start_uninstaller() {  # arguments...
  local line
  line=$(wine reg query "$KEY" /v UninstallString /reg:64 2>/dev/null | tr -d '\r' | awk -F'REG_SZ    ' '/UninstallString/ { print $2 }')
  local exe=${line//\"/}
  ZO_UI_EXE="$exe"; export ZO_UI_EXE
  (cd "$WORK" && exec wine "$exe" "$@" >"$WORK/uninstaller.out" 2>/dev/null) &
  APP_PID=$!
}

wait_uninstaller() {  # sets RC (124 after 30 s)
  local i
  for i in $(seq 1 300); do
    if ! kill -0 "$APP_PID" 2>/dev/null; then
      wait "$APP_PID"; RC=$?; APP_PID=""; return
    fi
    sleep 0.1
  done
  kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""; RC=124
}

V1="$WORK/v1"
build_demo "$(prepare_demo 2.5.1.0)" "$V1"
check "the demo installs" 0 "$(install_demo "$V1")"
end_demo  # its window would cover ours

# ---- The idle look ------------------------------------------------------------------------------
start_uninstaller
check "the window appears" 0 "$(drv wait $FORM 15000 >/dev/null; echo $?)"
sleep 0.5
import -window root "$ARTIFACTS/uninstall-idle.png"
check "window is 750 x 480" "750 480" "$(drv rect $FORM | cut -d' ' -f3-4)"
check "icon, title, version and button centred as the installer's" "327 6 6 275" \
  "$(field $ICON 1) $(field $TITLE 1) $(field $VERSION 1) $(field $UNINSTALL 1)"
check "the product's title" "Zo 演示" "$(drv text $TITLE $FORM)"
check "its version" "版本：2.5.1.0" "$(drv text $VERSION $FORM)"
check "the question" "确定要从您的计算机中删除 Zo 演示 及其所有组件吗？" "$(drv text $PROMPT $FORM)"
check "the install folder" 'C:\Program Files\ZoDemo\' "$(drv text $FOLDER $FORM | sed 's/^安装目录：//')"
check "the button" "立即卸载" "$(drv text $UNINSTALL $FORM)"
check "the button has the focus" $UNINSTALL "$(drv focus $FORM)"
check "no progress yet" "0 0" "$(field $PROGRESS 5) $(field $FINISH 5)"

# ---- Closing it removes nothing --------------------------------------------------------------------
drv click $CLOSE $FORM
wait_uninstaller
check "closed without uninstalling: exit code 1" 1 "$RC"
check "everything is still there" "yes yes yes" \
  "$([ -f "$APP/ZoDemo.exe" ] && echo yes) $([ -f "$APP/Uninstall.exe" ] && echo yes) $(key_exists "$KEY")"

# ---- Uninstalling ------------------------------------------------------------------------------------
start_uninstaller
drv wait $FORM 15000 >/dev/null
drv click $UNINSTALL $FORM
for i in $(seq 1 100); do [ "$(drv text $TITLE $FORM)" = "卸载完成" ] && break; sleep 0.1; done
sleep 0.3
import -window root "$ARTIFACTS/uninstall-finished.png"
check "the finished look" "卸载完成" "$(drv text $TITLE $FORM)"
check "it says the product is gone" "Zo 演示 已从您的计算机中删除。" "$(drv text $VERSION $FORM)"
check "one button, centred, with the focus" "274 1 $FINISH" "$(field $FINISH 1) $(field $FINISH 5) $(drv focus $FORM)"
check "the uninstall button and the progress are hidden" "0 0 0" \
  "$(field $UNINSTALL 5) $(field $PROGRESS 5) $(field $WAIT 5)"
check "the files are gone while the window shows" "no no" \
  "$([ -e "$APP/ZoDemo.exe" ] && echo yes || echo no) $(key_exists "$KEY")"
drv click $FINISH $FORM
wait_uninstaller
check "the button closes it with exit code 0" 0 "$RC"
wait_gone "$APP" 10
check "the install folder is gone" no "$([ -e "$APP" ] && echo yes || echo no)"

# ---- Damaged data: one message, nothing removed ------------------------------------------------------
check "the demo installs again" 0 "$(install_demo "$V1")"
end_demo
cp "$APP/Uninstall.da1" "$WORK/da1.saved"
head -c 300 /dev/urandom >"$APP/Uninstall.da1"
start_uninstaller
check "a damaged script: the message" \
  '卸载数据文件 C:\Program Files\ZoDemo\Uninstall.da1 已损坏，无法卸载。' "$(drv msgbox 15000)"
import -window root "$ARTIFACTS/uninstall-damaged.png"
drv msgbox-press 1 >/dev/null
wait_uninstaller
check "and exit code 2" 2 "$RC"
check "nothing was removed" "yes yes" "$([ -f "$APP/ZoDemo.exe" ] && echo yes) $(key_exists "$KEY")"
check "quietly: exit code 2 and one line" 2 "$(run "$APP/Uninstall.exe" /silent)"
check "the line" '卸载数据文件 C:\Program Files\ZoDemo\Uninstall.da1 已损坏，无法卸载。' "$(cat "$WORK/last.out")"

# ---- A folder in use: the finished look says so, and a restart finishes the job ------------------------------
cp "$WORK/da1.saved" "$APP/Uninstall.da1"
(cd "$APP/docs" && exec wine "$ZO_ROOT/$WIN_BUILD/tests/win/steps_helper.exe" --sleep >/dev/null 2>&1) &
SLEEPER=$!
sleep 1
start_uninstaller
drv wait $FORM 15000 >/dev/null
drv click $UNINSTALL $FORM
for i in $(seq 1 100); do [ "$(drv text $TITLE $FORM)" = "卸载完成" ] && break; sleep 0.1; done
sleep 0.3
import -window root "$ARTIFACTS/uninstall-leftovers.png"
check "what stays is counted" "有 1 个项目正在使用，将在重新启动计算机后删除。" "$(drv text $VERSION $FORM)"
check "and named" 'C:\Program Files\ZoDemo\docs\' "$(drv text $FOLDER $FORM)"
check "and listed where it can be seen" "1" "$(drv seen $LEFTOVERS $FORM)"
drv click $FINISH $FORM
wait_uninstaller
check "exit code 3: uninstalled, something left" 3 "$RC"
check "the rest is gone" "no no" "$([ -e "$APP/docs/使用说明.txt" ] && echo yes || echo no) $(key_exists "$KEY")"
kill "$SLEEPER" 2>/dev/null; wait "$SLEEPER" 2>/dev/null
wine wineboot -r >/dev/null 2>&1
check "after a restart the install folder is gone" no "$([ -e "$APP" ] && echo yes || echo no)"

# ---- Without the icon file the window shows without the icon ----------------------------------------------
check "the demo installs once more" 0 "$(install_demo "$V1")"
end_demo
rm -f "$APP/Uninstall.da2"
start_uninstaller
check "the window still appears" 0 "$(drv wait $FORM 15000 >/dev/null; echo $?)"
sleep 0.3
import -window root "$ARTIFACTS/uninstall-noicon.png"
drv click $UNINSTALL $FORM
for i in $(seq 1 100); do [ "$(drv text $TITLE $FORM)" = "卸载完成" ] && break; sleep 0.1; done
drv click $FINISH $FORM
wait_uninstaller
check "and uninstalls completely" "0 no" "$RC $(key_exists "$KEY")"

finish
