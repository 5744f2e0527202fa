#!/usr/bin/env bash
# Builds lumvane (Release, build/release: the tree scripts/try.sh builds in too) and
# starts it; arguments are passed on. Without arguments it starts the desktop application
# when a display is there, else the headless service. JOBS=N limits the build to N
# compiler runs at once.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/release-tree.sh
bash scripts/setup.sh
build_release
exec "$RELEASE_TREE/src/app/lumvane" "$@"
