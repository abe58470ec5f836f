#include <gtest/gtest.h>

#include <cmath>

#include "dsp/NumSmooth.h"
#include "dsp/VUClass.h"

TEST(NumSmooth, CoefficientsAreFormedInSinglePrecision)
{
  NumSmooth s(0.99f);
  EXPECT_EQ(static_cast<double>(s.GetA()), 0.9900000095367432);
  // 1 - a in float, not the float nearest to 0.01 (0.009999999776482582).
  EXPECT_EQ(static_cast<double>(s.GetB()), 0.009999990463256836);
  EXPECT_NE(s.GetB(), 0.01f);
  EXPECT_EQ(s.GetState(), 0.0f);
  NumSmooth d;
  EXPECT_EQ(d.GetA(), s.GetA());
  EXPECT_EQ(d.GetB(), s.GetB());
}

TEST(NumSmooth, StepReachesNinetyNinePercentAfterAbout459Steps)
{
  NumSmooth s(0.99f);
  // First step: exactly b.
  EXPECT_EQ(s.Process(1.0f), s.GetB());
  int steps = 1;
  while (s.GetState() < 0.99f && steps < 10000)
  {
    s.Process(1.0f);
    ++steps;
  }
  // ln(0.01) / ln(0.99) = 458.2
  EXPECT_GE(steps, 458);
  EXPECT_LE(steps, 460);
  for (int n = 0; n < 5000; ++n)
    s.Process(1.0f);
  EXPECT_NEAR(s.GetState(), 1.0f, 1e-5f);
}

TEST(NumSmooth, ArithmeticStaysInFloat)
{
  NumSmooth s(0.99f);
  s.SetState(0.7f);
  const float x = 0.123456789f;
  const float expected = x * s.GetB() + 0.7f * s.GetA();
  EXPECT_EQ(s.Process(x), expected);
}

TEST(VUClass, HeldValueSettlesIntoANarrowBand)
{
  const double sr = 48000.0;
  // exp(-ln(100) / (0.3 s * sr)): 99 % of the way in 0.3 s.
  const double coef = 0.99968024764654551;
  EXPECT_EQ(VUClass::Coefficient(sr), coef);
  VUClass vu(1.0);
  const double u = 0.5;
  for (int n = 0; n < 96000; ++n)
    vu.Process(u, sr);
  const double band = (1.0 - coef) * 0.0125 * u;
  double lo = 1.0, hi = 0.0;
  for (int n = 0; n < 48000; ++n)
  {
    const double v = vu.Process(u, sr);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_LE(hi - u, band * 1.01);
  EXPECT_LE(u - lo, band * 1.01);
  // It does straddle u rather than sit on one side.
  EXPECT_GT(hi, u);
  EXPECT_LT(lo, u);
  // Negative input (expansion) is read by magnitude.
  VUClass neg(1.0);
  VUClass pos(1.0);
  for (int n = 0; n < 1000; ++n)
    EXPECT_EQ(neg.Process(-0.25, sr), pos.Process(0.25, sr));
}

TEST(VUClass, ZeroInputFallsNinetyNinePercentIn300ms)
{
  const double sr = 48000.0;
  VUClass vu(1.0);
  double v = 0.0;
  for (int n = 0; n < 14400; ++n)
    v = vu.Process(0.0, sr);
  EXPECT_NEAR(v, 0.01, 1e-9);
  // At 96 kHz the same time, twice the steps.
  VUClass vu96(1.0);
  for (int n = 0; n < 28800; ++n)
    v = vu96.Process(0.0, 96000.0);
  EXPECT_NEAR(v, 0.01, 1e-9);
}

TEST(VUClass, RiseAndFallFactorsByHand)
{
  const double sr = 44100.0;
  const double c = 0.99965197514870252;
  EXPECT_EQ(VUClass::Coefficient(sr), c);
  EXPECT_EQ(VUClass::Coefficient(96000.0), 0.99984011104103321);
  VUClass vu(0.2);
  // Above the state: target 0.6 * 1.0125.
  EXPECT_DOUBLE_EQ(vu.Process(0.6, sr), 0.6 * 1.0125 + c * (0.2 - 0.6 * 1.0125));
  const double s = vu.GetState();
  // Below the state: target 0.1 * 0.9875.
  EXPECT_DOUBLE_EQ(vu.Process(0.1, sr), 0.1 * 0.9875 + c * (s - 0.1 * 0.9875));
}
