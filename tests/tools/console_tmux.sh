#!/bin/bash
# Terminal tests of the console routines: console_driver runs in a tmux pane
# (a real terminal), tmux send-keys types and capture-pane reads the screen.
# Usage: console_tmux.sh path/to/console_driver
# Exit code 77 (skipped) when tmux is missing.
set -u
driver="$1"
command -v tmux >/dev/null 2>&1 || { echo "tmux is missing"; exit 77; }

socket="tw-console-$$"
tm() { tmux -L "$socket" "$@"; }
trap 'tm kill-server >/dev/null 2>&1' EXIT
failures=0
session=0

# A fresh pane running sh at 200 x 50.
start() {
  session=$((session + 1))
  tm new-session -d -x 200 -y 50 -s "s$session" "env PS1='$ ' sh"
  wait_for '^\$' || true
}
screen() { tm capture-pane -p -J -t "s$session"; }
keys() { tm send-keys -t "s$session" "$@"; }
# Waits up to 5 seconds for a line matching the extended regular expression.
wait_for() {
  for _ in $(seq 50); do
    screen | grep -Eq -- "$1" && return 0
    sleep 0.1
  done
  return 1
}
check() {  # name, pattern
  if wait_for "$2"; then
    echo "ok   $1"
  else
    echo "FAIL $1: no line matching /$2/ on the screen:"
    screen | sed -e 's/^/     | /' -e '/^     | $/d'
    failures=$((failures + 1))
  fi
  tm kill-session -t "s$session" 2>/dev/null
}

start
keys "$driver input abc" Enter
wait_for 'Name\? abc' && keys Enter
check "pre-typed text accepted with Enter only" '^\[abc\] 3$'

start
keys "$driver input abc" Enter
wait_for 'Name\? abc' && keys BSpace BSpace && keys -l "xy" && keys Enter
check "pre-typed text edited with backspace" '^\[axy\] 3$'

start
line125=$(printf 'x%.0s' $(seq 125))
keys "$driver input" Enter
wait_for 'Name\?' && keys -l "$line125" && keys Enter
check "a line of exactly 125 characters" "^\[$line125\] 125\$"

start
line130=$(printf 'y%.0s' $(seq 130))
keys "$driver input" Enter
wait_for 'Name\?' && keys -l "$line130" && keys Enter
check "a longer line gives its first 127 bytes" "^\[$(printf 'y%.0s' $(seq 127))\] 127\$"

start
keys "$driver waitkey 3 0" Enter
wait_for '^ready' && keys F1
wait_for '^key 59 1$' && keys Up
wait_for '^key 72 1$' && keys a
wait_for '^key 97 0$'
check "WaitKey: F1, Up, a; terminal mode restored" '^icanon=1 echo=1 restored=1$'

start
keys "$driver waitkey 1 1500" Enter
wait_for '^sleeping' && keys -l "qwe"
wait_for 'ready' && sleep 0.2 && keys z
check "keys typed before WaitKey are discarded" '^key 122 0$'

start
keys "$driver waitkey 1 0" Enter
wait_for '^ready' && sleep 0.2 && keys C-c
wait_for '^\$ $' && keys "stty -a | tr -s ' ;' '\\n\\n' | grep -Ex -- '-?(icanon|echo)' | tr '\\n' ' '; echo END" Enter
check "terminal mode restored after Ctrl+C in WaitKey" '^icanon echo END$'

if [ "$failures" -ne 0 ]; then
  echo "$failures terminal check(s) failed"
  exit 1
fi
echo "all terminal checks passed"
