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
    const double sl = inputs[2] ? inputs[2][i] : 0.0, sr = inputs[3] ? inputs[3][i] : 0.0;
    Frame(inputs[0][i], inputs[1][i], sl, sr, outputs[0][i], outputs[1][i]);
  }
  _mm_setcsr(saved);
}

void TavloReferenceChain::Frame(double L, double R, double SL, double SR, double& outL, double& outR)
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
  SetDetectorFilter(mLeftFilter, st.hpfFreq, sr);
  mListenFade.SetLength(IFxFade::FramesAt(sr));
  mBypassFade.SetLength(IFxFade::FramesAt(sr));
  const OverSampler<double>::EFactor factor =
    st.oversample == 1 ? OverSampler<double>::k4x : OverSampler<double>::kNone;
  for (OverSampler<double>* os : {&mPreampL, &mPreampR, &mDryL, &mDryR}) os->SetFactor(factor, kOversampleResetSize);
  if (st.detector != mDetector) mLeftFilter.clearState();
  mDetector = st.detector;

  // Detector and gain: what it hears, of the main input or the side-chain.
  const double hearL = st.sidechain != 0 ? L : SL, hearR = st.sidechain != 0 ? R : SR;
  float d, dLeft;
  double g;
  if (st.detector == kDetectLinked)
  {
    d = DetectorStep(mDetectorFilter, hearR);
    dLeft = DetectorStep(mLeftFilter, hearL);
    g = TargetGainLinked(dLeft, d, drive, c, 1.0 - c, threshold, L, R, st.input);
  }
  else
  {
    const double source = st.detector == kDetectLeft  ? hearL
                          : st.detector == kDetectMid ? MidSource(hearL, hearR)
                                                      : hearR;
    d = dLeft = DetectorStep(mDetectorFilter, source);
    g = TargetGain(d, drive, c, 1.0 - c, threshold, L, R, st.input);
  }
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

  // The mix, Listen and Bypass.
  const double wet = WetShare(st.mix);
  const double wListen = SwitchWeight(mListenFade, st.listen == 1);
  const double w = SwitchWeight(mBypassFade, st.bypass == 1);
  const double heardL = IFxFade::Mix(Mix(y, pL, dL, wet, 1.0 - wet, st.outputGain), dLeft, wListen);
  const double heardR = IFxFade::Mix(Mix(y, pR, dR, wet, 1.0 - wet, st.outputGain), d, wListen);
  outL = IFxFade::Mix(heardL, L, w);
  outR = IFxFade::Mix(heardR, R, w);
}
