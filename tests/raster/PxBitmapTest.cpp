#include <gtest/gtest.h>

#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"

TEST(PxMemBitmap, RowSpanFollowsLineAlignment)
{
  PxMemBitmap a4(5, 3, 4);
  EXPECT_EQ(a4.getWidth(), 5);
  EXPECT_EQ(a4.getHeight(), 3);
  EXPECT_EQ(a4.getRowSpan(), 8);
  EXPECT_FALSE(a4.isFlipped());
  EXPECT_EQ(a4.getDC(), nullptr);

  PxMemBitmap a4exact(48, 2928, 4);
  EXPECT_EQ(a4exact.getRowSpan(), 48);

  // Below 2 means no padding at all.
  PxMemBitmap a1(5, 3, 1), a0(5, 3, 0);
  EXPECT_EQ(a1.getRowSpan(), 5);
  EXPECT_EQ(a0.getRowSpan(), 5);

  // Only the lowest set bit of the alignment counts: 6 aligns to 2.
  PxMemBitmap a6(5, 3, 6);
  EXPECT_EQ(a6.getRowSpan(), 6);

  PxMemBitmap a8(9, 1, 8);
  EXPECT_EQ(a8.getRowSpan(), 16);

  // Wider alignments stop at 16 pixels, and still align.
  PxMemBitmap a16(17, 1, 16), a64(17, 1, 64), a64b(33, 1, 64);
  EXPECT_EQ(a16.getRowSpan(), 32);
  EXPECT_EQ(a64.getRowSpan(), 32);
  EXPECT_EQ(a64b.getRowSpan(), 48);
}

TEST(PxMemBitmap, BlockHoldsRowsPlusSlackAndGrowsByAQuarter)
{
  PxMemBitmap b(10, 10, 4);  // span 12
  EXPECT_EQ(b.getAllocatedBytes(), 12u * 10 * 4 + 63);
  ASSERT_NE(b.getBits(), nullptr);

  EXPECT_TRUE(b.resize(20, 20));  // needs 20*20*4+63 = 1663
  EXPECT_EQ(b.getRowSpan(), 20);
  EXPECT_EQ(b.getAllocatedBytes(), 1663u + 1663u / 4);

  // 21 x 20 (span 24) needs 1983 bytes, which the grown block already holds.
  EXPECT_TRUE(b.resize(21, 20));
  EXPECT_EQ(b.getRowSpan(), 24);
  EXPECT_EQ(b.getAllocatedBytes(), 1663u + 1663u / 4);

  // Shrinking keeps the larger block.
  EXPECT_TRUE(b.resize(2, 2));
  EXPECT_EQ(b.getAllocatedBytes(), 1663u + 1663u / 4);
  EXPECT_EQ(b.getWidth(), 2);
  EXPECT_EQ(b.getRowSpan(), 4);

  // Same size: nothing to do.
  EXPECT_FALSE(b.resize(2, 2));

  // An image made empty and then sized grows by the quarter as well.
  PxMemBitmap later(0, 0, 4);
  EXPECT_TRUE(later.resize(10, 10));
  EXPECT_EQ(later.getAllocatedBytes(), 543u + 543u / 4);

  // Every pixel of the final size is writable (ASan would object otherwise).
  PxFillRect(&b, 0, 0, 2, 2, 0xFF00FF00, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&b, 1, 1), 0xFF00FF00u);
}

TEST(PxMemBitmap, NonPositiveSizeIsEmpty)
{
  PxMemBitmap e(0, 10, 4), n(-3, 4, 4);
  EXPECT_EQ(e.getBits(), nullptr);
  EXPECT_EQ(e.getWidth(), 0);
  EXPECT_EQ(e.getAllocatedBytes(), 0u);
  EXPECT_EQ(n.getBits(), nullptr);
  EXPECT_EQ(n.getHeight(), 0);

  PxMemBitmap b(4, 4, 4);
  EXPECT_TRUE(b.resize(0, 4));
  EXPECT_EQ(b.getBits(), nullptr);
  EXPECT_EQ(b.getWidth(), 0);
  EXPECT_EQ(PxGetPixel(&b, 0, 0), 0u);
  // Operations on it do nothing instead of writing anywhere.
  PxFillRect(&b, 0, 0, 4, 4, 0xFFFFFFFF, 1.0f, 0);
  EXPECT_TRUE(b.resize(3, 3));
  EXPECT_NE(b.getBits(), nullptr);
}

TEST(PxSysBitmap, HasAZeroedContextWithSpanRoundedToFour)
{
  PxSysBitmap s(5, 3);
  ASSERT_NE(s.getDC(), nullptr);
  ASSERT_NE(s.getBits(), nullptr);
  EXPECT_EQ(s.getRowSpan(), 8);
  EXPECT_EQ(s.getBits(), GdiGetCtxFrameBuffer(s.getDC()));
  EXPECT_EQ(((uintptr_t)s.getBits()) % 64, 0u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PxGetPixel(&s, x, y), 0u);
  EXPECT_EQ(GdiGetCtxWidth(s.getDC()), 8);
  EXPECT_EQ(GdiGetCtxHeight(s.getDC()), 3);
}

TEST(PxSysBitmap, ShrinkReusesContextGrowReplacesIt)
{
  PxSysBitmap s(40, 30);
  HDC dc = s.getDC();
  ASSERT_NE(dc, nullptr);
  EXPECT_FALSE(s.resize(40, 30));

  EXPECT_TRUE(s.resize(20, 10));
  EXPECT_EQ(s.getDC(), dc);
  EXPECT_EQ(s.getWidth(), 20);
  EXPECT_EQ(s.getHeight(), 10);
  EXPECT_EQ(s.getRowSpan(), 40);  // still the context's own layout

  EXPECT_TRUE(s.resize(41, 10));
  EXPECT_NE(s.getDC(), nullptr);
  EXPECT_EQ(s.getRowSpan(), 44);
  EXPECT_EQ(GdiGetCtxWidth(s.getDC()), 44);
  EXPECT_EQ(s.getBits(), GdiGetCtxFrameBuffer(s.getDC()));

  EXPECT_TRUE(s.resize(0, 10));
  EXPECT_EQ(s.getDC(), nullptr);
  EXPECT_EQ(s.getBits(), nullptr);
  PxSysBitmap z(0, 0);
  EXPECT_EQ(z.getDC(), nullptr);
  EXPECT_EQ(z.getBits(), nullptr);
}

namespace
{
// Rows stored bottom-up in memory.
class FlippedBitmap : public PxMemBitmap
{
public:
  FlippedBitmap(int w, int h) : PxMemBitmap(w, h, 4) {}
  bool isFlipped() override { return true; }
};
}  // namespace

TEST(PxBitmapRows, FlippedImagesAreAddressedFromTheBottomOfMemory)
{
  FlippedBitmap f(4, 3);
  unsigned int* bits = f.getBits();
  for (int i = 0; i < 12; ++i) bits[i] = 0;
  PxPutPixel(&f, 1, 0, 0xFF112233, 1.0f, 0);
  // Image row 0 lives in the last memory row.
  EXPECT_EQ(bits[2 * 4 + 1], 0xFF112233u);
  EXPECT_EQ(PxGetPixel(&f, 1, 0), 0xFF112233u);

  PxMemBitmap src(2, 2, 1);
  src.getBits()[0] = 0xA;  // (0,0)
  src.getBits()[1] = 0xB;  // (1,0)
  src.getBits()[2] = 0xC;  // (0,1)
  src.getBits()[3] = 0xD;  // (1,1)
  PxBlit(&f, &src, 2, 1, 0, 0, 2, 2, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&f, 2, 1), 0xAu);
  EXPECT_EQ(PxGetPixel(&f, 3, 2), 0xDu);
  EXPECT_EQ(bits[0 * 4 + 2], 0xCu);  // image row 2 = memory row 0
}
