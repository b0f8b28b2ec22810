#!/usr/bin/env bash
# The real program in an X session (run it under xvfb-run), started with
# "--portable" in FOLDER. The program's exit status is this script's.
#
#   smoke-session.sh PROGRAM FOLDER capture WIDTH HEIGHT [X Y]
#       captures the region of WIDTHxHEIGHT at X,Y (default 100,100) through
#       the window's capture action, then quits with Ctrl+Q;
#   smoke-session.sh PROGRAM FOLDER edit WIDTH HEIGHT [X Y]
#       captures the same way, then triggers every action of the Edit menu:
#       pastes FOLDER/paste.png from the clipboard, duplicates, orders, crops,
#       resizes and resets the pasted picture, removes the duplicate, pastes
#       FOLDER/paste.png again through "Paste file..." and the 50x40 region at
#       250,150 (where the Edit menu was) through "Paste a new capture", then
#       quits;
#   smoke-session.sh PROGRAM FOLDER dismiss
#       presses Enter on the first window (a start-up message);
#   smoke-session.sh PROGRAM FOLDER render
#       waits for two ticks of the renderer's timer, then quits with Ctrl+Q;
#   smoke-session.sh PROGRAM FOLDER signal NAME TITLE
#       captures the region of 300x200 at 100,100, types TITLE into the title
#       prompt with Return, and sends the program the signal NAME (TERM, HUP)
#       right after.
set -euo pipefail
program=$1
folder=$2
mode=${3:-capture}
if [ "$mode" = signal ]; then
  signal=$4
  title=$5
  set -- "$1" "$2" "$3"
fi
width=${4:-300}
height=${5:-200}
x=${6:-100}
y=${7:-100}

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

# Runs the command "$@" that starts a capture and waits for the overlay. On a
# busy machine a key can be lost before the program takes it: then Escape
# closes whatever opened instead (a menu, a late overlay) and the command runs
# again, three times at most.
open_overlay() {
  for _ in 1 2 3; do
    "$@"
    wait_for_window '^Capture$' >/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    xdotool key Escape
    sleep 0.5
  done
  fail "the capture overlay did not appear"
}

# Drags out the region of $3x$4 at $1,$2 on the capture overlay; a drag covers
# the pixels where it starts and where it ends.
drag_region() {
  # Let the overlay take the pointer and the keyboard before dragging.
  sleep 0.3
  xdotool mousemove "$1" "$2" mousedown 1
  xdotool mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2))
  xdotool mousemove $(($1 + $3 - 1)) $(($2 + $4 - 1)) mouseup 1
}

# Keys for the main window, sent once it has the focus; a short pause after
# each lets the program take it before the next.
keys() {
  window=$(wait_for_window '^Pellimore$') || fail "the main window is gone"
  xdotool windowfocus --sync "$window"
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.2
  done
}

# Opens the Edit menu and picks its item of mnemonic $1 once the menu is up.
edit_menu() {
  local count
  count=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)
  keys alt+e
  for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)" -gt "$count" ] && break
    sleep 0.1
  done
  xdotool key "$1"
  sleep 0.2
}

window=$(wait_for_window '^Pellimore$') || fail "the first window did not appear"
if [ "$mode" = dismiss ]; then
  xdotool windowfocus --sync "$window"
  xdotool key Return
  wait "$pid"
  exit
fi
if [ "$mode" = render ]; then
  # The timer ticks every 3 s and renders the marks older than a second.
  sleep 7
  keys ctrl+q
  wait "$pid"
  exit
fi
open_overlay keys ctrl+shift+s
drag_region "$x" "$y" "$width" "$height"

if [ "$mode" = signal ]; then
  keys
  xdotool type --delay 20 "$title"
  xdotool key Return
  # Time for a busy program to take the keys; the store's write behind may
  # or may not have written the title by then.
  sleep 0.3
  kill -s "$signal" "$pid"
  wait "$pid"
  exit
fi

if [ "$mode" = edit ]; then
  # xclip keeps serving the clipboard in the background until the session ends.
  xclip -selection clipboard -t image/png -i paste.png
  # Return answers the title prompt first; Remove has no key of its own.
  keys Return ctrl+v ctrl+d ctrl+bracketright ctrl+bracketleft F2 ctrl+k ctrl+alt+i ctrl+alt+k ctrl+alt+0
  edit_menu r
  edit_menu i
  dialog=$(wait_for_window '^Paste file$') || fail "the file dialog did not appear"
  xdotool windowfocus --sync "$dialog"
  xdotool type --delay 20 "$PWD/paste.png"
  xdotool key Return
  open_overlay edit_menu n
  drag_region 250 150 50 40
fi

# The new screenshot's file is encoded in the background; quitting waits for it.
keys ctrl+q
wait "$pid"
