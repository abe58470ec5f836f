#include "tavlo/TavloChain.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "dsp/CurveTables.h"
#include "kit/KitSimdPath.h"
#include "tavlo/TavloGainEstimate.h"

namespace
{

const double kTenHertz = 62.83185307;            // 2 pi x 10 Hz
const double kLevelScale = 8.65617025;           // dB per neper, as the curve was tuned
const double kPreampKnee = 3.0;
const double kPreampGain = 3162.2776601683795;   // +70 dB
const int kOversampleResetSize = 1024;

// Flush-to-zero and denormals-are-zero for one processing call: decaying
// filter states would otherwise crawl through the denormal range at a
// hundred times the usual cost. The caller's mode comes back afterwards.
class DenormalGuard
{
public:
  DenormalGuard() : mSaved(_mm_getcsr()) { _mm_setcsr(mSaved | 0x8040u); }
  ~DenormalGuard() { _mm_setcsr(mSaved); }
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
  unsigned int mSaved;
};

// The preamp's bend: the table read at |x| / (3 + |x|), returned with the
// sign opposite to x's.
inline double PreampCurve(double x)
{
  const CurveTable& tbl = Tavlo_table;
  const double ax = std::fabs(x);
  const double u = ax / (kPreampKnee + ax) - static_cast<double>(tbl.origin);
  const double t = static_cast<double>(tbl.scale) * u;
  double value;
  if (!(t >= 0.0)) // negative, or not a number from an infinite x
    value = tbl.values[0];
  else if (t >= static_cast<double>(tbl.count - 1))
    value = tbl.values[tbl.count - 1];
  else
  {
    const int i = static_cast<int>(t);
    const double f = t - i;
    value = tbl.values[i] * (1.0 - f) + tbl.values[i + 1] * f;
  }
  value = std::fabs(value);
  return std::signbit(x) ? value : -value;
}

// Detector transfer for a driven value with its sign bit clear. Values past
// the table (including ones too large for an int) take the last entry; a
// not-a-number reads as silence.
inline double DetectorCurve(double x)
{
  const CurveTable& tbl = detector_table;
  const double t = x * static_cast<double>(tbl.scale);
  if (t != t)
    return 0.0;
  if (t >= 199.0)
    return tbl.values[199];
  const int i = static_cast<int>(t);
  const double f = t - i;
  return tbl.values[i] * (1.0 - f) + tbl.values[i + 1] * f;
}

// The table read for one sample whose position t is already known.
inline double PreampValue(double x, double t)
{
  const CurveTable& tbl = Tavlo_table;
  double value;
  if (!(t >= 0.0))
    value = tbl.values[0];
  else if (t >= static_cast<double>(tbl.count - 1))
    value = tbl.values[tbl.count - 1];
  else
  {
    const int i = static_cast<int>(t);
    const double f = t - i;
    value = tbl.values[i] * (1.0 - f) + tbl.values[i + 1] * f;
  }
  value = std::fabs(value);
  return std::signbit(x) ? value : -value;
}

// The preamp table widened to double once (exactly), so the lookups below
// need no conversions.
struct WideTable
{
  double v[200];
  WideTable()
  {
    for (int k = 0; k < 200; ++k)
      v[k] = Tavlo_table.values[k];
  }
};
const WideTable kWidePreamp;

// PreampCurve over a run of samples, two at a time: the same operations on
// each sample as PreampCurve, so the same numbers.
inline void PreampBlockPlain(const double* in, double* out, int n)
{
  const __m128d signMask = _mm_castsi128_pd(_mm_set1_epi64x(static_cast<long long>(0x8000000000000000ULL)));
  const __m128d knee = _mm_set1_pd(kPreampKnee);
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
      out[k] = PreampValue(in[k], tt[0]);
      out[k + 1] = PreampValue(in[k + 1], tt[1]);
    }
  }
  for (; k < n; ++k)
    out[k] = PreampCurve(in[k]);
}

// The mix for frames where Bypass is settled off: the compressed signal
// (preamp strand plus dry, times the smoothed gain) and the dry one, then
// the output gain. Every input of a frame is loaded before its outputs are
// stored, so outputs may share the inputs' memory.
inline void MixPlain(const float* y, const double* pL, const double* pR, const double* dL, const double* dR,
                     double wet, double dry, double outputGain, double* outL, double* outR, int n)
{
  const __m128d g = _mm_set1_pd(kPreampGain), vw = _mm_set1_pd(wet), vd = _mm_set1_pd(dry),
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
    const double l = dL[i], r = dR[i];
    const double yy = y[i];
    const double wL = yy * (kPreampGain * pL[i] + l);
    const double wR = yy * (kPreampGain * pR[i] + r);
    outL[i] = (wL * wet + l * dry) * outputGain;
    outR[i] = (wR * wet + r * dry) * outputGain;
  }
}

__attribute__((target("avx2"))) void MixAvx2(const float* y, const double* pL, const double* pR, const double* dL,
                                             const double* dR, double wet, double dry, double outputGain,
                                             double* outL, double* outR, int n)
{
  const __m256d g = _mm256_set1_pd(kPreampGain), vw = _mm256_set1_pd(wet), vd = _mm256_set1_pd(dry),
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
  if (i < n)
    MixPlain(y + i, pL + i, pR + i, dL + i, dR + i, wet, dry, outputGain, outL + i, outR + i, n - i);
}

inline void MixBlock(const float* y, const double* pL, const double* pR, const double* dL, const double* dR,
                     double wet, double dry, double outputGain, double* outL, double* outR, int n)
{
  if (simdpath::Active() == simdpath::kAvx2)
    MixAvx2(y, pL, pR, dL, dR, wet, dry, outputGain, outL, outR, n);
  else
    MixPlain(y, pL, pR, dL, dR, wet, dry, outputGain, outL, outR, n);
}

// The detector table widened to double once (exactly).
struct WideDetector
{
  double v[200];
  WideDetector()
  {
    for (int k = 0; k < 200; ++k)
      v[k] = detector_table.values[k];
  }
};
const WideDetector kWideDetector;

// The gain computer's envelope over a chunk, two frames at a time and
// without branches: the same operations per frame as DetectorCurve and the
// envelope's follower. Frames whose driven detector value is not above zero
// (negative, zero, NaN) have no reduction: the curve is 0 at 0. Lists in
// above the frames whose envelope is over the threshold and returns how many
// there are; env holds the envelope of those frames (only they read it).
int DetectorEnvelopesPlain(const float* d, int n, double drive, double oneMinusC, double c, double threshold,
                           double* env, unsigned short* above, int i = 0, int count = 0)
{
  const double* v = kWideDetector.v;
  const __m128d vDrive = _mm_set1_pd(drive), vScale = _mm_set1_pd(static_cast<double>(detector_table.scale));
  const __m128d zero = _mm_setzero_pd(), last = _mm_set1_pd(199.0), one = _mm_set1_pd(1.0);
  const __m128d vLast = _mm_set1_pd(v[199]), vOneMinusC = _mm_set1_pd(oneMinusC), vC = _mm_set1_pd(c);
  const __m128d vThr = _mm_set1_pd(threshold);
  for (; i + 2 <= n; i += 2)
  {
    const __m128d x = _mm_mul_pd(vDrive, _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(
                                           reinterpret_cast<const __m128i*>(d + i)))));
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
    const double x = drive * d[i];
    if (!(x > 0.0))
      continue;
    const double E = DetectorCurve(x);
    const double s = oneMinusC * E;
    const double e = E > std::sqrt(s) ? E : std::sqrt(oneMinusC * E + c * s);
    env[i] = e;
    if (e > threshold)
      above[count++] = static_cast<unsigned short>(i);
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
        if (m >> k & 1)
          offsets[m] |= static_cast<uint64_t>(k) << (16 * count[m]++);
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

// DetectorEnvelopesPlain four frames at a time, the table read four entries at once:
// the same operations on each frame, so the same envelopes.
__attribute__((target("avx2"))) int DetectorEnvelopesAvx2(const float* d, int n, double drive, double oneMinusC,
                                                          double c, double threshold, double* env,
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
    const __m256d x = _mm256_mul_pd(vDrive, _mm256_cvtps_pd(_mm_loadu_ps(d + i)));
    const __m256d valid = _mm256_cmp_pd(x, zero, _CMP_GT_OQ);
    // A group with no driven value above zero (the detector's negative
    // half-waves, about half of all frames, in runs) has no frame over the
    // threshold, and no one reads the envelope of such frames.
    if (_mm256_movemask_pd(valid) == 0)
      continue;
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
  return DetectorEnvelopesPlain(d, n, drive, oneMinusC, c, threshold, env, above, i, count);
}

inline int DetectorEnvelopes(const float* d, int n, double drive, double oneMinusC, double c, double threshold,
                             double* env, unsigned short* above)
{
  if (simdpath::Active() == simdpath::kAvx2)
    return DetectorEnvelopesAvx2(d, n, drive, oneMinusC, c, threshold, env, above);
  return DetectorEnvelopesPlain(d, n, drive, oneMinusC, c, threshold, env, above);
}

// PreampCurve on four samples, the table read by gathers: the same
// operations on each sample as PreampBlockPlain, so the same numbers.
__attribute__((target("avx2"), always_inline)) inline __m256d PreampFour(__m256d x)
{
  const __m256d signMask = _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL)));
  const __m256d knee = _mm256_set1_pd(kPreampKnee);
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
  for (int j = 0; j < 4; ++j)
    xx[j] = PreampValue(xx[j], tt[j]);
  return _mm256_load_pd(xx);
}

__attribute__((target("avx2"))) void PreampBlockAvx2(const double* in, double* out, int n)
{
  int k = 0;
  for (; k + 4 <= n; k += 4)
    _mm256_storeu_pd(out + k, PreampFour(_mm256_loadu_pd(in + k)));
  if (k < n)
    PreampBlockPlain(in + k, out + k, n - k);
}

inline void PreampBlock(const double* in, double* out, int n)
{
  if (simdpath::Active() == simdpath::kAvx2)
    PreampBlockAvx2(in, out, n);
  else
    PreampBlockPlain(in, out, n);
}

// The preamp as the oversampler's function of its top-rate samples.
struct PreampShape
{
  void Block(const double* in, double* out, int n) const { PreampBlock(in, out, n); }
  __attribute__((target("avx2"), always_inline)) __m256d Four(__m256d x) const { return PreampFour(x); }
};

inline void SwitchFactor(OverSampler<double>& os, OverSampler<double>::EFactor factor)
{
  if (os.mFactor != factor)
  {
    os.mFactor = factor;
    os.mRate = OverSampler<double>::RateOf(factor);
    os.Reset(kOversampleResetSize);
  }
}

// One channel's preamp and dry strands over a run of frames at one factor.
// Both oversamplers see the same input, so their up stages would compute the
// same numbers: the preamp's upsampling serves both and the dry instance's
// up stages are brought along afterwards.
void RunStrands(const double* in, int nFrames, OverSampler<double>& pre, OverSampler<double>& dry,
                double* p, double* d)
{
  if (pre.GetRate() == 1)
  {
    // The dry strand is the input itself: the caller reads it from there.
    PreampBlock(in, p, nFrames);
    return;
  }
  const int cap = std::min(pre.BlockCapacity(), dry.BlockCapacity());
  for (int pos = 0; pos < nFrames;)
  {
    const int n = std::min(cap, nFrames - pos);
    const double* hi = pre.UpsampleBlock(in + pos, n);
    double* res = pre.DownTop();
    PreampBlock(hi, res, n * pre.GetRate());
    dry.DownsampleBlock(hi, d + pos, n);
    pre.DownsampleBlock(res, p + pos, n);
    dry.CopyUpStateFrom(pre);

    // A non-finite sample would stay in the filter states for ever: clear
    // them after the frame that brought it and carry on from there.
    int bad = -1;
    for (int i = pos; i < pos + n; ++i)
      if (!(std::isfinite(in[i]) && std::isfinite(p[i]) && std::isfinite(d[i])))
      {
        bad = i;
        break;
      }
    if (bad < 0)
    {
      pos += n;
      continue;
    }
    pre.ClearState();
    dry.ClearState();
    // The frames after the bad one are recomputed from cleared filters.
    pos = bad + 1;
  }
}

// Whether n values of each of three runs are all finite, two at a time
// without branches: x - x is 0 for a finite x and NaN for an infinite or NaN
// one, and a NaN stays in the sum.
inline bool AllFinite(const double* a, const double* b, const double* c, int n)
{
  __m128d acc = _mm_setzero_pd();
  int i = 0;
  for (; i + 2 <= n; i += 2)
  {
    const __m128d x = _mm_loadu_pd(a + i), y = _mm_loadu_pd(b + i), z = _mm_loadu_pd(c + i);
    acc = _mm_add_pd(acc, _mm_add_pd(_mm_sub_pd(x, x), _mm_add_pd(_mm_sub_pd(y, y), _mm_sub_pd(z, z))));
  }
  bool finite = _mm_movemask_pd(_mm_cmpunord_pd(acc, acc)) == 0;
  for (; i < n; ++i)
    finite = finite && std::isfinite(a[i]) && std::isfinite(b[i]) && std::isfinite(c[i]);
  return finite;
}

// Both channels' strands over a run of frames at one factor. The four
// oversamplers run side by side, so that their long chains of all-pass
// sections overlap instead of following one another. work holds
// osWorkSize doubles; nFrames is at most osChunk.
void RunStrandsPiece(const double* L, const double* R, int nFrames, OverSampler<double>& preL,
                     OverSampler<double>& preR, OverSampler<double>& dryL, OverSampler<double>& dryR,
                     double* pL, double* pR, double* dL, double* dR, double* work, int osChunk)
{
  // Staggered regions of the work area (4x only): two up chains of 6 x
  // chunk, two preamp results of 4 x chunk and four down chains of 2 x chunk.
  size_t pos = 0;
  auto take = [&](size_t n, size_t pad) {
    double* p = work + pos;
    pos += n + pad;
    return p;
  };
  const size_t c = static_cast<size_t>(osChunk);
  double* upL = take(6 * c, 8);
  double* upR = take(6 * c, 24);
  double* resL = take(4 * c, 40);
  double* resR = take(4 * c, 56);
  double* dnW[4] = {take(2 * c, 72), take(2 * c, 88), take(2 * c, 104), take(2 * c, 120)};

  OverSampler<double>* const up[2] = {&preL, &preR};
  const double* const in[2] = {L, R};
  double* const upWork[2] = {upL, upR};
  const double* hiTop[2];
  double* const res[2] = {resL, resR};
  const PreampShape preamp;
  // The preamp runs as the top level makes its samples.
  OverSampler<double>::UpsampleBlocks<2>(up, in, nFrames, upWork, hiTop, res, &preamp);
  OverSampler<double>* const down[4] = {&preL, &dryL, &preR, &dryR};
  const double* const hi[4] = {resL, hiTop[0], resR, hiTop[1]};
  double* const out[4] = {pL, dL, pR, dR};
  OverSampler<double>::DownsampleBlocks<4>(down, hi, out, nFrames, dnW);
  dryL.CopyUpStateFrom(preL);
  dryR.CopyUpStateFrom(preR);

  // A non-finite sample would stay in the filter states for ever: clear
  // them after the frame that brought it and redo the rest of that channel.
  const double* src[2] = {L, R};
  double* p[2] = {pL, pR};
  double* d[2] = {dL, dR};
  OverSampler<double>* pre[2] = {&preL, &preR};
  OverSampler<double>* dry[2] = {&dryL, &dryR};
  for (int ch = 0; ch < 2; ++ch)
    for (int i = AllFinite(src[ch], p[ch], d[ch], nFrames) ? nFrames : 0; i < nFrames; ++i)
      if (!(std::isfinite(src[ch][i]) && std::isfinite(p[ch][i]) && std::isfinite(d[ch][i])))
      {
        pre[ch]->ClearState();
        dry[ch]->ClearState();
        RunStrands(src[ch] + i + 1, nFrames - i - 1, *pre[ch], *dry[ch], p[ch] + i + 1, d[ch] + i + 1);
        break;
      }
}

void RunStrandsStereo(const double* L, const double* R, int nFrames, OverSampler<double>& preL,
                      OverSampler<double>& preR, OverSampler<double>& dryL, OverSampler<double>& dryR,
                      double* pL, double* pR, double* dL, double* dR, double* work, int osChunk)
{
  const int rate = preL.GetRate();
  const int cap = std::min(std::min(preL.BlockCapacity(), preR.BlockCapacity()),
                           std::min(dryL.BlockCapacity(), dryR.BlockCapacity()));
  if (rate != 4 || cap < osChunk)
  {
    RunStrands(L, nFrames, preL, dryL, pL, dL);
    RunStrands(R, nFrames, preR, dryR, pR, dR);
    return;
  }
  for (int pos = 0; pos < nFrames; pos += osChunk)
  {
    const int n = std::min(osChunk, nFrames - pos);
    RunStrandsPiece(L + pos, R + pos, n, preL, preR, dryL, dryR, pL + pos, pR + pos, dL + pos, dR + pos,
                    work, osChunk);
  }
}

} // namespace

TavloChain::TavloChain() {}

void TavloChain::UpdateCoefs()
{
  const double sr = mSettings.sampleRate;
  const double input = mSettings.input, attackTime = mSettings.attack, releaseTime = mSettings.release;
  const double hpfFreq = mSettings.hpfFreq;
  Coefs& k = mCoefs;
  if (k.valid && k.sampleRate == sr && k.input == input && k.attackTime == attackTime &&
      k.releaseTime == releaseTime && k.hpfFreq == hpfFreq)
    return;
  // Compared as bit patterns of the inputs would be stricter, but the only
  // values that compare equal while differing are +0 and -0, which give the
  // same coefficients here.
  if (!k.valid || k.sampleRate != sr)
  {
    k.c = std::exp(-kTenHertz / sr);
    k.oneMinusC = 1.0 - k.c;
    k.meterCoef = VUClass::Coefficient(sr);
  }
  if (!k.valid || k.input != input)
  {
    k.threshold = std::exp(-input / kLevelScale);
    k.drive = std::pow(10.0, (input / 10.0) / 20.0);
  }
  if (!k.valid || k.sampleRate != sr || k.attackTime != attackTime)
    k.attack = attackTime != 0.0 ? std::exp(-1.0 / (attackTime * sr)) : 0.0;
  if (!k.valid || k.sampleRate != sr || k.releaseTime != releaseTime)
  {
    k.release = releaseTime != 0.0 ? std::exp(-1.0 / (releaseTime * sr)) : 0.0;
    // Its reciprocal to about 106 bits, for the fused quotient.
    k.releaseRecip = 1.0 / k.release;
    k.releaseRecipLow = std::fma(-k.releaseRecip, k.release, 1.0) / k.release;
  }
  if (!k.valid || k.sampleRate != sr || k.hpfFreq != hpfFreq)
    mDetectorFilter.setBiquad(Biquad::kHighPass, hpfFreq / sr, 1.0, 1.0);
  k.sampleRate = sr;
  k.input = input;
  k.attackTime = attackTime;
  k.releaseTime = releaseTime;
  k.hpfFreq = hpfFreq;
  k.valid = true;
}

namespace
{

// The detector source through the high-pass, in single precision: the right
// channel of the main input or of the side-chain (silence when there is
// none). An infinite or NaN output clears the filter, so it cannot stick.
inline float DetectorStep(Biquad& filter, double src)
{
  const float d = filter.process(static_cast<float>(src));
  if (!std::isfinite(d))
    filter.clearState();
  return d;
}

// DetectorStep over frames [from, to) of src (silence for a null source).
inline void DetectorRun(Biquad& filter, const double* src, int from, int to, float* d)
{
  for (int i = from; i < to; ++i)
    d[i] = DetectorStep(filter, src ? src[i] : 0.0);
}

// The detector's input over a run of frames as the filter takes it (rounded
// to single precision; silence for a null source) times the filter's three
// feed-forward coefficients. These products do not depend on the filter's
// state, so they are formed here, several frames at once, and the loop that
// runs the filter is left with its recurrence.
void DetectorProductsPlain(const Biquad& f, const double* src, int n, double* xa0, double* xa1, double* xa2,
                           int i = 0)
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

__attribute__((target("avx2"))) void DetectorProductsAvx2(const Biquad& f, const double* src, int n, double* xa0,
                                                          double* xa1, double* xa2)
{
  if (!src)
  {
    DetectorProductsPlain(f, src, n, xa0, xa1, xa2);
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
  DetectorProductsPlain(f, src, n, xa0, xa1, xa2, i);
}

inline void DetectorProducts(const Biquad& f, const double* src, int n, double* xa0, double* xa1, double* xa2)
{
  if (simdpath::Active() == simdpath::kAvx2)
    DetectorProductsAvx2(f, src, n, xa0, xa1, xa2);
  else
    DetectorProductsPlain(f, src, n, xa0, xa1, xa2);
}

// The filter's outputs rounded to single precision, as DetectorStep returns
// them; false if any of them is infinite or NaN (where DetectorStep would
// have cleared the filter).
inline bool DetectorToFloat(const double* out, int n, float* d)
{
  const __m128 inf = _mm_set1_ps(HUGE_VALF);
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  __m128 finite = _mm_castsi128_ps(_mm_set1_epi32(-1));
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    const __m128 v = _mm_movelh_ps(_mm_cvtpd_ps(_mm_loadu_pd(out + i)), _mm_cvtpd_ps(_mm_loadu_pd(out + i + 2)));
    _mm_storeu_ps(d + i, v);
    finite = _mm_and_ps(finite, _mm_cmplt_ps(_mm_and_ps(v, absMask), inf)); // false for NaN too
  }
  bool ok = _mm_movemask_ps(finite) == 15;
  for (; i < n; ++i)
  {
    d[i] = static_cast<float>(out[i]);
    ok = ok && std::isfinite(d[i]);
  }
  return ok;
}

// The preamp of both channels (as PreampBlock, no oversampling) and the
// detector (as DetectorStep) over the same n frames, four at a time: the
// detector's filter is a chain of dependent operations with little work in
// it, the preamp much independent work, and in one loop the processor
// overlaps them. Runs where the first chunk of a block would otherwise run
// its detector alone.
__attribute__((target("avx2"))) void PreampBesideDetector(const double* L, const double* R, int n, double* pL,
                                                          double* pR, Biquad& filter, const double* detSrc,
                                                          float* d)
{
  int i = 0;
  for (; i + 4 <= n; i += 4)
  {
    _mm256_storeu_pd(pL + i, PreampFour(_mm256_loadu_pd(L + i)));
    _mm256_storeu_pd(pR + i, PreampFour(_mm256_loadu_pd(R + i)));
    DetectorRun(filter, detSrc, i, i + 4, d);
  }
  if (i < n)
  {
    PreampBlockPlain(L + i, pL + i, n - i);
    PreampBlockPlain(R + i, pR + i, n - i);
    DetectorRun(filter, detSrc, i, n, d);
  }
}

// One chunk's serial work: the ballistics, the smoother and the meter,
// frame by frame, beside the detector's high-pass for the next chunk.
struct ChunkSerial
{
  // The chunk.
  int n = 0;
  const double *lo = nullptr, *hi = nullptr, *env = nullptr, *L = nullptr, *R = nullptr;
  const unsigned char* reduce = nullptr;
  double attack = 0.0, release = 0.0, input = 0.0, meterCoef = 0.0;
  double releaseRecip = 1.0, releaseRecipLow = 0.0; // 1 / release as two doubles
  float* y = nullptr;
  // The next chunk's detector over its first nNext frames (at most n):
  // its input's products (DetectorProducts) in, the filter's outputs out.
  int nNext = 0;
  const double *xa0 = nullptr, *xa1 = nullptr, *xa2 = nullptr;
  double* dOut = nullptr;
  // The state carried from frame to frame.
  Biquad filter;
  NumSmooth smoother;
  VUClass meter;
  double gainState = 1.0;
};

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
__attribute__((always_inline)) inline double GainStep(const ChunkSerial& c, int i, double gainState,
                                                      Quotient quotient)
{
  // Every frame has an interval for its target, [1, 1] without reduction,
  // so one step serves all frames alike.
  if (!tavlogain::BallisticStepWithin(gainState, c.lo[i], c.hi[i], c.attack, c.release, quotient))
  {
    const double target = c.reduce[i] ? tavlogain::ExactGain(c.env[i], c.L[i], c.R[i], c.input) : 1.0;
    gainState = tavlogain::BallisticStep(gainState, target, c.attack, c.release);
  }
  return gainState;
}

// Frames [begin, end) of the chunk with nothing to recover: no check for a
// non-finite smoother or meter. Both are recurrences that keep a non-finite
// value for good once they take one, so their states at the end of the
// chunk tell whether any frame needed a recovery (RunChunkSerial then runs
// the chunk again with the checks). kDetector: the next chunk's filter runs
// beside; kQuiet: the gain stays at 1; kHeld: Input 0 holds the gain at 1
// after each step.
template <bool kQuiet, bool kHeld, bool kDetector, class Quotient>
__attribute__((always_inline)) inline void RunFrames(ChunkSerial& c, int begin, int end, Quotient quotient)
{
  // Locals, so that the state stays in registers.
  Biquad filter = c.filter;
  NumSmooth smoother = c.smoother;
  VUClass meter = c.meter;
  double gainState = c.gainState;
  const double meterCoef = c.meterCoef;
  float* const y = c.y;
  for (int i = begin; i < end; ++i)
  {
    if constexpr (kDetector)
      c.dOut[i] = filter.processProducts(c.xa0[i], c.xa1[i], c.xa2[i]);
    if constexpr (!kQuiet)
      gainState = GainStep(c, i, gainState, quotient);
    y[i] = smoother.Process(static_cast<float>(gainState));
    if constexpr (kHeld)
      gainState = 1.0;
    meter.ProcessWithCoef(1.0 - gainState, meterCoef);
  }
  c.filter = filter;
  c.smoother = smoother;
  c.meter = meter;
  c.gainState = gainState;
}

// The chunk's gain, smoother and meter with a recovery on every frame: a
// smoother that is not finite restarts from the gain, a meter that is not
// finite from 0. The frames' gains are the ones RunFrames found.
template <bool kQuiet, class Quotient>
__attribute__((noinline)) void RunFramesChecked(ChunkSerial& c, Quotient quotient)
{
  NumSmooth smoother = c.smoother;
  VUClass meter = c.meter;
  double gainState = c.gainState;
  for (int i = 0; i < c.n; ++i)
  {
    if constexpr (!kQuiet)
      gainState = GainStep(c, i, gainState, quotient);
    const float gainIn = static_cast<float>(gainState);
    if (!std::isfinite(smoother.GetState()))
      smoother.SetState(gainIn); // restart from the gain, not from silence
    c.y[i] = smoother.Process(gainIn);
    if (c.input == 0.0)
      gainState = 1.0;
    if (!std::isfinite(meter.ProcessWithCoef(1.0 - gainState, c.meterCoef)))
      meter.SetState(0.0);
  }
  c.smoother = smoother;
  c.meter = meter;
  c.gainState = gainState;
}

template <bool kQuiet, bool kHeld, class Quotient>
__attribute__((always_inline)) inline void RunChunkSerial(ChunkSerial& c, Quotient quotient)
{
  const NumSmooth smoother = c.smoother;
  const VUClass meter = c.meter;
  const double gainState = c.gainState;
  RunFrames<kQuiet, kHeld, true>(c, 0, c.nNext, quotient);
  RunFrames<kQuiet, kHeld, false>(c, c.nNext, c.n, quotient);
  if (__builtin_expect(!(std::isfinite(c.smoother.GetState()) && std::isfinite(c.meter.GetState())), 0))
  {
    c.smoother = smoother;
    c.meter = meter;
    c.gainState = gainState;
    RunFramesChecked<kQuiet>(c, quotient);
  }
}

template <class Quotient>
__attribute__((always_inline)) inline void RunChunkSerialAny(ChunkSerial& c, bool quiet, Quotient quotient)
{
  const bool held = c.input == 0.0;
  if (quiet)
  {
    if (held)
      RunChunkSerial<true, true>(c, quotient);
    else
      RunChunkSerial<true, false>(c, quotient);
  }
  else if (held)
    RunChunkSerial<false, true>(c, quotient);
  else
    RunChunkSerial<false, false>(c, quotient);
}

void RunChunkSerialPlain(ChunkSerial& c, bool quiet) { RunChunkSerialAny(c, quiet, tavlogain::Divide()); }

// The same operations; AVX-512's 32 vector registers hold the whole state
// and every constant of the loop, where SSE's 16 make the compiler keep the
// detector's state in memory, on its chain; and FMA gives the quotient above.
__attribute__((target("avx512f,avx512vl,fma", "prefer-vector-width=128"))) void RunChunkSerialWide(ChunkSerial& c,
                                                                                                  bool quiet)
{
  RunChunkSerialAny(c, quiet, FusedQuotient{c.release, c.releaseRecip, c.releaseRecipLow});
}

} // namespace

void TavloChain::Process(double** inputs, double** outputs, int nFrames)
{
  if (nFrames < 1 || !inputs || !outputs)
    return;
  DenormalGuard denormalGuard;

  UpdateCoefs();
  const Coefs k = mCoefs;
  const TavloChainSettings& st = mSettings;

  const bool useMain = st.sidechain != 0;
  const OverSampler<double>::EFactor factor = st.oversample == 1 ? OverSampler<double>::k4x : OverSampler<double>::kNone;
  const bool bypass = st.bypass == 1;

  const double input = st.input;
  const double outputGain = st.outputGain;
  const double wet = st.mix / 100.0;
  const double dry = 1.0 - wet;
  Scratch& sc = mScratch;
  mBypassFade.SetLength(IFxFade::FramesAt(st.sampleRate));

  // The oversamplers switch (and clear) together at the start of the block
  // that asks for the new factor.
  SwitchFactor(mPreampOsL, factor);
  SwitchFactor(mPreampOsR, factor);
  SwitchFactor(mDryOsL, factor);
  SwitchFactor(mDryOsR, factor);
  const bool oversampled = mPreampOsL.GetRate() != 1;

  // The detector's source, right channel of the main or the side-chain input.
  const double* const detSrc = useMain ? inputs[1] : inputs[3];
  Biquad filter = mDetectorFilter;
  // The first chunk's detector; each later one runs beside the ballistics of
  // the chunk before. Without oversampling, the first chunk's preamp runs
  // beside it.
  const bool firstPreampDone = !oversampled && simdpath::Active() == simdpath::kAvx2;
  {
    const int n = std::min(kChunk, nFrames);
    float* d = sc.d[0];
    if (firstPreampDone)
      PreampBesideDetector(inputs[0], inputs[1], n, sc.pL, sc.pR, filter, detSrc, d);
    else
      DetectorRun(filter, detSrc, 0, n, d);
  }

  ChunkSerial serial;
  serial.lo = sc.lo;
  serial.hi = sc.hi;
  serial.env = sc.env;
  serial.reduce = sc.reduce;
  serial.attack = k.attack;
  serial.release = k.release;
  serial.releaseRecip = k.releaseRecip;
  serial.releaseRecipLow = k.releaseRecipLow;
  serial.input = input;
  serial.meterCoef = k.meterCoef;
  serial.y = sc.y;
  serial.xa0 = sc.xa0;
  serial.xa1 = sc.xa1;
  serial.xa2 = sc.xa2;
  serial.dOut = sc.dOut;
  serial.filter = filter;
  serial.smoother = mGainSmoother;
  serial.meter = mMeter;
  serial.gainState = mGainState;
  const bool wide = simdpath::Avx512();
  int cur = 0;
  for (int base = 0; base < nFrames; base += kChunk, cur ^= 1)
  {
    const int n = std::min(kChunk, nFrames - base);
    const double* L = inputs[0] + base;
    const double* R = inputs[1] + base;
    double* outL = outputs[0] + base;
    double* outR = outputs[1] + base;
    const float* d = sc.d[cur];

    // Gain computer: 1 below the threshold, else an interval for the target
    // where cheap bounds can stand in for it, or NaN bounds: the exact target.
    const int nAbove = DetectorEnvelopes(d, n, k.drive, k.oneMinusC, k.c, k.threshold, sc.env, sc.above);
    // Nothing over the threshold and no reduction left: the gain stays at
    // 1 for the whole chunk (each step toward a target equal to the state
    // keeps the state), so the chunk needs no targets and no steps.
    const bool quiet = nAbove == 0 && serial.gainState == 1.0;
    if (!quiet)
    {
      const __m128d one = _mm_set1_pd(1.0);
      for (int i = 0; i < n; i += 2)
      {
        _mm_storeu_pd(sc.lo + i, one);
        _mm_storeu_pd(sc.hi + i, one);
      }
      std::memset(sc.reduce, 0, static_cast<size_t>(n));
    }
    if (nAbove > 0)
    {
      for (int a = 0; a < nAbove; ++a)
      {
        const int i = sc.above[a];
        sc.pe[a] = sc.env[i];
        sc.pl[a] = L[i];
        sc.pr[a] = R[i];
      }
      for (int a = nAbove; a < ((nAbove + 3) & ~3); ++a)
      {
        sc.pe[a] = 1.0;
        sc.pl[a] = sc.pr[a] = 0.0;
      }
      tavlogain::EstimateGains(sc.pe, sc.pl, sc.pr, input, nAbove, sc.plo, sc.phi);
      for (int a = 0; a < nAbove; ++a)
      {
        const int i = sc.above[a];
        sc.lo[i] = sc.plo[a];
        sc.hi[i] = sc.phi[a];
        sc.reduce[i] = 1;
      }
    }

    // Preamp and dry strands.
    if (!(base == 0 && firstPreampDone))
      RunStrandsStereo(L, R, n, mPreampOsL, mPreampOsR, mDryOsL, mDryOsR, sc.pL, sc.pR, sc.dL, sc.dR, sc.osWork,
                     kOsChunk);

    // Ballistics, smoothing and the meter, beside the next chunk's detector.
    serial.n = n;
    serial.L = L;
    serial.R = R;
    const int nNext = std::min(kChunk, nFrames - base - n);
    const double* const nextSrc = detSrc ? detSrc + base + n : nullptr;
    const Biquad filterBefore = serial.filter;
    DetectorProducts(filterBefore, nextSrc, nNext, sc.xa0, sc.xa1, sc.xa2);
    serial.nNext = nNext;
    if (wide)
      RunChunkSerialWide(serial, quiet);
    else
      RunChunkSerialPlain(serial, quiet);
    float* const dNext = sc.d[cur ^ 1];
    if (!DetectorToFloat(sc.dOut, nNext, dNext))
    {
      // A frame whose detector was not finite: the filter again from the
      // chunk's start, clearing it where it must.
      serial.filter = filterBefore;
      DetectorRun(serial.filter, nextSrc, 0, nNext, dNext);
    }

    // The mix, and Bypass, which passes the input through; a switch fades
    // between the two.
    const double* dL = oversampled ? sc.dL : L;
    const double* dR = oversampled ? sc.dR : R;
    IFxFade& fade = mBypassFade;
    fade.SetTarget(bypass);
    if (fade.AtA())
      MixBlock(sc.y, sc.pL, sc.pR, dL, dR, wet, dry, outputGain, outL, outR, n);
    else
      for (int i = 0; i < n; ++i)
      {
        fade.SetTarget(bypass);
        if (fade.AtB())
        {
          outL[i] = L[i];
          outR[i] = R[i];
        }
        else
        {
          const double y = sc.y[i];
          const double wL = y * (kPreampGain * sc.pL[i] + dL[i]);
          const double wR = y * (kPreampGain * sc.pR[i] + dR[i]);
          const double pL = (wL * wet + dL[i] * dry) * outputGain;
          const double pR = (wR * wet + dR[i] * dry) * outputGain;
          if (fade.AtA())
          {
            outL[i] = pL;
            outR[i] = pR;
          }
          else
          {
            const double w = fade.Next();
            outL[i] = IFxFade::Mix(pL, L[i], w);
            outR[i] = IFxFade::Mix(pR, R[i], w);
          }
        }
      }
  }
  mDetectorFilter = serial.filter;
  mGainSmoother = serial.smoother;
  mMeter = serial.meter;
  mGainState = serial.gainState;
  mMeterOut.store(mMeter.GetState(), std::memory_order_relaxed);
}

void TavloChain::Restart()
{
  mGainState = 1.0;
  mGainSmoother = NumSmooth(kSmootherPole, kSmootherStart);
  mMeter = VUClass(1.0);
  mDetectorFilter = Biquad();
  mCoefs = Coefs();
  for (OverSampler<double>* os : {&mPreampOsL, &mPreampOsR, &mDryOsL, &mDryOsR})
  {
    os->mFactor = OverSampler<double>::kNone;
    os->mRate = 1;
    os->Reset(kOversampleResetSize);
  }
  mBypassFade = IFxFade();
}

void TavloChain::ProcessUnheard(double** inputs, double** outputs, int nFrames)
{
  const VUClass meter = mMeter;
  Process(inputs, outputs, nFrames);
  mMeter = meter;
  RestMeter(nFrames);
}

void TavloChain::RestMeter(int nFrames)
{
  DenormalGuard denormalGuard;
  UpdateCoefs();
  // The needle as it would move with no gain reduction at all.
  VUClass meter = mMeter;
  for (int i = 0; i < nFrames; ++i)
    meter.ProcessWithCoef(0.0, mCoefs.meterCoef);
  mMeter = meter;
  mMeterOut.store(mMeter.GetState(), std::memory_order_relaxed);
}
