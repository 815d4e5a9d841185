// A game played through the real flow, then H and S on the title screen:
// the score server verifies the game's replay with the real verifier and
// stores it under the name typed at the entry.
#include <gtest/gtest.h>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "scores/board.h"
#include "scores/game_over.h"
#include "scores/online.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "tests/unit/online_test_util.h"
#include "world/scoring.h"
#include "tests/support/paths.h"

TEST(OnlineScenario, APlayedGameIsVerifiedStoredAndRankedUnderTheTypedName) {
  std::vector<std::string> options = {"--verified", "--verifier", ZephrantBin()};
#ifdef ZEPHRANT_SANITIZE
  // A sanitizer build's verifier reserves terabytes of address space.
  options.insert(options.end(), {"--verify-memory-mb", "0"});
#endif
  TestScoreServer server("normal", options);
  ASSERT_GT(server.port, 0);
  SetScoreServerHost(server.Host());
  std::string dir = MakeTempDir("online-scenario");
  playerName.clear();  // what earlier games left
  gotHighScore = false;
  TBotGame game;
  game.chaseFrom = 3000;
  game.name = "Zed-Q\r";
  int finalScore = -1, boardFrames = 0;
  game.onTitle = [&] {
    if (finalScore < 0) {
      finalScore = ReadScore();
      TapKey(KEY_H);
    } else if (onlineRank != 1) {  // S once the panel has faded in; the synchronisation blocks
      if (++boardFrames == 30) TapKey(KEY_S);
      // The upload is accepted before its replay is verified: S again once
      // the server has written the verdict.
      if (boardFrames == 60) {
        EXPECT_EQ(server.NextLine(600), "VERIFIED");
        TapKey(KEY_S);
      }
    } else if (boardOpen) {  // close the panel, then leave from the title
      TapKey(KEY_SPACE);
    } else {
      return true;
    }
    return false;
  };
  int status = game.Run(dir, 90000);
  SetScoreServerHost(Text());
  boardPage = 1;  // as the panel starts, for the tests that follow
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(game.done);
  EXPECT_EQ(onlineName, u"Zed-Q");
  EXPECT_EQ(onlineRank, 1);
  EXPECT_EQ(MidText(CipherText(onlineBoard[0]), 1, 20), u"Zed-Q...............");
  EXPECT_EQ(TextToInt(MidText(CipherText(onlineBoard[0]), 23, 7)), finalScore);
}
