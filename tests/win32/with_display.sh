#!/usr/bin/env bash
# Runs a command on an X server of its own (Xvfb, 1024 x 768 at 96 dots per
# inch) with openbox as its window manager, so that windows can be shown,
# focused and typed into; afterwards ends both, and the Wine server of the
# Wine prefix the command used, whose desktop belongs to this display.
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

work=$(mktemp -d)
pids=()
finish() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Xvfb picks a free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
  3>"$work/display" </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
openbox --sm-disable </dev/null >/dev/null 2>&1 &
pids+=($!)

status=0
"$@" || status=$?
exit "$status"
