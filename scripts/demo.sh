#!/usr/bin/env bash
# Builds the demo product's installers (full and online) with the packaging
# tool, shows what the full one carries, and installs it under Wine when the
# install script exists.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/demo
mkdir -p "$out"
tool=build/native/Packager/zosetup-pack
"$tool" build samples/demo/demo.xml -o "$out" --stub build/win64/Installer/zosetup.exe
"$tool" inspect "$out/ZoDemoSetup.exe"
if [ -x scripts/demo-install.sh ]; then scripts/demo-install.sh "$out"; fi
