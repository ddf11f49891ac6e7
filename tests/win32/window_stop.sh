#!/usr/bin/env bash
# The real korvik.exe's window, driven from the keyboard: a verification of
# a large sparse file shows its progress in the title, Esc stops it, the
# window says so and takes keys again, and the file is as it was, with no
# work file beside it. With a sixth argument, saves a picture of the window
# while the progress shows.
#
#   window_stop.sh WINE_RUN PREFIX PROGRAM_DIR WINDOW_TEXT [SCREENSHOT.png]
set -euo pipefail
WINE_RUN=$1 PREFIX=$2 PROGRAM_DIR=$3 WINDOW_TEXT=$4
screenshot=${5:-}
source "$(dirname "$0")/window_driver.sh"
readonly TXTFILENAME_ID=101
# The text of a message box, as the system makes it.
readonly MESSAGE_TEXT_ID=65535

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
copy_program "$folder"
data="$folder/large.bin"
truncate -s 4G "$data"
before=$(stat -c '%s %Y %b' "$data")

start_window "$folder"
xdotool type --delay 5 "$(windows_path "$data")"
# Back from the file name box to "Verify Hash", which has no access key.
xdotool key shift+Tab space

progress="$WINDOW_CAPTION .* Verifying [0-9]+ %.*"
wait_for_window "$progress" 30 || fail "no progress in the title"
first=$(xdotool getwindowname "$(find_window "$progress")")
if [ -n "$screenshot" ]; then
  wait_for_window "$WINDOW_CAPTION .* Verifying [0-9]+ % \\(about .*" 10 || true
  import -window root png:- | convert png:- -trim +repage "$screenshot"
fi
second=$(next_title "$progress" "$first") ||
  fail "the progress stands still at \"$first\""

xdotool key Escape
wait_for_window "$QUESTION_CAPTION" 5 || fail "no message after Esc"
told=$("$WINE_RUN" "$PREFIX" "$WINDOW_TEXT" "$QUESTION_CAPTION" \
  "$MESSAGE_TEXT_ID" | tr -d '\r')
[ "$told" = "Operation Stopped. Nothing was Changed." ] ||
  fail "the message after Esc: \"$told\""
xdotool key Return
wait_for_window "$WINDOW_CAPTION" 5 || fail "the title keeps its progress"
sleep 0.5
# The window takes keys again: Tab to the file name box, a new name.
xdotool key Tab
xdotool type --delay 5 "typed"
[ "$(control_text "$TXTFILENAME_ID")" = "typed" ] ||
  fail "the window took no keys after the stop"
xdotool key alt+e
wait_for_exit

[ "$(stat -c '%s %Y %b' "$data")" = "$before" ] || fail "the data file changed"
left=$(ls -A "$folder" | grep -v -x -e korvik.exe -e korvik.DLL -e large.bin || true)
[ -z "$left" ] || fail "left behind: $left"
echo "window stop: \"$first\" then \"$second\", stopped, file unchanged"
