// The two built bundles on the same signal, as hosts drive them: the LV2
// plug-in's run() against the VST 3 plug-in's process(), 512-frame blocks
// of 32-bit stereo with the side-chain connected, Input 30, oversampling
// off and on. Counters: ns per stereo frame. After the runs, the ratio of
// the two per setting, measured in the same process.
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchSignal.h"
#include "host/Vst3Host.h"

namespace
{

using namespace Steinberg;
using namespace Steinberg::Vst;

const int kBlock = 512;

// The signal in single precision, as both hosts hand it over.
struct FloatSignal
{
  std::vector<float> L, R, S;
  size_t blocks;
};

const FloatSignal& Signal()
{
  static const FloatSignal sig = [] {
    const benchsignal::Stereo d = benchsignal::MusicLike(static_cast<size_t>(10 * benchsignal::kSampleRate));
    FloatSignal f;
    f.L.assign(d.L.begin(), d.L.end());
    f.R.assign(d.R.begin(), d.R.end());
    f.S.assign(d.L.size(), 0.0f);
    f.blocks = d.L.size() / kBlock;
    return f;
  }();
  return sig;
}

void SetCounter(benchmark::State& state, long frames)
{
  state.counters["ns_per_frame"] =
    benchmark::Counter(static_cast<double>(frames) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// points > 0: that many points of an Output ramp in every block, where the
// block is split.
void Vst3Process(benchmark::State& state, int oversample, int points)
{
  static vst3host::Module module(TAVLO_VST3_BUNDLE);
  TUID cid;
  if (!module.IsLoaded() || !module.FirstAudioClass(cid))
  {
    state.SkipWithError(("cannot load " + std::string(TAVLO_VST3_BUNDLE)).c_str());
    return;
  }
  vst3host::HostApplication app;
  vst3host::Instance inst(module.Factory(), cid);
  inst.component->initialize(&app);
  ProcessSetup setup{kRealtime, kSample32, kBlock, benchsignal::kSampleRate};
  inst.processor->setupProcessing(setup);
  inst.component->activateBus(kAudio, kInput, 1, true);
  inst.component->setActive(true);
  inst.processor->setProcessing(true);

  const FloatSignal& sig = Signal();
  std::vector<float> outL(kBlock), outR(kBlock);
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
  data.numSamples = kBlock;
  data.numInputs = 2;
  data.numOutputs = 1;
  data.inputs = inputs;
  data.outputs = outputs;
  data.inputParameterChanges = &first;

  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % sig.blocks) * kBlock;
    in[0] = const_cast<float*>(&sig.L[pos]);
    in[1] = const_cast<float*>(&sig.R[pos]);
    sc[0] = sc[1] = const_cast<float*>(&sig.S[pos]);
    vst3host::ParameterChanges ramp;
    if (points > 0 && blk > 1)
    {
      for (int k = 0; k < points; ++k) ramp.Add(1, 0.5 + 0.25 * k / points, k * kBlock / points);
      data.inputParameterChanges = &ramp;
    }
    inst.processor->process(data);
    data.inputParameterChanges = nullptr;
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kBlock;
  }
  SetCounter(state, frames);
  inst.processor->setProcessing(false);
  inst.component->setActive(false);
  inst.component->terminate();
}
void BM_Vst3Process(benchmark::State& state) { Vst3Process(state, (int)state.range(0), 0); }
BENCHMARK(BM_Vst3Process)->Arg(0)->Arg(1)->ArgName("oversample");

// The cost of automation on the frame: a ramp of 1, 16 or 64 points per
// 512-frame block, oversampling off.
void BM_Vst3Automated(benchmark::State& state) { Vst3Process(state, 0, (int)state.range(0)); }
BENCHMARK(BM_Vst3Automated)->Arg(1)->Arg(16)->Arg(64)->ArgName("points");

void BM_Lv2Run(benchmark::State& state)
{
  LilvWorld* world = lilv_world_new();
  LilvNode* bundle = lilv_new_file_uri(world, nullptr, TAVLO_LV2_BUNDLE "/");
  lilv_world_load_bundle(world, bundle);
  LilvNode* uri = lilv_new_uri(world, "https://quillmarshworks.example/plugins/tavlo");
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  LilvInstance* inst = plugin ? lilv_plugin_instantiate(plugin, benchsignal::kSampleRate, nullptr) : nullptr;
  if (!inst)
  {
    state.SkipWithError(("cannot load " + std::string(TAVLO_LV2_BUNDLE)).c_str());
  }
  else
  {
    // Every control port at its default, then the settings.
    const uint32_t nPorts = lilv_plugin_get_num_ports(plugin);
    std::vector<float> controls(nPorts, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, controls.data());
    auto port = [&](const char* symbol) {
      LilvNode* s = lilv_new_string(world, symbol);
      const LilvPort* p = lilv_plugin_get_port_by_symbol(plugin, s);
      lilv_node_free(s);
      return lilv_port_get_index(plugin, p);
    };
    for (uint32_t i = 0; i < nPorts; ++i)
      lilv_instance_connect_port(inst, i, &controls[i]);
    controls[port("input")] = 30.0f;
    controls[port("oversample")] = static_cast<float>(state.range(0));
    const uint32_t inL = port("in_l"), inR = port("in_r"), scL = port("sc_l"), scR = port("sc_r");
    std::vector<float> outL(kBlock), outR(kBlock);
    lilv_instance_connect_port(inst, port("out_l"), outL.data());
    lilv_instance_connect_port(inst, port("out_r"), outR.data());
    lilv_instance_activate(inst);

    const FloatSignal& sig = Signal();
    size_t blk = 0;
    long frames = 0;
    for (auto _ : state)
    {
      const size_t pos = (blk++ % sig.blocks) * kBlock;
      lilv_instance_connect_port(inst, inL, const_cast<float*>(&sig.L[pos]));
      lilv_instance_connect_port(inst, inR, const_cast<float*>(&sig.R[pos]));
      lilv_instance_connect_port(inst, scL, const_cast<float*>(&sig.S[pos]));
      lilv_instance_connect_port(inst, scR, const_cast<float*>(&sig.S[pos]));
      lilv_instance_run(inst, kBlock);
      benchmark::DoNotOptimize(outL.data());
      benchmark::ClobberMemory();
      frames += kBlock;
    }
    SetCounter(state, frames);
    lilv_instance_deactivate(inst);
    lilv_instance_free(inst);
  }
  lilv_node_free(uri);
  lilv_node_free(bundle);
  lilv_world_free(world);
}
BENCHMARK(BM_Lv2Run)->Arg(0)->Arg(1)->ArgName("oversample");

// The console report, and each setting's ns per frame kept for the ratios:
// the median of the repetitions when there are several, else the one run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
  // Colours only on a terminal, so a saved report reads cleanly.
  RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

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
      auto lv2 = mNsPerFrame.find("BM_Lv2Run" + suffix);
      auto vst3 = mNsPerFrame.find("BM_Vst3Process" + suffix);
      if (lv2 == mNsPerFrame.end() || vst3 == mNsPerFrame.end() || vst3->second <= 0.0) continue;
      printf("oversample %s: LV2 run %.2f ns/frame, VST 3 process %.2f ns/frame, ratio LV2/VST 3 %.3f\n", os,
             lv2->second, vst3->second, lv2->second / vst3->second);
    }
  }

private:
  std::map<std::string, double> mNsPerFrame;
};

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
