#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxPng.h"
#include "raster/PxVector.h"

// A sheet of text and shapes for a person to look at
// (raster_sample.png in the test's build folder); the checks keep it honest.
TEST(RasterSnapshot, SampleSheetRendersAndRoundTrips)
{
  PxSysBitmap sheet(360, 200);
  PxFillRect(&sheet, 0, 0, 360, 200, 0xFF202428, 1.0f, 0);

  PxCachedFont mono, sans;
  mono.SetFromHFont(CreateFont(14, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "Monaco"),
                    kPxFontOwnHFont | kPxFontNative);
  sans.SetFromHFont(CreateFont(18, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, "Helvetica"),
                    kPxFontOwnHFont | kPxFontNative);
  mono.SetTextColor(0xFFE0E0E0);
  RECT r1 = {10, 10, 350, 30};
  mono.DrawText(&sheet, "Version 3.3.0  (native)", -1, &r1, DT_NOCLIP);
  mono.SetTextColor(0xA0FFC040);
  RECT r2 = {10, 30, 350, 50};
  mono.DrawText(&sheet, "Version 3.3.0  (glyphs, alpha)", -1, &r2,
                DT_NOCLIP | kPxTextUseColorAlpha);
  sans.SetTextColor(0xFFFFFFFF);
  RECT r3 = {0, 55, 360, 80};
  sans.DrawText(&sheet, "INPUT  OUTPUT  MIX", -1, &r3, DT_NOCLIP | DT_CENTER);

  PxFillCircle(&sheet, 60, 130, 30, 0xFF3A7BD5, 1.0f, 0, true);
  PxCircle(&sheet, 60, 130, 34, 0xFFFFFFFF, 1.0f, 0, true);
  PxArc(&sheet, 150, 130, 30, -2.356f, 2.356f, 0xFFFF8040, 1.0f, 0, true);
  PxLine(&sheet, 150, 130, 150 + (int)(30 * std::sin(1.0)), 130 - (int)(30 * std::cos(1.0)),
         0xFFFFFFFF, 1.0f, 0, true);
  PxRoundRect(&sheet, 200, 100, 60, 60, 8, 0xFFFFFFFF, 1.0f, 0, true);
  PxFillTriangle(&sheet, 280, 160, 340, 160, 310, 100, 0x8040FF40,
                 1.0f, kPxBlitUseSourceAlpha);

  // Fixed points: background corner, the disc's centre, the outline's top.
  EXPECT_EQ(PxGetPixel(&sheet, 0, 199), 0xFF202428u);
  EXPECT_EQ(PxGetPixel(&sheet, 60, 130), 0xFF3A7BD5u);
  EXPECT_EQ(PxGetPixel(&sheet, 60, 96), 0xFFFFFFFFu);

  const std::string path = std::string(TAVLO_RASTER_SNAPSHOT_DIR) + "/raster_sample.png";
  ASSERT_TRUE(PxSavePNG(path.c_str(), &sheet, true));
  PxIBitmap* back = PxLoadPNG(path.c_str());
  ASSERT_NE(back, nullptr);
  int differ = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 360; ++x) differ += PxGetPixel(back, x, y) != (PxGetPixel(&sheet, x, y) | 0xFF000000u);
  EXPECT_EQ(differ, 0);
  delete back;
}
