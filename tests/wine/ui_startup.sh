#!/usr/bin/env bash
# Start-up of the installer: the mode chosen by the script resources, the
# command-line switches, and damaged packages reported in one clear message.
source "$(dirname "$0")/lib/ui-common.sh"
# Title IDs of the window: 102 lblAppTitle, 114 lblProxy.

# The stub: system DLLs only, and under its 1 MiB budget (the size the packaging
# tool embeds: stripped, static).
system_dlls='^(ADVAPI32|COMCTL32|GDI32|gdiplus|KERNEL32|msvcrt|ole32|OLEAUT32|Secur32|SHELL32|SHLWAPI|USER32|WS2_32|CRYPT32|bcrypt|ntdll|VERSION|WININET)\.dll$'
others=$(x86_64-w64-mingw32-objdump -p "$STUB" | sed -n 's/.*DLL Name: //p' | grep -viE "$system_dlls" | tr '\n' ' ')
check "the stub imports system DLLs only" "" "$others"
check "the stub stays under 1 MiB" yes "$([ "$(stat -c %s "$STUB")" -lt 1048576 ] && echo yes || echo no)"

pkg full --script full --title "Full Product" --guid "{A0000000-0000-4000-8000-000000000001}"
pkg online --script online --title "Web Product" --guid "{A0000000-0000-4000-8000-000000000002}"
pkg both --script both --title "Both Product" --guid "{A0000000-0000-4000-8000-000000000003}"
pkg neither --script none

# Neither script: exit code 0 at once, no window, no message.
check "no script resource ends with 0" 0 "$(run_app neither)"
check "no script resource ends with 0 also with /Silent" 0 "$(run_app neither /Silent)"

# A full package: its title, no proxy link.
start_app full
drv wait TMainForm 10000 >/dev/null
check "full package shows its title" "Full Product" "$(drv text 102)"
check "full package hides the proxy link" 0 "$(drv geom 114 | cut -d' ' -f5)"
# The idle window is painted without GDI+: the ready icon and the program's own shapes.
check "the idle window needs no GDI+" 0 "$(drv module gdiplus.dll)"
drv click 105  # imgClose
wait_app
check "closing the idle window ends with 0" 0 "$RC"

# A package without the ready icon (an earlier packaging tool's) decodes its PNG through GDI+.
pkg plainicon --script full --icon plain --title "Plain Icon" --guid "{A0000000-0000-4000-8000-000000000004}"
start_app plainicon
drv wait TMainForm 10000 >/dev/null
check "a package without the ready icon shows its window" "Plain Icon" "$(drv text 102)"
check "and its icon comes through GDI+" 1 "$(drv module gdiplus.dll)"
drv close TMainForm
wait_app

# Online installer: the online script, the proxy link.
start_app online
drv wait TMainForm 10000 >/dev/null
check "online installer shows the online script's title" "Web Product Online" "$(drv text 102)"
check "online installer shows the proxy link" 1 "$(drv geom 114 | cut -d' ' -f5)"
drv close TMainForm
wait_app
check "closing the online window ends with 0" 0 "$RC"

# Both scripts: the full one wins.
start_app both
drv wait TMainForm 10000 >/dev/null
check "with both scripts the full one is read" "Both Product" "$(drv text 102)"
check "with both scripts the proxy link stays hidden" 0 "$(drv geom 114 | cut -d' ' -f5)"
drv close TMainForm
wait_app

# Switches that are not exactly one "/Silent" or "/Auto" leave the window to the user.
for args in "-Silent" "/Silent x" '"/Silent "'; do
  eval "start_app full $args"
  drv wait TMainForm 10000 >/dev/null
  check "\"$args\" is not a switch: the idle window shows" "Full Product" "$(drv text 102)"
  drv close TMainForm
  wait_app
done

# "/AUTO" in any letter case: the window shows the installing look and installs.
dest="C:\\users\\Public\\zo-ui-auto-$$"
pkg auto --script full --title "Auto Product" --defdir "$dest" --guid "{A0000000-0000-4000-8000-0000000000A0}"
check "/AUTO installs and ends with 0" 0 "$(run_app auto /AUTO)"
check "/AUTO installed into the default folder" yes \
  "$([ -d "$WINEPREFIX/drive_c/users/Public/zo-ui-auto-$$" ] && echo yes || echo no)"
rm -rf "$WINEPREFIX/drive_c/users/Public/zo-ui-auto-$$"
dest="C:\\users\\Public\\zo-ui-silent-$$"
pkg silent --script full --title "Silent Product" --defdir "$dest" --guid "{A0000000-0000-4000-8000-0000000000A1}"
check "/silent installs without a window and ends with 0" 0 "$(run_app silent /silent)"
check "/silent installed into the default folder" yes \
  "$([ -d "$WINEPREFIX/drive_c/users/Public/zo-ui-silent-$$" ] && echo yes || echo no)"
rm -rf "$WINEPREFIX/drive_c/users/Public/zo-ui-silent-$$"
for g in A0 A1; do
  wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A0000000-0000-4000-8000-0000000000$g}_mw" /f /reg:64 >/dev/null 2>&1
done

# Damaged packages: one message naming the problem, exit code 6.
printf 'this is not an encoded script' >"$WORK/junk.bin"
printf '<TSetupScript></TSetupScript></TSetupScript>' >"$WORK/halfxml.txt"
pkg undecodable --script none --raw "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}" "$WORK/junk.bin"
pkg unparsable --script none --file "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}" "$WORK/halfxml.txt"
pkg noicon --script full --icon missing
pkg badicon --script full --icon bad
for case in "undecodable:安装脚本无法解码:Error" "unparsable:安装脚本无法读取:XML" "noicon:not found:not found" \
            "badicon:产品图标无法读取:not a PNG"; do
  name=${case%%:*}; rest=${case#*:}; expect=${rest%%:*}; detail=${rest#*:}
  start_app "$name"
  text=$(drv msgbox 10000)
  contains "$name: the message names the problem" "$expect" "$text"
  contains "$name: the message says the installer is damaged" "安装程序已损坏" "$text"
  check "$name: no window behind the message" 1 "$(wine "$DRIVER" wait TMainForm 300 >/dev/null 2>&1; echo $?)"
  drv msgbox-press 1 >/dev/null
  wait_app
  check "$name: exit code 6 after the message" 6 "$RC"
  check "$name: /Silent exits with 6" 6 "$(run_app "$name" /Silent)"
  contains "$name: /Silent says it on standard output" "$detail" "$(app_out "$name")"
done

# /Silent on a system without the Chinese code page: readable in a file and on a terminal.
LANG=C run_app badicon /Silent >/dev/null
contains "LANG=C: /Silent writes readable text into a file" "安装程序已损坏" "$(app_out badicon)"
(cd "$WORK" && LANG=C.UTF-8 timeout 30 script -qec "wine badicon.exe /Silent" "$WORK/console.txt" >/dev/null 2>&1)
contains "LANG=C.UTF-8: /Silent prints readable text on a terminal" "安装程序已损坏" "$(tr -d '\r' <"$WORK/console.txt")"
finish
