#include "RenderOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Whole-string number: "1.5" yes, "1.5x", "" and "nan" no.
bool ParseNumber(const std::string& text, double& value)
{
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double v = strtod(s, &end);
  if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseInt(const std::string& text, long lo, long hi, long& value)
{
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
  value = v;
  return true;
}

bool SplitNameValue(const std::string& text, std::string& name, std::string& value)
{
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

}  // namespace

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
                           std::string& error)
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
    if (colon == std::string::npos || !ParseNumber(item.substr(0, colon), p.time) ||
        !ParseNumber(item.substr(colon + 1), p.value))
    {
      error = "automation point '" + item + "' is not TIME:VALUE";
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
  for (int i = 1; i < argc; ++i)
  {
    std::string arg = argv[i];
    if (arg == "--")
    {
      for (++i; i < argc; ++i) positional.push_back(argv[i]);
      break;
    }
    if (arg.size() < 2 || arg[0] != '-' || arg == "-")
    {
      positional.push_back(arg);
      continue;
    }
    if (arg == "-h" || arg == "--help")
    {
      opts.help = true;
      continue;
    }
    if (arg == "-q" || arg == "--quiet")
    {
      opts.quiet = true;
      continue;
    }
    // Every other option takes a value, as "--opt VALUE" or "--opt=VALUE".
    std::string name = arg, value;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos)
    {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    else
    {
      if (i + 1 >= argc)
      {
        error = "option " + arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }

    if (name == "--plugin") opts.plugin = value;
    else if (name == "--sidechain") opts.sidechain = value;
    else if (name == "--save-state") opts.saveState = value;
    else if (name == "--load-state") opts.loadState = value;
    else if (name == "--plot") opts.plot = value;
    else if (name == "--snapshot") opts.snapshot = value;
    else if (name == "--set")
    {
      ParamSetting s;
      std::string v;
      if (!SplitNameValue(value, s.name, v) || !ParseNumber(v, s.value))
      {
        error = "--set expects NAME=NUMBER, got '" + value + "'";
        return false;
      }
      opts.sets.push_back(s);
    }
    else if (name == "--automate")
    {
      ParamAutomation a;
      std::string v;
      if (!SplitNameValue(value, a.name, v))
      {
        error = "--automate expects NAME=T0:V0,T1:V1,..., got '" + value + "'";
        return false;
      }
      std::string why;
      if (!ParseAutomationPoints(v, a.points, why))
      {
        error = "--automate " + a.name + ": " + why;
        return false;
      }
      opts.automations.push_back(a);
    }
    else if (name == "--rate")
    {
      long r = 0;
      if (!ParseInt(value, 8000, 768000, r))
      {
        error = "--rate must be a whole number of hertz from 8000 to 768000, got '" + value + "'";
        return false;
      }
      opts.rate = (double)r;
    }
    else if (name == "--block")
    {
      long b = 0;
      if (!ParseInt(value, 1, 65536, b))
      {
        error = "--block must be from 1 to 65536 frames, got '" + value + "'";
        return false;
      }
      opts.block = (int)b;
    }
    else if (name == "--precision")
    {
      if (value == "32") opts.precision = 32;
      else if (value == "64") opts.precision = 64;
      else
      {
        error = "--precision must be 32 or 64, got '" + value + "'";
        return false;
      }
    }
    else if (name == "--bits")
    {
      if (value == "16") opts.bits = SampleBits::k16;
      else if (value == "24") opts.bits = SampleBits::k24;
      else if (value == "32f" || value == "32") opts.bits = SampleBits::k32f;
      else
      {
        error = "--bits must be 16, 24 or 32f, got '" + value + "'";
        return false;
      }
    }
    else
    {
      error = "unknown option " + name + " (see --help)";
      return false;
    }
  }
  if (opts.help) return true;

  if (positional.size() == 1)
    opts.output = positional[0];
  else if (positional.size() == 2)
  {
    opts.input = positional[0];
    opts.output = positional[1];
  }
  else
  {
    error = positional.empty() ? "no OUTPUT file given (see --help)"
                               : "too many files: expected [INPUT] OUTPUT (see --help)";
    return false;
  }

  // One source of values per parameter keeps the result predictable.
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

const char* RenderUsage()
{
  return
    "usage: tavlo-render [options] [INPUT] OUTPUT\n"
    "Renders INPUT (WAV, AIFF or FLAC; without INPUT an embedded 8-second\n"
    "drum-and-bass loop) through the Tavlo VST 3 plug-in into OUTPUT, whose\n"
    "format follows its extension (.wav, .aif/.aiff, .flac).\n"
    "\n"
    "  --plugin PATH          bundle to load (default: Tavlo.vst3 beside this program,\n"
    "                         then ~/.vst3, /usr/local/lib/vst3, /usr/lib/vst3)\n"
    "  --set NAME=VALUE       set a parameter in plain units before the first block\n"
    "                         (Input, Output, Attack, Release, Mix, HPF, Oversample,\n"
    "                         Bypass, Sidechain); repeatable\n"
    "  --automate NAME=T0:V0,T1:V1,...\n"
    "                         ramp a parameter linearly between times in seconds,\n"
    "                         one value per block\n"
    "  --sidechain FILE       feed FILE to the side-chain input; sets Sidechain 0\n"
    "                         unless given otherwise\n"
    "  --rate HZ              sample rate of the embedded loop (default 48000); with\n"
    "                         INPUT it must match the file (no resampling)\n"
    "  --block N              frames per process call (default 512)\n"
    "  --precision 32|64      sample size of the process calls (default 32)\n"
    "  --bits 16|24|32f       output sample format (default 32f; 24 for FLAC)\n"
    "  --save-state FILE      write the plug-in's state after rendering\n"
    "  --load-state FILE      restore a state written by --save-state before rendering\n"
    "  --plot FILE.png        waveforms in and out, and gain reduction over time\n"
    "  --snapshot FILE.png    the editor as it stands after rendering\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help             this text\n";
}
