#!/usr/bin/env bash
# What `lumvane --headless` tells the person who starts it: a second copy says that one
# runs and touches nothing; an unreadable settings file is said to be moved aside; what
# is off on this machine is said once per start, on standard output, with nothing on
# standard error.
#
#   startup_lines_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
BUILD=$(cd "$2" && pwd)
LUMVANE=$BUILD/src/app/lumvane
AIR=$BUILD/src/platform/ble/lumvane-ble-air
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-startup.XXXXXX")
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

export HOME=$WORK/home
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config XDG_RUNTIME_DIR=$WORK/run
export DBUS_SESSION_BUS_ADDRESS=disabled:
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
SETTINGS=$XDG_DATA_HOME/Lumvane/settings.tbnlmveprf

"$AIR" "$WORK/air.sock" >"$WORK/air.out" 2>&1 &
pids+=($!)
wait_for . "$WORK/air.out" || fail "no radio hub"

start() {  # name [option...]
  local name=$1
  shift
  "$LUMVANE" --headless --ble="sim:$WORK/air.sock" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  pids+=($!)
  wait_for '^lumvane: serving' "$WORK/$name.out" || fail "$name: not serving"
}
stop() {
  kill -TERM "${pids[-1]}"
  wait "${pids[-1]}"
  unset 'pids[-1]'
}

# A first start: the file keychain is said once, nothing on standard error. Then one line
# on how to pair and how to stop; the phone that cannot be woken is said as what it means
# for the user, not as a file name.
start first
[ "$(grep -c 'no Secret Service' "$WORK/first.out")" -eq 1 ] || fail "keychain line not once"
[ ! -s "$WORK/first.err" ] || fail "standard error is not empty"
wait_for '^lumvane: Ctrl-C stops it' "$WORK/first.out" || fail "no line on how to stop"
[ "$(grep -c '^lumvane: Ctrl-C stops it; to pair a phone, start it with --pair' "$WORK/first.out")" -eq 1 ] ||
  fail "no line on how to pair and stop"
grep -q '^lumvane: the phone is reached only while its Lumvane app is awake' "$WORK/first.out" ||
  fail "no line on waking the phone"
if grep -q 'p12\|push certificate' "$WORK/first.out"; then fail "a certificate file is named"; fi

# A second copy: one line, status 3, the settings file and the logs untouched.
before=$(sha256sum "$SETTINGS")
logs=$(ls "$XDG_DATA_HOME/Lumvane/logs" | wc -l)
"$LUMVANE" --headless --ble="sim:$WORK/air.sock" >"$WORK/second.out" 2>"$WORK/second.err"
status=$?
[ "$status" -eq 3 ] || fail "the second copy ended with $status, not 3"
[ "$(wc -l <"$WORK/second.out")" -eq 1 ] || fail "the second copy said more than one line"
grep -q "^lumvane: Lumvane is already running (process ${pids[-1]})" "$WORK/second.out" ||
  fail "the second copy did not name the running one"
[ "$(sha256sum "$SETTINGS")" = "$before" ] || fail "the second copy changed the settings file"
[ "$(ls "$XDG_DATA_HOME/Lumvane/logs" | wc -l)" -eq "$logs" ] || fail "the second copy wrote logs"
stop

# An unreadable settings file: moved aside, and said so, naming where it went.
printf 'not a settings file' >"$SETTINGS"
start third
line=$(grep '^lumvane: the settings file could not be read and was moved aside to ' "$WORK/third.out") ||
  fail "no moved-aside line"
moved=${line#lumvane: the settings file could not be read and was moved aside to }
moved=${moved%%;*}
[ "$(cat "$moved")" = "not a settings file" ] || fail "the named file is not the old settings file"
stop

# The start after it says nothing of the kind; started to pair, it says to scan the code.
start fourth --pair
if grep -q 'moved aside' "$WORK/fourth.out"; then fail "moved-aside line on a normal start"; fi
wait_for '^lumvane: Ctrl-C stops it; scan the QR code it prints' "$WORK/fourth.out" ||
  fail "no line on how to pair with --pair"
stop
echo "PASS"
