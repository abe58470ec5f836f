#include "raster/PxResample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
// Mitchell-Netravali with B = C = 1/3: little ringing, little blur.
float Mitchell(float x)
{
  x = std::fabs(x);
  const float B = 1.0f / 3.0f, C = 1.0f / 3.0f;
  if (x < 1.0f)
    return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6.0f;
  if (x < 2.0f)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) /
           6.0f;
  return 0.0f;
}

// For every output position along one axis: the first source index and the
// normalised weights of the source samples it takes.
struct Taps
{
  std::vector<int> first;
  std::vector<int> count;
  std::vector<float> weights;  // count[i] per output, packed
  int maxCount = 0;
};

Taps MakeTaps(int outLen, int inLen)
{
  Taps t;
  const double ratio = (double)outLen / (double)inLen;
  const double widen = ratio < 1.0 ? 1.0 / ratio : 1.0;
  const double support = 2.0 * widen;
  t.first.resize((size_t)outLen);
  t.count.resize((size_t)outLen);
  for (int o = 0; o < outLen; ++o)
  {
    const double centre = (o + 0.5) / ratio;  // in source pixels
    int lo = (int)std::floor(centre - support), hi = (int)std::ceil(centre + support);
    float sum = 0.0f;
    const size_t at = t.weights.size();
    for (int i = lo; i <= hi; ++i)
    {
      const float w = Mitchell((float)((i + 0.5 - centre) / widen));
      t.weights.push_back(w);
      sum += w;
    }
    if (sum != 0.0f)
      for (size_t k = at; k < t.weights.size(); ++k) t.weights[k] /= sum;
    t.first[(size_t)o] = lo;
    t.count[(size_t)o] = hi - lo + 1;
    t.maxCount = std::max(t.maxCount, hi - lo + 1);
  }
  return t;
}

unsigned char ToByte(float v)
{
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return (unsigned char)(v + 0.5f);
}

// A row of pixels as premultiplied floats, four per pixel.
void Premultiply(const unsigned int* s, int n, float* pre)
{
  for (int x = 0; x < n; ++x)
  {
    const unsigned int p = s[x];
    const float a = (float)(p >> 24) * (1.0f / 255.0f);
    pre[(size_t)x * 4 + 0] = (float)((p >> 16) & 255) * a;
    pre[(size_t)x * 4 + 1] = (float)((p >> 8) & 255) * a;
    pre[(size_t)x * 4 + 2] = (float)(p & 255) * a;
    pre[(size_t)x * 4 + 3] = (float)(p >> 24);
  }
}

// Output columns [from, to) of one premultiplied source row of srcw pixels.
void FilterRow(const Taps& tx, int from, int to, const float* pre, int srcw, float* out)
{
  size_t wAt = 0;
  for (int o = 0; o < from; ++o) wAt += (size_t)tx.count[(size_t)o];
  for (int o = from; o < to; ++o)
  {
    float acc[4] = {0, 0, 0, 0};
    const int first = tx.first[(size_t)o], n = tx.count[(size_t)o];
    for (int k = 0; k < n; ++k)
    {
      const int sx = std::min(std::max(first + k, 0), srcw - 1);
      const float w = tx.weights[wAt + (size_t)k];
      const float* p = &pre[(size_t)sx * 4];
      acc[0] += w * p[0];
      acc[1] += w * p[1];
      acc[2] += w * p[2];
      acc[3] += w * p[3];
    }
    wAt += (size_t)n;
    float* d = out + (size_t)(o - from) * 4;
    d[0] = acc[0];
    d[1] = acc[1];
    d[2] = acc[2];
    d[3] = acc[3];
  }
}

// One destination row from n filtered rows of outW pixels (rows, one after
// another) and their weights, back to straight alpha.
void FilterColumn(const float* weights, int n, const float* rows, int outW, unsigned int* d)
{
  for (int x = 0; x < outW; ++x)
  {
    float acc[4] = {0, 0, 0, 0};
    for (int k = 0; k < n; ++k)
    {
      const float w = weights[k];
      const float* p = &rows[((size_t)k * (size_t)outW + (size_t)x) * 4];
      acc[0] += w * p[0];
      acc[1] += w * p[1];
      acc[2] += w * p[2];
      acc[3] += w * p[3];
    }
    const unsigned char a = ToByte(acc[3]);
    unsigned int px = 0;
    if (a)
    {
      // Back to straight alpha; the filter's overshoot is clipped.
      const float un = 255.0f / acc[3];
      px = ((unsigned int)a << 24) | ((unsigned int)ToByte(acc[0] * un) << 16) |
           ((unsigned int)ToByte(acc[1] * un) << 8) | (unsigned int)ToByte(acc[2] * un);
    }
    d[x] = px;
  }
}
}  // namespace

void PxResample(PxIBitmap* dest, int dstx, int dsty, int dstw, int dsth, PxIBitmap* src, int srcx, int srcy,
                int srcw, int srch)
{
  if (!dest || !src || dstw <= 0 || dsth <= 0 || srcw <= 0 || srch <= 0) return;
  if (srcx < 0 || srcy < 0 || (long long)srcx + srcw > src->getWidth() || (long long)srcy + srch > src->getHeight())
    return;
  unsigned int* dbits = dest->getBits();
  unsigned int* sbits = src->getBits();
  if (!dbits || !sbits) return;
  // Only the rows and columns inside the destination image are computed.
  const int x0 = std::max(0, dstx), y0 = std::max(0, dsty);
  const int x1 = (int)std::min<long long>((long long)dstx + dstw, dest->getWidth());
  const int y1 = (int)std::min<long long>((long long)dsty + dsth, dest->getHeight());
  if (x1 <= x0 || y1 <= y0) return;

  const Taps tx = MakeTaps(dstw, srcw), ty = MakeTaps(dsth, srch);
  const int outW = x1 - x0;
  const int sspan = src->getRowSpan(), dspan = dest->getRowSpan();
  const bool sflip = src->isFlipped(), dflip = dest->isFlipped();
  auto srow = [&](int y) { return sbits + (size_t)sspan * (size_t)(sflip ? src->getHeight() - 1 - y : y); };
  auto drow = [&](int y) { return dbits + (size_t)dspan * (size_t)(dflip ? dest->getHeight() - 1 - y : y); };

  // The source rows the destination rows need, filtered horizontally into
  // premultiplied floats (four per pixel).
  const int rowLo = ty.first[(size_t)(y0 - dsty)];
  const int rowHi = ty.first[(size_t)(y1 - 1 - dsty)] + ty.count[(size_t)(y1 - 1 - dsty)] - 1;
  const int nRows = rowHi - rowLo + 1;
  std::vector<float> horiz((size_t)nRows * (size_t)outW * 4);
  std::vector<float> pre((size_t)srcw * 4);
  for (int r = 0; r < nRows; ++r)
  {
    const int sy = srcy + std::min(std::max(rowLo + r, 0), srch - 1);
    Premultiply(srow(sy) + srcx, srcw, pre.data());
    FilterRow(tx, x0 - dstx, x1 - dstx, pre.data(), srcw, &horiz[(size_t)r * (size_t)outW * 4]);
  }

  size_t wAt = 0;
  for (int o = 0; o < y0 - dsty; ++o) wAt += (size_t)ty.count[(size_t)o];
  for (int o = y0 - dsty; o < y1 - dsty; ++o)
  {
    const int first = ty.first[(size_t)o], n = ty.count[(size_t)o];
    FilterColumn(&ty.weights[wAt], n, &horiz[(size_t)(first - rowLo) * (size_t)outW * 4], outW,
                 drow(dsty + o) + x0);
    wAt += (size_t)n;
  }
}
