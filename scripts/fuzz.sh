#!/bin/sh
# Builds the fuzz harnesses with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ and runs one for a while:
#   scripts/fuzz.sh NAME SECONDS [libFuzzer options...]
# NAME is a harness tests/fuzz/fuzz_NAME.cpp; it starts from the committed
# seeds in tests/fuzz/corpus/NAME. Inputs that reach new code are kept in
# build-fuzz/corpus/NAME, inputs that break a rule in build-fuzz/findings/NAME.
set -e
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: $0 NAME SECONDS [libFuzzer options...]" >&2
  exit 2
fi
name=$1 seconds=$2
shift 2
if [ ! -f "tests/fuzz/fuzz_$name.cpp" ]; then
  echo "fuzz: no harness tests/fuzz/fuzz_$name.cpp" >&2
  exit 2
fi
./scripts/setup.sh
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
# shellcheck disable=SC2086
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEPHRANT_FUZZ=ON $launcher >/dev/null
ninja -C build-fuzz "fuzz_$name"
mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
# Standard output is closed: the harnesses drive code that prints progress.
exec env ASAN_OPTIONS=detect_leaks=0 "build-fuzz/tests/fuzz/fuzz_$name" \
  -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 -close_fd_mask=1 \
  -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$name/" "$@" \
  "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name"
