#!/bin/sh
# The web build, run by Node, reaches the same line as the desktop verifier
# on every regression replay. Usage: web_verify.sh WEB_BUILD_DIR REPLAYS_DIR
js=$1/zephrant-web.js
[ -f "$js" ] || { echo "no web build at $1 (emscripten missing?)"; exit 77; }
fail=0
for replay in "$2"/*.zrp; do
  expected=$(sed -n 2p "${replay%.zrp}.expected")
  got=$(node "$js" --verify "$replay" 2>&1)
  if [ "$got" != "$expected" ]; then
    echo "$replay: expected '$expected', the web build said '$got'"
    fail=1
  else
    echo "$replay: $got"
  fi
done
exit $fail
