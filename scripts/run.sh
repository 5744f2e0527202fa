#!/usr/bin/env bash
# Builds lumvane (Release) and starts it; arguments are passed on (default --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMVANE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target lumvane
# Without arguments: the service without a status item (the Qt interface is not built).
[ $# -eq 0 ] && set -- --headless
exec "$BUILD/src/app/lumvane" "$@"
