#!/bin/sh
# The real program started where something is missing, and stopped many
# times: with no display it says why and ends with a non-zero status;
# without libopenal.so.1 it runs silent; under SDL's offscreen driver it
# ends on every close request instead of hanging on the way out.
#   start_stop.sh ZEPHRANT [STARTS]
bin=$1
starts=${2:-20}
# In the sanitizer build, Mesa's offscreen drivers are unloaded before
# LeakSanitizer reports, leaving leaks no suppression can name; what is
# checked here is how the program ends.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
fail() { echo "$1"; cat "$work/out" "$work/err" 2>/dev/null; exit 1; }

# Running and not yet a zombie waiting to be reaped.
alive() { grep -q '^State:[[:space:]]*[^Z]' "/proc/$1/status" 2>/dev/null; }

# Starts the game in the background, waits until SDL has taken over SIGTERM
# (so a TERM is the window system's close request), sends it and waits
# for the end. Prints the exit status; 124 when it did not end.
start_and_close() {
  "$@" "$bin" > "$work/out" 2> "$work/err" &
  pid=$!
  i=0
  while alive $pid; do
    caught=$(awk '/^SigCgt:/ {print $2}' /proc/$pid/status 2>/dev/null)
    # SIGTERM is signal 15: bit 0x4000 of the caught mask.
    [ -n "$caught" ] && [ $(( 0x$caught & 0x4000 )) -ne 0 ] && break
    i=$((i + 1)); [ $i -gt 6000 ] && break
    sleep 0.01
  done
  kill -TERM $pid 2>/dev/null
  i=0
  while alive $pid && [ $i -lt 3000 ]; do sleep 0.01; i=$((i + 1)); done
  if alive $pid; then
    kill -KILL $pid
    wait $pid 2>/dev/null
    echo 124
    return
  fi
  wait $pid
  echo $?
}

env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 120 "$bin" > out 2> err
status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "no display: exit status $status"
grep -q "cannot open the display" err || fail "no display: nothing said on standard error"

# An empty libopenal.so.1 first in the search path: loading it fails.
mkdir lib && : > lib/libopenal.so.1
status=$(start_and_close env SDL_VIDEODRIVER=offscreen LD_LIBRARY_PATH="$work/lib")
[ "$status" = 0 ] || fail "without OpenAL: exit status $status"
grep -q "DIRECT SOUND AUDIO SET" out || fail "without OpenAL: no fallback to the silent driver"

n=0
while [ $n -lt "$starts" ]; do
  status=$(start_and_close env SDL_VIDEODRIVER=offscreen)
  [ "$status" = 0 ] || fail "offscreen start $((n + 1)) of $starts: exit status $status"
  n=$((n + 1))
done
echo "start and stop ok ($starts offscreen starts)"
