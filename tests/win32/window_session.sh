#!/usr/bin/env bash
# One session in the window of the real korvik.exe, driven from the
# keyboard: Yes to the question, a drive-letter path typed into the file
# name box, Enter and Esc do nothing, Alt+G shows the hash, Alt+A seals the file, Alt+E ends the
# program. The window writes no run log; the batch program then finds the
# seal in order.
#
#   window_session.sh WINE_RUN PREFIX PROGRAM_DIR WINDOW_TEXT
set -euo pipefail
WINE_RUN=$1 PREFIX=$2 PROGRAM_DIR=$3 WINDOW_TEXT=$4
source "$(dirname "$0")/window_driver.sh"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
copy_program "$folder"
printf 'first line\r\nsecond line\r\n' >"$folder/data.txt"
data=$(windows_path "$folder/data.txt")

start_window "$folder"
xdotool type --delay 5 "$data"
# Enter and Esc in the file name box press no button.
xdotool key Return Escape
sleep 0.5
! find_window "$QUESTION_CAPTION" >/dev/null || fail "Enter or Esc showed a message"
find_window "$WINDOW_CAPTION" >/dev/null || fail "Enter or Esc closed the window"
xdotool key alt+g
hash=$(wait_for_hash)
expected=$(md5sum "$folder/data.txt" | cut -c1-32)
[ "$hash" = "$expected" ] || fail "hash shown: \"$hash\", MD5: $expected"

xdotool key alt+a
wait_for_window "$QUESTION_CAPTION" || fail "no message after Alt+A"
sleep 0.5
xdotool key Return
sealed=$(printf 'first line\r\nsecond line\r\n%s' "$hash")
[ "$(cat "$folder/data.txt")" = "$sealed" ] || fail "not sealed: $(od -c "$folder/data.txt")"

sleep 0.5
xdotool key alt+e
wait_for_exit
[ ! -e "$folder/ravlo.log" ] || fail "the window wrote a run log"

(cd "$folder" && "$WINE_RUN" "$PREFIX" "$folder/korvik.exe" -V "$data")
grep -q "Checksum Matches File Contents." "$folder/ravlo.log" ||
  fail "the batch program finds no seal: $(cat "$folder/ravlo.log")"
echo "window session: hash $hash shown, file sealed, program ended"
