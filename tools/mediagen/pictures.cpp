#include "pictures.h"

#include <array>
#include <cstdio>
#include <numbers>

#include "canvas.h"
#include "letters.h"
#include "png_out.h"

namespace {

constexpr double PI = std::numbers::pi;

bool Save(const std::string& dir, const char* name, const Canvas& c, PngKind kind, int cutoff) {
  const bool ok = WritePng(dir + "/" + name, c.w, c.h, kind, ToBytes(c, cutoff));
  if (!ok) std::fprintf(stderr, "mediagen: cannot write %s\n", name);
  return ok;
}

// ---------------------------------------------------------------- line tiles
// A cell is 24 x 24 and drawn centred, so its centre is the pixel corner (12, 12).
// Each arm runs from the centre past the edge of the cell, so neighbours join.

struct Arms {
  int mask;
  // Distance to the nearest arm and the position along it (0 centre .. 12 edge).
  void Measure(Vec2 p, double& dist, double& along) const {
    static const std::array<Vec2, 4> dirs = {{{1, 0}, {-1, 0}, {0, -1}, {0, 1}}};
    const Vec2 c{12, 12};
    dist = mask == 0 ? Len(p - c) : 1e9;  // mask 0 is a lone dot
    along = 0;
    for (int b = 0; b < 4; ++b) {
      if (!(mask & (1 << b))) continue;
      const double d = SegDist(p, c, c + dirs[b] * 20.0);
      if (d < dist) {
        dist = d;
        along = std::max(0.0, Dot(p - c, dirs[b]));
      }
    }
  }
};

// tiles4: 16 masks across, 8 animation phases down. Energy pulses run outward
// from the centre node; they fade out before the cell edge so that neighbouring
// cells in other phases still meet seamlessly.
bool Tiles4(const std::string& dir) {
  Canvas c(384, 192, 1);
  for (int k = 0; k < 8; ++k)
    for (int m = 0; m < 16; ++m) {
      const Arms arms{m};
      const double phase = k / 8.0;
      for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
          const Vec2 p{x + 0.5, y + 0.5};
          double d, s;
          arms.Measure(p, d, s);
          const double core = 0.36 * Cover(d - 1.0);
          const double glow = 0.30 * std::exp(-d / 2.2) * (1.0 - Smooth(5.0, 9.0, d));
          // Two pulses per arm, half a cycle apart.
          double pulse = 0;
          for (int j = 0; j < 2; ++j) {
            const double centre = std::fmod(phase + 0.5 * j, 1.0) * 14.0 - 1.0;
            const double window = std::sin(PI * Clamp01(s / 12.0));
            pulse += window * std::exp(-(s - centre) * (s - centre) / 3.0);
          }
          pulse *= 0.42 * std::exp(-d * d / 3.5);
          const double beat = 0.5 + 0.5 * std::cos(2 * PI * phase);
          const double node = (0.18 + 0.22 * beat) * std::exp(-(Len(p - Vec2{12, 12}) / 2.6));
          c.At(m * 24 + x, k * 24 + y, 0) = static_cast<float>(core + glow + pulse + node);
        }
    }
  return Save(dir, "tiles4-24x24.png", c, PngKind::Grey, 6);
}

// tiles10: the solid body of the line for each mask, a bright core with a
// soft shoulder, and a small hub where arms meet.
bool Tiles10(const std::string& dir) {
  Canvas c(384, 24, 1);
  for (int m = 0; m < 16; ++m) {
    const Arms arms{m};
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) {
        const Vec2 p{x + 0.5, y + 0.5};
        double d, s;
        arms.Measure(p, d, s);
        const double body = 0.62 * Cover(d - 2.0) + 0.38 * Cover(d - 0.9);
        const double shoulder = 0.16 * std::exp(-std::max(0.0, d - 2.0) / 1.2) * (1.0 - Smooth(3.5, 5.5, d));
        const double hub = 0.25 * Cover(Len(p - Vec2{12, 12}) - 3.2);
        c.At(m * 24 + x, y, 0) = static_cast<float>(std::min(1.0, body + shoulder + hub));
      }
  }
  return Save(dir, "tiles10-24x24.png", c, PngKind::Grey, 8);
}

// ---------------------------------------------------------------- gauge wedge
// One 36 degree segment of a ring from 12 o'clock clockwise, centred on the
// picture; drawn ten times rotated. Thin gaps on both sides part the segments.
bool Wedge(const std::string& dir) {
  Canvas c(128, 128, 3);
  const double rIn = 14.8, rOut = 23.5, gap = 1.1;  // 20 px at the backing scale 0.85
  const double a1 = 36.0 * PI / 180.0;
  const Vec2 n0{1, 0}, n1{std::cos(a1), std::sin(a1)};
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const Vec2 p{x + 0.5 - 64, y + 0.5 - 64};
      const double r = Len(p);
      const double inside = std::min({r - rIn, rOut - r, Dot(p, n0) - gap, -Dot(p, n1) - gap});
      const double cov = Cover(-inside);
      // Brighter along the outer rim, a little darker towards the hub.
      const double t = (r - rIn) / (rOut - rIn);
      const double rim = 0.25 * Cover(r - rOut + 1.6);
      const double v = cov * std::min(1.0, 0.70 + 0.18 * t + rim);
      for (int k = 0; k < 3; ++k) c.At(x, y, k) = static_cast<float>(v);
    }
  return Save(dir, "wedge.png", c, PngKind::Rgb, 10);
}

// ---------------------------------------------------------------- medal
// A struck medal: raised rim, sunken field, a raised five-pointed star, lit
// from the upper left, with a faint ring of rays around it.
double StarSdf(Vec2 p, double rOut, double rIn) {
  std::vector<Vec2> poly;
  for (int i = 0; i < 10; ++i) {
    const double a = i * PI / 5.0;
    const double r = (i % 2 == 0) ? rOut : rIn;
    poly.push_back({r * std::sin(a), -r * std::cos(a)});
  }
  return PolyDist(p, poly);
}

double MedalHeight(Vec2 p) {
  const double r = Len(p);
  if (r > 46.0) return -1.0;
  double h = 0.25;                                           // field
  const double rim = 1.0 - std::abs(r - 42.0) / 4.0;         // rounded rim 38..46
  if (rim > 0) h = std::max(h, 0.25 + 0.75 * std::sqrt(rim));
  const double sd = StarSdf(p, 33.0, 14.0);
  if (sd < 0) h = std::max(h, 0.3 + std::min(-sd, 5.0) / 5.0 * 0.75);  // bevelled star
  const double ring = std::abs(r - 36.0);
  if (ring < 0.7 && sd > 1.5) h = std::max(h, 0.42);  // fine beaded ring
  return h;
}

bool Star(const std::string& dir) {
  Canvas c(128, 128, 1);
  const Vec2 light = Vec2{-0.55, -0.65} * (1.0 / Len(Vec2{-0.55, -0.65}));
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      double acc = 0;
      for (int sy = 0; sy < 3; ++sy)
        for (int sx = 0; sx < 3; ++sx) {
          const Vec2 p{x + (sx + 0.5) / 3.0 - 64, y + (sy + 0.5) / 3.0 - 64};
          const double h = MedalHeight(p);
          const double r = Len(p);
          if (h < 0) {
            // Rays: twenty soft spokes fading out by radius 62.
            const double a = std::atan2(p.x, -p.y);
            const double spoke = std::pow(std::abs(std::cos(a * 10.0)), 18.0);
            const double fade = (1.0 - Smooth(47.0, 62.0, r)) * Smooth(44.0, 47.5, r);
            acc += 0.28 * spoke * fade + 0.10 * (1.0 - Smooth(46.0, 52.0, r));
            continue;
          }
          const double e = 0.5;
          const double hx = (MedalHeight(p + Vec2{e, 0}) - MedalHeight(p - Vec2{e, 0}));
          const double hy = (MedalHeight(p + Vec2{0, e}) - MedalHeight(p - Vec2{0, e}));
          const double gx = std::max(-2.0, std::min(2.0, hx)) * 6.0, gy = std::max(-2.0, std::min(2.0, hy)) * 6.0;
          const double nlen = std::sqrt(gx * gx + gy * gy + 1.0);
          const double nx = -gx / nlen, ny = -gy / nlen, nz = 1.0 / nlen;
          const double lz = 0.55;
          const double diffuse = std::max(0.0, nx * light.x + ny * light.y + nz * lz);
          const double specular = std::pow(std::max(0.0, nx * light.x * 0.6 + ny * light.y * 0.6 + nz * 0.8), 24.0);
          acc += std::min(1.0, 0.18 + 0.55 * h + 0.35 * diffuse * h + 0.55 * specular);
        }
      c.At(x, y, 0) = static_cast<float>(acc / 9.0);
    }
  return Save(dir, "gfx_star.png", c, PngKind::Grey, 7);
}

// ---------------------------------------------------------------- explosion
// Smooth value noise, tiled at `period` cells, for clouds.
double ValueNoise(double x, double y, int seed) {
  auto hash = [seed](int i, int j) {
    uint32_t h = static_cast<uint32_t>(i * 374761393 + j * 668265263 + seed * 2246822519u);
    h = (h ^ (h >> 13)) * 1274126177u;
    return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
  };
  const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  const double fx = x - ix, fy = y - iy;
  const double ux = fx * fx * (3 - 2 * fx), uy = fy * fy * (3 - 2 * fy);
  const double a = hash(ix, iy), b = hash(ix + 1, iy), c = hash(ix, iy + 1), d = hash(ix + 1, iy + 1);
  return Mix(Mix(a, b, ux), Mix(c, d, ux), uy);
}

double Fbm(double x, double y, int seed) {
  double v = 0, amp = 0.5;
  for (int o = 0; o < 5; ++o) {
    v += amp * ValueNoise(x, y, seed + o * 17);
    x *= 2.03;
    y *= 2.03;
    amp *= 0.5;
  }
  return v;
}

bool Explosion(const std::string& dir) {
  Canvas c(96, 96, 3);
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 96; ++x) {
      const Vec2 p{x + 0.5 - 48, y + 0.5 - 48};
      const double r = Len(p) / 44.0;
      const double n = Fbm(x * 0.09, y * 0.09, 7);
      const double billow = Fbm(x * 0.05 + 11.0, y * 0.05 - 3.0, 23);
      // Lumpy ball: radius wobbles with the noise, density falls to zero by r = 1.
      const double edge = 0.62 + 0.38 * billow;
      double dens = Clamp01(1.0 - r / edge) * (0.55 + 0.9 * n);
      dens *= 1.0 - Smooth(0.85, 1.0, r);
      dens = Clamp01(dens * 1.6);
      const double heat = Clamp01(dens * 1.2 - 0.1);
      // White-yellow core through orange to deep red smoke.
      const double rr = Clamp01(dens * 2.2);
      const double gg = Clamp01(heat * heat * 1.5);
      const double bb = Clamp01(heat * heat * heat * 1.4 - 0.15);
      c.At(x, y, 0) = static_cast<float>(rr);
      c.At(x, y, 1) = static_cast<float>(gg * 0.92);
      c.At(x, y, 2) = static_cast<float>(bb * 0.8);
    }
  return Save(dir, "gfx_explosion.png", c, PngKind::Rgb, 8);
}

// ---------------------------------------------------------------- actors
// The ship and the chaser collide by their non-black pixels, so both keep every
// lit pixel inside a radius of about 10.6 around the centre and fill a disc of
// about 7.5: actors on neighbouring cells never touch, actors closer than 12
// pixels always do.
constexpr double ACTOR_CUT = 10.6;

void CutActor(Canvas& c) {
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      if (Len(Vec2{x + 0.5 - 32, y + 0.5 - 32}) > ACTOR_CUT)
        for (int k = 0; k < 3; ++k) c.At(x, y, k) = 0;
}

std::vector<Vec2> Mirror(const std::vector<Vec2>& half) {
  std::vector<Vec2> out = half;
  for (auto it = half.rbegin(); it != half.rend(); ++it)
    if (it->x != 0) out.push_back({-it->x, it->y});
  return out;
}

// Right half of a swept delta, nose up, from the nose clockwise to the tail.
const std::vector<Vec2> SHIP_HULL = Mirror({{0, -10.4}, {1.4, -7.4}, {2.8, -3.2}, {9.9, 3.9}, {9.4, 6.7},
                                            {4.2, 5.2}, {2.8, 7.6}, {0, 6.4}});
const std::vector<Vec2> SHIP_CANOPY = {{0, -6.0}, {1.3, -3.0}, {1.2, 0.0}, {0, 0.8}, {-1.2, 0.0}, {-1.3, -3.0}};

// The ship's colour at p (ship units, centre 0,0, nose up). Returns true
// inside the metal hull; outside it the colour is light to add (the faint
// shield and the engine flame), black where there is nothing.
bool ShadeShip(Vec2 p, double& vr, double& vg, double& vb) {
  const double sd = PolyDist(p, SHIP_HULL);
  const double shield = Len(p) - 7.8;  // the faint shield keeps the solid middle round
  vr = vg = vb = 0;
  if (sd > 0.0) {
    if (shield < 0) {
      const double rim = Smooth(-1.5, 0.0, shield);
      vr += 0.10 + 0.10 * rim;
      vg += 0.16 + 0.16 * rim;
      vb += 0.32 + 0.25 * rim;
    }
    // Engine flame behind the tail, kept inside the cut radius.
    const double fl = std::exp(-(p.x * p.x) / 3.0) * Smooth(10.8, 7.0, p.y) * Smooth(5.5, 7.6, p.y);
    vr += 1.0 * fl;
    vg += 0.55 * fl;
    vb += 0.15 * fl;
    return false;
  }
  // Metal body: light from the front, bright edges, darker towards the back.
  const double edge = Smooth(-1.2, 0.0, sd);
  const double shade = 0.50 + 0.40 * Smooth(7.0, -10.0, p.y);
  vr = 0.60 * shade + 0.40 * edge, vg = 0.68 * shade + 0.32 * edge, vb = 0.88 * shade + 0.12 * edge;
  // Panel lines along the wing roots.
  if (std::abs(std::abs(p.x) - 3.6) < 0.4 && p.y > -1.0 && p.y < 5.0) {
    vr *= 0.5;
    vg *= 0.55;
    vb *= 0.7;
  }
  if (PolyDist(p, SHIP_CANOPY) < 0) {
    const double hl = Smooth(-0.5, -4.5, p.y);
    vr = 0.25 + 0.5 * hl;
    vg = 0.75 + 0.25 * hl;
    vb = 1.0;
  }
  // Wing-tip lights.
  if (Len(p - Vec2{8.9, 5.0}) < 1.1 || Len(p - Vec2{-8.9, 5.0}) < 1.1) {
    vr = 1.0;
    vg = 0.4;
    vb = 0.3;
  }
  return true;
}

bool Ship(const std::string& dir) {
  Canvas c(64, 64, 3);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      double r = 0, g = 0, b = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          double vr, vg, vb;
          ShadeShip({x + (sx + 0.5) / 4.0 - 32, y + (sy + 0.5) / 4.0 - 32}, vr, vg, vb);
          r += vr;
          g += vg;
          b += vb;
        }
      c.At(x, y, 0) = static_cast<float>(r / 16);
      c.At(x, y, 1) = static_cast<float>(g / 16);
      c.At(x, y, 2) = static_cast<float>(b / 16);
    }
  CutActor(c);
  return Save(dir, "ship.png", c, PngKind::Rgb, 10);
}

// The chaser: an eight-bladed spinning star with a glowing eye. It is drawn
// tinted dark red, dark blue or grey, so it is mostly bright grey here.
bool Chaser(const std::string& dir) {
  Canvas c(64, 64, 3);
  std::vector<Vec2> blades;
  for (int i = 0; i < 16; ++i) {
    const double a = i * PI / 8.0;
    const double rr = (i % 2 == 0) ? 10.3 : 7.7;
    // Skewed tips give the star a sense of spin.
    const double skew = (i % 2 == 0) ? 0.22 : 0.0;
    blades.push_back({rr * std::sin(a + skew), -rr * std::cos(a + skew)});
  }
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      double r = 0, g = 0, b = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const Vec2 p{x + (sx + 0.5) / 4.0 - 32, y + (sy + 0.5) / 4.0 - 32};
          const double sd = PolyDist(p, blades);
          const double d = Len(p);
          if (sd > 0) continue;
          double v = 0.55 + 0.45 * Smooth(-1.2, 0.0, sd);  // bright blade edges
          // Groove ring and a bright eye in the middle.
          if (std::abs(d - 5.2) < 0.6) v = 0.35;
          if (d < 3.6) v = 0.75 + 0.25 * Smooth(3.6, 0.5, d);
          // Blade ridges.
          const double a = std::atan2(p.x, -p.y);
          v *= 0.85 + 0.15 * std::cos(8 * a - 1.2);
          double vr = v, vg = v, vb = v;
          if (d < 2.2) {
            vr = 1.0;
            vg = 1.0;
            vb = 1.0;
          }
          r += vr;
          g += vg;
          b += vb;
        }
      c.At(x, y, 0) = static_cast<float>(r / 16);
      c.At(x, y, 1) = static_cast<float>(g / 16);
      c.At(x, y, 2) = static_cast<float>(b / 16);
    }
  CutActor(c);
  return Save(dir, "chaser.png", c, PngKind::Rgb, 10);
}

// ---------------------------------------------------------------- title art
struct PlacedStrokes {
  std::vector<Stroke> strokes;
  double Dist(Vec2 p) const {
    double d = 1e9;
    for (const auto& s : strokes) d = std::min(d, SegDist(p, s.a, s.b));
    return d;
  }
};

PlacedStrokes Word(const char* text, Vec2 origin, double scaleX, double scaleY, double pitch) {
  PlacedStrokes out;
  for (int i = 0; text[i]; ++i)
    for (const Stroke& s : LetterStrokes(text[i])) {
      const Vec2 o{origin.x + i * pitch, origin.y};
      out.strokes.push_back({{o.x + s.a.x * scaleX, o.y + s.a.y * scaleY}, {o.x + s.b.x * scaleX, o.y + s.b.y * scaleY}});
    }
  return out;
}

// Stores the average of 3 x 3 samples (R, G, B summed premultiplied, A the
// summed coverage) as straight colour; what is almost clear becomes clear.
void StoreStraight(Canvas& c, int x, int y, double R, double G, double B, double A) {
  R /= 9;
  G /= 9;
  B /= 9;
  A /= 9;
  if (A < 1.5 / 255.0) {
    c.At(x, y, 0) = c.At(x, y, 1) = c.At(x, y, 2) = c.At(x, y, 3) = 0;
    return;
  }
  c.At(x, y, 0) = static_cast<float>(Clamp01(R / A));
  c.At(x, y, 1) = static_cast<float>(Clamp01(G / A));
  c.At(x, y, 2) = static_cast<float>(Clamp01(B / A));
  c.At(x, y, 3) = static_cast<float>(A);
}

// The chrome logo: letters cut from a sky-to-sunset gradient with a bright
// horizon line, stripes in the lower half, a pale rim and a violet glow.
bool Logo(const std::string& dir) {
  Canvas c(452, 128, 4);
  const double sx = 7.2, sy = 6.8, pitch = 88.0, half = 6.5;
  const Vec2 origin{(452 - (4 * pitch + 10 * sx)) / 2.0, (128 - 12 * sy) / 2.0};
  const PlacedStrokes word = Word("QUARV", origin, sx, sy, pitch);
  const double top = origin.y - half, bottom = origin.y + 12 * sy + half;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 452; ++x) {
      double R = 0, G = 0, B = 0, A = 0;
      for (int ssy = 0; ssy < 3; ++ssy)
        for (int ssx = 0; ssx < 3; ++ssx) {
          const Vec2 p{x + (ssx + 0.5) / 3.0, y + (ssy + 0.5) / 3.0};
          const double d = word.Dist(p) - half;
          const double t = (p.y - top) / (bottom - top);
          // Fill gradient: ice blue to white above the horizon, magenta to gold below.
          double fr, fg, fb;
          if (t < 0.52) {
            const double u = t / 0.52;
            fr = Mix(0.35, 1.0, u * u);
            fg = Mix(0.75, 1.0, u * u);
            fb = 1.0;
          } else {
            const double u = (t - 0.52) / 0.48;
            fr = Mix(0.95, 1.0, u);
            fg = Mix(0.15, 0.78, u);
            fb = Mix(0.70, 0.20, u);
          }
          if (std::abs(t - 0.52) < 0.012) fr = fg = fb = 1.0;
          // Stripes that widen towards the bottom of the lower half.
          double stripe = 1.0;
          if (t > 0.6) {
            const double period = 7.0;
            const double ph = std::fmod(p.y - (top + 0.6 * (bottom - top)), period);
            const double cut = 1.0 + (t - 0.6) * 4.0;
            if (ph < cut) stripe = 0.35;
          }
          const double fill = Cover(d);
          const double rim = Cover(std::abs(d + 1.0) - 0.7) * 0.8;
          const double glow = (d > 0) ? 0.75 * std::exp(-d / 5.5) : 0.0;
          const double fa = std::min(1.0, fill * stripe + rim);
          // Colour per unit alpha: the glow is violet, the rim white.
          double a = fa + (1.0 - fa) * glow;
          double r = fa * (fr * stripe * (1 - rim) + rim) + (1.0 - fa) * glow * 0.75;
          double g = fa * (fg * stripe * (1 - rim) + rim) + (1.0 - fa) * glow * 0.25;
          double b = fa * (fb * stripe * (1 - rim) + rim) + (1.0 - fa) * glow * 1.0;
          // Horizon streak across the whole logo.
          const double hy = top + 0.52 * (bottom - top);
          const double streak = std::exp(-std::abs(p.y - hy) / 1.2) * std::exp(-std::pow((p.x - 226) / 190.0, 2.0));
          r += streak * 0.9;
          g += streak * 0.6;
          b += streak * 1.0;
          a = std::min(1.0, a + streak * 0.8);
          R += r;
          G += g;
          B += b;
          A += a;
        }
      StoreStraight(c, x, y, R, G, B, A);
    }
  return Save(dir, "titlescreen1.png", c, PngKind::Rgba, 0);
}

// The sub-title: the spaced-out word between two fading rules.
bool Subtitle(const std::string& dir) {
  Canvas c(443, 32, 4);
  const double sx = 1.45, sy = 1.6, pitch = 27.0, half = 1.5;
  const double width = 7 * pitch + 10 * sx;
  const Vec2 origin{(443 - width) / 2.0, (32 - 12 * sy) / 2.0};
  const PlacedStrokes word = Word("ZEPHRANT", origin, sx, sy, pitch);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 443; ++x) {
      double R = 0, G = 0, B = 0, A = 0;
      for (int ssy = 0; ssy < 3; ++ssy)
        for (int ssx = 0; ssx < 3; ++ssx) {
          const Vec2 p{x + (ssx + 0.5) / 3.0, y + (ssy + 0.5) / 3.0};
          const double d = word.Dist(p) - half;
          const double t = Clamp01((p.y - origin.y) / (12 * sy));
          const double fill = Cover(d);
          const double glow = d > 0 ? 0.6 * std::exp(-d / 3.0) : 0;
          double a = fill + (1 - fill) * glow;
          double r = fill * Mix(0.55, 1.0, t) + (1 - fill) * glow * 0.2;
          double g = fill * Mix(1.0, 0.55, t) + (1 - fill) * glow * 0.9;
          double b = fill * 1.0 + (1 - fill) * glow * 1.0;
          // Rules left and right of the word, fading outwards.
          const double gapL = origin.x - 12, gapR = origin.x + width + 12;
          double rule = 0;
          if (p.x < gapL) rule = Smooth(0.0, gapL, p.x) * Smooth(0.0, 8.0, gapL - p.x);
          if (p.x > gapR) rule = Smooth(443.0, gapR, p.x) * Smooth(0.0, 8.0, p.x - gapR);
          const double ry = std::exp(-std::pow((p.y - 16.0) / 0.9, 2.0)) + 0.25 * std::exp(-std::abs(p.y - 16.0) / 2.5);
          const double rl = rule * ry;
          r += rl * 0.5;
          g += rl * 0.85;
          b += rl * 1.0;
          a = std::min(1.0, a + rl);
          R += r;
          G += g;
          B += b;
          A += a;
        }
      StoreStraight(c, x, y, R, G, B, A);
    }
  return Save(dir, "titlescreen2.png", c, PngKind::Rgba, 0);
}

// The seamless background grid: fine lines every 32 pixels, brighter ones
// every 128, with a glow and bright crossings.
bool Grid(const std::string& dir) {
  Canvas c(256, 256, 3);
  auto lineDist = [](double v, double period) {
    const double m = std::fmod(v, period);
    return std::min(m, period - m);
  };
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const double px = x + 0.5 - 0.5, py = y + 0.5 - 0.5;  // lines through pixel centres 0, 32, ...
      const double dx = lineDist(px, 32), dy = lineDist(py, 32);
      const double mx = lineDist(px, 128), my = lineDist(py, 128);
      const double d = std::min(dx, dy), md = std::min(mx, my);
      double v = 0.55 * Cover(d - 0.5) + 0.25 * std::exp(-d / 1.6);
      v += 0.45 * Cover(md - 0.9) + 0.25 * std::exp(-md / 3.0);
      const double cross = std::sqrt(dx * dx + dy * dy);
      v += 0.5 * std::exp(-cross / 2.0);
      v = Clamp01(v);
      if (v < 0.035) v = 0;
      c.At(x, y, 0) = static_cast<float>(v * 0.85);
      c.At(x, y, 1) = static_cast<float>(v * 0.95);
      c.At(x, y, 2) = static_cast<float>(v);
    }
  return Save(dir, "gfx_grid.png", c, PngKind::Rgb, 9);
}

// The application icon at size n: the ship flying up a painted line over
// the glowing grid, on a dark rounded square.
bool Icon(const std::string& path, int n) {
  Canvas c(n, n, 4);
  const double inset = 0.03 * n, radius = 0.2 * n, half = n / 2.0 - inset;
  const double cell = n / 4.0;                // four grid cells across
  const double shipScale = 11.5 / (0.40 * n);  // ship units per pixel: the hull fills 80 %
  const int ss = n <= 64 ? 8 : 4;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      double R = 0, G = 0, B = 0, A = 0;
      for (int sy = 0; sy < ss; ++sy)
        for (int sx = 0; sx < ss; ++sx) {
          const Vec2 p{x + (sx + 0.5) / ss - n / 2.0, y + (sy + 0.5) / ss - n / 2.0};
          // Rounded square: distance to a box shrunk by the radius.
          const double qx = std::max(std::abs(p.x) - (half - radius), 0.0);
          const double qy = std::max(std::abs(p.y) - (half - radius), 0.0);
          const double box = std::sqrt(qx * qx + qy * qy) - radius;
          const double cover = Cover(box * ss) ;
          if (cover <= 0) continue;
          // Deep blue, lighter towards the top, with a grid line every cell.
          const double up = Clamp01(0.5 - p.y / n);
          double r = 0.02 + 0.03 * up, g = 0.03 + 0.05 * up, b = 0.10 + 0.14 * up;
          const double gx = std::abs(std::remainder(p.x, cell)), gy = std::abs(std::remainder(p.y, cell));
          const double grid = 0.35 * std::exp(-std::min(gx, gy) / (0.012 * n + 0.3));
          r += 0.85 * grid;
          g += 0.95 * grid;
          b += grid;
          // The painted line the ship has come along, from the bottom edge.
          if (p.y > 0) {
            const double line = std::exp(-std::abs(p.x) / (0.025 * n + 0.4));
            r += 0.2 * line;
            g += 0.9 * line;
            b += 0.6 * line;
          }
          // A soft rim just inside the edge.
          const double rim = std::exp(-std::abs(box) / (0.01 * n + 0.5));
          r += 0.25 * rim;
          g += 0.35 * rim;
          b += 0.6 * rim;
          double vr, vg, vb;
          if (ShadeShip(p * shipScale, vr, vg, vb)) {
            r = vr;
            g = vg;
            b = vb;
          } else {
            r += vr;
            g += vg;
            b += vb;
          }
          R += Clamp01(r) * cover;
          G += Clamp01(g) * cover;
          B += Clamp01(b) * cover;
          A += cover;
        }
      const double samples = ss * ss;
      if (A <= 0) continue;
      c.At(x, y, 0) = static_cast<float>(R / A);
      c.At(x, y, 1) = static_cast<float>(G / A);
      c.At(x, y, 2) = static_cast<float>(B / A);
      c.At(x, y, 3) = static_cast<float>(A / samples);
    }
  const bool ok = WritePng(path, n, n, PngKind::Rgba, ToBytes(c, 0));
  if (!ok) std::fprintf(stderr, "mediagen: cannot write %s\n", path.c_str());
  return ok;
}

}  // namespace

bool WriteIcons(const std::string& dir, const std::string& name) {
  bool ok = true;
  for (int n : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
    const std::string size = std::to_string(n) + "x" + std::to_string(n);
    ok &= Icon(dir + "/" + size + "/apps/" + name + ".png", n);
  }
  return ok;
}

bool WritePictures(const std::string& dir) {
  bool ok = true;
  ok &= Tiles4(dir);
  ok &= Tiles10(dir);
  ok &= Wedge(dir);
  ok &= Star(dir);
  ok &= Explosion(dir);
  ok &= Ship(dir);
  ok &= Icon(dir + "/icon.png", 64);  // the window's, as the menu entry's
  ok &= Chaser(dir);
  ok &= Logo(dir);
  ok &= Subtitle(dir);
  ok &= Grid(dir);
  return ok;
}
