#!/usr/bin/env bash
# Runs scripts/try.sh on the programs of an existing build and checks that it prints the
# decoded login and that nothing it started outlives it, also when it is interrupted.
#
#   try_script_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
SOURCE=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-try-test.XXXXXX")
groups=()
finish() {
  for g in "${groups[@]}"; do kill -KILL -- "-$g" 2>/dev/null || true; done
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

# try.sh runs in a process group of its own (timeout makes one), so whatever it started
# and left behind is still found in that group after it ended.
run_try() {
  local out=$1
  shift
  (exec timeout -k 10 "$@" bash "$SOURCE/scripts/try.sh" --bin-dir "$BUILD") >"$out" 2>&1 &
  groups+=($!)
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

# 2. Interrupted once lumvane serves: everything it started ends all the same.
run_try "$WORK/interrupted.out" 240
group=${groups[-1]}
for _ in $(seq 600); do
  grep -q 'lumvane is serving\|try.sh:' "$WORK/interrupted.out" && break
  sleep 0.1
done
grep -q 'lumvane is serving' "$WORK/interrupted.out" || {
  cat "$WORK/interrupted.out"
  fail "the second run did not get to serving"
}
# The script itself is the child of timeout: interrupt it as Ctrl-C would.
script=$(pgrep -g "$group" -f "scripts/try.sh" | head -n1)
[ -n "$script" ] || fail "try.sh not found in its process group"
kill -INT "$script"
wait "$group"
cat "$WORK/interrupted.out"
left=$(running_in_group "$group")
[ -z "$left" ] || fail "an interrupted try.sh left processes behind: $left"
echo "PASS"
