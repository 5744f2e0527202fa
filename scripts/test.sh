#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer (clang, so the
# libFuzzer targets share the build) and runs every test, fuzz targets included.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=${JOBS:-$(nproc)}  # JOBS=N: at most N compiler runs (and tests) at once
# Let clones in other folders (CI) reuse the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
BUILD=build/test
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DLUMVANE_SANITIZE=ON -DLUMVANE_FUZZ=ON -DLUMVANE_TESTS=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"

# The queue, wait, timer, logging, settings, extension handler and loopback server tests
# once more under ThreadSanitizer, in a small second build of just those programs.
TSAN_BUILD=build/tsan
cmake -S . -B "$TSAN_BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DLUMVANE_TSAN=ON -DLUMVANE_GUI=OFF -DLUMVANE_TESTS=ON >/dev/null
cmake --build "$TSAN_BUILD" -j "$JOBS" --target runtime_tests log_tests settings_tests settings_crash_child handlers_tests \
  extension_http_server_test
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for t in runtime/runtime_tests log/log_tests settings/settings_tests handlers/handlers_tests \
         extension/extension_http_server_test; do
  echo "== ThreadSanitizer: $t"
  (cd "$TSAN_BUILD/tests/unit/${t%/*}" && "./${t#*/}" --gtest_brief=1)
done

# Sanitizer options reach every test through ctest (cmake/Lumvane.cmake).
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" "$@"
