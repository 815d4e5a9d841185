// What the explosion puffs of a game over cost: the wreck keeps throwing
// five puffs a tick at 60 ticks a second, drawn at 50 frames a second, until
// as many live as die. Prints, with the drawing shortcuts on and off, the
// CPU time per frame of the puffs alone and of the whole game-over scene,
// and how many pixels the puffs' drawing touches (Mesa GL, offscreen).
//
// Beside them, the puffs composed on the CPU instead, one pixel at a time
// in llvmpipe's own arithmetic, as one picture that GL would then add in
// one go: what that costs, and how far it lands from what GL draws.
//
//   puff_bench [frames] [name]   (default 300 frames, after 150 to fill up;
//                                 a name saves the last scene as name-on.png
//                                 and name-off.png)
#include <SDL.h>
#include <SDL_opengl.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/image_impl.h"
#include "media/random.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Pixels a stretch of drawing touches, counted by GL itself.
struct PixelCount {
  PFNGLGENQUERIESPROC gen = nullptr;
  PFNGLBEGINQUERYPROC begin = nullptr;
  PFNGLENDQUERYPROC end = nullptr;
  PFNGLGETQUERYOBJECTUIVPROC get = nullptr;
  GLuint query = 0;
  PixelCount() {
    gen = reinterpret_cast<PFNGLGENQUERIESPROC>(SDL_GL_GetProcAddress("glGenQueries"));
    begin = reinterpret_cast<PFNGLBEGINQUERYPROC>(SDL_GL_GetProcAddress("glBeginQuery"));
    end = reinterpret_cast<PFNGLENDQUERYPROC>(SDL_GL_GetProcAddress("glEndQuery"));
    get =
        reinterpret_cast<PFNGLGETQUERYOBJECTUIVPROC>(SDL_GL_GetProcAddress("glGetQueryObjectuiv"));
    if (gen) gen(1, &query);
  }
  void Begin() {
    if (query) begin(GL_SAMPLES_PASSED, query);
  }
  double End() {
    if (!query) return 0;
    end(GL_SAMPLES_PASSED);
    GLuint n = 0;
    get(query, GL_QUERY_RESULT, &n);
    return n;
  }
};

// Level 7 lost, the ship's wreck in the middle of the play area.
void StartGameOver() {
  level = 7;
  int layout = 1;
  LevelSettings(level, levelLabel, layout, chaserCount, chaserSpeed, tickRate);
  SelectLayout(layout);
  delete player;
  player = new TPlayer;
  SetScore(0);
  SetHealth(0);
  ClearParticles();
  ClearLevelGrid();
  BlankLightImage();
  BuildLevel();
  player->x = 24 * 17 + 4;  // on the middle line, where puffs spread every way
  player->y = 24 * 10;
  tickRate = 60;
  tickMs = 1000 / tickRate;
  playState = PLAY_DEAD;
}

// One frame's ticks: 6 ticks every 5 frames, as 60 ticks a second at 50
// frames a second.
void Ticks(int frame) {
  for (int n = (frame + 1) * 6 / 5 - frame * 6 / 5; n > 0; --n) {
    for (int i = 0; i < 5; ++i)
      SpawnExplosion(static_cast<float>(player->x), static_cast<float>(player->y));
    UpdateParticles();
  }
}

// --- The puffs composed on the CPU ---
//
// llvmpipe samples a filtered RGBA8 texture in fixed point: the texel
// coordinate times 256, rounded, less half a texel, gives the texel and an
// 8-bit weight, and each lerp rounds. Colour and alpha are multiplied in
// unorm8 with rounding, and the light blend adds colour times alpha,
// saturating. Every pixel is sampled at its centre.

int Div255(int x) {  // x / 255 rounded, for x up to 255 * 255
  x += 128;
  return (x + (x >> 8)) >> 8;
}
// Bilinear filtering of two channels at once, each in its own 16 bits.
uint32_t Lerp2(uint32_t a, uint32_t b, uint32_t w) {
  return ((a * (256 - w) + b * w + 0x00800080u) >> 8) & 0x00FF00FFu;
}

struct CpuLayer {
  std::vector<uint32_t> px = std::vector<uint32_t>(800 * 600, 0);  // R, G, B, A from the low byte
};

// The texture with its edge repeated once around it, as the atlas keeps it.
struct PaddedTexture {
  int w = 0, h = 0;
  std::vector<uint32_t> texels;
  explicit PaddedTexture(const TPixmap& p) : w(p.width + 2), h(p.height + 2), texels(w * h) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* s =
            p.Row(std::clamp(y - 1, 0, p.height - 1)) + std::clamp(x - 1, 0, p.width - 1) * 4;
        texels[y * w + x] = s[0] | s[1] << 8 | s[2] << 16 | uint32_t(s[3]) << 24;
      }
  }
};

void ComposePuff(CpuLayer& layer, const PaddedTexture& tex, const T2DGraphics& g, double x,
                 double y, double hx, double hy) {
  const int w = tex.w - 2, h = tex.h - 2;
  const double ix = g.tform_ix, iy = g.tform_iy, jx = g.tform_jx, jy = g.tform_jy;
  const double det = ix * jy - iy * jx;
  const int col[4] = {g.color_red, g.color_green, g.color_blue,
                      int(uint8_t(g.color_alpha * 255.0f))};
  // Where the texel is opaque only the colour varies: its additions by table.
  uint8_t add[3][256];
  for (int k = 0; k < 3; ++k)
    for (int v = 0; v < 256; ++v) add[k][v] = uint8_t(Div255(Div255(v * col[k]) * col[3]));
  const uint32_t opaqueAlphaAdd = uint32_t(Div255(col[3] * col[3]));
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (int c = 0; c < 4; ++c) {
    const double lx = -hx + (c == 1 || c == 2 ? w : 0), ly = -hy + (c >= 2 ? h : 0);
    const double sx = lx * ix + ly * iy + x, sy = lx * jx + ly * jy + y;
    minX = std::min(minX, sx), maxX = std::max(maxX, sx);
    minY = std::min(minY, sy), maxY = std::max(maxY, sy);
  }
  // Texel coordinates times 256 in 32.32 fixed point, stepped along a row.
  constexpr double ONE = 4294967296.0;
  const int64_t stepS = std::llround(jy / det * 256 * ONE),
                stepT = std::llround(-jx / det * 256 * ONE);
  const int x0 = std::max(0, int(minX)), x1 = std::min(799, int(maxX));
  for (int py = std::max(0, int(minY)); py <= std::min(599, int(maxY)); ++py) {
    const double dx = x0 + 0.5 - x, dy = py + 0.5 - y;
    const double s = (jy * dx - iy * dy) / det + hx, t = (ix * dy - jx * dx) / det + hy;
    int64_t fs = std::llround((s * 256 - 127.5) * ONE), ft = std::llround((t * 256 - 127.5) * ONE);
    uint32_t* out = &layer.px[py * 800 + x0];
    for (int px = x0; px <= x1; ++px, fs += stepS, ft += stepT, ++out) {
      const int FS = int(fs >> 32), FT = int(ft >> 32);  // less half a texel, rounded
      if (FS < -128 || FT < -128 || FS >= w * 256 - 128 || FT >= h * 256 - 128) continue;
      if (*out == 0xFFFFFFFFu) continue;  // nothing adds to white
      const uint32_t* t4 = &tex.texels[((FT >> 8) + 1) * tex.w + (FS >> 8) + 1];
      const uint32_t a = t4[0], b = t4[1], c = t4[tex.w], d = t4[tex.w + 1];
      if ((a | b | c | d) == 0) continue;
      const uint32_t wx = FS & 255, wy = FT & 255, m = 0x00FF00FFu;
      const uint32_t even = Lerp2(Lerp2(a & m, b & m, wx), Lerp2(c & m, d & m, wx), wy);
      const uint32_t odd =
          Lerp2(Lerp2(a >> 8 & m, b >> 8 & m, wx), Lerp2(c >> 8 & m, d >> 8 & m, wx), wy);
      const int vr = even & 255, vb = even >> 16, vg = odd & 255, va = odd >> 16;
      int ar, ag, ab, aa;
      if (va == 255) {
        ar = add[0][vr], ag = add[1][vg], ab = add[2][vb], aa = int(opaqueAlphaAdd);
      } else {
        const int alpha = Div255(va * col[3]);
        ar = Div255(Div255(vr * col[0]) * alpha), ag = Div255(Div255(vg * col[1]) * alpha);
        ab = Div255(Div255(vb * col[2]) * alpha), aa = Div255(alpha * alpha);
      }
      const uint32_t o = *out;
      *out = uint32_t(std::min(255, int(o & 255) + ar)) |
             uint32_t(std::min(255, int(o >> 8 & 255) + ag)) << 8 |
             uint32_t(std::min(255, int(o >> 16 & 255) + ab)) << 16 |
             uint32_t(std::min(255, int(o >> 24) + aa)) << 24;
    }
  }
}

// Every live puff into the layer, with the very state its Draw sets.
void ComposePuffs(CpuLayer& layer) {
  static const PaddedTexture tex(*explosionImage->pixmaps[0]);
  T2DGraphics* g = Current2D();
  for (auto& p : particles) {
    auto* e = dynamic_cast<TExplosion*>(p.get());
    if (!e || e->removed || e->y <= 0) continue;
    SetColorHSL(e->colour, 0.25f, 0.25f);
    SetDrawScale(1.5f - e->alpha, 1.5f - e->alpha);
    SetDrawRotation(float(e->angle));
    SetAlpha(e->alpha);
    ComposePuff(layer, tex, *g, e->x + g->origin_x, e->y + g->origin_y, explosionImage->handle_x,
                explosionImage->handle_y);
  }
  SetDrawRotation(0);
  SetDrawScale(1, 1);
  SetAlpha(1);
}

// The puffs of this frame drawn by GL on black and composed on the CPU.
void CompareCpuLayer(double& ms, int& worst, long long& differing) {
  Cls();
  SetBlend(BLEND_LIGHT);
  DrawParticles();
  TRgbaPixels gl = GrabBackBuffer();
  CpuLayer layer;
  double c0 = CpuNow();
  ComposePuffs(layer);
  ms = CpuNow() - c0;
  worst = 0, differing = 0;
  for (size_t i = 0; i < gl.rgba.size(); ++i) {
    if (i % 4 == 3) continue;  // the screen's alpha is never shown
    const int d = std::abs(int(gl.rgba[i]) - int(layer.px[i / 4] >> (i % 4 * 8) & 255));
    worst = std::max(worst, d);
    differing += d != 0;
  }
}

void Measure(bool shortcuts, int frames, const char* saveAs) {
  SetDrawShortcuts(shortcuts);
  StartGameOver();
  PixelCount pixels;
  std::vector<double> puffs, scene, touched;
  int alive = 0;
  for (int f = 0; f < 150 + frames; ++f) {
    Ticks(f);
    Cls();
    Current2DDriver()->Finish();
    SetBlend(BLEND_LIGHT);
    double c0 = CpuNow();
    pixels.Begin();
    DrawParticles();
    Current2DDriver()->Finish();
    double n = pixels.End();
    double c1 = CpuNow();
    Flip(0);
    Cls();
    double c2 = CpuNow();
    DrawPlayScene(false);
    Current2DDriver()->Finish();
    double c3 = CpuNow();
    if (f == 149 + frames && saveAs)
      SaveBackBufferPNG(std::string(saveAs) + (shortcuts ? "-on.png" : "-off.png"));
    Flip(0);
    if (f < 150) continue;
    puffs.push_back(c1 - c0);
    scene.push_back(c3 - c2);
    touched.push_back(n);
    alive = std::max(alive, ParticleCount());
  }
  std::printf(
      "shortcuts %-3s  puffs %6.2f ms  whole scene %6.2f ms  pixels touched %.2f M"
      "  (%d puffs at most; medians of %d frames)\n",
      shortcuts ? "on" : "off", Median(puffs), Median(scene), Median(touched) / 1e6, alive, frames);
  if (!shortcuts) return;
  double ms = 0;
  int worst = 0;
  long long differing = 0;
  CompareCpuLayer(ms, worst, differing);
  std::printf(
      "composed on the CPU (one thread, plain C++, no SIMD): %.2f ms; against GL's puffs at most "
      "%d levels apart, %lld channels of pixels differ\n",
      ms, worst, differing);
}
}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("ALSOFT_LOGLEVEL", "0", 0);
  RegisterMediaFiles();
  SelectAudioDriver(u"Null");
  SeedRandom(1);
  if (!OpenGraphics(800, 600, 0, 0, 0)) {
    std::printf("GL display could not be opened\n");
    return 1;
  }
  SetBlend(BLEND_ALPHA);
  LoadMediaSet();
  SetCurrentFont(smallFont);
  const char* saveAs = argc > 2 ? argv[2] : nullptr;
  Measure(true, frames, saveAs);
  Measure(false, frames, saveAs);
  CloseGraphics();
  return 0;
}
