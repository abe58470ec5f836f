#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <string>

#include "dsp/Biquad.h"

namespace
{

const double kPi = 3.141592653589793;

// Magnitude of the filter's response at f (fraction of the sample rate),
// from the coefficients the filter reports.
double Magnitude(const Biquad& b, double f)
{
  const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f);
  const std::complex<double> z2 = z1 * z1;
  const std::complex<double> num = b.getA0() + b.getA1() * z1 + b.getA2() * z2;
  const std::complex<double> den = 1.0 + b.getB1() * z1 + b.getB2() * z2;
  return std::abs(num / den);
}

// Steady-state amplitude measured by running a sine through process().
double MeasuredGain(Biquad b, double f)
{
  double peak = 0.0;
  for (int n = 0; n < 40000; ++n)
  {
    const float out = b.process(static_cast<float>(0.5 * std::sin(2.0 * kPi * f * n)));
    if (n >= 30000)
      peak = std::max(peak, std::fabs(static_cast<double>(out)));
  }
  return peak / 0.5;
}

// Bit-for-bit equality, reported with every digit.
::testing::AssertionResult Exactly(const char* what, double got, double pinned)
{
  if (got == pinned)
    return ::testing::AssertionSuccess();
  char s[120];
  std::snprintf(s, sizeof s, "%s is %.17g, pinned %.17g", what, got, pinned);
  return ::testing::AssertionFailure() << s;
}

} // namespace

TEST(Biquad, DefaultConstructedPassesInputRoundedToFloat)
{
  Biquad b;
  const float samples[] = {0.0f, 1.0f, -0.3333333f, 1e-30f, 12345.678f, -1.0f};
  for (float s : samples)
    EXPECT_EQ(b.process(s), s);
  EXPECT_EQ(b.getZ1(), 0.0);
  EXPECT_EQ(b.getZ2(), 0.0);
  // A double that is not a float arrives through the float argument.
  const double d = 0.1;
  EXPECT_EQ(b.process(static_cast<float>(d)), 0.1f);
  EXPECT_NE(static_cast<double>(b.process(static_cast<float>(d))), d);
}

TEST(Biquad, HighPassAt20HzOf48kDecaysConstantToZero)
{
  Biquad b;
  b.setBiquad(Biquad::kHighPass, 20.0 / 48000.0, 1.0, 1.0);
  // 1 / (1 + K + K^2) with K = tan(pi 20 / 48000), about 0.001309.
  EXPECT_EQ(b.getA0(), 0.9986910045533588);
  EXPECT_EQ(b.getA1(), -2.0 * b.getA0());
  EXPECT_EQ(b.getA2(), b.getA0());
  EXPECT_EQ(b.getA0() + b.getA1() + b.getA2(), 0.0); // a zero at 0 Hz

  // Step response: the first output is a0, then the constant dies away.
  EXPECT_EQ(b.process(1.0f), static_cast<float>(b.getA0()));
  float last = 1.0f;
  for (int n = 1; n < 48000; ++n)
    last = b.process(1.0f);
  EXPECT_LT(std::fabs(last), 1e-12f);
  // The state ends up holding the constant's negative image.
  EXPECT_NEAR(b.getZ1(), -b.getA0(), 1e-9);

  // Well above the corner it passes unchanged.
  EXPECT_NEAR(MeasuredGain(b, 1000.0 / 48000.0), 1.0, 1e-3);
  // At the corner with Q = 1 the gain is Q.
  EXPECT_NEAR(Magnitude(b, 20.0 / 48000.0), 1.0, 1e-9);
}

TEST(Biquad, PeakPlusAndMinusSixDbAreMirrorImages)
{
  const double fc = 1000.0 / 48000.0;
  Biquad up(Biquad::kPeak, fc, 0.707, 6.0);
  Biquad down(Biquad::kPeak, fc, 0.707, -6.0);
  const double V = std::pow(10.0, 6.0 / 20.0);
  EXPECT_NEAR(Magnitude(up, fc), V, 1e-9);
  EXPECT_NEAR(Magnitude(down, fc), 1.0 / V, 1e-9);
  const double freqs[] = {0.0, 0.001, 0.01, fc, 0.05, 0.2, 0.4999};
  for (double f : freqs)
    EXPECT_NEAR(Magnitude(up, f) * Magnitude(down, f), 1.0, 1e-12) << "f=" << f;
  // The mirror holds for what process() actually does, too.
  EXPECT_NEAR(MeasuredGain(up, fc), V, 2e-3);
  EXPECT_NEAR(MeasuredGain(down, fc), 1.0 / V, 2e-3);
  // 0 dB is flat.
  Biquad flat(Biquad::kPeak, fc, 0.707, 0.0);
  EXPECT_NEAR(Magnitude(flat, 0.13), 1.0, 1e-12);
}

TEST(Biquad, OtherTypesHaveTheirTextbookResponses)
{
  const double fc = 0.1;
  Biquad lp(Biquad::kLowPass, fc, 0.707, 0.0);
  EXPECT_NEAR(Magnitude(lp, 0.0), 1.0, 1e-12);
  EXPECT_NEAR(Magnitude(lp, 0.5), 0.0, 1e-12);
  EXPECT_NEAR(Magnitude(lp, fc), 0.707, 1e-9);

  Biquad bp(Biquad::kBandPass, fc, 2.0, 0.0);
  EXPECT_NEAR(Magnitude(bp, fc), 1.0, 1e-9);
  EXPECT_NEAR(Magnitude(bp, 0.0), 0.0, 1e-12);
  EXPECT_EQ(bp.getA1(), 0.0);
  EXPECT_EQ(bp.getA2(), -bp.getA0());

  Biquad notch(Biquad::kNotch, fc, 2.0, 0.0);
  EXPECT_NEAR(Magnitude(notch, fc), 0.0, 1e-9);
  EXPECT_NEAR(Magnitude(notch, 0.0), 1.0, 1e-12);

  // Shelves: +6 dB lifts one end by V, -6 dB cuts it by 1/V; Q is ignored.
  const double V = std::pow(10.0, 6.0 / 20.0);
  Biquad ls(Biquad::kLowShelf, fc, 0.3, 6.0), ls2(Biquad::kLowShelf, fc, 5.0, 6.0);
  EXPECT_NEAR(Magnitude(ls, 0.0), V, 1e-9);
  EXPECT_NEAR(Magnitude(ls, 0.5), 1.0, 1e-9);
  EXPECT_EQ(ls.getA0(), ls2.getA0());
  Biquad lsCut(Biquad::kLowShelf, fc, 0.3, -6.0);
  EXPECT_NEAR(Magnitude(lsCut, 0.0), 1.0 / V, 1e-9);
  Biquad hs(Biquad::kHighShelf, fc, 0.3, 6.0), hsCut(Biquad::kHighShelf, fc, 0.3, -6.0);
  EXPECT_NEAR(Magnitude(hs, 0.5), V, 1e-9);
  EXPECT_NEAR(Magnitude(hs, 0.0), 1.0, 1e-9);
  EXPECT_NEAR(Magnitude(hsCut, 0.5), 1.0 / V, 1e-9);
  for (double f : {0.01, 0.1, 0.3})
  {
    EXPECT_NEAR(Magnitude(ls, f) * Magnitude(lsCut, f), 1.0, 1e-12);
    EXPECT_NEAR(Magnitude(hs, f) * Magnitude(hsCut, f), 1.0, 1e-12);
  }
}

TEST(Biquad, SettersKeepStateConstructorClearsIt)
{
  Biquad b(Biquad::kLowPass, 0.05, 0.707, 0.0);
  for (int n = 0; n < 10; ++n)
    b.process(1.0f);
  const double z1 = b.getZ1(), z2 = b.getZ2();
  ASSERT_NE(z1, 0.0);
  b.setBiquad(Biquad::kHighPass, 0.01, 1.0, 0.0);
  EXPECT_EQ(b.getZ1(), z1);
  EXPECT_EQ(b.getZ2(), z2);
  b.setFc(0.2);
  b.setQ(3.0);
  b.setPeakGain(4.0);
  b.setType(Biquad::kLowPass);
  EXPECT_EQ(b.getZ1(), z1);

  // The single setters recompute exactly as the four-argument one does.
  Biquad ref(Biquad::kLowPass, 0.2, 3.0, 4.0);
  EXPECT_EQ(b.getA0(), ref.getA0());
  EXPECT_EQ(b.getB2(), ref.getB2());
  EXPECT_EQ(ref.getZ1(), 0.0);

  // An unknown type leaves the response as it was.
  const double a0 = b.getA0(), b1 = b.getB1();
  b.setType(7);
  EXPECT_EQ(b.getA0(), a0);
  EXPECT_EQ(b.getB1(), b1);
  b.setType(-1);
  EXPECT_EQ(b.getA0(), a0);
}

TEST(Biquad, TransposedDirectFormTwoStepByHand)
{
  Biquad b(Biquad::kLowPass, 0.1, 0.707, 0.0);
  const double a0 = b.getA0(), a1 = b.getA1(), a2 = b.getA2(), b1 = b.getB1(), b2 = b.getB2();
  const float in[3] = {1.0f, 0.5f, -0.25f};
  double z1 = 0.0, z2 = 0.0;
  // The same steps from the input's products with a0, a1 and a2, formed
  // ahead, give the same output and state, bit for bit.
  Biquad fromProducts = b;
  for (float x : in)
  {
    const double out = x * a0 + z1;
    z1 = x * a1 + z2 - b1 * out;
    z2 = x * a2 - b2 * out;
    EXPECT_EQ(b.process(x), static_cast<float>(out));
    const double xd = x;
    EXPECT_EQ(fromProducts.processProducts(xd * a0, xd * a1, xd * a2), out);
  }
  EXPECT_EQ(b.getZ1(), z1);
  EXPECT_EQ(b.getZ2(), z2);
  EXPECT_EQ(fromProducts.getZ1(), z1);
  EXPECT_EQ(fromProducts.getZ2(), z2);
}

// The detector's high-pass (Q 1) at the ends of the HPF range and the usual
// rates, to the last bit: the detector and so every gain value follow from
// these five numbers, and a response check cannot see a last digit move.
TEST(Biquad, DetectorHighPassCoefficientsArePinnedExactly)
{
  struct Row
  {
    double hz, rate, a0, b1, b2;
  };
  const Row rows[] = {
    {20.0, 44100.0, 0.99857524335094128, -1.9971464326067456, 0.99715454079701948},
    {20.0, 48000.0, 0.9986910045533588, -1.9973785866426923, 0.997385431570743},
    {20.0, 96000.0, 0.99934550171722958, -1.9986901472584542, 0.99869185961046436},
    {200.0, 48000.0, 0.98691149686878854, -1.9734847458617153, 0.97416124161343898},
    {500.0, 44100.0, 0.96440960180590618, -1.9263700189298625, 0.93126838829376235},
    {500.0, 96000.0, 0.98364038807603105, -1.9667539817433717, 0.96780757056075239},
  };
  for (const Row& r : rows)
  {
    SCOPED_TRACE(std::to_string(r.hz) + " Hz at " + std::to_string(r.rate));
    Biquad b;
    b.setBiquad(Biquad::kHighPass, r.hz / r.rate, 1.0, 1.0);
    EXPECT_TRUE(Exactly("a0", b.getA0(), r.a0));
    EXPECT_TRUE(Exactly("a1", b.getA1(), -2.0 * r.a0));
    EXPECT_TRUE(Exactly("a2", b.getA2(), r.a0));
    EXPECT_TRUE(Exactly("b1", b.getB1(), r.b1));
    EXPECT_TRUE(Exactly("b2", b.getB2(), r.b2));
  }
}
