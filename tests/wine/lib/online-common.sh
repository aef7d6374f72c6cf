# Shared by the online installer tests (tests/wine/online_*.sh): the window
# test helpers, the loopback servers of tests/http with a folder of files to
# serve, and online installers built by zosetup-pack.
#   ZO_WIN_BUILD     the Windows build folder (default build/win)
#   ZO_NATIVE_BUILD  the native build folder (default build/native)
source "$(dirname "${BASH_SOURCE[0]}")/ui-common.sh"
PACK="${ZO_NATIVE_BUILD:-build/native}/Packager/zosetup-pack"
UNINSTALLER="$PROGRAMS/Uninstaller/Uninstall.exe"
for f in "$PACK" "$UNINSTALLER"; do
  [ -f "$f" ] || { echo "missing $f (build the native and Windows targets first)"; exit 1; }
done
wine_up >/dev/null 2>&1

# Files the servers hand out (/files/NAME, and /__proxy/files/NAME through a proxy).
SERVED="$WORK/served"
mkdir -p "$SERVED"
export ZO_TEST_FILES="$SERVED"
# The servers end when their input closes, that is with this script.
coproc SERVERS { exec python3 tests/http/zo_test_servers.py; }
read -r -t 60 ports <&"${SERVERS[0]}" || { echo "the test servers did not start"; exit 1; }
port() { python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$ports" "$1"; }
HTTP=$(port http) HTTPS=$(port https) PROXY=$(port proxy) AUTHPROXY=$(port authproxy) BACKLOG=$(port backlog)
ORIGIN="http://127.0.0.1:$HTTP"
source "$(dirname "${BASH_SOURCE[0]}")/test-ca.sh"
trust_test_ca "$ports" || exit 1

# Everything an installation writes lives in C:\zo-online-ID and in the
# uninstall keys of the GUIDs handed out here; all of it goes at the end.
ID="$$-$RANDOM"
WINROOT="C:\\zo-online-$ID"
ROOT="$WINEPREFIX/drive_c/zo-online-$ID"
GUIDS=()
TEMP_DIR=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp 2>/dev/null | head -1)
TEMP_KEEP=$(ls "$TEMP_DIR" 2>/dev/null)
online_cleanup() {
  local g f
  # Whatever an installer left in the temporary folder.
  for f in $(ls "$TEMP_DIR" 2>/dev/null); do
    grep -qxF "$f" <<<"$TEMP_KEEP" || rm -rf "${TEMP_DIR:?}/$f"
  done
  for g in "${GUIDS[@]}"; do
    wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${g}_mw" /f /reg:64 >/dev/null 2>&1
  done
  rm -rf "$ROOT"
  untrust_test_ca
  cleanup
}
trap online_cleanup EXIT

# The product of every test installer: a 600 KB file that does not compress,
# so a download takes a while, and a small text.
PRODUCT="$WORK/product"
mkdir -p "$PRODUCT/files"
head -c 600000 /dev/urandom >"$PRODUCT/files/data.bin"
printf 'online\r\n' >"$PRODUCT/files/readme.txt"
python3 "$ZO_ROOT/tests/wine/lib/solid_png.py" "$PRODUCT/icon.png" 48 ff9820

# Builds a full package and its online installer into $WORK/NAME/; the
# online installer is copied to $WORK/ONLINE.exe (start_app and run_app run it
# by that name, which carries the channel code). Sets GUID; ONLINE_GUID, when
# set, is used instead of a new one, and ONLINE_EXTRA is added to the script.
online_pkg() {  # name, online file name (without .exe), download URL, completion URL
  local name=$1 online=$2 url=$3 goto=$4 dir="$WORK/$1"
  GUID=${ONLINE_GUID:-$(python3 -c 'import uuid; print("{%s}" % str(uuid.uuid4()).upper())')}
  GUIDS+=("$GUID")
  mkdir -p "$dir"
  cp -r "$PRODUCT/files" "$PRODUCT/icon.png" "$dir/"
  cat >"$dir/project.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<TSetupScript>
  <BaseInfo AppTitle="在线示例" BuildMiniSetup="True" DefInstallPath="$WINROOT\\$name" FullDownloadUrl="$url"
            FullSetupFile="Full.exe" GotoUrl="$goto" GotoUrlMode="gumSilent" GUID="$GUID" IconFile="icon.png"
            MiniSetupFile="Online.exe" Version="1.2"/>
  <FileList><Items>
    <TSetupFile DestDir="{app}" IncludeSubPath="True" SourceMask="*.*" SourcePath="files"/>
  </Items></FileList>
  ${ONLINE_EXTRA:-}
</TSetupScript>
XML
  "$PACK" build "$dir/project.xml" -o "$dir" --stub "$STUB" --uninstaller "$UNINSTALLER" --quiet >/dev/null || { echo "FAIL: building $name"; exit 1; }
  cp "$dir/Online.exe" "$WORK/$online.exe"
}

installed() {  # name: "yes" when the product landed in C:\zo-online-ID\NAME
  cmp -s "$PRODUCT/files/data.bin" "$ROOT/$1/data.bin" && [ -f "$ROOT/$1/readme.txt" ] && echo yes || echo no
}

visits() {  # the completion addresses visited so far, one a line
  python3 -c 'import sys, urllib.request
print(urllib.request.build_opener(urllib.request.ProxyHandler({})).open(sys.argv[1] + "/visits").read().decode(), end="")' "$ORIGIN"
}

# Downloaded packages in the prefix user's temporary folder.
# Downloaded packages left behind: files of earlier versions, folders of this one.
temp_packages() { ls "$TEMP_DIR" 2>/dev/null | grep -c -E '^(\{[0-9A-F-]{36}\}\.exe|zosetup-\{[0-9A-F-]{36}\})$'; }
