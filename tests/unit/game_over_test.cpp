#include "scores/game_over.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/unit/scores_test_util.h"
#include "world/scoring.h"

namespace {

class TMusicChannel : public TChannel {
 public:
  float volume = 1;
  int stops = 0;
  void Stop() override { ++stops; }
  void SetPaused(bool) override {}
  void SetVolume(float v) override { volume = v; }
  void SetPan(float) override {}
  void SetDepth(float) override {}
  void SetRate(float) override {}
  int Playing() override { return stops == 0; }
};

// Runs the name entry alone, typing `typed` once its first frame is shown.
Text EntryResult(const std::string& typed, int& frames) {
  WaitingFor wait("the name entry to end on Enter", 200);
  FrameScript script([&](int frame) {
    if (frame == 1) TypeText(typed);
  });
  ResetPlayClock();
  EnterScoreName();
  frames = script.frames;
  return playerName;
}

struct GameOver : ::testing::Test {
  ScoreDir dir{"game-over"};
  std::shared_ptr<TMusicChannel> music = std::make_shared<TMusicChannel>();
  void SetUp() override {
    LoadScoreFile();
    ResetPlayClock();
    musicChannel = music;
    musicMaster = 1.0f;
    playerName.clear();
  }
  void TearDown() override { musicChannel = nullptr; }
  // One whole sequence; `onFrame` sees each flip with playState as it stands.
  int Run(std::function<void(int)> onFrame) {
    WaitingFor wait("the game-over sequence to end on SPACE", 2000);
    FrameScript script(onFrame);
    playState = 1;
    RunGameOver();
    return script.frames;
  }
};

}  // namespace

TEST(NameEntry, AcceptsLettersSpaceAndDashToSemicolonOnly) {
  playerName.clear();
  newEntryIndex = 3;
  int frames = 0;
  EXPECT_EQ(EntryResult("Ab!_ -./09:;<,@[`{zZaA\r", frames), u"Ab -./09:;zZaA");
  EXPECT_EQ(entryLabel, u"Local Score #4");
  EXPECT_TRUE(gotHighScore);
  EXPECT_EQ(frames, 24);  // one typed character per frame

  playerName.clear();
  EXPECT_EQ(EntryResult("ABCDEFGHIJKLMNOPQRS\r", frames), u"ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(EntryResult("T\r", frames), u"ABCDEFGHIJKLMNOPQRST");  // the 20th still goes in
  EXPECT_EQ(EntryResult("U\r", frames), u"ABCDEFGHIJKLMNOPQRST");  // the 21st does not
  playerName.clear();
  EXPECT_EQ(EntryResult("ABCDEFGHIJKLMNOPQRSTUVWXY\r", frames), u"ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(EntryResult("\b\bxy\r", frames), u"ABCDEFGHIJKLMNOPQRxy");

  playerName.clear();
  EXPECT_EQ(EntryResult("\b\bX\r", frames), u"X");  // Backspace on nothing does nothing
  playerName.clear();
  EXPECT_EQ(EntryResult("\r", frames), u"Anonymous");
  EXPECT_EQ(EntryResult("\r", frames), u"Anonymous");  // the next entry starts from it
}

TEST_F(GameOver, SpaceOnlyCountsFromThePromptAndOnlyOnce) {
  SetScore(0);
  tickRate = 70;
  std::string before = FileBytes("vek.hsf");
  int frames = Run([&](int frame) {
    if (frame == 3) {
      EXPECT_EQ(tickRate, 67);
    }
    if (frame == 100 || frame == 198) TapKey(KEY_SPACE);  // read while playState <= 200
    if (frame == 210 || frame == 215) TapKey(KEY_SPACE);
  });
  EXPECT_EQ(frames, 210 + 24);  // wipe frames w = 1 .. 24 from the frame that read SPACE
  EXPECT_EQ(tickRate, 60);
  EXPECT_EQ(tickMs, 16);
  EXPECT_FALSE(gotHighScore);
  EXPECT_EQ(newEntryIndex, 25);
  EXPECT_EQ(FileBytes("vek.hsf"), before);  // nothing entered, nothing written
  EXPECT_NEAR(music->volume, 1.0f - 24 * 0.04f, 1e-4);
  EXPECT_EQ(music->stops, 1);
  EXPECT_EQ(wipeStep, 25);
}

TEST_F(GameOver, AQualifyingScoreIsEnteredAndTheNameKeptForTheNextGame) {
  for (int game = 0; game < 2; ++game) {
    SetScore(5000 + 1000 * game);
    bool typed = false;
    int entryFrame = 0;
    Run([&](int frame) {
      if (gotHighScore && !typed) {
        typed = true;
        entryFrame = frame;
        TypeText(game == 0 ? "Ace\r" : "\r");
      }
      if (typed && frame == entryFrame + 100) TapKey(KEY_SPACE);
    });
    EXPECT_EQ(entryFrame, 149) << game;  // the entry's first frame is the 149th of the sequence
    EXPECT_EQ(newEntryIndex, 0);
    EXPECT_EQ(entryLabel, u"Local Score #1");
    EXPECT_EQ(playerName, u"Ace");
    std::string bytes = FileBytes("vek.hsf");
    EXPECT_EQ(PlainAt(bytes, 30000), MakeScoreRecord(u"Ace", u"A1", 5000 + 1000 * game, u"1"));
  }
  EXPECT_EQ(TextToInt(MidText(PlainLocal(1), 23, 7)), 5000);
}
