// Real games for the score server's load script (server/loadtest.py): bot
// games through the whole flow, each with a gap at another moment and run
// into the chasers at another score, so that every one is a game of its
// own. Written to the folder ZEPHRANT_LOAD_GAMES names,
// ZEPHRANT_LOAD_GAME_COUNT of them (default 60); skipped without it. With
// ZEPHRANT_LOAD_GAME_FRAMES the bot paints at least that many frames before
// it turns on the chasers: long games.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "replay/replay.h"
#include "tests/scenario/world_bot.h"
#include "world/scoring.h"

TEST(LoadGames, RecordGamesThatEachEndTheirOwnWay) {
  const char* out = std::getenv("ZEPHRANT_LOAD_GAMES");
  if (!out) GTEST_SKIP() << "set by server/loadtest.py";
  const char* wanted = std::getenv("ZEPHRANT_LOAD_GAME_COUNT");
  int count = wanted ? std::atoi(wanted) : 60;
  const char* longer = std::getenv("ZEPHRANT_LOAD_GAME_FRAMES");
  int paintFor = longer ? std::atoi(longer) : 0;
  for (int game = 0; game < count; ++game) {
    int lose = 300 + 53 * game;  // the score at which the bot turns on the chasers
    enum { TITLE, PLAY, OVER, DONE } phase = TITLE;
    TGridBot bot;
    int startTitleTime = 0, framesOver = 0, framesPlayed = 0;
    // Every level starts after a wait of the game's own, so that no two of
    // these games move on the same ticks in any level: the board takes a
    // level played move for move alike for a copy.
    int levelSeen = -1, waitUntil = 0;
    int status = RunWholeProgram(
        MakeTempDir("load-game"),
        [&] {
          switch (phase) {
            case TITLE:
              if (StartGameFromTitle(startTitleTime)) phase = PLAY;
              break;
            case PLAY:
              if (playState == PLAY_ON && level != levelSeen) {
                levelSeen = level;
                waitUntil = framesPlayed + 1 + (game * 37 + level * 11) % 211;
              }
              if (playState == PLAY_ON && framesPlayed < waitUntil) {
                ++framesPlayed;
                bot.LetGo();
              } else if (playState != PLAY_ON && ReadHealth() < 1) {
                bot.LetGo();
                phase = OVER;
              } else if (playState == PLAY_ON && ReadScore() >= lose && framesPlayed >= paintFor) {
                bot.ChaseStep();
              } else if (playState == PLAY_ON) {
                if (++framesPlayed == 40 + 7 * game) TapKey(KEY_SPACE);  // a gap of its own
                bot.PaintStep(chaserCount);
              } else if (playState > 200 && bonus == 0) {
                bot.LetGo();
                TapKey(KEY_SPACE);
              }
              break;
            case OVER:
              if (++framesOver % 25 == 0) {
                TypeText("Bot\r");
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
        400000 + 2 * paintFor);
    ASSERT_EQ(status, 0) << "game " << game;
    ASSERT_EQ(phase, DONE) << "game " << game;
    const std::vector<uint8_t>& bytes = LastGameReplay();
    std::ofstream(std::string(out) + "/game" + std::to_string(game) + ".zrp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
}
