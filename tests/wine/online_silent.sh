#!/usr/bin/env bash
# Online installers built by zosetup-pack, run with /Silent against the
# loopback servers: the full package downloaded over http and https and
# installed, the completion address with the channel code of the installer's
# name, a completion server that never answers, and the downloads that fail
# (one line on standard output, exit code 3, nothing left behind).
source "$(dirname "$0")/lib/online-common.sh"

# ---- Over http: installed, and the completion address gets "&rcode=" after its query
online_pkg http Setup_12345 "$ORIGIN/files/http.exe" "$ORIGIN/visit/done?from=setup"
cp "$WORK/http/Full.exe" "$SERVED/http.exe"
temp_before=$(temp_packages)
check "http: the online installer installs the downloaded package" 0 "$(run_app Setup_12345 /Silent)"
check "http: the product files landed" yes "$(installed http)"
contains "http: completion visit with &rcode=12345" "/visit/done?from=setup&rcode=12345" "$(visits)"
check "http: the downloaded package is gone after run-and-exit" "$temp_before" "$(temp_packages)"

# ---- Over https: a name with digits then letters gives the digits; "?rcode=" without a query
online_pkg https Setup_777abc "https://127.0.0.1:$HTTPS/files/https.exe" "https://127.0.0.1:$HTTPS/visit/tls"
cp "$WORK/https/Full.exe" "$SERVED/https.exe"
check "https: the online installer installs the downloaded package" 0 "$(run_app Setup_777abc /Silent)"
check "https: the product files landed" yes "$(installed https)"
contains "https: completion visit with ?rcode=777" "/visit/tls?rcode=777" "$(visits)"

# ---- A download that fails: one line, exit code 3, nothing installed
online_pkg missing Setup_1 "$ORIGIN/404" "$ORIGIN/visit/never"
check "404: exit code 3" 3 "$(run_app Setup_1 /Silent)"
out=$(app_out Setup_1)
check "404: one line on standard output, then one naming the log" "1 1" \
  "$(printf '%s\n' "$out" | grep -v '^日志：' | grep -c .) $(printf '%s\n' "$out" | tail -1 | grep -c '^日志：')"
contains "404: the line names the address and the answer" "$ORIGIN/404：HTTP/1.1 404 Not Found" "$out"
check "404: nothing installed, no visit" "no 0" "$(installed missing) $(visits | grep -c never)"

# ---- A 200 answer that is not a package: "安装包错误。", exit code 3, its file removed
online_pkg page Setup_2 "$ORIGIN/fixed/5000" "$ORIGIN/visit/never"
temp_before=$(temp_packages)
check "not a package: exit code 3" 3 "$(run_app Setup_2 /Silent)"
check "not a package: the one line says so" "安装包错误。" "$(app_out Setup_2 | head -1)"
check "not a package: the downloaded file was removed" "$temp_before" "$(temp_packages)"

# ---- A completion server that never accepts: given up after the connect time-out
online_pkg slowvisit Setup_3 "$ORIGIN/files/unused.exe" "http://127.0.0.1:$BACKLOG/visit"
start=$(date +%s%N)
check "unreachable completion server: the full package still installs" 0 \
  "$(cd "$WORK/slowvisit" && timeout 60 wine Full.exe /Silent >/dev/null 2>&1; echo $?)"
ms=$((($(date +%s%N) - start) / 1000000))
check "unreachable completion server: given up after about 5 s" yes \
  "$([ "$ms" -ge 4500 ] && [ "$ms" -lt 20000 ] && echo yes || echo "no ($ms ms)")"
check "unreachable completion server: the product files landed" yes "$(installed slowvisit)"

finish
