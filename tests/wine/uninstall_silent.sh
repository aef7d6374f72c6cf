#!/usr/bin/env bash
# The demo product installed for real and uninstalled through the command line
# its registration holds ("QuietUninstallString", run exactly as written
# there): nothing the installation made stays but a file the user added, the
# running product is ended, Uninstall.exe and its folder go through the copy
# in a folder only administrators may write, which goes when Windows restarts. Then a reinstall,
# and an upgrade whose installer runs the old uninstaller first and leaves
# only the new version.
source "$(dirname "$0")/lib/uninstall-common.sh"

V1="$WORK/v1"
build_demo "$(prepare_demo 2.5.1.0)" "$V1"

# ---- Install, and see what the installation made --------------------------------------
check "the demo installs" 0 "$(install_demo "$V1")"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
mapfile -t FILES < <(grep -o 'SourceMask="[^"]*"' "$WORK/da1.xml" | cut -d'"' -f2 | tr '\\' '/')
check "the package carries the build's uninstaller" same \
  "$(same_program "$UNINSTALLER" "$APP/Uninstall.exe")"
check "the installed files" "ZoDemo.exe data/sample.dat docs/使用说明.txt readme.txt Uninstall.exe" "${FILES[*]}"
check "shortcuts on the desktop and in the start menu" "yes yes yes" \
  "$([ -f "$DESKTOP/Zo 演示.lnk" ] && echo yes) $([ -f "$GROUP/Zo 演示.lnk" ] && echo yes) $([ -f "$GROUP/使用说明.lnk" ] && echo yes)"
check "the product's registry values" "AppID FirstRun InstallPath Launches Version" \
  "$(value_names 'HKCU\Software\ZoDemo')"
check "the registration" yes "$(key_exists "$KEY")"
for i in $(seq 1 50); do [ "$(demo_running)" = yes ] && break; sleep 0.1; done
check "the product runs" yes "$(demo_running)"
printf 'my own notes\r\n' >"$APP/我的笔记.txt"

# ---- Uninstall as the system's list of programs would, quietly ---------------------------
check "the registered quiet uninstall ends with exit code 0" 0 "$(uninstall_registered)"
ulog=$(ls -t "$TEMPDIR"/"Zo 演示 Uninstall "*.log 2>/dev/null | head -1)
check "the uninstaller wrote its log in the temporary folder" yes "$([ -f "$ulog" ] && echo yes || echo no)"
unlogged=""
for f in "${FILES[@]}"; do
  [ "$f" = Uninstall.exe ] && continue  # goes through its copy in the temporary folder
  win="C:\\Program Files\\ZoDemo\\${f//\//\\}"
  grep -qF "FILE  已删除 $win" "$ulog" 2>/dev/null || unlogged="$unlogged $f"
done
check "its log names every file it removed" "" "$unlogged"
check "its log ends with the exit code" "EXIT  0" "$(tail -1 "$ulog" 2>/dev/null | tr -d '\r' | cut -d' ' -f3-)"
check "it ran the registered command line as written" '"C:\Program Files\ZoDemo\Uninstall.exe" /SILENT' \
  "$(head -1 "$WORK/last.out")"
check "the running product was ended" no "$(demo_running)"
wait_copy_done "$APP"
for f in "${FILES[@]}" Uninstall.da1 Uninstall.da2; do
  check "$f is gone" no "$([ -e "$APP/$f" ] && echo yes || echo no)"
done
check "the install folder keeps only the user's file" "我的笔记.txt" "$(ls -A "$APP")"
check "the shortcuts and the start-menu folder are gone" "no no" \
  "$([ -e "$DESKTOP/Zo 演示.lnk" ] && echo yes || echo no) $([ -e "$GROUP" ] && echo yes || echo no)"
check "the desktop itself stays" yes "$([ -d "$DESKTOP" ] && echo yes)"
# FirstRun is the product's own (it wrote it when it first ran): the key stays for it.
check "the values the installation wrote are gone" "FirstRun" "$(value_names 'HKCU\Software\ZoDemo')"
check "the registration is gone" no "$(key_exists "$KEY")"

# ---- The uninstaller's copy waits for the next start of Windows ---------------------------
# It runs from a folder of its own in the Windows folder's Temp, which only the
# administrators may write; the user's temporary folder gets nothing.
copies() { find "$C/windows/temp" -path '*/ZoUninstall-*/ZoUninstall-*.exe' 2>/dev/null | wc -l; }
check "one copy of the uninstaller, in a folder of its own" 1 "$(copies)"
check "none in the user's temporary folder" 0 "$(ls "$TEMPDIR" | grep -c '^ZoUninstall-')"
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
  2>/dev/null | tr -d '\r')
case "$pending" in
  *[Tt]'emp\ZoUninstall-'*'\ZoUninstall-'*'.exe'*) echo "ok: the copy is marked for deletion at the next start" ;;
  *) echo "FAIL: the copy is not marked for deletion: [$pending]"; failures=$((failures + 1)) ;;
esac
wine wineboot -r >/dev/null 2>&1
check "after a restart the copy and its folder are gone" "0 0" \
  "$(copies) $(find "$C/windows/temp" -maxdepth 1 -name 'ZoUninstall-*' | wc -l)"

# ---- Without the user's file the install folder goes too -----------------------------------
rm -f "$APP/我的笔记.txt"
check "the demo installs again" 0 "$(install_demo "$V1")"
check "and uninstalls again" 0 "$(uninstall_registered)"
wait_gone "$APP" 10
check "the empty install folder is gone" no "$([ -e "$APP" ] && echo yes || echo no)"
check "Program Files stays" yes "$([ -d "$C/Program Files" ] && echo yes)"

# ---- A command line for the copy that names anything but the uninstaller deletes nothing -----
mkdir -p "$C/keep"; echo precious >"$C/keep/precious.txt"
check "the copy's command line refuses another file" 2 \
  "$(run "$UNINSTALLER" /REMOVE-SELF 0 'C:\keep\precious.txt' 'C:\keep')"
check "and the file stays" precious "$(cat "$C/keep/precious.txt")"

# ---- An upgrade: the newer installer runs the old uninstaller first ----------------------------
# The old version carries a program named like the installer: its uninstaller
# must not end the installer that waits for it.
V1DIR=$(prepare_demo 2.5.1.0)
cp "$WIN_BUILD/samples/demo/ZoDemo.exe" "$V1DIR/files/ZoDemoSetup.exe"
build_demo "$V1DIR" "$WORK/v1b"
check "the first version installs" 0 "$(install_demo "$WORK/v1b")"
V3DIR=$(prepare_demo 3.0.0.0)
rm -rf "$V3DIR/files/data"
# Without Uninstall.exe in its file list: the tool adds the one beside itself.
sed -i '/SourceMask="Uninstall.exe"/d' "$V3DIR/demo.xml"
printf 'what is new\r\n' >"$V3DIR/files/changes.txt"
build_demo "$V3DIR" "$WORK/v3"
check "the newer version installs over it, not ended by the old uninstaller" 0 "$(install_demo "$WORK/v3")"
wait_copy_done "$APP"  # the old uninstaller's copy finishes after the old uninstaller
check "a file only the old version had is gone, with its folder" "no no" \
  "$([ -e "$APP/data/sample.dat" ] && echo yes || echo no) $([ -e "$APP/data" ] && echo yes || echo no)"
check "the new version's files" "Uninstall.da1 Uninstall.da2 Uninstall.exe ZoDemo.exe changes.txt docs readme.txt" \
  "$(ls "$APP" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
check "the new version's uninstaller, added by the tool, is in place" same \
  "$(same_program "$UNINSTALLER" "$APP/Uninstall.exe")"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1-v3.xml"
check "the uninstall data is the new version's" 1 "$(grep -c 'Version="3.0.0.0"' "$WORK/da1-v3.xml")"
check "the registration names the new version" "3.0.0.0" \
  "$(wine reg query "$KEY" /v DisplayVersion /reg:64 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ { print $3 }')"
check "the product's values are the new version's" "3.0.0.0" \
  "$(wine reg query 'HKCU\Software\ZoDemo' /v Version 2>/dev/null | tr -d '\r' | awk '/Version/ { print $3 }')"
check "the desktop shortcut is back" yes "$([ -f "$DESKTOP/Zo 演示.lnk" ] && echo yes)"

# ---- And the new version uninstalls completely -------------------------------------------------
check "the new version uninstalls" 0 "$(uninstall_registered)"
wait_gone "$APP" 10
check "nothing of it stays" "no no no" \
  "$([ -e "$APP" ] && echo yes || echo no) $([ -e "$GROUP" ] && echo yes || echo no) $(key_exists "$KEY")"

finish
