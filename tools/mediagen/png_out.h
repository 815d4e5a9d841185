#pragma once
// PNG writing: 8-bit, non-interlaced, no palette, no transparency chunk.
#include <cstdint>
#include <string>
#include <vector>

enum class PngKind { Grey = 1, Rgb = 3, Rgba = 4 };  // value = bytes per pixel

// pixels: rows top to bottom, tightly packed. Returns false on a write error.
bool WritePng(const std::string& path, int width, int height, PngKind kind,
              const std::vector<uint8_t>& pixels);
