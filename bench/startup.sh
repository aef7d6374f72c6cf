#!/usr/bin/env bash
# Start-up benchmark under Wine: time from process start to the painted idle
# window of a full-package installer, beside a minimal Win32 program that only
# shows an empty window (the floor); and the installer stub's size beside the
# floor program's. Needs the Windows build (build/win or ZO_WIN_BUILD).
#   bench/startup.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-15}
WIN_BUILD="${ZO_WIN_BUILD:-build/win}"
out="$root/build/bench-startup"
mkdir -p "$out"
source scripts/wine-env.sh
wine_up >/dev/null 2>&1 || true

cxx="x86_64-w64-mingw32-g++-posix -std=c++20 -Os -static -static-libgcc -static-libstdc++ -municode -s"
$cxx -o "$out/startup_probe.exe" bench/startup_probe.cpp
$cxx -mwindows -ffunction-sections -fdata-sections -Wl,--gc-sections -o "$out/floor.exe" bench/startup_floor.cpp
wine "$WIN_BUILD/tests/win/ui_makepkg.exe" "$WIN_BUILD/Installer/zosetup.exe" "$out/installer.exe" --script full

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.1f\n", (a[NR/2]+a[NR/2+1])/2}'; }
measure() {  # exe -> median ms over the runs (one warm-up run first)
  wine "$out/startup_probe.exe" 1 "$(winepath -w "$1")" >/dev/null
  wine "$out/startup_probe.exe" "$runs" "$(winepath -w "$1")" | tr -d '\r' | median
}
floor_ms=$(measure "$out/floor.exe")
installer_ms=$(measure "$out/installer.exe")
stub=$(stat -c %s "$WIN_BUILD/Installer/zosetup.exe")
floor_size=$(stat -c %s "$out/floor.exe")
echo "start-up to painted window, median of $runs runs:"
echo "  floor (empty window)       ${floor_ms} ms"
echo "  installer (full package)   ${installer_ms} ms"
awk -v a="$installer_ms" -v b="$floor_ms" 'BEGIN {printf "  ratio installer / floor    %.2f\n", a / b}'
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
