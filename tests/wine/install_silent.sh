#!/usr/bin/env bash
# A real installer built by zosetup-pack, run with /Silent: earlier versions
# uninstalled first, the product running from its folder ended (a program of the
# same name elsewhere left alone), every file at its path with its
# date, registry values, shortcuts, the uninstall data and key, run entries;
# then a second version over the same folder, and a package that cannot finish.
source "$(dirname "$0")/lib/install-common.sh"

GUID=$(new_guid)
KEY=$(uninstall_key "${GUID}_mw")
IS1=$(uninstall_key "${GUID}_is1")
REGKEY="HKCU\\Software\\ZoE2E-$ID"
CLEAN_KEYS+=("$KEY" "$IS1" "$REGKEY")
APP="$ROOT/App"
WINAPP="$WINROOT\\App"
LOG="$WINROOT\\log.txt"

# ---- The product ----------------------------------------------------------------
proj="$WORK/proj"
mkdir -p "$proj/files/bin" "$proj/files/sub/deep"
head -c 300000 /dev/urandom >"$proj/files/bin/tool.dll"
printf 'configuration\r\n' >"$proj/files/settings.ini"
: >"$proj/files/empty.txt"
head -c 70000 /dev/zero | tr '\0' 'z' >"$proj/files/sub/deep/data.txt"
cp "$HELPER" "$proj/files/prod.exe"
cp "$HELPER" "$proj/files/Uninstall.exe"
# A product file named like the installer itself: the installer must not end itself.
cp "$HELPER" "$proj/files/ZOE2ESETUP_77.EXE"
touch -d "2021-03-14 15:09:26" "$proj/files/bin/tool.dll"
touch -d "2019-11-02 08:00:00" "$proj/files/sub/deep/data.txt"
python3 "$ZO_ROOT/tests/wine/lib/solid_png.py" "$proj/icon.png" 16 ff8000

write_project() {  # version, extra registry items
  cat >"$proj/project.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="ZoE2E Product" CompanyName="Zo Soft" CompanyUrl="https://zo.example/" DefInstallPath="$WINAPP"
            FullSetupFile="ZoE2ESetup_77.exe" GotoUrl="http://127.0.0.1:$PORT/done?from=setup" GotoUrlMode="gumSilent" GUID="$GUID"
            IconFile="icon.png" Version="$1"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" IncludeSubPath="True" SourceMask="*.*" SourcePath="files"/>
  </Items></FileList>
  <RegList><Items>
    <TSetupReg RootKey="rrkCurrentUser" SubKey="Software\\ZoE2E-$ID" ValueName="Folder" ValueData="{app}" ValueType="rvtString"/>
    <TSetupReg RootKey="rrkCurrentUser" SubKey="Software\\ZoE2E-$ID" ValueName="Hex" ValueData="0x10" ValueType="rvtDWord"/>
    $2
  </Items></RegList>
  <RunList><Items>
    <TSetupRun FileName="{app}\\prod.exe" Params="$LOG waited" Wait="True" WorkDir="{app}\\sub"/>
    <TSetupRun FileName="{app}\\prod.exe" Params="$LOG started" Wait="False" WorkDir="{app}\\bin"/>
  </Items></RunList>
  <ShortCutList><Items>
    <TSetupShortCut DstFile="{app}\\prod.exe" IconFile="{app}\\prod.exe" Name="ZoE2E $ID" SaveDir="{app}" WorkDir="{app}"/>
    <TSetupShortCut DstFile="{app}\\prod.exe" Name="Nowhere" SaveDir="{app}\\no-such-folder"/>
  </Items></ShortCutList>
</TSetupScript>
EOF
}

# The completion address: a loopback server that notes what it is asked for.
python3 - "$WORK/visits.txt" "$WORK/port" <<'PY' &
import http.server, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        open(sys.argv[1], "a").write(self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
open(sys.argv[2], "w").write(str(server.server_port))
server.timeout = 1
for _ in range(300):  # five minutes at most
    server.handle_request()
PY
BG_PIDS+=($!)
for i in $(seq 1 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT=$(cat "$WORK/port")

# ---- An earlier version, and a program of the product's name in another folder ----------
mkdir -p "$ROOT/old" "$ROOT/running"
cp "$HELPER" "$ROOT/old/olduninst.exe"
cp "$HELPER" "$ROOT/running/prod.exe"
wine reg add "$IS1" /v QuietUninstallString /d "\"$WINROOT\\old\\olduninst.exe\" $LOG is1 $WINAPP\\prod.exe" /f /reg:64 >/dev/null
wine reg add "$KEY" /v QuietUninstallString /d "\"$WINROOT\\old\\olduninst.exe\" $LOG mw $WINAPP\\prod.exe" /f /reg:64 >/dev/null
(exec wine "$ROOT/running/prod.exe" --sleep >/dev/null 2>&1) &
running=$!
BG_PIDS+=("$running")
sleep 1

write_project 2.5.1.0 ""
setup=$(build_installer "$proj/project.xml")
# The product data on a page boundary: mapped from the file, not read into private memory.
check "the package's resource section starts on a page boundary" 0 \
  "$(( 0x$(x86_64-w64-mingw32-objdump -h "$setup" | awk '$2 == ".rsrc" { last = $6 } END { print last }') % 4096 ))"
check "the first installation succeeds" 0 "$(run_installer "$setup" /Silent)"

# ---- Files ----------------------------------------------------------------------------
for f in bin/tool.dll settings.ini empty.txt sub/deep/data.txt prod.exe; do
  check "$f landed with its bytes" same "$(cmp -s "$proj/files/$f" "$APP/$f" && echo same || echo differs)"
done
check "the empty file exists" yes "$([ -f "$APP/empty.txt" ] && [ ! -s "$APP/empty.txt" ] && echo yes)"
check "tool.dll keeps its date" "$(stat -c %Y "$proj/files/bin/tool.dll")" "$(stat -c %Y "$APP/bin/tool.dll")"
check "data.txt keeps its date" "$(stat -c %Y "$proj/files/sub/deep/data.txt")" "$(stat -c %Y "$APP/sub/deep/data.txt")"

# ---- Earlier versions, the running product, run entries ---------------------------------
log=$(tr -d '\r' <"$ROOT/log.txt" 2>/dev/null)
check "the old uninstallers ran in order before any file, then the waited entry" \
  "is1|no mw|no waited|$WINAPP\\sub" \
  "$(echo "$log" | awk -F'|' '{ print ($1 == "waited") ? $1 "|" $2 : $1 "|" $3 }' | head -3 | tr '\n' ' ' | sed 's/ $//')"
for i in $(seq 1 50); do grep -q '^started' "$ROOT/log.txt" 2>/dev/null && break; sleep 0.1; done
check "the other run entry started at the end in its folder" "started|$WINAPP\\bin|-" \
  "$(tr -d '\r' <"$ROOT/log.txt" | grep '^started')"
check "a program of the product's name in another folder still runs" running \
  "$(kill -0 "$running" 2>/dev/null && echo running || echo ended)"
check "the silent run printed nothing (no taskkill lines)" "" "$(tr -d '\r' <"$WORK/last.out")"
check "the completion address was visited with the channel code of the installer's name" \
  "/done?from=setup&rcode=77" "$(head -1 "$WORK/visits.txt" 2>/dev/null)"

# ---- Registry, shortcuts, uninstall data ----------------------------------------------------
check "string value with {app} expanded" "$WINAPP\\" "$(reg_value "$REGKEY" Folder)"
check "DWORD value 0x10 is 16" "dword:00000010" "$(reg_value "$REGKEY" Hex)"
check "the shortcut exists" yes "$([ -f "$APP/ZoE2E $ID.lnk" ] && echo yes)"
check "a shortcut into a missing folder makes the folder" yes "$([ -f "$APP/no-such-folder/Nowhere.lnk" ] && echo yes)"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
contains "Uninstall.da1 decodes to the installed script" "GUID=\"$GUID\"" "$(cat "$WORK/da1.xml")"
contains "Uninstall.da1 lists the installed files" 'tool.dll"' "$(grep -o 'SourceMask="[^"]*"' "$WORK/da1.xml" | tr '\n' ' ')"
"$PACK" decode "$APP/Uninstall.da2" "$WORK/da2.png"
check "Uninstall.da2 decodes to the icon" PNG "$(head -c 4 "$WORK/da2.png" | tail -c 3)"

size=$(find "$proj/files" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "dword:%08x", int((s + 1023) / 1024) }')
check "DisplayIcon names the uninstaller" "$WINAPP\\Uninstall.exe" "$(reg_value "$KEY" DisplayIcon)"
check "DisplayName" "ZoE2E Product 版本 2.5.1.0" "$(reg_value "$KEY" DisplayName)"
check "DisplayVersion" "2.5.1.0" "$(reg_value "$KEY" DisplayVersion)"
check "EstimatedSize" "$size" "$(reg_value "$KEY" EstimatedSize)"
check "HelpLink" "https://zo.example/" "$(reg_value "$KEY" HelpLink)"
check "InstallDate" "$(date +%Y%m%d)" "$(reg_value "$KEY" InstallDate)"
check "InstallLocation" "$WINAPP\\" "$(reg_value "$KEY" InstallLocation)"
check "MajorVersion" dword:00000002 "$(reg_value "$KEY" MajorVersion)"
check "MinorVersion" dword:00000005 "$(reg_value "$KEY" MinorVersion)"
check "NoModify" dword:00000001 "$(reg_value "$KEY" NoModify)"
check "NoRepair" dword:00000001 "$(reg_value "$KEY" NoRepair)"
check "Publisher" "Zo Soft" "$(reg_value "$KEY" Publisher)"
check "QuietUninstallString" "\"$WINAPP\\Uninstall.exe\" /SILENT" "$(reg_value "$KEY" QuietUninstallString)"
check "UninstallString" "\"$WINAPP\\Uninstall.exe\"" "$(reg_value "$KEY" UninstallString)"
check "URLInfoAbout" "https://zo.example/" "$(reg_value "$KEY" URLInfoAbout)"
check "URLUpdateInfo" "https://zo.example/" "$(reg_value "$KEY" URLUpdateInfo)"
check "VersionMajor" dword:00000002 "$(reg_value "$KEY" VersionMajor)"
check "VersionMinor" dword:00000005 "$(reg_value "$KEY" VersionMinor)"

# ---- The run's log ----------------------------------------------------------------------------
ilog=$(ls -t "$WINEPREFIX"/drive_c/users/*/Temp/"ZoE2E Product Setup "*.log 2>/dev/null | head -1)
check "the installer's log is in the temporary folder" yes "$([ -f "$ilog" ] && echo yes || echo no)"
logtext=$(tr -d '\r' <"$ilog" 2>/dev/null)
unlogged=""
for f in bin/tool.dll settings.ini empty.txt sub/deep/data.txt prod.exe Uninstall.exe Uninstall.da1 Uninstall.da2; do
  grep -qF "FILE  $WINAPP\\${f//\//\\}" <<<"$logtext" || unlogged="$unlogged $f"
done
check "its log names every file written" "" "$unlogged"
contains "its log names the registry values" "REG   HKEY_CURRENT_USER\\Software\\ZoE2E-$ID\\Hex = 16" "$logtext"
contains "its log names the shortcuts" "LINK  $WINAPP\\no-such-folder\\Nowhere.lnk" "$logtext"
contains "its log names the programs run and their exit codes" "$LOG waited，退出代码 0" "$logtext"
check "its log ends with the exit code" "EXIT  0" "$(tail -1 <<<"$logtext" | cut -d' ' -f3-)"

# ---- A second version over the same folder ------------------------------------------------------
wine reg delete "$IS1" /f /reg:64 >/dev/null 2>&1
printf 'configuration 2\r\n' >"$proj/files/settings.ini"
write_project 3.1 ""
setup=$(build_installer "$proj/project.xml")
# The installed product runs: the new version's installer ends it before writing.
(exec wine "$APP/prod.exe" --sleep >/dev/null 2>&1) &
installed=$!
BG_PIDS+=("$installed")
sleep 1
check "the second installation succeeds" 0 "$(run_installer "$setup" /Silent)"
check "the product running from the install folder was ended" ended \
  "$(kill -0 "$installed" 2>/dev/null && echo running || echo ended)"
check "the namesake in the other folder still runs" running "$(kill -0 "$running" 2>/dev/null && echo running || echo ended)"
contains "the second run's log names the program it ended" "END   $WINAPP\\prod.exe" \
  "$(tr -d '\r' <"$(ls -t "$WINEPREFIX"/drive_c/users/*/Temp/"ZoE2E Product Setup "*.log | head -1)")"
check "the first version's uninstaller ran quietly" "uninstall" "$(tr -d '\r' <"$APP/uninstall-log.txt" | cut -d'|' -f1)"
check "the changed file was replaced" same "$(cmp -s "$proj/files/settings.ini" "$APP/settings.ini" && echo same || echo differs)"
check "the key was rewritten" "3.1" "$(reg_value "$KEY" DisplayVersion)"
check "MinorVersion rewritten" dword:00000001 "$(reg_value "$KEY" MinorVersion)"
"$PACK" decode "$APP/Uninstall.da1" "$WORK/da1.xml"
contains "Uninstall.da1 was replaced" 'Version="3.1"' "$(cat "$WORK/da1.xml")"

# ---- A value that is not a number stops the installation -------------------------------------------
write_project 3.2 "<TSetupReg RootKey=\"rrkCurrentUser\" SubKey=\"Software\\\\ZoE2E-$ID\" ValueName=\"Bad\" ValueData=\"12abc\" ValueType=\"rvtDWord\"/>"
setup=$(build_installer "$proj/project.xml")
check "a bad DWORD ends the silent run with exit code 5" 5 "$(run_installer "$setup" /Silent)"
contains "and says why on standard output" "'12abc' is not a valid integer value" "$(tr -d '\r' <"$WORK/last.out")"
contains "and where its log is" "日志：C:\\users\\" "$(tr -d '\r' <"$WORK/last.out")"
# The plan refuses it before anything changes: nothing new is registered.
check "nothing is registered after the failed step" "3.1" "$(reg_value "$KEY" DisplayVersion)"

finish
