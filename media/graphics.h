// The display and the global 2D drawing state. Every drawing call consults
// the current state; nothing is visible until Flip.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/text.h"

class TPixmap;
class TImageFont;

// --- Blend modes ---
constexpr int BLEND_MASK = 1;  // no blending, alpha test at 0.5
constexpr int BLEND_SOLID = 2;
constexpr int BLEND_ALPHA = 3;  // src alpha, one minus src alpha
constexpr int BLEND_LIGHT = 4;  // additive
constexpr int BLEND_SHADE = 5;  // multiply

constexpr int GRAPHICS_BACKBUFFER = 2;  // the default flag, always OR-ed in

struct TGraphicsMode {
  int width, height, depth, hertz;
};

// One open display (a window or full screen with its GL context).
class TGraphics {
 public:
  virtual ~TGraphics() = default;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  // Full screen in a mode of exactly `hertz` whose swaps can wait for the
  // vertical blank; anywhere else the clock paces the frames.
  bool vblankAtRate = false;
};

// A texture made from a pixmap by the renderer; images own one per frame.
class TImageFrame {
 public:
  TImageFrame() { ++Live(); }
  TImageFrame(const TImageFrame&) = delete;
  TImageFrame& operator=(const TImageFrame&) = delete;
  virtual ~TImageFrame() { --Live(); }
  static int& Live();  // frames (textures) in existence, for the soak's growth check
  virtual void Draw(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  // Only some rectangles of the frame, each (left, top, right, bottom) as
  // fractions of its width and height; the rest is left undrawn.
  virtual void DrawParts(float x0, float y0, float x1, float y1, float tx, float ty,
                         const std::vector<float>& /*parts*/) {
    Draw(x0, y0, x1, y1, tx, ty);
  }
  // Quads of the frame, each four corners (a, b) given as fractions of its
  // width and height, clockwise.
  virtual void DrawQuads(float x0, float y0, float x1, float y1, float tx, float ty,
                         const std::vector<float>& /*corners*/) {
    Draw(x0, y0, x1, y1, tx, ty);
  }
  // Bands from seam to seam down the frame; each seam is (top, left, right)
  // as fractions of the frame's height and width.
  virtual void DrawBands(float x0, float y0, float x1, float y1, float tx, float ty,
                         const std::vector<float>& /*seams*/) {
    Draw(x0, y0, x1, y1, tx, ty);
  }
  int seq = 0;  // graphicsSeq when it was made
};

// A frame whose renderer draws any quad of it from four points, each given
// as fractions (a, b) of its width and height, in the order top left, top
// right, bottom right, bottom left for a whole frame; parts, quads and bands
// all come down to such quads.
class TCornerImageFrame : public TImageFrame {
 public:
  virtual void Corners(float x0, float y0, float x1, float y1, float tx, float ty,
                       const std::array<float, 8>& at) = 0;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Corners(x0, y0, x1, y1, tx, ty, {0, 0, 1, 0, 1, 1, 0, 1});
  }
  void DrawParts(float x0, float y0, float x1, float y1, float tx, float ty,
                 const std::vector<float>& parts) override {
    for (size_t i = 0; i + 3 < parts.size(); i += 4) {
      const float l = parts[i], t = parts[i + 1], r = parts[i + 2], b = parts[i + 3];
      Corners(x0, y0, x1, y1, tx, ty, {l, t, r, t, r, b, l, b});
    }
  }
  void DrawQuads(float x0, float y0, float x1, float y1, float tx, float ty,
                 const std::vector<float>& corners) override {
    for (size_t i = 0; i + 7 < corners.size(); i += 8) {
      std::array<float, 8> at;
      std::copy_n(&corners[i], 8, at.begin());
      Corners(x0, y0, x1, y1, tx, ty, at);
    }
  }
  void DrawBands(float x0, float y0, float x1, float y1, float tx, float ty,
                 const std::vector<float>& seams) override {
    for (size_t i = 0; i + 5 < seams.size(); i += 3) {
      const float* a = &seams[i];
      const float* b = &seams[i + 3];
      Corners(x0, y0, x1, y1, tx, ty, {a[1], a[0], a[2], a[0], b[2], b[0], b[1], b[0]});
    }
  }
};

class TGraphicsDriver {
 public:
  virtual ~TGraphicsDriver() = default;
  virtual std::vector<TGraphicsMode> GraphicsModes() = 0;
  virtual TGraphics* AttachGraphics(void* widget, int flags) = 0;
  virtual std::unique_ptr<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                                    int flags) = 0;
  virtual void SetGraphics(TGraphics* g) = 0;
  virtual void Flip(bool sync) = 0;
  virtual void Finish() {}  // the frame drawn so far is complete: a swap after it only shows it
  virtual void FlipSkipped() {}  // a late frame, not drawn, ends (SetFrameLate)
  virtual bool FramesMayBeSkipped() { return true; }
};

// Where steady light changed since the light of key `base`: a rectangle of
// the screen, in its units.
struct TSteadyChange {
  uint64_t base;
  int x, y, w, h;
};

// The renderer. TGL2DDriver draws with OpenGL; THeadless2DDriver draws nothing.
class T2DDriver : public TGraphicsDriver {
 public:
  virtual std::unique_ptr<TImageFrame> CreateFrameFromPixmap(const TPixmap& pixmap, int flags) = 0;
  virtual void SetBlend(int mode) = 0;
  virtual void SetAlpha(float alpha) = 0;
  virtual void SetColor(int r, int g, int b) = 0;
  virtual void SetClsColor(int r, int g, int b) = 0;
  virtual void SetViewport(int x, int y, int w, int h) = 0;
  virtual void SetTransform(float ix, float iy, float jx, float jy) = 0;
  virtual void SetLineWidth(float width) = 0;
  // What is drawn from now on lands texel for pixel (see SetTexelForPixel).
  virtual void SetTexelForPixel(bool /*on*/) {}
  virtual void Cls() = 0;
  virtual void Plot(float x, float y) = 0;
  virtual void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawPoly(const std::vector<float>& xy, float handle_x, float handle_y,
                        float origin_x, float origin_y) = 0;
  virtual void DrawPixmap(const TPixmap& pixmap, int x, int y) = 0;
  virtual std::vector<uint8_t> GrabPixels(int x, int y, int w, int h) = 0;  // RGBA rows, top first
  // The frame as the window shows it (scaled, with its bars), drawable-sized.
  virtual std::vector<uint8_t> GrabShown(int& /*w*/, int& /*h*/) { return {}; }
  virtual void SetResolution(float width, float height) = 0;
  virtual void ForgetState() = 0;  // next SetBlend and texture bind always reach the renderer
  // Steady light (see BeginSteadyLight); a renderer that keeps nothing draws
  // straight to the screen.
  virtual bool BeginSteadyLight(uint64_t /*key*/, const TSteadyChange* /*changed*/) {
    return true;
  }
  virtual void EndSteadyLight() {}
  // Draws fixed light into a picture of its own (once, or again when `id`
  // or the display changed) and copies it into the steady picture being
  // drawn; false when it keeps no such pictures and `draw` must draw.
  virtual bool CopyFixedLight(const void* /*id*/, const std::function<void()>& /*draw*/) {
    return false;
  }
};

// The 2D drawing state of one display.
struct T2DGraphics {
  int color_red = 255, color_green = 255, color_blue = 255;
  float color_alpha = 1.0f;
  int clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
  float line_width = 1.0f;
  float tform_rot = 0;
  float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
  float tform_ix = 1, tform_iy = 0, tform_jx = 0, tform_jy = 1;
  int viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
  float origin_x = 0, origin_y = 0;
  float handle_x = 0, handle_y = 0;  // stored negated; the game never changes it
  TImageFont* image_font = nullptr;  // null means the built-in font
  int blend_mode = BLEND_MASK;
  float vres_width = 0, vres_height = 0;
  float vres_mousexscale = 1.0f, vres_mouseyscale = 1.0f;
  std::unique_ptr<TGraphics> _graphics;
  T2DDriver* _driver = nullptr;
  int _setup = 0;
};

// --- Display ---
TGraphics* OpenGraphics(int width, int height, int depth = 0, int hertz = 60, int flags = 0);
void CloseGraphics();
Text GraphicsFailure();    // why the last OpenGraphics gave null
void Flip(int sync = -1);  // -1 paces by the display's rate, 0 at once, 1 on vertical blank
void SetAppTitle(const Text& title);
class TPixmap;
void SetAppIcon(const TPixmap& icon);  // shown by docks and Alt+Tab for every window opened
// What the viewer of a replay is told beside the picture ("replay paused"):
// after the game's name in the window's title, or under the page's canvas.
// Empty: nothing.
void ShowViewerState(const Text& state);
// Frames the game knows to be late, or to come faster than a display shows
// them (a replay watched at four times its pace), are shown only when a
// display frame (16 ms) has passed since the last one shown; the others
// draw nothing and their Flip returns at once. The game says so before it
// draws; the first word after a Flip decides for the frame.
void SetFrameLate(bool late);
extern int graphicsSeq;    // bumped at every open and close, never 0 once opened
int FramesFlipped();       // Flip calls with a display open, since the program started
T2DGraphics* Current2D();  // null when no display is open
// Drawn over every frame just before Flip shows it (hints and indicators
// that belong to no one screen); the drawing state is as it was afterwards.
void SetFlipOverlay(void (*draw)());  // nullptr: none
T2DDriver* Current2DDriver();

// --- Drawing state ---
void SetColor(int r, int g, int b);
void SetAlpha(float alpha);
void SetBlend(int mode);
void SetClsColor(int r, int g, int b);
void SetViewport(int x, int y, int w, int h);
void SetLineWidth(float width);
void SetDrawScale(float sx, float sy);
void SetDrawRotation(float degrees);
void SetDrawOrigin(float x, float y);
int GetBlend();
float GetAlpha();
// While on, the images drawn land texel for pixel (scale 1, no rotation,
// whole pixel positions), so the renderer may read their texels without
// filtering them: the very same pixels, for less work. Off by default; a
// caller turns it off again after its batch.
void SetTexelForPixel(bool on);

// --- Steady light ---
// Light that looks the same frame after frame: what is drawn between
// BeginSteadyLight and EndSteadyLight is kept by the renderer in a picture of
// the screen's size, and EndSteadyLight adds that picture to the screen.
// While the key (everything the light depends on) stays the same,
// BeginSteadyLight returns false and the caller skips the drawing. Only
// additive drawing (BLEND_LIGHT, the blend at the start) may go between them:
// light adds up the same in any order, so the kept picture added in one go
// gives the same pixels as drawing it all again.
bool BeginSteadyLight(uint64_t key);
// The same, where the light differs from that of `changed.base` only inside
// the rectangle: when the renderer keeps that light, only the rectangle is
// cleared, and what is drawn reaches only the rectangle.
bool BeginSteadyLight(uint64_t key, const TSteadyChange& changed);
void EndSteadyLight();
// Light that never changes at all (the scan lines), drawn by `draw`. Inside
// steady light, while its picture is still clear (right after
// BeginSteadyLight gave true), the renderer may draw it once into a picture
// of its own and from then on copy that in: on a clear picture a copy gives
// the very pixels drawing does. It is drawn with the whole screen as its
// viewport and copied under the current one. Anywhere else `draw` draws.
// The drawing state is as it was afterwards.
void DrawFixedLight(void (*draw)());

// --- Primitives ---
void Cls();
void DrawRect(float x, float y, float w, float h);
void DrawLine(float x, float y, float x2, float y2, bool drawLastPixel = true);
void Plot(float x, float y);

// --- Frame pacing state ---
struct TFramePacing {
  bool softSync = false, hardSync = false;
  int syncRate = 0, syncPeriod = 0, syncFrac = 0, syncAccum = 0, syncTime = 0;
  int hardFrames = 0, hardStart = 0;  // the first vertical-blank frames, timed
};
constexpr int VBLANK_PROBE_FRAMES = 30;  // swaps that must take 80 % of their periods
extern TFramePacing framePacing;

// --- Looking at frames ---
struct TRgbaPixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;        // rows from the top, 4 bytes a pixel
  uint32_t At(int x, int y) const;  // 0xRRGGBBAA
};
TRgbaPixels GrabBackBuffer();                     // the whole picture (empty when headless)
TRgbaPixels GrabWindow();  // the frame drawn so far as the window shows it, in drawable pixels
bool SaveBackBufferPNG(const std::string& path);  // false when there is nothing to save
bool SaveRgbaPNG(const TRgbaPixels& pixels, const std::string& path);

// --- The headless renderer's record of what would have been drawn ---
struct THeadlessDrawCall {
  char kind;  // 'C' cls, 'R' rect, 'L' line, 'P' plot, 'I' image frame
  float x0, y0, x1, y1, tx, ty;
  int r, g, b;
  float alpha;
  int blend;
  float ix, iy, jx, jy;
  const void* source;  // the pixmap an image frame was made from
};
void SetHeadlessDrawLogging(bool on);  // off by default
std::vector<THeadlessDrawCall>& HeadlessDrawLog();

// --- Test seams ---
void UseHeadlessGraphics(bool headless);  // OpenGraphics then makes a display that draws nothing
bool HeadlessGraphics();
void SetFrameHook(
    std::function<void()> hook);    // called by Flip after presenting; tests drive input here
void FailGraphicsOpens(int count);  // the next `count` OpenGraphics calls give null
// On (the default): skip drawing that cannot change a pixel. Off: draw
// everything as called, the straightforward picture to compare against.
void SetDrawShortcuts(bool on);
bool DrawShortcuts();
// On: drawing calls other than Cls leave nothing at all (no pixel, no
// texture upload) and the steady light kept so far stays as it was; for the
// frames of a long game that a test does not look at.
void SetDrawingDiscarded(bool on);
bool DrawingDiscarded();
// Display failure fallbacks, counted so tests can see which path was taken
extern int displayModeFallbacks;
