// A whole lost game through the real flow: the game-over sequence offers the
// score, the name typed at the entry reaches vek.hsf at the right row.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "scores/game_over.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "tests/unit/scores_test_util.h"
#include "world/scoring.h"

// Chasers drain the health until the game is over; the score takes row 10.
TEST(ScoresScenario, ALostGameEntersTheTypedNameAtItsRow) {
  std::filesystem::path old = std::filesystem::current_path();
  std::string dir = MakeTempDir("scores-scenario");
  std::filesystem::current_path(dir);

  // A table whose rows 10..24 hold 0, so any score above 0 lands on row 10.
  LoadScoreFile();
  for (int k = 0; k < LOCAL_ROWS; ++k)
    localScores[k] = CipherText(MakeScoreRecord(u"Old", u"B2", k < 10 ? 1000000 : 0, u"0"));
  ASSERT_TRUE(SaveScoreFile());
  playerName.clear();

  TBotGame game;
  game.chaseFrom = 40;  // paint a little first: a score of 0 would not qualify
  game.name = "Zed Q\r";
  int entryRow = -1;
  TOutcome atDeath{}, atEntry{};
  Text labelAtDeath;
  game.watch = [&] {
    if (game.startTitleTime && playState != PLAY_ON && ReadHealth() < 1 && labelAtDeath.empty()) {
      atDeath = Outcome();
      labelAtDeath = levelLabel;
    }
    if (gotHighScore && entryRow < 0) {  // the entry's first frame
      atEntry = Outcome();
      entryRow = newEntryIndex;
    }
  };
  EXPECT_EQ(game.Run(dir), 0);
  EXPECT_TRUE(game.done);
  EXPECT_EQ(atDeath, (TOutcome{176, 1, 111, -2}));
  EXPECT_EQ(atEntry, atDeath);
  EXPECT_EQ(entryRow, 10);
  EXPECT_EQ(labelAtDeath, u"A1");
  EXPECT_EQ(playerName, u"Zed Q");
  std::string bytes = FileBytes("vek.hsf");
  ASSERT_EQ(bytes.size(), 30758u);
  Text row10 = CipherText(AsciiText(std::string_view(bytes).substr(30000 + 10 * 30, 30)));
  EXPECT_EQ(row10, MakeScoreRecord(u"Zed Q", labelAtDeath, atEntry.score, u"1"));
  Text row11 = CipherText(AsciiText(std::string_view(bytes).substr(30000 + 11 * 30, 30)));
  EXPECT_EQ(row11, MakeScoreRecord(u"Old", u"B2", 0, u"0"));

  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
}
