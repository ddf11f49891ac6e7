#!/usr/bin/env bash
# The real program's Qt window on an X server of its own (Xvfb, openbox):
# a verification of a large sparse file shows its progress in the title,
# Esc stops it, the window says so and takes keys again, and the file is
# as it was, with no work file beside it. With a second argument, saves a
# picture of the window while the progress shows there.
#
#   window_stop.sh PROGRAM_DIR [SCREENSHOT.png]
set -euo pipefail
program_dir=$1
screenshot=${2:-}
readonly WINDOW_CAPTION="Korvik Checksum Generation Utility"
readonly BOX_CAPTION="Korvik Checksum Utility"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
  3>"$work/display" </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
openbox --sm-disable </dev/null >/dev/null 2>&1 &
pids+=($!)
# A window mapped while the window manager starts up may stay unmapped:
# the program starts once openbox has made its own (unshown) window.
for _ in $(seq 100); do
  xdotool search --name '^Openbox$' >/dev/null 2>&1 && break
  sleep 0.1
done

# find_window TITLE_PATTERN: the id of a shown window whose whole title
# matches the pattern.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .
}

# wait_for_window TITLE_PATTERN [SECONDS]
wait_for_window() {
  for _ in $(seq $((${2:-60} * 10))); do
    find_window "$1" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

folder="$work/data"
mkdir "$folder"
data="$folder/large.bin"
truncate -s 4G "$data"
before=$(stat -c '%s %Y %b' "$data")

# activate TITLE_PATTERN: gives the window the focus, for the keys after.
activate() {
  xdotool windowactivate --sync "$(find_window "$1")" 2>/dev/null || true
  sleep 0.3
}

(cd "$folder" && exec "$program_dir/korvik" 2>"$work/korvik.err") &
korvik=$!
pids+=($korvik)
wait_for_window "$BOX_CAPTION" || fail "no question: $(cat "$work/korvik.err")"
# A key pressed before the question has the focus goes nowhere: try again.
for _ in 1 2 3; do
  activate "$BOX_CAPTION"
  xdotool key Return
  wait_for_window "$WINDOW_CAPTION" 10 && break
done
wait_for_window "$WINDOW_CAPTION" 1 || fail "no window after Yes"
activate "$WINDOW_CAPTION"
xdotool type --delay 5 "$data"
# Back from the file name box to "Verify Hash", which has no access key.
xdotool key shift+Tab space

progress="$WINDOW_CAPTION — Verifying [0-9]+ %.*"
wait_for_window "$progress" 30 || fail "no progress in the title"
first=$(xdotool getwindowname "$(find_window "$progress")")
if [ -n "$screenshot" ]; then
  # Once the time left shows too.
  wait_for_window "$WINDOW_CAPTION — Verifying [0-9]+ % \\(about .*" 10 || true
  import -window "$(find_window "$progress")" -frame "$screenshot" ||
    import -window root png:- | convert png:- -trim +repage "$screenshot"
fi
for _ in $(seq 100); do
  second=$(xdotool getwindowname "$(find_window "$progress")")
  [ "$second" != "$first" ] && break
  sleep 0.1
done
[ "$second" != "$first" ] || fail "the progress stands still at \"$first\""

xdotool key Escape
wait_for_window "$BOX_CAPTION" 5 || fail "no message after Esc"
# wait_for_no_window TITLE_PATTERN SECONDS: waits for the window to go.
wait_for_no_window() {
  for _ in $(seq $(($2 * 10))); do
    find_window "$1" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}
for _ in 1 2 3; do
  activate "$BOX_CAPTION"
  xdotool key Return
  wait_for_no_window "$BOX_CAPTION" 3 && break
done
wait_for_no_window "$BOX_CAPTION" 1 || fail "the message stays"
wait_for_window "$WINDOW_CAPTION" 5 || fail "the title keeps its progress"
# Responsive: Alt+E ends the program at once.
for _ in 1 2 3; do
  activate "$WINDOW_CAPTION"
  xdotool key alt+e
  for _ in $(seq 30); do
    kill -0 "$korvik" 2>/dev/null || break 2
    sleep 0.1
  done
done
! kill -0 "$korvik" 2>/dev/null || fail "the window took no keys after the stop"

[ "$(stat -c '%s %Y %b' "$data")" = "$before" ] || fail "the data file changed"
[ "$(ls -A "$folder")" = "large.bin" ] || fail "left behind: $(ls -A "$folder")"
echo "window stop: progress \"$first\" then \"$second\", stopped, file unchanged"
