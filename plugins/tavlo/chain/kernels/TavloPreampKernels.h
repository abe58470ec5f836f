#pragma once

// Restates tavloeq::PreampCurve on four samples at once, for the kernels
// that run it inside other loops (the oversampled strands, the first
// chunk's detector). Pinned by TavloKernels.EachKernelIsItsEquation.

#include <immintrin.h>

#include "dsp/CurveTables.h"
#include "tavlo/chain/TavloEquations.h"

namespace tavlokernels
{

// A curve table widened to double once (exactly), so lookups need no
// conversions.
struct WideCurve
{
  double v[200];
  explicit WideCurve(const CurveTable& table)
  {
    for (int k = 0; k < 200; ++k) v[k] = table.values[k];
  }
};
inline const WideCurve kWidePreamp(Tavlo_table);

// tavloeq::PreampCurve on four samples, the table read by gathers: the same
// operations on each sample, so the same numbers.
__attribute__((target("avx2"), always_inline)) inline __m256d PreampFour(__m256d x)
{
  const __m256d signMask = _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL)));
  const __m256d knee = _mm256_set1_pd(tavloeq::kPreampKnee);
  const __m256d origin = _mm256_set1_pd(static_cast<double>(Tavlo_table.origin));
  const __m256d scale = _mm256_set1_pd(static_cast<double>(Tavlo_table.scale));
  const __m256d zero = _mm256_setzero_pd();
  const __m256d last = _mm256_set1_pd(static_cast<double>(Tavlo_table.count - 1));
  const __m256d one = _mm256_set1_pd(1.0);
  const double* v = kWidePreamp.v;
  const __m256d ax = _mm256_andnot_pd(signMask, x);
  const __m256d u = _mm256_sub_pd(_mm256_div_pd(ax, _mm256_add_pd(knee, ax)), origin);
  const __m256d t = _mm256_mul_pd(scale, u);
  const __m256d inRange = _mm256_and_pd(_mm256_cmp_pd(t, zero, _CMP_GE_OQ), _mm256_cmp_pd(t, last, _CMP_LT_OQ));
  if (_mm256_movemask_pd(inRange) == 15)
  {
    const __m128i i = _mm256_cvttpd_epi32(t);
    const __m256d f = _mm256_sub_pd(t, _mm256_cvtepi32_pd(i));
    // The masked form, all lanes on: the plain one leaves its source
    // undefined, which the compiler warns of.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d a = _mm256_mask_i32gather_pd(zero, v, i, all, 8);
    const __m256d b = _mm256_mask_i32gather_pd(zero, v + 1, i, all, 8);
    __m256d value = _mm256_add_pd(_mm256_mul_pd(a, _mm256_sub_pd(one, f)), _mm256_mul_pd(b, f));
    value = _mm256_andnot_pd(signMask, value);
    // Negate where x's sign bit is clear.
    return _mm256_xor_pd(value, _mm256_andnot_pd(x, signMask));
  }
  alignas(32) double xx[4], tt[4];
  _mm256_store_pd(xx, x);
  _mm256_store_pd(tt, t);
  for (int j = 0; j < 4; ++j) xx[j] = tavloeq::PreampAt(xx[j], tt[j]);
  return _mm256_load_pd(xx);
}

}  // namespace tavlokernels
