// Small PNG files made inside a test, so image tests need no files from
// elsewhere. Pixels are given row by row as bytes of the PNG colour type.
#pragma once
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PngRecipe {
  int width = 0, height = 0;
  int colorType = PNG_COLOR_TYPE_RGB;  // GRAY, RGB, RGB_ALPHA or PALETTE
  int bitDepth = 8;
  std::vector<uint8_t> pixels;     // rows packed as libpng expects them
  std::vector<png_color> palette;  // for PALETTE
  double gamma = 0;                // written as a gAMA chunk when not 0
};

inline std::vector<uint8_t> EncodePng(const PngRecipe& recipe) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        v->insert(v->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, recipe.width, recipe.height, recipe.bitDepth, recipe.colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (recipe.colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, recipe.palette.data(), static_cast<int>(recipe.palette.size()));
  if (recipe.gamma != 0) png_set_gAMA(png, info, recipe.gamma);
  png_write_info(png, info);
  size_t rowBytes = recipe.pixels.size() / static_cast<size_t>(recipe.height);
  for (int y = 0; y < recipe.height; ++y)
    png_write_row(png, const_cast<png_bytep>(&recipe.pixels[static_cast<size_t>(y) * rowBytes]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// An 8-bit RGB picture from a function of (x, y) giving 0xRRGGBB.
template <typename F>
PngRecipe RgbPng(int w, int h, F colour) {
  PngRecipe s{w, h, PNG_COLOR_TYPE_RGB, 8, {}, {}, 0};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t c = colour(x, y);
      s.pixels.push_back(c >> 16 & 255);
      s.pixels.push_back(c >> 8 & 255);
      s.pixels.push_back(c & 255);
    }
  return s;
}

inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
