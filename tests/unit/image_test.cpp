// Images, pixmaps, PNG decoding, overlap tests and fonts, checked on the
// CPU side and through the headless renderer's record of draw calls.
#include "media/image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "media/image_impl.h"
#include "media/stream.h"
#include "tests/support/harness.h"
#include "tests/support/png_fixture.h"

namespace {

// Registers the PNG under a fresh embedded name; the bytes live for the run.
Text Embed(const std::string& name, const PngRecipe& recipe) {
  static std::map<std::string, std::vector<uint8_t>> kept;
  kept[name] = EncodePng(recipe);
  RegisterEmbeddedFile(AsciiText(name), kept[name].data(), static_cast<int>(kept[name].size()));
  return AsciiText("incbin::" + name);
}

uint32_t Argb(TImage* image, int frame, int x, int y) {
  return LockImageFrame(image, frame, true, false)->ReadPixel(x, y);
}

struct Headless : ::testing::Test {
  void SetUp() override {
    ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
    SetAutoCentreHandle(false);
    HeadlessDrawLog().clear();
    SetHeadlessDrawLogging(true);
  }
  void TearDown() override {
    SetHeadlessDrawLogging(false);
    SetAutoCentreHandle(false);
    CloseGraphics();
  }
  static std::vector<THeadlessDrawCall> Draws() {
    std::vector<THeadlessDrawCall> out;
    for (const auto& c : HeadlessDrawLog())
      if (c.kind == 'I') out.push_back(c);
    return out;
  }
};

}  // namespace

TEST(Pixmaps, FormatsConvertThroughArgb) {
  auto p = TPixmap::Create(3, 2, PF_RGB888);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pitch, 12);  // 9 bytes rounded up to 4
  p->WritePixel(0, 0, 0x80102030);
  EXPECT_EQ(p->Row(0)[0], 0x10);
  EXPECT_EQ(p->Row(0)[2], 0x30);
  EXPECT_EQ(p->ReadPixel(0, 0), 0xFF102030u);  // no alpha: opaque

  auto bgra = TPixmap::Create(1, 1, PF_BGRA8888);
  bgra->WritePixel(0, 0, 0x80102030);
  EXPECT_EQ(bgra->Row(0)[0], 0x30);
  EXPECT_EQ(bgra->Convert(PF_RGBA8888)->Row(0)[0], 0x10);
  EXPECT_EQ(bgra->Convert(PF_RGBA8888)->Row(0)[3], 0x80);

  auto grey = TPixmap::Create(1, 1, PF_I8);
  grey->WritePixel(0, 0, 0xFF0A141E);  // (10 + 20 + 30) / 3
  EXPECT_EQ(grey->Row(0)[0], 20);
  EXPECT_EQ(grey->Convert(PF_RGBA8888)->ReadPixel(0, 0), 0xFF141414u);
  auto alpha = TPixmap::Create(1, 1, PF_A8);
  alpha->WritePixel(0, 0, 0x7F000000);
  EXPECT_EQ(alpha->Convert(PF_RGBA8888)->ReadPixel(0, 0), 0x7FFFFFFFu);
  EXPECT_FALSE(FormatHasAlpha(PF_RGB888));
  EXPECT_TRUE(FormatHasAlpha(PF_A8));
}

TEST(Pixmaps, WindowsShareAndPasteConverts) {
  auto p = TPixmap::Create(4, 4, PF_RGBA8888);
  p->ClearPixels();
  auto w = p->Window(1, 2, 2, 2);
  ASSERT_NE(w, nullptr);
  w->WritePixel(1, 1, 0xFFABCDEF);
  EXPECT_EQ(p->ReadPixel(2, 3), 0xFFABCDEFu);
  EXPECT_EQ(p->Window(3, 3, 2, 2), nullptr);
  auto copy = w->Copy();
  copy->WritePixel(1, 1, 0);
  EXPECT_EQ(p->ReadPixel(2, 3), 0xFFABCDEFu);

  auto rgb = TPixmap::Create(2, 2, PF_RGB888);
  for (int i = 0; i < 4; ++i) rgb->WritePixel(i % 2, i / 2, 0xFF010203);
  p->Paste(*rgb, 3, 3);  // clipped to one pixel
  EXPECT_EQ(p->ReadPixel(3, 3), 0xFF010203u);
  EXPECT_EQ(p->ReadPixel(2, 2), 0u);
}

TEST(Png, ColourTypesDecodeWithoutGamma) {
  auto grey =
      LoadPixmap(Embed("t-grey.png", PngRecipe{2, 1, PNG_COLOR_TYPE_GRAY, 8, {7, 200}, {}, 0.8}));
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(grey->format, PF_I8);
  EXPECT_EQ(grey->Row(0)[1], 200);  // the gAMA chunk is ignored

  auto low = LoadPixmap(Embed("t-grey2.png", PngRecipe{4, 1, PNG_COLOR_TYPE_GRAY, 2, {0x1B}, {}, 0}));
  ASSERT_NE(low, nullptr);
  EXPECT_EQ(low->format, PF_I8);
  EXPECT_EQ(low->Row(0)[0], 0);
  EXPECT_EQ(low->Row(0)[3], 255);

  auto pal = LoadPixmap(
      Embed("t-pal.png",
            PngRecipe{2, 1, PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, {{1, 2, 3}, {250, 100, 50}}, 0}));
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(pal->format, PF_RGB888);
  EXPECT_EQ(pal->ReadPixel(0, 0), 0xFFFA6432u);

  auto rgba = LoadPixmap(
      Embed("t-rgba.png", PngRecipe{1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {9, 8, 7, 6}, {}, 0}));
  ASSERT_NE(rgba, nullptr);
  EXPECT_EQ(rgba->format, PF_RGBA8888);
  EXPECT_EQ(rgba->ReadPixel(0, 0), 0x06090807u);

  auto deep = LoadPixmap(
      Embed("t-16.png",
            PngRecipe{1, 1, PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00}, {}, 0}));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->ReadPixel(0, 0), 0xFF12ABFFu);  // high bytes kept
}

TEST(Png, BrokenFilesGiveNoImage) {
  std::vector<uint8_t> good = EncodePng(RgbPng(8, 8, [](int, int) { return 0x123456u; }));
  static std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
  static const char junk[] = "not a picture at all";
  RegisterEmbeddedFile(u"t-cut.png", cut.data(), static_cast<int>(cut.size()));
  RegisterEmbeddedFile(u"t-junk.png", junk, sizeof junk);
  EXPECT_EQ(LoadImageFile(u"incbin::t-cut.png"), nullptr);
  EXPECT_EQ(LoadImageFile(u"incbin::t-junk.png"), nullptr);
  EXPECT_EQ(LoadImageFile(u"incbin::t-none.png"), nullptr);
  EXPECT_EQ(LoadImageFile(u"/no/such/file.png"), nullptr);
}

TEST(Images, BlackIsTransparentAndTakesItsNeighboursColour) {
  // 64 x 64 RGB: black everywhere except a (1, 0, 0) column at x = 10 and
  // a red and a blue pixel next to each other at the top left.
  Text url = Embed("t-mask.png", RgbPng(64, 64, [](int x, int y) -> uint32_t {
                     if (x == 10) return 0x010000;
                     if (y == 0 && x == 0) return 0xC80000;
                     if (y == 0 && x == 1) return 0x000064;
                     return 0;
                   }));
  TImage* image = LoadImageFile(url);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->flags, IMAGE_MASKED | IMAGE_FILTERED);
  EXPECT_EQ(ImageFrames(image), 1);
  EXPECT_EQ(Argb(image, 0, 10, 30), 0xFF010000u);  // almost black stays opaque
  EXPECT_EQ(Argb(image, 0, 0, 0), 0xFFC80000u);
  EXPECT_EQ(Argb(image, 0, 0, 1) >> 24, 0u);              // transparent below the red pixel
  EXPECT_EQ(Argb(image, 0, 0, 1) & 0xFFFFFF, 0x640032u);  // average of red and blue
  EXPECT_EQ(Argb(image, 0, 30, 30), 0u);                  // nothing visible around: black
  EXPECT_EQ(Argb(image, 0, 11, 30), 0x00010000u);         // bleeds from the near-black column
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      bool black = x != 10 && !(y == 0 && x < 2);
      ASSERT_EQ(Argb(image, 0, x, y) >> 24, black ? 0u : 255u) << x << "," << y;
    }

  // Unmasked images and pictures with their own alpha are kept as they are.
  TImage* plain = LoadImageFile(url, IMAGE_FILTERED);
  EXPECT_EQ(LockImageFrame(plain, 0)->format, PF_RGB888);
  TImage* own = LoadImageFile(
      Embed("t-own.png", PngRecipe{1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {0, 0, 0, 77}, {}, 0}));
  EXPECT_EQ(Argb(own, 0, 0, 0), 0x4D000000u);
}

TEST(Images, StripsAreCutLeftToRightThenDown) {
  // 384 x 48: two rows of sixteen 24 x 24 cells, each cell's grey level its number.
  PngRecipe sheet{384, 48, PNG_COLOR_TYPE_GRAY, 8, {}, {}, 0};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 384; ++x)
      sheet.pixels.push_back(static_cast<uint8_t>(10 + x / 24 + 16 * (y / 24)));
  Text url = Embed("t-sheet.png", sheet);
  TImage* strip = LoadImageStrip(url, 24, 24, 0, 16);
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(ImageFrames(strip), 16);
  EXPECT_EQ(ImageWidth(strip), 24);
  for (int k = 0; k < 16; ++k)
    EXPECT_EQ(Argb(strip, k, 23, 23), 0xFF000000u | (10 + k) * 0x010101u);

  TImage* second = LoadImageStrip(url, 24, 24, 14, 18);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Argb(second, 2, 0, 0), 0xFF000000u | 26 * 0x010101u);  // cell 16 begins row two
  EXPECT_EQ(LoadImageStrip(url, 24, 24, 0, 33), nullptr);
  EXPECT_EQ(LoadImageStrip(url, 24, 24, 16, 17), nullptr);
  EXPECT_EQ(LoadImageStrip(url, 0, 24, 0, 1), nullptr);

  PngRecipe row{384, 24, PNG_COLOR_TYPE_GRAY, 8, std::vector<uint8_t>(384 * 24, 50), {}, 0};
  Text rowUrl = Embed("t-row.png", row);
  EXPECT_NE(LoadImageStrip(rowUrl, 24, 24, 0, 16), nullptr);
  EXPECT_EQ(LoadImageStrip(rowUrl, 24, 24, 0, 17), nullptr);
}

TEST(Images, HandlesCentreOnRequest) {
  Text url = Embed("t-handle.png", RgbPng(9, 4, [](int, int) { return 0xFFFFFFu; }));
  TImage* a = LoadImageFile(url);
  EXPECT_EQ(ImageHandleX(a), 0.0f);
  SetAutoCentreHandle(true);
  TImage* b = LoadImageFile(url);
  TImage* c = CreateBlankImage(70, 50);
  TImage* d = LoadImageStrip(url, 3, 4, 0, 3);
  SetAutoCentreHandle(false);
  EXPECT_EQ(ImageHandleX(b), 4.5f);
  EXPECT_EQ(ImageHandleY(b), 2.0f);
  EXPECT_EQ(ImageHandleX(c), 35.0f);
  EXPECT_EQ(ImageHandleX(d), 1.5f);
  SetImageHandlePoint(c, 0, 0);
  EXPECT_EQ(ImageHandleX(c), 0.0f);
  EXPECT_EQ(c->flags, IMAGE_MASKED | IMAGE_FILTERED);
}

TEST_F(Headless, FramesAreDrawnAtTheirHandleAndRebuiltWhenStale) {
  auto pixels = TPixmap::Create(20, 10, PF_RGBA8888);
  pixels->ClearPixels();
  TImage* image = LoadImagePixmap(*pixels);
  SetImageHandlePoint(image, 5, 2);
  SetDrawOrigin(100, 50);
  DrawImageFrame(image, 10, 20);
  DrawImageFrame(image, 10, 20, 1);  // no such frame: nothing
  DrawImageFrame(nullptr, 10, 20);
  auto d = Draws();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].x0, -5);
  EXPECT_EQ(d[0].y0, -2);
  EXPECT_EQ(d[0].x1, 15);
  EXPECT_EQ(d[0].y1, 8);
  EXPECT_EQ(d[0].tx, 110);
  EXPECT_EQ(d[0].ty, 70);

  TImageFrame* first = image->Frame(0);
  EXPECT_EQ(image->Frame(0), first);  // made once per display
  LockImageFrame(image, 0, true, true)->WritePixel(0, 0, 0xFFFFFFFF);
  EXPECT_EQ(image->seqs[0], 0);  // painting drops the texture
  ASSERT_NE(image->Frame(0), nullptr);
  int seq = image->seqs[0];
  CloseGraphics();
  EXPECT_EQ(image->Frame(0), nullptr);  // no display: nothing to draw with
  ASSERT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
  ASSERT_NE(image->Frame(0), nullptr);
  EXPECT_NE(image->seqs[0], seq);
  EXPECT_EQ(image->seqs[0], graphicsSeq);

  TImage* blank = CreateBlankImage(4, 4, 2);
  EXPECT_EQ(blank->Frame(1), nullptr);  // never painted: nothing to draw
  TPixmap* p = LockImageFrame(blank, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ReadPixel(3, 3), 0u);
  EXPECT_NE(blank->Frame(1), nullptr);
}

TEST_F(Headless, TilesStartAtTheViewportEdgeWithTheIdentityMatrix) {
  TImage* image = CreateBlankImage(256, 256);
  LockImageFrame(image, 0);
  SetViewport(0, 0, 800, 530);
  SetDrawRotation(30);
  SetDrawScale(2, 2);
  TileImageFrame(image, -256, 0);
  auto d = Draws();
  ASSERT_EQ(d.size(), 12u);  // 4 columns (0, 256, 512, 768) by 3 rows
  EXPECT_EQ(d[0].tx, 0);
  EXPECT_EQ(d[0].ty, 0);
  EXPECT_EQ(d[3].tx, 768);
  EXPECT_EQ(d[11].ty, 512);
  EXPECT_EQ(d[0].ix, 1);
  EXPECT_EQ(d[0].iy, 0);
  const T2DGraphics* g = Current2D();
  EXPECT_NEAR(g->tform_ix, 2 * 0.866f, 1e-3);  // the state's matrix is back

  HeadlessDrawLog().clear();
  SetDrawRotation(0);
  SetDrawScale(1, 1);
  SetViewport(10, 20, 100, 100);
  SetImageHandlePoint(image, 128, 128);
  TileImageFrame(image, 100.25f, 0.5f);  // image corner at (-27.75, -127.5)
  d = Draws();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].tx, -28 + 0.25f);  // -28 + 256 k: the last such point at or before 10
  EXPECT_EQ(d[0].ty, -128 + 0.5f);
}

TEST_F(Headless, OverlapNeedsOpaquePixelsOfBothFrames) {
  // A bar 64 x 8 across the middle of an otherwise black (masked) image.
  Text url = Embed("t-bar.png",
                   RgbPng(64, 64, [](int, int y) { return y >= 28 && y < 36 ? 0xFFFFFFu : 0u; }));
  SetAutoCentreHandle(true);
  TImage* a = LoadImageFile(url);
  TImage* b = LoadImageFile(url);
  SetAutoCentreHandle(false);
  EXPECT_TRUE(ImagesOverlap(a, 100, 100, 0, b, 130, 100, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 100, 120, 0));  // boxes overlap, bars do not
  EXPECT_TRUE(ImagesOverlap(a, 100, 100, 0, b, 100, 107, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 100, 108, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 300, 100, 0));
  SetDrawRotation(90);  // both bars now stand upright and meet
  EXPECT_TRUE(ImagesOverlap(a, 100, 100, 0, b, 100, 120, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 120, 100, 0));
  SetDrawRotation(45);  // parallel again, 14 pixels apart
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 100, 120, 0));
  EXPECT_TRUE(ImagesOverlap(a, 100, 100, 0, b, 110, 110, 0));
  SetDrawRotation(0);
  SetDrawScale(0.25f, 0.25f);
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 100, 103, 0));
  SetDrawScale(1, 1);
  SetDrawOrigin(50, 0);  // the origin moves both alike
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, b, 100, 120, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 0, nullptr, 100, 100, 0));
  EXPECT_FALSE(ImagesOverlap(a, 100, 100, 3, b, 100, 100, 0));

  // Pictures without alpha are opaque everywhere.
  TImage* solid = LoadImageFile(url, 0);
  EXPECT_TRUE(ImagesOverlap(solid, 100, 100, 0, solid, 100, 160, 0));
}

TEST_F(Headless, TheBuiltInFont) {
  SetCurrentFont(nullptr);
  TImageFont* font = CurrentFont();
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font, DefaultFont());
  EXPECT_EQ(font->CountGlyphs(), 96);
  EXPECT_EQ(font->CharToGlyph('A'), 33);
  EXPECT_EQ(font->CharToGlyph(31), -1);
  EXPECT_EQ(font->CharToGlyph(128), -1);
  EXPECT_EQ(StringWidth(u""), 0);
  EXPECT_EQ(StringWidth(u"Hello"), 40);
  EXPECT_EQ(StringWidth(u"\u00E9\u4E00\x1F"), 0);
  // Every printable character has some ink, the space none.
  for (int c = 33; c < 127; ++c) {
    TPixmap* p = font->LoadGlyph(c - 32)->Pixels();
    int ink = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 8; ++x) ink += p->Row(y)[x] != 0;
    EXPECT_GT(ink, 0) << "character " << c;
  }
  TPixmap* space = font->LoadGlyph(0)->Pixels();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(space->Row(y)[x], 0);

  SetDrawOrigin(5, 6);
  DrawString(u"A\u00E9B", 10, 20);  // the missing character takes no room
  auto d = Draws();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].tx, 15);
  EXPECT_EQ(d[0].ty, 26);
  EXPECT_EQ(d[1].tx, 23);
  EXPECT_EQ(d[0].x1, 8);
  EXPECT_EQ(d[0].y1, 16);
  HeadlessDrawLog().clear();
  DrawString(u"\u00E9\u4E00", 0, 0);
  EXPECT_TRUE(Draws().empty());
}

TEST_F(Headless, TrueTypeFonts) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (!std::ifstream(path)) GTEST_SKIP() << "fonts-dejavu-core is not installed";
  EXPECT_EQ(LoadFontFile(u"/no/such/font.ttf", 12, 0), nullptr);
  TImageFont* plain = LoadFontFile(AsciiText(path), 16, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->Height(), plain->_src_font->_height);
  EXPECT_GT(plain->_src_font->_ascend, 10);
  EXPECT_LT(plain->_src_font->_descend, 0);
  EXPECT_EQ(plain->_imageFlags, 0);
  EXPECT_EQ(plain->CharToGlyph(0xE000), -1);  // private use: no glyph
  int a = plain->CharToGlyph('A');
  ASSERT_GE(a, 0);
  TImageGlyph* ga = plain->LoadGlyph(a);
  EXPECT_GT(ga->_advance, 5);
  EXPECT_GE(ga->_y, 0);
  EXPECT_EQ(ga->Pixels()->format, PF_A8);
  EXPECT_EQ(ga->_w, ga->Pixels()->width);
  TImageGlyph* gs = plain->LoadGlyph(plain->CharToGlyph(' '));
  EXPECT_EQ(gs->_image, nullptr);
  EXPECT_GT(gs->_advance, 0);

  // The same file embedded, smooth: same advance, one clear pixel around.
  std::ifstream f(path, std::ios::binary);
  static std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  RegisterEmbeddedFile(u"t-font.ttf", bytes.data(), static_cast<int>(bytes.size()));
  TImageFont* smooth = LoadFontFile(u"incbin::t-font.ttf", 16, FONT_SMOOTH);
  ASSERT_NE(smooth, nullptr);
  EXPECT_EQ(smooth->_imageFlags, IMAGE_FILTERED | IMAGE_MIPMAPPED);
  TImageGlyph* sa = smooth->LoadGlyph(a);
  EXPECT_EQ(sa->_advance, ga->_advance);
  EXPECT_EQ(sa->_w, ga->_w + 2);
  EXPECT_EQ(sa->_x, ga->_x - 1);
  TPixmap* p = sa->Pixels();
  for (int x = 0; x < p->width; ++x) EXPECT_EQ(p->Row(0)[x] | p->Row(p->height - 1)[x], 0);

  SetCurrentFont(plain);
  EXPECT_EQ(CurrentFont(), plain);
  int expected = 0;
  for (char16_t c : Text(u"Wave \uE000!")) {
    int g = plain->CharToGlyph(c);
    if (g >= 0) expected = static_cast<int>(expected + plain->LoadGlyph(g)->_advance);
  }
  EXPECT_EQ(StringWidth(u"Wave \uE000!"), expected);
  EXPECT_EQ(StringWidth(u"\uE000\uE001"), 0);
  DrawString(u"\uE000\uE001", 0, 0);
  EXPECT_TRUE(Draws().empty());
  DrawString(u"A", 0, 0);
  auto d = Draws();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].tx, ga->_x);
  EXPECT_EQ(d[0].ty, ga->_y);
  SetCurrentFont(nullptr);
  EXPECT_EQ(CurrentFont(), DefaultFont());
}
