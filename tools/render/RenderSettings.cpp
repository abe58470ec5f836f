#include "RenderSettings.h"

#include <strings.h>

#include <cmath>
#include <cstdio>

#include "ProgressDisplay.h"
#include "lv2/IFxLV2Ports.h"

namespace {

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
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
bool ResolvePreset(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared, std::string& error)
{
  if (PresetKindOf(opts.preset) != PresetKind::kFactory) return true;
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
    // Offered as typed on a command line: the slug, whichever spelling is near.
    std::vector<std::string> slugs, titles;
    for (const PresetDesc& p : programs) slugs.push_back(PresetSlug(p.name)), titles.push_back(p.name);
    std::string near = NearestName(opts.preset, slugs);
    if (near.empty() && !(near = NearestName(opts.preset, titles)).empty()) near = PresetSlug(near);
    error = "unknown preset '" + opts.preset + "'" +
            (names.empty() || !param ? "; the plug-in has no factory presets"
             : near.empty()          ? "; presets: " + names + " (see --presets)"
                                     : "; did you mean " + near + "? (see --presets)");
    return false;
  }
  const int index = (int)(found - programs.data());
  shared.setup.first.insert(shared.setup.first.begin(), {param->id, (double)index});
  return true;
}

// Sets an LV2 preset's port values with the first block, before any --set,
// as an LV2 host sets them: each control port is the parameter of its
// symbol, in plain units, and "enabled" is the host's bypass switch.
void ResolveLv2Preset(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared)
{
  if (shared.lv2Preset.empty()) return;
  std::vector<ParamChange> changes;
  for (const auto& port : shared.lv2Preset[0].ports)
  {
    // Ports carry single-precision values: the one the LV2 plug-in would get.
    const double value = (double)(float)port.second;
    const HostParam* param = nullptr;
    if (port.first == "enabled")
    {
      if (!(param = probe.HostBypass())) continue;
      // As the plug-in reads its enable port: any value above 0 enables.
      const bool enabled = value > 0.0;
      if (!enabled)
        Warn(opts.preset + " was saved with the plug-in switched off (enabled 0): the audio passes through "
             "unprocessed");
      changes.push_back({param->id, enabled ? param->min : param->max});
      continue;
    }
    for (const HostParam& p : probe.Params())
      if (!PluginSession::IsHostOnly(p) && IFxLV2Ports::SymbolFrom(p.title.c_str()) == port.first) param = &p;
    if (param) changes.push_back({param->id, value});
    else Warn(opts.preset + ": port '" + port.first + "' is no parameter of this plug-in; left out");
  }
  shared.setup.first.insert(shared.setup.first.begin(), changes.begin(), changes.end());
}

// The parameter a --set or --automate names; false with the message.
bool LookUp(const RenderShared& shared, const PluginSession& probe, const std::string& name, const ParamDesc*& desc,
            const HostParam*& param, std::string& error)
{
  desc = FindParam(shared.descs, name);
  param = desc ? probe.Find(desc->name) : nullptr;
  if (!param)
  {
    const std::string known = "; parameters: " + ParamNames(shared.descs) + " (see --params)";
    std::vector<std::string> names;
    for (const ParamDesc& d : shared.descs) names.push_back(d.name);
    const std::string near = NearestName(name, names);
    error = !NotATavloControl(name).empty() ? NotATavloControl(name)
            : near.empty()                  ? "unknown parameter '" + name + "'" + known
                                            : "unknown parameter '" + name + "'; did you mean " + near + "? (see --params)";
  }
  return param != nullptr;
}

bool ResolveSets(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared, std::string& error)
{
  for (const ParamSetting& s : opts.sets)
  {
    const ParamDesc* desc = nullptr;
    const HostParam* param = nullptr;
    if (!LookUp(shared, probe, s.name, desc, param, error)) return false;
    double plain = 0.0;
    if (!ParseParamValue(*desc, s.text, plain, error)) return false;
    shared.setup.first.push_back({param->id, plain});
    // A fraction given to a percentage is a common slip.
    if (DisplayUnit(*desc) == "%" && s.text.find('%') == std::string::npos && plain > 0.0 && plain <= 1.0)
      Warn(desc->name + "=" + s.text + " means " + Fmt("%g", plain) + " %; write " + desc->name + "=" +
           std::to_string((int)std::lround(plain * 100)) + "% for " + std::to_string((int)std::lround(plain * 100)) +
           " percent");
  }
  return true;
}

bool ResolveAutomations(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared,
                        std::string& error)
{
  shared.automations.reserve(opts.automations.size());
  for (const ParamAutomation& a : opts.automations)
  {
    const ParamDesc* desc = nullptr;
    const HostParam* param = nullptr;
    if (!LookUp(shared, probe, a.name, desc, param, error)) return false;
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
  return true;
}

// The Sidechain switch against --sidechain: set to external for a file
// unless given, and a warning where the two disagree.
void ResolveSidechain(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared)
{
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
}

}  // namespace

// Reads --set and --automate values in their units; false with the
// message of a wrong command line.
bool ResolveSettings(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared, std::string& error)
{
  if (!ResolvePreset(opts, probe, shared, error)) return false;
  ResolveLv2Preset(opts, probe, shared);
  if (!ResolveSets(opts, probe, shared, error) || !ResolveAutomations(opts, probe, shared, error)) return false;
  ResolveSidechain(opts, probe, shared);
  return true;
}
