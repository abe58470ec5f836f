#pragma once

#include "dsp/halfband/AllpassPaths.h"

namespace halfband
{

// Halves the rate: an ordered pair in (earlier, later), one sample out.
template <int NC>
class Downsampler2x
{
public:
  static_assert(NC > 0, "at least one section");

  Downsampler2x() { clear_coefs(); clear_buffers(); }

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

  // Path 0 starts from the later sample, path 1 from the earlier one.
  inline double process_sample(const double pair[2])
  {
    const __m128d out = detail::RunPaths<NC>(_mm_set_pd(pair[0], pair[1]), mC, mX, mY);
    const double p0 = _mm_cvtsd_f64(out);
    const double p1 = _mm_cvtsd_f64(_mm_unpackhi_pd(out, out));
    return 0.5 * (p0 + p1);
  }

  const double* coefs() const { return mC; }
  const double* prev_inputs() const { return mX; }
  const double* prev_outputs() const { return mY; }

private:
  void clear_coefs()
  {
    for (int k = 0; k < NC; ++k)
      mC[k] = 0.0;
  }

  alignas(16) double mC[NC];
  alignas(16) double mX[NC];
  alignas(16) double mY[NC];
};

} // namespace halfband
