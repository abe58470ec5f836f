#include <gtest/gtest.h>

#include <algorithm>

#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"

namespace
{
HFONT Mono(int size, int quality = ANTIALIASED_QUALITY)
{
  return CreateFont(size, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, (char)quality, 0, "Monaco");
}

struct Ink
{
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

Ink FindInk(PxIBitmap* b, unsigned int background)
{
  Ink k;
  for (int y = 0; y < b->getHeight(); ++y)
    for (int x = 0; x < b->getWidth(); ++x)
      if (PxGetPixel(b, x, y) != background)
      {
        k.left = std::min(k.left, x);
        k.top = std::min(k.top, y);
        k.right = std::max(k.right, x);
        k.bottom = std::max(k.bottom, y);
        ++k.count;
      }
  return k;
}
}  // namespace

TEST(PxCachedFont, LineHeightIsTheTextMetricHeight)
{
  PxCachedFont f;
  EXPECT_EQ(f.GetLineHeight(), 0);
  HFONT h = Mono(12);
  f.SetFromHFont(h, kPxFontOwnHFont | kPxFontNative);
  EXPECT_EQ(f.GetHFont(), h);
  EXPECT_EQ(f.GetLineHeight(), 14);  // 11 + 2 + 0, plus 1
  EXPECT_EQ(f.SetTextColor(0xFF112233), 0xFF000000u);
  EXPECT_EQ(f.GetTextColor(), 0xFF112233u);
}

TEST(PxCachedFont, OwnedFontsAreDeletedWhenReplaced)
{
  HFONT a = Mono(12), b = Mono(13), c = Mono(14);
  {
    PxCachedFont f;
    f.SetFromHFont(a, kPxFontOwnHFont);
    f.SetFromHFont(b, kPxFontOwnHFont);
    EXPECT_FALSE(DeleteObject(a));  // the cached font already did
    f.SetFromHFont(c, 0);           // b owned: deleted now, c is not owned
    EXPECT_FALSE(DeleteObject(b));
  }
  EXPECT_TRUE(DeleteObject(c));
}

TEST(PxCachedFont, NativeAndGlyphPathsMeasureAlike)
{
  PxCachedFont f;
  f.SetFromHFont(Mono(12), kPxFontOwnHFont | kPxFontNative);
  PxSysBitmap sys(200, 40);
  RECT r = {10, 5, 10, 5};
  EXPECT_EQ(f.DrawText(&sys, "abcd", -1, &r, DT_NOCLIP | DT_CALCRECT), 16);
  EXPECT_EQ(r.right, 10 + 29);
  EXPECT_EQ(r.bottom, 5 + 16);
  EXPECT_EQ(f.GetCachedGlyphCount(), 0);  // measured natively

  // The glyph path adds up the exact advances (4 x 7.2246) and rounds once,
  // at the line height.
  RECT g = {10, 5, 10, 5};
  f.DrawText(&sys, "abcd", -1, &g, DT_NOCLIP | DT_CALCRECT | kPxTextUseColorAlpha);
  EXPECT_EQ(g.right, 10 + 29);
  EXPECT_EQ(g.bottom, 5 + 14);
  EXPECT_EQ(f.GetCachedGlyphCount(), 4);

  // Measuring text of a length.
  RECT l = {0, 0, 0, 0};
  f.DrawText(&sys, "abcdefgh", 4, &l, DT_CALCRECT);
  EXPECT_EQ(l.right, 29);
}

TEST(PxCachedFont, OpaqueTextOnASystemBitmapIsDrawnNatively)
{
  PxCachedFont f;
  f.SetFromHFont(Mono(12), kPxFontOwnHFont | kPxFontNative);
  f.SetTextColor(0xFFFFFFFF);
  PxSysBitmap sys(120, 30);
  PxClearRect(&sys, 0, 0, 120, 30, 0, 0xFF000000);
  RECT r = {0, 0, 100, 20};
  f.DrawText(&sys, "Hello", -1, &r, DT_NOCLIP | DT_CENTER);
  EXPECT_EQ(f.GetCachedGlyphCount(), 0);
  Ink k = FindInk(&sys, 0xFF000000);
  // Width 5 x 7.22 = 36: starts at 50 - 18 = 32.
  EXPECT_GE(k.left, 32);
  EXPECT_LE(k.right, 32 + 36);
  EXPECT_GT(k.count, 30);
}

TEST(PxCachedFont, GlyphPathCachesEachCharacterOnce)
{
  PxCachedFont f;
  f.SetFromHFont(Mono(12), kPxFontOwnHFont | kPxFontNative);
  f.SetTextColor(0x80FFFFFF);
  PxMemBitmap mem(120, 30, 4);
  RECT r = {0, 0, 120, 30};
  f.DrawText(&mem, "Hello", -1, &r, DT_NOCLIP | kPxTextUseColorAlpha);
  EXPECT_EQ(f.GetCachedGlyphCount(), 4);  // H, e, l, o
  f.DrawText(&mem, "Hello, hello", -1, &r, DT_NOCLIP | kPxTextUseColorAlpha);
  EXPECT_EQ(f.GetCachedGlyphCount(), 7);  // plus ',', ' ', 'h'
  f.DrawText(&mem, "oleH", -1, &r, DT_NOCLIP | kPxTextUseColorAlpha);
  EXPECT_EQ(f.GetCachedGlyphCount(), 7);

  // A new font empties the cache; flag 4 renders 0..127 at once.
  f.SetFromHFont(Mono(12), kPxFontOwnHFont | kPxFontNative | kPxFontPrerender);
  EXPECT_EQ(f.GetCachedGlyphCount(), 128);
  f.DrawText(&mem, "Hello", -1, &r, DT_NOCLIP | kPxTextUseColorAlpha);
  EXPECT_EQ(f.GetCachedGlyphCount(), 128);
}

TEST(PxCachedFont, GlyphPathUsesTheColourAlphaAsWeight)
{
  // Crisp glyphs: covered pixels get the whole colour alpha.
  PxCachedFont f;
  f.SetFromHFont(Mono(16, NONANTIALIASED_QUALITY), kPxFontOwnHFont | kPxFontNative);
  f.SetTextColor(0x80FFFFFF);
  PxSysBitmap sys(100, 30);
  PxClearRect(&sys, 0, 0, 100, 30, 0, 0x00000000);
  RECT r = {2, 2, 100, 30};
  f.DrawText(&sys, "HIH", -1, &r, DT_NOCLIP | kPxTextUseColorAlpha);
  int full = 0, other = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x)
    {
      const unsigned p = PxGetPixel(&sys, x, y);
      // Source-alpha copy of white at a = 128 over black: 255 - 126 = 129,
      // the destination alpha growing from 0 to 128.
      if (p == 0x80818181u) ++full;
      else if (p != 0) ++other;
    }
  EXPECT_GT(full, 30);
  EXPECT_EQ(other, 0);
  EXPECT_GT(f.GetCachedGlyphCount(), 0);
}

TEST(PxCachedFont, GlyphAndNativeTextLandInTheSamePlace)
{
  PxCachedFont f;
  f.SetFromHFont(Mono(14), kPxFontOwnHFont | kPxFontNative);
  f.SetTextColor(0xFFFFFFFF);
  PxSysBitmap sys(160, 40);
  PxMemBitmap mem(160, 40, 4);
  PxClearRect(&sys, 0, 0, 160, 40, 0, 0xFF000000);
  PxClearRect(&mem, 0, 0, 160, 40, 0, 0xFF000000);
  RECT r1 = {0, 5, 150, 40}, r2 = r1;
  f.DrawText(&sys, "Tavlo 3.3.0", -1, &r1, DT_NOCLIP | DT_RIGHT);
  f.DrawText(&mem, "Tavlo 3.3.0", -1, &r2, DT_NOCLIP | DT_RIGHT);  // no context: glyphs
  EXPECT_EQ(f.GetCachedGlyphCount(), 9);
  Ink a = FindInk(&sys, 0xFF000000), b = FindInk(&mem, 0xFF000000);
  ASSERT_GT(a.count, 0);
  ASSERT_GT(b.count, 0);
  EXPECT_NEAR(a.left, b.left, 2);
  EXPECT_NEAR(a.right, b.right, 2);
  EXPECT_EQ(a.top, b.top);
  EXPECT_EQ(a.bottom, b.bottom);
  EXPECT_LT(a.right, 150);
}

TEST(PxCachedFont, ClipsToTheRectangleAndTheImage)
{
  PxCachedFont f;
  f.SetFromHFont(Mono(12), kPxFontOwnHFont | kPxFontNative);
  f.SetTextColor(0xFFFFFFFF);
  PxMemBitmap mem(60, 20, 4);
  PxClearRect(&mem, 0, 0, 60, 20, 0, 0xFF000000);
  RECT r = {10, 0, 20, 20};
  f.DrawText(&mem, "WWWWWW", -1, &r, 0);
  Ink k = FindInk(&mem, 0xFF000000);
  EXPECT_GE(k.left, 10);
  EXPECT_LT(k.right, 20);
  RECT edge = {50, 10, 60, 20};
  f.DrawText(&mem, "WWWWWW", -1, &edge, DT_NOCLIP);
  f.DrawText(nullptr, "WWWWWW", -1, &edge, DT_NOCLIP);
  RECT wild = {-2147483647, -2147483647, 2147483647, 2147483647};
  f.SetTextColor(0xC0FFFFFF);  // glyph path
  f.DrawText(&mem, "WWWW", -1, &wild, DT_CENTER | DT_VCENTER | kPxTextUseColorAlpha);
  RECT m = {2147483640, 0, 0, 0};
  f.DrawText(&mem, "WWWW", -1, &m, DT_CALCRECT | kPxTextUseColorAlpha);
  EXPECT_EQ(m.right, 2147483647);
  RECT out = {-100, -100, -50, -50};
  EXPECT_EQ(f.DrawText(&mem, "W", -1, &out, DT_NOCLIP), 14);
  EXPECT_EQ(f.DrawText(&mem, nullptr, -1, &out, 0), 0);
  PxCachedFont empty;
  EXPECT_EQ(empty.DrawText(&mem, "W", -1, &out, 0), 0);
}
