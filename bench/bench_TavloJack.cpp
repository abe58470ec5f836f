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

#include "BenchVst3Process.h"
#include "TavloJackEngine.h"
#include "host/Vst3Host.h"

namespace
{
const int kPeriod = 256;

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
  const benchvst3::FloatSignal& sig = benchvst3::Signal();
  std::vector<float> outL(kPeriod), outR(kPeriod);
  float* out[2] = {outL.data(), outR.data()};
  NoMidi midi;
  size_t blk = 0;
  long frames = 0;
  for (auto _ : state)
  {
    const size_t pos = (blk++ % sig.Blocks(kPeriod)) * kPeriod;
    float* in[4] = {const_cast<float*>(&sig.L[pos]), const_cast<float*>(&sig.R[pos]), const_cast<float*>(&sig.S[pos]),
                    const_cast<float*>(&sig.S[pos])};
    engine.Process(in, out, kPeriod, midi, 0);
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
    frames += kPeriod;
  }
  benchvst3::SetNsPerFrame(state, frames);
}
BENCHMARK(BM_JackPeriod)->Arg(0)->Arg(1)->ArgName("oversample");

void BM_Vst3Block(benchmark::State& state)
{
  benchvst3::Vst3Process(state, TAVLO_VST3_BUNDLE, kPeriod, (int)state.range(0), 0);
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

}  // namespace

int main(int argc, char** argv)
{
  return benchvst3::RunWithRatios(argc, argv, {"BM_JackPeriod", "JACK period", "JACK"},
                                  {"BM_Vst3Block", "VST 3 process", "VST 3"});
}
