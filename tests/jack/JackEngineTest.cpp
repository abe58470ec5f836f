// The engine of tavlo-jack without a server: periods with MIDI at their
// frames, program changes, state bytes, the settings file and the command
// line, and no allocation on the process path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AllocCounting.h"
#include "JackOptions.h"
#include "JackSettings.h"
#include "TavloJackEngine.h"
#include "fx/IParam.h"
#include "tavlo/TavloParams.h"

namespace {

constexpr int kRate = 48000;

struct Events
{
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<uint32_t> times;
  void Add(uint32_t time, std::vector<uint8_t> b)
  {
    times.push_back(time);
    bytes.push_back(std::move(b));
  }
  bool operator()(uint32_t i, TavloJackEngine::MidiEvent& e) const
  {
    e = {times[i], bytes[i].data(), bytes[i].size()};
    return true;
  }
};

struct Period
{
  std::vector<float> in[4], out[2];
  float* inPtr[4];
  float* outPtr[2];
  explicit Period(int n)
  {
    for (int c = 0; c < 4; ++c)
    {
      in[c].resize((size_t)n);
      inPtr[c] = in[c].data();
    }
    for (int c = 0; c < 2; ++c)
    {
      out[c].assign((size_t)n, 0.f);
      outPtr[c] = out[c].data();
    }
  }
  void Tone(int start)
  {
    for (size_t i = 0; i < in[0].size(); ++i)
      in[0][i] = in[1][i] = 0.8f * (float)std::sin(2.0 * M_PI * 440.0 * (double)(start + (int)i) / kRate);
  }
};

class JackEngineTest : public ::testing::Test
{
protected:
  JackEngineTest() : engine(MakePlug()) { engine.SetUp(kRate, 256); }
  double Value(int idx) { return engine.Plug().ParamAt(idx)->GetValue(); }
  TavloJackEngine engine;
};

TEST_F(JackEngineTest, ControlChangeTakesEffectAtItsFrame)
{
  // Default map: CC 20 + index. Mix to 0 at frame 100: from there the
  // output is the input (dry), before it compressed.
  ASSERT_TRUE(engine.Plug().ApplyParamValue(kInput, 300.0, false));
  Period p(256);
  Events midi;
  midi.Add(100, {0xB3, (uint8_t)(20 + kMix), 0});
  p.Tone(0);
  engine.Process(p.inPtr, p.outPtr, 256, midi, 1);
  EXPECT_EQ(Value(kMix), 0.0);
  bool compressedBefore = false;
  for (int i = 1; i < 100; ++i) compressedBefore |= p.out[0][(size_t)i] != p.in[0][(size_t)i];
  EXPECT_TRUE(compressedBefore);
  Period q(256);
  q.Tone(256);
  Events none;
  engine.Process(q.inPtr, q.outPtr, 256, none, 0);
  int wet = 0;
  for (size_t i = 0; i < 256; ++i) wet += std::fabs(q.out[0][i] - q.in[0][i]) > 1e-6f;
  EXPECT_EQ(wet, 0) << "Mix 0 is not dry after the CC";

  // Values at both ends of a CC's range, and a CC mapped to nothing.
  Events ends;
  ends.Add(0, {0xB0, (uint8_t)(20 + kOutput), 127});
  ends.Add(1, {0xB0, (uint8_t)(20 + kAttack), 0});
  ends.Add(2, {0xB0, 7, 64});
  ends.Add(3, {0xB0});  // cut short: ignored
  engine.Process(q.inPtr, q.outPtr, 256, ends, 4);
  EXPECT_EQ(Value(kOutput), engine.Plug().ParamAt(kOutput)->GetMax());
  EXPECT_EQ(Value(kAttack), engine.Plug().ParamAt(kAttack)->GetMin());
}

TEST_F(JackEngineTest, ProgramChangeChoosesAFactoryPresetAndIgnoresOthers)
{
  ASSERT_GT(engine.Plug().PresetCount(), 2);
  Period p(64);
  Events midi;
  midi.Add(0, {0xC0, 2});
  engine.Process(p.inPtr, p.outPtr, 64, midi, 1);
  EXPECT_EQ(engine.Plug().GetCurrentPresetIdx(), 2);
  double values[kNumParams];
  TavloPresetValues(2, values);
  for (int i = 0; i < kNumParams; ++i) EXPECT_DOUBLE_EQ(Value(i), values[i]) << i;
  Events beyond;
  beyond.Add(0, {0xC0, 127});
  engine.Process(p.inPtr, p.outPtr, 64, beyond, 1);
  EXPECT_EQ(engine.Plug().GetCurrentPresetIdx(), 2);
  EXPECT_EQ(engine.TakePendingProgram(), -1);
}

TEST_F(JackEngineTest, ProcessAllocatesNothing)
{
  Period p(1024);
  p.Tone(0);
  Events midi;
  midi.Add(10, {0xB0, (uint8_t)(20 + kInput), 90});
  midi.Add(500, {0xC0, 1});
  midi.Add(900, {0xB0, (uint8_t)(20 + kOversample), 127});
  // Periods longer than the scratch buffers go in pieces, still without
  // allocating.
  Period big(TavloJackEngine::kMinScratchFrames + 100);
  Events none;
  engine.Process(p.inPtr, p.outPtr, 1024, none, 0);  // first touches
  AllocCounting::Start();
  engine.Process(p.inPtr, p.outPtr, 1024, midi, 3);
  engine.Process(big.inPtr, big.outPtr, TavloJackEngine::kMinScratchFrames + 100, none, 0);
  EXPECT_EQ(AllocCounting::Stop(), 0);
  EXPECT_EQ(engine.Plug().GetCurrentPresetIdx(), 1);
}

TEST_F(JackEngineTest, StateRoundTripsAndForeignBytesAreRefused)
{
  ASSERT_TRUE(engine.Plug().ApplyParamValue(kRelease, 0.2, false));
  std::vector<uint8_t> saved;
  ASSERT_TRUE(engine.SaveState(saved));
  TavloJackEngine other(MakePlug());
  std::string error;
  ASSERT_TRUE(other.LoadState(saved, error)) << error;
  EXPECT_DOUBLE_EQ(other.Plug().ParamAt(kRelease)->GetValue(), 0.2);

  std::vector<uint8_t> shortBytes(saved.begin(), saved.begin() + 8), nan = saved;
  const double bad = std::nan("");
  memcpy(nan.data(), &bad, sizeof(bad));
  std::vector<uint8_t> badBypass = saved;
  badBypass[(size_t)kTavloFirstAppendedParam * 8] = 7;  // after the leading values: not a bypass word, 0 or 1
  for (const auto* bytes : {&shortBytes, &nan, &badBypass})
  {
    TavloJackEngine fresh(MakePlug());
    EXPECT_FALSE(fresh.LoadState(*bytes, error));
    EXPECT_DOUBLE_EQ(fresh.Plug().ParamAt(kRelease)->GetValue(), fresh.Plug().ParamAt(kRelease)->GetDefaultValue());
  }
}

// A state tavlo-render saved with the release before Detector (Drum Bus
// Glue, Output 2 dB, Oversample on): the same bytes a DAW keeps load here,
// the parameters added since at their defaults.
TEST_F(JackEngineTest, AStateTheRendererSavedLoads)
{
  std::ifstream file(TAVLO_OLD_STATE, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(100u, bytes.size());
  std::string error;
  ASSERT_TRUE(engine.LoadState(bytes, error)) << error;
  double glue[kNumParams];
  TavloPresetValues(1, glue);
  glue[kOutput] = 2.0;
  glue[kOversample] = 1.0;
  for (int i = 0; i < kNumParams; ++i) EXPECT_DOUBLE_EQ(glue[i], engine.Plug().ParamAt(i)->GetValue()) << i;
}

TEST_F(JackEngineTest, SettingsFileChangesTheCcMap)
{
  const std::string path = ::testing::TempDir() + "tavlo-jack-settings.conf";
  struct Case
  {
    const char* text;
    bool ok;
    int cc, param;
  } cases[] = {
    {"# mine\ncc 7 = Output\n", true, 7, kOutput},
    {"cc 20 = none  # Input off\n", true, 20, TavloJackEngine::kNoParam},
    {"CC 1 = mix\n", true, 1, kMix},
    {"cc 128 = Output\n", false, 0, 0},
    {"cc 5 = Ratio\n", false, 0, 0},
    {"volume = Output\n", false, 0, 0},
  };
  for (const Case& c : cases)
  {
    std::ofstream(path) << c.text;
    std::vector<int> map = engine.CcMap();
    std::string error;
    EXPECT_EQ(ReadSettingsFile(path, engine.Plug(), map, error), c.ok) << c.text << error;
    if (c.ok)
      EXPECT_EQ(map[(size_t)c.cc], c.param) << c.text;
    else
      EXPECT_NE(error.find(":1:"), std::string::npos) << error;
  }
  std::remove(path.c_str());
}

TEST(JackOptions, CommandLines)
{
  struct Case
  {
    std::vector<const char*> args;
    bool ok;
    const char* error;  // part of the message
  } cases[] = {
    {{"--set", "Input=120", "-c", "system:capture_1=in_L", "--name", "vox", "--headless"}, true, ""},
    {{"--connect", "in_L"}, false, "SRC=DST"},
    {{"--connect", "a=b=c"}, false, "SRC=DST"},
    {{"--name", "a:b"}, false, "without ':'"},
    {{"--set", "Input"}, false, "NAME=VALUE"},
    {{"--headles"}, false, "did you mean --headless"},
    {{"in.wav"}, false, "takes no files"},
  };
  for (const Case& c : cases)
  {
    std::vector<const char*> argv = {"tavlo-jack"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    TavloJackOptions opts;
    std::string error;
    EXPECT_EQ(ParseJackOptions((int)argv.size(), argv.data(), opts, error), c.ok) << c.args[0];
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (c.ok)
    {
      EXPECT_EQ(opts.name, "vox");
      ASSERT_EQ(opts.sets.size(), 1u);
      EXPECT_EQ(opts.sets[0].second, "120");
      EXPECT_EQ(opts.connects, std::vector<std::string>{"system:capture_1=in_L"});
    }
  }
}

TEST_F(JackEngineTest, StartSettingsApplyInOrderAndNameUnknownParameters)
{
  StartSettings s;
  s.preset = "nonesuch";
  std::string error;
  bool usage = false;
  EXPECT_FALSE(ApplyStartSettings(engine, s, error, &usage));
  EXPECT_TRUE(usage) << "an unknown name is the command line's fault";
  s.preset = PresetSlug(engine.Plug().GetPresetName(3));
  s.sets = {{"Output", "-3dB"}};
  ASSERT_TRUE(ApplyStartSettings(engine, s, error)) << error;
  EXPECT_EQ(engine.Plug().GetCurrentPresetIdx(), 3);
  EXPECT_DOUBLE_EQ(Value(kOutput), -3.0);
  s.sets = {{"Threshhold", "1"}};
  EXPECT_FALSE(ApplyStartSettings(engine, s, error, &usage));
  EXPECT_NE(error.find("unknown parameter"), std::string::npos);
  EXPECT_TRUE(usage);
  s.sets = {{"Output", "99dB"}};
  EXPECT_FALSE(ApplyStartSettings(engine, s, error, &usage));
  EXPECT_TRUE(usage) << error;
}

TEST_F(JackEngineTest, PresetFilesOfHostsAndOtherPlugins)
{
  // A factory preset as a VST 3 host saves it; an LV2 host's preset of
  // Tavlo and of another plug-in.
  const std::string dir = ::testing::TempDir();
  const std::string ttl = dir + "tavlo-jack-preset.ttl", other = dir + "tavlo-jack-other.ttl";
  const char* kTurtle = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                        "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                        "<> a pset:Preset ; lv2:appliesTo <%s> ;\n"
                        "  lv2:port [ lv2:symbol \"input\" ; pset:value 123.0 ] , [ lv2:symbol \"enabled\" ; pset:value 0 ] .\n";
  char text[1024];
  snprintf(text, sizeof(text), kTurtle, "https://quillmarshworks.example/plugins/tavlo");
  std::ofstream(ttl) << text;
  snprintf(text, sizeof(text), kTurtle, "urn:other:plugin");
  std::ofstream(other) << text;
  const std::string piano = std::string(TAVLO_VST3_PRESETS_DIR) + "/Piano.vstpreset";
  int pianoIdx = -1;
  for (int i = 0; i < engine.Plug().PresetCount(); ++i)
    if (std::string(engine.Plug().GetPresetName(i)) == "Piano") pianoIdx = i;
  ASSERT_GE(pianoIdx, 0);

  std::string error;
  StartSettings s;
  s.preset = piano;
  ASSERT_TRUE(ApplyStartSettings(engine, s, error)) << error;
  EXPECT_EQ(engine.Plug().GetCurrentPresetIdx(), pianoIdx);
  double values[kNumParams];
  TavloPresetValues(pianoIdx, values);
  for (int i = 0; i < kNumParams; ++i) EXPECT_DOUBLE_EQ(Value(i), values[i]) << i;

  s.preset = ttl;
  ASSERT_TRUE(ApplyStartSettings(engine, s, error)) << error;
  EXPECT_DOUBLE_EQ(Value(kInput), 123.0);

  bool usage = true;
  s.preset = other;
  EXPECT_FALSE(ApplyStartSettings(engine, s, error, &usage));
  EXPECT_NE(error.find("another plug-in"), std::string::npos) << error;
  EXPECT_FALSE(usage) << "a file's fault, not the command line's";
  s.preset = dir + "tavlo-jack-missing.ttl";
  EXPECT_FALSE(ApplyStartSettings(engine, s, error, &usage));
  EXPECT_FALSE(usage);
  EXPECT_NE(error.find("tavlo-jack-missing.ttl"), std::string::npos) << error;
  std::remove(ttl.c_str());
  std::remove(other.c_str());
}

}  // namespace
