// Tavlo.clap loaded with dlopen as a CLAP host loads it, driven through
// clap_entry and the plug-in's extensions only, and held to the VST 3
// bundle: the same parameter table, the same state bytes both ways, the
// same samples for the same automation point, and the latency told as CLAP
// asks (a restart of an active plug-in).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ClapBindingHost.h"
#include "HostFixture.h"
#ifdef TAVLO_CLAP_COUNTS_ALLOCATIONS
#include "AllocCounting.h"
#endif

using namespace clapbinding;

namespace {

class ClapBindingTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(Module().factory) << Module().error;
    ASSERT_TRUE(vst3host::SharedModule().IsLoaded()) << vst3host::SharedModule().Error();
  }
};

// ---- Rendering through either bundle ----

// A value at a frame of a block: the CLAP host sends the plain value (in the
// VST 3 host's units) at the frame, the VST 3 host the normalised one.
struct Point
{
  int block, offset, param;
  double plain, normalized;
};

struct Render
{
  std::vector<double> left, right;
};

double Signal(int ch, long frame) { return vst3host::TestSignal(ch, frame, 0.9); }

// Side-chain: fed its own signal, or given no buffers (an unconnected port).
// In place, the output port is given the main input's buffers.
Render RenderClap(const std::vector<int>& blocks, const std::vector<Point>& points, bool is64, bool sideChain,
                  ClapPlug* reuse = nullptr, bool inPlace = false, double rate = 48000.0)
{
  ClapPlug own;
  ClapPlug& plug = reuse ? *reuse : own;
  if (!reuse) plug.Start(rate);
  Render r;
  long frame = 0;
  for (int b = 0; b < (int)blocks.size(); ++b)
  {
    const int n = blocks[(size_t)b];
    std::vector<std::vector<float>> f32(6, std::vector<float>((size_t)n));
    std::vector<std::vector<double>> f64(6, std::vector<double>((size_t)n));
    for (int ch = 0; ch < 4; ++ch)
      for (int f = 0; f < n; ++f) f32[(size_t)ch][(size_t)f] = (float)(f64[(size_t)ch][(size_t)f] = Signal(ch, frame + f));
    float* p32[6];
    double* p64[6];
    for (int c = 0; c < 6; ++c) p32[c] = f32[(size_t)c].data(), p64[c] = f64[(size_t)c].data();
    clap_audio_buffer_t in[2] = {}, out = {};
    in[0].channel_count = in[1].channel_count = out.channel_count = 2;
    (is64 ? (void)(in[0].data64 = p64) : (void)(in[0].data32 = p32));
    (is64 ? (void)(in[1].data64 = p64 + 2) : (void)(in[1].data32 = p32 + 2));
    (is64 ? (void)(out.data64 = p64 + (inPlace ? 0 : 4)) : (void)(out.data32 = p32 + (inPlace ? 0 : 4)));
    Events ev;
    for (const Point& pt : points)
      if (pt.block == b) ev.Add((clap_id)pt.param, pt.plain, (uint32_t)pt.offset);
    OutEvents oev;
    clap_process_t proc = {};
    proc.steady_time = frame;
    proc.frames_count = (uint32_t)n;
    proc.audio_inputs = in;
    proc.audio_inputs_count = sideChain ? 2 : 1;
    proc.audio_outputs = &out;
    proc.audio_outputs_count = 1;
    proc.in_events = &ev.list;
    proc.out_events = &oev.list;
    EXPECT_EQ(CLAP_PROCESS_CONTINUE, plug.p->process(plug.p, &proc));
    for (int f = 0; f < n; ++f)
    {
      const int o = inPlace ? 0 : 4;
      r.left.push_back(is64 ? p64[o][f] : (double)p32[o][f]);
      r.right.push_back(is64 ? p64[o + 1][f] : (double)p32[o + 1][f]);
    }
    frame += n;
  }
  return r;
}

Render RenderVst3(const std::vector<int>& blocks, const std::vector<Point>& points, bool is64, bool sideChain,
                  double rate = 48000.0)
{
  using namespace Steinberg::Vst;
  vst3host::Plug p;
  p.Start(is64 ? kSample64 : kSample32, 8192, rate);
  if (sideChain) p.comp()->activateBus(kAudio, kInput, 1, true);
  Render r;
  long frame = 0;
  for (int b = 0; b < (int)blocks.size(); ++b)
  {
    const int n = blocks[(size_t)b];
    vst3host::Block blk(is64, n, true);
    for (const Point& pt : points)
      if (pt.block == b) blk.changes.Add((ParamID)pt.param, pt.normalized, pt.offset);
    for (int f = 0; f < n; ++f)
      for (int ch = 0; ch < 2; ++ch)
      {
        blk.in.Set(0, ch, f, Signal(ch, frame + f));
        blk.sc.Set(0, ch, f, Signal(ch + 2, frame + f));
      }
    EXPECT_EQ(Steinberg::kResultOk, blk.Run(p.proc()));
    for (int f = 0; f < n; ++f)
    {
      r.left.push_back(blk.out.Get(0, 0, f));
      r.right.push_back(blk.out.Get(0, 1, f));
    }
    frame += n;
  }
  return r;
}

long FirstDifference(const Render& a, const Render& b)
{
  if (a.left.size() != b.left.size()) return 0;
  for (size_t i = 0; i < a.left.size(); ++i)
    if (memcmp(&a.left[i], &b.left[i], sizeof(double)) || memcmp(&a.right[i], &b.right[i], sizeof(double)))
      return (long)i;
  return -1;
}

// ---------------------------------------------------------------------------

TEST_F(ClapBindingTest, DescriptorPortsAndParameterTableMatchTheVst3Bundle)
{
  ASSERT_EQ(1u, Module().factory->get_plugin_count(Module().factory));
  const clap_plugin_descriptor_t* d = Module().factory->get_plugin_descriptor(Module().factory, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ("com.quillmarshworks.tavlo", d->id);
  EXPECT_STREQ("Tavlo", d->name);
  EXPECT_STREQ("Quillmarshworks", d->vendor);
  EXPECT_STREQ("3.3.0", d->version);
  std::vector<std::string> features;
  for (const char* const* f = d->features; f && *f; ++f) features.push_back(*f);
  EXPECT_EQ((std::vector<std::string>{"audio-effect", "compressor", "stereo"}), features);
  TestHost host;
  EXPECT_EQ(nullptr, Module().factory->create_plugin(Module().factory, &host.host, "com.quillmarshworks.other"));

  // The module's one export.
  FILE* nm = popen("nm -D --defined-only '" TAVLO_CLAP_PATH "' 2>&1", "r");
  ASSERT_NE(nullptr, nm);
  std::vector<std::string> exported;
  char line[1024];
  while (fgets(line, sizeof(line), nm))
  {
    std::string name(line);
    name.erase(name.find_last_not_of("\r\n") + 1);
    exported.push_back(name.substr(name.find_last_of(' ') + 1));
  }
  ASSERT_EQ(0, pclose(nm));
  EXPECT_EQ(std::vector<std::string>{"clap_entry"}, exported);

  ClapPlug c;
  ASSERT_TRUE(c.params && c.state && c.latency && c.ports);
  // Ports: stereo main in, stereo side-chain (not main), stereo out; 64-bit.
  ASSERT_EQ(2u, c.ports->count(c.p, true));
  ASSERT_EQ(1u, c.ports->count(c.p, false));
  clap_audio_port_info_t main = {}, sc = {}, out = {};
  ASSERT_TRUE(c.ports->get(c.p, 0, true, &main) && c.ports->get(c.p, 1, true, &sc) && c.ports->get(c.p, 0, false, &out));
  EXPECT_EQ(2u, main.channel_count);
  EXPECT_EQ(2u, sc.channel_count);
  EXPECT_EQ(2u, out.channel_count);
  EXPECT_TRUE(main.flags & out.flags & CLAP_AUDIO_PORT_IS_MAIN);
  EXPECT_FALSE(sc.flags & CLAP_AUDIO_PORT_IS_MAIN);
  EXPECT_TRUE(main.flags & sc.flags & out.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS);
  EXPECT_NE(sc.id, main.id);

  // Every VST 3 parameter under its tag, with the VST 3 host's plain range
  // and default; then the meters, read-only.
  vst3host::Plug v;
  ASSERT_EQ((uint32_t)kNumParams + 2, c.params->count(c.p));
  for (uint32_t i = 0; i < c.params->count(c.p); ++i)
  {
    clap_param_info_t info = {};
    ASSERT_TRUE(c.params->get_info(c.p, i, &info));
    if (i >= kNumParams)
    {
      EXPECT_EQ(kMeter + (i - kNumParams), info.id);
      EXPECT_EQ((uint32_t)CLAP_PARAM_IS_READONLY, info.flags) << info.name;
      EXPECT_LE(info.min_value, c.Value(info.id));
      EXPECT_GE(info.max_value, c.Value(info.id));
      continue;
    }
    EXPECT_EQ(i, info.id);
    Steinberg::Vst::ParameterInfo vi = {};
    for (int k = 0; k < v.ctrl()->getParameterCount(); ++k)
      if (v.ctrl()->getParameterInfo(k, vi) == Steinberg::kResultOk && vi.id == i) break;
    ASSERT_EQ(i, vi.id);
    EXPECT_DOUBLE_EQ(v.ctrl()->normalizedParamToPlain(i, 0.0), info.min_value) << info.name;
    EXPECT_DOUBLE_EQ(v.ctrl()->normalizedParamToPlain(i, 1.0), info.max_value) << info.name;
    EXPECT_DOUBLE_EQ(v.ctrl()->normalizedParamToPlain(i, vi.defaultNormalizedValue), info.default_value) << info.name;
    EXPECT_DOUBLE_EQ(info.default_value, c.Value(i)) << info.name;
    EXPECT_EQ(vi.stepCount > 0, (info.flags & CLAP_PARAM_IS_STEPPED) != 0) << info.name;
    EXPECT_EQ(i == kByp, (info.flags & CLAP_PARAM_IS_BYPASS) != 0) << info.name;
    EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE) << info.name;
  }

  // Text both ways from the unit records: the value with its unit, and what
  // people type (either unit of a time, a switch's words).
  struct TextCase
  {
    clap_id id;
    double value;
    const char* shown;
    const char* typed;
    double read;
  };
  const TextCase texts[] = {
    {kAtk, 5.0, "5.0 ms", "5 ms", 5.0},      {kAtk, 5.0, "5.0 ms", "0.002 s", 2.0},
    {kRel, 300.0, "300 ms", "450", 450.0},   {kOut, -3.0, "-3.0 dB", "-3 dB", -3.0},
    {kHpf, 80.0, "80 Hz", "0.2 kHz", 200.0}, {kOs, 1.0, "On", "off", 0.0},
    {kSc, 0.0, "External", "Internal", 1.0}, {kIn, 1000.0, "400", "1000", 400.0},
  };
  for (const TextCase& t : texts)
  {
    char text[64] = {};
    ASSERT_TRUE(c.params->value_to_text(c.p, t.id, t.value, text, sizeof(text)));
    EXPECT_STREQ(t.shown, text);
    double read = NAN;
    ASSERT_TRUE(c.params->text_to_value(c.p, t.id, t.typed, &read)) << t.typed;
    EXPECT_DOUBLE_EQ(t.read, read) << t.typed;
  }
  double ignored = 0.0;
  EXPECT_FALSE(c.params->text_to_value(c.p, kAtk, "fast", &ignored));
  // A meter (read-only, its id apart from the parameters') converts its own
  // text back; nothing sets it (AutomationOfEveryParameterSoundsAsTheVst3Bundle).
  char shown[64] = {};
  ASSERT_TRUE(c.params->value_to_text(c.p, kMeter, 0.5, shown, sizeof(shown)));
  double read = NAN;
  ASSERT_TRUE(c.params->text_to_value(c.p, kMeter, shown, &read)) << shown;
  EXPECT_DOUBLE_EQ(0.5, read) << shown;
  EXPECT_FALSE(c.params->text_to_value(c.p, kNumParams, "0", &ignored)) << "no parameter has this id";
}

TEST_F(ClapBindingTest, StateIsTheVst3ComponentsBytesAndMovesBothWays)
{
  // Values exact in both forms: plain in the VST 3 host's units, normalised.
  const Point settings[] = {{0, 0, kIn, 80.0, 0.2},  {0, 0, kOut, -5.0, 0.375}, {0, 0, kMix, 50.0, 0.5},
                            {0, 0, kHpf, 200.0, 0.375}, {0, 0, kOs, 1.0, 1.0},  {0, 0, kSc, 0.0, 0.0}};
  vst3host::Plug v;
  ClapPlug c;
  Events ev;
  for (const Point& s : settings)
  {
    ASSERT_EQ(Steinberg::kResultOk, v.ctrl()->setParamNormalized((Steinberg::Vst::ParamID)s.param, s.normalized));
    ev.Add((clap_id)s.param, s.plain);
  }
  c.Flush(ev);
  vst3host::MemoryStream vs;
  ASSERT_EQ(Steinberg::kResultOk, v.comp()->getState(&vs));
  const std::vector<uint8_t> saved = c.Save();
  EXPECT_EQ(vs.Data(), saved);
  EXPECT_EQ(vst3host::kStateSize, saved.size());
  EXPECT_EQ(saved, c.Save()) << "saving twice";

  // A VST 3 state loads into a fresh CLAP instance (read in pieces of 7
  // bytes), and a CLAP state into a fresh VST 3 one.
  ClapPlug c2;
  ASSERT_TRUE(c2.Load(vs.Data(), 7));
  EXPECT_EQ(saved, c2.Save());
  for (const Point& s : settings) EXPECT_DOUBLE_EQ(s.plain, c2.Value((clap_id)s.param)) << s.param;
  EXPECT_EQ(0u, c2.host.log.rescans) << "not from inside load";
  EXPECT_EQ(1, c2.host.log.callbacks);
  c2.p->on_main_thread(c2.p);
  EXPECT_TRUE(c2.host.log.rescans & CLAP_PARAM_RESCAN_VALUES) << "the host reads the values again";

  vst3host::Plug v2;
  vst3host::MemoryStream cs(saved);
  ASSERT_EQ(Steinberg::kResultOk, v2.comp()->setState(&cs));
  for (const Point& s : settings)
    EXPECT_DOUBLE_EQ(s.normalized, v2.ctrl()->getParamNormalized((Steinberg::Vst::ParamID)s.param)) << s.param;
}

TEST_F(ClapBindingTest, TruncatedOrForeignStateIsRefusedAndChangesNothing)
{
  ClapPlug c;
  Events ev;
  ev.Add(kIn, 120.0);
  ev.Add(kAtk, 2.0);
  c.Flush(ev);
  const std::vector<uint8_t> before = c.Save();

  // Another instance's state, to be cut short or spoilt.
  ClapPlug other;
  Events oev;
  oev.Add(kIn, 300.0);
  oev.Add(kOs, 1.0);
  other.Flush(oev);
  const std::vector<uint8_t> good = other.Save();

  std::vector<std::vector<uint8_t>> bad;
  for (size_t n : {size_t(0), size_t(1), size_t(8), vst3host::kValuesSize - 1, vst3host::kValuesSize + 5,
                   good.size() - 1})
    bad.emplace_back(good.begin(), good.begin() + (long)n);
  std::vector<uint8_t> junk = good;
  junk.insert(junk.end(), {1, 2, 3});
  bad.push_back(junk);  // more after the tail
  std::vector<uint8_t> bypassWord = good;
  bypassWord[vst3host::kValuesSize - 4] = 7;
  bad.push_back(bypassWord);  // a bypass word no release writes
  std::vector<uint8_t> nan = good;
  const double q = NAN;
  memcpy(nan.data(), &q, sizeof(q));
  bad.push_back(nan);  // a value that is no number
  std::mt19937 rng(30);
  std::vector<uint8_t> random(1u << 20);
  for (uint8_t& b : random) b = (uint8_t)rng();
  bad.push_back(random);

  for (const std::vector<uint8_t>& b : bad)
  {
    EXPECT_FALSE(c.Load(b)) << b.size() << " bytes";
    EXPECT_EQ(before, c.Save()) << b.size() << " bytes changed the instance";
  }
  EXPECT_DOUBLE_EQ(120.0, c.Value(kIn));
  EXPECT_EQ(0, c.host.log.callbacks) << "nothing to read again";
  EXPECT_TRUE(c.Load(good, 13));
  EXPECT_DOUBLE_EQ(300.0, c.Value(kIn));
}

TEST_F(ClapBindingTest, AnEventAtItsTimeSoundsAsTheVst3BundlesPointAtThatOffset)
{
  const std::vector<int> blocks = {512, 700, 1, 4100, 256};
  const long blockStart = 512;  // block 1
  for (int k : {0, 1, 123, 699})
  {
    // Input from 0 to 200 at frame k of the second block; later, Output and
    // Oversample (whose delay the host's next restart would report).
    const std::vector<Point> points = {{0, 0, kIn, 0.0, 0.0},
                                       {1, k, kIn, 200.0, 0.5},
                                       {3, 2049, kOut, -5.0, 0.375},
                                       {3, 3000, kOs, 1.0, 1.0},
                                       {4, 255, kMix, 50.0, 0.5}};
    const std::vector<Point> without = {points[0]};
    for (bool is64 : {false, true})
    {
      const Render clap = RenderClap(blocks, points, is64, true);
      EXPECT_EQ(-1, FirstDifference(clap, RenderVst3(blocks, points, is64, true)))
        << "offset " << k << (is64 ? ", 64-bit" : ", 32-bit");
      EXPECT_EQ(-1, FirstDifference(clap, RenderClap(blocks, points, is64, true, nullptr, true)))
        << "in place, offset " << k << (is64 ? ", 64-bit" : ", 32-bit");
      // Nothing before its frame hears it (when it is heard at once depends
      // on where the detector stands).
      const long heard = FirstDifference(clap, RenderClap(blocks, without, is64, true));
      EXPECT_GE(heard, blockStart + k) << "offset " << k;
      EXPECT_LT(heard, blockStart + 700 + 1 + 4100) << "offset " << k;
    }
  }
  // An unconnected side-chain reads silence, as a deactivated VST 3 bus does,
  // with the detector listening to it.
  const std::vector<Point> external = {{0, 0, kIn, 200.0, 0.5}, {0, 0, kSc, 0.0, 0.0}};
  EXPECT_EQ(-1, FirstDifference(RenderClap(blocks, external, false, false), RenderVst3(blocks, external, false, false)));
  EXPECT_NE(-1, FirstDifference(RenderClap(blocks, external, false, false), RenderClap(blocks, external, false, true)));
}

// Every parameter automated within blocks, the switches with their fades,
// at three rates: the same samples as the VST 3 bundle's. Each value is
// exact in both forms (the times at the ends of their ranges).
TEST_F(ClapBindingTest, AutomationOfEveryParameterSoundsAsTheVst3Bundle)
{
  const std::vector<int> blocks = {512, 37, 1000, 4100, 256, 1, 700, 3000, 2048};
  const std::vector<Point> points = {
    {0, 0, kIn, 200.0, 0.5},      {0, 0, kSc, 0.0, 0.0},       {1, 5, kAtk, 10.1, 1.0},
    {2, 400, kRel, 100.0, 0.0},   {2, 401, kHpf, 200.0, 0.375}, {3, 17, kOs, 1.0, 1.0},
    {3, 2000, kSc, 1.0, 1.0},     {3, 3001, kOut, -5.0, 0.375}, {4, 100, kMix, 50.0, 0.5},
    {5, 0, kByp, 1.0, 1.0},       {6, 350, kAtk, 0.1, 0.0},    {7, 1200, kByp, 0.0, 0.0},
    {7, 1201, kRel, 500.0, 1.0},  {8, 9, kOs, 0.0, 0.0},       {8, 2000, kIn, 100.0, 0.25}};
  for (double rate : {44100.0, 48000.0, 96000.0})
    for (bool is64 : {false, true})
      EXPECT_EQ(-1, FirstDifference(RenderClap(blocks, points, is64, true, nullptr, false, rate),
                                    RenderVst3(blocks, points, is64, true, rate)))
        << rate << (is64 ? " Hz, 64-bit" : " Hz, 32-bit");
}

TEST_F(ClapBindingTest, ValuesThatAreNoSettingChangeNothing)
{
  const std::vector<int> blocks = {512, 512};
  const std::vector<Point> base = {{0, 0, kIn, 150.0, 0.375}};
  std::vector<Point> noise = base;
  noise.push_back({1, 10, kIn, NAN, 0});
  noise.push_back({1, 20, kOut, INFINITY, 0});
  noise.push_back({1, 30, kMeter, 1.0, 0});          // the meter: read-only
  noise.push_back({1, 40, kNumParams + 7, 1.0, 0});  // no such parameter
  EXPECT_EQ(-1, FirstDifference(RenderClap(blocks, base, false, true), RenderClap(blocks, noise, false, true)));
  // Beyond the range is its end.
  ClapPlug c;
  Events ev;
  ev.Add(kIn, 1e9);
  ev.Add(kAtk, -4.0);
  c.Flush(ev);
  EXPECT_DOUBLE_EQ(400.0, c.Value(kIn));
  EXPECT_DOUBLE_EQ(0.1, c.Value(kAtk));
}

TEST_F(ClapBindingTest, LatencyFollowsOversampleAndIsToldThroughARestart)
{
  ClapPlug c;
  c.Start();
  EXPECT_EQ(0u, c.latency->get(c.p));
  // Oversample switched on by automation, on the audio thread: the host is
  // asked for a main-thread call, and there for a restart.
  RenderClap({256}, {{0, 100, kOs, 1.0, 1.0}}, false, true, &c);
  // Until the host restarts the plug-in, it keeps the latency it activated
  // with, as CLAP asks.
  EXPECT_EQ(0u, c.latency->get(c.p));
  EXPECT_EQ(1, c.host.log.callbacks);
  EXPECT_EQ(0, c.host.log.restarts) << "not from inside process";
  c.p->on_main_thread(c.p);
  EXPECT_EQ(1, c.host.log.restarts);
  EXPECT_EQ(0, c.host.log.latencyChanged);
  c.p->stop_processing(c.p);
  c.processing = false;
  c.p->deactivate(c.p);
  c.active = false;
  EXPECT_EQ(5u, c.latency->get(c.p));
  c.Start();
  EXPECT_EQ(5u, c.latency->get(c.p));

  // Inactive, the host is told the latency changed instead.
  c.p->stop_processing(c.p);
  c.processing = false;
  c.p->deactivate(c.p);
  c.active = false;
  Events ev;
  ev.Add(kOs, 0.0);
  c.Flush(ev);
  EXPECT_EQ(0u, c.latency->get(c.p));
  c.p->on_main_thread(c.p);
  EXPECT_EQ(1, c.host.log.restarts);
  EXPECT_EQ(1, c.host.log.latencyChanged);
}

TEST_F(ClapBindingTest, ProcessingStartedAgainOrResetSoundsAsANewInstance)
{
  const std::vector<int> blocks = {512, 1000, 37};
  Events heavy;
  heavy.Add(kIn, 300.0);
  ClapPlug fresh;
  fresh.Flush(heavy);
  fresh.Start();
  const Render expected = RenderClap(blocks, {}, false, true, &fresh);

  ClapPlug c;
  c.Flush(heavy);
  c.Start();
  RenderClap({4096, 4096}, {}, false, true, &c);  // gain reduction built up
  c.p->stop_processing(c.p);
  ASSERT_TRUE(c.p->start_processing(c.p));
  EXPECT_EQ(-1, FirstDifference(expected, RenderClap(blocks, {}, false, true, &c))) << "after start_processing";

  RenderClap({4096, 4096}, {}, false, true, &c);
  c.p->reset(c.p);
  EXPECT_EQ(-1, FirstDifference(expected, RenderClap(blocks, {}, false, true, &c))) << "after reset";

  RenderClap({4096, 4096}, {}, false, true, &c);
  c.p->stop_processing(c.p);
  c.p->deactivate(c.p);
  c.Start();
  EXPECT_EQ(-1, FirstDifference(expected, RenderClap(blocks, {}, false, true, &c))) << "after re-activation";

  // Rates outside those an instance is made for are refused.
  ClapPlug d;
  EXPECT_FALSE(d.p->activate(d.p, 4000.0, 1, 512));
  EXPECT_FALSE(d.p->activate(d.p, NAN, 1, 512));
  EXPECT_TRUE(d.p->activate(d.p, 768000.0, 1, 512));
  d.active = true;
}

#ifdef TAVLO_CLAP_COUNTS_ALLOCATIONS
// The audio thread's calls allocate nothing: blocks with events at their
// times (Oversample among them, whose latency the host is asked to hear
// of), both sample sizes, a side-chain without buffers, restarts, a flush.
TEST_F(ClapBindingTest, TheAudioThreadsCallsAllocateNothing)
{
  ClapPlug c;
  c.Start(48000.0, 1024);
  std::vector<std::vector<float>> f32(6, std::vector<float>(1500, 0.25f));
  std::vector<std::vector<double>> f64(6, std::vector<double>(1500, 0.25));
  float* p32[6];
  double* p64[6];
  for (int k = 0; k < 6; ++k) p32[k] = f32[(size_t)k].data(), p64[k] = f64[(size_t)k].data();
  clap_audio_buffer_t in32[2] = {}, out32 = {}, in64[2] = {}, out64 = {};
  in32[0].channel_count = in32[1].channel_count = out32.channel_count = 2;
  in64[0].channel_count = in64[1].channel_count = out64.channel_count = 2;
  in32[0].data32 = p32, in32[1].data32 = p32 + 2, out32.data32 = p32 + 4;
  in64[0].data64 = p64, in64[1].data64 = p64 + 2, out64.data64 = p64 + 4;
  Events ev;
  ev.Add(kIn, 250.0, 3);
  ev.Add(kOs, 1.0, 100);
  ev.Add(kAtk, 1.0, 100);
  ev.Add(kMix, 70.0, 999);
  ev.Add(kOs, 0.0, 1400);
  Events none;
  OutEvents out;
  out.events.reserve(64);
  clap_process_t proc = {};
  proc.frames_count = 1500;  // longer than announced: processed in pieces
  proc.in_events = &ev.list;
  proc.out_events = &out.list;
  proc.audio_outputs_count = 1;

  AllocCounting::Start();
  for (int round = 0; round < 2; ++round)
  {
    proc.audio_inputs = round ? in64 : in32;
    proc.audio_outputs = round ? &out64 : &out32;
    proc.audio_inputs_count = 2;
    c.p->process(c.p, &proc);
    proc.audio_inputs_count = 1;
    c.p->process(c.p, &proc);
    c.p->stop_processing(c.p);
    c.p->start_processing(c.p);
    c.p->process(c.p, &proc);
    c.p->reset(c.p);
    c.p->process(c.p, &proc);
    c.params->flush(c.p, &none.list, &out.list);
  }
  const long allocations = AllocCounting::Stop();
  EXPECT_EQ(0, allocations);
  EXPECT_GT(c.host.log.callbacks, 0) << "the latency changed on the way";
}
#endif

}  // namespace
