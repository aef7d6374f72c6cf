#!/usr/bin/env bash
# Neither program follows a link inside the install folder. A link planted
# under a replacement file's temporary name ("Uninstall.da1.zosetup-new") is
# removed as a link and what it leads to stays as it was; with {app}\docs a
# link to a folder outside, an upgrade writes nothing there (it fails, naming
# the link) and the uninstaller deletes nothing there and leaves the link.
# Unix symbolic links inside the prefix stand for junctions: Wine follows
# them as Windows follows a junction.
source "$(dirname "$0")/lib/uninstall-common.sh"
contains() { case "$3" in *"$2"*) echo "ok: $1" ;; *) echo "FAIL: $1: [$2] not in [$3]"; failures=$((failures + 1)) ;; esac; }

V1="$WORK/v1"
build_demo "$(prepare_demo 2.5.1.0)" "$V1"
check "the demo installs" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
mkdir -p "$C/victim"
echo target >"$C/victim/target.txt"
echo victim >"$C/victim/使用说明.txt"

# ---- A planted temporary-name link goes as a link ------------------------------------------------
ln -s ../../victim/target.txt "$APP/Uninstall.da1.zosetup-new"
check "an upgrade over a planted link succeeds" 0 "$(install_demo "$V1")"
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1
check "what the link led to is unchanged and in its place" target "$(cat "$C/victim/target.txt" 2>/dev/null)"
check "the link is gone" no "$([ -L "$APP/Uninstall.da1.zosetup-new" ] && echo yes || echo no)"
check "the data file is the product's, a file of its own" "file" \
  "$([ -f "$APP/Uninstall.da1" ] && [ ! -L "$APP/Uninstall.da1" ] && echo file)"

# ---- A link in place of a product folder: neither program goes through it -----------------------------
rm -rf "$APP/docs"
ln -s ../../victim "$APP/docs"
check "an upgrade that meets the linked folder fails" 4 "$(install_demo "$V1")"
contains "it names the link" 'docs' "$(cat "$WORK/last.out")"
check "the file behind the link is unchanged" victim "$(cat "$C/victim/使用说明.txt" 2>/dev/null)"
check "an uninstall leaves something: exit code 3" 3 "$(run "$APP/Uninstall.exe" /SILENT)"
wait_copy_done "$APP"
check "the file behind the link is still there" victim "$(cat "$C/victim/使用说明.txt" 2>/dev/null)"
check "and so is the link" yes "$([ -L "$APP/docs" ] && echo yes || echo no)"
check "everything outside stays" "target.txt 使用说明.txt" "$(ls "$C/victim" | sort | tr '\n' ' ' | sed 's/ $//')"

finish
