// ProcessDoubleReplacing on 512-frame stereo blocks at 48 kHz, Input 30,
// detector on the main input. Counters: ns per stereo frame and the
// real-time factor (seconds of audio processed per second of CPU).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fx/IFxBase.h"
#include "fx/IParam.h"
#include "graphics/IGraphics.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"
#include "tavlo/chain/TavloChain.h"
#include "tavlo/chain/TavloReferenceChain.h"
#include "vst3/IFxVST3.h"
#include "BenchSignal.h"
#include "host/Vst3Host.h"

namespace
{

using benchsignal::kSampleRate;
using benchsignal::MusicLike;
using benchsignal::Stereo;
const int kBlock = 512;

std::unique_ptr<Tavlo> MakeTavlo(int oversample, bool withEditor = false)
{
  std::unique_ptr<Tavlo> plug(new Tavlo(IFxInstanceInfo()));
  IFxBase* base = plug.get();
  base->RestorePreset(0);
  base->SetSampleRate(kSampleRate);
  const int params[] = {kInput, kSidechain, kOversample};
  const double values[] = {30.0, 1.0, static_cast<double>(oversample)};
  for (int k = 0; k < 3; ++k)
  {
    base->ParamAt(params[k])->SetValue(values[k]);
    base->OnParamChange(params[k]);
  }
  if (withEditor)
    base->AttachGraphics(MakeTavloHeadlessEditor(base));
  return plug;
}

void SetCounters(benchmark::State& state, long frames)
{
  state.counters["ns_per_frame"] =
    benchmark::Counter(static_cast<double>(frames) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["realtime_x"] =
    benchmark::Counter(static_cast<double>(frames) / kSampleRate, benchmark::Counter::kIsRate);
}

// The music block after block through process(in, out, frames), looping,
// for as long as the benchmark runs.
template <class Process>
void RunBlocks(benchmark::State& state, const Stereo& sig, Process process)
{
  std::vector<double> outL(kBlock), outR(kBlock);
  const size_t nBlocks = sig.L.size() / kBlock;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % nBlocks) * kBlock;
    double* in[4] = {const_cast<double*>(&sig.L[pos]), const_cast<double*>(&sig.R[pos]),
                     const_cast<double*>(&sig.S[pos]), const_cast<double*>(&sig.S[pos])};
    double* out[2] = {outL.data(), outR.data()};
    process(in, out, kBlock);
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kBlock;
  }
  SetCounters(state, frames);
}

// The music through the plug-in, as a host's blocks reach it.
void RunMusic(benchmark::State& state, IFxBase* base, const Stereo& sig)
{
  RunBlocks(state, sig, [base](double** in, double** out, int n) {
    base->TakeBlockParams();
    base->ProcessDoubleReplacing(in, out, n);
  });
}

void BM_Music(benchmark::State& state)
{
  static const Stereo sig = MusicLike(static_cast<size_t>(10 * kSampleRate));
  std::unique_ptr<Tavlo> plug = MakeTavlo(static_cast<int>(state.range(0)), state.range(1) != 0);
  IFxBase* base = plug.get();
  RunMusic(state, base, sig);
}
// Second argument 1: with an (off-screen) editor attached, which reads the
// meter in its own time and so should cost the chain nothing.
BENCHMARK(BM_Music)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->ArgNames({"oversample", "editor"});

// The chain as its equations state it, frame by frame, beside the fast
// chain on the same blocks and settings (Input 80): what the kernels buy.
// Second argument: the detector's mode (0 right, 1 left, 2 linked, 3 mid).
template <class ChainType>
void BM_Equations(benchmark::State& state)
{
  static const Stereo sig = MusicLike(static_cast<size_t>(10 * kSampleRate));
  std::unique_ptr<ChainType> chain(new ChainType());
  TavloChainSettings s;
  s.sampleRate = kSampleRate;
  s.input = 80.0;
  s.outputGain = 1.0;
  s.attack = 0.005;
  s.release = 0.3;
  s.oversample = static_cast<int>(state.range(0));
  s.detector = static_cast<int>(state.range(1));
  chain->SetSettings(s);
  RunBlocks(state, sig, [&chain](double** in, double** out, int n) { chain->Process(in, out, n); });
}
BENCHMARK_TEMPLATE(BM_Equations, TavloChain)
  ->ArgsProduct({{0, 1}, {kDetectRight, kDetectLeft, kDetectLinked, kDetectMid}})
  ->ArgNames({"oversample", "detector"});
BENCHMARK_TEMPLATE(BM_Equations, TavloReferenceChain)
  ->ArgsProduct({{0, 1}, {kDetectRight, kDetectLinked}})
  ->ArgNames({"oversample", "detector"});

// A fixed amount of work at Input 80 (compression on most of the music),
// for counting instructions per frame under callgrind:
//   valgrind --tool=callgrind --toggle-collect='*ProcessDoubleReplacing*'
//     bench_tavlo_process --benchmark_filter=BM_Input80
// then divide the collected instructions by 200 x 512 frames.
void BM_Input80(benchmark::State& state)
{
  static const Stereo sig = MusicLike(static_cast<size_t>(10 * kSampleRate));
  std::unique_ptr<Tavlo> plug = MakeTavlo(static_cast<int>(state.range(0)));
  IFxBase* base = plug.get();
  base->ParamAt(kInput)->SetValue(80.0);
  base->OnParamChange(kInput);
  RunMusic(state, base, sig);
}
BENCHMARK(BM_Input80)->Arg(0)->Arg(1)->ArgName("oversample")->Iterations(200);

// Digital silence right after a loud burst: decaying filter states must
// not make the quiet part slower than the loud one.
void BM_SilenceAfterBurst(benchmark::State& state)
{
  std::unique_ptr<Tavlo> plug = MakeTavlo(static_cast<int>(state.range(0)));
  IFxBase* base = plug.get();
  std::vector<double> burstL(kBlock), burstR(kBlock), silence(kBlock, 0.0), outL(kBlock), outR(kBlock);
  unsigned s = 99u;
  for (int i = 0; i < kBlock; ++i)
  {
    s = s * 1664525u + 1013904223u;
    burstL[i] = 1.5 * (static_cast<double>(s >> 8) / 8388608.0 - 1.0);
    burstR[i] = -0.8 * burstL[i];
  }
  double* out[2] = {outL.data(), outR.data()};
  for (int b = 0; b < 20; ++b)
  {
    double* in[4] = {burstL.data(), burstR.data(), silence.data(), silence.data()};
    base->TakeBlockParams();
    base->ProcessDoubleReplacing(in, out, kBlock);
  }
  const bool loud = state.range(1) != 0;
  long frames = 0;
  for (auto _ : state)
  {
    double* in[4] = {loud ? burstL.data() : silence.data(), loud ? burstR.data() : silence.data(),
                     silence.data(), silence.data()};
    base->TakeBlockParams();
    base->ProcessDoubleReplacing(in, out, kBlock);
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kBlock;
  }
  SetCounters(state, frames);
}
// Second argument 1: the burst goes on, for comparison.
BENCHMARK(BM_SilenceAfterBurst)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->ArgNames({"oversample", "loud"});

// The whole VST 3 process call on 32-bit blocks: sample conversion, channel
// bookkeeping and the output silence check around the chain. First
// argument 1: digital silence in and out, where the silence check reads
// every output sample; with music it stops at the first one. Second
// argument: a parameter automated with a point at every frame (each block
// then runs in one-frame pieces), -1 for none. Third: Oversample on.
void BM_ProcessCall(benchmark::State& state)
{
  using Steinberg::Vst::AudioBusBuffers;
  using Steinberg::Vst::ProcessData;
  using Steinberg::Vst::ProcessSetup;
  static const Stereo sig = MusicLike(static_cast<size_t>(10 * kSampleRate));
  static const std::vector<float> L(sig.L.begin(), sig.L.end()), R(sig.R.begin(), sig.R.end());
  const bool silent = state.range(0) != 0;
  const int automated = (int)state.range(1);
  const std::vector<float> zeros(kBlock, 0.0f);
  std::vector<float> outL(kBlock), outR(kBlock);

  IFxVST3* plug = new IFxVST3(MakePlug());
  plug->initialize(nullptr);
  ProcessSetup setup{Steinberg::Vst::kRealtime, Steinberg::Vst::kSample32, kBlock, kSampleRate};
  plug->setupProcessing(setup);
  plug->setActive(true);
  plug->Plug()->ParamAt(kInput)->SetValue(30.0);
  plug->Plug()->OnParamChange(kInput);
  plug->Plug()->ParamAt(kOversample)->SetValue((double)state.range(2));

  float* inChans[2] = {};
  float* scChans[2] = {const_cast<float*>(zeros.data()), const_cast<float*>(zeros.data())};
  float* outChans[2] = {outL.data(), outR.data()};
  AudioBusBuffers ins[2], outs[1];
  ins[0].numChannels = 2;
  ins[0].channelBuffers32 = inChans;
  ins[1].numChannels = 2;
  ins[1].channelBuffers32 = scChans;
  outs[0].numChannels = 2;
  outs[0].channelBuffers32 = outChans;
  ProcessData data;
  data.symbolicSampleSize = Steinberg::Vst::kSample32;
  data.numSamples = kBlock;
  data.numInputs = 2;
  data.inputs = ins;
  data.numOutputs = 1;
  data.outputs = outs;
  vst3host::ParameterChanges changes;
  if (automated >= 0)
  {
    vst3host::ParamValueQueue* q = changes.Add((Steinberg::Vst::ParamID)automated, 0.3, 0);
    for (int f = 1; f < kBlock; ++f)
    {
      Steinberg::int32 index = 0;
      q->addPoint(f, 0.3 + 0.2 * (f % 64) / 64.0, index);
    }
    data.inputParameterChanges = &changes;
  }

  const size_t nBlocks = L.size() / kBlock;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % nBlocks) * kBlock;
    inChans[0] = silent ? scChans[0] : const_cast<float*>(&L[pos]);
    inChans[1] = silent ? scChans[0] : const_cast<float*>(&R[pos]);
    plug->process(data);
    benchmark::DoNotOptimize(outs[0].silenceFlags);
    benchmark::ClobberMemory();
    frames += kBlock;
  }
  SetCounters(state, frames);
  state.counters["silent_out"] = static_cast<double>(outs[0].silenceFlags == 0x3);
  plug->setActive(false);
  plug->terminate();
  plug->release();
}
BENCHMARK(BM_ProcessCall)
    ->Args({0, -1, 0})
    ->Args({1, -1, 0})
    ->Args({0, kInput, 0})
    ->Args({0, kMix, 0})
    ->Args({0, kHPF, 0})
    ->Args({0, -1, 1})
    ->Args({0, kMix, 1})
    ->ArgNames({"silence", "every_frame", "oversample"});

} // namespace

BENCHMARK_MAIN();
