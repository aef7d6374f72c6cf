#!/usr/bin/env bash
# Runs every test: native, under sanitizers, the cross-built tests under Wine,
# the end-to-end installer tests under Wine in Xvfb, and short fuzz runs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
failed=()
passed=0

# Every step has a time limit, so a program that hangs fails its own step
# instead of the whole run.
step() {  # name, command...
  local name=$1; shift
  echo "=== $name"
  local t0=$SECONDS
  local limit=(timeout -k 20 "${ZO_STEP_SECONDS:-900}")
  [ "$(type -t "$1")" = function ] && limit=()  # a shell function keeps its own limits
  if "${limit[@]}" "$@"; then passed=$((passed + 1)); else failed+=("$name"); echo "*** FAILED: $name"; fi
  echo "--- $name: $((SECONDS - t0)) s"
}

step "native unit tests" ctest --test-dir build/native --output-on-failure -j 2 --timeout 300
step "unit tests under ASan and UBSan" env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j 2 --timeout 300

source scripts/wine-env.sh
wine_up || { echo "*** no virtual display: the Windows tests cannot run"; exit 1; }
trap wine_down EXIT
step "unit tests under Wine" ctest --test-dir build/win --output-on-failure --timeout 300
for t in tests/wine/*.sh; do
  [ -e "$t" ] || continue
  step "wine: $(basename "$t" .sh)" bash "$t"
done
wine_down
trap - EXIT

fuzz_quietly() {  # the fuzzer's log is shown only when it finds something
  local log="build/fuzz/work/$(basename "$1").log"
  if timeout -k 20 300 "$@" >"$log" 2>&1; then grep -E '^Done|DONE' "$log" | tail -1; else tail -40 "$log"; return 1; fi
}
for f in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="tests/fuzz/corpus/${name#fuzz_}"
  mkdir -p "build/fuzz/work/$name"
  step "fuzz: $name" fuzz_quietly "$f" -max_total_time="${ZO_FUZZ_SECONDS:-20}" -rss_limit_mb=2048 \
    -max_len=65536 "build/fuzz/work/$name" "$corpus"
done

echo
echo "${passed} passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ] || { printf 'failed: %s\n' "${failed[@]}"; exit 1; }
