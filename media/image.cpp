// Images: frames cut from pixmaps, the colour mask, handles, textures made
// lazily per display, and drawing, tiling and pixel-exact overlap tests.
#include "media/image.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "media/image_impl.h"

namespace {

int autoImageFlags = IMAGE_MASKED | IMAGE_FILTERED;
int maskRed = 0, maskGreen = 0, maskBlue = 0;  // the game keeps black
bool autoCentreHandle = false;

int ResolveFlags(int flags) { return flags == -1 ? autoImageFlags : flags; }

TImage* Finish(std::unique_ptr<TImage> image) {
  if (image && autoCentreHandle) CentreImageHandle(image.get());
  // Images live for the whole run. The list keeps them reachable, so leak
  // checkers see them as held rather than lost.
  static auto* kept = new std::vector<TImage*>;
  if (image) kept->push_back(image.get());
  return image.release();
}

}  // namespace

// --- TImage ---

std::unique_ptr<TPixmap> MaskPixmap(const TPixmap& src, int mask_r, int mask_g, int mask_b) {
  const int w = src.width, h = src.height;
  auto out = TPixmap::Create(w, h, PF_RGBA8888);
  if (!out) return nullptr;
  std::vector<uint32_t> rgb(static_cast<size_t>(w) * h);
  const uint32_t mask =
      static_cast<uint32_t>(mask_r & 255) << 16 | (mask_g & 255) << 8 | (mask_b & 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      rgb[static_cast<size_t>(y) * w + x] = src.ReadPixel(x, y) & 0xFFFFFF;
  for (int y = 0; y < h; ++y) {
    uint8_t* p = out->Row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      uint32_t c = rgb[static_cast<size_t>(y) * w + x];
      if (c != mask) {
        p[0] = c >> 16, p[1] = c >> 8, p[2] = c, p[3] = 255;
        continue;
      }
      // A see-through pixel takes the colour of its visible neighbours, so
      // filtering across the edge blends towards that colour, not black.
      unsigned sr = 0, sg = 0, sb = 0, n = 0;
      for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
        for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
          uint32_t q = rgb[static_cast<size_t>(ny) * w + nx];
          if (q == mask) continue;
          sr += q >> 16 & 255, sg += q >> 8 & 255, sb += q & 255, ++n;
        }
      p[0] = n ? sr / n : 0, p[1] = n ? sg / n : 0, p[2] = n ? sb / n : 0, p[3] = 0;
    }
  }
  return out;
}

TImageFrame* TImage::Frame(int index) {
  if (index < 0 || index >= CountFrames()) return nullptr;
  if (seqs[index] != graphicsSeq) {
    // A texture of an earlier display: drop it (its owner knows not to
    // touch the GL of a closed display) and build a fresh one.
    frames[index].reset();
    seqs[index] = 0;
    T2DDriver* driver = Current2DDriver();
    if (driver && pixmaps[index] && graphicsSeq != 0) {
      frames[index] = driver->CreateFrameFromPixmap(*pixmaps[index], flags);
      if (frames[index]) seqs[index] = graphicsSeq;
    }
  }
  return frames[index].get();
}

TPixmap* TImage::Lock(int index, bool, bool write) {
  if (index < 0 || index >= CountFrames()) return nullptr;
  if (!pixmaps[index]) {
    pixmaps[index] = TPixmap::Create(width, height, PF_RGBA8888);
    if (!pixmaps[index]) return nullptr;
    pixmaps[index]->ClearPixels();
  }
  if (write) {
    frames[index].reset();  // the next draw uploads what the caller paints
    seqs[index] = 0;
    bandsKnown[index] = 0;
  }
  return pixmaps[index].get();
}

void TImage::SetPixmap(int index, std::unique_ptr<TPixmap> pixmap) {
  if (index < 0 || index >= CountFrames()) return;
  if (pixmap && (flags & IMAGE_MASKED) && !FormatHasAlpha(pixmap->format))
    pixmap = MaskPixmap(*pixmap, mask_r, mask_g, mask_b);
  pixmaps[index] = std::move(pixmap);
  frames[index].reset();
  seqs[index] = 0;
  bandsKnown[index] = 0;
}

std::unique_ptr<TImage> TImage::Create(int width, int height, int frames, int flags, int mask_r,
                                       int mask_g, int mask_b) {
  if (width <= 0 || height <= 0 || frames <= 0) return nullptr;
  auto image = std::make_unique<TImage>();
  image->width = width;
  image->height = height;
  image->flags = flags;
  image->mask_r = mask_r, image->mask_g = mask_g, image->mask_b = mask_b;
  image->pixmaps.resize(static_cast<size_t>(frames));
  image->frames.resize(static_cast<size_t>(frames));
  image->seqs.assign(static_cast<size_t>(frames), 0);
  image->bands.resize(static_cast<size_t>(frames));
  image->bandsKnown.assign(static_cast<size_t>(frames), 0);
  return image;
}

std::unique_ptr<TImage> TImage::Load(const Text& url, int flags, int mask_r, int mask_g,
                                     int mask_b) {
  std::unique_ptr<TPixmap> pixmap = LoadPixmap(url);
  if (!pixmap) return nullptr;
  auto image = Create(pixmap->width, pixmap->height, 1, flags, mask_r, mask_g, mask_b);
  if (image) image->SetPixmap(0, std::move(pixmap));
  return image;
}

std::unique_ptr<TImage> TImage::LoadAnim(const Text& url, int cellWidth, int cellHeight,
                                         int firstCell, int cellCount, int flags, int mask_r,
                                         int mask_g, int mask_b) {
  if (cellWidth <= 0 || cellHeight <= 0 || firstCell < 0 || cellCount <= 0) return nullptr;
  std::unique_ptr<TPixmap> sheet = LoadPixmap(url);
  if (!sheet) return nullptr;
  // Cells are numbered left to right, then top to bottom.
  const int across = sheet->width / cellWidth, down = sheet->height / cellHeight;
  if (across * down < firstCell + cellCount) return nullptr;
  auto image = Create(cellWidth, cellHeight, cellCount, flags, mask_r, mask_g, mask_b);
  if (!image) return nullptr;
  for (int k = 0; k < cellCount; ++k) {
    int i = firstCell + k;
    auto cell =
        sheet->Window(cellWidth * (i % across), cellHeight * (i / across), cellWidth, cellHeight);
    image->SetPixmap(k, cell->Copy());
  }
  return image;
}

// --- Making images ---

TImage* LoadImageFile(const Text& url, int flags) {
  return Finish(TImage::Load(url, ResolveFlags(flags), maskRed, maskGreen, maskBlue));
}

TImage* LoadImagePixmap(const TPixmap& pixmap, int flags) {
  auto image = TImage::Create(pixmap.width, pixmap.height, 1, ResolveFlags(flags), maskRed,
                              maskGreen, maskBlue);
  if (image) image->SetPixmap(0, pixmap.Copy());
  return Finish(std::move(image));
}

TImage* LoadImageStrip(const Text& url, int cellWidth, int cellHeight, int firstCell, int cellCount,
                       int flags) {
  return Finish(TImage::LoadAnim(url, cellWidth, cellHeight, firstCell, cellCount,
                                 ResolveFlags(flags), maskRed, maskGreen, maskBlue));
}

TImage* CreateBlankImage(int width, int height, int frames, int flags) {
  return Finish(
      TImage::Create(width, height, frames, ResolveFlags(flags), maskRed, maskGreen, maskBlue));
}

void SetImageHandlePoint(TImage* image, float x, float y) {
  if (!image) return;
  image->handle_x = x;
  image->handle_y = y;
}

void CentreImageHandle(TImage* image) {
  if (image) SetImageHandlePoint(image, image->width * 0.5f, image->height * 0.5f);
}

void SetAutoCentreHandle(bool enable) { autoCentreHandle = enable; }

TPixmap* LockImageFrame(TImage* image, int frame, bool read, bool write) {
  return image ? image->Lock(frame, read, write) : nullptr;
}

void UnlockImageFrame(TImage*, int) {}

int ImageWidth(TImage* image) { return image ? image->width : 0; }
int ImageHeight(TImage* image) { return image ? image->height : 0; }
int ImageFrames(TImage* image) { return image ? image->CountFrames() : 0; }
float ImageHandleX(TImage* image) { return image ? image->handle_x : 0; }
float ImageHandleY(TImage* image) { return image ? image->handle_y : 0; }

// --- Drawing ---

namespace {

// Blending that leaves the screen as it was where the picture is fully
// transparent: light adds colour times alpha, alpha blending mixes by it.
bool TransparentIsInvisible(int blend) { return blend == BLEND_LIGHT || blend == BLEND_ALPHA; }

// Filtering reads two neighbouring texels in each direction: between the
// centres of texels k - 1 and k (the cell from k - 0.5 to k + 0.5) it reads
// exactly those two, at the edges only the edge texel. A cell whose texels
// all have alpha 0 adds nothing. The frame's (w + 1) x (h + 1) cells, 1
// where a texel of alpha above 0 is read; empty when the frame has no alpha.
std::vector<uint8_t> LitCells(const TPixmap* p) {
  if (!p || !FormatHasAlpha(p->format)) return {};
  const int w = p->width, h = p->height, bytes = PixelBytes(p->format);
  const int alphaAt = p->format == PF_A8 ? 0 : 3;
  std::vector<uint8_t> lit(static_cast<size_t>(w + 1) * (h + 1), 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = p->Row(y) + alphaAt;
    for (int x = 0; x < w; ++x)
      if (row[x * bytes] != 0)
        for (int cy = y; cy <= y + 1; ++cy)
          for (int cx = x; cx <= x + 1; ++cx) lit[static_cast<size_t>(cy) * (w + 1) + cx] = 1;
  }
  return lit;
}

// The edge of cell k of n as a fraction of the frame.
float CellEdge(int k, int n) { return k == 0 ? 0.0f : k > n ? 1.0f : (k - 0.5f) / n; }

bool SkipsInvisible(const TImage& image, const T2DGraphics& g) {
  return DrawShortcuts() && TransparentIsInvisible(g.blend_mode) &&
         !(image.flags & IMAGE_MIPMAPPED);  // smaller copies blur beyond the cells
}

// The parts of a greatly magnified frame that can change the screen: rows
// of runs of lit cells as fractions of the frame; false when the whole frame
// is to be drawn.
bool VisibleParts(const TImage& image, int frame, const T2DGraphics& g, std::vector<float>& parts) {
  const float magnified = std::fabs(g.tform_ix * g.tform_jy - g.tform_iy * g.tform_jx);
  if (magnified < 16 || !SkipsInvisible(image, g)) return false;
  const TPixmap* p = image.pixmaps[frame].get();
  std::vector<uint8_t> lit = LitCells(p);
  if (lit.empty() || std::all_of(lit.begin(), lit.end(), [](uint8_t c) { return c != 0; }))
    return false;
  const int w = p->width, h = p->height;
  for (int cy = 0; cy <= h; ++cy) {
    const uint8_t* row = &lit[static_cast<size_t>(cy) * (w + 1)];
    for (int cx = 0; cx <= w;) {
      if (!row[cx]) {
        ++cx;
        continue;
      }
      int end = cx;
      while (end <= w && row[end]) ++end;
      parts.insert(parts.end(),
                   {CellEdge(cx, w), CellEdge(cy, h), CellEdge(end, w), CellEdge(cy + 1, h)});
      cx = end;
    }
  }
  return true;
}

// A sprite with a wide see-through margin (an explosion puff is a round
// blob in a square) is drawn as the octagon around its lit cells: eight
// half-planes at 45 degree steps, each pushed out to the farthest corner of
// a lit cell, drawn as three quads that share their diagonals, so no pixel
// is drawn twice or missed. Given as the quads' corners, each a pair of
// fractions of the frame's width and height. Null when the whole frame is
// to be drawn: small on the screen, or too little to skip.
const std::vector<float>* VisibleOctagon(TImage& image, int frame, const T2DGraphics& g) {
  constexpr float MIN_PIXELS = 1024;  // smaller sprites cost more in corners than in pixels
  const float area = std::fabs(g.tform_ix * g.tform_jy - g.tform_iy * g.tform_jx) *
                     float(image.width) * float(image.height);
  if (area < MIN_PIXELS || !SkipsInvisible(image, g)) return nullptr;
  std::vector<float>& quads = image.bands[frame];
  if (!image.bandsKnown[frame]) {
    image.bandsKnown[frame] = 1;
    quads.clear();
    const TPixmap* p = image.pixmaps[frame].get();
    std::vector<uint8_t> lit = LitCells(p);
    if (lit.empty()) return nullptr;
    const int w = p->width, h = p->height;
    // In texels: x, -x, y, -y, x + y, -(x + y), x - y, -(x - y) at their largest.
    float most[8];
    std::fill_n(most, 8, -1e9f);
    for (int cy = 0; cy <= h; ++cy)
      for (int cx = 0; cx <= w; ++cx) {
        if (!lit[static_cast<size_t>(cy) * (w + 1) + cx]) continue;
        for (int corner = 0; corner < 4; ++corner) {
          const float x = CellEdge(cx + corner % 2, w) * w, y = CellEdge(cy + corner / 2, h) * h;
          const float v[8] = {x, -x, y, -y, x + y, -(x + y), x - y, y - x};
          for (int k = 0; k < 8; ++k) most[k] = std::max(most[k], v[k]);
        }
      }
    if (most[0] < -1e8f) return nullptr;  // nothing lit
    const float xmax = most[0], xmin = -most[1], ymax = most[2], ymin = -most[3];
    const float dmax = most[4], dmin = -most[5], emax = most[6], emin = -most[7];  // x + y, x - y
    // Clockwise from the top edge's left end.
    const float corners[16] = {
        std::max(xmin, dmin - ymin), ymin, std::min(xmax, emax + ymin), ymin,  // top
        xmax, std::max(ymin, xmax - emax), xmax, std::min(ymax, dmax - xmax),  // right
        std::min(xmax, dmax - ymax), ymax, std::max(xmin, emin + ymax), ymax,  // bottom
        xmin, std::min(ymax, xmin - emin), xmin, std::max(ymin, dmin - xmin),  // left
    };
    float kept = 0;  // the shoelace area
    for (int i = 0; i < 8; ++i) {
      const int j = (i + 1) % 8;
      kept += corners[2 * i] * corners[2 * j + 1] - corners[2 * j] * corners[2 * i + 1];
    }
    if (std::fabs(kept) / 2 > 0.75f * float(w) * float(h)) return nullptr;  // skips under a quarter
    // Top-left, top-right, right-top, left-top; left-top, right-top,
    // right-bottom, left-bottom; left-bottom, right-bottom, bottom-right,
    // bottom-left.
    for (int i : {7, 0, 1, 2, 7, 2, 3, 6, 6, 3, 4, 5})
      quads.insert(quads.end(), {corners[2 * i] / w, corners[2 * i + 1] / h});
  }
  return quads.empty() ? nullptr : &quads;
}

}  // namespace

void DrawImageFrame(TImage* image, float x, float y, int frame) {
  T2DGraphics* g = Current2D();
  if (!image || !g || DrawingDiscarded()) return;
  TImageFrame* f = image->Frame(frame);
  if (!f) return;
  float x0 = -image->handle_x, y0 = -image->handle_y;
  float x1 = x0 + image->width, y1 = y0 + image->height, tx = x + g->origin_x, ty = y + g->origin_y;
  std::vector<float> parts;
  if (VisibleParts(*image, frame, *g, parts))
    f->DrawParts(x0, y0, x1, y1, tx, ty, parts);
  else if (const std::vector<float>* quads = VisibleOctagon(*image, frame, *g))
    f->DrawQuads(x0, y0, x1, y1, tx, ty, *quads);
  else
    f->Draw(x0, y0, x1, y1, tx, ty);
}

void TileImageFrame(TImage* image, float x, float y, int frame) {
  T2DGraphics* g = Current2D();
  T2DDriver* driver = Current2DDriver();
  if (!image || !g || !driver || DrawingDiscarded()) return;
  TImageFrame* f = image->Frame(frame);
  if (!f) return;
  const long long w = image->width, h = image->height;
  const double px = static_cast<double>(x) + g->origin_x - image->handle_x;
  const double py = static_cast<double>(y) + g->origin_y - image->handle_y;
  const double fx = px - std::floor(px), fy = py - std::floor(py);
  // The first copy starts at the last whole pixel at or before the
  // viewport's edge that lines up with the image's own position.
  auto firstAt = [](long long edge, long long pos, long long size) {
    long long m = (edge - pos) % size;
    if (m < 0) m += size;
    return edge - m;
  };
  const long long col0 = firstAt(g->viewport_x, static_cast<long long>(std::floor(px)), w);
  const long long row0 = firstAt(g->viewport_y, static_cast<long long>(std::floor(py)), h);

  // Tiles ignore scale and rotation: draw with the identity matrix and put
  // the state's matrix back afterwards.
  const float ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
  g->tform_ix = 1, g->tform_iy = 0, g->tform_jx = 0, g->tform_jy = 1;
  driver->SetTransform(1, 0, 0, 1);
  for (long long row = row0; row < g->viewport_y + g->viewport_h; row += h)
    for (long long col = col0; col < g->viewport_x + g->viewport_w; col += w)
      f->Draw(0, 0, static_cast<float>(w), static_cast<float>(h), static_cast<float>(col + fx),
              static_cast<float>(row + fy));
  g->tform_ix = ix, g->tform_iy = iy, g->tform_jx = jx, g->tform_jy = jy;
  driver->SetTransform(ix, iy, jx, jy);
}

// --- Overlap ---

namespace {

// One frame as DrawImageFrame would place it: local coordinates run from
// (x0, y0) to (x0 + w, y0 + h) and map to the window through the matrix.
struct Placed {
  const TPixmap* pixmap = nullptr;
  float x0 = 0, y0 = 0, w = 0, h = 0, tx = 0, ty = 0;
  double ix = 1, iy = 0, jx = 0, jy = 1, det = 1;
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
  int alphaAt = -1;  // byte offset of alpha within a pixel, -1 when opaque

  bool Place(TImage* image, float x, float y, int frame, const T2DGraphics* g) {
    if (!image || frame < 0 || frame >= image->CountFrames() || !image->pixmaps[frame])
      return false;
    pixmap = image->pixmaps[frame].get();
    x0 = -image->handle_x, y0 = -image->handle_y;
    w = static_cast<float>(image->width), h = static_cast<float>(image->height);
    tx = x + (g ? g->origin_x : 0), ty = y + (g ? g->origin_y : 0);
    if (g) ix = g->tform_ix, iy = g->tform_iy, jx = g->tform_jx, jy = g->tform_jy;
    det = ix * jy - iy * jx;
    if (std::fabs(det) < 1e-12) return false;  // squashed flat: covers no pixel
    minX = minY = 1e300, maxX = maxY = -1e300;
    for (int c = 0; c < 4; ++c) {
      double lx = x0 + ((c == 1 || c == 2) ? w : 0), ly = y0 + (c >= 2 ? h : 0);
      double wx = lx * ix + ly * iy + tx, wy = lx * jx + ly * jy + ty;
      minX = std::min(minX, wx), maxX = std::max(maxX, wx);
      minY = std::min(minY, wy), maxY = std::max(maxY, wy);
    }
    alphaAt = pixmap->format == PF_A8 ? 0 : FormatHasAlpha(pixmap->format) ? 3 : -1;
    return true;
  }

  // Is the window point (cx, cy) inside the frame, on an opaque pixel?
  bool OpaqueAt(double cx, double cy) const {
    double dx = cx - tx, dy = cy - ty;
    double lx = (jy * dx - iy * dy) / det, ly = (ix * dy - jx * dx) / det;
    double u = (lx - x0) / w, v = (ly - y0) / h;
    if (u < 0 || u >= 1 || v < 0 || v >= 1) return false;
    if (alphaAt < 0) return true;
    int sx = std::min(static_cast<int>(u * pixmap->width), pixmap->width - 1);
    int sy = std::min(static_cast<int>(v * pixmap->height), pixmap->height - 1);
    return pixmap->Row(sy)[sx * PixelBytes(pixmap->format) + alphaAt] >= 128;
  }
};

}  // namespace

bool ImagesOverlap(TImage* image1, float x1, float y1, int frame1, TImage* image2, float x2,
                   float y2, int frame2) {
  const T2DGraphics* g = Current2D();
  Placed a, b;
  if (!a.Place(image1, x1, y1, frame1, g) || !b.Place(image2, x2, y2, frame2, g)) return false;
  double left = std::max(a.minX, b.minX), right = std::min(a.maxX, b.maxX);
  double top = std::max(a.minY, b.minY), bottom = std::min(a.maxY, b.maxY);
  if (left >= right || top >= bottom) return false;
  // Only pixels of the window count, as only those are ever drawn.
  int px0 = static_cast<int>(std::floor(left)), px1 = static_cast<int>(std::ceil(right));
  int py0 = static_cast<int>(std::floor(top)), py1 = static_cast<int>(std::ceil(bottom));
  if (g && g->vres_width > 0 && g->vres_height > 0) {
    px0 = std::max(px0, 0), py0 = std::max(py0, 0);
    px1 = std::min(px1, static_cast<int>(g->vres_width));
    py1 = std::min(py1, static_cast<int>(g->vres_height));
  }
  for (int py = py0; py < py1; ++py)
    for (int px = px0; px < px1; ++px)
      if (a.OpaqueAt(px + 0.5, py + 0.5) && b.OpaqueAt(px + 0.5, py + 0.5)) return true;
  return false;
}
