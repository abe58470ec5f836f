#pragma once

// One plug-in instance driven the way a DAW drives it: created from a
// factory (or handed over ready-made), initialised, buses arranged and
// activated, processing set up, blocks processed, state saved and restored.
// A VST 3 bundle or a CLAP file: the render loop speaks VST 3's terms
// (parameter ids, normalised values, process data), which a CLAP instance
// is given in its own (plain values as events at their frames).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Vst3Host.h"

class IParam;
namespace claphost
{
class Module;
class Instance;
}

// A loaded plug-in file of either format, which several sessions share.
struct PluginModule
{
  std::shared_ptr<vst3host::Module> vst3;
  std::shared_ptr<claphost::Module> clap;

  // A path ending in ".clap" is a CLAP file, anything else a VST 3 bundle.
  static PluginModule Open(const std::string& path);
  bool IsLoaded() const;
  std::string Error() const;
};

struct HostParam
{
  Steinberg::Vst::ParamID id = 0;
  std::string title;
  int32_t stepCount = 0;
  int32_t flags = 0;
  double min = 0.0, max = 1.0;  // plain values at normalised 0 and 1
  double def = 0.0;             // plain default
  // Tavlo's own declaration of the parameter, when the bundle is Tavlo: its
  // plain values are the parameter's own (seconds for the times, which the
  // host's plain values give in milliseconds), mapped exactly as the
  // plug-in maps them.
  std::shared_ptr<const IParam> own;
};

class PluginSession
{
public:
  PluginSession();
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // Creates the first audio effect class of a loaded module (which several
  // sessions may share) and initialises it.
  bool Load(const PluginModule& module, std::string& error);
  // Takes over an instance created in this process (one reference).
  bool Adopt(Steinberg::FUnknown* instance, std::string& error);

  const std::string& SoPath() const;
  bool ClassId(Steinberg::TUID cid) const;

  const std::vector<HostParam>& Params() const { return mParams; }
  // By title, ignoring case; the plug-in's own parameter wins over the
  // host bypass switch of the same name. Null when unknown.
  const HostParam* Find(const std::string& name) const;
  // By tag; null when unknown.
  const HostParam* FindId(Steinberg::Vst::ParamID id) const;
  // Whether the host owns it (bypass switch, program change), not the plug-in.
  static bool IsHostOnly(const HostParam& p);
  double ToNormalized(const HostParam& p, double plain) const;
  double PlainValue(const HostParam& p) const;

  // The names of the plug-in's programs (its factory presets), in order,
  // and the parameter that selects one (null without a program list).
  const std::vector<std::string>& Programs() const { return mPrograms; }
  const HostParam* ProgramParam() const;
  // The host's bypass switch; null when the plug-in has none.
  const HostParam* HostBypass() const;

  int InputBusCount() const { return mInputBuses; }
  bool HasSidechainBus() const { return mInputBuses >= 2; }

  // Bus arrangement, activation, set-up and start of processing.
  bool Start(double rate, int maxBlock, int precision, bool sidechain, std::string& error);
  void Stop();

  bool SetState(const std::vector<uint8_t>& bytes, std::string& error);
  bool GetState(std::vector<uint8_t>& bytes, std::string& error);
  // The meters as the plug-in last published them, through the private
  // interface of Tavlo's own binding (also once processing has stopped).
  // False when the plug-in does not answer it.
  bool MeterValues(std::vector<double>& values) const;

  Steinberg::tresult Process(Steinberg::Vst::ProcessData& data)
  {
    return mClap ? ProcessClap(data) : mProcessor->process(data);
  }

private:
  bool LoadVst3(std::shared_ptr<vst3host::Module> module, std::string& error);
  bool Initialise(std::string& error);
  void Release();

  // The CLAP side (PluginSessionClap.cpp).
  bool LoadClap(std::shared_ptr<claphost::Module> module, std::string& error);
  bool StartClap(double rate, int maxBlock, int precision, bool sidechain, std::string& error);
  Steinberg::tresult ProcessClap(Steinberg::Vst::ProcessData& data);
  // A value in CLAP's terms from a normalised one, and back.
  double ClapValue(const HostParam& p, double normalized) const;
  double ClapPlain(const HostParam& p, double clapValue) const;
  std::shared_ptr<claphost::Module> mClapModule;
  std::unique_ptr<claphost::Instance> mClap;
  std::vector<uint32_t> mClapMeters;  // read-only parameters: the meters
  bool mClapSidechain = false;
  int mClapProgram = -1;  // the factory preset last chosen, for a CLAP Tavlo

  std::shared_ptr<vst3host::Module> mModule;
  vst3host::HostApplication mApp{"tavlo-render"};
  vst3host::ComponentHandler mHandler;
  Steinberg::Vst::IComponent* mComponent = nullptr;
  Steinberg::Vst::IAudioProcessor* mProcessor = nullptr;
  Steinberg::Vst::IEditController* mController = nullptr;
  bool mInitialised = false, mActive = false;
  int mInputBuses = 0;
  std::vector<HostParam> mParams;
  std::vector<std::string> mPrograms;
  Steinberg::TUID mCid = {};
  bool mHasCid = false;
};
