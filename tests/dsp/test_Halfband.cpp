#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "DspPins.h"
#include "dsp/halfband/Downsampler2x.h"
#include "dsp/halfband/HalfbandCoefs.h"
#include "dsp/halfband/Upsampler2x.h"

namespace
{

const double kPi = 3.141592653589793;

// Every coefficient's exact bits, set by set: the stop-band checks below
// cannot see a change in a last digit, which would still change every
// oversampled sample.
const uint64_t kBits12[12] = {
  0x3fa2c7eaf8527168ull, 0x3fc17a647f1203e1ull, 0x3fd19391163e929bull,
  0x3fdb14b3fee4243aull, 0x3fe1f48541a704bdull, 0x3fe5ae68788bd0bdull,
  0x3fe8a1b9a059c7afull, 0x3feae06034df5337ull, 0x3fec8d668f1a8617ull,
  0x3fedcf31159c9881ull, 0x3feec97a819e334bull, 0x3fef9c3113d809d3ull,
};
const uint64_t kBits4[4] = {
  0x3fa573211b0ec15cull, 0x3fc59ea11aa14b18ull, 0x3fd8fef29cb30041ull,
  0x3fe7cdfe74ce4a47ull,
};
const uint64_t kBits3[3] = {
  0x3fac8b1751c26614ull, 0x3fcf1c4d347b563aull, 0x3fe4b1c2605a5fb4ull,
};
const uint64_t kBits2[2] = {
  0x3fbb6ffb497af345ull, 0x3fe0fd40192e7e96ull,
};

template <int NC>
halfband::Upsampler2x<NC> MakeUp()
{
  halfband::Upsampler2x<NC> up;
  up.set_coefs(halfband::Coefs<NC>::kValues);
  return up;
}

template <int NC>
halfband::Downsampler2x<NC> MakeDown()
{
  halfband::Downsampler2x<NC> down;
  down.set_coefs(halfband::Coefs<NC>::kValues);
  return down;
}

// Impulse response of an up stage, interleaved at the higher rate.
template <int NC>
std::vector<double> UpImpulse(int inputs)
{
  auto up = MakeUp<NC>();
  std::vector<double> h;
  for (int n = 0; n < inputs; ++n)
  {
    const auto p = up.process_sample(n == 0 ? 1.0 : 0.0);
    h.push_back(p.first);
    h.push_back(p.second);
  }
  return h;
}

// |H(f)| of the half-band filter (f as a fraction of the higher rate). The
// up stage's impulse response carries the interpolation gain of 2.
double HalfbandMagnitude(const std::vector<double>& h, double f)
{
  std::complex<double> acc = 0.0;
  for (size_t n = 0; n < h.size(); ++n)
    acc += h[n] * std::polar(1.0, -2.0 * kPi * f * static_cast<double>(n));
  return std::abs(acc) / 2.0;
}

template <int NC>
void CheckUpImpulseSums()
{
  const std::vector<double> h = UpImpulse<NC>(20000);
  double sumFirst = 0.0, sumSecond = 0.0;
  for (size_t n = 0; n < h.size(); n += 2)
  {
    sumFirst += h[n];
    sumSecond += h[n + 1];
  }
  EXPECT_NEAR(sumFirst, 1.0, 1e-9) << "NC=" << NC;
  EXPECT_NEAR(sumSecond, 1.0, 1e-9) << "NC=" << NC;
  EXPECT_NEAR(sumFirst + sumSecond, 2.0, 1e-9) << "NC=" << NC;

  // The very first pair is the product of each path's coefficients.
  double p0 = 1.0, p1 = 1.0;
  for (int k = 0; k < NC; ++k)
    (k % 2 == 0 ? p0 : p1) *= halfband::Coefs<NC>::kValues[k];
  EXPECT_DOUBLE_EQ(h[0], p0) << "NC=" << NC;
  EXPECT_DOUBLE_EQ(h[1], p1) << "NC=" << NC;
}

template <int NC>
void CheckDownSettles(double a)
{
  auto down = MakeDown<NC>();
  const double pair[2] = {a, a};
  double out = 0.0;
  for (int n = 0; n < 5000; ++n)
    out = down.process_sample(pair);
  EXPECT_NEAR(out, a, 1e-12 * std::fabs(a) + 1e-15) << "NC=" << NC;
}

template <int NC>
void CheckResponse(double stopStart, double stopDb)
{
  const std::vector<double> h = UpImpulse<NC>(16384);
  EXPECT_NEAR(HalfbandMagnitude(h, 0.0), 1.0, 1e-9) << "NC=" << NC;
  EXPECT_NEAR(HalfbandMagnitude(h, 0.25), std::sqrt(0.5), 1e-6) << "NC=" << NC;
  double worst = -1000.0;
  for (int i = 0; i <= 200; ++i)
  {
    const double f = stopStart + (0.5 - stopStart) * i / 200.0;
    worst = std::max(worst, 20.0 * std::log10(HalfbandMagnitude(h, f)));
  }
  // The 3- and 2-coefficient sets measure 0.4 and 0.2 dB short of their
  // nominal figures on a fine grid; half a decibel of slack covers that while
  // a wrong coefficient still fails by tens of decibels.
  EXPECT_LE(worst, -stopDb + 0.5) << "NC=" << NC;
}

} // namespace

TEST(Halfband, UpStageImpulseSumsToTwo)
{
  CheckUpImpulseSums<12>();
  CheckUpImpulseSums<4>();
  CheckUpImpulseSums<3>();
  CheckUpImpulseSums<2>();
}

TEST(Halfband, DownStageSettlesToConstant)
{
  CheckDownSettles<12>(0.75);
  CheckDownSettles<4>(-1.5);
  CheckDownSettles<3>(1e-3);
  CheckDownSettles<2>(2.0);
}

TEST(Halfband, ResponsesMeetTheirStopbands)
{
  // Stopband edge (fraction of the higher rate) and attenuation in dB.
  CheckResponse<12>(0.2550, 104.5);
  CheckResponse<4>(0.3775, 118.5);
  CheckResponse<3>(0.4387, 135.6);
  CheckResponse<2>(0.4693, 125.6);
}

TEST(Halfband, ThreeCoefficientsOnTwoPaths)
{
  const double* c = halfband::Coefs<3>::kValues;
  auto up = MakeUp<3>();
  const auto p = up.process_sample(1.0);
  // Path 0 runs sections 0 and 2, path 1 section 1 alone.
  EXPECT_DOUBLE_EQ(p.first, c[0] * c[2]);
  EXPECT_DOUBLE_EQ(p.second, c[1]);
  EXPECT_DOUBLE_EQ(up.prev_outputs()[0], c[0]);
  EXPECT_DOUBLE_EQ(up.prev_outputs()[1], c[1]);
  EXPECT_DOUBLE_EQ(up.prev_outputs()[2], c[0] * c[2]);
  EXPECT_DOUBLE_EQ(up.prev_inputs()[2], c[0]);

  // Down stage: path 0 takes the later sample, path 1 the earlier.
  auto down = MakeDown<3>();
  const double earlierOnly[2] = {1.0, 0.0};
  EXPECT_DOUBLE_EQ(down.process_sample(earlierOnly), 0.5 * c[1]);
  down.clear_buffers();
  const double laterOnly[2] = {0.0, 1.0};
  EXPECT_DOUBLE_EQ(down.process_sample(laterOnly), 0.5 * c[0] * c[2]);

  // A second step by hand: section (c + z^-1) / (1 + c z^-1) on each path.
  auto up2 = MakeUp<3>();
  up2.process_sample(1.0);
  const auto q = up2.process_sample(0.0);
  // path 1, one section: y1 = c1 * (0 - c1) + 1
  EXPECT_DOUBLE_EQ(q.second, c[1] * (0.0 - c[1]) + 1.0);
  // path 0: section 0 gives s0 = c0*(0 - c0) + 1, then section 2.
  const double s0 = c[0] * (0.0 - c[0]) + 1.0;
  EXPECT_DOUBLE_EQ(q.first, c[2] * (s0 - c[0] * c[2]) + c[0]);
}

TEST(Halfband, ClearBuffersKeepsCoefficients)
{
  auto up = MakeUp<12>();
  for (int n = 0; n < 50; ++n)
    up.process_sample(std::sin(0.3 * n));
  up.clear_buffers();
  for (int k = 0; k < 12; ++k)
  {
    EXPECT_EQ(up.prev_inputs()[k], 0.0);
    EXPECT_EQ(up.prev_outputs()[k], 0.0);
    EXPECT_EQ(up.coefs()[k], halfband::Coefs<12>::kValues[k]);
  }
  auto fresh = MakeUp<12>();
  for (int n = 0; n < 30; ++n)
  {
    const auto a = up.process_sample(0.1 * n);
    const auto b = fresh.process_sample(0.1 * n);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.second, b.second);
  }
}

TEST(Halfband, EveryCoefficientSetIsPinnedToItsExactBits)
{
  struct Set
  {
    int nc;
    const double* values;
    const uint64_t* pinned;
    uint64_t checksum;
  };
  const Set sets[] = {
    {12, halfband::Coefs<12>::kValues, kBits12, 0x6d9a8a2400371904ull},
    {4, halfband::Coefs<4>::kValues, kBits4, 0xbd0a0423e657a13full},
    {3, halfband::Coefs<3>::kValues, kBits3, 0x55c1aa03ba4dc7daull},
    {2, halfband::Coefs<2>::kValues, kBits2, 0xe505d75fdfd61a63ull},
  };
  for (const Set& s : sets)
  {
    SCOPED_TRACE("NC=" + std::to_string(s.nc));
    const size_t bytes = static_cast<size_t>(s.nc) * sizeof(double);
    ASSERT_EQ(dsppins::Checksum(s.pinned, bytes), s.checksum);
    EXPECT_EQ(dsppins::Checksum(s.values, bytes), s.checksum) << dsppins::FirstDifference(s.values, s.pinned, s.nc);
  }
}
