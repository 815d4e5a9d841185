#!/bin/sh
# Sets up, builds and starts the game. The score file vek.hsf is kept in
# the directory you start it from.
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/scripts/setup.sh"
cmake -S "$repo" -B "$repo/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$repo/build" zephrant
exec "$repo/build/zephrant"
