#include "scores/board.h"

#include <gtest/gtest.h>

#include "scores/online.h"
#include "tests/unit/online_test_util.h"
#include "tests/unit/scores_test_util.h"

namespace {

struct Board : ::testing::Test {
  ScoreDir dir{"board"};
  FrameScript frames{[](int) {}};
  void SetUp() override {
    LoadScoreFile();
    FlushKeyState();
    boardOpen = 0;
    boardPage = 1;
    localTop = 0;
    onlineTop = 0;
    onlineRank = 0;
  }
  void TearDown() override {
    SetScoreServerHost(Text());
    onlineRank = 0;
    FlushKeyState();
  }
  void Open() {
    TapKey(KEY_H);
    OpenBoardIfRequested();
  }
};

}  // namespace

TEST_F(Board, OpeningScrollsTheOnlinePageToThePlayersRow) {
  const int cases[][2] = {{0, 0}, {-1, 0}, {9, 0}, {11, 0}, {12, 6}, {100, 94}, {995, 987}};
  for (auto [rank, top] : cases) {
    onlineRank = rank;
    boardOpen = 0;
    Open();
    EXPECT_EQ(boardOpen, 1);
    EXPECT_EQ(boardAnim, 0);
    EXPECT_EQ(onlineTop, top) << rank;
  }
  boardOpen = 0;
  OpenBoardIfRequested();  // no H, no panel
  EXPECT_EQ(boardOpen, 0);
}

TEST_F(Board, KeysWaitForTheFadeThenScrollWithinLimits) {
  Open();
  PressKey(KEY_DOWN);
  for (int i = 0; i < 20; ++i) BoardPanelStep();  // fading in: keys not read
  EXPECT_EQ(localTop, 0);
  for (int i = 0; i < 30; ++i) BoardPanelStep();  // one row a frame, rows 14..25 at most
  EXPECT_EQ(localTop, 13);
  ReleaseKey(KEY_DOWN);

  TapKey(KEY_RIGHT);
  BoardPanelStep();
  EXPECT_EQ(boardPage, 2);
  onlineTop = 985;
  PressKey(KEY_DOWN);
  for (int i = 0; i < 5; ++i) BoardPanelStep();
  EXPECT_EQ(onlineTop, 987);  // the 1000th row stays out of view
  ReleaseKey(KEY_DOWN);

  TapKey(KEY_LEFT);
  PressKey(KEY_UP);
  for (int i = 0; i < 20; ++i) BoardPanelStep();
  EXPECT_EQ(boardPage, 1);
  EXPECT_EQ(localTop, 0);
  EXPECT_EQ(onlineTop, 987);  // each page keeps its own place
  ReleaseKey(KEY_UP);

  TapKey(KEY_SPACE);
  BoardPanelStep();
  EXPECT_EQ(boardOpen, 0);
  EXPECT_EQ(KeyHits(KEY_SPACE), 0);  // closing forgets the key, so the title does not start a game
}

TEST_F(Board, SynchronisingFromThePanelShowsTheOnlinePage) {
  SetScoreServerHost(AsciiText("127.0.0.1:" + std::to_string(DeadPort())));
  SetFrameHook([] { TapKey(KEY_N); });  // decline the retry
  onlineRank = 50;
  Open();
  for (int i = 0; i < 21; ++i) BoardPanelStep();
  TapKey(KEY_S);
  BoardPanelStep();
  SetFrameHook(nullptr);
  EXPECT_EQ(boardPage, 2);
  EXPECT_EQ(onlineRank, -1);  // the first download failed: not ranked
  EXPECT_EQ(onlineTop, 0);
  EXPECT_EQ(boardOpen, 1);
}
