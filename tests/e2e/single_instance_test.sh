#!/usr/bin/env bash
# One `lumvane` per settings folder, whatever the environment of the later start: a copy
# started without $XDG_RUNTIME_DIR beside one started with it (an autostart beside a `su`
# shell), or through a link to the home folder, says that one runs, ends with status 3
# and leaves the settings folder exactly as it was (no file written, none removed).
#
#   single_instance_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
BUILD=$(cd "$2" && pwd)
LUMVANE=$BUILD/src/app/lumvane
AIR=$BUILD/src/platform/ble/lumvane-ble-air
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-instance.XXXXXX")
pids=()
finish() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap finish EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$WORK"/*.out "$WORK"/*.err; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; } >&2; done
  exit 1
}
wait_for() {  # pattern file: up to 120 s
  for _ in $(seq 1200); do grep -q -e "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

REAL_HOME=$WORK/home
mkdir -p "$REAL_HOME" "$WORK/run"
chmod 700 "$WORK/run"
ln -s "$REAL_HOME" "$WORK/home-link"
export DBUS_SESSION_BUS_ADDRESS=disabled:
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_RUNTIME_DIR
unset DISPLAY WAYLAND_DISPLAY

"$AIR" "$WORK/air.sock" >"$WORK/air.out" 2>&1 &
pids+=($!)
wait_for . "$WORK/air.out" || fail "no radio hub"

# The first copy, as a session starts it: with its runtime folder.
HOME=$REAL_HOME XDG_DATA_HOME=$REAL_HOME/.local/share XDG_CONFIG_HOME=$REAL_HOME/.config \
  XDG_RUNTIME_DIR=$WORK/run \
  "$LUMVANE" --headless --ble="sim:$WORK/air.sock" >"$WORK/first.out" 2>"$WORK/first.err" &
pids+=($!)
first=$!
wait_for '^lumvane: serving' "$WORK/first.out" || fail "first: not serving"
SETTINGS=$REAL_HOME/.local/share/Lumvane

snapshot() {  # every file of the settings folder with its size, time and digest
  (cd "$SETTINGS" && find . -type f ! -path './logs/*' -printf '%p %s %T@\n' | sort &&
     find . -type f ! -path './logs/*' -exec sha256sum {} + | sort)
}

second() {  # name, then the environment of that start as NAME=value words
  local name=$1
  shift
  before=$(snapshot)
  env -u XDG_RUNTIME_DIR "$@" "$LUMVANE" --headless --ble="sim:$WORK/air.sock" \
    >"$WORK/$name.out" 2>"$WORK/$name.err"
  local status=$?
  [ "$status" -eq 3 ] || fail "$name: ended with $status, not 3"
  grep -q "^lumvane: Lumvane is already running (process $first)" "$WORK/$name.out" ||
    fail "$name: did not name the running copy"
  [ "$(snapshot)" = "$before" ] || fail "$name: the settings folder changed"
}

# A shell of another session: no runtime folder.
second no-runtime HOME="$REAL_HOME" XDG_DATA_HOME="$REAL_HOME/.local/share" \
  XDG_CONFIG_HOME="$REAL_HOME/.config"
# Another runtime folder.
mkdir -p "$WORK/run2" && chmod 700 "$WORK/run2"
second other-runtime HOME="$REAL_HOME" XDG_DATA_HOME="$REAL_HOME/.local/share" \
  XDG_CONFIG_HOME="$REAL_HOME/.config" XDG_RUNTIME_DIR="$WORK/run2"
# The home folder through a link, with and without the runtime folder.
second linked-home HOME="$WORK/home-link" XDG_DATA_HOME="$WORK/home-link/.local/share" \
  XDG_CONFIG_HOME="$WORK/home-link/.config" XDG_RUNTIME_DIR="$WORK/run"
second linked-home-no-runtime HOME="$WORK/home-link" XDG_CONFIG_HOME="$WORK/home-link/.config"

kill -TERM "$first"
wait "$first" || fail "the first copy did not stop cleanly"
echo "PASS"
