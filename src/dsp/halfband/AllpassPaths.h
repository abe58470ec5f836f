#pragma once

#include <emmintrin.h>

// The two all-pass chains shared by the up- and down-sampler. Path 0 runs the
// even-indexed sections, path 1 the odd ones; section 2m and 2m+1 sit next to
// each other in memory so one SSE2 register carries both paths. The lanes are
// independent, so the result is the same as running the sections one by one.
namespace halfband
{
namespace detail
{

// s: lane 0 = path 0 value, lane 1 = path 1 value. Returns the two path
// outputs in the same lanes.
template <int NC>
inline __m128d RunPaths(__m128d s, const double* c, double* x, double* y)
{
#pragma GCC unroll 8
  for (int k = 0; k + 1 < NC; k += 2)
  {
    const __m128d t = _mm_load_pd(x + k);
    _mm_store_pd(x + k, s);
    s = _mm_add_pd(_mm_mul_pd(_mm_load_pd(c + k), _mm_sub_pd(s, _mm_load_pd(y + k))), t);
    _mm_store_pd(y + k, s);
  }
  if (NC % 2 == 1)
  {
    // The last section of an odd set belongs to path 0 alone.
    const int k = NC - 1;
    double s0 = _mm_cvtsd_f64(s);
    const double t = x[k];
    x[k] = s0;
    s0 = c[k] * (s0 - y[k]) + t;
    y[k] = s0;
    s = _mm_move_sd(s, _mm_set_sd(s0));
  }
  return s;
}


// Coefficients and the state of both paths, as the up- and down-sampler hold
// them.
template <int NC>
class AllpassState
{
public:
  static_assert(NC > 0, "at least one section");

  AllpassState()
  {
    for (int k = 0; k < NC; ++k)
      mC[k] = 0.0;
    clear_buffers();
  }

  void set_coefs(const double coefs[NC])
  {
    for (int k = 0; k < NC; ++k)
      mC[k] = coefs[k];
  }

  void clear_buffers()
  {
    for (int k = 0; k < NC; ++k)
      mX[k] = mY[k] = 0.0;
  }

  const double* coefs() const { return mC; }
  const double* prev_inputs() const { return mX; }
  const double* prev_outputs() const { return mY; }

protected:
  // Both path outputs for the two lane inputs of s.
  __m128d Run(__m128d s) { return RunPaths<NC>(s, mC, mX, mY); }

private:
  alignas(16) double mC[NC];
  alignas(16) double mX[NC];
  alignas(16) double mY[NC];
};

} // namespace detail
} // namespace halfband
