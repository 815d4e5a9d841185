// A whole game through the real flow: a bot paints level 1, the bonus is
// paid out, level 2 builds, ESC leaves.
#include <gtest/gtest.h>

#include "tests/scenario/world_bot.h"
#include "world/particles.h"

TEST(WorldScenario, BotPaintsLevelOneThenLevelTwoBuildsAndEscapeLeaves) {
  TBotGame game;
  game.leaveAt = 2;
  int bonusAtComplete = -1, untouchedAtComplete = 0, scoreAfterPayout = -1;
  int level2Cells = 0, level2MaxBonus = 0, lowestHealth = 1000, sawDebris = 0, paintFrames = 0;
  TOutcome atComplete{}, atLevel2{};
  game.watch = [&] {
    if (game.startTitleTime == 0) return;  // play has not begun
    if (level == 1 && playState == PLAY_ON) {
      paintFrames++;
      lowestHealth = std::min(lowestHealth, ReadHealth());
      sawDebris = std::max(sawDebris, ParticleCount());
    } else if (level == 1 && bonusAtComplete < 0) {  // the first level-complete frame
      atComplete = Outcome();
      bonusAtComplete = bonus;
      untouchedAtComplete = player->untouched;
    } else if (level == 1 && playState > 200 && bonus == 0 && scoreAfterPayout < 0) {
      scoreAfterPayout = ReadScore();
    } else if (level == 2 && playState == PLAY_ON && level2Cells == 0) {
      for (auto& col : levelGrid)
        for (int v : col) level2Cells += v != 0;
      atLevel2 = Outcome();
      level2MaxBonus = maxBonus;
    }
  };
  EXPECT_EQ(game.Run(MakeTempDir("world-scenario")), 0);
  EXPECT_TRUE(game.done);
  EXPECT_EQ(paintFrames, 654);
  EXPECT_EQ(sawDebris, 14);
  EXPECT_EQ(lowestHealth, 160);  // the bot kept clear of the chaser
  EXPECT_EQ(atComplete, (TOutcome{475, 1, 0, 160}));
  EXPECT_EQ(bonusAtComplete, 386);
  EXPECT_EQ(untouchedAtComplete, 1);
  // The whole bonus went into the score, doubled when no chaser came near.
  int expectedBonus = untouchedAtComplete ? 2 * bonusAtComplete : bonusAtComplete;
  EXPECT_EQ(scoreAfterPayout - atComplete.score, expectedBonus);
  EXPECT_EQ(atLevel2, (TOutcome{1247, 2, 195, 160}));
  EXPECT_EQ(level2Cells, 196);
  EXPECT_EQ(level2MaxBonus, 1372);
  EXPECT_EQ(levelLabel, u"A2");
}
