// TrueType faces rendered by FreeType one glyph at a time, on first use.
#include <ft2build.h>
#include FT_FREETYPE_H

#include "media/image_impl.h"
#include "media/stream_kinds.h"

namespace {

FT_Library FreeType() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) l = nullptr;
    return l;
  }();
  return lib;
}

FT_Face Face(void* face) { return static_cast<FT_Face>(face); }

}  // namespace

// --- TFreeTypeFont ---

TFreeTypeFont::~TFreeTypeFont() {
  if (_face) FT_Done_Face(Face(_face));
}

std::unique_ptr<TFreeTypeFont> TFreeTypeFont::Load(const Text& url, int size, int style) {
  if (!FreeType() || size <= 0) return nullptr;
  StreamRef s = OpenFileForReading(url);
  if (!s) return nullptr;
  auto font = std::make_unique<TFreeTypeFont>();
  const unsigned char* bytes;
  size_t size_in_bytes;
  if (auto* ram = dynamic_cast<TRamStream*>(s.get())) {
    // An embedded file lives as long as the program: FreeType reads it in place.
    bytes = ram->_buf;
    size_in_bytes = static_cast<size_t>(ram->_size);
  } else {
    font->_buf = std::move(LoadBank(*s)->bytes);
    bytes = font->_buf.data();
    size_in_bytes = font->_buf.size();
  }
  s->Close();
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(FreeType(), bytes, static_cast<FT_Long>(size_in_bytes), 0, &face) != 0)
    return nullptr;
  font->_face = face;
  // A bitmap font offers only some sizes: step down to the nearest it has.
  while (size > 0 && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) --size;
  if (size == 0) return nullptr;
  font->_style = style;
  font->_height = static_cast<int>(face->size->metrics.height >> 6);
  font->_ascend = static_cast<int>(face->size->metrics.ascender >> 6);
  font->_descend = static_cast<int>(face->size->metrics.descender >> 6);
  font->_glyphs.resize(static_cast<size_t>(face->num_glyphs));
  return font;
}

int TFreeTypeFont::CharToGlyph(int code) const {
  if (code < 0) return -1;
  return static_cast<int>(FT_Get_Char_Index(Face(_face), static_cast<FT_ULong>(code))) - 1;
}

const TFreeTypeGlyph& TFreeTypeFont::LoadGlyph(int index) {
  TFreeTypeGlyph& g = _glyphs[static_cast<size_t>(index)];
  if (g.loaded) return g;
  g.loaded = true;
  // The glyph table skips the face's glyph 0 (the "missing" box).
  FT_Face face = Face(_face);
  if (FT_Load_Glyph(face, static_cast<FT_UInt>(index + 1), FT_LOAD_DEFAULT) != 0) return g;
  if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) return g;
  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bm = slot->bitmap;
  g._advance = static_cast<float>(slot->advance.x >> 6);
  g._x = slot->bitmap_left;
  g._y = _ascend - slot->bitmap_top;
  g._w = static_cast<int>(bm.width);
  g._h = static_cast<int>(bm.rows);
  if (g._w == 0 || g._h == 0) return g;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) return g;

  // Smooth glyphs get a clear one-pixel border, so filtering and mipmaps
  // fade out at the edge instead of smearing the glyph's outer pixels.
  const int border = (_style & FONT_SMOOTH) ? 1 : 0;
  auto pixmap = TPixmap::Create(g._w + 2 * border, g._h + 2 * border, PF_A8);
  if (!pixmap) return g;
  pixmap->ClearPixels();
  const int pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
  for (int y = 0; y < g._h; ++y) {
    const unsigned char* src =
        bm.buffer + static_cast<ptrdiff_t>(bm.pitch < 0 ? g._h - 1 - y : y) * pitch;
    uint8_t* dst = pixmap->Row(y + border) + border;
    for (int x = 0; x < g._w; ++x)
      dst[x] =
          bm.pixel_mode == FT_PIXEL_MODE_GRAY ? src[x] : ((src[x >> 3] >> (7 - (x & 7))) & 1) * 255;
  }
  g._x -= border, g._y -= border, g._w += 2 * border, g._h += 2 * border;
  g._pixmap = std::move(pixmap);
  return g;
}
