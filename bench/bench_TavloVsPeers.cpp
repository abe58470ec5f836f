// Tavlo against the compressors Linux users already pick, all hosted the
// same way in one run: both built bundles (VST 3 in the project's host,
// LV2 through lilv) and, where installed, x42-darc (Debian x42-plugins) and
// SC4 (Debian swh-lv2) through lilv. One core, 48 kHz, 512-frame blocks of
// 32-bit stereo, the same 30 s music-like signal; every peer at threshold
// -20 dBFS, ratio 4:1, attack 5 ms, release 300 ms. Tavlo at Input 30
// (barely compressing), Input 80 (about 6 dB of reduction) and Input 80
// with Oversample on, and at Input 80 with the Linked and Mid detectors
// (VST 3). Counter: ns per stereo frame. After the runs, a table
// of each case with its ratio to the fastest peer of the same run.
//
// Instructions per frame, for one case at a time:
//   valgrind --tool=callgrind --toggle-collect='*RunSignal*'
//     bench_tavlo_vs_peers --once='Tavlo VST 3/Input 80'
// (one command line) then divide the collected instructions by the frames
// it prints; bench/instructions does that for every case.

#include <benchmark/benchmark.h>
#include <lilv/lilv.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSignal.h"
#include "host/ClapHost.h"
#include "host/Vst3Host.h"

namespace
{

using namespace Steinberg;
using namespace Steinberg::Vst;

const int kBlock = 512;
const double kSeconds = 30.0;

struct FloatSignal
{
  std::vector<float> L, R, zeros;
  int blocks = 0;
};

const FloatSignal& Signal()
{
  static const FloatSignal sig = [] {
    const benchsignal::Stereo d = benchsignal::MusicLike(static_cast<size_t>(kSeconds * benchsignal::kSampleRate));
    FloatSignal f;
    f.L.assign(d.L.begin(), d.L.end());
    f.R.assign(d.R.begin(), d.R.end());
    f.zeros.assign(kBlock, 0.0f);
    f.blocks = static_cast<int>(d.L.size() / kBlock);
    return f;
  }();
  return sig;
}

// One instance of a plug-in at its settings, fed block by block.
class Runner
{
public:
  virtual ~Runner() {}
  virtual bool Ok() const = 0;
  virtual void Block(float* inL, float* inR, float* outL, float* outR) = 0;
};

// Tavlo's settings for a case: Input, Oversample; everything else at its
// default (attack 5 ms, release 300 ms, mix 100 %).
struct TavloCase
{
  double input;
  int oversample;
  int detector = 0;  // Right; the VST 3 cases set the others
};

class Vst3Runner : public Runner
{
public:
  explicit Vst3Runner(const TavloCase& c, const std::string& bundle = TAVLO_VST3_BUNDLE)
  {
    // One module per bundle for the whole run, as a host keeps it.
    static std::map<std::string, std::unique_ptr<vst3host::Module>> modules;
    std::unique_ptr<vst3host::Module>& slot = modules[bundle];
    if (!slot) slot.reset(new vst3host::Module(bundle));
    vst3host::Module& module = *slot;
    TUID cid;
    if (!module.IsLoaded() || !module.FirstAudioClass(cid)) return;
    mInst.reset(new vst3host::Instance(module.Factory(), cid));
    mInst->component->initialize(&mApp);
    ProcessSetup setup{kRealtime, kSample32, kBlock, benchsignal::kSampleRate};
    mInst->processor->setupProcessing(setup);
    mInst->component->setActive(true);
    mInst->processor->setProcessing(true);
    mInputs[0].numChannels = mOutputs[0].numChannels = 2;
    mInputs[0].channelBuffers32 = mIn;
    mOutputs[0].channelBuffers32 = mOut;
    mData.processMode = kRealtime;
    mData.symbolicSampleSize = kSample32;
    mData.numSamples = kBlock;
    mData.numInputs = 1;  // the side-chain bus stays off, as on a plain insert
    mData.numOutputs = 1;
    mData.inputs = mInputs;
    mData.outputs = mOutputs;
    // The settings arrive with a silent first block.
    vst3host::ParameterChanges first;
    first.Add(0, c.input / 400.0);
    first.Add(6, static_cast<double>(c.oversample));
    first.Add(9, c.detector / 3.0);
    mData.inputParameterChanges = &first;
    std::vector<float> silence(kBlock, 0.0f), sink(kBlock);
    Block(silence.data(), silence.data(), sink.data(), sink.data());
    mData.inputParameterChanges = nullptr;
  }
  ~Vst3Runner() override
  {
    if (!mInst) return;
    mInst->processor->setProcessing(false);
    mInst->component->setActive(false);
    mInst->component->terminate();
  }
  bool Ok() const override { return mInst != nullptr; }
  void Block(float* inL, float* inR, float* outL, float* outR) override
  {
    mIn[0] = inL;
    mIn[1] = inR;
    mOut[0] = outL;
    mOut[1] = outR;
    mInst->processor->process(mData);
  }

private:
  vst3host::HostApplication mApp;
  std::unique_ptr<vst3host::Instance> mInst;
  float* mIn[2] = {};
  float* mOut[2] = {};
  AudioBusBuffers mInputs[1], mOutputs[1];
  ProcessData mData;
};

// Tavlo.clap through the CLAP host library, as a CLAP host runs it: one
// prepared process call per block, no events after the first, the
// side-chain port left unconnected as on a plain insert.
class ClapRunner : public Runner
{
public:
  explicit ClapRunner(const TavloCase& c)
  {
    static const claphost::Module module(TAVLO_CLAP_BUNDLE);
    if (!module.IsLoaded()) return;
    mInst.reset(new claphost::Instance(module));
    if (!*mInst || !mInst->Activate(benchsignal::kSampleRate, 1, kBlock) || !mInst->StartProcessing())
    {
      mInst.reset();
      return;
    }
    mIn.channel_count = mOut.channel_count = 2;
    mIn.data32 = mInPtr;
    mOut.data32 = mOutPtr;
    mProcess.steady_time = -1;
    mProcess.frames_count = kBlock;
    mProcess.audio_inputs = &mIn;
    mProcess.audio_inputs_count = 1;
    mProcess.audio_outputs = &mOut;
    mProcess.audio_outputs_count = 1;
    mProcess.in_events = mNoEvents.List();
    mProcess.out_events = mOutEvents.List();
    // The settings arrive with a silent first block.
    const claphost::InputEvents first(
      {claphost::Event::Value(0, 0, c.input), claphost::Event::Value(0, 6, (double)c.oversample)});
    std::vector<float> silence(kBlock, 0.0f), sink(kBlock);
    mProcess.in_events = first.List();
    Block(silence.data(), silence.data(), sink.data(), sink.data());
    mProcess.in_events = mNoEvents.List();
  }
  bool Ok() const override { return mInst != nullptr; }
  void Block(float* inL, float* inR, float* outL, float* outR) override
  {
    mInPtr[0] = inL;
    mInPtr[1] = inR;
    mOutPtr[0] = outL;
    mOutPtr[1] = outR;
    mInst->ProcessRaw(mProcess);
  }

private:
  std::unique_ptr<claphost::Instance> mInst;
  float* mInPtr[2] = {};
  float* mOutPtr[2] = {};
  clap_audio_buffer_t mIn = {}, mOut = {};
  claphost::InputEvents mNoEvents{std::vector<claphost::Event>()};
  claphost::OutputEvents mOutEvents;
  clap_process_t mProcess = {};
};

// An LV2 plug-in found by URI in a world, its control ports at their
// defaults except those named, audio ports by symbol.
class Lv2Runner : public Runner
{
public:
  struct Ports
  {
    const char *inL, *inR, *outL, *outR;
  };

  Lv2Runner(LilvWorld* world, const char* uri, const std::map<std::string, float>& controls, const Ports& ports)
    : mWorld(world)
  {
    LilvNode* u = lilv_new_uri(world, uri);
    mPlugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), u);
    lilv_node_free(u);
    if (!mPlugin) return;
    mInst = lilv_plugin_instantiate(mPlugin, benchsignal::kSampleRate, nullptr);
    if (!mInst) return;
    const uint32_t n = lilv_plugin_get_num_ports(mPlugin);
    mControls.assign(n, 0.0f);
    std::vector<float> defaults(n, 0.0f);
    lilv_plugin_get_port_ranges_float(mPlugin, nullptr, nullptr, defaults.data());
    for (uint32_t i = 0; i < n; ++i)
      mControls[i] = defaults[i] == defaults[i] ? defaults[i] : 0.0f;
    mZeros.assign(kBlock, 0.0f);
    // Control ports (inputs and outputs) to the control array, any other
    // audio port (a side-chain) to silence.
    for (uint32_t i = 0; i < n; ++i)
      lilv_instance_connect_port(mInst, i, &mControls[i]);
    for (const auto& kv : controls)
    {
      const int p = Port(kv.first.c_str());
      if (p < 0)
      {
        Fail();
        return;
      }
      mControls[(size_t)p] = kv.second;
    }
    LilvNode* audio = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
    for (uint32_t i = 0; i < n; ++i)
      if (lilv_port_is_a(mPlugin, lilv_plugin_get_port_by_index(mPlugin, i), audio))
        lilv_instance_connect_port(mInst, i, mZeros.data());
    lilv_node_free(audio);
    mInL = Port(ports.inL);
    mInR = Port(ports.inR);
    mOutL = Port(ports.outL);
    mOutR = Port(ports.outR);
    if (mInL < 0 || mInR < 0 || mOutL < 0 || mOutR < 0)
    {
      Fail();
      return;
    }
    lilv_instance_activate(mInst);
  }
  ~Lv2Runner() override { Fail(); }
  bool Ok() const override { return mInst != nullptr; }
  void Block(float* inL, float* inR, float* outL, float* outR) override
  {
    lilv_instance_connect_port(mInst, (uint32_t)mInL, inL);
    lilv_instance_connect_port(mInst, (uint32_t)mInR, inR);
    lilv_instance_connect_port(mInst, (uint32_t)mOutL, outL);
    lilv_instance_connect_port(mInst, (uint32_t)mOutR, outR);
    lilv_instance_run(mInst, kBlock);
  }

private:
  int Port(const char* symbol)
  {
    LilvNode* s = lilv_new_string(mWorld, symbol);
    const LilvPort* p = lilv_plugin_get_port_by_symbol(mPlugin, s);
    lilv_node_free(s);
    return p ? (int)lilv_port_get_index(mPlugin, p) : -1;
  }
  void Fail()
  {
    if (mInst) lilv_instance_free(mInst);
    mInst = nullptr;
  }

  LilvWorld* mWorld;
  const LilvPlugin* mPlugin = nullptr;
  LilvInstance* mInst = nullptr;
  std::vector<float> mControls, mZeros;
  int mInL = -1, mInR = -1, mOutL = -1, mOutR = -1;
};

// The built Tavlo bundle alone in its world, so an installed copy of the
// same URI cannot stand in for it.
LilvWorld* TavloWorld()
{
  static LilvWorld* world = [] {
    LilvWorld* w = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(w, nullptr, TAVLO_LV2_BUNDLE "/");
    lilv_world_load_bundle(w, bundle);
    lilv_node_free(bundle);
    return w;
  }();
  return world;
}

// Whatever the system has installed.
LilvWorld* SystemWorld()
{
  static LilvWorld* world = [] {
    LilvWorld* w = lilv_world_new();
    lilv_world_load_all(w);
    return w;
  }();
  return world;
}

const char kTavloUri[] = "https://quillmarshworks.example/plugins/tavlo";

std::unique_ptr<Runner> MakeTavloLv2(const TavloCase& c)
{
  return std::unique_ptr<Runner>(new Lv2Runner(TavloWorld(), kTavloUri,
                                               {{"input", (float)c.input}, {"oversample", (float)c.oversample}},
                                               {"in_l", "in_r", "out_l", "out_r"}));
}

// x42-darc's ratio port holds the slope above the threshold taken away,
// 1 - 1/ratio (1 is its limiter end); times in seconds.
std::unique_ptr<Runner> MakeDarc()
{
  return std::unique_ptr<Runner>(new Lv2Runner(
    SystemWorld(), "http://gareus.org/oss/lv2/darc#stereo",
    {{"enable", 1.0f}, {"threshold", -20.0f}, {"Ratio", 1.0f - 1.0f / 4.0f}, {"attack", 0.005f}, {"release", 0.3f}},
    {"inL", "inR", "outL", "outR"}));
}

// SC4: ratio as 1:n, times in ms.
std::unique_ptr<Runner> MakeSc4()
{
  return std::unique_ptr<Runner>(new Lv2Runner(
    SystemWorld(), "http://plugin.org.uk/swh-plugins/sc4",
    {{"threshold", -20.0f}, {"ratio", 4.0f}, {"attack", 5.0f}, {"release", 300.0f}},
    {"left_in", "right_in", "left_out", "right_out"}));
}

struct Case
{
  std::string name;  // "plug-in/setting"
  bool peer;
  std::function<std::unique_ptr<Runner>()> make;
};

const std::vector<Case>& Cases()
{
  static const std::vector<Case> cases = [] {
    std::vector<Case> v;
    const struct
    {
      const char* name;
      TavloCase c;
    } settings[] = {{"Input 30", {30.0, 0}}, {"Input 80", {80.0, 0}}, {"Input 80 Oversample", {80.0, 1}}};
    for (const auto& s : settings)
    {
      const TavloCase c = s.c;
      v.push_back({std::string("Tavlo VST 3/") + s.name, false,
                   [c] { return std::unique_ptr<Runner>(new Vst3Runner(c)); }});
      v.push_back({std::string("Tavlo LV2/") + s.name, false, [c] { return MakeTavloLv2(c); }});
      v.push_back({std::string("Tavlo CLAP/") + s.name, false,
                   [c] { return std::unique_ptr<Runner>(new ClapRunner(c)); }});
      // TAVLO_BENCH_BASELINE_VST3: another build's Tavlo.vst3, timed in the
      // same run, so a change's cost is a ratio from one run.
      if (const char* baseline = getenv("TAVLO_BENCH_BASELINE_VST3"))
      {
        const std::string bundle = baseline;
        v.push_back({std::string("Tavlo VST 3 baseline/") + s.name, false,
                     [c, bundle] { return std::unique_ptr<Runner>(new Vst3Runner(c, bundle)); }});
      }
    }
    // The detectors that hear both channels, against Right in the same run.
    for (const auto& d : {std::make_pair("Input 80 Linked", 2), std::make_pair("Input 80 Mid", 3)})
    {
      const TavloCase c = {80.0, 0, d.second};
      v.push_back({std::string("Tavlo VST 3/") + d.first, false,
                   [c] { return std::unique_ptr<Runner>(new Vst3Runner(c)); }});
    }
    v.push_back({"x42-darc/peer", true, MakeDarc});
    v.push_back({"SC4/peer", true, MakeSc4});
    return v;
  }();
  return cases;
}

// The whole signal once, block by block. Not inlined, so that callgrind
// can collect exactly this.
__attribute__((noinline)) long RunSignal(Runner& r, std::vector<float>& outL, std::vector<float>& outR)
{
  const FloatSignal& sig = Signal();
  for (int b = 0; b < sig.blocks; ++b)
  {
    const size_t pos = (size_t)b * kBlock;
    r.Block(const_cast<float*>(&sig.L[pos]), const_cast<float*>(&sig.R[pos]), outL.data(), outR.data());
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
  }
  return (long)sig.blocks * kBlock;
}

void RunCase(benchmark::State& state, const Case* c)
{
  std::unique_ptr<Runner> r = c->make();
  if (!r->Ok())
  {
    state.SkipWithError((c->name + ": not installed or cannot load").c_str());
    return;
  }
  std::vector<float> outL(kBlock), outR(kBlock);
  RunSignal(*r, outL, outR);  // warm-up: caches, branch history, first-block work
  long frames = 0;
  for (auto _ : state)
    frames += RunSignal(*r, outL, outR);
  state.counters["ns_per_frame"] =
    benchmark::Counter(static_cast<double>(frames) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The console report, and each case's ns per frame kept for the table: the
// median of the repetitions when there are several, else the one run.
class PeerReporter : public benchmark::ConsoleReporter
{
public:
  PeerReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs)
    {
      auto it = r.counters.find("ns_per_frame");
      if (it == r.counters.end() || r.error_occurred) continue;
      const std::string name = r.run_name.function_name;
      if (r.run_type == Run::RT_Iteration)
        mNs.emplace(name, it->second.value);
      else if (r.aggregate_name == "median")
        mNs[name] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() const
  {
    double fastest = 0.0;
    std::string fastestName;
    for (const Case& c : Cases())
    {
      auto it = mNs.find(c.name);
      if (c.peer && it != mNs.end() && (fastest == 0.0 || it->second < fastest))
      {
        fastest = it->second;
        fastestName = c.name.substr(0, c.name.find('/'));
      }
    }
    printf("\nns per frame, ratio to the fastest peer (%s)\n",
           fastest > 0.0 ? fastestName.c_str() : "none installed");
    for (const Case& c : Cases())
    {
      auto it = mNs.find(c.name);
      if (it == mNs.end())
      {
        printf("  %-34s not run\n", c.name.c_str());
        continue;
      }
      if (fastest > 0.0)
        printf("  %-34s %7.2f ns  %5.2fx\n", c.name.c_str(), it->second, it->second / fastest);
      else
        printf("  %-34s %7.2f ns\n", c.name.c_str(), it->second);
    }
  }

private:
  std::map<std::string, double> mNs;
};

// Keeps the process on the core it started on: the figures are for one
// core, with no migration in the middle of a run.
void PinToOneCore()
{
  const int cpu = sched_getcpu();
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0) perror("sched_setaffinity");
}

}  // namespace

int main(int argc, char** argv)
{
  PinToOneCore();
  // --once=NAME: that case over the signal once, for counting instructions.
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--once=", 7) == 0)
    {
      for (const Case& c : Cases())
        if (c.name == argv[i] + 7)
        {
          std::unique_ptr<Runner> r = c.make();
          if (!r->Ok())
          {
            fprintf(stderr, "%s: not installed or cannot load\n", c.name.c_str());
            return 1;
          }
          std::vector<float> outL(kBlock), outR(kBlock);
          Signal();  // made before counting starts
          printf("%s: %ld frames\n", c.name.c_str(), RunSignal(*r, outL, outR));
          return 0;
        }
      fprintf(stderr, "no case %s; cases:\n", argv[i] + 7);
      for (const Case& c : Cases()) fprintf(stderr, "  %s\n", c.name.c_str());
      return 1;
    }

  for (const Case& c : Cases())
    benchmark::RegisterBenchmark(c.name.c_str(), RunCase, &c)->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PeerReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintTable();
  benchmark::Shutdown();
  return 0;
}
