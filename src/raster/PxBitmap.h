#pragma once
// 32-bit raster images: (alpha << 24) | (red << 16) | (green << 8) | blue,
// straight (not premultiplied) alpha, stored little-endian (B, G, R, A).

#include <cstddef>

#include "raster/PxGdi.h"

class PxIBitmap
{
public:
  virtual ~PxIBitmap() {}
  // First pixel of the top row.
  virtual unsigned int* getBits() = 0;
  virtual int getWidth() = 0;
  virtual int getHeight() = 0;
  // Pixels (not bytes) from one row to the next.
  virtual int getRowSpan() = 0;
  // True when rows are stored bottom-up.
  virtual bool isFlipped() { return false; }
  // Returns whether anything changed.
  virtual bool resize(int w, int h) = 0;
  // The platform drawing context of the image, or null.
  virtual HDC getDC() { return nullptr; }
  virtual int Extended(int id, void* data)
  {
    (void)id;
    (void)data;
    return 0;
  }
};

// Pixels in a heap block; rows are padded to the line alignment.
class PxMemBitmap : public PxIBitmap
{
public:
  explicit PxMemBitmap(int w = 0, int h = 0, unsigned int lineAlign = 4);
  ~PxMemBitmap() override;

  PxMemBitmap(const PxMemBitmap&) = delete;
  PxMemBitmap& operator=(const PxMemBitmap&) = delete;

  unsigned int* getBits() override;
  int getWidth() override { return mWidth; }
  int getHeight() override { return mHeight; }
  int getRowSpan() override { return mRowSpan; }
  bool resize(int w, int h) override;

  // Bytes held by the pixel block (it only ever grows).
  size_t getAllocatedBytes() const { return mAllocated; }

private:
  bool allocate(int w, int h, bool growByQuarter);

  unsigned int* mBits = nullptr;
  size_t mAllocated = 0;
  int mWidth = 0, mHeight = 0, mRowSpan = 0;
  unsigned int mLineAlignMask = 0;
};

// An image whose pixels live in a platform drawing context, so that native
// text can be drawn into it and the window host can put it on screen as is.
class PxSysBitmap : public PxIBitmap
{
public:
  explicit PxSysBitmap(int w = 0, int h = 0);
  ~PxSysBitmap() override;

  PxSysBitmap(const PxSysBitmap&) = delete;
  PxSysBitmap& operator=(const PxSysBitmap&) = delete;

  unsigned int* getBits() override { return mBits; }
  int getWidth() override { return mWidth; }
  int getHeight() override { return mHeight; }
  int getRowSpan() override { return mRowSpan; }
  bool resize(int w, int h) override;
  HDC getDC() override { return mDC; }

private:
  HDC mDC = nullptr;
  unsigned int* mBits = nullptr;
  int mWidth = 0, mHeight = 0, mRowSpan = 0;
  int mAllocW = 0, mAllocH = 0;  // size of the context behind the image
};
