// The light map, the grid glow and the scan lines.
#include "flow/light.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

// Everything the steady part of the glow depends on: the grid picture and
// the point the trail converges on.
uint64_t GlowKey(int px, int py) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(uint32_t(px));
  mix(uint32_t(py));
  if (TPixmap* pixmap = gridImage ? LockImageFrame(gridImage, 0, true, false) : nullptr)
    for (int y = 0; y < pixmap->height; y++)
      for (int x = 0; x < pixmap->width; x++) mix(pixmap->ReadPixel(x, y));
  return h;
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
  if (BeginSteadyLight(GlowKey(px, py))) {
    // Smaller copies, each keeping the point near the ship in place: a zoom
    // trail that converges on the ship.
    for (int s = 18; s <= 22; s++) {
      SetDrawScale(float(s), float(s));
      SetAlpha(float(0.25 * s / (10 * (23.5 - s))));
      DrawImageFrame(gridImage, float(400 - px * (24 - s)), float(300 - py * (24 - s)), 0);
    }
    SetDrawScale(24, 24);
    SetAlpha(1);
    DrawImageFrame(gridImage, 400, 300, 0);
    SetViewport(0, 0, 800, 600);
    DrawScanlines();
    SetViewport(vx, vy, vw, vh);
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
