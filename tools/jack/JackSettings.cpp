#include "JackSettings.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "Lv2PresetFile.h"
#include "TavloJackEngine.h"
#include "fx/IParam.h"
#include "lv2/IFxLV2.h"
#include "lv2/IFxLV2Ports.h"
#include "tavlo/TavloParams.h"

namespace {

bool HasExtension(const std::string& path, const char* ext)
{
  const size_t n = strlen(ext);
  return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
}

// The VST 3 class ID of Tavlo as a .vstpreset header spells it.
const char kTavloClassIdText[] = "F2AEE70D00DE4F4E5175696C54617631";

int64_t ReadLE64(const uint8_t* p)
{
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return (int64_t)v;
}

bool ApplyLv2Preset(TavloJackEngine& engine, const std::string& path, std::string& error)
{
  std::vector<Lv2Preset> presets;
  if (!ReadLv2Presets(path, presets, error)) return false;
  if (presets.empty())
  {
    error = path + " describes no preset";
    return false;
  }
  const std::string tavlo = GetLV2ClassDef().uri;
  if (presets[0].plugin != tavlo)
  {
    const std::string& of = presets[0].plugin;
    error = path + " is a preset of another plug-in (" + (of.empty() ? "it names none" : of) + "), not of Tavlo (" +
            tavlo + ")";
    return false;
  }
  IFxBase& plug = engine.Plug();
  IFxBase::ParamBatch batch(plug);
  for (const auto& port : presets[0].ports)
  {
    if (port.first == "enabled") continue;  // an LV2 host's own bypass
    for (int i = 0; i < plug.ParamCount(); ++i)
      if (IFxLV2Ports::SymbolFrom(plug.ParamAt(i)->GetNameForHost()) == port.first)
        plug.ApplyParamValue(i, (double)(float)port.second, false);
  }
  return true;
}

bool ApplyPreset(TavloJackEngine& engine, const std::string& preset, std::string& error, bool& usage)
{
  if (HasExtension(preset, ".ttl")) return ApplyLv2Preset(engine, preset, error);
  if (HasExtension(preset, ".vstpreset"))
  {
    std::vector<uint8_t> file, state;
    if (!ReadFileBytes(preset, file, error)) return false;
    if (!ReadVstPresetState(file, state, error) || !engine.LoadState(state, error))
    {
      error = preset + ": " + error;
      return false;
    }
    return true;
  }
  const std::vector<PresetDesc> presets = InstancePresets(engine.Plug());
  const PresetDesc* found = FindPreset(presets, preset);
  if (!found)
  {
    std::vector<std::string> slugs;
    for (const PresetDesc& p : presets) slugs.push_back(PresetSlug(p.name));
    const std::string near = cli::NearestName(preset, slugs);
    error = "unknown preset '" + preset + "'" + (near.empty() ? " (see --help)" : "; did you mean " + near + "?");
    usage = true;
    return false;
  }
  return engine.ChoosePreset((int)(found - presets.data()));
}

}  // namespace

std::vector<ParamDesc> InstanceParams(IFxBase& plug)
{
  std::vector<ParamDesc> descs;
  for (int i = 0; i < plug.ParamCount(); ++i)
  {
    const IParam* p = plug.ParamAt(i);
    ParamDesc d;
    d.name = p->GetNameForHost();
    d.min = p->GetMin();
    d.max = p->GetMax();
    d.def = p->GetDefaultValue();
    d.stepCount = p->GetStepCount();
    d.unit = p->GetUnit();
    descs.push_back(d);
  }
  return descs;
}

std::vector<PresetDesc> InstancePresets(IFxBase& plug)
{
  std::vector<PresetDesc> presets;
  for (int i = 0; i < plug.PresetCount(); ++i)
  {
    PresetDesc d{plug.GetPresetName(i), ""};
    for (const TavloPreset& t : kTavloPresets)
      if (d.name == t.name) d.description = t.description;
    presets.push_back(d);
  }
  return presets;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
  std::ifstream in(path, std::ios::binary);
  if (!in)
  {
    error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad())
  {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
  const std::string tmp = path + ".tmp" + std::to_string(getpid());
  FILE* f = fopen(tmp.c_str(), "wb");
  bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = f && fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
  if (f && fclose(f) != 0) ok = false;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0)
  {
    error = "cannot write " + path + ": " + strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool ReadVstPresetState(const std::vector<uint8_t>& file, std::vector<uint8_t>& state, std::string& error)
{
  // "VST3", a version, the class ID in 32 characters, the offset of the
  // chunk list; the list is "List", a count, and per chunk its ID, offset
  // and size.
  const size_t header = 4 + 4 + 32 + 8;
  if (file.size() < header || memcmp(file.data(), "VST3", 4) != 0)
  {
    error = "not a VST 3 preset file";
    return false;
  }
  if (memcmp(file.data() + 8, kTavloClassIdText, 32) != 0)
  {
    error = "a preset of another plug-in";
    return false;
  }
  const int64_t list = ReadLE64(file.data() + 40);
  if (list < (int64_t)header || list + 8 > (int64_t)file.size() || memcmp(file.data() + list, "List", 4) != 0)
  {
    error = "the preset file's chunk list is damaged";
    return false;
  }
  uint32_t count = 0;
  memcpy(&count, file.data() + list + 4, 4);
  for (uint64_t i = 0; i < count; ++i)
  {
    const uint64_t at = (uint64_t)list + 8 + i * 20;
    if (at + 20 > file.size()) break;
    const int64_t offset = ReadLE64(file.data() + at + 4), size = ReadLE64(file.data() + at + 12);
    if (memcmp(file.data() + at, "Comp", 4) != 0) continue;
    if (offset < 0 || size < 0 || offset > (int64_t)file.size() || size > (int64_t)file.size() - offset) break;
    state.assign(file.begin() + offset, file.begin() + offset + size);
    return true;
  }
  error = "the preset file holds no plug-in state";
  return false;
}

bool ApplyStartSettings(TavloJackEngine& engine, const StartSettings& settings, std::string& error, bool* usage)
{
  bool wrongLine = false;
  if (usage) *usage = false;
  if (!settings.loadState.empty())
  {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(settings.loadState, bytes, error)) return false;
    if (!engine.LoadState(bytes, error))
    {
      error = settings.loadState + ": " + error;
      return false;
    }
  }
  if (!settings.preset.empty() && !ApplyPreset(engine, settings.preset, error, wrongLine))
  {
    if (usage) *usage = wrongLine;
    return false;
  }
  IFxBase& plug = engine.Plug();
  const std::vector<ParamDesc> descs = InstanceParams(plug);
  for (const auto& s : settings.sets)
  {
    const ParamDesc* desc = FindParam(descs, s.first);
    if (!desc)
    {
      std::vector<std::string> names;
      for (const ParamDesc& d : descs) names.push_back(d.name);
      const std::string near = cli::NearestName(s.first, names);
      error = "unknown parameter '" + s.first + "'" +
              (near.empty() ? "; parameters: " + ParamNames(descs) : "; did you mean " + near + "?");
      if (usage) *usage = true;
      return false;
    }
    double plain = 0.0;
    if (!ParseParamValue(*desc, s.second, plain, error))
    {
      if (usage) *usage = true;
      return false;
    }
    IFxBase::ParamBatch batch(plug);
    plug.ApplyParamValue((int)(desc - descs.data()), plain, false);
  }
  plug.RedrawParamControls();
  return true;
}

bool ReadSettingsFile(const std::string& path, IFxBase& plug, std::vector<int>& ccMap, std::string& error)
{
  std::ifstream in(path);
  if (!in)
  {
    error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  const std::vector<ParamDesc> descs = InstanceParams(plug);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number)
  {
    const std::string text = TrimBlanks(line.substr(0, line.find('#')));
    if (text.empty()) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::string key, value;
    long cc = -1;
    if (!cli::SplitNameValue(text, key, value) || strncasecmp(key.c_str(), "cc ", 3) != 0 ||
        !cli::ParseInt(TrimBlanks(key.substr(3)), 0, 127, cc))
    {
      error = where + "expected 'cc NUMBER = PARAMETER' (NUMBER 0 to 127), got '" + text + "'";
      return false;
    }
    if (strcasecmp(value.c_str(), "none") == 0)
    {
      ccMap[(size_t)cc] = TavloJackEngine::kNoParam;
      continue;
    }
    const ParamDesc* desc = FindParam(descs, value);
    if (!desc)
    {
      error = where + "unknown parameter '" + value + "'; parameters: " + ParamNames(descs);
      return false;
    }
    ccMap[(size_t)cc] = (int)(desc - descs.data());
  }
  return true;
}

std::string CcMapText(const std::vector<int>& ccMap, const std::vector<ParamDesc>& params)
{
  std::string s;
  for (size_t cc = 0; cc < ccMap.size(); ++cc)
    if (ccMap[cc] >= 0 && ccMap[cc] < (int)params.size())
      s += (s.empty() ? "" : ", ") + ("CC " + std::to_string(cc)) + " " + params[(size_t)ccMap[cc]].name;
  return s;
}
