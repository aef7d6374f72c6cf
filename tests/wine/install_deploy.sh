#!/usr/bin/env bash
# The deployment command line a package manager writes: /Silent with the
# destination, the log's place and /NORUN, in another order and letter case
# than the README's; then the uninstaller with /SILENT and its own log.
source "$(dirname "$0")/lib/install-common.sh"

GUID=$(new_guid)
KEY=$(uninstall_key "${GUID}_mw")
CLEAN_KEYS+=("$KEY")
LOG="$WINROOT\\runs.txt"
proj="$WORK/proj"
mkdir -p "$proj/files"
cp "$HELPER" "$proj/files/prod.exe"
printf 'hello\r\n' >"$proj/files/readme.txt"
python3 "$ZO_ROOT/tests/wine/lib/solid_png.py" "$proj/icon.png" 16 3080ff
# No Uninstall.exe among the files: the tool adds the real one of the build tree.
cat >"$proj/project.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="ZoDeploy $ID" CompanyName="Zo Soft" DefInstallPath="$WINROOT\\Proposed" GUID="$GUID"
            IconFile="icon.png" Version="1.4.0.2"/>
  <FileList><Items><TSetupFile DestDir="{app}" SourceMask="*.*" SourcePath="files"/></Items></FileList>
  <RunList><Items>
    <TSetupRun FileName="{app}\\prod.exe" Params="$LOG waited" Wait="True" WorkDir="{app}"/>
    <TSetupRun FileName="{app}\\prod.exe" Params="$LOG started" Wait="False" WorkDir="{app}"/>
  </Items></RunList>
</TSetupScript>
XML
"$PACK" build "$proj/project.xml" -o "$WORK/out" --stub "$STUB" --uninstaller "$PROGRAMS/Uninstaller/Uninstall.exe" \
  --quiet >/dev/null || { echo "FAIL: building the project"; exit 1; }
setup="$WORK/out/project-setup.exe"

chosen="$WINROOT\\Chosen Dir"
check "/norun /Silent \"/DIR=... with a blank\" /LOG=... /NORESTART installs with 0" 0 \
  "$(run_installer "$setup" /norun /Silent "/DIR=$chosen" "/LOG=$WINROOT\\logs\\deep\\setup.log" /NORESTART)"
check "the files landed in the folder /DIR named" same \
  "$(cmp -s "$proj/files/readme.txt" "$ROOT/Chosen Dir/readme.txt" && echo same || echo differs)"
check "the proposed folder was not made" no "$([ -e "$ROOT/Proposed" ] && echo yes || echo no)"
check "InstallLocation is the folder /DIR named" "$chosen\\" "$(reg_value "$KEY" InstallLocation)"
sleep 1  # a started program would have written its line by now
check "/NORUN: the waited entry ran, the finished window's program did not start" "waited" \
  "$(tr -d '\r' <"$ROOT/runs.txt" 2>/dev/null | cut -d'|' -f1 | tr '\n' ' ' | sed 's/ $//')"
slog=$(tr -d '\r' <"$ROOT/logs/deep/setup.log" 2>/dev/null)
contains "the log is where /LOG said, its folders made" "命令行：" "$slog"
contains "the log names the program /NORUN left out" "/NORUN，不启动 $chosen\\prod.exe $LOG started" "$slog"
check "the log ends with the exit code" "EXIT  0" "$(tail -1 <<<"$slog" | cut -d' ' -f3-)"

check "the uninstaller takes /LOG=... /SILENT and removes the product with 0" 0 \
  "$(cd "$ROOT" && timeout 120 wine "Chosen Dir/Uninstall.exe" "/LOG=$WINROOT\\logs\\uninstall.log" /SILENT \
       >"$WORK/last.out" 2>/dev/null; echo $?)"
for i in $(seq 1 100); do [ -e "$ROOT/Chosen Dir" ] || break; sleep 0.1; done
check "the install folder is gone" no "$([ -e "$ROOT/Chosen Dir" ] && echo yes || echo no)"
check "the uninstaller's log is where /LOG said" "EXIT  0" \
  "$(tr -d '\r' <"$ROOT/logs/uninstall.log" 2>/dev/null | tail -1 | cut -d' ' -f3-)"

finish
