#!/usr/bin/env bash
# Installs the packaging tool into PREFIX (argument 1): PREFIX/bin/zosetup-pack,
# and the installer stubs and uninstallers where it looks for them,
# PREFIX/share/zosetup/x86 (32-bit) and PREFIX/share/zosetup/x64 (64-bit).
# The builds must exist (make install builds them first).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${1:?usage: install.sh PREFIX}"
kit=(
  "build/native/Packager/zosetup-pack:bin/zosetup-pack:755"
  "build/win32/Installer/zosetup.exe:share/zosetup/x86/zosetup.exe:644"
  "build/win32/Uninstaller/Uninstall.exe:share/zosetup/x86/Uninstall.exe:644"
  "build/win64/Installer/zosetup.exe:share/zosetup/x64/zosetup.exe:644"
  "build/win64/Uninstaller/Uninstall.exe:share/zosetup/x64/Uninstall.exe:644"
)
for entry in "${kit[@]}"; do
  IFS=: read -r from to mode <<<"$entry"
  [ -f "$from" ] || { echo "install: $from is missing (run make install, which builds it)" >&2; exit 1; }
done
for entry in "${kit[@]}"; do
  IFS=: read -r from to mode <<<"$entry"
  install -D -m "$mode" "$from" "$prefix/$to"
  echo "install: $prefix/$to"
done
