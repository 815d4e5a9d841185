// The comforts beside the game: a pause by key and by a lost focus that
// holds the world still and verifies in its replay; the volume keys with
// their settings file.
#include <gtest/gtest.h>

#include <filesystem>

#include "flow/comfort.h"
#include "media/audio.h"
#include "media/config.h"
#include "media/graphics.h"
#include "media/random.h"
#include "replay/replay.h"
#include "replay/verify.h"
#include "tests/scenario/world_bot.h"

namespace {

struct TStill {
  TOutcome outcome;
  int x, y, rnd, chaserX;
  bool operator==(const TStill&) const = default;
};
TStill Still() { return {Outcome(), player->x, player->y, RandomState(), chaser1->x}; }

void SaveFrame(const char* name) {
  SaveBackBufferPNG((std::filesystem::path(FramesDir()) / name).string());
}

}  // namespace

TEST(ComfortScenario, PAndALostFocusHoldTheWorldAndTheGameStillVerifies) {
  enum { TITLE, PLAY, KEY_PAUSE, FOCUS_PAUSE, AFTER, ESC_PAUSE, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, frames = 0, pausedFrames = 0;
  TStill before{};
  // Counts the paused frames, the world unchanged through them; true at the 120th.
  auto heldStill = [&] {
    if (!gamePaused) return false;
    if (pausedFrames == 0) before = Still();
    EXPECT_EQ(Still(), before) << "after " << pausedFrames << " paused frames";
    return ++pausedFrames == 120;
  };
  int status = RunWholeProgram(
      MakeTempDir("comfort-pause"),
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY;
            break;
          case PLAY:
            bot.PaintStep(chaserCount);
            if (++frames == 150) {
              bot.LetGo();
              TapKey(KEY_P);
              phase = KEY_PAUSE;
            }
            break;
          case KEY_PAUSE:
            if (pausedFrames == 60) SaveFrame("comfort_paused.png");
            if (heldStill()) {
              TapKey(KEY_P);
              pausedFrames = 0;
              phase = FOCUS_PAUSE;
            }
            break;
          case FOCUS_PAUSE:
            // Once P has let the game go on, the window loses the focus.
            if (!gamePaused && pausedFrames == 0) InjectInputEvent({InputEventKind::FocusLost, 0});
            if (heldStill()) {
              InjectInputEvent({InputEventKind::FocusGained, 0});
              phase = AFTER;
            }
            break;
          case AFTER:
            if (!gamePaused) {
              EXPECT_LE(ticksDue, 1);  // the paused time is not caught up
              TapKey(KEY_P);
              phase = ESC_PAUSE;
            }
            break;
          case ESC_PAUSE:
            if (gamePaused) {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          case DONE:
            if (BackOnTitle(startTitleTime)) TapKey(KEY_ESCAPE);
            break;
        }
      },
      20000, true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, DONE);
  const auto& bytes = LastGameReplay();
  VerifyResult result = VerifyReplayBytes(bytes.data(), bytes.size());
  EXPECT_EQ(result.status, VERIFY_VALID) << result.line;
}
