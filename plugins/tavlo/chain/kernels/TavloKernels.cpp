#include "tavlo/chain/kernels/TavloKernels.h"

#include "tavlo/chain/kernels/TavloGainEstimate.h"

namespace
{

using namespace tavlokernels;

// Any x86-64 processor.
const TavloKernels kSse2 = {
  "SSE2",
  simdpath::kPlain,
  PreampSse2,
  EnvelopesSse2,
  EnvelopesLinkedSse2,
  tavlogain::EstimateGainsScalar,
  DetectorProductsScalar,
  SerialSse2,
  SerialLinkedSse2,
  MixSse2,
  nullptr,
  nullptr,
};
// AVX2 without AVX-512: the vector loops at four lanes, the serial loop as
// any x86-64 builds it.
const TavloKernels kAvx2 = {
  "AVX2",
  simdpath::kAvx2,
  PreampAvx2,
  EnvelopesAvx2,
  EnvelopesLinkedAvx2,
  tavlogain::EstimateGainsAvx2,
  DetectorProductsAvx2,
  SerialSse2,
  SerialLinkedSse2,
  MixAvx2,
  PreampBesideDetectorAvx2,
  PreampBesideDetectorPairAvx2,
};
// And the serial loop built for AVX-512 with FMA.
const TavloKernels kAvx512 = {
  "AVX2 with AVX-512",
  simdpath::kAvx2,
  PreampAvx2,
  EnvelopesAvx2,
  EnvelopesLinkedAvx2,
  tavlogain::EstimateGainsAvx2,
  DetectorProductsAvx2,
  SerialAvx512,
  SerialLinkedAvx512,
  MixAvx2,
  PreampBesideDetectorAvx2,
  PreampBesideDetectorPairAvx2,
};

}  // namespace

const TavloKernels& TavloKernels::For(simdpath::Path path, bool avx512)
{
  if (path != simdpath::kAvx2) return kSse2;
  return avx512 ? kAvx512 : kAvx2;
}
