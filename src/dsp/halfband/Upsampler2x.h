#pragma once

#include <utility>

#include "dsp/halfband/AllpassPaths.h"

namespace halfband
{

// Doubles the rate: one sample in, an ordered pair out (first is earlier).
template <int NC>
class Upsampler2x : public detail::AllpassState<NC>
{
public:
  inline void process_sample(double& first, double& second, double input)
  {
    const __m128d out = this->Run(_mm_set1_pd(input));
    first = _mm_cvtsd_f64(out);
    second = _mm_cvtsd_f64(_mm_unpackhi_pd(out, out));
  }

  inline std::pair<double, double> process_sample(double input)
  {
    std::pair<double, double> p;
    process_sample(p.first, p.second, input);
    return p;
  }
};

} // namespace halfband
