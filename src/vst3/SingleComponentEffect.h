#pragma once

// One object that is both the audio processor and the edit controller, the
// way a host sees a single-component plug-in: the edit controller of the SDK
// plus IComponent and IAudioProcessor with their bus lists.

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

class SingleComponentEffect : public Steinberg::Vst::EditControllerEx1,
                              public Steinberg::Vst::IComponent,
                              public Steinberg::Vst::IAudioProcessor
{
public:
  using tresult = Steinberg::tresult;
  using TBool = Steinberg::TBool;
  using int32 = Steinberg::int32;
  using uint32 = Steinberg::uint32;

  SingleComponentEffect();
  ~SingleComponentEffect() override;

  // IPluginBase, shared by the component and the controller side.
  tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  tresult PLUGIN_API terminate() override;

  // IComponent
  tresult PLUGIN_API getControllerClassId(Steinberg::TUID classID) override;
  tresult PLUGIN_API setIoMode(Steinberg::Vst::IoMode mode) override;
  int32 PLUGIN_API getBusCount(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
  tresult PLUGIN_API getBusInfo(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                int32 index, Steinberg::Vst::BusInfo& info) override;
  tresult PLUGIN_API getRoutingInfo(Steinberg::Vst::RoutingInfo& inInfo,
                                    Steinberg::Vst::RoutingInfo& outInfo) override;
  tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                 int32 index, TBool state) override;
  tresult PLUGIN_API setActive(TBool state) override;
  // One pair serves IComponent and IEditController: the signatures coincide.
  tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
  tresult PLUGIN_API getState(Steinberg::IBStream* state) override;

  // IAudioProcessor
  tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, int32 numIns,
                                        Steinberg::Vst::SpeakerArrangement* outputs,
                                        int32 numOuts) override;
  tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, int32 index,
                                       Steinberg::Vst::SpeakerArrangement& arr) override;
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) override;
  uint32 PLUGIN_API getLatencySamples() override { return 0; }
  tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  tresult PLUGIN_API setProcessing(TBool state) override;
  tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  uint32 PLUGIN_API getTailSamples() override { return 0; }

  // IEditController: the SDK indexes its parameter array unchecked.
  tresult PLUGIN_API getParameterInfo(int32 paramIndex, Steinberg::Vst::ParameterInfo& info) override;
  tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) override;

  OBJ_METHODS(SingleComponentEffect, EditControllerEx1)
  tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return EditControllerEx1::addRef(); }
  uint32 PLUGIN_API release() override { return EditControllerEx1::release(); }

  // Bus list helpers. Buses flagged default-active start active; the SDK's
  // Bus starts every bus inactive.
  Steinberg::Vst::AudioBus* addAudioInput(const Steinberg::Vst::TChar* name,
                                          Steinberg::Vst::SpeakerArrangement arr,
                                          Steinberg::Vst::BusType busType = Steinberg::Vst::kMain,
                                          int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
  Steinberg::Vst::AudioBus* addAudioOutput(const Steinberg::Vst::TChar* name,
                                           Steinberg::Vst::SpeakerArrangement arr,
                                           Steinberg::Vst::BusType busType = Steinberg::Vst::kMain,
                                           int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
  Steinberg::Vst::EventBus* addEventInput(const Steinberg::Vst::TChar* name, int32 channels = 16,
                                          Steinberg::Vst::BusType busType = Steinberg::Vst::kMain,
                                          int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
  void removeAudioBusses();
  void removeAllBusses();
  Steinberg::Vst::BusList* getBusList(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir);

protected:
  // Between a successful initialize and terminate.
  bool IsInitialized() const { return mInitialized; }

  Steinberg::Vst::BusList audioInputs;
  Steinberg::Vst::BusList audioOutputs;
  Steinberg::Vst::BusList eventInputs;
  Steinberg::Vst::BusList eventOutputs;
  Steinberg::Vst::ProcessSetup processSetup;

private:
  bool mInitialized = false;
};
