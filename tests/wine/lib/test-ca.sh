# The test CA of the loopback servers (tests/http) in the Wine prefix's root
# store while a test runs, so their https origins pass the installer's
# certificate check unchanged. Needs scripts/wine-env.sh and a running server.
TRUST_CA="${ZO_WIN_BUILD:-build/win}/tests/win/trust_ca.exe"
TEST_CA_COPY=""

trust_test_ca() {  # the servers' JSON line
  local ca
  ca=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["ca"])' "$1") || return 1
  [ -f "$TRUST_CA" ] || { echo "missing $TRUST_CA (build the Windows targets first)"; return 1; }
  # A copy outlives the servers, which remove theirs when they end.
  TEST_CA_COPY=$(mktemp "${TMPDIR:-/tmp}/zo-test-ca.XXXXXX")
  cp "$ca" "$TEST_CA_COPY"
  wine "$TRUST_CA" add "Z:${TEST_CA_COPY//\//\\}" >/dev/null 2>&1 || { echo "the test CA could not be trusted"; return 1; }
}

untrust_test_ca() {
  [ -n "$TEST_CA_COPY" ] || return 0
  wine "$TRUST_CA" remove "Z:${TEST_CA_COPY//\//\\}" >/dev/null 2>&1
  rm -f "$TEST_CA_COPY"
  TEST_CA_COPY=""
}
