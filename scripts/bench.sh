#!/usr/bin/env bash
# Builds the benchmarks in build/bench (Release, -DZO_BENCH=ON) and runs every
# bench_* program there. Extra arguments go to each program, for example
# --benchmark_filter=Script or --benchmark_repetitions=5.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DZO_BENCH=ON -DZO_TESTS=OFF >/dev/null
targets=$(cmake --build build/bench --target help | sed -n 's/^\.\.\. \(bench_[A-Za-z0-9_]*\).*/\1/p')
for t in $targets; do
  cmake --build build/bench --target "$t" -j2 >/dev/null
done
for t in $targets; do
  exe=$(find build/bench/bench -maxdepth 1 -name "$t" -type f -perm -u+x | head -1)
  [ -n "$exe" ] || continue
  echo "== $t"
  "$exe" --benchmark_min_time=1 "$@"
done

# The packaging benchmark: zosetup-pack on one and two cores against NSIS makensis.
echo "== zosetup-pack build"
scripts/bench-pack.sh
