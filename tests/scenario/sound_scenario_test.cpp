// The game's sound through the real flow, mixed by OpenAL Soft into memory:
// the title music fades in, the in-game music and the effects of play are
// heard, and they play on sources of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/audio.h"
#include "media/audio_test_seam.h"
#include "tests/scenario/world_bot.h"

namespace {
// Loudness of the next 20 ms of the mix (one frame at 50 per second), dBFS.
double NextFrameLevel() {
  std::vector<int16_t> mix(882 * 2);
  RenderLoopback(mix.data(), 882);
  double sum = 0;
  for (int16_t s : mix) sum += double(s) * s;
  double rms = std::sqrt(sum / mix.size()) / 32768.0;
  return rms > 0 ? 20 * std::log10(rms) : -200;
}
}  // namespace

TEST(SoundScenario, MusicAndEffectsAreHeardThroughTheGame) {
  UseOpenALLoopback(44100);
  enum { TITLE, BUILD, PLAY, LEAVING } phase = TITLE;
  TGridBot bot;
  double titleStart = 0, titleLater = -200, playLoudest = -200;
  int sourcesAtTitle = 0, playFrames = 0;
  TOutcome atLeaving{};
  auto perFrame = [&] {
    double level = NextFrameLevel();
    switch (phase) {
      case TITLE:
        if (titleTime == 2) titleStart = level;
        if (titleTime == 80) {
          titleLater = level;  // the fade-in has reached full volume
          sourcesAtTitle = OpenALSourceCount();
          TapKey(KEY_SPACE);
        }
        if (playState == PLAY_NEXT_LEVEL) phase = BUILD;
        break;
      case BUILD:
        if (playState == PLAY_ON) phase = PLAY;
        break;
      case PLAY:
        bot.PaintStep(chaserCount);
        playLoudest = std::max(playLoudest, level);
        if (++playFrames == 300) {
          atLeaving = Outcome();
          bot.LetGo();
          TapKey(KEY_ESCAPE);
          phase = LEAVING;
        }
        break;
      case LEAVING:
        if (titleTime == 20) TapKey(KEY_ESCAPE);
        break;
    }
  };
  int status = RunWholeProgram(MakeTempDir("sound-scenario"), perFrame, 5000);
  int sourcesAtEnd = OpenALSourceCount();
  bool openal = CurrentAudioDriverName() == u"OpenAL";
  SelectAudioDriver(u"Null");
  UseOpenALLoopback(0);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(atLeaving, (TOutcome{335, 1, 71, 160}));
  ASSERT_TRUE(openal);
  EXPECT_LT(titleStart, titleLater - 12);  // 0.05 of full volume is 26 dB down
  EXPECT_GT(titleLater, -35.0);
  EXPECT_LT(titleLater, -6.0);
  EXPECT_GT(playLoudest, -30.0);
  EXPECT_LT(playLoudest, -1.0);            // no clipping
  EXPECT_EQ(sourcesAtTitle, 1);            // the title music alone
  EXPECT_GE(sourcesAtEnd, 3);              // music and overlapping effects
}
