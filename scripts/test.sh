#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer (clang, so the
# libFuzzer targets share the build) and runs every test, fuzz targets included.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
# Let clones in other folders (CI) reuse the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
BUILD=build/test
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DLUMVANE_SANITIZE=ON -DLUMVANE_FUZZ=ON -DLUMVANE_TESTS=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"

# Sanitizer options reach every test through ctest (cmake/Lumvane.cmake).
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" "$@"
