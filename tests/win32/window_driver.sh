# Drives korvik.exe's window as a person would, with real key presses to
# the focused window (xdotool); sourced by the window's session test and
# its screenshot. Needs DISPLAY, and sets:
#   WINE_RUN PREFIX PROGRAM_DIR WINDOW_TEXT  (wine-run, a Wine prefix, the
#   folder of korvik.exe and korvik.DLL, the window_text helper)

readonly QUESTION_CAPTION="Korvik Checksum Utility"
readonly WINDOW_CAPTION="Korvik Checksum Generation Utility"
readonly TXTHASH_ID=106

source "$(dirname "${BASH_SOURCE[0]}")/../x11/display.sh"

# copy_program FOLDER: korvik.exe and korvik.DLL alone in FOLDER.
copy_program() {
  cp "$PROGRAM_DIR/korvik.exe" "$PROGRAM_DIR/korvik.DLL" "$1/"
}

# windows_path PATH: PATH as Windows sees it under Wine (drive Z:).
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
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
    activate "$QUESTION_CAPTION"
    xdotool key y
    wait_for_window "$WINDOW_CAPTION" 10 && break
  done
  wait_for_window "$WINDOW_CAPTION" 1 || fail "no window after Yes"
  activate "$WINDOW_CAPTION"
  sleep 0.2
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
