#pragma once

// Shared set-up of the end-to-end tests: the module is loaded once per test
// program, each test makes its own instances.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "host/Vst3Host.h"

namespace vst3host {

// A saved state: nine doubles, the bypass word (76 bytes, all a state held
// before it had a tail), then the tail: "TvlT", version 1, the byte count
// of its entries (144) and the entries: the preset ("prst", 4 bytes, the
// program number), the parameters added since ("apnd", Detector and
// Listen), the A/B slot shown ("slot", 4 bytes) and the other slot's
// eleven values ("othr", 88 bytes).
constexpr size_t kValuesSize = 76;
constexpr size_t kStateSize = 232;
// The eleven parameters, the host's bypass and the preset list.
constexpr int kHostParams = 13;

// The class ID of the one plug-in class, as the factory must report it.
constexpr unsigned char kTavloCid[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                         0x51, 0x75, 0x69, 0x6C, 0x54, 0x61, 0x76, 0x31};

inline Module& SharedModule()
{
  static Module module(TAVLO_BUNDLE_PATH);
  return module;
}

inline const TUID& TavloCid()
{
  static TUID cid;
  memcpy(cid, kTavloCid, sizeof(cid));
  return cid;
}

// A created and initialised instance with a host context and a handler.
struct Plug
{
  HostApplication app;
  ComponentHandler handler;
  Instance inst;

  explicit Plug(bool init = true) : inst(SharedModule().Factory(), TavloCid())
  {
    if (init && inst)
    {
      EXPECT_EQ(kResultOk, inst.component->initialize(&app));
      inst.controller->setComponentHandler(&handler);
    }
  }
  ~Plug()
  {
    if (inst)
    {
      inst.processor->setProcessing(false);
      inst.component->setActive(false);
      inst.controller->setComponentHandler(nullptr);
      inst.component->terminate();
    }
  }

  Vst::IComponent* comp() { return inst.component; }
  Vst::IAudioProcessor* proc() { return inst.processor; }
  Vst::IEditController* ctrl() { return inst.controller; }

  tresult Setup(int32 sampleSize = Vst::kSample32, int32 maxBlock = 512, double rate = 48000.0,
                int32 mode = Vst::kRealtime)
  {
    Vst::ProcessSetup setup{mode, sampleSize, maxBlock, rate};
    return inst.processor->setupProcessing(setup);
  }

  // Set-up, activation and processing on, the usual order of a host.
  void Start(int32 sampleSize = Vst::kSample32, int32 maxBlock = 512, double rate = 48000.0)
  {
    ASSERT_EQ(kResultOk, Setup(sampleSize, maxBlock, rate));
    ASSERT_EQ(kResultOk, inst.component->setActive(true));
    inst.processor->setProcessing(true);
  }
};

class HostTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(SharedModule().IsLoaded()) << SharedModule().Error();
  }
};

}  // namespace vst3host

namespace vst3host {

// One process call with main input, optional side-chain and stereo output,
// all of the same sample type. Owns its buffers; inputs are filled by the
// caller through In()/Sc().
struct Block
{
  bool is64;
  int frames;
  AudioBuffers in, sc, out;
  Vst::AudioBusBuffers inBuses[2];
  ParameterChanges changes;
  Vst::ProcessData data;

  Block(bool is64_, int frames_, bool withSc = true)
    : is64(is64_), frames(frames_), in(1, 2, frames_, is64_), sc(1, 2, frames_, is64_),
      out(1, 2, frames_, is64_)
  {
    inBuses[0] = in.Buses()[0];
    inBuses[1] = sc.Buses()[0];
    data.processMode = Vst::kRealtime;
    data.symbolicSampleSize = is64 ? Vst::kSample64 : Vst::kSample32;
    data.numSamples = frames;
    data.numInputs = withSc ? 2 : 1;
    data.numOutputs = 1;
    data.inputs = inBuses;
    data.outputs = out.Buses();
    data.inputParameterChanges = &changes;
  }

  tresult Run(Vst::IAudioProcessor* p) { return p->process(data); }
};

// A test signal that is exact in single precision, so 32- and 64-bit hosts
// feed the plug-in the same numbers.
inline double TestSignal(int ch, long frame, double amp = 0.5)
{
  double v = amp * std::sin(0.013 * frame * (ch + 1)) + 0.1 * amp * std::sin(0.0021 * frame);
  return (double)(float)v;
}

}  // namespace vst3host
