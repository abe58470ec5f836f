// Restates tavloeq::ChannelEnvelope (tavloeq::DetectorCurve and
// tavloeq::Envelope) over a chunk, two (SSE2) or four (AVX2) frames at a
// time, of one detector or of two (tavloeq::LinkedDetector), listing the
// frames over the threshold. Pinned by TavloKernels.EachKernelIsItsEquation.

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloKernels.h"
#include "tavlo/chain/kernels/TavloPreampKernels.h"

namespace tavlokernels
{
namespace
{

const WideCurve kWideDetector(detector_table);

// A chunk's detector values, one detector's or (kLinked) the louder of two
// (tavloeq::LinkedDetector: maxps(r, l) is r > l ? r : l, as std::max(l,
// r)), two frames at a time.
template <bool kLinked>
inline __m128 LoadTwo(const float* dL, const float* dR)
{
  auto load = [](const float* d) { return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d))); };
  return kLinked ? _mm_max_ps(load(dR), load(dL)) : load(dL);
}

template <bool kLinked>
inline float One(const float* dL, const float* dR, int i)
{
  return kLinked ? tavloeq::LinkedDetector(dL[i], dR[i]) : dL[i];
}

// Frames whose driven detector value is not above zero (negative, zero,
// NaN) have no reduction: the curve is 0 at 0. Only the frames listed in
// above have their envelope written: only they read it.
template <bool kLinked>
int EnvelopesSse2From(const float* dL, const float* dR, int n, double drive, double oneMinusC, double c,
                      double threshold, double* env, unsigned short* above, int i, int count)
{
  const double* v = kWideDetector.v;
  const __m128d vDrive = _mm_set1_pd(drive), vScale = _mm_set1_pd(static_cast<double>(detector_table.scale));
  const __m128d zero = _mm_setzero_pd(), last = _mm_set1_pd(199.0), one = _mm_set1_pd(1.0);
  const __m128d vLast = _mm_set1_pd(v[199]), vOneMinusC = _mm_set1_pd(oneMinusC), vC = _mm_set1_pd(c);
  const __m128d vThr = _mm_set1_pd(threshold);
  for (; i + 2 <= n; i += 2)
  {
    const __m128d x = _mm_mul_pd(vDrive, _mm_cvtps_pd(LoadTwo<kLinked>(dL + i, dR + i)));
    const __m128d valid = _mm_cmpgt_pd(x, zero);
    const __m128d t = _mm_mul_pd(x, vScale);
    const __m128d big = _mm_cmpge_pd(t, last);
    // Lanes that take no table read get position 0, a safe index.
    const __m128d tc = _mm_and_pd(_mm_andnot_pd(big, valid), t);
    const __m128i idx = _mm_cvttpd_epi32(tc);
    const __m128d f = _mm_sub_pd(tc, _mm_cvtepi32_pd(idx));
    const int i0 = _mm_cvtsi128_si32(idx), i1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(idx, 1));
    const __m128d a = _mm_set_pd(v[i1], v[i0]), b = _mm_set_pd(v[i1 + 1], v[i0 + 1]);
    const __m128d interp = _mm_add_pd(_mm_mul_pd(a, _mm_sub_pd(one, f)), _mm_mul_pd(b, f));
    const __m128d E = _mm_or_pd(_mm_and_pd(big, vLast), _mm_andnot_pd(big, interp));
    const __m128d s = _mm_mul_pd(vOneMinusC, E);
    const __m128d rs = _mm_sqrt_pd(s);
    const __m128d alt = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(vOneMinusC, E), _mm_mul_pd(vC, s)));
    const __m128d useE = _mm_cmpgt_pd(E, rs);
    const __m128d e = _mm_or_pd(_mm_and_pd(useE, E), _mm_andnot_pd(useE, alt));
    _mm_storeu_pd(env + i, e);
    const int m = _mm_movemask_pd(_mm_and_pd(valid, _mm_cmpgt_pd(e, vThr)));
    above[count] = static_cast<unsigned short>(i);
    count += m & 1;
    above[count] = static_cast<unsigned short>(i + 1);
    count += m >> 1;
  }
  for (; i < n; ++i)
  {
    const double x = drive * One<kLinked>(dL, dR, i);
    if (!(x > 0.0)) continue;
    const double e = tavloeq::Envelope(tavloeq::DetectorCurve(x), c, oneMinusC);
    env[i] = e;
    if (e > threshold) above[count++] = static_cast<unsigned short>(i);
  }
  return count;
}

// For each pattern of four flags (bit k for frame k of a group), the
// positions of the set ones in order, as four 16-bit lanes, and how many
// there are: appending a group's frames over the threshold to the list is
// then one store and one addition. The lanes past the count repeat the
// group's first index and land beyond the list's end, which has room.
struct AboveLists
{
  uint64_t offsets[16];
  int count[16];
  AboveLists()
  {
    for (int m = 0; m < 16; ++m)
    {
      offsets[m] = 0;
      count[m] = 0;
      for (int k = 0; k < 4; ++k)
        if (m >> k & 1) offsets[m] |= static_cast<uint64_t>(k) << (16 * count[m]++);
    }
  }
};
const AboveLists kAboveLists;

// v[i0..i3] for the four indexes in i. Where the loop does little else,
// eight of these loads cost less than two gathers (the preamp's, bound by
// its division, does better with the gathers).
__attribute__((target("avx2"), always_inline)) inline __m256d TableFour(const double* v, __m128i i)
{
  // The indexes go through memory: four loads cost less than taking them
  // out of the register one by one, which the compiler would otherwise do.
  alignas(16) int k[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(k), i);
  asm("" : "+m"(k));
  return _mm256_set_m128d(_mm_loadh_pd(_mm_load_sd(v + k[2]), v + k[3]), _mm_loadh_pd(_mm_load_sd(v + k[0]), v + k[1]));
}

// The table read four entries at once.
template <bool kLinked>
__attribute__((target("avx2"))) int EnvelopesFour(const float* dL, const float* dR, int n, double drive,
                                                  double oneMinusC, double c, double threshold, double* env,
                                                  unsigned short* above)
{
  const double* v = kWideDetector.v;
  const __m256d vDrive = _mm256_set1_pd(drive), vScale = _mm256_set1_pd(static_cast<double>(detector_table.scale));
  const __m256d zero = _mm256_setzero_pd(), last = _mm256_set1_pd(199.0), one = _mm256_set1_pd(1.0);
  const __m256d vLast = _mm256_set1_pd(v[199]), vOneMinusC = _mm256_set1_pd(oneMinusC), vC = _mm256_set1_pd(c);
  const __m256d vThr = _mm256_set1_pd(threshold);
  int count = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    const __m128 d = kLinked ? _mm_max_ps(_mm_loadu_ps(dR + i), _mm_loadu_ps(dL + i)) : _mm_loadu_ps(dL + i);
    const __m256d x = _mm256_mul_pd(vDrive, _mm256_cvtps_pd(d));
    const __m256d valid = _mm256_cmp_pd(x, zero, _CMP_GT_OQ);
    // A group with no driven value above zero (the detector's negative
    // half-waves, about half of all frames, in runs) has no frame over the
    // threshold, and no one reads the envelope of such frames.
    if (_mm256_movemask_pd(valid) == 0) continue;
    const __m256d t = _mm256_mul_pd(x, vScale);
    const __m256d big = _mm256_cmp_pd(t, last, _CMP_GE_OQ);
    // Lanes that take no table read get position 0, a safe index.
    const __m256d tc = _mm256_and_pd(_mm256_andnot_pd(big, valid), t);
    const __m128i idx = _mm256_cvttpd_epi32(tc);
    const __m256d f = _mm256_sub_pd(tc, _mm256_cvtepi32_pd(idx));
    const __m256d a = TableFour(v, idx), b = TableFour(v + 1, idx);
    const __m256d interp = _mm256_add_pd(_mm256_mul_pd(a, _mm256_sub_pd(one, f)), _mm256_mul_pd(b, f));
    const __m256d E = _mm256_blendv_pd(interp, vLast, big);
    const __m256d s = _mm256_mul_pd(vOneMinusC, E);
    const __m256d rs = _mm256_sqrt_pd(s);
    const __m256d alt = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(vOneMinusC, E), _mm256_mul_pd(vC, s)));
    const __m256d e = _mm256_blendv_pd(alt, E, _mm256_cmp_pd(E, rs, _CMP_GT_OQ));
    _mm256_storeu_pd(env + i, e);
    const int m = _mm256_movemask_pd(_mm256_and_pd(valid, _mm256_cmp_pd(e, vThr, _CMP_GT_OQ)));
    // The four frames' indexes, those over the threshold first, in one store.
    const uint64_t indexes = static_cast<uint64_t>(i) * 0x0001000100010001ull + kAboveLists.offsets[m];
    std::memcpy(above + count, &indexes, sizeof indexes);
    count += kAboveLists.count[m];
  }
  return EnvelopesSse2From<kLinked>(dL, dR, n, drive, oneMinusC, c, threshold, env, above, i, count);
}

}  // namespace

int EnvelopesSse2(const float* d, int n, double drive, double oneMinusC, double c, double threshold, double* env,
                  unsigned short* above)
{
  return EnvelopesSse2From<false>(d, d, n, drive, oneMinusC, c, threshold, env, above, 0, 0);
}

int EnvelopesLinkedSse2(const float* dL, const float* dR, int n, double drive, double oneMinusC, double c,
                        double threshold, double* env, unsigned short* above)
{
  return EnvelopesSse2From<true>(dL, dR, n, drive, oneMinusC, c, threshold, env, above, 0, 0);
}

__attribute__((target("avx2"))) int EnvelopesAvx2(const float* d, int n, double drive, double oneMinusC, double c,
                                                  double threshold, double* env, unsigned short* above)
{
  return EnvelopesFour<false>(d, d, n, drive, oneMinusC, c, threshold, env, above);
}

__attribute__((target("avx2"))) int EnvelopesLinkedAvx2(const float* dL, const float* dR, int n, double drive,
                                                        double oneMinusC, double c, double threshold, double* env,
                                                        unsigned short* above)
{
  return EnvelopesFour<true>(dL, dR, n, drive, oneMinusC, c, threshold, env, above);
}

}  // namespace tavlokernels
