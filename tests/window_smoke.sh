#!/bin/sh
# The real game in a real X window (under xvfb-run): it opens an 800 x 600
# window with its title, SPACE starts a game that builds level 1, the
# ship moves right under the cursor key, ESC returns to the title, F12
# switches to full screen and back, and ESC on the title ends it with
# status 0. Every step waits for what the game shows or prints; a key that
# came before the game could take it is pressed again.
bin=$1
. "$(dirname "$0")/find_window.sh"
work=$(mktemp -d)
cd "$work" || exit 2
"$bin" > "$work/stdout.txt" 2>&1 &
pid=$!
fail() { echo "$1"; kill $pid 2>/dev/null; cat "$work/stdout.txt"; exit 1; }
alive() { grep -q '^State:[[:space:]]*[^Z]' "/proc/$pid/status" 2>/dev/null; }
focus() { xdotool windowfocus --sync "$wid" 2>/dev/null; }
# A press again after F12 may find the old window gone (BadWindow): what
# counts is what the game shows, so xdotool's complaints are not.
key() { focus; xdotool key --window "$wid" "$@" 2>/dev/null; }
printed() { tr -d '\r' < "$work/stdout.txt" | grep -c -x "$1"; }
# The last move printed when a gap is made: dx2 = 1 then dy2 = 0.
moved_right() { tr -d '\r' < "$work/stdout.txt" | grep -A1 -x "1" | grep -qx "0"; }

# retry TRIES SECONDS-PER-TRY CONDITION ACTION: does ACTION until CONDITION
# holds, giving each try SECONDS to show its effect. A program that ends
# between the two looks has ended for good: the condition decides.
retry() {
  tries=$1 wait=$2 cond=$3 action=$4
  while [ "$tries" -gt 0 ]; do
    $action
    i=0
    while [ $i -lt $((wait * 10)) ]; do
      $cond && return 0
      alive || { $cond; return; }
      sleep 0.1
      i=$((i + 1))
    done
    tries=$((tries - 1))
  done
  $cond
}

wid=$(find_window $pid)
[ -n "$wid" ] || fail "no window"
geom=$(xdotool getwindowgeometry "$wid" | grep Geometry | awk '{print $2}')
[ "$geom" = "800x600" ] || fail "window is $geom"

level_built() { [ "$(printed 'max bonus: 1204')" -ge 1 ]; }
press_space() { key space; }
retry 20 5 level_built press_space || fail "level 1 was not built"

hold_right() { focus; xdotool keydown --window "$wid" Right; key space; }
retry 20 3 moved_right hold_right || fail "the ship did not move right"
xdotool keyup --window "$wid" Right

# ESC leaves the game; the title takes F12 once it is up (it forgets keys
# pressed before), so F12 is pressed until the window is replaced.
key Escape
# The new window: the old one may still be listed until it is destroyed.
new_window() { xdotool search --name '^QUARV: Zephrant v1\.02$' 2>/dev/null | grep -vx "$old" | tail -1; }
switched() { [ -n "$(new_window)" ]; }
switch_display() {
  old=$wid
  press_f12() { key F12; }
  retry 20 5 switched press_f12 || fail "F12 did not switch the display"
  wid=$(new_window)
}
switch_display                       # full screen: a new window
switch_display                       # and back

ended() { ! alive; }
press_escape() { key Escape; }
retry 20 5 ended press_escape || fail "still running after ESC"
wait $pid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
grep -q "AUDIO SET" "$work/stdout.txt" || fail "no audio line"
[ -f "$work/vek.hsf" ] || fail "no score file written"
echo "window smoke ok"
