// Images (one or more equally sized frames with a handle point), pixmaps,
// fonts and their drawing. Textures are made lazily from the pixmaps and
// rebuilt after the display is reopened.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/graphics.h"
#include "media/text.h"

// --- Pixmap formats ---
constexpr int PF_I8 = 1, PF_A8 = 2, PF_BGR888 = 3, PF_RGB888 = 4, PF_BGRA8888 = 5, PF_RGBA8888 = 6;

class TStream;

int PixelBytes(int format);       // bytes per pixel: 1, 1, 3, 3, 4, 4
bool FormatHasAlpha(int format);  // A8, BGRA8888 and RGBA8888

class TPixmap {
 public:
  uint8_t* pixels = nullptr;
  int width = 0, height = 0, pitch = 0, format = 0, capacity = 0;
  std::shared_ptr<uint8_t[]> _storage;  // shared by windows into this pixmap
  // Rows are padded to a multiple of 4 bytes; the pixels are not cleared.
  static std::unique_ptr<TPixmap> Create(int width, int height, int format);
  std::unique_ptr<TPixmap> Window(int x, int y, int w, int h);  // shares the pixels
  std::unique_ptr<TPixmap> Copy() const;
  void Paste(const TPixmap& src, int x, int y);
  std::unique_ptr<TPixmap> Convert(int format) const;
  void WritePixel(int x, int y, uint32_t argb);
  uint32_t ReadPixel(int x, int y) const;  // ARGB
  void ClearPixels();                      // every byte 0 (transparent black)
  uint8_t* Row(int y) const { return pixels + static_cast<ptrdiff_t>(y) * pitch; }
  virtual ~TPixmap();
};

// PNG: grey gives I8, RGB gives RGB888, RGBA gives RGBA8888 (palettes and
// small grey depths expanded, 16-bit channels cut to 8, no gamma applied).
std::unique_ptr<TPixmap> LoadPixmapPNG(TStream& stream);  // null when it is not a readable PNG
std::unique_ptr<TPixmap> LoadPixmap(const Text& url);     // a path or "incbin::name"

// --- Image flags ---
constexpr int IMAGE_MASKED = 1, IMAGE_FILTERED = 2, IMAGE_MIPMAPPED = 4, IMAGE_DYNAMIC = 8;

class TImage;  // defined in the implementation header media/image_impl.h if needed

TImage* LoadImageFile(const Text& url, int flags = -1);
TImage* LoadImageStrip(const Text& url, int cellWidth, int cellHeight, int firstCell, int cellCount,
                       int flags = -1);
TImage* CreateBlankImage(int width, int height, int frames = 1, int flags = -1);
TImage* LoadImagePixmap(const TPixmap& pixmap, int flags = -1);  // a copy as its one frame
void SetImageHandlePoint(TImage* image, float x, float y);
void CentreImageHandle(TImage* image);
void SetAutoCentreHandle(bool enable);
TPixmap* LockImageFrame(TImage* image, int frame, bool read = true, bool write = true);
void UnlockImageFrame(TImage* image, int frame);
void DrawImageFrame(TImage* image, float x, float y, int frame = 0);
void TileImageFrame(TImage* image, float x, float y, int frame = 0);
bool ImagesOverlap(TImage* image1, float x1, float y1, int frame1, TImage* image2, float x2,
                   float y2, int frame2);
int ImageWidth(TImage* image);
int ImageHeight(TImage* image);
int ImageFrames(TImage* image);
float ImageHandleX(TImage* image);
float ImageHandleY(TImage* image);

// --- Fonts and text drawing ---
constexpr int FONT_BOLD = 1, FONT_ITALIC = 2, FONT_SMOOTH = 4;
class TImageFont;
TImageFont* LoadFontFile(const Text& url, int size, int style);
void SetCurrentFont(TImageFont* font);  // null selects the built-in font
TImageFont* CurrentFont();
void DrawString(const Text& text, float x, float y);
int StringWidth(const Text& text);
