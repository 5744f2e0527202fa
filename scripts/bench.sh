#!/usr/bin/env bash
# Builds the Google Benchmark programs (Release) and runs them, or the ones named.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/bench
source scripts/clang-tree.sh
forget_other_compiler "$BUILD"
# Tests on in the configuration (road_bench drives the simulated phone, which is built with
# them), but only the benchmark programs are built.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMVANE_TESTS=ON -DLUMVANE_BENCH=ON >/dev/null
mapfile -t targets < <(for f in bench/*_bench.cmake; do basename "$f" .cmake; done)
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "${targets[@]}"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(find "$BUILD/bench" -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for n in "${names[@]}"; do
  echo "== $n"
  "$BUILD/bench/$n" --benchmark_min_time=0.2
done

# The goals table: the measures behind each goal, repeated (REPS, default 5) and
# interleaved, medians against the goals. A machine under load makes noise: repeat.
if [ $# -eq 0 ] || [ "${TABLE:-0}" = 1 ]; then
  REPS=${REPS:-5}
  out="$BUILD/table"
  rm -rf "$out" && mkdir -p "$out"
  common=(--benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true
          --benchmark_min_time=0.2 --benchmark_out_format=json)
  echo "== goals table ($REPS repetitions each)"
  cut -d' ' -f1-3 /proc/loadavg >"$out/load.txt"
  "$BUILD/bench/blec_bench" "${common[@]}" --benchmark_out="$out/blec_bench.json" \
    --benchmark_filter='splitAndReassemble/bytes:1024/chunk:(182|512)/mode:2' >/dev/null
  "$BUILD/bench/records_bench" "${common[@]}" --benchmark_out="$out/records_bench.json" \
    --benchmark_filter='Decode.*/1000$' >/dev/null
  "$BUILD/bench/crypto_bench" "${common[@]}" --benchmark_out="$out/crypto_bench.json" \
    --benchmark_filter='BM_BlobEncrypt/1048576' >/dev/null
  for _ in $(seq "$REPS"); do
    openssl speed -elapsed -evp aes-256-cbc -bytes 1048576 -seconds 1 2>/dev/null | tail -1
  done >"$out/openssl.txt"
  # The road benchmark alternates the service with its baselines inside each repetition
  # (its servers listen on ephemeral ports); the memory measure waits 30 s each time.
  "$BUILD/bench/road_bench" --benchmark_repetitions="$REPS" \
    --benchmark_out_format=json --benchmark_out="$out/road_bench.json" >"$out/road_bench.txt"
  grep -E 'desktop side|sendPing,|8 x 4 MiB' "$out/road_bench.txt" || true
  cut -d' ' -f1-3 /proc/loadavg >>"$out/load.txt"
  python3 scripts/bench_table.py "$out"
fi
