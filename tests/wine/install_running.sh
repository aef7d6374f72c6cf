#!/usr/bin/env bash
# Running programs of the product are asked to close before an upgrade writes
# its files, never ended with their work unsaved. The product carries
# close_probe.exe (tests/win/close_probe.c), started from the install folder:
#  - one that saves its work when asked, and that itself started the new
#    version's installer (an in-product update): it closes, its work is
#    saved, the upgrade completes;
#  - one that refuses to close: in the window it is listed, cancelling leaves
#    the earlier version untouched (exit code 0 when the window is closed),
#    after "关闭程序并继续" it is listed again and "结束程序" ends it; with
#    /Silent it is ended after the wait and the log says so; the uninstaller's
#    window asks the same, and cancelling there removes nothing.
source "$(dirname "$0")/lib/uninstall-common.sh"
PROBE="$WIN_BUILD/tests/win/close_probe.exe"
[ -f "$PROBE" ] || { echo "missing $PROBE (build the Windows targets first)"; exit 1; }
drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }
version_of() { wine reg query "$KEY" /v DisplayVersion /reg:64 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ { print $3 }'; }
contains() { case "$3" in *"$2"*) echo "ok: $1" ;; *) echo "FAIL: $1: [$2] not in [$3]"; failures=$((failures + 1)) ;; esac; }
probe_running() { pgrep -f 'close_probe\.exe' >/dev/null && echo yes || echo no; }
newest_log() { ls -t "$TEMPDIR"/*Setup*.log 2>/dev/null | head -1; }
wait_for() {  # command, seconds: until the command prints "yes"
  local i
  for i in $(seq 1 $(($2 * 10))); do [ "$($1)" = yes ] && return 0; sleep 0.1; done
  return 1
}

project() {  # version -> prints the project folder: the demo with the probe among its files
  local dir; dir=$(prepare_demo "$1")
  cp "$PROBE" "$dir/files/close_probe.exe"
  echo "$dir"
}
V1="$WORK/v1"
V2="$WORK/v2"
build_demo "$(project 2.5.1.0)" "$V1"
build_demo "$(project 3.0.0.0)" "$V2"
MARKER_W='C:\probe-saved.txt'
MARKER="$C/probe-saved.txt"
PROBE_W='C:\Program Files\ZoDemo\close_probe.exe'
start_probe() {  # keep|refuse [program [argument]]
  (cd "$WORK" && exec wine "$PROBE_W" "$MARKER_W" "$@" >/dev/null 2>&1) &
  for i in $(seq 1 100); do [ "$(probe_running)" = yes ] && break; sleep 0.1; done
  sleep 1  # its window is up
}

# The installer of folder $1 with /Auto in the background (APP_PID), until its
# running-programs dialog shows. Wine's start.exe, which starts a 64-bit program
# for the 32-bit loader, now and then fails to start it at all ("file not
# found"): with no window of ours up, it is started once more.
launch_auto() {
  local attempt
  for attempt in 1 2; do
    (cd "$1" && exec wine ZoDemoSetup.exe /Auto >/dev/null 2>&1) &
    APP_PID=$!
    drv wait TCloseProgramsForm 60000 >/dev/null && return 0
    drv wait TMainForm 1000 >/dev/null && return 1
    wait "$APP_PID" 2>/dev/null
  done
  return 1
}

check "version 2.5.1.0 installs" 0 "$(install_demo "$V1")"
end_demo

# ---- The program that started the installer closes, saving its work --------------------------------
start_probe keep "$(winepath -w "$V2/ZoDemoSetup.exe")" /Silent
upgraded() { [ "$(version_of)" = 3.0.0.0 ] && echo yes; }
wait_for upgraded 90
check "an in-product update completes" 3.0.0.0 "$(version_of)"
check "the program that started it was asked and saved its work" "saved" "$(tr -d '\r' <"$MARKER" 2>/dev/null)"
check "it is no longer running" no "$(probe_running)"
sleep 2
end_demo
cp "$APP/Uninstall.da1" "$WORK/da1-v2"
rm -f "$MARKER"

# ---- A program that refuses, in the window ------------------------------------------------------------
start_probe refuse
export ZO_UI_EXE; ZO_UI_EXE=$(winepath -w "$V1/ZoDemoSetup.exe" 2>/dev/null)
launch_auto "$V1"
check "the running-programs dialog shows" 0 "$?"
contains "it names the program by its title and file" "Zo 记事本 - 未保存 (close_probe.exe)" "$(drv text 211 TCloseProgramsForm)"
check "its first button" "关闭程序并继续" "$(drv text 1 TCloseProgramsForm)"
import -window root "$ARTIFACTS/close-programs.png"
drv click 2 TCloseProgramsForm >/dev/null  # 取消
check "cancelling gives the idle look back" "1" "$(drv geom 107 | awk '{ print $5 }')"
check "the earlier version is untouched" 3.0.0.0 "$(version_of)"
check "its data file is the same" same "$(cmp -s "$APP/Uninstall.da1" "$WORK/da1-v2" && echo same)"
check "the program still runs" yes "$(probe_running)"
drv close TMainForm >/dev/null
for i in $(seq 1 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
wait "$APP_PID"; RC=$?; APP_PID=""
check "closing the window then: exit code 0" 0 "$RC"

launch_auto "$V1"
drv click 1 TCloseProgramsForm >/dev/null  # 关闭程序并继续
again() { [ "$(drv geom 212 TCloseProgramsForm | awk '{ print $5 }')" = 1 ] && echo yes; }
wait_for again 40
check "after the wait it is listed again, with 结束程序" yes "$(again)"
contains "still named" "close_probe.exe" "$(drv text 211 TCloseProgramsForm)"
import -window root "$ARTIFACTS/close-programs-again.png"
drv click 212 TCloseProgramsForm >/dev/null  # 结束程序
for i in $(seq 1 600); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
wait "$APP_PID"; RC=$?; APP_PID=""
unset ZO_UI_EXE
check "then the installation completes" "0 2.5.1.0" "$RC $(version_of)"
check "the refusing program was ended" no "$(probe_running)"
check "it saved nothing" no "$([ -e "$MARKER" ] && echo yes || echo no)"
sleep 2
end_demo

# ---- A program that refuses, with /Silent ------------------------------------------------------------
start_probe refuse
check "/Silent installs" 0 "$(install_demo "$V2")"
check "the refusing program was ended" no "$(probe_running)"
contains "the log says it was ended after not closing" "未能关闭，已结束：Zo 记事本 - 未保存 (close_probe.exe)" \
  "$(cat "$(newest_log)")"
check "the upgrade completed" 3.0.0.0 "$(version_of)"
end_demo

# ---- The uninstaller's window asks the same, and cancelling removes nothing --------------------------
start_probe refuse
export ZO_UI_EXE='C:\Program Files\ZoDemo\Uninstall.exe'
(cd "$WORK" && exec wine "$ZO_UI_EXE" >/dev/null 2>&1) &
APP_PID=$!
drv wait TUninstallForm 30000 >/dev/null
drv click 107 TUninstallForm >/dev/null  # 立即卸载
check "the uninstaller lists the running program" 0 "$(drv wait TCloseProgramsForm 30000 >/dev/null; echo $?)"
contains "by its title and file" "close_probe.exe" "$(drv text 211 TCloseProgramsForm)"
drv click 2 TCloseProgramsForm >/dev/null  # 取消
check "cancelling gives the question back" 1 "$(drv geom 107 TUninstallForm | awk '{ print $5 }')"
check "nothing was removed" "yes yes yes" \
  "$([ -f "$APP/close_probe.exe" ] && echo yes) $([ -f "$APP/Uninstall.da1" ] && echo yes) $(key_exists "$KEY")"
drv close TUninstallForm >/dev/null
for i in $(seq 1 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
wait "$APP_PID"; RC=$?; APP_PID=""
unset ZO_UI_EXE
check "closed without uninstalling: exit code 1" 1 "$RC"
wine taskkill /F /IM close_probe.exe >/dev/null 2>&1

finish
