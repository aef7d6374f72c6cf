#!/usr/bin/env bash
# Ready after one command: `make install` into a fresh PREFIX, then the
# README's quick start exactly as it stands, with only PREFIX/bin and the
# system's folders on the PATH; and the archive of `make dist`, unpacked
# elsewhere, builds the same project. No Wine needed: the installers are built,
# and inspected, not run.
set -uo pipefail
ZO_ROOT="${ZO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
cd "$ZO_ROOT"
WORK=$(mktemp -d "$ZO_ROOT/build/pack-install.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0
check() {  # description, expected, actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
contains() {  # description, needle, haystack
  case "$3" in *"$2"*) echo "ok: $1" ;; *) echo "FAIL: $1: [$3] lacks [$2]"; failures=$((failures + 1)) ;; esac
}

prefix="$WORK/prefix"
make -s install PREFIX="$prefix" >"$WORK/install.log" 2>&1
check "make install PREFIX=... succeeds" 0 "$?"
check "it installs the tool, both stubs and both uninstallers" \
  "bin/zosetup-pack share/zosetup/x64/Uninstall.exe share/zosetup/x64/zosetup.exe share/zosetup/x86/Uninstall.exe share/zosetup/x86/zosetup.exe" \
  "$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')"

# The quick start, verbatim, in an empty folder.
quick=$(awk '/^### Quick start/ { s = 1 } s && /^```sh$/ { c = 1; next } c && /^```$/ { exit } c' README.md)
mkdir -p "$WORK/user/path/to"
head -c 5000 /dev/zero | tr '\0' 'h' >"$WORK/user/path/to/Hello.exe"
out=$(cd "$WORK/user" && env -i HOME="$WORK" PATH="$prefix/bin:/usr/bin:/bin" bash -e -c "$quick" 2>&1)
check "the README's quick start runs as written after make install" 0 "$?"
contains "it builds the installer with the installed 32-bit stub" "built Hello-setup.exe: 3 files" "$out"
contains "the installed stub is the real one (it asks for administrator rights)" \
  "execution level: requireAdministrator" "$out"
check "the extracted program is the one put in" same \
  "$(cmp -s "$WORK/user/path/to/Hello.exe" "$WORK/user/ex/Hello.exe" && echo same || echo differs)"

# The release archive: the same layout below one folder, working where it is unpacked.
make -s dist >"$WORK/dist.log" 2>&1
check "make dist succeeds" 0 "$?"
archive=$(ls -t build/dist/zosetup-*.tar.gz 2>/dev/null | head -1)
mkdir -p "$WORK/unpacked"
tar -xzf "$archive" -C "$WORK/unpacked"
tool=$(find "$WORK/unpacked" -path '*/bin/zosetup-pack')
out=$(cd "$WORK/user" && "$tool" build Hello.xml -o "$WORK/dist-out" --arch x64 2>&1)
contains "the unpacked tool finds its 64-bit stub" "64-bit x64 installer" "$out"

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
