#include "vst3/IFxVST3.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "fx/Log.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "vst3/IFxParameter.h"
#include "vst3/IFxVST3View.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Largest block the scratch buffers are sized for (8 MB per channel).
constexpr int32 kMaxScratchFrames = 1 << 20;

int BitCount(SpeakerArrangement arr)
{
  int n = 0;
  for (; arr; arr &= arr - 1)
    ++n;
  return n;
}

int32 AudioBusChannels(Bus* bus)
{
  auto* audio = bus ? FCast<AudioBus>(bus) : nullptr;
  return audio ? BitCount(audio->getArrangement()) : -1;
}

}  // namespace

IFxVST3::IFxVST3(IFxInstanceInfo, int nParams, const char* channelIOStr, int nPresets,
                 const char* effectName, const char* productName, const char* mfrName,
                 int vendorVersion, int uniqueID, int mfrID, int latency, bool plugDoesMidi,
                 bool plugDoesChunks, bool plugIsInst, int plugScChans)
  : IFxBase(nParams, channelIOStr, nPresets, effectName, productName, mfrName, vendorVersion,
            uniqueID, mfrID, latency, plugDoesMidi, plugDoesChunks, plugIsInst, kAPIVST3),
    mSidechainChannels(plugScChans)
{
  memset(&mHostContext, 0, sizeof(mHostContext));
  const int nIn = InputChannelCount(), nOut = OutputChannelCount();
  SetInputChannelConnections(0, nIn, true);
  SetOutputChannelConnections(0, nOut, true);
  if (nIn > 0)
    MakeDelayLine(nIn, nOut, latency);

  SetInputBusLabel(0, "Main Input");
  if (mSidechainChannels)
    SetInputBusLabel(1, "Aux Input");

  if (IsInst())
  {
    char label[32];
    for (int i = 0; i < nOut; i += 2)
    {
      snprintf(label, sizeof(label), "Output %i", i / 2 + 1);
      SetOutputBusLabel(i / 2, label);
    }
  }
  else
    SetOutputBusLabel(0, "Output");

  mInPtrs.assign(nIn, nullptr);
  mOutPtrs.assign(nOut, nullptr);
  mInFromHost.assign(nIn, 0);
}

IFxVST3::~IFxVST3()
{
  mOpenViews.clear();
  mOpenViews.shrink_to_fit();
}

// ---------------------------------------------------------------------------
// Framework hooks

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
int IFxVST3::GetSamplePos() { return (int)mHostContext.projectTimeSamples; }
double IFxVST3::GetTempo() { return mHostContext.tempo; }

void IFxVST3::GetTimeSig(int* pNum, int* pDenom)
{
  if (pNum)
    *pNum = mHostContext.timeSigNumerator;
  if (pDenom)
    *pDenom = mHostContext.timeSigDenominator;
}

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
  if (GetGraphics() && !mOpenViews.empty() && mOpenViews[0])
    static_cast<IFxVST3View*>(mOpenViews[0])->resize(w, h);
}

void IFxVST3::ForgetView(Steinberg::IPlugView* pView)
{
  // Only the view going away leaves the list: another editor may still be
  // open, and its context menus need it.
  mOpenViews.erase(std::remove(mOpenViews.begin(), mOpenViews.end(), pView), mOpenViews.end());
}

void IFxVST3::SetLatency(int samples)
{
  IFxBase::SetLatency(samples);
  if (componentHandler)
  {
    IComponentHandler* handler = nullptr;
    if (componentHandler->queryInterface(IComponentHandler::iid, (void**)&handler) == kResultOk && handler)
    {
      handler->restartComponent(kLatencyChanged);
      handler->release();
    }
  }
}

bool IFxVST3::SendMidiMsg(IMidiMsg*) { return false; }

void IFxVST3::PopupHostContextMenuForParam(int idx, int x, int y)
{
  if (!componentHandler || mOpenViews.empty() || !mOpenViews[0])
    return;
  IComponentHandler3* handler3 = nullptr;
  if (componentHandler->queryInterface(IComponentHandler3::iid, (void**)&handler3) != kResultOk || !handler3)
    return;
  ParamID tag = (ParamID)idx;
  if (IContextMenu* menu = handler3->createContextMenu(mOpenViews[0], &tag))
  {
    menu->popup(x, y);
    menu->release();
  }
  handler3->release();
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
        SetHost(name8, 0);
      }
      app->release();
    }
  }

  if (result == kResultOk)
  {
    String128 busName;
    const int nIn = InputChannelCount(), nOut = OutputChannelCount();
    SpeakerArrangement mainArr = getSpeakerArrForChans(nIn - mSidechainChannels);
    if (mainArr)
    {
      WidenToString128(GetInputBusLabel(0), busName);
      addAudioInput(busName, mainArr, kMain, BusInfo::kDefaultActive);
    }

    if (IsInst())
    {
      for (int i = 0; i < nOut; i += 2)
      {
        WidenToString128(GetOutputBusLabel(i / 2), busName);
        addAudioOutput(busName, SpeakerArr::kStereo, kMain, BusInfo::kDefaultActive);
      }
    }
    else
    {
      WidenToString128(GetOutputBusLabel(0), busName);
      addAudioOutput(busName, getSpeakerArrForChans(nOut), kMain, BusInfo::kDefaultActive);
    }

    if (mSidechainChannels)
    {
      if (mSidechainChannels > 2)
        mSidechainChannels = 2;
      WidenToString128(GetInputBusLabel(1), busName);
      addAudioInput(busName, getSpeakerArrForChans(mSidechainChannels), kAux, 0);
    }

    if (DoesMIDI())
    {
      WidenToString128("MIDI Input", busName);
      addEventInput(busName, 1, kMain, BusInfo::kDefaultActive);
    }

    AddHostParameters();
  }

  OnHostIdentified();
  RestorePreset(0);
  return result;
}

tresult PLUGIN_API IFxVST3::terminate()
{
  return SingleComponentEffect::terminate();
}

void IFxVST3::AddHostParameters()
{
  String128 title, units;
  if (PresetCount() > 0)
  {
    WidenToString128("Preset", title);
    parameters.addParameter(new Parameter(title, kPresetParamTag, nullptr, 0.0, PresetCount(),
                                          ParameterInfo::kIsProgramChange, 0, nullptr));
  }
  if (!IsInst())
  {
    WidenToString128("Bypass", title);
    auto* bypass = new StringListParameter(
        title, kBypassParamTag, nullptr,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass, 0, nullptr);
    WidenToString128("off", units);
    bypass->appendString(units);
    WidenToString128("on", units);
    bypass->appendString(units);
    parameters.addParameter(bypass);
  }

  for (int i = 0, n = ParamCount(); i < n; ++i)
  {
    IParam* param = ParamAt(i);
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
  // Without at least one arrangement each way there is nothing to count.
  if (!inputs || !outputs || numIns <= 0 || numOuts <= 0)
    return kResultFalse;

  const int nIn = InputChannelCount(), nOut = OutputChannelCount();
  SetInputChannelConnections(0, nIn, false);
  SetOutputChannelConnections(0, nOut, false);

  const int reqIn = BitCount(inputs[0]);
  const int reqOut = BitCount(outputs[0]);
  if (!LegalIO(reqIn, reqOut))
    return kResultFalse;

  String128 name;
  int32 in0 = audioInputs.empty() ? -1 : AudioBusChannels(audioInputs.at(0).get());
  if (in0 >= 0 && in0 != reqIn)
  {
    audioInputs.clear();
    WidenToString128("Input", name);
    addAudioInput(name, getSpeakerArrForChans(reqIn), kMain, BusInfo::kDefaultActive);
  }

  int32 out0 = audioOutputs.empty() ? -1 : AudioBusChannels(audioOutputs.at(0).get());
  if (out0 >= 0 && out0 != reqOut)
  {
    audioOutputs.clear();
    WidenToString128("Output", name);
    addAudioOutput(name, getSpeakerArrForChans(reqOut), kMain, BusInfo::kDefaultActive);
  }

  if (numIns == 1 && mSidechainChannels == 0)
    return kResultOk;

  if (numIns == 2 && mSidechainChannels != 0)
  {
    const int reqSc = BitCount(inputs[1]);
    int32 in1 = audioInputs.size() < 2 ? -1 : AudioBusChannels(audioInputs.at(1).get());
    if (in1 >= 0 && in1 != reqSc)
    {
      audioInputs.clear();
      WidenToString128("Input", name);
      addAudioInput(name, getSpeakerArrForChans(reqIn), kMain, BusInfo::kDefaultActive);
      WidenToString128("Sidechain Input", name);
      addAudioInput(name, getSpeakerArrForChans(reqSc), kAux, 0);
    }
    return kResultOk;
  }
  return kResultFalse;
}

tresult PLUGIN_API IFxVST3::setActive(TBool state)
{
  OnActivate(state != 0);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::setupProcessing(ProcessSetup& setup)
{
  if (setup.symbolicSampleSize > kSample64 || setup.symbolicSampleSize < kSample32)
    return kResultFalse;
  // Every sample-rate dependent quantity divides by it.
  if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0)
    return kResultFalse;

  // Hosts are meant to set up only while inactive, but a host that does it
  // while another thread is inside process would otherwise see the scratch
  // buffers freed under it.
  KitMutexLock lock(&mMutex);
  SetSampleRate(setup.sampleRate);
  // The bypass flag stays as the host last set it: a host that shows the
  // plug-in bypassed must not hear it processing after a rate change.
  // Scratch buffers are sized to the block; an absurd maximum would ask for
  // gigabytes per channel. Larger host blocks are processed in pieces.
  SetBlockSize(std::min<int32>(setup.maxSamplesPerBlock, kMaxScratchFrames));
  Reset();
  processSetup = setup;
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::canProcessSampleSize(int32 symbolicSampleSize)
{
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultOk : kResultFalse;
}

uint32 PLUGIN_API IFxVST3::getLatencySamples() { return (uint32)GetLatency(); }
uint32 PLUGIN_API IFxVST3::getTailSamples() { return GetTailSize(); }

IPlugView* PLUGIN_API IFxVST3::createView(FIDString name)
{
  if (!name || strcmp(name, "editor") != 0) return nullptr;
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
    if (points <= 0)
      continue;
    int32 offset = 0;
    ParamValue value = 0.0;
    if (queue->getPoint(points - 1, offset, value) != kResultOk)
      continue;
    // Normalised values live in 0..1; anything else is a broken host.
    if (std::isnan(value))
      continue;
    value = std::min(1.0, std::max(0.0, value));

    const ParamID tag = queue->getParameterId();
    if (tag == kBypassParamTag)
      mIsBypassed = value > 0.5;
    else if (tag == kPresetParamTag)
      RestorePreset((int)(value * PresetCount()));
    else if (IsValidParamTag(tag))
    {
      ParamAt((int)tag)->SetNormalized(value);
      if (IFxEditor* editor = GetGraphics())
        editor->SetParameterFromPlug((int)tag, value, true);
      OnParamChange((int)tag);
    }
  }
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
      ProcessMidiMsg(&msg);
    }
    else if (e.type == Event::kNoteOffEvent)
    {
      msg.MakeNoteOffMsg(e.noteOff.pitch, e.sampleOffset, e.noteOff.channel);
      ProcessMidiMsg(&msg);
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
void IFxVST3::ProcessPiece(ProcessData& data, int32 offset, int32 nFrames)
{
  const int nIn = InputChannelCount(), nOut = OutputChannelCount();
  const int nInBuses = data.inputs ? std::max<int32>(0, data.numInputs) : 0;
  const int nOutBuses = data.outputs ? std::max<int32>(0, data.numOutputs) : 0;

  // Host channel c of bus b at this piece's offset, or null when the host did
  // not supply it.
  auto hostChannel = [&](AudioBusBuffers* buses, int nBuses, int b, int c) -> T* {
    if (b >= nBuses || c >= buses[b].numChannels)
      return nullptr;
    T** chans = BusChannels<T>(buses[b]);
    return chans && chans[c] ? chans[c] + offset : nullptr;
  };

  // Inputs: decide per channel which host buffer it reads, null for silence.
  std::fill(mInPtrs.begin(), mInPtrs.end(), nullptr);
  if (nInBuses > 0)
  {
    if (mSidechainChannels)
    {
      const int nMain = nIn - mSidechainChannels;
      AudioBus* scBus = getAudioInput(1);
      if (scBus && scBus->isActive())
        mSidechainWasActive = true;
      else if (mSidechainWasActive)
      {
        ZeroScratchBuffers();
        mSidechainWasActive = false;
      }
      for (int c = 0; c < nMain; ++c)
        mInPtrs[c] = hostChannel(data.inputs, nInBuses, 0, c);
      if (scBus && scBus->isActive())
        for (int c = 0; c < mSidechainChannels && nMain + c < nIn; ++c)
          mInPtrs[nMain + c] = hostChannel(data.inputs, nInBuses, 1, c);
    }
    else
    {
      for (int c = 0; c < nIn; ++c)
        mInPtrs[c] = hostChannel(data.inputs, nInBuses, 0, c);
    }
  }

  // A channel that read host audio and now reads silence would otherwise
  // read what the last 32-bit block left in its scratch buffer.
  bool zero = false;
  for (int c = 0; c < nIn; ++c)
    if (mInFromHost[c] && !mInPtrs[c])
      zero = true;
  if (zero)
    ZeroScratchBuffers();

  for (int c = 0; c < nIn; ++c)
  {
    mInFromHost[c] = mInPtrs[c] != nullptr;
    SetInputChannelConnections(c, 1, mInPtrs[c] != nullptr);
    if (mInPtrs[c])
    {
      T* p = (T*)mInPtrs[c];
      AttachInputBuffers(c, 1, &p, nFrames);
    }
  }

  // Outputs: bus by bus with a running channel offset.
  std::fill(mOutPtrs.begin(), mOutPtrs.end(), nullptr);
  for (int b = 0, o = 0; b < nOutBuses && o < nOut; ++b)
  {
    const int c = std::max<int32>(0, data.outputs[b].numChannels);
    AudioBus* declared = getAudioOutput(b);
    const bool active = declared && declared->isActive();
    for (int k = 0; k < c && o + k < nOut; ++k)
      mOutPtrs[o + k] = active ? hostChannel(data.outputs, nOutBuses, b, k) : nullptr;
    o += c;
  }
  for (int c = 0; c < nOut; ++c)
  {
    SetOutputChannelConnections(c, 1, mOutPtrs[c] != nullptr);
    if (mOutPtrs[c])
    {
      T* p = (T*)mOutPtrs[c];
      AttachOutputBuffers(c, 1, &p);
    }
  }

  if (IsBypassed())
    PassThroughBuffers((T)0, nFrames);
  else
    ProcessBuffers((T)0, nFrames);
}

tresult PLUGIN_API IFxVST3::process(ProcessData& data)
{
  KitMutexLock lock(&mMutex);

  if (data.processContext)
    mHostContext = *data.processContext;
  if (data.inputParameterChanges)
    ApplyParameterChanges(data.inputParameterChanges);
  if (DoesMIDI() && data.inputEvents)
    ProcessInputEvents(data.inputEvents);

  const int32 sampleSize = processSetup.symbolicSampleSize;
  // Buffers of another sample size than announced would be read with the
  // wrong element width.
  if (sampleSize != data.symbolicSampleSize)
    return kResultOk;
  const int32 blockSize = GetBlockSize();
  if (data.numSamples <= 0 || blockSize <= 0)
    return kResultOk;

  // Hosts that send more frames than announced get them in pieces that fit
  // the scratch buffers.
  for (int32 done = 0; done < data.numSamples;)
  {
    const int32 n = std::min(blockSize, data.numSamples - done);
    if (sampleSize == kSample64)
      ProcessPiece<double>(data, done, n);
    else if (sampleSize == kSample32)
      ProcessPiece<float>(data, done, n);
    else
      break;
    done += n;
  }

  // Outputs that were written are not silent, whatever flags the host left
  // in them from an earlier block.
  if (data.outputs)
    for (int32 b = 0; b < data.numOutputs; ++b)
      if (AudioBus* declared = getAudioOutput(b))
        if (declared->isActive())
          data.outputs[b].silenceFlags = 0;
  return kResultOk;
}

// ---------------------------------------------------------------------------
// State

tresult IFxVST3::getEditorState(IBStream* state)
{
  if (!state)
    return kResultFalse;
  KitMutexLock lock(&mMutex);
  ByteChunk chunk;
  if (!SerializeState(&chunk))
    return kResultFalse;
  int32 written = 0;
  state->write((void*)chunk.Data(), chunk.Size(), &written);
  int32 bypass = IsBypassed() ? 1 : 0;
  state->write(&bypass, (int32)sizeof(bypass), &written);
  return kResultOk;
}

tresult IFxVST3::setEditorState(IBStream* state)
{
  if (!state)
    return kResultFalse;
  KitMutexLock lock(&mMutex);
  ByteChunk chunk;
  SerializeState(&chunk);
  const int size = chunk.Size();
  if (size <= 0)
    return kResultFalse;

  int32 got = 0;
  state->read((void*)chunk.Data(), size, &got);
  // Only what the stream delivered is applied; a hostile count is clamped.
  got = std::max<int32>(0, std::min<int32>(got, size));
  chunk.Resize(got);
  UnserializeState(&chunk, 0);

  int32 bypass = 0;
  int32 gotBypass = 0;
  if (state->read(&bypass, (int32)sizeof(bypass), &gotBypass) != kResultOk ||
      gotBypass != (int32)sizeof(bypass))
    return kResultFalse;
  mIsBypassed = bypass != 0;
  RedrawParamControls();
  return kResultOk;
}

// ---------------------------------------------------------------------------
// Controller

bool IFxVST3::IsValidParamTag(ParamID tag) const
{
  return tag < (ParamID)ParamCount() && ParamAt((int)tag) != nullptr;
}

tresult PLUGIN_API IFxVST3::setParamNormalized(ParamID tag, ParamValue value)
{
  if (!IsValidParamTag(tag) || std::isnan(value))
    return kResultFalse;
  ParamAt((int)tag)->SetNormalized(value);
  return kResultOk;
}

ParamValue PLUGIN_API IFxVST3::getParamNormalized(ParamID tag)
{
  if (tag == kBypassParamTag)
    return IsBypassed() ? 1.0 : 0.0;
  if (IsValidParamTag(tag))
    return ParamAt((int)tag)->GetNormalized();
  return 0.0;
}

ParamValue PLUGIN_API IFxVST3::plainParamToNormalized(ParamID tag, ParamValue plainValue)
{
  if (IsValidParamTag(tag))
    return ParamAt((int)tag)->GetNormalized(plainValue);
  return plainValue;
}

tresult PLUGIN_API IFxVST3::getParamStringByValue(ParamID tag, ParamValue valueNormalized, String128 string)
{
  if (!IsValidParamTag(tag) || !string)
    return kResultFalse;
  char text[IParam::kTextSize] = {};
  ParamAt((int)tag)->GetDisplayForHost(valueNormalized, true, text, true);
  WidenToString128(text, string);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getParamValueByString(ParamID tag, TChar* string, ParamValue& valueNormalized)
{
  if (!string)
    return kResultFalse;
  return SingleComponentEffect::getParamValueByString(tag, string, valueNormalized);
}

int32 PLUGIN_API IFxVST3::getUnitCount() { return mUnitNames.GetSize() + 1; }

tresult PLUGIN_API IFxVST3::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex == 0)
  {
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    WidenToString128("Root Unit", info.name);
    info.programListId = kNoProgramListId;
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

int32 PLUGIN_API IFxVST3::getProgramListCount() { return 0; }

tresult PLUGIN_API IFxVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
  if (listIndex != 0)
    return kResultFalse;
  info.id = kPresetParamTag;
  info.programCount = PresetCount();
  WidenToString128("Factory Presets", info.name);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
  if (listId != (ProgramListID)kPresetParamTag || !name)
    return kResultFalse;
  WidenToString128(GetPresetName(programIndex), name);
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
