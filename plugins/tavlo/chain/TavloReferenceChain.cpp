#include "tavlo/chain/TavloReferenceChain.h"

#include <xmmintrin.h>

TavloReferenceChain::TavloReferenceChain() {}

void TavloReferenceChain::Process(double** inputs, double** outputs, int nFrames)
{
  // The chain runs with denormals flushed, as every processing call does.
  const unsigned int saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040u);
  for (int i = 0; i < nFrames; ++i)
  {
    const double side = inputs[3] ? inputs[3][i] : 0.0;
    Frame(inputs[0][i], inputs[1][i], side, outputs[0][i], outputs[1][i]);
  }
  _mm_setcsr(saved);
}

void TavloReferenceChain::Frame(double L, double R, double S, double& outL, double& outR)
{
  using namespace tavloeq;
  const TavloChainSettings& st = mSettings;
  const double sr = st.sampleRate;

  // The coefficients, from the settings alone.
  const double c = EnvelopeCoef(sr);
  const double threshold = Threshold(st.input);
  const double drive = Drive(st.input);
  const double attack = BallisticCoef(st.attack, sr);
  const double release = BallisticCoef(st.release, sr);
  SetDetectorFilter(mDetectorFilter, st.hpfFreq, sr);
  mBypassFade.SetLength(IFxFade::FramesAt(sr));
  const OverSampler<double>::EFactor factor =
    st.oversample == 1 ? OverSampler<double>::k4x : OverSampler<double>::kNone;
  for (OverSampler<double>* os : {&mPreampL, &mPreampR, &mDryL, &mDryR}) os->SetFactor(factor, kOversampleResetSize);

  // Detector and gain.
  const float d = DetectorStep(mDetectorFilter, st.sidechain != 0 ? R : S);
  const double g = TargetGain(d, drive, c, 1.0 - c, threshold, L, R, st.input);
  mGainState = BallisticStep(mGainState, g, attack, release);
  const double y = SmoothGain(mSmoother, mGainState);
  if (st.input == 0.0) mGainState = 1.0;
  MeterStep(mMeter, mGainState, MeterCoef(sr));

  // The strands.
  auto identity = [](double x) { return x; };
  auto preamp = [](double x) { return PreampCurve(x); };
  const double pL = mPreampL.Process(L, preamp), dL = mDryL.Process(L, identity);
  const double pR = mPreampR.Process(R, preamp), dR = mDryR.Process(R, identity);
  if (!StrandsFinite(L, pL, dL))
  {
    mPreampL.ClearState();
    mDryL.ClearState();
  }
  if (!StrandsFinite(R, pR, dR))
  {
    mPreampR.ClearState();
    mDryR.ClearState();
  }

  // The mix and Bypass.
  const double wet = WetShare(st.mix);
  const double w = BypassWeight(mBypassFade, st.bypass == 1);
  outL = IFxFade::Mix(Mix(y, pL, dL, wet, 1.0 - wet, st.outputGain), L, w);
  outR = IFxFade::Mix(Mix(y, pR, dR, wet, 1.0 - wet, st.outputGain), R, w);
}
