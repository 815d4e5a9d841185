#!/bin/sh
# Sets up, builds and runs every test: once in a normal build, once built
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
cd "$(dirname "$0")/.."
./scripts/setup.sh
JOBS=$(nproc)
# ccache keeps compiled objects outside the checkout, so another clone or a
# rebuild compiles only what changed; the checkout's own path is left out of
# what it compares.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
configure() {
  dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
}
# Each entry's time-out only stops a test that hangs: it is several times
# what the slowest entry takes on a machine at load 25 (the replay frame
# test took 780 s there), never a measure of speed.
run_tests() { (cd "$1" && ctest --output-on-failure -j$((JOBS * 2)) --timeout 2400); }
start=$(date +%s)
phase() { echo "== $1 (at $(($(date +%s) - start)) s) =="; }

phase "static analysis"
# The particle types repeat their base's field names on purpose: each
# concrete type keeps its own copies and the inherited four stay 0. The web
# relay's and the web sound's JavaScript, written inside EM_JS and EM_ASM,
# is no C++ to cppcheck.
cppcheck --quiet --std=c++20 --enable=warning,performance,portability --error-exitcode=1 \
  --suppress=duplInheritedMember:world/particles.h \
  --suppress=syntaxError:media/web/stream_relay.cpp --suppress=syntaxError:media/web/audio_web.cpp \
  -I . flow world scores media replay
phase "normal build"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The web build and then a game played in the browser are the tests' longest
# path, so the web build's entry starts beside the normal build; the tests
# run it again, when it has nothing left to do, and report how it ended.
(cd build && ctest -R '^web_build$' >/dev/null 2>&1) &
web_build=$!
ninja -C build -j"$JOBS" || { wait "$web_build"; exit 1; }
wait "$web_build" || true
# The sanitizer build compiles at the lowest priority while the normal tests
# run, on what CPU they leave idle. Then it is stopped and finished in the
# foreground at the usual priority: a build left at the lowest priority would
# starve beside any other busy program.
configure build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZEPHRANT_SANITIZE=ON
nice -n 19 ninja -C build-sanitize -j"$JOBS" >build-sanitize/background.log 2>&1 &
sanitize_build=$!
phase "normal tests"
tests_ok=1
run_tests build || tests_ok=0
kill "$sanitize_build" 2>/dev/null || true
wait "$sanitize_build" 2>/dev/null || true
[ "$tests_ok" = 1 ] || exit 1
phase "sanitizer build"
ninja -C build-sanitize -j"$JOBS"
phase "sanitizer tests"
run_tests build-sanitize
echo "all tests passed in $(($(date +%s) - start)) s"
