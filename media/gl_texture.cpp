// Image frames as OpenGL textures.
#include "media/gl_texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "media/image.h"

namespace {

// What GL was last told; -1 = unknown (a fresh display), so the next
// request always reaches GL.
int texturingOn = -1;
long long boundTexture = -1;
uint8_t currentColor[4] = {255, 255, 255, 255};

// Textured quads wait here until something else must reach GL (a quad of
// another texture, a blend or scissor change, an untextured primitive, an
// upload, a swap); then they go in one call. The game draws a thousand
// small sprites a frame, and one call each costs more than their pixels.
struct TBatchVertex {
  float x, y, u, v;
  uint8_t rgba[4];
};
std::vector<TBatchVertex> batch;
GLuint batchTexture = 0;
bool unfiltered = false;  // the batch is drawn with nearest filtering

void BindNow(GLuint name) {
  if (texturingOn != 1) {
    glEnable(GL_TEXTURE_2D);
    texturingOn = 1;
  }
  if (boundTexture != name) {
    glBindTexture(GL_TEXTURE_2D, name);
    boundTexture = name;
  }
}

void Quad(GLuint texture, const float (&xy)[8], const float (&uv)[8]) {
  if (!batch.empty() && texture != batchTexture) GLFlushBatch();
  batchTexture = texture;
  for (int c = 0; c < 4; ++c)
    batch.push_back({xy[2 * c],
                     xy[2 * c + 1],
                     uv[2 * c],
                     uv[2 * c + 1],
                     {currentColor[0], currentColor[1], currentColor[2], currentColor[3]}});
  if (!DrawShortcuts()) GLFlushBatch();  // the straightforward drawing: each quad as drawn
}

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

// Small pictures share big textures, so that sprites of different images
// still go to GL in one call. Each sits in a cell with a border of one
// texel that repeats its edge, so filtering at its edge reads its own
// colours as a texture of its own would; a page is a power of two in size,
// so texture coordinates of whole texels are as exact as a texture's own.
constexpr int PAGE_SIZE = 512, ATLAS_MAX = 128;

struct TAtlasPage {
  GLuint name = 0;
  int flags = 0, seq = 0;
  int shelfX = 0, shelfY = 0, shelfH = 0;   // the shelf being filled
  std::vector<std::array<int, 4>> free;     // x, y, w, h of cells given back
  std::vector<std::array<int, 3>> shelves;  // y, height, next x of each full shelf
};
std::vector<std::shared_ptr<TAtlasPage>> pages;

class TGLImageFrame : public TCornerImageFrame {
 public:
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  GLuint name = 0;
  std::shared_ptr<TAtlasPage> page;  // set when the frame lives in a shared texture
  int cellX = 0, cellY = 0, cellW = 0, cellH = 0;

  ~TGLImageFrame() override {
    // A texture of a display that has since closed died with its context;
    // its name may already belong to someone else.
    if (name == 0 || seq != graphicsSeq) return;
    if (page) {
      page->free.push_back({cellX, cellY, cellW, cellH});  // the next picture of its size goes here
      return;
    }
    GLFlushBatch();
    glDeleteTextures(1, &name);
    if (boundTexture == name) boundTexture = 0;  // GL falls back to texture 0
  }

  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override {
    const T2DGraphics* g = Current2D();
    if (!g) return;
    const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
    Quad(name,
         {x0 * ix + y0 * iy + tx, x0 * jx + y0 * jy + ty, x1 * ix + y0 * iy + tx,
          x1 * jx + y0 * jy + ty, x1 * ix + y1 * iy + tx, x1 * jx + y1 * jy + ty,
          x0 * ix + y1 * iy + tx, x0 * jx + y1 * jy + ty},
         {u0, v0, u1, v0, u1, v1, u0, v1});
  }

  void Corners(float x0, float y0, float x1, float y1, float tx, float ty,
               const std::array<float, 8>& at) override {
    const T2DGraphics* g = Current2D();
    if (!g) return;
    const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
    float xy[8], uv[8];
    for (int c = 0; c < 4; ++c) {
      const float a = at[2 * c], b = at[2 * c + 1];
      const float lx = x0 + (x1 - x0) * a, ly = y0 + (y1 - y0) * b;
      uv[2 * c] = u0 + (u1 - u0) * a, uv[2 * c + 1] = v0 + (v1 - v0) * b;
      xy[2 * c] = lx * ix + ly * iy + tx, xy[2 * c + 1] = lx * jx + ly * jy + ty;
    }
    Quad(name, xy, uv);
  }
};

void SetFilters(bool filtered, bool mipmapped) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filtered ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  filtered ? (mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR)
                           : (mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
}

// A cell of w x h texels in a page of the same filtering: a cell given
// back of that size, room on a shelf of that height, a new shelf, or a new
// page.
bool PlaceInAtlas(TGLImageFrame& frame, int flags, int w, int h) {
  if (!pages.empty() && pages.front()->seq != graphicsSeq) pages.clear();  // a closed display's
  for (auto& page : pages) {
    if (page->flags != flags) continue;
    for (size_t i = 0; i < page->free.size(); ++i) {
      auto [x, y, fw, fh] = page->free[i];
      if (fw != w || fh != h) continue;
      page->free.erase(page->free.begin() + static_cast<ptrdiff_t>(i));
      frame.page = page, frame.cellX = x, frame.cellY = y;
      return true;
    }
    for (auto& [y, height, next] : page->shelves)
      if (height == h && next + w <= PAGE_SIZE) {
        frame.page = page, frame.cellX = next, frame.cellY = y;
        next += w;
        return true;
      }
    if (page->shelfY + h <= PAGE_SIZE) {
      page->shelves.push_back({page->shelfY, h, w});
      frame.page = page, frame.cellX = 0, frame.cellY = page->shelfY;
      page->shelfY += h;
      return true;
    }
  }
  auto page = std::make_shared<TAtlasPage>();
  page->flags = flags;
  page->seq = graphicsSeq;
  std::vector<uint8_t> clear(size_t{PAGE_SIZE} * PAGE_SIZE * 4, 0);
  glGenTextures(1, &page->name);
  BindNow(page->name);
  SetFilters(flags & IMAGE_FILTERED, false);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, PAGE_SIZE, PAGE_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               clear.data());
  pages.push_back(page);
  return PlaceInAtlas(frame, flags, w, h);
}

// The picture with a border of one texel repeating its edge, into a cell.
std::unique_ptr<TImageFrame> CreateAtlasFrame(const TPixmap& pixmap, int flags) {
  const int w = pixmap.width, h = pixmap.height;
  auto cell = TPixmap::Create(w + 2, h + 2, PF_RGBA8888);
  if (!cell) return nullptr;
  cell->ClearPixels();
  cell->Paste(pixmap, 1, 1);
  for (int y = 1; y <= h; ++y) {
    uint8_t* row = cell->Row(y);
    std::copy_n(row + 4, 4, row);
    std::copy_n(row + w * 4, 4, row + (w + 1) * 4);
  }
  std::copy_n(cell->Row(1), (w + 2) * 4, cell->Row(0));
  std::copy_n(cell->Row(h), (w + 2) * 4, cell->Row(h + 1));
  auto frame = std::make_unique<TGLImageFrame>();
  frame->seq = graphicsSeq;
  frame->cellW = w + 2, frame->cellH = h + 2;
  GLFlushBatch();
  PlaceInAtlas(*frame, flags & IMAGE_FILTERED, w + 2, h + 2);
  frame->name = frame->page->name;
  const float texel = 1.0f / PAGE_SIZE;
  frame->u0 = (frame->cellX + 1) * texel, frame->v0 = (frame->cellY + 1) * texel;
  frame->u1 = (frame->cellX + 1 + w) * texel, frame->v1 = (frame->cellY + 1 + h) * texel;
  BindNow(frame->name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, cell->pitch / 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, frame->cellX, frame->cellY, w + 2, h + 2, GL_RGBA,
                  GL_UNSIGNED_BYTE, cell->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  return frame;
}

}  // namespace

void GLFlushBatch() {
  if (batch.empty()) return;
  BindNow(batchTexture);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(2, GL_FLOAT, sizeof(TBatchVertex), &batch[0].x);
  glTexCoordPointer(2, GL_FLOAT, sizeof(TBatchVertex), &batch[0].u);
  glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(TBatchVertex), batch[0].rgba);
  // Sampled at texel centres, a filtered texture gives the texel itself;
  // reading it unfiltered is the same and cheaper.
  GLint minFilter = GL_NEAREST, magFilter = GL_NEAREST;
  if (unfiltered) {
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(batch.size()));
  if (unfiltered) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
  }
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glColor4ubv(currentColor);  // drawing from a colour array leaves the current colour undefined
  batch.clear();
}

void GLDropBatch() { batch.clear(); }

void GLSetUnfiltered(bool on) {
  if (on == unfiltered) return;
  GLFlushBatch();
  unfiltered = on;
}

void GLSetColor(const uint8_t rgba[4]) {
  std::copy_n(rgba, 4, currentColor);
  glColor4ubv(currentColor);
}

void GLBindTexture(unsigned name) {
  GLFlushBatch();
  BindNow(name);
}

void GLDisableTexturing() {
  GLFlushBatch();
  if (texturingOn == 0) return;
  glDisable(GL_TEXTURE_2D);
  texturingOn = 0;
}

void GLForgetTextureState() {
  GLFlushBatch();
  unfiltered = false;
  texturingOn = -1;
  boundTexture = -1;
}

std::unique_ptr<TImageFrame> CreateGLImageFrame(const TPixmap& pixmap, int flags) {
  if (pixmap.width <= 0 || pixmap.height <= 0) return nullptr;
  if (DrawShortcuts() && !(flags & IMAGE_MIPMAPPED) && pixmap.width <= ATLAS_MAX &&
      pixmap.height <= ATLAS_MAX)
    return CreateAtlasFrame(pixmap, flags);
  GLFlushBatch();
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
  BindNow(frame->name);

  const bool mipmapped = flags & IMAGE_MIPMAPPED;
  SetFilters(flags & IMAGE_FILTERED, mipmapped);
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
