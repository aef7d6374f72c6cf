#!/usr/bin/env bash
# A product file that cannot be replaced, in the window and without one: the
# copy-failure window names the file and the reason; Esc (Ignore) keeps the old
# file and goes on, Enter (Retry) writes it once it can be replaced, "退出安装"
# ends the installer (8 once the machine changed) and nothing more is done; "/Silent" retries, then
# ends with exit code 4 and one line.
#
# The file is made immutable (chattr +i): the tests run as the administrator,
# whom a read-only attribute does not stop, while an immutable file refuses
# everyone as a read-only file refuses a user.
source "$(dirname "$0")/lib/install-common.sh"
[ -f "$DRIVER" ] || { echo "missing $DRIVER (build the Windows targets first)"; exit 1; }
drv() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }

GUID=$(new_guid)
KEY=$(uninstall_key "${GUID}_mw")
CLEAN_KEYS+=("$KEY")
APP="$ROOT/App"
WINAPP="$WINROOT\\App"
locked="$APP/locked.txt"

touch "$ROOT/probe" && chattr +i "$ROOT/probe" 2>/dev/null && chattr -i "$ROOT/probe" || {
  echo "skipped: this file system cannot make a file immutable"
  exit 0
}
unlock() { chattr -i "$locked" 2>/dev/null; }
trap 'unlock; cleanup' EXIT

proj="$WORK/proj"
mkdir -p "$proj/files"
# A stand-in uninstaller: an earlier version's real one would remove the
# files before each installation.
cp "$HELPER" "$proj/files/Uninstall.exe"
python3 "$ZO_ROOT/tests/wine/lib/solid_png.py" "$proj/icon.png" 16 2090ff
build() {  # version: both files say which version they come from
  echo "locked $1" >"$proj/files/locked.txt"
  echo "next $1" >"$proj/files/next.txt"
  cat >"$proj/project.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="ZoCopyFailure" DefInstallPath="$WINAPP" FullSetupFile="ZoCopyFailure.exe" GUID="$GUID"
            IconFile="icon.png" Version="$1"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" SourceMask="locked.txt" SourcePath="files"/>
    <TSetupFile DestDir="{app}" SourceMask="next.txt" SourcePath="files"/>
    <TSetupFile DestDir="{app}" SourceMask="Uninstall.exe" SourcePath="files"/>
  </Items></FileList>
</TSetupScript>
EOF
  build_installer "$proj/project.xml"
}

# Runs the installer with /Auto in the background until its copy-failure window
# shows; then act on it, and wait_auto gives the exit code.
start_auto() {  # installer
  (cd "$(dirname "$1")" && exec wine "$(basename "$1")" /Auto >/dev/null 2>&1) &
  AUTO_PID=$!
  BG_PIDS+=("$AUTO_PID")
  drv wait TCopyFileFailureForm 30000 >/dev/null
}
wait_auto() {  # -> AUTO_RC (in this shell: only it can wait for its child)
  local i
  for i in $(seq 1 300); do
    if ! kill -0 "$AUTO_PID" 2>/dev/null; then
      wait "$AUTO_PID"
      AUTO_RC=$?
      return
    fi
    sleep 0.1
  done
  kill "$AUTO_PID"
  AUTO_RC=timeout
}

setup=$(build 1)
check "version 1 installs" 0 "$(run_installer "$setup" /Silent)"
chattr +i "$locked"

# Ignore (Esc): the old file stays, the next file and the rest follow.
setup=$(build 2)
start_auto "$setup"
check "the window says what failed" "复制文件失败" "$(drv caption TCopyFileFailureForm)"
contains "the window names the file" "文件：$WINAPP\\locked.txt" "$(drv text 406 TCopyFileFailureForm)"
contains "the window gives the reason" "失败原因：Cannot create file" "$(drv text 406 TCopyFileFailureForm)"
check "Retry has the focus" 402 "$(drv focus TCopyFileFailureForm)"
drv click 105; sleep 0.5  # the main window's close image, while the installation runs
check "the close image does nothing during the installation" "yes yes" \
  "$(kill -0 "$AUTO_PID" 2>/dev/null && echo yes || echo no) $(drv wait TCopyFileFailureForm 100 >/dev/null && echo yes || echo no)"
drv key TCopyFileFailureForm 27
wait_auto
check "after Ignore the installation finishes" 0 "$AUTO_RC"
check "Ignore keeps the old file" "locked 1" "$(cat "$locked")"
check "the next file is written" "next 2" "$(cat "$APP/next.txt")"
check "the installation is registered" "2" "$(reg_value "$KEY" DisplayVersion)"

# Retry (Enter) once the file can be replaced: it is written.
setup=$(build 3)
start_auto "$setup"
unlock
drv key TCopyFileFailureForm 13
wait_auto
check "after Retry the installation finishes" 0 "$AUTO_RC"
check "Retry writes the file" "locked 3" "$(cat "$locked")"

# Quit: the process ends at once; the rest is not done. The earlier version's
# uninstaller has run by then: the machine has changed, so the exit code says
# the installation is incomplete (8). Nothing was written, so nothing new is
# registered.
chattr +i "$locked"
setup=$(build 4)
start_auto "$setup"
drv click 404 TCopyFileFailureForm
wait_auto
check "quitting after the earlier version was removed: exit code 8" 8 "$AUTO_RC"
check "nothing after the failed file is written" "next 3" "$(cat "$APP/next.txt")"
check "nothing new is registered" "3" "$(reg_value "$KEY" DisplayVersion)"

# Without a person: a few attempts, then one line and exit code 4.
check "/Silent ends with exit code 4" 4 "$(run_installer "$setup" /Silent)"
contains "and names the file on standard output" "locked.txt" "$(tr -d '\r' <"$WORK/last.out")"
check "no window was shown" 1 "$(wine "$DRIVER" wait TCopyFileFailureForm 100 >/dev/null 2>&1; echo $?)"

finish
