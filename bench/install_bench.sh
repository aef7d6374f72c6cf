#!/usr/bin/env bash
# The install benchmark: the same generated payload (about 150 MB in a few
# hundred files) installed under Wine by a zosetup installer with "/Silent", by
# its online installer (which downloads that installer from a loopback server
# first) and by an NSIS installer (SetCompressor zlib) with "/S", side by side,
# and copied plainly as the floor. Reports wall time and the peak memory of the
# installer process: private (anonymous) and resident in all.
#
#   bench/install_bench.sh [RUNS]        (default 3 runs of each, best and median shown)
#   ZO_WIN_BUILD / ZO_NATIVE_BUILD       build folders (default build/win, build/native)
#   ZO_BENCH_MB / ZO_BENCH_FILES         payload size and file count (default 150 / 320)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs="${1:-3}"
pack="${ZO_NATIVE_BUILD:-build/native}/Packager/zosetup-pack"
stub="${ZO_WIN_BUILD:-build/win}/Installer/zosetup.exe"
work="$root/build/bench-install"
mb="${ZO_BENCH_MB:-150}"
files="${ZO_BENCH_FILES:-320}"
for f in "$pack" "$stub"; do [ -f "$f" ] || { echo "missing $f (make build)"; exit 1; }; done
command -v makensis >/dev/null || { echo "missing makensis (scripts/setup-machine.sh installs nsis)"; exit 1; }
source scripts/wine-env.sh
wine_up >/dev/null 2>&1 || true
trap wine_down EXIT

# ---- The payload and the two installers (made once, reused while unchanged) ---------------
payload="$work/payload-$mb-$files"
if [ ! -d "$payload" ]; then
  rm -rf "$work"/payload-*
  python3 bench/install_payload.py "$payload" --total-mb "$mb" --files "$files"
fi
largest=$(find "$payload" -type f -printf '%s\n' | sort -n | tail -1)
total=$(du -sb "$payload" | cut -f1)
count=$(find "$payload" -type f | wc -l)

# The online installer downloads from a loopback server on a port fixed when it is built.
port_file="$work/zosetup/port"
if [ ! -f "$work/zosetup/BenchSetup.exe" ] || [ ! -f "$work/zosetup/BenchOnline.exe" ] || [ ! -f "$port_file" ] ||
   [ "$stub" -nt "$work/zosetup/BenchSetup.exe" ]; then
  mkdir -p "$work/zosetup"
  cp samples/demo/icon.png "$work/zosetup/icon.png"
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' >"$port_file"
  cat >"$work/zosetup/bench.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="Install Bench" BuildMiniSetup="True" DefInstallPath="C:\\zo-bench\\zosetup"
            FullDownloadUrl="http://127.0.0.1:$(cat "$port_file")/BenchSetup.exe" FullSetupFile="BenchSetup.exe"
            GUID="{5A0B7E1C-0D0B-4C55-9E1A-6B2E0F3B9A11}" IconFile="icon.png" MiniSetupFile="BenchOnline.exe"
            Version="1.0.0.0"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" IncludeSubPath="True" SourceMask="*.*" SourcePath="$payload"/>
  </Items></FileList>
</TSetupScript>
EOF
  uninstaller="$(dirname "$(dirname "$stub")")/Uninstaller/Uninstall.exe"
  "$pack" build "$work/zosetup/bench.xml" -o "$work/zosetup" --stub "$stub" --quiet \
    $([ -f "$uninstaller" ] && echo "--uninstaller $uninstaller") || exit 1
fi
if [ ! -f "$work/nsis/nsis-bench.exe" ]; then
  mkdir -p "$work/nsis"
  # The same work as ours: the files, an uninstall key, an uninstaller file.
  cat >"$work/nsis/bench.nsi" <<EOF
Unicode true
Target amd64-unicode
SetCompressor zlib
Name "Install Bench"
OutFile "$work/nsis/nsis-bench.exe"
InstallDir "C:\\zo-bench\\nsis"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "$payload/*.*"
  WriteUninstaller "\$INSTDIR\\Uninstall.exe"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZoNsisBench" "DisplayName" "Install Bench"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZoNsisBench" "UninstallString" '"\$INSTDIR\\Uninstall.exe"'
SectionEnd
Section "Uninstall"
SectionEnd
EOF
  makensis -V1 "$work/nsis/bench.nsi" || exit 1
fi

python3 -m http.server "$(cat "$port_file")" --bind 127.0.0.1 --directory "$work/zosetup" >/dev/null 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null; wine_down' EXIT
sleep 1
kill -0 "$server_pid" 2>/dev/null || echo "warning: the loopback server could not take port $(cat "$port_file"); remove $port_file"

# ---- Measuring ---------------------------------------------------------------------------
drive="$WINEPREFIX/drive_c"
# Runs a command in the background and samples its memory and CPU time every
# 10 ms; prints "wall-ms peak-private-KB peak-resident-KB cpu-ms".
measure() {  # folder, command...
  local dir=$1 start end pid anon=0 hwm=0 cpu=0 a h c
  shift
  start=$(date +%s%N)
  (cd "$dir" && exec "$@" >/dev/null 2>&1) &  # exec: the process sampled is the installer itself
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    read -r a h < <(awk '/^RssAnon:/ { a = $2 } /^VmHWM:/ { h = $2 } END { print a + 0, h + 0 }' "/proc/$pid/status" 2>/dev/null)
    c=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null)
    [ -n "$a" ] && [ "$a" -gt "$anon" ] && anon=$a
    [ -n "$h" ] && [ "$h" -gt "$hwm" ] && hwm=$h
    [ -n "$c" ] && cpu=$c
    sleep 0.01
  done
  wait "$pid"
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $anon $hwm $(( cpu * 1000 / $(getconf CLK_TCK) ))"
}

declare -A command=(
  [zosetup]="$work/zosetup wine BenchSetup.exe /Silent"
  [online]="$work/zosetup wine BenchOnline.exe /Silent"
  [nsis]="$work/nsis wine nsis-bench.exe /S"
  [copy]="$work cp -r $payload $drive/zo-bench/copy"
)

declare -A results
# Round by round, so that the installers meet the same load on this shared machine.
for i in $(seq 1 "$runs"); do
  for kind in zosetup online nsis copy; do
    # Every run installs onto a machine without the product.
    rm -rf "$drive/zo-bench"
    mkdir -p "$drive/zo-bench"
    for k in "{5A0B7E1C-0D0B-4C55-9E1A-6B2E0F3B9A11}_mw" ZoNsisBench; do
      wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$k" /f /reg:64 >/dev/null 2>&1
    done
    sync
    # shellcheck disable=SC2086  # the table's entries are word lists without blanks
    results[$kind]+="$(measure ${command[$kind]})"$'\n'
  done
done
# Each run wrote the whole payload.
check=$(find "$drive/zo-bench/copy" -type f | wc -l)
rm -rf "$drive/zo-bench"

summary() {  # kind -> "best median cpu-median peak-private peak-resident" (ms, MB)
  local times cpus n
  times=$(echo "${results[$1]}" | awk 'NF { print $1 }' | sort -n)
  cpus=$(echo "${results[$1]}" | awk 'NF { print $4 }' | sort -n)
  n=$(echo "$times" | wc -l)
  echo "$(echo "$times" | head -1) $(echo "$times" | sed -n "$(( (n + 1) / 2 ))p")" \
    "$(echo "$cpus" | sed -n "$(( (n + 1) / 2 ))p")" \
    "$(echo "${results[$1]}" | awk 'NF { if ($2 > a) a = $2; if ($3 > h) h = $3 } END { printf "%.1f %.1f", a / 1024, h / 1024 }')"
}

echo
echo "payload: $count files, $(( total / 1048576 )) MB, largest file $(( largest / 1048576 )) MB; $runs rounds"
echo "installers: zosetup $(( $(stat -c %s "$work/zosetup/BenchSetup.exe") / 1048576 )) MB," \
  "NSIS $(( $(stat -c %s "$work/nsis/nsis-bench.exe") / 1048576 )) MB; copies checked: $check files"
printf '%-18s %9s %11s %12s %12s %13s\n' "" "best ms" "median ms" "CPU ms (med)" "private MB" "resident MB"
for kind in zosetup online nsis copy; do
  read -r best median cpu anon hwm <<<"$(summary "$kind")"
  case $kind in
    zosetup) label="zosetup /Silent" ;;
    online) label="online /Silent" ;;
    nsis) label="NSIS zlib /S" ;;
    copy) label="floor: cp -r" ;;
  esac
  printf '%-18s %9s %11s %12s %12s %13s\n' "$label" "$best" "$median" "$cpu" "$anon" "$hwm"
done
