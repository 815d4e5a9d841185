// The title screen: its ways out, the music fades and the display switch.
#include "flow/title.h"
#include "media/system.h"
#include "tests/unit/world_test_util.h"

class TitleTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    musicTitle = &music;
    frames = 0;
  }
  void TearDown() override {
    if (fullscreen) {
      fullscreen = 0;
      OpenGraphics(800, 600, 0, 60, 0);
    }
    WorldTest::TearDown();
  }
  // Runs the title screen with `onFrame` called after each Flip.
  template <class F>
  bool RunTitle(F onFrame, int* status = nullptr) {
    WaitingFor wait("the title screen to start a game or end the program", 1000);
    SetFrameHook([&] {
      frames++;
      onFrame(frames);
    });
    try {
      RunTitleScreen();
    } catch (const ProgramEnded& e) {
      if (status) *status = e.status;
      SetFrameHook(nullptr);
      return false;
    }
    SetFrameHook(nullptr);
    return true;
  }
  std::shared_ptr<TRecordingChannel> Music() {
    return music.cues.empty() ? nullptr : music.cues.back();
  }
  TRecordingSound music;
  int frames = 0;
};

TEST_F(TitleTest, SpaceOnTheFirstFrameWipesForTwentyFourFrames) {
  TapKey(KEY_SPACE);  // flushed on entry: this one does not count
  bool returned = RunTitle([](int n) {
    if (n == 3) TapKey(KEY_SPACE);
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(frames, 3 + 24);
  EXPECT_EQ(wipeStep, 25);
  EXPECT_EQ(titleTime, 2 * frames);
  // Faded in for four frames, then out by 0.04 for 24.
  EXPECT_NEAR(musicVolume, 4 * 0.05f - 24 * 0.04f, 1e-4);
  ASSERT_NE(Music(), nullptr);
  EXPECT_FALSE(Music()->paused);
  EXPECT_GE(Music()->volume, 0.0f);  // negative volumes leave the last one
  EXPECT_LT(Music()->volume, 0.05f);
}

TEST_F(TitleTest, EscapeEndsTheProgramEvenDuringTheWipe) {
  int status = -1;
  bool returned = RunTitle(
      [](int n) {
        if (n == 1) TapKey(KEY_SPACE);
        if (n == 10) TapKey(KEY_ESCAPE);
      },
      &status);
  EXPECT_FALSE(returned);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(frames, 10);
}

TEST_F(TitleTest, MusicFadesInOverTwentyFrames) {
  RunTitle([this](int n) {
    if (n == 10) { EXPECT_NEAR(Music()->volume, 0.5f, 1e-4); }
    if (n == 30) TapKey(KEY_ESCAPE);
  });
  EXPECT_NEAR(musicVolume, 1.0f, 1e-4);
  EXPECT_NEAR(Music()->volume, 1.0f, 1e-4);
}

TEST_F(TitleTest, F12SwitchesBetweenWindowAndFullScreen) {
  std::vector<int> depths;
  RunTitle([&](int n) {
    if (n == 2 || n == 5) TapKey(KEY_F12);
    if (n == 3 || n == 6) depths.push_back(Current2D()->_graphics->depth);
    if (n == 3) { EXPECT_EQ(fullscreen, 1); }
    if (n == 8) TapKey(KEY_ESCAPE);
  });
  EXPECT_EQ(depths, (std::vector<int>{32, 0}));
  EXPECT_EQ(fullscreen, 0);
  EXPECT_EQ(Current2D()->_graphics->hertz, 60);
}

TEST_F(TitleTest, AFullScreenThatCannotOpenStaysWindowedAndNoDisplayEnds) {
  int status = -1;
  RunTitle(
      [&](int n) {
        if (n == 2) FailGraphicsOpens(1);
        if (n == 2 || n == 4) TapKey(KEY_F12);
        if (n == 3) { EXPECT_EQ(Current2D()->_graphics->depth, 0); }
        if (n == 4) FailGraphicsOpens(2);  // neither full screen nor a window
      },
      &status);
  FailGraphicsOpens(0);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(fullscreen, 0);
  OpenGraphics(800, 600, 0, 60, 0);
}

TEST_F(TitleTest, KeyLinesFadeInOneAfterAnother) {
  // Without pictures or a grid tile, text draws are the only grey ones.
  std::vector<float> alphasAt120;
  RunTitle([&](int n) {
    if (n == 59) SetHeadlessDrawLogging(true);  // titleTime 118 .. drawn at 118
    if (n == 60) {
      for (auto& c : HeadlessDrawLog())
        if (c.kind == 'I' && c.r == 128 && c.g == 128 && c.b == 128 && c.ty < 500)
          alphasAt120.push_back(c.alpha);
      SetHeadlessDrawLogging(false);
      TapKey(KEY_ESCAPE);
    }
  });
  ASSERT_FALSE(alphasAt120.empty());
  // Only the first line shows, at 0.025 * (118 - 100).
  for (float a : alphasAt120) EXPECT_NEAR(a, 0.45f, 1e-4);
}
