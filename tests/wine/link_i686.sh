#!/usr/bin/env bash
# The link launcher on 32-bit: the probe linked like the 32-bit programs throws
# through every kind of kept function under Wine (the unwind entries it kept are
# the right ones), has lost the code nothing calls with its unwind entries, and
# the launcher's check refuses an entry for code that is not there.
set -uo pipefail
cd "$(dirname "$0")/../.."
WIN32_BUILD="${ZO_WIN32_BUILD:-build/win32}"
probe="$WIN32_BUILD/tests/win/link_probe.exe"
[ -f "$probe" ] || { echo "missing $probe (scripts/build.sh win32 builds it)"; exit 1; }
source scripts/wine-env.sh
wine_up >/dev/null 2>&1
# A display this test started for itself (run on its own) goes with it.
trap '[ -n "${ZO_XVFB_PID:-}" ] && { wineserver -k 2>/dev/null; kill "$ZO_XVFB_PID" 2>/dev/null; }' EXIT
failed=0
out=$(timeout 120 wine "$probe" 2>&1 | tr -d '\r'); rc=$?
echo "$out"
[ "$rc" -eq 0 ] && echo "ok: the probe's exceptions unwind under Wine" || { echo "FAIL: the probe exits with $rc"; failed=1; }
python3 tests/win/link_check.py "$probe" cmake/pe-gc-link.py || failed=1
# A program linked the same way throws through its own code: the 32-bit uninstaller
# reads damaged data, and must say so and end with its code 2, not crash.
uninst="$WIN32_BUILD/Uninstaller/Uninstall.exe"
if [ -f "$uninst" ]; then
  dir=$(mktemp -d)
  cp "$uninst" "$dir/"
  head -c 4096 /dev/zero | tr '\0' 'z' >"$dir/Uninstall.da1"
  cp "$dir/Uninstall.da1" "$dir/Uninstall.da2"
  timeout 120 wine "$dir/Uninstall.exe" /Silent >/dev/null 2>&1; rc=$?
  [ "$rc" -eq 2 ] && echo "ok: the 32-bit uninstaller reports damaged data (exit 2)" ||
    { echo "FAIL: the 32-bit uninstaller on damaged data exits with $rc"; failed=1; }
  rm -rf "$dir"
fi
[ "$failed" -eq 0 ] && echo "all checks passed"
exit "$failed"
