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
sleep 1
key space
sleep 4                              # the wipe, then level 1 builds
xdotool keydown --window "$wid" Right
sleep 1
xdotool keyup --window "$wid" Right
key space                            # a gap behind the ship: prints its last move
sleep 0.5
key Escape                           # back to the title
sleep 1
key F12                              # full screen: a new window
sleep 1
wid=$(window)
key F12                              # and back
sleep 1
wid=$(window)
key Escape
for i in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
kill -0 $pid 2>/dev/null && fail "still running after ESC"
wait $pid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
grep -q "AUDIO SET" "$work/stdout.txt" || fail "no audio line"
grep -q "max bonus: 1204" "$work/stdout.txt" || fail "level 1 was not built"
# The last move was one cell to the right: dx2 = 1, dy2 = 0.
tr -d '\r' < "$work/stdout.txt" | grep -A1 -x "1" | grep -qx "0" || fail "the ship did not move right"
[ -f "$work/vek.hsf" ] || fail "no score file written"
echo "window smoke ok"
