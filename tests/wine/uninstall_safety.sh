#!/usr/bin/env bash
# The uninstaller stays inside, and one setup of a product runs at a time.
# A crafted "Uninstall.da1" that names files outside the install folder
# (through "..", and by an absolute path) removes nothing there and says what
# it left. While an uninstaller or an installer of the product runs, a second
# one of either says so, exits with its code and changes nothing; a restart
# after that keeps the installed Uninstall.exe.
source "$(dirname "$0")/lib/uninstall-common.sh"
drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }

V1="$WORK/v1"
build_demo "$(prepare_demo 2.5.1.0)" "$V1"
PUBLIC_DOCS="$C/users/Public/Documents"

# ---- A crafted Uninstall.da1 removes nothing outside the install folder ---------------------------
check "the demo installs" 0 "$(install_demo "$V1")"
end_demo
mkdir -p "$C/victim" "$PUBLIC_DOCS"
echo keep >"$C/victim/keep.txt"
echo thesis >"$PUBLIC_DOCS/thesis.txt"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
crafted='<TSetupFile Checked="True" Condition="" DestDir="{app}\..\victim" FileBytes="4" IncludeSubPath="False" LastWriteDate="0" ResID="" SourceMask="keep.txt" SourcePath=""/>'
crafted+='<TSetupFile Checked="True" Condition="" DestDir="C:\users\Public\Documents" FileBytes="4" IncludeSubPath="False" LastWriteDate="0" ResID="" SourceMask="thesis.txt" SourcePath=""/>'
crafted+='<TSetupFile Checked="True" Condition="" DestDir="{app}" FileBytes="4" IncludeSubPath="False" LastWriteDate="0" ResID="" SourceMask="..\..\users\Public\Documents\thesis.txt" SourcePath=""/>'
python3 - "$WORK/da1.xml" "$crafted" <<'PY'
import sys
path, extra = sys.argv[1], sys.argv[2]
text = open(path, encoding="utf-8").read()
text = text.replace("<FileList>\n        <Items>", "<FileList>\n        <Items>" + extra, 1) if "<FileList>\n        <Items>" in text \
    else text.replace("<Items>", "<Items>" + extra, 1)
open(path, "w", encoding="utf-8").write(text)
PY
"$PACK" encode "$WORK/da1.xml" "$APP/Uninstall.da1"
check "uninstalled, something stays: exit code 3" 3 "$(run "$APP/Uninstall.exe" /SILENT)"
sed 's/^/  | /' "$WORK/last.out"
wait_copy_done "$APP"
check "the file beside the install folder stays" keep "$(cat "$C/victim/keep.txt" 2>/dev/null)"
check "the document stays" thesis "$(cat "$PUBLIC_DOCS/thesis.txt" 2>/dev/null)"
check "their folders stay" "yes yes" "$([ -d "$C/victim" ] && echo yes) $([ -d "$PUBLIC_DOCS" ] && echo yes)"
check "each is named on its own line" 3 "$(grep -c '^已保留（不在安装目录中）：' "$WORK/last.out")"
check "as the script wrote it" 1 "$(grep -cF '已保留（不在安装目录中）：C:\Program Files\ZoDemo\..\victim\keep.txt' "$WORK/last.out")"
check "the product itself is gone" "no no" "$([ -e "$APP/ZoDemo.exe" ] && echo yes || echo no) $(key_exists "$KEY")"

# ---- Data others may write is not trusted because it names a user's installation ------------------
# (Everyone may write the folder: Wine shows the Unix mode as Everyone's entry.)
# Nor is anything in such a folder left for Windows to delete at its next
# start, by a path someone may by then have turned into a junction ({app}\data
# swapped for a file here, so that its file cannot be deleted now).
check "the demo installs for the scope test" 0 "$(install_demo "$V1")"
end_demo
wine reg add 'HKLM\Software\ZoVictim' /v Keep /t REG_SZ /d keep /f /reg:64 >/dev/null 2>&1
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
sed -i -e 's/InstallScope="[^"]*"/InstallScope="user"/' \
  -e '0,/<TSetupReg /s||<TSetupReg Checked="True" Condition="" RootKey="rrkLocalMachine" SubKey="Software\\ZoVictim" ValueData="x" ValueName="Keep" ValueType="rvtString"/>&|' \
  "$WORK/da1.xml"
check "the crafted data names the value" 1 "$(grep -c 'ZoVictim' "$WORK/da1.xml")"
"$PACK" encode "$WORK/da1.xml" "$APP/Uninstall.da1"
chmod o+w "$APP"
rm -rf "$APP/data"; echo planted >"$APP/data"
run "$APP/Uninstall.exe" /SILENT >/dev/null
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
  2>/dev/null | tr -d '\r')
check "nothing in the folder waits for the restart" 0 "$(grep -c 'ZoDemo' <<<"$pending")"
check "the machine's value stays" keep \
  "$(wine reg query 'HKLM\Software\ZoVictim' /v Keep /reg:64 2>/dev/null | tr -d '\r' | awk '/Keep/ {print $3}')"
check "and the distrust is said" 1 "$(grep -c '^卸载信息可被管理员以外的用户修改' "$WORK/last.out")"
wait_copy_done "$APP"
rm -f "$APP/data"; [ -d "$APP" ] && chmod o-w "$APP"
wine reg delete "$KEY" /f /reg:64 >/dev/null 2>&1

# ---- An uninstaller's window holds the lock: a second uninstaller and an installer change nothing --------
check "the demo installs again" 0 "$(install_demo "$V1")"
end_demo
check "and is registered" yes "$(key_exists "$KEY")"
WIN_EXE='C:\Program Files\ZoDemo\Uninstall.exe'
ZO_UI_EXE="$WIN_EXE"; export ZO_UI_EXE
(cd "$WORK" && exec wine "$APP/Uninstall.exe" >/dev/null 2>&1) &
APP_PID=$!
check "the first uninstaller's window is up" 0 "$(drv wait TUninstallForm 15000 >/dev/null; echo $?)"
busy_line='Zo 演示 的安装或卸载程序正在运行，请等它结束后再试。'
check "a second uninstaller: exit code 4" 4 "$(run "$APP/Uninstall.exe" /SILENT)"
check "and one line" "$busy_line" "$(cat "$WORK/last.out")"
check "nothing was removed" "yes yes yes" \
  "$([ -f "$APP/ZoDemo.exe" ] && echo yes) $([ -f "$APP/Uninstall.da1" ] && echo yes) $(key_exists "$KEY")"
echo changed >"$APP/readme.txt"
check "an installer meanwhile: exit code 7" 7 "$(install_demo "$V1")"
check "and one line" "$busy_line" "$(cat "$WORK/last.out")"
check "it wrote nothing" changed "$(cat "$APP/readme.txt")"
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
  2>/dev/null | tr -d '\r')
check "nothing of the product waits for the restart" 0 "$(grep -c 'ZoDemo' <<<"$pending")"
drv click 105 TUninstallForm >/dev/null  # its close image
wait "$APP_PID"; APP_PID=""
unset ZO_UI_EXE

# ---- Two quiet uninstallers started together: one removes, the other changes nothing --------------
(cd "$WORK" && wine "$APP/Uninstall.exe" /SILENT >"$WORK/first.out" 2>/dev/null; echo $? >"$WORK/first.rc") &
FIRST=$!
second=$(run "$APP/Uninstall.exe" /SILENT)
wait "$FIRST"
first=$(cat "$WORK/first.rc")
# 1 with Wine's own "ShellExecuteEx" failure: its start.exe, which starts a
# 64-bit program for the 32-bit loader, found no Uninstall.exe (as 53 below).
never_started() { [ "$1" = 1 ] && grep -aq ShellExecuteEx "$2"; }
never_started "$first" "$WORK/first.out" && first=53
never_started "$second" "$WORK/last.raw" && second=53
both=$(printf '%s\n' "$first" "$second" | sort | tr '\n' ' ')
case "$both" in
  # 4: it found the lock taken; 2: it started after the data file had gone;
  # 53: Wine found no Uninstall.exe to start, the first one's removal had ended.
  "0 4 "|"0 2 "|"0 53 ") echo "ok: one uninstalled, the other stopped ($both)" ;;
  *) echo "FAIL: two uninstallers at once: exit codes $both"; failures=$((failures + 1)) ;;
esac
wait_copy_done "$APP"
check "the product is gone" "no no" "$([ -e "$APP/ZoDemo.exe" ] && echo yes || echo no) $(key_exists "$KEY")"

# ---- Reinstalled, then restarted: the new Uninstall.exe stays ------------------------------------
check "the demo installs once more" 0 "$(install_demo "$V1")"
end_demo
wine wineboot -r >/dev/null 2>&1
check "after a restart Uninstall.exe is still there" yes "$([ -f "$APP/Uninstall.exe" ] && echo yes || echo no)"
check "and the product uninstalls" 0 "$(uninstall_registered)"

finish
