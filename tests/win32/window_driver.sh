# Drives korvik.exe's window as a person would, with real key presses to
# the focused window (xdotool); sourced by the window's session test and
# its screenshot. Needs DISPLAY, and sets:
#   WINE_RUN PREFIX PROGRAM_DIR WINDOW_TEXT  (wine-run, a Wine prefix, the
#   folder of korvik.exe and korvik.DLL, the window_text helper)

readonly QUESTION_CAPTION="Korvik Checksum Utility"
readonly WINDOW_CAPTION="Korvik Checksum Generation Utility"
readonly TXTHASH_ID=106

# fail MESSAGE: ends the script with MESSAGE.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# copy_program FOLDER: korvik.exe and korvik.DLL alone in FOLDER.
copy_program() {
  cp "$PROGRAM_DIR/korvik.exe" "$PROGRAM_DIR/korvik.DLL" "$1/"
}

# windows_path PATH: PATH as Windows sees it under Wine (drive Z:).
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# find_window CAPTION: prints the X window id of the shown window whose
# title is CAPTION exactly; fails where there is none. xdotool's own --sync
# gives up when a window vanishes while it looks.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .
}

# wait_for_window CAPTION [SECONDS]: waits for the window CAPTION, by
# default up to 60 seconds; fails where it does not come.
wait_for_window() {
  local tries=$((${2:-60} * 4))
  for _ in $(seq "$tries"); do
    find_window "$1" >/dev/null && return 0
    sleep 0.25
  done
  return 1
}

# start_window FOLDER: starts FOLDER's korvik.exe without arguments in
# FOLDER, answers Yes to the question with its access key and waits for
# the window; sets KORVIK_PID.
start_window() {
  (cd "$1" && exec "$WINE_RUN" "$PREFIX" "$1/korvik.exe") &
  KORVIK_PID=$!
  wait_for_window "$QUESTION_CAPTION" || fail "no question"
  # A key pressed before the question has the focus goes nowhere: try again.
  for _ in 1 2 3; do
    xdotool windowactivate --sync "$(find_window "$QUESTION_CAPTION")" \
      2>/dev/null || true
    xdotool key y
    wait_for_window "$WINDOW_CAPTION" 10 && break
  done
  wait_for_window "$WINDOW_CAPTION" 1 || fail "no window after Yes"
  xdotool windowactivate --sync "$(find_window "$WINDOW_CAPTION")" \
    2>/dev/null || true
  sleep 0.5
}

# control_text ID: the text of the window's control ID.
control_text() {
  "$WINE_RUN" "$PREFIX" "$WINDOW_TEXT" "$WINDOW_CAPTION" "$1" | tr -d '\r'
}

# wait_for_hash: waits up to 30 seconds for txtHash to show something;
# prints it.
wait_for_hash() {
  local hash=""
  for _ in $(seq 60); do
    hash=$(control_text "$TXTHASH_ID")
    [ -n "$hash" ] && break
    sleep 0.5
  done
  [ -n "$hash" ] || fail "no hash shown"
  printf '%s' "$hash"
}

# wait_for_exit: waits up to 30 seconds for korvik.exe to end.
wait_for_exit() {
  for _ in $(seq 60); do
    kill -0 "$KORVIK_PID" 2>/dev/null || return 0
    sleep 0.5
  done
  fail "the program did not end"
}
