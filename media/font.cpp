// Image fonts: glyphs of a TrueType face (font_freetype.cpp) turned into
// images on first use, the built-in 8 x 16 bitmap font, and text drawing.
#include "media/image_impl.h"

namespace {

// The built-in font: 16 rows of 96 bytes, byte j of row i holding row i of
// the glyph for character 32 + j, least significant bit leftmost.
constexpr unsigned char DEFAULT_FONT_BITS[1536] = {
#include "media/default_font_bits.inc"
};
}  // namespace

// --- TImageFont ---

int TImageFont::Style() const { return _src_font ? _src_font->_style : 0; }
int TImageFont::Height() const { return _src_font ? _src_font->_height : 16; }

int TImageFont::CharToGlyph(int code) const {
  if (_src_font) return _src_font->CharToGlyph(code);
  return code >= 32 && code < 128 ? code - 32 : -1;
}

TImageGlyph* TImageFont::LoadGlyph(int index) {
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  TImageGlyph& g = _glyphs[static_cast<size_t>(index)];
  if (g.loaded || !_src_font) return &g;
  g.loaded = true;
  const TFreeTypeGlyph& src = _src_font->LoadGlyph(index);
  g._advance = src._advance;
  g._x = src._x, g._y = src._y, g._w = src._w, g._h = src._h;
  if (src._pixmap) {
    // An A8 pixmap becomes white texels with the coverage as alpha, so
    // text takes the drawing colour.
    g._image = TImage::Create(src._pixmap->width, src._pixmap->height, 1, _imageFlags, 0, 0, 0);
    if (g._image) g._image->SetPixmap(0, src._pixmap->Copy());
  }
  return &g;
}

void TImageFont::Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy) {
  if (DrawingDiscarded()) return;
  for (char16_t c : text) {
    TImageGlyph* g = LoadGlyph(CharToGlyph(c));
    if (!g) continue;  // no glyph: the pen stays where it is
    if (g->_image)
      if (TImageFrame* f = g->_image->Frame(0))
        f->Draw(0, 0, static_cast<float>(g->_image->width), static_cast<float>(g->_image->height),
                x + g->_x * ix + g->_y * iy, y + g->_x * jx + g->_y * jy);
    x += ix * g->_advance;
    y += jx * g->_advance;
  }
}

std::unique_ptr<TImageFont> TImageFont::Load(const Text& url, int size, int style) {
  auto src = TFreeTypeFont::Load(url, size, style);
  if (!src) return nullptr;
  auto font = std::make_unique<TImageFont>();
  font->_glyphs.resize(static_cast<size_t>(src->CountGlyphs()));
  font->_imageFlags = (style & FONT_SMOOTH) ? IMAGE_FILTERED | IMAGE_MIPMAPPED : 0;
  font->_src_font = std::move(src);
  return font;
}

std::unique_ptr<TImageFont> TImageFont::CreateDefault() {
  auto font = std::make_unique<TImageFont>();
  font->_glyphs.resize(96);
  for (int j = 0; j < 96; ++j) {
    TImageGlyph& g = font->_glyphs[static_cast<size_t>(j)];
    g.loaded = true;
    g._advance = 8.0f;
    g._w = 8, g._h = 16;
    auto pixmap = TPixmap::Create(8, 16, PF_A8);
    for (int row = 0; row < 16; ++row)
      for (int bit = 0; bit < 8; ++bit)
        pixmap->Row(row)[bit] = (DEFAULT_FONT_BITS[row * 96 + j] >> bit & 1) ? 255 : 0;
    g._image = TImage::Create(8, 16, 1, 0, 0, 0, 0);
    g._image->SetPixmap(0, std::move(pixmap));
  }
  return font;
}

TImageFont* DefaultFont() {
  static TImageFont* font = TImageFont::CreateDefault().release();  // kept for the run
  return font;
}

// --- Current font and text drawing ---

TImageFont* LoadFontFile(const Text& url, int size, int style) {
  // Fonts live for the whole run; the list keeps them reachable.
  static auto* kept = new std::vector<TImageFont*>;
  TImageFont* font = TImageFont::Load(url, size, style).release();
  if (font) kept->push_back(font);
  return font;
}

void SetCurrentFont(TImageFont* font) {
  if (T2DGraphics* g = Current2D()) g->image_font = font;
}

TImageFont* CurrentFont() {
  T2DGraphics* g = Current2D();
  return g && g->image_font ? g->image_font : DefaultFont();
}

void DrawString(const Text& text, float x, float y) {
  T2DGraphics* g = Current2D();
  if (!g) return;
  const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
  CurrentFont()->Draw(text, x + g->origin_x + g->handle_x * ix + g->handle_y * iy,
                      y + g->origin_y + g->handle_x * jx + g->handle_y * jy, ix, iy, jx, jy);
}

int StringWidth(const Text& text) {
  TImageFont* font = CurrentFont();
  int width = 0;
  for (char16_t c : text)
    if (TImageGlyph* g = font->LoadGlyph(font->CharToGlyph(c)))
      width = FloatToInt(width + g->_advance);
  return width;
}
