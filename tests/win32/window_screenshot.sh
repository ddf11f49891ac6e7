#!/usr/bin/env bash
# Takes a picture of korvik.exe's window with a file's hash shown, as PNG.
#
#   window_screenshot.sh WINE_RUN PREFIX PROGRAM_DIR WINDOW_TEXT OUTPUT
set -euo pipefail
WINE_RUN=$1 PREFIX=$2 PROGRAM_DIR=$3 WINDOW_TEXT=$4
output=$5
source "$(dirname "$0")/window_driver.sh"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
copy_program "$folder"
printf 'A line of data\r\n' >"$folder/data.txt"

start_window "$folder"
xdotool type --delay 5 "$(windows_path "$folder/data.txt")"
xdotool key alt+g
wait_for_hash >/dev/null
# The focus back from "&Generate Hash" to the file name box, as at the
# start.
xdotool key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
sleep 0.5
# The screen is black but for the window: trimmed to the window's frame.
import -window root png:- | convert png:- -trim +repage "$output"
xdotool key alt+e
wait_for_exit
echo "Wrote $output"
