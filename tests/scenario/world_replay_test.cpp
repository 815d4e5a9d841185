// Whole games through the real flow are recorded and verify, in this
// process and in a fresh one, to the score and state they ended with.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "replay/replay.h"
#include "replay/replay_store.h"
#include "replay/verify.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "world/scoring.h"

namespace {

// `zephrant --verify` on the bytes, in a fresh process: its line and status.
std::pair<std::string, int> VerifyInFreshProcess(const std::vector<uint8_t>& bytes,
                                                 const std::string& dir) {
  std::string path = dir + "/game.zrp";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  std::string command = std::string(ZEPHRANT_ZEPHRANT_BIN) + " --verify " + path;
  FILE* p = popen(command.c_str(), "r");
  char line[256] = {};
  std::string out = p && std::fgets(line, sizeof line, p) ? line : "";
  int status = p ? pclose(p) : -1;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

TEST(ReplayScenario, ALostGameVerifiesToItsScoreAndIsKeptWithItsEntry) {
  std::string dir = MakeTempDir("replay-scenario");
  enum { TITLE, PLAY, OVER, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, framesOver = 0, finalScore = -1;
  int status = RunWholeProgram(
      dir,
      [&] {
        switch (phase) {
          case TITLE:
            if (titleTime == 20) TapKey(KEY_SPACE);
            if (player && chaser1 && playState == PLAY_ON && maxBonus > 0) {
              startTitleTime = titleTime;
              phase = PLAY;
            }
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
          case OVER:
            if (++framesOver % 25 == 0) {
              TypeText("Rec\r");
              TapKey(KEY_SPACE);
            }
            if (titleTime > 0 && titleTime < startTitleTime) {
              finalScore = ReadScore();
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          default: break;
        }
      },
      80000);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(phase, DONE);
  const std::vector<uint8_t> bytes = LastGameReplay();
  ASSERT_FALSE(bytes.empty());

  VerifyResult here = VerifyReplayBytes(bytes.data(), bytes.size());
  EXPECT_EQ(here.status, VERIFY_VALID) << here.line;
  EXPECT_EQ(here.line.rfind("score=" + std::to_string(finalScore) + " level=", 0), 0u) << here.line;
  auto [line, code] = VerifyInFreshProcess(bytes, dir);
  EXPECT_EQ(code, VERIFY_VALID);
  EXPECT_EQ(line, here.line);

  // The entry the game made serves its replay; the default entries have none.
  ASSERT_LT(newEntryIndex, LOCAL_ROWS);
  std::filesystem::current_path(dir);
  std::vector<uint8_t> stored;
  EXPECT_TRUE(LoadEntryReplay(newEntryIndex, stored));
  EXPECT_EQ(stored, bytes);
  EXPECT_FALSE(LoadEntryReplay(newEntryIndex == 0 ? 1 : 0, stored));
}
