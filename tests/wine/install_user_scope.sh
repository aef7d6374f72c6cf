#!/usr/bin/env bash
# The demo product installed for the current user alone (InstallScope "user"):
# the installers ask for no rights, the product goes into the user's
# %LOCALAPPDATA%\Programs and start menu, registers under HKEY_CURRENT_USER,
# leaves an installation for every user of the same product alone, and
# uninstalls cleanly through its registration, its uninstaller's copy in the
# user's own temporary folder. Then an installer that lets the user choose
# (InstallScope "either"), told /CURRENTUSER, then /ALLUSERS.
source "$(dirname "$0")/lib/uninstall-common.sh"

# The demo as a user's product: the tool adds the uninstaller (so it asks for
# no rights either) instead of the file list carrying the build's own.
prepare_scope() {  # scope -> prints the project folder
  local dir; dir=$(prepare_demo 2.6.0.0)
  sed -i "s/<BaseInfo /<BaseInfo InstallScope=\"$1\" /; /SourceMask=\"Uninstall.exe\"/d" "$dir/demo.xml"
  echo "$dir"
}

V1="$WORK/user"
build_demo "$(prepare_scope user)" "$V1"
SETUP="$V1/ZoDemoSetup.exe"
info=$("$PACK" inspect "$SETUP")
check "the installer asks for no rights" "execution level: asInvoker" "$(grep '^execution level' <<<"$info")"
check "inspect shows the scope" "install scope: user" "$(grep -o '^install scope: [a-z]*' <<<"$info")"

UAPP="${USERDIR}AppData/Local/Programs/ZoDemo"
UGROUP="${USERDIR}AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Zo 演示"
UKEY_PATH="HKCU\\$KEY_PATH"
# Installed for every user before: its uninstaller must not run.
MACHINE_RAN="$C/machine-uninstaller-ran.txt"
wine reg add "$KEY" /v QuietUninstallString /d "C:\\windows\\system32\\cmd.exe /c echo ran> C:\\machine-uninstaller-ran.txt" \
  /f /reg:64 >/dev/null 2>&1
wine reg add "$KEY" /v InstallLocation /d 'C:\Program Files\ZoDemo\' /f /reg:64 >/dev/null 2>&1

check "the user's installation ends with exit code 0" 0 "$(install_demo "$V1")"
check "the product is in the user's programs folder" "yes no" \
  "$([ -f "$UAPP/ZoDemo.exe" ] && echo yes || echo no) $([ -e "$APP" ] && echo yes || echo no)"
check "its uninstaller asks for no rights" "execution level: asInvoker" \
  "$("$PACK" inspect "$UAPP/Uninstall.exe" | grep '^execution level')"
check "the start menu shortcuts are the user's" "yes no" \
  "$([ -f "$UGROUP/Zo 演示.lnk" ] && echo yes || echo no) $([ -e "$GROUP" ] && echo yes || echo no)"
check "registered under HKEY_CURRENT_USER" yes "$(key_exists "$UKEY_PATH")"
location=$(wine reg query "$UKEY_PATH" /v InstallLocation /reg:64 2>/dev/null | tr -d '\r' | awk -F'    ' '/InstallLocation/ { print $4 }')
case "$location" in
  *'\AppData\Local\Programs\ZoDemo\') echo "ok: InstallLocation is the user's folder" ;;
  *) echo "FAIL: InstallLocation [$location]"; failures=$((failures + 1)) ;;
esac
log=$(ls -t "$TEMPDIR"/"Zo 演示 Setup "*.log 2>/dev/null | head -1)
check "the log reports the installation for every user and leaves it" 1 \
  "$(grep -c '已为所有用户安装的版本保持不变：HKEY_LOCAL_MACHINE' "$log" 2>/dev/null)"
check "its uninstaller did not run" no "$([ -e "$MACHINE_RAN" ] && echo yes || echo no)"
"$PACK" decode "$UAPP/Uninstall.da1" "$WORK/da1.xml"
check "the installed script says user" 1 "$(grep -c 'InstallScope="user"' "$WORK/da1.xml")"

# The product runs after the installation; the quiet uninstall ends it.
check "the registered quiet uninstall ends with exit code 0" 0 "$(run "$RUNNER" "$UKEY_PATH" QuietUninstallString)"
wait_copy_done "$UAPP"
wait_gone "$UAPP" 10
check "the install folder is gone, the user's programs folder stays" "no yes" \
  "$([ -e "$UAPP" ] && echo yes || echo no) $([ -d "${USERDIR}AppData/Local/Programs" ] && echo yes || echo no)"
check "the start menu folder is gone" no "$([ -e "$UGROUP" ] && echo yes || echo no)"
check "the registration is gone" no "$(key_exists "$UKEY_PATH")"
check "the machine's registration stays" yes "$(key_exists "$KEY")"
check "the uninstaller's copy is in the user's temporary folder, none in Windows' own" "1 0" \
  "$(find "$TEMPDIR" -path '*/ZoUninstall-*/ZoUninstall-*.exe' | wc -l) $(find "$C/windows/temp" -name 'ZoUninstall-*' | wc -l)"
wine reg delete "$KEY" /f /reg:64 >/dev/null 2>&1

# ---- The user chooses: /CURRENTUSER beside /Silent --------------------------------------
V2="$WORK/either"
build_demo "$(prepare_scope either)" "$V2"
check "an either installer asks for no rights" "execution level: asInvoker" \
  "$("$PACK" inspect "$V2/ZoDemoSetup.exe" | grep '^execution level')"
check "/Silent /CURRENTUSER installs for the user" 0 "$(run "$V2/ZoDemoSetup.exe" /Silent /currentuser)"
check "into the user's folder, registered under HKEY_CURRENT_USER" "yes yes no" \
  "$([ -f "$UAPP/ZoDemo.exe" ] && echo yes || echo no) $(key_exists "$UKEY_PATH") $(key_exists "$KEY")"
"$PACK" decode "$UAPP/Uninstall.da1" "$WORK/da1.xml"
check "the installed script holds the scope chosen" 1 "$(grep -c 'InstallScope="user"' "$WORK/da1.xml")"
check "and uninstalls" 0 "$(run "$RUNNER" "$UKEY_PATH" QuietUninstallString)"
# Every user, where the installer has the rights already (as it always has
# under Wine, which shows no consent prompt): no copy of itself is started.
check "/ALLUSERS /Silent installs for every user" 0 "$(run "$V2/ZoDemoSetup.exe" /ALLUSERS /Silent)"
check "into Program Files, registered under HKEY_LOCAL_MACHINE" "yes yes" \
  "$([ -f "$APP/ZoDemo.exe" ] && echo yes || echo no) $(key_exists "$KEY")"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
check "the installed script says machine" 1 "$(grep -c 'InstallScope="machine"' "$WORK/da1.xml")"
check "its uninstaller removes it" 0 "$(uninstall_registered)"
wait_gone "$APP" 10
check "and the registration" "no no" "$([ -e "$APP" ] && echo yes || echo no) $(key_exists "$KEY")"
finish
