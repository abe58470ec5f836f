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
#include "BenchVst3Process.h"
#include "host/Vst3Host.h"

namespace
{

using namespace Steinberg;
using namespace Steinberg::Vst;

const int kBlock = 512;

using benchvst3::FloatSignal;
using benchvst3::Signal;

void SetCounter(benchmark::State& state, long frames) { benchvst3::SetNsPerFrame(state, frames); }

void Vst3Process(benchmark::State& state, int oversample, int points)
{
  benchvst3::Vst3Process(state, TAVLO_VST3_BUNDLE, kBlock, oversample, points);
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
      const size_t pos = (blk++ % sig.Blocks(kBlock)) * kBlock;
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

} // namespace

int main(int argc, char** argv)
{
  return benchvst3::RunWithRatios(argc, argv, {"BM_Lv2Run", "LV2 run", "LV2"},
                                  {"BM_Vst3Process", "VST 3 process", "VST 3"});
}
