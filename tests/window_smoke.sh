#!/bin/sh
# The real game in a real X window (under xvfb-run): it opens an 800 x 600
# window with its title, and ESC on the title screen ends it with status 0.
bin=$1
work=$(mktemp -d)
cd "$work" || exit 2
"$bin" > "$work/stdout.txt" 2>&1 &
pid=$!
wid=$(timeout 60 xdotool search --sync --name '^QUARV: Zephrant v1\.02$' | head -1)
if [ -z "$wid" ]; then echo "no window"; kill $pid; cat "$work/stdout.txt"; exit 1; fi
geom=$(xdotool getwindowgeometry "$wid" | grep Geometry | awk '{print $2}')
if [ "$geom" != "800x600" ]; then echo "window is $geom"; kill $pid; exit 1; fi
sleep 2
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key --window "$wid" Escape
for i in $(seq 1 100); do
  if ! kill -0 $pid 2>/dev/null; then break; fi
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "still running after ESC"; kill $pid; exit 1; fi
wait $pid
status=$?
cat "$work/stdout.txt"
if [ $status -ne 0 ]; then echo "exit status $status"; exit 1; fi
grep -q "AUDIO SET" "$work/stdout.txt" || { echo "no audio line"; exit 1; }
[ -f "$work/vek.hsf" ] || { echo "no score file written"; exit 1; }
echo "window smoke ok"
