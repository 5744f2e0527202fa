#!/usr/bin/env bash
# Builds the Google Benchmark programs (Release) and runs them, or the ones named.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/bench
# Tests on in the configuration (road_bench drives the simulated phone, which is built with
# them), but only the benchmark programs are built.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=ON -DLUMVANE_BENCH=ON >/dev/null
mapfile -t targets < <(for f in bench/*_bench.cmake; do basename "$f" .cmake; done)
cmake --build "$BUILD" -j "$(nproc)" --target "${targets[@]}"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(find "$BUILD/bench" -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for n in "${names[@]}"; do
  echo "== $n"
  "$BUILD/bench/$n" --benchmark_min_time=0.2
done
