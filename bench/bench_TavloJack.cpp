// tavlo-jack against the VST 3 bundle, in one run:
//
//  - BM_JackPeriod: the engine's process call as JACK's process callback
//    makes it (256-frame periods of 32-bit stereo, the side-chain port's
//    silent buffer, no MIDI), Input 30, oversampling off and on.
//  - BM_Vst3Block: the built Tavlo.vst3's process() on the same signal and
//    settings at the same block size, as a DAW drives it.
//  Counters: ns per stereo frame; after the runs the ratio JACK / VST 3 per
//  setting (the target: within 5 %).
//  - BM_StartHeadless: tavlo-jack --headless from exec to the line that
//    says it runs (client open, ports, activation), against a private jackd
//    with the dummy backend; milliseconds per start (the target: < 200 ms).
//    Skipped where jackd is missing.

#include <benchmark/benchmark.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchSignal.h"
#include "TavloJackEngine.h"
#include "host/Vst3Host.h"

namespace
{
using namespace Steinberg;
using namespace Steinberg::Vst;
const int kPeriod = 256;

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
    f.blocks = d.L.size() / kPeriod;
    return f;
  }();
  return sig;
}

void SetCounter(benchmark::State& state, long frames)
{
  state.counters["ns_per_frame"] =
    benchmark::Counter(static_cast<double>(frames) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

struct NoMidi
{
  bool operator()(uint32_t, TavloJackEngine::MidiEvent&) const { return false; }
};

void BM_JackPeriod(benchmark::State& state)
{
  TavloJackEngine engine(MakePlug());
  engine.SetUp(benchsignal::kSampleRate, kPeriod);
  engine.Plug().ApplyParamValue(0, 30.0, false);  // Input 30
  engine.Plug().ApplyParamValue(6, (double)state.range(0), false);
  const FloatSignal& sig = Signal();
  std::vector<float> outL(kPeriod), outR(kPeriod);
  float* out[2] = {outL.data(), outR.data()};
  NoMidi midi;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % sig.blocks) * kPeriod;
    float* in[4] = {const_cast<float*>(&sig.L[pos]), const_cast<float*>(&sig.R[pos]), const_cast<float*>(&sig.S[pos]),
                    const_cast<float*>(&sig.S[pos])};
    engine.Process(in, out, kPeriod, midi, 0);
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kPeriod;
  }
  SetCounter(state, frames);
}
BENCHMARK(BM_JackPeriod)->Arg(0)->Arg(1)->ArgName("oversample");

void BM_Vst3Block(benchmark::State& state)
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
  ProcessSetup setup{kRealtime, kSample32, kPeriod, benchsignal::kSampleRate};
  inst.processor->setupProcessing(setup);
  inst.component->activateBus(kAudio, kInput, 1, true);
  inst.component->setActive(true);
  inst.processor->setProcessing(true);
  const FloatSignal& sig = Signal();
  std::vector<float> outL(kPeriod), outR(kPeriod);
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
  first.Add(6, static_cast<double>(state.range(0)));
  ProcessData data;
  data.processMode = kRealtime;
  data.symbolicSampleSize = kSample32;
  data.numSamples = kPeriod;
  data.numInputs = 2;
  data.numOutputs = 1;
  data.inputs = inputs;
  data.outputs = outputs;
  data.inputParameterChanges = &first;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % sig.blocks) * kPeriod;
    in[0] = const_cast<float*>(&sig.L[pos]);
    in[1] = const_cast<float*>(&sig.R[pos]);
    sc[0] = sc[1] = const_cast<float*>(&sig.S[pos]);
    inst.processor->process(data);
    data.inputParameterChanges = nullptr;
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kPeriod;
  }
  SetCounter(state, frames);
  inst.processor->setProcessing(false);
  inst.component->setActive(false);
  inst.component->terminate();
}
BENCHMARK(BM_Vst3Block)->Arg(0)->Arg(1)->ArgName("oversample");

// A private jackd for the start benchmark, ended with the process.
bool StartJackd()
{
  static int started = -1;
  if (started >= 0) return started == 1;
  started = 0;
  if (access("/usr/bin/jackd", X_OK) != 0) return false;
  const std::string name = "tavlobench" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  jack_set_error_function([](const char*) {});
  if (fork() == 0)
  {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execl("/usr/bin/jackd", "jackd", "-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p", "256", (char*)nullptr);
    _exit(127);
  }
  for (int i = 0; i < 100 && started == 0; ++i)
  {
    usleep(50000);
    jack_status_t status;
    if (jack_client_t* c = jack_client_open("probe", JackNoStartServer, &status))
    {
      jack_client_close(c);
      started = 1;
    }
  }
  return started == 1;
}

void BM_StartHeadless(benchmark::State& state)
{
  if (!StartJackd())
  {
    state.SkipWithError("jackd is not installed or did not start");
    return;
  }
  using Clock = std::chrono::steady_clock;
  double totalMs = 0.0;
  long starts = 0;
  for (auto _ : state)
  {
    int fds[2];
    if (pipe(fds) != 0) break;
    const Clock::time_point t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0)
    {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(fds[1], 1);
      execl(TAVLO_JACK_PATH, "tavlo-jack", "--headless", "--name", "bench", (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while (text.find("running as") == std::string::npos && (n = read(fds[0], buf, sizeof(buf))) > 0)
      text.append(buf, (size_t)n);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    state.PauseTiming();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    state.ResumeTiming();
    if (text.find("running as") == std::string::npos)
    {
      state.SkipWithError(("tavlo-jack did not start: " + text).c_str());
      return;
    }
    totalMs += ms;
    ++starts;
  }
  state.counters["ms_to_running"] = starts ? totalMs / (double)starts : 0.0;
}
BENCHMARK(BM_StartHeadless)->Iterations(10)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter
{
public:
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
      auto jack = mNsPerFrame.find("BM_JackPeriod" + suffix);
      auto vst3 = mNsPerFrame.find("BM_Vst3Block" + suffix);
      if (jack == mNsPerFrame.end() || vst3 == mNsPerFrame.end() || vst3->second <= 0.0) continue;
      printf("oversample %s: JACK period %.2f ns/frame, VST 3 process %.2f ns/frame, ratio JACK/VST 3 %.3f\n", os,
             jack->second, vst3->second, jack->second / vst3->second);
    }
  }

private:
  std::map<std::string, double> mNsPerFrame;
};

}  // namespace

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
