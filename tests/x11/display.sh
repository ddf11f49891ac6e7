# shellcheck shell=bash
# An X server of a test's own (Xvfb, 1024 x 768 at 96 dots per inch) with
# openbox as its window manager, so that windows can be shown, focused and
# typed into, and the means to find and wait for windows on it by their
# titles. Sourced by the scripts that drive the program's windows; the
# window functions need DISPLAY, which start_display sets.

display_pids=()
display_work=""

# fail MESSAGE: ends the script with MESSAGE.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# start_display: starts Xvfb and openbox and sets DISPLAY to them;
# stop_display ends them.
start_display() {
  display_work=$(mktemp -d)
  # Xvfb picks a free display and writes its number to descriptor 3.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
    3>"$display_work/number" </dev/null >/dev/null 2>&1 &
  display_pids+=($!)
  for _ in $(seq 100); do
    [ -s "$display_work/number" ] && break
    sleep 0.1
  done
  [ -s "$display_work/number" ] || fail "Xvfb did not start"
  DISPLAY=":$(head -n1 "$display_work/number")"
  export DISPLAY
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  openbox --sm-disable </dev/null >/dev/null 2>&1 &
  display_pids+=($!)
  # A window mapped while the window manager starts up may stay unmapped:
  # programs start once openbox has made its own (unshown) window.
  for _ in $(seq 100); do
    xdotool search --name '^Openbox$' >/dev/null 2>&1 && break
    sleep 0.1
  done
}

# stop_display: ends what start_display started.
stop_display() {
  for pid in "${display_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -z "$display_work" ] || rm -rf "$display_work"
}

# find_window TITLE_PATTERN: prints the X window id of a shown window whose
# whole title matches the pattern; fails where there is none. xdotool's own
# --sync gives up when a window vanishes while it looks.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .
}

# wait_for_window TITLE_PATTERN [SECONDS]: waits for the window, by default
# up to 60 seconds; fails where it does not come.
wait_for_window() {
  for _ in $(seq $((${2:-60} * 10))); do
    find_window "$1" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# wait_for_no_window TITLE_PATTERN SECONDS: waits for the window to go;
# fails where it stays.
wait_for_no_window() {
  for _ in $(seq $(($2 * 10))); do
    find_window "$1" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# activate TITLE_PATTERN: gives the window the focus, for the keys after.
activate() {
  xdotool windowactivate --sync "$(find_window "$1")" 2>/dev/null || true
  sleep 0.3
}

# next_title TITLE_PATTERN TITLE: waits up to 10 seconds for the window to
# show a title other than TITLE, and prints it; fails where it does not.
next_title() {
  local title=$2
  for _ in $(seq 100); do
    title=$(xdotool getwindowname "$(find_window "$1")" 2>/dev/null) || true
    [ -n "$title" ] && [ "$title" != "$2" ] && break
    sleep 0.1
  done
  [ -n "$title" ] && [ "$title" != "$2" ] && printf '%s' "$title"
}
