#!/bin/sh
# zephrant-verify, built without the display stack, links none of SDL, GL,
# OpenAL, FreeType or Vorbis, and says exactly what `zephrant --verify` says
# (the whole line and the exit status) on every regression replay and on a
# broken one.
game=$1 verifier=$2 replays=$3
fail=0
libs=$(ldd "$verifier") || { echo "ldd failed on $verifier"; exit 1; }
if echo "$libs" | grep -iE 'SDL|libGL|libEGL|libGLX|libOpenGL|openal|freetype|vorbis|libogg|libX11'; then
  echo "zephrant-verify links a display, sound or font library (above)"
  fail=1
fi
broken=$(mktemp)
trap 'rm -f "$broken"' EXIT
for replay in "$replays"/*.zrp; do
  head -c 100 "$replay" > "$broken"
  for file in "$replay" "$broken"; do
    want=$("$game" --verify "$file"); want_status=$?
    got=$("$verifier" "$file"); got_status=$?
    if [ "$got" != "$want" ] || [ $got_status -ne $want_status ]; then
      echo "$replay: zephrant --verify said '$want' (status $want_status)"
      echo "$replay: zephrant-verify said '$got' (status $got_status)"
      fail=1
    fi
    [ "$file" = "$replay" ] && echo "$replay: $got"
  done
done
exit $fail
