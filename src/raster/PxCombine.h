#pragma once
// Per-pixel combine formulas shared by the blits, fills, pixel writes,
// vector shapes and glyph compositing. Private to the raster layer.

#include "raster/PxBitmap.h"

namespace pxdetail
{
// Address of row y in image order (flipped images count from the bottom).
inline unsigned int* Row(PxIBitmap* bmp, unsigned int* bits, int y)
{
  int h = bmp->getHeight();
  int span = bmp->getRowSpan();
  return bits + (size_t)(bmp->isFlipped() ? (h - 1 - y) : y) * (size_t)span;
}

inline int Min255(int v) { return v > 255 ? 255 : v; }

// Combines source word s into destination word d.
//   w      weight int(alpha * 256), 1..256
//   mode   low byte: operation; kPxBlitUseSourceAlpha: source alpha counts
//   exactHalf  alpha was exactly 0.5 (the plain copy then averages words)
unsigned int Combine(unsigned int d, unsigned int s, int w, int mode,
                     bool exactHalf);

// Weight of an opacity, clamped to 0..256.
inline int Weight(float alpha)
{
  if (!(alpha > 0.0f)) return 0;  // also NaN
  if (alpha >= 1.0f) return 256;
  return (int)(alpha * 256.0f);
}
}  // namespace pxdetail
