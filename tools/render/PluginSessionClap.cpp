// A CLAP file behind the render loop's VST 3 terms: its parameters as host
// parameters (the read-only ones are meters), normalised values as plain
// ones in events at their frames, the main and side-chain ports, state
// through streams. A CLAP Tavlo (CLAP 1.1 has no program list) gets its
// factory presets as the program list a VST 3 host shows.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "LinkedTavlo.h"
#include "PluginSession.h"
#include "clap/IFxCLAPClassDef.h"
#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "host/ClapHost.h"
#include "tavlo/TavloParams.h"

using namespace Steinberg;

namespace
{

// The program list's parameter, a host's own (no CLAP parameter has it).
constexpr Vst::ParamID kClapProgramId = 0x7FFF0000;

// A CLAP host's plain value is in the unit people read it in (ms for a time
// Tavlo keeps in seconds), as a VST 3 host's is.
double HostScale(const HostParam& p)
{
  const IParamUnit* unit = p.own ? p.own->GetUnit() : nullptr;
  return unit && !unit->IsNamed() && unit->scale > 0.0 ? unit->scale : 1.0;
}

}  // namespace

bool PluginSession::LoadClap(std::shared_ptr<claphost::Module> module, std::string& error)
{
  mClapModule = std::move(module);
  mClap.reset(new claphost::Instance(*mClapModule));
  if (!*mClap)
  {
    error = mClap->Error().empty() ? "it refused to create an instance" : mClap->Error();
    mClap.reset();
    return false;
  }
  const clap_plugin_descriptor_t* desc = mClap->Plugin()->desc;
  const bool tavlo = desc && desc->id && strcmp(desc->id, GetCLAPClassDef().id) == 0;
  if (tavlo)
  {
    // The same plug-in as the VST 3 bundle's class: its presets and states
    // are this one's.
    LinkedTavloClassId(mCid);
    mHasCid = true;
  }
  mInputBuses = (int)mClap->Ports(true).size();
  if (mInputBuses < 1 || mClap->Ports(false).empty())
  {
    error = "the plug-in has no audio input or output port";
    return false;
  }
  mParams.clear();
  for (const clap_param_info_t& info : mClap->ParamInfos())
  {
    if (info.flags & CLAP_PARAM_IS_READONLY)
    {
      mClapMeters.push_back(info.id);
      continue;
    }
    HostParam p;
    p.id = info.id;
    p.title = info.name;
    p.flags = (info.flags & CLAP_PARAM_IS_AUTOMATABLE) ? Vst::ParameterInfo::kCanAutomate : 0;
    p.stepCount = (info.flags & CLAP_PARAM_IS_STEPPED) ? (int32_t)std::lround(info.max_value - info.min_value) : 0;
    if (tavlo && info.id < (clap_id)kNumParams)
    {
      auto own = std::make_shared<IParam>();
      DeclareTavloParam(own.get(), (int)info.id);
      p.own = own;
      p.min = own->GetMin();
      p.max = own->GetMax();
      p.def = own->GetDefaultValue();
    }
    else
    {
      p.min = info.min_value;
      p.max = info.max_value;
      p.def = info.default_value;
    }
    mParams.push_back(p);
  }
  if (tavlo)
  {
    mPrograms.clear();
    for (const TavloPreset& preset : kTavloPresets) mPrograms.push_back(preset.name);
    HostParam program;
    program.id = kClapProgramId;
    program.title = "Program";
    program.flags = Vst::ParameterInfo::kIsProgramChange | Vst::ParameterInfo::kIsList;
    program.stepCount = kTavloNumPresets - 1;
    program.max = kTavloNumPresets - 1;
    mParams.push_back(program);
  }
  return true;
}

bool PluginSession::StartClap(double rate, int maxBlock, int precision, bool sidechain, std::string& error)
{
  if (precision == 64 && !mClap->Supports64())
  {
    error = "the plug-in does not process 64-bit samples";
    return false;
  }
  if (!mClap->Activate(rate, 1, (uint32_t)maxBlock))
  {
    error = "the plug-in refused to process at " + std::to_string((long)rate) + " Hz";
    return false;
  }
  mActive = true;
  mClapSidechain = sidechain && mInputBuses >= 2;
  if (!mClap->StartProcessing())
  {
    error = "the plug-in refused to start processing";
    return false;
  }
  return true;
}

double PluginSession::ClapValue(const HostParam& p, double normalized) const
{
  if (p.own) return p.own->GetNonNormalized(normalized) * HostScale(p);
  const double v = p.min + normalized * (p.max - p.min);
  return p.stepCount > 0 ? std::round(v) : v;
}

double PluginSession::ClapPlain(const HostParam& p, double) const
{
  if (p.id == kClapProgramId) return std::max(0, mClapProgram);
  double value = 0.0;
  if (!mClap->GetValue(p.id, value)) return p.def;
  return p.own ? value / HostScale(p) : value;
}

tresult PluginSession::ProcessClap(Vst::ProcessData& data)
{
  // The block's values as events at their frames, in time order; a
  // program change as the values of the preset it chooses.
  std::vector<claphost::Event> events;
  Vst::IParameterChanges* changes = data.inputParameterChanges;
  for (int32 q = 0, nq = changes ? changes->getParameterCount() : 0; q < nq; ++q)
  {
    Vst::IParamValueQueue* queue = changes->getParameterData(q);
    const HostParam* p = queue ? FindId(queue->getParameterId()) : nullptr;
    if (!p) continue;
    for (int32 k = 0, nk = queue->getPointCount(); k < nk; ++k)
    {
      int32 offset = 0;
      Vst::ParamValue value = 0.0;
      if (queue->getPoint(k, offset, value) != kResultOk) continue;
      const uint32_t at = (uint32_t)std::max(0, std::min(offset, data.numSamples - 1));
      if (p->id != kClapProgramId)
      {
        events.push_back(claphost::Event::Value(at, p->id, ClapValue(*p, value)));
        continue;
      }
      mClapProgram = (int)std::lround(value * (kTavloNumPresets - 1));
      double values[kNumParams];
      TavloPresetValues(mClapProgram, values);
      for (const HostParam& param : mParams)
        if (param.own) events.push_back(claphost::Event::Value(at, param.id, values[param.id] * HostScale(param)));
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const claphost::Event& a, const claphost::Event& b) { return a.time < b.time; });

  const uint32_t frames = (uint32_t)data.numSamples;
  const bool side = mClapSidechain && data.numInputs >= 2;
  if (data.symbolicSampleSize == Vst::kSample64)
  {
    std::vector<double* const*> ins = {data.inputs[0].channelBuffers64};
    if (side) ins.push_back(data.inputs[1].channelBuffers64);
    const clap_process_status s = mClap->ProcessPorts64(ins, {data.outputs[0].channelBuffers64}, frames, events);
    return s == CLAP_PROCESS_ERROR ? kResultFalse : kResultOk;
  }
  std::vector<float* const*> ins = {data.inputs[0].channelBuffers32};
  if (side) ins.push_back(data.inputs[1].channelBuffers32);
  const clap_process_status s = mClap->ProcessPorts32(ins, {data.outputs[0].channelBuffers32}, frames, events);
  return s == CLAP_PROCESS_ERROR ? kResultFalse : kResultOk;
}
