// One host block: the host's parameter changes and events, then the block
// runner over the host's buffers, and the silence flags.

#include "vst3/IFxVST3.h"

#include <algorithm>
#include <cstring>

#include "fx/IParam.h"
#include "fx/Log.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "vst3/IFxVST3Shared.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace vst3shared;

// ---------------------------------------------------------------------------
// Processing

void IFxVST3::ApplyParameterChanges(IParameterChanges* changes)
{
  const int32 n = changes->getParameterCount();
  for (int32 i = 0; i < n; ++i)
  {
    IParamValueQueue* queue = changes->getParameterData(i);
    if (!queue) continue;
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
  if (std::isnan(value)) return;
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
    if (!queue) continue;
    const int32 count = queue->getPointCount();
    int32 offset = 0;
    ParamValue value = 0.0;
    // A queue that cannot give its last point is broken: none of it counts.
    if (count <= 0 || queue->getPoint(count - 1, offset, value) != kResultOk) continue;
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
  if (q.next < q.count && q.queue->getPoint(q.next, q.offset, q.value) == kResultOk) return;
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
    if (q.next < q.count) due = std::min(due, (int)q.offset);
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
    if (events->getEvent(i, e) != kResultOk) continue;
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
  auto hostChannel = [&](AudioBusBuffers* buses, int nBuses, int b, int c, bool input) -> T*
  {
    if (b >= nBuses || c >= HostWidth(buses[b], input ? getAudioInput(b) : getAudioOutput(b))) return nullptr;
    T** chans = BusChannels<T>(buses[b]);
    return chans && chans[c] ? chans[c] : nullptr;
  };

  // Inputs: the main bus, then the side-chain channels while the host keeps
  // that bus active; silence otherwise.
  std::fill(in.begin(), in.end(), nullptr);
  if (nInBuses > 0)
  {
    const int nMain = nIn - mSidechainChannels;
    for (int c = 0; c < (mSidechainChannels ? nMain : nIn); ++c) in[c] = hostChannel(data.inputs, nInBuses, 0, c, true);
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
  if (data.processContext) mHostContext = *data.processContext;
  if (mPlug->DoesMIDI() && data.inputEvents) ProcessInputEvents(data.inputEvents);

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
    if (data.inputParameterChanges) ApplyParameterChanges(data.inputParameterChanges);
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
  if (mPlug->IsInst()) return 2 * b < nOut ? 2 : 0;
  return b == 0 && getSpeakerArrForChans(nOut) ? nOut : 0;
}

void IFxVST3::SilenceOutputs(ProcessData& data)
{
  if (!data.outputs) return;
  const int32 n = data.numSamples;
  for (int32 b = 0; b < data.numOutputs; ++b)
  {
    AudioBusBuffers& bus = data.outputs[b];
    // Before initialize and after terminate there are no buses to ask: the
    // widths they would have stand in for them.
    const int32 nCh = audioOutputs.empty() ? std::max<int32>(0, std::min<int32>(bus.numChannels, DefaultOutputWidth(b)))
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
  if (!data.outputs) return;
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
        if (o + c >= nOut || o + c >= 64 || ((silent >> (o + c)) & 1u)) flags |= (uint64)1 << c;
      data.outputs[b].silenceFlags = flags;
    }
    o += nCh;
  }
}
