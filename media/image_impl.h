// The insides of images and fonts, shared by the image, font and collision
// code of the media layer.
#pragma once
#include <memory>
#include <vector>

#include "media/image.h"

class TImage {
 public:
  int width = 0, height = 0;  // of one frame
  int flags = 0;
  int mask_r = 0, mask_g = 0, mask_b = 0;
  float handle_x = 0, handle_y = 0;
  std::vector<std::unique_ptr<TPixmap>> pixmaps;     // null until set or locked
  std::vector<std::unique_ptr<TImageFrame>> frames;  // textures, made on first draw
  std::vector<int> seqs;                             // graphicsSeq of each texture, 0 = none
  // Per frame, the quads of it that can change the screen (see image.cpp),
  // worked out on first use; empty when the whole frame is to be drawn.
  std::vector<std::vector<float>> bands;
  std::vector<char> bandsKnown;

  TImageFrame* Frame(int index);  // (re)made when the display changed since
  TPixmap* Lock(int index, bool read, bool write);
  void SetPixmap(int index, std::unique_ptr<TPixmap> pixmap);  // masks it if the flags say so
  int CountFrames() const { return static_cast<int>(pixmaps.size()); }

  static std::unique_ptr<TImage> Create(int width, int height, int frames, int flags, int mask_r,
                                        int mask_g, int mask_b);
  static std::unique_ptr<TImage> Load(const Text& url, int flags, int mask_r, int mask_g,
                                      int mask_b);
  static std::unique_ptr<TImage> LoadAnim(const Text& url, int cellWidth, int cellHeight,
                                          int firstCell, int cellCount, int flags, int mask_r,
                                          int mask_g, int mask_b);
};

// RGBA copy in which pixels of the mask colour are transparent and take the
// average colour of their unmasked neighbours.
std::unique_ptr<TPixmap> MaskPixmap(const TPixmap& src, int mask_r, int mask_g, int mask_b);

// --- Fonts ---
struct TFreeTypeGlyph {
  std::unique_ptr<TPixmap> _pixmap;  // A8 coverage, null for blank glyphs
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;
  bool loaded = false;
};

class TFreeTypeFont {
 public:
  ~TFreeTypeFont();
  static std::unique_ptr<TFreeTypeFont> Load(const Text& url, int size, int style);
  int CountGlyphs() const { return static_cast<int>(_glyphs.size()); }
  int CharToGlyph(int code) const;  // -1 when the font has no glyph for it
  const TFreeTypeGlyph& LoadGlyph(int index);

  void* _face = nullptr;  // FT_Face
  int _style = 0, _height = 0, _ascend = 0, _descend = 0;
  std::vector<TFreeTypeGlyph> _glyphs;
  std::vector<unsigned char> _buf;  // the font file; FreeType reads it in place
};

struct TImageGlyph {
  std::unique_ptr<TImage> _image;  // null for blank glyphs such as space
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;
  bool loaded = false;

  TPixmap* Pixels() { return _image ? _image->pixmaps[0].get() : nullptr; }
  float Advance() const { return _advance; }
  void GetRect(int& x, int& y, int& w, int& h) const { x = _x, y = _y, w = _w, h = _h; }
};

class TImageFont {
 public:
  int Style() const;
  int Height() const;
  int CountGlyphs() const { return static_cast<int>(_glyphs.size()); }
  int CharToGlyph(int code) const;
  TImageGlyph* LoadGlyph(int index);  // rendered on first use; null outside the table
  void Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy);

  static std::unique_ptr<TImageFont> Load(const Text& url, int size, int style);
  static std::unique_ptr<TImageFont> CreateDefault();

  std::unique_ptr<TFreeTypeFont> _src_font;  // null for the built-in font
  std::vector<TImageGlyph> _glyphs;
  int _imageFlags = 0;
};

TImageFont* DefaultFont();  // the built-in 8 x 16 font, made on first use
