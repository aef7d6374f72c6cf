#!/usr/bin/env bash
# The HTTP client's tests as a Windows program (Winsock, Schannel) under Wine,
# against the loopback servers of tests/http, whose test CA is put into the
# prefix's root store meanwhile. The unit-test run under Wine skips them for
# want of servers; here they get their ports.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
exe=build/win/tests/zocore_tests.exe
[ -f "$exe" ] || { echo "http: $exe is not built"; exit 1; }
wine_up >/dev/null 2>&1 || { echo "http: wine did not start"; exit 1; }
trap wine_down EXIT

coproc SERVERS { exec python3 tests/http/zo_test_servers.py; }
if ! read -r -t 60 ports <&"${SERVERS[0]}"; then
  echo "http: the test servers did not start"
  exit 1
fi
export ZO_HTTP_PORTS="$ports"
source tests/wine/lib/test-ca.sh
trust_test_ca "$ports" || exit 1
timeout 600 wine "$exe" --gtest_filter='Http*' --gtest_brief=1
status=$?
untrust_test_ca
exec {SERVERS[1]}>&-   # the servers end when their input closes
wait "$SERVERS_PID" 2>/dev/null
exit $status
