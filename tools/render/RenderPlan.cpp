#include "RenderPlan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "DrumLoop.h"
#include "host/VstPresetFile.h"
#include "EditorSnapshot.h"
#include "LinkedTavlo.h"
#include "ProgressDisplay.h"
#include "RenderSettings.h"
#include "StateSlots.h"
#include "tavlo/TavloParams.h"

namespace {

constexpr double kDefaultRate = 48000.0;

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

bool HasAudioExtension(const std::string& path)
{
  OutputFormat f;
  std::string unused;
  return ChooseOutputFormat(path, "", SampleBits::k16, f, unused);
}


// The files a render reads, which none of its outputs may replace.
std::vector<ProtectedInput> ProtectedInputs(const RenderOptions& opts)
{
  std::vector<ProtectedInput> inputs;
  for (const std::string& in : opts.inputs) inputs.push_back({opts.Batch() ? "the input " + in : "INPUT", in});
  if (!opts.sidechain.empty()) inputs.push_back({"the --sidechain file", opts.sidechain});
  if (!opts.loadState.empty()) inputs.push_back({"the --load-state file", opts.loadState});
  const PresetKind preset = PresetKindOf(opts.preset);
  if (preset == PresetKind::kVst3File || preset == PresetKind::kLv2File)
    inputs.push_back({"the --preset file", opts.preset});
  return inputs;
}

// DIR and any missing folder above it, as mkdir -p; those made are added
// to made, outermost first.
bool MakeFolders(const std::string& dir, std::vector<std::string>& made, std::string& error)
{
  std::vector<std::string> missing;
  std::string p = dir;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st;
  while (!p.empty() && stat(p.c_str(), &st) != 0)
  {
    if (errno != ENOENT)
    {
      error = p + ": " + strerror(errno);
      return false;
    }
    missing.push_back(p);
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) break;
    p = p.substr(0, slash);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
  }
  if (missing.empty() && !S_ISDIR(st.st_mode))
  {
    error = "not a folder";
    return false;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
  {
    if (mkdir(it->c_str(), 0777) != 0 && errno != EEXIST)
    {
      error = "cannot make " + *it + ": " + strerror(errno);
      return false;
    }
    made.push_back(*it);
  }
  return true;
}

}  // namespace

std::string BaseName(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string InputName(const std::string& input)
{
  return input.empty() ? "the embedded loop" : input == "-" ? "standard input" : input;
}

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
    if (!job.source->note.empty()) Warn(job.source->note);
    if (opts.rate > 0 && opts.rate != job.source->Rate())
    {
      error = InputName(job.input) + " is " + std::to_string((long)job.source->Rate()) + " Hz, not " +
              std::to_string((long)opts.rate) + " Hz; tavlo-render does not resample";
      return false;
    }
  }
  job.frames = job.source->Frames();
  job.rate = job.source->Rate();
  // The output follows the input: a mono file comes out mono (the left
  // channel of the render, which with both inputs alike is the right one
  // too), and, unless --bits says otherwise, as precise as it came in.
  job.format.channels = job.source->Channels() == 1 ? 1 : 2;
  if (opts.bits == SampleBits::kDefault)
  {
    const int stored = job.source->StoredBits();
    SetOutputBits(job.format, stored == 8 || stored == 16 ? SampleBits::k16
                              : stored == 24              ? SampleBits::k24
                                                          : SampleBits::kDefault);
  }
  job.format.dither = !opts.noDither;
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
  if (!sc->note.empty()) Warn("side-chain: " + sc->note);
  if (sc->Rate() != rate)
  {
    error = "side-chain " + opts.sidechain + " is " + std::to_string((long)sc->Rate()) + " Hz but the input is " +
            std::to_string((long)rate) + " Hz";
    return false;
  }
  return true;
}

// Opens a job's input and settles its output's container for the length
// found, before anything is rendered.
bool PrepareJob(const RenderOptions& opts, FileJob& job, std::string& error)
{
  if (!OpenInput(opts, job, error)) return false;
  std::unique_ptr<AudioSource> sc;
  if (!OpenSidechain(opts, job.rate, sc, error)) return false;
  bool wide = false;
  // A pipe's header that claims more than 4 GiB is taken for no claim: the
  // container then follows what arrives (RF64 only if it outgrows 4 GiB).
  int64_t frames = job.frames;
  if (job.source && !job.source->FramesAreSure())
  {
    OutputFormat probe = job.format;
    bool claimedWide = false;
    std::string unused;
    if (!FitOutputFormat(probe, frames, claimedWide, unused) || claimedWide) frames = -1;
  }
  if (!FitOutputFormat(job.format, frames, wide, error))
  {
    error = job.out.given + ": " + error;
    return false;
  }
  if (wide)
    Warn(job.out.given + ": more than 4 GiB of audio, so it is written as RF64, the WAV for large files "
                         "(libsndfile, sox and most DAWs read it)");
  return true;
}

// An output -n leaves alone: a file (or a link to one) that is there.
bool ExistingFile(const std::string& path)
{
  struct stat st;
  return path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

// The one output of a single render; its job is marked skipped when -n
// keeps the file that is there.
int PlanSingle(const RenderOptions& opts, const std::vector<ProtectedInput>& protect, std::vector<FileJob>& jobs)
{
  std::string error;
  const std::vector<std::string>& inputs = opts.inputs;
  FileJob job;
  job.input = inputs.empty() ? "" : inputs[0];
  const std::string replaced = ReplacedInput(opts.output, protect);
  if (!replaced.empty()) return Fail("OUTPUT is the same file as " + replaced + "; choose another name");
  if (opts.noClobber && ExistingFile(opts.output))
  {
    job.skipped = true;
    jobs.push_back(std::move(job));
    return 0;
  }
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
  return 0;
}

// One job per input of a batch, in -o DIR; a file that cannot be written
// is marked failed.
int PlanBatch(const RenderOptions& opts, const std::vector<ProtectedInput>& protect, std::vector<FileJob>& jobs,
              RenderShared& shared)
{
  std::string error;
  if (!MakeFolders(opts.outputDir, shared.madeFolders, error)) return Fail("-o " + opts.outputDir + ": " + error);
  std::set<std::string> names;
  for (const std::string& in : opts.inputs)
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
    const bool keep = opts.noClobber && ExistingFile(path);
    if (keep) job.out.given = path;
    if (!names.insert(name).second) job.error = "two inputs would both be written to " + path + "; only the first is";
    else if (replaced == "the input " + in) job.error = path + " is its own input; choose another folder";
    else if (!replaced.empty()) job.error = path + " is the same file as " + replaced + "; not replaced";
    else if (keep) job.skipped = true;
    else if (!ChooseOutputFormat(path, opts.format, opts.bits, job.format, error) ||
             !ResolveOutput(path, opts.force, job.out, error))
      job.error = error;
    jobs.push_back(std::move(job));
  }
  return 0;
}

// The side products: never over the audio, an input, or each other; and
// at most one output of all on standard output.
int PlanSideProducts(const RenderOptions& opts, const std::vector<ProtectedInput>& protect,
                     const std::vector<FileJob>& jobs, RenderShared& shared)
{
  std::string error;
  const std::string* extras[] = {&opts.plot, &opts.snapshot, &opts.saveState, &opts.savePreset};
  OutputTarget* targets[] = {&shared.plot, &shared.snapshot, &shared.saveState, &shared.savePreset};
  constexpr int kExtras = 4;
  for (int i = 0; i < kExtras; ++i)
  {
    const std::string& e = *extras[i];
    if (e.empty()) continue;
    if ((e == opts.output && e != "-") || SameFile(e, opts.output))
      return Fail(e + " would overwrite the audio; choose another name");
    for (int j = 0; j < kExtras; ++j)
      if (j != i && e == *extras[j])
        return Fail(e + " is asked for twice; give the plot, snapshot, state and preset names of their own");
    const std::string replaced = ReplacedInput(e, protect);
    if (!replaced.empty()) return Fail(e + " would overwrite an input (" + replaced + "); choose another name");
    if (!ResolveOutput(e, opts.force, *targets[i], error) || !RefuseOverAudio(e, *targets[i], error))
      return Fail(error);
  }
  int toStdout = 0;
  for (const FileJob& j : jobs) toStdout += j.error.empty() && j.out.kind == OutputTarget::kStdout;
  for (const OutputTarget* t : targets) toStdout += !t->given.empty() && t->kind == OutputTarget::kStdout;
  if (toStdout > 1) return Fail("only one output can go to standard output", kExitUsage);
  shared.report = toStdout ? stderr : stdout;
  return 0;
}

}  // namespace

// Plans every output before anything is loaded: names, formats, the
// no-overwrite rule and files that would land on each other. A batch file
// that cannot be written is marked failed; the others still render.
int PlanOutputs(const RenderOptions& opts, std::vector<FileJob>& jobs, RenderShared& shared)
{
  const std::vector<ProtectedInput> protect = ProtectedInputs(opts);
  if (opts.settingsOnly)
  {
    // Nothing is rendered: the state files only.
  }
  else if (!opts.Batch())
  {
    if (const int rc = PlanSingle(opts, protect, jobs)) return rc;
    // An output -n keeps: nothing is rendered, so nothing else is planned.
    if (jobs.back().skipped) return 0;
  }
  else if (const int rc = PlanBatch(opts, protect, jobs, shared))
    return rc;
  return PlanSideProducts(opts, protect, jobs, shared);
}

void RemoveEmptyMadeFolders(const RenderShared& shared)
{
  for (auto it = shared.madeFolders.rbegin(); it != shared.madeFolders.rend(); ++it)
    if (rmdir(it->c_str()) != 0) break;
}

namespace {

int ReadStartingStateFile(const RenderOptions& opts, RenderShared& shared);

}  // namespace

int ReadStartingState(const RenderOptions& opts, RenderShared& shared)
{
  if (const int rc = ReadStartingStateFile(opts, shared)) return rc;
  if (opts.slot < 0 || !shared.haveState) return 0;
  std::string error;
  if (!ShowStateSlot(shared.loadedState, opts.slot, kTavloFirstAppendedParam, error))
    return Fail(shared.stateFile + ": " + error);
  return 0;
}

namespace {

int ReadStartingStateFile(const RenderOptions& opts, RenderShared& shared)
{
  std::string error;
  if (!opts.loadState.empty())
  {
    if (!ReadWholeFile(opts.loadState, shared.loadedState, error)) return Fail(error);
    shared.haveState = true;
    shared.stateFile = opts.loadState;
  }
  switch (PresetKindOf(opts.preset))
  {
    case PresetKind::kNone:
    case PresetKind::kFactory: return 0;
    case PresetKind::kVst3File:
    {
      std::vector<uint8_t> bytes;
      if (!ReadWholeFile(opts.preset, bytes, error)) return Fail(error);
      if (!vst3host::ReadVstPreset(bytes, shared.stateClass, shared.loadedState, error))
        return Fail(opts.preset + ": " + error);
      shared.haveState = true;
      shared.stateFile = opts.preset;
      return 0;
    }
    case PresetKind::kLv2File:
    {
      std::vector<Lv2Preset> presets;
      if (!ReadLv2Presets(opts.preset, presets, error)) return Fail(error);
      if (presets.size() == 1)
      {
        shared.lv2Preset = presets;
        return 0;
      }
      if (presets.empty()) return Fail(opts.preset + " holds no LV2 preset");
      std::string names;
      for (const Lv2Preset& p : presets) names += (names.empty() ? "" : ", ") + (p.label.empty() ? p.uri : p.label);
      return Fail(opts.preset + " holds " + std::to_string(presets.size()) + " presets (" + names +
                  "); give the file of one, or a factory preset by name (see --presets)");
    }
  }
  return 0;
}

}  // namespace

// A class ID as a preset file holds it: 32 hex digits, or, when the file
// holds other bytes there, each byte in hex (raw bytes could be a
// terminal's escape sequences).
std::string PrintableClassId(const std::string& id)
{
  bool hex = true;
  for (char c : id) hex = hex && isxdigit((unsigned char)c);
  if (hex) return id;
  std::string out = "bytes";
  char b[4];
  for (unsigned char c : id)
  {
    snprintf(b, sizeof(b), " %02X", c);
    out += b;
  }
  return out;
}

// A preset file must be of the plug-in being rendered.
bool CheckPresetClass(const RenderOptions& opts, const PluginSession& probe, const RenderShared& shared,
                      std::string& error)
{
  Steinberg::TUID cid;
  const bool known = probe.ClassId(cid);
  if (!shared.stateClass.empty() && (!known || shared.stateClass != vst3host::ClassIdText(cid)))
  {
    const std::string plugin = known && IsLinkedTavlo(cid) ? std::string("Tavlo") : "the plug-in in " + shared.bundle;
    error = opts.preset + " is a preset of another plug-in (class " + PrintableClassId(shared.stateClass) + "), not of " + plugin +
            (known ? " (class " + vst3host::ClassIdText(cid) + ")" : "");
    return false;
  }
  if (!shared.lv2Preset.empty())
  {
    const std::string& of = shared.lv2Preset[0].plugin;
    if (!known || !IsLinkedTavlo(cid))
    {
      error = opts.preset + ": LV2 presets are read for Tavlo only, and " + shared.bundle + " holds another plug-in";
      return false;
    }
    if (of != kTavloLv2Uri)
    {
      error = opts.preset + " is a preset of another plug-in (" + (of.empty() ? "it names none" : of) +
              "), not of Tavlo (" + kTavloLv2Uri + ")";
      return false;
    }
  }
  return true;
}

int LoadBundle(const RenderOptions& opts, RenderShared& shared, std::unique_ptr<PluginSession>& probe)
{
  std::string error;
  shared.bundle = opts.plugin;
  if (shared.bundle.empty() && !FindDefaultBundle(shared.bundle))
    return Fail("no Tavlo.vst3 beside this program, in its ../lib/vst3, or in ~/.vst3, /usr/local/lib/vst3, "
                "/usr/lib/vst3 (give one with --plugin PATH)");
  shared.module = PluginModule::Open(shared.bundle);
  if (!shared.module.IsLoaded()) return Fail("cannot load plug-in " + shared.bundle + ": " + shared.module.Error());
  probe.reset(new PluginSession());
  if (!probe->Load(shared.module, error)) return Fail("plug-in " + shared.bundle + ": " + error);
  shared.descs = SessionParams(*probe);
  if (!CheckPresetClass(opts, *probe, shared, error)) return Fail(error);
  if (!ResolveSettings(opts, *probe, shared, error)) return Fail(error, kExitUsage);
  if (!opts.snapshot.empty() && !EditorSnapshot::Supports(*probe))
    return Fail("--snapshot works only with the Tavlo plug-in this program was built with", kExitUsage);
  return 0;
}
