#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "raster/PxBlit.h"
#include "raster/PxPng.h"

namespace
{
std::string TempPath(const char* name)
{
  return std::string(::testing::TempDir()) + "tavlo_px_" + std::to_string(getpid()) + "_" + name;
}

struct PngImage
{
  int width = 0, height = 0, colorType = PNG_COLOR_TYPE_RGB, bitDepth = 8;
  std::vector<png_color> palette;
  std::vector<png_byte> trans;  // palette alpha
  bool greyTrans = false;
  bool interlaced = false;
  png_color_16 transColor = {};
  std::vector<std::vector<png_byte>> rows;  // raw, already packed
};

// Writes a PNG exactly as given, through libpng.
bool WritePng(const std::string& path, const PngImage& img)
{
  FILE* fp = fopen(path.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)))
  {
    png_destroy_write_struct(&png, &info);
    fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, img.width, img.height, img.bitDepth, img.colorType,
               img.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!img.palette.empty())
    png_set_PLTE(png, info, img.palette.data(), (int)img.palette.size());
  if (!img.trans.empty())
    png_set_tRNS(png, info, img.trans.data(), (int)img.trans.size(), nullptr);
  if (img.greyTrans) png_set_tRNS(png, info, nullptr, 0, &img.transColor);
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& r : img.rows) rows.push_back((png_bytep)r.data());
  png_write_image(png, rows.data());  // all interlace passes when asked
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(fp);
  return true;
}

class PxPngTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    for (const auto& p : mFiles) remove(p.c_str());
  }
  std::string Write(const char* name, const PngImage& img)
  {
    std::string p = TempPath(name);
    mFiles.push_back(p);
    EXPECT_TRUE(WritePng(p, img));
    return p;
  }
  std::vector<std::string> mFiles;
};
}  // namespace

TEST_F(PxPngTest, PaletteWithTransparencyBecomesStraightAlpha)
{
  PngImage s;
  s.width = 4;
  s.height = 1;
  s.colorType = PNG_COLOR_TYPE_PALETTE;
  s.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
  s.trans = {0, 128, 255};  // the fourth entry has no alpha: opaque
  s.rows = {{0, 1, 2, 3}};
  PxIBitmap* b = PxLoadPNG(Write("pal.png", s).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getWidth(), 4);
  EXPECT_EQ(b->getHeight(), 1);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0x00FF0000u);  // colour kept, not premultiplied
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0x8000FF00u);
  EXPECT_EQ(PxGetPixel(b, 2, 0), 0xFF0000FFu);
  EXPECT_EQ(PxGetPixel(b, 3, 0), 0xFF0A141Eu);
  delete b;
}

TEST_F(PxPngTest, TwoBitPaletteIsUnpacked)
{
  PngImage s;
  s.width = 4;
  s.height = 1;
  s.bitDepth = 2;
  s.colorType = PNG_COLOR_TYPE_PALETTE;
  s.palette = {{0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {200, 100, 50}};
  s.rows = {{0x1B}};  // indices 0, 1, 2, 3
  PxIBitmap* b = PxLoadPNG(Write("pal2.png", s).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(b, 2, 0), 0xFF010203u);
  EXPECT_EQ(PxGetPixel(b, 3, 0), 0xFFC86432u);
  delete b;
}

TEST_F(PxPngTest, GreyLoadsAsOpaqueGrey)
{
  PngImage s;
  s.width = 3;
  s.height = 2;
  s.colorType = PNG_COLOR_TYPE_GRAY;
  s.rows = {{0x00, 0x40, 0xFF}, {0x80, 0x01, 0xFE}};
  PxIBitmap* b = PxLoadPNG(Write("grey.png", s).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getRowSpan(), 4);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0xFF404040u);
  EXPECT_EQ(PxGetPixel(b, 2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(b, 0, 1), 0xFF808080u);
  EXPECT_EQ(PxGetPixel(b, 2, 1), 0xFFFEFEFEu);
  delete b;

  // One-bit grey expands to 0 and 255.
  PngImage one;
  one.width = 8;
  one.height = 1;
  one.bitDepth = 1;
  one.colorType = PNG_COLOR_TYPE_GRAY;
  one.rows = {{0xA0}};  // 1 0 1 0 0 0 0 0
  b = PxLoadPNG(Write("grey1.png", one).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(b, 2, 0), 0xFFFFFFFFu);
  delete b;

  // Grey with a transparent value, and grey with alpha.
  PngImage gt;
  gt.width = 2;
  gt.height = 1;
  gt.colorType = PNG_COLOR_TYPE_GRAY;
  gt.greyTrans = true;
  gt.transColor.gray = 0x33;
  gt.rows = {{0x33, 0x34}};
  b = PxLoadPNG(Write("greytrns.png", gt).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0x00333333u);
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0xFF343434u);
  delete b;

  PngImage ga;
  ga.width = 1;
  ga.height = 1;
  ga.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
  ga.rows = {{0x80, 0x40}};
  b = PxLoadPNG(Write("greya.png", ga).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0x40808080u);
  delete b;
}

TEST_F(PxPngTest, RgbaAndSixteenBitRgb)
{
  PngImage s;
  s.width = 2;
  s.height = 1;
  s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  s.rows = {{10, 20, 30, 40, 255, 254, 253, 0}};
  PxIBitmap* b = PxLoadPNG(Write("rgba.png", s).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0x280A141Eu);
  EXPECT_EQ(PxGetPixel(b, 1, 0), 0x00FFFEFDu);
  delete b;

  PngImage w;
  w.width = 1;
  w.height = 1;
  w.bitDepth = 16;
  w.colorType = PNG_COLOR_TYPE_RGB;
  w.rows = {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF}};
  b = PxLoadPNG(Write("rgb16.png", w).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PxGetPixel(b, 0, 0), 0xFF12ABFFu);
  delete b;
}

TEST_F(PxPngTest, InterlacedFileDecodesEveryPass)
{
  PngImage s;
  s.width = 9;
  s.height = 9;
  s.colorType = PNG_COLOR_TYPE_RGB;
  s.interlaced = true;
  for (int y = 0; y < 9; ++y)
  {
    std::vector<png_byte> row;
    for (int x = 0; x < 9; ++x)
    {
      row.push_back((png_byte)(x * 20));
      row.push_back((png_byte)(y * 20));
      row.push_back((png_byte)(x + y));
    }
    s.rows.push_back(row);
  }
  PxIBitmap* b = PxLoadPNG(Write("adam7.png", s).c_str());
  ASSERT_NE(b, nullptr);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(PxGetPixel(b, x, y), PxRGBA(x * 20, y * 20, x + y, 255)) << x << "," << y;
  delete b;
}

TEST_F(PxPngTest, FilmStripLoadsAsOneImage)
{
  PngImage s;
  s.width = 48;
  s.height = 2928;
  s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < s.height; ++y)
  {
    std::vector<png_byte> row(48 * 4);
    for (int x = 0; x < 48; ++x)
    {
      row[x * 4 + 0] = (png_byte)(y / 48);  // frame number in red
      row[x * 4 + 1] = (png_byte)(y % 48);
      row[x * 4 + 2] = (png_byte)x;
      row[x * 4 + 3] = 255;
    }
    s.rows.push_back(row);
  }
  PxIBitmap* b = PxLoadPNG(Write("strip.png", s).c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getWidth(), 48);
  EXPECT_EQ(b->getHeight(), 2928);
  EXPECT_EQ(b->getRowSpan(), 48);
  // Frame 61 starts at 60 * 48 = 2880.
  EXPECT_EQ(PxGetPixel(b, 0, 2880), 0xFF3C0000u);
  EXPECT_EQ(PxGetPixel(b, 47, 2927), 0xFF3C2F2Fu);
  delete b;
}

TEST_F(PxPngTest, LoadsIntoAGivenBitmap)
{
  PngImage s;
  s.width = 3;
  s.height = 2;
  s.colorType = PNG_COLOR_TYPE_RGB;
  s.rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}};
  const std::string path = Write("into.png", s);

  PxMemBitmap mem(1, 1, 4);
  EXPECT_EQ(PxLoadPNG(path.c_str(), &mem), &mem);
  EXPECT_EQ(mem.getWidth(), 3);
  EXPECT_EQ(PxGetPixel(&mem, 2, 1), 0xFF101112u);

  PxSysBitmap sys(10, 10);  // reuses its context; its span stays 12
  EXPECT_EQ(PxLoadPNG(path.c_str(), &sys), &sys);
  EXPECT_EQ(sys.getWidth(), 3);
  EXPECT_EQ(sys.getHeight(), 2);
  EXPECT_EQ(PxGetPixel(&sys, 0, 1), 0xFF0A0B0Cu);
  EXPECT_EQ(PxGetPixel(&sys, 2, 0), 0xFF070809u);
}

TEST_F(PxPngTest, FailuresReturnNull)
{
  EXPECT_EQ(PxLoadPNG(TempPath("missing.png").c_str()), nullptr);
  EXPECT_EQ(PxLoadPNG(nullptr), nullptr);

  const std::string junk = TempPath("junk.png");
  mFiles.push_back(junk);
  FILE* f = fopen(junk.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("not a png at all", f);
  fclose(f);
  EXPECT_EQ(PxLoadPNG(junk.c_str()), nullptr);

  // A valid file cut short fails inside libpng and must not leak or crash.
  PngImage s;
  s.width = 64;
  s.height = 64;
  s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < 64; ++y)
  {
    std::vector<png_byte> row(64 * 4);
    for (size_t i = 0; i < row.size(); ++i) row[i] = (png_byte)(i * 7 + y * 13);
    s.rows.push_back(row);
  }
  const std::string cut = Write("cut.png", s);
  FILE* g = fopen(cut.c_str(), "rb");
  ASSERT_NE(g, nullptr);
  std::vector<char> bytes(1 << 20);
  size_t n = fread(bytes.data(), 1, bytes.size(), g);
  fclose(g);
  ASSERT_GT(n, 200u);
  g = fopen(cut.c_str(), "wb");
  fwrite(bytes.data(), 1, n / 2, g);
  fclose(g);
  EXPECT_EQ(PxLoadPNG(cut.c_str()), nullptr);
  PxMemBitmap into(2, 2, 4);
  EXPECT_EQ(PxLoadPNG(cut.c_str(), &into), nullptr);
}

TEST_F(PxPngTest, SaveThenLoadRoundTrips)
{
  PxMemBitmap b(5, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) PxPutPixel(&b, x, y, PxRGBA(x * 50, y * 100, 7, 255 - x), 1.0f, 0);
  const std::string p = TempPath("save.png");
  mFiles.push_back(p);
  ASSERT_TRUE(PxSavePNG(p.c_str(), &b));
  PxIBitmap* r = PxLoadPNG(p.c_str());
  ASSERT_NE(r, nullptr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PxGetPixel(r, x, y), PxGetPixel(&b, x, y));
  delete r;

  ASSERT_TRUE(PxSavePNG(p.c_str(), &b, true));
  r = PxLoadPNG(p.c_str());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(PxGetPixel(r, 4, 2), 0xFFC8C807u);
  delete r;

  PxMemBitmap empty(0, 0, 4);
  EXPECT_FALSE(PxSavePNG(p.c_str(), &empty));
  EXPECT_FALSE(PxSavePNG("/nonexistent-dir/x.png", &b));
}
