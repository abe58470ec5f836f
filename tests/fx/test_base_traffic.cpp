#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base_test_plug.h"

namespace
{
// Three parameters: a 0..10 int, a 0.1..0.5 double with shape 2, a bool.
void Declare(TestPlug& plug)
{
  plug.ParamAt(0)->InitInt("Count", 2, 0, 10);
  plug.ParamAt(1)->InitDouble("Time", 0.3, 0.1, 0.5, 0.01, "s", "", 2.0);
  plug.ParamAt(2)->InitBool("Switch", true);
}
} // namespace

TEST(BaseParamTraffic, GuiChangeSetsValueInformsHostThenNotifiesPlugin)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.SetParameterFromGUI(1, 0.5);
  EXPECT_DOUBLE_EQ(plug.ParamAt(1)->GetValue(), 0.2);  // 0.1 + 0.4 * 0.5^2
  ASSERT_EQ(plug.mInformed.size(), 1u);
  EXPECT_EQ(plug.mInformed[0].idx, 1);
  EXPECT_EQ(plug.mInformed[0].value, 0.5);
  ASSERT_EQ(plug.mChanged.size(), 1u);
  EXPECT_EQ(plug.mChanged[0], 1);
  // The plug-in sees the new value when it is told.
  EXPECT_DOUBLE_EQ(plug.mValueAtChange[0], 0.2);

  plug.SetParameterFromGUI(0, 0.35);
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 4.0);
}

TEST(BaseParamTraffic, GuiValuesOutsideTheRangeAreLimitedAndNaNIsDropped)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.SetParameterFromGUI(1, -1.0);  // squared, -1 would give the maximum
  EXPECT_DOUBLE_EQ(plug.ParamAt(1)->GetValue(), 0.1);
  plug.SetParameterFromGUI(0, 3.0);
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 10.0);
  ASSERT_EQ(plug.mInformed.size(), 2u);
  EXPECT_EQ(plug.mInformed[0].value, 0.0);  // the host never sees -1 or 3
  EXPECT_EQ(plug.mInformed[1].value, 1.0);

  plug.SetParameterFromGUI(0, std::nan(""));
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 10.0);
  EXPECT_EQ(plug.mInformed.size(), 2u);
  EXPECT_EQ(plug.mChanged.size(), 2u);
}

TEST(BaseParamTraffic, ResetAndDirtyWalkEveryIndexInOrder)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.OnParamReset();
  EXPECT_EQ(plug.mChanged, (std::vector<int>{0, 1, 2}));

  plug.DirtyParameters();
  ASSERT_EQ(plug.mInformed.size(), 3u);
  EXPECT_EQ(plug.mInformed[0].idx, 0);
  EXPECT_DOUBLE_EQ(plug.mInformed[0].value, 0.2);  // 2 of 0..10
  EXPECT_EQ(plug.mInformed[1].idx, 1);
  EXPECT_DOUBLE_EQ(plug.mInformed[1].value, 0.7071067811865476);  // sqrt(0.5)
  EXPECT_EQ(plug.mInformed[2].idx, 2);
  EXPECT_DOUBLE_EQ(plug.mInformed[2].value, 1.0);
}

TEST(BaseParamTraffic, AttachGraphicsPushesNormalisedValuesAndOwnsTheEditor)
{
  int destroyed = 0;
  {
    TestPlug plug(3, "2-2");
    Declare(plug);
    plug.AttachGraphics(nullptr);
    EXPECT_EQ(plug.GetGraphics(), nullptr);

    TestEditor* pEditor = new TestEditor(&destroyed);
    plug.AttachGraphics(pEditor);
    EXPECT_EQ(plug.GetGraphics(), pEditor);
    ASSERT_EQ(pEditor->mCalls.size(), 3u);
    EXPECT_EQ(pEditor->mCalls[0].idx, 0);
    EXPECT_DOUBLE_EQ(pEditor->mCalls[0].value, 0.2);
    EXPECT_TRUE(pEditor->mCalls[0].normalized);
    EXPECT_DOUBLE_EQ(pEditor->mCalls[1].value, 0.7071067811865476);
    // Values first, then the draw set-up.
    EXPECT_EQ(pEditor->mPrepDraws, 1);
    EXPECT_EQ(pEditor->mCallsAfterPrep, 0);

    // Redraw (after a restore, on whatever thread the host restores on)
    // reaches into no editor: it posts every value for the editor's tick,
    // over what an earlier change left waiting there.
    pEditor->mCalls.clear();
    ASSERT_TRUE(plug.ApplyParamValue(0, 0.9, true));
    plug.ParamAt(0)->SetValue(2.0);  // restored
    plug.RedrawParamControls();
    EXPECT_TRUE(pEditor->mCalls.empty());
    double v = -1.0;
    ASSERT_TRUE(plug.TakeEditorValue(0, &v));
    EXPECT_DOUBLE_EQ(v, 0.2);
    ASSERT_TRUE(plug.TakeEditorValue(1, &v));
    EXPECT_DOUBLE_EQ(v, 0.7071067811865476);
    ASSERT_TRUE(plug.TakeEditorValue(2, &v));
    EXPECT_EQ(v, 1.0);
    EXPECT_FALSE(plug.TakeEditorValue(0, &v));

    // A second editor replaces the first, which is deleted.
    plug.AttachGraphics(new TestEditor(&destroyed));
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);  // the base deleted the attached editor
}

TEST(BaseIdentity, VersionsApiAndArch)
{
  EXPECT_EQ(IFxBase::GetDecimalVersion(0x30300), 30300);
  char text[32];
  IFxBase::GetVersionStr(0x30300, text);
  EXPECT_STREQ(text, "v3.3.0");
  int major, minor, bugFix;
  IFxBase::GetVersionParts(0x0102FF7F, &major, &minor, &bugFix);
  EXPECT_EQ(major, 0x0102);
  EXPECT_EQ(minor, 0xFF);
  EXPECT_EQ(bugFix, 0x7F);
  IFxBase::GetVersionStr(-1, text);
  EXPECT_STREQ(text, "v65535.255.255");

  TestPlug plug(0, "2-2");
  EXPECT_EQ(plug.GetEffectVersion(false), 0x00010203);
  EXPECT_EQ(plug.GetEffectVersion(true), 10203);
  plug.GetEffectVersionStr(text);
  EXPECT_STREQ(text, "v1.2.3");
  EXPECT_STREQ(plug.GetAPIString(), "VST3");
  plug.mApiOverride = 5;
  EXPECT_STREQ(plug.GetAPIString(), "Standalone");
  plug.mApiOverride = 6;
  EXPECT_STREQ(plug.GetAPIString(), "LV2");
  plug.mApiOverride = 7;
  EXPECT_STREQ(plug.GetAPIString(), "CLAP");
  plug.mApiOverride = 8;
  EXPECT_STREQ(plug.GetAPIString(), "");
  EXPECT_STREQ(plug.GetArchString(), "x64");
  EXPECT_STREQ(plug.GetEffectName(), "Test");
  EXPECT_EQ(plug.GetUniqueID(), 0x54737431);

  EXPECT_EQ(plug.GetHost(), kHostUninit);
  plug.SetHost("Steinberg Cubase 8", 0x00080001);
  EXPECT_EQ(plug.GetHost(), kHostCubase);
  EXPECT_EQ(plug.GetHostVersion(true), 80001);
  plug.GetHostVersionStr(text);
  EXPECT_STREQ(text, "v8.0.1");
  plug.SetHost("Nowhere", 0);
  EXPECT_EQ(plug.GetHost(), kHostUnknown);
}

TEST(BaseIdentity, ChannelAndBusLabels)
{
  TestPlug plug(0, "2-2 4-2");
  plug.SetInputLabel(3, "sc R");
  plug.SetInputLabel(4, "ignored");
  plug.SetInputLabel(-1, "ignored");
  plug.SetOutputLabel(0, nullptr);
  EXPECT_STREQ(plug.GetInputLabel(3), "sc R");
  EXPECT_STREQ(plug.GetInputLabel(0), "");
  EXPECT_STREQ(plug.GetOutputLabel(0), "");

  plug.SetInputBusLabel(2, "ignored");
  EXPECT_EQ(plug.InputBusLabelCount(), 0);
  // Past the end: appended, so it lands at position 0.
  plug.SetInputBusLabel(1, "Aux Input");
  ASSERT_EQ(plug.InputBusLabelCount(), 1);
  EXPECT_STREQ(plug.GetInputBusLabel(0), "Aux Input");
  // An existing label is replaced in place.
  plug.SetInputBusLabel(0, "Main Input");
  ASSERT_EQ(plug.InputBusLabelCount(), 1);
  EXPECT_STREQ(plug.GetInputBusLabel(0), "Main Input");
  plug.SetInputBusLabel(1, "Aux Input");
  EXPECT_STREQ(plug.GetInputBusLabel(1), "Aux Input");
  EXPECT_EQ(plug.GetInputBusLabel(2), nullptr);

  plug.SetOutputBusLabel(0, "Output 1");
  plug.SetOutputBusLabel(5, "Output 2");
  plug.SetOutputBusLabel(-1, "ignored");
  ASSERT_EQ(plug.OutputBusLabelCount(), 2);
  EXPECT_STREQ(plug.GetOutputBusLabel(1), "Output 2");
  plug.SetOutputBusLabel(0, nullptr);
  EXPECT_STREQ(plug.GetOutputBusLabel(0), "");
}

TEST(BaseIdentity, SamplesPerBeatAndDefaultHooks)
{
  TestPlug plug(0, "2-2");
  EXPECT_EQ(plug.GetSampleRate(), 44100.0);
  plug.SetSampleRate(48000.0);
  plug.mTempo = 120.0;
  EXPECT_EQ(plug.GetSamplesPerBeat(), 24000.0);
  plug.mTempo = 0.0;
  EXPECT_EQ(plug.GetSamplesPerBeat(), 0.0);
  plug.mTempo = -10.0;
  EXPECT_EQ(plug.GetSamplesPerBeat(), 0.0);

  char name[8] = "xx";
  EXPECT_FALSE(plug.MidiNoteName(60, name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(plug.HostRequestingAboutBox());
  EXPECT_FALSE(plug.IsRenderingOffline());
  ISysEx sysex(0, nullptr, 0);
  EXPECT_FALSE(plug.SendSysEx(&sysex));
  EXPECT_FALSE(plug.IsBypassed());
}

TEST(BaseMidi, MakersAndReaders)
{
  IMidiMsg msg;
  msg.MakeNoteOnMsg(60, 100, 17, 3);
  EXPECT_EQ(msg.mStatus, 0x93);
  EXPECT_EQ(msg.mOffset, 17);
  EXPECT_EQ(msg.Channel(), 3);
  EXPECT_EQ(msg.StatusMsg(), IMidiMsg::kNoteOn);
  EXPECT_EQ(msg.NoteNumber(), 60);
  EXPECT_EQ(msg.Velocity(), 100);
  EXPECT_EQ(msg.Program(), -1);
  EXPECT_EQ(msg.ControlChange(1), -1.0);
  EXPECT_EQ(msg.PitchWheel(), 0.0);

  msg.MakeNoteOffMsg(61, 5);
  EXPECT_EQ(msg.mStatus, 0x80);
  EXPECT_EQ(msg.mData2, 0);
  EXPECT_EQ(msg.Velocity(), 0);
  EXPECT_EQ(msg.NoteNumber(), 61);

  msg.MakeControlChangeMsg(7, 0.5, 1);
  EXPECT_EQ(msg.mStatus, 0xB1);
  EXPECT_EQ(msg.mData2, 63);  // 63.5 truncated
  EXPECT_EQ(msg.ControlChangeIdx(), 7);
  EXPECT_DOUBLE_EQ(msg.ControlChange(7), 63.0 / 127.0);
  EXPECT_EQ(msg.ControlChange(8), -1.0);
  EXPECT_EQ(msg.NoteNumber(), -1);

  msg.MakePitchWheelMsg(0.5);
  EXPECT_EQ(msg.mStatus, 0xE0);
  EXPECT_EQ(msg.mData1, 0);      // 12288 = 96 * 128
  EXPECT_EQ(msg.mData2, 96);
  EXPECT_EQ(msg.PitchWheel(), 0.5);
  msg.MakePitchWheelMsg(1.0);    // 16384 limited to 16383
  EXPECT_EQ(msg.mData1, 127);
  EXPECT_EQ(msg.mData2, 127);
  msg.MakePitchWheelMsg(-2.0);   // limited to 0
  EXPECT_EQ(msg.mData1, 0);
  EXPECT_EQ(msg.mData2, 0);
  EXPECT_EQ(msg.PitchWheel(), -1.0);

  IMidiMsg system(0, 0xF8, 0, 0);
  EXPECT_EQ(system.StatusMsg(), IMidiMsg::kNone);
  IMidiMsg prog(0, 0xC2, 12, 0);
  EXPECT_EQ(prog.Program(), 12);
  IMidiMsg chanAt(0, 0xD0, 77, 0);
  EXPECT_EQ(chanAt.ChannelAfterTouch(), 77);
  IMidiMsg polyAt(0, 0xA0, 60, 33);
  EXPECT_EQ(polyAt.PolyAfterTouch(), 33);
  EXPECT_EQ(polyAt.NoteNumber(), 60);
  EXPECT_EQ(polyAt.Velocity(), -1);

  // The base passes incoming messages on and reports the conjunction.
  TestPlug plug(0, "2-2");
  plug.ProcessMidiMsg(&prog);
  ASSERT_EQ(plug.mSent.size(), 1u);
  EXPECT_EQ(plug.mSent[0].mData1, 12);
  KitTypedBuf<IMidiMsg> list;
  list.Add(prog);
  list.Add(IMidiMsg(0, 0xF0, 0, 0));  // the test binding refuses this one
  list.Add(chanAt);
  EXPECT_FALSE(plug.SendMidiMsgs(&list));
  EXPECT_EQ(plug.mSent.size(), 4u);
}
