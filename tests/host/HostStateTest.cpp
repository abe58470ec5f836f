// The state stream: nine little-endian doubles of plain values and a 32-bit
// bypass word, saved and restored through IComponent and IEditController.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "host/VstPresetFile.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kBpas = 0x62706173;
constexpr ParamID kPrst = 0x70727374;

double DoubleAt(const std::vector<uint8_t>& d, size_t off)
{
  double v;
  memcpy(&v, d.data() + off, 8);
  return v;
}

int32_t IntAt(const std::vector<uint8_t>& d, size_t off)
{
  return (int32_t)(d[off] | d[off + 1] << 8 | d[off + 2] << 16 | (uint32_t)d[off + 3] << 24);
}

std::vector<uint8_t> State(double values[9], int32_t bypass, size_t keep = 76)
{
  std::vector<uint8_t> d(76);
  memcpy(d.data(), values, 72);
  for (int i = 0; i < 4; ++i)
    d[72 + i] = (uint8_t)((uint32_t)bypass >> (8 * i));
  d.resize(keep);
  return d;
}

void SetBypass(Plug& p, double v)
{
  Block b(false, 1);
  b.data.numSamples = 0;
  b.changes.Add(kBpas, v);
  ASSERT_EQ(kResultOk, b.Run(p.proc()));
}

}  // namespace

class StateTest : public HostTest {};

TEST_F(StateTest, DefaultStateLayoutByteForByte)
{
  Plug p;
  MemoryStream s;
  ASSERT_EQ(kResultOk, p.ctrl()->getState(&s));
  const auto& d = s.Data();
  ASSERT_EQ(kStateSize, d.size());
  // The tail: magic, version 1, 144 bytes of entries; the preset entry with
  // program 0; Detector and Listen at their defaults; slot A shown; slot B
  // the same as A.
  const uint8_t tail[20] = {'T', 'v', 'l', 'T', 1, 0, 0, 0, 144, 0, 0, 0, 'p', 'r', 's', 't', 4, 0, 0, 0};
  EXPECT_EQ(0, memcmp(d.data() + kValuesSize, tail, sizeof(tail)));
  EXPECT_EQ(0, IntAt(d, 96));
  const uint8_t appended[8] = {'a', 'p', 'n', 'd', 16, 0, 0, 0};
  EXPECT_EQ(0, memcmp(d.data() + 100, appended, sizeof(appended)));
  EXPECT_EQ(0.0, DoubleAt(d, 108));
  EXPECT_EQ(0.0, DoubleAt(d, 116));
  const uint8_t slot[8] = {'s', 'l', 'o', 't', 4, 0, 0, 0};
  EXPECT_EQ(0, memcmp(d.data() + 124, slot, sizeof(slot)));
  EXPECT_EQ(0, IntAt(d, 132));
  const uint8_t other[8] = {'o', 't', 'h', 'r', 88, 0, 0, 0};
  EXPECT_EQ(0, memcmp(d.data() + 136, other, sizeof(other)));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(DoubleAt(d, 8 * i), DoubleAt(d, 144 + 8 * i)) << "slot B, parameter " << i;
  const double defaults[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(defaults[i], DoubleAt(d, 8 * i)) << "parameter " << i;
  // Little-endian on this platform: 100.0 is 0x4059000000000000.
  const uint8_t mix[8] = {0, 0, 0, 0, 0, 0, 0x59, 0x40};
  EXPECT_EQ(0, memcmp(d.data() + 32, mix, 8));
  EXPECT_EQ(0, IntAt(d, 72));

  // The component side writes the same stream.
  MemoryStream c;
  ASSERT_EQ(kResultOk, p.comp()->getState(&c));
  EXPECT_EQ(d, c.Data());
  EXPECT_EQ(kResultFalse, p.ctrl()->getState(nullptr));
}

TEST_F(StateTest, SaveAndRestoreThroughAFreshInstance)
{
  Plug a;
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(1, 0.75));   // Output +10
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(3, 0.5));    // Release 0.2
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(6, 1.0));    // Oversample on
  a.Start();
  SetBypass(a, 1.0);
  MemoryStream s;
  ASSERT_EQ(kResultOk, a.comp()->getState(&s));
  ASSERT_EQ(kStateSize, s.Data().size());
  EXPECT_EQ(10.0, DoubleAt(s.Data(), 8));
  EXPECT_DOUBLE_EQ(0.2, DoubleAt(s.Data(), 24));
  EXPECT_EQ(1.0, DoubleAt(s.Data(), 48));
  EXPECT_EQ(1, IntAt(s.Data(), 72));

  Plug b;
  s.Rewind();
  ASSERT_EQ(kResultOk, b.comp()->setState(&s));
  EXPECT_DOUBLE_EQ(0.75, b.ctrl()->getParamNormalized(1));
  EXPECT_DOUBLE_EQ(0.5, b.ctrl()->getParamNormalized(3));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(6));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(kBpas));
  MemoryStream again;
  ASSERT_EQ(kResultOk, b.ctrl()->getState(&again));
  EXPECT_EQ(s.Data(), again.Data());

  // Restored bypassed, it passes its input through untouched, as late as
  // the oversampled signal would come (the latency it reports).
  b.Start();
  const int latency = (int)b.proc()->getLatencySamples();
  EXPECT_EQ(5, latency);
  Block blk(false, 64);
  for (int f = 0; f < 64; ++f)
    for (int ch = 0; ch < 2; ++ch)
      blk.in.Set(0, ch, f, TestSignal(ch, f));
  ASSERT_EQ(kResultOk, blk.Run(b.proc()));
  for (int f = 0; f < 64; ++f)
    ASSERT_EQ(f < latency ? 0.0 : blk.in.Get(0, 1, f - latency), blk.out.Get(0, 1, f)) << f;

  // A zero bypass word restores un-bypassed, through the controller side.
  std::vector<uint8_t> d = s.Data();
  d[72] = 0;
  MemoryStream z(d);
  ASSERT_EQ(kResultOk, b.ctrl()->setState(&z));
  EXPECT_DOUBLE_EQ(0.0, b.ctrl()->getParamNormalized(kBpas));
  // Any non-zero word means bypassed.
  d[72] = 0;
  d[75] = 0x80;
  MemoryStream neg(d);
  ASSERT_EQ(kResultOk, b.ctrl()->setState(&neg));
  EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(kBpas));
}

TEST_F(StateTest, BypassSurvivesANewProcessingSetup)
{
  // A project restored bypassed stays bypassed when the host changes the
  // sample rate or block size, as its bypass button still shows.
  Plug p;
  double v[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
  MemoryStream s(State(v, 1));
  ASSERT_EQ(kResultOk, p.comp()->setState(&s));
  ASSERT_EQ(kResultOk, p.Setup(kSample32, 256, 44100.0));
  EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
  ASSERT_EQ(kResultOk, p.Setup(kSample64, 1024, 96000.0));
  EXPECT_DOUBLE_EQ(1.0, p.ctrl()->getParamNormalized(kBpas));
  SetBypass(p, 0.0);
  ASSERT_EQ(kResultOk, p.Setup(kSample64, 1024, 48000.0));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
}

TEST_F(StateTest, ShortOrFailingStreamsChangeNothing)
{
  // Every field of the stream differs from the instance's state, so any
  // part of it applied shows in the saved bytes.
  double v[9] = {200.0, -10.0, 0.009, 0.5, 0.0, 100.0, 1.0, 1.0, 0.0};
  struct Case
  {
    const char* what;
    size_t keep;     // bytes of the 76 the stream holds
    int32 perCall;   // bytes per read call, 0 for all at once
    bool failing;
  };
  const Case cases[] = {
    {"empty", 0, 0, false},
    {"20 bytes", 20, 0, false},
    {"20 bytes, 4 per call", 20, 4, false},
    {"values without the bypass word", 72, 0, false},
    {"two bytes of the bypass word", 74, 0, false},
    {"75 bytes, 1 per call", 75, 1, false},
    {"reads that fail", 76, 0, true},
  };
  for (const Case& c : cases)
    for (bool viaController : {false, true})
    {
      SCOPED_TRACE(std::string(c.what) + (viaController ? ", controller" : ", component"));
      Plug p;
      p.Start();
      ASSERT_EQ(kResultOk, p.ctrl()->setParamNormalized(4, 0.5));
      MemoryStream before;
      ASSERT_EQ(kResultOk, p.ctrl()->getState(&before));

      MemoryStream s(State(v, 1, c.keep));
      s.SetMaxPerCall(c.perCall);
      s.SetHostile(c.failing);
      EXPECT_EQ(kResultFalse, viaController ? p.ctrl()->setState(&s) : p.comp()->setState(&s));

      MemoryStream after;
      ASSERT_EQ(kResultOk, p.ctrl()->getState(&after));
      EXPECT_EQ(before.Data(), after.Data());
      EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(4));
      EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
    }
}

TEST_F(StateTest, StreamsThatMoveAFewBytesPerCallAreLoopedOver)
{
  Plug a;
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(1, 0.75));
  a.Start();
  SetBypass(a, 1.0);
  MemoryStream whole;
  ASSERT_EQ(kResultOk, a.ctrl()->getState(&whole));
  ASSERT_EQ(kStateSize, whole.Data().size());

  // One byte per write call: the same bytes.
  MemoryStream trickle;
  trickle.SetMaxPerCall(1);
  ASSERT_EQ(kResultOk, a.comp()->getState(&trickle));
  EXPECT_EQ(whole.Data(), trickle.Data());
  EXPECT_GE(trickle.WriteCalls(), (int)kStateSize);

  // A few bytes per read call restore all of it, bypass word included.
  for (int32 perCall : {1, 4, 7})
  {
    SCOPED_TRACE(perCall);
    Plug b;
    MemoryStream s(whole.Data());
    s.SetMaxPerCall(perCall);
    ASSERT_EQ(kResultOk, b.comp()->setState(&s));
    EXPECT_EQ((int64)kStateSize, s.Pos());
    EXPECT_DOUBLE_EQ(0.75, b.ctrl()->getParamNormalized(1));
    EXPECT_DOUBLE_EQ(1.0, b.ctrl()->getParamNormalized(kBpas));
    MemoryStream again;
    ASSERT_EQ(kResultOk, b.ctrl()->getState(&again));
    EXPECT_EQ(whole.Data(), again.Data());
  }

  // A stream that runs out of room fails the save, wherever it stops.
  for (int64 room : {0, 8, 72, 75, 99})
  {
    SCOPED_TRACE(room);
    MemoryStream full;
    full.SetCapacity(room);
    EXPECT_EQ(kResultFalse, a.ctrl()->getState(&full));
    full.SetMaxPerCall(3);
    full.Rewind();
    EXPECT_EQ(kResultFalse, a.comp()->getState(&full));
  }
  MemoryStream exact;
  exact.SetCapacity(kStateSize);
  EXPECT_EQ(kResultOk, a.ctrl()->getState(&exact));
  EXPECT_EQ(whole.Data(), exact.Data());
}

TEST_F(StateTest, HostileAndOutOfRangeStreams)
{
  Plug p;
  p.ctrl()->setParamNormalized(0, 0.3);
  p.ctrl()->setParamNormalized(4, 0.5);
  MemoryStream hostile(std::vector<uint8_t>(76, 0x7F));
  hostile.SetHostile(true);  // reads fail and report -1 bytes
  EXPECT_EQ(kResultFalse, p.comp()->setState(&hostile));
  // Nothing was delivered, so nothing changes.
  EXPECT_DOUBLE_EQ(0.3, p.ctrl()->getParamNormalized(0));
  EXPECT_DOUBLE_EQ(0.5, p.ctrl()->getParamNormalized(4));
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));

  MemoryStream empty;
  EXPECT_EQ(kResultFalse, p.comp()->setState(&empty));
  EXPECT_EQ(kResultFalse, p.comp()->setState(nullptr));

  // Values outside the ranges are clamped on restore.
  double v[9] = {1e9, -1e9, 5.0, -3.0, 1000.0, 0.0, 7.0, -2.0, 2.0};
  MemoryStream s(State(v, 1));
  ASSERT_EQ(kResultOk, p.comp()->setState(&s));
  const double expected[9] = {1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 1.0};
  for (int i = 0; i < 9; ++i)
    EXPECT_DOUBLE_EQ(expected[i], p.ctrl()->getParamNormalized(i)) << "parameter " << i;

  // A stream longer than the state: the rest stays unread, with a tail
  // and without one (what was read to look for it is given back).
  std::vector<uint8_t> longer = State(v, 0);
  longer.resize(200, 0xEE);
  MemoryStream l(longer);
  ASSERT_EQ(kResultOk, p.comp()->setState(&l));
  EXPECT_EQ(76, l.Pos());
  EXPECT_DOUBLE_EQ(0.0, p.ctrl()->getParamNormalized(kBpas));
  MemoryStream whole;
  ASSERT_EQ(kResultOk, p.ctrl()->getState(&whole));
  std::vector<uint8_t> more = whole.Data();
  more.resize(300, 0x54);
  MemoryStream m(more);
  ASSERT_EQ(kResultOk, p.comp()->setState(&m));
  EXPECT_EQ((int64)kStateSize, m.Pos());
}

// The preset chosen travels in the state's tail, so that a reopened project
// shows it again. A state from before the tail shows the factory preset
// its values are, if they are one, and "Default" only for the defaults; a
// tail from a later release, with entries this one does not know, loads.
TEST_F(StateTest, TheChosenPresetTravelsWithTheState)
{
  auto presetShown = [](Plug& p) {
    String128 s = {};
    p.ctrl()->getParamStringByValue(kPrst, p.ctrl()->getParamNormalized(kPrst), s);
    return ToAscii(s);
  };
  auto restoredInto = [](Plug& p, const std::vector<uint8_t>& bytes) {
    MemoryStream s(bytes);
    EXPECT_EQ(kResultOk, p.comp()->setState(&s));
  };
  Plug a;
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(kPrst, 8.0 / 11));  // Piano
  ASSERT_EQ(kResultOk, a.ctrl()->setParamNormalized(1, 0.9));           // edited since
  MemoryStream saved;
  ASSERT_EQ(kResultOk, a.ctrl()->getState(&saved));
  EXPECT_EQ(8, IntAt(saved.Data(), 96));
  {
    Plug b;
    restoredInto(b, saved.Data());
    EXPECT_EQ("Piano", presetShown(b));
    EXPECT_DOUBLE_EQ(0.9, b.ctrl()->getParamNormalized(1));
  }
  // Before the tail: Piano's values untouched name Piano; edited ones name
  // nothing, so the preset stays as it was (a fresh instance's Default is
  // then the one a host shows, for want of another).
  Plug c;
  ASSERT_EQ(kResultOk, c.ctrl()->setParamNormalized(kPrst, 8.0 / 11));
  MemoryStream piano;
  ASSERT_EQ(kResultOk, c.ctrl()->getState(&piano));
  {
    Plug d;
    restoredInto(d, std::vector<uint8_t>(piano.Data().begin(), piano.Data().begin() + kValuesSize));
    EXPECT_EQ("Piano", presetShown(d));
    restoredInto(d, std::vector<uint8_t>(saved.Data().begin(), saved.Data().begin() + kValuesSize));
    EXPECT_EQ("Piano", presetShown(d));
    EXPECT_DOUBLE_EQ(0.9, d.ctrl()->getParamNormalized(1));
    double v[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
    restoredInto(d, State(v, 0));
    EXPECT_EQ("Default", presetShown(d));
  }
  // A later release's tail: version 2, an unknown entry before the preset,
  // and one cut short after it.
  std::vector<uint8_t> later(saved.Data().begin(), saved.Data().begin() + kValuesSize);
  const uint8_t tail[] = {'T', 'v', 'l', 'T', 2, 0, 0, 0, 32, 0, 0, 0,  // 32 bytes of entries
                          'a', 'b', 's', 'l', 4, 0, 0, 0, 1, 2, 3, 4,
                          'p', 'r', 's', 't', 4, 0, 0, 0, 3, 0, 0, 0,
                          'c', 'u', 't', 0, 9, 0, 0, 0};
  later.insert(later.end(), tail, tail + sizeof(tail));
  {
    Plug e;
    MemoryStream s(later);
    ASSERT_EQ(kResultOk, e.comp()->setState(&s));
    EXPECT_EQ((int64)later.size(), s.Pos());
    EXPECT_EQ("Parallel Crush", presetShown(e));
    EXPECT_DOUBLE_EQ(0.9, e.ctrl()->getParamNormalized(1));
  }
}

// The installed factory presets: one .vstpreset file per program, named
// after it, for this plug-in's class, holding the state the program leaves
// (with the bypass word 0). Loaded into a fresh instance as a host loads a
// preset file, it gives that program's values. A file written for another
// layout, a stale file or a missing program fails here.
TEST_F(StateTest, FactoryPresetFilesHoldEachProgramsState)
{
  Plug p;
  ASSERT_TRUE(p.inst);
  IUnitInfo* units = nullptr;
  ASSERT_EQ(kResultOk, p.ctrl()->queryInterface(IUnitInfo::iid, (void**)&units));
  ProgramListInfo list;
  ASSERT_EQ(kResultOk, units->getProgramListInfo(0, list));
  const std::string folder = TAVLO_VST3_PRESETS_DIR;
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    files += e.path().extension() == ".vstpreset";
  EXPECT_EQ(list.programCount, files);

  for (int32 k = 0; k < list.programCount; ++k)
  {
    String128 name = {};
    ASSERT_EQ(kResultOk, units->getProgramName(list.id, k, name));
    SCOPED_TRACE(ToAscii(name));
    ParameterChanges changes;
    changes.Add(list.id, p.ctrl()->plainParamToNormalized(list.id, k));
    ProcessData data;
    data.inputParameterChanges = &changes;
    ASSERT_EQ(kResultOk, p.proc()->process(data));
    MemoryStream program;
    ASSERT_EQ(kResultOk, p.comp()->getState(&program));
    ASSERT_EQ(kStateSize, program.Data().size());
    EXPECT_EQ(0, IntAt(program.Data(), 72));

    std::ifstream in(folder + "/" + ToAscii(name) + ".vstpreset", std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string cid, error;
    std::vector<uint8_t> state;
    ASSERT_TRUE(ReadVstPreset(file, cid, state, error)) << error;
    EXPECT_EQ("F2AEE70D00DE4F4E5175696C54617631", cid);
    EXPECT_EQ(ClassIdText(TavloCid()), cid);
    EXPECT_EQ(program.Data(), state);

    Plug fresh;
    MemoryStream stream(state);
    ASSERT_EQ(kResultOk, fresh.comp()->setState(&stream));
    for (ParamID tag = 0; tag < 9; ++tag)
      EXPECT_EQ(p.ctrl()->getParamNormalized(tag), fresh.ctrl()->getParamNormalized(tag)) << tag;
  }
  units->release();
}

// The file format on its own: a file made here reads back, and damaged
// ones are refused rather than read past their end.
TEST(VstPresetFile, WrittenFilesReadBackAndDamagedOnesAreRefused)
{
  const std::vector<uint8_t> state = {1, 2, 3, 4, 5};
  const std::vector<uint8_t> file = MakeVstPreset(TavloCid(), state);
  ASSERT_EQ(48u + 5u + 8u + 20u, file.size());
  EXPECT_EQ(0, memcmp(file.data(), "VST3\x01\0\0\0F2AEE70D", 16));
  std::string cid, error;
  std::vector<uint8_t> got;
  ASSERT_TRUE(ReadVstPreset(file, cid, got, error)) << error;
  EXPECT_EQ(state, got);

  struct Damage
  {
    const char* what;
    size_t at;     // byte changed, or the length kept when set is negative
    int set;
  };
  const Damage damages[] = {
    {"empty", 0, -1},
    {"header only", 48, -1},
    {"list cut", 48 + 5 + 8 + 10, -1},
    {"wrong magic", 0, 'X'},
    {"list offset past the end", 47, 0x7F},
    {"no Comp chunk", 48 + 5 + 8, 'X'},
    {"chunk size past the end", 48 + 5 + 8 + 19, 0x7F},
    {"huge entry count", 48 + 5 + 7, 0x7F},
  };
  for (const Damage& d : damages)
  {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> bad = file;
    if (d.set < 0)
      bad.resize(d.at);
    else
      bad[d.at] = (uint8_t)d.set;
    error.clear();
    EXPECT_FALSE(ReadVstPreset(bad, cid, got, error));
    EXPECT_FALSE(error.empty());
  }
}
