#!/usr/bin/env bash
# An upgrade that cannot destroy: a damaged package (its index or one of its
# images) is found out before the earlier version's uninstaller runs, so the
# first installation and its registration stay as they were; quitting in the
# copy-failure window during an upgrade leaves what was written registered and
# uninstallable, with exit code 8; an installer clears a deletion an earlier
# uninstaller left for the next start of Windows on a file it has just written,
# and runs no earlier uninstaller that users other than administrators could change.
source "$(dirname "$0")/lib/uninstall-common.sh"
drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }
version_of() { wine reg query "$KEY" /v DisplayVersion /reg:64 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ { print $3 }'; }

V1="$WORK/v1"
V3="$WORK/v3"
build_demo "$(prepare_demo 2.5.1.0)" "$V1"
build_demo "$(prepare_demo 3.0.0.0)" "$V3"
check "version 2.5.1.0 installs" 0 "$(install_demo "$V1")"
end_demo
cp "$APP/Uninstall.da1" "$WORK/da1-v1"

# ---- A damaged package changes nothing ----------------------------------------------------------
for part in index image; do
  mkdir -p "$WORK/damaged-$part"
  cp "$V3/ZoDemoSetup.exe" "$WORK/damaged-$part/ZoDemoSetup.exe"
  python3 tests/wine/lib/damage_block.py "$WORK/damaged-$part/ZoDemoSetup.exe" "$part" 64 >/dev/null
  rc=$(install_demo "$WORK/damaged-$part")
  check "damaged $part: the installer fails" 5 "$rc"
  contains() { case "$3" in *"$2"*) echo "ok: $1" ;; *) echo "FAIL: $1: [$2] not in [$3]"; failures=$((failures + 1)) ;; esac; }
  contains "damaged $part: it says the package is damaged" "安装包已损坏" "$(cat "$WORK/last.out")"
  check "damaged $part: the first installation is whole" "yes yes yes" \
    "$([ -f "$APP/ZoDemo.exe" ] && echo yes) $([ -f "$APP/Uninstall.exe" ] && echo yes) $([ -f "$APP/docs/使用说明.txt" ] && echo yes)"
  check "damaged $part: its data file is the same" same "$(cmp -s "$APP/Uninstall.da1" "$WORK/da1-v1" && echo same)"
  check "damaged $part: its registration is untouched" 2.5.1.0 "$(version_of)"
done

# ---- Quitting during an upgrade leaves what was written uninstallable ------------------------------
locked="$APP/readme.txt"
if touch "$WORK/probe" && chattr +i "$WORK/probe" 2>/dev/null && chattr -i "$WORK/probe"; then
  chattr +i "$locked"
  trap 'chattr -i "$locked" 2>/dev/null; cleanup' EXIT
  ZO_UI_EXE=$(winepath -w "$V3/ZoDemoSetup.exe" 2>/dev/null); export ZO_UI_EXE
  (cd "$V3" && exec wine ZoDemoSetup.exe /Auto >/dev/null 2>&1) &
  APP_PID=$!
  check "the copy-failure window shows" 0 "$(drv wait TCopyFileFailureForm 60000 >/dev/null; echo $?)"
  drv click 404 TCopyFileFailureForm >/dev/null  # 退出安装
  for i in $(seq 1 300); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
  wait "$APP_PID"; RC=$?; APP_PID=""
  unset ZO_UI_EXE
  chattr -i "$locked"
  check "quitting after files were written: exit code 8" 8 "$RC"
  check "the new version is registered" 3.0.0.0 "$(version_of)"
  "$PACK" decode "$APP/Uninstall.da1" "$WORK/da1-partial.xml"
  check "its data file lists what was written" "ZoDemo.exe data\\sample.dat docs\\使用说明.txt Uninstall.exe" \
    "$(grep -o 'SourceMask="[^"]*"' "$WORK/da1-partial.xml" | cut -d'"' -f2 | tr '\n' ' ' | sed 's/ $//')"
  check "its uninstaller is in place" same "$(same_program "$UNINSTALLER" "$APP/Uninstall.exe")"
  check "the registered uninstall removes it" 0 "$(uninstall_registered)"
  wait_copy_done "$APP"
  check "what was written is gone" "no no no" \
    "$([ -e "$APP/ZoDemo.exe" ] && echo yes || echo no) $([ -e "$APP/Uninstall.exe" ] && echo yes || echo no) $(key_exists "$KEY")"
  rm -f "$locked"
else
  echo "skipped: this file system cannot make a file immutable"
fi

# ---- A deletion left for the next start does not take the new installation's file ----------------------
check "the demo installs" 0 "$(install_demo "$V1")"
end_demo
# As an earlier uninstaller that found it in use would have left it.
wine "$ZO_ROOT/$WIN_BUILD/tests/win/steps_helper.exe" --delete-at-restart 'C:\Program Files\ZoDemo\Uninstall.exe' >/dev/null 2>&1
pending() { wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations /reg:64 2>/dev/null | tr -d '\r' | grep -c 'ZoDemo\\Uninstall.exe'; }
check "the deletion waits for the restart" 1 "$(pending)"
check "the demo installs over it" 0 "$(install_demo "$V1")"
end_demo
check "the installer cleared it" 0 "$(pending)"
wine wineboot -r >/dev/null 2>&1
check "after a restart Uninstall.exe is still there" yes "$([ -f "$APP/Uninstall.exe" ] && echo yes || echo no)"

# ---- An earlier uninstaller others could have replaced is not run ------------------------------------
# (Everyone may change the folder and the program: Wine shows the Unix mode as
# Everyone's entry. The other user's program stands in the uninstaller's place.)
chmod o+w "$APP" "$APP/Uninstall.exe"
cp "$WIN_BUILD/tests/win/steps_helper.exe" "$APP/Uninstall.exe"
check "the demo installs over it" 0 "$(install_demo "$V1")"
end_demo
check "the planted program did not run" no "$([ -f "$APP/uninstall-log.txt" ] && echo yes || echo no)"
check "the log says why" yes "$(grep -q '上一版本的卸载程序未运行（它或它的目录可被管理员以外的用户修改）' \
  "$(ls -t "$TEMPDIR"/*Setup*.log | head -1)" && echo yes || echo no)"
chmod o-w "$APP"

finish
