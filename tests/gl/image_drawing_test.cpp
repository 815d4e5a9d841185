// Images, tiles and text drawn by real Mesa GL and read back.
#include <gtest/gtest.h>

#include "media/image.h"
#include "media/image_impl.h"
#include "media/stream.h"
#include "tests/support/png_fixture.h"

namespace {

struct ImageDrawing : ::testing::Test {
  void SetUp() override {
    ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
    SetAutoCentreHandle(false);
    Cls();
  }
  void TearDown() override { CloseGraphics(); }
  static uint32_t Rgb(const TRgbaPixels& p, int x, int y) { return p.At(x, y) >> 8; }
};

// An image made from 0xRRGGBB values; black is masked as usual.
template <typename F>
TImage* MakeImage(int w, int h, int flags, F colour) {
  auto p = TPixmap::Create(w, h, PF_RGB888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p->WritePixel(x, y, 0xFF000000u | colour(x, y));
  return LoadImagePixmap(*p, flags);
}

}  // namespace

TEST_F(ImageDrawing, FramesLandOnTheirHandleWithMaskAndColour) {
  // 4 x 4 with a black (see-through) centre column pair, drawn unfiltered.
  TImage* image = MakeImage(4, 4, IMAGE_MASKED, [](int x, int y) -> uint32_t {
    if (x == 1 || x == 2) return 0;
    return y < 2 ? 0xFF0000 : 0x00FF00;
  });
  SetClsColor(0, 0, 80);
  Cls();
  SetBlend(BLEND_ALPHA);
  SetImageHandlePoint(image, 2, 2);
  SetDrawScale(5, 5);
  DrawImageFrame(image, 100, 100);  // covers 90..109
  SetDrawScale(1, 1);
  SetColor(0, 255, 255);  // texels are multiplied by the colour
  DrawImageFrame(image, 300, 300);
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Rgb(p, 92, 92), 0xFF0000u);
  EXPECT_EQ(Rgb(p, 92, 107), 0x00FF00u);
  EXPECT_EQ(Rgb(p, 107, 92), 0xFF0000u);
  EXPECT_EQ(Rgb(p, 100, 100), 0x000050u);  // masked: the background shows
  EXPECT_EQ(Rgb(p, 89, 92), 0x000050u);
  EXPECT_EQ(Rgb(p, 110, 92), 0x000050u);
  EXPECT_EQ(Rgb(p, 298, 298), 0x000000u);  // red times cyan
  EXPECT_EQ(Rgb(p, 298, 301), 0x00FF00u);
}

TEST_F(ImageDrawing, FilteredEdgesKeepTheirColour) {
  // 3 x 3 solid yellow in a 4 x 4 texture: the repeated edge keeps the
  // border yellow when stretched, instead of fading into the padding.
  TImage* image =
      MakeImage(3, 3, IMAGE_FILTERED | IMAGE_MIPMAPPED, [](int, int) { return 0xFFFF00u; });
  // Red, blue and yellow columns in a shared texture: each edge repeats
  // its own column, not its neighbour or the next cell.
  TImage* sprite = MakeImage(3, 3, IMAGE_FILTERED, [](int x, int) {
    return x == 0 ? 0xFF0000u : x == 1 ? 0x0000FFu : 0xFFFF00u;
  });
  SetBlend(BLEND_ALPHA);
  SetDrawScale(20, 20);
  DrawImageFrame(image, 100, 100);  // 100..159
  DrawImageFrame(sprite, 300, 100);
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Rgb(p, 158, 158), 0xFFFF00u);
  EXPECT_EQ(Rgb(p, 158, 101), 0xFFFF00u);
  EXPECT_EQ(Rgb(p, 160, 130), 0u);
  EXPECT_EQ(Rgb(p, 300, 130), 0xFF0000u);
  EXPECT_EQ(Rgb(p, 359, 130), 0xFFFF00u);
}

TEST_F(ImageDrawing, TilesFillTheViewportFromItsEdge) {
  // Column 0 red, the rest of the 256 x 256 tile dark grey.
  TImage* tile =
      MakeImage(256, 256, IMAGE_MASKED, [](int x, int) { return x == 0 ? 0xFF0000u : 0x202020u; });
  SetBlend(BLEND_ALPHA);
  SetViewport(0, 0, 800, 530);
  SetDrawRotation(20);  // tiles ignore it
  TileImageFrame(tile, -256, 0);
  SetDrawRotation(0);
  SetViewport(0, 0, 800, 600);
  TRgbaPixels p = GrabBackBuffer();
  for (int y : {0, 100, 300, 529}) {
    EXPECT_EQ(Rgb(p, 0, y), 0xFF0000u) << y;
    EXPECT_EQ(Rgb(p, 1, y), 0x202020u) << y;
    EXPECT_EQ(Rgb(p, 256, y), 0xFF0000u) << y;
    EXPECT_EQ(Rgb(p, 768, y), 0xFF0000u) << y;
    EXPECT_EQ(Rgb(p, 799, y), 0x202020u) << y;
  }
  EXPECT_EQ(Rgb(p, 400, 530), 0u);  // below the viewport: untouched
}

TEST_F(ImageDrawing, TheBuiltInFontDrawsItsBitmap) {
  SetCurrentFont(nullptr);
  SetBlend(BLEND_ALPHA);
  SetColor(255, 255, 255);
  DrawString(u"A#", 10, 20);
  TRgbaPixels p = GrabBackBuffer();
  TImageFont* font = CurrentFont();
  for (int g = 0; g < 2; ++g) {
    TPixmap* bits = font->LoadGlyph(font->CharToGlyph(g == 0 ? 'A' : '#'))->Pixels();
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(Rgb(p, 10 + 8 * g + x, 20 + y), bits->Row(y)[x] ? 0xFFFFFFu : 0u)
            << g << ":" << x << "," << y;
  }
}

TEST_F(ImageDrawing, TrueTypeTextTakesTheDrawingColour) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  TImageFont* font = LoadFontFile(AsciiText(path), 32, FONT_SMOOTH);
  if (!font) GTEST_SKIP() << "fonts-dejavu-core is not installed";
  SetCurrentFont(font);
  SetBlend(BLEND_ALPHA);
  SetColor(0, 255, 0);
  DrawString(u"HI", 50, 50);
  int width = StringWidth(u"HI");
  TRgbaPixels p = GrabBackBuffer();
  int ink = 0, stray = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) {
      uint32_t c = Rgb(p, x, y);
      bool inBox = x >= 50 && x < 50 + width && y >= 50 && y < 50 + font->Height();
      if (c == 0x00FF00u) ++ink;
      if (c != 0 && !inBox) ++stray;
      if (c != 0) {
        ASSERT_EQ(c & 0xFF00FFu, 0u) << x << "," << y;  // green only
      }
    }
  EXPECT_GT(ink, 100);
  EXPECT_EQ(stray, 0);
  // The H's left stem: solid at mid-height a few pixels in.
  const TImageGlyph* h = font->LoadGlyph(font->CharToGlyph('H'));
  EXPECT_EQ(Rgb(p, 50 + h->_x + 3, 50 + h->_y + h->_h / 2), 0x00FF00u);
}

TEST_F(ImageDrawing, ImagesSurviveReopeningTheDisplay) {
  TImage* image = MakeImage(8, 8, IMAGE_MASKED, [](int, int) { return 0x3366FFu; });
  TImage* dynamic = CreateBlankImage(8, 8, 1, IMAGE_DYNAMIC);
  SetBlend(BLEND_ALPHA);
  DrawImageFrame(image, 10, 10);
  TPixmap* canvas = LockImageFrame(dynamic, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) canvas->WritePixel(x, y, 0xFFFF8000);
  UnlockImageFrame(dynamic, 0);
  DrawImageFrame(dynamic, 30, 10);
  EXPECT_EQ(Rgb(GrabBackBuffer(), 33, 13), 0xFF8000u);

  CloseGraphics();
  ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
  Cls();
  SetBlend(BLEND_ALPHA);
  DrawImageFrame(image, 10, 10);
  DrawImageFrame(dynamic, 30, 10);
  // Painting again after the switch shows the new pixels.
  LockImageFrame(dynamic, 0)->WritePixel(0, 0, 0xFF00FF00);
  DrawImageFrame(dynamic, 50, 10);
  TRgbaPixels p = GrabBackBuffer();
  EXPECT_EQ(Rgb(p, 13, 13), 0x3366FFu);
  EXPECT_EQ(Rgb(p, 33, 13), 0xFF8000u);
  EXPECT_EQ(Rgb(p, 50, 10), 0x00FF00u);
  EXPECT_EQ(Rgb(p, 53, 13), 0xFF8000u);
}
