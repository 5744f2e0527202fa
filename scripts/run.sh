#!/usr/bin/env bash
# Builds lumvane (Release) and starts it; arguments are passed on. Without arguments it
# starts the desktop application when a display is there, else the headless service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/release
# Configure once; later builds re-run CMake by themselves when a CMakeLists.txt changed.
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=OFF >/dev/null
fi
# The program and the helpers it runs through pkexec (hosts line, /dev/uhid access).
cmake --build "$BUILD" -j "$(nproc)" --target lumvane lumvane-hosts-helper lumvane-uhid-helper
exec "$BUILD/src/app/lumvane" "$@"
