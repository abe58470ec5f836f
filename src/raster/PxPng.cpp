#include "raster/PxPng.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "raster/PxBlit.h"

namespace
{
// Everything that must be released after a libpng error jump lives here,
// outside the frame that calls setjmp.
struct LoadState
{
  FILE* fp = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep* rows = nullptr;
  PxIBitmap* created = nullptr;

  void Release()
  {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (fp) fclose(fp);
    free(rows);
    png = nullptr;
    info = nullptr;
    fp = nullptr;
    rows = nullptr;
  }
};

// Asks libpng for A, R, G, B bytes of 8 bits whatever the file holds (a
// filler alpha of 255 when it has none). Returns the number of interlace
// passes, 0 when the rows would not come out as four bytes a pixel.
int SetUpTransforms(png_structp png, png_infop info)
{
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (bitDepth == 16) png_set_strip_16(png);
  if (bitDepth < 8) png_set_packing(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  const bool hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  if (hasAlpha)
    png_set_swap_alpha(png);  // A, R, G, B
  else
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || png_get_rowbytes(png, info) != (size_t)width * 4) return 0;
  return passes;
}

// Bytes A, R, G, B become the pixel word, in place.
void ToPixelWords(png_bytep p, png_uint_32 width)
{
  unsigned int* out = (unsigned int*)p;
  for (png_uint_32 x = 0; x < width; ++x, p += 4)
    out[x] = ((unsigned int)p[0] << 24) | ((unsigned int)p[1] << 16) | ((unsigned int)p[2] << 8) |
             (unsigned int)p[3];
}

// Runs between setjmp and the end of decoding; returns false on a failure
// that libpng does not report by jumping.
bool Decode(LoadState& st, PxIBitmap* into)
{
  png_init_io(st.png, st.fp);
  png_read_info(st.png, st.info);

  const png_uint_32 width = png_get_image_width(st.png, st.info);
  const png_uint_32 height = png_get_image_height(st.png, st.info);
  if (!SetUpTransforms(st.png, st.info)) return false;

  PxIBitmap* bmp = into;
  if (bmp) bmp->resize((int)width, (int)height);
  else bmp = st.created = new PxMemBitmap((int)width, (int)height, 4);
  unsigned int* bits = bmp->getBits();
  if (!bits || bmp->getWidth() != (int)width || bmp->getHeight() != (int)height)
    return false;

  st.rows = (png_bytep*)malloc(sizeof(png_bytep) * height);
  if (!st.rows) return false;
  const size_t span = (size_t)bmp->getRowSpan();
  const bool flipped = bmp->isFlipped();
  for (png_uint_32 y = 0; y < height; ++y)
    st.rows[y] = (png_bytep)(bits + span * (flipped ? height - 1 - y : y));
  png_read_image(st.png, st.rows);
  png_read_end(st.png, nullptr);

  for (png_uint_32 y = 0; y < height; ++y) ToPixelWords(st.rows[y], width);
  return true;
}

bool RunDecode(LoadState& st, PxIBitmap* into)
{
  if (setjmp(png_jmpbuf(st.png))) return false;
  return Decode(st, into);
}

bool RunEncode(png_structp png, png_infop info, FILE* fp, PxIBitmap* bmp,
               bool opaque, unsigned char* row)
{
  if (setjmp(png_jmpbuf(png))) return false;
  const int w = bmp->getWidth(), h = bmp->getHeight();
  png_init_io(png, fp);
  png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y)
  {
    for (int x = 0; x < w; ++x)
    {
      const unsigned int c = PxGetPixel(bmp, x, y);
      row[x * 4 + 0] = (unsigned char)PxGetR(c);
      row[x * 4 + 1] = (unsigned char)PxGetG(c);
      row[x * 4 + 2] = (unsigned char)PxGetB(c);
      row[x * 4 + 3] = opaque ? 255 : (unsigned char)PxGetA(c);
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}
}  // namespace

PxIBitmap* PxLoadPNG(const char* path, PxIBitmap* into)
{
  if (!path) return nullptr;
  LoadState st;
  st.fp = fopen(path, "rb");
  if (!st.fp) return nullptr;
  unsigned char sig[8];
  if (fread(sig, 1, 8, st.fp) != 8 || png_sig_cmp(sig, 0, 8))
  {
    st.Release();
    return nullptr;
  }
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (st.png) st.info = png_create_info_struct(st.png);
  if (!st.png || !st.info)
  {
    st.Release();
    return nullptr;
  }
  png_set_sig_bytes(st.png, 8);
  const bool ok = RunDecode(st, into);
  st.Release();
  if (!ok)
  {
    delete st.created;
    return nullptr;
  }
  return into ? into : st.created;
}

bool PxSavePNG(const char* path, PxIBitmap* bmp, bool opaque)
{
  if (!path || !bmp || !bmp->getBits() || bmp->getWidth() <= 0 || bmp->getHeight() <= 0)
    return false;
  FILE* fp = fopen(path, "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  unsigned char* row = (unsigned char*)malloc((size_t)bmp->getWidth() * 4);
  bool ok = png && info && row && RunEncode(png, info, fp, bmp, opaque, row);
  if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  free(row);
  if (fclose(fp) != 0) ok = false;
  if (!ok) remove(path);
  return ok;
}

// The open file and libpng's state between two calls of DecodeRows.
struct PxPngImage::Decoder
{
  FILE* fp = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  int passes = 0;

  ~Decoder()
  {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (fp) fclose(fp);
  }
};

namespace
{
// The frames that jump back here on a libpng error hold nothing that needs
// releasing; the decoder is destroyed by the caller.
bool StartDecoder(png_structp png, png_infop info, FILE* fp, int* passes)
{
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, fp);
  png_read_info(png, info);
  *passes = SetUpTransforms(png, info);
  return *passes > 0;
}

bool ReadRows(png_structp png, png_bytep* rows, int from, int to, png_uint_32 width)
{
  if (setjmp(png_jmpbuf(png))) return false;
  for (int y = from; y < to; ++y)
  {
    png_read_row(png, rows[y], nullptr);
    ToPixelWords(rows[y], width);
  }
  return true;
}

bool ReadAll(png_structp png, png_bytep* rows, int height, png_uint_32 width)
{
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  for (int y = 0; y < height; ++y) ToPixelWords(rows[y], width);
  return true;
}

bool Finish(png_structp png)
{
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_end(png, nullptr);
  return true;
}
}  // namespace

PxPngImage* PxPngImage::Open(const char* path)
{
  if (!path) return nullptr;
  FILE* fp = fopen(path, "rb");
  if (!fp) return nullptr;
  // Signature, then the IHDR chunk: length 13, type, width, height (big-endian).
  unsigned char h[24];
  const bool read = fread(h, 1, sizeof(h), fp) == sizeof(h);
  fclose(fp);
  if (!read || png_sig_cmp(h, 0, 8) || h[8] || h[9] || h[10] || h[11] != 13 || h[12] != 'I' || h[13] != 'H' ||
      h[14] != 'D' || h[15] != 'R')
    return nullptr;
  auto be32 = [&](int at) {
    return ((uint32_t)h[at] << 24) | ((uint32_t)h[at + 1] << 16) | ((uint32_t)h[at + 2] << 8) | (uint32_t)h[at + 3];
  };
  const uint32_t w = be32(16), ht = be32(20);
  // The sides a memory bitmap accepts.
  if (w == 0 || ht == 0 || w > (1u << 24) || ht > (1u << 24)) return nullptr;
  return new PxPngImage(path, (int)w, (int)ht);
}

PxPngImage::~PxPngImage()
{
  delete mDecoder;
}

void PxPngImage::Fail()
{
  std::fprintf(stderr, "cannot decode the image %s; drawing nothing in its place\n", mPath.c_str());
  delete mDecoder;
  mDecoder = nullptr;
  mFailed = true;
  mRowsDone.store(0, std::memory_order_release);
  mPixels.resize(0, 0);
}

int PxPngImage::DecodeRows(int rows, unsigned int** pBits)
{
  if (rows > mHeight) rows = mHeight;
  int done = mRowsDone.load(std::memory_order_acquire);
  if (done < rows)
  {
    std::lock_guard<std::mutex> lock(mMutex);
    done = mRowsDone.load(std::memory_order_relaxed);
    if (done < rows && !mFailed)
    {
      if (!mDecoder)
      {
        // The pixel block is not cleared: rows are handed out only once decoded.
        mDecoder = new Decoder;
        mPixels.resize(mWidth, mHeight);
        unsigned char sig[8];
        mDecoder->fp = fopen(mPath.c_str(), "rb");
        if (mDecoder->fp && fread(sig, 1, 8, mDecoder->fp) == 8 && !png_sig_cmp(sig, 0, 8))
          mDecoder->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (mDecoder->png) mDecoder->info = png_create_info_struct(mDecoder->png);
        if (mDecoder->info) png_set_sig_bytes(mDecoder->png, 8);
        if (!mDecoder->info || !mPixels.getBits() ||
            !StartDecoder(mDecoder->png, mDecoder->info, mDecoder->fp, &mDecoder->passes) ||
            png_get_image_width(mDecoder->png, mDecoder->info) != (png_uint_32)mWidth ||
            png_get_image_height(mDecoder->png, mDecoder->info) != (png_uint_32)mHeight)
        {
          Fail();
          if (pBits) *pBits = nullptr;
          return 0;
        }
      }
      const size_t span = (size_t)mPixels.getRowSpan();
      std::vector<png_bytep> rowPtrs((size_t)mHeight);
      for (int y = 0; y < mHeight; ++y) rowPtrs[(size_t)y] = (png_bytep)(mPixels.getBits() + span * (size_t)y);
      // Interlaced rows only come out whole after the last pass.
      const int to = mDecoder->passes > 1 ? mHeight : rows;
      const png_uint_32 w = (png_uint_32)mWidth;
      const bool ok = mDecoder->passes > 1 ? ReadAll(mDecoder->png, rowPtrs.data(), mHeight, w)
                                           : ReadRows(mDecoder->png, rowPtrs.data(), done, to, w);
      if (!ok || (to == mHeight && !Finish(mDecoder->png)))
      {
        Fail();
        if (pBits) *pBits = nullptr;
        return 0;
      }
      if (to == mHeight)
      {
        delete mDecoder;  // closes the file
        mDecoder = nullptr;
      }
      done = to;
      mRowsDone.store(done, std::memory_order_release);
    }
  }
  if (pBits) *pBits = done > 0 ? mPixels.getBits() : nullptr;
  return done;
}

unsigned int* PxPngImage::getBits()
{
  unsigned int* bits = nullptr;
  return DecodeRows(mHeight, &bits) == mHeight ? bits : nullptr;
}

bool PxPngImage::resize(int w, int h)
{
  if (w == mWidth && h == mHeight) return false;
  getBits();
  std::lock_guard<std::mutex> lock(mMutex);
  delete mDecoder;
  mDecoder = nullptr;
  mFailed = false;
  mPixels.resize(w, h);
  mWidth = mPixels.getWidth();
  mHeight = mPixels.getHeight();
  // Whatever the decode gave, the image now has pixels of its new size.
  mRowsDone.store(mHeight, std::memory_order_release);
  return true;
}
