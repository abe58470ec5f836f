#pragma once

#include "dsp/halfband/AllpassPaths.h"

namespace halfband
{

// Halves the rate: an ordered pair in (earlier, later), one sample out.
template <int NC>
class Downsampler2x : public detail::AllpassState<NC>
{
public:
  // Path 0 starts from the later sample, path 1 from the earlier one.
  inline double process_sample(const double pair[2])
  {
    const __m128d out = this->Run(_mm_set_pd(pair[0], pair[1]));
    const double p0 = _mm_cvtsd_f64(out);
    const double p1 = _mm_cvtsd_f64(_mm_unpackhi_pd(out, out));
    return 0.5 * (p0 + p1);
  }
};

} // namespace halfband
