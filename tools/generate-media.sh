#!/bin/sh
# Rebuilds every media file of the game into assets/: the pictures and sounds
# from tools/mediagen (C++), the two fonts from tools/mediagen/fonts.py; and
# the application icon in every hicolor size into packaging/icons/.
# The output is the same, byte for byte, on every run.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$ROOT/tools/mediagen" -B "$ROOT/build-mediagen" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$ROOT/build-mediagen" -j2
mkdir -p "$ROOT/assets"
"$ROOT/build-mediagen/mediagen" "$ROOT/assets"
for n in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "$ROOT/packaging/icons/hicolor/${n}x${n}/apps"
done
"$ROOT/build-mediagen/mediagen" --icons "$ROOT/packaging/icons/hicolor" org.quarv.zephrant
SOURCE_DATE_EPOCH=0 /usr/bin/python3 "$ROOT/tools/mediagen/fonts.py" "$ROOT/assets"
# Peak and loudness of every sound, and the loop seams of the music.
"$ROOT/build-mediagen/mediagen" --check "$ROOT/assets"
