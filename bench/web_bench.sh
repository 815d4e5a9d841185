#!/bin/sh
# Figures of the web player: its size gzipped, the time from the click on
# "watch" to the first frame, and the frames it presents a second in headless
# Chromium beside a page that draws one quad a frame, with the CPU time the
# browser's GPU process (software WebGL) spends on a frame of each: the
# figure to trust on a busy machine; and, for a game played in the /play
# page, the time from S to its line on the board.
# Builds what it needs first: the web build, the desktop's reference frame
# and the verifier.
#   bench/web_bench.sh [BUILD_DIR]     (default: build)
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
"$ROOT/scripts/build-web.sh" "$BUILD/web" >/dev/null
nice ninja -C "$BUILD" gl_tests zephrant-verify >/dev/null
SDL_VIDEODRIVER=offscreen "$BUILD/tests/gl_tests" --gtest_filter=WebReference.* >/dev/null
/usr/bin/python3 "$ROOT/tests/web_browser.py" "$BUILD/web" "$BUILD/frames" --bench
exec /usr/bin/python3 "$ROOT/tests/web_play.py" "$BUILD/web" "$BUILD/zephrant-verify" \
  "$BUILD/frames" --bench
