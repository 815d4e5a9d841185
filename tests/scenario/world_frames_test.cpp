// Pictures of the game drawn by real GL: the title, a level being built,
// play with two chasers and debris, and the level-complete panel. They are
// written to frames/ in the build directory for people to look at.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/graphics.h"
#include "media/system.h"
#include "tests/scenario/world_bot.h"
#include "world/particles.h"
#include "world/scoring.h"

namespace {

int MarkedCells() {
  int n = 0;
  for (auto& col : levelGrid)
    for (int v : col) n += v != 0;
  return n;
}
}  // namespace

TEST(WorldFrames, SavesTitleBuildPlayAndLevelComplete) {
  const auto dir = std::filesystem::path(FramesDir());
  std::string work = MakeTempDir("world-frames");

  enum { TITLE, BUILD, PLAY, COMPLETE, LEAVE } phase = TITLE;
  TGridBot bot;
  std::vector<std::string> saved;
  int playFrames = 0;
  TOutcome atComplete{};
  auto save = [&](const char* name) {
    std::string path = (dir / name).string();
    if (SaveBackBufferPNG(path)) saved.push_back(name);
  };
  auto perFrame = [&] {
    switch (phase) {
      case TITLE:
        if (titleTime == 240) {
          save("title.png");
          TapKey(KEY_SPACE);
        }
        if (player && playState == PLAY_NEXT_LEVEL && MarkedCells() > 0) {
          chaserCount = 2;  // two chasers on the first level, for the picture
          phase = BUILD;
        }
        break;
      case BUILD:
        if (MarkedCells() >= 90 && saved.size() == 1) save("build.png");
        if (playState == PLAY_ON) phase = PLAY;
        break;
      case PLAY:
        if (playState == PLAY_ON) {
          bot.PaintStep(chaserCount);
          if (++playFrames >= 200 && ParticleCount() >= 2 && saved.size() == 2) {
            save("play.png");
            // The rest of the painting is not worth the time: finish the level.
            for (auto& col : levelGrid)
              for (int& v : col)
                if (v == CELL_LINE) v = CELL_TRAIL;
          }
        } else if (ReadHealth() < 1) {
          phase = LEAVE;
        } else {
          bot.LetGo();
          phase = COMPLETE;
        }
        break;
      case COMPLETE:
        if (playState == 160) {
          save("complete.png");
          atComplete = Outcome();
        }
        // The pay-out flushes the keys: leave once it is over.
        if (playState > 160 && bonus == 0) {
          TapKey(KEY_ESCAPE);
          phase = LEAVE;
        }
        break;
      case LEAVE:
        if (titleTime == 20) TapKey(KEY_ESCAPE);
        break;
    }
  };
  EXPECT_EQ(RunWholeProgram(work, perFrame, 5000, true), 0);
  EXPECT_EQ(saved,
            (std::vector<std::string>{"title.png", "build.png", "play.png", "complete.png"}));
  EXPECT_EQ(atComplete, (TOutcome{1040, 1, 0, 160}));
}

TEST(WorldFrames, SavesGameOverAndNameEntry) {
  const auto dir = std::filesystem::path(FramesDir());
  std::string work = MakeTempDir("gameover-frames");

  enum { TITLE, BUILD, PLAY, OVER, LEAVE } phase = TITLE;
  std::vector<std::string> saved;
  int playFrames = 0, entryFrames = 0;
  TOutcome atResult{};
  auto save = [&](const char* name) {
    if (SaveBackBufferPNG((dir / name).string())) saved.push_back(name);
  };
  auto perFrame = [&] {
    switch (phase) {
      case TITLE:
        if (titleTime == 10) TapKey(KEY_SPACE);
        if (playState == PLAY_NEXT_LEVEL) phase = BUILD;
        break;
      case BUILD:
        if (playState == PLAY_ON) phase = PLAY;
        break;
      case PLAY:
        if (++playFrames == 120) {
          SetScore(4321);  // enough for the local table
          SetHealth(0);    // the end of this frame runs the game over
          phase = OVER;
        }
        break;
      case OVER:
        if (playState == 120 && saved.empty()) save("gameover.png");
        if (playState > 150 && playState < 200 && saved.size() == 1) {
          // The name entry runs its own frames inside frame 150.
          if (++entryFrames == 2) TypeText("ACE");
          if (entryFrames == 10) {
            save("entry.png");
            TapKey(KEY_ENTER);
          }
        }
        if (playState == 230 && saved.size() == 2) {
          save("result.png");
          atResult = Outcome();
          TapKey(KEY_SPACE);
          phase = LEAVE;
        }
        break;
      case LEAVE:
        if (titleTime == 20) TapKey(KEY_ESCAPE);
        break;
    }
  };
  EXPECT_EQ(RunWholeProgram(work, perFrame, 5000, true), 0);
  EXPECT_EQ(saved, (std::vector<std::string>{"gameover.png", "entry.png", "result.png"}));
  EXPECT_EQ(atResult, (TOutcome{4321, 1, 171, 0}));
}
