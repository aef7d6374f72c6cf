#!/usr/bin/env bash
# Start-up benchmark under Wine: time from process start to the painted idle
# window of a full-package installer (the 64-bit stub of build/win64 and, where
# built, the 32-bit one of build/win32), beside a minimal Win32 program that only
# shows an empty window (the floor) and an NSIS installer (Debian's nsis, its
# directory page): one run of each in turn per round, so that a busy minute
# weighs on all of them alike. Then the installer stub's size beside the floor
# program's, and the programs every package carries beside their budgets.
#   bench/startup.sh [ROUNDS]
# ZO_BASELINE_STUB names another 64-bit installer stub (say, an earlier commit's)
# to run in the same rounds as "baseline".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${1:-21}
WIN_BUILD="${ZO_WIN_BUILD:-build/win}"
PROGRAMS="${ZO_PROGRAMS_BUILD:-build/win64}"
WIN32_BUILD="${ZO_WIN32_BUILD:-build/win32}"
out="$root/build/bench-startup"
mkdir -p "$out"
source scripts/wine-env.sh
wine_up >/dev/null 2>&1 || true

cxx="x86_64-w64-mingw32-g++-posix -std=c++20 -Os -static -static-libgcc -static-libstdc++ -municode -s"
$cxx -o "$out/startup_probe.exe" bench/startup_probe.cpp
$cxx -mwindows -ffunction-sections -fdata-sections -Wl,--gc-sections -o "$out/floor.exe" bench/startup_floor.cpp
# The installer as zosetup-pack makes it, and the same without the ready icon (as
# an older zosetup-pack made it: the PNG decoded through GDI+ at start).
kinds=(floor installer plain-icon)
declare -A exe=([floor]="$out/floor.exe" [installer]="$out/installer.exe" [plain-icon]="$out/plain-icon.exe")
wine "$WIN_BUILD/tests/win/ui_makepkg.exe" "$PROGRAMS/Installer/zosetup.exe" "$out/installer.exe" --script full
wine "$WIN_BUILD/tests/win/ui_makepkg.exe" "$PROGRAMS/Installer/zosetup.exe" "$out/plain-icon.exe" --script full --icon plain
if [ -n "${ZO_BASELINE_STUB:-}" ]; then
  wine "$WIN_BUILD/tests/win/ui_makepkg.exe" "$ZO_BASELINE_STUB" "$out/baseline.exe" --script full
  kinds+=(baseline)
  exe[baseline]="$out/baseline.exe"
fi
if [ -f "$WIN32_BUILD/Installer/zosetup.exe" ]; then
  wine "$WIN_BUILD/tests/win/ui_makepkg.exe" "$WIN32_BUILD/Installer/zosetup.exe" "$out/installer32.exe" --script full
  kinds+=(installer32)
  exe[installer32]="$out/installer32.exe"
fi
# A 32-bit program starts through WoW64, which costs Wine more: the same empty
# window built for 32 bits is the floor the 32-bit programs (ours and NSIS's) are
# measured against too.
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
  i686-w64-mingw32-g++-posix -std=c++20 -Os -static -static-libgcc -static-libstdc++ -municode -s -mwindows \
    -ffunction-sections -fdata-sections -Wl,--gc-sections -o "$out/floor32.exe" bench/startup_floor.cpp
  kinds+=(floor32)
  exe[floor32]="$out/floor32.exe"
fi
if command -v makensis >/dev/null; then
  cat >"$out/peer.nsi" <<EOF
Unicode true
Name "Startup Peer"
OutFile "$out/nsis.exe"
InstallDir "C:\\zo-bench\\startup-peer"
RequestExecutionLevel admin
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File "$root/bench/startup_floor.cpp"
SectionEnd
EOF
  makensis -V1 "$out/peer.nsi" >/dev/null
  kinds+=(nsis)
  exe[nsis]="$out/nsis.exe"
fi

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.2f\n", (a[NR/2]+a[NR/2+1])/2}'; }
once() { wine "$out/startup_probe.exe" 1 "$(winepath -w "$1")" | tr -d '\r'; }
for k in "${kinds[@]}"; do once "${exe[$k]}" >/dev/null; done  # warm-up
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for k in "${kinds[@]}"; do : >"$out/$k.ms"; done
for ((r = 0; r < rounds; r++)); do
  for k in "${kinds[@]}"; do once "${exe[$k]}" >>"$out/$k.ms" || { echo "startup: no window from $k (round $r)" >&2; exit 1; }; done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
echo "start-up to painted window, $rounds alternating rounds (load average $load_before before, $load_after after):"
floor_ms=$(cut -d' ' -f1 "$out/floor.ms" | median)
floor_cpu=$(cut -d' ' -f2 "$out/floor.ms" | median)
for k in "${kinds[@]}"; do
  ms=$(cut -d' ' -f1 "$out/$k.ms" | median)
  cpu=$(cut -d' ' -f2 "$out/$k.ms" | median)
  # Each round's ratio, then their median: a busy moment weighs on both of a pair.
  paired=$(paste -d' ' "$out/$k.ms" "$out/floor.ms" | awk '{printf "%.4f\n", $1 / $3}' | median)
  printf "  %-12s median %7s ms  ratio %.2f (rounds' ratios %.2f)   processor time %6s ms  ratio %.2f\n" \
    "$k" "$ms" "$(awk -v a="$ms" -v b="$floor_ms" 'BEGIN {print a / b}')" "$paired" \
    "$cpu" "$(awk -v a="$cpu" -v b="$floor_cpu" 'BEGIN {print (b > 0 ? a / b : 0)}')"
done
if [ -f "$out/floor32.ms" ]; then
  echo "the 32-bit programs against the 32-bit floor (rounds' ratios in brackets):"
  floor32_ms=$(cut -d' ' -f1 "$out/floor32.ms" | median)
  for k in installer32 nsis; do
    [ -f "$out/$k.ms" ] || continue
    ms=$(cut -d' ' -f1 "$out/$k.ms" | median)
    paired=$(paste -d' ' "$out/$k.ms" "$out/floor32.ms" | awk '{printf "%.4f\n", $1 / $3}' | median)
    printf "  %-12s ratio %.2f (%.2f)\n" "$k" "$(awk -v a="$ms" -v b="$floor32_ms" 'BEGIN {print a / b}')" "$paired"
  done
fi
stub=$(stat -c %s "$PROGRAMS/Installer/zosetup.exe")
floor_size=$(stat -c %s "$out/floor.exe")
echo "size:"
echo "  installer stub             $stub bytes"
echo "  floor program              $floor_size bytes"
awk -v a="$stub" -v b="$floor_size" 'BEGIN {printf "  ratio stub / floor         %.2f   (stub / 1 MiB: %.2f)\n", a / b, a / 1048576}'
echo "the programs every package carries (bench/stub-budgets.txt):"
grep -v '^#' bench/stub-budgets.txt | while read -r program budget; do
  [ -n "$program" ] || continue
  size=$( [ -f "$program" ] && stat -c %s "$program" || echo "-")
  printf "  %-40s %9s bytes   budget %9s\n" "$program" "$size" "$budget"
done
