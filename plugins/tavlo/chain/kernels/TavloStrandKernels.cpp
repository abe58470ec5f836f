// Restates tavloeq::PreampCurve and tavloeq::StrandsFinite through the
// oversamplers: both channels' four instances side by side, the preamp run
// as the top level makes its samples, and every non-finite recovery of the
// strands in one place. Pinned by TavloKernels.EachKernelIsItsEquation and
// TavloChain.BitIdenticalToTheReferenceChain.

#include "tavlo/chain/kernels/TavloStrandKernels.h"

#include <algorithm>
#include <cmath>

#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloPreampKernels.h"

namespace tavlokernels
{
namespace
{

// The preamp as the oversampler's function of its top-rate samples.
struct PreampShape
{
  TavloPreampKernel block;
  void Block(const double* in, double* out, int n) const { block(in, out, n); }
  __attribute__((target("avx2"), always_inline)) __m256d Four(__m256d x) const { return PreampFour(x); }
};

// One channel's preamp and dry strands over a run of frames at one factor.
// Both oversamplers see the same input, so their up stages would compute the
// same numbers: the preamp's upsampling serves both and the dry instance's
// up stages are brought along afterwards.
void RunStrands(const TavloKernels& kn, const double* in, int nFrames, OverSampler<double>& pre,
                OverSampler<double>& dry, double* p, double* d)
{
  if (pre.GetRate() == 1)
  {
    // The dry strand is the input itself: the caller reads it from there.
    kn.preamp(in, p, nFrames);
    return;
  }
  const int cap = std::min(pre.BlockCapacity(), dry.BlockCapacity());
  for (int pos = 0; pos < nFrames;)
  {
    const int n = std::min(cap, nFrames - pos);
    const double* hi = pre.UpsampleBlock(in + pos, n);
    double* res = pre.DownTop();
    kn.preamp(hi, res, n * pre.GetRate());
    dry.DownsampleBlock(hi, d + pos, n);
    pre.DownsampleBlock(res, p + pos, n);
    dry.CopyUpStateFrom(pre);

    // A non-finite sample would stay in the filter states for ever: clear
    // them after the frame that brought it and carry on from there.
    int bad = -1;
    for (int i = pos; i < pos + n; ++i)
      if (!tavloeq::StrandsFinite(in[i], p[i], d[i]))
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
  for (; i < n; ++i) finite = finite && std::isfinite(a[i]) && std::isfinite(b[i]) && std::isfinite(c[i]);
  return finite;
}

// Both channels' strands over a run of frames at one factor. The four
// oversamplers run side by side, so that their long chains of all-pass
// sections overlap instead of following one another. work holds
// kStrandWorkSize doubles; nFrames is at most kStrandPiece.
void RunStrandsPiece(const TavloKernels& kn, const double* L, const double* R, int nFrames,
                     const StrandOversamplers& os, double* pL, double* pR, double* dL, double* dR, double* work)
{
  // Staggered regions of the work area (4x only): two up chains of 6 x
  // chunk, two preamp results of 4 x chunk and four down chains of 2 x chunk.
  size_t pos = 0;
  auto take = [&](size_t n, size_t pad)
  {
    double* p = work + pos;
    pos += n + pad;
    return p;
  };
  const size_t c = static_cast<size_t>(kStrandPiece);
  OverSampler<double>& preL = os.preL;
  OverSampler<double>& preR = os.preR;
  OverSampler<double>& dryL = os.dryL;
  OverSampler<double>& dryR = os.dryR;
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
  const PreampShape preamp{kn.preamp};
  // The preamp runs as the top level makes its samples.
  OverSampler<double>::UpsampleBlocks<2>(up, in, nFrames, upWork, hiTop, res, &preamp, kn.path);
  OverSampler<double>* const down[4] = {&preL, &dryL, &preR, &dryR};
  const double* const hi[4] = {resL, hiTop[0], resR, hiTop[1]};
  double* const out[4] = {pL, dL, pR, dR};
  OverSampler<double>::DownsampleBlocks<4>(down, hi, out, nFrames, dnW, kn.path);
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
      if (!tavloeq::StrandsFinite(src[ch][i], p[ch][i], d[ch][i]))
      {
        pre[ch]->ClearState();
        dry[ch]->ClearState();
        RunStrands(kn, src[ch] + i + 1, nFrames - i - 1, *pre[ch], *dry[ch], p[ch] + i + 1, d[ch] + i + 1);
        break;
      }
}

}  // namespace

void RunStrandsStereo(const TavloKernels& kn, const double* L, const double* R, int nFrames,
                      const StrandOversamplers& os, double* pL, double* pR, double* dL, double* dR, double* work)
{
  const int rate = os.preL.GetRate();
  const int cap = std::min(std::min(os.preL.BlockCapacity(), os.preR.BlockCapacity()),
                           std::min(os.dryL.BlockCapacity(), os.dryR.BlockCapacity()));
  if (rate != 4 || cap < kStrandPiece)
  {
    RunStrands(kn, L, nFrames, os.preL, os.dryL, pL, dL);
    RunStrands(kn, R, nFrames, os.preR, os.dryR, pR, dR);
    return;
  }
  for (int pos = 0; pos < nFrames; pos += kStrandPiece)
  {
    const int n = std::min(kStrandPiece, nFrames - pos);
    RunStrandsPiece(kn, L + pos, R + pos, n, os, pL + pos, pR + pos, dL + pos, dR + pos, work);
  }
}

}  // namespace tavlokernels
