#include "vst3/IFxVST3.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "fx/IFxStateTail.h"
#include "fx/Log.h"
#include "graphics/IGraphics.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "fx/IFxBlockRunner.h"
#include "vst3/IFxParameter.h"
#include "vst3/IFxVST3View.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// The words of the host's bypass, read and shown like a switch's.
const IParamUnit kHostBypassUnit = {"", 1.0, 0, "Off", "On", "", false};

// The host's switches read as the SDK maps a normalised value onto a
// parameter of one step: min(1, floor(2 x)), so 0.5 is already on.
bool SwitchIsOn(double normalized) { return normalized >= 0.5; }

// Largest block the scratch buffers are sized for (8 MB per channel).
constexpr int32 kMaxScratchFrames = 1 << 20;

int BitCount(SpeakerArrangement arr)
{
  int n = 0;
  for (; arr; arr &= arr - 1)
    ++n;
  return n;
}

// IBStream may move fewer bytes than asked. Both loop until everything has
// moved, and fail when the stream reports an error or makes no progress.
bool ReadAll(IBStream* stream, uint8* data, int32 size)
{
  while (size > 0)
  {
    int32 got = 0;
    if (stream->read(data, size, &got) != kResultOk || got <= 0 || got > size)
      return false;
    data += got;
    size -= got;
  }
  return true;
}

bool WriteAll(IBStream* stream, const uint8* data, int32 size)
{
  while (size > 0)
  {
    int32 put = 0;
    if (stream->write((void*)data, size, &put) != kResultOk || put <= 0 || put > size)
      return false;
    data += put;
    size -= put;
  }
  return true;
}

// Reads a plain decimal number, nothing before or after it but spaces.
// Refuses infinities, NaN and anything that is not ASCII.
bool ParseNumber(const TChar* text, double& value)
{
  char buf[129];
  int n = 0;
  for (; text[n] && n < 128; ++n)
  {
    if (text[n] > 127)
      return false;
    buf[n] = (char)text[n];
  }
  const char* begin = buf;
  const char* end = buf + n;
  while (begin < end && *begin == ' ')
    ++begin;
  while (end > begin && end[-1] == ' ')
    --end;
  if (begin < end && *begin == '+')
    ++begin;
  if (begin == end || !(isdigit((unsigned char)*begin) || *begin == '-' || *begin == '.'))
    return false;
  const auto r = std::from_chars(begin, end, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

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
// Processing

void IFxVST3::ApplyParameterChanges(IParameterChanges* changes)
{
  const int32 n = changes->getParameterCount();
  for (int32 i = 0; i < n; ++i)
  {
    IParamValueQueue* queue = changes->getParameterData(i);
    if (!queue)
      continue;
    const int32 points = queue->getPointCount();
    int32 offset = 0;
    ParamValue value = 0.0;
    if (points > 0 && queue->getPoint(points - 1, offset, value) == kResultOk)
      ApplyPoint(queue->getParameterId(), value);
  }
}

void IFxVST3::ApplyPoint(ParamID tag, ParamValue value)
{
  // Normalised values live in 0..1; anything else is a broken host.
  if (std::isnan(value))
    return;
  value = std::min(1.0, std::max(0.0, value));
  if (tag == kBypassParamTag)
    SetBypassed(SwitchIsOn(value));
  else if (tag == kPresetParamTag)
  {
    const int idx = PresetIndexFromNormalized(value);
    if (mPlug->PresetCount() > 0 && !RestorePresetInBlock(idx, value))
    {
      mPendingPresetValue.store(value, std::memory_order_relaxed);
      mPendingPreset.store(idx, std::memory_order_release);
    }
  }
  else if (IsValidParamTag(tag))
    mPlug->ApplyParamValue((int)tag, value, true);
}

bool IFxVST3::RestorePresetInBlock(int idx, ParamValue value)
{
  IFxBase::AudioThreadBatch batch(*mPlug);
  if (!batch.Held()) return false;
  // A program change of the host's supersedes one still waiting.
  mPendingPreset.store(-1, std::memory_order_relaxed);
  if (mPlug->RestorePreset(idx))
  {
    mPresetValue = value;
    ValuesChangedTogether();
  }
  return true;
}

void IFxVST3::QueuedPoints::Take(IParameterChanges* changes)
{
  mQueues.clear();
  const int32 n = changes ? changes->getParameterCount() : 0;
  for (int32 i = 0; i < n; ++i)
  {
    IParamValueQueue* queue = changes->getParameterData(i);
    if (!queue)
      continue;
    const int32 count = queue->getPointCount();
    int32 offset = 0;
    ParamValue value = 0.0;
    // A queue that cannot give its last point is broken: none of it counts.
    if (count <= 0 || queue->getPoint(count - 1, offset, value) != kResultOk)
      continue;
    const ParamID tag = queue->getParameterId();
    if (mQueues.size() == mQueues.capacity())
    {
      // More queues than parameters (a host repeating one): the last point
      // from the block's start, rather than an allocation here.
      mOwner.ApplyPoint(tag, value);
      continue;
    }
    Queue q = {queue, tag, 0, count, 0, 0.0};
    ReadNext(q);
    mQueues.push_back(q);
  }
}

void IFxVST3::QueuedPoints::ReadNext(Queue& q)
{
  if (q.next < q.count && q.queue->getPoint(q.next, q.offset, q.value) == kResultOk)
    return;
  q.next = q.count;
}

int IFxVST3::QueuedPoints::ApplyDue(int frame)
{
  int due = IFxBlockRunner::kNoneDue;
  for (Queue& q : mQueues)
  {
    // Offsets before the block count from its start; a host whose offsets
    // go back has them applied in its order.
    while (q.next < q.count && q.offset <= frame)
    {
      mOwner.ApplyPoint(q.tag, q.value);
      ++q.next;
      ReadNext(q);
    }
    if (q.next < q.count)
      due = std::min(due, (int)q.offset);
  }
  return due;
}

void IFxVST3::SetBypassed(bool bypassed)
{
  mPlug->SetBypassed(bypassed);
  mBypassValue = bypassed ? 1.0 : 0.0;
}

void IFxVST3::ProcessInputEvents(IEventList* events)
{
  const int32 n = events->getEventCount();
  for (int32 i = 0; i < n; ++i)
  {
    Event e = {};
    if (events->getEvent(i, e) != kResultOk)
      continue;
    IMidiMsg msg;
    if (e.type == Event::kNoteOnEvent)
    {
      msg.MakeNoteOnMsg(e.noteOn.pitch, (int)(e.noteOn.velocity * 127), e.sampleOffset, e.noteOn.channel);
      mPlug->ProcessMidiMsg(&msg);
    }
    else if (e.type == Event::kNoteOffEvent)
    {
      msg.MakeNoteOffMsg(e.noteOff.pitch, e.sampleOffset, e.noteOff.channel);
      mPlug->ProcessMidiMsg(&msg);
    }
  }
}

template <>
float** IFxVST3::BusChannels<float>(AudioBusBuffers& bus)
{
  return bus.channelBuffers32;
}

template <>
double** IFxVST3::BusChannels<double>(AudioBusBuffers& bus)
{
  return bus.channelBuffers64;
}

template <typename T>
void IFxVST3::ChannelsOf(ProcessData& data, std::vector<T*>& in, std::vector<T*>& out)
{
  const int nIn = mPlug->InputChannelCount(), nOut = mPlug->OutputChannelCount();
  const int nInBuses = data.inputs ? std::max<int32>(0, data.numInputs) : 0;
  const int nOutBuses = data.outputs ? std::max<int32>(0, data.numOutputs) : 0;

  // Host channel c of bus b, or null when the host did not supply it. The
  // host's array is read only as far as both its count and the bus's
  // negotiated width reach: a host that claims more channels than it passes
  // must not send us past the end of its array.
  auto hostChannel = [&](AudioBusBuffers* buses, int nBuses, int b, int c, bool input) -> T* {
    if (b >= nBuses || c >= HostWidth(buses[b], input ? getAudioInput(b) : getAudioOutput(b)))
      return nullptr;
    T** chans = BusChannels<T>(buses[b]);
    return chans && chans[c] ? chans[c] : nullptr;
  };

  // Inputs: the main bus, then the side-chain channels while the host keeps
  // that bus active; silence otherwise.
  std::fill(in.begin(), in.end(), nullptr);
  if (nInBuses > 0)
  {
    const int nMain = nIn - mSidechainChannels;
    for (int c = 0; c < (mSidechainChannels ? nMain : nIn); ++c)
      in[c] = hostChannel(data.inputs, nInBuses, 0, c, true);
    AudioBus* scBus = mSidechainChannels ? getAudioInput(1) : nullptr;
    if (scBus && scBus->isActive())
      for (int c = 0; c < mSidechainChannels && nMain + c < nIn; ++c)
        in[nMain + c] = hostChannel(data.inputs, nInBuses, 1, c, true);
  }

  // Outputs: bus by bus with a running channel offset.
  std::fill(out.begin(), out.end(), nullptr);
  for (int b = 0, o = 0; b < nOutBuses && o < nOut; ++b)
  {
    AudioBus* declared = getAudioOutput(b);
    const int c = HostWidth(data.outputs[b], declared);
    const bool active = declared && declared->isActive();
    for (int k = 0; k < c && o + k < nOut; ++k)
      out[o + k] = active ? hostChannel(data.outputs, nOutBuses, b, k, false) : nullptr;
    o += c;
  }
}

tresult PLUGIN_API IFxVST3::process(ProcessData& data)
{
  if (data.processContext)
    mHostContext = *data.processContext;
  if (mPlug->DoesMIDI() && data.inputEvents)
    ProcessInputEvents(data.inputEvents);

  // Before set-up, after terminate, while another thread sets the instance
  // up, or with buffers of another sample size than announced (they would
  // be read with the wrong element width), the block cannot be processed.
  // The host plays its output buffers anyway: they get silence rather than
  // what an earlier block left in them.
  IFxBlockGate::Entered inBlock(mPlug->BlockGate());
  // The set-up is read only inside the gate: another thread may be
  // writing it while the gate is closed.
  if (!inBlock || !IsInitialized() || processSetup.symbolicSampleSize != data.symbolicSampleSize)
  {
    // Parameter values are taken whatever else happens to the block: a host
    // sends a change once.
    if (data.inputParameterChanges)
      ApplyParameterChanges(data.inputParameterChanges);
    SilenceOutputs(data);
    return kResultOk;
  }
  const int32 sampleSize = processSetup.symbolicSampleSize;
  // A program change that had to wait for another thread's batch.
  const int pending = mPendingPreset.load(std::memory_order_acquire);
  if (pending >= 0) RestorePresetInBlock(pending, mPendingPresetValue.load(std::memory_order_relaxed));
  // Every point of the host's queues takes effect at its offset.
  mPoints.Take(data.inputParameterChanges);

  const int32 n = std::max<int32>(0, data.numSamples);
  IFxBlockRunner::ChannelMask silent;
  if (sampleSize == kSample64)
  {
    ChannelsOf<double>(data, mIn64, mOut64);
    silent = mRunner.Run<double>(mIn64.data(), mOut64.data(), n, mPoints);
  }
  else
  {
    ChannelsOf<float>(data, mIn32, mOut32);
    silent = mRunner.Run<float>(mIn32.data(), mOut32.data(), n, mPoints);
  }
  mPoints.Take(nullptr);  // the host's queues live for this call only
  FlagSilentOutputs(data, silent);
  ReportValues(data.outputParameterChanges);
  return kResultOk;
}

int32 IFxVST3::HostWidth(const AudioBusBuffers& bus, AudioBus* declared)
{
  const int32 negotiated = declared ? BitCount(declared->getArrangement()) : 0;
  return std::max<int32>(0, std::min<int32>(bus.numChannels, negotiated));
}

int32 IFxVST3::DefaultOutputWidth(int32 b) const
{
  // The buses initialize creates: an instrument's stereo pairs, an effect's
  // one bus of all outputs.
  const int nOut = mPlug->OutputChannelCount();
  if (mPlug->IsInst())
    return 2 * b < nOut ? 2 : 0;
  return b == 0 && getSpeakerArrForChans(nOut) ? nOut : 0;
}

void IFxVST3::SilenceOutputs(ProcessData& data)
{
  if (!data.outputs)
    return;
  const int32 n = data.numSamples;
  for (int32 b = 0; b < data.numOutputs; ++b)
  {
    AudioBusBuffers& bus = data.outputs[b];
    // Before initialize and after terminate there are no buses to ask: the
    // widths they would have stand in for them.
    const int32 nCh = audioOutputs.empty()
                        ? std::max<int32>(0, std::min<int32>(bus.numChannels, DefaultOutputWidth(b)))
                        : HostWidth(bus, getAudioOutput(b));
    for (int32 c = 0; c < nCh && n > 0; ++c)
    {
      // The union holds the pointers of the sample size the block announces.
      if (data.symbolicSampleSize == kSample32 && bus.channelBuffers32 && bus.channelBuffers32[c])
        std::fill_n(bus.channelBuffers32[c], n, 0.0f);
      else if (data.symbolicSampleSize == kSample64 && bus.channelBuffers64 && bus.channelBuffers64[c])
        std::fill_n(bus.channelBuffers64[c], n, 0.0);
    }
    bus.silenceFlags = IFxBlockRunner::AllChannels(nCh);
  }
}

void IFxVST3::FlagSilentOutputs(ProcessData& data, uint64 silent)
{
  if (!data.outputs)
    return;
  const int nOut = mPlug->OutputChannelCount();
  for (int32 b = 0, o = 0; b < data.numOutputs; ++b)
  {
    // Buses the plug-in did not write (inactive or undeclared) are not ours
    // to describe.
    AudioBus* declared = getAudioOutput(b);
    const int32 nCh = HostWidth(data.outputs[b], declared);
    if (declared && declared->isActive())
    {
      uint64 flags = 0;
      for (int32 c = 0; c < nCh && c < 64; ++c)
        if (o + c >= nOut || o + c >= 64 || ((silent >> (o + c)) & 1u))
          flags |= (uint64)1 << c;
      data.outputs[b].silenceFlags = flags;
    }
    o += nCh;
  }
}

// ---------------------------------------------------------------------------
// State

tresult IFxVST3::getEditorState(IBStream* state)
{
  if (!state)
    return kResultFalse;
  ByteChunk chunk;
  {
    // A whole state, never half of one being restored on another thread.
    IFxBase::ParamBatch batch(*mPlug);
    if (!mPlug->SerializeState(&chunk))
      return kResultFalse;
    const int32 bypass = mPlug->IsBypassed() ? 1 : 0;
    chunk.Append(bypass);
    IFxStateTail tail;
    if (mPlug->PresetCount() > 0) tail.preset = mPlug->GetCurrentPresetIdx();
    tail.AppendTo(chunk);
  }
  // The stream is written holding nothing: however slow it is, edits and
  // audio go on.
  return WriteAll(state, chunk.Data(), chunk.Size()) ? kResultOk : kResultFalse;
}

tresult IFxVST3::setEditorState(IBStream* state)
{
  if (!state)
    return kResultFalse;
  ByteChunk chunk;
  mPlug->SerializeState(&chunk);
  const int size = chunk.Size();
  if (size <= 0)
    return kResultFalse;

  // A state is a project's memory: all of it arrives before any of it is
  // applied, or nothing changes. The stream is read holding nothing.
  int32 bypass = 0;
  if (chunk.Resize(size + (int)sizeof(bypass)) != size + (int)sizeof(bypass) ||
      !ReadAll(state, chunk.Data(), chunk.Size()))
    return kResultFalse;
  memcpy(&bypass, chunk.Data() + size, sizeof(bypass));
  chunk.Resize(size);
  ByteChunk rest;
  ReadTail(state, rest);
  IFxStateTail tail;
  tail.ReadFrom(rest.Data(), rest.Size());
  {
    // The audio thread takes all of it at the start of a block, or none.
    IFxBase::ParamBatch batch(*mPlug);
    if (mPlug->UnserializeState(&chunk, 0) < 0)
      return kResultFalse;
    SetBypassed(bypass != 0);
    // The preset chosen when it was saved; a state from before that was
    // kept names the factory preset its values are, if they are one.
    const int n = mPlug->PresetCount();
    const int preset = tail.preset >= 0 && tail.preset < n ? tail.preset : mPlug->PresetMatchingValues();
    if (preset >= 0)
    {
      mPlug->SetCurrentPresetIdx(preset);
      mPresetValue = n > 1 ? (double)preset / (n - 1) : 0.0;
    }
  }
  mPlug->RedrawParamControls();
  // The host is told after this call returns, never from inside it.
  ValuesChangedTogether();
  return kResultOk;
}

void IFxVST3::ReadTail(IBStream* stream, ByteChunk& tail)
{
  // Exactly the tail: a host's stream may go on after the state. Without
  // one, what was read is given back where the stream can seek.
  tail.Clear();
  if (tail.Resize(IFxStateTail::kHeaderSize) != IFxStateTail::kHeaderSize) return;
  const bool header = ReadAll(stream, tail.Data(), IFxStateTail::kHeaderSize);
  const int64_t body = header ? IFxStateTail::BodySize(tail.Data()) : -1;
  if (body < 0)
  {
    tail.Clear();
    if (header) stream->seek(-IFxStateTail::kHeaderSize, IBStream::kIBSeekCur, nullptr);
    return;
  }
  const int size = IFxStateTail::kHeaderSize + (int)body;
  if (tail.Resize(size) != size || !ReadAll(stream, tail.Data() + IFxStateTail::kHeaderSize, (int32)body))
    tail.Clear();
}

// ---------------------------------------------------------------------------
// Controller

bool IFxVST3::IsValidParamTag(ParamID tag) const
{
  return tag < (ParamID)mPlug->ParamCount() && mPlug->ParamAt((int)tag) != nullptr;
}

tresult PLUGIN_API IFxVST3::setParamNormalized(ParamID tag, ParamValue value)
{
  if (std::isnan(value))
    return kResultFalse;
  value = IParam::ClampNormalized(value);
  // The binding's own parameters are held for the host to read back (the
  // bypass as its switch's two states, split at 0.5 as in process); the
  // processing bypass and the preset change only through process and state.
  if (tag == kBypassParamTag && !mPlug->IsInst())
  {
    mBypassValue = SwitchIsOn(value) ? 1.0 : 0.0;
    return kResultOk;
  }
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0)
  {
    // A host that selects a program through the controller alone must get
    // it, and hear that every value changed. Setting the program already
    // selected changes nothing: a host that sets back what it read (or the
    // same program again) leaves the user's edits alone.
    const int idx = PresetIndexFromNormalized(value);
    const bool change = idx != PresetIndexFromNormalized(mPresetValue);
    mPresetValue = value;
    if (change)
    {
      bool applied;
      {
        // The audio thread takes the whole preset or none of it.
        IFxBase::ParamBatch batch(*mPlug);
        applied = mPlug->RestorePreset(idx);
      }
      // The host hears of the new values after this call: Ardour, for one,
      // holds a lock around it that its restartComponent takes too.
      if (applied)
        ValuesChangedTogether();
    }
    return kResultOk;
  }
  if (!IsValidParamTag(tag))
    return kResultFalse;
  // A value set here reaches the sound at the next block, as any other.
  mPlug->ApplyParamValue((int)tag, value, true);
  return kResultOk;
}

ParamValue PLUGIN_API IFxVST3::getParamNormalized(ParamID tag)
{
  if (tag == kBypassParamTag && !mPlug->IsInst())
    return mBypassValue;
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0)
    return mPresetValue;
  if (IsValidParamTag(tag))
    return mPlug->ParamAt((int)tag)->GetNormalized();
  return 0.0;
}

int IFxVST3::PresetIndexFromNormalized(double value) const
{
  // Program k arrives as k / (count - 1) from hosts that follow the step
  // count, as k / count from older ones; the truncation takes both to k,
  // and 1.0 is the last program, not one past it.
  const int n = mPlug->PresetCount();
  const int idx = (int)(value * n);
  return idx < n ? idx : n - 1;
}

ParamValue PLUGIN_API IFxVST3::plainParamToNormalized(ParamID tag, ParamValue plainValue)
{
  if (IsValidParamTag(tag))
    if (Parameter* param = getParameterObject(tag))
      return param->toNormalized(plainValue);
  // A program number, for hosts that select presets by number.
  if (tag == kPresetParamTag && mPlug->PresetCount() > 1)
    return std::isnan(plainValue) ? 0.0 : IParam::ClampNormalized(plainValue / (mPlug->PresetCount() - 1));
  return plainValue;
}

ParamValue PLUGIN_API IFxVST3::normalizedParamToPlain(ParamID tag, ParamValue valueNormalized)
{
  // The list parameters turn the value into an integer: a NaN or a value
  // far outside 0..1 would make that conversion undefined.
  if (getParameterObject(tag))
    valueNormalized = std::isnan(valueNormalized) ? 0.0 : IParam::ClampNormalized(valueNormalized);
  return SingleComponentEffect::normalizedParamToPlain(tag, valueNormalized);
}

tresult PLUGIN_API IFxVST3::getParamStringByValue(ParamID tag, ParamValue valueNormalized, String128 string)
{
  if (!string)
    return kResultFalse;
  const double value = std::isnan(valueNormalized) ? 0.0 : IParam::ClampNormalized(valueNormalized);
  if (tag == kBypassParamTag && !mPlug->IsInst())
  {
    WidenToString128(SwitchIsOn(value) ? kHostBypassUnit.onText : kHostBypassUnit.offText, string);
    return kResultOk;
  }
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0)
  {
    WidenToString128(mPlug->GetPresetName(PresetIndexFromNormalized(value)), string);
    return kResultOk;
  }
  if (!IsValidParamTag(tag))
    return kResultFalse;
  ParamStringForHost(*mPlug->ParamAt((int)tag), valueNormalized, string);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getParamValueByString(ParamID tag, TChar* string, ParamValue& valueNormalized)
{
  if (!string || !getParameterObject(tag))
    return kResultFalse;
  // The host's String128 need not be terminated: take at most its 128 units.
  TChar text[129];
  int n = 0;
  for (; n < 128 && string[n]; ++n)
    text[n] = string[n];
  text[n] = 0;

  ParamValue value = 0.0;
  if (tag == kPresetParamTag)
  {
    // The preset's name, as getParamStringByValue shows it, or its
    // normalised value itself.
    if (!ParseNumber(text, value))
    {
      const int idx = PresetIndexFromName(text);
      if (idx < 0)
        return kResultFalse;
      const int count = mPlug->PresetCount();
      value = count > 1 ? (double)idx / (count - 1) : 0.0;
    }
  }
  else if (tag == kBypassParamTag)
  {
    // "On" and "Off" in any case, or the two states' numbers.
    char utf8[4 * 128 + 1];
    Utf8FromTChar(text, utf8, sizeof(utf8));
    IParamUnitReading reading;
    if (ReadParamUnit(kHostBypassUnit, utf8, true, &reading) != kParamReadOk ||
        (reading.plain != 0.0 && reading.plain != 1.0))
      return kResultFalse;
    value = reading.plain;
  }
  else if (SingleComponentEffect::getParamValueByString(tag, text, value) != kResultOk || std::isnan(value))
    return kResultFalse;
  valueNormalized = IParam::ClampNormalized(value) + 0.0;  // + 0.0: no negative zero
  return kResultOk;
}

int IFxVST3::PresetIndexFromName(const TChar* text) const
{
  char name[4 * 128 + 1];
  Utf8FromTChar(text, name, sizeof(name));
  const char* begin = name;
  size_t len = strlen(name);
  while (len > 0 && (*begin == ' ' || *begin == '\t'))
  {
    ++begin;
    --len;
  }
  while (len > 0 && (begin[len - 1] == ' ' || begin[len - 1] == '\t'))
    --len;
  for (int i = 0, count = mPlug->PresetCount(); i < count && len > 0; ++i)
  {
    const char* preset = mPlug->GetPresetName(i);
    if (strlen(preset) == len && strncasecmp(preset, begin, len) == 0)
      return i;
  }
  return -1;
}

int32 PLUGIN_API IFxVST3::getUnitCount() { return mUnitNames.GetSize() + 1; }

tresult PLUGIN_API IFxVST3::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex == 0)
  {
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    WidenToString128("Root Unit", info.name);
    // Hosts find the program list for their preset menu through its unit.
    info.programListId = mPlug->PresetCount() > 0 ? (ProgramListID)kPresetParamTag : kNoProgramListId;
    return kResultOk;
  }
  if (unitIndex < 0 || unitIndex > mUnitNames.GetSize())
    return kResultFalse;
  info.id = unitIndex;
  info.parentUnitId = kRootUnitId;
  WidenToString128(mUnitNames.Get(unitIndex - 1), info.name);
  info.programListId = kNoProgramListId;
  return kResultOk;
}

int32 PLUGIN_API IFxVST3::getProgramListCount() { return mPlug->PresetCount() > 0 ? 1 : 0; }

tresult PLUGIN_API IFxVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
  if (listIndex != 0 || mPlug->PresetCount() <= 0)
    return kResultFalse;
  info.id = kPresetParamTag;
  info.programCount = mPlug->PresetCount();
  WidenToString128("Factory Presets", info.name);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
  if (listId != (ProgramListID)kPresetParamTag || !name || programIndex < 0 ||
      programIndex >= mPlug->PresetCount())
    return kResultFalse;
  WidenToString128(mPlug->GetPresetName(programIndex), name);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getProgramInfo(ProgramListID, int32, Vst::CString, String128) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::hasProgramPitchNames(ProgramListID, int32) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::getProgramPitchName(ProgramListID, int32, int16, String128) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::selectUnit(UnitID) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::getUnitByBus(MediaType, BusDirection, int32, int32, UnitID&) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::setUnitProgramData(int32, int32, IBStream*) { return kNotImplemented; }

tresult IFxVST3::beginEdit(ParamID tag) { return SingleComponentEffect::beginEdit(tag); }
tresult IFxVST3::performEdit(ParamID tag, ParamValue value) { return SingleComponentEffect::performEdit(tag, value); }
tresult IFxVST3::endEdit(ParamID tag) { return SingleComponentEffect::endEdit(tag); }

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
