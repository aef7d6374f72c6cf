#!/usr/bin/env bash
# Installs the demo product for real: the full installer from the given folder
# (default build/demo) run with /Silent under Wine in the project's private
# prefix; then shows what landed: the files, the uninstall key's values, the
# product's own registry values and the shortcuts.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/demo}"
setup="$out/ZoDemoSetup.exe"
[ -f "$setup" ] || { echo "demo-install: $setup is missing (run scripts/demo.sh)"; exit 1; }
source scripts/wine-env.sh
wine_up >/dev/null 2>&1 || true  # a server that already runs is fine
trap wine_down EXIT  # the prefix stays on disk; the server and our display go

guid=$(grep -o 'GUID="{[^"]*}"' samples/demo/demo.xml | head -1 | cut -d'"' -f2)
key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${guid}_mw"

# A registry key's values as text, from `reg export` (UTF-16).
show_key() {  # key
  local file="$WINEPREFIX/drive_c/zo-demo-export.reg"
  if wine reg export "$1" 'C:\zo-demo-export.reg' /y /reg:64 >/dev/null 2>&1; then
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | grep -v '^Windows Registry\|^$' | sed 's/^/    /'
  else
    echo "    (no such key)"
  fi
  rm -f "$file"
}

echo "demo-install: wine $setup /Silent"
start=$(date +%s%N)
set +e
# The installer writes its lines, taskkill's included, as UTF-8 into the pipe.
(cd "$out" && wine "$(basename "$setup")" /Silent) | tr -d '\r'
code=${PIPESTATUS[0]}
set -e
echo "demo-install: the installer ended with exit code $code after $(( ($(date +%s%N) - start) / 1000000 )) ms"
[ "$code" -eq 0 ] || exit "$code"

location=$(wine reg query "$key" /v InstallLocation /reg:64 2>/dev/null | tr -d '\r' | awk '/InstallLocation/ { sub(/.*REG_SZ +/, ""); print }')
dir=$(winepath -u "$location" 2>/dev/null)
echo
echo "Installed into $location"
(cd "$dir" && find . -type f -printf '    %-40p %9s bytes  %TY-%Tm-%Td %TH:%TM\n' | sort)
echo
echo "Uninstall registration $key"
show_key "$key"
echo
echo "The product's own values HKCU\\Software\\ZoDemo"
show_key 'HKCU\Software\ZoDemo'
echo
echo "Shortcuts"
find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu" -name '*.lnk' \
  -newer "$setup" -printf '    %p\n' 2>/dev/null | sed "s|$WINEPREFIX/drive_c|C:|" || true

# The installer started the demo program as its last act; end it.
wine taskkill /F /IM ZoDemo.exe >/dev/null 2>&1 || true
