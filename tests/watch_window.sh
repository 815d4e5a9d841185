#!/bin/sh
# `zephrant --watch` in a real X window (under xvfb-run): the title says
# what the viewer's keys did (P pauses, F is faster, P goes on), the short
# replay plays to its end and says so, R plays it again, ESC stops it and
# ESC then ends the program with status 0. Every step waits for the title.
bin=$1 replay=$2
work=$(mktemp -d)
cd "$work" || exit 2
"$bin" --watch "$replay" > "$work/stdout.txt" 2>&1 &
pid=$!
fail() { echo "$1 (title: $(title))"; kill $pid 2>/dev/null; cat "$work/stdout.txt"; exit 1; }
# The title a window manager shows.
title() { xprop -id "$wid" _NET_WM_NAME 2>/dev/null | sed -n 's/.* = "\(.*\)"$/\1/p'; }
# until TEXT [SECONDS]: waits for the title to be the game's name and TEXT.
until_title() {
  i=0
  while [ "$(title)" != "QUARV: Zephrant v1.02 - $1" ]; do
    kill -0 $pid 2>/dev/null || fail "ended waiting for \"$1\""
    [ $i -lt $((${2:-60} * 10)) ] || fail "no \"$1\""
    sleep 0.1
    i=$((i + 1))
  done
}
key() { xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --window "$wid" "$1"; }

i=0
until wid=$(xdotool search --name '^QUARV: Zephrant v1\.02' 2>/dev/null | tail -1); [ -n "$wid" ]; do
  kill -0 $pid 2>/dev/null && [ $i -lt 1200 ] || fail "no window"
  sleep 0.1
  i=$((i + 1))
done
until_title "replay"
key p
until_title "replay paused"
key f
until_title "replay paused at 2x"
key p
until_title "replay at 2x"
until_title "replay ended - R watches again, ESC leaves" 300
key r
until_title "replay at 2x"
key Escape
until_title "replay ended - R watches again, ESC leaves"
key Escape
i=0
while kill -0 $pid 2>/dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
wait $pid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
echo "watch window ok"
