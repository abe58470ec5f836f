#include "LinkedTavlo.h"

#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "tavlo/Tavlo.h"

namespace {

constexpr unsigned char kTavloClassId[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                             0x51, 0x75, 0x69, 0x6C, 0x54, 0x61, 0x76, 0x31};

}  // namespace

const char kTavloLv2Uri[] = "https://quillmarshworks.example/plugins/tavlo";

bool IsLinkedTavlo(const Steinberg::TUID classId)
{
  return memcmp(classId, kTavloClassId, sizeof(kTavloClassId)) == 0;
}

void LinkedTavloClassId(Steinberg::TUID classId) { memcpy(classId, kTavloClassId, sizeof(kTavloClassId)); }

std::vector<ParamDesc> LinkedTavloParams()
{
  // The parameter records are static data: each parameter declared from its
  // record as every instance declares it, with no instance made.
  std::vector<ParamDesc> descs;
  for (int i = 0; i < kNumParams; ++i)
  {
    IParam p;
    DeclareTavloParam(&p, i);
    ParamDesc s;
    s.name = p.GetNameForHost();
    s.min = p.GetMin();
    s.max = p.GetMax();
    s.def = p.GetDefaultValue();
    s.stepCount = p.GetStepCount();
    s.unit = p.GetUnit();
    descs.push_back(s);
  }
  return descs;
}

std::vector<PresetDesc> LinkedTavloPresets()
{
  std::vector<PresetDesc> presets;
  for (const TavloPreset& p : kTavloPresets) presets.push_back({p.name, p.description});
  return presets;
}

std::vector<ParamDesc> SessionParams(const PluginSession& session)
{
  Steinberg::TUID cid;
  const bool tavlo = session.ClassId(cid) && IsLinkedTavlo(cid);
  std::vector<ParamDesc> descs;
  for (const HostParam& p : session.Params())
  {
    if (PluginSession::IsHostOnly(p)) continue;
    ParamDesc s;
    s.name = p.title;
    s.min = p.min;
    s.max = p.max;
    s.def = p.def;
    s.stepCount = p.stepCount;
    s.unit = tavlo && p.id < (Steinberg::Vst::ParamID)kNumParams ? &kTavloParams[p.id].unit : nullptr;
    descs.push_back(s);
  }
  return descs;
}

std::string TavloVersionText()
{
  char buf[32];
  snprintf(buf, sizeof(buf), "%d.%d.%d", kTavloVersion >> 16, (kTavloVersion >> 8) & 0xFF, kTavloVersion & 0xFF);
  return buf;
}
