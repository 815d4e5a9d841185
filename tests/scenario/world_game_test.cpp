// Whole games through the real flow: a bot paints level 1, the bonus is
// paid out, level 2 builds, ESC leaves; a careless bot loses its health.
#include <gtest/gtest.h>
#include <unistd.h>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/graphics.h"
#include "media/system.h"
#include "tests/scenario/world_bot.h"
#include "world/particles.h"
#include "world/scoring.h"

namespace {

// Runs the program from start-up with `hook` after every frame until it ends.
int RunGameWith(const std::function<void()>& hook, int maxFrames) {
  static std::string dir = MakeTempDir("world-scenario");
  return RunWholeProgram(dir, hook, maxFrames);
}

int CountLineCells() {
  int n = 0;
  for (auto& col : levelGrid)
    for (int v : col) n += v != 0;
  return n;
}

}  // namespace

TEST(WorldScenario, BotPaintsLevelOneThenLevelTwoBuildsAndEscapeLeaves) {
  enum { TITLE, PLAY1, COMPLETE1, LEVEL2, LEAVING, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, bonusAtComplete = 0, untouchedAtComplete = 0;
  int scoreAfterPayout = 0, level2Cells = 0, level2MaxBonus = 0;
  TOutcome atComplete{}, atLevel2{};
  int lowestHealth = 1000, sawDebris = 0, paintFrames = 0;
  bool spacePressed = false;

  int status = RunGameWith(
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY1;
            break;
          case PLAY1:
            if (playState == PLAY_ON) {
              bot.PaintStep(chaserCount);
              paintFrames++;
              lowestHealth = std::min(lowestHealth, ReadHealth());
              sawDebris = std::max(sawDebris, ParticleCount());
            } else if (playState == PLAY_DEAD) {
              ADD_FAILURE() << "the bot died on level 1";
              phase = DONE;
            } else {  // the first level-complete frame has been shown
              bot.LetGo();
              atComplete = Outcome();
              bonusAtComplete = bonus;
              untouchedAtComplete = player->untouched;
              phase = COMPLETE1;
            }
            break;
          case COMPLETE1:
            if (level == 1 && playState > 200 && bonus == 0 && !spacePressed) {
              scoreAfterPayout = ReadScore();
              TapKey(KEY_SPACE);
              spacePressed = true;
            }
            if (level == 2 && playState == PLAY_ON) {
              level2Cells = CountLineCells();
              atLevel2 = Outcome();
              level2MaxBonus = maxBonus;
              TapKey(KEY_ESCAPE);
              phase = LEAVING;
            }
            break;
          case LEAVING:
            if (BackOnTitle(startTitleTime)) {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          default: break;
        }
      },
      60000);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, DONE);
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

TEST(WorldScenario, ChasersDrainHealthUntilTheGameIsOver) {
  enum { TITLE, PLAY, OVER, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, framesOver = 0;
  TOutcome atDeath{};
  int status = RunGameWith(
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY;
            break;
          case PLAY:
            if (playState == PLAY_ON) {
              bot.ChaseStep();
            } else if (ReadHealth() < 1) {  // the game-over frames have begun
              atDeath = Outcome();
              bot.LetGo();
              phase = OVER;
            } else {
              ADD_FAILURE() << "play ended with state " << playState << " and health "
                            << ReadHealth();
              TapKey(KEY_ESCAPE);
              phase = OVER;
            }
            break;
          case OVER:
            // Whatever the game-over screens ask: a name, Enter, SPACE.
            if (++framesOver % 25 == 0) {
              TypeText("BOT\r");
              TapKey(KEY_ENTER);
              TapKey(KEY_SPACE);
            }
            if (BackOnTitle(startTitleTime)) {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          default: break;
        }
      },
      60000);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, DONE);
  EXPECT_EQ(atDeath, (TOutcome{176, 1, 111, -2}));
}
