// Restates tavloeq::PreampCurve over runs of samples, two (SSE2) or four
// (AVX2) at a time. Pinned by TavloKernels.EachKernelIsItsEquation.

#include "tavlo/chain/kernels/TavloPreampKernels.h"

#include "tavlo/chain/kernels/TavloKernels.h"

namespace tavlokernels
{

void PreampSse2(const double* in, double* out, int n)
{
  const __m128d signMask = _mm_castsi128_pd(_mm_set1_epi64x(static_cast<long long>(0x8000000000000000ULL)));
  const __m128d knee = _mm_set1_pd(tavloeq::kPreampKnee);
  const __m128d origin = _mm_set1_pd(static_cast<double>(Tavlo_table.origin));
  const __m128d scale = _mm_set1_pd(static_cast<double>(Tavlo_table.scale));
  const __m128d zero = _mm_setzero_pd();
  const __m128d last = _mm_set1_pd(static_cast<double>(Tavlo_table.count - 1));
  const __m128d one = _mm_set1_pd(1.0);
  const double* v = kWidePreamp.v;
  int k = 0;
  for (; k + 1 < n; k += 2)
  {
    const __m128d x = _mm_loadu_pd(in + k);
    const __m128d ax = _mm_andnot_pd(signMask, x);
    const __m128d u = _mm_sub_pd(_mm_div_pd(ax, _mm_add_pd(knee, ax)), origin);
    const __m128d t = _mm_mul_pd(scale, u);
    const __m128d inRange = _mm_and_pd(_mm_cmpge_pd(t, zero), _mm_cmplt_pd(t, last));
    if (_mm_movemask_pd(inRange) == 3)
    {
      const __m128i i = _mm_cvttpd_epi32(t);
      const __m128d f = _mm_sub_pd(t, _mm_cvtepi32_pd(i));
      const int i0 = _mm_cvtsi128_si32(i);
      const int i1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 1));
      const __m128d a = _mm_set_pd(v[i1], v[i0]);
      const __m128d b = _mm_set_pd(v[i1 + 1], v[i0 + 1]);
      __m128d value = _mm_add_pd(_mm_mul_pd(a, _mm_sub_pd(one, f)), _mm_mul_pd(b, f));
      value = _mm_andnot_pd(signMask, value);
      // Negate where x's sign bit is clear.
      value = _mm_xor_pd(value, _mm_andnot_pd(x, signMask));
      _mm_storeu_pd(out + k, value);
    }
    else
    {
      alignas(16) double tt[2];
      _mm_store_pd(tt, t);
      out[k] = tavloeq::PreampAt(in[k], tt[0]);
      out[k + 1] = tavloeq::PreampAt(in[k + 1], tt[1]);
    }
  }
  for (; k < n; ++k) out[k] = tavloeq::PreampCurve(in[k]);
}

__attribute__((target("avx2"))) void PreampAvx2(const double* in, double* out, int n)
{
  int k = 0;
  for (; k + 4 <= n; k += 4) _mm256_storeu_pd(out + k, PreampFour(_mm256_loadu_pd(in + k)));
  if (k < n) PreampSse2(in + k, out + k, n - k);
}

}  // namespace tavlokernels
