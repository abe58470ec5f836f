#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "raster/PxGdi.h"
#include "raster/PxBlit.h"

namespace
{
HFONT MakeFont(const char* face, int size, int weight = FW_NORMAL, bool italic = false,
               int quality = ANTIALIASED_QUALITY)
{
  return CreateFont(size, 0, 0, 0, weight, italic, 0, 0, 0, 0, 0, (char)quality, 0, face);
}

struct Ink
{
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

// Bounding box of every pixel that differs from the background.
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

class GdiText : public ::testing::Test
{
protected:
  void SetUp() override
  {
    mMono = MakeFont("Monaco", 12);
    ASSERT_NE(mMono, nullptr);
  }
  void TearDown() override
  {
    DeleteObject(mMono);
  }

  // Measures text in a fresh context with the given font.
  RECT Measure(HFONT f, const char* text, unsigned flags = 0, int len = -1)
  {
    PxSysBitmap b(4, 4);
    SelectObject(b.getDC(), f);
    RECT r = {5, 7, 5, 7};
    GdiDrawText(b.getDC(), text, len, &r, flags | DT_CALCRECT);
    return r;
  }

  Ink Draw(PxSysBitmap& b, const char* text, RECT r, unsigned flags, HFONT f = nullptr)
  {
    PxClearRect(&b, 0, 0, b.getWidth(), b.getHeight(), 0, 0xFF000000);
    HDC dc = b.getDC();
    SelectObject(dc, f ? f : mMono);
    SetTextColor(dc, GdiRGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    GdiDrawText(dc, text, -1, &r, flags);
    return FindInk(&b, 0xFF000000);
  }

  HFONT mMono = nullptr;
};
}  // namespace

TEST_F(GdiText, MonacoResolvesToAMonospaceFace)
{
  RECT narrow = Measure(mMono, "iiiiiiii");
  RECT wide = Measure(mMono, "WWWWWWWW");
  EXPECT_EQ(narrow.right - narrow.left, wide.right - wide.left);
  EXPECT_GT(narrow.right - narrow.left, 40);

  // A proportional face tells the two apart, so the check above means something.
  HFONT sans = MakeFont("DejaVu Sans", 12);
  ASSERT_NE(sans, nullptr);
  RECT sn = Measure(sans, "iiiiiiii"), sw = Measure(sans, "WWWWWWWW");
  EXPECT_LT(sn.right - sn.left, (sw.right - sw.left) / 2);
  DeleteObject(sans);
}

// Eight i and eight W at 12 px tell the faces apart: DejaVu Sans Mono 58 and
// 58 (1233/2048 em each), DejaVu Sans 27 and 95 (569 and 2025/2048 em).
// The names the bundle carries give its files whatever else the machine has
// (an extra monospace family or a metric clone of Arial, 21 and 91, change
// fontconfig's picks); other names are fontconfig's only for a face of that
// very family.
TEST_F(GdiText, FaceNamesResolveToTheBundledFontsFirst)
{
  struct Case
  {
    const char* face;
    int weight;
    int narrow, wide;
  };
  const Case cases[] = {
      {"Monaco", FW_NORMAL, 58, 58},
      {"menlo", FW_NORMAL, 58, 58},
      {"Courier New", FW_NORMAL, 58, 58},
      {"monospace", FW_NORMAL, 58, 58},
      {"DejaVu Sans Mono", FW_BOLD, 58, 58},
      {"DejaVu Sans", FW_NORMAL, 27, 95},
      {"", FW_NORMAL, 27, 95},
      {"sans-serif", FW_NORMAL, 27, 95},
      {"Arial", FW_NORMAL, 27, 95},
      {"Helvetica", FW_NORMAL, 27, 95},
      {"No Such Face 123", FW_NORMAL, 27, 95},
      {"DejaVu Sans", FW_BOLD, 33, 106},    // 702 and 2259/2048 em
      {"DejaVu Serif", FW_NORMAL, 31, 99},  // 655 and 2105: not bundled, fontconfig's
  };
  for (const Case& c : cases)
  {
    HFONT f = MakeFont(c.face, 12, c.weight);
    ASSERT_NE(f, nullptr) << c.face;
    EXPECT_EQ(Measure(f, "iiiiiiii").right - 5, c.narrow) << c.face << " " << c.weight;
    EXPECT_EQ(Measure(f, "WWWWWWWW").right - 5, c.wide) << c.face << " " << c.weight;
    DeleteObject(f);
  }
}

// The folder an editor host names comes first; a folder without the files
// passes the look-up on.
TEST_F(GdiText, TheNamedFontFolderComesFirst)
{
  char dir[] = "/tmp/tavlo-fonts-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string folder = dir;
  auto width = [this](const char* text) {
    HFONT f = MakeFont("Monaco", 12);
    const int w = Measure(f, text).right - 5;
    DeleteObject(f);
    return w;
  };

  GdiSetFontFolder(folder.c_str());  // empty
  EXPECT_EQ(width("iiiiiiii"), 58);
  // The proportional face under the monospace file's name.
  const std::string copy = "cp " TAVLO_FONT_SOURCE_DIR "/DejaVuSans.ttf " + folder + "/DejaVuSansMono.ttf";
  ASSERT_EQ(system(copy.c_str()), 0);
  GdiSetFontFolder(folder.c_str());
  EXPECT_EQ(width("iiiiiiii"), 27);
  EXPECT_EQ(width("WWWWWWWW"), 95);
  GdiSetFontFolder(nullptr);
  EXPECT_EQ(width("iiiiiiii"), 58);

  unlink((folder + "/DejaVuSansMono.ttf").c_str());
  rmdir(folder.c_str());
}

TEST_F(GdiText, MetricsOfTheMonospaceFace)
{
  PxSysBitmap b(8, 8);
  SelectObject(b.getDC(), mMono);
  TEXTMETRIC tm;
  ASSERT_TRUE(GetTextMetrics(b.getDC(), &tm));
  // DejaVu Sans Mono at 12 px: ascent 11.14, descent 2.83, no line gap.
  EXPECT_EQ(tm.tmAscent, 11);
  EXPECT_EQ(tm.tmDescent, 2);
  EXPECT_EQ(tm.tmInternalLeading, 0);
  EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent + tm.tmInternalLeading + 1);
  EXPECT_EQ(tm.tmAveCharWidth, (tm.tmAscent + tm.tmDescent + tm.tmInternalLeading) * 2 / 3);

  // The magnitude of the height is the size; out-of-range sizes become 10.
  HFONT neg = MakeFont("Monaco", -12), tiny = MakeFont("Monaco", 1), ten = MakeFont("Monaco", 10);
  TEXTMETRIC a, t, t10;
  SelectObject(b.getDC(), neg);
  GetTextMetrics(b.getDC(), &a);
  EXPECT_EQ(a.tmHeight, tm.tmHeight);
  SelectObject(b.getDC(), tiny);
  GetTextMetrics(b.getDC(), &t);
  SelectObject(b.getDC(), ten);
  GetTextMetrics(b.getDC(), &t10);
  EXPECT_EQ(t.tmHeight, t10.tmHeight);
  EXPECT_LT(t10.tmHeight, tm.tmHeight);
  // Any pixel height, as scaled editors ask for: at 48 px 44.55 and 11.32.
  HFONT big = MakeFont("Monaco", 48);
  TEXTMETRIC t48;
  SelectObject(b.getDC(), big);
  GetTextMetrics(b.getDC(), &t48);
  EXPECT_EQ(t48.tmAscent, 44);
  EXPECT_EQ(t48.tmDescent, 11);
  DeleteObject(big);
  DeleteObject(neg);
  DeleteObject(tiny);
  DeleteObject(ten);

  // No context: the fixed fallback, reported as a failure.
  TEXTMETRIC none;
  EXPECT_FALSE(GetTextMetrics(nullptr, &none));
  EXPECT_EQ(none.tmHeight, 16);
  EXPECT_EQ(none.tmAscent, 12);
  EXPECT_EQ(none.tmDescent, 4);
  EXPECT_EQ(none.tmInternalLeading, 3);
  EXPECT_EQ(none.tmAveCharWidth, 10);
}

TEST_F(GdiText, MeasuringGivesWidthAndHeightFromTheTopLeft)
{
  // Advance 1233/2048 em: 4 x 7.2246 = 28.9 -> 29; height floor(13.97 + 1.5) + 1.
  RECT r = Measure(mMono, "abcd");
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 7);
  EXPECT_EQ(r.right, 5 + 29);
  EXPECT_EQ(r.bottom, 7 + 16);

  // Widths grow with the text.
  const int w2 = Measure(mMono, "ab").right - 5;
  const int w8 = Measure(mMono, "abcdefgh").right - 5;
  EXPECT_LT(w2, 29);
  EXPECT_LT(29, w8);
  EXPECT_EQ(w8, 58);  // 57.8 rounded

  // Length limits the text.
  EXPECT_EQ(Measure(mMono, "abcdefgh", 0, 4).right, 5 + 29);
  // Nothing to measure.
  RECT e = Measure(mMono, "");
  EXPECT_EQ(e.right, 5);
  EXPECT_EQ(e.bottom, 7);
}

TEST_F(GdiText, CharacterAdvancesAreUnrounded)
{
  PxSysBitmap b(4, 4);
  SelectObject(b.getDC(), mMono);
  float w[3] = {0, 0, 0};
  ASSERT_TRUE(GetCharWidthFloat(b.getDC(), 'a', 'c', w));
  // 1233/2048 em at 12 px.
  EXPECT_NEAR(w[0], 7.2246f, 0.001f);
  EXPECT_FLOAT_EQ(w[1], w[0]);
  EXPECT_FLOAT_EQ(w[2], w[0]);
  EXPECT_FALSE(GetCharWidthFloat(b.getDC(), 'c', 'a', w));
  EXPECT_FALSE(GetCharWidthFloat(nullptr, 'a', 'a', w));
}

TEST_F(GdiText, AmpersandsLineFeedsAndCarriageReturns)
{
  const int w1 = Measure(mMono, "a").right - 5;
  // An ampersand marks the next character and is dropped; "&&" keeps one.
  EXPECT_EQ(Measure(mMono, "a&b").right, Measure(mMono, "ab").right);
  EXPECT_EQ(Measure(mMono, "a&&b").right, Measure(mMono, "a&b", DT_NOPREFIX).right);
  EXPECT_EQ(Measure(mMono, "a&b", DT_NOPREFIX).right - 5, 22);  // 3 x 7.2246
  EXPECT_EQ(Measure(mMono, "ab\rc").right, Measure(mMono, "abc").right);

  // Two lines: the wider one counts, the heights add up (2 x 13.97 -> 28) + 1.
  RECT two = Measure(mMono, "ab\ncdef");
  EXPECT_EQ(two.right - 5, 29);
  EXPECT_EQ(two.bottom - 7, 29);
  // Single line: the line feed is a blank.
  RECT one = Measure(mMono, "ab\ncdef", DT_SINGLELINE);
  EXPECT_EQ(one.right - 5, 51);  // 7 x 7.2246 = 50.6
  EXPECT_EQ(one.bottom - 7, 16);
  EXPECT_GT(w1, 0);
}

TEST_F(GdiText, HorizontalAndVerticalAlignment)
{
  PxSysBitmap b(120, 60);
  const RECT box = {0, 0, 100, 40};
  const Ink left = Draw(b, "abcd", box, DT_NOCLIP);
  const Ink centre = Draw(b, "abcd", box, DT_NOCLIP | DT_CENTER);
  const Ink right = Draw(b, "abcd", box, DT_NOCLIP | DT_RIGHT);
  ASSERT_GT(left.count, 0);
  // Width 29: centre starts at 50 - 14 = 36, right at 100 - 29 = 71.
  EXPECT_EQ(centre.left - left.left, 36);
  EXPECT_EQ(right.left - left.left, 71);
  EXPECT_EQ(centre.count, left.count);
  EXPECT_EQ(right.right - left.right, 71);
  EXPECT_LT(right.right, 100);

  // Height 16: vertical centre moves down 20 - 8 = 12, bottom 40 - 16 = 24.
  const Ink vc = Draw(b, "abcd", box, DT_NOCLIP | DT_VCENTER);
  const Ink bottom = Draw(b, "abcd", box, DT_NOCLIP | DT_BOTTOM);
  EXPECT_EQ(vc.top - left.top, 12);
  EXPECT_EQ(bottom.top - left.top, 24);
  EXPECT_EQ(vc.left, left.left);

  // Drawn from the rectangle's top: the ink sits between top and the height.
  EXPECT_GE(left.top, 0);
  EXPECT_LT(left.bottom, 16);
  // Baseline at top + 11: no descender in "abcd", so the ink ends above it.
  EXPECT_LE(left.bottom, 11);
}

TEST_F(GdiText, ClippingToTheRectangleUnlessNoClip)
{
  PxSysBitmap b(120, 30);
  const RECT narrow = {10, 0, 20, 20};
  Ink clipped = Draw(b, "WWWWWW", narrow, 0);
  Ink free = Draw(b, "WWWWWW", narrow, DT_NOCLIP);
  EXPECT_GE(clipped.left, 10);
  EXPECT_LT(clipped.right, 20);
  EXPECT_GT(free.right, 40);

  // A clip region of the context limits even unclipped text.
  RECT region = {0, 0, 30, 30};
  GdiPushClipRegion(b.getDC());
  GdiSetClipRegion(b.getDC(), &region);
  Ink limited = Draw(b, "WWWWWW", narrow, DT_NOCLIP);
  EXPECT_LT(limited.right, 30);
  GdiPopClipRegion(b.getDC());
  Ink restored = Draw(b, "WWWWWW", narrow, DT_NOCLIP);
  EXPECT_EQ(restored.right, free.right);

  // Text far outside the context draws nothing and does not crash.
  Ink gone = Draw(b, "WWWW", RECT{-500, -500, -400, -480}, DT_NOCLIP);
  EXPECT_EQ(gone.count, 0);
  Ink below = Draw(b, "WWWW", RECT{110, 25, 400, 400}, DT_NOCLIP);
  EXPECT_LE(below.right, 119);

  // Extreme rectangles: placement and measurement cannot overflow. This one
  // is centred on the origin: 29 x 16 of text starts at (-14, -8), so the
  // third W begins at x = 0.45.
  Ink wild = Draw(b, "WWWW", RECT{-2147483647, -2147483647, 2147483647, 2147483647},
                  DT_NOCLIP | DT_CENTER | DT_VCENTER);
  EXPECT_GT(wild.count, 0);
  EXPECT_LE(wild.left, 1);
  EXPECT_EQ(wild.top, 0);
  EXPECT_LT(wild.right, 16);
  EXPECT_LT(wild.bottom, 8);
  Ink far = Draw(b, "WWWW", RECT{2147483000, 0, 2147483647, 20}, DT_NOCLIP | DT_RIGHT);
  EXPECT_EQ(far.count, 0);
  RECT m = {2147483640, 2147483640, 0, 0};
  GdiDrawText(b.getDC(), "WWWW", -1, &m, DT_CALCRECT);
  EXPECT_EQ(m.right, 2147483647);
  EXPECT_EQ(m.bottom, 2147483647);
}

TEST_F(GdiText, ColourQualityAndBackground)
{
  PxSysBitmap b(80, 30);
  HDC dc = b.getDC();
  HFONT crisp = MakeFont("Monaco", 14, FW_NORMAL, false, NONANTIALIASED_QUALITY);
  ASSERT_NE(crisp, nullptr);
  PxClearRect(&b, 0, 0, 80, 30, 0, 0xFF000000);
  SelectObject(dc, crisp);
  SetTextColor(dc, GdiRGB(0x12, 0x34, 0x56));
  RECT r = {2, 2, 80, 30};
  GdiDrawText(dc, "Hello", -1, &r, DT_NOCLIP);
  int inked = 0, other = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x)
    {
      const unsigned p = PxGetPixel(&b, x, y);
      if (p == 0xFF123456u) ++inked;
      else if (p != 0xFF000000u) ++other;
    }
  // Without antialiasing every pixel is either the text colour or untouched;
  // the alpha byte is left as it was.
  EXPECT_GT(inked, 20);
  EXPECT_EQ(other, 0);

  // Antialiased text has intermediate coverage.
  PxClearRect(&b, 0, 0, 80, 30, 0, 0xFF000000);
  SelectObject(dc, mMono);
  GdiDrawText(dc, "Hello", -1, &r, DT_NOCLIP);
  other = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x)
    {
      const unsigned p = PxGetPixel(&b, x, y);
      other += p != 0xFF123456u && p != 0xFF000000u;
    }
  EXPECT_GT(other, 0);

  // An opaque background fills the text's box first: 5 x 7.22 -> 36 by 16.
  PxClearRect(&b, 0, 0, 80, 30, 0, 0);
  EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
  SetBkColor(dc, GdiRGB(0x20, 0x40, 0x60));
  RECT o = {1, 1, 80, 30};
  EXPECT_EQ(GdiDrawText(dc, "     ", -1, &o, 0), 16);
  EXPECT_EQ(PxGetPixel(&b, 1, 1), 0xFF204060u);
  EXPECT_EQ(PxGetPixel(&b, 36, 16), 0xFF204060u);
  EXPECT_EQ(PxGetPixel(&b, 37, 1), 0u);
  EXPECT_EQ(PxGetPixel(&b, 1, 17), 0u);
  DeleteObject(crisp);
}

TEST_F(GdiText, BoldIsHeavierAndObjectsAreChecked)
{
  PxSysBitmap b(120, 30);
  HFONT bold = MakeFont("Monaco", 12, FW_BOLD);
  ASSERT_NE(bold, nullptr);
  const RECT box = {0, 0, 120, 30};
  Ink regular = Draw(b, "Hello", box, 0);
  Ink heavy = Draw(b, "Hello", box, 0, bold);
  EXPECT_GT(heavy.count, regular.count);

  HDC dc = b.getDC();
  EXPECT_EQ(SelectObject(dc, mMono), bold);  // returns the previous font
  SelectObject(dc, bold);
  EXPECT_TRUE(DeleteObject(bold));
  EXPECT_FALSE(DeleteObject(bold));          // already gone
  EXPECT_FALSE(DeleteObject(nullptr));
  GdiObject bogus = {42};
  EXPECT_FALSE(DeleteObject(&bogus));
  EXPECT_EQ(SelectObject(dc, &bogus), nullptr);

  // A context whose font was deleted falls back to the label font.
  RECT r = {0, 0, 0, 0};
  EXPECT_GT(GdiDrawText(dc, "abc", -1, &r, DT_CALCRECT), 0);

  // Unknown face names still give a font.
  HFONT unknown = MakeFont("No Such Face 123", 12);
  EXPECT_NE(unknown, nullptr);
  DeleteObject(unknown);
}

TEST_F(GdiText, FontsCanBeMadeAndUsedFromSeveralThreads)
{
  const int expected = Measure(mMono, "abcd").right - 5;
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, expected, &wrong]() {
      PxSysBitmap b(8, 8);
      for (int i = 0; i < 25; ++i)
      {
        HFONT f = MakeFont(t % 2 ? "Monaco" : "Menlo", 12, i % 3 ? FW_NORMAL : FW_BOLD);
        SelectObject(b.getDC(), f);
        RECT r = {0, 0, 0, 0};
        GdiDrawText(b.getDC(), "abcd", -1, &r, DT_CALCRECT);
        wrong[t] += r.right != expected;  // bold DejaVu Sans Mono keeps the advance
        DeleteObject(f);
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << t;
}
