// Buses, arrangements and the process call: sample types, automation,
// bypass, presets, the side-chain and hosts that pass odd buffers.
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "HostFixture.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kPrst = 0x70727374;
constexpr ParamID kBpas = 0x62706173;
constexpr ParamID kInputTag = 0, kOutputTag = 1, kOversampleTag = 6, kSidechainTag = 8;

void FillSignal(Block& b, long start, double amp = 0.5, double scAmp = 0.0)
{
  for (int f = 0; f < b.frames; ++f)
    for (int ch = 0; ch < 2; ++ch)
    {
      b.in.Set(0, ch, f, TestSignal(ch, start + f, amp));
      b.sc.Set(0, ch, f, TestSignal(ch + 2, start + f, scAmp));
    }
}

double Rms(const AudioBuffers& buf, int ch, int from, int to)
{
  double s = 0;
  for (int f = from; f < to; ++f)
    s += buf.Get(0, ch, f) * buf.Get(0, ch, f);
  return std::sqrt(s / std::max(1, to - from));
}

double MaxDiff(const AudioBuffers& a, const AudioBuffers& b, int frames)
{
  double m = 0;
  for (int ch = 0; ch < 2; ++ch)
    for (int f = 0; f < frames; ++f)
      m = std::max(m, std::fabs(a.Get(0, ch, f) - b.Get(0, ch, f)));
  return m;
}

// Renders `total` frames of the test signal in blocks of the given sizes
// (cycled), returning both output channels interleaved per frame.
// `before` may add parameter changes to a block, given its first frame.
std::vector<double> Render(Plug& p, bool is64, long total, const std::vector<int>& sizes,
                           double amp = 0.5, double scAmp = 0.0,
                           const std::function<void(long, Block&)>& before = nullptr)
{
  std::vector<double> out;
  long done = 0;
  for (size_t i = 0; done < total; ++i)
  {
    int n = (int)std::min<long>(sizes[i % sizes.size()], total - done);
    Block b(is64, n);
    FillSignal(b, done, amp, scAmp);
    if (before) before(done, b);
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    for (int f = 0; f < n; ++f)
    {
      out.push_back(b.out.Get(0, 0, f));
      out.push_back(b.out.Get(0, 1, f));
    }
    done += n;
  }
  return out;
}

// Strong compression so that processed and bypassed output differ clearly.
void Compress(Plug& p)
{
  ASSERT_EQ(kResultOk, p.ctrl()->setParamNormalized(kInputTag, 0.25));  // Input 100
  Block b(false, 1);
  b.data.numSamples = 0;
  b.changes.Add(kInputTag, 0.25);
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
}

}  // namespace

class ProcessTest : public HostTest {};

TEST_F(ProcessTest, BusInfosAndAuxActivation)
{
  Plug p;
  IComponent* c = p.comp();
  EXPECT_EQ(2, c->getBusCount(kAudio, kInput));
  EXPECT_EQ(1, c->getBusCount(kAudio, kOutput));
  EXPECT_EQ(0, c->getBusCount(kEvent, kInput));
  EXPECT_EQ(0, c->getBusCount(kEvent, kOutput));

  BusInfo info;
  ASSERT_EQ(kResultOk, c->getBusInfo(kAudio, kInput, 0, info));
  EXPECT_EQ("Main Input", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  EXPECT_EQ(kMain, info.busType);
  EXPECT_EQ((uint32)BusInfo::kDefaultActive, info.flags);
  EXPECT_EQ(kAudio, info.mediaType);
  EXPECT_EQ(kInput, info.direction);
  ASSERT_EQ(kResultOk, c->getBusInfo(kAudio, kInput, 1, info));
  EXPECT_EQ("Aux Input", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  EXPECT_EQ(kAux, info.busType);
  EXPECT_EQ(0u, info.flags);
  ASSERT_EQ(kResultOk, c->getBusInfo(kAudio, kOutput, 0, info));
  EXPECT_EQ("Output", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  EXPECT_EQ(kMain, info.busType);
  EXPECT_EQ(kOutput, info.direction);

  EXPECT_NE(kResultOk, c->getBusInfo(kAudio, kInput, 2, info));
  EXPECT_NE(kResultOk, c->getBusInfo(kAudio, kOutput, -1, info));
  EXPECT_NE(kResultOk, c->getBusInfo(kEvent, kInput, 0, info));

  SpeakerArrangement arr = 0;
  ASSERT_EQ(kResultOk, p.proc()->getBusArrangement(kInput, 0, arr));
  EXPECT_EQ(0x3u, arr);
  ASSERT_EQ(kResultOk, p.proc()->getBusArrangement(kInput, 1, arr));
  EXPECT_EQ(0x3u, arr);
  ASSERT_EQ(kResultOk, p.proc()->getBusArrangement(kOutput, 0, arr));
  EXPECT_EQ(0x3u, arr);
  EXPECT_NE(kResultOk, p.proc()->getBusArrangement(kOutput, 1, arr));

  EXPECT_EQ(kResultOk, c->activateBus(kAudio, kInput, 1, true));
  EXPECT_EQ(kResultOk, c->activateBus(kAudio, kInput, 1, false));
  EXPECT_NE(kResultOk, c->activateBus(kAudio, kInput, 2, true));
  EXPECT_NE(kResultOk, c->activateBus(kEvent, kInput, 0, true));
}

TEST_F(ProcessTest, BusArrangementsAcceptedAndRefused)
{
  Plug p;
  IAudioProcessor* a = p.proc();
  SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
  SpeakerArrangement twoStereo[2] = {stereo, stereo};
  SpeakerArrangement stereoMono[2] = {stereo, mono};

  // Main plus side-chain, both stereo: accepted and nothing rebuilt.
  EXPECT_EQ(kResultOk, a->setBusArrangements(twoStereo, 2, &stereo, 1));
  BusInfo info;
  p.comp()->getBusInfo(kAudio, kInput, 1, info);
  EXPECT_EQ("Aux Input", ToAscii(info.name));
  // A mono main input is no legal channel pair.
  EXPECT_EQ(kResultFalse, a->setBusArrangements(&mono, 1, &stereo, 1));
  // One input bus while a side-chain is configured.
  EXPECT_EQ(kResultFalse, a->setBusArrangements(&stereo, 1, &stereo, 1));
  EXPECT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
  // No arrangements at all in either direction.
  EXPECT_EQ(kResultFalse, a->setBusArrangements(twoStereo, 0, &stereo, 1));
  EXPECT_EQ(kResultFalse, a->setBusArrangements(twoStereo, 2, &stereo, 0));
  EXPECT_EQ(kResultFalse, a->setBusArrangements(nullptr, 2, &stereo, 1));
  EXPECT_EQ(kResultFalse, a->setBusArrangements(twoStereo, 2, nullptr, 1));
  EXPECT_EQ(kResultFalse, a->setBusArrangements(twoStereo, -1, &stereo, 1));
  // The detector listens to the side-chain's right channel, which a mono
  // side-chain does not have: refused, the inputs stay as they are.
  EXPECT_EQ(kResultFalse, a->setBusArrangements(stereoMono, 2, &stereo, 1));
  ASSERT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
  p.comp()->getBusInfo(kAudio, kInput, 0, info);
  EXPECT_EQ("Main Input", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  p.comp()->getBusInfo(kAudio, kInput, 1, info);
  EXPECT_EQ("Aux Input", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  EXPECT_EQ(kAux, info.busType);
  EXPECT_EQ(0u, info.flags);
  SpeakerArrangement arr = 0;
  p.proc()->getBusArrangement(kInput, 1, arr);
  EXPECT_EQ(SpeakerArr::kStereo, arr);
}

TEST_F(ProcessTest, BusArrangementRequestsInSequence)
{
  // Requests as hosts and validators send them, one after the other. Only
  // the layout the compressor processes is accepted; after every answer
  // the buses are what the answer says, and the instance processes exactly
  // like a twin that was never asked.
  using namespace SpeakerArr;
  struct Request
  {
    const char* what;
    std::vector<SpeakerArrangement> ins, outs;
    bool accepted;
  };
  const Request requests[] = {
    {"mono main", {kMono, kStereo}, {kStereo}, false},
    {"default", {kStereo, kStereo}, {kStereo}, true},
    {"3.0 main", {k30Cine, kStereo}, {kStereo}, false},
    {"two 4.0 inputs", {k40Music, k40Music}, {kStereo}, false},
    {"4.0 main only", {k40Music}, {kStereo}, false},
    {"5.1 in and out", {k51, kStereo}, {k51}, false},
    {"7.1 in and out", {k71Cine, k71Cine}, {k71Cine}, false},
    {"mono output", {kStereo, kStereo}, {kMono}, false},
    {"mono side-chain", {kStereo, kMono}, {kStereo}, false},
    {"empty side-chain", {kStereo, kEmpty}, {kStereo}, false},
    {"empty arrays", {}, {}, false},
    {"no outputs", {kStereo, kStereo}, {}, false},
    {"one input", {kStereo}, {kStereo}, false},
    {"three inputs", {kStereo, kStereo, kStereo}, {kStereo}, false},
    {"two outputs", {kStereo, kStereo}, {kStereo, kStereo}, false},
    {"stereo on the surround pair", {kStereoSurround, kStereo}, {kStereo}, true},
    {"default again", {kStereo, kStereo}, {kStereo}, true},
  };

  Plug p, twin;
  p.Start(kSample32, 256);
  twin.Start(kSample32, 256);
  for (Plug* q : {&p, &twin})
  {
    ASSERT_EQ(kResultOk, q->comp()->activateBus(kAudio, kInput, 1, true));
    Block s(false, 1);
    s.data.numSamples = 0;
    s.changes.Add(kSidechainTag, 0.0);  // the detector listens to the side-chain
    s.changes.Add(kInputTag, 0.25);
    ASSERT_EQ(kResultOk, s.Run(q->proc()));
  }

  auto busInfo = [](Plug& q, BusDirection dir, int32 i) {
    BusInfo info = {};
    EXPECT_EQ(kResultOk, q.comp()->getBusInfo(kAudio, dir, i, info));
    return std::make_tuple(ToAscii(info.name), info.channelCount, info.busType, info.flags);
  };
  const auto main0 = busInfo(p, kInput, 0), aux0 = busInfo(p, kInput, 1), out0 = busInfo(p, kOutput, 0);
  SpeakerArrangement arr[3] = {kStereo, kStereo, kStereo};  // main, side-chain, output

  long pos = 0;
  for (const Request& r : requests)
  {
    SCOPED_TRACE(r.what);
    std::vector<SpeakerArrangement> ins = r.ins, outs = r.outs;
    const tresult res = p.proc()->setBusArrangements(ins.empty() ? nullptr : ins.data(), (int32)ins.size(),
                                                     outs.empty() ? nullptr : outs.data(), (int32)outs.size());
    EXPECT_EQ(r.accepted ? kResultOk : kResultFalse, res);
    if (r.accepted)
    {
      arr[0] = r.ins[0];
      arr[1] = r.ins[1];
      arr[2] = r.outs[0];
    }

    ASSERT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
    ASSERT_EQ(1, p.comp()->getBusCount(kAudio, kOutput));
    EXPECT_EQ(main0, busInfo(p, kInput, 0));
    EXPECT_EQ(aux0, busInfo(p, kInput, 1));
    EXPECT_EQ(out0, busInfo(p, kOutput, 0));
    SpeakerArrangement got[3] = {};
    p.proc()->getBusArrangement(kInput, 0, got[0]);
    p.proc()->getBusArrangement(kInput, 1, got[1]);
    p.proc()->getBusArrangement(kOutput, 0, got[2]);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(arr[i], got[i]) << "bus " << i;

    Block a(false, 256), b(false, 256);
    FillSignal(a, pos, 0.3, 0.9);
    FillSignal(b, pos, 0.3, 0.9);
    pos += 256;
    ASSERT_EQ(kResultOk, a.Run(p.proc()));
    ASSERT_EQ(kResultOk, b.Run(twin.proc()));
    EXPECT_EQ(0.0, MaxDiff(a.out, b.out, 256));
  }
  // The side-chain did drive the detector all along.
  Block a(false, 256), quiet(false, 256);
  FillSignal(a, pos, 0.3, 0.9);
  FillSignal(quiet, pos, 0.3, 0.0);
  ASSERT_EQ(kResultOk, a.Run(p.proc()));
  Plug fresh;
  fresh.Start(kSample32, 256);
  ASSERT_EQ(kResultOk, quiet.Run(fresh.proc()));
  EXPECT_GT(MaxDiff(a.out, quiet.out, 256), 0.01);
}

TEST_F(ProcessTest, SampleSizesAndSetup)
{
  Plug p;
  EXPECT_EQ(kResultOk, p.proc()->canProcessSampleSize(kSample32));
  EXPECT_EQ(kResultOk, p.proc()->canProcessSampleSize(kSample64));
  EXPECT_EQ(kResultFalse, p.proc()->canProcessSampleSize(2));
  EXPECT_EQ(kResultFalse, p.Setup(2));
  EXPECT_EQ(kResultFalse, p.Setup(kSample32, 512, 0.0));
  EXPECT_EQ(kResultFalse, p.Setup(kSample32, 512, -44100.0));
  EXPECT_EQ(kResultFalse, p.Setup(kSample32, 512, std::nan("")));
  EXPECT_EQ(kResultOk, p.Setup(kSample64, 256, 96000.0));
  // A block of no frames is no block size; the earlier set-up stays.
  EXPECT_EQ(kResultFalse, p.Setup(kSample32, 0));
  EXPECT_EQ(kResultFalse, p.Setup(kSample32, -512));
  {
    ASSERT_EQ(kResultOk, p.comp()->setActive(true));
    Block b(true, 256);
    FillSignal(b, 0);
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_GT(Rms(b.out, 0, 0, 256), 0.01);
    ASSERT_EQ(kResultOk, p.comp()->setActive(false));
  }
  // No oversampling, no delay; the tail is the longest release, 0.5 s at
  // the 96 kHz of the last set-up.
  EXPECT_EQ(0u, p.proc()->getLatencySamples());
  EXPECT_EQ(48000u, p.proc()->getTailSamples());
  EXPECT_EQ(kResultOk, p.proc()->setProcessing(true));
  EXPECT_EQ(kResultOk, p.comp()->setActive(true));
  EXPECT_EQ(kResultOk, p.comp()->setActive(false));
}

TEST_F(ProcessTest, ThirtyTwoAndSixtyFourBitAgreeWithinFloatRounding)
{
  // Same double arithmetic inside; the 32-bit host only sees it rounded.
  // Each row takes the signal through another part of the chain.
  // switchAt: the frame where the Sidechain switch turns to the side-chain
  // (the aux bus active and loud throughout); a 32-bit block must widen the
  // side-chain it starts reading there.
  struct Row
  {
    const char* what;
    bool oversample, sidechain;
    long switchAt;
  };
  const Row rows[] = {
    {"Input 100", false, false, -1},
    {"Input 100, Oversample on", true, false, -1},
    {"Input 100, the side-chain driving the detector", false, true, -1},
    {"Input 100, the side-chain switched in within a block", false, false, 868},
  };
  std::vector<double> firstRow;
  for (const Row& r : rows)
  {
    SCOPED_TRACE(r.what);
    std::vector<double> out[2];
    for (bool is64 : {false, true})
    {
      Plug p;
      p.Start(is64 ? kSample64 : kSample32, 256);
      Compress(p);
      Block s(is64, 1);
      s.data.numSamples = 0;
      if (r.oversample) s.changes.Add(kOversampleTag, 1.0);
      const bool aux = r.sidechain || r.switchAt >= 0;
      if (aux)
      {
        ASSERT_EQ(kResultOk, p.comp()->activateBus(kAudio, kInput, 1, true));
      }
      if (r.sidechain) s.changes.Add(kSidechainTag, 0.0);
      ASSERT_EQ(kResultOk, s.Run(p.proc()));
      out[is64] = Render(p, is64, 4000, {256}, 0.5, aux ? 0.9 : 0.0, [&](long first, Block& b) {
        if (r.switchAt >= first && r.switchAt < first + b.frames)
          b.changes.Add(kSidechainTag, 0.0, (int32)(r.switchAt - first));
      });
    }
    const std::vector<double>&o32 = out[0], &o64 = out[1];
    ASSERT_EQ(o32.size(), o64.size());
    for (size_t i = 0; i < o32.size(); ++i)
      ASSERT_EQ((float)o64[i], (float)o32[i]) << "sample " << i / 2 << " channel " << i % 2;
    // And it did compress: the output is quieter than the input.
    double inRms = 0, outRms = 0;
    for (size_t i = 2000; i < o64.size(); i += 2)
    {
      double x = TestSignal(0, (long)(i / 2));
      inRms += x * x;
      outRms += o64[i] * o64[i];
    }
    EXPECT_LT(outRms, 0.9 * inRms);
    // The row's setting was in force: its output is not the first row's.
    if (firstRow.empty())
      firstRow = o64;
    else
    {
      double most = 0;
      for (size_t i = 0; i < o64.size(); ++i) most = std::max(most, std::fabs(o64[i] - firstRow[i]));
      EXPECT_GT(most, 1e-3);
    }
  }
}

TEST_F(ProcessTest, EveryPointOfAQueueTakesEffectAtItsOffset)
{
  // Output is a gain after everything else, so each frame of an automated
  // instance is the 0 dB instance's frame times the gain in force there:
  // -20 dB from frame 0, a step to +20 dB at frame 40, then a ramp of a
  // point every 8 frames from frame 64 (+10 dB falling by 1.25 dB a point).
  struct Point
  {
    int offset;
    double normalized;
  };
  std::vector<Point> points = {{0, 0.0}, {40, 1.0}};
  for (int j = 0; j < 8; ++j) points.push_back({64 + 8 * j, 0.75 - j / 32.0});
  auto gainAt = [&](int f) {
    double n = 0.0;
    for (const Point& p : points)
      if (p.offset <= f) n = p.normalized;
    return std::pow(10.0, (40.0 * n - 20.0) / 20.0);
  };
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug a, c;
    a.Start(is64 ? kSample64 : kSample32);
    c.Start(is64 ? kSample64 : kSample32);
    for (int block = 0; block < 2; ++block)
    {
      Block ba(is64, 128), bc(is64, 128);
      FillSignal(ba, 128 * block);
      FillSignal(bc, 128 * block);
      if (block == 0)
        for (const Point& p : points) ba.changes.Add(kOutputTag, p.normalized, p.offset);
      ASSERT_EQ(kResultOk, ba.Run(a.proc()));
      ASSERT_EQ(kResultOk, bc.Run(c.proc()));
      int checked = 0;
      for (int f = 0; f < 128; ++f)
        if (std::fabs(bc.out.Get(0, 0, f)) > 1e-3)
        {
          // The next block goes on with the last point's value.
          const double gain = block == 0 ? gainAt(f) : gainAt(127);
          ASSERT_NEAR(gain, ba.out.Get(0, 0, f) / bc.out.Get(0, 0, f), gain * (is64 ? 1e-12 : 1e-6))
            << "block " << block << " frame " << f;
          ++checked;
        }
      EXPECT_GT(checked, 100);
    }
    EXPECT_DOUBLE_EQ(points.back().normalized, a.ctrl()->getParamNormalized(kOutputTag));
  }
}

TEST_F(ProcessTest, BrokenQueuesAndUnknownTagsAreSkipped)
{
  Plug p;
  p.Start();
  Block b(false, 64);
  FillSignal(b, 0);
  b.changes.Add(kOutputTag, 0.75)->ForceCount(3);  // claims points it cannot give
  b.changes.Add(kInputTag, 0.5)->ForceCount(0);
  b.changes.Add(12345, 1.0);
  b.changes.Add(9, 1.0);
  b.changes.Add(kSidechainTag, std::nan(""));
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(kOutputTag));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kInputTag));
  EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kSidechainTag));
}

// The host's bypass reads as every switch does (the SDK's rule for one
// step): on from 0.5.
TEST_F(ProcessTest, BypassFromOneHalfOn)
{
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug p;
    p.Start(is64 ? kSample64 : kSample32);
    Compress(p);
    Block b(is64, 256);
    FillSignal(b, 0);
    b.changes.Add(kBpas, 0.4999);
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
    int differ = 0;
    for (int f = 0; f < 256; ++f)
      differ += b.out.Get(0, 0, f) != b.in.Get(0, 0, f);
    EXPECT_GT(differ, 200);

    // Bypassed: the input itself once the switch's fade (5 ms, 240
    // frames) is over.
    Block c(is64, 512);
    FillSignal(c, 256);
    c.changes.Add(kBpas, 0.5);
    ASSERT_EQ(kResultOk, c.Run(p.proc()));
    EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
    for (int f = 240; f < 512; ++f)
      for (int ch = 0; ch < 2; ++ch)
        ASSERT_EQ(c.in.Get(0, ch, f), c.out.Get(0, ch, f)) << "frame " << f;
    EXPECT_NE(c.in.Get(0, 0, 100), c.out.Get(0, 0, 100));

    Block d(is64, 16);
    d.changes.Add(kBpas, 0.0);
    ASSERT_EQ(kResultOk, d.Run(p.proc()));
    EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
  }
}

// Hosts select program k of the 12 with k / 11 (the parameter's step
// count), older ones with k / 12: both reach program k, 1.0 is the last
// program rather than none, and every program leaves a state of its own.
TEST_F(ProcessTest, PresetParameterSelectsEveryProgram)
{
  Plug p;
  p.Start();
  auto stateAfter = [&](double value) {
    Block b(false, 32);
    b.changes.Add(kPrst, value);
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    MemoryStream s;
    EXPECT_EQ(kResultOk, p.comp()->getState(&s));
    return s.Data();
  };
  const int count = 12;
  std::vector<std::vector<uint8_t>> states;
  for (int k = 0; k < count; ++k)
  {
    SCOPED_TRACE(k);
    // A setting of the user's own before each, which the program replaces.
    ASSERT_EQ(kResultOk, p.ctrl()->setParamNormalized(kOutputTag, 0.9));
    states.push_back(stateAfter(k / (count - 1.0)));
    // The controller reports the value that selected it.
    EXPECT_DOUBLE_EQ(k / (count - 1.0), p.ctrl()->getParamNormalized(kPrst));
    ASSERT_EQ(kResultOk, p.ctrl()->setParamNormalized(kOutputTag, 0.9));
    EXPECT_EQ(states.back(), stateAfter((double)k / count));
    for (int j = 0; j < k; ++j) EXPECT_NE(states[(size_t)j], states.back()) << "same as program " << j;
  }
  EXPECT_EQ(states.back(), stateAfter(1.0));

  // Program 0 is the defaults; program 6 is "Lead Vocal".
  stateAfter(0.0);
  EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(kOutputTag));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kInputTag));
  stateAfter(6.0 / 11.0);
  auto plain = [&](ParamID tag) { return p.ctrl()->normalizedParamToPlain(tag, p.ctrl()->getParamNormalized(tag)); };
  EXPECT_NEAR(160.0, plain(0), 1e-9);     // Input
  EXPECT_NEAR(6.5, plain(1), 1e-9);       // Output, dB
  EXPECT_NEAR(2.0, plain(2), 1e-9);       // Attack, ms
  EXPECT_NEAR(150.0, plain(3), 1e-9);     // Release, ms
  EXPECT_NEAR(100.0, plain(5), 1e-9);     // HPF, Hz
  EXPECT_EQ(1.0, plain(8));               // Sidechain internal
}

TEST_F(ProcessTest, SideChainDeactivationReadsSilenceAndReactivationReconnects)
{
  // The detector listens to the side-chain (Sidechain = 0). Instance a gets a
  // loud side-chain, then the host deactivates the aux bus but keeps passing
  // the stale loud buffers; instance b never had a side-chain signal. Once
  // a's release has settled both must produce the same output.
  const int kBlock = 256;
  Plug a, b;
  for (Plug* p : {&a, &b})
  {
    p->Start(kSample32, kBlock);
    Block s(false, 1);
    s.data.numSamples = 0;
    s.changes.Add(kSidechainTag, 0.0);
    s.changes.Add(kInputTag, 0.25);
    ASSERT_EQ(kResultOk, s.Run(p->proc()));
  }
  ASSERT_EQ(kResultOk, a.comp()->activateBus(kAudio, kInput, 1, true));
  long pos = 0;
  double maxDiff = 0;
  for (int i = 0; i < 20; ++i, pos += kBlock)
  {
    Block ba(false, kBlock), bb(false, kBlock);
    FillSignal(ba, pos, 0.2, 1.0);
    FillSignal(bb, pos, 0.2, 0.0);
    ASSERT_EQ(kResultOk, ba.Run(a.proc()));
    ASSERT_EQ(kResultOk, bb.Run(b.proc()));
    maxDiff = MaxDiff(ba.out, bb.out, kBlock);
  }
  EXPECT_GT(maxDiff, 0.01);  // the side-chain drives a's detector

  ASSERT_EQ(kResultOk, a.comp()->activateBus(kAudio, kInput, 1, false));
  std::vector<double> lastA, lastB;
  for (int i = 0; i < 1500; ++i, pos += kBlock)
  {
    Block ba(false, kBlock), bb(false, kBlock);
    FillSignal(ba, pos, 0.2, 1.0);  // stale loud side-chain, bus inactive
    FillSignal(bb, pos, 0.2, 0.0);
    ASSERT_EQ(kResultOk, ba.Run(a.proc()));
    ASSERT_EQ(kResultOk, bb.Run(b.proc()));
    if (i == 1499)
      for (int f = 0; f < kBlock; ++f)
      {
        lastA.push_back(ba.out.Get(0, 0, f));
        lastB.push_back(bb.out.Get(0, 0, f));
      }
  }
  for (int f = 0; f < kBlock; ++f)
    ASSERT_NEAR(lastB[f], lastA[f], 1e-6) << "frame " << f;

  ASSERT_EQ(kResultOk, a.comp()->activateBus(kAudio, kInput, 1, true));
  for (int i = 0; i < 20; ++i, pos += kBlock)
  {
    Block ba(false, kBlock), bb(false, kBlock);
    FillSignal(ba, pos, 0.2, 1.0);
    FillSignal(bb, pos, 0.2, 0.0);
    ASSERT_EQ(kResultOk, ba.Run(a.proc()));
    ASSERT_EQ(kResultOk, bb.Run(b.proc()));
    maxDiff = MaxDiff(ba.out, bb.out, kBlock);
  }
  EXPECT_GT(maxDiff, 0.01);
}

TEST_F(ProcessTest, ParameterFlushWithZeroFramesAndNullBuffers)
{
  for (bool is64 : {false, true})
  {
    Plug p;
    p.Start(is64 ? kSample64 : kSample32);
    ParameterChanges changes;
    changes.Add(kOutputTag, 0.25);
    ProcessData data;
    data.symbolicSampleSize = is64 ? kSample64 : kSample32;
    data.numSamples = 0;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = nullptr;
    data.outputs = nullptr;
    data.inputParameterChanges = &changes;
    EXPECT_EQ(kResultOk, p.proc()->process(data));
    EXPECT_DOUBLE_EQ(0.25, p.ctrl()->getParamNormalized(kOutputTag));
    // Frames announced but no buffers at all.
    data.numSamples = 64;
    EXPECT_EQ(kResultOk, p.proc()->process(data));
    data.inputParameterChanges = nullptr;
    EXPECT_EQ(kResultOk, p.proc()->process(data));
  }
}

TEST_F(ProcessTest, NullChannelPointersAndMissingBusesAreSafe)
{
  // Each odd block goes to instance p and the block it amounts to to its
  // twin: the outputs the host gave must agree, and so must the next,
  // ordinary block (the chain moved on exactly as the twin's did).
  Plug p, twin;
  for (Plug* q : {&p, &twin})
  {
    q->Start(kSample32, 128);
    ASSERT_EQ(kResultOk, q->comp()->activateBus(kAudio, kInput, 1, true));
  }
  long pos = 0;
  auto nextBlocksAgree = [&](const char* what) {
    pos += 128;
    Block a(false, 128), t(false, 128);
    FillSignal(a, pos, 0.5, 0.5);
    FillSignal(t, pos, 0.5, 0.5);
    ASSERT_EQ(kResultOk, a.Run(p.proc()));
    ASSERT_EQ(kResultOk, t.Run(twin.proc()));
    EXPECT_EQ(0.0, MaxDiff(a.out, t.out, 128)) << what;
    pos += 128;
  };

  {  // channel arrays missing: both input buses read silence
    Block b(false, 128), t(false, 128);
    FillSignal(b, pos, 0.5, 0.5);
    b.inBuses[0].channelBuffers32 = nullptr;
    b.inBuses[1].channelBuffers32 = nullptr;
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    ASSERT_EQ(kResultOk, t.Run(twin.proc()));
    EXPECT_EQ(0.0, MaxDiff(b.out, t.out, 128));
    EXPECT_EQ(0x3u, b.out.Buses()[0].silenceFlags);
    nextBlocksAgree("after missing input arrays");
  }
  {  // single null channels: nothing to write, the chain still runs
    Block b(false, 128), t(false, 128);
    FillSignal(b, pos, 0.5, 0.5);
    FillSignal(t, pos, 0.5, 0.5);
    float* chans[2] = {nullptr, nullptr};
    b.out.Buses()[0].channelBuffers32 = chans;
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    ASSERT_EQ(kResultOk, t.Run(twin.proc()));
    nextBlocksAgree("after null output channels");
  }
  {  // fewer input buses than declared: side-chain declared active but absent
    Block b(false, 128, false), t(false, 128);
    FillSignal(b, pos, 0.5, 0.5);
    FillSignal(t, pos, 0.5, 0.0);
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    ASSERT_EQ(kResultOk, t.Run(twin.proc()));
    EXPECT_EQ(0.0, MaxDiff(b.out, t.out, 128));
    nextBlocksAgree("after a missing side-chain bus");
  }
  {  // no output buses, then an extra undeclared output bus
    Block b(false, 128);
    FillSignal(b, 0);
    b.data.numOutputs = 0;
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    AudioBuffers two(2, 2, 128, false);
    b.data.outputs = two.Buses();
    b.data.numOutputs = 2;
    two.Fill(0.25);
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_EQ(0.25, two.Get(1, 0, 0));  // no declared counterpart: untouched
    EXPECT_NE(0.25, two.Get(0, 0, 5));
  }
  {  // buffers of the other sample size than announced are not processed
    Block b(true, 128);
    FillSignal(b, 0);
    b.out.Fill(0.125);
    b.data.symbolicSampleSize = kSample64;
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_EQ(0.0, b.out.Get(0, 0, 10));
  }
}

// A host's channel array for one bus: `given` pointers, exactly that many
// (so the sanitizer build sees a read past its end), the bus's own
// channels first and loud canary buffers after them, under a count of
// `claimed`.
struct HostArray
{
  std::unique_ptr<float*[]> f;
  std::unique_ptr<double*[]> d;
  std::vector<std::vector<double>> canaries;
  std::vector<std::vector<float>> fCanaries;
  int given;

  HostArray(AudioBusBuffers& bus, bool is64, int frames, int given_, int claimed) : given(given_)
  {
    if (is64)
      d.reset(new double*[given]);
    else
      f.reset(new float*[given]);
    for (int c = 0; c < given; ++c)
    {
      if (c < 2)
      {
        if (is64)
          d[c] = bus.channelBuffers64[c];
        else
          f[c] = bus.channelBuffers32[c];
        continue;
      }
      canaries.emplace_back(frames, 0.5);
      fCanaries.emplace_back(frames, 0.5f);
      if (is64)
        d[c] = canaries.back().data();
      else
        f[c] = fCanaries.back().data();
    }
    bus.numChannels = claimed;
    if (is64)
      bus.channelBuffers64 = d.get();
    else
      bus.channelBuffers32 = f.get();
  }

  bool CanariesUntouched() const
  {
    for (size_t k = 0; k < canaries.size(); ++k)
      for (size_t i = 0; i < canaries[k].size(); ++i)
        if (canaries[k][i] != 0.5 || fCanaries[k][i] != 0.5f)
          return false;
    return true;
  }
};

// Hosts whose channel counts disagree with the buses' widths (2 here):
// the plug-in reads and writes only the channels both agree on, in the
// processed path and in the one that writes silence, and flags only those.
TEST_F(ProcessTest, HostChannelArraysWiderOrNarrowerThanTheBus)
{
  struct Case
  {
    const char* what;
    bool inputs;  // the arrays of both input buses, else the output's
    int given, claimed;
  };
  const Case cases[] = {
    {"output claims 8, passes 2", false, 2, 8},
    {"output claims and passes 8", false, 8, 8},
    {"output claims and passes 1", false, 1, 1},
    {"inputs claim 8, pass 2", true, 2, 8},
    {"inputs claim and pass 8", true, 8, 8},
    {"inputs claim and pass 1", true, 1, 1},
  };
  for (bool is64 : {false, true})
    for (bool processable : {true, false})
      for (const Case& c : cases)
      {
        SCOPED_TRACE(std::string(c.what) + (is64 ? ", 64-bit" : ", 32-bit") +
                     (processable ? ", processed" : ", not processable"));
        // The unprocessable blocks come with buffers of the other sample
        // size than the set-up announced.
        const int32 setupSize = (is64 == processable) ? kSample64 : kSample32;
        Plug p, twin;
        for (Plug* q : {&p, &twin})
        {
          q->Start(setupSize, 256);
          ASSERT_EQ(kResultOk, q->comp()->activateBus(kAudio, kInput, 1, true));
          Compress(*q);
        }
        Block b(is64, 256), t(is64, 256);
        FillSignal(b, 0, 0.5, 0.5);
        FillSignal(t, 0, 0.5, 0.5);
        const int used = std::min(c.given, 2);
        std::vector<std::unique_ptr<HostArray>> arrays;
        if (c.inputs)
        {
          for (int bus = 0; bus < 2; ++bus)
            arrays.emplace_back(new HostArray(b.inBuses[bus], is64, 256, c.given, c.claimed));
          // What the plug-in hears from a bus of one channel: nothing on the right.
          for (int f = 0; f < 256 && used < 2; ++f)
          {
            t.in.Set(0, 1, f, 0.0);
            t.sc.Set(0, 1, f, 0.0);
          }
        }
        else
          arrays.emplace_back(new HostArray(b.out.Buses()[0], is64, 256, c.given, c.claimed));
        b.out.Fill(0.25);
        ASSERT_EQ(kResultOk, b.Run(p.proc()));
        ASSERT_EQ(kResultOk, t.Run(twin.proc()));

        const int outChannels = c.inputs ? 2 : used;
        for (int ch = 0; ch < outChannels; ++ch)
          for (int f = 0; f < 256; ++f)
          {
            const double expected = processable ? t.out.Get(0, ch, f) : 0.0;
            ASSERT_EQ(expected, b.out.Get(0, ch, f)) << "channel " << ch << " frame " << f;
          }
        if (processable)
        {
          EXPECT_GT(Rms(b.out, 0, 0, 256), 0.01);
        }
        for (const auto& a : arrays)
          EXPECT_TRUE(a->CanariesUntouched());
        const uint64 flags = b.out.Buses()[0].silenceFlags;
        const uint64 twinFlags = t.out.Buses()[0].silenceFlags & ((1u << outChannels) - 1);
        EXPECT_EQ(processable ? twinFlags : (1u << outChannels) - 1, flags);
      }
}

TEST_F(ProcessTest, MissingInputBusReadsSilenceNotTheLastBlock)
{
  // Instance a loses its input buses after a loud block; b gets explicit
  // silence instead. Their outputs must match sample for sample.
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug a, b;
    a.Start(is64 ? kSample64 : kSample32, 128);
    b.Start(is64 ? kSample64 : kSample32, 128);
    Block la(is64, 128), lb(is64, 128);
    FillSignal(la, 0, 0.9);
    FillSignal(lb, 0, 0.9);
    ASSERT_EQ(kResultOk, la.Run(a.proc()));
    ASSERT_EQ(kResultOk, lb.Run(b.proc()));
    for (int i = 0; i < 3; ++i)
    {
      Block na(is64, 128), nb(is64, 128);
      na.data.numInputs = 0;
      na.data.inputs = nullptr;
      nb.in.Fill(0.0);
      nb.sc.Fill(0.0);
      ASSERT_EQ(kResultOk, na.Run(a.proc()));
      ASSERT_EQ(kResultOk, nb.Run(b.proc()));
      for (int f = 0; f < 128; ++f)
        ASSERT_EQ(nb.out.Get(0, 0, f), na.out.Get(0, 0, f)) << "block " << i << " frame " << f;
    }
  }
}

TEST_F(ProcessTest, MoreFramesThanAnnouncedAreProcessedInPieces)
{
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug a, b;
    a.Start(is64 ? kSample64 : kSample32, 64);
    b.Start(is64 ? kSample64 : kSample32, 64);
    Compress(a);
    Compress(b);
    auto big = Render(a, is64, 1000, {1000});
    auto pieces = Render(b, is64, 1000, {64});
    ASSERT_EQ(big.size(), pieces.size());
    for (size_t i = 0; i < big.size(); ++i)
      ASSERT_EQ(pieces[i], big[i]) << "sample " << i / 2;
  }
}

TEST_F(ProcessTest, WrittenOutputsAreNotFlaggedSilent)
{
  Plug p;
  p.Start();
  Block b(false, 64);
  FillSignal(b, 0);
  b.out.Buses()[0].silenceFlags = 0x3;  // stale flags from the host
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_EQ(0u, b.out.Buses()[0].silenceFlags);
  ASSERT_EQ(kResultOk, p.comp()->activateBus(kAudio, kOutput, 0, false));
  Block c(false, 64);
  c.out.Buses()[0].silenceFlags = 0x3;
  ASSERT_EQ(kResultOk, c.Run(p.proc()));
  EXPECT_EQ(0x3u, c.out.Buses()[0].silenceFlags);  // inactive bus: not ours
}

TEST_F(ProcessTest, BlocksThatCannotBeProcessedComeOutSilent)
{
  // Whatever the host left in its output buffers would be played again:
  // every channel it passes gets silence and its silence flag.
  struct Scenario
  {
    const char* what;
    bool init;
    std::function<void(Plug&)> prepare;
    bool is64;
  };
  const Scenario scenarios[] = {
    {"before set-up", true, [](Plug& p) { p.comp()->setActive(true); }, false},
    {"after a refused sample rate", true,
     [](Plug& p) {
       EXPECT_EQ(kResultFalse, p.Setup(kSample32, 512, 0.0));
       p.comp()->setActive(true);
     },
     false},
    {"after a refused block size", true,
     [](Plug& p) {
       EXPECT_EQ(kResultFalse, p.Setup(kSample64, 0));
       p.comp()->setActive(true);
     },
     true},
    {"64-bit buffers after a 32-bit set-up", true, [](Plug& p) { p.Start(kSample32); }, true},
    {"32-bit buffers after a 64-bit set-up", true, [](Plug& p) { p.Start(kSample64); }, false},
    {"after terminate", true,
     [](Plug& p) {
       p.Start();
       p.comp()->terminate();
     },
     false},
    {"before initialize", false,
     [](Plug& p) {
       EXPECT_EQ(kResultOk, p.Setup());
       p.comp()->setActive(true);
     },
     true},
  };
  for (const Scenario& sc : scenarios)
  {
    SCOPED_TRACE(sc.what);
    Plug p(sc.init);
    sc.prepare(p);
    Block b(sc.is64, 700);
    FillSignal(b, 0);
    // Two output buses of three channels: more than the plug-in declares.
    // Only the declared stereo bus's channels are the plug-in's to write
    // (the host's count alone could run past the end of its array).
    AudioBuffers outs(2, 3, 700, sc.is64);
    outs.Fill(0.5);
    b.data.outputs = outs.Buses();
    b.data.numOutputs = 2;
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_EQ(0x3u, outs.Buses()[0].silenceFlags);
    EXPECT_EQ(0x0u, outs.Buses()[1].silenceFlags);
    for (int bus = 0; bus < 2; ++bus)
      for (int ch = 0; ch < 3; ++ch)
        for (int f = 0; f < 700; ++f)
          ASSERT_EQ(bus == 0 && ch < 2 ? 0.0 : 0.5, outs.Get(bus, ch, f))
            << "bus " << bus << " channel " << ch << " frame " << f;
  }
}

TEST_F(ProcessTest, SilentOutputChannelsAreFlagged)
{
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug p;
    p.Start(is64 ? kSample64 : kSample32, 256);

    // Silence in: silence out, both channels flagged.
    Block quiet(is64, 256);
    quiet.out.Fill(0.5);
    ASSERT_EQ(kResultOk, quiet.Run(p.proc()));
    for (int f = 0; f < 256; ++f)
      ASSERT_EQ(0.0, quiet.out.Get(0, 0, f)) << "frame " << f;
    EXPECT_EQ(0x3u, quiet.out.Buses()[0].silenceFlags);

    // Bypassed, each channel on its own: only the right one carries sound,
    // the left one a NaN at its last frame, which is not silence either.
    Block half(is64, 256);
    half.changes.Add(kBpas, 1.0);
    for (int f = 0; f < 256; ++f)
      half.in.Set(0, 1, f, f == 200 ? 0.25 : 0.0);
    ASSERT_EQ(kResultOk, half.Run(p.proc()));
    EXPECT_EQ(0x1u, half.out.Buses()[0].silenceFlags);
    Block nan(is64, 256);
    nan.in.Set(0, 0, 255, std::nan(""));
    ASSERT_EQ(kResultOk, nan.Run(p.proc()));
    EXPECT_EQ(0x2u, nan.out.Buses()[0].silenceFlags);
    // A block that ends between the check's runs, sound only in its last
    // frame; a negative zero is silence.
    Block tail(is64, 70);
    tail.in.Set(0, 0, 69, 1e-30);
    tail.in.Set(0, 1, 3, -0.0);
    ASSERT_EQ(kResultOk, tail.Run(p.proc()));
    EXPECT_EQ(0x2u, tail.out.Buses()[0].silenceFlags);

    // Sound again: no flags, whatever the host left in them.
    Block loud(is64, 256);
    FillSignal(loud, 0);
    loud.out.Buses()[0].silenceFlags = 0x3;
    ASSERT_EQ(kResultOk, loud.Run(p.proc()));
    EXPECT_EQ(0x0u, loud.out.Buses()[0].silenceFlags);
  }
}

TEST_F(ProcessTest, HugeAnnouncedBlockSizeIsAcceptedAndSafe)
{
  // A maximum of a billion frames must not size scratch buffers by it.
  Plug a, b;
  a.Start(kSample32, 1 << 30);
  b.Start(kSample32, 4096);
  auto big = Render(a, false, 5000, {5000});
  auto ref = Render(b, false, 5000, {4096});
  ASSERT_EQ(ref.size(), big.size());
  for (size_t i = 0; i < ref.size(); ++i)
    ASSERT_EQ(ref[i], big[i]) << "sample " << i / 2;
}

TEST_F(ProcessTest, VaryingBlockSizesIncludingOneAndTheMaximum)
{
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug a, b;
    a.Start(is64 ? kSample64 : kSample32, 512);
    b.Start(is64 ? kSample64 : kSample32, 512);
    Compress(a);
    Compress(b);
    auto varied = Render(a, is64, 6000, {1, 512, 7, 300, 1, 1, 511, 64, 0, 129});
    auto fixed = Render(b, is64, 6000, {512});
    ASSERT_EQ(fixed.size(), varied.size());
    for (size_t i = 0; i < fixed.size(); ++i)
      ASSERT_EQ(fixed[i], varied[i]) << "sample " << i / 2;
  }
}

TEST_F(ProcessTest, ProcessingOnAnotherThreadThanTheSetup)
{
  Plug a, b;
  a.Start(kSample32, 256);
  b.Start(kSample32, 256);
  Compress(a);
  Compress(b);
  std::vector<double> onThread;
  std::thread t([&] { onThread = Render(a, false, 3000, {256, 100}); });
  t.join();
  auto here = Render(b, false, 3000, {256, 100});
  ASSERT_EQ(here.size(), onThread.size());
  for (size_t i = 0; i < here.size(); ++i)
    ASSERT_EQ(here[i], onThread[i]) << "sample " << i / 2;
}

// A value set through the controller alone reaches the sound at the next
// block, whichever parameter it is: the same output as the host's point at
// the block's start.
TEST_F(ProcessTest, ControllerSetterReachesTheSoundAsAutomationDoes)
{
  const struct
  {
    ParamID tag;
    double value;
  } changes[] = {{kInputTag, 0.3}, {kOutputTag, 0.2}, {2, 0.1}, {3, 0.9}, {4, 0.6},
                 {5, 0.4},         {6, 1.0},          {7, 1.0}, {8, 0.0}};
  for (const auto& c : changes)
  {
    SCOPED_TRACE(c.tag);
    Plug a, b;
    a.Start();
    b.Start();
    Compress(a);
    Compress(b);
    ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(c.tag, c.value));
    auto viaController = Render(a, false, 2048, {512}, 0.5, 0.3);
    auto viaPoint = Render(b, false, 2048, {512}, 0.5, 0.3, [&](long done, Block& blk) {
      if (done == 0) blk.changes.Add(c.tag, c.value);
    });
    ASSERT_EQ(viaPoint.size(), viaController.size());
    for (size_t i = 0; i < viaPoint.size(); ++i)
      ASSERT_EQ(viaPoint[i], viaController[i]) << "sample " << i / 2;
  }
}

// A host that sets up again while its audio thread is still processing (out
// of order, but it happens) must not pull the scratch buffers from under the
// block being processed. The sanitizer build catches the use after free.
TEST_F(ProcessTest, SetupDuringProcessingOnAnotherThreadIsSafe)
{
  Plug p;
  p.Start(kSample32, 512);
  Compress(p);
  std::atomic<bool> stop{false}, settingUp{false};
  std::atomic<long> overlapping{0};
  bool finite = true;
  std::thread audio([&] {
    long done = 0;
    while (!stop.load())
    {
      Block b(false, 256);
      FillSignal(b, done);
      const bool before = settingUp.load();
      if (b.Run(p.proc()) != kResultOk) finite = false;
      // Only a block that began and ended inside the set-up loop counts.
      if (before && settingUp.load()) overlapping.fetch_add(1);
      for (int f = 0; f < 256; ++f)
        if (!std::isfinite(b.out.Get(0, 0, f)) || !std::isfinite(b.out.Get(0, 1, f))) finite = false;
      done += 256;
    }
  });
  // At least 300 set-ups, and on until 20 blocks ran among them: a loaded
  // machine that starts the audio thread late must not pass untested.
  settingUp.store(true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int i = 0; i < 300 || (overlapping.load() < 20 && std::chrono::steady_clock::now() < deadline); ++i)
    if (p.Setup(kSample32, (i % 2) ? 64 : 4096) != kResultOk)
    {
      ADD_FAILURE() << "set-up " << i << " refused";
      break;
    }
  settingUp.store(false);
  stop.store(true);
  audio.join();
  EXPECT_GE(overlapping.load(), 20);
  EXPECT_TRUE(finite);
}

// What hosts are told of the delay and the tail is what an impulse shows:
// its peak comes out as many frames late as the latency says, at every rate,
// and what rings after it has fallen below -100 dB before the tail ends.
TEST_F(ProcessTest, LatencyAndTailAreWhatAnImpulseShows)
{
  for (double rate : {44100.0, 48000.0, 96000.0})
    for (int os = 0; os <= 1; ++os)
    {
      SCOPED_TRACE(testing::Message() << rate << " Hz, Oversample " << os);
      Plug p;
      p.Start(kSample64, 512, rate);
      const long at = 1000;
      std::vector<double> out;
      long done = 0;
      for (int k = 0; done < (long)rate; ++k, done += 512)
      {
        Block b(true, 512);
        if (k == 0) b.changes.Add(kOversampleTag, os);
        for (int f = 0; f < 512; ++f) b.in.Set(0, 0, f, done + f == at ? 0.5 : 0.0);
        ASSERT_EQ(kResultOk, b.Run(p.proc()));
        for (int f = 0; f < 512; ++f) out.push_back(b.out.Get(0, 0, f));
      }
      long peak = 0;
      for (long i = 0; i < (long)out.size(); ++i)
        if (std::fabs(out[(size_t)i]) > std::fabs(out[(size_t)peak])) peak = i;
      const long latency = (long)p.proc()->getLatencySamples();
      EXPECT_EQ(os ? 5 : 0, latency);
      EXPECT_EQ(at + latency, peak);
      long last = peak;
      for (long i = peak; i < (long)out.size(); ++i)
        if (std::fabs(out[(size_t)i]) > 0.5e-5) last = i;  // -100 dB under the impulse
      EXPECT_LT(last - at, (long)p.proc()->getTailSamples());
      EXPECT_GE((long)p.proc()->getTailSamples(), (long)(0.5 * rate));  // the longest release
    }
}
