#pragma once

#include <utility>

#include "dsp/halfband/AllpassPaths.h"

namespace halfband
{

// Doubles the rate: one sample in, an ordered pair out (first is earlier).
template <int NC>
class Upsampler2x
{
public:
  static_assert(NC > 0, "at least one section");

  Upsampler2x() { clear_coefs(); clear_buffers(); }

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

  inline void process_sample(double& first, double& second, double input)
  {
    const __m128d out = detail::RunPaths<NC>(_mm_set1_pd(input), mC, mX, mY);
    first = _mm_cvtsd_f64(out);
    second = _mm_cvtsd_f64(_mm_unpackhi_pd(out, out));
  }

  inline std::pair<double, double> process_sample(double input)
  {
    std::pair<double, double> p;
    process_sample(p.first, p.second, input);
    return p;
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
