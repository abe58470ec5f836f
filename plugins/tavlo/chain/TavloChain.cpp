#include "tavlo/chain/TavloChain.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "tavlo/chain/kernels/TavloKernels.h"

namespace
{

// Flush-to-zero and denormals-are-zero for one processing call: decaying
// filter states would otherwise crawl through the denormal range at a
// hundred times the usual cost. The caller's mode comes back afterwards.
class DenormalGuard
{
public:
  DenormalGuard() : mSaved(_mm_getcsr()) { _mm_setcsr(mSaved | 0x8040u); }
  ~DenormalGuard() { _mm_setcsr(mSaved); }
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
  unsigned int mSaved;
};

}  // namespace

// The stages of a block are functions for reading; run inlined into
// Process, they cost what one function would (the block's state stays in
// registers, no call per chunk).
#define TAVLO_CHAIN_STAGE __attribute__((always_inline)) inline

TavloChain::TavloChain() {}

void TavloChain::Process(double** inputs, double** outputs, int nFrames)
{
  if (nFrames < 1 || !inputs || !outputs) return;
  DenormalGuard denormalGuard;
  // The processor's path, once for the whole block.
  const TavloKernels& kn = TavloKernels::Active();
  UpdateCoefs();
  SwitchOversampling();
  SwitchDetector();
  mListenFade.SetLength(IFxFade::FramesAt(mSettings.sampleRate));
  mBypassFade.SetLength(IFxFade::FramesAt(mSettings.sampleRate));
  const DetectorSources src = SourcesOf(inputs);
  Scratch& sc = mScratch;

  // The first chunk's detector; each later one runs beside the ballistics of
  // the chunk before.
  TavloChunkSerial serial = SerialStart();
  const bool firstPreampDone = FirstDetector(kn, inputs, src, nFrames, serial);
  int cur = 0;
  for (int base = 0; base < nFrames; base += kChunk, cur ^= 1)
  {
    const int n = std::min(kChunk, nFrames - base);
    const double* L = inputs[0] + base;
    const double* R = inputs[1] + base;
    // Gain computer, then the preamp and dry strands.
    const bool quiet = GainTargets(kn, cur, L, R, n, serial.gainState);
    if (!(base == 0 && firstPreampDone))
      tavlokernels::RunStrandsStereo(kn, L, R, n, Oversamplers(), sc.pL, sc.pR, sc.dL, sc.dR, sc.osWork);
    // Ballistics, smoothing and the meter, beside the next chunk's detector.
    serial.n = n;
    serial.L = L;
    serial.R = R;
    const int nNext = std::min(kChunk, nFrames - base - n);
    SerialBesideNextDetector(kn, serial, quiet, src, base + n, nNext, cur ^ 1);
    // The mix, Listen and Bypass.
    MixChunk(kn, cur, L, R, outputs[0] + base, outputs[1] + base, n);
  }
  SerialEnd(serial);
}

void TavloChain::UpdateCoefs()
{
  const double sr = mSettings.sampleRate;
  const double input = mSettings.input, attackTime = mSettings.attack, releaseTime = mSettings.release;
  const double hpfFreq = mSettings.hpfFreq;
  Coefs& k = mCoefs;
  if (k.valid && k.sampleRate == sr && k.input == input && k.attackTime == attackTime && k.releaseTime == releaseTime &&
      k.hpfFreq == hpfFreq)
    return;
  // Compared as bit patterns of the inputs would be stricter, but the only
  // values that compare equal while differing are +0 and -0, which give the
  // same coefficients here.
  if (!k.valid || k.sampleRate != sr)
  {
    k.c = tavloeq::EnvelopeCoef(sr);
    k.oneMinusC = 1.0 - k.c;
    k.meterCoef = tavloeq::MeterCoef(sr);
  }
  if (!k.valid || k.input != input)
  {
    k.threshold = tavloeq::Threshold(input);
    k.drive = tavloeq::Drive(input);
  }
  if (!k.valid || k.sampleRate != sr || k.attackTime != attackTime) k.attack = tavloeq::BallisticCoef(attackTime, sr);
  if (!k.valid || k.sampleRate != sr || k.releaseTime != releaseTime)
  {
    k.release = tavloeq::BallisticCoef(releaseTime, sr);
    // Its reciprocal to about 106 bits, for the fused quotient.
    k.releaseRecip = 1.0 / k.release;
    k.releaseRecipLow = std::fma(-k.releaseRecip, k.release, 1.0) / k.release;
  }
  if (!k.valid || k.sampleRate != sr || k.hpfFreq != hpfFreq)
  {
    tavloeq::SetDetectorFilter(mDetectorFilter, hpfFreq, sr);
    tavloeq::SetDetectorFilter(mLeftFilter, hpfFreq, sr);
  }
  k.sampleRate = sr;
  k.input = input;
  k.attackTime = attackTime;
  k.releaseTime = releaseTime;
  k.hpfFreq = hpfFreq;
  k.valid = true;
}

// The oversamplers switch (and clear) together at the start of the block
// that asks for the new factor.
void TavloChain::SwitchOversampling()
{
  const OverSampler<double>::EFactor factor = mSettings.oversample == 1 ? kTopOs : kNoOs;
  for (OverSampler<double>* os : {&mPreampOsL, &mPreampOsR, &mDryOsL, &mDryOsR})
    os->SetFactor(factor, tavloeq::kOversampleResetSize);
}

void TavloChain::SwitchDetector()
{
  if (mSettings.detector == mDetector) return;
  mLeftFilter.clearState();
  mDetector = mSettings.detector;
}

TavloChain::DetectorSources TavloChain::SourcesOf(double** inputs) const
{
  // The main input's channels, or the side-chain's when Sidechain selects it.
  const bool main = mSettings.sidechain != 0;
  return {main ? inputs[0] : inputs[2], main ? inputs[1] : inputs[3], mSettings.detector};
}

TAVLO_CHAIN_STAGE const double* TavloChain::MainSource(const DetectorSources& src, int start, int n)
{
  if (src.mode == kDetectLeft) return src.hearL ? src.hearL + start : nullptr;
  if (src.mode != kDetectMid) return src.hearR ? src.hearR + start : nullptr;
  double* mid = mScratch.mid;
  if (src.hearL && src.hearR)
  {
    const double *l = src.hearL + start, *r = src.hearR + start;
    for (int i = 0; i < n; ++i) mid[i] = tavloeq::MidSource(l[i], r[i]);
  }
  else
    for (int i = 0; i < n; ++i)
      mid[i] = tavloeq::MidSource(src.hearL ? src.hearL[start + i] : 0.0, src.hearR ? src.hearR[start + i] : 0.0);
  return mid;
}

const double* TavloChain::LeftSource(const DetectorSources& src, int start)
{
  return src.hearL ? src.hearL + start : nullptr;
}

TavloChunkSerial TavloChain::SerialStart()
{
  const Coefs& k = mCoefs;
  Scratch& sc = mScratch;
  TavloChunkSerial serial;
  serial.lo = sc.lo;
  serial.hi = sc.hi;
  serial.env = sc.env;
  serial.reduce = sc.reduce;
  serial.attack = k.attack;
  serial.release = k.release;
  serial.releaseRecip = k.releaseRecip;
  serial.releaseRecipLow = k.releaseRecipLow;
  serial.input = mSettings.input;
  serial.meterCoef = k.meterCoef;
  serial.y = sc.y;
  serial.xa0 = sc.xa0;
  serial.xa1 = sc.xa1;
  serial.xa2 = sc.xa2;
  serial.dOut = sc.dOut;
  serial.linked = mSettings.detector == kDetectLinked;
  serial.xb0 = sc.xb0;
  serial.xb1 = sc.xb1;
  serial.xb2 = sc.xb2;
  serial.dOut2 = sc.dOut2;
  serial.filter = mDetectorFilter;
  serial.filter2 = mLeftFilter;
  serial.smoother = mGainSmoother;
  serial.meter = mMeter;
  serial.gainState = mGainState;
  return serial;
}

// Without oversampling, and where the path has the kernel, the first
// chunk's preamp runs beside its detector; true when it did.
TAVLO_CHAIN_STAGE bool TavloChain::FirstDetector(const TavloKernels& kn, double** inputs, const DetectorSources& src,
                                                 int nFrames, TavloChunkSerial& serial)
{
  const int n = std::min(kChunk, nFrames);
  float* d = mScratch.d[0];
  const double* main = MainSource(src, 0, n);
  const bool preampHere = mPreampOsL.GetRate() == 1;
  if (serial.linked)
  {
    if (kn.preampBesideDetectorPair && preampHere)
    {
      kn.preampBesideDetectorPair(inputs[0], inputs[1], n, mScratch.pL, mScratch.pR, serial.filter, main, d,
                                  serial.filter2, LeftSource(src, 0), mScratch.dLeft[0]);
      return true;
    }
    tavlokernels::DetectorRunPair(serial.filter, main, serial.filter2, LeftSource(src, 0), n, d, mScratch.dLeft[0]);
    return false;
  }
  if (kn.preampBesideDetector && preampHere)
  {
    kn.preampBesideDetector(inputs[0], inputs[1], n, mScratch.pL, mScratch.pR, serial.filter, main, d);
    return true;
  }
  tavlokernels::DetectorRun(serial.filter, main, 0, n, d);
  return false;
}

// 1 below the threshold, else an interval for the target where cheap bounds
// can stand in for it, or NaN bounds: the exact target. Returns whether the
// chunk is quiet: nothing over the threshold and no reduction left, so the
// gain stays at 1 for the whole chunk (each step toward a target equal to
// the state keeps the state) and the chunk needs no targets and no steps.
TAVLO_CHAIN_STAGE bool TavloChain::GainTargets(const TavloKernels& kn, int cur, const double* L, const double* R, int n,
                                               double gainState)
{
  const Coefs& k = mCoefs;
  Scratch& sc = mScratch;
  const int nAbove =
    mSettings.detector == kDetectLinked
      ? kn.envelopesLinked(sc.dLeft[cur], sc.d[cur], n, k.drive, k.oneMinusC, k.c, k.threshold, sc.env, sc.above)
      : kn.envelopes(sc.d[cur], n, k.drive, k.oneMinusC, k.c, k.threshold, sc.env, sc.above);
  const bool quiet = nAbove == 0 && gainState == 1.0;
  if (!quiet)
  {
    const __m128d one = _mm_set1_pd(1.0);
    for (int i = 0; i < n; i += 2)
    {
      _mm_storeu_pd(sc.lo + i, one);
      _mm_storeu_pd(sc.hi + i, one);
    }
    std::memset(sc.reduce, 0, static_cast<size_t>(n));
  }
  if (nAbove == 0) return quiet;
  for (int a = 0; a < nAbove; ++a)
  {
    const int i = sc.above[a];
    sc.pe[a] = sc.env[i];
    sc.pl[a] = L[i];
    sc.pr[a] = R[i];
  }
  for (int a = nAbove; a < ((nAbove + 3) & ~3); ++a)
  {
    sc.pe[a] = 1.0;
    sc.pl[a] = sc.pr[a] = 0.0;
  }
  kn.estimateGains(sc.pe, sc.pl, sc.pr, mSettings.input, nAbove, sc.plo, sc.phi);
  for (int a = 0; a < nAbove; ++a)
  {
    const int i = sc.above[a];
    sc.lo[i] = sc.plo[a];
    sc.hi[i] = sc.phi[a];
    sc.reduce[i] = 1;
  }
  return quiet;
}

TAVLO_CHAIN_STAGE void TavloChain::SerialBesideNextDetector(const TavloKernels& kn, TavloChunkSerial& serial,
                                                            bool quiet, const DetectorSources& src, int start,
                                                            int nNext, int next)
{
  Scratch& sc = mScratch;
  const double* mainSrc = MainSource(src, start, nNext);
  const double* leftSrc = serial.linked ? LeftSource(src, start) : nullptr;
  const Biquad filterBefore = serial.filter, leftBefore = serial.filter2;
  kn.detectorProducts(filterBefore, mainSrc, nNext, sc.xa0, sc.xa1, sc.xa2);
  if (serial.linked) kn.detectorProducts(leftBefore, leftSrc, nNext, sc.xb0, sc.xb1, sc.xb2);
  serial.nNext = nNext;
  (serial.linked ? kn.serialLinked : kn.serial)(serial, quiet);
  // A frame whose detector was not finite: the filter again from the
  // chunk's start, clearing it where it must.
  if (!tavlokernels::DetectorToFloat(sc.dOut, nNext, sc.d[next]))
  {
    serial.filter = filterBefore;
    tavlokernels::DetectorRun(serial.filter, mainSrc, 0, nNext, sc.d[next]);
  }
  if (serial.linked && !tavlokernels::DetectorToFloat(sc.dOut2, nNext, sc.dLeft[next]))
  {
    serial.filter2 = leftBefore;
    tavlokernels::DetectorRun(serial.filter2, leftSrc, 0, nNext, sc.dLeft[next]);
  }
}

// Listen plays what the detector hears (Linked: each side its own channel);
// Bypass passes the input through; each switch fades.
TAVLO_CHAIN_STAGE void TavloChain::MixChunk(const TavloKernels& kn, int cur, const double* L, const double* R,
                                            double* outL, double* outR, int n)
{
  const Scratch& sc = mScratch;
  const bool oversampled = mPreampOsL.GetRate() != 1;
  const double* dL = oversampled ? sc.dL : L;
  const double* dR = oversampled ? sc.dR : R;
  const double wet = tavloeq::WetShare(mSettings.mix), dry = 1.0 - wet;
  const bool listen = mSettings.listen == 1, bypass = mSettings.bypass == 1;
  mListenFade.SetTarget(listen);
  mBypassFade.SetTarget(bypass);
  if (mListenFade.AtA() && mBypassFade.AtA())
  {
    kn.mix(sc.y, sc.pL, sc.pR, dL, dR, wet, dry, mSettings.outputGain, outL, outR, n);
    return;
  }
  const float* heardL = mSettings.detector == kDetectLinked ? sc.dLeft[cur] : sc.d[cur];
  const tavlokernels::TavloFadingSwitches sw{mListenFade, listen, heardL, sc.d[cur], mBypassFade, bypass};
  tavlokernels::MixFading(sw, sc.y, sc.pL, sc.pR, dL, dR, L, R, wet, dry, mSettings.outputGain, outL, outR, n);
}

void TavloChain::SerialEnd(const TavloChunkSerial& serial)
{
  mDetectorFilter = serial.filter;
  mLeftFilter = serial.filter2;
  mGainSmoother = serial.smoother;
  mMeter = serial.meter;
  mGainState = serial.gainState;
  mMeterOut.store(mMeter.GetState(), std::memory_order_relaxed);
}

void TavloChain::Restart()
{
  mGainState = 1.0;
  mGainSmoother = NumSmooth(tavloeq::kSmootherPole, tavloeq::kSmootherStart);
  mMeter = VUClass(tavloeq::kMeterStart);
  mDetectorFilter = Biquad();
  mLeftFilter = Biquad();
  mDetector = kDetectRight;
  mCoefs = Coefs();
  for (OverSampler<double>* os : {&mPreampOsL, &mPreampOsR, &mDryOsL, &mDryOsR})
  {
    os->SetFactor(kNoOs, tavloeq::kOversampleResetSize);
    os->ClearState();
  }
  mListenFade = IFxFade();
  mBypassFade = IFxFade();
}

void TavloChain::ProcessUnheard(double** inputs, double** outputs, int nFrames)
{
  const VUClass meter = mMeter;
  Process(inputs, outputs, nFrames);
  mMeter = meter;
  RestMeter(nFrames);
}

void TavloChain::RestMeter(int nFrames)
{
  DenormalGuard denormalGuard;
  UpdateCoefs();
  // The needle as it would move with no gain reduction at all.
  VUClass meter = mMeter;
  for (int i = 0; i < nFrames; ++i) meter.ProcessWithCoef(0.0, mCoefs.meterCoef);
  mMeter = meter;
  mMeterOut.store(mMeter.GetState(), std::memory_order_relaxed);
}
