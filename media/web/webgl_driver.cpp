// The browser's renderer: WebGL on the page's <canvas id="canvas">, with one
// small shader that does what the desktop's fixed-function states do. Every
// primitive becomes textured triangles (untextured ones sample a white
// texel) coloured per vertex; the blend modes are GL blend functions, and the
// mask mode's alpha test is a discard in the shader.
#include <GLES2/gl2.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "media/graphics.h"
#include "media/image.h"
#include "media/web/web.h"

void SetGraphicsFailure(const Text& why);  // graphics.cpp

namespace {

constexpr const char* CANVAS = "#canvas";

const char* VERTEX_SHADER = R"(
attribute vec2 pos;
attribute vec2 uv;
attribute vec4 col;
uniform vec2 size;
varying vec2 vUv;
varying vec4 vCol;
void main() {
  vUv = uv;
  vCol = col;
  gl_Position = vec4(pos.x * 2.0 / size.x - 1.0, 1.0 - pos.y * 2.0 / size.y, 0.0, 1.0);
})";

const char* FRAGMENT_SHADER = R"(
precision mediump float;
uniform sampler2D tex;
uniform float alphaTest;
varying vec2 vUv;
varying vec4 vCol;
void main() {
  vec4 c = texture2D(tex, vUv) * vCol;
  if (c.a < alphaTest) discard;
  gl_FragColor = c;
})";

struct TVertex {
  float x, y, u, v;
  uint8_t rgba[4];
};

GLuint Compile(GLenum kind, const char* source) {
  GLuint s = glCreateShader(kind);
  glShaderSource(s, 1, &source, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[512] = {};
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    std::printf("WebGL: shader: %s\n", log);
  }
  return s;
}

int PowerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n && p < (1 << 14)) p <<= 1;
  return p;
}

// The pixmap as RGBA rows without padding, in a w x h picture whose last
// column and row repeat the picture's edge when it is bigger, so filtering
// at the edge reads the picture's own colours.
std::vector<uint8_t> RgbaPicture(const TPixmap& src, int w, int h, int at) {
  auto rgba = TPixmap::Create(src.width, src.height, PF_RGBA8888);
  rgba->ClearPixels();
  rgba->Paste(src, 0, 0);
  std::vector<uint8_t> out(size_t(w) * h * 4, 0);
  auto texel = [&](int x, int y) -> uint8_t* { return &out[(size_t(y) * w + x) * 4]; };
  for (int y = -at; y < std::min(h - at, src.height + 1); ++y) {
    const int sy = std::clamp(y, 0, src.height - 1);
    for (int x = -at; x < std::min(w - at, src.width + 1); ++x) {
      const int sx = std::clamp(x, 0, src.width - 1);
      std::copy_n(rgba->Row(sy) + sx * 4, 4, texel(x + at, y + at));
    }
  }
  return out;
}

// Small pictures share big textures, so sprites of different images still
// go to GL in one call; each sits in its cell with a border of one texel
// repeating its edge.
constexpr int ATLAS_PAGE = 1024, ATLAS_MAX = 128;
struct TPage {
  GLuint name = 0;
  int flags = 0, seq = 0;
  int x = 0, y = 0, rowH = 0;
};
std::vector<TPage> pages;
// Cells whose frames are gone, for the next pictures that fit: a picture
// made again every frame takes the same cell instead of a new one.
struct TCell {
  GLuint page = 0;
  int flags = 0, x = 0, y = 0, w = 0, h = 0;
};
std::vector<TCell> freeCells;

// The filters each texture was made with, so a batch read texel for pixel
// can switch them off and back.
std::unordered_map<GLuint, std::pair<bool, bool>> filtersOf;

void SetFilters(GLuint name, bool filtered, bool mipmapped) {
  filtersOf[name] = {filtered, mipmapped};
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filtered ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  filtered ? (mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR)
                           : (mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
}

class TWebGLGraphics : public TGraphics {
 public:
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
  ~TWebGLGraphics() override {
    if (context) emscripten_webgl_destroy_context(context);
  }
};

class TWebGL2DDriver : public T2DDriver {
 public:
  TWebGLGraphics* g = nullptr;
  GLuint program = 0, buffer = 0, white = 0;
  GLint alphaTestAt = -1;
  std::vector<TVertex> batch;
  GLuint batchTexture = 0, boundTexture = 0;
  int blend = -1;
  float ix = 1, iy = 0, jx = 0, jy = 1;
  float lineWidth = 1;
  int vpX = 0, vpY = 0, vpW = 0, vpH = 0;
  uint8_t color[4] = {255, 255, 255, 255};

  std::vector<TGraphicsMode> GraphicsModes() override { return {{800, 600, 32, 60}}; }
  TGraphics* AttachGraphics(void*, int) override { return nullptr; }

  // The page's canvas at the picture's size; the page scales it to fit. A
  // full-screen request gets the same canvas: the browser's own full-screen
  // control is the visitor's.
  std::unique_ptr<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                            int flags) override {
    EmscriptenWebGLContextAttributes attrs;
    emscripten_webgl_init_context_attributes(&attrs);
    attrs.alpha = false;
    attrs.depth = false;
    attrs.stencil = false;
    attrs.antialias = false;
    attrs.preserveDrawingBuffer = true;  // the page and the tests read frames back between swaps
    attrs.majorVersion = 1;
    emscripten_set_canvas_element_size(CANVAS, width, height);
    auto gg = std::make_unique<TWebGLGraphics>();
    gg->context = emscripten_webgl_create_context(CANVAS, &attrs);
    if (gg->context <= 0) {
      SetGraphicsFailure(u"no WebGL on this page");
      return nullptr;
    }
    gg->width = width, gg->height = height, gg->depth = depth, gg->hertz = hertz;
    gg->flags = flags;
    emscripten_webgl_make_context_current(gg->context);
    WebStartInput();
    program = 0;  // a new context knows none of the old one's objects
    clearHeld = false;
    vpX = vpY = 0, vpW = width, vpH = height;
    pages.clear();
    freeCells.clear();
    filtersOf.clear();
    lightFbo = lightTexture = 0;
    lightUsable = true;
    lightKept = lightDrawing = lightClipped = false;
    texelForPixel = unfiltered = false;
    return gg;
  }

  void SetGraphics(TGraphics* graphics) override {
    if (!graphics) batch.clear();
    g = static_cast<TWebGLGraphics*>(graphics);
    if (!g) return;
    emscripten_webgl_make_context_current(g->context);
    if (!program) Setup();
    glViewport(0, 0, g->width, g->height);
    glUniform2f(glGetUniformLocation(program, "size"), float(g->width), float(g->height));
  }

  void Setup() {
    program = glCreateProgram();
    glAttachShader(program, Compile(GL_VERTEX_SHADER, VERTEX_SHADER));
    glAttachShader(program, Compile(GL_FRAGMENT_SHADER, FRAGMENT_SHADER));
    glBindAttribLocation(program, 0, "pos");
    glBindAttribLocation(program, 1, "uv");
    glBindAttribLocation(program, 2, "col");
    glLinkProgram(program);
    glUseProgram(program);
    alphaTestAt = glGetUniformLocation(program, "alphaTest");
    glUniform1i(glGetUniformLocation(program, "tex"), 0);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex), nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex),
                          reinterpret_cast<void*>(offsetof(TVertex, u)));
    glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(TVertex),
                          reinterpret_cast<void*>(offsetof(TVertex, rgba)));
    const uint8_t texel[4] = {255, 255, 255, 255};
    glGenTextures(1, &white);
    glBindTexture(GL_TEXTURE_2D, white);
    SetFilters(white, false, false);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    boundTexture = white;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    blend = -1;
  }

  // --- The batch: triangles of one texture under one set of states ---

  // A clear is held until something is drawn: the game clears right after
  // showing a frame and then waits, and the browser paints in that wait, so
  // a clear done at once would be what it paints. It keeps the viewport and
  // colour it was asked with.
  bool clearHeld = false;
  int heldViewport[4] = {};
  float heldColor[3] = {};

  void Scissor(int x, int y, int w, int h) {
    if (x == 0 && y == 0 && w == g->width && h == g->height) {
      glDisable(GL_SCISSOR_TEST);
      return;
    }
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, g->height - y - h, w, h);
  }

  void ClearNow() {
    if (!clearHeld || !g) return;
    clearHeld = false;
    Scissor(heldViewport[0], heldViewport[1], heldViewport[2], heldViewport[3]);
    glClearColor(heldColor[0], heldColor[1], heldColor[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(clsColor[0], clsColor[1], clsColor[2], 1.0f);
    ApplyScissor();
  }

  void Flush() {
    if (batch.empty() || !g) return;
    ClearNow();
    if (boundTexture != batchTexture) {
      glBindTexture(GL_TEXTURE_2D, batchTexture);
      boundTexture = batchTexture;
    }
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(batch.size() * sizeof(TVertex)), batch.data(),
                 GL_STREAM_DRAW);
    // Sampled at texel centres, a filtered texture gives the texel itself;
    // reading it unfiltered is the same and cheaper.
    const auto found = filtersOf.find(batchTexture);
    const auto filters = found != filtersOf.end() ? found->second : std::pair{false, false};
    const bool nearest = unfiltered && filters.first;
    if (nearest) SetFilters(batchTexture, false, false);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(batch.size()));
    if (nearest) SetFilters(batchTexture, filters.first, filters.second);
    batch.clear();
  }

  void Vertex(float x, float y, float u, float v) {
    batch.push_back({x, y, u, v, {color[0], color[1], color[2], color[3]}});
  }

  // A quad given by its four corners in order, as two triangles.
  void Quad(GLuint texture, const float (&xy)[8], const float (&uv)[8]) {
    if (!g) return;
    if (!batch.empty() && texture != batchTexture) Flush();
    batchTexture = texture;
    const int order[6] = {0, 1, 2, 0, 2, 3};
    for (int c : order) Vertex(xy[2 * c], xy[2 * c + 1], uv[2 * c], uv[2 * c + 1]);
    if (!DrawShortcuts()) Flush();
  }

  void Solid(const float (&xy)[8]) { Quad(white, xy, {0, 0, 0, 0, 0, 0, 0, 0}); }

  void Fan(const std::vector<float>& xy) {
    if (!g || xy.size() < 6) return;
    if (!batch.empty() && white != batchTexture) Flush();
    batchTexture = white;
    for (size_t i = 2; i + 3 < xy.size(); i += 2) {
      Vertex(xy[0], xy[1], 0, 0);
      Vertex(xy[i], xy[i + 1], 0, 0);
      Vertex(xy[i + 2], xy[i + 3], 0, 0);
    }
  }

  void Flip(bool) override {
    Flush();
    ClearNow();
    WebYieldForFrame(true);
  }

  // Nothing of a skipped frame was drawn: the last one shown stays.
  void FlipSkipped() override { WebYieldForFrame(false); }
  bool FramesMayBeSkipped() override { return !WebHoldingFrames(); }

  std::unique_ptr<TImageFrame> CreateFrameFromPixmap(const TPixmap& pixmap, int flags) override;
  TCell PlaceCell(const TPixmap& pixmap, int filtered);

  void SetBlend(int mode) override {
    if (mode == blend) return;
    Flush();
    blend = mode;
    glUniform1f(alphaTestAt, mode == BLEND_MASK ? 0.5f : -1.0f);
    switch (mode) {
      case BLEND_ALPHA:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        break;
      case BLEND_LIGHT:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        break;
      case BLEND_SHADE:
        glEnable(GL_BLEND);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        break;
      default:  // BLEND_MASK, BLEND_SOLID and anything else
        glDisable(GL_BLEND);
        break;
    }
  }

  void SetAlpha(float alpha) override { color[3] = uint8_t(alpha * 255.0f); }
  void SetColor(int r, int g_, int b) override {
    color[0] = uint8_t(r), color[1] = uint8_t(g_), color[2] = uint8_t(b);
  }
  void SetClsColor(int r, int g_, int b) override {
    Flush();
    clsColor[0] = r / 255.0f, clsColor[1] = g_ / 255.0f, clsColor[2] = b / 255.0f;
    glClearColor(clsColor[0], clsColor[1], clsColor[2], 1.0f);
  }

  void SetViewport(int x, int y, int w, int h) override {
    if (g) Flush();  // under the viewport it was drawn in
    vpX = x, vpY = y, vpW = w, vpH = h;
    if (!g) return;
    ApplyScissor();
  }

  // The viewport, and while part of the kept light is drawn again that part.
  void ApplyScissor() {
    int x = vpX, y = vpY, w = vpW, h = vpH;
    if (lightDrawing && lightClipped) {
      const int* c = lightClip;
      const int x1 = std::min(x + w, c[0] + c[2]), y1 = std::min(y + h, c[1] + c[3]);
      x = std::max(x, c[0]), y = std::max(y, c[1]);
      w = std::max(0, x1 - x), h = std::max(0, y1 - y);
    }
    Scissor(x, y, w, h);
  }

  void SetTransform(float ix_, float iy_, float jx_, float jy_) override {
    ix = ix_, iy = iy_, jx = jx_, jy = jy_;
    if (texelForPixel) SetTexelForPixel(true);
  }

  // Only while nothing is scaled or turned.
  bool texelForPixel = false, unfiltered = false;
  void SetTexelForPixel(bool on) override {
    texelForPixel = on;
    const bool now = on && ix == 1 && iy == 0 && jx == 0 && jy == 1;
    if (now == unfiltered) return;
    Flush();
    unfiltered = now;
  }
  void SetLineWidth(float width) override { lineWidth = width; }

  void Cls() override {
    Flush();
    clearHeld = g != nullptr;
    const int viewport[4] = {vpX, vpY, vpW, vpH};
    std::copy_n(viewport, 4, heldViewport);
    std::copy_n(clsColor, 3, heldColor);
  }

  // A point covers the pixel it is in, as GL's one-pixel points do.
  void Plot(float x, float y) override {
    float px = std::floor(x + 0.5f), py = std::floor(y + 0.5f);
    Solid({px, py, px + 1, py, px + 1, py + 1, px, py + 1});
  }

  // GL's wide lines: the line through the pixel centres, as wide as asked
  // across its minor axis, without its last pixel.
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    float ax = x0 * ix + y0 * iy + tx + 0.5f, ay = x0 * jx + y0 * jy + ty + 0.5f;
    float bx = x1 * ix + y1 * iy + tx + 0.5f, by = x1 * jx + y1 * jy + ty + 0.5f;
    float h = std::max(1.0f, lineWidth) / 2;
    if (std::fabs(bx - ax) >= std::fabs(by - ay))
      Solid({ax, ay - h, bx, by - h, bx, by + h, ax, ay + h});
    else
      Solid({ax - h, ay, bx - h, by, bx + h, by, ax + h, ay});
  }

  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Solid({x0 * ix + y0 * iy + tx, x0 * jx + y0 * jy + ty, x1 * ix + y0 * iy + tx,
           x1 * jx + y0 * jy + ty, x1 * ix + y1 * iy + tx, x1 * jx + y1 * jy + ty,
           x0 * ix + y1 * iy + tx, x0 * jx + y1 * jy + ty});
  }

  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override {
    float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
    std::vector<float> xy;
    for (int i = 0; i < 48; ++i) {
      float a = float(i * 2 * M_PI / 48);
      float px = cx + rx * std::cos(a), py = cy + ry * std::sin(a);
      xy.push_back(px * ix + py * iy + tx);
      xy.push_back(px * jx + py * jy + ty);
    }
    Fan(xy);
  }

  void DrawPoly(const std::vector<float>& pts, float handle_x, float handle_y, float origin_x,
                float origin_y) override {
    std::vector<float> xy;
    for (size_t i = 0; i + 1 < pts.size(); i += 2) {
      float px = pts[i] + handle_x, py = pts[i + 1] + handle_y;
      xy.push_back(px * ix + py * iy + origin_x);
      xy.push_back(px * jx + py * jy + origin_y);
    }
    Fan(xy);
  }

  void DrawPixmap(const TPixmap&, int, int) override {}

  std::vector<uint8_t> GrabPixels(int x, int y, int w, int h) override {
    if (!g || w <= 0 || h <= 0) return {};
    Flush();
    ClearNow();
    std::vector<uint8_t> rows(size_t(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, g->height - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    std::vector<uint8_t> out(rows.size());
    for (int r = 0; r < h; ++r)
      std::copy_n(&rows[size_t(h - 1 - r) * w * 4], w * 4, &out[size_t(r) * w * 4]);
    return out;
  }

  // --- Steady light: kept in a texture of the screen's size and added from
  // there while its key and the viewport stay the same ---

  GLuint lightFbo = 0, lightTexture = 0;
  bool lightUsable = true, lightKept = false, lightDrawing = false, lightDirect = false;
  bool lightClipped = false;  // only lightClip (x, y, w, h) is drawn again
  int lightClip[4] = {};
  uint64_t lightKey = 0;
  int lightViewport[4] = {};
  float clsColor[3] = {};

  bool BeginSteadyLight(uint64_t key, const TSteadyChange* changed) override {
    lightDirect = !g || !lightUsable;
    if (lightDirect) return true;
    const int viewport[4] = {vpX, vpY, vpW, vpH};
    const bool sameViewport = std::equal(viewport, viewport + 4, lightViewport);
    if (lightKept && lightKey == key && sameViewport) return false;
    // Only the changed part is drawn again where the texture holds the
    // light it changed from.
    lightClipped = changed && lightKept && lightKey == changed->base && sameViewport;
    if (lightClipped) {
      const int c[4] = {changed->x, changed->y, changed->w, changed->h};
      std::copy_n(c, 4, lightClip);
    }
    Flush();
    ClearNow();
    if (!lightFbo) {
      glGenTextures(1, &lightTexture);
      glBindTexture(GL_TEXTURE_2D, lightTexture);
      boundTexture = lightTexture;
      SetFilters(lightTexture, false, false);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, g->width, g->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                   nullptr);
      glGenFramebuffers(1, &lightFbo);
      glBindFramebuffer(GL_FRAMEBUFFER, lightFbo);
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, lightTexture, 0);
      lightUsable = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
      if (!lightUsable) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        lightDirect = true;
        lightClipped = false;
        return true;
      }
    } else {
      glBindFramebuffer(GL_FRAMEBUFFER, lightFbo);
    }
    lightKey = key;
    std::copy_n(viewport, 4, lightViewport);
    lightKept = false;
    lightDrawing = true;
    // The whole texture (or the changed part) starts empty: what is drawn
    // into it may reach past the viewport (the scan lines cover the panel
    // too), so a clear under the viewport's scissor would leave the last
    // light there to add up.
    if (lightClipped) {
      const int* c = lightClip;
      glEnable(GL_SCISSOR_TEST);
      glScissor(c[0], g->height - c[1] - c[3], c[2], c[3]);
    } else {
      glDisable(GL_SCISSOR_TEST);
    }
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(clsColor[0], clsColor[1], clsColor[2], 1);
    ApplyScissor();
    return true;
  }

  void EndSteadyLight() override {
    if (lightDirect || !g) {
      lightDirect = false;
      return;
    }
    Flush();
    ClearNow();
    if (lightDrawing) {
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      lightDrawing = lightClipped = false;
      lightKept = true;
    }
    // Added texel for pixel over the whole screen: the picture holds what
    // each drawing's own viewport let through.
    const int was = blend;
    const uint8_t keep[4] = {color[0], color[1], color[2], color[3]};
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glUniform1f(alphaTestAt, -1.0f);
    std::fill_n(color, 4, 255);
    const float w = float(g->width), h = float(g->height);
    Quad(lightTexture, {0, 0, w, 0, w, h, 0, h}, {0, 1, 1, 1, 1, 0, 0, 0});
    Flush();
    std::copy_n(keep, 4, color);
    blend = -1;
    SetBlend(was);
    SetViewport(vpX, vpY, vpW, vpH);
  }

  void SetResolution(float, float) override {}
  void ForgetState() override {
    Flush();
    blend = -1;
  }

  // A texture of w x h texels (powers of two, so WebGL 1 can mipmap it)
  // holding the pixmap at (at, at).
  GLuint MakeTexture(const TPixmap& pixmap, int w, int h, int at, int flags) {
    Flush();
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    boundTexture = name;
    SetFilters(name, flags & IMAGE_FILTERED, flags & IMAGE_MIPMAPPED);
    std::vector<uint8_t> texels = RgbaPicture(pixmap, w, h, at);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    if (flags & IMAGE_MIPMAPPED) glGenerateMipmap(GL_TEXTURE_2D);
    return name;
  }
};

TWebGL2DDriver webgl;

class TWebGLImageFrame : public TCornerImageFrame {
 public:
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  GLuint name = 0;
  bool shared = false;  // a cell of an atlas page
  TCell cell;
  // A mipmapped picture's copy on an unfiltered page, where it is drawn
  // whole, unscaled and at a whole pixel: sampled at texel centres its own
  // texture gives the texels themselves, and copies drawn so share a batch
  // (the letters of a text).
  TCell copy;
  int w = 0, h = 0;

  ~TWebGLImageFrame() override {
    if (name == 0 || seq != graphicsSeq) return;
    if (copy.page) freeCells.push_back(copy);
    if (shared) {
      freeCells.push_back(cell);
      return;
    }
    webgl.Flush();
    glDeleteTextures(1, &name);
    filtersOf.erase(name);
    if (webgl.boundTexture == name) webgl.boundTexture = 0;
  }

  void Corners(float x0, float y0, float x1, float y1, float tx, float ty,
               const std::array<float, 8>& at) override {
    const float ix = webgl.ix, iy = webgl.iy, jx = webgl.jx, jy = webgl.jy;
    float xy[8], uv[8];
    for (int c = 0; c < 4; ++c) {
      const float a = at[2 * c], b = at[2 * c + 1];
      const float lx = x0 + (x1 - x0) * a, ly = y0 + (y1 - y0) * b;
      uv[2 * c] = u0 + (u1 - u0) * a, uv[2 * c + 1] = v0 + (v1 - v0) * b;
      xy[2 * c] = lx * ix + ly * iy + tx, xy[2 * c + 1] = lx * jx + ly * jy + ty;
    }
    const std::array<float, 8> whole = {0, 0, 1, 0, 1, 1, 0, 1};
    if (copy.page && DrawShortcuts() && at == whole && ix == 1 && iy == 0 && jx == 0 &&
        jy == 1 && x1 - x0 == float(w) && y1 - y0 == float(h) && xy[0] == std::floor(xy[0]) &&
        xy[1] == std::floor(xy[1])) {
      const float texel = 1.0f / ATLAS_PAGE;
      const float l = (copy.x + 1) * texel, t = (copy.y + 1) * texel;
      const float r = (copy.x + 1 + w) * texel, b = (copy.y + 1 + h) * texel;
      webgl.Quad(copy.page, xy, {l, t, r, t, r, b, l, b});
      return;
    }
    webgl.Quad(name, xy, uv);
  }
};

// A cell of w x h texels on a page of the same filtering: room on the
// current shelf, a new shelf, or a new page.
TPage& PlaceInAtlas(int flags, int w, int h, int& x, int& y) {
  for (TPage& page : pages) {
    if (page.flags != flags) continue;
    if (page.x + w > ATLAS_PAGE) page.y += page.rowH, page.x = 0, page.rowH = 0;
    if (page.y + h > ATLAS_PAGE) continue;
    x = page.x, y = page.y;
    page.x += w;
    page.rowH = std::max(page.rowH, h);
    return page;
  }
  TPage page;
  page.flags = flags;
  page.seq = graphicsSeq;
  glGenTextures(1, &page.name);
  glBindTexture(GL_TEXTURE_2D, page.name);
  webgl.boundTexture = page.name;
  SetFilters(page.name, flags & IMAGE_FILTERED, false);
  std::vector<uint8_t> clear(size_t(ATLAS_PAGE) * ATLAS_PAGE * 4, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, ATLAS_PAGE, ATLAS_PAGE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               clear.data());
  pages.push_back(page);
  return PlaceInAtlas(flags, w, h, x, y);
}

}  // namespace

std::unique_ptr<TImageFrame> TWebGL2DDriver::CreateFrameFromPixmap(const TPixmap& pixmap,
                                                                   int flags) {
  const int w = pixmap.width, h = pixmap.height;
  if (w <= 0 || h <= 0 || !g) return nullptr;
  auto frame = std::make_unique<TWebGLImageFrame>();
  frame->seq = graphicsSeq;
  frame->w = w, frame->h = h;
  const bool small = DrawShortcuts() && w <= ATLAS_MAX && h <= ATLAS_MAX;
  if (small && !(flags & IMAGE_MIPMAPPED)) {
    frame->cell = PlaceCell(pixmap, flags & IMAGE_FILTERED);
    frame->name = frame->cell.page;
    frame->shared = true;
    const float texel = 1.0f / ATLAS_PAGE;
    const int x = frame->cell.x, y = frame->cell.y;
    frame->u0 = (x + 1) * texel, frame->v0 = (y + 1) * texel;
    frame->u1 = (x + 1 + w) * texel, frame->v1 = (y + 1 + h) * texel;
    return frame;
  }
  const int tw = PowerOfTwoAtLeast(w), th = PowerOfTwoAtLeast(h);
  frame->name = MakeTexture(pixmap, tw, th, 0, flags);
  frame->u1 = float(w) / tw;
  frame->v1 = float(h) / th;
  if (small) frame->copy = PlaceCell(pixmap, 0);
  return frame;
}

// The pixmap in a cell of a page of that filtering with a border of one
// texel repeating its edge: the smallest free cell that fits, or a new one.
TCell TWebGL2DDriver::PlaceCell(const TPixmap& pixmap, int filtered) {
  Flush();
  const int w = pixmap.width + 2, h = pixmap.height + 2;
  TCell cell;
  auto best = freeCells.end();
  for (auto c = freeCells.begin(); c != freeCells.end(); ++c)
    if (c->flags == filtered && c->w >= w && c->h >= h &&
        (best == freeCells.end() || c->w * c->h < best->w * best->h))
      best = c;
  if (best != freeCells.end()) {
    cell = *best;
    freeCells.erase(best);
  } else {
    cell.page = PlaceInAtlas(filtered, w, h, cell.x, cell.y).name;
    cell.flags = filtered, cell.w = w, cell.h = h;
  }
  std::vector<uint8_t> texels = RgbaPicture(pixmap, w, h, 1);
  glBindTexture(GL_TEXTURE_2D, cell.page);
  boundTexture = cell.page;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, cell.x, cell.y, w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                  texels.data());
  return cell;
}

T2DDriver* GLDriver() { return &webgl; }

void SetAppTitle(const Text&) {}  // the page has a title of its own
void SetAppIcon(const TPixmap&) {}  // and its own icon
void ShowViewerState(const Text& state) { WebShowViewerState(state); }
