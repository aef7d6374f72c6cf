#!/usr/bin/env bash
# Neither program follows a link inside the install folder. Through a link
# planted under a replacement file's temporary name ("Uninstall.da1.zosetup-new")
# nothing is written and what it leads to stays as it was; with {app}\docs a
# link to a folder outside, the uninstaller deletes nothing there and leaves
# the link, and an install writes nothing there (it fails, naming the link).
# A hard link planted under a shortcut's name is replaced, not written through.
# Unix symbolic links inside the prefix stand for junctions: Wine follows
# them as Windows follows a junction.
source "$(dirname "$0")/lib/uninstall-common.sh"
contains() { case "$3" in *"$2"*) echo "ok: $1" ;; *) echo "FAIL: $1: [$2] not in [$3]"; failures=$((failures + 1)) ;; esac; }

# (With a shortcut saved into the install folder, for the hard link below.)
V1="$WORK/v1"
project=$(prepare_demo 2.5.1.0)
sed -i '0,/<TSetupShortCut /s||<TSetupShortCut Checked="True" Condition="" DstFile="{app}\\{MainExeName}.exe" IconFile="" Name="Manual" SaveDir="{app}" WorkDir="{app}"/>&|' \
  "$project/demo.xml"
build_demo "$project" "$V1"
check "the demo installs" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
mkdir -p "$C/victim"
echo target >"$C/victim/target.txt"
echo victim >"$C/victim/使用说明.txt"

# ---- A planted temporary-name link is never opened through ----------------------------------------
# (A link to a folder: Wine shows a Unix link to a file as the file itself.
# Windows removes a junction by its name; Wine cannot remove this one, so
# there the upgrade stops, naming the data file, with nothing written.)
ln -s ../../victim "$APP/Uninstall.da1.zosetup-new"
rc=$(install_demo "$V1")
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
if [ -L "$APP/Uninstall.da1.zosetup-new" ]; then
  check "an upgrade over a link it cannot remove stops" 5 "$rc"
  contains "naming the data file" 'Uninstall.da1' "$(cat "$WORK/last.out")"
else
  check "an upgrade over a planted link succeeds" 0 "$rc"
fi
check "what the link led to is unchanged and in its place" "target victim" \
  "$(cat "$C/victim/target.txt" 2>/dev/null) $(cat "$C/victim/使用说明.txt" 2>/dev/null)"
check "nothing was written there" "target.txt 使用说明.txt" "$(ls "$C/victim" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
rm -f "$APP/Uninstall.da1.zosetup-new"
check "without it the upgrade succeeds" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1

# ---- A hard link planted under a shortcut's name is replaced, never written through -------------------
rm -f "$APP/Manual.lnk"
ln "$C/victim/target.txt" "$APP/Manual.lnk"
check "an upgrade over a hard-linked shortcut succeeds" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
check "the file it shared its bytes with is unchanged" target "$(cat "$C/victim/target.txt" 2>/dev/null)"
check "the shortcut is a file of its own, a shortcut" "1 L" \
  "$(stat -c %h "$APP/Manual.lnk" 2>/dev/null) $(head -c 1 "$APP/Manual.lnk" 2>/dev/null)"

# ---- A link in place of a product folder: neither program goes through it -----------------------------
rm -rf "$APP/docs"
ln -s ../../victim "$APP/docs"
check "an uninstall leaves something: exit code 3" 3 "$(run "$APP/Uninstall.exe" /SILENT)"
wait_copy_done "$APP"
check "the file behind the link is still there" victim "$(cat "$C/victim/使用说明.txt" 2>/dev/null)"
check "and so is the link" yes "$([ -L "$APP/docs" ] && echo yes || echo no)"
contains "the link's file is named as left" '未能删除：C:\Program Files\ZoDemo\docs\使用说明.txt' "$(cat "$WORK/last.out")"
check "an install that meets the linked folder fails: exit code 4" 4 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
contains "it names the link" 'docs' "$(cat "$WORK/last.out")"
check "the file behind the link is unchanged" victim "$(cat "$C/victim/使用说明.txt" 2>/dev/null)"
check "everything outside stays" "target.txt 使用说明.txt" "$(ls "$C/victim" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"

# ---- A link above an emptied folder: the folder behind it stays ---------------------------------------
# (A product folder two levels down, {app}\docs\empty, with {app}\docs a link.)
rm -f "$APP/docs"
check "the demo installs again" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
sed -i '0,/<TSetupFile /s||<TSetupFile Checked="True" Condition="" DestDir="{app}\\docs\\empty" FileBytes="1" IncludeSubPath="False" LastWriteDate="0" ResID="" SourceMask="x.txt" SourcePath=""/>&|' \
  "$WORK/da1.xml"
"$PACK" encode "$WORK/da1.xml" "$APP/Uninstall.da1"
rm -rf "$APP/docs"; mkdir -p "$C/victim/empty"
ln -s ../../victim "$APP/docs"
run "$APP/Uninstall.exe" /SILENT >/dev/null
wait_copy_done "$APP"
check "the empty folder behind the link stays" yes "$([ -d "$C/victim/empty" ] && echo yes || echo no)"

finish
