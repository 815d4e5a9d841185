// The PNG loader: any bytes give either no picture or a whole, consistent
// one, and never more pixel memory than the data can fill.
#include <algorithm>

#include "media/image.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto stream = InputStream(data, size);
  std::unique_ptr<TPixmap> p = LoadPixmapPNG(*stream);
  if (!p) return 0;
  FUZZ_CHECK(p->format == PF_I8 || p->format == PF_RGB888 || p->format == PF_RGBA8888);
  FUZZ_CHECK(p->width > 0 && p->height > 0);
  FUZZ_CHECK(p->pitch >= p->width * PixelBytes(p->format));
  FUZZ_CHECK(p->capacity >= p->pitch * p->height);
  // zlib cannot expand data more than about 1032 times.
  FUZZ_CHECK(static_cast<long long>(p->capacity) <= 1100LL * static_cast<long long>(size) + 4096);
  uint32_t mix = 0;
  for (int y = 0; y < p->height; y += std::max(1, p->height / 7))
    for (int x = 0; x < p->width; x += std::max(1, p->width / 7)) mix ^= p->ReadPixel(x, y);
  (void)mix;
  return 0;
}
