#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest. The output goes through a
# file: a Wine service process the program happens to start (the desktop, a
# console host) inherits its output handles and outlives it, and must not hold
# ctest's pipe open after the program has ended.
log=$(mktemp)
wine "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
