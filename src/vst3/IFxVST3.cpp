#include "vst3/IFxVST3.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "fx/Log.h"
#include "graphics/IGraphics.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "vst3/IFxParameter.h"
#include "vst3/IFxVST3Shared.h"
#include "vst3/IFxVST3View.h"

// The component: construction, the plug-in's host, initialisation, buses,
// activation and set-up, and the run-time type. Processing, state and the
// controller's parameters are in IFxVST3Process.cpp, IFxVST3State.cpp and
// IFxVST3Controller.cpp.

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace vst3shared;

namespace {

// Largest block the scratch buffers are sized for (8 MB per channel).
constexpr int32 kMaxScratchFrames = 1 << 20;

}  // namespace

IFxVST3::IFxVST3(IFxBase* pPlug, EditorMaker makeEditor)
  : mPlug(pPlug), mRunner(*pPlug), mSidechainChannels(pPlug->SidechainChannelCount()), mMakeEditor(makeEditor)
{
  memset(&mHostContext, 0, sizeof(mHostContext));
  mPlug->AttachHost(this);
  const int nIn = mPlug->InputChannelCount(), nOut = mPlug->OutputChannelCount();

  mPlug->SetInputBusLabel(0, "Main Input");
  if (mSidechainChannels)
    mPlug->SetInputBusLabel(1, "Aux Input");

  if (mPlug->IsInst())
  {
    char label[32];
    for (int i = 0; i < nOut; i += 2)
    {
      snprintf(label, sizeof(label), "Output %i", i / 2 + 1);
      mPlug->SetOutputBusLabel(i / 2, label);
    }
  }
  else
    mPlug->SetOutputBusLabel(0, "Output");

  mIn32.assign(nIn, nullptr);
  mOut32.assign(nOut, nullptr);
  mIn64.assign(nIn, nullptr);
  mOut64.assign(nOut, nullptr);
  // One queue per parameter, the host bypass and the preset.
  mPoints.Reserve(mPlug->ParamCount() + 2);
}

IFxVST3::~IFxVST3()
{
  mNotices.StopAll();
  mOpenViews.clear();
  mOpenViews.shrink_to_fit();
  mUnitNames.Empty(false);
  // The plug-in goes before the SDK objects it might still call.
  mPlug->AttachHost(nullptr);
  mPlug.reset();
}

// ---------------------------------------------------------------------------
// The plug-in's host

void IFxVST3::BeginInformHostOfParamChange(int idx)
{
  Trace("BeginInformHostOfParamChange", __LINE__, "%d", idx);
  beginEdit((ParamID)idx);
}

void IFxVST3::InformHostOfParamChange(int idx, double normalizedValue)
{
  Trace("InformHostOfParamChange", __LINE__, "%d:%f", idx, normalizedValue);
  performEdit((ParamID)idx, normalizedValue);
}

void IFxVST3::EndInformHostOfParamChange(int idx)
{
  Trace("EndInformHostOfParamChange", __LINE__, "%d", idx);
  endEdit((ParamID)idx);
}

namespace {

// The host's second handler, where it has one: grouped edits and the
// project's dirty flag.
template <typename Call>
void WithHandler2(FUnknown* componentHandler, Call call)
{
  IComponentHandler2* handler2 = nullptr;
  if (!componentHandler || componentHandler->queryInterface(IComponentHandler2::iid, (void**)&handler2) != kResultOk ||
      !handler2)
    return;
  call(handler2);
  handler2->release();
}

}  // namespace

void IFxVST3::BeginParamGroup()
{
  WithHandler2(componentHandler, [](IComponentHandler2* h) { h->startGroupEdit(); });
}

void IFxVST3::EndParamGroup()
{
  WithHandler2(componentHandler, [](IComponentHandler2* h) { h->finishGroupEdit(); });
}

void IFxVST3::MarkStateChanged()
{
  WithHandler2(componentHandler, [](IComponentHandler2* h) { h->setDirty(true); });
}

bool IFxVST3::IsRenderingOffline() { return processSetup.processMode == kOffline; }

void IFxVST3::GetTime(ITimeInfo* t)
{
  if (!t)
    return;
  t->mTempo = mHostContext.tempo;
  t->mSamplePos = (double)mHostContext.projectTimeSamples;
  t->mPPQPos = mHostContext.projectTimeMusic;
  t->mLastBar = mHostContext.barPositionMusic;
  t->mCycleStart = mHostContext.cycleStartMusic;
  t->mCycleEnd = mHostContext.cycleEndMusic;
  t->mNumerator = mHostContext.timeSigNumerator;
  t->mDenominator = mHostContext.timeSigDenominator;
  t->mTransportIsRunning = (mHostContext.state & ProcessContext::kPlaying) != 0;
  t->mTransportLoopEnabled = (mHostContext.state & ProcessContext::kCycleActive) != 0;
}

void IFxVST3::ResizeGraphics(int w, int h)
{
  if (mPlug->GetGraphics() && !mOpenViews.empty() && mOpenViews[0])
    static_cast<IFxVST3View*>(mOpenViews[0])->resize(w, h);
}

void IFxVST3::ForgetView(Steinberg::IPlugView* pView)
{
  // Only the view going away leaves the list: another editor may still be
  // open, and its context menus need it.
  mOpenViews.erase(std::remove(mOpenViews.begin(), mOpenViews.end(), pView), mOpenViews.end());
  if (mOpenViews.empty() && mMadeEditor)
  {
    mMadeEditor = false;
    mPlug->DeleteGraphics();
  }
}

// Any thread, the audio thread too (Oversample automated): told later.
void IFxVST3::InformHostOfLatencyChange() { mNotices.Post(kLatencyChanged); }

void IFxVST3::TellHost(void* self, int32 flags) { static_cast<IFxVST3*>(self)->RestartComponent(flags); }

void IFxVST3::ValuesChangedTogether()
{
  mReportValues.store(true, std::memory_order_release);
  mNotices.Post(kParamValuesChanged);
}

void IFxVST3::ReportValues(IParameterChanges* out)
{
  if (!out || !mReportValues.exchange(false, std::memory_order_acq_rel)) return;
  // The preset parameter is not among them: a host that sent it back would
  // choose the preset again over the user's edits.
  for (int i = 0, n = mPlug->ParamCount(); i < n; ++i)
  {
    int32 queueIndex = 0, pointIndex = 0;
    if (IParamValueQueue* queue = out->addParameterData((ParamID)i, queueIndex))
      queue->addPoint(0, mPlug->ParamAt(i)->GetNormalized(), pointIndex);
  }
}

void IFxVST3::RestartComponent(int32 flags)
{
  if (componentHandler)
  {
    IComponentHandler* handler = nullptr;
    if (componentHandler->queryInterface(IComponentHandler::iid, (void**)&handler) == kResultOk && handler)
    {
      handler->restartComponent(flags);
      handler->release();
    }
  }
}

bool IFxVST3::SendMidiMsg(IMidiMsg*) { return false; }

namespace {

// What a host calls when one of the plug-in's entries in its menu is chosen,
// perhaps after the menu has closed: it keeps the binding alive till then.
class ParamMenuTarget : public IContextMenuTarget, public FObject
{
public:
  ParamMenuTarget(IFxVST3* pOwner, int paramIdx) : mOwner(pOwner), mParamIdx(paramIdx) { mOwner->addRef(); }
  ~ParamMenuTarget() override { mOwner->release(); }
  tresult PLUGIN_API executeMenuItem(int32 tag) override
  {
    mOwner->OnParamMenuEntry(mParamIdx, tag);
    return kResultOk;
  }

  OBJ_METHODS(ParamMenuTarget, FObject)
  DEFINE_INTERFACES
    DEF_INTERFACE(IContextMenuTarget)
  END_DEFINE_INTERFACES(FObject)
  REFCOUNT_METHODS(FObject)

private:
  IFxVST3* mOwner;
  int mParamIdx;
};

}  // namespace

void IFxVST3::PopupHostContextMenuForParam(int idx, int x, int y) { PopupParamMenu(idx, x, y, nullptr, 0); }

bool IFxVST3::PopupParamMenu(int idx, int x, int y, const IFxMenuEntry* entries, int nEntries)
{
  if (!componentHandler || mOpenViews.empty() || !mOpenViews[0])
    return false;
  IComponentHandler3* handler3 = nullptr;
  if (componentHandler->queryInterface(IComponentHandler3::iid, (void**)&handler3) != kResultOk || !handler3)
    return false;
  ParamID tag = (ParamID)idx;
  IContextMenu* menu = handler3->createContextMenu(mOpenViews[0], &tag);
  handler3->release();
  if (!menu)
    return false;
  if (entries && nEntries > 0)
  {
    auto* target = new ParamMenuTarget(this, idx);
    IContextMenuItem item = {};
    // The host's items first, then ours, set apart.
    if (menu->getItemCount() > 0)
    {
      item.flags = IContextMenuItem::kIsSeparator;
      menu->addItem(item, nullptr);
    }
    for (int i = 0; i < nEntries; ++i)
    {
      WidenToString128(entries[i].text, item.name);
      item.tag = entries[i].id;
      item.flags = 0;
      menu->addItem(item, target);
    }
    target->release();
  }
  menu->popup(x, y);
  menu->release();
  return true;
}

void IFxVST3::OnParamMenuEntry(int paramIdx, int entryId)
{
  // The editor may have closed while the host's menu was open.
  if (IFxEditor* editor = mPlug->GetGraphics())
    editor->OnParamMenuEntry(paramIdx, entryId);
}

// ---------------------------------------------------------------------------
// Component

tresult PLUGIN_API IFxVST3::initialize(FUnknown* context)
{
  tresult result = SingleComponentEffect::initialize(context);

  if (context)
  {
    IHostApplication* app = nullptr;
    if (context->queryInterface(IHostApplication::iid, (void**)&app) == kResultOk && app)
    {
      String128 name = {};
      char name8[128];
      if (app->getName(name) == kResultOk)
      {
        name[127] = 0;  // a host that filled all 128 units gets cut, not overrun
        NarrowFromTChar(name, name8, sizeof(name8));
        mPlug->SetHost(name8, 0);
      }
      app->release();
    }
  }

  if (result == kResultOk)
  {
    String128 busName;
    const int nIn = mPlug->InputChannelCount(), nOut = mPlug->OutputChannelCount();
    SpeakerArrangement mainArr = getSpeakerArrForChans(nIn - mSidechainChannels);
    if (mainArr)
    {
      WidenToString128(mPlug->GetInputBusLabel(0), busName);
      addAudioInput(busName, mainArr, kMain, BusInfo::kDefaultActive);
    }

    if (mPlug->IsInst())
    {
      for (int i = 0; i < nOut; i += 2)
      {
        WidenToString128(mPlug->GetOutputBusLabel(i / 2), busName);
        addAudioOutput(busName, SpeakerArr::kStereo, kMain, BusInfo::kDefaultActive);
      }
    }
    else
    {
      WidenToString128(mPlug->GetOutputBusLabel(0), busName);
      addAudioOutput(busName, getSpeakerArrForChans(nOut), kMain, BusInfo::kDefaultActive);
    }

    if (mSidechainChannels)
    {
      if (mSidechainChannels > 2)
        mSidechainChannels = 2;
      WidenToString128(mPlug->GetInputBusLabel(1), busName);
      addAudioInput(busName, getSpeakerArrForChans(mSidechainChannels), kAux, 0);
    }

    if (mPlug->DoesMIDI())
    {
      WidenToString128("MIDI Input", busName);
      addEventInput(busName, 1, kMain, BusInfo::kDefaultActive);
    }

    AddHostParameters();
  }

  mPlug->OnHostIdentified();
  {
    IFxBase::ParamBatch batch(*mPlug);
    mPlug->RestorePreset(0);
  }
  // Hosts that offer a run loop before any view is open get told there.
  if (result == kResultOk) mNotices.UseContextLoop(context);
  return result;
}

tresult PLUGIN_API IFxVST3::terminate()
{
  mNotices.StopAll();
  // Whatever the host did not deactivate, the next initialize starts inactive.
  mActive = false;
  mProcessing = false;
  return SingleComponentEffect::terminate();
}

void IFxVST3::AddHostParameters()
{
  String128 title, units;
  if (mPlug->PresetCount() > 0)
  {
    // One step per program after the first, as hosts read a program list's
    // parameter: program k is k / (count - 1).
    WidenToString128("Preset", title);
    auto* preset = new StringListParameter(title, kPresetParamTag, nullptr,
                                           ParameterInfo::kIsProgramChange | ParameterInfo::kIsList, 0, nullptr);
    for (int k = 0; k < mPlug->PresetCount(); ++k)
    {
      WidenToString128(mPlug->GetPresetName(k), units);
      preset->appendString(units);
    }
    parameters.addParameter(preset);
  }
  if (!mPlug->IsInst())
  {
    // The plug-in's own switch is "Bypass" already, and hosts list both.
    WidenToString128("Host Bypass", title);
    auto* bypass = new StringListParameter(
        title, kBypassParamTag, nullptr,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass, 0, nullptr);
    WidenToString128(kHostBypassUnit.offText, units);
    bypass->appendString(units);
    WidenToString128(kHostBypassUnit.onText, units);
    bypass->appendString(units);
    parameters.addParameter(bypass);
  }

  for (int i = 0, n = mPlug->ParamCount(); i < n; ++i)
  {
    IParam* param = mPlug->ParamAt(i);
    if (!param)
      continue;
    int unit = 0;
    const char* group = param->GetParamGroupForHost();
    if (group && group[0])
    {
      for (int u = 0; u < mUnitNames.GetSize(); ++u)
        if (!strcmp(mUnitNames.Get(u), group))
          unit = u + 1;
      if (!unit)
      {
        mUnitNames.Add(group);
        unit = mUnitNames.GetSize();
      }
    }
    parameters.addParameter(new IFxParameter(param, (unsigned)i, unit));
  }
}

SpeakerArrangement IFxVST3::getSpeakerArrForChans(int32 chans)
{
  static const SpeakerArrangement kArrs[8] = {0x80000, 0x3, 0x103, 0x33, 0x37, 0x633, 0x637, 0x737};
  return chans >= 1 && chans <= 8 ? kArrs[chans - 1] : 0;
}

AudioBus* IFxVST3::getAudioInput(int32 index)
{
  if (index < 0 || index >= (int32)audioInputs.size())
    return nullptr;
  return FCast<AudioBus>(audioInputs.at(index).get());
}

AudioBus* IFxVST3::getAudioOutput(int32 index)
{
  if (index < 0 || index >= (int32)audioOutputs.size())
    return nullptr;
  return FCast<AudioBus>(audioOutputs.at(index).get());
}

tresult PLUGIN_API IFxVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                               SpeakerArrangement* outputs, int32 numOuts)
{
  // The whole request is checked before anything changes, so a refused one
  // leaves every bus as it was. Buses are never added or removed: the host
  // names one arrangement per declared bus, and only a main bus may change
  // its width, as far as the channel configurations allow.
  if (numIns != (int32)audioInputs.size() || numOuts != (int32)audioOutputs.size() ||
      numIns + numOuts == 0 || (numIns > 0 && !inputs) || (numOuts > 0 && !outputs))
    return kResultFalse;

  const int nIn = mPlug->InputChannelCount(), nOut = mPlug->OutputChannelCount();
  int reqIn = 0, reqOut = 0;
  for (int32 i = 0; i < numIns; ++i)
  {
    AudioBus* bus = getAudioInput(i);
    BusInfo info = {};
    const int req = BitCount(inputs[i]);
    if (!bus || !bus->getInfo(info) || req < 1)
      return kResultFalse;
    // The side-chain channels are the last inputs of the plug-in, so the
    // side-chain keeps its width.
    if (info.busType == kAux)
    {
      if (req != info.channelCount)
        return kResultFalse;
    }
    else
      reqIn = req;
  }
  for (int32 i = 0; i < numOuts; ++i)
  {
    AudioBus* bus = getAudioOutput(i);
    const int req = BitCount(outputs[i]);
    if (!bus || req < 1)
      return kResultFalse;
    // An instrument's outputs are fixed stereo pairs.
    if (mPlug->IsInst() && req != BitCount(bus->getArrangement()))
      return kResultFalse;
    reqOut = req;
  }
  // With a side-chain the main input keeps its width too: the side-chain
  // channels come right after it.
  if (!mPlug->IsInst() && !(mSidechainChannels ? reqIn == nIn - mSidechainChannels && mPlug->LegalIO(nIn, reqOut)
                                        : mPlug->LegalIO(reqIn, reqOut)))
    return kResultFalse;

  // process reconnects the channels on every block.
  mPlug->SetInputChannelConnections(0, nIn, false);
  mPlug->SetOutputChannelConnections(0, nOut, false);
  for (int32 i = 0; i < numIns; ++i)
    getAudioInput(i)->setArrangement(inputs[i]);
  for (int32 i = 0; i < numOuts; ++i)
    getAudioOutput(i)->setArrangement(outputs[i]);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::setActive(TBool state)
{
  // Only a change counts: a host that activates an active plug-in again
  // (some do around every set-up) must not clear its audio history.
  const bool active = state != 0;
  if (active != mActive)
  {
    mActive = active;
    IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
    mPlug->OnActivate(active);
    if (active) mPlug->TakeParamsForSetUp();
  }
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::setProcessing(TBool state)
{
  // A host that stops processing and starts again (transport, export) must
  // not hear what played before, as after a new activation.
  const bool processing = state != 0;
  if (processing && !mProcessing)
  {
    IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
    mPlug->OnActivate(true);
    mPlug->TakeParamsForSetUp();
  }
  mProcessing = processing;
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::setupProcessing(ProcessSetup& setup)
{
  if (setup.symbolicSampleSize > kSample64 || setup.symbolicSampleSize < kSample32)
    return kResultFalse;
  // A block of no frames leaves no scratch buffers to process with.
  if (setup.maxSamplesPerBlock < 1)
    return kResultFalse;
  // Every sample-rate dependent quantity divides by it.
  if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0)
    return kResultFalse;

  // Hosts are meant to set up only while inactive, but a host that does it
  // while another thread is inside process would otherwise see the scratch
  // buffers freed under it: the block in progress ends first, and blocks
  // that come meanwhile are answered with silence.
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->SetSampleRate(setup.sampleRate);
  // The bypass flag stays as the host last set it: a host that shows the
  // plug-in bypassed must not hear it processing after a rate change.
  // Scratch buffers are sized to the block; an absurd maximum would ask for
  // gigabytes per channel. Larger host blocks are processed in pieces.
  mPlug->SetBlockSize(std::min<int32>(setup.maxSamplesPerBlock, kMaxScratchFrames));
  mPlug->Reset();
  mPlug->TakeParamsForSetUp();
  processSetup = setup;
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::canProcessSampleSize(int32 symbolicSampleSize)
{
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultOk : kResultFalse;
}

uint32 PLUGIN_API IFxVST3::getLatencySamples() { return (uint32)mPlug->GetLatency(); }
uint32 PLUGIN_API IFxVST3::getTailSamples() { return mPlug->GetTailSize(); }

// Nothing built on this binding reads the host's transport yet; a plug-in
// that starts to (GetTime, GetTempo) must ask for those fields here.
uint32 PLUGIN_API IFxVST3::getProcessContextRequirements() { return 0; }

int32 PLUGIN_API IFxVST3::getMeterCount()
{
  const int n = mPlug->MeterCount();
  return n > 0 ? n : 0;
}

tresult PLUGIN_API IFxVST3::getMeterValue(int32 index, double* value)
{
  if (!value || index < 0 || index >= getMeterCount())
    return kInvalidArgument;
  *value = mPlug->GetMeterValue(index);
  return kResultOk;
}

IPlugView* PLUGIN_API IFxVST3::createView(FIDString name)
{
  if (!name || strcmp(name, "editor") != 0) return nullptr;
  // The editor, and every image it shows, exists from the first view on.
  if (!mPlug->GetGraphics() && mMakeEditor)
    if (IGraphics* pGraphics = mMakeEditor(mPlug.get()))
    {
      mPlug->AttachGraphics(pGraphics);
      mMadeEditor = true;
    }
  auto* view = new IFxVST3View(this);
  mOpenViews.push_back(view);
  return view;
}



// ---------------------------------------------------------------------------
// Run-time type and interfaces

bool IFxVST3::isTypeOf(FClassID s, bool askBaseClass) const
{
  if (!s)
    return false;
  if (!strcmp(s, "IFxVST3"))
    return true;
  if (!askBaseClass)
    return false;
  static const char* const kBases[] = {"SingleComponentEffect", "EditControllerEx1", "EditController",
                                       "ComponentBase", "FObject"};
  for (const char* b : kBases)
    if (!strcmp(s, b))
      return true;
  return false;
}

tresult PLUGIN_API IFxVST3::queryInterface(const TUID iid, void** obj)
{
  if (!obj)
    return kInvalidArgument;
  // The controller and the processor are one object: no peer to connect.
  if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid))
  {
    *obj = nullptr;
    return kNoInterface;
  }
  QUERY_INTERFACE(iid, obj, IComponent::iid, IComponent)
  QUERY_INTERFACE(iid, obj, IAudioProcessor::iid, IAudioProcessor)
  QUERY_INTERFACE(iid, obj, IProcessContextRequirements::iid, IProcessContextRequirements)
  QUERY_INTERFACE(iid, obj, IFxVST3Meters::iid, IFxVST3Meters)
  QUERY_INTERFACE(iid, obj, IUnitInfo::iid, IUnitInfo)
  QUERY_INTERFACE(iid, obj, IEditController::iid, IEditController)
  QUERY_INTERFACE(iid, obj, IEditController2::iid, IEditController2)
  QUERY_INTERFACE(iid, obj, IPluginBase::iid, IComponent)
  QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponent)
  *obj = nullptr;
  return kNoInterface;
}

uint32 PLUGIN_API IFxVST3::addRef() { return SingleComponentEffect::addRef(); }
uint32 PLUGIN_API IFxVST3::release() { return SingleComponentEffect::release(); }
