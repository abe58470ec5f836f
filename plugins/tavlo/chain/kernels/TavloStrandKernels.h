#pragma once

// The preamp and dry strands of both channels over a run of frames, through
// the oversamplers when they are on.

#include "dsp/OverSampler.h"
#include "tavlo/chain/kernels/TavloKernels.h"

namespace tavlokernels
{

// The four oversamplers, switched together.
struct StrandOversamplers
{
  OverSampler<double>& preL;
  OverSampler<double>& preR;
  OverSampler<double>& dryL;
  OverSampler<double>& dryR;
};

// Oversampled runs go in pieces of this many frames, so their working
// buffers stay in the first-level cache; the work area they need.
constexpr int kStrandPiece = 128;
constexpr int kStrandWorkSize = 2 * 6 * kStrandPiece + 2 * 4 * kStrandPiece + 4 * 2 * kStrandPiece + 8 * 64;

// pX the preamp strand, dX the dry one (not written without oversampling:
// the dry strand is then the input itself). work holds kStrandWorkSize
// doubles.
void RunStrandsStereo(const TavloKernels& kernels, const double* L, const double* R, int nFrames,
                      const StrandOversamplers& os, double* pL, double* pR, double* dL, double* dR, double* work);

}  // namespace tavlokernels
