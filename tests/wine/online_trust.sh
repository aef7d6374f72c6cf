#!/usr/bin/env bash
# What an online installer trusts, under Wine against the loopback servers:
# only the full package of its own build (the same one signed afterwards with
# osslsigncode, and itself signed, still installs; another build's package or
# the genuine one with a byte changed installs and runs nothing), https only
# with a certificate the system trusts, no https-to-http redirect, bodies no
# longer than announced, no dripping server for more than the stated minute;
# every failure one line and exit code 3, with nothing left in the temporary
# folder, and the downloaded file gone after a successful run as well, and
# after a download ended from outside midway.
source "$(dirname "$0")/lib/online-common.sh"
HTTPS_SELF=$(port https_selfsigned)

# A signing certificate of the test's own, as a publisher would have one.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=zosetup test publisher" \
  -keyout "$WORK/sign.key" -out "$WORK/sign.pem" >/dev/null 2>&1 || { echo "FAIL: openssl"; exit 1; }
sign() {  # in, out (replaced)
  rm -f "$2"
  osslsigncode sign -certs "$WORK/sign.pem" -key "$WORK/sign.key" -h sha256 -n "在线示例" -in "$1" -out "$2" \
    >/dev/null 2>&1 || { echo "FAIL: signing $1"; exit 1; }
}
PWNED="$ROOT/pwned.txt"
attempt() {  # description, online installer name: exit 3, one line and the log's, nothing installed, run or left behind
  local what=$1 name=$2 before
  before=$(temp_packages)
  check "$what: exit code 3" 3 "$(run_app "$name" /Silent)"
  check "$what: one line on standard output, then where the log is" "2 1" \
    "$(app_out "$name" | grep -c .) $(app_out "$name" | sed -n 2p | grep -c '^日志：')"
  check "$what: nothing installed, nothing run" "no no" "$(installed genuine) $([ -e "$PWNED" ] && echo yes || echo no)"
  check "$what: nothing left in the temporary folder" "$before" "$(temp_packages)"
}

# ---- The genuine package, then the same package signed afterwards
online_pkg genuine Setup_1 "$ORIGIN/files/genuine.exe" "$ORIGIN/visit/genuine"
GENUINE_GUID=$GUID
cp "$WORK/genuine/Full.exe" "$SERVED/genuine.exe"
before=$(temp_packages)
check "genuine: installed" 0 "$(run_app Setup_1 /Silent)"
check "genuine: the product files landed" yes "$(installed genuine)"
check "genuine: the downloaded package is gone after run-and-exit" "$before" "$(temp_packages)"
rm -rf "$ROOT/genuine"

sign "$WORK/genuine/Full.exe" "$SERVED/genuine.exe"
sign "$WORK/genuine/Online.exe" "$WORK/Setup_2.exe"
check "signed: the full package now carries a signature" yes \
  "$("$PACK" inspect "$SERVED/genuine.exe" | grep -q '^signed: yes' && echo yes || echo no)"
digest() { "$PACK" inspect "$1" | sed -n "s/^$2 (SHA-256): //p"; }
check "signed: inspect shows the pin equal to the signed package's digest" \
  "$(digest "$WORK/Setup_2.exe" 'pinned full-package digest')" "$(digest "$SERVED/genuine.exe" 'image digest')"
check "signed: both signed installers install" 0 "$(run_app Setup_2 /Silent)"
check "signed: the product files landed" yes "$(installed genuine)"
rm -rf "$ROOT/genuine"

# ---- Another build of the same product with one more program to run, served
# where the genuine online installer looks
ONLINE_GUID=$GENUINE_GUID ONLINE_EXTRA="<RunList><Items><TSetupRun Checked=\"True\" Condition=\"\" FileName=\"cmd.exe\" Params=\"/c echo ran &gt; $WINROOT\\pwned.txt\" Wait=\"True\" WorkDir=\"\"/></Items></RunList>" \
  online_pkg other Setup_3 "$ORIGIN/files/other.exe" "$ORIGIN/visit/never"
cp "$WORK/other/Full.exe" "$SERVED/genuine.exe"
attempt "another build's package" Setup_1
check "another build's package: the line says 安装包错误。" "安装包错误。" "$(app_out Setup_1 | head -1)"
# Its own online installer installs it and runs the command: the attack is real.
cp "$WORK/other/Full.exe" "$SERVED/other.exe"
check "another build's package, from its own online installer: installed" 0 "$(run_app Setup_3 /Silent)"
check "another build's package, from its own online installer: its command ran" yes \
  "$([ -e "$PWNED" ] && echo yes || echo no)"
# (It installs where the product already is: the genuine folder.)
rm -rf "$PWNED" "$ROOT/other" "$ROOT/genuine"

# ---- The genuine package with one byte changed in its product files
python3 - "$WORK/genuine/Full.exe" "$SERVED/genuine.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 0x01  # the middle of the file: inside the product-file block
open(sys.argv[2], "wb").write(data)
PY
attempt "one byte changed" Setup_1

# ---- A download ended from outside midway leaves neither its file nor its folder
online_pkg killed Setup_8 "$ORIGIN/files/genuine.exe?slow=300" "$ORIGIN/visit/never"
before=$(temp_packages)
(cd "$WORK" && exec timeout 150 wine Setup_8.exe /Silent >/dev/null 2>&1) &
KILLED=$!
for i in $(seq 1 100); do compgen -G "$TEMP_DIR/zosetup-*/*.exe" >/dev/null && break; sleep 0.1; done
check "killed midway: the download had begun" yes "$(compgen -G "$TEMP_DIR/zosetup-*/*.exe" >/dev/null && echo yes || echo no)"
sleep 1
wine taskkill /F /IM Setup_8.exe >/dev/null 2>&1
wait "$KILLED"
for i in $(seq 1 50); do [ "$(temp_packages)" = "$before" ] && break; sleep 0.1; done
check "killed midway: nothing left in the temporary folder" "$before" "$(temp_packages)"

# ---- Transport: an untrusted certificate, a redirect down to http, a body
# longer than announced, a server that drips
cp "$WORK/genuine/Full.exe" "$SERVED/genuine.exe"
online_pkg selfsigned Setup_4 "https://localhost:$HTTPS_SELF/files/genuine.exe" "$ORIGIN/visit/never"
attempt "self-signed certificate" Setup_4
contains "self-signed certificate: the line names the reason" "not trusted" "$(app_out Setup_4)"
online_pkg downgrade Setup_5 "https://127.0.0.1:$HTTPS/goto?$ORIGIN/files/genuine.exe" "$ORIGIN/visit/never"
attempt "https redirected to http" Setup_5
contains "https redirected to http: the line says so" "from https to http" "$(app_out Setup_5)"
online_pkg longer Setup_6 "$ORIGIN/files/genuine.exe?extra=4096" "$ORIGIN/visit/never"
attempt "a body longer than announced" Setup_6
contains "a body longer than announced: the line says so" "longer than its Content-Length" "$(app_out Setup_6)"
online_pkg drip Setup_7 "$ORIGIN/files/genuine.exe?drip=3000" "$ORIGIN/visit/never"
start=$(date +%s)
(cd "$WORK" && timeout 150 wine Setup_7.exe /Silent >"$WORK/Setup_7.out" 2>/dev/null; echo $? >"$WORK/Setup_7.rc")
seconds=$(($(date +%s) - start))
check "a dripping server: exit code 3" 3 "$(cat "$WORK/Setup_7.rc")"
check "a dripping server: given up after the minute below 1 KB/s" yes \
  "$([ "$seconds" -ge 55 ] && [ "$seconds" -lt 130 ] && echo yes || echo "no ($seconds s)")"
contains "a dripping server: the line says so" "too slow" "$(app_out Setup_7)"
check "a dripping server: nothing left in the temporary folder" 0 "$(temp_packages)"

finish
