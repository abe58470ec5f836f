#include "tavlo/chain/kernels/TavloGainEstimate.h"

#include <immintrin.h>

#include <limits>

namespace tavlogain
{

void EstimateGainsScalar(const double* env, const double* left, const double* right, double input, int n, double* lo,
                         double* hi)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int a = 0; a < n; ++a)
    if (!EstimateGain(env[a], left[a], right[a], input, lo[a], hi[a])) lo[a] = hi[a] = nan;
}

namespace
{

// Detail's Exp on four lanes: the same operations in the same order. The
// integer k is read from the bits of the rounded sum instead of converted,
// which gives the same k (|k| is far below 2^51).
__attribute__((target("avx2"))) inline __m256d Exp4(__m256d y)
{
  const __m256d magic = _mm256_set1_pd(6755399441055744.0);
  const __m256d u = _mm256_add_pd(_mm256_mul_pd(y, _mm256_set1_pd(1.0 / detail::kLn2)), magic);
  const __m256d k = _mm256_sub_pd(u, magic);
  const __m256d r = _mm256_sub_pd(y, _mm256_mul_pd(k, _mm256_set1_pd(detail::kLn2)));
  // Written out: a loop over the coefficients is not unrolled at this
  // optimisation level and reloads them from the stack.
  __m256d p = _mm256_set1_pd(1.0 / 39916800.0);
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 3628800.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 362880.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 40320.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 5040.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 720.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 120.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 24.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0 / 6.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(0.5));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(1.0));
  const __m256i ki = _mm256_sub_epi64(_mm256_castpd_si256(u), _mm256_castpd_si256(magic));
  const __m256i scale = _mm256_slli_epi64(_mm256_add_epi64(ki, _mm256_set1_epi64x(1023)), 52);
  return _mm256_mul_pd(p, _mm256_castsi256_pd(scale));
}

// Detail's Log on four lanes. The exponent is turned into a double through
// the bits of 2^52 + e (exact), then the same steps.
__attribute__((target("avx2"))) inline __m256d Log4(__m256d x)
{
  const __m256i bits = _mm256_castpd_si256(x);
  const __m256i field = _mm256_and_si256(_mm256_srli_epi64(bits, 52), _mm256_set1_epi64x(0x7FF));
  const __m256d two52 = _mm256_set1_pd(4503599627370496.0);
  __m256d e =
    _mm256_sub_pd(_mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(field, _mm256_castpd_si256(two52))), two52),
                  _mm256_set1_pd(1023.0));
  __m256d m = _mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll)),
                                                  _mm256_set1_epi64x(0x3FF0000000000000ll)));
  const __m256d big = _mm256_cmp_pd(m, _mm256_set1_pd(1.4142135623730951), _CMP_GT_OQ);
  m = _mm256_blendv_pd(m, _mm256_mul_pd(m, _mm256_set1_pd(0.5)), big);
  e = _mm256_add_pd(e, _mm256_and_pd(big, _mm256_set1_pd(1.0)));
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d t = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
  const __m256d t2 = _mm256_mul_pd(t, t);
  __m256d p = _mm256_set1_pd(1.0 / 15.0);
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 13.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 11.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 9.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 7.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 5.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0 / 3.0));
  p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(1.0));
  return _mm256_add_pd(_mm256_mul_pd(e, _mm256_set1_pd(detail::kLn2)),
                       _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), t), p));
}

// EstimateGain four frames at a time, lanes outside the domain masked to NaN
// bounds. The lanes compute what EstimateGain computes, operation for
// operation, so the bounds are the same bits.
}  // namespace

// Whole groups of four; the last group's spare lanes read what the caller
// padded and are written to the room it keeps.
__attribute__((target("avx2"))) void EstimateGainsAvx2(const double* env, const double* left, const double* right,
                                                       double input, int n, double* lo, double* hi)
{
  if (!(input >= 0.0 && input <= 400.0))
  {
    EstimateGainsScalar(env, left, right, input, n, lo, hi);
    return;
  }
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFll));
  const __m256d nan = _mm256_set1_pd(std::numeric_limits<double>::quiet_NaN());
  const __m256d wIn = _mm256_set1_pd(input / kLevelScale);
  const __m256d loW = _mm256_set1_pd(1.0 - kEstimateWidth), hiW = _mm256_set1_pd(1.0 + kEstimateWidth);
  // Two passes, each group of four independent of the others: the first
  // takes every group to y, the second every y to the bounds. Each pass's
  // chain (a polynomial of eleven steps) is half the whole, so the processor
  // overlaps twice as many groups. lo holds y and hi the domain mask between
  // the passes.
  for (int a = 0; a < n; a += 4)
  {
    const __m256d x = _mm256_loadu_pd(env + a);
    const __m256d t =
      _mm256_div_pd(_mm256_add_pd(_mm256_loadu_pd(left + a), _mm256_loadu_pd(right + a)), _mm256_set1_pd(20.0));
    __m256d inside = _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(t, absMask), _mm256_set1_pd(0.8), _CMP_LE_OQ),
                                   _mm256_and_pd(_mm256_cmp_pd(x, _mm256_set1_pd(0x1p-70), _CMP_GE_OQ),
                                                 _mm256_cmp_pd(x, _mm256_set1_pd(256.0), _CMP_LE_OQ)));
    const __m256d q = Exp4(_mm256_mul_pd(_mm256_set1_pd(-2.302585092994046), t));
    const __m256d w = _mm256_add_pd(Log4(x), wIn);
    const __m256d y = _mm256_mul_pd(_mm256_sub_pd(q, _mm256_set1_pd(1.0)), w);
    inside = _mm256_and_pd(inside, _mm256_cmp_pd(_mm256_and_pd(y, absMask), _mm256_set1_pd(600.0), _CMP_LE_OQ));
    _mm256_storeu_pd(lo + a, y);
    _mm256_storeu_pd(hi + a, inside);
  }
  for (int a = 0; a < n; a += 4)
  {
    const __m256d inside = _mm256_loadu_pd(hi + a);
    const __m256d g = Exp4(_mm256_loadu_pd(lo + a));
    _mm256_storeu_pd(lo + a, _mm256_blendv_pd(nan, _mm256_mul_pd(g, loW), inside));
    _mm256_storeu_pd(hi + a, _mm256_blendv_pd(nan, _mm256_mul_pd(g, hiW), inside));
  }
}

}  // namespace tavlogain
