// CPU-side pixel blocks: creation, windows, copies, format conversion and
// single-pixel access.
#include <algorithm>
#include <cstring>

#include "media/image.h"

int PixelBytes(int format) {
  switch (format) {
    case PF_I8:
    case PF_A8: return 1;
    case PF_BGR888:
    case PF_RGB888: return 3;
    case PF_BGRA8888:
    case PF_RGBA8888: return 4;
    default: return 0;
  }
}

bool FormatHasAlpha(int format) {
  return format == PF_A8 || format == PF_BGRA8888 || format == PF_RGBA8888;
}

TPixmap::~TPixmap() = default;

std::unique_ptr<TPixmap> TPixmap::Create(int width, int height, int format) {
  int bpp = PixelBytes(format);
  if (width <= 0 || height <= 0 || bpp == 0) return nullptr;
  if (static_cast<long long>(width) * bpp * height > (1LL << 30))
    return nullptr;  // no sane picture
  auto p = std::make_unique<TPixmap>();
  p->width = width;
  p->height = height;
  p->format = format;
  p->pitch = (width * bpp + 3) & ~3;
  p->capacity = p->pitch * height;
  p->_storage.reset(new uint8_t[static_cast<size_t>(p->capacity)]);
  p->pixels = p->_storage.get();
  return p;
}

std::unique_ptr<TPixmap> TPixmap::Window(int x, int y, int w, int h) {
  if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > width || y + h > height) return nullptr;
  auto p = std::make_unique<TPixmap>();
  p->width = w;
  p->height = h;
  p->format = format;
  p->pitch = pitch;
  p->capacity = -1;  // not its own memory
  p->_storage = _storage;
  p->pixels = Row(y) + x * PixelBytes(format);
  return p;
}

std::unique_ptr<TPixmap> TPixmap::Copy() const {
  auto p = Create(width, height, format);
  if (!p) return nullptr;
  size_t rowBytes = static_cast<size_t>(width) * PixelBytes(format);
  for (int y = 0; y < height; ++y) std::memcpy(p->Row(y), Row(y), rowBytes);
  return p;
}

void TPixmap::Paste(const TPixmap& src, int x, int y) {
  std::unique_ptr<TPixmap> converted;
  const TPixmap* s = &src;
  if (src.format != format) {
    converted = src.Convert(format);
    if (!converted) return;
    s = converted.get();
  }
  int bpp = PixelBytes(format);
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(width, x + s->width), y1 = std::min(height, y + s->height);
  if (x0 >= x1) return;
  for (int ty = y0; ty < y1; ++ty)
    std::memmove(Row(ty) + x0 * bpp, s->Row(ty - y) + (x0 - x) * bpp,
                 static_cast<size_t>(x1 - x0) * bpp);
}

std::unique_ptr<TPixmap> TPixmap::Convert(int toFormat) const {
  if (toFormat == format) return Copy();
  auto p = Create(width, height, toFormat);
  if (!p) return nullptr;
  // Everything passes through ARGB; grey to colour, colour to grey and the
  // alpha rules all live in ReadPixel and WritePixel.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p->WritePixel(x, y, ReadPixel(x, y));
  return p;
}

void TPixmap::WritePixel(int x, int y, uint32_t argb) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t a = argb >> 24, r = argb >> 16, g = argb >> 8, b = argb;
  uint8_t* p = Row(y) + x * PixelBytes(format);
  switch (format) {
    case PF_I8: p[0] = static_cast<uint8_t>((r + g + b) / 3); break;
    case PF_A8: p[0] = a; break;
    case PF_BGR888: p[0] = b, p[1] = g, p[2] = r; break;
    case PF_RGB888: p[0] = r, p[1] = g, p[2] = b; break;
    case PF_BGRA8888: p[0] = b, p[1] = g, p[2] = r, p[3] = a; break;
    case PF_RGBA8888: p[0] = r, p[1] = g, p[2] = b, p[3] = a; break;
  }
}

uint32_t TPixmap::ReadPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const uint8_t* p = Row(y) + x * PixelBytes(format);
  auto argb = [](uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
  };
  switch (format) {
    case PF_I8: return argb(255, p[0], p[0], p[0]);
    case PF_A8: return argb(p[0], 255, 255, 255);
    case PF_BGR888: return argb(255, p[2], p[1], p[0]);
    case PF_RGB888: return argb(255, p[0], p[1], p[2]);
    case PF_BGRA8888: return argb(p[3], p[2], p[1], p[0]);
    case PF_RGBA8888: return argb(p[3], p[0], p[1], p[2]);
  }
  return 0;
}

void TPixmap::ClearPixels() {
  size_t rowBytes = static_cast<size_t>(width) * PixelBytes(format);
  for (int y = 0; y < height; ++y) std::memset(Row(y), 0, rowBytes);
}
