#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "dsp/OverSampler.h"
#include "kit/KitSimdPath.h"

namespace
{

using OS = OverSampler<double>;
const double kPi = 3.141592653589793;

// Switches and clears, even to the factor it has.
void SetFactor(OS& os, OS::EFactor f)
{
  os.SetFactor(f, 1024);
  os.Reset(1024);
}

double Identity(double x) { return x; }

// Steady-state amplitude of a sine at f (fraction of the base rate), by
// correlation over a whole number of cycles (f * 48000 must be an integer).
double SineGain(OS::EFactor factor, double f)
{
  OS os(factor, true, 1);
  for (int n = 0; n < 8000; ++n)
    os.Process(std::sin(2.0 * kPi * f * n), Identity);
  double re = 0.0, im = 0.0;
  const int N = 48000;
  for (int n = 8000; n < 8000 + N; ++n)
  {
    const double y = os.Process(std::sin(2.0 * kPi * f * n), Identity);
    re += y * std::cos(2.0 * kPi * f * n);
    im += y * std::sin(2.0 * kPi * f * n);
  }
  return 2.0 * std::sqrt(re * re + im * im) / N;
}

} // namespace

TEST(OverSampler, RatesAndConstruction)
{
  EXPECT_EQ(OS::RateOf(OS::kNone), 1);
  EXPECT_EQ(OS::RateOf(OS::k2x), 2);
  EXPECT_EQ(OS::RateOf(OS::k4x), 4);
  EXPECT_EQ(OS::RateOf(OS::k8x), 8);
  EXPECT_EQ(OS::RateOf(OS::k16x), 16);
  OS os(OS::k4x, true, 1);
  EXPECT_EQ(os.GetFactor(), OS::k4x);
  EXPECT_EQ(os.GetRate(), 4);
  OS none;
  EXPECT_EQ(none.GetFactor(), OS::kNone);
  EXPECT_EQ(none.GetRate(), 1);
}

TEST(OverSampler, BuffersAreSizedFor16xWhateverTheFactor)
{
  OS os(OS::kNone, true, 2);
  // Buffers at 16x, 8x, 4x, 2x for 1024 frames and two channels.
  const size_t expected[4] = {16 * 2048, 8 * 2048, 4 * 2048, 2 * 2048};
  for (int b = 0; b < 4; ++b)
  {
    EXPECT_EQ(os.GetUpBufferSize(b), expected[b]);
    EXPECT_EQ(os.GetDownBufferSize(b), expected[b]);
    // Channel 1's view starts one channel's region into the buffer.
    EXPECT_EQ(os.GetUpView(b, 1) - os.GetUpView(b, 0), static_cast<long>(expected[b] / 2));
  }
  os.Reset(64);
  EXPECT_EQ(os.GetUpBufferSize(0), 16u * 64u * 2u);
  EXPECT_EQ(os.GetUpBufferSize(3), 2u * 64u * 2u);

  OS single(OS::kNone, false, 1);
  EXPECT_EQ(single.GetUpBufferSize(0), 16u);
  EXPECT_EQ(single.GetDownBufferSize(3), 2u);

  // An instance never switched above 4x keeps no 16x or 8x buffers; one
  // made at a factor above its stated top takes that factor as its top.
  OS capped(OS::kNone, true, 2, OS::k4x);
  const size_t upTo4x[4] = {0, 0, 4 * 2048, 2 * 2048};
  for (int b = 0; b < 4; ++b)
  {
    EXPECT_EQ(capped.GetUpBufferSize(b), upTo4x[b]);
    EXPECT_EQ(capped.GetDownBufferSize(b), upTo4x[b]);
  }
  OS raised(OS::k8x, true, 1, OS::k2x);
  EXPECT_EQ(raised.GetTopFactor(), OS::k8x);
  EXPECT_EQ(raised.GetUpBufferSize(1), 8u * 1024u);
}

TEST(OverSampler, NoneCallsOnceAndReturnsXExactly)
{
  OS os;
  int calls = 0;
  const double xs[] = {0.0, -0.0, 1.0, -0.123456789, 1e300, 5e-324};
  for (double x : xs)
  {
    const double y = os.Process(x, [&](double v) {
      ++calls;
      return v;
    });
    EXPECT_EQ(std::signbit(y), std::signbit(x));
    EXPECT_EQ(y, x);
  }
  EXPECT_EQ(calls, 6);
}

TEST(OverSampler, CallsTheFunctionRateTimesInOrder)
{
  // At 4x the function sees the outputs of the 12- then 4-coefficient
  // up stages, pair by pair.
  OS os(OS::k4x, true, 1);
  halfband::Upsampler2x<12> up12;
  halfband::Upsampler2x<4> up4;
  up12.set_coefs(halfband::Coefs<12>::kValues);
  up4.set_coefs(halfband::Coefs<4>::kValues);
  for (int n = 0; n < 64; ++n)
  {
    const double x = std::sin(0.37 * n) + 0.25;
    std::vector<double> seen;
    os.Process(x, [&](double v) {
      seen.push_back(v);
      return v;
    });
    ASSERT_EQ(seen.size(), 4u);
    const auto a = up12.process_sample(x);
    const auto b0 = up4.process_sample(a.first);
    const auto b1 = up4.process_sample(a.second);
    EXPECT_EQ(seen[0], b0.first) << n;
    EXPECT_EQ(seen[1], b0.second) << n;
    EXPECT_EQ(seen[2], b1.first) << n;
    EXPECT_EQ(seen[3], b1.second) << n;
  }

  for (OS::EFactor f : {OS::k2x, OS::k8x, OS::k16x})
  {
    OS o(f, true, 1);
    int calls = 0;
    for (int n = 0; n < 10; ++n)
      o.Process(0.5, [&](double v) {
        ++calls;
        return v;
      });
    EXPECT_EQ(calls, 10 * OS::RateOf(f));
  }
}

TEST(OverSampler, DownStagesPairTheResultsInOrder)
{
  // A function returning the index of its call within the frame makes the
  // decimation visible: the result must equal the cascade fed 0,1,2,3.
  OS os(OS::k4x, true, 1);
  halfband::Downsampler2x<12> d12;
  halfband::Downsampler2x<4> d4;
  d12.set_coefs(halfband::Coefs<12>::kValues);
  d4.set_coefs(halfband::Coefs<4>::kValues);
  for (int n = 0; n < 16; ++n)
  {
    int k = 0;
    const double y = os.Process(0.0, [&](double) { return static_cast<double>(k++); });
    const double r[4] = {0.0, 1.0, 2.0, 3.0};
    const double w[2] = {d4.process_sample(r), d4.process_sample(r + 2)};
    EXPECT_EQ(y, d12.process_sample(w)) << n;
  }
}

TEST(OverSampler, IdentitySettlesToConstantAtEveryFactor)
{
  for (OS::EFactor f : {OS::k2x, OS::k4x, OS::k8x, OS::k16x})
  {
    OS os(f, true, 1);
    double y = 0.0;
    for (int n = 0; n < 4000; ++n)
      y = os.Process(0.3, Identity);
    EXPECT_NEAR(y, 0.3, 1e-12) << "factor " << f;
  }
  // Band up to 0.49 of the base rate passes; the stop band is empty.
  EXPECT_NEAR(SineGain(OS::k4x, 1000.0 / 48000.0), 1.0, 1e-4);
  EXPECT_NEAR(SineGain(OS::k4x, 0.4), 1.0, 1e-3);
  EXPECT_NEAR(SineGain(OS::k16x, 0.2), 1.0, 1e-3);
}

TEST(OverSampler, TwoResetsEqualOne)
{
  auto run = [](int resets) {
    OS os(OS::kNone, true, 1);
    SetFactor(os, OS::k4x);
    for (int n = 0; n < 300; ++n)
      os.Process(std::sin(0.1 * n), Identity);
    for (int r = 0; r < resets; ++r)
      os.Reset(1024);
    std::vector<double> out;
    for (int n = 0; n < 300; ++n)
      out.push_back(os.Process(std::cos(0.05 * n), Identity));
    return out;
  };
  const std::vector<double> once = run(1), twice = run(2);
  ASSERT_EQ(once.size(), twice.size());
  for (size_t n = 0; n < once.size(); ++n)
    EXPECT_EQ(once[n], twice[n]) << n;
  // And a reset leaves the same state as a fresh instance.
  OS fresh(OS::k4x, true, 1);
  for (int n = 0; n < 300; ++n)
    EXPECT_EQ(fresh.Process(std::cos(0.05 * n), Identity), once[n]) << n;
}

TEST(OverSampler, SwitchingFactorStartsFromSilence)
{
  OS os;
  for (int n = 0; n < 10; ++n)
    os.Process(1.0, Identity);
  SetFactor(os, OS::k4x);
  // First output of a cleared cascade for a unit input: products of the
  // even-path coefficients only reach the output after the delay line, so
  // it is small, and equals a fresh instance's.
  OS fresh(OS::k4x, true, 1);
  EXPECT_EQ(os.Process(1.0, Identity), fresh.Process(1.0, Identity));
  EXPECT_LT(std::fabs(fresh.Process(1.0, Identity)), 0.5);
}

TEST(OverSampler, EmptyCallableThrowsBadFunctionCall)
{
  OS os(OS::k4x, true, 1);
  std::function<double(double)> empty;
  EXPECT_THROW(os.Process(1.0, empty), std::bad_function_call);
  OS none;
  EXPECT_THROW(none.Process(1.0, empty), std::bad_function_call);
}

TEST(OverSampler, ClearStateMatchesReset)
{
  OS a(OS::k4x, true, 1), b(OS::k4x, true, 1);
  for (int n = 0; n < 100; ++n)
  {
    a.Process(std::sin(0.2 * n), Identity);
    b.Process(std::sin(0.2 * n), Identity);
  }
  a.ClearState();
  b.Reset(1024);
  for (int n = 0; n < 100; ++n)
    EXPECT_EQ(a.Process(0.1 * n, Identity), b.Process(0.1 * n, Identity));
}

TEST(OverSampler, BlockFormGivesTheSameNumbersAsPerSample)
{
  const auto bend = [](double v) { return v / (1.0 + std::fabs(v)); };
  for (OS::EFactor f : {OS::kNone, OS::k2x, OS::k4x, OS::k8x, OS::k16x})
  {
    // capped: buffers for this factor only.
    OS perSample(f, true, 1), block(f, true, 1), capped(f, true, 1, f);
    block.Reset(100); // pieces of at most 100 frames
    capped.Reset(100);
    std::vector<double> in(777), ref(777), out(777);
    for (size_t i = 0; i < in.size(); ++i)
      in[i] = std::sin(0.05 * i) + 0.3 * std::sin(1.7 * i);
    for (size_t i = 0; i < in.size(); ++i)
      ref[i] = perSample.Process(in[i], bend);
    // Uneven block lengths, one of them longer than the capacity.
    size_t pos = 0;
    std::vector<double> outCapped(777);
    for (int len : {1, 64, 250, 7, 100, 355})
    {
      block.ProcessBlock(&in[pos], &out[pos], len, bend);
      capped.ProcessBlock(&in[pos], &outCapped[pos], len, bend);
      pos += len;
    }
    ASSERT_EQ(pos, in.size());
    for (size_t i = 0; i < in.size(); ++i)
    {
      ASSERT_EQ(out[i], ref[i]) << "factor " << f << " frame " << i;
      ASSERT_EQ(outCapped[i], ref[i]) << "factor " << f << " frame " << i << ", buffers capped";
    }
  }
}

TEST(OverSampler, SharedUpsamplingMatchesTwoInstances)
{
  // Two functions on one upsampled block, the second instance's up stages
  // brought along: both match instances run on their own.
  const auto bend = [](double v) { return -0.5 * v * v; };
  OS a(OS::k4x, true, 1), b(OS::k4x, true, 1), refA(OS::k4x, true, 1), refB(OS::k4x, true, 1);
  std::vector<double> in(300), outA(300), outB(300);
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = std::cos(0.11 * i);
  for (int pass = 0; pass < 2; ++pass)
  {
    const double* hi = a.UpsampleBlock(in.data(), 300);
    double* res = a.DownTop();
    for (int k = 0; k < 4 * 300; ++k)
      res[k] = bend(hi[k]);
    b.DownsampleBlock(hi, outB.data(), 300);
    a.DownsampleBlock(res, outA.data(), 300);
    b.CopyUpStateFrom(a);
    for (size_t i = 0; i < in.size(); ++i)
    {
      ASSERT_EQ(outA[i], refA.Process(in[i], bend)) << i;
      ASSERT_EQ(outB[i], refB.Process(in[i], Identity)) << i;
    }
  }
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(b.Up12().prev_outputs()[k], refB.Up12().prev_outputs()[k]);
}

TEST(OverSampler, NonPositiveBlockSizeStillLeavesUsableBuffers)
{
  OS os(OS::k4x, true, 1);
  os.Reset(0);
  EXPECT_EQ(os.BlockCapacity(), 1);
  EXPECT_EQ(os.GetUpBufferSize(0), 16u);
  os.Reset(-5);
  EXPECT_EQ(os.GetDownBufferSize(3), 2u);
  double in[3] = {1.0, 0.5, 0.25}, out[3];
  os.ProcessBlock(in, out, 3, Identity);
  OS ref(OS::k4x, true, 1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(out[i], ref.Process(in[i], Identity));
}

TEST(OverSampler, SideBySideBlocksMatchOneAtATime)
{
  for (OS::EFactor f : {OS::k2x, OS::k4x, OS::k8x, OS::k16x})
  {
    const int rate = OS::RateOf(f);
    OS a(f, true, 1), b(f, true, 1), c(f, true, 1), d(f, true, 1);
    OS ra(f, true, 1), rb(f, true, 1), rc(f, true, 1), rd(f, true, 1);
    std::vector<double> inA(200), inB(200);
    for (size_t i = 0; i < 200; ++i)
    {
      inA[i] = std::sin(0.3 * i);
      inB[i] = 0.5 - std::cos(0.07 * i);
    }
    OS* const up[2] = {&a, &b};
    const double* const in[2] = {inA.data(), inB.data()};
    OS::UpsampleBlocks<2>(up, in, 200);
    std::vector<double> hiA(a.UpTop(), a.UpTop() + 200 * rate), hiB(b.UpTop(), b.UpTop() + 200 * rate);
    const double* refHiA = ra.UpsampleBlock(inA.data(), 200);
    const double* refHiB = rb.UpsampleBlock(inB.data(), 200);
    for (int k = 0; k < 200 * rate; ++k)
    {
      ASSERT_EQ(hiA[k], refHiA[k]) << "factor " << f << " k " << k;
      ASSERT_EQ(hiB[k], refHiB[k]) << "factor " << f << " k " << k;
    }
    std::vector<double> o[4], r[4];
    for (int s = 0; s < 4; ++s)
    {
      o[s].resize(200);
      r[s].resize(200);
    }
    OS* const down[4] = {&a, &b, &c, &d};
    const double* const hi[4] = {hiA.data(), hiB.data(), hiB.data(), hiA.data()};
    double* const out[4] = {o[0].data(), o[1].data(), o[2].data(), o[3].data()};
    OS::DownsampleBlocks<4>(down, hi, out, 200);
    ra.DownsampleBlock(hiA.data(), r[0].data(), 200);
    rb.DownsampleBlock(hiB.data(), r[1].data(), 200);
    rc.DownsampleBlock(hiB.data(), r[2].data(), 200);
    rd.DownsampleBlock(hiA.data(), r[3].data(), 200);
    for (int s = 0; s < 4; ++s)
      for (int i = 0; i < 200; ++i)
        ASSERT_EQ(o[s][i], r[s][i]) << "factor " << f << " instance " << s << " frame " << i;
  }
}

// A function of the top-rate samples, with the four-at-once form the AVX2
// path calls: the same operations, so the same numbers.
struct CubicShape
{
  static double One(double x) { return (x * x - 0.5) * x; }
  void Block(const double* in, double* out, int n) const
  {
    for (int k = 0; k < n; ++k)
      out[k] = One(in[k]);
  }
  __attribute__((target("avx2"), always_inline)) __m256d Four(__m256d x) const
  {
    return _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(x, x), _mm256_set1_pd(0.5)), x);
  }
};

// On the processor's best path and on the plain one; an odd frame count
// leaves single steps after the ones done in pairs.
TEST(OverSampler, SideBySideBlocksWithCallerWorkMemory)
{
  for (const simdpath::Path path : {simdpath::kAvx2, simdpath::kPlain})
    for (const int n : {100, 37})
      for (OS::EFactor f : {OS::k2x, OS::k4x, OS::k16x})
      {
        const int rate = OS::RateOf(f);
        SCOPED_TRACE(testing::Message() << (path == simdpath::kPlain ? "plain" : "best") << " path, " << rate
                                        << "x, " << n << " frames");
        simdpath::Force(path);
        OS a(f, true, 1), b(f, true, 1), ra(f, true, 1), rb(f, true, 1);
        std::vector<double> inA(n), inB(n);
        for (int i = 0; i < n; ++i)
        {
          inA[i] = std::sin(0.21 * i);
          inB[i] = std::cos(0.02 * i) - 0.5;
        }
        // Up levels need (rate - 2) x n + rate x n, down levels rate x n.
        std::vector<double> upA(30 * n, -7.0), upB(30 * n, -7.0), dnA(16 * n), dnB(16 * n);
        std::vector<double> shA(16 * n + 1, -7.0), shB(16 * n + 1, -7.0);
        OS* const up[2] = {&a, &b};
        const double* const in[2] = {inA.data(), inB.data()};
        double* const upWork[2] = {upA.data(), upB.data()};
        const double* top[2] = {nullptr, nullptr};
        double* const shaped[2] = {shA.data(), shB.data()};
        const CubicShape shape;
        OS::UpsampleBlocks<2>(up, in, n, upWork, top, shaped, &shape);
        ASSERT_EQ(top[0], upA.data() + (rate - 2) * n);
        const double* refTop = ra.UpsampleBlock(inA.data(), n);
        const double* refTopB = rb.UpsampleBlock(inB.data(), n);
        for (int k = 0; k < rate * n; ++k)
        {
          ASSERT_EQ(top[0][k], refTop[k]) << "k " << k;
          ASSERT_EQ(top[1][k], refTopB[k]) << "k " << k;
          ASSERT_EQ(shA[k], CubicShape::One(refTop[k])) << "k " << k;
          ASSERT_EQ(shB[k], CubicShape::One(refTopB[k])) << "k " << k;
        }
        EXPECT_EQ(shA[rate * n], -7.0);

        std::vector<double> oA(n), oB(n), rA(n), rB(n);
        const double* const hi[2] = {top[0], top[1]};
        double* const out[2] = {oA.data(), oB.data()};
        double* const dnWork[2] = {dnA.data(), dnB.data()};
        OS::DownsampleBlocks<2>(up, hi, out, n, dnWork);
        ra.DownsampleBlock(refTop, rA.data(), n);
        rb.DownsampleBlock(refTopB, rB.data(), n);
        for (int i = 0; i < n; ++i)
        {
          ASSERT_EQ(oA[i], rA[i]) << "frame " << i;
          ASSERT_EQ(oB[i], rB[i]) << "frame " << i;
        }
        // The filters' state carries on as one at a time leaves it.
        for (int k = 0; k < 12; ++k)
        {
          ASSERT_EQ(a.Down12().prev_inputs()[k], ra.Down12().prev_inputs()[k]) << k;
          ASSERT_EQ(a.Down12().prev_outputs()[k], ra.Down12().prev_outputs()[k]) << k;
          ASSERT_EQ(b.Up12().prev_inputs()[k], rb.Up12().prev_inputs()[k]) << k;
        }
        for (int k = 0; k < 4; ++k)
        {
          ASSERT_EQ(b.Down4Stage().prev_inputs()[k], rb.Down4Stage().prev_inputs()[k]) << k;
          ASSERT_EQ(a.Up4Stage().prev_outputs()[k], ra.Up4Stage().prev_outputs()[k]) << k;
        }
      }
  simdpath::Force(simdpath::kAvx2);
}

TEST(OverSampler, ChannelCountBelowOneStillServesChannelZero)
{
  OS os(OS::k4x, true, 0);
  EXPECT_EQ(os.GetNChannels(), 1);
  EXPECT_EQ(os.GetUpBufferSize(0), 16u * 1024u);
  OS ref(OS::k4x, true, 1);
  for (int n = 0; n < 50; ++n)
    EXPECT_EQ(os.Process(std::sin(0.3 * n), Identity), ref.Process(std::sin(0.3 * n), Identity));
  OS neg(OS::kNone, false, -3);
  EXPECT_EQ(neg.GetNChannels(), 1);
  EXPECT_EQ(neg.Process(0.25, Identity), 0.25);
}
