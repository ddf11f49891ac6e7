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

source "$(dirname "$0")/../x11/display.sh"

work=$(mktemp -d)
korvik=""
finish() {
  [ -z "$korvik" ] || kill "$korvik" 2>/dev/null || true
  stop_display
  rm -rf "$work"
}
trap finish EXIT
start_display

folder="$work/data"
mkdir "$folder"
data="$folder/large.bin"
truncate -s 4G "$data"
before=$(stat -c '%s %Y %b' "$data")

(cd "$folder" && exec "$program_dir/korvik" 2>"$work/korvik.err") &
korvik=$!
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
second=$(next_title "$progress" "$first") ||
  fail "the progress stands still at \"$first\""

xdotool key Escape
wait_for_window "$BOX_CAPTION" 5 || fail "no message after Esc"
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
