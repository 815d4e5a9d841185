// The desktop's own frame of a regression replay at a fixed moment, left in
// build/frames for the browser test (tests/web_browser.py), which holds the
// web build's frame of the same replay at the same moment against it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "replay/replay.h"
#include "tests/support/harness.h"
#include "tests/support/paths.h"

TEST(WebReference, TheDesktopFrameOfAReplayIsSaved) {
  constexpr int FRAME = 250;  // of the game, counted from its first frame
  SelectAudioDriver(u"Null");
  RegisterMediaFiles();
  std::ifstream in(SourceDir() + "/tests/replays/fast_chasers.zrp", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ReplayData data;
  std::string why;
  ASSERT_EQ(DecodeReplay(bytes.data(), bytes.size(), data, why), ReplayParse::Ok) << why;
  ASSERT_NE(OpenGraphics(800, 600, 0, 50, 0), nullptr);
  LoadMediaSet();
  struct Taken {};  // the rest of the game is not needed
  int frame = 0;
  TRgbaPixels shot;
  SetFrameHook([&] {
    if (++frame < FRAME) return;
    shot = GrabBackBuffer();
    throw Taken{};
  });
  StartPlayback(data, false);
  EXPECT_THROW(RunGame(), Taken);
  AbandonPlayback();
  SetFrameHook(nullptr);
  CloseGraphics();
  ASSERT_EQ(shot.width, 800);
  int lit = 0;
  for (int y = 0; y < 550; y += 10)
    for (int x = 0; x < 800; x += 10) lit += (shot.At(x, y) >> 8 & 0xFFFFFF) > 0x202020;
  EXPECT_GT(lit, 100) << "the play field is dark";
  EXPECT_TRUE(SaveRgbaPNG(shot, FramesDir() + "/web_reference_fast_chasers_250.png"));
}
