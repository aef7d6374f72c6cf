#!/usr/bin/env bash
# The install benchmark: the same generated payload (about 150 MB in a few
# hundred files) installed under Wine by a zosetup installer with "/Silent", by
# its online installer (which downloads that installer from a loopback server
# first) and by an NSIS installer (SetCompressor zlib) with "/S", side by side,
# and copied plainly as the floor. The 32-bit stub (build/win32, the one
# zosetup-pack takes by default) comes first, then the 64-bit one (build/win64),
# each beside an NSIS installer of the same bitness; the online installer is
# measured for the first only. Reports wall time, CPU time and the peak memory
# of the installer's own process, whichever Wine loader runs it
# (bench/sample_process.py): private (anonymous) and resident in all.
#
#   bench/install_bench.sh [RUNS]        (default 3 runs of each, best and median shown)
#   ZO_WIN32_BUILD / ZO_PROGRAMS_BUILD   the 32- and 64-bit programs (default build/win32, build/win64)
#   ZO_NATIVE_BUILD                      the native build (default build/native)
#   ZO_BENCH_MB / ZO_BENCH_FILES         payload size and file count (default 150 / 320)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs="${1:-3}"
pack="${ZO_NATIVE_BUILD:-build/native}/Packager/zosetup-pack"
work="$root/build/bench-install"
mb="${ZO_BENCH_MB:-150}"
files="${ZO_BENCH_FILES:-320}"
declare -A stub=(
  [x86]="${ZO_WIN32_BUILD:-build/win32}/Installer/zosetup.exe"
  [x64]="${ZO_PROGRAMS_BUILD:-build/win64}/Installer/zosetup.exe"
)
declare -A nsis_target=([x86]=x86-unicode [x64]=amd64-unicode)
# Each program by the loader of its bitness, as Windows starts it: with wine32
# present, `wine` is the 32-bit loader, which takes a 64-bit program to a new
# process through start.exe and adds about 2 s to its wall time.
declare -A loader=([x86]=wine [x64]=wine)
[ -x /usr/lib/wine/wine64 ] && loader[x64]=/usr/lib/wine/wine64
arches=()
for a in x86 x64; do [ -f "${stub[$a]}" ] && arches+=("$a"); done
[ -f "$pack" ] || { echo "missing $pack (make build)"; exit 1; }
[ ${#arches[@]} -gt 0 ] || { echo "missing ${stub[x86]} and ${stub[x64]} (make build)"; exit 1; }
main_arch=${arches[0]}
command -v makensis >/dev/null || { echo "missing makensis (scripts/setup-machine.sh installs nsis)"; exit 1; }
source scripts/wine-env.sh
wine_up >/dev/null 2>&1 || true
trap wine_down EXIT

# ---- The payload and the installers (made once, reused while unchanged) ---------------------
payload="$work/payload-$mb-$files"
if [ ! -d "$payload" ]; then
  rm -rf "$work"/payload-*
  python3 bench/install_payload.py "$payload" --total-mb "$mb" --files "$files"
fi
largest=$(find "$payload" -type f -printf '%s\n' | sort -n | tail -1)
total=$(du -sb "$payload" | cut -f1)
count=$(find "$payload" -type f | wc -l)
rm -rf "$work/zosetup" "$work/nsis"  # the one-stub layout of earlier versions

# What an installer is made of: the payload and the stub (by path, size and
# time, so that another build's stub counts as another even when older).
made_of() {  # stub (or "")
  echo "$payload${1:+ $(stat -c '%n %s %Y' "$1")}"
}
# An installer is made again when it was made of something else.
stale() {  # installer, stub (or "")
  [ ! -f "$1" ] || [ "$(cat "$(dirname "$1")/made-of" 2>/dev/null)" != "$(made_of "$2")" ]
}

# The online installer downloads from a loopback server on a port fixed when it
# is built; only the first stub's is made.
port_file="$work/port"
[ -f "$port_file" ] ||
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' >"$port_file"
for a in "${arches[@]}"; do
  out="$work/zosetup-$a"
  online=False
  [ "$a" = "$main_arch" ] && online=True
  if stale "$out/BenchSetup.exe" "${stub[$a]}" || { [ $online = True ] && [ ! -f "$out/BenchOnline.exe" ]; }; then
    mkdir -p "$out"
    cp samples/demo/icon.png "$out/icon.png"
    cat >"$out/bench.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="Install Bench" BuildMiniSetup="$online" DefInstallPath="C:\\zo-bench\\zosetup"
            FullDownloadUrl="http://127.0.0.1:$(cat "$port_file")/BenchSetup.exe" FullSetupFile="BenchSetup.exe"
            GUID="{5A0B7E1C-0D0B-4C55-9E1A-6B2E0F3B9A11}" IconFile="icon.png" MiniSetupFile="BenchOnline.exe"
            Version="1.0.0.0"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" IncludeSubPath="True" SourceMask="*.*" SourcePath="$payload"/>
  </Items></FileList>
</TSetupScript>
EOF
    uninstaller="$(dirname "$(dirname "${stub[$a]}")")/Uninstaller/Uninstall.exe"
    "$pack" build "$out/bench.xml" -o "$out" --stub "${stub[$a]}" --quiet \
      $([ -f "$uninstaller" ] && echo "--uninstaller $uninstaller") || exit 1
    made_of "${stub[$a]}" >"$out/made-of"
  fi
done
for a in "${arches[@]}"; do
  out="$work/nsis-$a"
  if stale "$out/nsis-bench.exe" ""; then
    mkdir -p "$out"
    # The same work as ours: the files, an uninstall key, an uninstaller file.
    cat >"$out/bench.nsi" <<EOF
Unicode true
Target ${nsis_target[$a]}
SetCompressor zlib
Name "Install Bench"
OutFile "$out/nsis-bench.exe"
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
    makensis -V1 "$out/bench.nsi" || exit 1
    made_of "" >"$out/made-of"
  fi
done

python3 -m http.server "$(cat "$port_file")" --bind 127.0.0.1 --directory "$work/zosetup-$main_arch" >/dev/null 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null; wine_down' EXIT
sleep 1
kill -0 "$server_pid" 2>/dev/null || echo "warning: the loopback server could not take port $(cat "$port_file"); remove $port_file"

# ---- Measuring ---------------------------------------------------------------------------
drive="$WINEPREFIX/drive_c"
# Each kind: its folder, the program sampled (- for the command itself), the command.
kinds=()
declare -A command label
for a in "${arches[@]}"; do
  kinds+=("zosetup-$a")
  command[zosetup-$a]="$work/zosetup-$a BenchSetup.exe ${loader[$a]} BenchSetup.exe /Silent"
  label[zosetup-$a]="zosetup $a /Silent"
  if [ "$a" = "$main_arch" ]; then
    kinds+=("online-$a")
    command[online-$a]="$work/zosetup-$a BenchOnline.exe ${loader[$a]} BenchOnline.exe /Silent"
    label[online-$a]="online $a /Silent"
  fi
  kinds+=("nsis-$a")
  command[nsis-$a]="$work/nsis-$a nsis-bench.exe ${loader[$a]} nsis-bench.exe /S"
  label[nsis-$a]="NSIS $a zlib /S"
done
kinds+=(copy)
command[copy]="$work - cp -r $payload $drive/zo-bench/copy"
label[copy]="floor: cp -r"

# Prints "wall-ms peak-private-KB peak-resident-KB cpu-ms bits exit-code".
measure() {  # folder, program, command...
  local dir=$1
  shift
  (cd "$dir" && python3 "$root/bench/sample_process.py" "$1" -- "${@:2}")
}

declare -A results
# Round by round, so that the installers meet the same load on this shared machine.
for i in $(seq 1 "$runs"); do
  for kind in "${kinds[@]}"; do
    # Every run installs onto a machine without the product; a 32-bit
    # installer registers in the 32-bit view.
    rm -rf "$drive/zo-bench"
    mkdir -p "$drive/zo-bench"
    for k in "{5A0B7E1C-0D0B-4C55-9E1A-6B2E0F3B9A11}_mw" ZoNsisBench; do
      for view in /reg:64 /reg:32; do
        wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$k" /f $view >/dev/null 2>&1
      done
    done
    sync
    # shellcheck disable=SC2086  # the table's entries are word lists without blanks
    line=$(measure ${command[$kind]})
    [ "${line##* }" = 0 ] || echo "warning: ${label[$kind]} ended with exit code ${line##* } (round $i)"
    results[$kind]+="$line"$'\n'
  done
done
# Each run wrote the whole payload.
check=$(find "$drive/zo-bench/copy" -type f | wc -l)
rm -rf "$drive/zo-bench"

summary() {  # kind -> "best median cpu-median peak-private peak-resident bits" (ms, MB)
  local times cpus n
  times=$(echo "${results[$1]}" | awk 'NF { print $1 }' | sort -n)
  cpus=$(echo "${results[$1]}" | awk 'NF { print $4 }' | sort -n)
  n=$(echo "$times" | wc -l)
  echo "$(echo "$times" | head -1) $(echo "$times" | sed -n "$(( (n + 1) / 2 ))p")" \
    "$(echo "$cpus" | sed -n "$(( (n + 1) / 2 ))p")" \
    "$(echo "${results[$1]}" | awk 'NF { if ($2 > a) a = $2; if ($3 > h) h = $3 } END { printf "%.1f %.1f", a / 1024, h / 1024 }')" \
    "$(echo "${results[$1]}" | awk 'NF { print $5 }' | sort -u | paste -sd/)"
}

mb_of() { echo $(( $(stat -c %s "$1") / 1048576 )); }
echo
echo "payload: $count files, $(( total / 1048576 )) MB, largest file $(( largest / 1048576 )) MB; $runs rounds"
for a in "${arches[@]}"; do
  echo "$a: stub ${stub[$a]}$([ "$a" = "$main_arch" ] && echo ", measured first"); installers:" \
    "zosetup $(mb_of "$work/zosetup-$a/BenchSetup.exe") MB, NSIS ${nsis_target[$a]} $(mb_of "$work/nsis-$a/nsis-bench.exe") MB"
done
echo "copies checked: $check files; bits: the Wine loader of the process measured"
printf '%-20s %9s %11s %12s %12s %13s %5s\n' "" "best ms" "median ms" "CPU ms (med)" "private MB" "resident MB" "bits"
for kind in "${kinds[@]}"; do
  read -r best median cpu anon hwm bits <<<"$(summary "$kind")"
  printf '%-20s %9s %11s %12s %12s %13s %5s\n' "${label[$kind]}" "$best" "$median" "$cpu" "$anon" "$hwm" "$bits"
done
