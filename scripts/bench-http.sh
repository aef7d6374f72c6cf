#!/usr/bin/env bash
# Loopback download benchmark of the HTTP client against curl: both fetch the
# same 200 MB body from the same test server (tests/http), with and without
# TLS, alternating, several rounds; the best round of each counts. Prints
# throughput and CPU time per MB, and fails when the client reaches less than
# 80% of curl's throughput.
#   scripts/bench-http.sh [ROUNDS]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
size=$((200 * 1024 * 1024))

mkdir -p build/bench-http
if ! { cmake -S . -B build/bench-http -DCMAKE_BUILD_TYPE=Release -DZO_BENCH=ON -DZO_TESTS=OFF &&
       cmake --build build/bench-http --target zo_http_get -j2; } >build/bench-http/build.log 2>&1; then
  cat build/bench-http/build.log
  exit 1
fi
tool=$(find build/bench-http -name zo_http_get -type f -perm -u+x | head -1)

coproc SERVERS { exec python3 tests/http/zo_test_servers.py; }
read -r -t 60 ports <&"${SERVERS[0]}"
port() { python3 -c "import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])" "$ports" "$1"; }
http_url="http://127.0.0.1:$(port http)/fixed/$size"
https_url="https://127.0.0.1:$(port https)/fixed/$size"
export ZO_HTTP_CA
ZO_HTTP_CA=$(port ca)

# run NAME COMMAND...: one timed run; prints "wall cpu" (seconds, CPU = user + system).
run() {
  local out
  out=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 ) || { echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }' <<<"$out"
}

best() {  # keeps the fastest "wall cpu" line of its input
  sort -n | head -1
}

status=0
printf '%-7s %-22s %10s %12s\n' scheme client "MB/s" "CPU ms/MB"
for scheme in http https; do
  url=$http_url; [ "$scheme" = https ] && url=$https_url
  curl_runs=(); ours_runs=(); mem_runs=()
  for _ in $(seq "$rounds"); do
    curl_runs+=("$(run curl -sk -o /dev/null "$url")")
    ours_runs+=("$(run "$tool" "$url" discard)")
    mem_runs+=("$(run "$tool" "$url" memory)")
  done
  mb=$(awk -v s="$size" 'BEGIN { print s / 1048576 }')
  report() {  # label, runs...
    local label=$1; shift
    printf '%s\n' "$@" | best | awk -v mb="$mb" -v l="$label" -v sc="$scheme" \
      '{ printf "%-7s %-22s %10.0f %12.3f\n", sc, l, mb / $1, 1000 * $2 / mb }'
  }
  report "curl -o /dev/null" "${curl_runs[@]}"
  report "client, discarded" "${ours_runs[@]}"
  report "client, into memory" "${mem_runs[@]}"
  c=$(printf '%s\n' "${curl_runs[@]}" | best | cut -d' ' -f1)
  o=$(printf '%s\n' "${ours_runs[@]}" | best | cut -d' ' -f1)
  ratio=$(awk -v c="$c" -v o="$o" 'BEGIN { printf "%.2f", c / o }')
  echo "$scheme: client throughput / curl throughput = $ratio"
  awk -v r="$ratio" 'BEGIN { exit !(r >= 0.8) }' || { echo "$scheme: below 80% of curl" >&2; status=1; }
done

exec {SERVERS[1]}>&-
wait "$SERVERS_PID" 2>/dev/null || true
exit $status
