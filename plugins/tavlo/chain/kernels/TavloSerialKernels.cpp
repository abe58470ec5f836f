// Restates tavloeq::BallisticStep, SmoothGain and MeterStep frame by frame
// (with tavloeq::ExactGain where the estimate's interval cannot decide),
// beside the next chunk's detector filter; built for any x86-64 (Sse2) and
// for AVX-512 with FMA. Pinned by TavloKernels.EachKernelIsItsEquation and
// TavloChain.BitIdenticalToTheReferenceChain on all three paths.

#include <cmath>

#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloGainEstimate.h"
#include "tavlo/chain/kernels/TavloKernels.h"

namespace tavlokernels
{
namespace
{

// a / b for the fixed divisor b, from b's reciprocal held as the sum of two
// doubles (to about 106 bits): one multiplication and one fused
// multiply-add, a dependency chain of two operations where the division's
// is several times longer, and the ballistic gain rises by one such
// quotient on most frames. The result is within a few parts in 2^105 of
// a / b before its one rounding, so it is the division's own result except
// when a / b lies that close to half-way between two doubles. The division
// still runs beside it, off the chain, and its result replaces the fused one
// wherever the two differ, so the quotient is the division's in every case;
// the branch that checks is never taken in practice and costs nothing while
// predicted. (Equal as doubles means equal bits here: both are NaN-free when
// compared equal, and a zero quotient has the dividend's sign in both.)
struct FusedQuotient
{
  double divisor = 1.0, reciprocal = 1.0, reciprocalLow = 0.0;
  // Inlined only into code built for FMA, where the builtin is the
  // instruction.
  __attribute__((always_inline)) double operator()(double a, double) const
  {
    double q = __builtin_fma(a, reciprocal, a * reciprocalLow);
    const double exact = a / divisor;
    if (__builtin_expect(q != exact, 0))
    {
      q = exact;
      asm volatile("");
    }
    return q;
  }
};

// The gain's step for frame i: the ballistics toward the frame's target.
template <class Quotient>
__attribute__((always_inline)) inline double GainStep(const TavloChunkSerial& c, int i, double gainState,
                                                      Quotient quotient)
{
  // Every frame has an interval for its target, [1, 1] without reduction,
  // so one step serves all frames alike.
  if (!tavlogain::BallisticStepWithin(gainState, c.lo[i], c.hi[i], c.attack, c.release, quotient))
  {
    const double target = c.reduce[i] ? tavloeq::ExactGain(c.env[i], c.L[i], c.R[i], c.input) : 1.0;
    gainState = tavloeq::BallisticStep(gainState, target, c.attack, c.release);
  }
  return gainState;
}

// Frames [begin, end) of the chunk with nothing to recover: no check for a
// non-finite smoother or meter. Both are recurrences that keep a non-finite
// value for good once they take one, so their states at the end of the
// chunk tell whether any frame needed a recovery (RunChunkSerial then runs
// the chunk again with the checks). kDetectors: how many of the next
// chunk's filters run beside (Linked: two); kQuiet: the gain stays at 1;
// kHeld: Input 0 holds the gain at 1 after each step.
template <bool kQuiet, bool kHeld, int kDetectors, class Quotient>
__attribute__((always_inline)) inline void RunFrames(TavloChunkSerial& c, int begin, int end, Quotient quotient)
{
  // Locals, so that the state stays in registers.
  Biquad filter = c.filter;
  Biquad filter2 = c.filter2;
  NumSmooth smoother = c.smoother;
  VUClass meter = c.meter;
  double gainState = c.gainState;
  const double meterCoef = c.meterCoef;
  float* const y = c.y;
  for (int i = begin; i < end; ++i)
  {
    if constexpr (kDetectors >= 1) c.dOut[i] = filter.processProducts(c.xa0[i], c.xa1[i], c.xa2[i]);
    if constexpr (kDetectors == 2) c.dOut2[i] = filter2.processProducts(c.xb0[i], c.xb1[i], c.xb2[i]);
    if constexpr (!kQuiet) gainState = GainStep(c, i, gainState, quotient);
    y[i] = smoother.Process(static_cast<float>(gainState));
    if constexpr (kHeld) gainState = 1.0;
    meter.ProcessWithCoef(1.0 - gainState, meterCoef);
  }
  c.filter = filter;
  if constexpr (kDetectors == 2) c.filter2 = filter2;
  c.smoother = smoother;
  c.meter = meter;
  c.gainState = gainState;
}

// The chunk's gain, smoother and meter with a recovery on every frame: a
// smoother that is not finite restarts from the gain, a meter that is not
// finite from 0. The frames' gains are the ones RunFrames found.
template <bool kQuiet, class Quotient>
__attribute__((noinline)) void RunFramesChecked(TavloChunkSerial& c, Quotient quotient)
{
  NumSmooth smoother = c.smoother;
  VUClass meter = c.meter;
  double gainState = c.gainState;
  for (int i = 0; i < c.n; ++i)
  {
    if constexpr (!kQuiet) gainState = GainStep(c, i, gainState, quotient);
    c.y[i] = tavloeq::SmoothGain(smoother, gainState);
    if (c.input == 0.0) gainState = 1.0;
    tavloeq::MeterStep(meter, gainState, c.meterCoef);
  }
  c.smoother = smoother;
  c.meter = meter;
  c.gainState = gainState;
}

template <int kDetectors, bool kQuiet, bool kHeld, class Quotient>
__attribute__((always_inline)) inline void RunChunkSerial(TavloChunkSerial& c, Quotient quotient)
{
  const NumSmooth smoother = c.smoother;
  const VUClass meter = c.meter;
  const double gainState = c.gainState;
  RunFrames<kQuiet, kHeld, kDetectors>(c, 0, c.nNext, quotient);
  RunFrames<kQuiet, kHeld, 0>(c, c.nNext, c.n, quotient);
  if (__builtin_expect(!(std::isfinite(c.smoother.GetState()) && std::isfinite(c.meter.GetState())), 0))
  {
    c.smoother = smoother;
    c.meter = meter;
    c.gainState = gainState;
    RunFramesChecked<kQuiet>(c, quotient);
  }
}

// kDetectors: the next chunk's filters beside the loop, one, or two
// (Linked), each its own build of the loop so that one never pays for two.
template <int kDetectors, class Quotient>
__attribute__((always_inline)) inline void RunChunkSerialAny(TavloChunkSerial& c, bool quiet, Quotient quotient)
{
  const bool held = c.input == 0.0;
  if (quiet)
  {
    if (held)
      RunChunkSerial<kDetectors, true, true>(c, quotient);
    else
      RunChunkSerial<kDetectors, true, false>(c, quotient);
  }
  else if (held)
    RunChunkSerial<kDetectors, false, true>(c, quotient);
  else
    RunChunkSerial<kDetectors, false, false>(c, quotient);
}

}  // namespace

void SerialSse2(TavloChunkSerial& c, bool quiet) { RunChunkSerialAny<1>(c, quiet, tavlogain::Divide()); }
void SerialLinkedSse2(TavloChunkSerial& c, bool quiet) { RunChunkSerialAny<2>(c, quiet, tavlogain::Divide()); }

// The same operations; AVX-512's 32 vector registers hold the whole state
// and every constant of the loop, where SSE's 16 make the compiler keep the
// detector's state in memory, on its chain; and FMA gives the quotient above.
__attribute__((target("avx512f,avx512vl,fma", "prefer-vector-width=128"))) void SerialAvx512(TavloChunkSerial& c,
                                                                                             bool quiet)
{
  RunChunkSerialAny<1>(c, quiet, FusedQuotient{c.release, c.releaseRecip, c.releaseRecipLow});
}
__attribute__((target("avx512f,avx512vl,fma", "prefer-vector-width=128"))) void SerialLinkedAvx512(TavloChunkSerial& c,
                                                                                                   bool quiet)
{
  RunChunkSerialAny<2>(c, quiet, FusedQuotient{c.release, c.releaseRecip, c.releaseRecipLow});
}

}  // namespace tavlokernels
