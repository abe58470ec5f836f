#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tavlo_test_util.h"

namespace
{
std::vector<uint8_t> Bytes(const ByteChunk& c)
{
  return std::vector<uint8_t>(c.Data(), c.Data() + c.Size());
}

std::vector<uint8_t> StateOf(const std::vector<double>& values)
{
  std::vector<uint8_t> out;
  for (double v : values)
  {
    uint8_t b[8];
    memcpy(b, &v, 8);
    out.insert(out.end(), b, b + 8);
  }
  return out;
}

const std::vector<double> kDefaults = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0, 0.0, 0.0};
} // namespace

TEST(TavloState, DefaultStateIs88LittleEndianBytes)
{
  TavloPtr plug = MakeRestoredTavlo();
  ByteChunk c;
  EXPECT_TRUE(plug->SerializeState(&c));
  ASSERT_EQ(c.Size(), 88);
  EXPECT_EQ(Bytes(c), StateOf(kDefaults));
  // Spot checks in raw bytes: Mix 100.0 at offset 32, Sidechain 1.0 at 64.
  const uint8_t mix[8] = {0, 0, 0, 0, 0, 0, 0x59, 0x40};
  const uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  const uint8_t attack[8] = {0x7B, 0x14, 0xAE, 0x47, 0xE1, 0x7A, 0x74, 0x3F};  // 0.005
  EXPECT_EQ(memcmp(c.Data() + 32, mix, 8), 0);
  EXPECT_EQ(memcmp(c.Data() + 64, one, 8), 0);
  EXPECT_EQ(memcmp(c.Data() + 16, attack, 8), 0);

  // The first preset, "Default", holds the same bytes: the bank starts with
  // its name, its flag and the state.
  ByteChunk bank;
  plug->SerializePresets(&bank);
  std::vector<uint8_t> want = {7, 0, 0, 0, 'D', 'e', 'f', 'a', 'u', 'l', 't', 1};
  std::vector<uint8_t> state = StateOf(kDefaults);
  want.insert(want.end(), state.begin(), state.end());
  ASSERT_GE(bank.Size(), (int)want.size());
  EXPECT_EQ(std::vector<uint8_t>(bank.Data(), bank.Data() + want.size()), want);
}

TEST(TavloState, FullRestoreSetsEveryParameterAndCachedValue)
{
  TavloPtr plug = MakeRestoredTavlo();
  const std::vector<double> stored = {123.45, -6.0, 0.002, 0.45, 50.0, 250.0, 1.0, 1.0, 0.0, 2.0, 1.0};
  ByteChunk c;
  for (double v : stored) c.Append(v);
  EXPECT_EQ(plug->UnserializeState(&c, 0), 88);
  for (int i = 0; i < kNumParams; ++i) EXPECT_EQ(plug->ParamAt(i)->GetValue(), stored[i]) << i;
  EXPECT_EQ(plug->NextBlockSettings().detector, kDetectLinked);
  EXPECT_EQ(plug->NextBlockSettings().listen, 1);
  EXPECT_EQ(plug->NextBlockSettings().input, 123.45);
  EXPECT_NEAR(plug->NextBlockSettings().outputGain, 0.501187233627, 1e-12);
  EXPECT_EQ(plug->NextBlockSettings().attack, 0.002);
  EXPECT_EQ(plug->NextBlockSettings().release, 0.45);
  EXPECT_EQ(plug->NextBlockSettings().mix, 50.0);
  EXPECT_EQ(plug->NextBlockSettings().hpfFreq, 250.0);

  // Saved again, the same bytes come out.
  ByteChunk again;
  plug->SerializeState(&again);
  EXPECT_EQ(Bytes(again), StateOf(stored));

  // Values outside the ranges are clamped.
  ByteChunk wild;
  for (double v : {-5.0, 50.0, 1.0, 0.0, 250.0, 5.0, 7.0, -1.0, 0.5, 9.0, -3.0}) wild.Append(v);
  EXPECT_EQ(plug->UnserializeState(&wild, 0), 88);
  EXPECT_EQ(plug->ParamAt(kInput)->GetValue(), 0.0);
  EXPECT_EQ(plug->ParamAt(kOutput)->GetValue(), 20.0);
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 10.0);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kAttack)->GetValue(), 0.0101);
  EXPECT_EQ(plug->ParamAt(kRelease)->GetValue(), 0.1);
  EXPECT_EQ(plug->ParamAt(kMix)->GetValue(), 100.0);
  EXPECT_EQ(plug->ParamAt(kHPF)->GetValue(), 20.0);
  EXPECT_EQ(plug->ParamAt(kOversample)->GetValue(), 1.0);
  EXPECT_EQ(plug->ParamAt(kBypass)->GetValue(), 0.0);
  EXPECT_EQ(plug->ParamAt(kSidechain)->GetValue(), 0.5);  // clamped, not rounded
  EXPECT_EQ(plug->ParamAt(kDetector)->GetValue(), 3.0);
  EXPECT_EQ(plug->ParamAt(kListen)->GetValue(), 0.0);
}

TEST(TavloState, TwentyByteRestoreSetsTwoClampsTheThirdAndKeepsTheRest)
{
  TavloPtr plug = MakeRestoredTavlo();
  SetPlain(plug.get(), kAttack, 0.008);
  SetPlain(plug.get(), kRelease, 0.4);
  SetPlain(plug.get(), kMix, 30.0);
  SetPlain(plug.get(), kHPF, 120.0);
  plug->ParamAt(kOversample)->SetValue(1.0);

  ByteChunk c;
  c.Append(200.0);
  c.Append(10.0);
  c.Append((int)0x3F800000);  // 4 stray bytes: half a double
  ASSERT_EQ(c.Size(), 20);
  EXPECT_EQ(plug->UnserializeState(&c, 0), -1);

  EXPECT_EQ(plug->ParamAt(kInput)->GetValue(), 200.0);
  EXPECT_EQ(plug->ParamAt(kOutput)->GetValue(), 10.0);
  EXPECT_EQ(plug->ParamAt(kAttack)->GetValue(), 0.0001);  // 0.0 clamped up
  EXPECT_EQ(plug->ParamAt(kRelease)->GetValue(), 0.4);
  EXPECT_EQ(plug->ParamAt(kMix)->GetValue(), 30.0);
  EXPECT_EQ(plug->ParamAt(kHPF)->GetValue(), 120.0);
  EXPECT_EQ(plug->ParamAt(kOversample)->GetValue(), 1.0);
  EXPECT_EQ(plug->ParamAt(kBypass)->GetValue(), 0.0);
  EXPECT_EQ(plug->ParamAt(kSidechain)->GetValue(), 1.0);

  // Every parameter was announced, so the cached values follow.
  EXPECT_EQ(plug->NextBlockSettings().input, 200.0);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().outputGain, 3.1622776601683795);
  EXPECT_EQ(plug->NextBlockSettings().attack, 0.0001);
  EXPECT_EQ(plug->NextBlockSettings().release, 0.4);
  EXPECT_EQ(plug->NextBlockSettings().mix, 30.0);
  EXPECT_EQ(plug->NextBlockSettings().hpfFreq, 120.0);
}

TEST(TavloState, PresetZeroRestoresTheDefaultsAfterChanges)
{
  TavloPtr plug = MakeRestoredTavlo();
  for (int i = 0; i < kNumParams; ++i) plug->SetParameterFromGUI(i, 0.9);
  EXPECT_TRUE(plug->RestorePreset(0));
  for (int i = 0; i < kNumParams; ++i)
    EXPECT_EQ(plug->ParamAt(i)->GetValue(), kDefaults[i]) << i;
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 1.0);
  EXPECT_TRUE(plug->RestorePreset("Default"));
  EXPECT_FALSE(plug->RestorePreset(kTavloNumPresets));
}

// Each factory preset restores exactly the values of its table entry: an
// argument of the wrong type or order, or a value outside a range (which
// would be clamped), shows up here. The first is the defaults; all keep
// Bypass off and the detector on the main input, and their names differ
// even to a reader who ignores case and punctuation (file and command-line
// names come from them).
TEST(TavloState, FactoryPresetsRestoreTheirTablesValues)
{
  TavloPtr plug = MakeRestoredTavlo();
  ASSERT_EQ(plug->PresetCount(), kTavloNumPresets);
  std::vector<std::string> keys;
  for (int i = 0; i < kTavloNumPresets; ++i)
  {
    const TavloPreset& p = kTavloPresets[i];
    SCOPED_TRACE(p.name);
    EXPECT_STREQ(plug->GetPresetName(i), p.name);
    for (int k = 0; k < kNumParams; ++k) plug->SetParameterFromGUI(k, 0.37);
    ASSERT_TRUE(plug->RestorePreset(i));
    const double want[kNumParams] = {p.input, p.output, p.attack, p.release, p.mix, p.hpf, (double)p.oversample, 0.0, 1.0};
    for (int k = 0; k < kNumParams; ++k)
    {
      EXPECT_EQ(plug->ParamAt(k)->GetValue(), want[k]) << plug->ParamAt(k)->GetNameForHost();
      if (i == 0)
      {
        EXPECT_EQ(want[k], kDefaults[k]) << plug->ParamAt(k)->GetNameForHost();
      }
    }
    EXPECT_EQ(plug->NextBlockSettings().input, p.input);
    EXPECT_NEAR(plug->NextBlockSettings().outputGain, std::pow(10.0, p.output / 20.0), 1e-12);
    std::string key;
    for (const char* c = p.name; *c; ++c)
      if (isalnum((unsigned char)*c)) key += (char)tolower((unsigned char)*c);
    for (const std::string& other : keys) EXPECT_NE(other, key);
    keys.push_back(key);
    EXPECT_GT(strlen(p.description), 20u);
  }
}
