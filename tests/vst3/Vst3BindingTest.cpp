#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/Vst3Host.h"
#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "vst3/IFxParameter.h"
#include "vst3/IFxVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using vst3host::ToAscii;

namespace {

// Parameters in groups A, A, B and none; two presets; optional MIDI,
// instrument layout and latency.
class TestPlug : public IFxBase
{
public:
  TestPlug(bool inst = false, bool midi = false, const char* io = "2-2 4-2", int sc = 2, int latency = 0)
    : IFxBase(5, io, 2, "TestPlug", "", "Vendor", 0x010203, 0x54737431, 0x56656e64, latency, midi, false, inst,
              kAPISA, sc)
  {
    ParamAt(0)->InitDouble("Gain", 0.0, -20.0, 20.0, 0.1, "dB", "A");
    ParamAt(1)->InitEnum("Mode", 0, 5, "", "A");
    ParamAt(2)->InitBool("Switch", true, "", "B");
    ParamAt(3)->InitInt("Count", 3, 1, 8, "", "");
    ParamAt(4)->InitDouble("Fine", 0.5, 0.0, 1.0, 0.001, "", "");
    ParamAt(4)->SetCanAutomate(false);
    MakeDefaultPreset("first", 1);
    ParamAt(0)->SetValue(6.0);
    MakeDefaultPreset("second", 1);
    ParamAt(0)->SetValue(0.0);
  }

  void OnParamChange(int idx) override { mChanges.push_back(idx); }
  void ProcessMidiMsg(IMidiMsg* msg) override { mMidi.push_back(*msg); }

  std::vector<int> mChanges;
  std::vector<IMidiMsg> mMidi;
};

class EventList : public IEventList
{
public:
  virtual ~EventList() {}
  int32 PLUGIN_API getEventCount() override { return (int32)mEvents.size() + mMissing; }
  tresult PLUGIN_API getEvent(int32 index, Event& e) override
  {
    if (index < 0 || index >= (int32)mEvents.size())
      return kResultFalse;
    e = mEvents[index];
    return kResultOk;
  }
  tresult PLUGIN_API addEvent(Event& e) override
  {
    mEvents.push_back(e);
    return kResultOk;
  }
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 2; }
  uint32 PLUGIN_API release() override { return 1; }
  std::vector<Event> mEvents;
  int32 mMissing = 0;  // claims events it cannot deliver
};

// A test plug-in in the binding that owns it. Bindings are reference
// counted; the test holds the creation reference.
struct Held
{
  IFxVST3* p;
  TestPlug* plug;
  vst3host::HostApplication app;
  explicit Held(TestPlug* pPlug, bool init = true) : p(new IFxVST3(pPlug)), plug(pPlug)
  {
    if (init)
    {
      EXPECT_EQ(kResultOk, p->initialize(&app));
    }
  }
  ~Held()
  {
    p->terminate();
    p->release();
  }
  IFxVST3* operator->() { return p; }
};

ParameterInfo InfoByTag(IFxVST3* p, ParamID tag)
{
  ParameterInfo info = {};
  for (int32 i = 0; i < p->getParameterCount(); ++i)
    if (p->getParameterInfo(i, info) == kResultOk && info.id == tag)
      return info;
  ADD_FAILURE() << "no parameter with tag " << tag;
  return info;
}

}  // namespace

TEST(Vst3Binding, UnitsFollowGroupsInFirstAppearanceOrder)
{
  Held h(new TestPlug());
  EXPECT_EQ(3, h->getUnitCount());
  UnitInfo u;
  ASSERT_EQ(kResultOk, h->getUnitInfo(1, u));
  EXPECT_EQ(1, u.id);
  EXPECT_EQ(0, u.parentUnitId);
  EXPECT_EQ("A", ToAscii(u.name));
  EXPECT_EQ(-1, u.programListId);
  ASSERT_EQ(kResultOk, h->getUnitInfo(2, u));
  EXPECT_EQ(2, u.id);
  EXPECT_EQ("B", ToAscii(u.name));
  EXPECT_EQ(kResultFalse, h->getUnitInfo(3, u));
  EXPECT_EQ(kResultFalse, h->getUnitInfo(-1, u));
  EXPECT_EQ(1, InfoByTag(h.p, 0).unitId);
  EXPECT_EQ(1, InfoByTag(h.p, 1).unitId);
  EXPECT_EQ(2, InfoByTag(h.p, 2).unitId);
  EXPECT_EQ(0, InfoByTag(h.p, 3).unitId);
  EXPECT_EQ(0, InfoByTag(h.p, kBypassParamTag).unitId);

  // A second initialisation finds the same names and the same units.
  ASSERT_EQ(kResultOk, h->terminate());
  ASSERT_EQ(kResultOk, h->initialize(&h.app));
  EXPECT_EQ(3, h->getUnitCount());
  EXPECT_EQ(2, InfoByTag(h.p, 2).unitId);
}

TEST(Vst3Binding, StepCountsDefaultsFlagsAndPrecision)
{
  Held h(new TestPlug());
  ASSERT_EQ(2 + 5, h->getParameterCount());
  ParameterInfo gain = InfoByTag(h.p, 0), mode = InfoByTag(h.p, 1), sw = InfoByTag(h.p, 2),
                count = InfoByTag(h.p, 3), fine = InfoByTag(h.p, 4);
  EXPECT_EQ(0, gain.stepCount);
  EXPECT_EQ(4, mode.stepCount);    // five entries
  EXPECT_EQ(1, sw.stepCount);
  EXPECT_EQ(7, count.stepCount);   // 1..8
  EXPECT_DOUBLE_EQ(0.5, gain.defaultNormalizedValue);
  EXPECT_DOUBLE_EQ(1.0, sw.defaultNormalizedValue);
  EXPECT_DOUBLE_EQ(2.0 / 7.0, count.defaultNormalizedValue);
  EXPECT_EQ("dB", ToAscii(gain.units));
  EXPECT_EQ("", ToAscii(sw.units));  // its current value has a display text
  EXPECT_EQ(ParameterInfo::kCanAutomate, gain.flags);
  EXPECT_EQ(0, fine.flags);
  EXPECT_EQ(1, h->getParameterObject(0)->getPrecision());
  EXPECT_EQ(3, h->getParameterObject(4)->getPrecision());
  EXPECT_EQ(0, h->getParameterObject(3)->getPrecision());
  ParameterInfo preset = InfoByTag(h.p, kPresetParamTag);
  EXPECT_EQ(1, preset.stepCount);  // one step per preset after the first, as program lists have

  String128 s;
  ASSERT_EQ(kResultOk, h->getParamStringByValue(2, 1.0, s));
  EXPECT_EQ("on", ToAscii(s));
  ASSERT_EQ(kResultOk, h->getParamStringByValue(0, 0.25, s));
  EXPECT_EQ("-10.0", ToAscii(s));
  ASSERT_EQ(kResultOk, h->getParamStringByValue(3, 1.0, s));
  EXPECT_EQ("8", ToAscii(s));
  // The wrapped parameter's type names.
  EXPECT_TRUE(h->getParameterObject(0)->isA("IFxParameter"));
  EXPECT_TRUE(h->getParameterObject(0)->isTypeOf("Parameter", true));
  EXPECT_FALSE(h->getParameterObject(0)->isTypeOf("Parameter", false));
}

// A unit that names a list's values makes a VST 3 list with those names as
// its value strings; a switch's words do not.
TEST(Vst3Binding, NamedValuesAreListsWithTheirValueStrings)
{
  static const char* const kNames[] = {"Peak", "RMS", "Slow"};
  static const IParamUnit kListUnit = {"", 1.0, 0, nullptr, nullptr, "", false, kNames, 3};
  static const IParamUnit kSwitchUnit = {"", 1.0, 0, "External", "Internal", ""};
  IParam list, sw;
  list.InitEnum("List", 1, 3);
  list.SetUnit(&kListUnit);
  sw.InitInt("Switch", 1, 0, 1);
  sw.SetUnit(&kSwitchUnit);
  IPtr<IFxParameter> l = owned(new IFxParameter(&list, 7, 0)), s = owned(new IFxParameter(&sw, 8, 0));
  EXPECT_EQ(ParameterInfo::kCanAutomate | ParameterInfo::kIsList, l->getInfo().flags);
  EXPECT_EQ(ParameterInfo::kCanAutomate, s->getInfo().flags);
  String128 text;
  l->toString(0.5, text);
  EXPECT_EQ("RMS", ToAscii(text));
  ParamValue n = -1.0;
  WidenToString128("slow", text);
  ASSERT_TRUE(l->fromString(text, n));
  EXPECT_EQ(1.0, n);
}

TEST(Vst3Binding, EditsReachTheComponentHandler)
{
  Held h(new TestPlug());
  // Without a handler the editor's change stays local.
  EXPECT_EQ(kResultFalse, h->beginEdit(0));
  EXPECT_EQ(kResultFalse, h->performEdit(0, 0.5));
  EXPECT_EQ(kResultFalse, h->endEdit(0));

  vst3host::ComponentHandler handler;
  ASSERT_EQ(kResultOk, h->setComponentHandler(&handler));
  h.plug->BeginInformHostOfParamChange(0);
  h.plug->SetParameterFromGUI(0, 0.75);
  h.plug->EndInformHostOfParamChange(0);
  auto edits = handler.Edits();
  ASSERT_EQ(3u, edits.size());
  EXPECT_EQ(vst3host::Edit::kBegin, edits[0].kind);
  EXPECT_EQ(0u, edits[0].tag);
  EXPECT_EQ(vst3host::Edit::kPerform, edits[1].kind);
  EXPECT_DOUBLE_EQ(0.75, edits[1].value);
  EXPECT_EQ(vst3host::Edit::kEnd, edits[2].kind);
  EXPECT_DOUBLE_EQ(10.0, h.plug->ParamAt(0)->GetValue());
  ASSERT_FALSE(h.plug->mChanges.empty());
  EXPECT_EQ(0, h.plug->mChanges.back());

  // Latency changes are announced with the latency-changed flag, from the
  // host's run loop rather than from where the change was made.
  handler.Clear();
  h.plug->SetLatency(64);
  EXPECT_EQ(64u, h->getLatencySamples());
  EXPECT_TRUE(handler.Edits().empty());
  h.app.RunTimers();
  edits = handler.Edits();
  ASSERT_EQ(1u, edits.size());
  EXPECT_EQ(vst3host::Edit::kRestart, edits[0].kind);
  EXPECT_EQ((double)kLatencyChanged, edits[0].value);

  // No open editor: no context menu is asked for.
  handler.Clear();
  h.plug->PopupHostContextMenuForParam(1, 10, 20);
  EXPECT_TRUE(handler.Edits().empty());
  h->setComponentHandler(nullptr);
  h.plug->SetLatency(0);
  EXPECT_EQ(0u, h->getLatencySamples());
}

TEST(Vst3Binding, TransportFromTheLastProcessContext)
{
  Held h(new TestPlug());
  EXPECT_EQ(0.0, h.plug->GetTempo());
  EXPECT_EQ(0, h.plug->GetSamplePos());
  ProcessSetup setup{kOffline, kSample64, 64, 48000.0};
  ASSERT_EQ(kResultOk, h->setupProcessing(setup));
  EXPECT_TRUE(h.plug->IsRenderingOffline());

  ProcessContext ctx = {};
  ctx.state = ProcessContext::kPlaying | ProcessContext::kCycleActive;
  ctx.tempo = 132.5;
  ctx.projectTimeSamples = 96000;
  ctx.projectTimeMusic = 4.5;
  ctx.barPositionMusic = 3.0;
  ctx.cycleStartMusic = 2.0;
  ctx.cycleEndMusic = 6.0;
  ctx.timeSigNumerator = 7;
  ctx.timeSigDenominator = 8;
  ProcessData data;
  data.symbolicSampleSize = kSample64;
  data.processContext = &ctx;
  ASSERT_EQ(kResultOk, h->process(data));

  ITimeInfo t;
  h.plug->GetTime(&t);
  EXPECT_EQ(132.5, t.mTempo);
  EXPECT_EQ(96000.0, t.mSamplePos);
  EXPECT_EQ(4.5, t.mPPQPos);
  EXPECT_EQ(3.0, t.mLastBar);
  EXPECT_EQ(2.0, t.mCycleStart);
  EXPECT_EQ(6.0, t.mCycleEnd);
  EXPECT_EQ(7, t.mNumerator);
  EXPECT_EQ(8, t.mDenominator);
  EXPECT_TRUE(t.mTransportIsRunning);
  EXPECT_TRUE(t.mTransportLoopEnabled);
  int num = 0, den = 0;
  h.plug->GetTimeSig(&num, &den);
  EXPECT_EQ(7, num);
  EXPECT_EQ(8, den);
  EXPECT_EQ(96000, h.plug->GetSamplePos());
  EXPECT_DOUBLE_EQ(48000.0 * 60.0 / 132.5, h.plug->GetSamplesPerBeat());

  // A block without a context keeps the previous copy.
  data.processContext = nullptr;
  ASSERT_EQ(kResultOk, h->process(data));
  EXPECT_EQ(132.5, h.plug->GetTempo());
  ctx.state = 0;
  data.processContext = &ctx;
  ASSERT_EQ(kResultOk, h->process(data));
  h.plug->GetTime(&t);
  EXPECT_FALSE(t.mTransportIsRunning);
  EXPECT_FALSE(t.mTransportLoopEnabled);
}

TEST(Vst3Binding, NoteEventsBecomeMidiMessages)
{
  Held h(new TestPlug(false, true));
  ASSERT_EQ(1, h->getBusCount(kEvent, kInput));
  BusInfo info;
  ASSERT_EQ(kResultOk, h->getBusInfo(kEvent, kInput, 0, info));
  EXPECT_EQ("MIDI Input", ToAscii(info.name));
  EXPECT_EQ(1, info.channelCount);

  EventList events;
  Event on = {};
  on.type = Event::kNoteOnEvent;
  on.sampleOffset = 10;
  on.noteOn.channel = 2;
  on.noteOn.pitch = 60;
  on.noteOn.velocity = 0.5f;  // 63.5 truncates to 63
  Event off = {};
  off.type = Event::kNoteOffEvent;
  off.sampleOffset = 33;
  off.noteOff.channel = 15;
  off.noteOff.pitch = 61;
  Event other = {};
  other.type = Event::kPolyPressureEvent;
  events.addEvent(on);
  events.addEvent(other);
  events.addEvent(off);
  events.mMissing = 2;
  ProcessData data;
  data.inputEvents = &events;
  ASSERT_EQ(kResultOk, h->process(data));
  ASSERT_EQ(2u, h.plug->mMidi.size());
  EXPECT_EQ(0x92, h.plug->mMidi[0].mStatus);
  EXPECT_EQ(60, h.plug->mMidi[0].mData1);
  EXPECT_EQ(63, h.plug->mMidi[0].mData2);
  EXPECT_EQ(10, h.plug->mMidi[0].mOffset);
  EXPECT_EQ(0x8F, h.plug->mMidi[1].mStatus);
  EXPECT_EQ(61, h.plug->mMidi[1].mData1);
  EXPECT_EQ(0, h.plug->mMidi[1].mData2);
  EXPECT_EQ(33, h.plug->mMidi[1].mOffset);

  // An effect without MIDI ignores events.
  Held fx(new TestPlug());
  EXPECT_EQ(0, fx->getBusCount(kEvent, kInput));
  ASSERT_EQ(kResultOk, fx->process(data));
  EXPECT_TRUE(fx.plug->mMidi.empty());
  EXPECT_FALSE(fx.plug->SendMidiMsg(&h.plug->mMidi[0]));
}

TEST(Vst3Binding, InstrumentBusesAndNoBypassParameter)
{
  Held h(new TestPlug(true, true, "0-4", 0));
  EXPECT_EQ(0, h->getBusCount(kAudio, kInput));
  ASSERT_EQ(2, h->getBusCount(kAudio, kOutput));
  BusInfo info;
  ASSERT_EQ(kResultOk, h->getBusInfo(kAudio, kOutput, 0, info));
  EXPECT_EQ("Output 1", ToAscii(info.name));
  EXPECT_EQ(2, info.channelCount);
  ASSERT_EQ(kResultOk, h->getBusInfo(kAudio, kOutput, 1, info));
  EXPECT_EQ("Output 2", ToAscii(info.name));
  EXPECT_EQ(1 + 5, h->getParameterCount());
  ParameterInfo first;
  ASSERT_EQ(kResultOk, h->getParameterInfo(0, first));
  EXPECT_EQ(kPresetParamTag, first.id);
  ASSERT_EQ(kResultOk, h->getParameterInfo(1, first));
  EXPECT_EQ(0u, first.id);
}

TEST(Vst3Binding, SpeakerArrangementsAndTypeNames)
{
  const SpeakerArrangement expected[10] = {0, 0x80000, 0x3, 0x103, 0x33, 0x37, 0x633, 0x637, 0x737, 0};
  for (int n = 0; n < 10; ++n)
    EXPECT_EQ(expected[n], IFxVST3::getSpeakerArrForChans(n)) << n << " channels";
  EXPECT_EQ(0u, IFxVST3::getSpeakerArrForChans(-1));

  Held h(new TestPlug(), false);
  EXPECT_STREQ("IFxVST3", h->isA());
  EXPECT_TRUE(h->isA("IFxVST3"));
  EXPECT_FALSE(h->isA("FObject"));
  for (const char* base : {"SingleComponentEffect", "EditControllerEx1", "EditController", "ComponentBase", "FObject"})
  {
    EXPECT_TRUE(h->isTypeOf(base, true)) << base;
    EXPECT_FALSE(h->isTypeOf(base, false)) << base;
  }
  EXPECT_FALSE(h->isTypeOf("Parameter", true));
  EXPECT_EQ(nullptr, h->getAudioInput(0));  // no buses before initialize
}

TEST(Vst3Binding, PresetSelectionAndNames)
{
  Held h(new TestPlug());
  vst3host::ParameterChanges changes;
  changes.Add(kPresetParamTag, 0.5);  // 0.5 * 2 presets = index 1
  ProcessData data;
  data.inputParameterChanges = &changes;
  ASSERT_EQ(kResultOk, h->process(data));
  EXPECT_DOUBLE_EQ(6.0, h.plug->ParamAt(0)->GetValue());
  String128 name;
  ASSERT_EQ(kResultOk, h->getProgramName(kPresetParamTag, 1, name));
  EXPECT_EQ("second", ToAscii(name));
  ProgramListInfo pl;
  ASSERT_EQ(kResultOk, h->getProgramListInfo(0, pl));
  EXPECT_EQ(2, pl.programCount);
  changes.Clear();
  changes.Add(kPresetParamTag, 0.49);
  ASSERT_EQ(kResultOk, h->process(data));
  EXPECT_DOUBLE_EQ(0.0, h.plug->ParamAt(0)->GetValue());
  // 1.0 is the last preset (k / step count), not one past it.
  changes.Clear();
  changes.Add(kPresetParamTag, 1.0);
  ASSERT_EQ(kResultOk, h->process(data));
  EXPECT_DOUBLE_EQ(6.0, h.plug->ParamAt(0)->GetValue());
}

TEST(Vst3Binding, ArrangementsWithoutSideChain)
{
  Held h(new TestPlug(false, false, "1-1 2-2", 0));
  SpeakerArrangement mono = SpeakerArr::kMono, stereo = SpeakerArr::kStereo;
  SpeakerArrangement two[2] = {stereo, stereo};
  EXPECT_EQ(kResultOk, h->setBusArrangements(&stereo, 1, &stereo, 1));
  EXPECT_EQ(kResultFalse, h->setBusArrangements(two, 2, &stereo, 1));
  EXPECT_EQ(kResultFalse, h->setBusArrangements(&mono, 1, &stereo, 1));
  ASSERT_EQ(kResultOk, h->setBusArrangements(&mono, 1, &mono, 1));
  // The buses keep their names and flags; only the width changes.
  BusInfo info;
  ASSERT_EQ(kResultOk, h->getBusInfo(kAudio, kInput, 0, info));
  EXPECT_EQ("Main Input", ToAscii(info.name));
  EXPECT_EQ(1, info.channelCount);
  EXPECT_EQ((uint32)BusInfo::kDefaultActive, info.flags);
  ASSERT_EQ(kResultOk, h->getBusInfo(kAudio, kOutput, 0, info));
  EXPECT_EQ("Output", ToAscii(info.name));
  EXPECT_EQ(1, info.channelCount);
  // Every channel stays disconnected until the next block.
  EXPECT_FALSE(h.plug->IsInChannelConnected(0));
  EXPECT_FALSE(h.plug->IsOutChannelConnected(0));
}

namespace {

// Reports its hook calls; can be told to fail serialisation.
class HookPlug : public TestPlug
{
public:
  HookPlug(int latency = 0) : TestPlug(false, false, "2-2 4-2", 2, latency) { mTailSize = 100; }
  void OnHostIdentified() override { ++mIdentified; }
  bool SerializeState(ByteChunk* chunk) override
  {
    return mFailSerialize ? false : TestPlug::SerializeState(chunk);
  }
  int mIdentified = 0;
  bool mFailSerialize = false;
};

// A host application whose name fills all 128 units, without terminator.
class LongNameHost : public vst3host::HostApplication
{
public:
  tresult PLUGIN_API getName(String128 name) override
  {
    const char* lead = "Cockos REAPER ";
    for (int i = 0; i < 128; ++i)
      name[i] = i < 14 ? lead[i] : 'x';
    return kResultOk;
  }
};

}  // namespace

TEST(Vst3Binding, HostIdentifiedByName)
{
  {
    HookPlug* hook = new HookPlug();
    IFxVST3* p = new IFxVST3(hook);
    vst3host::HostApplication app("REAPER");
    ASSERT_EQ(kResultOk, p->initialize(&app));
    EXPECT_EQ(kHostReaper, hook->GetHost());
    EXPECT_EQ(1, hook->mIdentified);
    p->terminate();
    p->release();
  }
  {
    HookPlug* hook = new HookPlug();
    IFxVST3* p = new IFxVST3(hook);
    vst3host::BareContext bare;
    ASSERT_EQ(kResultOk, p->initialize(&bare));
    EXPECT_EQ(kHostUninit, hook->GetHost());  // no host application: unidentified
    EXPECT_EQ(1, hook->mIdentified);
    p->terminate();
    p->release();
  }
  {
    HookPlug* hook = new HookPlug();
    IFxVST3* p = new IFxVST3(hook);
    LongNameHost app;
    ASSERT_EQ(kResultOk, p->initialize(&app));
    EXPECT_EQ(kHostReaper, hook->GetHost());  // cut at 127 characters, still found
    p->terminate();
    p->release();
  }
}

// A/B: a switch is one grouped edit of every parameter that differs, the
// host told the project changed; both slots survive the state into a new
// instance, which switches back to what the first showed.
TEST(Vst3Binding, SlotSwitchIsOneGroupOfEditsAndBothSlotsSurviveTheState)
{
  Held a(new TestPlug());
  vst3host::ComponentHandler handler;
  ASSERT_EQ(kResultOk, a->setComponentHandler(&handler));
  ASSERT_EQ(kResultOk, a->setParamNormalized(0, 0.75));  // A: Gain +10 dB
  a.plug->SwitchSlot();                                 // B starts as A
  EXPECT_EQ(1, a.plug->ShownSlot());
  EXPECT_DOUBLE_EQ(0.75, a->getParamNormalized(0));
  ASSERT_EQ(kResultOk, a->setParamNormalized(0, 0.25));  // B: Gain -10 dB
  ASSERT_EQ(kResultOk, a->setParamNormalized(3, 1.0));   // B: Count 8
  handler.Clear();
  a.plug->mChanges.clear();
  a.plug->SwitchSlot();
  EXPECT_EQ(0, a.plug->ShownSlot());
  EXPECT_DOUBLE_EQ(0.75, a->getParamNormalized(0));
  EXPECT_EQ(3.0, a.plug->ParamAt(3)->GetValue());
  EXPECT_EQ((std::vector<int>{0, 3}), a.plug->mChanges);
  using E = vst3host::Edit;
  const std::vector<std::pair<E::Kind, ParamID>> want = {
    {E::kGroupStart, 0}, {E::kBegin, 0}, {E::kBegin, 3},     {E::kPerform, 0},
    {E::kPerform, 3},    {E::kEnd, 0},   {E::kEnd, 3},       {E::kGroupFinish, 0}, {E::kDirty, 0}};
  const std::vector<vst3host::Edit> edits = handler.Edits();
  ASSERT_EQ(want.size(), edits.size());
  for (size_t i = 0; i < want.size(); ++i)
  {
    EXPECT_EQ(want[i].first, edits[i].kind) << i;
    EXPECT_EQ(want[i].second, edits[i].tag) << i;
  }
  EXPECT_DOUBLE_EQ(0.75, edits[3].value);
  EXPECT_DOUBLE_EQ(a->getParamNormalized(3), edits[4].value);
  EXPECT_EQ(-10.0, a.plug->OtherSlotValue(0));

  vst3host::MemoryStream s;
  ASSERT_EQ(kResultOk, a->getState(&s));
  Held b(new TestPlug());
  s.Rewind();
  ASSERT_EQ(kResultOk, b->setState(&s));
  EXPECT_EQ(0, b.plug->ShownSlot());
  EXPECT_DOUBLE_EQ(0.75, b->getParamNormalized(0));
  EXPECT_EQ(-10.0, b.plug->OtherSlotValue(0));
  EXPECT_EQ(8.0, b.plug->OtherSlotValue(3));
  b.plug->SwitchSlot();
  EXPECT_EQ(-10.0, b.plug->ParamAt(0)->GetValue());
  EXPECT_EQ(8.0, b.plug->ParamAt(3)->GetValue());
  // Copying the shown slot makes both the same: a switch changes nothing.
  handler.Clear();
  a.plug->CopyToOtherSlot();
  a.plug->SwitchSlot();
  EXPECT_EQ(10.0, a.plug->ParamAt(0)->GetValue());
  for (const vst3host::Edit& e : handler.Edits()) EXPECT_NE(E::kPerform, e.kind);
  a->setComponentHandler(nullptr);
}

TEST(Vst3Binding, StateFailuresAndTail)
{
  HookPlug* hook = new HookPlug();
  IFxVST3* p = new IFxVST3(hook);
  vst3host::HostApplication app;
  ASSERT_EQ(kResultOk, p->initialize(&app));
  EXPECT_EQ(100u, p->getTailSamples());
  vst3host::MemoryStream s;
  hook->mFailSerialize = true;
  EXPECT_EQ(kResultFalse, p->getState(&s));
  EXPECT_TRUE(s.Data().empty());
  // Without a size of its own state, nothing can be read back.
  vst3host::MemoryStream full(std::vector<uint8_t>(44, 0));
  EXPECT_EQ(kResultFalse, p->setState(&full));
  EXPECT_EQ(0, full.Pos());
  hook->mFailSerialize = false;
  ASSERT_EQ(kResultOk, p->getState(&s));
  // Values, bypass word, tail with the preset, the slot shown and the other
  // slot's five values.
  EXPECT_EQ(5u * 8 + 4 + 12 + 12 + 12 + 8 + 5 * 8, s.Data().size());
  p->terminate();
  p->release();
}

TEST(Vst3Binding, BypassDelaysByTheLatency)
{
  // Latency 3: bypassed output lags the input by exactly three samples.
  HookPlug* hook = new HookPlug(3);
  IFxVST3* p = new IFxVST3(hook);
  vst3host::HostApplication app;
  ASSERT_EQ(kResultOk, p->initialize(&app));
  EXPECT_EQ(3u, p->getLatencySamples());
  ProcessSetup setup{kRealtime, kSample64, 16, 48000.0};
  ASSERT_EQ(kResultOk, p->setupProcessing(setup));
  vst3host::AudioBuffers in(2, 2, 5, true), out(1, 2, 5, true);
  for (int f = 0; f < 5; ++f)
    for (int ch = 0; ch < 2; ++ch)
      in.Set(0, ch, f, f + 1.0 + 10 * ch);
  vst3host::ParameterChanges changes;
  changes.Add(kBypassParamTag, 1.0);
  ProcessData data;
  data.symbolicSampleSize = kSample64;
  data.numSamples = 5;
  data.numInputs = 2;
  data.inputs = in.Buses();
  data.numOutputs = 1;
  data.outputs = out.Buses();
  data.inputParameterChanges = &changes;
  ASSERT_EQ(kResultOk, p->process(data));
  const double left[5] = {0, 0, 0, 1, 2}, right[5] = {0, 0, 0, 11, 12};
  for (int f = 0; f < 5; ++f)
  {
    EXPECT_EQ(left[f], out.Get(0, 0, f)) << "frame " << f;
    EXPECT_EQ(right[f], out.Get(0, 1, f)) << "frame " << f;
  }
  p->terminate();
  p->release();
}
