#pragma once

// The chain run frame by frame from TavloEquations.h alone, every
// coefficient derived anew at every frame: what the fast chain must equal
// bit for bit. For tests and benchmarks; no bundle links it.

#include "dsp/Biquad.h"
#include "dsp/NumSmooth.h"
#include "dsp/OverSampler.h"
#include "dsp/VUClass.h"
#include "fx/IFxFade.h"
#include "tavlo/chain/TavloChainSettings.h"
#include "tavlo/chain/TavloEquations.h"

class TavloReferenceChain
{
public:
  TavloReferenceChain();
  TavloReferenceChain(const TavloReferenceChain&) = delete;
  TavloReferenceChain& operator=(const TavloReferenceChain&) = delete;

  void SetSettings(const TavloChainSettings& settings) { mSettings = settings; }
  // As TavloChain::Process: inputs main L, R, side-chain L, R (a null
  // side-chain right reads silence), outputs L, R.
  void Process(double** inputs, double** outputs, int nFrames);

  double MeterValue() const { return mMeter.GetState(); }
  double GainState() const { return mGainState; }

private:
  void Frame(double L, double R, double SL, double SR, double& outL, double& outR);

  TavloChainSettings mSettings;
  double mGainState = 1.0;
  NumSmooth mSmoother{tavloeq::kSmootherPole, tavloeq::kSmootherStart};
  VUClass mMeter{tavloeq::kMeterStart};
  // The detector's high-pass, and the left channel's while Linked (cleared
  // whenever the detector's mode changes).
  Biquad mDetectorFilter, mLeftFilter;
  int mDetector = kDetectRight;
  IFxFade mListenFade, mBypassFade;
  OverSampler<double> mPreampL, mPreampR, mDryL, mDryR;
};
