#include "RenderOptions.h"

#include "AudioFiles.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "OutputFiles.h"
#include "ParamValues.h"

namespace {

using cli::ParseNumber;
using cli::SplitNameValue;

bool HasExtension(const std::string& path, const char* ext)
{
  const size_t n = strlen(ext);
  return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
}

// The kinds of option value, as every program's table has them.
using cli::ByDefault;
using cli::Flag;
using cli::Text;

OptionValue Info(InfoRequest request)
{
  return cli::Info(&RenderOptions::info, request, InfoRequest::kNone, InfoRequest::kHelp);
}

template <class T>
OptionValue Whole(const char* name, T RenderOptions::*member, long lo, long hi, const char* what = "",
                  const char* unit = "")
{
  return cli::Whole(name, member, lo, hi, what, unit);
}

template <class T>
OptionValue Choice(const char* name, T RenderOptions::*member, std::vector<std::pair<std::string, T>> words,
                   std::vector<std::pair<std::string, T>> aliases = {})
{
  return cli::Choice(name, member, std::move(words), std::move(aliases));
}

OptionValue Custom(OptionSetter set) { return cli::Custom(std::move(set)); }

bool AddSetting(const std::string& value, RenderOptions& opts, std::string& error)
{
  ParamSetting s;
  if (!SplitNameValue(value, s.name, s.text))
  {
    error = "--set expects NAME=VALUE, got '" + value + "'";
    return false;
  }
  opts.sets.push_back(s);
  return true;
}

bool AddAutomation(const std::string& value, RenderOptions& opts, std::string& error)
{
  ParamAutomation a;
  if (!SplitNameValue(value, a.name, a.text))
  {
    error = "--automate expects NAME=T0:V0,T1:V1,..., got '" + value + "'";
    return false;
  }
  // The times are checked now; the values once the parameter's unit is known.
  std::string why;
  const ValueReader anyValue = [](const std::string&, double&, std::string&) { return true; };
  if (!ParseAutomationPoints(a.text, a.points, why, anyValue))
  {
    error = "--automate " + a.name + ": " + why;
    return false;
  }
  opts.automations.push_back(a);
  return true;
}

// Names of the wrong kind, and options that exclude each other.
bool CheckNames(const RenderOptions& opts, std::string& error)
{
  // A picture under an audio name would be a forgotten name, not a wish.
  const std::pair<const char*, const std::string*> pictures[] = {
    {"--plot", &opts.plot}, {"--snapshot", &opts.snapshot}, {"--curve", &opts.curve}};
  for (const auto& p : pictures)
    if (!p.second->empty() && !IsPngName(*p.second))
    {
      error = std::string(p.first) + " " + *p.second + ": pictures are written as PNG; give a name that ends in .png";
      return false;
    }
  if (opts.noClobber && opts.force)
  {
    error = "-n keeps outputs that exist and -y replaces them; give one of them";
    return false;
  }
  // A state under an audio name would be a take named by mistake.
  if (!opts.saveState.empty() && opts.saveState != "-")
  {
    const std::string& name = opts.saveState;
    for (const std::string& audio : ReadableExtensions())
      if (HasExtension(name, ("." + audio).c_str()))
      {
        error = "--save-state " + name + ": a state is not audio; give it a name of its own kind (" +
                name.substr(0, name.size() - audio.size() - 1) + ".state)";
        return false;
      }
  }
  // Hosts list only files of this extension among their presets.
  if (!opts.savePreset.empty() && opts.savePreset != "-" && !HasExtension(opts.savePreset, ".vstpreset"))
  {
    error = "--save-preset " + opts.savePreset + ": VST 3 presets are written as .vstpreset; give a name that ends "
            "in .vstpreset";
    return false;
  }
  if (opts.slot >= 0 && opts.loadState.empty() && PresetKindOf(opts.preset) != PresetKind::kVst3File)
  {
    error = "--slot chooses a slot of a saved state: give --load-state FILE or --preset FILE.vstpreset";
    return false;
  }
  if (PresetKindOf(opts.preset) == PresetKind::kVst3File && !opts.loadState.empty())
  {
    error = "--preset " + opts.preset + " and --load-state each restore a whole state; give one of them";
    return false;
  }
  return true;
}

bool CheckCurve(const std::vector<std::string>& positional, const RenderOptions& opts, std::string& error)
{
  if (!positional.empty() || opts.Batch())
  {
    error = "--curve renders its own tones and takes no INPUT, OUTPUT or -o (see --help)";
    return false;
  }
  if (!opts.plot.empty() || !opts.snapshot.empty() || !opts.saveState.empty() || !opts.sidechain.empty() ||
      !opts.loadState.empty() || !opts.savePreset.empty())
  {
    error = "--curve draws the curve only; --plot, --snapshot, --save-state, --save-preset, --load-state and "
            "--sidechain need a render";
    return false;
  }
  return true;
}

bool CheckBatch(const std::vector<std::string>& positional, RenderOptions& opts, std::string& error)
{
  if (positional.empty())
  {
    error = "no INPUT given for -o " + opts.outputDir + " (see --help)";
    return false;
  }
  for (const std::string& p : positional)
    if (p == "-")
    {
      error = "standard input cannot be part of a batch; give files with -o DIR";
      return false;
    }
  if (!opts.plot.empty() || !opts.snapshot.empty() || !opts.saveState.empty() || !opts.savePreset.empty())
  {
    error = "--plot, --snapshot, --save-state and --save-preset name one file each; render one file at a time for "
            "them";
    return false;
  }
  opts.inputs = positional;
  return true;
}

// [INPUT] OUTPUT, or neither when only the settings are saved.
bool CheckSingle(const std::vector<std::string>& positional, RenderOptions& opts, std::string& error)
{
  if (positional.empty() && (!opts.saveState.empty() || !opts.savePreset.empty()))
  {
    if (!opts.plot.empty() || !opts.snapshot.empty() || !opts.sidechain.empty() || !opts.automations.empty())
    {
      error = "without INPUT or OUTPUT only the settings are written; --plot, --snapshot, --sidechain and --automate "
              "need a render";
      return false;
    }
    opts.settingsOnly = true;
  }
  else if (positional.size() == 1)
    opts.output = positional[0];
  else if (positional.size() == 2)
  {
    opts.inputs = {positional[0]};
    opts.output = positional[1];
  }
  else
  {
    error = positional.empty() ? "no OUTPUT file given (see --help)"
                               : "too many files: expected [INPUT] OUTPUT, or INPUT... -o DIR (see --help)";
    return false;
  }
  return true;
}

// What the files on the line mean, and the combinations that cannot work.
bool CheckFiles(const std::vector<std::string>& positional, RenderOptions& opts, std::string& error)
{
  if (!CheckNames(opts, error)) return false;
  if (!opts.curve.empty()) return CheckCurve(positional, opts, error);
  if (opts.Batch()) return CheckBatch(positional, opts, error);
  return CheckSingle(positional, opts, error);
}

// One source of values per parameter keeps the result predictable.
bool CheckOneSourcePerParam(const RenderOptions& opts, std::string& error)
{
  for (size_t i = 0; i < opts.automations.size(); ++i)
  {
    for (size_t j = 0; j < i; ++j)
      if (strcasecmp(opts.automations[i].name.c_str(), opts.automations[j].name.c_str()) == 0)
      {
        error = "parameter " + opts.automations[i].name + " is automated twice";
        return false;
      }
    for (const ParamSetting& s : opts.sets)
      if (strcasecmp(s.name.c_str(), opts.automations[i].name.c_str()) == 0)
      {
        error = "parameter " + s.name + " is both set and automated";
        return false;
      }
  }
  return true;
}

}  // namespace

PresetKind PresetKindOf(const std::string& preset)
{
  if (preset.empty()) return PresetKind::kNone;
  if (HasExtension(preset, ".vstpreset")) return PresetKind::kVst3File;
  if (HasExtension(preset, ".ttl")) return PresetKind::kLv2File;
  return PresetKind::kFactory;
}

std::string NearestName(const std::string& given, const std::vector<std::string>& names)
{
  return cli::NearestName(given, names);
}

double ParamAutomation::ValueAt(double seconds) const
{
  if (points.empty()) return 0.0;
  if (seconds <= points.front().time) return points.front().value;
  for (size_t i = 1; i < points.size(); ++i)
  {
    const AutomationPoint& a = points[i - 1];
    const AutomationPoint& b = points[i];
    if (seconds < b.time)
      return a.value + (b.value - a.value) * (seconds - a.time) / (b.time - a.time);
  }
  return points.back().value;
}

bool ParseAutomationPoints(const std::string& text, std::vector<AutomationPoint>& points,
                           std::string& error, const ValueReader& readValue)
{
  points.clear();
  size_t start = 0;
  while (start <= text.size())
  {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    const size_t colon = item.find(':');
    AutomationPoint p;
    std::string why;
    const std::string value = colon == std::string::npos ? "" : TrimBlanks(item.substr(colon + 1));
    if (colon == std::string::npos || !ParseNumber(TrimBlanks(item.substr(0, colon)), p.time) || value.empty())
    {
      error = "automation point '" + item + "' is not TIME:VALUE";
      return false;
    }
    if (readValue ? !readValue(value, p.value, why) : !ParseNumber(value, p.value))
    {
      error = why.empty() ? "automation point '" + item + "' is not TIME:VALUE" : why;
      return false;
    }
    if (p.time < 0.0)
    {
      error = "automation time " + item.substr(0, colon) + " is negative";
      return false;
    }
    if (!points.empty() && p.time <= points.back().time)
    {
      error = "automation times must increase ('" + item + "')";
      return false;
    }
    points.push_back(p);
    start = comma + 1;
  }
  if (points.empty())
  {
    error = "automation has no points";
    return false;
  }
  return true;
}

bool ParseRenderOptions(int argc, const char* const* argv, RenderOptions& opts, std::string& error)
{
  std::vector<std::string> positional;
  if (!cli::ParseCommandLine(argc, argv, RenderOptionTable(), opts, positional, error)) return false;
  if (opts.info != InfoRequest::kNone) return true;
  return CheckFiles(positional, opts, error) && CheckOneSourcePerParam(opts, error);
}

namespace {

using R = RenderOptions;

// The option table in the order --help lists it, in four parts: settings
// and files, the engine and output samples, side files, and what is printed.
std::vector<OptionInfo> SettingsAndFilesOptions()
{
  return {
    {0, "preset", "NAME|FILE",
     "start from a factory preset (see --presets), selected in the plug-in\n"
     "as a host's preset menu does, or from a preset a DAW saved: a VST 3\n"
     "FILE.vstpreset or an LV2 FILE.ttl; --set and --automate change it\n"
     "from there",
     "preset", Text(&R::preset)},
    {0, "set", "NAME=VALUE",
     "set a parameter before the first block, with or without its unit\n"
     "(Input=120, Attack=5ms, Output=-3dB, Oversample=on); repeatable",
     "param", Custom(AddSetting)},
    {0, "automate", "NAME=T0:V0,T1:V1,...",
     "ramp a parameter linearly between times in seconds, one value per\n"
     "block (Output=0:0dB,4:-6dB); repeatable",
     "param", Custom(AddAutomation)},
    {0, "sidechain", "FILE",
     "feed FILE to the side-chain input; sets Sidechain to external unless\n"
     "--set or --automate say otherwise; a shorter file ends in silence",
     "audio", Text(&R::sidechain)},
    {'o', "output-dir", "DIR", "render every INPUT into DIR, one output each, names kept; DIR is\n"
                             "made if missing", "dir",
     Text(&R::outputDir)},
    {0, "format", "", "format of the output", "",
     ByDefault(Choice<std::string>("format", &R::format, {{"wav", "wav"}, {"flac", "flac"}, {"aiff", "aiff"}},
                                   {{"aif", "aiff"}}),
               "OUTPUT's extension; with -o DIR the input's; WAV on standard output")},
    {'j', "jobs", "N", "with -o DIR, render N files at once, each on an instance of its own", "1 2 4",
     Whole("jobs", &R::jobs, 1, 64)},
    {'y', "force", "", "replace outputs that already exist (refused otherwise)", "", Flag(&R::force)},
    {'n', "no-clobber", "", "skip outputs that already exist: a batch run again renders only\n"
                            "what is missing", "", Flag(&R::noClobber)},
  };
}

std::vector<OptionInfo> EngineOptions()
{
  return {
    {0, "plugin", "PATH", "bundle to load (Tavlo.vst3 or Tavlo.clap)", "plugin",
     ByDefault(Text(&R::plugin),
               "Tavlo.vst3 beside this program, in its ../lib/vst3, then ~/.vst3, /usr/local/lib/vst3, "
               "/usr/lib/vst3")},
    {0, "rate", "HZ",
     "sample rate of the embedded loop; with INPUT it must match the file,\n"
     "as nothing is resampled",
     "44100 48000 88200 96000",
     ByDefault(Whole("rate", &R::rate, kMinRate, kMaxRate, "a whole number of hertz "), "48000")},
    {0, "block", "N", "frames per process call", "64 512 4096", Whole("block", &R::block, 1, 65536, "", " frames")},
    {0, "precision", "", "sample size of the process calls", "",
     Choice<int>("precision", &R::precision, {{"32", 32}, {"64", 64}})},
    {0, "bits", "", "output sample format; PCM is dithered (TPDF, one step), rounded and\n"
                    "clipped", "",
     ByDefault(Choice<SampleBits>("bits", &R::bits,
                                  {{"16", SampleBits::k16}, {"24", SampleBits::k24}, {"32f", SampleBits::k32f}},
                                  {{"32", SampleBits::k32f}}),
               "the input's: 16 for 8- and 16-bit PCM, 24 for 24-bit; else 32f, 24 for FLAC")},
    {0, "no-dither", "", "round PCM output without dither", "", Flag(&R::noDither)},
  };
}

std::vector<OptionInfo> SideFileOptions()
{
  return {
    {0, "save-state", "FILE",
     "write the plug-in's state after rendering (without INPUT or OUTPUT:\n"
     "the settings alone, nothing rendered)",
     "file", Text(&R::saveState)},
    {0, "load-state", "FILE", "restore a state written by --save-state before rendering", "file",
     Text(&R::loadState)},
    {0, "slot", "", "the A/B slot of the state or preset file loaded to render (and that\n"
                    "--set changes); --save-state keeps both slots", "",
     ByDefault(Choice<int>("slot", &R::slot, {{"A", 0}, {"B", 1}}, {{"a", 0}, {"b", 1}}),
               "the slot the state was saved showing")},
    {0, "save-preset", "FILE.vstpreset",
     "write the plug-in's state after rendering as a preset file VST 3\n"
     "hosts load (without INPUT or OUTPUT: the settings alone, nothing\n"
     "rendered)",
     "vstpreset", Text(&R::savePreset)},
    {0, "plot", "FILE.png", "draw the waveforms in and out and the gain reduction over time", "png", Text(&R::plot)},
    {0, "snapshot", "FILE.png", "draw the editor as it stands after rendering", "png", Text(&R::snapshot)},
    {0, "curve", "FILE.png",
     "draw the static curve: output against input level of a steady tone\n"
     "for Input 0, 50, 100, 200 and 400 (and any Input given with --set),\n"
     "measured through the plug-in; takes no INPUT or OUTPUT",
     "png", Text(&R::curve)},
  };
}

std::vector<OptionInfo> PrintOptions()
{
  return {
    {0, "json", "", "print each summary as one JSON object per line instead", "", Flag(&R::json)},
    {'q', "quiet", "", "print errors and warnings only (and --json if asked): no\n"
                        "progress bar, no summary", "", Flag(&R::quiet)},
    {0, "params", "", "list the parameters with units, ranges and defaults", "", Info(InfoRequest::kParams)},
    {0, "presets", "", "list the factory presets with what each is for", "", Info(InfoRequest::kPresets)},
    {0, "version", "", "print the version", "", Info(InfoRequest::kVersion)},
    {'h', "help", "", "print this text", "", Info(InfoRequest::kHelp)},
    {0, "man-page", "", "print the manual page (roff), made from this text", "", Info(InfoRequest::kManPage)},
    {0, "bash-completion", "", "print the bash completion script", "", Info(InfoRequest::kBashCompletion)},
  };
}

}  // namespace

const std::vector<OptionInfo>& RenderOptionTable()
{
  static const std::vector<OptionInfo> kTable = [] {
    std::vector<OptionInfo> t;
    for (const std::vector<OptionInfo>& part :
         {SettingsAndFilesOptions(), EngineOptions(), SideFileOptions(), PrintOptions()})
      t.insert(t.end(), part.begin(), part.end());
    cli::SpellChoices(t);
    return t;
  }();
  return kTable;
}
