#pragma once

#include <vector>

#include "fx/IFxBase.h"
#include "fx/IParam.h"

// A plug-in base with the binding operations recorded, and its arrays open
// to the tests.
class TestPlug : public IFxBase
{
public:
  struct Informed
  {
    int idx;
    double value;
  };

  TestPlug(int nParams, const char* channelIO, int nPresets = 1, int latency = 0)
    : IFxBase(nParams, channelIO, nPresets, "Test", "Product", "Maker", 0x00010203, 0x54737431,
              0x4d6b7231, latency, false, false, false, kAPIVST3)
  {
  }

  void BeginInformHostOfParamChange(int) override {}
  void InformHostOfParamChange(int idx, double value) override { mInformed.push_back({idx, value}); }
  void EndInformHostOfParamChange(int) override {}
  void InformHostOfProgramChange() override {}
  int GetSamplePos() override { return 0; }
  double GetTempo() override { return mTempo; }
  void GetTimeSig(int* n, int* d) override { *n = 4; *d = 4; }
  void GetTime(ITimeInfo*) override {}
  void ResizeGraphics(int, int) override {}
  bool SendMidiMsg(IMidiMsg* pMsg) override
  {
    mSent.push_back(*pMsg);
    return pMsg->mStatus != 0xF0 ? true : false;
  }
  EAPI GetAPI() override { return mApiOverride >= 0 ? (EAPI)mApiOverride : IFxBase::GetAPI(); }

  void OnParamChange(int idx) override
  {
    IFxBase::OnParamChange(idx);
    mChanged.push_back(idx);
    mValueAtChange.push_back(ParamAt(idx)->GetValue());
  }
  void PresetsChangedByHost() override { ++mPresetsChanged; }

  double** InData() { return mInData.Get(); }
  double** OutData() { return mOutData.Get(); }
  void AddDelayLine(int length) { MakeDelayLine(InputChannelCount(), OutputChannelCount(), length); }
  bool HasDelayLine() const { return mDelay != nullptr; }
  long long DelayLength() const { return mDelay ? mDelay->mLength : -1; }

  std::vector<Informed> mInformed;
  std::vector<int> mChanged;
  std::vector<double> mValueAtChange;
  std::vector<IMidiMsg> mSent;
  int mPresetsChanged = 0;
  double mTempo = 0.0;
  int mApiOverride = -1;
};

// An editor that records what the base tells it.
class TestEditor : public IFxEditor
{
public:
  struct Call
  {
    int idx;
    double value;
    bool normalized;
  };

  explicit TestEditor(int* pDestroyed = nullptr) : mDestroyed(pDestroyed) {}
  ~TestEditor() override
  {
    if (mDestroyed) ++*mDestroyed;
  }
  void SetParameterFromPlug(int idx, double value, bool normalized) override
  {
    mCalls.push_back({idx, value, normalized});
    if (mPrepDraws) mCallsAfterPrep++;
  }
  void SetControlFromPlug(int, double) override {}
  void PrepDraw() override { ++mPrepDraws; }

  std::vector<Call> mCalls;
  int mPrepDraws = 0;
  int mCallsAfterPrep = 0;
  int* mDestroyed;
};
