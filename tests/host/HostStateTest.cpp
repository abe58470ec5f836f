// The state stream: nine little-endian doubles of plain values and a 32-bit
// bypass word, saved and restored through IComponent and IEditController.
#include <cmath>
#include <vector>

#include "HostFixture.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kBpas = 0x62706173;

double DoubleAt(const std::vector<uint8_t>& d, size_t off)
{
  double v;
  memcpy(&v, d.data() + off, 8);
  return v;
}

int32_t IntAt(const std::vector<uint8_t>& d, size_t off)
{
  return (int32_t)(d[off] | d[off + 1] << 8 | d[off + 2] << 16 | (uint32_t)d[off + 3] << 24);
}

std::vector<uint8_t> State(double values[9], int32_t bypass, size_t keep = 76)
{
  std::vector<uint8_t> d(76);
  memcpy(d.data(), values, 72);
  for (int i = 0; i < 4; ++i)
    d[72 + i] = (uint8_t)((uint32_t)bypass >> (8 * i));
  d.resize(keep);
  return d;
}

void SetBypass(Plug& p, double v)
{
  Block b(false, 1);
  b.data.numSamples = 0;
  b.changes.Add(kBpas, v);
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
}

}  // namespace

class StateTest : public HostTest {};

TEST_F(StateTest, DefaultStateLayoutByteForByte)
{
  Plug p;
  MemoryStream s;
  ASSERT_EQ(kResultOk, p.ctrl()->getState(&s));
  const auto& d = s.Data();
  ASSERT_EQ(76u, d.size());
  const double defaults[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(defaults[i], DoubleAt(d, 8 * i)) << "parameter " << i;
  // Little-endian on this platform: 100.0 is 0x4059000000000000.
  const uint8_t mix[8] = {0, 0, 0, 0, 0, 0, 0x59, 0x40};
  EXPECT_EQ(0, memcmp(d.data() + 32, mix, 8));
  EXPECT_EQ(0, IntAt(d, 72));

  // The component side writes the same stream.
  MemoryStream c;
  ASSERT_EQ(kResultOk, p.comp()->getState(&c));
  EXPECT_EQ(d, c.Data());
  EXPECT_EQ(kResultFalse, p.ctrl()->getState(nullptr));
}

TEST_F(StateTest, SaveAndRestoreThroughAFreshInstance)
{
  Plug a;
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(1, 0.75));   // Output +10
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(3, 0.5));    // Release 0.2
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(6, 1.0));    // Oversample on
  a.Start();
  SetBypass(a, 1.0);
  MemoryStream s;
  ASSERT_EQ(kResultOk, a.comp()->getState(&s));
  ASSERT_EQ(76u, s.Data().size());
  EXPECT_EQ(10.0, DoubleAt(s.Data(), 8));
  EXPECT_DOUBLE_EQ(0.2, DoubleAt(s.Data(), 24));
  EXPECT_EQ(1.0, DoubleAt(s.Data(), 48));
  EXPECT_EQ(1, IntAt(s.Data(), 72));

  Plug b;
  s.Rewind();
  ASSERT_EQ(kResultOk, b.comp()->setState(&s));
  EXPECT_DOUBLE_EQ(0.75, b.ctrl()->getParamNormalized(1));
  EXPECT_DOUBLE_EQ(0.5, b.ctrl()->getParamNormalized(3));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(6));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(kBpas));
  MemoryStream again;
  ASSERT_EQ(kResultOk, b.ctrl()->getState(&again));
  EXPECT_EQ(s.Data(), again.Data());

  // Restored bypassed, it passes its input through untouched.
  b.Start();
  Block blk(false, 64);
  for (int f = 0; f < 64; ++f)
    for (int ch = 0; ch < 2; ++ch)
      blk.in.Set(0, ch, f, TestSignal(ch, f));
  ASSERT_EQ(kResultOk, blk.Run(b.proc()));
  for (int f = 0; f < 64; ++f)
    ASSERT_EQ(blk.in.Get(0, 1, f), blk.out.Get(0, 1, f));

  // A zero bypass word restores un-bypassed, through the controller side.
  std::vector<uint8_t> d = s.Data();
  d[72] = 0;
  MemoryStream z(d);
  ASSERT_EQ(kResultOk, b.ctrl()->setState(&z));
  EXPECT_DOUBLE_EQ(0.0, b.ctrl()->getParamNormalized(kBpas));
  // Any non-zero word means bypassed.
  d[72] = 0;
  d[75] = 0x80;
  MemoryStream neg(d);
  ASSERT_EQ(kResultOk, b.ctrl()->setState(&neg));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(kBpas));
}

TEST_F(StateTest, BypassSurvivesANewProcessingSetup)
{
  // A project restored bypassed stays bypassed when the host changes the
  // sample rate or block size, as its bypass button still shows.
  Plug p;
  double v[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
  MemoryStream s(State(v, 1));
  ASSERT_EQ(kResultOk, p.comp()->setState(&s));
  ASSERT_EQ(kResultOk, p.Setup(kSample32, 256, 44100.0));
  EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
  ASSERT_EQ(kResultOk, p.Setup(kSample64, 1024, 96000.0));
  EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
  SetBypass(p, 0.0);
  ASSERT_EQ(kResultOk, p.Setup(kSample64, 1024, 48000.0));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
}

TEST_F(StateTest, ShortStreamsApplyOnlyWhatWasRead)
{
  {  // 20 bytes: Input and Output from the data, Attack hits the end (0.0
     // clamped to its minimum), the rest unchanged; no bypass word.
    Plug p;
    p.ctrl()->setParamNormalized(4, 0.5);
    double v[9] = {200.0, -10.0, 0.009, 0.5, 0, 0, 0, 0, 0};
    MemoryStream s(State(v, 1, 20));
    EXPECT_EQ(kResultFalse, p.comp()->setState(&s));
    EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(0));
    EXPECT_DOUBLE_EQ(0.25, p.ctrl()->getParamNormalized(1));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(2));
    EXPECT_DOUBLE_EQ(0.70710678118654752, p.ctrl()->getParamNormalized(3));
    EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(4));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
    MemoryStream out;
    ASSERT_EQ(kResultOk, p.ctrl()->getState(&out));
    EXPECT_EQ(0.0001, DoubleAt(out.Data(), 16));
  }
  {  // The full 72 bytes but no bypass word: values applied, bypass kept.
    Plug p;
    p.Start();
    SetBypass(p, 1.0);
    double v[9] = {10.0, 5.0, 0.005, 0.3, 50.0, 100.0, 1.0, 0.0, 0.0};
    MemoryStream s(State(v, 0, 72));
    EXPECT_EQ(kResultFalse, p.ctrl()->setState(&s));
    EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(4));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(8));
    EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
  }
  {  // Two bytes of a bypass word are no bypass word.
    Plug p;
    double v[9] = {10.0, 5.0, 0.005, 0.3, 50.0, 100.0, 1.0, 0.0, 0.0};
    MemoryStream s(State(v, 1, 74));
    EXPECT_EQ(kResultFalse, p.ctrl()->setState(&s));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
  }
}

TEST_F(StateTest, HostileAndOutOfRangeStreams)
{
  Plug p;
  p.ctrl()->setParamNormalized(4, 0.5);
  MemoryStream hostile(std::vector<uint8_t>(76, 0x7F));
  hostile.SetHostile(true);  // reads fail and report -1 bytes
  EXPECT_EQ(kResultFalse, p.comp()->setState(&hostile));
  // Nothing was delivered: the first parameter meets the end at once (0.0
  // clamped), the others keep their values.
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(0));
  EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(4));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));

  MemoryStream empty;
  EXPECT_EQ(kResultFalse, p.comp()->setState(&empty));
  EXPECT_EQ(kResultFalse, p.comp()->setState(nullptr));

  // Values outside the ranges are clamped on restore.
  double v[9] = {1e9, -1e9, 5.0, -3.0, 1000.0, 0.0, 7.0, -2.0, 2.0};
  MemoryStream s(State(v, 1));
  ASSERT_EQ(kResultOk, p.comp()->setState(&s));
  const double expected[9] = {1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 1.0};
  for (int i = 0; i < 9; ++i)
    EXPECT_DOUBLE_EQ(expected[i], p.ctrl()->getParamNormalized(i)) << "parameter " << i;

  // A stream longer than the state: the rest stays unread.
  std::vector<uint8_t> longer = State(v, 0);
  longer.resize(200, 0xEE);
  MemoryStream l(longer);
  ASSERT_EQ(kResultOk, p.comp()->setState(&l));
  EXPECT_EQ(76, l.Pos());
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
}
