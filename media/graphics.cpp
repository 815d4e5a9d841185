// The 2D drawing state and the display's lifecycle, shared by the GL and
// the headless renderers.
#include "media/graphics.h"
#include "media/frame_end.h"

#include <cmath>

#include "media/clock.h"
#include "media/input.h"
#include "media/system.h"

T2DDriver* GLDriver();                     // gl_driver.cpp
T2DDriver* HeadlessDriver();               // headless_driver.cpp
void SetGraphicsFailure(const Text& why);  // the drivers say why a display did not open

int graphicsSeq = 0;

int& TImageFrame::Live() {
  static int live = 0;
  return live;
}
TFramePacing framePacing;
int displayModeFallbacks = 0;

namespace {
std::unique_ptr<T2DGraphics> current;
bool headless = false;
std::function<void()> frameHook;
// A late frame is decided at the game's first word after the last Flip:
// skipped, it draws nothing at all.
bool frameDecided = false, frameSkipped = false, discardedBefore = false;
int lastShownAt = 0;
constexpr int DISPLAY_FRAME_MS = 16;
void (*flipOverlay)() = nullptr;
void (*frameEndWatch)() = nullptr;
bool exitRegistered = false;
int failOpens = 0;
bool drawShortcuts = true;
bool drawingDiscarded = false;

void BumpGraphicsSeq() {
  ++graphicsSeq;
  if (graphicsSeq == 0) graphicsSeq = 1;  // wraps from -1 to 1, never 0
}

void UpdateTransform() {
  T2DGraphics& g = *current;
  double rad = g.tform_rot * M_PI / 180.0;
  float s = static_cast<float>(std::sin(rad)), c = static_cast<float>(std::cos(rad));
  g.tform_ix = c * g.tform_scale_x;
  g.tform_iy = -s * g.tform_scale_y;
  g.tform_jx = s * g.tform_scale_x;
  g.tform_jy = c * g.tform_scale_y;
  g._driver->SetTransform(g.tform_ix, g.tform_iy, g.tform_jx, g.tform_jy);
}

// A display may accept the vertical-blank wait and still not wait (some
// drivers and remote desktops do). If the first swaps come faster than the
// rate, the clock takes over from here on.
void CheckVerticalBlankWaits(TFramePacing& p) {
  if (p.hardFrames > VBLANK_PROBE_FRAMES) return;  // measured once per display
  if (p.hardFrames++ == 0) {
    p.hardStart = ElapsedMillis();
    return;
  }
  if (p.hardFrames <= VBLANK_PROBE_FRAMES) return;
  int took = ElapsedMillis() - p.hardStart;  // VBLANK_PROBE_FRAMES intervals
  if (took * 10 * p.syncRate >= 8 * 1000 * VBLANK_PROBE_FRAMES) return;
  p.hardSync = false;
  p.softSync = true;
  p.syncAccum = 0;
  p.syncTime = ElapsedMillis();
}

// Pushes every stored value to the renderer, in the fixed order.
void MakeCurrent() {
  T2DGraphics& g = *current;
  T2DDriver* d = g._driver;
  d->SetGraphics(g._graphics.get());
  d->ForgetState();
  d->SetResolution(g.vres_width, g.vres_height);
  d->SetBlend(g.blend_mode);
  d->SetColor(g.color_red, g.color_green, g.color_blue);
  d->SetAlpha(g.color_alpha);
  d->SetClsColor(g.clscolor_red, g.clscolor_green, g.clscolor_blue);
  d->SetLineWidth(g.line_width);
  UpdateTransform();
  d->SetViewport(g.viewport_x, g.viewport_y, g.viewport_w, g.viewport_h);
  if (g._setup == 0) {
    // Both buffers start black.
    d->Cls();
    d->Flip(false);
    d->Cls();
    d->Flip(false);
    g._setup = 1;
  }
}
}  // namespace

void UseHeadlessGraphics(bool on) { headless = on; }
void FailGraphicsOpens(int count) { failOpens = count; }

namespace {
Text graphicsFailure;
}  // namespace
void SetGraphicsFailure(const Text& why) { graphicsFailure = why; }
Text GraphicsFailure() { return graphicsFailure; }
bool HeadlessGraphics() { return headless; }
void SetFrameHook(std::function<void()> hook) { frameHook = std::move(hook); }

void SetFrameLate(bool late) {
  if (frameDecided || !current) return;
  frameDecided = true;
  frameSkipped = late && ElapsedMillis() - lastShownAt < DISPLAY_FRAME_MS &&
                 current->_driver->FramesMayBeSkipped();
  if (!frameSkipped) return;
  discardedBefore = DrawingDiscarded();
  SetDrawingDiscarded(true);
}

void SetFrameEndWatch(void (*watch)()) { frameEndWatch = watch; }

void SetFlipOverlay(void (*draw)()) { flipOverlay = draw; }
void SetDrawShortcuts(bool on) { drawShortcuts = on; }

namespace {
bool steadyKept = false;  // the light between Begin and End goes to the renderer's picture
}  // namespace

namespace {
bool BeginSteady(uint64_t key, const TSteadyChange* changed) {
  steadyKept =
      current && drawShortcuts && !drawingDiscarded && current->blend_mode == BLEND_LIGHT;
  return steadyKept ? current->_driver->BeginSteadyLight(key, changed) : true;
}
}  // namespace

bool BeginSteadyLight(uint64_t key) { return BeginSteady(key, nullptr); }
bool BeginSteadyLight(uint64_t key, const TSteadyChange& changed) {
  return BeginSteady(key, &changed);
}

void EndSteadyLight() {
  if (steadyKept && current) current->_driver->EndSteadyLight();
  steadyKept = false;
}
bool DrawShortcuts() { return drawShortcuts; }
void SetDrawingDiscarded(bool on) { drawingDiscarded = on; }
bool DrawingDiscarded() { return drawingDiscarded; }
T2DGraphics* Current2D() { return current.get(); }
T2DDriver* Current2DDriver() { return current ? current->_driver : nullptr; }

TGraphics* OpenGraphics(int width, int height, int depth, int hertz, int flags) {
  CloseGraphics();
  flags |= GRAPHICS_BACKBUFFER;
  T2DDriver* driver = headless ? HeadlessDriver() : GLDriver();
  if (failOpens > 0) {
    --failOpens;
    SetGraphicsFailure(u"failure asked for by a test");
    return nullptr;
  }
  std::unique_ptr<TGraphics> g = driver->CreateGraphics(width, height, depth, hertz, flags);
  if (!g) return nullptr;
  BumpGraphicsSeq();

  current = std::make_unique<T2DGraphics>();
  current->viewport_w = width;
  current->viewport_h = height;
  current->vres_width = static_cast<float>(width);
  current->vres_height = static_cast<float>(height);
  current->_graphics = std::move(g);
  current->_driver = driver;
  MakeCurrent();

  framePacing = TFramePacing{};
  // Full screen waits for the vertical blank only where the display really
  // refreshes at the rate asked for. Elsewhere (no wait for the blank, a
  // desktop of another rate, the scaled fallback) the clock paces it, so
  // frame-counted sequences keep their speed on every display.
  if (hertz != 0) {
    framePacing.hardSync = depth != 0 && current->_graphics->vblankAtRate;
    framePacing.softSync = !framePacing.hardSync;
    framePacing.syncRate = hertz;
    framePacing.syncPeriod = 1000 / hertz;
    framePacing.syncFrac = 1000 - framePacing.syncPeriod * framePacing.syncRate;
    framePacing.syncAccum = 0;
    framePacing.syncTime = ElapsedMillis();
  }
  SetInputTracking(true);
  if (!exitRegistered) {
    exitRegistered = true;
    AtProgramEnd([] { CloseGraphics(); });
  }
  return current->_graphics.get();
}

void CloseGraphics() {
  if (!current) return;
  BumpGraphicsSeq();
  SetInputTracking(false);
  T2DDriver* d = current->_driver;
  d->SetGraphics(nullptr);
  current.reset();  // the display goes with its TGraphics
}

namespace {
int framesFlipped = 0;
}  // namespace

int FramesFlipped() { return framesFlipped; }

namespace {
// Calls `draw` and puts back every drawing state it may have changed.
void DrawKeepingState(void (*draw)()) {
  const T2DGraphics& g = *current;
  int r = g.color_red, gr = g.color_green, b = g.color_blue, blend = g.blend_mode;
  int vx = g.viewport_x, vy = g.viewport_y, vw = g.viewport_w, vh = g.viewport_h;
  float alpha = g.color_alpha, width = g.line_width, rot = g.tform_rot;
  float sx = g.tform_scale_x, sy = g.tform_scale_y, ox = g.origin_x, oy = g.origin_y;
  TImageFont* font = g.image_font;
  draw();
  SetColor(r, gr, b);
  SetAlpha(alpha);
  SetBlend(blend);
  SetLineWidth(width);
  SetDrawScale(sx, sy);
  SetDrawRotation(rot);
  SetViewport(vx, vy, vw, vh);
  SetDrawOrigin(ox, oy);
  current->image_font = font;
}
}  // namespace

void DrawFlipOverlay() { DrawKeepingState(flipOverlay); }

void DrawFixedLight(void (*draw)()) {
  if (!current || !draw) return;
  if (steadyKept && current->_driver->CopyFixedLight(reinterpret_cast<const void*>(draw), [&] {
        const T2DGraphics& g = *current;
        const int vx = g.viewport_x, vy = g.viewport_y, vw = g.viewport_w, vh = g.viewport_h;
        SetViewport(0, 0, int(g.vres_width), int(g.vres_height));
        DrawKeepingState(draw);
        SetViewport(vx, vy, vw, vh);
      }))
    return;
  DrawKeepingState(draw);
}

void Flip(int sync) {
  if (!current) return;
  if (flipOverlay) DrawFlipOverlay();
  ++framesFlipped;
  frameDecided = false;
  if (frameSkipped) {
    frameSkipped = false;
    SetDrawingDiscarded(discardedBefore);
    current->_driver->FlipSkipped();
    if (frameEndWatch) frameEndWatch();
    if (frameHook) frameHook();
    WaitWatch();
    return;
  }
  T2DDriver* d = current->_driver;
  TFramePacing& p = framePacing;
  if (sync != -1) {
    d->Flip(sync != 0);
  } else if (p.softSync) {
    // The software renderer draws the frame at the swap; drawing it before
    // the wait keeps the time it takes out of the interval between frames.
    d->Finish();
    p.syncTime += p.syncPeriod;
    p.syncAccum += p.syncFrac;
    if (p.syncAccum >= p.syncRate) {
      p.syncAccum -= p.syncRate;
      p.syncTime += 1;
    }
    int dt = p.syncTime - ElapsedMillis();
    if (dt > 0) {
      DelayMillis(dt);
    } else {
      p.syncTime -= dt;  // late: pace the next frame from now, no burst of catch-up frames
    }
    d->Flip(false);
  } else {
    d->Flip(p.hardSync);
    if (p.hardSync) CheckVerticalBlankWaits(p);
  }
  lastShownAt = ElapsedMillis();
  if (frameEndWatch) frameEndWatch();
  if (frameHook) frameHook();
  WaitWatch();
}

// --- Drawing state ---

void SetColor(int r, int g, int b) {
  if (!current) return;
  auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  current->color_red = clamp(r);
  current->color_green = clamp(g);
  current->color_blue = clamp(b);
  current->_driver->SetColor(current->color_red, current->color_green, current->color_blue);
}

void SetAlpha(float alpha) {
  if (!current) return;
  if (!(alpha >= 0)) alpha = 0;  // also NaN
  if (alpha > 1) alpha = 1;
  current->color_alpha = alpha;
  current->_driver->SetAlpha(alpha);
}

void SetBlend(int mode) {
  if (!current) return;
  current->blend_mode = mode;
  current->_driver->SetBlend(mode);
}

void SetClsColor(int r, int g, int b) {
  if (!current) return;
  current->clscolor_red = r;
  current->clscolor_green = g;
  current->clscolor_blue = b;
  current->_driver->SetClsColor(r, g, b);
}

void SetViewport(int x, int y, int w, int h) {
  if (!current) return;
  current->viewport_x = x;
  current->viewport_y = y;
  current->viewport_w = w;
  current->viewport_h = h;
  current->_driver->SetViewport(x, y, w, h);
}

void SetLineWidth(float width) {
  if (!current) return;
  current->line_width = width;
  current->_driver->SetLineWidth(width);
}

void SetTexelForPixel(bool on) {
  if (current) current->_driver->SetTexelForPixel(on && drawShortcuts);
}

void SetDrawScale(float sx, float sy) {
  if (!current) return;
  current->tform_scale_x = sx;
  current->tform_scale_y = sy;
  UpdateTransform();
}

void SetDrawRotation(float degrees) {
  if (!current) return;
  current->tform_rot = degrees;
  UpdateTransform();
}

void SetDrawOrigin(float x, float y) {
  if (!current) return;
  current->origin_x = x;
  current->origin_y = y;
}

int GetBlend() { return current ? current->blend_mode : 0; }
float GetAlpha() { return current ? current->color_alpha : 0.0f; }

// --- Primitives ---

void Cls() {
  if (current) current->_driver->Cls();  // even discarded: the next frame starts clean
}

void DrawRect(float x, float y, float w, float h) {
  if (!current || drawingDiscarded) return;
  const T2DGraphics& g = *current;
  g._driver->DrawRect(g.handle_x, g.handle_y, g.handle_x + w, g.handle_y + h, x + g.origin_x,
                      y + g.origin_y);
}

void DrawLine(float x, float y, float x2, float y2, bool drawLastPixel) {
  if (!current || drawingDiscarded) return;
  const T2DGraphics& g = *current;
  float ex = g.handle_x + x2 - x, ey = g.handle_y + y2 - y;
  g._driver->DrawLine(g.handle_x, g.handle_y, ex, ey, x + g.origin_x, y + g.origin_y);
  if (drawLastPixel) {
    float px = ex * g.tform_ix + ey * g.tform_iy + x + g.origin_x;
    float py = ex * g.tform_jx + ey * g.tform_jy + y + g.origin_y;
    g._driver->Plot(px, py);
  }
}

void Plot(float x, float y) {
  if (!current || drawingDiscarded) return;
  current->_driver->Plot(x + current->origin_x, y + current->origin_y);
}

// --- Looking at frames ---

uint32_t TRgbaPixels::At(int x, int y) const {
  const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

TRgbaPixels GrabBackBuffer() {
  TRgbaPixels out;
  if (!current) return out;
  TGraphics* g = current->_graphics.get();
  out.rgba = current->_driver->GrabPixels(0, 0, g->width, g->height);
  if (!out.rgba.empty()) {
    out.width = g->width;
    out.height = g->height;
  }
  return out;
}

TRgbaPixels GrabWindow() {
  TRgbaPixels out;
  if (!current) return out;
  out.rgba = current->_driver->GrabShown(out.width, out.height);
  if (out.rgba.empty()) out.width = out.height = 0;
  return out;
}

bool SaveBackBufferPNG(const std::string& path) {
  TRgbaPixels px = GrabBackBuffer();
  if (px.rgba.empty()) return false;
  return SaveRgbaPNG(px, path);
}
