#!/usr/bin/env bash
# Builds lumvane (Release) and starts it; arguments are passed on (default --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/release
# Configure once; later builds re-run CMake by themselves when a CMakeLists.txt changed.
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j "$(nproc)" --target lumvane
# Without arguments: the service without a status item or windows.
[ $# -eq 0 ] && set -- --headless
exec "$BUILD/src/app/lumvane" "$@"
