#!/usr/bin/env bash
# Runs the README's walkthrough exactly as printed: every ```sh block, in order, in one
# shell at the top of the source tree, with B naming the build folder of the programs.
# Passes when the blocks pair the phone and answer (over HTTP and through the
# native-messaging host) and leave no process behind.
#
#   readme_walkthrough.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
SOURCE=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-readme.XXXXXX")
group=""
finish() {
  # Whatever the blocks left running is ended here (they ran in a process group of
  # their own); the throw-away home they made lies in $WORK.
  if [ -n "$group" ]; then kill -KILL -- "-$group" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap finish EXIT

awk '/^```sh$/ {inside = 1; next} /^```$/ {inside = 0; next} inside {print}' \
  "$SOURCE/README.md" >"$WORK/walkthrough.sh"
blocks=$(grep -c '^```sh$' "$SOURCE/README.md")
if [ "$blocks" -lt 5 ]; then
  echo "FAIL: only $blocks sh blocks found in README.md" >&2
  exit 1
fi
# The blocks' `mktemp -d` makes the throw-away home in here.
mkdir "$WORK/tmp"

# `timeout` puts itself and everything the blocks start into one process group; on time-
# out it ends the whole group.
(cd "$SOURCE" && B=$BUILD TMPDIR=$WORK/tmp exec timeout -k 10 240 bash -e "$WORK/walkthrough.sh") \
  >"$WORK/out" 2>&1 &
group=$!
wait "$group"
status=$?
cat "$WORK/out"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "the walkthrough ended with status $status"
grep -q '^lumvane: paired' "$WORK/out" || fail "no pairing"
grep -q '^client secret: [0-9A-Za-z+/=_-]\{8,\}$' "$WORK/out" || fail "no client secret"
# The password of the fixture, Base64-encoded: once from curl, once through the host.
answers=$(grep -o '"3":{"str":"Y29ycmVjdCBob3JzZSBiYXR0ZXJ5IHN0YXBsZQ=="}' "$WORK/out" | wc -l)
[ "$answers" -eq 2 ] || fail "expected the login twice (curl and native messaging), got $answers"
# The session's settings went to the throw-away home, not to the home of whoever runs this.
settings=("$WORK"/tmp/*/.local/share/Lumvane/settings.tbnlmveprf)
[ -f "${settings[0]}" ] || fail "no settings file in the throw-away home"
home=$(dirname "$(dirname "$(dirname "$(dirname "${settings[0]}")")")")
# A first start, a pairing and a few answers are no faults: no error lines in the log,
# and no backup folder before the first backup.
if grep -rh '| ERRR |' "$home/.local/share/Lumvane/logs"; then fail "error lines in the log"; fi
[ ! -e "$home/Documents/Lumvane" ] || fail "the backup folder was made without a backup"
if kill -0 -- "-$group" 2>/dev/null; then fail "processes of the walkthrough still run"; fi
# Read too early, the URL is empty: phone-sim must say so instead of waiting for ever.
for url in "" "https://lumvane.io/auth/appinstall.html?client=x"; do
  "$BUILD/tests/phone-sim/phone-sim" --air "$WORK/no-radio.sock" --pair-url "$url" \
    >"$WORK/phone-sim.out" 2>&1
  status=$?
  [ "$status" -eq 2 ] || fail "phone-sim --pair-url '$url' ended with $status, not 2"
  grep -q -e '--pair-url is' "$WORK/phone-sim.out" || fail "phone-sim did not say why: $(cat "$WORK/phone-sim.out")"
done
echo "PASS"
