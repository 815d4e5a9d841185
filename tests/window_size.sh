#!/bin/sh
# A kept window size is fitted to the screen (800 x 600 here) with its
# aspect kept: one kept on a 4K monitor, and an absurd one SDL would turn
# down. The kept size stays in the settings file for the larger screen.
# The window carries the game's icon and the class its menu entry names.
bin=$1
class=$(sed -n 's/^StartupWMClass=//p' "$2")
work=$(mktemp -d)
mkdir -p "$work/config/zephrant"
export XDG_CONFIG_HOME="$work/config"
cd "$work" || exit 2

# run WIDTH HEIGHT EXPECTED-GEOMETRY
run() {
  printf 'window_width=%s\nwindow_height=%s\n' "$1" "$2" > "$work/config/zephrant/config"
  "$bin" > "$work/stdout.txt" 2>&1 &
  pid=$!
  wid=$(timeout 120 xdotool search --sync --name '^QUARV: Zephrant v1\.02$' | tail -1)
  [ -n "$wid" ] || fail "no window for $1 x $2"
  geom=$(xdotool getwindowgeometry "$wid" | awk '/Geometry/ {print $2}')
  [ "$geom" = "$3" ] || fail "a kept $1 x $2 opened at $geom, not $3"
  [ -n "$class" ] && xprop -id "$wid" WM_CLASS | grep -q "= \"$class\", \"$class\"$" ||
    fail "the window's class is not the menu entry's ($class): $(xprop -id "$wid" WM_CLASS)"
  xprop -id "$wid" _NET_WM_ICON | grep -q "Icon (64 x 64)" || fail "the window has no icon"
  grep -q "window: the kept size $1 x $2 (window_width and window_height in $work/config/zephrant/config) does not fit the screen; it opens at" "$work/stdout.txt" ||
    fail "no line says the window was fitted"
  # ESC on the title ends the game once it takes keys.
  i=0
  while kill -0 $pid 2>/dev/null; do
    xdotool key --window "$wid" Escape 2>/dev/null
    sleep 0.5
    i=$((i + 1))
    [ $i -lt 240 ] || fail "still running after ESC"
  done
  wait $pid || fail "exit status $?"
  grep -qx "window_width=$1" "$work/config/zephrant/config" || fail "the kept size was lost"
}
fail() { echo "$1"; kill $pid 2>/dev/null; cat "$work/stdout.txt"; exit 1; }

run 3840 2160 800x450
run 16385 600 800x150
echo "window size ok"
