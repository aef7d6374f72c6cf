#!/usr/bin/env bash
# A project as `zosetup-pack new` writes it, with a program put into files/,
# installed with /Silent and nothing else changed: its shortcuts (the desktop's
# and the two of the start menu's folder) are there and lead where they should,
# and the uninstaller takes them away again, with that folder.
source "$(dirname "$0")/lib/install-common.sh"

name="ZoNew${ID//-/}"
proj="$WORK/proj"
mkdir -p "$proj"
(cd "$proj" && "$ZO_ROOT/$PACK" new "$name.xml" >/dev/null) || { echo "FAIL: zosetup-pack new"; exit 1; }
cp "$HELPER" "$proj/files/$name.exe"  # exits at once, as the program started at the end
GUID=$(sed -n 's/.* GUID="\({[^"]*}\)".*/\1/p' "$proj/$name.xml")
KEY=$(uninstall_key "${GUID}_mw")
CLEAN_KEYS+=("$KEY")
# Only the install folder moves, into this run's own.
sed -i "s|DefInstallPath=\"{pf}\\\\$name\"|DefInstallPath=\"$WINROOT\\\\App\"|" "$proj/$name.xml"
APP="$ROOT/App"

built=$("$PACK" build "$proj/$name.xml" -o "$WORK/out" --stub "$STUB" -q 2>&1 >/dev/null)
check "the project builds without a warning" "" "$built"
check "the plain installation succeeds" 0 "$(run_installer "$WORK/out/$name-setup.exe" /Silent)"
check "the program is installed" yes "$([ -f "$APP/$name.exe" ] && echo yes || echo no)"

desktop=$(find "$WINEPREFIX/drive_c/users" -path "*/Desktop/$name.lnk" 2>/dev/null | head -1)
check "the desktop shortcut exists" yes "$([ -n "$desktop" ] && echo yes || echo no)"
contains "it leads to the program" "App\\$name.exe" "$(strings -el "$desktop" 2>/dev/null; strings "$desktop" 2>/dev/null)"
# {group}: a folder named after the product in the all-users start menu.
programs="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
group=$(find "$WINEPREFIX/drive_c" -type d -path "*/Start Menu/Programs/$name" 2>/dev/null | head -1)
check "the start menu folder is the all-users one" "$programs/$name" "$group"
check "it holds the program's shortcut" yes "$([ -f "$programs/$name/$name.lnk" ] && echo yes || echo no)"
contains "which leads to the program" "App\\$name.exe" \
  "$(strings -el "$programs/$name/$name.lnk" 2>/dev/null; strings "$programs/$name/$name.lnk" 2>/dev/null)"
check "and the uninstaller's" yes "$([ -f "$programs/$name/卸载 $name.lnk" ] && echo yes || echo no)"
contains "which leads to the uninstaller" "App\\Uninstall.exe" \
  "$(strings -el "$programs/$name/卸载 $name.lnk" 2>/dev/null; strings "$programs/$name/卸载 $name.lnk" 2>/dev/null)"

# Run from elsewhere: a current folder inside the install folder would keep it.
(cd "$WORK" && timeout 120 wine "$APP/Uninstall.exe" /SILENT >"$WORK/uninstall.out" 2>/dev/null)
check "the uninstaller ends with 0" 0 "$?"
check "it removes the desktop shortcut" no "$([ -f "$desktop" ] && echo yes || echo no)"
check "and the start menu folder with both shortcuts" no "$([ -d "$programs/$name" ] && echo yes || echo no)"
check "but not the start menu's Programs folder" yes "$([ -d "$programs" ] && echo yes || echo no)"
# The uninstaller's copy in the temporary folder removes the folder once the uninstaller has ended.
for i in $(seq 1 100); do [ -d "$APP" ] || break; sleep 0.1; done
check "and the install folder" no "$([ -d "$APP" ] && echo yes || echo no)"
# What a failed uninstallation left is not left in the shared prefix.
rm -rf "${programs:?}/$name" "$desktop"
finish
