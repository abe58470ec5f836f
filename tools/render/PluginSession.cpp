#include "PluginSession.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "LinkedTavlo.h"
#include "fx/IFxStateTail.h"
#include "fx/IParam.h"
#include "host/ClapHost.h"
#include "tavlo/TavloParams.h"
#include "vst3/IFxVST3Meters.h"

using namespace Steinberg;

PluginSession::PluginSession() {}

PluginModule PluginModule::Open(const std::string& path)
{
  PluginModule m;
  const std::string ext = ".clap";
  if (path.size() > ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
    m.clap = std::make_shared<claphost::Module>(path);
  else
    m.vst3 = std::make_shared<vst3host::Module>(path);
  return m;
}

bool PluginModule::IsLoaded() const { return clap ? clap->IsLoaded() : vst3 && vst3->IsLoaded(); }

std::string PluginModule::Error() const { return clap ? clap->Error() : vst3 ? vst3->Error() : "nothing loaded"; }

PluginSession::~PluginSession()
{
  Stop();
  Release();
}

void PluginSession::Release()
{
  mClap.reset();
  if (mInitialised)
  {
    if (mController) mController->setComponentHandler(nullptr);
    mComponent->terminate();
    mInitialised = false;
  }
  if (mController) mController->release();
  if (mProcessor) mProcessor->release();
  if (mComponent) mComponent->release();
  mController = nullptr;
  mProcessor = nullptr;
  mComponent = nullptr;
}

const std::string& PluginSession::SoPath() const
{
  static const std::string kNone;
  if (mClapModule) return mClapModule->Path();
  return mModule ? mModule->SoPath() : kNone;
}

bool PluginSession::ClassId(TUID cid) const
{
  if (!mHasCid) return false;
  memcpy(cid, mCid, sizeof(TUID));
  return true;
}

bool PluginSession::Load(const PluginModule& module, std::string& error)
{
  return module.clap ? LoadClap(module.clap, error) : LoadVst3(module.vst3, error);
}

bool PluginSession::LoadVst3(std::shared_ptr<vst3host::Module> module, std::string& error)
{
  mModule = std::move(module);
  if (!mModule->FirstAudioClass(mCid))
  {
    error = "it offers no audio effect class";
    return false;
  }
  mHasCid = true;
  FUnknown* obj = nullptr;
  if (mModule->Factory()->createInstance(mCid, FUnknown::iid, (void**)&obj) != kResultOk || !obj)
  {
    error = "it refused to create an instance";
    return false;
  }
  return Adopt(obj, error);
}

bool PluginSession::Adopt(FUnknown* instance, std::string& error)
{
  instance->queryInterface(Vst::IComponent::iid, (void**)&mComponent);
  instance->queryInterface(Vst::IAudioProcessor::iid, (void**)&mProcessor);
  instance->queryInterface(Vst::IEditController::iid, (void**)&mController);
  instance->release();
  if (!mComponent || !mProcessor)
  {
    error = "the instance is not an audio processor";
    return false;
  }
  if (!mController)
  {
    // Tavlo is a single component; a separate controller is not hosted here.
    error = "the instance has no edit controller of its own";
    return false;
  }
  return Initialise(error);
}

bool PluginSession::Initialise(std::string& error)
{
  if (mComponent->initialize(&mApp) != kResultOk)
  {
    error = "initialize failed";
    return false;
  }
  mInitialised = true;
  mController->setComponentHandler(&mHandler);
  mInputBuses = mComponent->getBusCount(Vst::kAudio, Vst::kInput);
  if (mInputBuses < 1 || mComponent->getBusCount(Vst::kAudio, Vst::kOutput) < 1)
  {
    error = "the plug-in has no audio input or output bus";
    return false;
  }

  mParams.clear();
  Steinberg::TUID cid;
  const bool tavlo = ClassId(cid) && IsLinkedTavlo(cid);
  const int32 n = mController->getParameterCount();
  for (int32 i = 0; i < n; ++i)
  {
    Vst::ParameterInfo info;
    if (mController->getParameterInfo(i, info) != kResultOk) continue;
    HostParam p;
    p.id = info.id;
    p.title = vst3host::ToAscii(info.title);
    p.stepCount = info.stepCount;
    p.flags = info.flags;
    if (tavlo && info.id < (Vst::ParamID)kNumParams)
    {
      auto own = std::make_shared<IParam>();
      DeclareTavloParam(own.get(), (int)info.id);
      p.own = own;
      p.min = own->GetNonNormalized(0.0);
      p.max = own->GetNonNormalized(1.0);
      p.def = own->GetNonNormalized(info.defaultNormalizedValue);
    }
    else
    {
      p.min = mController->normalizedParamToPlain(info.id, 0.0);
      p.max = mController->normalizedParamToPlain(info.id, 1.0);
      p.def = mController->normalizedParamToPlain(info.id, info.defaultNormalizedValue);
    }
    mParams.push_back(p);
  }

  // The programs of the list the root unit names, as a host's preset menu.
  mPrograms.clear();
  Vst::IUnitInfo* units = nullptr;
  Vst::UnitInfo root;
  if (mController->queryInterface(Vst::IUnitInfo::iid, (void**)&units) == kResultOk && units)
  {
    if (units->getUnitInfo(0, root) == kResultOk && root.programListId != Vst::kNoProgramListId)
      for (int32 i = 0, lists = units->getProgramListCount(); i < lists; ++i)
      {
        Vst::ProgramListInfo list;
        if (units->getProgramListInfo(i, list) != kResultOk || list.id != root.programListId) continue;
        for (int32 k = 0; k < list.programCount; ++k)
        {
          Vst::String128 name = {};
          units->getProgramName(list.id, k, name);
          mPrograms.push_back(vst3host::ToAscii(name));
        }
      }
    units->release();
  }
  return true;
}

const HostParam* PluginSession::ProgramParam() const
{
  for (const HostParam& p : mParams)
    if (p.flags & Vst::ParameterInfo::kIsProgramChange) return &p;
  return nullptr;
}

const HostParam* PluginSession::HostBypass() const
{
  for (const HostParam& p : mParams)
    if (p.flags & Vst::ParameterInfo::kIsBypass) return &p;
  return nullptr;
}

const HostParam* PluginSession::Find(const std::string& name) const
{
  const HostParam* found = nullptr;
  for (const HostParam& p : mParams)
  {
    if (strcasecmp(p.title.c_str(), name.c_str()) != 0) continue;
    if (!found || ((found->flags & Vst::ParameterInfo::kIsBypass) && !(p.flags & Vst::ParameterInfo::kIsBypass)))
      found = &p;
  }
  return found;
}

const HostParam* PluginSession::FindId(Vst::ParamID id) const
{
  for (const HostParam& p : mParams)
    if (p.id == id) return &p;
  return nullptr;
}

bool PluginSession::IsHostOnly(const HostParam& p)
{
  return (p.flags & (Vst::ParameterInfo::kIsBypass | Vst::ParameterInfo::kIsProgramChange)) != 0;
}

double PluginSession::ToNormalized(const HostParam& p, double plain) const
{
  double n = p.own ? p.own->GetNormalized(plain)
             : mClap ? (p.max > p.min ? (plain - p.min) / (p.max - p.min) : 0.0)
                     : mController->plainParamToNormalized(p.id, plain);
  if (p.stepCount > 0) n = std::round(n * p.stepCount) / p.stepCount;
  return std::min(1.0, std::max(0.0, n));
}

double PluginSession::PlainValue(const HostParam& p) const
{
  if (mClap) return ClapPlain(p, 0.0);
  const double n = mController->getParamNormalized(p.id);
  return p.own ? p.own->GetNonNormalized(n) : mController->normalizedParamToPlain(p.id, n);
}

bool PluginSession::Start(double rate, int maxBlock, int precision, bool sidechain, std::string& error)
{
  if (mClap) return StartClap(rate, maxBlock, precision, sidechain, error);
  const int32 size = precision == 64 ? Vst::kSample64 : Vst::kSample32;
  if (mProcessor->canProcessSampleSize(size) != kResultOk)
  {
    error = "the plug-in does not process " + std::to_string(precision) + "-bit samples";
    return false;
  }
  // Stereo in, stereo out, and a stereo side-chain when the plug-in has one.
  Vst::SpeakerArrangement ins[2] = {Vst::SpeakerArr::kStereo, Vst::SpeakerArr::kStereo};
  Vst::SpeakerArrangement outs[1] = {Vst::SpeakerArr::kStereo};
  mProcessor->setBusArrangements(ins, mInputBuses >= 2 ? 2 : 1, outs, 1);
  mComponent->activateBus(Vst::kAudio, Vst::kInput, 0, true);
  mComponent->activateBus(Vst::kAudio, Vst::kOutput, 0, true);
  if (mInputBuses >= 2) mComponent->activateBus(Vst::kAudio, Vst::kInput, 1, sidechain);

  Vst::ProcessSetup setup{Vst::kOffline, size, maxBlock, rate};
  if (mProcessor->setupProcessing(setup) != kResultOk)
  {
    error = "the plug-in refused to process at " + std::to_string((long)rate) + " Hz with " +
            std::to_string(precision) + "-bit samples";
    return false;
  }
  if (mComponent->setActive(true) != kResultOk)
  {
    error = "the plug-in refused to become active";
    return false;
  }
  mActive = true;
  mProcessor->setProcessing(true);
  return true;
}

void PluginSession::Stop()
{
  if (!mActive) return;
  mActive = false;
  if (mClap)
  {
    mClap->StopProcessing();
    mClap->Deactivate();
    return;
  }
  mProcessor->setProcessing(false);
  mComponent->setActive(false);
}

bool PluginSession::SetState(const std::vector<uint8_t>& bytes, std::string& error)
{
  // The plug-in reads as many bytes as its own state has, whatever the
  // stream holds; a file of another size is someone else's state. A state
  // is its values, then perhaps a tail: one from a release before the tail
  // has the values alone, one from a later release may have a longer tail.
  std::vector<uint8_t> own;
  if (!GetState(own, error)) return false;
  const int64_t ownTail = IFxStateTail::Find(own.data(), (int64_t)own.size());
  const size_t values = ownTail >= 0 ? (size_t)ownTail : own.size();
  const bool whole = bytes.size() == own.size() || bytes.size() == values ||
                     (bytes.size() > values && IFxStateTail::Find(bytes.data(), (int64_t)bytes.size()) == (int64_t)values);
  if (!whole)
  {
    error = "the state holds " + std::to_string(bytes.size()) + " bytes; this plug-in's state has " +
            std::to_string(values) + (values != own.size() ? " (" + std::to_string(own.size()) + " as it saves it now)" : "");
    return false;
  }
  if (mClap)
  {
    if (mClap->LoadState(bytes)) return true;
    error = "the plug-in rejected the state";
    return false;
  }
  // A single component keeps its state on the controller side.
  vst3host::MemoryStream controllerStream(bytes);
  if (mController->setState(&controllerStream) != kResultOk)
  {
    error = "the plug-in rejected the state";
    return false;
  }
  return true;
}

bool PluginSession::GetState(std::vector<uint8_t>& bytes, std::string& error)
{
  if (mClap)
  {
    if (mClap->SaveState(bytes) && !bytes.empty()) return true;
    error = "the plug-in gave no state";
    return false;
  }
  vst3host::MemoryStream stream;
  if (mController->getState(&stream) != kResultOk || stream.Data().empty())
  {
    error = "the plug-in gave no state";
    return false;
  }
  bytes = stream.Data();
  return true;
}

bool PluginSession::MeterValues(std::vector<double>& values) const
{
  if (mClap)
  {
    values.assign(mClapMeters.size(), 0.0);
    for (size_t m = 0; m < values.size(); ++m)
      if (!mClap->GetValue(mClapMeters[m], values[m])) return false;
    return !values.empty();
  }
  IFxVST3Meters* meters = nullptr;
  if (!mComponent || mComponent->queryInterface(IFxVST3Meters::iid, (void**)&meters) != kResultOk || !meters)
    return false;
  values.assign((size_t)std::max(0, (int)meters->getMeterCount()), 0.0);
  bool ok = true;
  for (size_t m = 0; m < values.size() && ok; ++m) ok = meters->getMeterValue((int32)m, &values[m]) == kResultOk;
  meters->release();
  return ok;
}
