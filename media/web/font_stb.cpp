// TrueType faces for the web build, on stb_truetype: glyphs rasterised at
// the pixel size into the same coverage pixmaps the desktop's FreeType
// faces give (without hinting, so edges differ by a shade here and there).
#include <stb_truetype.h>

#include <cmath>

#include "media/image_impl.h"
#include "media/stream_kinds.h"

namespace {
struct TFace {
  stbtt_fontinfo info;
  float scale = 1;
};
TFace& Face(void* face) { return *static_cast<TFace*>(face); }
}  // namespace

TFreeTypeFont::~TFreeTypeFont() { delete static_cast<TFace*>(_face); }

std::unique_ptr<TFreeTypeFont> TFreeTypeFont::Load(const Text& url, int size, int style) {
  if (size <= 0) return nullptr;
  StreamRef s = OpenFileForReading(url);
  if (!s) return nullptr;
  auto font = std::make_unique<TFreeTypeFont>();
  const unsigned char* bytes;
  if (auto* ram = dynamic_cast<TRamStream*>(s.get())) {
    bytes = ram->_buf;  // an embedded file lives as long as the program
  } else {
    font->_buf = std::move(LoadBank(*s)->bytes);
    bytes = font->_buf.data();
  }
  s->Close();
  auto face = std::make_unique<TFace>();
  if (!stbtt_InitFont(&face->info, bytes, stbtt_GetFontOffsetForIndex(bytes, 0)) ||
      face->info.numGlyphs <= 0)
    return nullptr;
  face->scale = stbtt_ScaleForMappingEmToPixels(&face->info, float(size));
  int ascent = 0, descent = 0, gap = 0;
  stbtt_GetFontVMetrics(&face->info, &ascent, &descent, &gap);
  font->_style = style;
  font->_ascend = int(std::ceil(ascent * face->scale));
  font->_descend = int(std::floor(descent * face->scale));
  font->_height = int(std::lround((ascent - descent + gap) * face->scale));
  font->_glyphs.resize(size_t(face->info.numGlyphs));
  font->_face = face.release();
  return font;
}

int TFreeTypeFont::CharToGlyph(int code) const {
  if (code < 0) return -1;
  return stbtt_FindGlyphIndex(&Face(_face).info, code) - 1;
}

const TFreeTypeGlyph& TFreeTypeFont::LoadGlyph(int index) {
  TFreeTypeGlyph& g = _glyphs[size_t(index)];
  if (g.loaded) return g;
  g.loaded = true;
  // The glyph table skips the face's glyph 0 (the "missing" box).
  const TFace& face = Face(_face);
  const int glyph = index + 1;
  int advance = 0, bearing = 0, x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  stbtt_GetGlyphHMetrics(&face.info, glyph, &advance, &bearing);
  stbtt_GetGlyphBitmapBox(&face.info, glyph, face.scale, face.scale, &x0, &y0, &x1, &y1);
  g._advance = std::round(advance * face.scale);
  g._x = x0;
  g._y = _ascend + y0;
  g._w = x1 - x0;
  g._h = y1 - y0;
  if (g._w <= 0 || g._h <= 0) return g;
  // Smooth glyphs get a clear one-pixel border, so filtering and mipmaps
  // fade out at the edge instead of smearing the glyph's outer pixels.
  const int border = (_style & FONT_SMOOTH) ? 1 : 0;
  auto pixmap = TPixmap::Create(g._w + 2 * border, g._h + 2 * border, PF_A8);
  if (!pixmap) return g;
  pixmap->ClearPixels();
  stbtt_MakeGlyphBitmap(&face.info, pixmap->Row(border) + border, g._w, g._h, pixmap->pitch,
                        face.scale, face.scale, glyph);
  g._x -= border, g._y -= border, g._w += 2 * border, g._h += 2 * border;
  g._pixmap = std::move(pixmap);
  return g;
}
