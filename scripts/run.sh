#!/usr/bin/env bash
# Builds lumvane (Release) and starts it; arguments are passed on, e.g. --headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target lumvane
exec "$BUILD/src/app/lumvane" "$@"
