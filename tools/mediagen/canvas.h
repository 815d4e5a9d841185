#pragma once
// Float pictures and the distance-field helpers the pictures are drawn with.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "png_out.h"

struct Vec2 {
  double x = 0, y = 0;
};
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator*(Vec2 a, double s) { return {a.x * s, a.y * s}; }
inline double Dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }
inline double Len(Vec2 a) { return std::sqrt(Dot(a, a)); }

// A picture with 1, 3 or 4 float channels, values 0..1 (alpha last).
struct Canvas {
  int w, h, ch;
  std::vector<float> px;
  Canvas(int width, int height, int channels)
      : w(width), h(height), ch(channels), px(static_cast<size_t>(width) * height * channels, 0.0f) {}
  float& At(int x, int y, int c) { return px[(static_cast<size_t>(y) * w + x) * ch + c]; }
  float At(int x, int y, int c) const { return px[(static_cast<size_t>(y) * w + x) * ch + c]; }
};

inline double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
inline double Smooth(double e0, double e1, double v) {
  const double t = Clamp01((v - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}
inline double Mix(double a, double b, double t) { return a + (b - a) * t; }

// Distance from p to the segment a-b.
inline double SegDist(Vec2 p, Vec2 a, Vec2 b) {
  const Vec2 ab = b - a, ap = p - a;
  const double t = std::clamp(Dot(ap, ab) / std::max(Dot(ab, ab), 1e-12), 0.0, 1.0);
  return Len(ap - ab * t);
}

// Signed distance to a closed polygon (negative inside).
inline double PolyDist(Vec2 p, const std::vector<Vec2>& poly) {
  double d = 1e9;
  bool inside = false;
  for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    d = std::min(d, SegDist(p, poly[j], poly[i]));
    const Vec2 a = poly[i], b = poly[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
  }
  return inside ? -d : d;
}

// Coverage of a pixel by a shape from its signed distance (AA over one pixel).
inline double Cover(double sdf) { return Clamp01(0.5 - sdf); }

// Bytes for PNG. Grey and RGB pictures: a pixel whose brightest channel would be
// below `cutoff` becomes pure black, since the game treats black as transparent
// and everything else as solid.
inline std::vector<uint8_t> ToBytes(const Canvas& c, int cutoff) {
  std::vector<uint8_t> out(c.px.size());
  for (int i = 0; i < c.w * c.h; ++i) {
    int maxv = 0;
    for (int k = 0; k < c.ch; ++k) {
      const int v = static_cast<int>(std::lround(Clamp01(c.px[static_cast<size_t>(i) * c.ch + k]) * 255.0));
      out[static_cast<size_t>(i) * c.ch + k] = static_cast<uint8_t>(v);
      if (c.ch != 4 || k < 3) maxv = std::max(maxv, v);
    }
    if (c.ch != 4 && maxv < cutoff)
      for (int k = 0; k < c.ch; ++k) out[static_cast<size_t>(i) * c.ch + k] = 0;
  }
  return out;
}
