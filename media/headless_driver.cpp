// A renderer that draws nothing: game logic and whole screen sequences run
// without a display. It can record what would have been drawn, for tests.
#include <memory>

#include "media/graphics.h"
#include "media/image.h"

namespace {
bool logging = false;
std::vector<THeadlessDrawCall> drawLog;

struct HeadlessState {
  int r = 255, g = 255, b = 255;
  float alpha = 1;
  int blend = BLEND_MASK;
  float ix = 1, iy = 0, jx = 0, jy = 1;
} state;

void Record(char kind, float x0, float y0, float x1, float y1, float tx, float ty,
            const void* source = nullptr) {
  if (!logging) return;
  drawLog.push_back({kind, x0, y0, x1, y1, tx, ty, state.r, state.g, state.b, state.alpha,
                     state.blend, state.ix, state.iy, state.jx, state.jy, source});
}

class THeadlessImageFrame : public TImageFrame {
 public:
  explicit THeadlessImageFrame(const void* src) : source(src) {}
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Record('I', x0, y0, x1, y1, tx, ty, source);
  }
  const void* source;
};

class THeadless2DDriver : public T2DDriver {
 public:
  std::vector<TGraphicsMode> GraphicsModes() override { return {{800, 600, 32, 60}}; }
  TGraphics* AttachGraphics(void*, int) override { return nullptr; }
  std::unique_ptr<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                            int flags) override {
    auto g = std::make_unique<TGraphics>();
    g->width = width;
    g->height = height;
    g->depth = depth;
    g->hertz = hertz;
    g->flags = flags;
    g->vblankAtRate = depth != 0;  // as a monitor that refreshes at any rate asked for
    return g;
  }
  void SetGraphics(TGraphics*) override {}
  void Flip(bool) override {}
  std::unique_ptr<TImageFrame> CreateFrameFromPixmap(const TPixmap& pixmap, int) override {
    return std::make_unique<THeadlessImageFrame>(&pixmap);
  }
  void SetBlend(int mode) override { state.blend = mode; }
  void SetAlpha(float alpha) override { state.alpha = alpha; }
  void SetColor(int r, int g, int b) override {
    state.r = r;
    state.g = g;
    state.b = b;
  }
  void SetClsColor(int, int, int) override {}
  void SetViewport(int, int, int, int) override {}
  void SetTransform(float ix, float iy, float jx, float jy) override {
    state.ix = ix;
    state.iy = iy;
    state.jx = jx;
    state.jy = jy;
  }
  void SetLineWidth(float) override {}
  void Cls() override { Record('C', 0, 0, 0, 0, 0, 0); }
  void Plot(float x, float y) override { Record('P', x, y, x, y, 0, 0); }
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Record('L', x0, y0, x1, y1, tx, ty);
  }
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Record('R', x0, y0, x1, y1, tx, ty);
  }
  void DrawOval(float, float, float, float, float, float) override {}
  void DrawPoly(const std::vector<float>&, float, float, float, float) override {}
  void DrawPixmap(const TPixmap&, int, int) override {}
  std::vector<uint8_t> GrabPixels(int, int, int, int) override { return {}; }
  void SetResolution(float, float) override {}
  void ForgetState() override {}
};
}  // namespace

T2DDriver* HeadlessDriver() {
  static THeadless2DDriver driver;
  return &driver;
}

void SetHeadlessDrawLogging(bool on) {
  logging = on;
  drawLog.clear();
}

std::vector<THeadlessDrawCall>& HeadlessDrawLog() { return drawLog; }
