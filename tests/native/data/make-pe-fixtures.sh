#!/usr/bin/env bash
# Regenerates the small Windows programs the PE resource tests read: real
# linker and resource-compiler output, kept in the tree so the native tests
# need no cross compiler. Run from anywhere; writes next to this script.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/tiny.c" <<'C'
/* Returns 7 without touching any library: small and loadable. */
int start(void) { return 7; }
C
cat >"$work/tiny.rc" <<'RC'
#include <windows.h>
HELLO RCDATA { "hello, resources" }
7 RCDATA { 1, 2, 3 }
1 24 "manifest.xml"
1 VERSIONINFO
FILEVERSION 1,2,3,4
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileDescription", "tiny\0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
cat >"$work/manifest.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>
XML

build() {  # prefix, output, extra flags...
  local p=$1 out=$2; shift 2
  (cd "$work" && $p-windres tiny.rc -O coff -o "$p.res.o")
  $p-gcc -Os -nostdlib -Wl,-e,start -Wl,--subsystem,console "$@" "$work/tiny.c" "$work/$p.res.o" -o "$out"
}
build x86_64-w64-mingw32 tiny64.exe -s -Wl,--dynamicbase
build i686-w64-mingw32 tiny32.exe -s -Wl,-e,_start
build x86_64-w64-mingw32 tiny64-debug.exe -g
ls -l tiny64.exe tiny32.exe tiny64-debug.exe
