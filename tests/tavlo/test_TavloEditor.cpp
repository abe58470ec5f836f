// The compressor's editor end to end: a real instance builds its editor from
// the committed artwork, renders off-screen to a PNG, reacts to a drag and
// follows the signal chain's meter.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "fx/IFxStateTail.h"
#include "fx/IParam.h"
#include "fx/ByteChunk.h"
#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "graphics/IReadoutControls.h"
#include "graphics/ISlotControls.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "raster/PxBlit.h"
#include "raster/PxPng.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"

namespace
{

struct Image
{
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return px[(size_t)y * (size_t)w + (size_t)x]; }
};

Image LoadImage(const std::string& path)
{
  Image img;
  std::unique_ptr<PxIBitmap> bmp(PxLoadPNG(path.c_str(), nullptr));
  if (!bmp) return img;
  img.w = bmp->getWidth();
  img.h = bmp->getHeight();
  img.px.resize((size_t)img.w * (size_t)img.h);
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) img.px[(size_t)y * (size_t)img.w + (size_t)x] = PxGetPixel(bmp.get(), x, y);
  return img;
}

int Alpha(uint32_t p) { return (int)(p >> 24); }
int Channel(uint32_t p, int shift) { return (int)((p >> shift) & 255); }
int MaxChannelDiff(uint32_t a, uint32_t b)
{
  int d = 0;
  for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(Channel(a, s) - Channel(b, s)));
  return d;
}

// One film-strip control of the layout, with the frame a fresh instance shows.
struct StripControl
{
  const char* what;
  int index;      // in the editor's control list
  const char* file;
  int x, y;
  int frames;
  int paramIdx;   // -1 for the meter and the A/B slots
  bool knob;
  int defaultFrame;
};

// Defaults: Input 0 -> frame 1; Output 0 dB is the middle -> 31; Attack
// 0.005 s with shape 2 is sqrt(0.0049 / 0.01) = 0.7 -> 43; Release 0.3 s is
// sqrt(0.5) = 0.707 -> 43; Mix 100 % -> 61; HPF 20 Hz -> 1; Bypass and
// Oversample off -> 1; Sidechain 1 -> 2; the meter at rest -> 1; Detector
// Right and Listen off -> 1; A shown -> 1 of A/B and of Copy (not held).
const StripControl kStrips[] = {
  {"Bypass", 1, "by.png", 354, 287, 2, kBypass, false, 1},
  {"Oversample", 2, "OVER.png", 0, 455, 2, kOversample, false, 1},
  {"Input", 3, "Thr.png", 127, 279, 61, kInput, true, 1},
  {"Output", 4, "Out.png", 506, 279, 61, kOutput, true, 31},
  {"Attack", 5, "Atk.png", 112, 124, 61, kAttack, true, 43},
  {"Release", 6, "Rel.png", 112, 176, 61, kRelease, true, 43},
  {"Mix", 7, "Mix.png", 641, 121, 61, kMix, true, 61},
  {"HPF", 8, "Hpf.png", 641, 176, 61, kHPF, true, 1},
  {"Sidechain", 9, "SC.png", 686, 454, 2, kSidechain, false, 2},
  {"Meter", 10, "vu.png", 309, 48, 61, -1, false, 1},
  {"Detector", 14, "Det.png", 268, 455, 4, kDetector, false, 1},
  {"Listen", 15, "Listen.png", 474, 455, 2, kListen, false, 1},
  {"A/B", 16, "AB.png", 318, 374, 2, -1, false, 1},
  {"Copy", 17, "Copy.png", 404, 374, 4, -1, false, 1},
};

const IRECT kVersionRect(40, 425, 140, 445);

std::string ImageDir() { return TavloResourceFolder(); }

using TavloPtr = std::unique_ptr<Tavlo>;

// An instance with its off-screen editor attached, as an open editor has it.
TavloPtr WithEditor(Tavlo* plug)
{
  plug->AttachGraphics(MakeTavloHeadlessEditor(plug));
  return TavloPtr(plug);
}

// Remembers each OnParamChange with the plain value the parameter held.
class SpyTavlo : public Tavlo
{
public:
  SpyTavlo() : Tavlo(IFxInstanceInfo()) {}
  void OnParamChange(int paramIdx) override
  {
    Tavlo::OnParamChange(paramIdx);
    mChanges.push_back({paramIdx, ParamAt(paramIdx)->GetValue()});
  }
  struct Change
  {
    int idx;
    double value;
  };
  std::vector<Change> mChanges;
};

IGraphicsHeadless* EditorOf(Tavlo* plug) { return static_cast<IGraphicsHeadless*>(static_cast<IGraphics*>(plug->GetGraphics())); }

std::string SnapshotPath(const char* name) { return testing::TempDir() + name; }

Image Render(Tavlo* plug, const char* name)
{
  const std::string path = SnapshotPath(name);
  EXPECT_TRUE(RenderEditorToPNG(plug, path.c_str()));
  return LoadImage(path);
}

// "Thr.png" drawn at scale 2 comes from "Thr@2x.png".
std::string TwinFile(const char* file)
{
  std::string f = file;
  return f.substr(0, f.rfind('.')) + "@2x" + f.substr(f.rfind('.'));
}

// Checks that the control's rectangle in the rendered editor shows `frame`
// of its strip: every pixel the frame covers opaquely is reproduced exactly,
// and enough of those pixels differ from the frames two steps either side
// that a wrong frame choice could not pass. At scale 2 the picture must be
// the twice-size strip's frame, at twice the position.
void ExpectFrame(const Image& shot, const StripControl& c, int frame, int scale = 1)
{
  SCOPED_TRACE(std::string(c.what) + " frame " + std::to_string(frame) + " at scale " + std::to_string(scale));
  const Image strip = LoadImage(ImageDir() + (scale == 2 ? TwinFile(c.file) : std::string(c.file)));
  ASSERT_GT(strip.w, 0);
  const int fw = strip.w, fh = strip.h / c.frames;
  int opaque = 0, mismatches = 0, distinctive = 0;
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x)
    {
      const uint32_t want = strip.At(x, (frame - 1) * fh + y);
      if (Alpha(want) != 255) continue;
      ++opaque;
      const uint32_t got = shot.At(c.x * scale + x, c.y * scale + y);
      if ((got & 0xFFFFFFu) != (want & 0xFFFFFFu)) ++mismatches;
      bool differs = true;
      for (int other : {frame - 2, frame + 2})
      {
        int o = std::max(1, std::min(c.frames, other));
        if (o == frame) o = frame == 1 ? 2 : frame - 1;
        if (MaxChannelDiff(strip.At(x, (o - 1) * fh + y), want) < 24) differs = false;
      }
      if (differs) ++distinctive;
    }
  EXPECT_GT(opaque, 40);
  EXPECT_EQ(mismatches, 0);
  EXPECT_GE(distinctive, 8);
}

// A tone loud enough to make the compressor work hard.
void ProcessTone(Tavlo* plug, double amplitude, double seconds)
{
  const double sr = plug->GetSampleRate();
  const int total = (int)(seconds * sr);
  std::vector<double> l(512), r(512), sl(512, 0.0), sr2(512, 0.0), ol(512), orr(512);
  for (int pos = 0; pos < total; pos += 512)
  {
    const int n = std::min(512, total - pos);
    for (int i = 0; i < n; ++i)
    {
      const double v = amplitude * std::sin(2.0 * 3.141592653589793 * 1000.0 * (pos + i) / sr);
      l[(size_t)i] = v;
      r[(size_t)i] = v;
    }
    double* in[4] = {l.data(), r.data(), sl.data(), sr2.data()};
    double* out[2] = {ol.data(), orr.data()};
    plug->TakeBlockParams();
    plug->ProcessDoubleReplacing(in, out, n);
  }
}

void SetPlain(Tavlo* plug, int idx, double plain)
{
  plug->ParamAt(idx)->SetValue(plain);
  plug->OnParamChange(idx);
}

} // namespace

TEST(TavloEditorArtwork, EveryStripFitsItsPlaceWithoutOverlap)
{
  const Image bg = LoadImage(ImageDir() + "bg.png");
  ASSERT_EQ(bg.w, 786);
  ASSERT_EQ(bg.h, 483);
  int translucent = 0;
  for (uint32_t p : bg.px) translucent += Alpha(p) != 255;
  EXPECT_EQ(translucent, 0) << "the background must be opaque";

  std::vector<IRECT> rects;
  for (const StripControl& c : kStrips)
  {
    SCOPED_TRACE(c.what);
    const Image strip = LoadImage(ImageDir() + c.file);
    ASSERT_GT(strip.w, 0);
    ASSERT_EQ(strip.h % c.frames, 0);
    const int fw = strip.w, fh = strip.h / c.frames;
    if (c.knob)
    {
      EXPECT_EQ(fw, fh) << "knob frames are square";
    }
    EXPECT_LE(c.x + fw, 786);
    EXPECT_LE(c.y + fh, 483);
    rects.push_back(IRECT(c.x, c.y, c.x + fw, c.y + fh));
  }
  rects.push_back(kVersionRect);
  // Attack and Release sit 52 pixels apart; their knobs must not touch.
  EXPECT_LE(rects[4].H(), 48);
  EXPECT_LE(rects[5].H(), 48);
  // Input and Output are the main knobs.
  EXPECT_GT(rects[2].W(), 2 * rects[4].W());
  for (size_t i = 0; i < rects.size(); ++i)
    for (size_t j = i + 1; j < rects.size(); ++j)
    {
      const IRECT& a = rects[i];
      const IRECT& b = rects[j];
      const bool overlap = a.L < b.R && b.L < a.R && a.T < b.B && b.T < a.B;
      EXPECT_FALSE(overlap) << "controls " << i << " and " << j << " overlap";
    }
}

// The committed images are the film-strip tool's output: drawn again, every
// one has the same size and pixels, and there is no image either side lacks.
TEST(TavloEditorArtwork, TheFilmStripToolStillDrawsTheCommittedArt)
{
#ifndef TAVLO_FILMSTRIPS_PATH
  FAIL() << "tavlo-filmstrips is not built (install libcairo2-dev): the committed art cannot be checked";
#else
  namespace fs = std::filesystem;
  const fs::path out = fs::path(testing::TempDir()) / ("tavlo_filmstrips_" + std::to_string(getpid()));
  fs::remove_all(out);
  ASSERT_TRUE(fs::create_directories(out));
  // fontconfig keeps what cairo's text asked it for until the process ends,
  // which the leak checker of a sanitizer build would report as the tool's.
  const std::string cmd = std::string("ASAN_OPTIONS=detect_leaks=0 '") + TAVLO_FILMSTRIPS_PATH + "' '" +
                          out.string() + "' > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  auto pngs = [](const fs::path& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".png") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> committed = pngs(ImageDir());
  EXPECT_EQ(pngs(out), committed);
  EXPECT_EQ(committed.size(), 30u);  // fifteen images, each at two scales
  for (const std::string& name : committed)
  {
    SCOPED_TRACE(name);
    const Image want = LoadImage(ImageDir() + name), got = LoadImage((out / name).string());
    ASSERT_GT(want.w, 0);
    ASSERT_EQ(got.w, want.w);
    ASSERT_EQ(got.h, want.h);
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < want.px.size(); ++i)
      if (got.px[i] != want.px[i] && differ++ == 0) first = i;
    EXPECT_EQ(differ, 0u) << "first at " << first % (size_t)want.w << "," << first / (size_t)want.w << ": drawn 0x"
                          << std::hex << got.px[first] << ", committed 0x" << want.px[first];
  }
  fs::remove_all(out);
#endif
}

TEST(TavloEditorArtwork, SwitchFramesAreClearlyDistinct)
{
  // Each value must read differently at a glance: a good share of the
  // switch's pixels change strongly between any two of its frames. Copy's
  // frames are the direction of the copy and whether it is held down; each
  // of those must show.
  const struct
  {
    const char* file;
    int frames;
    std::vector<std::pair<int, int>> pairs;  // 1-based; none: every pair
  } switches[] = {{"by.png", 2, {}},     {"OVER.png", 2, {}}, {"SC.png", 2, {}}, {"Det.png", 4, {}},
                  {"Listen.png", 2, {}}, {"AB.png", 2, {}},   {"Copy.png", 4, {{1, 3}, {1, 2}, {3, 4}}}};
  for (const auto& sw : switches)
  {
    const Image s = LoadImage(ImageDir() + sw.file);
    ASSERT_GT(s.w, 0) << sw.file;
    const int fh = s.h / sw.frames;
    std::vector<std::pair<int, int>> pairs = sw.pairs;
    if (pairs.empty())
      for (int a = 1; a <= sw.frames; ++a)
        for (int b = a + 1; b <= sw.frames; ++b) pairs.push_back({a, b});
    for (const auto& [a, b] : pairs)
    {
      SCOPED_TRACE(std::string(sw.file) + " frames " + std::to_string(a) + " and " + std::to_string(b));
      int changed = 0;
      for (int y = 0; y < fh; ++y)
        for (int x = 0; x < s.w; ++x)
        {
          const uint32_t p = s.At(x, (a - 1) * fh + y), q = s.At(x, (b - 1) * fh + y);
          if (MaxChannelDiff(p, q) > 60 || std::abs(Alpha(p) - Alpha(q)) > 60) ++changed;
        }
      EXPECT_GT(changed, 60);
    }
  }
}

// Angle, in degrees clockwise from straight up, of the centroid of the
// near-white opaque pixels of one frame (the knob's pointer or the meter's
// needle) seen from (cx, cy); false when there are too few such pixels.
bool WhiteCentroidAngle(const Image& strip, int frameH, int frame, double cx, double cy, double* deg)
{
  double sx = 0.0, sy = 0.0;
  int n = 0;
  for (int y = 0; y < frameH; ++y)
    for (int x = 0; x < strip.w; ++x)
    {
      const uint32_t p = strip.At(x, (frame - 1) * frameH + y);
      if (Alpha(p) == 255 && Channel(p, 16) >= 225 && Channel(p, 8) >= 225 && Channel(p, 0) >= 210)
      {
        sx += x + 0.5;
        sy += y + 0.5;
        ++n;
      }
    }
  if (n < 5) return false;
  *deg = std::atan2(sx / n - cx, cy - sy / n) * 180.0 / 3.141592653589793;
  return true;
}

TEST(TavloEditorArtwork, KnobPointersSweep270DegreesAndTheNeedleFollowsTheMeterValue)
{
  // Frame f of a 61-frame knob stands for value (f - 1) / 60: the pointer
  // turns from 135 degrees left of straight up to 135 degrees right of it.
  for (const char* file : {"Thr.png", "Out.png", "Atk.png", "Rel.png", "Mix.png", "Hpf.png"})
  {
    const Image s = LoadImage(ImageDir() + file);
    ASSERT_GT(s.w, 0) << file;
    const int fh = s.h / 61;
    for (int frame : {1, 11, 31, 46, 61})
    {
      SCOPED_TRACE(std::string(file) + " frame " + std::to_string(frame));
      double deg = 0.0;
      ASSERT_TRUE(WhiteCentroidAngle(s, fh, frame, s.w / 2.0, fh / 2.0, &deg));
      EXPECT_NEAR(deg, -135.0 + 270.0 * (frame - 1) / 60.0, 3.0);
    }
  }
  // The meter's needle pivots below the window at (84, 150): at rest (no
  // gain reduction) it leans 45 degrees right, at full reduction 45 left.
  const Image vu = LoadImage(ImageDir() + "vu.png");
  ASSERT_GT(vu.w, 0);
  const int fh = vu.h / 61;
  for (int frame : {1, 16, 31, 46, 61})
  {
    SCOPED_TRACE("vu.png frame " + std::to_string(frame));
    double deg = 0.0;
    ASSERT_TRUE(WhiteCentroidAngle(vu, fh, frame, vu.w / 2.0, 150.0, &deg));
    EXPECT_NEAR(deg, 45.0 - 90.0 * (frame - 1) / 60.0, 2.0);
  }
}

TEST(TavloEditorArtwork, MeterScaleIsPrintedWhereTheNeedleShowsThatReduction)
{
  // The meter value is the linear reduction 1 - gain, so d dB of reduction
  // puts the needle at value 1 - 10^(-d / 20): 6 dB lands at 0.499, nearly
  // straight up. Each printed tick must sit where the needle points for its
  // number, with dark face a couple of pixels to either side.
  const Image bg = LoadImage(ImageDir() + "bg.png");
  ASSERT_EQ(bg.w, 786);
  const double px = 309 + 84.0, py = 48 + 150.0;
  // Brightest channel at a point; with spread 1, the brightest of the 3 x 3
  // pixels around it, so that an antialiased 1-pixel tick is found whole.
  auto maxChannel = [&](double deg, double r, int spread = 0) {
    const double a = deg * 3.141592653589793 / 180.0;
    const int x = (int)std::floor(px + std::sin(a) * r), y = (int)std::floor(py - std::cos(a) * r);
    int m = 0;
    for (int dy = -spread; dy <= spread; ++dy)
      for (int dx = -spread; dx <= spread; ++dx)
      {
        const uint32_t p = bg.At(x + dx, y + dy);
        m = std::max({m, Channel(p, 16), Channel(p, 8), Channel(p, 0)});
      }
    return m;
  };
  for (double db : {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 15.0, 20.0})
  {
    SCOPED_TRACE("tick at " + std::to_string(db) + " dB");
    const double v = 1.0 - std::pow(10.0, -db / 20.0);
    const double deg = 45.0 - 90.0 * v;
    EXPECT_GE(maxChannel(deg, 103.5, 1), 130);
    EXPECT_LT(maxChannel(deg - 1.6, 104.5), 100);
    EXPECT_LT(maxChannel(deg + 1.6, 104.5), 100);
  }
}

TEST(TavloEditorLayout, ControlsAreTheClassesAtThePlacesBoundToTheParameters)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  IGraphics* g = static_cast<IGraphics*>(plug->GetGraphics());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Width(), 786);
  EXPECT_EQ(g->Height(), 483);
  // The original eleven and the version line, the two readouts, then
  // Detector, Listen, A/B and Copy.
  ASSERT_EQ(g->NControls(), 18);

  IBitmapControl* bg = dynamic_cast<IBitmapControl*>(g->GetControl(0));
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(*bg->GetRECT(), IRECT(0, 0, 786, 483));
  EXPECT_EQ(bg->ParamIdx(), -1);
  EXPECT_EQ(bg->GetBlend()->mMethod, IChannelBlend::kBlendCopy);
  std::vector<PxIBitmap*> rasters{bg->GetBitmap()->mData};

  for (const StripControl& c : kStrips)
  {
    SCOPED_TRACE(c.what);
    IControl* ctl = g->GetControl(c.index);
    ASSERT_NE(ctl, nullptr);
    const IBitmap* bmp = nullptr;
    if (c.knob)
    {
      IKnobMultiControl* k = dynamic_cast<IKnobMultiControl*>(ctl);
      ASSERT_NE(k, nullptr);
      bmp = k->GetBitmap();
    }
    else if (c.paramIdx >= 0)
    {
      ISwitchControl* s = dynamic_cast<ISwitchControl*>(ctl);
      ASSERT_NE(s, nullptr);
      bmp = s->GetBitmap();
      // Detector is chosen by its names, one part of the strip's width each.
      ISwitchFramesControl* parts = dynamic_cast<ISwitchFramesControl*>(ctl);
      EXPECT_EQ(parts != nullptr, c.paramIdx == kDetector);
      if (parts)
      {
        ASSERT_EQ(parts->GetParts().size(), 4u);
        EXPECT_EQ(parts->GetParts()[2], IRECT(c.x + 96, c.y, c.x + 144, c.y + bmp->H / c.frames));
      }
    }
    else
    {
      ASSERT_EQ(dynamic_cast<ISwitchControl*>(ctl), nullptr);
      IBitmapControl* b = dynamic_cast<IBitmapControl*>(ctl);
      ASSERT_NE(b, nullptr);
      bmp = b->GetBitmap();
    }
    EXPECT_EQ(ctl->ParamIdx(), c.paramIdx);
    // The editor decoded the real file, each into a raster of its own.
    const Image file = LoadImage(ImageDir() + c.file);
    EXPECT_EQ(bmp->W, file.w);
    EXPECT_EQ(bmp->H, file.h);
    ASSERT_NE(bmp->mData, nullptr);
    for (PxIBitmap* seen : rasters) EXPECT_NE(seen, bmp->mData);
    rasters.push_back(bmp->mData);
    EXPECT_EQ(bmp->N, c.frames);
    EXPECT_FALSE(bmp->mFramesAreHorizontal);
    EXPECT_EQ(*ctl->GetRECT(), IRECT(c.x, c.y, c.x + bmp->W, c.y + bmp->H / c.frames));
    EXPECT_EQ(ctl->GetBlend()->mMethod, IChannelBlend::kBlendDefault);
  }
  // The plug-in reports its meter at this index, where the editor finds it.
  EXPECT_EQ(kTavloMeterControl, 10);
  EXPECT_EQ(plug->GetMeterInfo(0).controlIdx, 10);

  ITextControl* text = dynamic_cast<ITextControl*>(g->GetControl(11));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text->GetTextString(), "Version 3.3.0");
  EXPECT_EQ(*text->GetRECT(), kVersionRect);
  EXPECT_EQ(text->ParamIdx(), -1);
  IText* t = text->GetText();
  EXPECT_STREQ(t->mFont, "Monaco");
  EXPECT_EQ(t->mSize, 14);
  EXPECT_EQ(t->mColor, COLOR_WHITE);
  EXPECT_EQ(t->mAlign, IText::kAlignCenter);
  EXPECT_EQ(t->mStyle, IText::kStyleNormal);

  // The readouts take no mouse and no parameter; they do not cover a control.
  ASSERT_NE(dynamic_cast<IPeakReadoutControl*>(g->GetControl(12)), nullptr);
  ASSERT_NE(dynamic_cast<IParamReadoutControl*>(g->GetControl(13)), nullptr);
  for (int i : {12, 13})
  {
    IControl* r = g->GetControl(i);
    EXPECT_EQ(r->ParamIdx(), -1);
    EXPECT_FALSE(r->IsHit((int)r->GetRECT()->MW(), (int)r->GetRECT()->MH()));
    for (int j = 1; j < g->NControls(); ++j)
    {
      if (j == 12 || j == 13) continue;
      EXPECT_FALSE(r->GetRECT()->Intersects(g->GetControl(j)->GetRECT())) << i << " " << j;
    }
  }
  EXPECT_TRUE(g->CanHandleMouseOver());
}

TEST(TavloEditorRender, FreshInstanceShowsBackgroundDefaultsAndVersion)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  const Image shot = Render(plug.get(), "tavlo_editor_fresh.png");
  ASSERT_EQ(shot.w, 786);
  ASSERT_EQ(shot.h, 483);
  const Image bg = LoadImage(ImageDir() + "bg.png");
  ASSERT_EQ(bg.w, 786);

  // Background: everywhere outside the controls the picture is bg.png.
  IGraphics* g = static_cast<IGraphics*>(plug->GetGraphics());
  int checked = 0, mismatches = 0;
  for (int y = 0; y < shot.h; ++y)
    for (int x = 0; x < shot.w; ++x)
    {
      bool covered = false;
      for (int i = 1; i < g->NControls() && !covered; ++i) covered = g->GetControl(i)->GetRECT()->Contains(x, y);
      // The version text may spill a few pixels beyond its rectangle.
      covered = covered || (y >= 420 && y < 450 && x >= 30 && x < 150);
      if (covered) continue;
      ++checked;
      if ((shot.At(x, y) & 0xFFFFFFu) != (bg.At(x, y) & 0xFFFFFFu)) ++mismatches;
    }
  EXPECT_GT(checked, 250000);
  EXPECT_EQ(mismatches, 0);

  // Every knob, switch and the meter at the frame its default selects.
  for (const StripControl& c : kStrips) ExpectFrame(shot, c, c.defaultFrame);

  // The version line: white text, centred in its rectangle, over a panel
  // that has no white of its own there.
  int textPixels = 0, minX = 786, maxX = -1, minY = 483, maxY = -1;
  for (int y = 415; y < 455; ++y)
    for (int x = 20; x < 160; ++x)
    {
      const uint32_t p = shot.At(x, y);
      ASSERT_LT(std::min({Channel(bg.At(x, y), 16), Channel(bg.At(x, y), 8), Channel(bg.At(x, y), 0)}), 170);
      if (Channel(p, 16) >= 200 && Channel(p, 8) >= 200 && Channel(p, 0) >= 200)
      {
        ++textPixels;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
    }
  EXPECT_GT(textPixels, 60);
  EXPECT_NEAR((minX + maxX) / 2.0, kVersionRect.MW(), 3.0);
  EXPECT_GE(minY, kVersionRect.T);
  EXPECT_LT(maxY, kVersionRect.B);
  EXPECT_GT(maxX - minX, 80) << "the whole line, not a fragment";
}

TEST(TavloEditorInteraction, DragOnInputKnobSetsInputAndReachesOnParamChange)
{
  TavloPtr plug = WithEditor(new SpyTavlo());
  SpyTavlo* spy = static_cast<SpyTavlo*>(plug.get());
  plug->RestorePreset(0);
  spy->mChanges.clear();
  IGraphicsHeadless* g = EditorOf(plug.get());
  ASSERT_NE(g, nullptr);

  // The Input knob is 146 pixels high: dragging up 73 pixels at gearing 4
  // moves it by 73 / 146 / 4 = 0.125 of its range, 50 of 0..400.
  IMouseMod left(true);
  const int cx = 127 + 73, cy = 279 + 73;
  EXPECT_EQ(g->GetMouseControlIdx(cx, cy), 3);
  g->OnMouseDown(cx, cy, &left);
  g->OnMouseDrag(cx, cy - 40, &left);
  g->OnMouseDrag(cx, cy - 73, &left);
  g->OnMouseUp(cx, cy - 73, &left);

  EXPECT_DOUBLE_EQ(plug->ParamAt(kInput)->GetNormalized(), 0.125);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kInput)->GetValue(), 50.0);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().input, 50.0);
  ASSERT_FALSE(spy->mChanges.empty());
  for (const SpyTavlo::Change& ch : spy->mChanges) EXPECT_EQ(ch.idx, kInput);
  EXPECT_DOUBLE_EQ(spy->mChanges.back().value, 50.0);
  // The first step (40 pixels) was reported on its own.
  EXPECT_NEAR(spy->mChanges.front().value, 400.0 * 40.0 / 146.0 / 4.0, 1e-9);
  // No other parameter moved.
  EXPECT_DOUBLE_EQ(plug->ParamAt(kOutput)->GetValue(), 0.0);

  // The knob now draws frame int(60 x 0.125 + 0.5) + 1 = 9.
  const Image shot = Render(plug.get(), "tavlo_editor_input_dragged.png");
  ExpectFrame(shot, kStrips[2], 9);

  // A click on the Sidechain switch selects the side-chain input (value 0)
  // and flips it to its first frame.
  spy->mChanges.clear();
  g->OnMouseDown(686 + 60, 454 + 14, &left);
  g->OnMouseUp(686 + 60, 454 + 14, &left);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kSidechain)->GetValue(), 0.0);
  ASSERT_EQ(spy->mChanges.size(), 1u);
  EXPECT_EQ(spy->mChanges[0].idx, kSidechain);
  const Image shot2 = Render(plug.get(), "tavlo_editor_sidechain.png");
  ExpectFrame(shot2, kStrips[8], 1);

  // A value the host sets is where the next edit starts, even before the
  // editor's next tick has shown it: a drag adds to it and a wheel step
  // steps from it, rather than from the value shown before (which, being
  // newer, would throw the host's away).
  ASSERT_TRUE(plug->ApplyParamValue(kInput, 100.0, false));
  g->OnMouseDown(cx, cy, &left);
  g->OnMouseDrag(cx, cy - 40, &left);
  g->OnMouseUp(cx, cy - 40, &left);
  EXPECT_NEAR(plug->ParamAt(kInput)->GetValue(), 100.0 + 400.0 * 40.0 / 146.0 / 4.0, 1e-9);
  ASSERT_TRUE(plug->ApplyParamValue(kOutput, 6.0, false));
  IMouseMod none;
  g->OnMouseWheel(506 + 73, 279 + 73, &none, 1);
  EXPECT_NEAR(plug->ParamAt(kOutput)->GetValue(), 6.4, 1e-9);  // one hundredth of 40 dB up
}

TEST(TavloEditorInteraction, EnterValueFromTheRightClickMenuReadsWhatIsTypedInTheUnit)
{
  TavloPtr plug = WithEditor(new SpyTavlo());
  SpyTavlo* spy = static_cast<SpyTavlo*>(plug.get());
  IGraphicsHeadless* g = EditorOf(plug.get());
  struct Case
  {
    int control, param;
    double before;
    const char *shown, *typed;
    double after;
  };
  // The entry starts with what a host shows (ASCII minus, so it reads back
  // as it stands); a bare number is in the unit shown; text that is no
  // value, or a unit of another quantity, changes nothing.
  const Case cases[] = {
    {4, kOutput, -3.0, "-3.0 dB", "-6 dB", -6.0},   {4, kOutput, -3.0, "-3.0 dB", "-3.0 dB", -3.0},
    {4, kOutput, -3.0, "-3.0 dB", "loud", -3.0},    {4, kOutput, -3.0, "-3.0 dB", "5 ms", -3.0},
    {4, kOutput, 0.0, "0.0 dB", "30 dB", 20.0},     {5, kAttack, 0.005, "5.0 ms", "2ms", 0.002},
    {5, kAttack, 0.005, "5.0 ms", "0.008 s", 0.008}, {6, kRelease, 0.3, "300 ms", "450", 0.45},
    {7, kMix, 100.0, "100 %", "70%", 70.0},         {8, kHPF, 20.0, "20 Hz", "0.08 kHz", 80.0},
    {3, kInput, 0.0, "0", "120", 120.0},            {1, kBypass, 0.0, "Off", "on", 1.0},
    {9, kSidechain, 1.0, "Internal", "external", 0.0}, {15, kListen, 0.0, "Off", "on", 1.0},
  };
  IMouseMod right(false, true);
  for (const Case& c : cases)
  {
    SCOPED_TRACE(std::string(c.shown) + " <- " + c.typed);
    SetPlain(plug.get(), c.param, c.before);
    spy->mChanges.clear();
    const IRECT r = *g->GetControl(c.control)->GetRECT();
    const size_t entries = g->TextEntries().size();
    g->QueueMenuChoice(0);  // "Enter value..."
    g->QueueTextEntry(c.typed);
    g->OnMouseDown((int)r.MW(), (int)r.MH(), &right);
    ASSERT_EQ(g->TextEntries().size(), entries + 1);
    EXPECT_EQ(g->TextEntries().back().param, plug->ParamAt(c.param));
    EXPECT_EQ(g->TextEntries().back().text, c.shown);
    EXPECT_GE(g->TextEntries().back().maxLength, 16);
    EXPECT_NEAR(plug->ParamAt(c.param)->GetValue(), c.after, 1e-9);
    if (c.after != c.before)
    {
      ASSERT_EQ(spy->mChanges.size(), 1u);
      EXPECT_EQ(spy->mChanges[0].idx, c.param);
    }
    else
      EXPECT_LE(spy->mChanges.size(), 1u);
  }
}

TEST(TavloEditorInteraction, DetectorByItsNamesAndListenByClicks)
{
  TavloPtr plug = WithEditor(new SpyTavlo());
  SpyTavlo* spy = static_cast<SpyTavlo*>(plug.get());
  IGraphicsHeadless* g = EditorOf(plug.get());
  IMouseMod left(true);
  auto click = [&](int x, int y) {
    g->OnMouseDown(x, y, &left);
    g->OnMouseUp(x, y, &left);
  };
  // A press on a name chooses it; the names are 48 pixels apart.
  const int y = 455 + 14;
  const struct
  {
    int x;
    double value;
  } names[] = {{268 + 72, 1.0}, {268 + 120, 2.0}, {268 + 168, 3.0}, {268 + 24, 0.0}, {268 + 100, 2.0}};
  for (const auto& n : names)
  {
    SCOPED_TRACE(n.x);
    spy->mChanges.clear();
    click(n.x, y);
    EXPECT_DOUBLE_EQ(plug->ParamAt(kDetector)->GetValue(), n.value);
    ASSERT_EQ(spy->mChanges.size(), 1u);
    EXPECT_EQ(spy->mChanges[0].idx, kDetector);
  }
  // The second press of a double click on a name keeps it.
  g->OnMouseDblClick(268 + 120, y, &left);
  g->OnMouseUp(268 + 120, y, &left);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kDetector)->GetValue(), 2.0);
  ExpectFrame(Render(plug.get(), "tavlo_editor_detector_linked.png"), kStrips[10], 3);

  // Its right-click menu's "Enter value..." offers the four by name, the
  // one set checked; the choice is one edit.
  IMouseMod right(false, true);
  spy->mChanges.clear();
  const size_t menus = g->Menus().size();
  g->QueueMenuChoice(0);  // "Enter value..."
  g->QueueMenuChoice(3);
  g->OnMouseDown(268 + 24, y, &right);
  ASSERT_EQ(g->Menus().size(), menus + 2);
  EXPECT_EQ(g->Menus().back().items, (std::vector<std::string>{"Right", "Left", "Linked", "Mid"}));
  EXPECT_EQ(g->Menus().back().checked, 2);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kDetector)->GetValue(), 3.0);
  ASSERT_EQ(spy->mChanges.size(), 1u);
  g->QueueMenuChoice(0);
  g->QueueMenuChoice(2);
  g->OnMouseDown(268 + 24, y, &right);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kDetector)->GetValue(), 2.0);

  for (double want : {1.0, 0.0, 1.0})
  {
    click(474 + 20, y);
    EXPECT_DOUBLE_EQ(plug->ParamAt(kListen)->GetValue(), want);
  }
  ExpectFrame(Render(plug.get(), "tavlo_editor_listen_on.png"), kStrips[11], 2);
  // Neither click moved any other parameter.
  for (int i = 0; i < kNumParams; ++i)
  {
    if (i == kDetector || i == kListen) continue;
    EXPECT_EQ(plug->ParamAt(i)->GetValue(), plug->ParamAt(i)->GetDefaultValue()) << plug->ParamAt(i)->GetNameForHost();
  }
}

TEST(TavloEditorInteraction, TheABSwitchAndCopyActOnTheSlotsAndFollowARestoredState)
{
  TavloPtr plug = WithEditor(new SpyTavlo());
  SpyTavlo* spy = static_cast<SpyTavlo*>(plug.get());
  IGraphicsHeadless* g = EditorOf(plug.get());
  ISlotSwitchControl* ab = dynamic_cast<ISlotSwitchControl*>(g->GetControl(16));
  ISlotCopyControl* copy = dynamic_cast<ISlotCopyControl*>(g->GetControl(17));
  ASSERT_NE(ab, nullptr);
  ASSERT_NE(copy, nullptr);
  IMouseMod left(true), right(false, true);
  auto click = [&](int x, int y) {
    g->OnMouseDown(x, y, &left);
    g->OnMouseUp(x, y, &left);
    g->Tick();
  };
  const int aX = 318 + 18, bX = 318 + 46, slotY = 374 + 14, copyX = 404 + 32;

  SetPlain(plug.get(), kInput, 120.0);
  spy->mChanges.clear();
  // A press on A while A is shown, or a right click, changes nothing.
  click(aX, slotY);
  g->OnMouseDown(bX, slotY, &right);
  g->OnMouseUp(bX, slotY, &right);
  EXPECT_EQ(plug->ShownSlot(), 0);
  EXPECT_TRUE(spy->mChanges.empty());

  // B starts as A was; what is set in B leaves A's value aside.
  click(bX, slotY);
  EXPECT_EQ(plug->ShownSlot(), 1);
  EXPECT_DOUBLE_EQ(ab->GetValue(), 1.0);
  SetPlain(plug.get(), kInput, 50.0);
  SetPlain(plug.get(), kDetector, 2.0);
  spy->mChanges.clear();
  click(aX, slotY);
  EXPECT_EQ(plug->ShownSlot(), 0);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kInput)->GetValue(), 120.0);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kDetector)->GetValue(), 0.0);
  EXPECT_DOUBLE_EQ(plug->OtherSlotValue(kInput), 50.0);
  ASSERT_EQ(spy->mChanges.size(), 2u) << "only the values that differ";
  // The knob and the selector show A's values.
  Image shot = Render(plug.get(), "tavlo_editor_slot_a.png");
  ExpectFrame(shot, kStrips[2], 19);  // 120 of 400 -> frame 19
  ExpectFrame(shot, kStrips[10], 1);
  ExpectFrame(shot, kStrips[12], 1);
  ExpectFrame(shot, kStrips[13], 1);

  // Copy, held: the pressed frame, nothing copied yet; released elsewhere:
  // still nothing. Released over it: B is A.
  g->OnMouseDown(copyX, slotY, &left);
  EXPECT_TRUE(copy->IsHeld());
  ExpectFrame(Render(plug.get(), "tavlo_editor_copy_held.png"), kStrips[13], 2);
  g->OnMouseUp(copyX, slotY + 60, &left);
  EXPECT_DOUBLE_EQ(plug->OtherSlotValue(kInput), 50.0);
  click(copyX, slotY);
  EXPECT_FALSE(copy->IsHeld());
  for (int i = 0; i < kNumParams; ++i)
    EXPECT_EQ(plug->OtherSlotValue(i), plug->ParamAt(i)->GetValue()) << plug->ParamAt(i)->GetNameForHost();
  click(bX, slotY);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kInput)->GetValue(), 120.0);
  shot = Render(plug.get(), "tavlo_editor_slot_b.png");
  ExpectFrame(shot, kStrips[12], 2);
  ExpectFrame(shot, kStrips[13], 3);  // "B -> A"

  // A state saved with B shown and restored while A is shown: the panel
  // follows at the next tick.
  ByteChunk chunk;
  IFxStateTail tail;
  {
    IFxBase::ParamBatch batch(*plug);
    ASSERT_TRUE(plug->SerializeHostState(&chunk, &tail));
  }
  click(aX, slotY);
  ASSERT_EQ(plug->ShownSlot(), 0);
  EXPECT_DOUBLE_EQ(ab->GetValue(), 0.0);
  {
    IFxBase::ParamBatch batch(*plug);
    ASSERT_GE(plug->UnserializeHostState(&chunk, tail), 0);
  }
  ASSERT_EQ(plug->ShownSlot(), 1);
  g->Tick();
  shot = Render(plug.get(), "tavlo_editor_slot_restored.png");
  ExpectFrame(shot, kStrips[12], 2);
  ExpectFrame(shot, kStrips[13], 3);
}

TEST(TavloEditorMeter, LoudBlockMovesTheMeterControl)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  plug->SetSampleRate(48000.0);
  IGraphicsHeadless* g = EditorOf(plug.get());
  ASSERT_NE(g, nullptr);
  IControl* meter = g->GetControl(kTavloMeterControl);
  ASSERT_NE(meter, nullptr);

  // The meter starts at full deflection and falls to rest within 0.3 s of
  // processing when nothing is compressed (Input 0).
  // The editor takes the meter in its timer tick.
  ProcessTone(plug.get(), 0.5, 1.0);
  g->Tick();
  EXPECT_LT(meter->GetValue(), 1e-3);
  EXPECT_DOUBLE_EQ(meter->GetValue(), plug->Chain().MeterState());

  const Image rest = Render(plug.get(), "tavlo_editor_meter_rest.png");
  ExpectFrame(rest, kStrips[9], 1);

  // Input at 200 drives the detector hard: a 0.5 amplitude tone is pulled
  // down by far more than 6 dB (meter value 0.5) within a quarter second.
  SetPlain(plug.get(), kInput, 200.0);
  ProcessTone(plug.get(), 0.5, 0.25);
  // The next timer tick moves and repaints the meter, and it shows the
  // frame of v.
  IRECT dirty;
  ASSERT_TRUE(g->Tick(&dirty));
  EXPECT_TRUE(dirty.Intersects(meter->GetRECT()));
  const double v = meter->GetValue();
  EXPECT_GT(v, 0.5);
  EXPECT_LE(v, 1.02);
  EXPECT_DOUBLE_EQ(v, plug->Chain().MeterState());
  EXPECT_LT(plug->Chain().GainState(), 0.5);
  const int k = std::min(60, (int)(60.0 * v + 0.5));
  const Image moved = Render(plug.get(), "tavlo_editor_meter_moved.png");
  ExpectFrame(moved, kStrips[9], k + 1);
}

TEST(TavloEditorResources, ImagesComeFromTheBundleOrElseTheSourceTree)
{
  // A module inside Tavlo.vst3/Contents/x86_64-linux/ reads the bundle's
  // Contents/Resources/, but only when the images are really there.
  const std::string root = testing::TempDir() + "tavlo_res_" + std::to_string(getpid());
  const std::string bundle = root + "/Tavlo.vst3";
  for (const std::string& d : {root, bundle, bundle + "/Contents", bundle + "/Contents/x86_64-linux",
                               bundle + "/Contents/Resources"})
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
  const std::string module = bundle + "/Contents/x86_64-linux/Tavlo.so";

  const std::string source = TavloResourceFolderFor(module.c_str());
  const std::string tail = "plugins/tavlo/resources/img/";
  ASSERT_GE(source.size(), tail.size());
  EXPECT_EQ(source.substr(source.size() - tail.size()), tail) << "empty Resources: fall back to the source tree";
  EXPECT_EQ(LoadImage(source + "bg.png").w, 786);

  std::FILE* f = std::fopen((bundle + "/Contents/Resources/bg.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(TavloResourceFolderFor(module.c_str()), bundle + "/Contents/Resources/");

  // A CLAP module is one file; its images are in Name.clap.resources/ beside it.
  const std::string clap = root + "/Tavlo.clap";
  EXPECT_EQ(TavloResourceFolderFor(clap.c_str()), source) << "no Tavlo.clap.resources: the source tree";
  ASSERT_EQ(mkdir((clap + ".resources").c_str(), 0755), 0);
  f = std::fopen((clap + ".resources/bg.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(TavloResourceFolderFor(clap.c_str()), clap + ".resources/");

  EXPECT_EQ(TavloResourceFolderFor(nullptr), source);
  EXPECT_EQ(TavloResourceFolderFor(""), source);
  // This test executable is no bundle, so the editor reads the source tree.
  EXPECT_EQ(TavloResourceFolder(), source);

  std::remove((bundle + "/Contents/Resources/bg.png").c_str());
  std::remove((clap + ".resources/bg.png").c_str());
  for (const std::string& d : {clap + ".resources", bundle + "/Contents/Resources", bundle + "/Contents/x86_64-linux",
                               bundle + "/Contents", bundle, root})
    rmdir(d.c_str());
}

namespace
{
IParamReadoutControl* ParamReadout(IGraphics* g) { return dynamic_cast<IParamReadoutControl*>(g->GetControl(13)); }
IPeakReadoutControl* GainReadout(IGraphics* g) { return dynamic_cast<IPeakReadoutControl*>(g->GetControl(12)); }

// Pixels of a rectangle of a render that differ from the same place of another.
int DifferingPixels(const Image& a, const Image& b, const IRECT& r)
{
  int n = 0;
  for (int y = r.T; y < r.B; ++y)
    for (int x = r.L; x < r.R; ++x) n += (a.At(x, y) & 0xFFFFFFu) != (b.At(x, y) & 0xFFFFFFu);
  return n;
}
}  // namespace

TEST(TavloEditorReadouts, EachControlReadsInItsUnitWhenHovered)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  IGraphicsHeadless* g = EditorOf(plug.get());
  IParamReadoutControl* readout = ParamReadout(g);
  ASSERT_NE(readout, nullptr);
  struct Case
  {
    int index, param;
    double plain;
    const char* text;
  };
  // U+2212 is the minus of typeset numbers.
  const Case cases[] = {
    {3, kInput, 120.0, "Input 120"},         {4, kOutput, -3.0, "Output \xE2\x88\x92" "3.0 dB"},
    {5, kAttack, 0.005, "Attack 5.0 ms"},    {6, kRelease, 0.3, "Release 300 ms"},
    {7, kMix, 70.0, "Mix 70 %"},             {8, kHPF, 80.0, "HPF 80 Hz"},
    {2, kOversample, 1.0, "Oversample On"},  {9, kSidechain, 1.0, "Sidechain Internal"},
    {9, kSidechain, 0.0, "Sidechain External"}, {1, kBypass, 1.0, "Bypass On"},
    {1, kBypass, 0.0, "Bypass Off"},         {4, kOutput, 12.5, "Output 12.5 dB"},
    {14, kDetector, 2.0, "Detector Linked"}, {14, kDetector, 3.0, "Detector Mid"},
    {15, kListen, 1.0, "Listen On"},
  };
  IMouseMod none;
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.text);
    SetPlain(plug.get(), c.param, c.plain);
    const IRECT* r = g->GetControl(c.index)->GetRECT();
    g->OnMouseOver((int)r->MW(), (int)r->MH(), &none);
    g->Tick();
    EXPECT_STREQ(readout->GetReadout(), c.text);
    EXPECT_EQ(readout->GetShownParam(), c.param);
    EXPECT_EQ(readout->GetOpacity(), 1.0);
  }
  // Over the meter, the background or nothing: no parameter, so it fades.
  for (IRECT at : {*g->GetControl(10)->GetRECT(), IRECT(2, 2, 3, 3)})
  {
    g->OnMouseOver(at.L + 1, at.T + 1, &none);
    for (int i = 0; i < 12; ++i) g->Tick();
    EXPECT_EQ(readout->GetOpacity(), 1.0) << "held for 12 ticks";
    g->Tick();
    EXPECT_LT(readout->GetOpacity(), 1.0);
    EXPECT_GT(readout->GetOpacity(), 0.0);
    for (int i = 0; i < 7; ++i) g->Tick();
    EXPECT_EQ(readout->GetOpacity(), 0.0);
    EXPECT_STREQ(readout->GetReadout(), "");
    // Back over a knob for the next round.
    g->OnMouseOver(127 + 73, 279 + 73, &none);
    g->Tick();
    EXPECT_STREQ(readout->GetReadout(), "Input 120");
  }
  g->OnMouseOut();
  for (int i = 0; i < 20; ++i) g->Tick();
  EXPECT_STREQ(readout->GetReadout(), "");
}

TEST(TavloEditorReadouts, DragAndWheelShowTheValueAndTheFadeRestoresThePanel)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  IGraphicsHeadless* g = EditorOf(plug.get());
  IParamReadoutControl* readout = ParamReadout(g);
  const Image before = Render(plug.get(), "tavlo_readout_before.png");

  // A drag that leaves the knob still shows it, with the value it sets:
  // 73 pixels up the 146-pixel Input knob is 50.
  IMouseMod left(true);
  const int cx = 127 + 73, cy = 279 + 73;
  g->OnMouseDown(cx, cy, &left);
  g->OnMouseDrag(cx, cy - 40, &left);
  g->OnMouseDrag(cx + 200, cy - 73, &left);
  g->Tick();
  EXPECT_STREQ(readout->GetReadout(), "Input 50");
  const Image during = Render(plug.get(), "tavlo_readout_drag.png");
  const IRECT plate = *readout->GetRECT();
  // The plate and its text are drawn: much of it differs from the panel,
  // and the value is amber.
  EXPECT_GT(DifferingPixels(during, before, plate), plate.W() * plate.H() / 2);
  int amber = 0;
  for (int y = plate.T; y < plate.B; ++y)
    for (int x = (int)plate.MW(); x < plate.R; ++x)
    {
      const uint32_t p = during.At(x, y);
      amber += Channel(p, 16) > 180 && Channel(p, 8) > 100 && Channel(p, 8) < 200 && Channel(p, 0) < 110;
    }
  EXPECT_GT(amber, 15);

  // Released over the background: it stays a moment, fades, and the panel
  // under it is exactly as before.
  g->OnMouseUp(cx + 200, cy - 73, &left);
  g->Tick();
  EXPECT_STREQ(readout->GetReadout(), "Input 50");
  for (int i = 0; i < 25; ++i) g->Tick();
  EXPECT_STREQ(readout->GetReadout(), "");
  const Image after = Render(plug.get(), "tavlo_readout_after.png");
  EXPECT_EQ(DifferingPixels(after, before, plate), 0);

  // A wheel turn over a knob shows it too: Mix from 100 % down one step.
  g->OnMouseWheel(641 + 24, 121 + 24, &left, -1);
  g->Tick();
  EXPECT_STREQ(readout->GetReadout(), "Mix 99 %");
}

TEST(TavloEditorMeter, GainReductionNumberFollowsALoudBlockAndHoldsItsPeak)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  plug->SetSampleRate(48000.0);
  IGraphicsHeadless* g = EditorOf(plug.get());
  IPeakReadoutControl* gr = GainReadout(g);
  IControl* meter = g->GetControl(kTavloMeterControl);
  ASSERT_NE(gr, nullptr);
  g->Tick();
  EXPECT_STREQ(gr->GetReadout(), "0.0 dB");

  // The number is the gain 1 - v in dB to a tenth, with the typeset minus
  // (U+2212) for a reduction.
  const std::string loudText = "\xE2\x88\x92" "18.2 dB";
  ProcessTone(plug.get(), 0.5, 1.0);  // the meter's start-up swing dies away
  for (int i = 0; i < 30; ++i) g->Tick();
  SetPlain(plug.get(), kInput, 200.0);
  ProcessTone(plug.get(), 0.5, 0.25);
  g->Tick();
  const double loud = meter->GetValue();
  // 0.8768: a gain of 0.1232, -18.2 dB. The band of meter values that reads so:
  ASSERT_GT(loud, 0.87641);
  ASSERT_LT(loud, 0.87782);
  // A snapshot (as tavlo-render takes after a render) shows it too.
  Render(plug.get(), "tavlo_editor_gain_reduction.png");
  EXPECT_EQ(gr->GetReadout(), loudText);
  g->Tick();
  EXPECT_EQ(gr->GetReadout(), loudText);
  EXPECT_EQ(std::string(gr->GetReadout()).compare(0, 3, "\xE2\x88\x92"), 0) << "a reduction reads negative";

  // The signal stops compressing: the needle falls, the number holds its
  // peak for a second of ticks, then follows.
  SetPlain(plug.get(), kInput, 0.0);
  ProcessTone(plug.get(), 0.5, 0.5);
  g->Tick();
  const double quiet = meter->GetValue();
  ASSERT_LT(quiet, loud - 0.2);
  for (int i = 0; i < 20; ++i) g->Tick();
  EXPECT_EQ(gr->GetReadout(), loudText);
  for (int i = 0; i < 10; ++i) g->Tick();
  // 0.0004 left on the meter is -0.0035 dB: rounded, no reduction and no
  // minus sign before the zero.
  ASSERT_LT(quiet, 0.001);
  EXPECT_STREQ(gr->GetReadout(), "0.0 dB");
  EXPECT_DOUBLE_EQ(gr->GetHeldValue(), quiet);
}

TEST(TavloEditorScale, ScaleTwoDrawsTheSharperSetAtTwiceTheSize)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  IGraphicsHeadless* g = EditorOf(plug.get());
  g->SetScale(2.0);
  EXPECT_EQ(g->WindowWidth(), 1572);
  EXPECT_EQ(g->WindowHeight(), 966);
  const Image shot = Render(plug.get(), "tavlo_editor_scale2.png");
  ASSERT_EQ(shot.w, 1572);
  ASSERT_EQ(shot.h, 966);
  // Every control shows its default frame from the twice-size strip, exactly.
  for (const StripControl& c : kStrips) ExpectFrame(shot, c, c.defaultFrame, 2);
  // The background is bg@2x.png wherever no control covers it.
  const Image bg = LoadImage(ImageDir() + "bg@2x.png");
  ASSERT_EQ(bg.w, 1572);
  int checked = 0, mismatches = 0;
  for (int y = 0; y < shot.h; y += 3)
    for (int x = 0; x < shot.w; x += 3)
    {
      bool covered = y >= 820 && y < 910 && x >= 40 && x < 320;  // the version line
      for (int i = 1; i < g->NControls() && !covered; ++i) covered = g->GetControl(i)->GetRECT()->Contains(x / 2, y / 2);
      if (covered) continue;
      ++checked;
      mismatches += (shot.At(x, y) & 0xFFFFFFu) != (bg.At(x, y) & 0xFFFFFFu);
    }
  EXPECT_GT(checked, 50000);
  EXPECT_EQ(mismatches, 0);

  // In between, the size is rounded from the layout's; outside 1..3 clamped;
  // nonsense ignored.
  const double scales[] = {1.5, 1.25, 3.0, 0.5, 7.0};
  const int widths[] = {1179, 983, 2358, 786, 2358}, heights[] = {725, 604, 1449, 483, 1449};
  for (int i = 0; i < 5; ++i)
  {
    g->SetScale(scales[i]);
    EXPECT_EQ(g->WindowWidth(), widths[i]) << scales[i];
    EXPECT_EQ(g->WindowHeight(), heights[i]) << scales[i];
  }
  g->SetScale(std::nan(""));
  g->SetScale(-2.0);
  EXPECT_EQ(g->GetScale(), 3.0);
}

namespace
{
// Rows of the 1x image of control idx decoded so far.
int RowsDecoded(IGraphics* g, int idx)
{
  IBitmapControl* b = dynamic_cast<IBitmapControl*>(g->GetControl(idx));
  IKnobMultiControl* k = dynamic_cast<IKnobMultiControl*>(g->GetControl(idx));
  PxIBitmap* raster = b ? b->GetBitmap()->mData : (k ? k->GetBitmap()->mData : nullptr);
  PxPngImage* png = dynamic_cast<PxPngImage*>(raster);
  return png ? png->DecodeRows(0, nullptr) : -1;
}

// A new instance's editor drawn once at a scale; what was decoded that
// should not have been, or "" when all is well.
std::string DecodedByFirstDraw(double scale)
{
  TavloPtr plug = WithEditor(static_cast<Tavlo*>(MakePlug()));
  IGraphicsHeadless* g = EditorOf(plug.get());
  std::string problems;
  for (int i = 0; i <= 10; ++i)
    if (RowsDecoded(g, i) != 0) problems += "control " + std::to_string(i) + " decoded before drawing; ";
  if (scale != 1.0) g->SetScale(scale);
  g->Tick();
  // At scale 1: Input and HPF at frame 1, Output at 31, Mix at 61 of 61,
  // the meter at 1, the background whole. Above it, none of the 1x set.
  const int want[][2] = {{3, 146}, {8, 48}, {4, 31 * 146}, {7, 61 * 48}, {10, 124}, {0, 483}};
  for (const auto& w : want)
  {
    const int rows = scale == 1.0 ? w[1] : 0;
    if (RowsDecoded(g, w[0]) != rows)
      problems += "control " + std::to_string(w[0]) + " has " + std::to_string(RowsDecoded(g, w[0])) + " rows; ";
  }
  return problems;
}

int Report(const std::string& problems)
{
  std::fprintf(stderr, "%s\n", problems.c_str());
  return problems.empty() ? 0 : 1;
}
}  // namespace

// Each case runs in a process of its own (a death test re-runs the program),
// so that no other test has decoded an image of the process-wide cache.
TEST(TavloEditorImagesDeathTest, DecodedOnlyAsFarAsDrawnAndOnlyTheSetInUse)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(Report(DecodedByFirstDraw(1.0))), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(std::exit(Report(DecodedByFirstDraw(2.0))), ::testing::ExitedWithCode(0), "");
}
