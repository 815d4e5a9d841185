#!/bin/sh
# Figures of the web player: its size gzipped, the time from the click on
# "watch" to the first frame, and the frames it presents a second in headless
# Chromium beside a page that draws one quad a frame, with the CPU time the
# browser's GPU process (software WebGL) spends on a frame of each: the
# figure to trust on a busy machine.
# Builds what it needs first: the web build and the desktop's reference frame.
#   bench/web_bench.sh [BUILD_DIR]     (default: build)
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
"$ROOT/scripts/build-web.sh" "$BUILD/web" >/dev/null
nice ninja -C "$BUILD" gl_tests >/dev/null
SDL_VIDEODRIVER=offscreen "$BUILD/tests/gl_tests" --gtest_filter=WebReference.* >/dev/null
exec /usr/bin/python3 "$ROOT/tests/web_browser.py" "$BUILD/web" "$BUILD/frames" --bench
