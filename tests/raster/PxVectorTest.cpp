#include <gtest/gtest.h>

#include <cmath>

#include "raster/PxBlit.h"
#include "raster/PxVector.h"

namespace
{
constexpr unsigned kW = 0xFFFFFFFF;

int CountSet(PxIBitmap* b)
{
  int n = 0;
  for (int y = 0; y < b->getHeight(); ++y)
    for (int x = 0; x < b->getWidth(); ++x) n += PxGetPixel(b, x, y) != 0;
  return n;
}

void Clear(PxIBitmap* b)
{
  PxClearRect(b, 0, 0, b->getWidth(), b->getHeight(), 0, 0);
}
}  // namespace

TEST(PxLine, EndpointsIncludedAndClipped)
{
  PxMemBitmap d(10, 10, 4);
  Clear(&d);
  PxLine(&d, 1, 1, 5, 1, kW, 1.0f, 0, false);
  EXPECT_EQ(CountSet(&d), 5);
  EXPECT_EQ(PxGetPixel(&d, 1, 1), kW);
  EXPECT_EQ(PxGetPixel(&d, 5, 1), kW);
  EXPECT_EQ(PxGetPixel(&d, 6, 1), 0u);

  Clear(&d);
  PxLine(&d, 0, 0, 3, 3, kW, 1.0f, 0, true);  // diagonals stay crisp
  EXPECT_EQ(CountSet(&d), 4);
  EXPECT_EQ(PxGetPixel(&d, 2, 2), kW);

  // A line mostly outside draws only its inside pixels.
  Clear(&d);
  PxLine(&d, -5, -5, 20, 20, kW, 1.0f, 0, false);
  EXPECT_EQ(CountSet(&d), 10);
  EXPECT_EQ(PxGetPixel(&d, 9, 9), kW);
}

TEST(PxLine, WeightAndAntialiasCoverage)
{
  PxMemBitmap d(10, 10, 4);
  Clear(&d);
  PxLine(&d, 0, 0, 9, 0, kW, 0.5f, 0, false);
  EXPECT_EQ(PxGetPixel(&d, 4, 0), 0x7F7F7F7Fu);  // the exact-half copy

  // Slope 1/2: every column splits its weight over two rows.
  Clear(&d);
  PxLine(&d, 0, 0, 8, 4, 0xFF0000FF, 1.0f, 0, true);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(PxGetPixel(&d, 8, 4), 0xFF0000FFu);
  // Column 1 sits at y = 0.5: half weight on rows 0 and 1.
  EXPECT_EQ(PxGetPixel(&d, 1, 0), 0x7F00007Fu);
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0x7F00007Fu);
}

TEST(PxShapes, FilledCircleAndRing)
{
  PxMemBitmap d(12, 12, 4);
  Clear(&d);
  PxFillCircle(&d, 5, 5, 2, kW, 1.0f, 0, false);
  EXPECT_EQ(PxGetPixel(&d, 5, 5), kW);
  EXPECT_EQ(PxGetPixel(&d, 7, 5), kW);    // distance 2
  EXPECT_EQ(PxGetPixel(&d, 8, 5), 0u);    // distance 3
  EXPECT_EQ(PxGetPixel(&d, 7, 7), 0u);    // distance 2.83
  EXPECT_EQ(CountSet(&d), 13);            // the radius-2 disc of lattice points

  Clear(&d);
  PxCircle(&d, 5, 5, 3, kW, 1.0f, 0, false);
  EXPECT_EQ(PxGetPixel(&d, 8, 5), kW);
  EXPECT_EQ(PxGetPixel(&d, 5, 2), kW);
  EXPECT_EQ(PxGetPixel(&d, 5, 5), 0u);
  EXPECT_EQ(PxGetPixel(&d, 9, 5), 0u);

  // Arc from straight up clockwise to 3 o'clock: the top-right quarter only.
  Clear(&d);
  PxArc(&d, 5, 5, 3, 0.0f, (float)(M_PI / 2), kW, 1.0f, 0, false);
  EXPECT_EQ(PxGetPixel(&d, 5, 2), kW);
  EXPECT_EQ(PxGetPixel(&d, 8, 5), kW);
  EXPECT_EQ(PxGetPixel(&d, 2, 5), 0u);
  EXPECT_EQ(PxGetPixel(&d, 5, 8), 0u);

  // Antialiased disc: full inside, partial at the rim, nothing far out.
  Clear(&d);
  PxFillCircle(&d, 5.5f, 5.5f, 3.0f, kW, 1.0f, 0, true);
  EXPECT_EQ(PxGetPixel(&d, 5, 5), kW);
  const unsigned rim = PxGetPixel(&d, 8, 6);  // distance 2.55
  EXPECT_GT(rim, 0u);
  EXPECT_LT(rim, kW);
  EXPECT_EQ(PxGetPixel(&d, 10, 10), 0u);
}

TEST(PxShapes, TriangleAndPolygonFillPixelCentresOnce)
{
  PxMemBitmap d(8, 8, 4);
  Clear(&d);
  PxFillTriangle(&d, 0, 0, 4, 0, 0, 4, kW, 1.0f, 0);
  // Rows 0..3 hold 4, 3, 2, 1 pixels (right and bottom edges excluded).
  EXPECT_EQ(CountSet(&d), 10);
  EXPECT_EQ(PxGetPixel(&d, 3, 0), kW);
  EXPECT_EQ(PxGetPixel(&d, 4, 0), 0u);
  EXPECT_EQ(PxGetPixel(&d, 1, 2), kW);
  EXPECT_EQ(PxGetPixel(&d, 2, 2), 0u);

  // Two squares sharing an edge, each at half weight: no pixel doubly hit.
  Clear(&d);
  const int ax[4] = {0, 4, 4, 0}, ay[4] = {0, 0, 4, 4};
  const int bx[4] = {4, 8, 8, 4}, by[4] = {0, 0, 4, 4};
  PxFillConvexPolygon(&d, ax, ay, 4, kW, 0.5f, 0);
  PxFillConvexPolygon(&d, bx, by, 4, kW, 0.5f, 0);
  EXPECT_EQ(CountSet(&d), 32);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(PxGetPixel(&d, x, 2), 0x7F7F7F7Fu) << x;

  Clear(&d);
  PxFillConvexPolygon(&d, ax, ay, 2, kW, 1.0f, 0);
  PxFillConvexPolygon(&d, nullptr, ay, 4, kW, 1.0f, 0);
  EXPECT_EQ(CountSet(&d), 0);
}

TEST(PxShapes, RoundRectOutline)
{
  PxMemBitmap d(12, 12, 4);
  Clear(&d);
  PxRoundRect(&d, 1, 1, 10, 8, 2, kW, 1.0f, 0, false);
  // Straight parts of the edges (right edge at x = 10, bottom at y = 8).
  EXPECT_EQ(PxGetPixel(&d, 5, 1), kW);
  EXPECT_EQ(PxGetPixel(&d, 5, 8), kW);
  EXPECT_EQ(PxGetPixel(&d, 1, 5), kW);
  EXPECT_EQ(PxGetPixel(&d, 10, 5), kW);
  // The corner itself is cut off and the inside is empty.
  EXPECT_EQ(PxGetPixel(&d, 1, 1), 0u);
  EXPECT_EQ(PxGetPixel(&d, 5, 5), 0u);
  EXPECT_EQ(PxGetPixel(&d, 11, 5), 0u);
}

TEST(PxShapes, ExtremeAndNonFiniteArgumentsStaySafe)
{
  PxMemBitmap d(10, 10, 4);
  Clear(&d);
  // A line across two billion pixels is cut to the image first: it must
  // still draw the visible diagonal, and quickly.
  PxLine(&d, -1000000000, -1000000000, 1000000000, 1000000000, kW, 1.0f, 0, false);
  EXPECT_EQ(CountSet(&d), 10);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), kW);
  EXPECT_EQ(PxGetPixel(&d, 9, 9), kW);
  Clear(&d);
  PxLine(&d, -2000000000, 5, 2000000000, 5, kW, 1.0f, 0, true);
  EXPECT_EQ(CountSet(&d), 10);
  Clear(&d);
  PxLine(&d, -50, -3, -10, -40, kW, 1.0f, 0, false);
  EXPECT_EQ(CountSet(&d), 0);

  PxFillCircle(&d, NAN, 5, 3, kW, 1.0f, 0, true);
  PxFillCircle(&d, 5, 5, INFINITY, kW, 1.0f, 0, false);
  PxCircle(&d, 5, 5, 3e30f, kW, 1.0f, 0, true);
  PxArc(&d, 5, 5, 3, NAN, 1.0f, kW, 1.0f, 0, false);
  PxRoundRect(&d, NAN, 0, 5, 5, 2, kW, 1.0f, 0, false);
  PxRoundRect(&d, -3e9f, 0, 5, 5, 2, kW, 1.0f, 0, false);
  EXPECT_EQ(CountSet(&d), 0);

  const int xs[3] = {-2000000000, 2000000000, 0}, ys[3] = {0, 0, 9};
  PxFillConvexPolygon(&d, xs, ys, 3, kW, 1.0f, 0);
  EXPECT_EQ(PxGetPixel(&d, 0, 0), kW);
  EXPECT_EQ(PxGetPixel(&d, 9, 0), kW);
}
