# Sourced by the tests that drive the game's X window.
# find_window PID: prints the id of the game's window once it is there.
# xdotool's search reads a property of every window it lists and quits on
# the X error when one has gone in between, and the game's graphics library
# makes and drops a small window of its own while it starts; so a search
# that fails is made again while the game runs, for up to two minutes.
find_window() {
  tries=1200
  while [ $tries -gt 0 ]; do
    found=$(xdotool search --name '^QUARV: Zephrant v1\.02$' 2>/dev/null | tail -1)
    [ -n "$found" ] && { echo "$found"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}
