#!/usr/bin/env bash
# Builds lumvane (Release) and starts it; arguments are passed on. Without arguments it
# starts the desktop application when a display is there, else the headless service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/release
source scripts/clang-tree.sh
forget_other_compiler "$BUILD"
# Configure once; later builds re-run CMake by themselves when a CMakeLists.txt changed.
# clang, as in the test build, so the compiler CI checks is the one this build uses.
if [ ! -f "$BUILD/build.ninja" ] || [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMVANE_TESTS=OFF >/dev/null
fi
# The program and the helpers it runs through pkexec (hosts line, /dev/uhid access).
cmake --build "$BUILD" -j "$(nproc)" --target lumvane lumvane-hosts-helper lumvane-uhid-helper
exec "$BUILD/src/app/lumvane" "$@"
