// What the plug-in tells the host, and when: never from inside a call the
// host is making on the controller (Ardour holds a lock there that its
// restartComponent takes too), always once the host's run loop turns.

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "host/VstPresetFile.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace vst3host;

namespace {

constexpr ParamID kPrst = 0x70727374;
constexpr ParamID kOversampleTag = 6;
constexpr int kLeadVocal = 6;  // Input 160, Output +6.5 dB, HPF 100 Hz

int Restarts(const ComponentHandler& h, int32 flag)
{
  int n = 0;
  for (const Edit& e : h.Edits())
    if (e.kind == Edit::kRestart && ((int32)e.value & flag)) ++n;
  return n;
}

// The values the processor reported in one block's output changes, by tag.
std::map<ParamID, double> Reported(ParameterChanges& out)
{
  std::map<ParamID, double> values;
  for (int32 i = 0; i < out.getParameterCount(); ++i)
  {
    IParamValueQueue* q = out.getParameterData(i);
    int32 offset = 0;
    ParamValue v = 0.0;
    if (q && q->getPointCount() > 0 && q->getPoint(q->getPointCount() - 1, offset, v) == kResultOk)
      values[q->getParameterId()] = v;
  }
  return values;
}

std::vector<uint8_t> LeadVocalState()
{
  Plug p;
  p.ctrl()->setParamNormalized(kPrst, kLeadVocal / 11.0);
  MemoryStream s;
  EXPECT_EQ(kResultOk, p.ctrl()->getState(&s));
  return s.Data();
}

std::vector<uint8_t> LeadVocalPresetFile()
{
  std::ifstream in(std::string(TAVLO_VST3_PRESETS_DIR) + "/Lead Vocal.vstpreset", std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string cid, error;
  std::vector<uint8_t> state;
  EXPECT_TRUE(ReadVstPreset(file, cid, state, error)) << error;
  return state;
}

}  // namespace

class NoticesTest : public HostTest {};

// Every way many values change at once, each inside a host call that holds
// the host's lock: nothing is told inside it, the host hears one restart
// once its run loop turns, reads every value right, and the next block
// reports them all (for hosts that follow the processor's output changes).
TEST_F(NoticesTest, ManyValuesChangedAreToldAfterTheHostsCall)
{
  const std::vector<uint8_t> state = LeadVocalState(), file = LeadVocalPresetFile();
  struct Way
  {
    const char* what;
    std::function<tresult(Plug&)> change;
  };
  const Way ways[] = {
    {"program through the controller", [](Plug& p) { return p.ctrl()->setParamNormalized(kPrst, kLeadVocal / 11.0); }},
    {"controller state", [&](Plug& p) { MemoryStream s(state); return p.ctrl()->setState(&s); }},
    {"component state", [&](Plug& p) { MemoryStream s(state); return p.comp()->setState(&s); }},
    {"preset file", [&](Plug& p) { MemoryStream s(file); return p.comp()->setState(&s); }},
  };
  for (const Way& w : ways)
  {
    SCOPED_TRACE(w.what);
    Plug p;
    p.Start();
    p.handler.Clear();
    {
      ComponentHandler::Call call(p.handler);
      ASSERT_EQ(kResultOk, w.change(p));
    }
    EXPECT_EQ(0, p.handler.RestartsInsideCalls());
    EXPECT_EQ(0, Restarts(p.handler, kParamValuesChanged));
    p.app.RunTimers();
    EXPECT_EQ(1, Restarts(p.handler, kParamValuesChanged));
    p.app.RunTimers();
    EXPECT_EQ(1, Restarts(p.handler, kParamValuesChanged));  // told once
    EXPECT_DOUBLE_EQ(160.0, p.ctrl()->normalizedParamToPlain(0, p.ctrl()->getParamNormalized(0)));
    EXPECT_DOUBLE_EQ(kLeadVocal / 11.0, p.ctrl()->getParamNormalized(kPrst));

    Block b(false, 64);
    ParameterChanges out;
    b.data.outputParameterChanges = &out;
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    const auto reported = Reported(out);
    EXPECT_EQ(11u, reported.size());
    for (ParamID tag = 0; tag < 11; ++tag)
      EXPECT_EQ(p.ctrl()->getParamNormalized(tag), reported.count(tag) ? reported.at(tag) : -1.0) << tag;
    ParameterChanges none;
    b.data.outputParameterChanges = &none;
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
    EXPECT_EQ(0, none.getParameterCount());
  }
}

// A host's program change inside a block and Oversample automated there:
// the host hears both once its run loop turns, and the block that chose
// the program reports its values.
TEST_F(NoticesTest, ChangesOnTheAudioThreadAreToldFromTheRunLoop)
{
  Plug p;
  p.Start();
  p.handler.Clear();
  Block b(false, 64);
  ParameterChanges out;
  b.data.outputParameterChanges = &out;
  b.changes.Add(kPrst, kLeadVocal / 11.0, 10);
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_EQ(11u, Reported(out).size());
  EXPECT_TRUE(p.handler.Edits().empty());
  p.app.RunTimers();
  EXPECT_EQ(1, Restarts(p.handler, kParamValuesChanged));

  p.handler.Clear();
  b.changes.Clear();
  b.changes.Add(kOversampleTag, 1.0, 20);
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_EQ(5u, p.proc()->getLatencySamples());
  EXPECT_TRUE(p.handler.Edits().empty());
  p.app.RunTimers();
  EXPECT_EQ(1, Restarts(p.handler, kLatencyChanged));
}

// A host whose context offers no run loop: the restart waits for an open
// view's run loop (none here), is never told inside a call, and the values
// still reach the host through the next block's output changes.
TEST_F(NoticesTest, WithoutARunLoopNothingIsToldInsideACall)
{
  HostApplication app("No Loop Host", false);
  ComponentHandler handler;
  Instance inst(SharedModule().Factory(), TavloCid());
  ASSERT_EQ(kResultOk, inst.component->initialize(&app));
  inst.controller->setComponentHandler(&handler);
  {
    ComponentHandler::Call call(handler);
    ASSERT_EQ(kResultOk, inst.controller->setParamNormalized(kPrst, kLeadVocal / 11.0));
  }
  EXPECT_EQ(0, handler.RestartsInsideCalls());
  EXPECT_EQ(0, Restarts(handler, kParamValuesChanged));
  Vst::ProcessSetup setup{kRealtime, kSample32, 512, 48000.0};
  ASSERT_EQ(kResultOk, inst.processor->setupProcessing(setup));
  ASSERT_EQ(kResultOk, inst.component->setActive(true));
  Block b(false, 64);
  ParameterChanges out;
  b.data.outputParameterChanges = &out;
  ASSERT_EQ(kResultOk, b.Run(inst.processor));
  EXPECT_EQ(11u, Reported(out).size());
  inst.component->setActive(false);
  inst.controller->setComponentHandler(nullptr);
  inst.component->terminate();
}
