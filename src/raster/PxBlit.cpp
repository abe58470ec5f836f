#include "raster/PxBlit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/PxCombine.h"

using namespace pxdetail;

namespace pxdetail
{
namespace
{
// Truncating integer division by 256 (toward zero, also for negatives).
inline int Div256(int v) { return v / 256; }

inline int Ch(unsigned int c, int shift) { return (int)((c >> shift) & 0xFF); }

inline unsigned int Pack(int b, int g, int r, int a)
{
  return (unsigned int)b | ((unsigned int)g << 8) | ((unsigned int)r << 16) |
         ((unsigned int)a << 24);
}

inline int Dodge(int d, int s, int e)
{
  int f = 256 - e * s / 256;
  int v = f >= 2 ? (d * 256) / f : d * 256;
  return Min255(v);
}

inline int Multiply(int d, int s) { return d * (s + 1) / 256; }

inline int Overlay(int d, int s)
{
  return d < 128 ? 2 * d * s / 255 : 255 - 2 * (255 - d) * (255 - s) / 255;
}

void RgbToHsv(int r, int g, int b, int& h, int& s, int& v)
{
  // h in 0..383 (64 per sector), s and v in 0..255.
  int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  v = mx;
  int delta = mx - mn;
  if (!mx || !delta)
  {
    h = 0;
    s = 0;
    return;
  }
  s = delta * 255 / mx;
  if (r == mx) h = 64 * (g - b) / delta;
  else if (g == mx) h = 128 + 64 * (b - r) / delta;
  else h = 256 + 64 * (r - g) / delta;
  if (h < 0) h += 384;
}

void HsvToRgb(int h, int s, int v, int& r, int& g, int& b)
{
  h %= 384;
  if (h < 0) h += 384;
  int sector = h / 64, f = h % 64;
  int p = v * (255 - s) / 255;
  int q = v * (255 - s * f / 64) / 255;
  int t = v * (255 - s * (64 - f) / 64) / 255;
  switch (sector)
  {
    case 0: r = v; g = t; b = p; break;
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    default: r = v; g = p; b = q; break;
  }
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
}  // namespace

namespace
{

// Channels as B, G, R, A.
struct Channels
{
  int D[4];
  int S[4];
  Channels(unsigned int d, unsigned int s)
    : D{Ch(d, 0), Ch(d, 8), Ch(d, 16), Ch(d, 24)}, S{Ch(s, 0), Ch(s, 8), Ch(s, 16), Ch(s, 24)}
  {
  }
};

// The modes that leave the source's alpha out.
unsigned int CombineOpaque(unsigned int d, unsigned int s, int w, int op, bool exactHalf)
{
  Channels c(d, s);
  int* D = c.D;
  const int* S = c.S;
  switch (op)
  {
    case kPxBlitCopy:
      if (w >= 256) return s;
      if (exactHalf) return ((d >> 1) & 0x7F7F7F7F) + ((s >> 1) & 0x7F7F7F7F);
      for (int i = 0; i < 4; ++i) D[i] = S[i] + Div256((D[i] - S[i]) * (256 - w));
      break;
    case kPxBlitAdd:
      for (int i = 0; i < 4; ++i) D[i] = Min255(D[i] + w * S[i] / 256);
      break;
    case kPxBlitDodge:
      for (int i = 0; i < 4; ++i) D[i] = Dodge(D[i], S[i], w);
      break;
    case kPxBlitMultiply:
      for (int i = 0; i < 4; ++i)
        D[i] = D[i] + Div256((Multiply(D[i], S[i]) - D[i]) * w);
      break;
    case kPxBlitOverlay:
      for (int i = 0; i < 4; ++i)
        D[i] = D[i] + Div256((Overlay(D[i], S[i]) - D[i]) * w);
      break;
    case kPxBlitHSVAdjust:
    {
      // Source red turns the hue, green shifts saturation, blue the value;
      // 128 is neutral.
      int h, sa, v, r, g, b;
      RgbToHsv(D[2], D[1], D[0], h, sa, v);
      h += (S[2] - 128) * 384 / 256;
      sa = Clamp255(sa + (S[1] - 128) * 2);
      v = Clamp255(v + (S[0] - 128) * 2);
      HsvToRgb(h, sa, v, r, g, b);
      const int T[3] = {b, g, r};
      for (int i = 0; i < 3; ++i) D[i] = D[i] + Div256((T[i] - D[i]) * w);
      break;
    }
    default:
      return d;
  }
  return Pack(D[0], D[1], D[2], D[3]);
}

// The modes weighed by the source's alpha.
unsigned int CombineAlpha(unsigned int d, unsigned int s, int w, int op)
{
  Channels c(d, s);
  int* D = c.D;
  const int* S = c.S;
  const int a = S[3];
  switch (op)
  {
    case kPxBlitCopy:
    {
      if (a == 0) return d;
      if (w >= 256)
      {
        if (a == 255) return s | 0xFF000000u;
        for (int i = 0; i < 3; ++i) D[i] = S[i] + Div256((255 - a) * (D[i] - S[i]));
        D[3] = Min255(D[3] + a);
      }
      else
      {
        const int e = w * (a + 1) / 256;
        for (int i = 0; i < 3; ++i) D[i] = S[i] + Div256((D[i] - S[i]) * (256 - e));
        D[3] = Min255(D[3] + e);
      }
      break;
    }
    case kPxBlitAdd:
    {
      if (a == 0) return d;
      const int e = w * (a + 1) / 256;
      for (int i = 0; i < 3; ++i) D[i] = Min255(D[i] + e * S[i] / 256);
      D[3] = Min255(D[3] + a * e / 256);
      break;
    }
    case kPxBlitDodge:
    {
      const int e = w * (a + 1) / 256;
      for (int i = 0; i < 4; ++i) D[i] = Dodge(D[i], S[i], e);
      break;
    }
    case kPxBlitMultiply:
    case kPxBlitOverlay:
    case kPxBlitHSVAdjust:
    {
      if (a == 0) return d;
      const int e = w * (a + 1) / 256;
      unsigned int t = CombineOpaque(d, s | 0xFF000000u, 256, op, false);
      for (int i = 0; i < 3; ++i) D[i] = D[i] + Div256((Ch(t, 8 * i) - D[i]) * e);
      D[3] = Min255(D[3] + e);
      break;
    }
    default:
      return d;
  }
  return Pack(D[0], D[1], D[2], D[3]);
}

}  // namespace

unsigned int Combine(unsigned int d, unsigned int s, int w, int mode,
                     bool exactHalf)
{
  if (w <= 0) return d;
  const int op = mode & kPxBlitModeMask;
  if ((mode & kPxBlitUseSourceAlpha) != 0) return CombineAlpha(d, s, w, op);
  return CombineOpaque(d, s, w, op, exactHalf);
}
}  // namespace pxdetail

void PxBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty, int srcx,
            int srcy, int w, int h, float alpha, int mode)
{
  if (!dest || !src || alpha == 0.0f) return;
  unsigned int* dbits = dest->getBits();
  unsigned int* sbits = src->getBits();
  if (!dbits || !sbits) return;
  const int weight = Weight(alpha);
  if (weight <= 0) return;

  // 64-bit so that extreme arguments cannot overflow while clipping.
  long long dx = dstx, dy = dsty;
  long long sl = srcx, st = srcy, sr = (long long)srcx + w, sb = (long long)srcy + h;
  if (sl < 0)
  {
    dx -= sl;
    sl = 0;
  }
  if (st < 0)
  {
    dy -= st;
    st = 0;
  }
  if (sr > src->getWidth()) sr = src->getWidth();
  if (sb > src->getHeight()) sb = src->getHeight();

  if (dx < 0)
  {
    sl -= dx;
    dx = 0;
  }
  if (dy < 0)
  {
    st -= dy;
    dy = 0;
  }
  const int destW = dest->getWidth(), destH = dest->getHeight();
  if (dx >= destW || dy >= destH) return;
  if (sr - sl > destW - dx) sr = sl + destW - dx;
  if (sb - st > destH - dy) sb = st + destH - dy;
  if (sr <= sl || sb <= st) return;

  const RECT srect = {(int)sl, (int)st, (int)sr, (int)sb};
  dstx = (int)dx;
  dsty = (int)dy;
  const int cw = srect.right - srect.left;
  const bool plainCopy = !(mode & kPxBlitUseSourceAlpha) &&
                         (mode & kPxBlitModeMask) == kPxBlitCopy;
  const bool exactHalf = alpha == 0.5f;
  for (int y = srect.top; y < srect.bottom; ++y)
  {
    const unsigned int* s = Row(src, sbits, y) + srect.left;
    unsigned int* d = Row(dest, dbits, dsty + (y - srect.top)) + dstx;
    if (plainCopy && weight >= 256)
    {
      memmove(d, s, (size_t)cw * 4);
    }
    else if (plainCopy && exactHalf)
    {
      for (int x = 0; x < cw; ++x)
        d[x] = ((d[x] >> 1) & 0x7F7F7F7F) + ((s[x] >> 1) & 0x7F7F7F7F);
    }
    else if (mode == kPxBlitUseSourceAlpha && weight >= 256)
    {
      // Film strips: mostly fully transparent or fully opaque pixels.
      for (int x = 0; x < cw; ++x)
      {
        const unsigned int a = s[x] >> 24;
        if (a == 255) d[x] = s[x];
        else if (a) d[x] = Combine(d[x], s[x], 256, mode, false);
      }
    }
    else
    {
      for (int x = 0; x < cw; ++x) d[x] = Combine(d[x], s[x], weight, mode, false);
    }
  }
}

void PxCopy(PxIBitmap* dest, PxIBitmap* src)
{
  if (!dest || !src) return;
  dest->resize(src->getWidth(), src->getHeight());
  PxBlit(dest, src, 0, 0, 0, 0, src->getWidth(), src->getHeight(), 1.0f, 0);
}

namespace
{
// Clips (x, y, w, h) to the image; false when nothing is left.
bool ClipRect(PxIBitmap* bmp, int& x, int& y, int& w, int& h)
{
  long long l = x, t = y, r = (long long)x + w, b = (long long)y + h;
  if (l < 0) l = 0;
  if (t < 0) t = 0;
  const int bw = bmp->getWidth(), bh = bmp->getHeight();
  if (l >= bw || t >= bh || w <= 0 || h <= 0) return false;
  if (r > bw) r = bw;
  if (b > bh) b = bh;
  if (r <= l || b <= t) return false;
  x = (int)l;
  y = (int)t;
  w = (int)(r - l);
  h = (int)(b - t);
  return true;
}
}  // namespace

void PxFillRect(PxIBitmap* dest, int x, int y, int w, int h,
                unsigned int color, float alpha, int mode)
{
  if (!dest) return;
  if (mode & kPxBlitUseSourceAlpha) alpha *= (float)(color >> 24) / 255.0f;
  unsigned int* bits = dest->getBits();
  if (!bits || !ClipRect(dest, x, y, w, h)) return;
  const int weight = Weight(alpha);
  if (weight <= 0) return;

  const int op = mode & kPxBlitModeMask;
  if (op == kPxBlitCopy)
  {
    const int cb = Ch(color, 0), cg = Ch(color, 8), cr = Ch(color, 16);
    const unsigned int c2 = (color >> 1) & 0x7F7F7F7F;
    const unsigned int c4 = (color >> 2) & 0x3F3F3F3F;
    for (int j = 0; j < h; ++j)
    {
      unsigned int* p = Row(dest, bits, y + j) + x;
      switch (weight)
      {
        case 64:
          for (int i = 0; i < w; ++i)
            p[i] = c4 + ((p[i] >> 2) & 0x3F3F3F3F) + ((p[i] >> 1) & 0x7F7F7F7F);
          break;
        case 128:
          for (int i = 0; i < w; ++i) p[i] = c2 + ((p[i] >> 1) & 0x7F7F7F7F);
          break;
        case 192:
          for (int i = 0; i < w; ++i) p[i] = c2 + c4 + ((p[i] >> 2) & 0x3F3F3F3F);
          break;
        case 256:
          for (int i = 0; i < w; ++i) p[i] = color;
          break;
        default:
        {
          const int k = 256 - weight;
          for (int i = 0; i < w; ++i)
          {
            const unsigned int d = p[i];
            p[i] = Pack(cb + Div256((Ch(d, 0) - cb) * k), cg + Div256((Ch(d, 8) - cg) * k),
                        cr + Div256((Ch(d, 16) - cr) * k),
                        weight + Div256((Ch(d, 24) - weight) * k));
          }
          break;
        }
      }
    }
    return;
  }

  // Other operations take the weight as the source value of the alpha row.
  const unsigned int s = (color & 0x00FFFFFFu) | ((unsigned int)Min255(weight) << 24);
  for (int j = 0; j < h; ++j)
  {
    unsigned int* p = Row(dest, bits, y + j) + x;
    for (int i = 0; i < w; ++i) p[i] = Combine(p[i], s, weight, op, false);
  }
}

void PxClearRect(PxIBitmap* dest, int x, int y, int w, int h,
                 unsigned int mask, unsigned int orBits)
{
  if (!dest) return;
  unsigned int* bits = dest->getBits();
  if (!bits || !ClipRect(dest, x, y, w, h)) return;
  for (int j = 0; j < h; ++j)
  {
    unsigned int* p = Row(dest, bits, y + j) + x;
    for (int i = 0; i < w; ++i) p[i] = (p[i] & mask) | orBits;
  }
}

unsigned int PxGetPixel(PxIBitmap* bmp, int x, int y)
{
  if (!bmp) return 0;
  unsigned int* bits = bmp->getBits();
  if (!bits || x < 0 || y < 0 || x >= bmp->getWidth() || y >= bmp->getHeight())
    return 0;
  return Row(bmp, bits, y)[x];
}

void PxPutPixel(PxIBitmap* bmp, int x, int y, unsigned int color, float alpha,
                int mode)
{
  if (!bmp) return;
  unsigned int* bits = bmp->getBits();
  if (!bits || x < 0 || y < 0 || x >= bmp->getWidth() || y >= bmp->getHeight())
    return;
  const int weight = Weight(alpha);
  if (weight <= 0) return;
  unsigned int* p = Row(bmp, bits, y) + x;
  *p = Combine(*p, color, weight, mode, alpha == 0.5f);
}

namespace
{
struct Sampler
{
  PxIBitmap* bmp;
  unsigned int* bits;
  int left, top, right, bottom;  // usable source pixels, right/bottom exclusive
  bool bilinear;

  unsigned int At(int x, int y) const
  {
    if (x < left) x = left;
    if (x >= right) x = right - 1;
    if (y < top) y = top;
    if (y >= bottom) y = bottom - 1;
    return Row(bmp, bits, y)[x];
  }

  // (fx, fy) in source pixel units, pixel i covering [i, i + 1).
  bool Sample(double fx, double fy, bool clipToRect, unsigned int& out) const
  {
    // Written so that NaN coordinates are rejected too.
    const bool inside = fx >= left && fx < right && fy >= top && fy < bottom;
    if (clipToRect && !inside) return false;
    if (!(fx > -1e9 && fx < 1e9 && fy > -1e9 && fy < 1e9)) return false;
    if (!bilinear)
    {
      const int x = (int)std::floor(fx), y = (int)std::floor(fy);
      if (x < left || x >= right || y < top || y >= bottom) return false;
      out = Row(bmp, bits, y)[x];
      return true;
    }
    if (!inside) return false;
    const double cx = fx - 0.5, cy = fy - 0.5;
    const int x0 = (int)std::floor(cx), y0 = (int)std::floor(cy);
    const int tx = (int)((cx - x0) * 256.0), ty = (int)((cy - y0) * 256.0);
    const unsigned int p00 = At(x0, y0), p10 = At(x0 + 1, y0);
    const unsigned int p01 = At(x0, y0 + 1), p11 = At(x0 + 1, y0 + 1);
    unsigned int r = 0;
    for (int sh = 0; sh < 32; sh += 8)
    {
      const int upper = Ch(p00, sh) * 256 + (Ch(p10, sh) - Ch(p00, sh)) * tx;
      const int lower = Ch(p01, sh) * 256 + (Ch(p11, sh) - Ch(p01, sh)) * tx;
      const int v = (upper * 256 + (lower - upper) * ty + 32768) >> 16;
      r |= (unsigned int)Clamp255(v) << sh;
    }
    out = r;
    return true;
  }
};

bool MakeSampler(PxIBitmap* src, float srcx, float srcy, float srcw, float srch,
                 int mode, Sampler& s)
{
  s.bmp = src;
  s.bits = src->getBits();
  if (!s.bits || !std::isfinite(srcx) || !std::isfinite(srcy) || !std::isfinite(srcx + srcw) ||
      !std::isfinite(srcy + srch))
    return false;
  // Far outside any image: nothing to sample (and no int overflow below).
  if (srcx > 1e9f || srcy > 1e9f || srcx + srcw < -1e9f || srcy + srch < -1e9f) return false;
  if (srcx < -1e9f) srcx = -1e9f;
  if (srcy < -1e9f) srcy = -1e9f;
  if (srcw > 2e9f) srcw = 2e9f;
  if (srch > 2e9f) srch = 2e9f;
  s.left = (int)std::floor(srcx);
  s.top = (int)std::floor(srcy);
  s.right = (int)std::ceil(srcx + srcw);
  s.bottom = (int)std::ceil(srcy + srch);
  if (s.left < 0) s.left = 0;
  if (s.top < 0) s.top = 0;
  if (s.right > src->getWidth()) s.right = src->getWidth();
  if (s.bottom > src->getHeight()) s.bottom = src->getHeight();
  s.bilinear = (mode & kPxBlitFilterBilinear) != 0;
  return s.right > s.left && s.bottom > s.top;
}
}  // namespace

void PxScaledBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty,
                  int dstw, int dsth, float srcx, float srcy, float srcw,
                  float srch, float alpha, int mode)
{
  if (!dest || !src || dstw <= 0 || dsth <= 0 || !(srcw > 0.0f) || !(srch > 0.0f))
    return;
  unsigned int* dbits = dest->getBits();
  const int weight = Weight(alpha);
  Sampler s;
  if (!dbits || weight <= 0 || !MakeSampler(src, srcx, srcy, srcw, srch, mode, s))
    return;
  const int combineMode = mode & ~kPxBlitFilterBilinear;
  const double sx = (double)srcw / dstw, sy = (double)srch / dsth;
  const int x0 = dstx < 0 ? 0 : dstx, y0 = dsty < 0 ? 0 : dsty;
  const int x1 = (int)std::min<long long>((long long)dstx + dstw, dest->getWidth());
  const int y1 = (int)std::min<long long>((long long)dsty + dsth, dest->getHeight());
  for (int y = y0; y < y1; ++y)
  {
    unsigned int* d = Row(dest, dbits, y);
    const double fy = srcy + (y - dsty + 0.5) * sy;
    for (int x = x0; x < x1; ++x)
    {
      const double fx = srcx + (x - dstx + 0.5) * sx;
      unsigned int p;
      if (s.Sample(fx, fy, false, p)) d[x] = Combine(d[x], p, weight, combineMode, alpha == 0.5f);
    }
  }
}

void PxRotatedBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty,
                   int dstw, int dsth, float srcx, float srcy, float srcw,
                   float srch, float angle, bool clipToSource, float alpha,
                   int mode, float rotxcent, float rotycent)
{
  if (!dest || !src || dstw <= 0 || dsth <= 0 || !(srcw > 0.0f) || !(srch > 0.0f))
    return;
  unsigned int* dbits = dest->getBits();
  const int weight = Weight(alpha);
  Sampler s;
  if (!dbits || weight <= 0 || !MakeSampler(src, srcx, srcy, srcw, srch, mode, s))
    return;
  // Without clipping to the source rectangle, the rest of the image may show.
  if (!clipToSource)
  {
    s.left = 0;
    s.top = 0;
    s.right = src->getWidth();
    s.bottom = src->getHeight();
  }
  const int combineMode = mode & ~kPxBlitFilterBilinear;
  const double scx = (double)srcw / dstw, scy = (double)srch / dsth;
  const double dcx = dstx + dstw * 0.5 + rotxcent, dcy = dsty + dsth * 0.5 + rotycent;
  const double scx0 = srcx + srcw * 0.5 + rotxcent * scx;
  const double scy0 = srcy + srch * 0.5 + rotycent * scy;
  if (!std::isfinite(angle) || !std::isfinite(rotxcent) || !std::isfinite(rotycent)) return;
  const double c = std::cos((double)angle), sn = std::sin((double)angle);

  // The rotated rectangle can reach beyond the destination rectangle; cover
  // the bounding box of its corners turned about the pivot, clipped.
  double bx0 = 1e300, by0 = 1e300, bx1 = -1e300, by1 = -1e300;
  for (int k = 0; k < 4; ++k)
  {
    const double px = ((k & 1) ? dstx + dstw : dstx) - dcx;
    const double py = ((k & 2) ? dsty + dsth : dsty) - dcy;
    const double qx = dcx + c * px - sn * py, qy = dcy + sn * px + c * py;
    bx0 = std::min(bx0, qx);
    bx1 = std::max(bx1, qx);
    by0 = std::min(by0, qy);
    by1 = std::max(by1, qy);
  }
  const double dw = dest->getWidth(), dh = dest->getHeight();
  const int x0 = (int)std::min(dw, std::max(0.0, std::floor(bx0)));
  const int x1 = (int)std::max(0.0, std::min(dw, std::ceil(bx1)));
  const int y0 = (int)std::min(dh, std::max(0.0, std::floor(by0)));
  const int y1 = (int)std::max(0.0, std::min(dh, std::ceil(by1)));

  for (int y = y0; y < y1; ++y)
  {
    unsigned int* d = Row(dest, dbits, y);
    const double dy = y + 0.5 - dcy;
    for (int x = x0; x < x1; ++x)
    {
      const double dx = x + 0.5 - dcx;
      // Inverse rotation takes the destination point back into the source.
      const double rx = c * dx + sn * dy, ry = -sn * dx + c * dy;
      const double fx = scx0 + rx * scx, fy = scy0 + ry * scy;
      unsigned int p;
      if (s.Sample(fx, fy, clipToSource, p))
        d[x] = Combine(d[x], p, weight, combineMode, alpha == 0.5f);
    }
  }
}
