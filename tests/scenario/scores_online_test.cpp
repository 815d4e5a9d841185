// A game played through the real flow, then H and S on the title screen:
// the score server verifies the game's replay with the real verifier and
// stores it under the name typed at the entry.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "scores/board.h"
#include "scores/game_over.h"
#include "scores/online.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "tests/unit/online_test_util.h"
#include "world/scoring.h"

TEST(OnlineScenario, APlayedGameIsVerifiedStoredAndRankedUnderTheTypedName) {
  std::vector<std::string> options = {"--verified", "--verifier", ZEPHRANT_ZEPHRANT_BIN};
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
  enum { TITLE, PLAY, OVER, ENTRY, PROMPT, BOARD, SYNCED, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, framesOver = 0, finalScore = -1, boardFrames = 0;
  int status = RunWholeProgram(
      dir,
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY;
            break;
          case PLAY:
            if (playState != PLAY_ON) {
              bot.LetGo();
              phase = OVER;
            } else if (ReadScore() < 3000) {
              bot.PaintStep(chaserCount);
            } else {
              bot.ChaseStep();
            }
            break;
          case OVER:  // SPACE through the level-complete sequence until the ship is lost
            if (!gotHighScore && ++framesOver % 25 == 0) TapKey(KEY_SPACE);
            if (gotHighScore) {  // the name entry's first frame
              TypeText("Zed-Q\r");
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
              finalScore = ReadScore();
              TapKey(KEY_H);
              phase = BOARD;
            }
            break;
          case BOARD:  // S once the panel has faded in; the synchronisation blocks
            if (++boardFrames == 30) TapKey(KEY_S);
            // The upload is accepted before its replay is verified: S again
            // until the line is on the board.
            if (boardFrames > 30 && boardFrames % 30 == 0 && onlineRank == -1 &&
                boardFrames < 3000) {
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              TapKey(KEY_S);
            }
            if (onlineRank == 1) phase = SYNCED;
            break;
          case SYNCED:  // close the panel, then leave from the title
            if (boardOpen) {
              TapKey(KEY_SPACE);
            } else {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          default: break;
        }
      },
      90000);
  SetScoreServerHost(Text());
  boardPage = 1;  // as the panel starts, for the tests that follow
  ASSERT_EQ(status, 0);
  ASSERT_EQ(phase, DONE);
  EXPECT_EQ(onlineName, u"Zed-Q");
  EXPECT_EQ(onlineRank, 1);
  EXPECT_EQ(MidText(CipherText(onlineBoard[0]), 1, 20), u"Zed-Q...............");
  EXPECT_EQ(TextToInt(MidText(CipherText(onlineBoard[0]), 23, 7)), finalScore);
}
