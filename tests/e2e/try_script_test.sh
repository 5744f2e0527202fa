#!/usr/bin/env bash
# Runs scripts/try.sh on the programs of an existing build and checks that it prints the
# decoded login and that nothing it started outlives it, also when it is interrupted
# (Ctrl-C).
#
#   try_script_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
SOURCE=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-try-test.XXXXXX")
groups=()
finish() {
  for g in "${groups[@]}"; do kill -KILL -- "-$g" 2>/dev/null || true; done
  if [ -d "$WORK/tmp" ]; then
    for pid in $(started_here | cut -d' ' -f1); do kill -KILL "$pid" 2>/dev/null || true; done
  fi
  rm -rf "$WORK"
}
trap finish EXIT
# The processes of the group that still run: an ended child its parent did not wait for
# (a zombie, state Z) holds nothing and does not count.
running_in_group() {
  local pid state
  for pid in $(pgrep -g "$1"); do
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || continue
    [ "$state" = Z ] || echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# try.sh runs in a process group of its own (timeout makes one); the programs it starts
# run in sessions of their own, and are found by their throw-away folder, which lies in
# this test's TMP.
TMP=$WORK/tmp
mkdir "$TMP"
run_try() {
  local out=$1
  shift
  (TMPDIR=$TMP exec timeout -k 10 "$@" bash "$SOURCE/scripts/try.sh" --bin-dir "$BUILD") \
    >"$out" 2>&1 &
  groups+=($!)
}
started_here() {
  local pid state
  for pid in $(pgrep -f -- "$TMP/"); do
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || continue
    [ "$state" = Z ] || echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}

# 1. A whole run.
run_try "$WORK/run.out" 240
group=${groups[-1]}
wait "$group"
status=$?
cat "$WORK/run.out"
[ "$status" -eq 0 ] || fail "try.sh ended with status $status"
grep -q '^  login:    alice$' "$WORK/run.out" || fail "no decoded login"
grep -q '^  password: correct horse battery staple$' "$WORK/run.out" || fail "no decoded password"
left=$(running_in_group "$group")
[ -z "$left" ] || fail "try.sh left processes behind: $left"
left=$(started_here)
[ -z "$left" ] || fail "try.sh left processes behind: $left"

# 2. Ctrl-C once lumvane serves, and once the phone has paired: the terminal sends SIGINT
# to the script's whole process group (all of it but timeout, which only made the group).
# The script says it was interrupted, shows no failure of a request cut short and no
# logs, and everything it started ends all the same.
for stage in 'lumvane is serving' 'paired; registering'; do
  out=$WORK/interrupted-${stage%% *}.out
  run_try "$out" 240
  group=${groups[-1]}
  for _ in $(seq 1200); do
    grep -q "$stage\|try.sh:" "$out" && break
    sleep 0.1
  done
  grep -q "$stage" "$out" || {
    cat "$out"
    fail "the run did not get to '$stage'"
  }
  for pid in $(pgrep -g "$group"); do
    [ "$pid" = "$group" ] || kill -INT "$pid" 2>/dev/null || true
  done
  wait "$group"
  status=$?
  cat "$out"
  [ "$status" -eq 130 ] || fail "an interrupted try.sh ended with status $status, not 130"
  grep -q '^try.sh: interrupted' "$out" || fail "an interrupted try.sh did not say so"
  if grep -q 'failed\|^curl:\|^--- ' "$out"; then
    fail "an interrupted try.sh reported failures or logs"
  fi
  left=$(running_in_group "$group")
  [ -z "$left" ] || fail "an interrupted try.sh left processes behind: $left"
  left=$(started_here)
  [ -z "$left" ] || fail "an interrupted try.sh left processes behind: $left"
done
echo "PASS"
