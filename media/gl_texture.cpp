// Image frames as OpenGL textures.
#include "media/gl_texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>

#include "media/image.h"

namespace {

// What GL was last told; -1 = unknown (a fresh display), so the next
// request always reaches GL.
int texturingOn = -1;
long long boundTexture = -1;

int PowerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

bool SizeAccepted(int w, int h) {
  glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  GLint got = 0;
  glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &got);
  return got != 0;
}

// Nearest-pixel shrink for pictures larger than GL will hold (never the
// case for the game's own media).
std::unique_ptr<TPixmap> ShrinkTo(const TPixmap& src, int w, int h) {
  auto out = TPixmap::Create(w, h, PF_RGBA8888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out->WritePixel(x, y, src.ReadPixel(x * src.width / w, y * src.height / h));
  return out;
}

// The next mipmap level: each pixel the average of (up to) four.
std::unique_ptr<TPixmap> HalfSize(const TPixmap& src) {
  int w = std::max(1, src.width / 2), h = std::max(1, src.height / 2);
  auto out = TPixmap::Create(w, h, PF_RGBA8888);
  for (int y = 0; y < h; ++y) {
    int y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
    for (int x = 0; x < w; ++x) {
      int x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
      const uint8_t* a = src.Row(y0) + x0 * 4;
      const uint8_t* b = src.Row(y0) + x1 * 4;
      const uint8_t* c = src.Row(y1) + x0 * 4;
      const uint8_t* d = src.Row(y1) + x1 * 4;
      uint8_t* o = out->Row(y) + x * 4;
      for (int k = 0; k < 4; ++k) o[k] = static_cast<uint8_t>((a[k] + b[k] + c[k] + d[k] + 2) / 4);
    }
  }
  return out;
}

void Upload(int level, const TPixmap& p) {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, p.pitch / 4);
  glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, p.width, p.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               p.pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

class TGLImageFrame : public TImageFrame {
 public:
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  GLuint name = 0;

  ~TGLImageFrame() override {
    // A texture of a display that has since closed died with its context;
    // its name may already belong to someone else.
    if (name == 0 || seq != graphicsSeq) return;
    glDeleteTextures(1, &name);
    if (boundTexture == name) boundTexture = 0;  // GL falls back to texture 0
  }

  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override {
    const T2DGraphics* g = Current2D();
    if (!g) return;
    const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
    GLBindTexture(name);
    glBegin(GL_QUADS);
    glTexCoord2f(u0, v0);
    glVertex2f(x0 * ix + y0 * iy + tx, x0 * jx + y0 * jy + ty);
    glTexCoord2f(u1, v0);
    glVertex2f(x1 * ix + y0 * iy + tx, x1 * jx + y0 * jy + ty);
    glTexCoord2f(u1, v1);
    glVertex2f(x1 * ix + y1 * iy + tx, x1 * jx + y1 * jy + ty);
    glTexCoord2f(u0, v1);
    glVertex2f(x0 * ix + y1 * iy + tx, x0 * jx + y1 * jy + ty);
    glEnd();
  }

  void DrawParts(float x0, float y0, float x1, float y1, float tx, float ty,
                 const std::vector<float>& parts) override {
    const T2DGraphics* g = Current2D();
    if (!g || parts.empty()) return;
    const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
    GLBindTexture(name);
    glBegin(GL_QUADS);
    for (size_t i = 0; i + 3 < parts.size(); i += 4) {
      const float fx[2] = {parts[i], parts[i + 2]}, fy[2] = {parts[i + 1], parts[i + 3]};
      for (int c = 0; c < 4; ++c) {
        // Corners in the same order as a whole frame: top left, top right,
        // bottom right, bottom left.
        float a = fx[c == 1 || c == 2], b = fy[c >= 2];
        float lx = x0 + (x1 - x0) * a, ly = y0 + (y1 - y0) * b;
        glTexCoord2f(u0 + (u1 - u0) * a, v0 + (v1 - v0) * b);
        glVertex2f(lx * ix + ly * iy + tx, lx * jx + ly * jy + ty);
      }
    }
    glEnd();
  }
};

}  // namespace

void GLBindTexture(unsigned name) {
  if (texturingOn != 1) {
    glEnable(GL_TEXTURE_2D);
    texturingOn = 1;
  }
  if (boundTexture != name) {
    glBindTexture(GL_TEXTURE_2D, name);
    boundTexture = name;
  }
}

void GLDisableTexturing() {
  if (texturingOn == 0) return;
  glDisable(GL_TEXTURE_2D);
  texturingOn = 0;
}

void GLForgetTextureState() {
  texturingOn = -1;
  boundTexture = -1;
}

std::unique_ptr<TImageFrame> CreateGLImageFrame(const TPixmap& pixmap, int flags) {
  if (pixmap.width <= 0 || pixmap.height <= 0) return nullptr;
  int tw = PowerOfTwoAtLeast(pixmap.width), th = PowerOfTwoAtLeast(pixmap.height);
  while (!SizeAccepted(tw, th)) {
    if (tw == 1 && th == 1) {
      std::printf("GL: no texture size accepted\r\n");
      return nullptr;
    }
    tw = std::max(1, tw / 2), th = std::max(1, th / 2);
  }

  std::unique_ptr<TPixmap> fitted;
  const TPixmap* src = &pixmap;
  if (pixmap.width > tw || pixmap.height > th) {
    fitted = ShrinkTo(pixmap, std::min(pixmap.width, tw), std::min(pixmap.height, th));
    src = fitted.get();
  }
  const int w = src->width, h = src->height;

  // The picture sits at the top left of the texture; its last column, row
  // and corner are repeated once beyond it, so filtering at its edge reads
  // the picture's own colours instead of whatever fills the rest.
  auto tex = TPixmap::Create(tw, th, PF_RGBA8888);
  if (!tex) return nullptr;
  tex->ClearPixels();
  tex->Paste(*src, 0, 0);
  if (w < tw)
    for (int y = 0; y < h; ++y) std::copy_n(tex->Row(y) + (w - 1) * 4, 4, tex->Row(y) + w * 4);
  if (h < th) std::copy_n(tex->Row(h - 1), w * 4, tex->Row(h));
  if (w < tw && h < th) std::copy_n(tex->Row(h - 1) + (w - 1) * 4, 4, tex->Row(h) + w * 4);

  auto frame = std::make_unique<TGLImageFrame>();
  frame->seq = graphicsSeq;
  frame->u1 = static_cast<float>(w) / tw;
  frame->v1 = static_cast<float>(h) / th;
  glGenTextures(1, &frame->name);
  glBindTexture(GL_TEXTURE_2D, frame->name);
  boundTexture = frame->name;

  const bool filtered = flags & IMAGE_FILTERED, mipmapped = flags & IMAGE_MIPMAPPED;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filtered ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  filtered ? (mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR)
                           : (mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
  Upload(0, *tex);
  if (mipmapped) {
    std::unique_ptr<TPixmap> level = std::move(tex);
    for (int n = 1; level->width > 1 || level->height > 1; ++n) {
      level = HalfSize(*level);
      Upload(n, *level);
    }
  }
  return frame;
}
