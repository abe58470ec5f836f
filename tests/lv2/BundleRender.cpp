#include "BundleRender.h"

#include <algorithm>
#include <cstring>

#ifdef TAVLO_CLAP_PATH
#include "host/ClapHost.h"
#endif

namespace bundles {

using namespace lv2host;

World& SharedWorld()
{
  static World world(TAVLO_LV2_BUNDLE_PATH, {TAVLO_LV2_SPEC_DIR "/core.lv2"});
  return world;
}

const std::vector<int> kBlocks = {512, 512, 1000, 37, 6000, 256};

namespace {

const char* const kSymbols[] = {"input", "output", "attack",     "release", "mix",      "hpf",
                                "oversample", "bypass", "sidechain", "detector", "listen"};

float TestSignal(int ch, long frame, double) { return (float)vst3host::TestSignal(ch, frame, 0.9); }

// The blocks of a render: their sizes in order, the last one cut short.
std::vector<int> Schedule(const RenderCase& c)
{
  const std::vector<int>& sizes = c.blocks ? *c.blocks : kBlocks;
  if (!c.blocks || c.frames <= 0) return sizes;
  std::vector<int> out;
  for (long done = 0; done < c.frames; done += out.back())
    out.push_back((int)std::min<long>(sizes[out.size() % sizes.size()], c.frames - done));
  return out;
}

}  // namespace

Render RenderLv2(const RenderCase& c)
{
  World& w = SharedWorld();
  Instance inst(w, w.Plugin(), c.rate, kMaxBlock);
  Render out;
  if (!inst) return out;
  if (!c.sideChain)
  {
    inst.Connect("sc_l", false);
    inst.Connect("sc_r", false);
  }
  const Signal signal = c.signal ? c.signal : TestSignal;
  const std::vector<int> blocks = Schedule(c);
  long frame = 0;
  bool sideChain = c.sideChain;
  for (int b = 0; b < (int)blocks.size(); ++b)
  {
    if (std::count(c.sideChainFlips.begin(), c.sideChainFlips.end(), b))
    {
      sideChain = !sideChain;
      inst.Connect("sc_l", sideChain);
      inst.Connect("sc_r", sideChain);
    }
    const int n = blocks[(size_t)b];
    // One run up to each frame at which a control changes.
    std::vector<int> cuts = {0, n};
    for (const Change& ch : c.changes)
      if (ch.block == b && ch.offset > 0 && ch.offset < n) cuts.push_back(ch.offset);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (size_t s = 0; s + 1 < cuts.size(); ++s)
    {
      const int from = cuts[s], len = cuts[s + 1] - from;
      for (const Change& ch : c.changes)
        if (ch.block == b && std::max(0, ch.offset) == from)
        {
          if (ch.param == kHostBypass)
            inst.Control("enabled") = ch.plain > 0.5 ? 0.0f : 1.0f;
          else
            inst.Control(kSymbols[ch.param]) = (float)ch.plain;
        }
      const char* const ports[4] = {"in_l", "in_r", "sc_l", "sc_r"};
      for (int k = 0; k < 4; ++k)
      {
        float* p = inst.Audio(ports[k]);
        for (int f = 0; f < len && p; ++f) p[f] = signal(k, frame + from + f, c.rate);
      }
      inst.Run(len);
      out.left.insert(out.left.end(), inst.Audio("out_l"), inst.Audio("out_l") + len);
      out.right.insert(out.right.end(), inst.Audio("out_r"), inst.Audio("out_r") + len);
    }
    frame += n;
  }
  out.meter = inst.Control("gain_reduction");
  return out;
}

Render RenderVst3(const RenderCase& c, bool is64)
{
  using namespace Steinberg::Vst;
  vst3host::Plug p;
  Render out;
  p.Start(is64 ? kSample64 : kSample32, kMaxBlock, c.rate);
  if (c.sideChain) p.comp()->activateBus(kAudio, kInput, 1, true);
  const Signal signal = c.signal ? c.signal : TestSignal;
  const std::vector<int> blocks = Schedule(c);
  long frame = 0;
  bool sideChain = c.sideChain;
  for (int b = 0; b < (int)blocks.size(); ++b)
  {
    if (std::count(c.sideChainFlips.begin(), c.sideChainFlips.end(), b))
    {
      sideChain = !sideChain;
      p.comp()->activateBus(kAudio, kInput, 1, sideChain);
    }
    const int n = blocks[(size_t)b];
    // A host keeps passing a deactivated bus's buffers; they must be heard
    // as silence.
    vst3host::Block blk(is64, n, c.sideChain);
    for (const Change& ch : c.changes)
      if (ch.block == b)
        blk.changes.Add(ch.param == kHostBypass ? kBypassTag : (ParamID)ch.param, ch.normalized, ch.offset);
    for (int f = 0; f < n; ++f)
      for (int ch = 0; ch < 2; ++ch)
      {
        blk.in.Set(0, ch, f, signal(ch, frame + f, c.rate));
        blk.sc.Set(0, ch, f, signal(ch + 2, frame + f, c.rate));
      }
    EXPECT_EQ(Steinberg::kResultOk, blk.Run(p.proc()));
    for (int f = 0; f < n; ++f)
    {
      out.left.push_back(blk.out.Get(0, 0, f));
      out.right.push_back(blk.out.Get(0, 1, f));
    }
    frame += n;
  }
  return out;
}

long FirstHostBypassFrame(const RenderCase& c)
{
  const std::vector<int> blocks = Schedule(c);
  long first = -1;
  for (const Change& ch : c.changes)
  {
    if (ch.param != kHostBypass) continue;
    long at = ch.offset;
    for (int b = 0; b < ch.block && b < (int)blocks.size(); ++b) at += blocks[(size_t)b];
    if (first < 0 || at < first) first = at;
  }
  return first;
}

#ifdef TAVLO_CLAP_PATH
Render RenderClap(const RenderCase& c, bool is64)
{
  static const claphost::Module module(TAVLO_CLAP_PATH);
  claphost::Instance inst(module);
  Render out;
  EXPECT_TRUE(inst && inst.Activate(c.rate, 1, kMaxBlock) && inst.StartProcessing()) << inst.Error();
  const Signal signal = c.signal ? c.signal : TestSignal;
  const std::vector<int> blocks = Schedule(c);
  std::vector<double> in64[4], out64[2];
  std::vector<float> in32[4], out32[2];
  long frame = 0;
  bool sideChain = c.sideChain;
  for (int b = 0; b < (int)blocks.size(); ++b)
  {
    if (std::count(c.sideChainFlips.begin(), c.sideChainFlips.end(), b)) sideChain = !sideChain;
    const int n = blocks[(size_t)b];
    std::vector<claphost::Event> events;
    for (const Change& ch : c.changes)
      if (ch.block == b && ch.param != kHostBypass)
        // The times' host values are in ms, as a VST 3 host's plain ones.
        events.push_back(claphost::Event::Value((uint32_t)ch.offset, (clap_id)ch.param,
                                                ch.plain * (ch.param == 2 || ch.param == 3 ? 1000.0 : 1.0)));
    std::stable_sort(events.begin(), events.end(), [](const claphost::Event& x, const claphost::Event& y) {
      return x.time < y.time;
    });
    for (int k = 0; k < 4; ++k)
    {
      in64[k].resize((size_t)n);
      in32[k].resize((size_t)n);
      for (int f = 0; f < n; ++f) in32[k][(size_t)f] = signal(k, frame + f, c.rate), in64[k][(size_t)f] = in32[k][(size_t)f];
    }
    for (int k = 0; k < 2; ++k) out64[k].assign((size_t)n, 0.0), out32[k].assign((size_t)n, 0.0f);
    if (is64)
    {
      double* main[2] = {in64[0].data(), in64[1].data()};
      double* side[2] = {in64[2].data(), in64[3].data()};
      double* outs[2] = {out64[0].data(), out64[1].data()};
      std::vector<double* const*> ins = {main};
      if (sideChain) ins.push_back(side);
      EXPECT_NE(CLAP_PROCESS_ERROR, inst.ProcessPorts64(ins, {outs}, (uint32_t)n, events));
      for (int f = 0; f < n; ++f) out.left.push_back(out64[0][(size_t)f]), out.right.push_back(out64[1][(size_t)f]);
    }
    else
    {
      float* main[2] = {in32[0].data(), in32[1].data()};
      float* side[2] = {in32[2].data(), in32[3].data()};
      float* outs[2] = {out32[0].data(), out32[1].data()};
      std::vector<float* const*> ins = {main};
      if (sideChain) ins.push_back(side);
      EXPECT_NE(CLAP_PROCESS_ERROR, inst.ProcessPorts32(ins, {outs}, (uint32_t)n, events));
      for (int f = 0; f < n; ++f) out.left.push_back(out32[0][(size_t)f]), out.right.push_back(out32[1][(size_t)f]);
    }
    frame += n;
  }
  return out;
}
#endif

long FirstDifference(const Render& a, const Render& b)
{
  if (a.left.size() != b.left.size() || a.right.size() != b.right.size()) return 0;
  for (size_t i = 0; i < a.left.size(); ++i)
    if (memcmp(&a.left[i], &b.left[i], sizeof(double)) || memcmp(&a.right[i], &b.right[i], sizeof(double)))
      return (long)i;
  return -1;
}

double Rms(const std::vector<double>& x, size_t from, size_t to)
{
  double s = 0.0;
  for (size_t i = from; i < to; ++i) s += x[i] * x[i];
  return to > from ? std::sqrt(s / (double)(to - from)) : 0.0;
}

long BlockStart(int block)
{
  long s = 0;
  for (int b = 0; b < block; ++b) s += kBlocks[(size_t)b];
  return s;
}

}  // namespace bundles
