// Restates tavloeq::DetectorStep: the feed-forward products formed ahead of
// the filter's recurrence, the float rounding and the non-finite check after
// it, and the first chunk's detector beside the preamp. Pinned by
// TavloKernels.EachKernelIsItsEquation and TavloChain.BitIdenticalToTheReferenceChain.

#include <immintrin.h>

#include <cmath>

#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloKernels.h"
#include "tavlo/chain/kernels/TavloPreampKernels.h"

namespace tavlokernels
{
namespace
{

void ProductsFrom(const Biquad& f, const double* src, int n, double* xa0, double* xa1, double* xa2, int i)
{
  const double a0 = f.getA0(), a1 = f.getA1(), a2 = f.getA2();
  for (; i < n; ++i)
  {
    const double x = static_cast<float>(src ? src[i] : 0.0);
    xa0[i] = x * a0;
    xa1[i] = x * a1;
    xa2[i] = x * a2;
  }
}

}  // namespace

// The detector's input as the filter takes it (rounded to single precision;
// silence for a null source) times the filter's three feed-forward
// coefficients. These products do not depend on the filter's state, so they
// are formed ahead, several frames at once, and the loop that runs the
// filter is left with its recurrence.
void DetectorProductsScalar(const Biquad& f, const double* src, int n, double* xa0, double* xa1, double* xa2)
{
  ProductsFrom(f, src, n, xa0, xa1, xa2, 0);
}

__attribute__((target("avx2"))) void DetectorProductsAvx2(const Biquad& f, const double* src, int n, double* xa0,
                                                          double* xa1, double* xa2)
{
  if (!src)
  {
    ProductsFrom(f, src, n, xa0, xa1, xa2, 0);
    return;
  }
  const __m256d a0 = _mm256_set1_pd(f.getA0()), a1 = _mm256_set1_pd(f.getA1()), a2 = _mm256_set1_pd(f.getA2());
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    const __m256d x = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_loadu_pd(src + i)));
    _mm256_storeu_pd(xa0 + i, _mm256_mul_pd(x, a0));
    _mm256_storeu_pd(xa1 + i, _mm256_mul_pd(x, a1));
    _mm256_storeu_pd(xa2 + i, _mm256_mul_pd(x, a2));
  }
  ProductsFrom(f, src, n, xa0, xa1, xa2, i);
}

// The preamp of both channels (not oversampled) and the detector over the
// same n frames, four at a time: the detector's filter is a chain of
// dependent operations with little work in it, the preamp much independent
// work, and in one loop the processor overlaps them. Runs where the first
// chunk of a block would otherwise run its detector alone.
// Linked runs its two detectors there, each its own chain.
namespace
{

template <bool kPair>
__attribute__((target("avx2"), always_inline)) inline void PreampBesideDetectors(
  const double* L, const double* R, int n, double* pL, double* pR, Biquad& filter, const double* detSrc, float* d,
  Biquad* filter2, const double* detSrc2, float* d2)
{
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    _mm256_storeu_pd(pL + i, PreampFour(_mm256_loadu_pd(L + i)));
    _mm256_storeu_pd(pR + i, PreampFour(_mm256_loadu_pd(R + i)));
    DetectorRun(filter, detSrc, i, i + 4, d);
    if (kPair) DetectorRun(*filter2, detSrc2, i, i + 4, d2);
  }
  if (i < n)
  {
    PreampSse2(L + i, pL + i, n - i);
    PreampSse2(R + i, pR + i, n - i);
    DetectorRun(filter, detSrc, i, n, d);
    if (kPair) DetectorRun(*filter2, detSrc2, i, n, d2);
  }
}

}  // namespace

__attribute__((target("avx2"))) void PreampBesideDetectorAvx2(const double* L, const double* R, int n, double* pL,
                                                              double* pR, Biquad& filter, const double* detSrc,
                                                              float* d)
{
  PreampBesideDetectors<false>(L, R, n, pL, pR, filter, detSrc, d, nullptr, nullptr, nullptr);
}

__attribute__((target("avx2"))) void PreampBesideDetectorPairAvx2(const double* L, const double* R, int n,
                                                                  double* pL, double* pR, Biquad& filter,
                                                                  const double* detSrc, float* d, Biquad& filter2,
                                                                  const double* detSrc2, float* d2)
{
  PreampBesideDetectors<true>(L, R, n, pL, pR, filter, detSrc, d, &filter2, detSrc2, d2);
}

}  // namespace tavlokernels
