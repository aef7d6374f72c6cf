#!/usr/bin/env bash
# The 32-bit installer by default and the 64-bit one on request, under Wine's
# WoW64: what zosetup-pack builds from a tool folder holding both pairs, where
# each installs and registers, an earlier installation in the other registry
# view uninstalled first, and programs and DLLs planted beside the installer
# and the uninstaller never run.
source "$(dirname "$0")/lib/install-common.sh"
WIN32_BUILD="${ZO_WIN32_BUILD:-build/win32}"
for f in "$WIN32_BUILD/Installer/zosetup.exe" "$WIN32_BUILD/Uninstaller/Uninstall.exe" \
         "$WIN32_BUILD/tests/win/planted_exe.exe" "$WIN32_BUILD/tests/win/planted_dll.dll" \
         "$PROGRAMS/Uninstaller/Uninstall.exe" "$WIN_BUILD/tests/win/planted_exe.exe" \
         "$WIN_BUILD/tests/win/planted_dll.dll"; do
  [ -f "$f" ] || { echo "missing $f (build the win and win32 targets first)"; exit 1; }
done

# Wine prefers its built-in system DLLs, so a planted one would never load
# anyway; told to prefer a native one (as Windows does with any DLL outside the
# KnownDLLs), it loads a planted DLL that a program imports or loads by name
# (an installer built before the delay imports does), and only the system
# folder's when the program names it by its full path.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;secur32,comctl32,gdiplus,crypt32,bcrypt=n,b"

GUID=$(new_guid)
KEY=$(uninstall_key "${GUID}_mw")
CLEAN_KEYS+=("$KEY")
NAME="ZoArch-$ID"
PF32="$WINEPREFIX/drive_c/Program Files (x86)/$NAME"
PF64="$WINEPREFIX/drive_c/Program Files/$NAME"
cleanup_arch() { rm -rf "$PF32" "$PF64"; wine reg delete "$KEY" /f /reg:32 >/dev/null 2>&1; }
trap 'cleanup_arch; cleanup' EXIT

# ---- The tool with both pairs: 32-bit beside it, 64-bit in x64 ------------------------------
tool="$WORK/tool"
mkdir -p "$tool/x64"
cp "$PACK" "$tool/zosetup-pack"
cp "$WIN32_BUILD/Installer/zosetup.exe" "$WIN32_BUILD/Uninstaller/Uninstall.exe" "$tool/"
cp "$STUB" "$PROGRAMS/Uninstaller/Uninstall.exe" "$tool/x64/"

proj="$WORK/proj"
mkdir -p "$proj/files"
printf 'read me\r\n' >"$proj/files/readme.txt"
python3 "$ZO_ROOT/tests/wine/lib/solid_png.py" "$proj/icon.png" 16 2080ff
write_project() {  # version
  cat >"$proj/project.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="ZoArch Product" CompanyName="Zo Soft" DefInstallPath="{pf}\\$NAME" GUID="$GUID"
            IconFile="icon.png" Version="$1"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" SourceMask="*.*" SourcePath="files"/>
  </Items></FileList>
</TSetupScript>
EOF
}

# Plants a taskkill.exe, a cmd.exe and system-named DLLs of the given build in a folder.
plant() {  # folder, build folder
  for exe in taskkill.exe cmd.exe; do cp "$2/tests/win/planted_exe.exe" "$1/$exe"; done
  for dll in secur32.dll comctl32.dll gdiplus.dll crypt32.dll bcrypt.dll; do cp "$2/tests/win/planted_dll.dll" "$1/$dll"; done
}
ran_planted() {  # folder -> the planted files that ran or were loaded
  (cd "$1" && ls *.ran 2>/dev/null | tr '\n' ' ' | sed 's/ $//')
}

# ---- Both pairs: under the budget, and no DLL outside the KnownDLLs imported at start-up --------
# (Those load on first use from the system folder; a plain import would be looked
# for beside the program first.)
for exe in "$WIN32_BUILD/Installer/zosetup.exe" "$WIN32_BUILD/Uninstaller/Uninstall.exe" \
           "$STUB" "$PROGRAMS/Uninstaller/Uninstall.exe"; do
  check "$exe stays under 1 MiB" yes "$([ "$(stat -c %s "$exe")" -lt 1048576 ] && echo yes || echo no)"
  check "$exe imports KnownDLLs only" "" \
    "$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' |
       grep -viE '^(ADVAPI32|GDI32|KERNEL32|msvcrt|ole32|OLEAUT32|SHELL32|SHLWAPI|USER32|WS2_32)\.dll$' | tr '\n' ' ')"
  # Built without guards on their function-local statics: they must start no thread.
  check "$exe starts no thread" "" \
    "$(x86_64-w64-mingw32-objdump -p "$exe" | grep -oiE '\b(CreateThread|CreateRemoteThread|_beginthread(ex)?|QueueUserWorkItem|CreateThreadpool[A-Za-z]*|TrySubmitThreadpoolCallback|RegisterWaitForSingleObject|CreateTimerQueueTimer)\b' | sort -u | tr '\n' ' ')"
done

# ---- Built by default: the 32-bit pair --------------------------------------------------------
write_project 1.0
dl="$ROOT/Downloads"
mkdir -p "$dl"
summary=$("$tool/zosetup-pack" build "$proj/project.xml" -o "$dl")
contains "the summary says which pair" "32-bit x86" "$summary"
setup="$dl/project-setup.exe"
report=$("$PACK" inspect "$setup")
contains "the installer is PE32" "format: PE32 x86" "$report"
contains "it asks for administrator rights" "execution level: requireAdministrator" "$report"
"$PACK" inspect "$setup" --extract "$WORK/x32" >/dev/null
check "the packed uninstaller is the 32-bit one" same \
  "$(same_program "$WORK/x32/Uninstall.exe" "$WIN32_BUILD/Uninstaller/Uninstall.exe")"

plant "$dl" "$WIN32_BUILD"
check "the 32-bit installation succeeds" 0 "$(run_installer "$setup" /Silent)"
check "nothing planted beside the installer ran or loaded" "" "$(ran_planted "$dl")"
check "{pf} is Program Files (x86)" yes "$([ -f "$PF32/readme.txt" ] && echo yes || echo no)"
check "nothing in Program Files" no "$([ -e "$PF64" ] && echo yes || echo no)"
REG_VIEW=/reg:32
check "registered in the 32-bit view (Wow6432Node)" "C:\\Program Files (x86)\\$NAME\\" "$(reg_value "$KEY" InstallLocation)"
check "its icon is the uninstaller's" "C:\\Program Files (x86)\\$NAME\\Uninstall.exe" "$(reg_value "$KEY" DisplayIcon)"
contains "which shows the product's icon" "explorer icon: 16x16 PNG" "$("$PACK" inspect "$PF32/Uninstall.exe")"
kb=$(find "$WORK/x32" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "dword:%08x", int((s + 1023) / 1024) }')
check "its size in kilobytes, rounded up" "$kb" "$(reg_value "$KEY" EstimatedSize)"
REG_VIEW=/reg:64
check "not in the 64-bit view" "" "$(reg_value "$KEY" InstallLocation)"

# ---- --arch x64 over it: the earlier 32-bit installation goes first --------------------------
write_project 2.0
out64="$ROOT/out64"
mkdir -p "$out64"
summary=$("$tool/zosetup-pack" build "$proj/project.xml" -o "$out64" --arch x64)
contains "the summary says 64-bit" "64-bit x64" "$summary"
setup64="$out64/project-setup.exe"
contains "--arch x64 gives PE32+" "format: PE32+ x86-64" "$("$PACK" inspect "$setup64")"
plant "$PF32" "$WIN32_BUILD"  # beside the 32-bit uninstaller, which the 64-bit installer runs
check "the 64-bit installation succeeds" 0 "$(run_installer "$setup64" /Silent)"
check "nothing planted beside the old uninstaller ran or loaded" "" "$(ran_planted "$PF32")"
REG_VIEW=/reg:32
check "the 32-bit registration was uninstalled" "" "$(reg_value "$KEY" DisplayVersion)"
REG_VIEW=/reg:64
check "the 64-bit one is registered" "2.0" "$(reg_value "$KEY" DisplayVersion)"
# The earlier installation's folder is the one proposed, and so the one used.
check "installed into the earlier folder" "C:\\Program Files (x86)\\$NAME\\" "$(reg_value "$KEY" InstallLocation)"
check "with the 64-bit uninstaller" same \
  "$(same_program "$PF32/Uninstall.exe" "$PROGRAMS/Uninstaller/Uninstall.exe")"

# ---- The 64-bit uninstaller, with 64-bit DLLs planted beside it -------------------------------
rm -f "$PF32"/*.ran
plant "$PF32" "$WIN_BUILD"
(cd "$WORK" && timeout 120 wine "$PF32/Uninstall.exe" /SILENT >"$WORK/last.out" 2>/dev/null)
check "nothing planted beside the uninstaller ran or loaded" "" "$(ran_planted "$PF32")"
check "the uninstaller removed the registration" "" "$(reg_value "$KEY" DisplayVersion)"

finish
