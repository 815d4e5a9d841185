// PNG reading and writing for the web build, on stb_image and
// stb_image_write: the same pixmap formats the desktop's libpng loader gives.
#include <stb_image.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "media/graphics.h"
#include "media/image.h"
#include "media/stream.h"
#include "media/stream_kinds.h"

std::unique_ptr<TPixmap> LoadPixmapPNG(TStream& stream) {
  std::shared_ptr<TBank> bank = LoadBank(stream);
  const auto* bytes = bank->bytes.data();
  const int size = static_cast<int>(bank->bytes.size());
  int w = 0, h = 0, channels = 0;
  if (size < 8 || std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) != 0 ||
      !stbi_info_from_memory(bytes, size, &w, &h, &channels))
    return nullptr;
  // Grey stays one byte a pixel, RGB three; grey with alpha (its own channel
  // or a transparent colour) and palettes with one become RGBA.
  const int format = channels == 1 ? PF_I8 : channels == 3 ? PF_RGB888 : PF_RGBA8888;
  const int want = channels == 2 ? 4 : channels;
  std::unique_ptr<stbi_uc, void (*)(void*)> px(
      stbi_load_from_memory(bytes, size, &w, &h, &channels, want), stbi_image_free);
  if (!px) return nullptr;
  std::unique_ptr<TPixmap> pixmap = TPixmap::Create(w, h, format);
  if (!pixmap) return nullptr;
  for (int y = 0; y < h; ++y)
    std::memcpy(pixmap->Row(y), px.get() + static_cast<size_t>(y) * w * want,
                static_cast<size_t>(w) * want);
  return pixmap;
}

std::unique_ptr<TPixmap> LoadPixmap(const Text& url) {
  StreamRef s = OpenFileForReading(url);
  if (!s) return nullptr;
  std::unique_ptr<TPixmap> p = LoadPixmapPNG(*s);
  s->Close();
  return p;
}

bool SaveRgbaPNG(const TRgbaPixels& pixels, const std::string& path) {
  if (pixels.rgba.empty()) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) return false;
  bool ok = stbi_write_png_to_func(
      [](void* file, void* data, int size) {
        std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(file));
      },
      f.get(), pixels.width, pixels.height, 4, pixels.rgba.data(), pixels.width * 4);
  return ok && std::fflush(f.get()) == 0;
}
