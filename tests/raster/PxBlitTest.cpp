#include <gtest/gtest.h>

#include <cmath>

#include "raster/PxBlit.h"

namespace
{
// The result of blitting one source pixel onto one destination pixel.
unsigned int BlitOne(unsigned int dst, unsigned int src, float alpha, int mode)
{
  PxMemBitmap d(1, 1, 4), s(1, 1, 4);
  d.getBits()[0] = dst;
  s.getBits()[0] = src;
  PxBlit(&d, &s, 0, 0, 0, 0, 1, 1, alpha, mode);
  return d.getBits()[0];
}

unsigned int FillOne(unsigned int dst, unsigned int color, float alpha, int mode)
{
  PxMemBitmap d(1, 1, 4);
  d.getBits()[0] = dst;
  PxFillRect(&d, 0, 0, 1, 1, color, alpha, mode);
  return d.getBits()[0];
}

// Source pixel (x, y) = opaque, blue = x, green = y.
void FillCoords(PxIBitmap* b)
{
  for (int y = 0; y < b->getHeight(); ++y)
    for (int x = 0; x < b->getWidth(); ++x)
      b->getBits()[y * b->getRowSpan() + x] = 0xFF000000u | (unsigned)(y << 8) | (unsigned)x;
}

void Clear(PxIBitmap* b, unsigned int v = 0)
{
  PxClearRect(b, 0, 0, b->getWidth(), b->getHeight(), 0, v);
}
}  // namespace

TEST(PxBlitCombine, PlainCopy)
{
  // Full weight copies the whole word, alpha included.
  EXPECT_EQ(BlitOne(0x11223344, 0x80AABBCC, 1.0f, 0), 0x80AABBCCu);
  // Exactly half: word-wise average of the halves.
  EXPECT_EQ(BlitOne(0x11223344, 0x80AABBCC, 0.5f, 0), 0x48667688u);
  EXPECT_EQ(BlitOne(0x03030303, 0x01010101, 0.5f, 0), 0x01010101u);
  // The same weight by the general formula rounds differently: 1 + 2*128/256.
  EXPECT_EQ(BlitOne(0x03030303, 0x01010101, 0.501f, 0), 0x02020202u);
  // w = 64: d = s + (d - s) * 192 / 256, truncated toward zero.
  // A: 100 + 100*192/256 = 175; R: 255 - 255*192/256 = 64.
  EXPECT_EQ(BlitOne(0xC800C800, 0x64FF64FF, 0.25f, 0), 0xAF40AF40u);
}

TEST(PxBlitCombine, Add)
{
  // Each channel d + w*s/256, capped: 0x10 + 0x20, 0xF0 + 0x20 -> 0xFF.
  EXPECT_EQ(BlitOne(0x10F01010, 0x40404040, 0.5f, kPxBlitAdd), 0x30FF3030u);
  EXPECT_EQ(BlitOne(0x10F01010, 0x40404040, 1.0f, kPxBlitAdd), 0x50FF5050u);
}

TEST(PxBlitCombine, SourceAlphaCopyAtFullWeight)
{
  const int m = kPxBlitUseSourceAlpha;
  // a = 0 leaves the destination alone, even its alpha.
  EXPECT_EQ(BlitOne(0x12345678, 0x00FFFFFF, 1.0f, m), 0x12345678u);
  // a = 255 replaces the colour and makes the pixel opaque.
  EXPECT_EQ(BlitOne(0x00123456, 0xFFABCDEF, 1.0f, m), 0xFFABCDEFu);
  // a = 128 over 0: 255 + 127*(0 - 255)/256 = 129; A = 64 + 128.
  EXPECT_EQ(BlitOne(0x40000000, 0x80FFFFFF, 1.0f, m), 0xC0818181u);
  // a = 200: 250 + 55*(10 - 250)/256 = 199; A = min(100 + 200, 255).
  EXPECT_EQ(BlitOne(0x640A0A0A, 0xC8FAFAFA, 1.0f, m), 0xFFC7C7C7u);
}

TEST(PxBlitCombine, SourceAlphaCopyAtPartialWeight)
{
  const int m = kPxBlitUseSourceAlpha;
  // w = 128, a = 255: e = 128; 200 - 200*128/256 = 100; A = 0 + 128.
  EXPECT_EQ(BlitOne(0x00000000, 0xFFC8C8C8, 0.5f, m), 0x80646464u);
  // w = 64, a = 99: e = 64*100/256 = 25; 0 + 255*231/256 = 230; A = 10 + 25.
  EXPECT_EQ(BlitOne(0x0AFFFFFF, 0x63000000, 0.25f, m), 0x23E6E6E6u);
  EXPECT_EQ(BlitOne(0x0AFFFFFF, 0x00000000, 0.25f, m), 0x0AFFFFFFu);
}

TEST(PxBlitCombine, SourceAlphaAdd)
{
  const int m = kPxBlitUseSourceAlpha | kPxBlitAdd;
  // a = 127: e = 128; 100 + 128*200/256 = 200; A = 50 + 127*128/256 = 113.
  EXPECT_EQ(BlitOne(0x32646464, 0x7FC8C8C8, 1.0f, m), 0x71C8C8C8u);
  EXPECT_EQ(BlitOne(0x00C8C8C8, 0xFFC8C8C8, 1.0f, m), 0xFFFFFFFFu);
  EXPECT_EQ(BlitOne(0x32646464, 0x00C8C8C8, 1.0f, m), 0x32646464u);
}

TEST(PxBlitCombine, SourceAlphaDodge)
{
  const int m = kPxBlitUseSourceAlpha | kPxBlitDodge;
  // e = 256. R: f = 128, 100*256/128 = 200. G: f = 1 -> 100*256 capped.
  // B: source 0, f = 256, unchanged. A: source a = 255, f = 1 -> capped.
  EXPECT_EQ(BlitOne(0x40646464, 0xFF80FF00, 1.0f, m), 0xFFC8FF64u);
  // a = 0 gives e = 1: f = 256 - s/256 = 256 for every channel.
  EXPECT_EQ(BlitOne(0x40646464, 0x00FFFFFF, 1.0f, m), 0x40646464u);
  // w = 128, a = 255: e = 128; R source 128: f = 192, 100*256/192 = 133.
  EXPECT_EQ(BlitOne(0x00640000, 0xFF800000, 0.5f, m), 0x00850000u);
}

TEST(PxBlitCombine, MultiplyOverlayAndHsvAdjust)
{
  // Multiply: 200 * 129/256 = 100 at full weight, half-way at w = 128.
  EXPECT_EQ(BlitOne(0xFFC8C8C8, 0xFF808080, 1.0f, kPxBlitMultiply), 0xFF646464u);
  EXPECT_EQ(BlitOne(0xFFC8C8C8, 0xFF808080, 0.5f, kPxBlitMultiply), 0xFF969696u);
  // Overlay: dark 100 over 200 -> 2*100*200/255 = 156; light 200 over 100 ->
  // 255 - 2*55*155/255 = 189.
  EXPECT_EQ(BlitOne(0xFF6464C8, 0xFFC8C864, 1.0f, kPxBlitOverlay), 0xFF9C9CBDu);
  // HSV adjust: 128 everywhere is neutral; a red source of 192 turns the hue
  // by a quarter sector and a half: pure red becomes (128, 255, 0).
  EXPECT_EQ(BlitOne(0xFFFF0000, 0xFF808080, 1.0f, kPxBlitHSVAdjust), 0xFFFF0000u);
  EXPECT_EQ(BlitOne(0xFFFF0000, 0xFFC08080, 1.0f, kPxBlitHSVAdjust), 0xFF80FF00u);
  // With source alpha, a transparent source leaves every mode alone.
  EXPECT_EQ(BlitOne(0x12345678, 0x00808080, 1.0f, kPxBlitUseSourceAlpha | kPxBlitMultiply),
            0x12345678u);
}

TEST(PxBlitCombine, ZeroWeightChangesNothing)
{
  EXPECT_EQ(BlitOne(0x12345678, 0xFFFFFFFF, 0.0f, 0), 0x12345678u);
  EXPECT_EQ(BlitOne(0x12345678, 0xFFFFFFFF, 0.003f, 0), 0x12345678u);  // w = 0
  EXPECT_EQ(BlitOne(0x12345678, 0xFFFFFFFF, 0.003f, kPxBlitAdd), 0x12345678u);
  EXPECT_EQ(BlitOne(0x12345678, 0xFFFFFFFF, NAN, 0), 0x12345678u);
}

TEST(PxBlitClipping, NegativeDestinationDrawsTheMatchingPart)
{
  PxMemBitmap d(10, 10, 4), s(4, 4, 4);
  FillCoords(&s);
  Clear(&d);
  PxBlit(&d, &s, -2, -1, 0, 0, 4, 4, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000102u);  // source (2, 1)
  EXPECT_EQ(PxGetPixel(&d, 1, 2), 0xFF000303u);  // source (3, 3)
  EXPECT_EQ(PxGetPixel(&d, 2, 0), 0u);
  EXPECT_EQ(PxGetPixel(&d, 0, 3), 0u);
}

TEST(PxBlitClipping, NegativeSourceShiftsTheDestination)
{
  PxMemBitmap d(10, 10, 4), s(4, 4, 4);
  FillCoords(&s);
  Clear(&d);
  PxBlit(&d, &s, 5, 5, -1, -2, 3, 3, 1.0f, 0);
  // Source column -1 and rows -2, -1 do not exist: (0, 0) lands at (6, 7).
  EXPECT_EQ(PxGetPixel(&d, 6, 7), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 7, 7), 0xFF000001u);
  EXPECT_EQ(PxGetPixel(&d, 5, 7), 0u);
  EXPECT_EQ(PxGetPixel(&d, 6, 6), 0u);
  EXPECT_EQ(PxGetPixel(&d, 8, 7), 0u);  // w = 3 from -1 ends at column 1
}

TEST(PxBlitClipping, RightAndBottomEdgesDoNotWrap)
{
  PxMemBitmap d(10, 10, 4), s(4, 4, 4);
  FillCoords(&s);
  Clear(&d, 0x11111111);
  PxBlit(&d, &s, 8, 8, 0, 0, 4, 4, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 9, 9), 0xFF000101u);
  EXPECT_EQ(PxGetPixel(&d, 0, 9), 0x11111111u);
  // Source wider than asked is cut to its own size.
  PxBlit(&d, &s, 0, 0, 2, 0, 10, 1, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 1, 0), 0xFF000003u);
  EXPECT_EQ(PxGetPixel(&d, 2, 0), 0x11111111u);
}

TEST(PxBlitClipping, NothingDrawnOutsideOrWhenEmpty)
{
  PxMemBitmap d(4, 4, 4), s(4, 4, 4);
  FillCoords(&s);
  Clear(&d, 0x22222222);
  PxBlit(&d, &s, 4, 0, 0, 0, 4, 4, 1.0f, 0);
  PxBlit(&d, &s, 0, 4, 0, 0, 4, 4, 1.0f, 0);
  PxBlit(&d, &s, -4, 0, 0, 0, 4, 4, 1.0f, 0);
  PxBlit(&d, &s, 0, 0, 0, 0, 0, 4, 1.0f, 0);
  PxBlit(&d, &s, 0, 0, 0, 0, 4, -1, 1.0f, 0);
  PxBlit(&d, nullptr, 0, 0, 0, 0, 4, 4, 1.0f, 0);
  PxBlit(nullptr, &s, 0, 0, 0, 0, 4, 4, 1.0f, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PxGetPixel(&d, x, y), 0x22222222u);
}

TEST(PxBlitCopy, CopyResizesAndCopiesEverything)
{
  PxMemBitmap d(1, 1, 4), s(5, 3, 4);
  FillCoords(&s);
  PxCopy(&d, &s);
  EXPECT_EQ(d.getWidth(), 5);
  EXPECT_EQ(d.getHeight(), 3);
  EXPECT_EQ(PxGetPixel(&d, 4, 2), 0xFF000204u);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000000u);
}

TEST(PxFill, QuarterHalfThreeQuarterAndFullFastPaths)
{
  // w = 64: colour/4 + pixel/4 + pixel/2 on whole words.
  EXPECT_EQ(FillOne(0x00000000, 0xFFFFFFFF, 0.25f, 0), 0x3F3F3F3Fu);
  EXPECT_EQ(FillOne(0x80808080, 0x00000000, 0.25f, 0), 0x60606060u);
  // w = 128
  EXPECT_EQ(FillOne(0x00000000, 0xFFFFFFFF, 0.5f, 0), 0x7F7F7F7Fu);
  EXPECT_EQ(FillOne(0x80808080, 0x40404040, 0.5f, 0), 0x60606060u);
  // w = 192: colour/2 + colour/4 + pixel/4.
  EXPECT_EQ(FillOne(0x00000000, 0xFFFFFFFF, 0.75f, 0), 0xBEBEBEBEu);
  EXPECT_EQ(FillOne(0x80808080, 0x00000000, 0.75f, 0), 0x20202020u);
  // w = 256 writes the colour word.
  EXPECT_EQ(FillOne(0x12345678, 0x00ABCDEF, 1.0f, 0), 0x00ABCDEFu);
}

TEST(PxFill, GeneralWeightAndSourceAlpha)
{
  // w = 32: colour 255 + (0 - 255)*224/256 = 32; A = 32 + (0 - 32)*224/256 = 4.
  EXPECT_EQ(FillOne(0x00000000, 0x00FFFFFF, 0.125f, 0), 0x04202020u);
  // Source alpha: 1.0 * 128/255 gives w = 128, then the half formula.
  EXPECT_EQ(FillOne(0x00000000, 0x80FFFFFF, 1.0f, kPxBlitUseSourceAlpha), 0x407F7F7Fu);
  EXPECT_EQ(FillOne(0x12345678, 0x00FFFFFF, 1.0f, kPxBlitUseSourceAlpha), 0x12345678u);
  // Add with w = 128: colour d + 0x40*128/256; alpha row source is w itself.
  EXPECT_EQ(FillOne(0x10101010, 0x00404040, 0.5f, kPxBlitAdd), 0x50303030u);
  EXPECT_EQ(FillOne(0x10101010, 0x00404040, 0.0f, kPxBlitAdd), 0x10101010u);
}

TEST(PxFill, ClipsToTheImage)
{
  PxMemBitmap d(4, 4, 4);
  Clear(&d);
  PxFillRect(&d, -3, -1, 5, 3, 0xFFFFFFFF, 1.0f, 0);
  // x -3..1 and y -1..1 are left: columns 0, 1 of rows 0, 1.
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(&d, 2, 1), 0u);
  EXPECT_EQ(PxGetPixel(&d, 1, 2), 0u);
  PxFillRect(&d, 3, 3, 100, 100, 0xFF0000FF, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 3, 3), 0xFF0000FFu);
  PxFillRect(&d, 4, 0, 2, 2, 0xFF00FF00, 1.0f, 0);
  PxFillRect(nullptr, 0, 0, 2, 2, 0xFF00FF00, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 3, 0), 0u);
}

TEST(PxPixels, ClearGetAndPut)
{
  PxMemBitmap d(3, 3, 4);
  Clear(&d, 0xFF123456);
  PxClearRect(&d, 1, 1, 5, 5, 0x00FFFFFF, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF123456u);
  EXPECT_EQ(PxGetPixel(&d, 2, 2), 0x00123456u);
  PxClearRect(&d, -1, -1, 2, 2, 0, 0x0000FF00);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0x0000FF00u);
  EXPECT_EQ(PxGetPixel(&d, 1, 0), 0xFF123456u);

  EXPECT_EQ(PxGetPixel(&d, -1, 0), 0u);
  EXPECT_EQ(PxGetPixel(&d, 0, 3), 0u);
  EXPECT_EQ(PxGetPixel(nullptr, 0, 0), 0u);

  // Putting follows the blit formulas, the colour's alpha as source alpha.
  PxClearRect(&d, 0, 0, 3, 3, 0, 0x40000000);
  PxPutPixel(&d, 1, 1, 0x80FFFFFF, 1.0f, kPxBlitUseSourceAlpha);
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0xC0818181u);
  PxPutPixel(&d, 0, 0, 0x01010101, 0.5f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0x20000000u);  // (0x40000000>>1) + 0
  PxPutPixel(&d, 3, 0, 0xFFFFFFFF, 1.0f, 0);
  PxPutPixel(&d, 0, -1, 0xFFFFFFFF, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 2, 0), 0x40000000u);
}

TEST(PxScaledBlit, NearestDoublesEachPixel)
{
  PxMemBitmap s(2, 2, 4), d(6, 6, 4);
  FillCoords(&s);
  Clear(&d);
  PxScaledBlit(&d, &s, 1, 1, 4, 4, 0, 0, 2, 2, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 2, 2), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 3, 2), 0xFF000001u);
  EXPECT_EQ(PxGetPixel(&d, 2, 3), 0xFF000100u);
  EXPECT_EQ(PxGetPixel(&d, 4, 4), 0xFF000101u);
  EXPECT_EQ(PxGetPixel(&d, 5, 5), 0u);
  EXPECT_EQ(PxGetPixel(&d, 0, 1), 0u);

  // Half size picks every other source pixel.
  PxMemBitmap big(4, 4, 4), small(2, 2, 4);
  FillCoords(&big);
  PxScaledBlit(&small, &big, 0, 0, 2, 2, 0, 0, 4, 4, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&small, 0, 0), 0xFF000101u);  // source (1, 1)
  EXPECT_EQ(PxGetPixel(&small, 1, 1), 0xFF000303u);  // source (3, 3)
}

TEST(PxScaledBlit, BilinearInterpolatesBetweenPixelCentres)
{
  PxMemBitmap s(2, 1, 4), d(4, 1, 4);
  s.getBits()[0] = 0xFF000000;
  s.getBits()[1] = 0xFF0000FF;
  Clear(&d);
  PxScaledBlit(&d, &s, 0, 0, 4, 1, 0, 0, 2, 1, 1.0f, kPxBlitFilterBilinear);
  // Samples at source x 0.25, 0.75, 1.25, 1.75 (edges clamped).
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 1, 0), 0xFF000040u);  // 255 * 64/256
  EXPECT_EQ(PxGetPixel(&d, 2, 0), 0xFF0000BFu);  // 255 * 192/256
  EXPECT_EQ(PxGetPixel(&d, 3, 0), 0xFF0000FFu);
}

TEST(PxScaledBlit, ClipsAtNegativeDestination)
{
  PxMemBitmap s(2, 2, 4), d(3, 3, 4);
  FillCoords(&s);
  Clear(&d);
  PxScaledBlit(&d, &s, -2, -2, 4, 4, 0, 0, 2, 2, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000101u);
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0xFF000101u);
  EXPECT_EQ(PxGetPixel(&d, 2, 2), 0u);
}

TEST(PxRotatedBlit, QuarterAndHalfTurns)
{
  PxMemBitmap s(4, 4, 4), d(4, 4, 4);
  FillCoords(&s);
  // No rotation, bilinear: pixel centres map onto pixel centres exactly.
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, 0.0f, false, 1.0f, kPxBlitFilterBilinear);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PxGetPixel(&d, x, y), PxGetPixel(&s, x, y));

  // A quarter turn clockwise: the top row becomes the right column.
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, (float)(M_PI / 2), false, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 3, 1), 0xFF000001u);  // source (1, 0)
  EXPECT_EQ(PxGetPixel(&d, 3, 0), 0xFF000000u);  // source (0, 0)
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000300u);  // source (0, 3)

  // Half a turn: (x, y) from (3 - x, 3 - y).
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, (float)M_PI, false, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000303u);
  EXPECT_EQ(PxGetPixel(&d, 3, 1), 0xFF000200u);
}

TEST(PxRotatedBlit, CentreOffsetMovesThePivot)
{
  PxMemBitmap s(4, 4, 4), d(8, 8, 4);
  FillCoords(&s);
  Clear(&d);
  // Without rotation the pivot does not matter.
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, 0.0f, false, 1.0f, 0, 2.0f, 1.0f);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 3, 3), 0xFF000303u);
  // Half a turn about (4, 3): source (x, y) lands on (7 - x, 5 - y), even
  // outside the destination rectangle.
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, (float)M_PI, false, 1.0f, 0, 2.0f, 1.0f);
  EXPECT_EQ(PxGetPixel(&d, 7, 5), 0xFF000000u);
  EXPECT_EQ(PxGetPixel(&d, 4, 2), 0xFF000303u);
  EXPECT_EQ(PxGetPixel(&d, 6, 5), 0xFF000001u);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0u);
}

TEST(PxRotatedBlit, ClipToSourceKeepsTheRestOfTheImageOut)
{
  // Left half green (the source rectangle), right half red.
  PxMemBitmap s(20, 20, 4), d(10, 20, 4);
  PxFillRect(&s, 0, 0, 10, 20, 0xFF00FF00, 1.0f, 0);
  PxFillRect(&s, 10, 0, 10, 20, 0xFFFF0000, 1.0f, 0);
  auto countRed = [&]() {
    int n = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 10; ++x) n += PxGetPixel(&d, x, y) == 0xFFFF0000u;
    return n;
  };
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 10, 20, 0, 0, 10, 20, 0.4f, true, 1.0f, 0);
  EXPECT_EQ(countRed(), 0);
  EXPECT_EQ(PxGetPixel(&d, 5, 10), 0xFF00FF00u);
  Clear(&d);
  PxRotatedBlit(&d, &s, 0, 0, 10, 20, 0, 0, 10, 20, 0.4f, false, 1.0f, 0);
  EXPECT_GT(countRed(), 0);
}

TEST(PxBlitClipping, ExtremeAndNonFiniteArgumentsStaySafe)
{
  PxMemBitmap d(4, 4, 4), s(4, 4, 4);
  FillCoords(&s);
  Clear(&d);
  // Sums that would overflow int are clipped as if computed exactly.
  PxBlit(&d, &s, 0, 0, 2147483600, 0, 100, 4, 1.0f, 0);
  PxBlit(&d, &s, -2147483647, 0, 0, 0, 2147483647, 4, 1.0f, 0);
  PxBlit(&d, &s, 0, 0, -2147483647, -2147483647, 2147483647, 2147483647, 1.0f, 0);
  PxScaledBlit(&d, &s, 2147483600, 0, 100, 4, 0, 0, 4, 4, 1.0f, 0);
  PxScaledBlit(&d, &s, 0, 0, 4, 4, NAN, 0, 4, 4, 1.0f, 0);
  PxScaledBlit(&d, &s, 0, 0, 4, 4, -3e30f, 0, 4, 4, 1.0f, 0);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, NAN, false, 1.0f, 0);
  PxRotatedBlit(&d, &s, 0, 0, 4, 4, 0, 0, 4, 4, 0.5f, false, 1.0f, 0, 3e30f, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PxGetPixel(&d, x, y), 0u) << x << "," << y;
  // A huge size from a slightly negative start still lands exactly.
  PxBlit(&d, &s, -1, -1, 0, 0, 2147483647, 2147483647, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000101u);

  PxFillRect(&d, -2147483647, 0, 2147483647, 4, 0xFFFFFFFF, 1.0f, 0);
  PxFillRect(&d, 2147483000, 0, 2147483647, 4, 0xFFFFFFFF, 1.0f, 0);
  PxClearRect(&d, -2147483647, -2147483647, 2147483647, 2147483647, 0, 0x5);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF000101u);  // nothing reached the image
  EXPECT_EQ(PxGetPixel(&d, 3, 3), 0u);
  PxFillRect(&d, -1000000000, 1, 2000000000, 1, 0xFFFFFFFF, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 1), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(&d, 3, 1), 0xFFFFFFFFu);
  EXPECT_EQ(PxGetPixel(&d, 3, 2), 0u);

  PxMemBitmap huge(1 << 30, 4, 4);
  EXPECT_EQ(huge.getBits(), nullptr);
  EXPECT_EQ(huge.getWidth(), 0);
  PxSysBitmap hugeSys(4, 1 << 30);
  EXPECT_EQ(hugeSys.getDC(), nullptr);
}
