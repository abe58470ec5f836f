// tavlo-render: renders audio offline through the Tavlo VST 3 bundle, the
// way a DAW exports a track, with optional plot, editor snapshot and state.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "DrumLoop.h"
#include "EditorTwin.h"
#include "PluginSession.h"
#include "RenderOptions.h"
#include "RenderPlot.h"
#include "RenderStats.h"

using namespace Steinberg;

namespace {

constexpr double kDefaultRate = 48000.0;

int Fail(const std::string& message)
{
  fprintf(stderr, "tavlo-render: %s\n", message.c_str());
  return 1;
}

void OnSignal(int sig)
{
  RemovePendingFilesNow();
  signal(sig, SIG_DFL);
  raise(sig);
}

bool IsBundle(const std::string& path)
{
  return access((path + "/Contents").c_str(), F_OK) == 0;
}

std::string ProgramFolder()
{
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  std::string path(buf);
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The bundle beside the program first (a build tree, or ~/.local/bin next
// to nothing), then where an install under a prefix puts it (PREFIX/bin and
// PREFIX/lib/vst3), then the usual VST 3 folders of Linux.
bool FindDefaultBundle(std::string& bundle)
{
  std::vector<std::string> candidates = {ProgramFolder() + "/Tavlo.vst3",
                                         ProgramFolder() + "/../lib/vst3/Tavlo.vst3"};
  if (const char* home = getenv("HOME")) candidates.push_back(std::string(home) + "/.vst3/Tavlo.vst3");
  candidates.push_back("/usr/local/lib/vst3/Tavlo.vst3");
  candidates.push_back("/usr/lib/vst3/Tavlo.vst3");
  for (const std::string& c : candidates)
    if (IsBundle(c))
    {
      bundle = c;
      return true;
    }
  return false;
}

std::string BaseName(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
}

std::string DbText(double db)
{
  return std::isfinite(db) ? Fmt("%.1f", db) : std::string("-inf");
}

// A parameter change the first block carries, or one automated lane.
struct BlockChange
{
  const HostParam* param;
  double plain;
};
struct Lane
{
  const HostParam* param;
  const ParamAutomation* automation;
  double lastSent = NAN;
};

// Stereo buffers of one block in the plug-in's sample size.
struct BlockBuffers
{
  vst3host::AudioBuffers in, out;
  BlockBuffers(int block, bool is64) : in(2, 2, block, is64), out(1, 2, block, is64) {}
};

class Progress
{
public:
  explicit Progress(bool enabled) : mEnabled(enabled), mStart(Clock::now()), mLast(mStart) {}
  void Update(int64_t done, int64_t total, double audioSeconds)
  {
    if (!mEnabled || total <= 0) return;
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - mStart).count();
    if (elapsed < 1.0 || std::chrono::duration<double>(now - mLast).count() < 0.1) return;
    mLast = now;
    const double f = std::min(1.0, (double)done / total);
    const int width = 40, filled = (int)(f * width);
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    fprintf(stderr, "\r[%s] %3d%%  %.1fx real time ", bar.c_str(), (int)(f * 100), audioSeconds / elapsed);
    mShown = true;
  }
  void Done()
  {
    if (mShown) fprintf(stderr, "\r%*s\r", 70, "");
  }

private:
  using Clock = std::chrono::steady_clock;
  bool mEnabled, mShown = false;
  Clock::time_point mStart, mLast;
};

int Run(const RenderOptions& opts)
{
  // ---- everything that can be checked before loading anything ----
  OutputFormat format;
  std::string error;
  if (!ChooseOutputFormat(opts.output, opts.bits, format, error)) return Fail(error);
  if (!opts.input.empty() && SameFile(opts.input, opts.output))
    return Fail("OUTPUT is the same file as INPUT; choose another name");
  for (const std::string* extra : {&opts.plot, &opts.snapshot, &opts.saveState})
  {
    if (!extra->empty() && (*extra == opts.output || (!opts.input.empty() && SameFile(*extra, opts.input))))
      return Fail(*extra + " would overwrite the audio; choose another name");
    for (const std::string* other : {&opts.plot, &opts.snapshot, &opts.saveState})
      if (other != extra && !extra->empty() && *extra == *other)
        return Fail(*extra + " is asked for twice; give the plot, snapshot and state names of their own");
    if (!extra->empty() && (*extra == opts.loadState || *extra == opts.sidechain) && extra != &opts.saveState)
      return Fail(*extra + " would overwrite an input; choose another name");
  }

  std::unique_ptr<AudioSource> source;
  if (opts.input.empty())
  {
    const double rate = opts.rate > 0 ? opts.rate : kDefaultRate;
    source = MemorySource(SynthesizeDrumLoop(rate), rate);
  }
  else
  {
    source = OpenAudioFile(opts.input, error);
    if (!source) return Fail(error);
    if (opts.rate > 0 && opts.rate != source->Rate())
      return Fail(opts.input + " is " + Fmt("%.0f", source->Rate()) + " Hz, not " + Fmt("%.0f", opts.rate) +
                  " Hz; tavlo-render does not resample");
  }
  const double rate = source->Rate();

  std::unique_ptr<AudioSource> sidechain;
  if (!opts.sidechain.empty())
  {
    sidechain = OpenAudioFile(opts.sidechain, error);
    if (!sidechain) return Fail("side-chain: " + error);
    if (sidechain->Rate() != rate)
      return Fail("side-chain " + opts.sidechain + " is " + Fmt("%.0f", sidechain->Rate()) + " Hz but the input is " +
                  Fmt("%.0f", rate) + " Hz");
  }
  std::vector<uint8_t> loadedState;
  if (!opts.loadState.empty() && !ReadWholeFile(opts.loadState, loadedState, error)) return Fail(error);

  std::string bundle = opts.plugin;
  if (bundle.empty() && !FindDefaultBundle(bundle))
    return Fail("no Tavlo.vst3 beside this program, in its ../lib/vst3, or in ~/.vst3, /usr/local/lib/vst3, /usr/lib/vst3 "
                "(give one with --plugin PATH)");

  // ---- the plug-in, as a DAW loads it ----
  PluginSession plug;
  if (!plug.Load(bundle, error)) return Fail(error);

  std::vector<BlockChange> firstBlock;
  std::vector<Lane> lanes;
  auto lookUp = [&](const std::string& name, const HostParam*& p) {
    p = plug.Find(name);
    if (!p) error = "unknown parameter '" + name + "'; parameters: " + plug.DescribeParams();
    return p != nullptr;
  };
  for (const ParamSetting& s : opts.sets)
  {
    const HostParam* p = nullptr;
    if (!lookUp(s.name, p)) return Fail(error);
    const std::string why = plug.CheckValue(*p, s.value);
    if (!why.empty()) return Fail(why + "; parameters: " + plug.DescribeParams());
    firstBlock.push_back({p, s.value});
  }
  for (const ParamAutomation& a : opts.automations)
  {
    const HostParam* p = nullptr;
    if (!lookUp(a.name, p)) return Fail(error);
    for (const AutomationPoint& pt : a.points)
    {
      const std::string why = plug.CheckValue(*p, pt.value);
      if (!why.empty()) return Fail("--automate " + why + "; parameters: " + plug.DescribeParams());
    }
    lanes.push_back({p, &a});
  }
  const bool useSidechain = sidechain && plug.HasSidechainBus();
  if (sidechain && !useSidechain) return Fail("the plug-in has no side-chain input");
  if (useSidechain)
  {
    // Listening to the side-chain is what --sidechain is for, unless told otherwise.
    const HostParam* sc = plug.Find("Sidechain");
    bool given = false;
    for (const BlockChange& c : firstBlock) given |= c.param == sc;
    for (const Lane& l : lanes) given |= l.param == sc;
    if (sc && !given) firstBlock.push_back({sc, sc->min});
  }

  std::unique_ptr<EditorTwin> twin;
  if (!opts.snapshot.empty())
  {
    TUID cid;
    if (!plug.ClassId(cid) || !EditorTwin::Matches(cid))
      return Fail("--snapshot works only with the Tavlo plug-in this program was built with");
    twin.reset(new EditorTwin());
    if (!twin->Create(BundleResourceFolder(plug.SoPath()), error)) return Fail(error);
  }

  const bool is64 = opts.precision == 64;
  if (!plug.Start(rate, opts.block, opts.precision, useSidechain, error)) return Fail(error);
  if (twin && !twin->Session().Start(rate, opts.block, opts.precision, useSidechain, error)) return Fail(error);
  // After set-up, which clears the host bypass switch, as a DAW restores a
  // project once the engine runs.
  if (!loadedState.empty())
  {
    if (!plug.SetState(loadedState, error)) return Fail(opts.loadState + ": " + error);
    if (twin && !twin->Session().SetState(loadedState, error)) return Fail(opts.loadState + ": " + error);
  }

  AudioSink sink(opts.output, format, rate);
  if (!sink.IsOpen()) return Fail(sink.Error());

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGHUP, OnSignal);

  // ---- render ----
  const int block = opts.block;
  BlockBuffers buf(block, is64), twinBuf(block, is64);
  std::vector<double> inFrames(2 * (size_t)block), scFrames(2 * (size_t)block), outFrames(2 * (size_t)block);
  RenderStats stats(rate, source->Frames());
  const HostParam* outputParam = plug.Find("Output");
  const HostParam* bypassParam = plug.Find("Bypass");
  const HostParam* hostBypass = nullptr;
  for (const HostParam& p : plug.Params())
    if (p.flags & Vst::ParameterInfo::kIsBypass) hostBypass = &p;

  Vst::ProcessContext context = {};
  context.state = Vst::ProcessContext::kPlaying | Vst::ProcessContext::kTempoValid | Vst::ProcessContext::kTimeSigValid;
  context.sampleRate = rate;
  context.tempo = 120.0;
  context.timeSigNumerator = 4;
  context.timeSigDenominator = 4;

  Progress progress(!opts.quiet && isatty(STDERR_FILENO));
  const auto start = std::chrono::steady_clock::now();
  int64_t pos = 0;
  bool twinDiverged = false;
  int64_t twinDivergedAt = -1;
  for (;;)
  {
    const int64_t n = source->Read(inFrames.data(), block);
    if (n < 0)
    {
      progress.Done();
      return Fail("cannot read " + opts.input + " at frame " + std::to_string(pos));
    }
    if (n == 0) break;
    int64_t scN = 0;
    if (sidechain)
    {
      scN = sidechain->Read(scFrames.data(), n);
      if (scN < 0)
      {
        progress.Done();
        return Fail("cannot read side-chain " + opts.sidechain + " at frame " + std::to_string(pos));
      }
    }
    for (BlockBuffers* b : {&buf, &twinBuf})
      for (int64_t i = 0; i < n; ++i)
      {
        b->in.Set(0, 0, (int)i, inFrames[2 * i]);
        b->in.Set(0, 1, (int)i, inFrames[2 * i + 1]);
        b->in.Set(1, 0, (int)i, i < scN ? scFrames[2 * i] : 0.0);  // a short side-chain ends in silence
        b->in.Set(1, 1, (int)i, i < scN ? scFrames[2 * i + 1] : 0.0);
      }

    vst3host::ParameterChanges changes;
    if (pos == 0)
      for (const BlockChange& c : firstBlock) changes.Add(c.param->id, plug.ToNormalized(*c.param, c.plain));
    for (Lane& l : lanes)
    {
      const double v = l.automation->ValueAt(pos / rate);
      if (pos == 0 || v != l.lastSent) changes.Add(l.param->id, plug.ToNormalized(*l.param, v));
      l.lastSent = v;
    }

    context.projectTimeSamples = pos;
    context.projectTimeMusic = pos / rate * context.tempo / 60.0;
    auto runBlock = [&](PluginSession& s, BlockBuffers& b) {
      Vst::ProcessData data;
      data.processMode = Vst::kOffline;
      data.symbolicSampleSize = is64 ? Vst::kSample64 : Vst::kSample32;
      data.numSamples = (int32)n;
      data.numInputs = std::min(2, s.InputBusCount());
      data.inputs = b.in.Buses();
      data.numOutputs = 1;
      data.outputs = b.out.Buses();
      data.inputParameterChanges = &changes;
      data.processContext = &context;
      s.Process(data);
    };
    runBlock(plug, buf);
    if (twin)
    {
      runBlock(twin->Session(), twinBuf);
      for (int64_t i = 0; i < n && !twinDiverged; ++i)
        for (int ch = 0; ch < 2; ++ch)
        {
          const double a = buf.out.Get(0, ch, (int)i), b = twinBuf.out.Get(0, ch, (int)i);
          if (std::memcmp(&a, &b, sizeof(a)) != 0)
          {
            twinDiverged = true;
            twinDivergedAt = pos + i;
          }
        }
    }

    for (int64_t i = 0; i < n; ++i)
    {
      outFrames[2 * i] = buf.out.Get(0, 0, (int)i);
      outFrames[2 * i + 1] = buf.out.Get(0, 1, (int)i);
    }
    if (!sink.Write(outFrames.data(), n))
    {
      progress.Done();
      return Fail(sink.Error());
    }

    // What the output would be without gain reduction: the make-up gain,
    // or the input itself while bypassed.
    double expected = 1.0;
    const bool bypassed = (bypassParam && plug.PlainValue(*bypassParam) >= 0.5) ||
                          (hostBypass && plug.PlainValue(*hostBypass) >= 0.5);
    if (!bypassed && outputParam) expected = std::pow(10.0, plug.PlainValue(*outputParam) / 20.0);
    stats.Add(inFrames.data(), outFrames.data(), n, expected);

    pos += n;
    progress.Update(pos, source->Frames(), pos / rate);
  }
  stats.Finish();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  progress.Done();
  plug.Stop();
  if (twin) twin->Session().Stop();
  if (pos == 0) return Fail((opts.input.empty() ? std::string("the input") : opts.input) + " holds no audio");

  // ---- everything else, each under a temporary name until all succeeded ----
  std::unique_ptr<PendingFile> statePending, plotPending, snapPending;
  if (!opts.saveState.empty())
  {
    std::vector<uint8_t> bytes;
    if (!plug.GetState(bytes, error)) return Fail(error);
    statePending.reset(new PendingFile(opts.saveState));
    if (!WriteWholeFile(*statePending, bytes, error)) return Fail(error);
  }
  if (!opts.plot.empty())
  {
    PlotText text;
    text.title = "Tavlo: " + (opts.input.empty() ? std::string("embedded drum-and-bass loop") : BaseName(opts.input)) +
                 "  \xE2\x86\x92  " + BaseName(opts.output);
    std::string settings;
    for (const HostParam& p : plug.Params())
    {
      if (p.flags & (Vst::ParameterInfo::kIsBypass | Vst::ParameterInfo::kIsProgramChange)) continue;
      bool automated = false;
      for (const Lane& l : lanes) automated |= l.param == &p;
      settings += p.title + (automated ? " (automated) " : " ") + Fmt("%g", plug.PlainValue(p)) + "   ";
    }
    text.settings = settings + Fmt("%.0f Hz", rate);
    plotPending.reset(new PendingFile(opts.plot));
    if (!DrawRenderPlot(stats, text, plotPending->TempPath(), error)) return Fail(error);
  }
  if (twin)
  {
    if (twinDiverged)
      return Fail("the editor's instance parted from the bundle's at frame " + std::to_string(twinDivergedAt) +
                  " (the bundle was built from other code); no snapshot taken");
    snapPending.reset(new PendingFile(opts.snapshot));
    if (!twin->Snapshot(snapPending->TempPath(), error)) return Fail(error);
  }

  if (!sink.Commit(error)) return Fail(error);
  for (PendingFile* f : {statePending.get(), plotPending.get(), snapPending.get()})
    if (f && !f->Commit(error)) return Fail(error);

  const double seconds = pos / rate;
  printf("%s: %.2f s at %.0f Hz, in peak %s dBFS RMS %s dBFS, out peak %s dBFS RMS %s dBFS, "
         "gain reduction max %.1f dB avg %.1f dB, %.1fx real time\n",
         opts.output.c_str(), seconds, rate, DbText(stats.PeakInDb()).c_str(), DbText(stats.RmsInDb()).c_str(),
         DbText(stats.PeakOutDb()).c_str(), DbText(stats.RmsOutDb()).c_str(), stats.MaxGrDb(), stats.AvgGrDb(),
         wall > 0 ? seconds / wall : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  RenderOptions opts;
  std::string error;
  if (!ParseRenderOptions(argc, argv, opts, error))
  {
    fprintf(stderr, "tavlo-render: %s\n", error.c_str());
    return 2;
  }
  if (opts.help)
  {
    fputs(RenderUsage(), stdout);
    return 0;
  }
  return Run(opts);
}
