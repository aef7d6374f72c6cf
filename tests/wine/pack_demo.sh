#!/usr/bin/env bash
# The packaging tool on the demo product, end to end: the Linux and the
# Windows build of zosetup-pack give the same bytes; extraction gives the
# source tree back byte for byte; both installers can be Authenticode-signed
# and verified, and a signed stub is refused; the full installer starts.
#   ZO_WIN_BUILD     the Windows tests' build folder (default build/win)
#   ZO_PROGRAMS_BUILD the 64-bit installer and uninstaller (default build/win64)
#   ZO_NATIVE_BUILD  the native build folder (default build/native)
set -uo pipefail
ZO_ROOT="${ZO_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}"
cd "$ZO_ROOT"
WIN_BUILD="${ZO_WIN_BUILD:-build/win}"
PACK="${ZO_NATIVE_BUILD:-build/native}/Packager/zosetup-pack"
PROGRAMS="${ZO_PROGRAMS_BUILD:-build/win64}"
WINPACK="$WIN_BUILD/Packager/zosetup-pack.exe"
STUB="$PROGRAMS/Installer/zosetup.exe"
DEMO_EXE="$PROGRAMS/samples/demo/ZoDemo.exe"
UNINSTALLER="$PROGRAMS/Uninstaller/Uninstall.exe"
DRIVER="$WIN_BUILD/tests/win/ui_driver.exe"
for f in "$PACK" "$WINPACK" "$STUB" "$DEMO_EXE" "$UNINSTALLER"; do
  [ -f "$f" ] || { echo "missing $f (build the native and Windows targets first)"; exit 1; }
done
source scripts/wine-env.sh
wine_up >/dev/null 2>&1

WORK=$(mktemp -d "$ZO_ROOT/build/pack-test.XXXXXX")
APP_PID=""
trap '[ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null; rm -rf "$WORK"
  if [ -n "${ZO_XVFB_PID:-}" ]; then wineserver -k 2>/dev/null; kill "$ZO_XVFB_PID" 2>/dev/null; fi' EXIT
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# ---- Linux and Windows builds of the tool agree byte for byte. The build
# folder is named relative to the project, Windows-style, so that both tools
# see the same text (the script carries it).
build_dir="..\\..\\${PROGRAMS//\//\\}"
check "the Linux tool builds the demo" \
  "$PACK" build samples/demo/demo.xml -o "$WORK/linux" --stub "$STUB" --var "BuildDir=$build_dir" -q
check "the Windows tool builds the demo under Wine" \
  wine "$WINPACK" build "$(winpath samples/demo/demo.xml)" -o "$(winpath "$WORK/windows")" \
  --stub "$(winpath "$STUB")" --var "BuildDir=$build_dir" -q
for f in ZoDemoSetup.exe ZoDemoSetup-online.exe; do
  check "$f is the same from both tools" cmp -s "$WORK/linux/$f" "$WORK/windows/$f"
done
check "a second build gives the same bytes" \
  "$PACK" build samples/demo/demo.xml -o "$WORK/again" --stub "$STUB" --var "BuildDir=$build_dir" -q -j 1
check "... also on one thread" cmp -s "$WORK/linux/ZoDemoSetup.exe" "$WORK/again/ZoDemoSetup.exe"

# ---- Extraction gives back every product file (the project names the uninstaller).
"$PACK" inspect "$WORK/linux/ZoDemoSetup.exe" --extract "$WORK/x" >"$WORK/inspect.txt"
mkdir -p "$WORK/expected"
cp -r samples/demo/files/. "$WORK/expected/"
cp "$DEMO_EXE" "$UNINSTALLER" "$WORK/expected/"
check "extraction gives the source tree byte for byte" diff -r "$WORK/expected" "$WORK/x"
check "inspect names the mode" grep -q "^mode: full package" "$WORK/inspect.txt"
check "the online installer is in online mode" \
  sh -c "'$PACK' inspect '$WORK/linux/ZoDemoSetup-online.exe' | grep -q '^mode: online installer'"

# ---- Authenticode: sign both installers, verify them, refuse a signed stub.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=zosetup test" -days 2 \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1
for f in ZoDemoSetup.exe ZoDemoSetup-online.exe; do
  check "$f can be signed" sh -c "osslsigncode sign -certs '$WORK/cert.pem' -key '$WORK/key.pem' -h sha256 \
    -n 'Zo 演示' -in '$WORK/linux/$f' -out '$WORK/signed-$f' >/dev/null"
  check "$f verifies after signing" \
    sh -c "osslsigncode verify -CAfile '$WORK/cert.pem' -in '$WORK/signed-$f' 2>&1 | grep -q 'Signature verification: ok'"
done
check "inspect reports the signature" \
  sh -c "'$PACK' inspect '$WORK/signed-ZoDemoSetup.exe' | grep -q '^signed: yes'"
"$PACK" build samples/demo/demo.xml -o "$WORK/fromsigned" --stub "$WORK/signed-ZoDemoSetup.exe" \
  --var "BuildDir=$build_dir" -q 2>"$WORK/signed-error.txt"
rc=$?
check "a signed stub is refused with exit code 1" test "$rc" = 1
check "... naming the signature" grep -q "Authenticode signature" "$WORK/signed-error.txt"
check "... and nothing is written" test ! -e "$WORK/fromsigned/ZoDemoSetup.exe"

# ---- The built installer starts: its window comes up (no crash, no error box).
wine "$WORK/linux/ZoDemoSetup.exe" >/dev/null 2>&1 &
APP_PID=$!
if [ -f "$DRIVER" ]; then
  check "the full installer shows its window" sh -c "wine '$DRIVER' wait TMainForm 15000 >/dev/null 2>&1"
  wine "$DRIVER" close TMainForm >/dev/null 2>&1
  for _ in $(seq 50); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.2; done
else
  sleep 5
  check "the full installer is still running after 5 s" kill -0 "$APP_PID"
fi
kill "$APP_PID" 2>/dev/null
wait "$APP_PID" 2>/dev/null
APP_PID=""

echo "pack_demo: $failures failed"
[ "$failures" -eq 0 ]
