#!/bin/sh
# Builds the web player (build-web/zephrant-web.js and .wasm) with Debian's
# emscripten, offline. Usage: scripts/build-web.sh [BUILD_DIR]
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/build-web}
command -v emcmake >/dev/null || { echo "build-web: emscripten is not installed (scripts/setup.sh)"; exit 77; }
# emscripten's JS optimiser needs Debian's acorn, which the node on PATH
# does not look for there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# Its cache is a frozen system folder; its config and temporary files go
# beside the build.
export EM_CACHE=${EM_CACHE:-/usr/share/emscripten/cache}
LAUNCHER=""
command -v ccache >/dev/null && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
# WEB_OPT (e.g. -O1) builds at another optimisation level than the -O3 a
# player gets: the tests' build links in seconds instead of a minute and
# a half, and reaches the same lines and frames, only more slowly.
set --
[ -n "$WEB_OPT" ] && set -- "-DCMAKE_C_FLAGS_RELEASE=$WEB_OPT -DNDEBUG" \
  "-DCMAKE_CXX_FLAGS_RELEASE=$WEB_OPT -DNDEBUG" "-DCMAKE_EXE_LINKER_FLAGS_RELEASE=$WEB_OPT"
if [ ! -f "$OUT/build.ninja" ]; then
  emcmake cmake -S "$ROOT/media/web" -B "$OUT" -G Ninja $LAUNCHER "$@" >/dev/null
fi
ninja -C "$OUT" ${WEB_JOBS:+-j$WEB_JOBS}
