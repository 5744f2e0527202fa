#!/usr/bin/env bash
# Tries Lumvane end to end with the simulated phone, without touching your own settings:
# builds only lumvane, its helpers, the radio hub and phone-sim (Release, in build/release,
# the tree scripts/run.sh builds in too), starts them in a throw-away home, pairs the phone,
# registers a browser client, asks getLoginData for the fixture's site and prints the
# answer decoded. Everything it started is stopped and the throw-away home removed on
# every way out (Ctrl-C included).
#
#   scripts/try.sh                 build, then run the demonstration
#   scripts/try.sh --bin-dir DIR   use the programs of an existing build folder DIR
#                                  (no set-up, no build; the tests use this)
#
# JOBS=N limits the build to N compiler runs at once (default: one per core).
# Needs 127.0.0.1:19521 free: a lumvane that already runs holds it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

BIN=""
while [ $# -gt 0 ]; do
  case "$1" in
    --bin-dir) BIN=${2:?--bin-dir needs a build folder}; shift 2 ;;
    --bin-dir=*) BIN=${1#--bin-dir=}; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "try.sh: unknown argument $1 (--help)" >&2; exit 2 ;;
  esac
done

if [ -z "$BIN" ]; then
  source scripts/release-tree.sh
  bash scripts/setup.sh
  build_release
  BIN=$RELEASE_TREE
fi
BIN=$(cd "$BIN" && pwd)
LUMVANE=$BIN/src/app/lumvane
AIR=$BIN/src/platform/ble/lumvane-ble-air
PHONE=$BIN/tests/phone-sim/phone-sim
FIXTURE=$ROOT/tests/phone-sim/fixtures/vault.json
for program in "$LUMVANE" "$AIR" "$PHONE"; do
  [ -x "$program" ] || { echo "try.sh: $program is missing" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-try.XXXXXX")
pids=()
stop_all() {
  local status=$?
  trap - EXIT INT TERM HUP
  # lumvane first, so that it stops its link before the phone and the hub go away.
  # The shell's own list of background jobs counts too: an interrupt between starting a
  # program and noting its pid must not leave that program behind.
  local order=() pid
  [ -n "${lumvane_pid:-}" ] && order+=("$lumvane_pid")
  for pid in "${pids[@]}" $(jobs -p); do
    [[ " ${order[*]} " == *" $pid "* ]] || order+=("$pid")
  done
  for pid in "${order[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    # Bounded: a process that has not ended within 10 s is killed.
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # Anything that ended on its own meanwhile is reaped here, so no child is left over.
  wait 2>/dev/null || true
  rm -rf "$WORK"
  exit "$status"
}
trap stop_all EXIT
# Ctrl-C reaches this script and the command it waits for (the programs it started run
# in sessions of their own, see `start`): say so, and stop everything in order.
interrupted=""
trap 'interrupted=1; echo; echo "try.sh: interrupted; stopping what it started" >&2; exit 130' INT
trap 'exit 143' TERM HUP

fail() {
  # A command cut short by Ctrl-C fails too; the interrupt says what happened.
  [ -z "$interrupted" ] || exit 130
  echo "try.sh: $*" >&2
  for log in "$WORK"/*.out; do
    [ -f "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}

# Waits up to $2 seconds for the pattern $1 in the file $3, and prints the first match;
# gives up at once when lumvane has ended.
wait_for_line() {
  local pattern=$1 seconds=$2 file=$3 line
  for _ in $(seq $((seconds * 10))); do
    if line=$(grep -m1 -e "$pattern" "$file" 2>/dev/null); then
      printf '%s\n' "$line"
      return 0
    fi
    if [ -n "${lumvane_pid:-}" ] && ! kill -0 "$lumvane_pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

# A throw-away home: settings, keys (no Secret Service, so a file there), logs, manifests.
export HOME=$WORK/home
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache
export DBUS_SESSION_BUS_ADDRESS=disabled:
mkdir -p "$HOME"
SOCKET=$WORK/air.sock
SECONDS=0

# Each program in a session of its own: Ctrl-C in the terminal reaches only this script,
# which then stops them in order (lumvane first), instead of them all at once, which
# made the request under way fail and its error hide the interrupt.
start() {
  setsid "$@" &
}

start "$AIR" "$SOCKET" >"$WORK/air.out" 2>&1
pids+=($!)
for _ in $(seq 100); do [ -S "$SOCKET" ] && break; sleep 0.1; done
[ -S "$SOCKET" ] || fail "the radio hub did not start"

start "$LUMVANE" --headless --ble="sim:$SOCKET" --pair --open-registration >"$WORK/lumvane.out" 2>&1
lumvane_pid=$!
pids+=($!)
url=$(wait_for_line '^lumvane: pairing URL: ' 60 "$WORK/lumvane.out") ||
  fail "lumvane printed no pairing URL (is another lumvane running on 127.0.0.1:19521?)"
url=${url#lumvane: pairing URL: }
echo "lumvane is serving; pairing the simulated phone"

start "$PHONE" --air "$SOCKET" --fixture "$FIXTURE" --pair-url "$url" >"$WORK/phone.out" 2>&1
pids+=($!)
wait_for_line '^lumvane: paired' 60 "$WORK/lumvane.out" >/dev/null || fail "the phone did not pair"
echo "paired; registering a browser client"

post() {
  curl -sS --max-time 120 --data-binary "$1" http://127.0.0.1:19521/thrift
}
now=$(date +%s)
client=TRY-$(date +%N)
ping=$(post '[1,"sendPing",1,0,{"1":{"rec":{"1":{"rec":{"1":{"str":"1"},"2":{"i64":'"$now"'},"3":{"str":"try"}}},"2":{"rec":{"1":{"str":"'"$client"'"}}},"3":{"str":"com.example.try"},"4":{"str":"1.0"}}}}]') ||
  fail "sendPing failed"
secret=$(python3 -c '
import json, sys
reply = json.loads(sys.argv[1])
print(reply[4]["0"]["rec"]["4"]["str"])' "$ping" 2>/dev/null) || fail "no client secret in the reply: $ping"

site=https://github.com/login
echo "asking the phone for the login of $site"
answer=$(post '[1,"getLoginData",1,0,{"1":{"rec":{"1":{"rec":{"1":{"str":"2"},"2":{"i64":'"$now"'},"3":{"str":"try"}}},"2":{"rec":{"1":{"str":"'"$client"'"},"2":{"str":"'"$secret"'"}}},"3":{"str":"'"$site"'"},"4":{"str":"alice"}}}}]') ||
  fail "getLoginData failed"
python3 -c '
import base64, json, sys
reply = json.loads(sys.argv[1])
result = reply[4]["0"]["rec"]
error = result.get("1", {}).get("rec", {}).get("4")
if error:
    sys.exit("the phone answered with an error: " + json.dumps(error))
data = result["2"]["rec"]
def text(field):
    return data.get(field, {}).get("str", "")
password = text("3")
try:
    password = base64.b64decode(password, validate=True).decode("utf-8")
except Exception:
    pass
print("login for " + sys.argv[2] + ":")
print("  login:    " + text("1"))
print("  password: " + password)
if text("4"):
    print("  e-mail:   " + text("4"))' "$answer" "$site" || fail "unexpected answer: $answer"
echo "answered ${SECONDS} s after the start; stopping everything"
