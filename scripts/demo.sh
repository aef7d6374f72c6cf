#!/usr/bin/env bash
# Builds the demo product's installers and installs it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/demo
mkdir -p "$out"
if [ -f samples/demo/demo.xml ] && build/native/Packager/zosetup-pack --help | grep -q ' build '; then
  build/native/Packager/zosetup-pack build samples/demo/demo.xml -o "$out"
  if [ -x scripts/demo-install.sh ]; then scripts/demo-install.sh "$out"; fi
else
  # Until the packaging tool builds installers: the codec round trip on the demo project.
  src=samples/demo/demo-script.xml
  build/native/Packager/zosetup-pack encode "$src" "$out/script.enc"
  build/native/Packager/zosetup-pack decode "$out/script.enc" "$out/script.dec"
  cmp "$src" "$out/script.dec"
  echo "demo: the packaging tool cannot build installers yet; encoded and decoded $src ($(stat -c %s "$src") -> $(stat -c %s "$out/script.enc") bytes) and got it back unchanged"
fi
