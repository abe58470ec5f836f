#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "fx/IParam.h"
#include "tavlo_test_util.h"

TEST(TavloIdentity, NamesIdsVersionAndChannels)
{
  TavloPtr plug = MakeRestoredTavlo();
  EXPECT_STREQ(plug->GetEffectName(), "Tavlo");
  EXPECT_STREQ(plug->GetProductName(), "");
  EXPECT_STREQ(plug->GetMfrName(), "Quillmarshworks");
  EXPECT_EQ(plug->GetUniqueID(), 0x54617631);
  EXPECT_EQ(plug->GetMfrID(), 0x5175696c);
  EXPECT_EQ(plug->GetEffectVersion(false), 0x30300);
  EXPECT_EQ(plug->GetEffectVersion(true), 30300);
  char text[32];
  plug->GetEffectVersionStr(text);
  EXPECT_STREQ(text, "v3.3.0");
  // Outside a binding an instance serves no plug-in format of its own.
  EXPECT_STREQ(plug->GetAPIString(), "Standalone");

  EXPECT_EQ(plug->InputChannelCount(), 4);
  EXPECT_EQ(plug->OutputChannelCount(), 2);
  EXPECT_TRUE(plug->LegalIO(2, 2));
  EXPECT_TRUE(plug->LegalIO(4, 2));
  EXPECT_FALSE(plug->LegalIO(1, 2));
  EXPECT_EQ(plug->GetLatency(), 0);
  EXPECT_FALSE(plug->IsInst());
  EXPECT_FALSE(plug->DoesMIDI());
  EXPECT_FALSE(plug->DoesStateChunks());

  EXPECT_EQ(plug->ParamCount(), 11);
  EXPECT_EQ(plug->FirstAppendedParam(), 9);
  EXPECT_EQ(plug->PresetCount(), 12);
  EXPECT_STREQ(plug->GetPresetName(0), "Default");
  EXPECT_STREQ(plug->GetPresetName(11), "Aggressive Character");
  EXPECT_STREQ(plug->GetPresetName(12), "");
  EXPECT_TRUE(InitModule());
  EXPECT_TRUE(DeinitModule());
}

TEST(TavloParams, DeclaredRangesShapesAndLabels)
{
  struct Want
  {
    int idx;
    const char* name;
    IParam::EParamType type;
    double def, min, max, step, shape;
    const char* label;
    int precision;
  };
  // Attack's maximum is raised to minimum + step: 0.0001 + 0.01.
  const Want want[] = {
      {kInput, "Input", IParam::kTypeDouble, 0.0, 0.0, 400.0, 0.01, 1.0, "%", 2},
      {kOutput, "Output", IParam::kTypeDouble, 0.0, -20.0, 20.0, 0.01, 1.0, "%", 2},
      {kAttack, "Attack", IParam::kTypeDouble, 0.005, 0.0001, 0.0101, 0.01, 2.0, "%", 2},
      {kRelease, "Release", IParam::kTypeDouble, 0.3, 0.1, 0.5, 0.01, 2.0, "%", 2},
      {kMix, "Mix", IParam::kTypeDouble, 100.0, 0.0, 100.0, 0.01, 1.0, "%", 2},
      {kHPF, "HPF", IParam::kTypeDouble, 20.0, 20.0, 500.0, 0.01, 1.0, "%", 2},
      {kOversample, "Oversample", IParam::kTypeInt, 0, 0, 1, 1, 1.0, "", 0},
      {kBypass, "Bypass", IParam::kTypeInt, 0, 0, 1, 1, 1.0, "", 0},
      {kSidechain, "Sidechain", IParam::kTypeInt, 1, 0, 1, 1, 1.0, "", 0},
      {kDetector, "Detector", IParam::kTypeEnum, 0, 0, 3, 1, 1.0, "", 0},
      {kListen, "Listen", IParam::kTypeInt, 0, 0, 1, 1, 1.0, "", 0},
  };
  TavloPtr plug = MakeRestoredTavlo();
  for (const Want& w : want)
  {
    SCOPED_TRACE(w.name);
    IParam* p = plug->ParamAt(w.idx);
    EXPECT_STREQ(p->GetNameForHost(), w.name);
    EXPECT_EQ(p->GetType(), w.type);
    EXPECT_EQ(p->GetDefaultValue(), w.def);
    EXPECT_EQ(p->GetValue(), w.def);
    EXPECT_DOUBLE_EQ(p->GetMin(), w.min);
    EXPECT_DOUBLE_EQ(p->GetMax(), w.max);
    EXPECT_EQ(p->GetStep(), w.step);
    EXPECT_EQ(p->GetShape(), w.shape);
    EXPECT_STREQ(p->GetLabelForHost(), w.label);
    EXPECT_STREQ(p->GetParamGroupForHost(), "");
    EXPECT_EQ(p->GetPrecision(), w.precision);
    EXPECT_EQ(p->GetNDisplayTexts(), w.idx == kDetector ? 4 : 0);
    // Tools read the unit from the record, hosts from the parameter.
    EXPECT_EQ(p->GetUnit(), &kTavloParams[w.idx].unit);
  }
  EXPECT_EQ(plug->ParamAt(kAttack)->GetMax(), 0.0001 + 0.01);
  // Declared as instances have always been built: the switches first.
  const int order[kNumParams] = {kBypass,   kOversample, kSidechain, kOutput,   kInput, kAttack,
                                 kRelease,  kMix,        kHPF,       kDetector, kListen};
  for (int rank = 0; rank < kNumParams; ++rank) EXPECT_EQ(kTavloParams[order[rank]].declareRank, rank);
}

// A list is declared as a VST 3 list is: an enum of its names' count, each
// name a display text; its unit shows and reads the names.
TEST(TavloParams, AListRecordDeclaresNamedValues)
{
  static const char* const kNames[] = {"Peak", "RMS", "Fast", "Slow"};
  static const TavloParamDef kList = {
    0, "List", ETavloParamKind::kList, 1.0, 0.0, 3.0, 1.0, 1.0, "", 0,
    {"", 1.0, 0, nullptr, nullptr, "four ways", false, kNames, 4}};
  IParam p;
  DeclareTavloParam(&p, kList);
  EXPECT_EQ(p.GetType(), IParam::kTypeEnum);
  EXPECT_EQ(p.GetStepCount(), 3);
  EXPECT_EQ(p.GetValue(), 1.0);
  ASSERT_EQ(p.GetNDisplayTexts(), 4);
  EXPECT_STREQ(p.GetDisplayText(2), "Fast");

  char buf[16];
  for (double plain : {2.6, 9.0})
  {
    FormatParamUnit(kList.unit, plain, buf, sizeof buf);
    EXPECT_STREQ(buf, "Slow") << plain;
  }
  FormatParamUnit(kList.unit, NAN, buf, sizeof buf);
  EXPECT_STREQ(buf, "Peak");
  IParamUnitReading r;
  ASSERT_EQ(ReadParamUnit(kList.unit, " rms ", true, &r), kParamReadOk);
  EXPECT_EQ(r.plain, 1.0);
  EXPECT_EQ(ReadParamUnit(kList.unit, "Medium", true, &r), kParamReadNotANumber);
}

TEST(TavloParams, CachedValuesBeforeAndAfterPresetZero)
{
  TavloPtr plug(static_cast<Tavlo*>(MakePlug()));
  // Until preset 0 is restored the output gain is 0: early blocks are silent.
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 0.0);
  EXPECT_EQ(plug->NextBlockSettings().input, -10.0);
  EXPECT_EQ(plug->NextBlockSettings().attack, 0.0);
  EXPECT_EQ(plug->NextBlockSettings().release, 0.0);
  EXPECT_EQ(plug->Chain().GainState(), 1.0);

  EXPECT_TRUE(plug->RestorePreset(0));
  EXPECT_EQ(plug->GetCurrentPresetIdx(), 0);
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 1.0);
  EXPECT_EQ(plug->NextBlockSettings().input, 0.0);
  EXPECT_EQ(plug->NextBlockSettings().attack, 0.005);
  EXPECT_EQ(plug->NextBlockSettings().release, 0.3);
  EXPECT_EQ(plug->NextBlockSettings().mix, 100.0);
  EXPECT_EQ(plug->NextBlockSettings().hpfFreq, 20.0);
  EXPECT_EQ(plug->Chain().GainState(), 1.0);
}

TEST(TavloParams, OnParamChangeStoresPlainValuesAndOutputGain)
{
  TavloPtr plug = MakeRestoredTavlo();

  SetPlain(plug.get(), kOutput, -20.0);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().outputGain, 0.1);
  SetPlain(plug.get(), kOutput, 0.0);
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 1.0);  // exactly
  SetPlain(plug.get(), kOutput, 20.0);
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 10.0);
  SetPlain(plug.get(), kOutput, -6.0);
  EXPECT_NEAR(plug->NextBlockSettings().outputGain, 0.501187233627, 1e-12);

  // The editor's route: normalised in, plain out.
  plug->SetParameterFromGUI(kOutput, 0.0);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().outputGain, 0.1);
  plug->SetParameterFromGUI(kOutput, 0.5);
  EXPECT_EQ(plug->NextBlockSettings().outputGain, 1.0);

  // Attack: shape 2 over 0.0001..0.0101.
  plug->SetParameterFromGUI(kAttack, 1.0);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().attack, 0.0101);
  plug->SetParameterFromGUI(kAttack, 0.5);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().attack, 0.0026);
  EXPECT_DOUBLE_EQ(plug->ParamAt(kAttack)->GetNormalized(), 0.5);
  plug->SetParameterFromGUI(kRelease, 0.5);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().release, 0.2);

  plug->SetParameterFromGUI(kInput, 0.25);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().input, 100.0);
  plug->SetParameterFromGUI(kMix, 0.3);
  EXPECT_DOUBLE_EQ(plug->NextBlockSettings().mix, 30.0);
  plug->SetParameterFromGUI(kHPF, 1.0);
  EXPECT_EQ(plug->NextBlockSettings().hpfFreq, 500.0);
}

TEST(TavloParams, SwitchesAndResetChangeNoCachedValue)
{
  TavloPtr plug = MakeRestoredTavlo();
  SetPlain(plug.get(), kOutput, 6.0);
  SetPlain(plug.get(), kInput, 30.0);
  auto snapshot = [&]() {
    return std::vector<double>{plug->NextBlockSettings().outputGain, plug->NextBlockSettings().input, plug->NextBlockSettings().attack,
                               plug->NextBlockSettings().release,    plug->NextBlockSettings().mix,   plug->NextBlockSettings().hpfFreq,
                               plug->Chain().GainState()};
  };
  std::vector<double> before = snapshot();
  for (int idx : {kOversample, kBypass, kSidechain})
  {
    plug->SetParameterFromGUI(idx, 1.0 - plug->ParamAt(idx)->GetNormalized());
    EXPECT_EQ(snapshot(), before) << idx;
  }
  EXPECT_EQ(plug->ParamAt(kSidechain)->GetValue(), 0.0);
  plug->Reset();
  EXPECT_EQ(snapshot(), before);
  // Any other index is ignored.
  plug->OnParamChange(kNumParams);
  plug->OnParamChange(-1);
  EXPECT_EQ(snapshot(), before);
}

TEST(TavloModule, MakePlugFromSeveralThreads)
{
  std::vector<std::thread> threads;
  std::vector<int> counts(4, 0);
  for (int t = 0; t < 4; ++t)
  {
    threads.emplace_back([t, &counts]() {
      for (int i = 0; i < 5; ++i)
      {
        TavloPtr plug(static_cast<Tavlo*>(MakePlug()));
        if (plug && plug->ParamCount() == kNumParams && !strcmp(plug->GetPresetName(0), "Default")) ++counts[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int c : counts) EXPECT_EQ(c, 5);
}

TEST(TavloParams, UnitsFormatValuesAsPeopleReadThem)
{
  Tavlo plug{IFxInstanceInfo()};
  struct Case { int idx; double plain; bool typographic; const char* text; };
  const Case cases[] = {
    {kInput, 120.0, false, "120"},
    {kOutput, -3.0, false, "-3.0 dB"},
    {kOutput, -3.0, true, "\xE2\x88\x92" "3.0 dB"},
    {kOutput, -0.04, true, "0.0 dB"},  // no minus on a value that rounds to zero
    {kAttack, 0.005, false, "5.0 ms"},
    {kRelease, 0.3, false, "300 ms"},
    {kMix, 70.0, false, "70 %"},
    {kHPF, 80.0, false, "80 Hz"},
    {kOversample, 1.0, false, "On"},
    {kBypass, 0.0, false, "Off"},
    {kSidechain, 1.0, false, "Internal"},
    {kSidechain, 0.0, false, "External"},
  };
  for (const Case& c : cases)
  {
    const IParamUnit* unit = plug.ParamAt(c.idx)->GetUnit();
    ASSERT_NE(nullptr, unit) << c.idx;
    char buf[32];
    int n = FormatParamUnit(*unit, c.plain, buf, sizeof buf, c.typographic);
    EXPECT_STREQ(c.text, buf) << c.idx;
    EXPECT_EQ((int)strlen(c.text), n);
  }
  // A small buffer is cut and terminated; the host's label is unchanged.
  char small[4];
  EXPECT_EQ(3, FormatParamUnit(kTavloParams[kRelease].unit, 0.3, small, sizeof small));
  EXPECT_STREQ("300", small);
  EXPECT_STREQ("%", plug.ParamAt(kAttack)->GetLabelForHost());
}
