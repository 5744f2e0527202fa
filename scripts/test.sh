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

# The desktop application once more as people run it: optimised and without sanitizers
# (they hide faults and change the timing), in a small tree of only the programs its
# end-to-end tests, the status menu test and the crash test need. The status menu test
# also runs under valgrind: freed memory used inside Qt escapes AddressSanitizer.
REL_BUILD=build/relwithdebinfo
ROOT="$PWD"
REL_FLAGS="-O2 -g -gdwarf-4 -DNDEBUG"  # valgrind 3.19 reads DWARF 4, not clang's default 5
cmake -S . -B "$REL_BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$REL_FLAGS" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$REL_FLAGS" \
  -DLUMVANE_TESTS=ON >/dev/null
cmake --build "$REL_BUILD" -j "$JOBS" --target desktop_e2e_tests status_menu_tests app_tests
echo "== valgrind: the status menu"
(cd "$REL_BUILD/tests/unit/desktop" &&
  QT_QPA_PLATFORM=offscreen QT_ENABLE_REGEXP_JIT=0 \
  valgrind --tool=memcheck --error-exitcode=99 --errors-for-leak-kinds=none \
    --suppressions="$ROOT/scripts/valgrind-qt.supp" \
    ./status_menu_tests --gtest_brief=1)
echo "== optimised build: crash hooks and the desktop end-to-end tests"
(cd "$REL_BUILD/tests/unit/app" && ./app_tests --gtest_brief=1 --gtest_filter='CrashHooks.*')
ctest --test-dir "$REL_BUILD" --output-on-failure \
  -R '^e2e\.(DesktopTest|PresencePromptTest|PagesFlowTest|WizardFlowTest)\.'

# Sanitizer options reach every test through ctest (cmake/Lumvane.cmake).
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" "$@"
