#pragma once

// What the benchmarks that set something against the VST 3 bundle share:
// the music-like signal in single precision, as hosts hand it over; the ns
// per frame counter; the bundle's process() as a DAW drives it; and a
// console report that prints the ratio of two benchmarks' ns per frame.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchSignal.h"
#include "host/Vst3Host.h"

namespace benchvst3
{

struct FloatSignal
{
  std::vector<float> L, R, S;
  // Whole blocks of the given size in the signal.
  size_t Blocks(int block) const { return L.size() / (size_t)block; }
};

inline const FloatSignal& Signal()
{
  static const FloatSignal sig = [] {
    const benchsignal::Stereo d = benchsignal::MusicLike(static_cast<size_t>(10 * benchsignal::kSampleRate));
    FloatSignal f;
    f.L.assign(d.L.begin(), d.L.end());
    f.R.assign(d.R.begin(), d.R.end());
    f.S.assign(d.L.size(), 0.0f);
    return f;
  }();
  return sig;
}

inline void SetNsPerFrame(benchmark::State& state, long frames)
{
  state.counters["ns_per_frame"] =
    benchmark::Counter(static_cast<double>(frames) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The bundle's process() on blocks of 32-bit stereo with the side-chain
// connected, Input 30 and oversampling as given; points > 0: that many
// points of an Output ramp in every block, where the block is split.
inline void Vst3Process(benchmark::State& state, const char* bundle, int block, int oversample, int points)
{
  using namespace Steinberg;
  using namespace Steinberg::Vst;
  static vst3host::Module module(bundle);
  TUID cid;
  if (!module.IsLoaded() || !module.FirstAudioClass(cid))
  {
    state.SkipWithError(("cannot load " + std::string(bundle)).c_str());
    return;
  }
  vst3host::HostApplication app;
  vst3host::Instance inst(module.Factory(), cid);
  inst.component->initialize(&app);
  ProcessSetup setup{kRealtime, kSample32, block, benchsignal::kSampleRate};
  inst.processor->setupProcessing(setup);
  inst.component->activateBus(kAudio, kInput, 1, true);
  inst.component->setActive(true);
  inst.processor->setProcessing(true);
  const FloatSignal& sig = Signal();
  std::vector<float> outL((size_t)block), outR((size_t)block);
  float* in[2];
  float* sc[2];
  float* out[2] = {outL.data(), outR.data()};
  AudioBusBuffers inputs[2], outputs[1];
  inputs[0].numChannels = inputs[1].numChannels = outputs[0].numChannels = 2;
  inputs[0].channelBuffers32 = in;
  inputs[1].channelBuffers32 = sc;
  outputs[0].channelBuffers32 = out;
  vst3host::ParameterChanges first;
  first.Add(0, 30.0 / 400.0);  // Input 30
  first.Add(6, static_cast<double>(oversample));
  ProcessData data;
  data.processMode = kRealtime;
  data.symbolicSampleSize = kSample32;
  data.numSamples = block;
  data.numInputs = 2;
  data.numOutputs = 1;
  data.inputs = inputs;
  data.outputs = outputs;
  data.inputParameterChanges = &first;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % sig.Blocks(block)) * (size_t)block;
    in[0] = const_cast<float*>(&sig.L[pos]);
    in[1] = const_cast<float*>(&sig.R[pos]);
    sc[0] = sc[1] = const_cast<float*>(&sig.S[pos]);
    vst3host::ParameterChanges ramp;
    if (points > 0 && blk > 1)
    {
      for (int k = 0; k < points; ++k) ramp.Add(1, 0.5 + 0.25 * k / points, k * block / points);
      data.inputParameterChanges = &ramp;
    }
    inst.processor->process(data);
    data.inputParameterChanges = nullptr;
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += block;
  }
  SetNsPerFrame(state, frames);
  inst.processor->setProcessing(false);
  inst.component->setActive(false);
  inst.component->terminate();
}

// The console report, and each setting's ns per frame kept for the ratios:
// the median of the repetitions when there are several, else the one run.
// After the runs, PrintRatios sets one benchmark against another for
// oversampling off and on ("BM_X/oversample:0").
class RatioReporter : public benchmark::ConsoleReporter
{
public:
  struct Side
  {
    std::string benchmark;  // "BM_Lv2Run"
    std::string label;      // "LV2 run"
    std::string shortName;  // "LV2"
  };
  // Colours only on a terminal, so a saved report reads cleanly.
  RatioReporter(Side numerator, Side denominator)
    : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular), mNum(numerator), mDen(denominator)
  {
  }
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs)
    {
      auto it = r.counters.find("ns_per_frame");
      if (it == r.counters.end() || r.error_occurred) continue;
      if (r.run_type == Run::RT_Iteration)
        mNsPerFrame.emplace(r.run_name.str(), it->second.value);
      else if (r.aggregate_name == "median")
        mNsPerFrame[r.run_name.str()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const
  {
    for (const char* os : {"0", "1"})
    {
      const std::string suffix = std::string("/oversample:") + os;
      auto num = mNsPerFrame.find(mNum.benchmark + suffix);
      auto den = mNsPerFrame.find(mDen.benchmark + suffix);
      if (num == mNsPerFrame.end() || den == mNsPerFrame.end() || den->second <= 0.0) continue;
      printf("oversample %s: %s %.2f ns/frame, %s %.2f ns/frame, ratio %s/%s %.3f\n", os, mNum.label.c_str(),
             num->second, mDen.label.c_str(), den->second, mNum.shortName.c_str(), mDen.shortName.c_str(),
             num->second / den->second);
    }
  }

private:
  Side mNum, mDen;
  std::map<std::string, double> mNsPerFrame;
};

// main() of such a benchmark: the runs, then the ratios.
inline int RunWithRatios(int argc, char** argv, RatioReporter::Side numerator, RatioReporter::Side denominator)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(numerator, denominator);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchvst3
