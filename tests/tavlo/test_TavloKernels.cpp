#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "dsp/OverSampler.h"
#include "kit/KitSimdPath.h"
#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloGainEstimate.h"
#include "tavlo/chain/kernels/TavloKernels.h"
#include "tavlo/chain/kernels/TavloStrandKernels.h"

namespace
{

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool BitEqual(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool BitEqualF(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The kernel sets this processor can run.
std::vector<const TavloKernels*> Paths()
{
  std::vector<const TavloKernels*> paths{&TavloKernels::For(simdpath::kPlain, false)};
  if (simdpath::Best() == simdpath::kAvx2)
  {
    paths.push_back(&TavloKernels::For(simdpath::kAvx2, false));
    simdpath::Force(simdpath::kAvx2);
    simdpath::AllowAvx512(true);
    if (simdpath::Avx512()) paths.push_back(&TavloKernels::For(simdpath::kAvx2, true));
  }
  return paths;
}

// Input 80 at 48 kHz.
const double kInput = 80.0;
const double kDrive = tavloeq::Drive(kInput), kThreshold = tavloeq::Threshold(kInput);
const double kC = tavloeq::EnvelopeCoef(48000.0);

// Both zeros, denormals, NaN and both infinities among ordinary and very
// large values, with the detector table's end (a driven value of 199 /
// scale) approached from both sides; an odd count, so every kernel's tail
// runs too.
std::vector<double> EdgeBuffer()
{
  const double denormal = std::numeric_limits<double>::denorm_min();
  const double tableEnd = 199.0 / static_cast<double>(detector_table.scale) / kDrive;
  std::vector<double> v = {0.0,
                           -0.0,
                           denormal,
                           -denormal,
                           1e-310,
                           -1e-310,
                           1e-40,
                           -1e-40,
                           kNaN,
                           -kNaN,
                           kInf,
                           -kInf,
                           0.25,
                           -0.25,
                           0.999,
                           -0.999,
                           tableEnd,
                           std::nextafter(tableEnd, 0.0),
                           std::nextafter(tableEnd, 10.0),
                           1.4,
                           3.0,
                           -3.0,
                           1e300,
                           -1e300,
                           0.5,
                           kNaN,
                           0.75,
                           -0.125};
  for (int k = 0; k < 37; ++k) v.push_back(0.9 * std::sin(0.7 * k) + (k % 5 == 0 ? 1.3 : 0.0));
  return v;
}

}  // namespace

// Every kernel of every path gives the bits its equation gives, on a buffer
// of edge values.
TEST(TavloKernels, EachKernelIsItsEquation)
{
  const std::vector<double> x = EdgeBuffer();
  const int n = static_cast<int>(x.size());
  std::vector<float> xf(x.begin(), x.end());
  for (const TavloKernels* kn : Paths())
  {
    SCOPED_TRACE(kn->name);
    // Preamp.
    std::vector<double> out(n + 8, -7.0);
    kn->preamp(x.data(), out.data(), n);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(BitEqual(out[i], tavloeq::PreampCurve(x[i]))) << "preamp, frame " << i;

    // Envelopes: the frames over the threshold in order, with their envelopes.
    std::vector<double> env(n + 64);
    std::vector<unsigned short> above(n + 8);
    const int count = kn->envelopes(xf.data(), n, kDrive, 1.0 - kC, kC, kThreshold, env.data(), above.data());
    int want = 0;
    for (int i = 0; i < n; ++i)
    {
      const double driven = kDrive * xf[i];
      if (!(driven > 0.0)) continue;
      const double e = tavloeq::Envelope(tavloeq::DetectorCurve(driven), kC, 1.0 - kC);
      if (!(e > kThreshold)) continue;
      ASSERT_LT(want, count);
      ASSERT_EQ(above[want++], i);
      ASSERT_TRUE(BitEqual(env[i], e)) << "envelope, frame " << i;
    }
    EXPECT_EQ(count, want);
    EXPECT_GT(count, 10);

    // Linked: the louder of two detectors' values, the edge buffer (its NaN
    // and infinities on either side) against itself reversed.
    std::vector<float> xr(xf.rbegin(), xf.rend());
    const int linked =
      kn->envelopesLinked(xf.data(), xr.data(), n, kDrive, 1.0 - kC, kC, kThreshold, env.data(), above.data());
    want = 0;
    for (int i = 0; i < n; ++i)
    {
      const double e = tavloeq::ChannelEnvelope(tavloeq::LinkedDetector(xf[i], xr[i]), kDrive, kC, 1.0 - kC);
      if (!(e > kThreshold)) continue;
      ASSERT_LT(want, linked);
      ASSERT_EQ(above[want++], i);
      ASSERT_TRUE(BitEqual(env[i], e)) << "linked envelope, frame " << i;
    }
    EXPECT_EQ(linked, want);
    EXPECT_GT(linked, count);

    // The detector's products, from a source and from none, and their
    // rounding to float with the non-finite check.
    Biquad filter;
    tavloeq::SetDetectorFilter(filter, 250.0, 48000.0);
    std::vector<double> xa0(n), xa1(n), xa2(n);
    for (const double* src : {x.data(), static_cast<const double*>(nullptr)})
    {
      kn->detectorProducts(filter, src, n, xa0.data(), xa1.data(), xa2.data());
      for (int i = 0; i < n; ++i)
      {
        const double in = static_cast<float>(src ? src[i] : 0.0);
        ASSERT_TRUE(BitEqual(xa0[i], in * filter.getA0()) && BitEqual(xa1[i], in * filter.getA1()) &&
                    BitEqual(xa2[i], in * filter.getA2()))
          << "products, frame " << i;
      }
    }
    // The first chunk's preamp beside one detector or two (Linked), where
    // the path has them: each its own equation, the filters' non-finite
    // clearing included.
    if (kn->preampBesideDetector)
    {
      std::vector<double> pL(n), pR(n);
      std::vector<float> d(n), d2(n);
      Biquad f, f2, g, g2;
      tavloeq::SetDetectorFilter(f, 250.0, 48000.0);
      f2 = g = g2 = f;
      std::vector<double> xr(x.rbegin(), x.rend());
      kn->preampBesideDetectorPair(x.data(), xr.data(), n, pL.data(), pR.data(), f, x.data(), d.data(), f2,
                                   xr.data(), d2.data());
      for (int i = 0; i < n; ++i)
      {
        ASSERT_TRUE(BitEqual(pL[i], tavloeq::PreampCurve(x[i])) && BitEqual(pR[i], tavloeq::PreampCurve(xr[i])))
          << "preamp beside the detectors, frame " << i;
        ASSERT_TRUE(BitEqualF(d[i], tavloeq::DetectorStep(g, x[i])) && BitEqualF(d2[i], tavloeq::DetectorStep(g2, xr[i])))
          << "detectors beside the preamp, frame " << i;
      }
      Biquad one = g = f2;
      kn->preampBesideDetector(x.data(), xr.data(), n, pL.data(), pR.data(), one, xr.data(), d.data());
      for (int i = 0; i < n; ++i) ASSERT_TRUE(BitEqualF(d[i], tavloeq::DetectorStep(g, xr[i]))) << i;
    }

    std::vector<float> rounded(n);
    EXPECT_FALSE(tavlokernels::DetectorToFloat(x.data(), n, rounded.data()));
    EXPECT_TRUE(tavlokernels::DetectorToFloat(x.data() + n - 37, 37, rounded.data()));
    for (int i = 0; i < 37; ++i) ASSERT_TRUE(BitEqualF(rounded[i], static_cast<float>(x[n - 37 + i])));

    // Mix, its outputs over its dry inputs as a host's in-place buffers are.
    std::vector<float> y(n);
    for (int i = 0; i < n; ++i) y[i] = static_cast<float>(x[(i * 7) % n]);
    std::vector<double> dL(x.rbegin(), x.rend()), dR(x), outL(n), outR(n);
    kn->mix(y.data(), x.data(), dL.data(), dL.data(), dR.data(), 0.35, 0.65, 0.5, outL.data(), dR.data(), n);
    for (int i = 0; i < n; ++i)
    {
      ASSERT_TRUE(BitEqual(outL[i], tavloeq::Mix(y[i], x[i], x[n - 1 - i], 0.35, 0.65, 0.5))) << "mix L " << i;
      ASSERT_TRUE(BitEqual(dR[i], tavloeq::Mix(y[i], x[n - 1 - i], x[i], 0.35, 0.65, 0.5))) << "mix R " << i;
    }
  }
  simdpath::Force(simdpath::kAvx2);
  simdpath::AllowAvx512(true);
}

// The serial loop against the equations frame by frame, with targets over
// the threshold decided by the interval, by the exact gain, or not at all
// (non-finite inputs), Input 0's hold, a smoother that starts non-finite
// (the checked rerun) and the next chunk's detector beside it.
TEST(TavloKernels, SerialLoopIsTheBallisticsSmootherAndMeter)
{
  const std::vector<double> x = EdgeBuffer();
  const int n = static_cast<int>(x.size());
  std::vector<double> env(n), L(n), R(n), lo(n + 4), hi(n + 4), xa0(n), xa1(n), xa2(n), dOut(n);
  std::vector<unsigned char> reduce(n);
  for (int i = 0; i < n; ++i)
  {
    env[i] = 0.02 + 0.5 * std::fabs(std::sin(1.3 * i));
    L[i] = x[i];
    R[i] = x[(i * 5) % n];
    reduce[i] = i % 3 != 0;
  }
  Biquad filter;
  tavloeq::SetDetectorFilter(filter, 90.0, 48000.0);
  const double src[4] = {0.3, -0.2, 0.7, 0.1};
  const double srcLeft[4] = {-0.4, 0.6, 0.05, -0.9};
  std::vector<double> xb0(n), xb1(n), xb2(n), dOut2(n);
  for (double input : {kInput, 0.0})
    for (bool nanSmoother : {false, true})
      for (const TavloKernels* kn : Paths())
      {
        const bool linked = nanSmoother == (input == 0.0);  // both ways, in either case
        SCOPED_TRACE(std::string(kn->name) + (nanSmoother ? ", smoother NaN" : "") + (input == 0 ? ", Input 0" : "") +
                     (linked ? ", linked" : ""));
        for (int i = 0; i < n; ++i)
          if (!reduce[i] || !tavlogain::EstimateGain(env[i], L[i], R[i], input, lo[i], hi[i]))
            lo[i] = hi[i] = reduce[i] ? kNaN : 1.0;
        TavloChunkSerial c;
        c.n = n;
        c.lo = lo.data();
        c.hi = hi.data();
        c.env = env.data();
        c.L = L.data();
        c.R = R.data();
        c.reduce = reduce.data();
        c.attack = tavloeq::BallisticCoef(0.0005, 48000.0);
        c.release = tavloeq::BallisticCoef(0.1, 48000.0);
        c.releaseRecip = 1.0 / c.release;
        c.releaseRecipLow = std::fma(-c.releaseRecip, c.release, 1.0) / c.release;
        c.input = input;
        c.meterCoef = tavloeq::MeterCoef(48000.0);
        std::vector<float> y(n);
        c.y = y.data();
        c.nNext = 4;
        for (int i = 0; i < 4; ++i)
        {
          const double in = static_cast<float>(src[i]);
          xa0[i] = in * filter.getA0(), xa1[i] = in * filter.getA1(), xa2[i] = in * filter.getA2();
        }
        c.xa0 = xa0.data(), c.xa1 = xa1.data(), c.xa2 = xa2.data(), c.dOut = dOut.data();
        c.linked = linked;
        for (int i = 0; i < 4; ++i)
        {
          const double in = static_cast<float>(srcLeft[i]);
          xb0[i] = in * filter.getA0(), xb1[i] = in * filter.getA1(), xb2[i] = in * filter.getA2();
        }
        c.xb0 = xb0.data(), c.xb1 = xb1.data(), c.xb2 = xb2.data(), c.dOut2 = dOut2.data();
        c.filter = filter;
        c.filter2 = filter;
        c.smoother = NumSmooth(tavloeq::kSmootherPole, nanSmoother ? NAN : 0.5f);
        c.meter = VUClass(0.25);
        c.gainState = 0.8;
        // The equations.
        NumSmooth smoother = c.smoother;
        VUClass meter = c.meter;
        Biquad detector = filter, leftDetector = filter;
        double gs = c.gainState;
        std::vector<float> want(n);
        for (int i = 0; i < n; ++i)
        {
          const double g = reduce[i] ? tavloeq::ExactGain(env[i], L[i], R[i], input) : 1.0;
          gs = tavloeq::BallisticStep(gs, g, c.attack, c.release);
          want[i] = tavloeq::SmoothGain(smoother, gs);
          if (input == 0.0) gs = 1.0;
          tavloeq::MeterStep(meter, gs, c.meterCoef);
        }
        (linked ? kn->serialLinked : kn->serial)(c, false);
        for (int i = 0; i < n; ++i) ASSERT_TRUE(BitEqualF(y[i], want[i])) << "frame " << i;
        EXPECT_TRUE(BitEqual(c.gainState, gs));
        EXPECT_TRUE(BitEqual(c.meter.GetState(), meter.GetState()));
        EXPECT_TRUE(BitEqualF(c.smoother.GetState(), smoother.GetState()));
        for (int i = 0; i < 4; ++i)
        {
          EXPECT_TRUE(BitEqualF(static_cast<float>(dOut[i]), tavloeq::DetectorStep(detector, src[i]))) << i;
          if (linked)
          {
            EXPECT_TRUE(BitEqualF(static_cast<float>(dOut2[i]), tavloeq::DetectorStep(leftDetector, srcLeft[i]))) << i;
          }
        }

        // A quiet chunk: the gain stays at 1, the smoother and meter move.
        c.gainState = 1.0;
        const float before = c.smoother.GetState();
        (linked ? kn->serialLinked : kn->serial)(c, true);
        EXPECT_EQ(c.gainState, 1.0);
        NumSmooth quiet(tavloeq::kSmootherPole, before);
        float last = before;
        for (int i = 0; i < n; ++i) last = tavloeq::SmoothGain(quiet, 1.0);
        EXPECT_TRUE(BitEqualF(y[n - 1], last));
      }
  simdpath::Force(simdpath::kAvx2);
  simdpath::AllowAvx512(true);
}

// Both channels' strands, oversampled and not, against the per-sample
// oversampler with the equations' preamp and recovery; and the fading mix.
TEST(TavloKernels, StrandsAndFadingMixAreTheirEquations)
{
  std::vector<double> x = EdgeBuffer();
  // Long enough for two pieces, with non-finite frames in both.
  while (x.size() < 300) x.push_back(0.8 * std::sin(0.05 * static_cast<double>(x.size())));
  x[200] = kInf;
  x[255] = kNaN;
  const int n = static_cast<int>(x.size());
  std::vector<double> xr(x.rbegin(), x.rend());
  using OS = OverSampler<double>;
  for (const TavloKernels* kn : Paths())
    for (OS::EFactor factor : {OS::kNone, OS::k4x})
    {
      SCOPED_TRACE(std::string(kn->name) + (factor == OS::k4x ? ", 4x" : ", 1x"));
      OS preL(OS::kNone, true, 1, OS::k4x), preR(OS::kNone, true, 1, OS::k4x), dryL(OS::kNone, true, 1, OS::k4x),
        dryR(OS::kNone, true, 1, OS::k4x);
      OS refPre[2], refDry[2];
      for (OS* os : {&preL, &preR, &dryL, &dryR, &refPre[0], &refPre[1], &refDry[0], &refDry[1]})
        os->SetFactor(factor, tavloeq::kOversampleResetSize);
      std::vector<double> pL(n), pR(n), dL(n), dR(n);
      std::vector<double> work(tavlokernels::kStrandWorkSize);
      const tavlokernels::StrandOversamplers oss{preL, preR, dryL, dryR};
      for (int pos = 0; pos < n; pos += 128)
      {
        const int len = std::min(128, n - pos);
        tavlokernels::RunStrandsStereo(*kn, x.data() + pos, xr.data() + pos, len, oss, pL.data() + pos, pR.data() + pos,
                                       dL.data() + pos, dR.data() + pos, work.data());
      }
      const double* in[2] = {x.data(), xr.data()};
      const double* p[2] = {pL.data(), pR.data()};
      const double* d[2] = {dL.data(), dR.data()};
      for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < n; ++i)
        {
          const double wantP = refPre[ch].Process(in[ch][i], [](double v) { return tavloeq::PreampCurve(v); });
          const double wantD = refDry[ch].Process(in[ch][i], [](double v) { return v; });
          if (!tavloeq::StrandsFinite(in[ch][i], wantP, wantD))
          {
            refPre[ch].ClearState();
            refDry[ch].ClearState();
          }
          ASSERT_TRUE(BitEqual(p[ch][i], wantP)) << "preamp strand " << ch << ", frame " << i;
          if (factor == OS::k4x)
          {
            ASSERT_TRUE(BitEqual(d[ch][i], wantD)) << "dry strand " << ch << ", frame " << i;
          }
        }
    }

  // The fading mix: Listen and Bypass each into their other state, held,
  // and out again, overlapping, frame for frame.
  std::vector<float> y(n, 0.7f), heardL(n), heardR(n);
  for (int i = 0; i < n; ++i)
  {
    heardL[i] = static_cast<float>(0.3 * std::sin(0.2 * i));
    heardR[i] = static_cast<float>(0.2 * std::cos(0.3 * i));
  }
  std::vector<double> outL(n), outR(n);
  IFxFade listenFade, bypassFade, refListen, refBypass;
  for (IFxFade* f : {&listenFade, &bypassFade, &refListen, &refBypass}) f->SetLength(48);
  for (int from = 0; from < n; from += 50)
  {
    const bool listen = (from / 50) % 4 == 1 || (from / 50) % 4 == 2, bypass = (from / 100) % 2 == 1;
    const int len = std::min(50, n - from);
    const tavlokernels::TavloFadingSwitches sw{listenFade,           listen,     heardL.data() + from,
                                               heardR.data() + from, bypassFade, bypass};
    tavlokernels::MixFading(sw, y.data() + from, xr.data() + from, x.data() + from, x.data() + from, xr.data() + from,
                            x.data() + from, xr.data() + from, 0.8, 0.2, 2.0, outL.data() + from, outR.data() + from,
                            len);
    for (int i = from; i < from + len; ++i)
    {
      const double wl = tavloeq::SwitchWeight(refListen, listen), w = tavloeq::SwitchWeight(refBypass, bypass);
      const double l = IFxFade::Mix(tavloeq::Mix(0.7f, xr[i], x[i], 0.8, 0.2, 2.0), heardL[i], wl);
      const double r = IFxFade::Mix(tavloeq::Mix(0.7f, x[i], xr[i], 0.8, 0.2, 2.0), heardR[i], wl);
      ASSERT_TRUE(BitEqual(outL[i], IFxFade::Mix(l, x[i], w))) << i;
      ASSERT_TRUE(BitEqual(outR[i], IFxFade::Mix(r, xr[i], w))) << i;
    }
  }
}
