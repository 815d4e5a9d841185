// A whole lost game through the real flow: the game-over sequence offers the
// score, the name typed at the entry reaches vek.hsf at the right row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/graphics.h"
#include "media/system.h"
#include "scores/game_over.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "world/scoring.h"

namespace {

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

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

  enum { TITLE, PLAY, OVER, ENTRY, PROMPT, LEAVING, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, entryRow = -1;
  TOutcome atEntry{};
  Text labelAtDeath;
  auto perFrame = [&] {
    switch (phase) {
      case TITLE:
        if (StartGameFromTitle(startTitleTime)) phase = PLAY;
        break;
      case PLAY:
        if (playState == PLAY_ON) {
          bot.PaintStep(0);  // paint a little first: a score of 0 would not qualify
          if (ReadScore() >= 40) phase = OVER;
        }
        break;
      case OVER:
        if (playState == PLAY_ON) bot.ChaseStep();
        if (gotHighScore) {  // the entry's first frame
          atEntry = Outcome();
          labelAtDeath = levelLabel;
          entryRow = newEntryIndex;
          TypeText("Zed Q\r");
          phase = ENTRY;
        }
        break;
      case ENTRY:
        if (playState > 205) {
          TapKey(KEY_SPACE);
          phase = PROMPT;
        }
        break;
      case PROMPT:
        if (BackOnTitle(startTitleTime)) {
          TapKey(KEY_ESCAPE);
          phase = LEAVING;
        }
        break;
      default: break;
    }
  };
  int status = RunWholeProgram(dir, perFrame, 60000);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, LEAVING);
  EXPECT_EQ(entryRow, 10);
  EXPECT_EQ(atEntry, (TOutcome{176, 1, 111, -2}));
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
