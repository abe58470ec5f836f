#pragma once
// PNG files to and from raster images.

#include <atomic>
#include <mutex>
#include <string>

#include "raster/PxBitmap.h"

// Decodes the file into `into` (resized to the image) or, when `into` is
// null, into a new PxMemBitmap that then belongs to the caller. Returns null
// for a missing or undecodable file or a target that cannot take the size.
PxIBitmap* PxLoadPNG(const char* path, PxIBitmap* into = nullptr);

// Writes the image as 8-bit RGBA (straight alpha); with opaque every alpha
// byte is written as 255. Returns false on any failure.
bool PxSavePNG(const char* path, PxIBitmap* bmp, bool opaque = false);

// A PNG file whose pixels are decoded as they are needed. Its size is read
// from the file's header when it is opened, so that an editor can lay itself
// out (and a host can scan the plug-in) without decoding images it may never
// draw; later the rows are decoded top to bottom only as far as someone asks,
// so a film strip whose first frames are shown costs little more than those
// frames. A file that turns out not to decode keeps its size but has no
// pixels, which every raster operation treats as nothing to draw.
class PxPngImage : public PxIBitmap
{
public:
  // Null when the file cannot be read or its header is not a PNG's.
  static PxPngImage* Open(const char* path);
  ~PxPngImage() override;

  // Decodes the whole image first.
  unsigned int* getBits() override;
  int getWidth() override { return mWidth; }
  int getHeight() override { return mHeight; }
  // The span a memory bitmap of this width has, before and after decoding.
  int getRowSpan() override { return mPixels.getRowSpan() ? mPixels.getRowSpan() : (mWidth + 3) & ~3; }
  // Decodes first, then resizes like a memory bitmap.
  bool resize(int w, int h) override;

  // Decodes on until at least the first `rows` rows are there (an interlaced
  // file decodes whole) and returns how many rows are, with their first
  // pixel in *pBits: rows below that number never change again. 0 when the
  // file does not decode.
  int DecodeRows(int rows, unsigned int** pBits);
  bool IsDecoded() const { return mRowsDone.load(std::memory_order_acquire) == mHeight; }
  const std::string& Path() const { return mPath; }

private:
  struct Decoder;
  PxPngImage(const char* path, int w, int h) : mPath(path), mWidth(w), mHeight(h) {}
  void Fail();

  std::string mPath;
  int mWidth, mHeight;
  PxMemBitmap mPixels;
  Decoder* mDecoder = nullptr;
  bool mFailed = false;
  std::atomic<int> mRowsDone{0};
  std::mutex mMutex;  // editors on two threads decode each row once
};
