#!/usr/bin/env bash
# The real program in an X session (run it under xvfb-run), started with
# "--portable" in FOLDER. The program's exit status is this script's.
#
#   smoke-session.sh PROGRAM FOLDER capture WIDTH HEIGHT
#       captures the region of WIDTHxHEIGHT at 100,100 through the window's
#       capture action, then quits with Ctrl+Q;
#   smoke-session.sh PROGRAM FOLDER dismiss
#       presses Enter on the first window (a start-up message).
set -euo pipefail
program=$1
folder=$2
mode=${3:-capture}
width=${4:-300}
height=${5:-200}

cd "$folder"
"$program" --portable &
pid=$!

# Waits (up to 10 s) for a mapped window whose title matches $1; prints its id.
wait_for_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

fail() {
  echo "smoke: $*" >&2
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  exit 1
}

window=$(wait_for_window '^Pellimore$') || fail "the first window did not appear"
if [ "$mode" = dismiss ]; then
  xdotool windowfocus --sync "$window"
  xdotool key Return
  wait "$pid"
  exit
fi
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+shift+s
wait_for_window '^Capture$' >/dev/null || fail "the capture overlay did not appear"
# Let the overlay take the pointer and the keyboard before dragging.
sleep 0.3
xdotool mousemove 100 100 mousedown 1
xdotool mousemove $((100 + width / 2)) $((100 + height / 2))
xdotool mousemove $((100 + width - 1)) $((100 + height - 1)) mouseup 1

window=$(wait_for_window '^Pellimore$') || fail "the main window did not come back"
# The new screenshot's file is encoded in the background; quitting waits for it.
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+q
wait "$pid"
