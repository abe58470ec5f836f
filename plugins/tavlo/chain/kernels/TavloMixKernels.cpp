// Restates tavloeq::Mix over a chunk, two (SSE2) or four (AVX2) frames at a
// time, and with tavloeq::SwitchWeight frame by frame while Listen or Bypass
// fades or holds. Pinned by TavloKernels.EachKernelIsItsEquation.

#include <immintrin.h>

#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloKernels.h"

namespace tavlokernels
{

// Every input of a frame is loaded before its outputs are stored, so
// outputs may share the inputs' memory.
void MixSse2(const float* y, const double* pL, const double* pR, const double* dL, const double* dR, double wet,
             double dry, double outputGain, double* outL, double* outR, int n)
{
  const __m128d g = _mm_set1_pd(tavloeq::kPreampGain), vw = _mm_set1_pd(wet), vd = _mm_set1_pd(dry),
                o = _mm_set1_pd(outputGain);
  int i = 0;
  for (; i + 2 <= n; i += 2)
  {
    const __m128d yy = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i))));
    const __m128d l = _mm_loadu_pd(dL + i), r = _mm_loadu_pd(dR + i);
    const __m128d wL = _mm_mul_pd(yy, _mm_add_pd(_mm_mul_pd(g, _mm_loadu_pd(pL + i)), l));
    const __m128d wR = _mm_mul_pd(yy, _mm_add_pd(_mm_mul_pd(g, _mm_loadu_pd(pR + i)), r));
    const __m128d a = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(wL, vw), _mm_mul_pd(l, vd)), o);
    const __m128d b = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(wR, vw), _mm_mul_pd(r, vd)), o);
    _mm_storeu_pd(outL + i, a);
    _mm_storeu_pd(outR + i, b);
  }
  for (; i < n; ++i)
  {
    const double l = tavloeq::Mix(y[i], pL[i], dL[i], wet, dry, outputGain);
    const double r = tavloeq::Mix(y[i], pR[i], dR[i], wet, dry, outputGain);
    outL[i] = l;
    outR[i] = r;
  }
}

__attribute__((target("avx2"))) void MixAvx2(const float* y, const double* pL, const double* pR, const double* dL,
                                             const double* dR, double wet, double dry, double outputGain, double* outL,
                                             double* outR, int n)
{
  const __m256d g = _mm256_set1_pd(tavloeq::kPreampGain), vw = _mm256_set1_pd(wet), vd = _mm256_set1_pd(dry),
                o = _mm256_set1_pd(outputGain);
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    const __m256d yy = _mm256_cvtps_pd(_mm_loadu_ps(y + i));
    const __m256d l = _mm256_loadu_pd(dL + i), r = _mm256_loadu_pd(dR + i);
    const __m256d wL = _mm256_mul_pd(yy, _mm256_add_pd(_mm256_mul_pd(g, _mm256_loadu_pd(pL + i)), l));
    const __m256d wR = _mm256_mul_pd(yy, _mm256_add_pd(_mm256_mul_pd(g, _mm256_loadu_pd(pR + i)), r));
    const __m256d a = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(wL, vw), _mm256_mul_pd(l, vd)), o);
    const __m256d b = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(wR, vw), _mm256_mul_pd(r, vd)), o);
    _mm256_storeu_pd(outL + i, a);
    _mm256_storeu_pd(outR + i, b);
  }
  if (i < n) MixSse2(y + i, pL + i, pR + i, dL + i, dR + i, wet, dry, outputGain, outL + i, outR + i, n - i);
}

void MixFading(const TavloFadingSwitches& sw, const float* y, const double* pL, const double* pR, const double* dL,
               const double* dR, const double* L, const double* R, double wet, double dry, double outputGain,
               double* outL, double* outR, int n)
{
  for (int i = 0; i < n; ++i)
  {
    const double wListen = tavloeq::SwitchWeight(sw.listenFade, sw.listen);
    const double w = tavloeq::SwitchWeight(sw.bypassFade, sw.bypass);
    if (w >= 1.0)
    {
      outL[i] = L[i];
      outR[i] = R[i];
      continue;
    }
    const double l = IFxFade::Mix(tavloeq::Mix(y[i], pL[i], dL[i], wet, dry, outputGain), sw.listenL[i], wListen);
    const double r = IFxFade::Mix(tavloeq::Mix(y[i], pR[i], dR[i], wet, dry, outputGain), sw.listenR[i], wListen);
    outL[i] = IFxFade::Mix(l, L[i], w);
    outR[i] = IFxFade::Mix(r, R[i], w);
  }
}

}  // namespace tavlokernels
