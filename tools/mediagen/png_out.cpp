#include "png_out.h"

#include <png.h>

#include <cstdio>

bool WritePng(const std::string& path, int width, int height, PngKind kind,
              const std::vector<uint8_t>& pixels) {
  const int bpp = static_cast<int>(kind);
  if (pixels.size() != static_cast<size_t>(width) * height * bpp) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  const int colourType = kind == PngKind::Grey  ? PNG_COLOR_TYPE_GRAY
                         : kind == PngKind::Rgb ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(pixels.data() + static_cast<size_t>(y) * width * bpp));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}
