#include "RenderFile.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "EditorSnapshot.h"
#include "host/VstPresetFile.h"
#include "ProgressDisplay.h"
#include "RenderPlot.h"
#include "RenderReport.h"
#include "RenderStats.h"
#include "tavlo/chain/TavloChainSettings.h"

namespace {

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
}

std::vector<ReportParam> ReportParams(const RenderShared& shared, const PluginSession& plug)
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

FileReport MakeReport(const RenderShared& shared, const FileJob& job, const PluginSession& plug,
                      const RenderStats& stats, int64_t clipped, const EngineCounts& counts, double wall)
{
  FileReport report;
  report.output = job.out.given;
  report.input = job.input;
  report.rate = job.rate;
  report.frames = counts.frames;
  report.peakInDb = stats.PeakInDb();
  report.rmsInDb = stats.RmsInDb();
  report.peakOutDb = stats.PeakOutDb();
  report.rmsOutDb = stats.RmsOutDb();
  report.grMaxDb = stats.MaxGrDb();
  report.grAvgDb = stats.AvgGrDb();
  report.clipped = clipped;
  report.nonFinite = counts.nonFiniteIn;
  report.speed = wall > 0 ? counts.frames / job.rate / wall : 0.0;
  report.params = ReportParams(shared, plug);
  return report;
}

PlotText PlotTextFor(const FileJob& job, const FileReport& report)
{
  PlotText text;
  text.title = "Tavlo: " + (job.input.empty() ? std::string("embedded drum-and-bass loop") :
                            job.input == "-" ? std::string("standard input") : BaseName(job.input)) +
               "  \xE2\x86\x92  " + (job.out.kind == OutputTarget::kStdout ? "standard output" : BaseName(job.out.given));
  std::string settings;
  for (const ReportParam& p : report.params) settings += p.name + (p.automated ? " (automated) " : " ") + p.text + "   ";
  text.settings = settings + std::to_string((long)report.rate) + " Hz";
  return text;
}

// A side product's temporary file; null with a message when none can be made.
std::unique_ptr<PendingFile> NewPending(const OutputTarget& target, std::string& error)
{
  std::unique_ptr<PendingFile> file(new PendingFile(target));
  if (!file->TempPath().empty()) return file;
  error = "cannot write " + target.given + ": " + file->TempError();
  return nullptr;
}

// The plug-in's state to --save-state and as a preset to --save-preset,
// each under a temporary name.
bool WriteStates(const RenderShared& shared, PluginSession& plug, std::vector<std::unique_ptr<PendingFile>>& files,
                 std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  if (opts.saveState.empty() && opts.savePreset.empty()) return true;
  std::vector<uint8_t> bytes;
  Steinberg::TUID cid;
  if (!plug.GetState(bytes, error)) return false;
  if (!opts.saveState.empty())
  {
    files.emplace_back(new PendingFile(shared.saveState));
    if (!WriteWholeFile(*files.back(), bytes, error)) return false;
  }
  if (!opts.savePreset.empty())
  {
    if (!plug.ClassId(cid))
    {
      error = "the plug-in does not say its class, which a preset file names";
      return false;
    }
    files.emplace_back(new PendingFile(shared.savePreset));
    if (!WriteWholeFile(*files.back(), vst3host::MakeVstPreset(cid, bytes), error)) return false;
  }
  return true;
}

// A state or DAW preset saved with the detector on the side-chain, rendered
// without one: the settings resolved on the command line cannot see this.
void WarnExternalFromState(const RenderShared& shared, const PluginSession& plug)
{
  const HostParam* sc = plug.Find("Sidechain");
  if (!sc) return;
  for (const ParamChange& c : shared.setup.first)
    if (c.id == sc->id) return;
  for (const ParamLane& l : shared.setup.lanes)
    if (l.id == sc->id) return;
  if (plug.PlainValue(*sc) >= 0.5 * (sc->min + sc->max)) return;
  static std::atomic<bool> said{false};  // once for a whole batch
  if (said.exchange(true)) return;
  Warn(shared.stateFile + " has Sidechain external but no --sidechain FILE is given: the detector hears silence "
       "and nothing is compressed (add --set Sidechain=internal to listen to the input)");
}

// A take on one channel only with the detector on the other (the right,
// as every earlier release listened): nothing is compressed, and the
// report's 0.0 dB does not say why.
void WarnSilentDetector(const FileJob& job, const PluginSession& plug, const RenderStats& stats)
{
  const HostParam* det = plug.Find("Detector");
  const HostParam* sc = plug.Find("Sidechain");
  if (!det || (sc && plug.PlainValue(*sc) < 0.5)) return;
  const int detector = (int)std::lround(plug.PlainValue(*det));
  if (detector != kDetectRight && detector != kDetectLeft) return;
  const int heard = detector == kDetectRight ? 1 : 0;
  constexpr double kSilentDb = -100.0, kSoundDb = -60.0;
  if (stats.ChannelPeakInDb(heard) > kSilentDb || stats.ChannelPeakInDb(1 - heard) < kSoundDb) return;
  const std::string side = heard ? "right" : "left", other = heard ? "left" : "right";
  Warn(InputName(job.input) + ": the " + side + " channel is silent and Detector is " + (heard ? "Right" : "Left") +
       " (the detector hears that channel only), so nothing is compressed; --set Detector=" + other +
       " or Detector=linked to hear the " + other + " channel");
}

// What a finished render should not pass over in silence.
void WarnAfterRender(const FileJob& job, const FileReport& report, const EngineCounts& counts)
{
  const std::string out = job.out.kind == OutputTarget::kStdout ? "standard output" : job.out.given;
  if (report.clipped)
    Warn(out + ": " + std::to_string(report.clipped) + " samples clipped at full scale by " +
         std::to_string(job.format.bits) + "-bit output (peak " + Fmt("%+.1f", report.peakOutDb) +
         " dBFS); lower Output or use --bits 32f");
  if (job.format.bits == 32 && report.peakOutDb > 0.0)
    Warn(out + ": peaks at " + Fmt("%+.1f", report.peakOutDb) + " dBFS, which a 16- or 24-bit file, or a player, "
         "clips; lower Output by as much to keep it");
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
}

// Loads the plug-in unless one is given, starts it, and restores the
// starting state; useSidechain says whether the side-chain bus is fed.
bool StartPlugin(const RenderShared& shared, double rate, bool haveSidechain, std::unique_ptr<PluginSession>& plug,
                 bool& useSidechain, std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  if (!plug)
  {
    plug.reset(new PluginSession());
    if (!plug->Load(shared.module, error))
    {
      error = "plug-in " + shared.bundle + ": " + error;
      return false;
    }
  }
  useSidechain = haveSidechain && plug->HasSidechainBus();
  if (haveSidechain && !useSidechain)
  {
    error = "the plug-in has no side-chain input";
    return false;
  }

  if (!plug->Start(rate, opts.block, opts.precision, useSidechain, error)) return false;
  // After set-up, which clears the host bypass switch, as a DAW restores a
  // project once the engine runs.
  if (shared.haveState && !plug->SetState(shared.loadedState, error))
  {
    error = shared.stateFile + ": " + error;
    return false;
  }

  if (shared.haveState && !useSidechain) WarnExternalFromState(shared, *plug);
  return true;
}

// A WAV to a pipe goes out as it is rendered, so that the next program of
// a pipeline starts at once; a regular file standard output was
// redirected to still gets the whole render at the end.
bool StreamsToPipe(const FileJob& job)
{
  struct stat st;
  return job.out.kind == OutputTarget::kStdout && (job.format.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
         fstat(STDOUT_FILENO, &st) == 0 && !S_ISREG(st.st_mode);
}

// Everything besides the audio, each under a temporary name, then all of
// it, the audio too, committed together.
bool FinishOutputs(const RenderShared& shared, const FileJob& job, PluginSession& plug, const RenderStats& stats,
                   const FileReport& report, AudioSink& sink, std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  std::vector<PendingFile*> pending = {&sink.Pending()};
  std::vector<std::unique_ptr<PendingFile>> states;
  std::unique_ptr<PendingFile> plotPending, snapPending;
  if (!WriteStates(shared, plug, states, error)) return false;
  for (const auto& f : states) pending.push_back(f.get());
  if (!opts.plot.empty())
  {
    if (!(plotPending = NewPending(shared.plot, error)) ||
        !DrawRenderPlot(stats, PlotTextFor(job, report), plotPending->TempPath(), error))
      return false;
    pending.push_back(plotPending.get());
  }
  if (!opts.snapshot.empty())
  {
    if (!(snapPending = NewPending(shared.snapshot, error)) ||
        !EditorSnapshot::Write(plug, snapPending->TempPath(), error))
      return false;
    pending.push_back(snapPending.get());
  }
  return sink.Finish(error) && CommitAll(pending, error);
}

}  // namespace

// Renders one file with everything that goes with it; the outputs appear
// together at the end or not at all.
bool RenderFile(const RenderShared& shared, FileJob& job, std::unique_ptr<PluginSession> plug, std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  if (!job.source && !OpenInput(opts, job, error)) return false;
  const double rate = job.rate;
  std::unique_ptr<AudioSource> sidechain;
  if (!OpenSidechain(opts, rate, sidechain, error)) return false;
  bool useSidechain = false;
  if (!StartPlugin(shared, rate, sidechain != nullptr, plug, useSidechain, error)) return false;

  job.out.stream = StreamsToPipe(job);
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
    Progress().Add(b.frames, rate);
    return true;
  };
  const auto start = std::chrono::steady_clock::now();
  EngineCounts counts;
  if (!RunEngine(*plug, *job.source, sidechain.get(), setup, onBlock, counts, error))
  {
    if (error.compare(0, 4, "read") == 0) error = "cannot " + error + " of " + InputName(job.input);
    else if (error.compare(0, 10, "side-chain") == 0) error = "cannot " + error + " of " + opts.sidechain;
    return false;
  }
  stats.Finish();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  plug->Stop();
  if (counts.frames == 0)
  {
    error = (job.input.empty() ? std::string("the input") : InputName(job.input)) + " holds no audio";
    return false;
  }

  const FileReport report = MakeReport(shared, job, *plug, stats, sink.Clipped(), counts, wall);
  if (!FinishOutputs(shared, job, *plug, stats, report, sink, error)) return false;

  if (opts.json) Progress().Print(shared.report, JsonLine(report));
  else if (!opts.quiet) Progress().Print(shared.report, SummaryLine(report));
  WarnAfterRender(job, report, counts);
  WarnSilentDetector(job, *plug, stats);
  return true;
}

bool SaveSettings(const RenderShared& shared, std::unique_ptr<PluginSession> plug, std::string& error)
{
  const RenderOptions& opts = *shared.opts;
  constexpr double kRate = 48000.0;
  if (!plug->Start(kRate, opts.block, opts.precision, false, error)) return false;
  if (shared.haveState && !plug->SetState(shared.loadedState, error))
  {
    error = shared.stateFile + ": " + error;
    return false;
  }
  // One block of silence brings the first block's changes in, as a render's
  // first block does.
  std::unique_ptr<AudioSource> silence = MemorySource(std::vector<float>(2 * (size_t)opts.block, 0.0f), kRate);
  EngineSetup setup = shared.setup;
  setup.rate = kRate;
  setup.block = opts.block;
  setup.precision = opts.precision;
  EngineCounts counts;
  const auto ignore = [](const BlockView&, std::string&) { return true; };
  if (!RunEngine(*plug, *silence, nullptr, setup, ignore, counts, error)) return false;
  plug->Stop();
  std::vector<std::unique_ptr<PendingFile>> states;
  std::vector<PendingFile*> pending;
  if (!WriteStates(shared, *plug, states, error)) return false;
  for (const auto& f : states) pending.push_back(f.get());
  return CommitAll(pending, error);
}
