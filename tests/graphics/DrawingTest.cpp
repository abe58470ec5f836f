// Drawing into the editor's raster: film-strip frame offsets, clipping to
// the repaint area, blends, the bitmap and font caches, text measuring.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>
#include <string>

#include "GraphicsTestSupport.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxPng.h"

namespace
{
// Draws a bitmap with fixed arguments, to reach the primitives from a redraw.
class BlitProbe : public IControl
{
public:
  BlitProbe(IFxBase* plug, IRECT area, IBitmap bmp, IRECT dest, int frame)
    : IControl(plug, area), mBmp(bmp), mDest(dest), mFrame(frame) {}
  bool Draw(IGraphics* g) override { return g->DrawBitmap(&mBmp, &mDest, mFrame, nullptr); }
  IBitmap mBmp;
  IRECT mDest;
  int mFrame;
};

unsigned Px(IGraphics* g, int x, int y) { return g->GetPoint(x, y).Pixel(); }

// A 1 x 10 image whose row y is FramePixel(y + 1), for offset rounding.
const char* RowsImage()
{
  static std::string path;
  if (path.empty())
  {
    path = TestResourceDir() + "/rows10.png";
    PxMemBitmap b(1, 10, 4);
    for (int y = 0; y < 10; ++y) PxPutPixel(&b, 0, y, FramePixel(y + 1), 1.0f, 0);
    PxSavePNG(path.c_str(), &b);
  }
  return "rows10.png";
}
}  // namespace

TEST(DrawingTest, FilmStripFrameOffsets)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  IBitmap h4 = f.Load(kHStrip4Id, "resources/img/hstrip4.png", 4, true);
  IBitmap rows = f.Load(1010, RowsImage(), 3);
  IBitmap single = f.Load(kStrip61Id, "resources/img/strip61.png", 1);
  IRECT all(0, 0, 100, 80);
  f.gui->AttachControl(new BlitProbe(f.plug, all, strip, IRECT(0, 0, 10, 6), 61));
  f.gui->AttachControl(new BlitProbe(f.plug, all, strip, IRECT(10, 0, 20, 6), 0));
  f.gui->AttachControl(new BlitProbe(f.plug, all, strip, IRECT(20, 0, 30, 6), 1));
  f.gui->AttachControl(new BlitProbe(f.plug, all, strip, IRECT(30, 0, 40, 6), 31));
  f.gui->AttachControl(new BlitProbe(f.plug, all, single, IRECT(40, 0, 50, 6), 7));
  f.gui->AttachControl(new BlitProbe(f.plug, all, h4, IRECT(0, 10, 10, 15), 3));
  // 10 rows in 3 frames: frame 2 starts at int(10 / 3 + 0.5) = 3, frame 3 at int(20 / 3 + 0.5) = 7.
  f.gui->AttachControl(new BlitProbe(f.plug, all, rows, IRECT(0, 20, 1, 21), 2));
  f.gui->AttachControl(new BlitProbe(f.plug, all, rows, IRECT(1, 20, 2, 21), 3));
  f.Attach();
  f.gui->DrawAll();

  EXPECT_EQ(Px(f.gui, 0, 0), FramePixel(61));   // 61 of 61 starts at row 360
  EXPECT_EQ(Px(f.gui, 9, 5), FramePixel(61));
  EXPECT_EQ(Px(f.gui, 10, 0), FramePixel(1));   // frame 0 draws from (0, 0)
  EXPECT_EQ(Px(f.gui, 20, 0), FramePixel(1));
  EXPECT_EQ(Px(f.gui, 35, 3), FramePixel(31));
  EXPECT_EQ(Px(f.gui, 45, 5), FramePixel(1));   // single-frame image: any frame is (0, 0)
  EXPECT_EQ(Px(f.gui, 45, 6), 0u);              // nothing below the destination
  EXPECT_EQ(Px(f.gui, 5, 12), FramePixel(3));   // horizontal strip: x offset 20
  EXPECT_EQ(Px(f.gui, 0, 20), FramePixel(4));
  EXPECT_EQ(Px(f.gui, 1, 20), FramePixel(8));
}

TEST(DrawingTest, BlitsAreClippedToTheRepaintArea)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  IRECT all(0, 0, 100, 80);
  // A destination partly above and left of the editor draws the matching part only.
  f.gui->AttachControl(new BlitProbe(f.plug, all, strip, IRECT(-3, -2, 7, 4), 2));
  auto* knob = new IKnobMultiControl(f.plug, 20, 30, kGain, &strip);
  f.gui->AttachControl(knob);
  f.Attach();
  f.gui->DrawAll();
  EXPECT_EQ(Px(f.gui, 0, 0), FramePixel(2));
  EXPECT_EQ(Px(f.gui, 6, 3), FramePixel(2));
  EXPECT_EQ(Px(f.gui, 7, 0), 0u);
  EXPECT_EQ(Px(f.gui, 0, 4), 0u);
  EXPECT_EQ(Px(f.gui, 25, 33), FramePixel(31));  // gain 0 dB: value 0.5

  // A repaint of (0, 0, 23, 80) redraws the knob only left of x = 23.
  knob->SetValueFromPlug(1.0);
  IRECT part(0, 0, 23, 80);
  f.gui->Draw(&part);
  EXPECT_EQ(Px(f.gui, 22, 31), FramePixel(61));
  EXPECT_EQ(Px(f.gui, 23, 31), FramePixel(31));
  EXPECT_EQ(Px(f.gui, 29, 35), FramePixel(31));
}

TEST(DrawingTest, BlendsOverTheBackground)
{
  EditorFixture f;
  f.gui->AttachBackground(kBgId, "resources/img/bg.png");
  IBitmap alpha = f.Load(kAlphaId, "resources/img/alpha.png", 1);
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  f.gui->AttachControl(new IBitmapControl(f.plug, 10, 10, &alpha));
  auto* grayed = new IKnobMultiControl(f.plug, 30, 10, kMix, &strip);
  f.gui->AttachControl(grayed);
  auto* added = new IBitmapControl(f.plug, 50, 10, -1, &strip, IChannelBlend::kBlendAdditive);
  f.gui->AttachControl(added);
  f.Attach();
  f.gui->GrayOutControl(kMix, true);
  f.gui->DrawAll();

  EXPECT_EQ(Px(f.gui, 0, 0), 0xFF0A141Eu);     // background copied whole
  EXPECT_EQ(Px(f.gui, 10, 10), 0xFF0A141Eu);   // source alpha 0 leaves it
  // Alpha 128 white over (10, 20, 30): 255 + 127 * (d - 255) / 256 per channel.
  EXPECT_EQ(Px(f.gui, 12, 10), 0xFF868B90u);
  // Mix at 100 % is frame 61 (red 61) drawn at weight 0.25: e = 64,
  // d = s + (d - s) * 192 / 256: red 61 - 38 = 23, green 7 + 9, blue 9 + 15.
  EXPECT_EQ(Px(f.gui, 31, 11), 0xFF171018u);
  // Additive with source alpha, frame 1 (1, 7, 9) at full weight: e = 256.
  EXPECT_EQ(Px(f.gui, 51, 11), 0xFF0B1B27u);
}

TEST(DrawingTest, BitmapCacheSharesOneRasterPerId)
{
  EditorFixture f, g;
  IBitmap a = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  IBitmap b = f.Load(kSwitch2Id, "resources/img/a-different-name.png", 1);
  IBitmap c = g.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  ASSERT_NE(a.mData, nullptr);
  EXPECT_EQ(a.mData, b.mData);
  EXPECT_EQ(a.mData, c.mData);
  EXPECT_EQ(b.N, 1);
  EXPECT_EQ(a.FrameHeight(), 8);
  EXPECT_EQ(b.FrameHeight(), 16);

  // The raster outlives the editors that loaded it.
  PxIBitmap* raster = a.mData;
  {
    EditorFixture h;
    EXPECT_EQ(h.Load(kSwitch2Id, "x", 2).mData, raster);
  }
  EXPECT_EQ(PxGetPixel(raster, 0, 9), FramePixel(2));
}

TEST(DrawingTest, MissingBitmapIsReportedOnceAndDrawsNothing)
{
  EditorFixture f;
  testing::internal::CaptureStderr();
  IBitmap missing = f.Load(1099, "resources/img/not-there.png", 61);
  IBitmap again = f.Load(1099, "resources/img/not-there.png", 61);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("not-there.png"), std::string::npos);
  EXPECT_EQ(err.find("not-there.png"), err.rfind("not-there.png"));  // reported once
  EXPECT_NE(missing.mData, nullptr);
  EXPECT_EQ(missing.mData, again.mData);
  EXPECT_EQ(missing.W, 0);
  EXPECT_EQ(missing.H, 0);

  // A layout built on it still attaches, draws and takes clicks.
  f.gui->AttachBackground(1098, "resources/img/no-background.png");
  auto* knob = new IKnobMultiControl(f.plug, 10, 10, kGain, &missing);
  f.gui->AttachControl(knob);
  f.Attach();
  f.gui->DrawAll();
  EXPECT_EQ(Px(f.gui, 10, 10), 0u);
  EXPECT_EQ(*knob->GetRECT(), IRECT(10, 10, 10, 10));
}

TEST(DrawingTest, DerivedBitmapsAndPrimitives)
{
  EditorFixture f;
  IColor black = COLOR_BLACK;
  f.gui->AttachPanelBackground(&black);
  f.Attach();
  f.gui->DrawAll();
  EXPECT_EQ(Px(f.gui, 50, 50), 0xFF000000u);

  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  IRECT second(0, 6, 10, 12);
  IBitmap crop = f.gui->CropBitmap(&strip, &second);
  EXPECT_EQ(crop.W, 10);
  EXPECT_EQ(crop.H, 6);
  EXPECT_EQ(crop.N, 61);
  EXPECT_EQ(PxGetPixel(crop.mData, 4, 0), FramePixel(2));
  IBitmap bg = f.Load(kBgId, "resources/img/bg.png", 1);
  IBitmap half = f.gui->ScaleBitmap(&bg, 50, 40);
  EXPECT_EQ(half.W, 50);
  EXPECT_EQ(half.H, 40);
  EXPECT_EQ(PxGetPixel(half.mData, 25, 20), 0xFF0A141Eu);
  f.gui->ReleaseBitmap(&half);
  f.gui->ReleaseBitmap(&crop);

  IRECT r(10, 10, 20, 15);
  IColor red = COLOR_RED;
  f.gui->FillIRect(&red, &r);
  EXPECT_EQ(Px(f.gui, 10, 10), 0xFFFF0000u);
  EXPECT_EQ(Px(f.gui, 19, 14), 0xFFFF0000u);
  EXPECT_EQ(Px(f.gui, 20, 14), 0xFF000000u);

  IColor white = COLOR_WHITE;
  IRECT box(30, 30, 40, 40);
  f.gui->DrawRect(&white, &box);  // edges at x = 40 and y = 40 included
  EXPECT_EQ(Px(f.gui, 30, 35), 0xFFFFFFFFu);
  EXPECT_EQ(Px(f.gui, 40, 35), 0xFFFFFFFFu);
  EXPECT_EQ(Px(f.gui, 35, 40), 0xFFFFFFFFu);
  EXPECT_EQ(Px(f.gui, 35, 35), 0xFF000000u);

  // 0 is the bottom edge of the rectangle, 1 its top; x 0.5 of width 10 is +5.
  IRECT lines(50, 50, 60, 60);
  IColor green = COLOR_GREEN;
  f.gui->DrawHorizontalLine(&green, &lines, 0.0f);
  EXPECT_EQ(Px(f.gui, 55, 60), 0xFF00FF00u);
  f.gui->DrawVerticalLine(&green, &lines, 0.5f);
  EXPECT_EQ(Px(f.gui, 55, 52), 0xFF00FF00u);
  f.gui->DrawVerticalLine(&green, &lines, 7.0f);  // clamped to the right edge
  EXPECT_EQ(Px(f.gui, 60, 52), 0xFF00FF00u);

  f.gui->ForcePixel(&COLOR_TRANSPARENT, 70, 70);
  EXPECT_EQ(Px(f.gui, 70, 70), 0u);
  f.gui->ForcePixel(&red, 100, 5);  // outside: ignored
  f.gui->ForcePixel(&red, -1, 5);
  f.gui->DrawPoint(&red, 71.6f, 70.4f);
  EXPECT_EQ(Px(f.gui, 72, 70), 0xFFFF0000u);
  EXPECT_EQ(f.gui->GetPoint(200, 200), IColor(0, 0, 0, 0));

  // A radial line straight up from the centre (angle 0).
  f.gui->DrawRadialLine(&white, 80.0f, 40.0f, 0.0f, 0.0f, 10.0f);
  EXPECT_EQ(Px(f.gui, 80, 35), 0xFFFFFFFFu);
  EXPECT_EQ(Px(f.gui, 85, 35), 0xFF000000u);
  ASSERT_NE(f.gui->GetBits(), nullptr);
}

TEST(DrawingTest, TextMeasureAlignmentsAndFontCache)
{
  EditorFixture f;
  IColor black = COLOR_BLACK;
  f.gui->AttachPanelBackground(&black);
  f.Attach();
  f.gui->DrawAll();

  IText text(14, &COLOR_WHITE);
  PxCachedFont* font = f.gui->CacheFont(&text);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(text.mCached, font);
  IText same(14, &COLOR_RED);
  EXPECT_EQ(f.gui->CacheFont(&same), font);  // colour is not part of the key
  IText bigger(20, &COLOR_WHITE);
  EXPECT_NE(f.gui->CacheFont(&bigger), font);
  IText bold(14, &COLOR_WHITE, "Monaco", IText::kStyleBold);
  EXPECT_NE(f.gui->CacheFont(&bold), font);
  // The retry makes the line height, not the em size, match the request.
  EXPECT_NEAR(font->GetLineHeight(), 14, 1);

  const char* s = "Version 3.3.0";
  IRECT left(40, 425, 140, 445), centre = left, right = left;
  text.mAlign = IText::kAlignNear;
  ASSERT_TRUE(f.gui->MeasureIText(&text, s, &left));
  int w = left.W(), h = left.H();
  EXPECT_GT(w, 40);
  EXPECT_LT(w, 140);
  EXPECT_GT(h, 0);
  EXPECT_EQ(left.L, 40);
  EXPECT_EQ(left.T, 425);

  text.mAlign = IText::kAlignCenter;
  ASSERT_TRUE(f.gui->MeasureIText(&text, s, &centre));
  EXPECT_EQ(centre.L, 90 - w / 2);
  EXPECT_EQ(centre.R, centre.L + w);
  EXPECT_EQ(centre.B, 425 + h);

  text.mAlign = IText::kAlignFar;
  ASSERT_TRUE(f.gui->MeasureIText(&text, s, &right));
  EXPECT_EQ(right.R, 140);
  EXPECT_EQ(right.L, 140 - w);

  // Measuring nothing leaves the rectangle as it was.
  IRECT untouched(1, 2, 3, 4);
  EXPECT_TRUE(f.gui->MeasureIText(&text, "", &untouched));
  EXPECT_EQ(untouched, IRECT(1, 2, 3, 4));

  // Drawn white text lights pixels inside its box and none far from it.
  IText white(14, &COLOR_WHITE);
  IRECT box(10, 10, 90, 30);
  ASSERT_TRUE(f.gui->DrawIText(&white, "HHHH", &box));
  int lit = 0;
  for (int y = 10; y < 30; ++y)
    for (int x = 10; x < 90; ++x)
      if ((Px(f.gui, x, y) & 0xFF) > 128) ++lit;
  EXPECT_GT(lit, 20);
  for (int x = 0; x < 100; ++x) EXPECT_EQ(Px(f.gui, x, 60), 0xFF000000u);
}

TEST(HeadlessTest, ResourcesByFileNameAndPngSnapshot)
{
  EditorFixture f;
  // Only the last path component matters; the folder is flat.
  PxIBitmap* direct = f.gui->OSLoadBitmap(0, "any/where/bg.png");
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(direct->getWidth(), 100);
  delete direct;
  EXPECT_EQ(f.gui->OSLoadBitmap(0, "resources/img/"), nullptr);
  EXPECT_EQ(f.gui->OSLoadBitmap(0, nullptr), nullptr);

  f.gui->AttachBackground(kBgId, "resources/img/bg.png");
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  f.gui->AttachControl(new IKnobMultiControl(f.plug, 20, 30, kMix, &strip));

  // No editor attached yet: nothing to render.
  std::string path = TestResourceDir() + "/snapshot.png";
  EXPECT_FALSE(RenderEditorToPNG(f.plug, path.c_str()));
  f.Attach();
  ASSERT_TRUE(RenderEditorToPNG(f.plug, path.c_str()));
  PxIBitmap* snap = PxLoadPNG(path.c_str());
  ASSERT_NE(snap, nullptr);
  EXPECT_EQ(snap->getWidth(), 100);
  EXPECT_EQ(snap->getHeight(), 80);
  EXPECT_EQ(PxGetPixel(snap, 0, 0), 0xFF0A141Eu);
  EXPECT_EQ(PxGetPixel(snap, 25, 33), FramePixel(61));
  delete snap;
  EXPECT_FALSE(RenderEditorToPNG(f.plug, "/nonexistent-dir/x.png"));
  EXPECT_FALSE(RenderEditorToPNG(nullptr, path.c_str()));
}

TEST(DrawingTest, MeterFedFromAnotherThreadShowsTheLatestLevel)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  int meterIdx = f.gui->AttachControl(new IBitmapControl(f.plug, 20, 30, &strip));
  f.Attach();
  f.gui->DrawAll();

  // The audio side sends a level every frame while the editor ticks.
  const int kFrames = 200000;
  std::thread audio([&] {
    for (int i = 1; i <= kFrames; ++i) f.gui->SetControlFromPlug(meterIdx, (double)(i % 1000) / 999.0);
    f.gui->SetControlFromPlug(meterIdx, 1.0);
  });
  int ticks = 0;
  while (ticks < 100000)
  {
    f.gui->Tick();
    ++ticks;
    if (f.gui->GetControl(meterIdx)->GetValue() == 1.0) break;
  }
  audio.join();
  // Whatever the interleaving, the last level is still flagged and drawn.
  int settle = 0;
  while (f.gui->Tick() && settle < 3) ++settle;
  EXPECT_FALSE(f.gui->Tick());
  EXPECT_EQ(Px(f.gui, 25, 33), FramePixel(61));
}

TEST(DrawingTest, RotatingMaskAndOverlayControls)
{
  // Three 8 x 8 images: opaque red base, opaque green mask, clear top.
  std::string dir = TestResourceDir();
  struct { const char* name; unsigned pixel; } images[] = {
    {"mask_base.png", 0xFF640000u}, {"mask_mask.png", 0xFF003200u}, {"mask_top.png", 0x00000000u}};
  for (auto& im : images)
  {
    PxMemBitmap b(8, 8, 4);
    PxFillRect(&b, 0, 0, 8, 8, im.pixel, 1.0f, 0);
    ASSERT_TRUE(PxSavePNG((dir + "/" + im.name).c_str(), &b));
  }
  EditorFixture f;
  IColor black = COLOR_BLACK;
  f.gui->AttachPanelBackground(&black);
  IBitmap base = f.Load(1020, "mask_base.png", 1), mask = f.Load(1021, "mask_mask.png", 1),
          top = f.Load(1022, "mask_top.png", 1);
  auto* knob = new IKnobRotatingMaskControl(f.plug, 10, 10, kGain, &base, &mask, &top, 0.0, 0.0);
  f.gui->AttachControl(knob);
  IBitmap sw2 = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  auto* overlay = new IBitmapOverlayControl(f.plug, 40, 40, &sw2, IRECT(60, 60, 70, 70));
  f.gui->AttachControl(overlay);
  f.Attach();
  f.gui->DrawAll();

  // The base's colour with its alpha cleared, the mask added (green 50,
  // alpha 255), the clear top leaving it: (255, 100, 50, 0) over black.
  EXPECT_EQ(*knob->GetRECT(), IRECT(10, 10, 18, 18));
  EXPECT_EQ(Px(f.gui, 14, 14), 0xFF643200u);

  // Off, the overlay draws nothing and is hit over its stored area only.
  EXPECT_EQ(Px(f.gui, 41, 41), 0xFF000000u);
  EXPECT_TRUE(overlay->IsHit(65, 65));
  EXPECT_FALSE(overlay->IsHit(41, 41));
  overlay->SetValueFromPlug(1.0);
  f.gui->DrawAll();
  EXPECT_EQ(Px(f.gui, 41, 41), FramePixel(2));
  EXPECT_TRUE(overlay->IsHit(41, 41));
  EXPECT_FALSE(overlay->IsHit(65, 65));
}

// Above scale 1 a strip is drawn from its twin at twice the size when there
// is one (at scale 2 as it is, in between resized), else resized from
// itself; each frame is resized on its own, so none bleeds into the next.
TEST(DrawingTest, ScaledDrawingUsesTheTwinOrResizesEachFrame)
{
  EditorFixture f;
  f.gui->AttachBackground(kBgId, "resources/img/bg.png");
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  IBitmap sw = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  IBitmap h4 = f.Load(kHStrip4Id, "resources/img/hstrip4.png", 4, true);
  auto* knob = new IKnobMultiControl(f.plug, 20, 30, kMix, &strip);  // 10 x 6
  auto* toggle = new ISwitchControl(f.plug, 50, 40, kSwitch, &sw);   // 12 x 8
  f.gui->AttachControl(knob);
  f.gui->AttachControl(toggle);
  f.gui->AttachControl(new BlitProbe(f.plug, IRECT(70, 10, 80, 15), h4, IRECT(70, 10, 80, 15), 3));
  // An image made by hand, outside the cache: resized one frame at a time.
  PxMemBitmap own(4, 9, 4);
  for (int k = 1; k <= 3; ++k) PxFillRect(&own, 0, (k - 1) * 3, 4, 3, FramePixel(k + 40), 1.0f, 0);
  IBitmap byHand(&own, 4, 9, 3);
  f.gui->AttachControl(new BlitProbe(f.plug, IRECT(80, 60, 84, 63), byHand, IRECT(80, 60, 84, 63), 2));
  f.Attach();
  knob->SetValueFromPlug(0.5);  // frame 31
  const unsigned bg = 0xFF0A141Eu;
  struct Case
  {
    double scale;
    unsigned knobPixel;
  };
  for (const Case& c : {Case{2.0, TwinPixel(31)}, Case{1.5, TwinPixel(31)}, Case{3.0, TwinPixel(31)}})
  {
    SCOPED_TRACE(c.scale);
    f.gui->SetScale(c.scale);
    f.gui->DrawAll();
    PxSysBitmap* d = f.gui->GetDrawBitmap();
    ASSERT_EQ(d->getWidth(), (int)std::lround(100 * c.scale));
    auto at = [&](int x, int y) { return PxGetPixel(d, x, y); };
    const IRECT k = f.gui->ToDevice(*knob->GetRECT());
    EXPECT_EQ(k.W(), (int)std::lround(10 * c.scale));
    EXPECT_EQ(k.H(), (int)std::lround(6 * c.scale));
    int wrong = 0;
    for (int y = k.T; y < k.B; ++y)
      for (int x = k.L; x < k.R; ++x) wrong += at(x, y) != c.knobPixel;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(at(k.L - 1, k.T), bg);
    EXPECT_EQ(at(k.R, k.B - 1), bg);
    EXPECT_EQ(at(k.L, k.B), bg);
    // The switch's twin has the wrong size: its own frame 2, resized.
    const IRECT s = f.gui->ToDevice(*toggle->GetRECT());
    EXPECT_EQ(at(s.L, s.T), FramePixel(2));
    EXPECT_EQ(at(s.R - 1, s.B - 1), FramePixel(2));
    // A horizontal strip without a twin, frame 3.
    const IRECT h = f.gui->ToDevice(IRECT(70, 10, 80, 15));
    EXPECT_EQ(at(h.L, h.T), FramePixel(3));
    EXPECT_EQ(at(h.R - 1, h.B - 1), FramePixel(3));
    EXPECT_EQ(at(h.R, h.T), bg);
    const IRECT o = f.gui->ToDevice(IRECT(80, 60, 84, 63));
    EXPECT_EQ(at(o.L, o.T), FramePixel(42));
    EXPECT_EQ(at(o.R - 1, o.B - 1), FramePixel(42));
  }
  // Back at 1 the layout's own images, as ever.
  f.gui->SetScale(1.0);
  f.gui->DrawAll();
  EXPECT_EQ(Px(f.gui, 20, 30), FramePixel(31));
  EXPECT_EQ(Px(f.gui, 29, 35), FramePixel(31));
}

// Resizing works on premultiplied colour: the transparent half of an image,
// green underneath, lends no colour to the red half's edge over a white panel.
TEST(DrawingTest, ScaledEdgesOfTransparentImagesKeepTheirColour)
{
  EditorFixture f;
  f.gui->AttachPanelBackground(&COLOR_WHITE);
  IBitmap edge = f.Load(kEdgeId, "resources/img/edge.png", 1);
  f.gui->AttachControl(new IBitmapControl(f.plug, 10, 10, &edge));
  f.Attach();
  for (double scale : {1.5, 2.0, 2.5})
  {
    SCOPED_TRACE(scale);
    f.gui->SetScale(scale);
    f.gui->DrawAll();
    PxSysBitmap* d = f.gui->GetDrawBitmap();
    const IRECT r = f.gui->ToDevice(IRECT(10, 10, 18, 18));
    const int y = (r.T + r.B) / 2;
    for (int x = r.L; x < r.R; ++x)
    {
      const unsigned p = PxGetPixel(d, x, y);
      // Between white and red: full red, green and blue equal.
      EXPECT_GE(PxGetR(p), 254) << x;
      EXPECT_LE(std::abs(PxGetG(p) - PxGetB(p)), 1) << x;
    }
    EXPECT_EQ(PxGetPixel(d, r.L, y), 0xFFFFFFFFu);
    EXPECT_EQ(PxGetPixel(d, r.R - 1, y), 0xFFFF0000u);
  }
}
