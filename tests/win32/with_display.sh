#!/usr/bin/env bash
# Runs a command on an X server of its own (tests/x11/display.sh), so that
# windows can be shown, focused and typed into; afterwards ends it, and the
# Wine server of the Wine prefix the command used, whose desktop belongs to
# this display.
#
#   with_display.sh WINE_RUN PREFIX COMMAND [ARGUMENTS...]
set -euo pipefail
wine_run=$1
prefix=$(realpath -m "$2")
shift 2

# Wine's own fonts, "MS Sans Serif" among them, in the prefix's font folder,
# where Debian's Wine does not put them (package fonts-wine).
"$wine_run" "$prefix" cmd.exe /c exit </dev/null >/dev/null 2>&1
mkdir -p "$prefix/drive_c/windows/Fonts"
for font in /usr/share/wine/fonts/*; do
  [ -e "$prefix/drive_c/windows/Fonts/${font##*/}" ] ||
    ln -s "$font" "$prefix/drive_c/windows/Fonts/"
done

source "$(dirname "$0")/../x11/display.sh"
finish() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  stop_display
}
trap finish EXIT
start_display

status=0
"$@" || status=$?
exit "$status"
