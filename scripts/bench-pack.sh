#!/usr/bin/env bash
# The packaging benchmark: build throughput of zosetup-pack on a generated
# payload (about 150 MB in a few hundred files of text, structured binary and
# random bytes; bench/pack_payload.py), on one core and on two, against NSIS
# makensis with "SetCompressor zlib" on the same payload. Reports wall time,
# throughput, output size and peak memory (/usr/bin/time -v) of each run.
#
#   scripts/bench-pack.sh [RUNS]          (default 3 runs of each; best and median shown)
#   ZO_PROGRAMS_BUILD                     where zosetup.exe is (default build/win64)
#   ZO_BENCH_MB / ZO_BENCH_FILES          payload size and file count (default 150 / 300)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs="${1:-3}"
mb="${ZO_BENCH_MB:-150}"
files="${ZO_BENCH_FILES:-300}"
work="$root/build/bench-pack"
stub="${ZO_PROGRAMS_BUILD:-build/win64}/Installer/zosetup.exe"
[ -f "$stub" ] || stub="tests/native/data/tiny64.exe"  # the stub does not change the work
uninstaller="${ZO_PROGRAMS_BUILD:-build/win64}/Uninstaller/Uninstall.exe"
[ -f "$uninstaller" ] || uninstaller="tests/native/data/tiny64.exe"  # nor does the uninstaller

# A release build of the tool of its own.
mkdir -p "$work"
cmake -S . -B build/bench-pack-tool -DCMAKE_BUILD_TYPE=Release -DZO_TESTS=OFF >"$work/build.log" 2>&1 &&
  cmake --build build/bench-pack-tool --target zosetup-pack -j2 >>"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log"; exit 1; }
pack="$root/build/bench-pack-tool/Packager/zosetup-pack"
command -v makensis >/dev/null || { echo "makensis missing (Debian package nsis)"; exit 1; }

payload="$work/payload-$mb-$files"
if [ ! -d "$payload" ]; then
  echo "generating the payload ($mb MB, $files files) in $payload"
  python3 bench/pack_payload.py "$payload.tmp" --total-mb "$mb" --files "$files" && mv "$payload.tmp" "$payload"
fi
cp samples/demo/icon.png "$work/icon.png"
cat >"$work/bench.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
    <BaseInfo AppTitle="Bench" GUID="{B0000000-0000-4000-8000-000000000001}" IconFile="icon.png" Version="1.0.0.0" DefInstallPath="{pf}\\Bench" FullSetupFile="bench-setup.exe"/>
    <FileList><Items>
        <TSetupFile DestDir="{app}" IncludeSubPath="True" SourceMask="*.*" SourcePath="$payload"/>
    </Items></FileList>
</TSetupScript>
EOF
cat >"$work/bench.nsi" <<EOF
SetCompressor zlib
Unicode true
Name "Bench"
OutFile "$work/nsis/bench-setup.exe"
InstallDir "\$PROGRAMFILES64\\Bench"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File /r "$payload/*.*"
SectionEnd
EOF
mkdir -p "$work/nsis"
bytes_in=$(du -sb "$payload" | cut -f1)

# run NAME OUTPUT COMMAND...: one timed run; appends "seconds peak_kb cpu_seconds size" to $work/NAME.runs
run() {
  local name=$1 out=$2; shift 2
  rm -f "$out"
  /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/$name.err" || {
    echo "$name failed:"; cat "$work/$name.err"; exit 1; }
  awk -v size="$(stat -c %s "$out")" '{ print $1, $2, $3 + $4, size }' "$work/time.txt" >>"$work/$name.runs"
}

rm -f "$work"/*.runs
for _ in $(seq "$runs"); do
  run pack-1core "$work/one/bench-setup.exe" taskset -c 0 "$pack" build "$work/bench.xml" -o "$work/one" --stub "$stub" --uninstaller "$uninstaller" -j 1 -q
  run pack-2cores "$work/two/bench-setup.exe" taskset -c 0,1 "$pack" build "$work/bench.xml" -o "$work/two" --stub "$stub" --uninstaller "$uninstaller" -j 2 -q
  run nsis "$work/nsis/bench-setup.exe" taskset -c 0 makensis -V1 "$work/bench.nsi"
done
cmp -s "$work/one/bench-setup.exe" "$work/two/bench-setup.exe" || { echo "the thread count changed the installer"; exit 1; }

echo
echo "payload: $((bytes_in / 1048576)) MB in $files files; $runs runs each; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-12s %8s %9s %12s %8s %10s %12s\n' "build" "best s" "median s" "MB/s (best)" "CPU s" "output MB" "peak RSS MB"
for name in pack-1core pack-2cores nsis; do
  sort -n "$work/$name.runs" | awk -v name="$name" -v bytes="$bytes_in" '
    { t[NR] = $1; m[NR] = $2; c[NR] = $3; s = $4 }
    END {
      best = t[1]; median = t[int((NR + 1) / 2)]; peak = 0; cpu = c[1]
      for (i = 1; i <= NR; i++) { if (m[i] > peak) peak = m[i]; if (c[i] < cpu) cpu = c[i] }
      printf "%-12s %8.2f %9.2f %12.1f %8.2f %10.1f %12.1f\n", name, best, median, bytes / 1048576 / best, cpu, s / 1048576, peak / 1024
    }'
done
one=$(sort -n "$work/pack-1core.runs" | head -1 | cut -d' ' -f1)
two=$(sort -n "$work/pack-2cores.runs" | head -1 | cut -d' ' -f1)
nsis=$(sort -n "$work/nsis.runs" | head -1 | cut -d' ' -f1)
awk -v a="$one" -v b="$two" -v n="$nsis" 'BEGIN {
  printf "two cores vs one: %.2fx faster; vs NSIS: %.2fx (one core), %.2fx (two cores)\n", a / b, n / a, n / b }'
