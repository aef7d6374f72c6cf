#!/usr/bin/env bash
# Writes the release archive build/dist/zosetup-VERSION-linux-x86_64.tar.gz:
# the layout make install gives (bin/, share/zosetup/x86, share/zosetup/x64)
# below one folder, with the README, so the tool works once unpacked anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(build/native/Packager/zosetup-pack --version | awk '{ print $2 }')
name="zosetup-$version-linux-$(uname -m)"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
scripts/install.sh "$stage/$name" >/dev/null
install -m 644 README.md "$stage/$name/README.md"
mkdir -p build/dist
# The same bytes for the same inputs: sorted names, fixed owner and date.
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -C "$stage" -cf - "$name" | gzip -9n >"build/dist/$name.tar.gz.part"
mv "build/dist/$name.tar.gz.part" "build/dist/$name.tar.gz"
echo "dist: build/dist/$name.tar.gz"
