// The 23 embedded media files: the geometry the game relies on, and the
// collision footprint of the ship and the chaser.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include <gtest/gtest.h>
#include <png.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include "tests/support/paths.h"

namespace {

std::string AssetPath(const char* name) { return AssetsDir() + "/" + name; }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct PngExpected {
  const char* name;
  uint32_t width, height;
  int colourType;  // 0 grey, 2 RGB, 6 RGBA
};

constexpr PngExpected PNGS[] = {
    {"tiles4-24x24.png", 384, 192, 0}, {"tiles10-24x24.png", 384, 24, 0}, {"wedge.png", 128, 128, 2},
    {"gfx_star.png", 128, 128, 0},     {"gfx_explosion.png", 96, 96, 2},  {"ship.png", 64, 64, 2},
    {"chaser.png", 64, 64, 2},         {"titlescreen1.png", 452, 128, 6}, {"titlescreen2.png", 443, 32, 6},
    {"gfx_grid.png", 256, 256, 2},     {"icon.png", 64, 64, 6},
};

TEST(MediaFiles, PicturesHaveTheirSizeAndPlainEightBitFormat) {
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const PngExpected& want : PNGS) {
    SCOPED_TRACE(want.name);
    const std::vector<uint8_t> data = ReadFile(AssetPath(want.name));
    ASSERT_GT(data.size(), 33u);
    ASSERT_TRUE(std::equal(signature, signature + 8, data.begin()));
    ASSERT_EQ(std::string(data.begin() + 12, data.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(&data[16]), want.width);
    EXPECT_EQ(BigEndian32(&data[20]), want.height);
    EXPECT_EQ(data[24], 8) << "bit depth";
    EXPECT_EQ(data[25], want.colourType) << "colour type";
    EXPECT_EQ(data[28], 0) << "interlace";
    // Walk every chunk: no palette, no transparency chunk, a proper end.
    bool sawEnd = false;
    for (size_t at = 8; at + 12 <= data.size();) {
      const uint32_t len = BigEndian32(&data[at]);
      const std::string type(data.begin() + at + 4, data.begin() + at + 8);
      EXPECT_NE(type, "PLTE");
      EXPECT_NE(type, "tRNS");
      if (type == "IEND") sawEnd = true;
      at += 12 + len;
    }
    EXPECT_TRUE(sawEnd);
  }
}

struct OggExpected {
  const char* name;
  int channels;
  long rate;
  ogg_int64_t frames;
};

constexpr OggExpected OGGS[] = {
    {"music_ingame.ogg", 2, 22050, 4068288}, {"music_title.ogg", 2, 22050, 4146559},
    {"snd_chaser_turn.ogg", 1, 44100, 12073}, {"snd_collision.ogg", 1, 44100, 19198},
    {"snd_die.ogg", 1, 44100, 109452},         {"snd_make_gap.ogg", 1, 44100, 10346},
    {"snd_pickup.ogg", 1, 44100, 2724},        {"snd_draw_level.ogg", 1, 44100, 3996},
    {"snd_untouched.ogg", 1, 44100, 20146},    {"snd_bonus.ogg", 1, 44100, 13453},
};

TEST(MediaFiles, SoundsHaveTheirChannelsRateAndExactLength) {
  for (const OggExpected& want : OGGS) {
    SCOPED_TRACE(want.name);
    OggVorbis_File vf;
    ASSERT_EQ(ov_fopen(AssetPath(want.name).c_str(), &vf), 0);
    const vorbis_info* vi = ov_info(&vf, -1);
    EXPECT_EQ(vi->channels, want.channels);
    EXPECT_EQ(vi->rate, want.rate);
    EXPECT_EQ(ov_pcm_total(&vf, -1), want.frames);
    ov_clear(&vf);
  }
}

TEST(MediaFiles, FontsAreTrueTypeWithTheirGlyphCountAndPrintableAscii) {
  struct FontExpected {
    const char* name;
    long glyphs;
  };
  const FontExpected fonts[] = {{"CasualEncounter.ttf", 236}, {"SFTheraminGothic.ttf", 200}};
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  for (const FontExpected& want : fonts) {
    SCOPED_TRACE(want.name);
    FT_Face face;
    ASSERT_EQ(FT_New_Face(lib, AssetPath(want.name).c_str(), 0, &face), 0);
    EXPECT_TRUE(FT_IS_SFNT(face));
    EXPECT_EQ(face->num_glyphs, want.glyphs);
    EXPECT_EQ(face->units_per_EM, 2048);
    FT_ULong glyfLength = 0;
    EXPECT_EQ(FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &glyfLength), 0) << "glyf outlines";
    EXPECT_GT(glyfLength, 0u);
    for (FT_ULong c = 32; c <= 126; ++c) EXPECT_NE(FT_Get_Char_Index(face, c), 0u) << "char " << c;
    // The game renders them at 8 and 48 pixels: a letter must give a real bitmap.
    ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 8), 0);
    ASSERT_EQ(FT_Load_Char(face, 'A', FT_LOAD_RENDER), 0);
    EXPECT_GT(face->glyph->bitmap.rows, 3u);
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
}

// ---------------------------------------------------------------- footprints
// Which pixels of a 64 x 64 actor are solid: every pixel that is not pure black.
struct SolidPixels {
  int w = 0, h = 0;
  std::vector<uint8_t> solid;
  bool At(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && solid[y * w + x]; }
};

SolidPixels LoadFootprint(const char* name) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  SolidPixels fp;
  if (!png_image_begin_read_from_file(&image, AssetPath(name).c_str())) return fp;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return fp;
  fp.w = static_cast<int>(image.width);
  fp.h = static_cast<int>(image.height);
  fp.solid.resize(static_cast<size_t>(fp.w) * fp.h);
  for (size_t i = 0; i < fp.solid.size(); ++i) fp.solid[i] = (rgb[i * 3] | rgb[i * 3 + 1] | rgb[i * 3 + 2]) != 0;
  return fp;
}

// The solid screen pixels of an actor drawn centred at the origin and rotated
// by `degrees`: plain nearest-pixel sampling of the picture.
std::vector<std::pair<int, int>> Rotated(const SolidPixels& fp, int degrees) {
  const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
  std::vector<std::pair<int, int>> out;
  for (int y = -fp.h; y < fp.h; ++y)
    for (int x = -fp.w; x < fp.w; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const double sx = c * px + s * py + fp.w / 2.0, sy = -s * px + c * py + fp.h / 2.0;
      if (fp.At(static_cast<int>(std::floor(sx)), static_cast<int>(std::floor(sy)))) out.emplace_back(x, y);
    }
  return out;
}

class ActorFootprint : public ::testing::Test {
 protected:
  void SetUp() override {
    const SolidPixels ship = LoadFootprint("ship.png"), chaser = LoadFootprint("chaser.png");
    ASSERT_EQ(ship.w, 64);
    ASSERT_EQ(chaser.w, 64);
    for (int a = 0; a < 360; a += 5) {
      shipAt_.push_back(Rotated(ship, a));
      std::vector<uint8_t> grid(GRID * GRID, 0);
      for (auto [x, y] : Rotated(chaser, a)) grid[(y + GRID / 2) * GRID + (x + GRID / 2)] = 1;
      chaserGrid_.push_back(std::move(grid));
    }
  }

  // Whether the ship at the origin and the chaser at (dx, dy) share a solid pixel.
  bool Overlap(size_t shipAngle, size_t chaserAngle, int dx, int dy) const {
    const std::vector<uint8_t>& grid = chaserGrid_[chaserAngle];
    for (auto [x, y] : shipAt_[shipAngle]) {
      const int gx = x - dx + GRID / 2, gy = y - dy + GRID / 2;
      if (gx >= 0 && gy >= 0 && gx < GRID && gy < GRID && grid[gy * GRID + gx]) return true;
    }
    return false;
  }

  static constexpr int GRID = 128;
  std::vector<std::vector<std::pair<int, int>>> shipAt_;
  std::vector<std::vector<uint8_t>> chaserGrid_;
};

TEST_F(ActorFootprint, NeighbouringCellsNeverTouch) {
  const int offsets[][2] = {{24, 0}, {-24, 0}, {0, 24}, {0, -24}, {24, 24}};
  for (auto [dx, dy] : offsets)
    for (size_t s = 0; s < shipAt_.size(); ++s)
      for (size_t c = 0; c < chaserGrid_.size(); ++c)
        ASSERT_FALSE(Overlap(s, c, dx, dy)) << "offset " << dx << "," << dy << " ship " << s * 5 << " chaser " << c * 5;
}

TEST_F(ActorFootprint, ActorsWithinTwelvePixelsAlwaysTouch) {
  const int offsets[][2] = {{12, 0}, {-12, 0}, {0, 12}, {0, -12}, {8, 8}, {-8, 8}, {8, -8}, {-8, -8}, {6, 0}, {0, 0}};
  for (auto [dx, dy] : offsets)
    for (size_t s = 0; s < shipAt_.size(); ++s)
      for (size_t c = 0; c < chaserGrid_.size(); ++c)
        ASSERT_TRUE(Overlap(s, c, dx, dy)) << "offset " << dx << "," << dy << " ship " << s * 5 << " chaser " << c * 5;
}

}  // namespace
