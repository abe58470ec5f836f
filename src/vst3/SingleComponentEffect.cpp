#include "vst3/SingleComponentEffect.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

SingleComponentEffect::SingleComponentEffect()
  : audioInputs(kAudio, kInput),
    audioOutputs(kAudio, kOutput),
    eventInputs(kEvent, kInput),
    eventOutputs(kEvent, kOutput)
{
  processSetup.processMode = kRealtime;
  processSetup.symbolicSampleSize = kSample32;
  processSetup.maxSamplesPerBlock = 0;
  processSetup.sampleRate = 0.0;
}

SingleComponentEffect::~SingleComponentEffect() {}

tresult PLUGIN_API SingleComponentEffect::initialize(FUnknown* context)
{
  // The SDK base only refuses a second call when the first brought a
  // context; without this a host passing none first would get every bus
  // and parameter twice.
  if (mInitialized)
    return kResultFalse;
  tresult result = EditControllerEx1::initialize(context);
  mInitialized = result == kResultOk;
  return result;
}

tresult PLUGIN_API SingleComponentEffect::terminate()
{
  mInitialized = false;
  parameters.removeAll();
  removeAllBusses();
  return EditControllerEx1::terminate();
}

tresult PLUGIN_API SingleComponentEffect::getControllerClassId(TUID) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::setIoMode(IoMode) { return kNotImplemented; }

BusList* SingleComponentEffect::getBusList(MediaType type, BusDirection dir)
{
  if (type == kAudio)
    return dir == kInput ? &audioInputs : dir == kOutput ? &audioOutputs : nullptr;
  if (type == kEvent)
    return dir == kInput ? &eventInputs : dir == kOutput ? &eventOutputs : nullptr;
  return nullptr;
}

int32 PLUGIN_API SingleComponentEffect::getBusCount(MediaType type, BusDirection dir)
{
  BusList* list = getBusList(type, dir);
  return list ? (int32)list->size() : 0;
}

tresult PLUGIN_API SingleComponentEffect::getBusInfo(MediaType type, BusDirection dir, int32 index,
                                                     BusInfo& info)
{
  BusList* list = getBusList(type, dir);
  if (!list || index < 0 || index >= (int32)list->size())
    return kInvalidArgument;
  info.mediaType = type;
  info.direction = dir;
  return list->at(index)->getInfo(info) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::getRoutingInfo(RoutingInfo&, RoutingInfo&)
{
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::activateBus(MediaType type, BusDirection dir, int32 index,
                                                      TBool state)
{
  BusList* list = getBusList(type, dir);
  if (!list || index < 0 || index >= (int32)list->size())
    return kInvalidArgument;
  list->at(index)->setActive(state);
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::setActive(TBool) { return kResultOk; }
tresult PLUGIN_API SingleComponentEffect::setState(IBStream*) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::getState(IBStream*) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::setComponentState(IBStream*) { return kNotImplemented; }

tresult PLUGIN_API SingleComponentEffect::setBusArrangements(SpeakerArrangement*, int32,
                                                             SpeakerArrangement*, int32)
{
  return kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::getBusArrangement(BusDirection dir, int32 index,
                                                            SpeakerArrangement& arr)
{
  BusList* list = getBusList(kAudio, dir);
  if (!list || index < 0 || index >= (int32)list->size())
    return kInvalidArgument;
  if (auto* bus = FCast<AudioBus>(list->at(index).get()))
  {
    arr = bus->getArrangement();
    return kResultTrue;
  }
  return kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::canProcessSampleSize(int32 symbolicSampleSize)
{
  return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::setupProcessing(ProcessSetup& setup)
{
  processSetup = setup;
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::setProcessing(TBool) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::process(ProcessData&) { return kResultOk; }

tresult PLUGIN_API SingleComponentEffect::getParameterInfo(int32 paramIndex, ParameterInfo& info)
{
  if (paramIndex < 0 || paramIndex >= parameters.getParameterCount())
    return kResultFalse;
  return EditControllerEx1::getParameterInfo(paramIndex, info);
}

tresult PLUGIN_API SingleComponentEffect::queryInterface(const TUID iid, void** obj)
{
  QUERY_INTERFACE(iid, obj, IComponent::iid, IComponent)
  QUERY_INTERFACE(iid, obj, IAudioProcessor::iid, IAudioProcessor)
  return EditControllerEx1::queryInterface(iid, obj);
}

AudioBus* SingleComponentEffect::addAudioInput(const TChar* name, SpeakerArrangement arr,
                                               BusType busType, int32 flags)
{
  auto* bus = new AudioBus(name, busType, flags, arr);
  bus->setActive((flags & BusInfo::kDefaultActive) != 0);
  audioInputs.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

AudioBus* SingleComponentEffect::addAudioOutput(const TChar* name, SpeakerArrangement arr,
                                                BusType busType, int32 flags)
{
  auto* bus = new AudioBus(name, busType, flags, arr);
  bus->setActive((flags & BusInfo::kDefaultActive) != 0);
  audioOutputs.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

EventBus* SingleComponentEffect::addEventInput(const TChar* name, int32 channels, BusType busType,
                                               int32 flags)
{
  auto* bus = new EventBus(name, busType, flags, channels);
  bus->setActive((flags & BusInfo::kDefaultActive) != 0);
  eventInputs.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

void SingleComponentEffect::removeAudioBusses()
{
  audioInputs.clear();
  audioOutputs.clear();
}

void SingleComponentEffect::removeAllBusses()
{
  removeAudioBusses();
  eventInputs.clear();
  eventOutputs.clear();
}
