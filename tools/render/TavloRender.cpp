// tavlo-render: renders audio offline through the Tavlo VST 3 bundle, the
// way a DAW exports a track, with optional plot, editor snapshot and state;
// batches of files, pipes, and the static curve measured through the bundle.

#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AudioFiles.h"
#include "DrumLoop.h"
#include "EditorTwin.h"
#include "OutputFiles.h"
#include "ParamValues.h"
#include "PluginSession.h"
#include "RenderEngine.h"
#include "RenderHelp.h"
#include "RenderOptions.h"
#include "RenderPlot.h"
#include "RenderReport.h"
#include "RenderStats.h"
#include "TransferCurve.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr double kDefaultRate = 48000.0;

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

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
}

std::string BaseName(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasAudioExtension(const std::string& path)
{
  OutputFormat f;
  std::string unused;
  return ChooseOutputFormat(path, "", SampleBits::k16, f, unused);
}

std::string InputName(const std::string& input)
{
  return input.empty() ? "the embedded loop" : input == "-" ? "standard input" : input;
}

// Messages and the progress bar share standard error: one writer at a time,
// and the bar is wiped before anything else is printed.
class Board
{
public:
  void Enable(int64_t totalFrames, int files, bool show)
  {
    mEnabled = show && isatty(STDERR_FILENO);
    mTotal = totalFrames;
    mFiles = files;
    mStart = Clock::now();
  }
  void Add(int64_t frames, double rate)
  {
    mDone += frames;
    mAudioMicros += (int64_t)(frames / rate * 1e6);
    if (!mEnabled) return;
    std::unique_lock<std::mutex> lock(mMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - mStart).count();
    if (elapsed < 1.0 || std::chrono::duration<double>(now - mLast).count() < 0.1) return;
    mLast = now;
    const double fraction = mTotal < 0 ? -1.0 : mTotal > 0 ? (double)mDone / mTotal : 0.0;
    const std::string line = ProgressLine(fraction, elapsed, mAudioMicros / 1e6, mFilesDone, mFiles, Width());
    fprintf(stderr, "\r%s\033[K", line.c_str());
    fflush(stderr);
    mShown = true;
  }
  void FileDone() { ++mFilesDone; }
  // Prints a whole line to out, the bar wiped first.
  void Print(FILE* out, const std::string& line)
  {
    std::lock_guard<std::mutex> lock(mMutex);
    Wipe();
    fprintf(out, "%s\n", line.c_str());
    fflush(out);
  }
  void Finish()
  {
    std::lock_guard<std::mutex> lock(mMutex);
    Wipe();
  }

private:
  using Clock = std::chrono::steady_clock;
  static int Width()
  {
    winsize ws;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    const char* c = getenv("COLUMNS");
    return c && atoi(c) > 0 ? atoi(c) : 80;
  }
  void Wipe()
  {
    if (mShown) fprintf(stderr, "\r\033[K");
    mShown = false;
  }
  std::mutex mMutex;
  bool mEnabled = false, mShown = false;
  std::atomic<int64_t> mDone{0}, mAudioMicros{0};
  std::atomic<int> mFilesDone{0};
  int64_t mTotal = 0;  // -1: not known until the end
  int mFiles = 1;
  Clock::time_point mStart, mLast;
};

Board gBoard;

int Fail(const std::string& message, int code = kExitFailed)
{
  gBoard.Print(stderr, "tavlo-render: " + message);
  return code;
}

void Warn(const std::string& message)
{
  gBoard.Print(stderr, "tavlo-render: warning: " + message);
}

// One output of a render, planned before anything is loaded.
struct FileJob
{
  std::string input;  // empty: the embedded loop
  OutputTarget out;
  OutputFormat format;
  std::unique_ptr<AudioSource> source;  // opened while planning, or in the worker
  int64_t frames = 0;                   // -1: not known until the end
  double rate = 0.0;
  std::string error;  // why this file of a batch cannot be rendered
};

// What every file of a run shares.
struct Shared
{
  const RenderOptions* opts = nullptr;
  std::string bundle;
  std::shared_ptr<vst3host::Module> module;
  std::vector<ParamDesc> descs;
  std::vector<ParamAutomation> automations;  // with values read in their units
  EngineSetup setup;                         // without rate
  std::vector<uint8_t> loadedState;
  bool haveState = false;
  FILE* report = stdout;
  OutputTarget plot, snapshot, saveState;
};

bool OpenInput(const RenderOptions& opts, FileJob& job, std::string& error)
{
  if (job.input.empty())
  {
    const double rate = opts.rate > 0 ? opts.rate : kDefaultRate;
    job.source = MemorySource(SynthesizeDrumLoop(rate), rate);
  }
  else
  {
    job.source = OpenAudioFile(job.input, error);
    if (!job.source) return false;
    if (opts.rate > 0 && opts.rate != job.source->Rate())
    {
      error = InputName(job.input) + " is " + std::to_string((long)job.source->Rate()) + " Hz, not " +
              std::to_string((long)opts.rate) + " Hz; tavlo-render does not resample";
      return false;
    }
  }
  job.frames = job.source->Frames();
  job.rate = job.source->Rate();
  return true;
}

bool OpenSidechain(const RenderOptions& opts, double rate, std::unique_ptr<AudioSource>& sc, std::string& error)
{
  if (opts.sidechain.empty()) return true;
  sc = OpenAudioFile(opts.sidechain, error);
  if (!sc)
  {
    error = "side-chain: " + error;
    return false;
  }
  if (sc->Rate() != rate)
  {
    error = "side-chain " + opts.sidechain + " is " + std::to_string((long)sc->Rate()) + " Hz but the input is " +
            std::to_string((long)rate) + " Hz";
    return false;
  }
  return true;
}

// The controls other compressors have and Tavlo does not: what does their
// job here. Empty for any other name.
std::string NotATavloControl(const std::string& name)
{
  if (strcasecmp(name.c_str(), "threshold") != 0 && strcasecmp(name.c_str(), "ratio") != 0) return "";
  return "Tavlo has no " + name + ": Input sets the threshold and the drive together (compression starts near "
         "Input=50 on full-scale material, 100 is moderate, 200 heavy), and above the knee louder comes out "
         "quieter; tavlo-render --curve curve.png draws what each Input does";
}

// Selects a factory preset with the first block, as a host's preset menu
// does, before any --set; false with the message of a wrong command line.
bool ResolvePreset(const RenderOptions& opts, const PluginSession& probe, Shared& shared, std::string& error)
{
  if (opts.preset.empty()) return true;
  // The bundle's own program list, so a bundle of another build offers
  // what it holds.
  std::vector<PresetDesc> programs;
  for (const std::string& n : probe.Programs()) programs.push_back({n, ""});
  const PresetDesc* found = FindPreset(programs, opts.preset);
  const HostParam* param = probe.ProgramParam();
  if (!found || !param)
  {
    std::string names;
    for (const PresetDesc& p : programs) names += (names.empty() ? "" : ", ") + p.name;
    error = "unknown preset '" + opts.preset + "'" +
            (names.empty() || !param ? "; the plug-in has no factory presets" : "; presets: " + names + " (see --presets)");
    return false;
  }
  const int index = (int)(found - programs.data());
  shared.setup.first.insert(shared.setup.first.begin(), {param->id, (double)index});
  return true;
}

// Reads --set and --automate values in their units; false with the
// message of a wrong command line.
bool ResolveSettings(const RenderOptions& opts, const PluginSession& probe, Shared& shared, std::string& error)
{
  if (!ResolvePreset(opts, probe, shared, error)) return false;
  const std::string known = "; parameters: " + ParamNames(shared.descs) + " (see --params)";
  auto lookUp = [&](const std::string& name, const ParamDesc*& desc, const HostParam*& param) {
    desc = FindParam(shared.descs, name);
    param = desc ? probe.Find(desc->name) : nullptr;
    if (!param) error = NotATavloControl(name).empty() ? "unknown parameter '" + name + "'" + known : NotATavloControl(name);
    return param != nullptr;
  };
  for (const ParamSetting& s : opts.sets)
  {
    const ParamDesc* desc = nullptr;
    const HostParam* param = nullptr;
    if (!lookUp(s.name, desc, param)) return false;
    double plain = 0.0;
    if (!ParseParamValue(*desc, s.text, plain, error)) return false;
    shared.setup.first.push_back({param->id, plain});
    // A fraction given to a percentage is a common slip.
    if (DisplayUnit(*desc) == "%" && s.text.find('%') == std::string::npos && plain > 0.0 && plain <= 1.0)
      Warn(desc->name + "=" + s.text + " means " + Fmt("%g", plain) + " %; write " + desc->name + "=" +
           std::to_string((int)std::lround(plain * 100)) + "% for " + std::to_string((int)std::lround(plain * 100)) +
           " percent");
  }
  shared.automations.reserve(opts.automations.size());
  for (const ParamAutomation& a : opts.automations)
  {
    const ParamDesc* desc = nullptr;
    const HostParam* param = nullptr;
    if (!lookUp(a.name, desc, param)) return false;
    ParamAutomation resolved = a;
    resolved.name = desc->name;
    const ValueReader read = [&](const std::string& text, double& v, std::string& why) {
      return ParseParamValue(*desc, text, v, why);
    };
    std::string why;
    if (!ParseAutomationPoints(a.text, resolved.points, why, read))
    {
      error = "--automate " + desc->name + ": " + why;
      return false;
    }
    shared.automations.push_back(resolved);
  }
  for (size_t i = 0; i < shared.automations.size(); ++i)
    shared.setup.lanes.push_back({probe.Find(shared.automations[i].name)->id, &shared.automations[i]});

  if (!opts.sidechain.empty())
  {
    // Listening to the side-chain is what --sidechain is for, unless told otherwise.
    const HostParam* sc = probe.Find("Sidechain");
    bool given = false, internal = false;
    for (const ParamChange& c : shared.setup.first)
      if (sc && c.id == sc->id)
      {
        given = true;
        internal = c.plain >= 0.5 * (sc->min + sc->max);
      }
    for (const ParamLane& l : shared.setup.lanes) given |= sc && l.id == sc->id;
    if (sc && !given) shared.setup.first.push_back({sc->id, sc->min});
    if (internal) Warn("Sidechain is internal, so " + opts.sidechain + " will not drive the detector");
  }
  else if (const HostParam* sc = probe.Find("Sidechain"))
  {
    // External with nothing on the side-chain: the detector hears silence.
    const double half = 0.5 * (sc->min + sc->max);
    bool external = false;
    for (const ParamChange& c : shared.setup.first) external |= c.id == sc->id && c.plain < half;
    for (const ParamAutomation& a : shared.automations)
      if (probe.Find(a.name) == sc)
        for (const AutomationPoint& pt : a.points) external |= pt.value < half;
    if (external)
      Warn("Sidechain is external but no --sidechain FILE is given: the detector hears silence and nothing is "
           "compressed");
  }
  return true;
}

std::vector<ReportParam> ReportParams(const Shared& shared, const PluginSession& plug)
{
  std::vector<ReportParam> out;
  for (const ParamDesc& desc : shared.descs)
  {
    const HostParam* p = plug.Find(desc.name);
    if (!p) continue;
    const double plain = plug.PlainValue(*p);
    ReportParam r;
    r.name = desc.name;
    // Read back through the normalised value: 2 ms comes back as 1.9999999999999991.
    r.value = std::round(DisplayValue(desc, plain) * 1e9) / 1e9;
    r.unit = DisplayUnit(desc);
    r.text = FormatParamValue(desc, plain);
    for (const ParamAutomation& a : shared.automations) r.automated |= a.name == desc.name;
    out.push_back(r);
  }
  return out;
}

// Renders one file with everything that goes with it; the outputs appear
// together at the end or not at all.
bool RenderFile(const Shared& shared, FileJob& job, std::unique_ptr<PluginSession> plug, std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  if (!job.source && !OpenInput(opts, job, error)) return false;
  const double rate = job.rate;
  std::unique_ptr<AudioSource> sidechain;
  if (!OpenSidechain(opts, rate, sidechain, error)) return false;

  if (!plug)
  {
    plug.reset(new PluginSession());
    if (!plug->Load(shared.module, error))
    {
      error = "plug-in " + shared.bundle + ": " + error;
      return false;
    }
  }
  const bool useSidechain = sidechain && plug->HasSidechainBus();
  if (sidechain && !useSidechain)
  {
    error = "the plug-in has no side-chain input";
    return false;
  }

  std::unique_ptr<EditorTwin> twin;
  if (!opts.snapshot.empty())
  {
    twin.reset(new EditorTwin());
    if (!twin->Create(BundleResourceFolder(plug->SoPath()), error)) return false;
  }
  if (!plug->Start(rate, opts.block, opts.precision, useSidechain, error)) return false;
  if (twin && !twin->Session().Start(rate, opts.block, opts.precision, useSidechain, error)) return false;
  // After set-up, which clears the host bypass switch, as a DAW restores a
  // project once the engine runs.
  if (shared.haveState)
  {
    if (!plug->SetState(shared.loadedState, error) ||
        (twin && !twin->Session().SetState(shared.loadedState, error)))
    {
      error = opts.loadState + ": " + error;
      return false;
    }
  }

  AudioSink sink(job.out, job.format, rate);
  if (!sink.IsOpen())
  {
    error = sink.Error();
    return false;
  }
  EngineSetup setup = shared.setup;
  setup.rate = rate;
  setup.block = opts.block;
  setup.precision = opts.precision;
  setup.sidechain = useSidechain;

  RenderStats stats(rate, job.frames);
  auto onBlock = [&](const BlockView& b, std::string& why) {
    if (!sink.Write(b.out, b.frames))
    {
      why = sink.Error();
      return false;
    }
    stats.Add(b.in, b.out, b.frames, b.expectedGain);
    gBoard.Add(b.frames, rate);
    return true;
  };
  const auto start = std::chrono::steady_clock::now();
  EngineCounts counts;
  if (!RunEngine(*plug, twin ? &twin->Session() : nullptr, *job.source, sidechain.get(), setup, onBlock, counts,
                 error))
  {
    if (error.compare(0, 4, "read") == 0) error = "cannot " + error + " of " + InputName(job.input);
    else if (error.compare(0, 10, "side-chain") == 0) error = "cannot " + error + " of " + opts.sidechain;
    return false;
  }
  stats.Finish();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  plug->Stop();
  if (twin) twin->Session().Stop();
  if (counts.frames == 0)
  {
    error = (job.input.empty() ? std::string("the input") : InputName(job.input)) + " holds no audio";
    return false;
  }

  // Everything else, each under a temporary name until all succeeded.
  FileReport report;
  report.output = job.out.given;
  report.input = job.input;
  report.rate = rate;
  report.frames = counts.frames;
  report.peakInDb = stats.PeakInDb();
  report.rmsInDb = stats.RmsInDb();
  report.peakOutDb = stats.PeakOutDb();
  report.rmsOutDb = stats.RmsOutDb();
  report.grMaxDb = stats.MaxGrDb();
  report.grAvgDb = stats.AvgGrDb();
  report.clipped = sink.Clipped();
  report.nonFinite = counts.nonFiniteIn;
  report.speed = wall > 0 ? counts.frames / rate / wall : 0.0;
  report.params = ReportParams(shared, *plug);

  std::vector<PendingFile*> pending = {&sink.Pending()};
  std::unique_ptr<PendingFile> statePending, plotPending, snapPending;
  if (!opts.saveState.empty())
  {
    std::vector<uint8_t> bytes;
    if (!plug->GetState(bytes, error)) return false;
    statePending.reset(new PendingFile(shared.saveState));
    if (!WriteWholeFile(*statePending, bytes, error)) return false;
    pending.push_back(statePending.get());
  }
  if (!opts.plot.empty())
  {
    PlotText text;
    text.title = "Tavlo: " + (job.input.empty() ? std::string("embedded drum-and-bass loop") :
                              job.input == "-" ? std::string("standard input") : BaseName(job.input)) +
                 "  \xE2\x86\x92  " + (job.out.kind == OutputTarget::kStdout ? "standard output" : BaseName(job.out.given));
    std::string settings;
    for (const ReportParam& p : report.params) settings += p.name + (p.automated ? " (automated) " : " ") + p.text + "   ";
    text.settings = settings + std::to_string((long)rate) + " Hz";
    plotPending.reset(new PendingFile(shared.plot));
    if (plotPending->TempPath().empty())
    {
      error = "cannot write " + opts.plot + ": " + plotPending->TempError();
      return false;
    }
    if (!DrawRenderPlot(stats, text, plotPending->TempPath(), error)) return false;
    pending.push_back(plotPending.get());
  }
  if (twin)
  {
    snapPending.reset(new PendingFile(shared.snapshot));
    if (snapPending->TempPath().empty())
    {
      error = "cannot write " + opts.snapshot + ": " + snapPending->TempError();
      return false;
    }
    if (!twin->Snapshot(snapPending->TempPath(), error)) return false;
    pending.push_back(snapPending.get());
  }
  if (!sink.Finish(error) || !CommitAll(pending, error)) return false;

  gBoard.Print(shared.report, opts.json ? JsonLine(report) : SummaryLine(report));
  const std::string out = job.out.kind == OutputTarget::kStdout ? "standard output" : job.out.given;
  if (report.clipped)
    Warn(out + ": " + std::to_string(report.clipped) + " samples clipped at full scale by " +
         std::to_string(job.format.bits) + "-bit output (peak " + Fmt("%+.1f", report.peakOutDb) +
         " dBFS); lower Output or use --bits 32f");
  if (report.nonFinite)
    Warn(InputName(job.input) + ": " + std::to_string(report.nonFinite) +
         " non-finite input samples (NaN or infinity), rendered as silence");
  if (counts.nonFiniteOut)
    Warn(out + ": the plug-in returned " + std::to_string(counts.nonFiniteOut) +
         " non-finite samples, written as silence");
  const int64_t declared = job.source->DeclaredFrames();
  if (declared > counts.frames)
    Warn(InputName(job.input) + ": the audio ends after " + std::to_string(counts.frames) + " of the " +
         std::to_string(declared) + " frames its header declares (cut off?); what is there was rendered");
  return true;
}

// The files a render reads, which none of its outputs may replace.
std::vector<ProtectedInput> ProtectedInputs(const RenderOptions& opts)
{
  std::vector<ProtectedInput> inputs;
  for (const std::string& in : opts.inputs) inputs.push_back({opts.Batch() ? "the input " + in : "INPUT", in});
  if (!opts.sidechain.empty()) inputs.push_back({"the --sidechain file", opts.sidechain});
  if (!opts.loadState.empty()) inputs.push_back({"the --load-state file", opts.loadState});
  return inputs;
}

// Plans every output before anything is loaded: names, formats, the
// no-overwrite rule and files that would land on each other. A batch file
// that cannot be written is marked failed; the others still render.
int PlanOutputs(const RenderOptions& opts, std::vector<FileJob>& jobs, Shared& shared)
{
  std::string error;
  const std::vector<std::string>& inputs = opts.inputs;
  const std::vector<ProtectedInput> protect = ProtectedInputs(opts);
  if (!opts.Batch())
  {
    FileJob job;
    job.input = inputs.empty() ? "" : inputs[0];
    const std::string replaced = ReplacedInput(opts.output, protect);
    if (!replaced.empty()) return Fail("OUTPUT is the same file as " + replaced + "; choose another name");
    if (!ResolveOutput(opts.output, opts.force, job.out, error))
    {
      if (inputs.empty() && error.find("already exists") != std::string::npos)
        error += " (to render it, name an OUTPUT as well: tavlo-render [options] " + opts.output +
                 " OUTPUT; -y replaces it with a render of the embedded loop)";
      return Fail(error);
    }
    // A pipe, a device or standard output has no extension to go by: WAV.
    const std::string container =
      opts.format.empty() && job.out.kind != OutputTarget::kFile && !HasAudioExtension(opts.output) ? "wav" : opts.format;
    if (!ChooseOutputFormat(opts.output, container, opts.bits, job.format, error)) return Fail(error, kExitUsage);
    jobs.push_back(std::move(job));
  }
  else
  {
    struct stat st;
    if (stat(opts.outputDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Fail("-o " + opts.outputDir + ": no such folder");
    std::set<std::string> names;
    for (const std::string& in : inputs)
    {
      FileJob job;
      job.input = in;
      std::string name = BaseName(in);
      if (!opts.format.empty())
      {
        const size_t dot = name.find_last_of('.');
        name = (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "." + opts.format;
      }
      const std::string path = opts.outputDir + (opts.outputDir.back() == '/' ? "" : "/") + name;
      const std::string replaced = ReplacedInput(path, protect);
      if (!names.insert(name).second) job.error = "two inputs would both be written to " + path + "; only the first is";
      else if (replaced == "the input " + in) job.error = path + " is its own input; choose another folder";
      else if (!replaced.empty()) job.error = path + " is the same file as " + replaced + "; not replaced";
      else if (!ChooseOutputFormat(path, opts.format, opts.bits, job.format, error) ||
               !ResolveOutput(path, opts.force, job.out, error))
        job.error = error;
      jobs.push_back(std::move(job));
    }
  }

  // The side products: never over the audio, an input, or each other.
  const std::string* extras[] = {&opts.plot, &opts.snapshot, &opts.saveState};
  OutputTarget* targets[] = {&shared.plot, &shared.snapshot, &shared.saveState};
  for (int i = 0; i < 3; ++i)
  {
    const std::string& e = *extras[i];
    if (e.empty()) continue;
    if ((e == opts.output && e != "-") || SameFile(e, opts.output))
      return Fail(e + " would overwrite the audio; choose another name");
    for (int j = 0; j < 3; ++j)
      if (j != i && e == *extras[j]) return Fail(e + " is asked for twice; give the plot, snapshot and state names of their own");
    const std::string replaced = ReplacedInput(e, protect);
    if (!replaced.empty()) return Fail(e + " would overwrite an input (" + replaced + "); choose another name");
    if (!ResolveOutput(e, opts.force, *targets[i], error)) return Fail(error);
  }
  int toStdout = 0;
  for (const FileJob& j : jobs) toStdout += j.error.empty() && j.out.kind == OutputTarget::kStdout;
  for (const OutputTarget* t : targets) toStdout += !t->given.empty() && t->kind == OutputTarget::kStdout;
  if (toStdout > 1) return Fail("only one output can go to standard output", kExitUsage);
  shared.report = toStdout ? stderr : stdout;
  return 0;
}

int LoadBundle(const RenderOptions& opts, Shared& shared, std::unique_ptr<PluginSession>& probe)
{
  std::string error;
  shared.bundle = opts.plugin;
  if (shared.bundle.empty() && !FindDefaultBundle(shared.bundle))
    return Fail("no Tavlo.vst3 beside this program, in its ../lib/vst3, or in ~/.vst3, /usr/local/lib/vst3, "
                "/usr/lib/vst3 (give one with --plugin PATH)");
  shared.module.reset(new vst3host::Module(shared.bundle));
  if (!shared.module->IsLoaded()) return Fail("cannot load plug-in " + shared.bundle + ": " + shared.module->Error());
  probe.reset(new PluginSession());
  if (!probe->Load(shared.module, error)) return Fail("plug-in " + shared.bundle + ": " + error);
  shared.descs = SessionParams(*probe);
  if (!ResolveSettings(opts, *probe, shared, error)) return Fail(error, kExitUsage);
  if (!opts.snapshot.empty())
  {
    Steinberg::TUID cid;
    if (!probe->ClassId(cid) || !EditorTwin::Matches(cid))
      return Fail("--snapshot works only with the Tavlo plug-in this program was built with", kExitUsage);
  }
  return 0;
}

int RunCurve(const RenderOptions& opts)
{
  std::string error;
  OutputTarget target;
  if (!ResolveOutput(opts.curve, opts.force, target, error)) return Fail(error);
  Shared shared;
  shared.opts = &opts;
  std::unique_ptr<PluginSession> probe;
  if (const int rc = LoadBundle(opts, shared, probe)) return rc;
  const HostParam* input = probe->Find("Input");
  if (!input) return Fail("the plug-in has no Input parameter to draw a curve for");
  if (!shared.setup.lanes.empty()) return Fail("--curve measures steady tones; use --set, not --automate", kExitUsage);

  CurveRequest request;
  request.module = shared.module;
  request.block = opts.block;
  request.precision = opts.precision;
  request.inputId = input->id;
  request.inputs = {0, 50, 100, 200, 400};
  for (const ParamChange& c : shared.setup.first)
  {
    if (c.id != input->id) request.settings.push_back(c);
    else if (std::find(request.inputs.begin(), request.inputs.end(), c.plain) == request.inputs.end())
      request.inputs.push_back(c.plain);
  }
  std::sort(request.inputs.begin(), request.inputs.end());
  probe.reset();

  std::vector<CurveLine> lines;
  if (!MeasureCurves(request, lines, error)) return Fail(error);

  std::string subtitle = "measured through " + BaseName(shared.bundle) + " at 48000 Hz, in 1 dB steps";
  for (const ParamSetting& s : opts.sets)
    if (strcasecmp(s.name.c_str(), "Input") != 0) subtitle += ";  " + s.name + " " + s.text;
  PendingFile png(target);
  if (png.TempPath().empty()) return Fail("cannot write " + opts.curve + ": " + png.TempError());
  if (!DrawCurvePlot(lines, subtitle, png.TempPath(), error) || !png.Commit(error)) return Fail(error);
  FILE* out = target.kind == OutputTarget::kStdout ? stderr : stdout;
  if (opts.json) fprintf(out, "%s\n", CurveJson(opts.curve, lines).c_str());
  else
    for (const CurveLine& l : lines) fprintf(out, "%s\n", DescribeCurve(l).c_str());
  return 0;
}

// Opens a job's input and settles its output's container for the length
// found, before anything is rendered.
bool PrepareJob(const RenderOptions& opts, FileJob& job, std::string& error)
{
  if (!OpenInput(opts, job, error)) return false;
  std::unique_ptr<AudioSource> sc;
  if (!OpenSidechain(opts, job.rate, sc, error)) return false;
  bool wide = false;
  if (!FitOutputFormat(job.format, job.frames, wide, error))
  {
    error = job.out.given + ": " + error;
    return false;
  }
  if (wide)
    Warn(job.out.given + ": more than 4 GiB of audio, so it is written as RF64, the WAV for large files "
                         "(libsndfile, sox and most DAWs read it)");
  return true;
}

int Run(const RenderOptions& opts)
{
  if (!opts.curve.empty()) return RunCurve(opts);

  Shared shared;
  shared.opts = &opts;
  std::vector<FileJob> jobs;
  if (const int rc = PlanOutputs(opts, jobs, shared)) return rc;

  // Every input is opened (and checked) before anything is rendered; in a
  // batch, the files that fail are reported and the others rendered.
  std::string error;
  int64_t totalFrames = 0;
  int failed = 0;
  for (FileJob& job : jobs)
  {
    if (job.error.empty() && !PrepareJob(opts, job, error))
    {
      if (!opts.Batch()) return Fail(error);
      job.error = error;
    }
    if (!job.error.empty())
    {
      Fail(InputName(job.input) + ": " + job.error);
      ++failed;
      continue;
    }
    totalFrames = job.frames < 0 || totalFrames < 0 ? -1 : totalFrames + job.frames;
    if (opts.Batch()) job.source.reset();  // opened again by its worker
  }
  if (!opts.loadState.empty())
  {
    if (!ReadWholeFile(opts.loadState, shared.loadedState, error)) return Fail(error);
    shared.haveState = true;
  }

  std::unique_ptr<PluginSession> probe;
  if (failed == (int)jobs.size())
    return Fail(std::to_string(failed) + " of " + std::to_string(jobs.size()) + " files failed");
  if (const int rc = LoadBundle(opts, shared, probe)) return rc;

  for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, OnSignal);
  gBoard.Enable(totalFrames, (int)jobs.size() - failed, !opts.quiet);

  if (!opts.Batch())
  {
    const bool ok = RenderFile(shared, jobs[0], std::move(probe), error);
    gBoard.Finish();
    return ok ? 0 : Fail(error);
  }

  // A batch: each file on an instance of its own, so it comes out exactly
  // as it would alone, on as many threads as asked.
  probe.reset();
  std::vector<FileJob*> todo;
  for (FileJob& job : jobs)
    if (job.error.empty()) todo.push_back(&job);
  std::atomic<size_t> next{0};
  std::atomic<int> renderFailed{0};
  auto worker = [&]() {
    for (size_t i = next++; i < todo.size(); i = next++)
    {
      std::string why;
      if (!RenderFile(shared, *todo[i], nullptr, why))
      {
        ++renderFailed;
        Fail(InputName(todo[i]->input) + ": " + why);
      }
      gBoard.FileDone();
    }
  };
  std::vector<std::thread> threads;
  const int n = std::min<int>(opts.jobs, (int)todo.size());
  for (int t = 1; t < n; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  gBoard.Finish();
  failed += renderFailed.load();
  if (failed) return Fail(std::to_string(failed) + " of " + std::to_string(jobs.size()) + " files failed");
  return 0;
}

std::vector<ParamDesc> HelpParams()
{
  return LinkedTavloParams();
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: the leak checker's table of suppressed fontconfig blocks
// would otherwise follow the program's one-line messages on standard error.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options()
{
  return "print_suppressions=0";
}
#endif

int main(int argc, char** argv)
{
  // A closed pipe is an error to report and clean up after, not a death.
  signal(SIGPIPE, SIG_IGN);
  RenderOptions opts;
  std::string error;
  if (!ParseRenderOptions(argc, argv, opts, error))
  {
    fprintf(stderr, "tavlo-render: %s\n", error.c_str());
    return kExitUsage;
  }
  HelpFacts facts;
  facts.version = TavloVersionText();
  switch (opts.info)
  {
    case InfoRequest::kNone: return Run(opts);
    case InfoRequest::kVersion:
      printf("tavlo-render %s (Tavlo %s, Quillmarshworks)\n", facts.version.c_str(), facts.version.c_str());
      return 0;
    case InfoRequest::kPresets:
      printf("Factory presets of Tavlo %s (--preset NAME; --set changes any value from there):\n%s",
             facts.version.c_str(), PresetsText(LinkedTavloPresets()).c_str());
      return 0;
    case InfoRequest::kParams:
      facts.params = HelpParams();
      printf("Parameters of Tavlo %s (--set NAME=VALUE; VALUE with or without its unit):\n%s",
             facts.version.c_str(), ParamsText(facts.params).c_str());
      return 0;
    case InfoRequest::kHelp: facts.params = HelpParams(); facts.presets = LinkedTavloPresets(); fputs(HelpText(facts).c_str(), stdout); return 0;
    case InfoRequest::kManPage: facts.params = HelpParams(); facts.presets = LinkedTavloPresets(); fputs(ManPage(facts).c_str(), stdout); return 0;
    case InfoRequest::kBashCompletion:
      facts.params = HelpParams();
      facts.presets = LinkedTavloPresets();
      fputs(BashCompletion(facts).c_str(), stdout);
      return 0;
  }
  return 0;
}
