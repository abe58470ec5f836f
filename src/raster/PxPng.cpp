#include "raster/PxPng.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

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

// Runs between setjmp and the end of decoding; returns false on a failure
// that libpng does not report by jumping.
bool Decode(LoadState& st, PxIBitmap* into)
{
  png_init_io(st.png, st.fp);
  png_read_info(st.png, st.info);

  const png_uint_32 width = png_get_image_width(st.png, st.info);
  const png_uint_32 height = png_get_image_height(st.png, st.info);
  const int colorType = png_get_color_type(st.png, st.info);
  const int bitDepth = png_get_bit_depth(st.png, st.info);

  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(st.png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
    png_set_expand_gray_1_2_4_to_8(st.png);
  if (png_get_valid(st.png, st.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(st.png);
  if (bitDepth == 16) png_set_strip_16(st.png);
  if (bitDepth < 8) png_set_packing(st.png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(st.png);
  const bool hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) ||
                        png_get_valid(st.png, st.info, PNG_INFO_tRNS);
  if (hasAlpha) png_set_swap_alpha(st.png);  // A, R, G, B
  else png_set_filler(st.png, 0xFF, PNG_FILLER_BEFORE);
  png_set_interlace_handling(st.png);
  png_read_update_info(st.png, st.info);

  if (width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      png_get_rowbytes(st.png, st.info) != (size_t)width * 4)
    return false;

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

  // Bytes A, R, G, B become the pixel word.
  for (png_uint_32 y = 0; y < height; ++y)
  {
    png_bytep p = st.rows[y];
    unsigned int* out = (unsigned int*)p;
    for (png_uint_32 x = 0; x < width; ++x, p += 4)
      out[x] = ((unsigned int)p[0] << 24) | ((unsigned int)p[1] << 16) |
               ((unsigned int)p[2] << 8) | (unsigned int)p[3];
  }
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
