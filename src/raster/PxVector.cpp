#include "raster/PxVector.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "raster/PxBlit.h"
#include "raster/PxCombine.h"

using namespace pxdetail;

namespace
{
constexpr double kTwoPi = 6.283185307179586;

// One shape's pixel writer: weight, mode and the image, with coverage.
struct Plotter
{
  PxIBitmap* bmp;
  unsigned int* bits;
  int width, height;
  unsigned int color;
  float alpha;
  int mode;

  bool Init(PxIBitmap* b, unsigned int c, float a, int m)
  {
    bmp = b;
    bits = b ? b->getBits() : nullptr;
    if (!bits) return false;
    width = b->getWidth();
    height = b->getHeight();
    color = c;
    alpha = a;
    mode = m & ~kPxBlitFilterBilinear;
    return Weight(a) > 0;
  }

  void Plot(int x, int y, double coverage = 1.0)
  {
    if (x < 0 || y < 0 || x >= width || y >= height || coverage <= 0.0) return;
    const float a = coverage >= 1.0 ? alpha : (float)(alpha * coverage);
    const int w = Weight(a);
    if (w <= 0) return;
    unsigned int* p = Row(bmp, bits, y) + x;
    *p = Combine(*p, color, w, mode, a == 0.5f);
  }

  void Span(int y, int xa, int xb)  // [xa, xb)
  {
    if (y < 0 || y >= height) return;
    if (xa < 0) xa = 0;
    if (xb > width) xb = width;
    for (int x = xa; x < xb; ++x) Plot(x, y);
  }
};

inline double Frac(double v) { return v - std::floor(v); }

// Pixel bound of a coordinate, kept inside [lo, hi] before it becomes an int.
inline int Bound(double v, int lo, int hi)
{
  if (!(v >= lo)) return lo;  // also NaN
  if (v > hi) return hi;
  return (int)v;
}

inline bool Finite(double a, double b, double c)
{
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

// Cuts the segment to the box [lo, hiX] x [lo, hiY]; false when it misses.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double lo, double hiX,
                 double hiY)
{
  double t0 = 0.0, t1 = 1.0;
  const double dx = x2 - x1, dy = y2 - y1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - lo, hiX - x1, y1 - lo, hiY - y1};
  for (int i = 0; i < 4; ++i)
  {
    if (p[i] == 0.0)
    {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
  }
  if (t0 > t1) return false;
  const double ax = x1 + t0 * dx, ay = y1 + t0 * dy;
  x2 = x1 + t1 * dx;
  y2 = y1 + t1 * dy;
  x1 = ax;
  y1 = ay;
  return true;
}

// Is the direction of (dx, dy) within [minAngle, maxAngle]? Angles are
// clockwise from straight up, screen y pointing down.
bool InArc(double dx, double dy, double minAngle, double maxAngle)
{
  if (maxAngle - minAngle >= kTwoPi) return true;
  double a = std::atan2(dx, -dy);  // 0 up, positive clockwise
  double rel = std::fmod(a - minAngle, kTwoPi);
  if (rel < 0) rel += kTwoPi;
  return rel <= maxAngle - minAngle;
}

void Ring(PxIBitmap* dest, double cx, double cy, double r, double minAngle,
          double maxAngle, unsigned int color, float alpha, int mode, bool aa)
{
  Plotter p;
  if (!p.Init(dest, color, alpha, mode) || !Finite(cx, cy, r) || !(r >= 0.0) ||
      !Finite(minAngle, maxAngle, 0.0) || maxAngle < minAngle)
    return;
  const int x0 = Bound(std::floor(cx - r - 1), 0, p.width - 1);
  const int x1 = Bound(std::ceil(cx + r + 1), -1, p.width - 1);
  const int y0 = Bound(std::floor(cy - r - 1), 0, p.height - 1);
  const int y1 = Bound(std::ceil(cy + r + 1), -1, p.height - 1);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
    {
      // Pixel (x, y) is centred on (x, y): integer centres draw crisp rings.
      const double dx = x - cx, dy = y - cy;
      const double dist = std::sqrt(dx * dx + dy * dy);
      const double off = std::fabs(dist - r);
      if (off >= 1.0 || !InArc(dx, dy, minAngle, maxAngle)) continue;
      if (aa) p.Plot(x, y, 1.0 - off);
      else if (off < 0.5) p.Plot(x, y);
    }
}
}  // namespace

void PxLine(PxIBitmap* dest, int x1, int y1, int x2, int y2,
            unsigned int color, float alpha, int mode, bool antialias)
{
  Plotter p;
  if (!p.Init(dest, color, alpha, mode)) return;
  // A line reaching far outside is cut to just beyond the image first, so
  // the work stays bounded by the image size.
  if (std::min(x1, x2) < -1 || std::min(y1, y2) < -1 || std::max(x1, x2) > p.width ||
      std::max(y1, y2) > p.height)
  {
    double ax = x1, ay = y1, bx = x2, by = y2;
    if (!ClipSegment(ax, ay, bx, by, -1.0, p.width, p.height)) return;
    x1 = (int)std::lround(ax);
    y1 = (int)std::lround(ay);
    x2 = (int)std::lround(bx);
    y2 = (int)std::lround(by);
  }
  const int adx = std::abs(x2 - x1), ady = std::abs(y2 - y1);
  if (!antialias || adx == 0 || ady == 0 || adx == ady)
  {
    // Bresenham; horizontal, vertical and diagonal lines are exact anyway.
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = adx - ady;
    int x = x1, y = y1;
    for (;;)
    {
      p.Plot(x, y);
      if (x == x2 && y == y2) break;
      const int e2 = 2 * err;
      if (e2 > -ady)
      {
        err -= ady;
        x += sx;
      }
      if (e2 < adx)
      {
        err += adx;
        y += sy;
      }
    }
    return;
  }
  // Antialiased: two pixels across the minor axis share the coverage.
  const bool steep = ady > adx;
  double ax = x1, ay = y1, bx = x2, by = y2;
  if (steep)
  {
    std::swap(ax, ay);
    std::swap(bx, by);
  }
  if (ax > bx)
  {
    std::swap(ax, bx);
    std::swap(ay, by);
  }
  const double grad = (by - ay) / (bx - ax);
  double yy = ay;
  for (int x = (int)ax; x <= (int)bx; ++x, yy += grad)
  {
    const int yi = (int)std::floor(yy);
    const double f = Frac(yy);
    if (steep)
    {
      p.Plot(yi, x, 1.0 - f);
      p.Plot(yi + 1, x, f);
    }
    else
    {
      p.Plot(x, yi, 1.0 - f);
      p.Plot(x, yi + 1, f);
    }
  }
}

void PxArc(PxIBitmap* dest, float cx, float cy, float r, float minAngle,
           float maxAngle, unsigned int color, float alpha, int mode,
           bool antialias)
{
  Ring(dest, cx, cy, r, minAngle, maxAngle, color, alpha, mode, antialias);
}

void PxCircle(PxIBitmap* dest, float cx, float cy, float r, unsigned int color,
              float alpha, int mode, bool antialias)
{
  Ring(dest, cx, cy, r, 0.0, kTwoPi, color, alpha, mode, antialias);
}

void PxFillCircle(PxIBitmap* dest, float cx, float cy, float r,
                  unsigned int color, float alpha, int mode, bool antialias)
{
  Plotter p;
  if (!p.Init(dest, color, alpha, mode) || !Finite(cx, cy, r) || !(r >= 0.0f)) return;
  const int x0 = Bound(std::floor(cx - r - 1.0), 0, p.width - 1);
  const int x1 = Bound(std::ceil(cx + r + 1.0), -1, p.width - 1);
  const int y0 = Bound(std::floor(cy - r - 1.0), 0, p.height - 1);
  const int y1 = Bound(std::ceil(cy + r + 1.0), -1, p.height - 1);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
    {
      const double dx = x - cx, dy = y - cy;
      const double dist = std::sqrt(dx * dx + dy * dy);
      if (antialias) p.Plot(x, y, std::min(1.0, r + 0.5 - dist));
      else if (dist <= r) p.Plot(x, y);
    }
}

void PxRoundRect(PxIBitmap* dest, float x, float y, float w, float h,
                 int cornerRadius, unsigned int color, float alpha, int mode,
                 bool antialias)
{
  if (!(w > 0.0f) || !(h > 0.0f) || !Finite(x, y, w + h) || std::fabs(x) > 1e9f ||
      std::fabs(y) > 1e9f || w > 1e9f || h > 1e9f)
    return;
  const int l = (int)x, t = (int)y, r = (int)(x + w) - 1, b = (int)(y + h) - 1;
  int cr = cornerRadius;
  if (cr > (r - l) / 2) cr = (r - l) / 2;
  if (cr > (b - t) / 2) cr = (b - t) / 2;
  if (cr < 0) cr = 0;
  const double q = kTwoPi / 4;
  // Straight edges between the corners, corners as quarter rings; the ends of
  // each edge stop short of the arcs so no pixel is drawn twice.
  PxLine(dest, l + cr, t, r - cr, t, color, alpha, mode, false);
  PxLine(dest, l + cr, b, r - cr, b, color, alpha, mode, false);
  if (b - cr - 1 >= t + cr + 1)
  {
    PxLine(dest, l, t + cr + 1, l, b - cr - 1, color, alpha, mode, false);
    PxLine(dest, r, t + cr + 1, r, b - cr - 1, color, alpha, mode, false);
  }
  if (cr > 0)
  {
    // Open the angle ranges slightly so that the rings meet the edges.
    const double eps = 0.02;
    Ring(dest, l + cr, t + cr, cr, 3 * q + eps, 4 * q - eps, color, alpha, mode, antialias);
    Ring(dest, r - cr, t + cr, cr, 0 + eps, q - eps, color, alpha, mode, antialias);
    Ring(dest, r - cr, b - cr, cr, q + eps, 2 * q - eps, color, alpha, mode, antialias);
    Ring(dest, l + cr, b - cr, cr, 2 * q + eps, 3 * q - eps, color, alpha, mode, antialias);
  }
}

void PxFillTriangle(PxIBitmap* dest, int x1, int y1, int x2, int y2, int x3,
                    int y3, unsigned int color, float alpha, int mode)
{
  const int xs[3] = {x1, x2, x3}, ys[3] = {y1, y2, y3};
  PxFillConvexPolygon(dest, xs, ys, 3, color, alpha, mode);
}

void PxFillConvexPolygon(PxIBitmap* dest, const int* xs, const int* ys,
                         int count, unsigned int color, float alpha, int mode)
{
  Plotter p;
  if (!xs || !ys || count < 3 || !p.Init(dest, color, alpha, mode)) return;
  int ymin = ys[0], ymax = ys[0];
  for (int i = 1; i < count; ++i)
  {
    ymin = std::min(ymin, ys[i]);
    ymax = std::max(ymax, ys[i]);
  }
  // Vertices sit on pixel centres; a pixel is filled when its centre lies
  // inside the polygon or on its left or top edge, so shapes that share an
  // edge do not overlap. Edges through the scan line by the even-odd rule.
  std::vector<double> cross;
  cross.reserve((size_t)count);
  for (int y = std::max(ymin, 0); y <= std::min(ymax, p.height - 1); ++y)
  {
    cross.clear();
    for (int i = 0; i < count; ++i)
    {
      const int j = (i + 1) % count;
      int ax = xs[i], ay = ys[i], bx = xs[j], by = ys[j];
      if (ay == by) continue;
      if (ay > by)
      {
        std::swap(ax, bx);
        std::swap(ay, by);
      }
      if (y < ay || y >= by) continue;
      cross.push_back(ax + ((double)y - ay) * ((double)bx - ax) / ((double)by - ay));
    }
    std::sort(cross.begin(), cross.end());
    for (size_t k = 0; k + 1 < cross.size(); k += 2)
      p.Span(y, Bound(std::ceil(cross[k]), 0, p.width), Bound(std::ceil(cross[k + 1]), 0, p.width));
  }
}
