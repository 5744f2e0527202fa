#!/usr/bin/env bash
# An install as a person makes it: `cmake --install` into a fresh prefix (with a space in
# its path), the program started from its desktop launcher (the .desktop file's Exec) on
# a display, the headless service started as its systemd user unit says, and then
# `lumvane-uninstall --all` from the prefix, which stops the service and removes what the
# install and the program put in place, and nothing else.
#
#   install_test.sh SOURCE_DIR BUILD_DIR CMAKE
set -uo pipefail
BUILD=$(cd "$2" && pwd)
CMAKE=$3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumvane-install.XXXXXX")
PREFIX="$WORK/pre fix"
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
ended_within() {  # pid seconds
  for _ in $(seq $(($2 * 10))); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}
# The program a desktop entry or unit line starts, unquoted (the paths here hold a space,
# no backslash).
program_of() {  # the value of Exec= or ExecStart=
  local words
  eval "words=($1)"
  printf '%s\n' "${words[0]}"
}

# 1. The install.
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.out" 2>&1 || fail "cmake --install failed"
LAUNCHER=$PREFIX/share/applications/io.lumvane.Lumvane.desktop
UNIT=$PREFIX/share/systemd/user/lumvane.service
for file in bin/lumvane bin/lumvane-hosts-helper bin/lumvane-uhid-helper bin/lumvane-uninstall \
            bin/lumvane-uninstall-hosts-helper share/lumvane/uniq_dict_8_n.dic \
            share/icons/hicolor/scalable/apps/io.lumvane.Lumvane.svg \
            share/applications/io.lumvane.Lumvane.desktop share/systemd/user/lumvane.service \
            share/lumvane/installed-files; do
  [ -f "$PREFIX/$file" ] || fail "the install has no $file"
done
grep -q '^Icon=io.lumvane.Lumvane$' "$LAUNCHER" || fail "the launcher names no icon"
exec_line=$(sed -n 's/^Exec=//p' "$LAUNCHER")
[ "$(program_of "$exec_line")" = "$PREFIX/bin/lumvane" ] || fail "the launcher starts $exec_line"
unit_line=$(sed -n 's/^ExecStart=//p' "$UNIT")
[ "$(program_of "$unit_line")" = "$PREFIX/bin/lumvane" ] || fail "the unit starts $unit_line"
# Other programs' files in the same folders, which the uninstall must leave.
printf 'mine\n' >"$PREFIX/bin/other-tool"
printf '[Desktop Entry]\nName=Other\n' >"$PREFIX/share/applications/other.desktop"

# A home of its own; the person tried Lumvane from the clone before, so an autostart entry
# names the build folder's program.
export HOME=$WORK/home
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config
export DBUS_SESSION_BUS_ADDRESS=disabled:
unset XDG_RUNTIME_DIR WAYLAND_DISPLAY
export TMPDIR=$WORK/tmp
mkdir -p "$HOME" "$TMPDIR" "$XDG_CONFIG_HOME/autostart"
AUTOSTART=$XDG_CONFIG_HOME/autostart/io.lumvane.Lumvane.desktop
printf '[Desktop Entry]\nType=Application\nName=Lumvane\nExec=%s\n' \
  "$BUILD/src/app/lumvane" >"$AUTOSTART"

# 2. Started from the launcher on a display, as a desktop starts it.
exec 9>"$WORK/display"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.err" 2>&1 &
pids+=($!)
for _ in $(seq 300); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$WORK/display")
eval "launcher=($exec_line)"
"${launcher[@]}" >"$WORK/desktop.out" 2>"$WORK/desktop.err" &
desktop=$!
pids+=($desktop)
wait_for '^lumvane: first start: showing the set-up wizard' "$WORK/desktop.out" ||
  fail "the launched program did not come up"
[ "$(readlink "/proc/$desktop/exe")" = "$PREFIX/bin/lumvane" ] || fail "the launcher ran another program"
autostart_line=$(sed -n 's/^Exec=//p' "$AUTOSTART")
[ "$(program_of "$autostart_line")" = "$PREFIX/bin/lumvane" ] ||
  fail "the autostart entry starts $autostart_line, not the installed program"
if grep -q 'QStandardPaths\|XDG_RUNTIME_DIR' "$WORK/desktop.err"; then
  fail "Qt's runtime-folder warning reached the terminal"
fi
kill -TERM "$desktop"
ended_within "$desktop" 60 || fail "the application did not stop on SIGTERM"
wait "$desktop"
grep -q '^lumvane: stopped' "$WORK/desktop.out" || fail "the application did not stop cleanly"
unset DISPLAY

# 3. The headless service as its unit starts it, enabled the way systemctl enables it.
eval "service=($unit_line)"
"${service[@]}" >"$WORK/service.out" 2>"$WORK/service.err" &
headless=$!
pids+=($headless)
wait_for '^lumvane: serving' "$WORK/service.out" || fail "the unit's command does not serve"
UNITS=$XDG_CONFIG_HOME/systemd/user
mkdir -p "$UNITS/default.target.wants"
ln -s "$UNIT" "$UNITS/lumvane.service"
ln -s "$UNITS/lumvane.service" "$UNITS/default.target.wants/lumvane.service"

# 4. Uninstalled by the program the install put in place, while the service runs.
printf '127.0.0.1 localhost\n' >"$WORK/hosts"
# --program-folder: only copies started from the prefix are stopped (without it every
# lumvane of this user would be, also those of other tests).
timeout 120 "$PREFIX/bin/lumvane-uninstall" --all --yes --hosts-file "$WORK/hosts" \
  --program-folder "$PREFIX/bin" \
  >"$WORK/uninstall.out" 2>&1 </dev/null
status=$?
[ "$status" -eq 0 ] || fail "lumvane-uninstall ended with $status"
grep -q '^Lumvane was uninstalled.$' "$WORK/uninstall.out" || fail "no word of the uninstall"
ended_within "$headless" 30 || fail "the service still runs after the uninstall"
left=$(cd "$PREFIX" && find . ! -type d | sort | tr '\n' ' ')
[ "$left" = "./bin/other-tool ./share/applications/other.desktop " ] ||
  fail "the prefix holds more or less than the other programs' files: $left"
for gone in "$AUTOSTART" "$UNITS/lumvane.service" "$UNITS/default.target.wants/lumvane.service" \
            "$XDG_DATA_HOME/Lumvane"; do
  [ ! -e "$gone" ] && [ ! -L "$gone" ] || fail "$gone is still there"
done
echo "PASS"
