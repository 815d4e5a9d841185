// Drawing read back from real Mesa GL.
#include <gtest/gtest.h>

#include "media/config.h"
#include "media/graphics.h"
#include "tests/support/harness.h"

namespace {
struct Drawing : ::testing::Test {
  void SetUp() override {
    ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
    Cls();
  }
  void TearDown() override { CloseGraphics(); }
  static uint32_t Pixel(const TRgbaPixels& p, int x, int y) {  // RGB
    if (p.rgba.empty()) {
      ADD_FAILURE() << "nothing was read back";
      return 0xDEAD;
    }
    return p.At(x, y) >> 8;
  }
};
}  // namespace

TEST_F(Drawing, ColourAndAlphaAreClamped) {
  SetBlend(BLEND_ALPHA);
  SetColor(300, -5, 128);
  SetAlpha(1.5f);
  DrawRect(10, 10, 10, 10);
  SetColor(255, 255, 255);
  SetAlpha(-0.2f);
  DrawRect(30, 10, 10, 10);  // fully transparent: nothing
  SetAlpha(0.5f);
  DrawRect(50, 10, 10, 10);
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Pixel(p, 15, 15), 0xFF0080u);
  EXPECT_EQ(Pixel(p, 35, 15), 0x000000u);
  uint32_t half = Pixel(p, 55, 15);
  EXPECT_NEAR(static_cast<int>(half >> 16), 127, 1);
}

TEST_F(Drawing, AdditiveBlendingAddsUp) {
  SetBlend(BLEND_LIGHT);
  SetColor(100, 50, 0);
  DrawRect(0, 0, 20, 20);
  DrawRect(0, 0, 20, 20);
  DrawRect(0, 0, 20, 20);
  EXPECT_EQ(Pixel(GrabBackBuffer(), 10, 10), 0xFF9600u);  // red saturates at 255
}

TEST_F(Drawing, ViewportClipsDrawingAndCls) {
  SetBlend(BLEND_SOLID);
  SetColor(0, 255, 0);
  DrawRect(0, 0, 800, 600);
  SetViewport(0, 0, 800, 530);
  SetClsColor(0, 0, 255);
  Cls();
  SetColor(255, 0, 0);
  DrawRect(100, 520, 20, 20);  // half of it below the viewport
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Pixel(p, 400, 100), 0x0000FFu);
  EXPECT_EQ(Pixel(p, 400, 529), 0x0000FFu);
  EXPECT_EQ(Pixel(p, 400, 530), 0x00FF00u);  // Cls stayed inside
  EXPECT_EQ(Pixel(p, 110, 525), 0xFF0000u);
  EXPECT_EQ(Pixel(p, 110, 535), 0x00FF00u);  // drawing too
  SetViewport(0, 0, 800, 600);
  Cls();
  EXPECT_EQ(Pixel(GrabBackBuffer(), 400, 590), 0x0000FFu);
}

TEST_F(Drawing, ScaleAndRotationActAboutTheDrawingPosition) {
  SetBlend(BLEND_SOLID);
  SetColor(255, 255, 255);
  SetDrawScale(2, 2);
  DrawRect(10, 10, 5, 5);
  TRgbaPixels p = GrabBackBuffer();
  for (int i = 8; i <= 21; ++i) {
    bool inside = i >= 10 && i <= 19;
    EXPECT_EQ(Pixel(p, i, 15) != 0, inside) << "x " << i;
    EXPECT_EQ(Pixel(p, 15, i) != 0, inside) << "y " << i;
  }
  Cls();
  SetDrawScale(1, 1);
  SetDrawRotation(90);  // local (1, 0) lands at window offset (0, 1)
  DrawRect(200, 200, 40, 4);
  p = GrabBackBuffer();
  EXPECT_NE(Pixel(p, 198, 230), 0u);
  EXPECT_EQ(Pixel(p, 230, 202), 0u);
}

TEST_F(Drawing, LinesHaveTheirLastPixel) {
  SetBlend(BLEND_SOLID);
  SetColor(255, 255, 255);
  DrawLine(10, 50, 30, 50, true);
  DrawLine(10, 60, 30, 60, false);
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_NE(Pixel(p, 10, 50), 0u);
  EXPECT_NE(Pixel(p, 20, 50), 0u);
  EXPECT_NE(Pixel(p, 30, 50), 0u);
  EXPECT_NE(Pixel(p, 29, 60), 0u);
  EXPECT_EQ(Pixel(p, 30, 60), 0u);
  SetLineWidth(2);
  DrawLine(100, 100, 100, 120);
  p = GrabBackBuffer();
  EXPECT_NE(Pixel(p, 100, 110), 0u);
  EXPECT_NE(Pixel(p, 99, 110) | Pixel(p, 101, 110), 0u);  // two pixels wide
}

TEST_F(Drawing, ReopeningStartsFromAClearFreshState) {
  SetBlend(BLEND_LIGHT);
  SetColor(10, 20, 30);
  SetDrawScale(3, 3);
  SetViewport(0, 0, 100, 100);
  ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
  SetBlend(BLEND_SOLID);
  DrawRect(300, 300, 4, 4);  // white, unscaled, unclipped
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Pixel(p, 301, 301), 0xFFFFFFu);
  EXPECT_EQ(Pixel(p, 305, 305), 0x000000u);
}

TEST_F(Drawing, FramesCanBeSavedAsPNG) {
  SetColor(200, 100, 50);
  SetBlend(BLEND_SOLID);
  DrawRect(0, 0, 800, 600);
  std::string path = ::testing::TempDir() + "frame.png";
  ASSERT_TRUE(SaveBackBufferPNG(path));
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char sig[8];
  ASSERT_EQ(std::fread(sig, 1, 8, f), 8u);
  std::fclose(f);
  EXPECT_EQ(sig[1], 'P');
  EXPECT_EQ(sig[2], 'N');
}

TEST(FullScreen, CoversTheDesktopWithoutChangingItsMode) {
  // The offscreen video driver has no 1000 x 700 mode: full screen covers
  // the desktop as it is and the clock paces it.
  ASSERT_NE(OpenGraphics(1000, 700, 32, 60, 0), nullptr);
  EXPECT_FALSE(framePacing.hardSync);
  EXPECT_TRUE(framePacing.softSync);
  SetBlend(BLEND_SOLID);
  SetColor(0, 255, 0);
  DrawRect(0, 0, 1000, 700);
  TRgbaPixels p = GrabBackBuffer();
  ASSERT_FALSE(p.rgba.empty());
  EXPECT_EQ(p.At(500, 350) >> 8, 0x00FF00u);
  CloseGraphics();
}

// A 400 x 300 picture in windows of other sizes (as the settings file
// gives them, all within the test screen's 1024 x 768): scaled as large as
// fits, aspect kept, black bars; in whole multiples when integer scaling is
// set, never larger than the window. The picture itself reads back unscaled.
// The bars stay black whatever the clear colour and whatever is drawn past
// the picture's edge, in the second frame too.
TEST(WindowScaling, ThePictureFillsTheWindowWithItsAspectKept) {
  struct Case {
    int w, h, integer, outX, outY, outW, outH;
  };
  for (Case c : {Case{800, 600, 0, 0, 0, 800, 600}, Case{500, 300, 0, 50, 0, 400, 300},
                 Case{560, 450, 0, 0, 15, 560, 420}, Case{560, 450, 1, 80, 75, 400, 300},
                 // Scales of 1.625 and 2.5: rounded up, a whole multiple would
                 // not fit.
                 Case{650, 488, 1, 125, 94, 400, 300}, Case{1000, 750, 1, 100, 75, 800, 600}}) {
    SetConfigInt(u"window_width", c.w);
    SetConfigInt(u"window_height", c.h);
    SetConfigInt(u"integer_scaling", c.integer);
    ASSERT_NE(OpenGraphics(400, 300, 0, 0, 0), nullptr);
    SetBlend(BLEND_SOLID);
    SetClsColor(0, 0, 255);
    Flip(0);
    Cls();
    SetColor(255, 255, 255);
    SetLineWidth(9);
    DrawLine(2, 0, 2, 300);  // half its width lies past the left edge
    SetLineWidth(1);
    SetColor(255, 0, 0);
    DrawRect(0, 0, 200, 150);
    SetColor(0, 255, 0);
    DrawRect(200, 150, 200, 150);
    EXPECT_EQ(GrabBackBuffer().At(10, 10) >> 8, 0xFF0000u) << c.w << "x" << c.h;
    TRgbaPixels shown = GrabWindow();
    std::string name =
        std::to_string(c.w) + "x" + std::to_string(c.h) + "-" + std::to_string(c.integer);
    SaveRgbaPNG(shown, FramesDir() + "/window-" + name + ".png");
    ASSERT_EQ(shown.width, c.w) << name;
    ASSERT_EQ(shown.height, c.h) << name;
    const int right = c.outX + c.outW - 1, bottom = c.outY + c.outH - 1;
    EXPECT_EQ(shown.At(c.outX, c.outY) >> 8, 0xFF0000u) << name;
    EXPECT_EQ(shown.At(right, bottom) >> 8, 0x00FF00u) << name;
    EXPECT_EQ(shown.At(c.outX + c.outW / 2 - 2, c.outY + c.outH / 2 - 2) >> 8, 0xFF0000u) << name;
    EXPECT_EQ(shown.At(c.outX + c.outW / 2 + 1, c.outY + c.outH / 2 + 1) >> 8, 0x00FF00u) << name;
    if (c.outX > 0) {
      EXPECT_EQ(shown.At(c.outX - 1, c.outY) >> 8, 0u) << name;
      EXPECT_EQ(shown.At(right + 1, bottom) >> 8, 0u) << name;
    }
    if (c.outY > 0) {
      EXPECT_EQ(shown.At(c.outX, c.outY - 1) >> 8, 0u) << name;
      EXPECT_EQ(shown.At(right, bottom + 1) >> 8, 0u) << name;
    }
    CloseGraphics();
  }
  SetClsColor(0, 0, 0);
  SetConfigInt(u"window_width", 800);
  SetConfigInt(u"window_height", 600);
  SetConfigInt(u"integer_scaling", 0);
}
