#include "raster/PxBitmap.h"

#include <cstdlib>

namespace
{
// Slack after the last row, so that word-wide loops may overrun a little.
constexpr size_t kSlackBytes = 63;
// Larger sides are refused like a failed allocation (and keep the row span
// arithmetic inside int).
constexpr int kMaxSide = 1 << 24;

// Rows align to the lowest set bit of lineAlign, at most 16 pixels. (A mask
// of 16 would not align anything: (w + 16) & ~16 is w or w + 16.)
unsigned int LineAlignMask(unsigned int lineAlign)
{
  if (lineAlign < 2) return 0;
  unsigned int m = (lineAlign & (~lineAlign + 1)) - 1;  // lowest set bit - 1
  return m > 15 ? 15 : m;
}
}  // namespace

PxMemBitmap::PxMemBitmap(int w, int h, unsigned int lineAlign)
  : mLineAlignMask(LineAlignMask(lineAlign))
{
  allocate(w, h, false);
}

PxMemBitmap::~PxMemBitmap()
{
  free(mBits);
}

unsigned int* PxMemBitmap::getBits()
{
  return (mWidth > 0 && mHeight > 0) ? mBits : nullptr;
}

bool PxMemBitmap::resize(int w, int h)
{
  if (w == mWidth && h == mHeight) return false;
  allocate(w, h, true);
  return true;
}

bool PxMemBitmap::allocate(int w, int h, bool growByQuarter)
{
  if (w <= 0 || h <= 0)
  {
    mWidth = mHeight = mRowSpan = 0;
    return true;
  }
  if (w > kMaxSide || h > kMaxSide)
  {
    mWidth = mHeight = mRowSpan = 0;
    return false;
  }
  int rowSpan = (int)(((unsigned int)w + mLineAlignMask) & ~mLineAlignMask);
  size_t need = (size_t)rowSpan * (size_t)h * 4 + kSlackBytes;
  if (need > mAllocated)
  {
    // Over-allocate on growth so that repeated resizing does not reallocate
    // every time; a freshly constructed image gets exactly what it needs.
    size_t want = growByQuarter ? need + need / 4 : need;
    void* p = realloc(mBits, want);
    if (!p)
    {
      free(mBits);
      mBits = nullptr;
      mAllocated = 0;
      mWidth = mHeight = mRowSpan = 0;
      return false;
    }
    mBits = (unsigned int*)p;
    mAllocated = want;
  }
  mWidth = w;
  mHeight = h;
  mRowSpan = rowSpan;
  return true;
}

PxSysBitmap::PxSysBitmap(int w, int h)
{
  resize(w, h);
}

PxSysBitmap::~PxSysBitmap()
{
  if (mDC) GdiDeleteGfxContext(mDC);
}

bool PxSysBitmap::resize(int w, int h)
{
  if (w < 0 || w > kMaxSide) w = 0;
  if (h < 0 || h > kMaxSide) h = 0;
  if (w == mWidth && h == mHeight && (mDC || !w || !h)) return false;
  if (!w || !h)
  {
    if (mDC) GdiDeleteGfxContext(mDC);
    mDC = nullptr;
    mBits = nullptr;
    mWidth = mHeight = mRowSpan = mAllocW = mAllocH = 0;
    return true;
  }
  int rowSpan = (w + 3) & ~3;
  if (mDC && rowSpan <= mAllocW && h <= mAllocH)
  {
    // Shrinking reuses the context; its memory layout (the row span) stays.
    mWidth = w;
    mHeight = h;
    return true;
  }
  if (mDC) GdiDeleteGfxContext(mDC);
  mDC = GdiCreateMemContext(nullptr, rowSpan, h);
  if (!mDC)
  {
    mBits = nullptr;
    mWidth = mHeight = mRowSpan = mAllocW = mAllocH = 0;
    return true;
  }
  mBits = (unsigned int*)GdiGetCtxFrameBuffer(mDC);
  mWidth = w;
  mHeight = h;
  mRowSpan = rowSpan;
  mAllocW = rowSpan;
  mAllocH = h;
  return true;
}
