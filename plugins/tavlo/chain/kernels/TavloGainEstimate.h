#pragma once

// Restates tavloeq::ExactGain as an interval that holds it, and
// tavloeq::BallisticStep for a target known only by that interval. Pinned by
// TavloGainEstimate.IntervalHoldsTheExactGainAndRefusesOutsideItsDomain and
// TavloGainEstimate.StepWithinTheIntervalIsTheExactStepOrFallsBack.
//
// The exact gain, as the chain has always computed it with the C library's
// pow, log and exp, decides every sample it reaches. But most frames above
// the threshold never reach it: the ballistics keep their own state when the
// target lies beyond the attack or release step (min/max against gs * attack
// or gs / release). An interval known to hold the exact gain settles those
// comparisons without it; the exact gain is computed only where the interval
// cannot (see the serial loop's kernels).
//
// Why the interval holds the exact gain. Write s for L + R, t = s / 20 (the
// same doubles in both computations), q = 10^-t, w = ln(env) + input / LS
// (LS the level scale). The exact formula
//   G = exp(((LS ln(env) + input) / 10^t - input) / LS) / env
// is algebraically exp((q - 1) w). Within the domain EstimateGain accepts
// (|t| <= 0.8, so q <= 6.31; 2^-70 <= env <= 2^8; 0 <= input <= 400, so
// 0 < w <= 52.1 where env is above the threshold; |(q - 1) w| <= 600):
// - G carries the rounding of eleven double operations and three library
//   functions (each under 1 ulp, u = 2^-53): the error of its exponent is at
//   most 12u (1 + q)(LS |ln env| + input) / LS <= 12u x 7.31 x 98.7 < 1e-12,
//   so |G / exp((q - 1) w) - 1| < 1.1e-12;
// - the estimate: Log's series stops after t^15 of 2 atanh(t), |t| <= 0.1716,
//   leaving < 1.3e-14, and Exp's Taylor polynomial stops after r^11 with
//   |r| <= 0.3466, leaving a relative 9e-15; with the roundings of the range
//   reductions (< 2e-13 absolute for |y| <= 600) q is within 3e-13, w within
//   1e-12, so (q - 1) w is within 6.31 x 3e-13 x 52.1 + 5.31 x 1e-12 < 1.1e-10
//   and the estimate within a relative 1.2e-10 of exp((q - 1) w).
// Together |estimate / G - 1| < 1.5e-10. The interval is widened by
// kEstimateWidth = 2^-20 (9.5e-7) on each side, over six thousand times
// that, so the bounds' own rounding cannot matter either. Outside the domain
// (large or non-finite input, NaN) EstimateGain says so and the exact gain
// is computed.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "tavlo/chain/TavloEquations.h"

namespace tavlogain
{

using tavloeq::kLevelScale;
const double kEstimateWidth = 1.0 / 1048576.0;

namespace detail
{

inline double FromBits(uint64_t b)
{
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}
inline uint64_t ToBits(double d)
{
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

const double kLn2 = 0.6931471805599453;

// e^y for |y| <= 700: y = k ln 2 + r, |r| <= ln 2 / 2, e^r by its Taylor
// polynomial to r^11.
inline double Exp(double y)
{
  // Rounded to an integer by adding and taking away 1.5 x 2^52 (|y / ln 2|
  // is far below 2^51).
  const double k = (y * (1.0 / kLn2) + 6755399441055744.0) - 6755399441055744.0;
  const double r = y - k * kLn2;
  double p = 1.0 / 39916800.0;
  p = p * r + 1.0 / 3628800.0;
  p = p * r + 1.0 / 362880.0;
  p = p * r + 1.0 / 40320.0;
  p = p * r + 1.0 / 5040.0;
  p = p * r + 1.0 / 720.0;
  p = p * r + 1.0 / 120.0;
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r + 1.0;
  return p * FromBits(static_cast<uint64_t>(static_cast<int64_t>(k) + 1023) << 52);
}

// ln x for a positive normal x: x = m 2^e, sqrt(1/2) <= m < sqrt(2),
// ln m = 2 atanh((m - 1) / (m + 1)) by its series to t^15.
inline double Log(double x)
{
  const uint64_t bits = ToBits(x);
  int64_t e = static_cast<int64_t>((bits >> 52) & 0x7FF) - 1023;
  double m = FromBits((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
  if (m > 1.4142135623730951)
  {
    m *= 0.5;
    ++e;
  }
  const double t = (m - 1.0) / (m + 1.0);
  const double t2 = t * t;
  double p = 1.0 / 15.0;
  p = p * t2 + 1.0 / 13.0;
  p = p * t2 + 1.0 / 11.0;
  p = p * t2 + 1.0 / 9.0;
  p = p * t2 + 1.0 / 7.0;
  p = p * t2 + 1.0 / 5.0;
  p = p * t2 + 1.0 / 3.0;
  p = p * t2 + 1.0;
  return static_cast<double>(e) * kLn2 + 2.0 * t * p;
}

}  // namespace detail

// An interval [lo, hi] holding ExactGain(env, left, right, input), for env
// above the threshold exp(-input / kLevelScale); false (lo and hi untouched)
// outside the domain where that is proven, NaN and infinities included.
inline bool EstimateGain(double env, double left, double right, double input, double& lo, double& hi)
{
  const double t = (left + right) / 20.0;
  if (!(std::fabs(t) <= 0.8 && env >= 0x1p-70 && env <= 256.0 && input >= 0.0 && input <= 400.0)) return false;
  const double q = detail::Exp(-2.302585092994046 * t);
  const double w = detail::Log(env) + input / kLevelScale;
  const double y = (q - 1.0) * w;
  if (!(std::fabs(y) <= 600.0)) return false;
  const double g = detail::Exp(y);
  lo = g * (1.0 - kEstimateWidth);
  hi = g * (1.0 + kEstimateWidth);
  return true;
}

// a / b by the division; BallisticStepWithin takes any quotient that gives
// the division's own result, however it finds it.
struct Divide
{
  double operator()(double a, double b) const { return a / b; }
};

// The same step for a target known only to lie in [lo, hi] (lo == hi: the
// target is exactly that value; NaN bounds: nothing is known). Where the
// interval settles the step's comparisons, the result is the one
// BallisticStep gives with the exact target: the target loses the min or max
// to the attack or release step, or it equals the state. Otherwise it
// returns false, leaves the state alone, and the exact target must decide.
// The three cases are branches, which follow the music well: a state falls,
// rises or stays for long runs of frames.
template <class Quotient = Divide>
inline bool BallisticStepWithin(double& gainState, double lo, double hi, double attack, double release,
                                Quotient quotient = Quotient())
{
  double next;
  if (gainState < lo)
  {
    // Rising, the most common; min(gs / release, g) is gs / release when
    // g >= it (never for an infinite step: the bounds are finite).
    next = quotient(gainState, release);
    if (!(lo >= next)) return false;
  }
  else if (gainState > hi)
  {
    // Falling; max(g, gs * attack) is gs * attack when g <= it. An
    // infinite state (never reached: every step ends finite) is left to
    // BallisticStep, which turns it into no reduction.
    next = gainState * attack;
    if (!(hi <= next && next < HUGE_VAL)) return false;
  }
  else if (gainState == lo && lo == hi)
    next = gainState;  // the target is the state itself
  else
    return false;  // NaN gets here too
  gainState = next;
  return true;
}

// EstimateGain over n frames, each interval or NaN bounds where EstimateGain
// says no: one frame at a time, or four (AVX2), whose lo and hi have room
// for n rounded up to four and whose inputs are padded as far.
void EstimateGainsScalar(const double* env, const double* left, const double* right, double input, int n, double* lo,
                         double* hi);
void EstimateGainsAvx2(const double* env, const double* left, const double* right, double input, int n, double* lo,
                       double* hi);

}  // namespace tavlogain
