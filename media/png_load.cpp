// PNG decoding through libpng, reading from any stream.
#include <png.h>

#include <csetjmp>
#include <vector>

#include "media/image.h"
#include "media/stream.h"

namespace {

void ReadFromStream(png_structp png, png_bytep out, png_size_t count) {
  auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
  while (count > 0) {
    int n = stream->Read(out, static_cast<int>(count));
    if (n <= 0) png_error(png, "truncated");
    out += n;
    count -= static_cast<png_size_t>(n);
  }
}

// A broken file is just "no image": keep libpng quiet about it.
void Quiet(png_structp, png_const_charp) {}
[[noreturn]] void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// libpng reports errors by longjmp, so the two steps that may fail live in
// functions that own no C++ objects.
bool ReadHeader(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);

  // No gamma handling on purpose: the pixels are taken exactly as stored.
  int colorType = png_get_color_type(png, info);
  int depth = png_get_bit_depth(png, info);
  if (depth == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  // Grey with alpha (its own channel or a tRNS chunk) becomes RGBA.
  bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (trns) png_set_tRNS_to_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY && trns))
    png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool ReadRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

std::unique_ptr<TPixmap> LoadPixmapPNG(TStream& stream) {
  png_byte sig[8];
  if (stream.Read(sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) return nullptr;

  PngReader r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Quiet);
  if (!r.png || !(r.info = png_create_info_struct(r.png))) return nullptr;
  png_set_read_fn(r.png, &stream, ReadFromStream);
  if (!ReadHeader(r.png, r.info)) return nullptr;

  int format;
  switch (png_get_color_type(r.png, r.info)) {
    case PNG_COLOR_TYPE_GRAY: format = PF_I8; break;
    case PNG_COLOR_TYPE_RGB: format = PF_RGB888; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: format = PF_RGBA8888; break;
    default: return nullptr;
  }
  int width = static_cast<int>(png_get_image_width(r.png, r.info));
  int height = static_cast<int>(png_get_image_height(r.png, r.info));
  if (static_cast<int>(png_get_rowbytes(r.png, r.info)) != width * PixelBytes(format))
    return nullptr;
  // Deflate expands at most 1032 to 1, so a header that claims more pixels
  // than the rest of the file can hold is not believed.
  int left = stream.Size() >= 0 ? stream.Size() - stream.Pos() : -1;
  if (left >= 0 &&
      (static_cast<long long>(width) * PixelBytes(format) + 1) * height > 1032LL * left + 1024)
    return nullptr;
  std::unique_ptr<TPixmap> pixmap = TPixmap::Create(width, height, format);
  if (!pixmap) return nullptr;
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = pixmap->Row(y);
  if (!ReadRows(r.png, rows.data())) return nullptr;
  return pixmap;
}

std::unique_ptr<TPixmap> LoadPixmap(const Text& url) {
  StreamRef s = OpenFileForReading(url);
  if (!s) return nullptr;
  std::unique_ptr<TPixmap> p = LoadPixmapPNG(*s);
  s->Close();
  return p;
}
