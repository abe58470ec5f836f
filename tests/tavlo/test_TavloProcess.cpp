#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "dsp/Biquad.h"
#include "dsp/CurveTables.h"
#include "dsp/NumSmooth.h"
#include "dsp/OverSampler.h"
#include "kit/KitSimdPath.h"
#include "dsp/VUClass.h"
#include "fx/IFxBase.h"
#include "fx/IParam.h"
#include "tavlo/Tavlo.h"
#include "tavlo/chain/TavloReferenceChain.h"
#include "tavlo/chain/kernels/TavloGainEstimate.h"
#include "tavlo/chain/kernels/TavloKernels.h"

// ---- allocation counting for the whole executable ----
// The replacements below pair operator new with malloc and delete with free
// on purpose; GCC cannot see that pairing across the inlined library code.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace
{
std::atomic<bool> gCountAllocations{false};
std::atomic<long> gAllocations{0};
} // namespace

void* operator new(std::size_t size)
{
  if (gCountAllocations.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
  if (gCountAllocations.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void* operator new(std::size_t size, std::align_val_t align)
{
  if (gCountAllocations.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, ((size ? size : 1) + a - 1) / a * a))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace
{

const double kPi = 3.141592653589793;

struct Signal
{
  std::vector<double> L, R, SL, SR;
  explicit Signal(size_t n = 0) : L(n, 0.0), R(n, 0.0), SL(n, 0.0), SR(n, 0.0) {}
  size_t size() const { return L.size(); }
};

// A Tavlo driven through IFxBase the way a host drives it: preset 0
// restored, sample rate set, then parameters and blocks. The meter the
// chain publishes is read after every block, as an editor or a host's
// meter port reads it.
class Chain
{
public:
  explicit Chain(double sr = 48000.0) : mPlug(new Tavlo(IFxInstanceInfo())), mBase(mPlug.get())
  {
    mBase->RestorePreset(0);
    mBase->SetSampleRate(sr);
    mMeter.reserve(1 << 20);
  }

  void Set(int idx, double value)
  {
    IParam* param = mBase->ParamAt(idx);
    if (!param)
      throw std::out_of_range("parameter index");
    param->SetValue(value);
    mBase->OnParamChange(idx);
  }

  // Processes sig[from, from + count) in blocks of blockSize.
  void Run(const Signal& sig, std::vector<double>& outL, std::vector<double>& outR, size_t from,
           size_t count, int blockSize = 512)
  {
    if (outL.size() < from + count)
    {
      outL.resize(from + count);
      outR.resize(from + count);
    }
    for (size_t pos = from; pos < from + count; pos += blockSize)
    {
      const int n = static_cast<int>(std::min<size_t>(blockSize, from + count - pos));
      double* in[4] = {const_cast<double*>(&sig.L[pos]), const_cast<double*>(&sig.R[pos]),
                       const_cast<double*>(&sig.SL[pos]), const_cast<double*>(&sig.SR[pos])};
      double* out[2] = {&outL[pos], &outR[pos]};
      mBase->TakeBlockParams();
      mBase->ProcessDoubleReplacing(in, out, n);
      // NaN for the frames inside the block, the published meter at its end.
      if (mMeter.size() < pos + n)
        mMeter.resize(pos + n, std::numeric_limits<double>::quiet_NaN());
      mMeter[pos + n - 1] = mBase->GetMeterValue(0);
    }
  }

  void RunAll(const Signal& sig, std::vector<double>& outL, std::vector<double>& outR,
              int blockSize = 512)
  {
    Run(sig, outL, outR, 0, sig.size(), blockSize);
  }

  // The meter after each block, at the block's last frame; NaN elsewhere.
  bool BlockEndsAt(size_t frame) const { return frame < mMeter.size() && !std::isnan(mMeter[frame]); }
  std::vector<double> BlockMeters() const
  {
    std::vector<double> m;
    for (double v : mMeter)
      if (!std::isnan(v))
        m.push_back(v);
    return m;
  }

  std::unique_ptr<Tavlo> mPlug;
  IFxBase* mBase;
  std::vector<double> mMeter;
};

// Decaying tones, enveloped noise, a gap and a loud burst.
Signal MusicLike(size_t n, double sr = 48000.0, unsigned seed = 1)
{
  Signal s(n);
  unsigned state = seed;
  auto noise = [&]() {
    state = state * 1664525u + 1013904223u;
    return (static_cast<double>(state >> 8) / 8388608.0) - 1.0;
  };
  for (size_t i = 0; i < n; ++i)
  {
    const double t = static_cast<double>(i) / sr;
    const double beat = std::fmod(t, 0.25);
    const double kick = 0.9 * std::exp(-beat * 18.0) * std::sin(2.0 * kPi * (55.0 + 80.0 * std::exp(-beat * 40.0)) * beat);
    const double hat = 0.3 * std::exp(-std::fmod(t + 0.125, 0.25) * 60.0) * noise();
    const double tone = 0.2 * std::sin(2.0 * kPi * 330.0 * t);
    double gate = 1.0;
    if (t > 0.6 && t < 0.8)
      gate = 0.0; // digital silence
    const double burst = (t >= 0.8 && t < 0.9) ? 1.5 * noise() : 0.0;
    s.L[i] = gate * (kick + hat + tone) + burst;
    s.R[i] = gate * (kick - hat + 0.7 * tone) + 0.8 * burst;
    s.SL[i] = 0.5 * noise();
    s.SR[i] = 0.8 * std::sin(2.0 * kPi * 120.0 * t) * std::exp(-beat * 6.0);
  }
  return s;
}

bool BitEqual(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double Identity(double x) { return x; }
double Preamp(double x) { return tavloeq::PreampCurve(x); }

// The settings a plug-in's parameters stand for, as the reference chain
// reads them.
TavloChainSettings SettingsOf(const IFxBase& plug, double sampleRate)
{
  auto value = [&](int idx) { return plug.ParamAt(idx)->GetValue(); };
  TavloChainSettings s;
  s.sampleRate = sampleRate;
  s.input = value(kInput);
  s.outputGain = tavloeq::OutputGain(value(kOutput));
  s.attack = value(kAttack);
  s.release = value(kRelease);
  s.mix = value(kMix);
  s.hpfFreq = value(kHPF);
  s.oversample = static_cast<int>(value(kOversample));
  s.bypass = static_cast<int>(value(kBypass));
  s.sidechain = static_cast<int>(value(kSidechain));
  return s;
}

} // namespace

// ---------------------------------------------------------------------------

TEST(TavloChain, InputZeroNeverReducesGain)
{
  Chain chain;
  chain.Set(kInput, 0.0);
  Signal sig = MusicLike(24000);
  for (size_t i = 0; i < sig.size(); ++i)
    sig.R[i] *= 3.0; // far louder than full scale on the detector channel
  std::vector<double> oL, oR;
  for (size_t pos = 0; pos < sig.size(); pos += 480)
  {
    chain.Run(sig, oL, oR, pos, 480, 480);
    EXPECT_EQ(chain.mPlug->Chain().GainState(), 1.0) << "frame " << pos;
  }
  // The smoother has reached the unit gain, and the meter fell to rest
  // from its starting deflection of 1.
  // (The float smoother's fixed point sits a few dozen float steps below 1.)
  EXPECT_NEAR(chain.mPlug->Chain().SmoothedGain(), 1.0f, 1e-5f);
  ASSERT_EQ(chain.mMeter.size(), sig.size());
  EXPECT_LT(chain.mMeter[479], 1.0);
  EXPECT_NEAR(chain.mMeter[14399], 0.01, 1e-9); // 0.3 s: 99 % of the way

  // Nothing fades in: from its first frame a new instance sounds as one
  // that has run for a while (the smoothed gain starts at unity, not 0).
  Chain fresh, warm;
  for (Chain* c : {&fresh, &warm})
    c->Set(kInput, 0.0);
  std::vector<double> fL, fR, wL, wR;
  warm.RunAll(sig, wL, wR);
  warm.Run(sig, wL, wR, 0, 480);
  fresh.Run(sig, fL, fR, 0, 480);
  for (size_t i = 0; i < 480; ++i)
    ASSERT_NEAR(fL[i], wL[i], 1e-5 * std::fabs(wL[i]) + 1e-12) << i;
}

TEST(TavloChain, SilentMainWithLoudSidechainGivesNoReduction)
{
  const size_t n = 24000;
  Signal sig(n);
  for (size_t i = 0; i < n; ++i)
    sig.SR[i] = 0.95 * std::sin(2.0 * kPi * 1000.0 * i / 48000.0);

  Chain chain;
  chain.Set(kInput, 30.0);
  chain.Set(kSidechain, 0.0);
  std::vector<double> oL, oR;
  double worst = 0.0;
  for (size_t pos = 0; pos < n; pos += 64)
  {
    chain.Run(sig, oL, oR, pos, 64, 64);
    worst = std::max(worst, std::fabs(chain.mPlug->Chain().GainState() - 1.0));
  }
  // Ratio 1 above threshold: g is 1 up to rounding.
  EXPECT_LT(worst, 1e-12);
  for (size_t i = 0; i < n; ++i)
    ASSERT_EQ(oL[i], 0.0) << i;

  // The same side-chain with a non-zero main sum does compress: the
  // side-chain really is the detector's source.
  Signal sig2 = sig;
  for (size_t i = 0; i < n; ++i)
    sig2.L[i] = sig2.R[i] = 1.5; // DC: the high-pass keeps it out of the detector
  Chain chain2;
  chain2.Set(kInput, 30.0);
  chain2.Set(kSidechain, 0.0);
  chain2.RunAll(sig2, oL, oR);
  EXPECT_LT(chain2.mPlug->Chain().GainState(), 0.95);
  // And with the main input as source, that DC alone does nothing.
  Chain chain3;
  chain3.Set(kInput, 30.0);
  chain3.Set(kSidechain, 1.0);
  chain3.RunAll(sig2, oL, oR);
  EXPECT_EQ(chain3.mPlug->Chain().GainState(), 1.0);
}

TEST(TavloChain, SteadyStateGainReductionMatchesTheFormula)
{
  // L = R = +1, -1, +1, ...: the high-pass passes the Nyquist tone with gain
  // exactly 1, so every even frame drives the detector past the table's end.
  const size_t n = 48000;
  Signal sig(n);
  for (size_t i = 0; i < n; ++i)
    sig.L[i] = sig.R[i] = (i % 2 == 0) ? 1.0 : -1.0;
  Chain chain;
  chain.Set(kInput, 30.0); // threshold exp(-30 / 8.65617025) = 0.03126, drive +3 dB
  std::vector<double> oL, oR;
  chain.Run(sig, oL, oR, 0, n - 1); // ends after an odd count: last frame was +1

  // By hand: E = 0.0530702 (last entry), env = E, level 8.65617025 ln E =
  // -25.4157, 4.5843 above the threshold of -30; ratio 10^(2/20) = 1.258925;
  // output level -30 + 4.5843 / 1.258925 = -26.3586;
  // g = exp((-26.3586 + 25.4157) / 8.65617025) = exp(-0.108923) = 0.896799.
  const double E = 0.053070228546857834;
  const double ratio = std::pow(10.0, 2.0 / 20.0);
  const double g = std::exp(((8.65617025 * std::log(E) + 30.0) / ratio - 30.0) / 8.65617025) / E;
  EXPECT_NEAR(g, 0.896799, 1e-6);
  // Fast attack reaches g on every loud frame; the quiet frame between
  // releases by one step.
  const double release = std::exp(-1.0 / (0.3 * 48000.0));
  EXPECT_NEAR(chain.mPlug->Chain().GainState(), g, 1e-12);
  chain.Run(sig, oL, oR, n - 1, 1);
  EXPECT_NEAR(chain.mPlug->Chain().GainState(), g / release, 1e-12);
  // The smoothed gain sits between the two; the meter reads about 1 - g.
  EXPECT_NEAR(chain.mPlug->Chain().SmoothedGain(), g, 1e-4);
  EXPECT_NEAR(chain.mMeter.back(), 1.0 - g, 0.02 * (1.0 - g));
}

TEST(TavloChain, BypassPassesInputWhileMeterFollows)
{
  const Signal sig = MusicLike(30000);
  Chain active, bypassed;
  for (Chain* c : {&active, &bypassed})
  {
    c->Set(kInput, 45.0);
    c->Set(kOversample, 1.0);
  }
  bypassed.Set(kBypass, 1.0);
  std::vector<double> aL, aR, bL, bR;
  active.RunAll(sig, aL, aR, 256);
  bypassed.RunAll(sig, bL, bR, 256);
  for (size_t i = 0; i < sig.size(); ++i)
  {
    ASSERT_TRUE(BitEqual(bL[i], sig.L[i])) << i;
    ASSERT_TRUE(BitEqual(bR[i], sig.R[i])) << i;
  }
  // Everything behind the switch kept running: same meter, same gain.
  ASSERT_EQ(active.BlockMeters().size(), sig.size() / 256 + 1);
  EXPECT_EQ(active.BlockMeters(), bypassed.BlockMeters());
  EXPECT_EQ(active.mPlug->Chain().GainState(), bypassed.mPlug->Chain().GainState());
  // There was something to follow: the meter moved well off rest.
  const std::vector<double> m = bypassed.BlockMeters();
  EXPECT_GT(*std::max_element(m.begin() + 15000 / 256, m.end()), 0.05);
  // Switching back on continues from the running state, not from scratch:
  // once the switch's fade (5 ms, 240 frames) is over the output is the
  // active chain's; during it, it lies between that and the input.
  bypassed.Set(kBypass, 0.0);
  std::vector<double> a2L, a2R, b2L, b2R;
  active.Run(sig, a2L, a2R, 0, 512);
  bypassed.Run(sig, b2L, b2R, 0, 512);
  for (size_t i = 240; i < 512; ++i)
    ASSERT_TRUE(BitEqual(a2L[i], b2L[i])) << i;
  for (size_t i = 0; i < 239; ++i)
  {
    const double lo = std::min(a2L[i], sig.L[i]), hi = std::max(a2L[i], sig.L[i]);
    ASSERT_TRUE(b2L[i] >= lo - 1e-15 && b2L[i] <= hi + 1e-15) << i;
  }
  EXPECT_NE(b2L[100], a2L[100]);
}

TEST(TavloChain, MixZeroWithOversamplingIsTheBandLimitedDryStrand)
{
  const Signal sig = MusicLike(8000);
  Chain chain;
  chain.Set(kInput, 30.0);
  chain.Set(kMix, 0.0);
  chain.Set(kOversample, 1.0);
  std::vector<double> oL, oR;
  chain.RunAll(sig, oL, oR);
  OverSampler<double> refL(OverSampler<double>::k4x, true, 1), refR(OverSampler<double>::k4x, true, 1);
  size_t differsFromInput = 0;
  for (size_t i = 0; i < sig.size(); ++i)
  {
    const double dL = refL.Process(sig.L[i], Identity);
    const double dR = refR.Process(sig.R[i], Identity);
    ASSERT_TRUE(BitEqual(oL[i], dL)) << i;
    ASSERT_TRUE(BitEqual(oR[i], dR)) << i;
    differsFromInput += (oL[i] != sig.L[i]);
  }
  // Delayed and filtered: not the raw input.
  EXPECT_GT(differsFromInput, sig.size() / 2);
  // Without oversampling, Mix 0 is the input itself.
  Chain plain;
  plain.Set(kMix, 0.0);
  plain.RunAll(sig, oL, oR);
  for (size_t i = 0; i < sig.size(); ++i)
    ASSERT_EQ(oL[i], sig.L[i]) << i;
}

TEST(TavloChain, OutputMinus20DbScalesByATenth)
{
  const Signal sig = MusicLike(6000);
  Chain unity, quiet, loud;
  for (Chain* c : {&unity, &quiet, &loud})
    c->Set(kInput, 30.0);
  quiet.Set(kOutput, -20.0);
  loud.Set(kOutput, 20.0);
  EXPECT_EQ(quiet.mPlug->NextBlockSettings().outputGain, 0.1);
  EXPECT_EQ(loud.mPlug->NextBlockSettings().outputGain, 10.0);
  EXPECT_EQ(unity.mPlug->NextBlockSettings().outputGain, 1.0);
  std::vector<double> uL, uR, qL, qR, lL, lR;
  unity.RunAll(sig, uL, uR);
  quiet.RunAll(sig, qL, qR);
  loud.RunAll(sig, lL, lR);
  for (size_t i = 0; i < sig.size(); ++i)
  {
    ASSERT_TRUE(BitEqual(qL[i], uL[i] * 0.1)) << i;
    ASSERT_TRUE(BitEqual(qR[i], uR[i] * 0.1)) << i;
    ASSERT_TRUE(BitEqual(lL[i], uL[i] * 10.0)) << i;
  }
}

TEST(TavloChain, OversampleSwitchResetsAllFourInTheSameFrame)
{
  const Signal sig = MusicLike(6000);
  Chain chain;
  chain.Set(kInput, 30.0);
  chain.Set(kMix, 0.0); // output = dry strand, to watch the reset
  chain.Set(kOversample, 1.0);
  std::vector<double> oL, oR;
  chain.Run(sig, oL, oR, 0, 2000);
  const Tavlo& t = *chain.mPlug;
  EXPECT_EQ(t.Chain().DryOsL().GetFactor(), OverSampler<double>::k4x);
  EXPECT_NE(t.Chain().PreampOsR().Up12().prev_outputs()[0], 0.0);

  // Off for 10 frames: all four go to 1x at the first of them.
  chain.Set(kOversample, 0.0);
  chain.Run(sig, oL, oR, 2000, 1);
  for (const OverSampler<double>* os : {&t.Chain().PreampOsL(), &t.Chain().PreampOsR(), &t.Chain().DryOsL(), &t.Chain().DryOsR()})
  {
    EXPECT_EQ(os->GetFactor(), OverSampler<double>::kNone);
    EXPECT_EQ(os->GetRate(), 1);
    EXPECT_EQ(os->Up12().prev_outputs()[0], 0.0); // cleared
  }
  EXPECT_EQ(oL[2000], sig.L[2000]);
  chain.Run(sig, oL, oR, 2001, 9);

  // On again: the output continues from cleared filters, frame for frame
  // what a fresh 4x cascade gives from this frame on.
  chain.Set(kOversample, 1.0);
  chain.Run(sig, oL, oR, 2010, 1);
  for (const OverSampler<double>* os : {&t.Chain().PreampOsL(), &t.Chain().PreampOsR(), &t.Chain().DryOsL(), &t.Chain().DryOsR()})
    EXPECT_EQ(os->GetFactor(), OverSampler<double>::k4x);
  chain.Run(sig, oL, oR, 2011, 1000, 333);
  OverSampler<double> freshL(OverSampler<double>::k4x, true, 1);
  OverSampler<double> freshPre(OverSampler<double>::k4x, true, 1);
  for (size_t i = 2010; i < 3011; ++i)
  {
    ASSERT_TRUE(BitEqual(oL[i], freshL.Process(sig.L[i], Identity))) << i;
    freshPre.Process(sig.L[i], Preamp);
  }
  // The preamp's state too, down to the last stage.
  for (int k = 0; k < 12; ++k)
  {
    EXPECT_EQ(t.Chain().PreampOsL().Down12().prev_outputs()[k], freshPre.Down12().prev_outputs()[k]) << k;
    EXPECT_EQ(t.Chain().PreampOsL().Up12().prev_inputs()[k], freshPre.Up12().prev_inputs()[k]) << k;
  }
}

TEST(TavloChain, NonFiniteInputDoesNotPoisonTheInstance)
{
  const size_t n = 48000;
  const Signal clean = MusicLike(n);
  Signal dirty = clean;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const size_t bad[] = {1000, 5000, 9000, 13000, 17000, 21000};
  dirty.L[bad[0]] = nan;
  dirty.R[bad[1]] = nan;   // detector, filter and ratio
  dirty.R[bad[2]] = inf;
  dirty.L[bad[3]] = -inf;
  dirty.R[bad[3]] = -inf;  // ratio 0: an infinite gain target
  dirty.L[bad[4]] = inf;
  dirty.R[bad[4]] = -inf;  // ratio not a number
  dirty.R[bad[5]] = 1e39;  // finite, but past float range in the detector

  for (int os = 0; os <= 1; ++os)
  {
    Chain a, b;
    for (Chain* c : {&a, &b})
    {
      c->Set(kInput, 45.0);
      c->Set(kOversample, os);
    }
    std::vector<double> cL, cR, dL, dR;
    a.RunAll(clean, cL, cR);
    b.RunAll(dirty, dL, dR);
    for (size_t k = 0; k < sizeof bad / sizeof bad[0]; ++k)
      for (size_t i = bad[k] + 8; i < bad[k] + 3000 && i < n; ++i)
      {
        ASSERT_TRUE(std::isfinite(dL[i]) && std::isfinite(dR[i])) << "os " << os << " frame " << i;
        if (b.BlockEndsAt(i))
        {
          ASSERT_TRUE(std::isfinite(b.mMeter[i])) << i;
        }
      }
    // Compression works again: well after the last fault the output and
    // the meter follow the clean run's, and the meter shows reduction.
    double worstOut = 0.0, worstMeter = 0.0, maxMeter = 0.0;
    for (size_t i = 36000; i < n; ++i)
    {
      worstOut = std::max(worstOut, std::fabs(dL[i] - cL[i]) + std::fabs(dR[i] - cR[i]));
      if (!a.BlockEndsAt(i))
        continue;
      worstMeter = std::max(worstMeter, std::fabs(b.mMeter[i] - a.mMeter[i]));
      maxMeter = std::max(maxMeter, a.mMeter[i]);
    }
    EXPECT_LT(worstOut, 1e-6) << "os " << os;
    // The meter restarts from rest and closes the gap with its 0.3 s law.
    EXPECT_LT(worstMeter, 1e-4) << "os " << os;
    EXPECT_GT(maxMeter, 0.05) << "os " << os;
    EXPECT_TRUE(std::isfinite(b.mPlug->Chain().DetectorFilter().getZ1()));
  }
}

TEST(TavloChain, RestoresTheCallersFloatingPointMode)
{
  Chain chain;
  chain.Set(kInput, 30.0);
  const Signal sig = MusicLike(512);
  std::vector<double> oL, oR;
  const unsigned before = _mm_getcsr();
  ASSERT_EQ(before & 0x8040u, 0u);
  chain.RunAll(sig, oL, oR);
  EXPECT_EQ(_mm_getcsr(), before);
  _mm_setcsr(before | 0x8040u);
  chain.RunAll(sig, oL, oR);
  EXPECT_EQ(_mm_getcsr(), before | 0x8040u);
  _mm_setcsr(before);
}

TEST(TavloChain, NoAllocationOnTheAudioPath)
{
  const Signal sig = MusicLike(20000);
  Chain chain;
  chain.Set(kInput, 30.0);
  std::vector<double> oL(sig.size()), oR(sig.size());
  gAllocations = 0;
  gCountAllocations = true;
  chain.Run(sig, oL, oR, 0, 4000);
  chain.Set(kOversample, 1.0); // switching resets all four oversamplers
  chain.Run(sig, oL, oR, 4000, 4000);
  chain.Set(kOversample, 0.0);
  chain.Run(sig, oL, oR, 8000, 100);
  chain.Set(kOversample, 1.0);
  chain.Set(kSidechain, 0.0);
  chain.Set(kHPF, 300.0);
  chain.Run(sig, oL, oR, 8100, 4000);
  chain.Set(kBypass, 1.0);
  chain.Run(sig, oL, oR, 12100, 4000);
  gCountAllocations = false;
  EXPECT_EQ(gAllocations.load(), 0);
  // The counter does count: a vector growing here is seen.
  gCountAllocations = true;
  std::vector<int> v(10);
  gCountAllocations = false;
  EXPECT_GE(gAllocations.load(), 1);
}

TEST(TavloChain, BeforeAnyParameterChangeTheOutputIsSilent)
{
  // No preset restored: output gain 0, attack and release 0.
  std::unique_ptr<Tavlo> plug(new Tavlo(IFxInstanceInfo()));
  IFxBase* base = plug.get();
  base->SetSampleRate(48000.0);
  const Signal sig = MusicLike(1024);
  std::vector<double> oL(1024), oR(1024);
  double* in[4] = {const_cast<double*>(sig.L.data()), const_cast<double*>(sig.R.data()),
                   const_cast<double*>(sig.SL.data()), const_cast<double*>(sig.SR.data())};
  double* out[2] = {oL.data(), oR.data()};
  base->TakeBlockParams();
  base->ProcessDoubleReplacing(in, out, 1024);
  for (size_t i = 0; i < 1024; ++i)
    ASSERT_EQ(std::fabs(oL[i]) + std::fabs(oR[i]), 0.0) << i;
  // nFrames < 1 touches nothing.
  oL[0] = 7.0;
  base->TakeBlockParams();
  base->ProcessDoubleReplacing(in, out, 0);
  EXPECT_EQ(oL[0], 7.0);
}

// Every code path: the processor's best (AVX2 where it has it, with the
// AVX-512 build of the serial loop where it has that), AVX2 without
// AVX-512 (as many processors run it), and the plain one every x86-64
// processor runs, against the chain stated frame by frame from its
// equations, every coefficient derived anew at every frame.
TEST(TavloChain, BitIdenticalToTheReferenceChain)
{
  struct PathCase
  {
    const char* name;
    simdpath::Path path;
    bool avx512;
  };
  const PathCase cases[] = {
    {"best path", simdpath::kAvx2, true},
    {"AVX2 without AVX-512", simdpath::kAvx2, false},
    {"plain path", simdpath::kPlain, true},
  };
  for (const PathCase& pc : cases)
  {
    SCOPED_TRACE(pc.name);
    const simdpath::Path path = pc.path;
    simdpath::Force(path);
    simdpath::AllowAvx512(pc.avx512);
    ASSERT_EQ(path == simdpath::kPlain ? simdpath::kPlain : simdpath::Best(), simdpath::Active());
    if (!pc.avx512)
    {
      ASSERT_FALSE(simdpath::Avx512());
    }
    const size_t n = 96000;
    Signal sig = MusicLike(n, 48000.0, 7);
    // Non-finite frames, oversampled and not, on the main input and on the
    // side-chain's detector channel.
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    for (size_t at : {1500, 7000, 19000, 20500, 56000})
    {
      sig.L[at] = nan;
      sig.R[at + 3] = -inf;
      sig.SR[at + 7] = inf;
    }
    Chain chain;
    TavloReferenceChain ref;
    std::vector<double> oL(n), oR(n), rL(n), rR(n);

    struct Step
    {
      size_t at;
      int param;
      double value;
    };
    // Parameter changes between blocks, covering every cached value and the
    // three switches.
    const Step steps[] = {
      {0, kInput, 30.0},       {3000, kAttack, 0.0001}, {6000, kOversample, 1},
      {9000, kRelease, 0.1},   {12000, kHPF, 250.0},    {15000, kInput, 12.5},
      {18000, kSidechain, 0},  {21000, kMix, 35.0},     {24000, kOutput, -6.0},
      {27000, kBypass, 1},     {30000, kBypass, 0},     {33000, kOversample, 0},
      {36000, kSidechain, 1},  {39000, kInput, 400.0},  {42000, kAttack, 0.0101},
      {45000, kInput, 0.0},    {48000, kInput, 45.0},   {51000, kHPF, 20.0},
      {54000, kOversample, 1}, {57000, kRelease, 0.5},  {60000, kMix, 100.0},
    };
    const int blockSizes[] = {512, 1, 37, 256, 1000, 64};
    size_t pos = 0, stepIdx = 0;
    int blk = 0;
    double sr = 48000.0;
    size_t mismatches = 0, reduced = 0;
    while (pos < n)
    {
      while (stepIdx < sizeof steps / sizeof steps[0] && steps[stepIdx].at <= pos)
      {
        const Step& s = steps[stepIdx++];
        chain.Set(s.param, s.value);
      }
      if (pos >= 70000 && sr == 48000.0)
      {
        sr = 44100.0; // a new sample rate mid-stream
        chain.mBase->SetSampleRate(sr);
      }
      const size_t len = std::min<size_t>(blockSizes[blk++ % 6], n - pos);
      chain.Run(sig, oL, oR, pos, len, static_cast<int>(len));
      ref.SetSettings(SettingsOf(*chain.mBase, sr));
      double* in[4] = {&sig.L[pos], &sig.R[pos], &sig.SL[pos], &sig.SR[pos]};
      double* out[2] = {&rL[pos], &rR[pos]};
      ref.Process(in, out, static_cast<int>(len));
      if (!BitEqual(chain.mMeter[pos + len - 1], ref.MeterValue()) && mismatches++ < 5)
        ADD_FAILURE() << "meter at frame " << pos + len - 1;
      reduced += ref.MeterValue() > 0.05 ? len : 0;
      pos += len;
    }
    for (size_t i = 0; i < n; ++i)
      if ((!BitEqual(oL[i], rL[i]) || !BitEqual(oR[i], rR[i])) && mismatches++ < 5)
        ADD_FAILURE() << "frame " << i << ": " << oL[i] << " vs " << rL[i];
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(chain.mPlug->Chain().GainState(), ref.GainState());
    // The comparison covered real compression, not just unity gain.
    EXPECT_GT(reduced, n / 10);
  }
  simdpath::Force(simdpath::kAvx2);
  simdpath::AllowAvx512(true);
}

// Every detector mode and Listen, switched between blocks, on the main
// input and the side-chain, with and without oversampling and Bypass, on
// every code path: the chain is the reference chain, frame for frame.
TEST(TavloChain, EveryDetectorAndListenIsTheReferenceChain)
{
  struct Segment
  {
    size_t at;
    int detector, listen, sidechain, oversample, bypass;
  };
  const Segment segments[] = {
    {0, kDetectRight, 0, 1, 0, 0},     {4000, kDetectLeft, 0, 1, 0, 0},   {8000, kDetectLinked, 0, 1, 0, 0},
    {12000, kDetectMid, 0, 1, 0, 0},   {16000, kDetectLinked, 1, 1, 0, 0}, {20000, kDetectLinked, 1, 1, 1, 0},
    {24000, kDetectMid, 0, 0, 1, 0},   {28000, kDetectLeft, 1, 0, 0, 1},  {32000, kDetectRight, 0, 1, 0, 0},
    {36000, kDetectLinked, 0, 1, 0, 0}, {40000, kDetectLinked, 0, 0, 0, 0},
  };
  const simdpath::Path paths[] = {simdpath::kAvx2, simdpath::kAvx2, simdpath::kPlain};
  for (int p = 0; p < 3; ++p)
  {
    simdpath::Force(paths[p]);
    simdpath::AllowAvx512(p == 0);
    SCOPED_TRACE(TavloKernels::Active().name);
    const size_t n = 44000;
    Signal sig = MusicLike(n, 48000.0, 11);
    // The channels apart: the left alone loud for a while, then the right.
    for (size_t i = 0; i < n; ++i)
    {
      const double phase = static_cast<double>(i % 6000) / 6000.0;
      sig.L[i] *= phase < 0.5 ? 1.2 : 0.1;
      sig.R[i] *= phase < 0.5 ? 0.05 : 1.0;
    }
    // Non-finite frames on the left, main and side-chain, for the left
    // filter's recovery while Linked.
    sig.L[9001] = std::numeric_limits<double>::quiet_NaN();
    sig.SL[41000] = std::numeric_limits<double>::infinity();
    TavloChain chain;
    TavloReferenceChain ref;
    TavloChainSettings st;
    st.sampleRate = 48000.0;
    st.input = 120.0;
    st.outputGain = tavloeq::OutputGain(2.0);
    st.attack = 0.002;
    st.release = 0.2;
    st.hpfFreq = 60.0;
    std::vector<double> oL(n), oR(n), rL(n), rR(n);
    const int blockSizes[] = {512, 37, 128, 1, 300};
    size_t pos = 0, seg = 0, mismatches = 0, reduced = 0;
    for (int blk = 0; pos < n; ++blk)
    {
      while (seg < sizeof segments / sizeof segments[0] && segments[seg].at <= pos)
      {
        const Segment& s = segments[seg++];
        st.detector = s.detector, st.listen = s.listen, st.sidechain = s.sidechain;
        st.oversample = s.oversample, st.bypass = s.bypass;
      }
      chain.SetSettings(st);
      ref.SetSettings(st);
      const int len = static_cast<int>(std::min<size_t>(blockSizes[blk % 5], n - pos));
      double* in[4] = {&sig.L[pos], &sig.R[pos], &sig.SL[pos], &sig.SR[pos]};
      double* out[2] = {&oL[pos], &oR[pos]};
      double* refOut[2] = {&rL[pos], &rR[pos]};
      chain.Process(in, out, len);
      ref.Process(in, refOut, len);
      if (!BitEqual(chain.MeterValue(), ref.MeterValue()) && mismatches++ < 5)
        ADD_FAILURE() << "meter after frame " << pos + len - 1;
      reduced += ref.MeterValue() > 0.05 ? len : 0;
      pos += len;
    }
    for (size_t i = 0; i < n; ++i)
      if ((!BitEqual(oL[i], rL[i]) || !BitEqual(oR[i], rR[i])) && mismatches++ < 5)
        ADD_FAILURE() << "frame " << i << ": " << oL[i] << " vs " << rL[i] << ", " << oR[i] << " vs " << rR[i];
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(reduced, n / 10);
  }
  simdpath::Force(simdpath::kAvx2);
  simdpath::AllowAvx512(true);
}

// The gain computer's cheap interval: it must hold the exact gain wherever
// it is given, within the error the code's comment proves, and say no at
// the edges of that domain and for non-finite values.
TEST(TavloGainEstimate, IntervalHoldsTheExactGainAndRefusesOutsideItsDomain)
{
  using namespace tavlogain;
  using namespace tavloeq;
  double worst = 0.0;
  long accepted = 0;
  for (double input : {0.0, 0.25, 30.0, 80.0, 200.0, 399.5, 400.0})
  {
    const double threshold = std::exp(-input / kLevelScale);
    const double from = std::max(threshold, 0x1p-70), to = 256.0;
    for (int e = 0; e <= 240; ++e)
    {
      // From just above the threshold to the domain's top, log-spaced.
      const double env = e == 0 ? std::nextafter(from, 1e300) : e == 240 ? to : from * std::pow(to / from, e / 240.0);
      for (double sum : {-16.0, -15.999, -3.0, -0.5, -1e-9, 0.0, 1e-9, 0.5, 3.0, 15.999, 16.0})
      {
        const double exact = ExactGain(env, sum / 2, sum / 2, input);
        double lo = -1.0, hi = -1.0;
        ASSERT_TRUE(EstimateGain(env, sum / 2, sum / 2, input, lo, hi)) << env << " " << sum << " " << input;
        ++accepted;
        ASSERT_TRUE(lo <= exact && exact <= hi) << "env " << env << ", L + R " << sum << ", input " << input;
        worst = std::max(worst, std::fabs((lo + hi) / 2 / exact - 1.0));
      }
    }
  }
  EXPECT_EQ(accepted, 7L * 241 * 11);
  // The block form, on each path, gives every interval bit for bit (a frame
  // count that is not a multiple of four included).
  {
    std::vector<double> env, left, right;
    for (int e = 0; e < 241; ++e)
      for (double sum : {-16.0, -3.0, 1e-9, 0.5, 15.999})
      {
        env.push_back(std::exp(-80.0 / kLevelScale) * std::pow(2.0, e / 16.0));
        left.push_back(sum / 2);
        right.push_back(sum / 2 + (e % 3) * 1e-3);
      }
    // Refused frames among accepted ones: below 2^-70, NaN, too loud.
    env.push_back(0x1p-71); left.push_back(0.1); right.push_back(0.1);
    env.push_back(0.5); left.push_back(std::nan("")); right.push_back(0.1);
    env.push_back(0.5); left.push_back(8.0); right.push_back(8.5);
    const int n = static_cast<int>(env.size());
    for (int pad = 0; pad < 4; ++pad)
      env.push_back(1.0), left.push_back(0.0), right.push_back(0.0);
    for (simdpath::Path path : {simdpath::kPlain, simdpath::kAvx2})
    {
      std::vector<double> lo(env.size(), -1.0), hi(env.size(), -1.0);
      TavloKernels::For(path == simdpath::kAvx2 ? simdpath::Best() : path, false).estimateGains(env.data(), left.data(), right.data(), 80.0, n, lo.data(),
                                                   hi.data());
      for (int a = 0; a < n; ++a)
      {
        double l = -1.0, h = -1.0;
        if (EstimateGain(env[a], left[a], right[a], 80.0, l, h))
          EXPECT_TRUE(BitEqual(l, lo[a]) && BitEqual(h, hi[a])) << "path " << path << ", frame " << a;
        else
          EXPECT_TRUE(std::isnan(lo[a]) && std::isnan(hi[a])) << "path " << path << ", frame " << a;
      }
    }
  }
  // The bound the comment derives; the interval is over six thousand times wider.
  EXPECT_LT(worst, 1.5e-10);
  EXPECT_GT(kEstimateWidth, 6000 * 1.5e-10);

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const struct
  {
    double env, left, right, input;
    bool inside;
  } edges[] = {
    {0x1p-70, 0.1, 0.1, 400.0, true},
    {std::nextafter(0x1p-70, 0.0), 0.1, 0.1, 400.0, false},
    {256.0, 0.1, 0.1, 0.0, true},
    {std::nextafter(256.0, 1e9), 0.1, 0.1, 0.0, false},
    {0.5, 8.0, 8.0, 80.0, true},
    {0.5, 8.0, 8.00001, 80.0, false},
    {0.5, -8.0, -8.0, 80.0, true},
    {0.5, -8.0, -8.00001, 80.0, false},
    {0.5, 0.1, 0.1, std::nextafter(400.0, 401.0), false},
    {0.5, 0.1, 0.1, -1.0, false},
    {nan, 0.1, 0.1, 80.0, false},
    {0.5, nan, 0.1, 80.0, false},
    {0.5, 0.1, inf, 80.0, false},
    {0.5, -inf, inf, 80.0, false},
    {inf, 0.1, 0.1, 80.0, false},
    {0.5, 0.1, 0.1, nan, false},
  };
  for (const auto& c : edges)
  {
    double lo = -1.0, hi = -1.0;
    const bool inside = EstimateGain(c.env, c.left, c.right, c.input, lo, hi);
    EXPECT_EQ(c.inside, inside) << c.env << " " << c.left << " " << c.right << " " << c.input;
    if (inside)
    {
      const double exact = ExactGain(c.env, c.left, c.right, c.input);
      EXPECT_TRUE(lo <= exact && exact <= hi) << c.env << " " << c.left << " " << c.right << " " << c.input;
    }
    else
      EXPECT_TRUE(lo == -1.0 && hi == -1.0) << "bounds written outside the domain";
  }
}

// The ballistics' step decided by the interval takes the attack or release
// step only where every target in the interval would; at the interval's
// edges and wherever the target could win the min or max, it leaves the
// decision to the exact gain.
TEST(TavloGainEstimate, StepWithinTheIntervalIsTheExactStepOrFallsBack)
{
  using namespace tavlogain;
  const double fall = 0.9 * 0.99, rise = 0.5 / 0.999;
  const struct
  {
    double state, lo, hi, attack, release;
    bool decided;
  } cases[] = {
    {0.9, 0.5, fall, 0.99, 0.999, true},                              // target at most the attack step
    {0.9, 0.5, std::nextafter(fall, 1.0), 0.99, 0.999, false},        // the target might be above it
    {0.9, fall, fall, 0.99, 0.999, true},                             // a single point, on the step
    {0.5, rise, 0.8, 0.99, 0.999, true},                              // target at least the release step
    {0.5, std::nextafter(rise, 0.0), 0.8, 0.99, 0.999, false},        // the target might be below it
    {0.5, 0.4, 0.6, 0.99, 0.999, false},                              // the interval holds the state
    {0.5, 0.5, 0.6, 0.99, 0.999, false},                              // its lower edge is the state
    {0.6, 0.5, 0.6, 0.99, 0.999, false},                              // its upper edge is the state
    {0.9, 0.1, 0.2, 0.0, 0.999, false},                               // attack 0: the target itself
    {0.5, 0.7, 0.8, 0.99, 0.0, false},                                // release 0: the target itself
    {0.0, 0.7, 0.8, 0.99, 0.0, false},                                // 0 / 0
    // A one-point interval is the target itself.
    {1.0, 1.0, 1.0, 0.99, 0.999, true},                               // at the target: stays
    {0.5, 1.0, 1.0, 0.99, 0.999, true},                               // rising below it
    {0.9995, 1.0, 1.0, 0.99, 0.999, false},                           // the step would pass it
    {1.2, 1.0, 1.0, 0.99, 0.999, true},                               // falling above it
    {1.005, 1.0, 1.0, 0.99, 0.999, false},                            // the step would pass it
    {0.5, NAN, NAN, 0.99, 0.999, false},                              // nothing known
    {NAN, 1.0, 1.0, 0.99, 0.999, false},                              // a NaN state
    {HUGE_VAL, 0.5, 0.6, 0.99, 0.999, false},                         // an infinite state
  };
  for (const auto& c : cases)
  {
    double state = c.state;
    const bool decided = BallisticStepWithin(state, c.lo, c.hi, c.attack, c.release);
    EXPECT_EQ(c.decided, decided) << c.state << " in [" << c.lo << ", " << c.hi << "]";
    if (!decided)
    {
      EXPECT_TRUE(BitEqual(c.state, state)) << "state changed without a decision";
      continue;
    }
    // Every target in the interval steps to the same state.
    for (double g : {c.lo, (c.lo + c.hi) / 2, c.hi})
      EXPECT_TRUE(BitEqual(tavloeq::BallisticStep(c.state, g, c.attack, c.release), state))
        << c.state << " toward " << g;
  }
}

// A hard-left 100 Hz burst at -6 dBFS, Input 120: the right channel's
// detector hears nothing and reduces nothing; Left and Linked give the
// left what Right gives the mirrored signal, to the sample; Mid hears
// (L + R) / 2 as the equations say.
TEST(TavloChain, AHardLeftBurstIsHeardByEveryDetectorButRight)
{
  const double rate = 48000.0;
  const size_t n = 48000;
  std::vector<double> burst(n, 0.0), none(n, 0.0);
  for (size_t i = 4800; i < 28800; ++i)
  {
    burst[i] = 0.5011872336272722 * std::sin(2.0 * M_PI * 100.0 * static_cast<double>(i) / rate);
  }
  struct Out
  {
    std::vector<double> l, r;
    double maxReduction = 0.0;  // 1 - the gain state, at the end of each block
  };
  auto settings = [&](int detector) {
    TavloChainSettings st;
    st.sampleRate = rate;
    st.input = 120.0;
    st.outputGain = tavloeq::OutputGain(0.0);
    st.attack = 0.005;
    st.release = 0.3;
    st.detector = detector;
    return st;
  };
  auto run = [&](int detector, std::vector<double>& left, std::vector<double>& right) {
    TavloChain chain;
    chain.SetSettings(settings(detector));
    Out o;
    o.l.resize(n);
    o.r.resize(n);
    std::vector<double> sc(n, 0.0);
    for (size_t pos = 0; pos < n; pos += 480)
    {
      double* in[4] = {&left[pos], &right[pos], &sc[pos], &sc[pos]};
      double* out[2] = {&o.l[pos], &o.r[pos]};
      chain.Process(in, out, 480);
      o.maxReduction = std::max(o.maxReduction, 1.0 - chain.GainState());
    }
    return o;
  };
  const Out right = run(kDetectRight, burst, none);
  EXPECT_EQ(0.0, right.maxReduction);
  const Out mirrored = run(kDetectRight, none, burst);
  EXPECT_GT(mirrored.maxReduction, 0.3);  // the mirror is compressed, by more than 3 dB
  for (int detector : {kDetectLeft, kDetectLinked})
  {
    SCOPED_TRACE(detector);
    const Out o = run(detector, burst, none);
    EXPECT_EQ(mirrored.maxReduction, o.maxReduction);
    size_t differ = 0;
    for (size_t i = 0; i < n; ++i) differ += !BitEqual(o.l[i], mirrored.r[i]) || !BitEqual(o.r[i], mirrored.l[i]);
    EXPECT_EQ(0u, differ);
  }
  // Mid: the equations run frame by frame (the reference chain) give the
  // same samples; the burst, heard at half its level, is reduced less.
  const Out mid = run(kDetectMid, burst, none);
  EXPECT_GT(mid.maxReduction, 0.0);
  EXPECT_LT(mid.maxReduction, mirrored.maxReduction);
  TavloReferenceChain ref;
  ref.SetSettings(settings(kDetectMid));
  std::vector<double> rl(n), rr(n), sc(n, 0.0);
  double* in[4] = {burst.data(), none.data(), sc.data(), sc.data()};
  double* out[2] = {rl.data(), rr.data()};
  ref.Process(in, out, static_cast<int>(n));
  size_t differ = 0;
  for (size_t i = 0; i < n; ++i) differ += !BitEqual(mid.l[i], rl[i]) || !BitEqual(mid.r[i], rr[i]);
  EXPECT_EQ(0u, differ);
}
