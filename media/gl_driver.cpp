// The OpenGL renderer: an SDL window with a compatibility GL context, drawn
// with fixed-function immediate-mode primitives.
#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/config.h"
#include "media/display_internal.h"
#include "media/gl_texture.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/stream.h"

void SetGraphicsFailure(const Text& why);  // graphics.cpp

namespace {
std::string appTitle = "QUARV: Zephrant v1.02";
std::vector<uint8_t> appIcon;  // rows of R, G, B, A bytes
int iconW = 0, iconH = 0, iconPitch = 0;
bool videoUp = false;

void GiveIcon(SDL_Window* window) {
  if (!window || appIcon.empty()) return;
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(appIcon.data(), iconW, iconH, 32, iconPitch,
                                                      SDL_PIXELFORMAT_RGBA32);
  if (!s) return;
  SDL_SetWindowIcon(window, s);
  SDL_FreeSurface(s);
}

void Failed(const std::string& what) {
  SetGraphicsFailure(AsciiText(what + ": " + SDL_GetError()));
}

// Clears the bound colour buffer to (r, g, b, a) and keeps the clear colour
// the game has set for Cls.
void ClearColourOnce(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
  GLfloat kept[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, kept);
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(kept[0], kept[1], kept[2], kept[3]);
}

// SDL falls back to drivers that show nothing when it cannot reach a
// display; a game nobody can see or quit is worse than none, so those are
// only used when SDL_VIDEODRIVER asks for them.
bool StartVideo() {
  if (videoUp) return true;
  // The window's class names the game whatever the program file is called,
  // so docks group it with its menu entry (StartupWMClass=zephrant; the
  // entry's own name on Wayland).
  setenv("SDL_VIDEO_X11_WMCLASS", "zephrant", 0);
  setenv("SDL_VIDEO_WAYLAND_WMCLASS", "org.quarv.zephrant", 0);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    Failed("SDL video failed");
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  std::string name = driver ? driver : "";
  if ((name == "offscreen" || name == "dummy") && !(asked && name == asked)) {
    SetGraphicsFailure(
        AsciiText("no display can be reached (SDL offers only its " + name + " driver)"));
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  videoUp = true;
  return true;
}

// The window's size and the scaling, kept in the settings file.
const Text WINDOW_WIDTH = u"window_width", WINDOW_HEIGHT = u"window_height";
const Text INTEGER_SCALING = u"integer_scaling";  // 1: only whole multiples, for sharp pixels

class TGLGraphics : public TGraphics {
 public:
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  bool fullscreen = false;
  // Where the width x height picture lands in the drawable (pixels, GL's
  // rows from the bottom): scaled with its aspect kept, black bars around.
  int outX = 0, outY = 0, outW = 0, outH = 0, drawW = 0, drawH = 0;
  // The picture's own target, where GL has framebuffer objects: everything
  // is drawn into it at its own size and it is scaled to the window when
  // the frame is shown. Without one, or while the picture lands unscaled
  // (the drawable is its size, or integer scaling keeps it at one pixel a
  // unit inside black bars), drawing goes straight to the window.
  GLuint pictureFb = 0, pictureTex = 0;
  bool toPicture = false;
  bool presented = false;    // this frame's picture is in the window's back buffer
  bool layoutStale = false;  // the window changed size: lay out again after the swap
  int openW = 0, openH = 0;  // the size the window opened at
  ~TGLGraphics() override {
    if (fullscreen == false && window) {
      // The size a player gave the window is where the next one starts. A
      // window left at the size it opened at keeps the kept size: one
      // shrunk to fit a small screen grows again on the large one.
      int w = 0, h = 0;
      SDL_GetWindowSize(window, &w, &h);
      if (w > 0 && h > 0 && (w != openW || h != openH) &&
          (w != ConfigInt(WINDOW_WIDTH, width) || h != ConfigInt(WINDOW_HEIGHT, height))) {
        SetConfigInt(WINDOW_WIDTH, w);
        SetConfigInt(WINDOW_HEIGHT, h);
        SaveConfig();
      }
    }
    if (context) SDL_GL_DeleteContext(context);
    if (window) SDL_DestroyWindow(window);
  }
};

// Framebuffer objects, where GL has them: steady light is drawn into a
// texture of the screen's size and added from there.
struct TFramebufferCalls {
  PFNGLGENFRAMEBUFFERSPROC gen = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bind = nullptr;
  PFNGLFRAMEBUFFERTEXTURE2DPROC attach = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC check = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC remove = nullptr;
  PFNGLBLITFRAMEBUFFERPROC blit = nullptr;
  bool Load() {
    gen = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(SDL_GL_GetProcAddress("glGenFramebuffers"));
    bind = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    attach = reinterpret_cast<PFNGLFRAMEBUFFERTEXTURE2DPROC>(
        SDL_GL_GetProcAddress("glFramebufferTexture2D"));
    check = reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(
        SDL_GL_GetProcAddress("glCheckFramebufferStatus"));
    remove = reinterpret_cast<PFNGLDELETEFRAMEBUFFERSPROC>(
        SDL_GL_GetProcAddress("glDeleteFramebuffers"));
    blit = reinterpret_cast<PFNGLBLITFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBlitFramebuffer"));
    return blit && gen && bind && attach && check && remove &&
           SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object");
  }
};

// The kept picture of steady light, for one display.
struct TSteadyLight {
  int seq = 0;         // graphicsSeq of the display it belongs to
  bool usable = true;  // false once GL turned the framebuffer down
  GLuint framebuffer = 0, texture = 0;
  int w = 0, h = 0;
  bool kept = false;  // the picture holds the light of `key` under `viewport`
  uint64_t key = 0;
  int viewport[4] = {};
  bool drawing = false;  // between Begin and End, into the picture
  bool direct = false;   // between Begin and End, straight to the screen
  bool clipped = false;  // between Begin and End, only `clip` (x, y, w, h) is drawn again
  int clip[4] = {};
};

// A picture of fixed light (see DrawFixedLight), of the steady picture's size.
struct TFixedLight {
  int seq = 0;
  const void* id = nullptr;
  GLuint framebuffer = 0, texture = 0;
  int w = 0, h = 0;
};

class TGL2DDriver : public T2DDriver {
 public:
  TGLGraphics* g = nullptr;
  TFramebufferCalls fb;
  TSteadyLight steady;
  TFixedLight fixed;
  int targetX = 0, targetY = 0;  // where the picture starts in what is drawn into
  int blend = -1;
  int lastSwap = -1;
  bool modeAtRate = false;  // the last full-screen mode was set at the rate asked for
  float ix = 1, iy = 0, jx = 0, jy = 1;
  bool texelForPixel = false;  // asked for; used while the transform allows
  int vpX = 0, vpY = 0, vpW = 0, vpH = 0;
  float lineWidth = 1;
  uint8_t color[4] = {255, 255, 255, 255};

  std::vector<TGraphicsMode> GraphicsModes() override {
    std::vector<TGraphicsMode> modes;
    if (!StartVideo()) return modes;
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n; ++i) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(0, i, &m) == 0)
        modes.push_back({m.w, m.h, static_cast<int>(SDL_BITSPERPIXEL(m.format)), m.refresh_rate});
    }
    return modes;
  }

  TGraphics* AttachGraphics(void*, int) override { return nullptr; }

  std::unique_ptr<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                            int flags) override {
    if (!StartVideo()) return nullptr;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "1");

    auto gg = std::make_unique<TGLGraphics>();
    gg->width = width;
    gg->height = height;
    gg->depth = depth;
    gg->hertz = hertz;
    gg->flags = flags;
    if (depth == 0) {
      gg->window = OpenWindow(width, height);
    } else {
      gg->fullscreen = true;
      gg->window = OpenFullScreen(width, height, hertz);
      gg->vblankAtRate = modeAtRate;
    }
    if (!gg->window) {
      Failed("no window");
      return nullptr;
    }
    SDL_GetWindowSize(gg->window, &gg->openW, &gg->openH);
    GiveIcon(gg->window);
    gg->context = SDL_GL_CreateContext(gg->window);
    if (!gg->context) {
      Failed("GL context failed");
      return nullptr;
    }
    SDL_GL_MakeCurrent(gg->window, gg->context);
    lastSwap = -1;
    if (gg->vblankAtRate) {
      gg->vblankAtRate = SDL_GL_SetSwapInterval(1) == 0;
      lastSwap = gg->vblankAtRate ? 1 : -1;
    }
    if (gg->fullscreen) {
      int w = width, h = height;
      SDL_GetWindowSize(gg->window, &w, &h);
      SDL_WarpMouseInWindow(gg->window, w / 2, h / 2);
    }
    SDL_DisableScreenSaver();
    SDL_StartTextInput();
    return gg;
  }

  // A window of the size the player left it at (at least a quarter of
  // the picture's), resizable; the picture is scaled into it. A kept size
  // larger than the usable part of the display it opens on (one kept on a
  // larger monitor) shrinks to fit with its aspect kept; a window that
  // still cannot be had at that size opens at the picture's own.
  static SDL_Window* OpenWindow(int width, int height) {
    int minW = width / 4, minH = height / 4;
    int w = std::max(ConfigInt(WINDOW_WIDTH, width), minW);
    int h = std::max(ConfigInt(WINDOW_HEIGHT, height), minH);
    const Text kept = u"window_width and window_height in " + ConfigPath();
    SDL_Rect usable{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= 0)
      usable = {0, 0, 16384, 16384};  // the largest window SDL makes
    double s = std::min({1.0, double(usable.w) / w, double(usable.h) / h});
    if (s < 1) {
      int fitW = std::max(minW, int(std::lround(w * s)));
      int fitH = std::max(minH, int(std::lround(h * s)));
      PrintLine(u"window: the kept size " + IntText(w) + u" x " + IntText(h) + u" (" + kept +
                u") does not fit the screen; it opens at " + IntText(fitW) + u" x " +
                IntText(fitH));
      w = fitW, h = fitH;
    }
    SDL_Window* win = CreateWindow(w, h);
    if (!win && (w != width || h != height)) {
      PrintLine(u"window: no window of " + IntText(w) + u" x " + IntText(h) + u" (" +
                AsciiText(SDL_GetError()) + u"; " + kept + u"); it opens at " + IntText(width) +
                u" x " + IntText(height));
      win = CreateWindow(width, height);
    }
    if (win) SDL_SetWindowMinimumSize(win, minW, minH);
    return win;
  }

  static SDL_Window* CreateWindow(int w, int h) {
    return SDL_CreateWindow(
        appTitle.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h,
        SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  }

  // Full screen covers the desktop in its own mode and shows the picture
  // scaled like a window does; the monitor's mode is never changed. Swaps
  // wait for the vertical blank only where the desktop refreshes at the
  // rate asked for. Where full screen fails we stay in a window rather than
  // stop.
  SDL_Window* OpenFullScreen(int width, int height, int hertz) {
    SDL_DisplayMode desktop{};
    bool known = SDL_GetDesktopDisplayMode(0, &desktop) == 0;
    SDL_Window* w = SDL_CreateWindow(
        appTitle.c_str(), 0, 0, known ? desktop.w : width, known ? desktop.h : height,
        SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI);
    modeAtRate = false;
    if (w && SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0) {
      modeAtRate = known && hertz != 0 && desktop.refresh_rate == hertz;
      SDL_ShowWindow(w);
      return w;
    }
    std::printf("GL graphics driver failed to set display mode\r\n");
    std::fflush(stdout);
    if (w) SDL_DestroyWindow(w);
    ++displayModeFallbacks;
    return OpenWindow(width, height);
  }

  void SetGraphics(TGraphics* graphics) override {
    if (!graphics) GLDropBatch();
    texelForPixel = false;
    g = static_cast<TGLGraphics*>(graphics);
    if (!g) return;
    SDL_GL_MakeCurrent(g->window, g->context);
    GLForgetTextureState();  // what was bound belonged to the context before
    Layout();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    GLDisableTexturing();
  }

  // Where the picture lands in the drawable: as large as fits with its
  // aspect kept, in whole multiples when the settings ask for sharp pixels
  // (and the drawable holds at least one).
  void Letterbox() {
    SDL_GL_GetDrawableSize(g->window, &g->drawW, &g->drawH);
    double s = std::min(double(g->drawW) / g->width, double(g->drawH) / g->height);
    if (ConfigInt(INTEGER_SCALING, 0) == 1 && s >= 1) s = std::floor(s);
    if (g->drawW == g->width && g->drawH == g->height) s = 1;
    g->outW = std::max(1, static_cast<int>(std::lround(g->width * s)));
    g->outH = std::max(1, static_cast<int>(std::lround(g->height * s)));
    g->outX = (g->drawW - g->outW) / 2;
    g->outY = (g->drawH - g->outH) / 2;
  }

  // Projection: one unit a pixel of the picture, y down. Drawn into the
  // picture's own target when it is scaled and GL has one; otherwise
  // straight into the window, letterboxed by the viewport and the scissor.
  void Layout() {
    GLFlushBatch();
    Letterbox();
    bool unscaled = g->outW == g->width && g->outH == g->height;
    g->toPicture = !unscaled && MakePictureTarget();
    BindScreen();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, g->width, g->height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    SetLineWidth(lineWidth);
  }

  // Drawing goes to the screen: the picture's target or the window.
  void BindScreen() {
    if (fb.bind) fb.bind(GL_FRAMEBUFFER, g->toPicture ? g->pictureFb : 0);
    if (g->toPicture) {
      glViewport(0, 0, g->width, g->height);
      targetX = targetY = 0;
    } else {
      glViewport(g->outX, g->outY, g->outW, g->outH);
      targetX = g->outX, targetY = g->outY;
    }
  }

  // Drawing goes straight into a window with bars around the picture: the
  // scissor keeps it off them.
  bool Barred() const {
    return !g->toPicture && !steady.drawing && (g->outW != g->drawW || g->outH != g->drawH);
  }

  // Pixels of what is drawn into per unit of the picture.
  double DrawnScale() const { return g->toPicture ? 1.0 : double(g->outW) / g->width; }
  int DrawnW() const { return g->toPicture ? g->width : g->outW; }
  int DrawnH() const { return g->toPicture ? g->height : g->outH; }

  bool MakePictureTarget() {
    if (g->pictureFb) return true;
    if (!fb.Load()) return false;
    glGenTextures(1, &g->pictureTex);
    GLBindTexture(g->pictureTex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, g->width, g->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    fb.gen(1, &g->pictureFb);
    fb.bind(GL_FRAMEBUFFER, g->pictureFb);
    fb.attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, g->pictureTex, 0);
    bool complete = fb.check(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    fb.bind(GL_FRAMEBUFFER, 0);
    if (complete) {
      // It starts black like the window's buffers.
      fb.bind(GL_FRAMEBUFFER, g->pictureFb);
      GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
      glDisable(GL_SCISSOR_TEST);
      ClearColourOnce(0, 0, 0, 1);
      if (scissor) glEnable(GL_SCISSOR_TEST);
      fb.bind(GL_FRAMEBUFFER, 0);
      return true;
    }
    fb.remove(1, &g->pictureFb);
    glDeleteTextures(1, &g->pictureTex);
    g->pictureFb = g->pictureTex = 0;
    return false;
  }

  // The bars around the picture in the window's back buffer, black; only
  // they are cleared, the picture covers the rest. Leaves the scissor on.
  void ClearBars() {
    const int x1 = g->outX + g->outW, y1 = g->outY + g->outH;
    const int bars[4][4] = {{0, 0, g->drawW, g->outY},
                            {0, y1, g->drawW, g->drawH - y1},
                            {0, g->outY, g->outX, g->outH},
                            {x1, g->outY, g->drawW - x1, g->outH}};
    GLfloat kept[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, kept);
    glClearColor(0, 0, 0, 1);
    glEnable(GL_SCISSOR_TEST);
    for (const int* b : bars) {
      if (b[2] <= 0 || b[3] <= 0) continue;
      glScissor(b[0], b[1], b[2], b[3]);
      glClear(GL_COLOR_BUFFER_BIT);
    }
    glClearColor(kept[0], kept[1], kept[2], kept[3]);
  }

  // The picture scaled into the window's back buffer, black around it. A
  // picture drawn straight into the window only needs its bars.
  void Present() {
    if (!g || g->presented) return;
    if (!g->toPicture) {
      if (!Barred()) return;
      GLFlushBatch();
      ClearBars();
      ApplyScissor();
      return;
    }
    GLFlushBatch();
    g->presented = true;
    Letterbox();  // the window may have changed size since the frame began
    fb.bind(GL_FRAMEBUFFER, 0);
    ClearBars();
    glDisable(GL_SCISSOR_TEST);
    glViewport(g->outX, g->outY, g->outW, g->outH);
    const int was = blend;
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    blend = -1;
    const uint8_t white[4] = {255, 255, 255, 255};
    GLSetColor(white);
    GLBindTexture(g->pictureTex);
    // Whole multiples keep every texel a sharp square; other scales blend
    // neighbours.
    const bool whole = g->outW % g->width == 0 && g->outH % g->height == 0;
    const GLint filter = whole ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    // Texels as they are: what white would modulate to, one multiply a
    // pixel less on a software rasteriser.
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    DrawWholePicture();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    GLSetColor(color);
    SetBlend(was);
  }

  // A quad over the whole picture, texel for pixel at scale 1, from a
  // texture drawn into as a framebuffer (its rows from the bottom).
  void DrawWholePicture() {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex2f(0, 0);
    glTexCoord2f(1, 1);
    glVertex2f(float(g->width), 0);
    glTexCoord2f(1, 0);
    glVertex2f(float(g->width), float(g->height));
    glTexCoord2f(0, 0);
    glVertex2f(0, float(g->height));
    glEnd();
  }

  void Flip(bool sync) override {
    if (!g) return;
    GLFlushBatch();
    Present();
    int want = sync ? 1 : 0;
    if (want != lastSwap) {
      SDL_GL_SetSwapInterval(want);  // unsupported under Xvfb; harmless
      lastSwap = want;
    }
    SDL_GL_SwapWindow(g->window);
    const bool was = g->presented;
    g->presented = false;
    if (g->layoutStale) {
      g->layoutStale = false;
      Layout();
      ApplyScissor();
    } else if (was) {
      BindScreen();
      ApplyScissor();
    }
  }

  void Finish() override {
    if (!g) return;
    GLFlushBatch();
    Present();
    glFinish();
  }

  std::unique_ptr<TImageFrame> CreateFrameFromPixmap(const TPixmap& pixmap, int flags) override;

  void SetBlend(int mode) override {
    if (mode == blend) return;
    GLFlushBatch();
    blend = mode;
    switch (mode) {
      case BLEND_MASK:
        glDisable(GL_BLEND);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GEQUAL, 0.5f);
        break;
      case BLEND_ALPHA:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDisable(GL_ALPHA_TEST);
        break;
      case BLEND_LIGHT:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        glDisable(GL_ALPHA_TEST);
        break;
      case BLEND_SHADE:
        glEnable(GL_BLEND);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        glDisable(GL_ALPHA_TEST);
        break;
      default:  // BLEND_SOLID and anything else
        glDisable(GL_BLEND);
        glDisable(GL_ALPHA_TEST);
        break;
    }
  }

  void SetAlpha(float alpha) override {
    color[3] = static_cast<uint8_t>(alpha * 255.0f);
    GLSetColor(color);
  }

  void SetColor(int r, int g_, int b) override {
    color[0] = static_cast<uint8_t>(r);
    color[1] = static_cast<uint8_t>(g_);
    color[2] = static_cast<uint8_t>(b);
    GLSetColor(color);
  }

  void SetClsColor(int r, int g_, int b) override {
    glClearColor(r / 255.0f, g_ / 255.0f, b / 255.0f, 1.0f);
  }

  void SetViewport(int x, int y, int w, int h) override {
    vpX = x;
    vpY = y;
    vpW = w;
    vpH = h;
    ApplyScissor();
  }

  // The viewport, and while part of the kept light is drawn again that part.
  void ApplyScissor() {
    GLFlushBatch();
    int x = vpX, y = vpY, w = vpW, h = vpH;
    if (steady.drawing && steady.clipped) {
      const int* c = steady.clip;
      int x1 = std::min(x + w, c[0] + c[2]), y1 = std::min(y + h, c[1] + c[3]);
      x = std::max(x, c[0]), y = std::max(y, c[1]);
      w = std::max(0, x1 - x), h = std::max(0, y1 - y);
    } else if (x == 0 && y == 0 && w == g->width && h == g->height && !Barred()) {
      glDisable(GL_SCISSOR_TEST);
      return;
    }
    glEnable(GL_SCISSOR_TEST);
    double s = DrawnScale();
    int sx = targetX + static_cast<int>(std::lround(x * s));
    int sy = targetY + static_cast<int>(std::lround((g->height - y - h) * s));
    glScissor(sx, sy, static_cast<int>(std::lround(w * s)), static_cast<int>(std::lround(h * s)));
  }

  void SetTransform(float ix_, float iy_, float jx_, float jy_) override {
    ix = ix_;
    iy = iy_;
    jx = jx_;
    jy = jy_;
    if (texelForPixel) SetTexelForPixel(true);
  }

  // Only where a unit of the picture is a pixel of what is drawn into, and
  // nothing is scaled or turned.
  void SetTexelForPixel(bool on) override {
    texelForPixel = on;
    GLSetUnfiltered(on && g && DrawnScale() == 1.0 && ix == 1 && iy == 0 && jx == 0 && jy == 1);
  }

  void SetLineWidth(float width) override {
    lineWidth = width;
    glLineWidth(width * (g ? float(DrawnScale()) : 1.0f));
  }

  // Clears what the viewport and the scissor let through: never the bars
  // of a window drawn into straight (they are cleared as the frame is shown).
  void Cls() override {
    GLFlushBatch();
    glClear(GL_COLOR_BUFFER_BIT);
  }

  void Plot(float x, float y) override {
    GLDisableTexturing();
    glBegin(GL_POINTS);
    glVertex2f(x + 0.5f, y + 0.5f);
    glEnd();
  }

  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    GLDisableTexturing();
    glBegin(GL_LINES);
    glVertex2f(x0 * ix + y0 * iy + tx + 0.5f, x0 * jx + y0 * jy + ty + 0.5f);
    glVertex2f(x1 * ix + y1 * iy + tx + 0.5f, x1 * jx + y1 * jy + ty + 0.5f);
    glEnd();
  }

  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    GLDisableTexturing();
    glBegin(GL_QUADS);
    glVertex2f(x0 * ix + y0 * iy + tx, x0 * jx + y0 * jy + ty);
    glVertex2f(x1 * ix + y0 * iy + tx, x1 * jx + y0 * jy + ty);
    glVertex2f(x1 * ix + y1 * iy + tx, x1 * jx + y1 * jy + ty);
    glVertex2f(x0 * ix + y1 * iy + tx, x0 * jx + y1 * jy + ty);
    glEnd();
  }

  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override {
    GLDisableTexturing();
    float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
    glBegin(GL_POLYGON);
    for (int i = 0; i < 48; ++i) {
      float a = static_cast<float>(i * 2 * M_PI / 48);
      float px = cx + rx * std::cos(a), py = cy + ry * std::sin(a);
      glVertex2f(px * ix + py * iy + tx, px * jx + py * jy + ty);
    }
    glEnd();
  }

  void DrawPoly(const std::vector<float>& xy, float handle_x, float handle_y, float origin_x,
                float origin_y) override {
    if (xy.size() < 6) return;
    GLDisableTexturing();
    glBegin(GL_POLYGON);
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
      float px = xy[i] + handle_x, py = xy[i + 1] + handle_y;
      glVertex2f(px * ix + py * iy + origin_x, px * jx + py * jy + origin_y);
    }
    glEnd();
  }

  void DrawPixmap(const TPixmap&, int, int) override {}

  std::vector<uint8_t> GrabPixels(int x, int y, int w, int h) override {
    if (!g || w <= 0 || h <= 0) return {};
    GLFlushBatch();
    std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // GL's rows start at the bottom.
    if (g->toPicture) {
      fb.bind(GL_FRAMEBUFFER, g->pictureFb);
      glReadBuffer(GL_COLOR_ATTACHMENT0);
      glReadPixels(x, g->height - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
      if (g->presented) fb.bind(GL_FRAMEBUFFER, 0);
    } else {
      glReadBuffer(GL_BACK);
      glReadPixels(g->outX + x, g->outY + (g->height - y - h), w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                   rows.data());
    }
    std::vector<uint8_t> out(rows.size());
    for (int r = 0; r < h; ++r)
      std::copy_n(&rows[static_cast<size_t>(h - 1 - r) * w * 4], w * 4,
                  &out[static_cast<size_t>(r) * w * 4]);
    return out;
  }

  std::vector<uint8_t> GrabShown(int& w, int& h) override {
    if (!g) return {};
    GLFlushBatch();
    Present();
    if (!g->toPicture) Letterbox();
    w = g->drawW, h = g->drawH;
    if (w <= 0 || h <= 0) return {};
    if (g->toPicture) fb.bind(GL_FRAMEBUFFER, 0);
    std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4), out(rows.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    for (int r = 0; r < h; ++r)
      std::copy_n(&rows[static_cast<size_t>(h - 1 - r) * w * 4], w * 4,
                  &out[static_cast<size_t>(r) * w * 4]);
    return out;
  }

  void SetResolution(float, float) override {}

  void ForgetState() override {
    blend = -1;
    GLForgetTextureState();
  }

  // --- Steady light ---

  bool BeginSteadyLight(uint64_t key, const TSteadyChange* changed) override {
    TSteadyLight& k = steady;
    if (k.seq != graphicsSeq) k = TSteadyLight{graphicsSeq, fb.Load()};  // a new context
    k.direct = !g || !k.usable;
    if (k.direct) return true;
    GLFlushBatch();
    const int viewport[4] = {vpX, vpY, vpW, vpH};
    if (k.kept && k.key == key && k.w == DrawnW() && k.h == DrawnH() &&
        std::equal(viewport, viewport + 4, k.viewport))
      return false;
    // Only the changed part is drawn again where the picture holds the
    // light it changed from.
    k.clipped = changed && k.kept && k.key == changed->base && k.w == DrawnW() && k.h == DrawnH() &&
                std::equal(viewport, viewport + 4, k.viewport);
    if (k.clipped) {
      const int c[4] = {changed->x, changed->y, changed->w, changed->h};
      std::copy_n(c, 4, k.clip);
    }
    if (!k.framebuffer || k.w != DrawnW() || k.h != DrawnH()) MakeSteadyPicture();
    if (!k.usable) {
      k.direct = true;
      return true;
    }
    k.kept = false;
    k.key = key;
    std::copy_n(viewport, 4, k.viewport);
    k.drawing = true;
    fb.bind(GL_FRAMEBUFFER, k.framebuffer);
    glViewport(0, 0, k.w, k.h);
    targetX = targetY = 0;
    // The whole picture (or the changed part) starts empty: what is drawn
    // into it may reach past the viewport (the scan lines cover the panel
    // too), so a clear under the viewport's scissor would leave the last
    // light there to add up.
    if (k.clipped) {
      const int saved[4] = {vpX, vpY, vpW, vpH};
      vpX = 0, vpY = 0, vpW = g->width, vpH = g->height;
      ApplyScissor();
      vpX = saved[0], vpY = saved[1], vpW = saved[2], vpH = saved[3];
    } else {
      glDisable(GL_SCISSOR_TEST);
    }
    ClearColourOnce(0, 0, 0, 0);
    ApplyScissor();
    return true;
  }

  void EndSteadyLight() override {
    TSteadyLight& k = steady;
    if (k.direct || !g) {
      k.direct = false;
      return;
    }
    GLFlushBatch();
    if (k.drawing) {
      k.drawing = k.clipped = false;
      k.kept = true;
      BindScreen();
      ApplyScissor();
    }
    // Added texel for pixel: the quad covers the picture exactly, so each
    // pixel's centre samples its own texel. The picture holds what each
    // drawing's own viewport let through, so none limits the whole.
    const int was = blend;
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glBlendFunc(GL_ONE, GL_ONE);
    blend = -1;
    const uint8_t white[4] = {255, 255, 255, 255};
    GLSetColor(white);
    GLBindTexture(k.texture);
    DrawWholePicture();
    GLSetColor(color);
    SetBlend(was);
    ApplyScissor();
  }

  void MakeSteadyPicture() {
    TSteadyLight& k = steady;
    k.w = DrawnW(), k.h = DrawnH();
    k.usable = MakeLightPicture(k.framebuffer, k.texture, k.w, k.h);
    BindScreen();
  }

  // A texture of w x h to draw into, transparent where nothing is drawn and
  // read texel for pixel; any earlier one in its place is deleted first.
  // Leaves it bound for drawing; false when GL turned it down.
  bool MakeLightPicture(GLuint& framebuffer, GLuint& texture, int w, int h) {
    if (framebuffer) fb.remove(1, &framebuffer);
    if (texture) glDeleteTextures(1, &texture);
    framebuffer = texture = 0;
    glGenTextures(1, &texture);
    GLBindTexture(texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    fb.gen(1, &framebuffer);
    fb.bind(GL_FRAMEBUFFER, framebuffer);
    fb.attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    return fb.check(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }

  // The fixed light is drawn into its own picture the first time, with
  // nothing clipped, then copied: the steady picture under the scissor is
  // still clear, so the copy leaves what drawing there would.
  bool CopyFixedLight(const void* id, const std::function<void()>& draw) override {
    TSteadyLight& k = steady;
    TFixedLight& f = fixed;
    if (!g || !k.drawing || !fb.blit) return false;
    GLFlushBatch();
    if (f.seq != graphicsSeq || f.id != id || f.w != k.w || f.h != k.h) {
      if (f.seq != graphicsSeq) f.framebuffer = f.texture = 0;  // died with the old context
      f = TFixedLight{graphicsSeq, id, f.framebuffer, f.texture, k.w, k.h};
      if (!MakeLightPicture(f.framebuffer, f.texture, f.w, f.h)) {
        f.id = nullptr;
        fb.bind(GL_FRAMEBUFFER, k.framebuffer);
        ApplyScissor();
        return false;
      }
      glDisable(GL_SCISSOR_TEST);
      ClearColourOnce(0, 0, 0, 0);
      const bool clipped = k.clipped;
      k.clipped = false;
      draw();
      GLFlushBatch();
      k.clipped = clipped;
      fb.bind(GL_FRAMEBUFFER, k.framebuffer);
      ApplyScissor();
    }
    fb.bind(GL_READ_FRAMEBUFFER, f.framebuffer);
    fb.blit(0, 0, f.w, f.h, 0, 0, f.w, f.h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    fb.bind(GL_READ_FRAMEBUFFER, k.framebuffer);
    return true;
  }

  void WindowEvent(const SDL_WindowEvent& e) {
    if (!g) return;
    if (e.event == SDL_WINDOWEVENT_SIZE_CHANGED || e.event == SDL_WINDOWEVENT_RESTORED) {
      g->layoutStale = true;  // the frame being drawn goes on as it began
      return;
    }
    if (!g->fullscreen) return;
    if (e.event == SDL_WINDOWEVENT_FOCUS_LOST) {
      // Give the desktop its mode back while someone else has the focus.
      SDL_MinimizeWindow(g->window);
      SDL_GL_SetSwapInterval(0);
      lastSwap = 0;
    }
  }
};

TGL2DDriver glDriver;
}  // namespace

std::unique_ptr<TImageFrame> TGL2DDriver::CreateFrameFromPixmap(const TPixmap& pixmap, int flags) {
  return CreateGLImageFrame(pixmap, flags);
}

T2DDriver* GLDriver() { return &glDriver; }

void SetAppTitle(const Text& title) { appTitle = ByteString(title); }

void SetAppIcon(const TPixmap& icon) {
  std::unique_ptr<TPixmap> argb = icon.Convert(PF_RGBA8888);
  if (!argb) return;
  appIcon.assign(argb->Row(0), argb->Row(0) + size_t(argb->pitch) * argb->height);
  iconW = argb->width, iconH = argb->height, iconPitch = argb->pitch;
}

void ShowViewerState(const Text& state) {
  if (!videoUp || !glDriver.g) return;
  // In ASCII: the game runs in the C locale, where X keeps the title window
  // managers show (_NET_WM_NAME) unchanged when it is given anything else.
  std::string title = appTitle;
  if (!state.empty()) title += " - ";
  for (char16_t c : state)
    title += c == u'\u00d7' ? 'x' : c == u'\u2014' ? '-' : c < 0x80 ? char(c) : '?';
  SDL_SetWindowTitle(glDriver.g->window, title.c_str());
}

void DisplayHandleWindowEvent(const SDL_WindowEvent& e) { glDriver.WindowEvent(e); }

bool DisplayHasSDLWindow() { return videoUp && glDriver.g != nullptr; }
