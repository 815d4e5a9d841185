// The desktop's own frames of a regression replay, left in build/frames for
// the browser test (tests/web_browser.py): one whole frame, which it holds
// the web build's frame of the same moment against, and the block means of
// the first frames, which its screenshots taken in play are compared with.
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

// The play field of a frame as the browser test compares it: the mean
// brightness of each 20 x 20 block of the top 540 rows, 40 to a row.
void AddBlockMeans(const TRgbaPixels& shot, std::string& out) {
  for (int by = 0; by < 540; by += 20)
    for (int bx = 0; bx < 800; bx += 20) {
      int total = 0;
      for (int y = by; y < by + 20; ++y)
        for (int x = bx; x < bx + 20; ++x) {
          const uint8_t* p = &shot.rgba[(size_t(y) * shot.width + x) * 4];
          total += p[0] + p[1] + p[2];
        }
      out.push_back(char(total / (20 * 20 * 3)));
    }
}

TEST(WebReference, TheDesktopFramesOfAReplayAreSaved) {
#if defined(ZEPHRANT_SANITIZE)
  // Only the browser test reads these frames, and it runs in the normal
  // build; the drawing is checked under the sanitizers by GoldenFrames.
  GTEST_SKIP() << "made in the normal build";
#endif
  constexpr int FRAME = 250;  // of the game, counted from its first frame
  constexpr int LAST = 1500;  // frames whose blocks are kept for the browser's screenshots
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
  std::string blocks;
  SetFrameHook([&] {
    TRgbaPixels now = GrabBackBuffer();
    AddBlockMeans(now, blocks);
    if (++frame == FRAME) shot = now;
    if (frame == LAST) throw Taken{};
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
  std::ofstream(FramesDir() + "/web_reference_fast_chasers.blocks", std::ios::binary) << blocks;
}
