#!/bin/sh
# Re-records the regression replays in tests/replays: bot games played
# through the real game flow (level 1, a lost game, two fast chasers). Meant
# for a rule change made on purpose: it refuses while the old replays still
# carry the current rules version but no longer verify, because then
# REPLAY_RULES_VERSION (replay/replay_file.h) has to be bumped first.
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
ninja -C build zephrant scenario_tests
rules=$(sed -n 's/^constexpr int REPLAY_RULES_VERSION = \([0-9]*\);.*/\1/p' replay/replay_file.h)
for expected in tests/replays/*.expected; do
  [ -f "$expected" ] || continue
  replay=${expected%.expected}.zrp
  if [ "$(sed -n 1p "$expected")" = "rules=$rules" ] &&
     ! tests/verify_replay.sh build/zephrant "$replay" >/dev/null; then
    echo "$replay no longer verifies under rules $rules: bump REPLAY_RULES_VERSION first"
    exit 1
  fi
done
ZEPHRANT_RECORD_REPLAYS="$PWD/tests/replays" SDL_VIDEODRIVER=offscreen \
  build/tests/scenario_tests --gtest_filter=ReplayScenario.RecordRegressionReplays
