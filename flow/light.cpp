// The light map, the grid glow and the scan lines.
#include "flow/light.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "world/level.h"
#include "world/player.h"

int lightMap[LIGHT_W][LIGHT_H][3];

namespace {
constexpr double DEG = 3.14159265358979323846 / 180.0;
// A little above 5, so a steady glow fades by about 1 % a tick; held as
// a float and divided in double precision.
constexpr double LIGHT_DIVISOR = double(5.05f);
}  // namespace

uint32_t LightPixel(int r, int g, int b) {
  uint32_t a = uint32_t(std::min(std::abs(r + g + b), 255) / 2);
  return (a << 24) | (uint32_t(r & 255) << 16) | (uint32_t(g & 255) << 8) | uint32_t(b & 255);
}

void AddLight(int x, int y, int r, int g, int b) {
  if (logicOnly) return;
  int i = x / 12 + 2, j = y / 12 + 2;
  if (i < 0 || i >= LIGHT_W || j < 0 || j >= LIGHT_H) return;  // off the map: nothing lights up
  lightMap[i][j][0] += r;
  lightMap[i][j][1] += g;
  lightMap[i][j][2] += b;
}

// In place: the left and upper neighbours already hold this pass's values,
// so light creeps one cell up and left per pass but cascades down and right.
void SmoothLightMap() {
  if (logicOnly) return;
  for (int j = 1; j <= 48; j++) {
    for (int i = 1; i <= 68; i++) {
      int next[3];
      for (int c = 0; c < 3; c++) {
        int sum = lightMap[i - 1][j][c] + lightMap[i + 1][j][c] + lightMap[i][j - 1][c] +
                  lightMap[i][j + 1][c] + lightMap[i][j][c];
        next[c] = int(sum / LIGHT_DIVISOR);
      }
      for (int c = 0; c < 3; c++) lightMap[i][j][c] = next[c];
    }
  }
}

void ClearLightMap() {
  for (int j = 1; j <= 48; j++)
    for (int i = 1; i <= 68; i++)
      for (int c = 0; c < 3; c++) lightMap[i][j][c] = 0;
}

void BlankLightImage() {
  if (logicOnly) return;
  TPixmap* pixmap = lightImage ? LockImageFrame(lightImage, 0, true, true) : nullptr;
  if (pixmap) {
    for (int j = 1; j <= 48; j++)
      for (int i = 1; i <= 68; i++) pixmap->WritePixel(i, j, 0);
  }
  if (pixmap) UnlockImageFrame(lightImage, 0);
}

void DrawLightMap() {
  if (logicOnly) return;
  TPixmap* pixmap = lightImage ? LockImageFrame(lightImage, 0, true, true) : nullptr;
  if (pixmap) {
    for (int j = 1; j <= 48; j++) {
      for (int i = 1; i <= 68; i++) {
        int r = lightMap[i][j][0], g = lightMap[i][j][1], b = lightMap[i][j][2];
        uint32_t a = uint32_t(std::min(std::abs(r + g + b), 255) / 2);  // from the unclamped sum
        r = std::clamp(r, 0, 255);
        g = std::clamp(g, 0, 255);
        b = std::clamp(b, 0, 255);
        pixmap->WritePixel(i, j,
                           (a << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b));
      }
    }
  }
  if (pixmap) UnlockImageFrame(lightImage, 0);
  SetDrawScale(12, 12);
  SetColor(255, 255, 255);
  SetDrawRotation(0);
  SetAlpha(1);
  DrawImageFrame(lightImage, -24, -24, 0);
  SetDrawScale(1, 1);
}

void RefreshGridImage() {
  if (logicOnly) return;
  TPixmap* pixmap = gridImage ? LockImageFrame(gridImage, 0, true, true) : nullptr;
  if (pixmap) {
    for (int x = 0; x <= 33; x++) {
      for (int y = 0; y <= 23; y++) {
        int v = levelGrid[x][y];
        uint32_t pixel = 0;
        if (v != 0 && !IsPlayerGap(x, y)) {
          const int* c = v == 1 ? trailColour : lineColour;
          pixel = LightPixel(c[0], c[1], c[2]);
        }
        pixmap->WritePixel(x, y, pixel);
      }
    }
  }
  if (pixmap) UnlockImageFrame(gridImage, 0);
}

namespace {

// The grid picture as it is drawn now, texel by texel.
std::vector<uint32_t> GridTexels() {
  std::vector<uint32_t> texels;
  if (TPixmap* pixmap = gridImage ? LockImageFrame(gridImage, 0, true, false) : nullptr)
    for (int y = 0; y < pixmap->height; y++)
      for (int x = 0; x < pixmap->width; x++) texels.push_back(pixmap->ReadPixel(x, y));
  return texels;
}

// Everything the steady part of the glow depends on: the grid picture and
// the point the trail converges on.
uint64_t GlowKey(int px, int py, const std::vector<uint32_t>& texels) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(uint32_t(px));
  mix(uint32_t(py));
  for (uint32_t t : texels) mix(t);
  return h;
}

// Where the trail copy of scale s (24 for the steady copy) is drawn.
float CopyX(int px, int s) { return float(400 - px * (24 - s)); }
float CopyY(int py, int s) { return float(300 - py * (24 - s)); }

// The steady glow as last drawn: while the ship stays in its cell only the
// screen under the grid texels that changed is drawn again.
struct TKeptGlow {
  bool known = false;
  int px = 0, py = 0;
  uint64_t key = 0;
  std::vector<uint32_t> texels;
};
TKeptGlow keptGlow;

// The part of the screen the steady glow of `now` differs in from the kept
// one: the changed texels widened by the one texel filtering reaches, through
// each copy, and a pixel more. False when they cannot be compared.
bool GlowChange(int px, int py, const std::vector<uint32_t>& now, uint64_t key,
                TSteadyChange& change) {
  const TKeptGlow& k = keptGlow;
  if (!k.known || k.px != px || k.py != py || k.texels.size() != now.size() || k.key == key ||
      !gridImage)
    return false;
  const int w = ImageWidth(gridImage), h = ImageHeight(gridImage);
  if (size_t(w) * h != now.size()) return false;
  int x0 = w, y0 = h, x1 = -1, y1 = -1;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      if (now[size_t(y) * w + x] != k.texels[size_t(y) * w + x])
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  if (x1 < 0) return false;
  const float tx0 = float(x0 - 1) - ImageHandleX(gridImage), tx1 = float(x1 + 2) - ImageHandleX(gridImage);
  const float ty0 = float(y0 - 1) - ImageHandleY(gridImage), ty1 = float(y1 + 2) - ImageHandleY(gridImage);
  float left = 800, top = 600, right = 0, bottom = 0;
  for (int s = 18; s <= 24; s++) {
    if (s == 23) continue;  // five trail copies and the steady one
    left = std::min(left, CopyX(px, s) + tx0 * s), right = std::max(right, CopyX(px, s) + tx1 * s);
    top = std::min(top, CopyY(py, s) + ty0 * s), bottom = std::max(bottom, CopyY(py, s) + ty1 * s);
  }
  const int l = std::max(0, int(std::floor(left)) - 1), t = std::max(0, int(std::floor(top)) - 1);
  const int r = std::min(800, int(std::ceil(right)) + 1), b = std::min(600, int(std::ceil(bottom)) + 1);
  if (r <= l || b <= t) return false;
  change = {k.key, l, t, r - l, b - t};
  return true;
}

}  // namespace

void DrawGridGlow() {
  if (logicOnly) return;
  int px = 0, py = 0;
  if (player) {
    px = (400 - player->x) / 24;
    py = (300 - player->y) / 24;
  }
  SetColor(255, 255, 255);
  SetDrawRotation(0);
  // The trail, the steady copy and the scan lines change only when the grid
  // or the ship's cell does; the renderer keeps them in between.
  const T2DGraphics* g = Current2D();
  const int vx = g ? g->viewport_x : 0, vy = g ? g->viewport_y : 0;
  const int vw = g ? g->viewport_w : 800, vh = g ? g->viewport_h : 600;
  std::vector<uint32_t> texels = GridTexels();
  const uint64_t key = GlowKey(px, py, texels);
  TSteadyChange change{};
  const bool redraw = GlowChange(px, py, texels, key, change) ? BeginSteadyLight(key, change)
                                                               : BeginSteadyLight(key);
  keptGlow = {true, px, py, key, std::move(texels)};
  if (redraw) {
    // The scan lines first, onto the clear picture, where the renderer can
    // copy them in whole; light adds up the same in any order.
    SetViewport(0, 0, 800, 600);
    DrawFixedLight(DrawScanlines);
    SetViewport(vx, vy, vw, vh);
    // Smaller copies, each keeping the point near the ship in place: a zoom
    // trail that converges on the ship.
    for (int s = 18; s <= 22; s++) {
      SetDrawScale(float(s), float(s));
      SetAlpha(float(0.25 * s / (10 * (23.5 - s))));
      DrawImageFrame(gridImage, CopyX(px, s), CopyY(py, s), 0);
    }
    SetDrawScale(24, 24);
    SetAlpha(1);
    DrawImageFrame(gridImage, 400, 300, 0);
  }
  EndSteadyLight();
  SetDrawScale(24, 24);
  SetAlpha(1);
  int m5 = ElapsedMillis() / 5;
  int m8 = ElapsedMillis() / 8;
  DrawImageFrame(gridImage, float(400 + 3 * std::sin(m8 * DEG)),
                 float(300 + 3 * std::cos(m5 * DEG)), 0);
  // As the scan lines leave it.
  SetViewport(0, 0, 800, 600);
  SetDrawScale(1, 1);
  SetLineWidth(2);
  SetAlpha(1);
  SetColor(255, 255, 255);
}

void DrawScanlines() {
  if (logicOnly) return;
  SetDrawScale(1, 1);
  SetLineWidth(2);
  SetAlpha(0.25f);
  SetColor(64, 64, 64);
  for (int y = 0; y <= 600; y += 4) DrawLine(0, float(y), 800, float(y));
  SetAlpha(1);
  SetColor(255, 255, 255);
}
