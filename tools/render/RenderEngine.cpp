#include "RenderEngine.h"

#include <cmath>

using namespace Steinberg;

namespace {

// Stereo buffers of one block in the plug-in's sample size.
struct BlockBuffers
{
  vst3host::AudioBuffers in, out;
  BlockBuffers(int block, bool is64) : in(2, 2, block, is64), out(1, 2, block, is64) {}
};

int64_t ZeroNonFinite(double* v, int64_t n)
{
  int64_t bad = 0;
  for (int64_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i]))
    {
      v[i] = 0.0;
      ++bad;
    }
  return bad;
}

const HostParam* FindHostBypass(const PluginSession& plug)
{
  const HostParam* hostBypass = nullptr;
  for (const HostParam& p : plug.Params())
    if (p.flags & Vst::ParameterInfo::kIsBypass) hostBypass = &p;
  return hostBypass;
}

Vst::ProcessContext PlayingContext(double rate)
{
  Vst::ProcessContext context = {};
  context.state = Vst::ProcessContext::kPlaying | Vst::ProcessContext::kTempoValid | Vst::ProcessContext::kTimeSigValid;
  context.sampleRate = rate;
  context.tempo = 120.0;
  context.timeSigNumerator = 4;
  context.timeSigDenominator = 4;
  return context;
}

void FillInputs(BlockBuffers& buf, const std::vector<double>& inFrames, const std::vector<double>& scFrames, int64_t n,
                int64_t scN)
{
  for (int64_t i = 0; i < n; ++i)
  {
    buf.in.Set(0, 0, (int)i, inFrames[2 * i]);
    buf.in.Set(0, 1, (int)i, inFrames[2 * i + 1]);
    buf.in.Set(1, 0, (int)i, i < scN ? scFrames[2 * i] : 0.0);  // a short side-chain ends in silence
    buf.in.Set(1, 1, (int)i, i < scN ? scFrames[2 * i + 1] : 0.0);
  }
}

// The first block's changes, then each lane's value where it changed.
void AddChanges(vst3host::ParameterChanges& changes, PluginSession& plug, const EngineSetup& setup, int64_t pos,
                std::vector<double>& lastSent)
{
  if (pos == 0)
    for (const ParamChange& c : setup.first) changes.Add(c.id, plug.ToNormalized(*plug.FindId(c.id), c.plain));
  for (size_t k = 0; k < setup.lanes.size(); ++k)
  {
    const ParamLane& l = setup.lanes[k];
    const double v = l.automation->ValueAt(pos / setup.rate);
    if (pos == 0 || v != lastSent[k]) changes.Add(l.id, plug.ToNormalized(*plug.FindId(l.id), v));
    lastSent[k] = v;
  }
}

void ProcessBlock(PluginSession& plug, BlockBuffers& buf, vst3host::ParameterChanges& changes,
                  Vst::ProcessContext& context, int64_t pos, int64_t n, bool is64)
{
  context.projectTimeSamples = pos;
  context.projectTimeMusic = pos / context.sampleRate * context.tempo / 60.0;
  Vst::ProcessData data;
  data.processMode = Vst::kOffline;
  data.symbolicSampleSize = is64 ? Vst::kSample64 : Vst::kSample32;
  data.numSamples = (int32)n;
  data.numInputs = std::min(2, plug.InputBusCount());
  data.inputs = buf.in.Buses();
  data.numOutputs = 1;
  data.outputs = buf.out.Buses();
  data.inputParameterChanges = &changes;
  data.processContext = &context;
  plug.Process(data);
}

void ReadOutputs(const BlockBuffers& buf, std::vector<double>& outFrames, int64_t n)
{
  for (int64_t i = 0; i < n; ++i)
  {
    outFrames[2 * i] = buf.out.Get(0, 0, (int)i);
    outFrames[2 * i + 1] = buf.out.Get(0, 1, (int)i);
  }
}

// What the output would be without gain reduction: the make-up gain,
// or the input itself while bypassed.
double ExpectedGain(const PluginSession& plug, const HostParam* outputParam, const HostParam* bypassParam,
                    const HostParam* hostBypass)
{
  double expected = 1.0;
  const bool bypassed = (bypassParam && plug.PlainValue(*bypassParam) >= 0.5) ||
                        (hostBypass && plug.PlainValue(*hostBypass) >= 0.5);
  if (!bypassed && outputParam) expected = std::pow(10.0, plug.PlainValue(*outputParam) / 20.0);
  return expected;
}

}  // namespace

bool RunEngine(PluginSession& plug, AudioSource& src, AudioSource* sidechain,
               const EngineSetup& setup, const std::function<bool(const BlockView&, std::string&)>& onBlock,
               EngineCounts& counts, std::string& error)
{
  const int block = setup.block;
  const bool is64 = setup.precision == 64;
  BlockBuffers buf(block, is64);
  std::vector<double> inFrames(2 * (size_t)block), scFrames(2 * (size_t)block), outFrames(2 * (size_t)block);
  std::vector<double> lastSent(setup.lanes.size(), NAN);
  const HostParam* outputParam = plug.Find("Output");
  const HostParam* bypassParam = plug.Find("Bypass");
  const HostParam* hostBypass = FindHostBypass(plug);
  Vst::ProcessContext context = PlayingContext(setup.rate);

  counts = EngineCounts();
  int64_t pos = 0;
  for (;;)
  {
    const int64_t n = src.Read(inFrames.data(), block);
    if (n < 0)
    {
      error = "read error at frame " + std::to_string(pos);
      return false;
    }
    if (n == 0) break;
    counts.nonFiniteIn += ZeroNonFinite(inFrames.data(), 2 * n);
    int64_t scN = 0;
    if (sidechain)
    {
      scN = sidechain->Read(scFrames.data(), n);
      if (scN < 0)
      {
        error = "side-chain read error at frame " + std::to_string(pos);
        return false;
      }
      ZeroNonFinite(scFrames.data(), 2 * scN);
    }
    FillInputs(buf, inFrames, scFrames, n, scN);
    vst3host::ParameterChanges changes;
    AddChanges(changes, plug, setup, pos, lastSent);
    ProcessBlock(plug, buf, changes, context, pos, n, is64);
    ReadOutputs(buf, outFrames, n);
    counts.nonFiniteOut += ZeroNonFinite(outFrames.data(), 2 * n);

    const double expected = ExpectedGain(plug, outputParam, bypassParam, hostBypass);
    const BlockView view{inFrames.data(), outFrames.data(), n, pos, expected};
    if (!onBlock(view, error)) return false;
    pos += n;
  }
  counts.frames = pos;
  return true;
}
