#include "kit/KitHeapBuf.h"

#include <climits>
#include <cstdlib>
#include <cstring>

KitHeapBuf::KitHeapBuf(int granul) : mGranul(granul > 0 ? granul : 1) {}

KitHeapBuf::~KitHeapBuf() { free(mBuf); }

void KitHeapBuf::SetGranul(int granul) { mGranul = granul > 0 ? granul : 1; }

void KitHeapBuf::Clear()
{
  free(mBuf);
  mBuf = nullptr;
  mSize = 0;
  mAlloc = 0;
}

// Makes the storage hold at least `bytes`, rounded up to the granularity
// (capped at INT_MAX). Computed in 64 bits so no rounding can wrap.
bool KitHeapBuf::Reserve(long long bytes, bool allowShrink)
{
  if (bytes < 0 || bytes > INT_MAX) return false;
  long long want = ((bytes + mGranul - 1) / mGranul) * mGranul;
  if (want > INT_MAX) want = INT_MAX;
  if (want == mAlloc) return true;
  if (want < mAlloc && !allowShrink) return true;
  if (want == 0)
  {
    free(mBuf);
    mBuf = nullptr;
    mAlloc = 0;
    return true;
  }
  void* p = realloc(mBuf, (size_t)want);
  if (!p)
  {
    // A failed shrink still leaves a usable (larger) block.
    return want < mAlloc;
  }
  mBuf = p;
  mAlloc = (int)want;
  return true;
}

void* KitHeapBuf::Resize(int newSize, bool resizeDown)
{
  if (newSize < 0) return nullptr;
  int oldSize = mSize;
  if (!Reserve(newSize, resizeDown)) return nullptr;
  if (newSize > oldSize) memset((char*)mBuf + oldSize, 0, (size_t)(newSize - oldSize));
  mSize = newSize;
  return mSize ? mBuf : nullptr;
}

void* KitHeapBuf::Grow(int n)
{
  if (n < 0) return nullptr;
  long long newSize = (long long)mSize + n;
  if (newSize > INT_MAX) return nullptr;
  int oldSize = mSize;
  if (!Resize((int)newSize, false) && newSize > 0) return nullptr;
  return (char*)mBuf + oldSize;
}

bool KitHeapBuf::Insert(int pos, const void* src, int n)
{
  if (n < 0 || pos < 0 || pos > mSize) return false;
  if (n == 0) return true;
  long long newSize = (long long)mSize + n;
  if (newSize > INT_MAX) return false;
  // The source may live inside this buffer; keep its offset across realloc.
  const char* base = (const char*)mBuf;
  bool inside = src && base && (const char*)src >= base && (const char*)src < base + mSize;
  long long srcOff = inside ? (const char*)src - base : 0;
  int oldSize = mSize;
  if (!Resize((int)newSize, false)) return false;
  char* b = (char*)mBuf;
  memmove(b + pos + n, b + pos, (size_t)(oldSize - pos));
  if (!src)
  {
    memset(b + pos, 0, (size_t)n);
  }
  else if (inside)
  {
    // Bytes that lay at or after pos have moved up by n.
    for (int i = 0; i < n; ++i)
    {
      long long from = srcOff + i;
      if (from >= pos) from += n;
      b[pos + i] = b[from];
    }
  }
  else
  {
    memcpy(b + pos, src, (size_t)n);
  }
  return true;
}

bool KitHeapBuf::Delete(int pos, int n)
{
  if (pos < 0 || n < 0 || pos >= mSize) return false;
  if (n > mSize - pos) n = mSize - pos;
  char* b = (char*)mBuf;
  memmove(b + pos, b + pos + n, (size_t)(mSize - pos - n));
  mSize -= n;
  return true;
}

bool KitHeapBuf::CopyFrom(const KitHeapBuf& other)
{
  if (&other == this) return true;
  if (!Reserve(other.mSize, true)) return false;
  if (other.mSize) memcpy(mBuf, other.mBuf, (size_t)other.mSize);
  mSize = other.mSize;
  return true;
}
