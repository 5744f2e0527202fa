#!/usr/bin/env bash
# Builds the Google Benchmark programs (Release) and runs them, or the ones named.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/bench
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=OFF -DLUMVANE_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(find "$BUILD/bench" -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for n in "${names[@]}"; do
  echo "== $n"
  "$BUILD/bench/$n" --benchmark_min_time=0.2
done
