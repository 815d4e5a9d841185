#!/bin/sh
# The real game in a real X window (under xvfb-run): it opens an 800 x 600
# window with its title, SPACE starts a game that builds level 1, the
# ship moves right under the cursor key, ESC returns to the title, F12 switches to full
# screen and back, and ESC on the title ends it with status 0.
bin=$1
work=$(mktemp -d)
cd "$work" || exit 2
"$bin" > "$work/stdout.txt" 2>&1 &
pid=$!
fail() { echo "$1"; kill $pid 2>/dev/null; cat "$work/stdout.txt"; exit 1; }
window() { timeout 30 xdotool search --sync --name '^QUARV: Zephrant v1\.02$' | tail -1; }
key() { xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --window "$wid" "$@"; }

wid=$(window)
[ -n "$wid" ] || fail "no window"
geom=$(xdotool getwindowgeometry "$wid" | grep Geometry | awk '{print $2}')
[ "$geom" = "800x600" ] || fail "window is $geom"
# Waits up to 60 s for a line the game prints.
printed() {
  for i in $(seq 1 600); do
    tr -d '\r' < "$work/stdout.txt" | grep -q "$@" && return 0
    kill -0 $pid 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# SPACE on the title starts a game; presses made while the media still load
# are forgotten, so press until the game says it builds the level.
for i in $(seq 1 120); do
  tr -d '\r' < "$work/stdout.txt" | grep -qx "creating level" && break
  [ $((i % 10)) = 1 ] && key space
  sleep 0.1
done
printed -x "max bonus: 1204" || fail "level 1 was not built"
# Holding right, SPACE opens a gap behind the ship once it moves and prints
# its last move: one cell to the right is dx2 = 1, dy2 = 0.
xdotool keydown --window "$wid" Right
moved_right() { tr -d '\r' < "$work/stdout.txt" | grep -A1 -x "1" | grep -qx "0"; }
moved=""
for i in $(seq 1 300); do
  [ $((i % 10)) = 1 ] && key space
  moved_right && { moved=1; break; }
  sleep 0.1
done
xdotool keyup --window "$wid" Right
[ -n "$moved" ] || fail "the ship did not move right"
key Escape                           # back to the title
sleep 1
key F12                              # full screen: a new window
sleep 1
wid=$(window)
key F12                              # and back
sleep 1
wid=$(window)
key Escape
for i in $(seq 1 600); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
kill -0 $pid 2>/dev/null && fail "still running after ESC"
wait $pid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
grep -q "AUDIO SET" "$work/stdout.txt" || fail "no audio line"
[ -f "$work/vek.hsf" ] || fail "no score file written"
echo "window smoke ok"
