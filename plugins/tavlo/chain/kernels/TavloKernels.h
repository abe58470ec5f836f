#pragma once

// The fast restatements of the chain's stages, one set per processor path,
// and the table that holds one path's set. The chain picks its table once
// per block; tests call each kernel on its own against the equations.
//
// Path names: Scalar (one frame at a time, any x86-64), Sse2 (two lanes,
// any x86-64), Avx2 (four lanes, chosen at run time), Avx512 (the scalar
// serial loop built for AVX-512's registers and FMA). Every kernel of a
// stage gives the same bits as the others and as the equation it restates.

#include <immintrin.h>

#include <cmath>

#include "dsp/Biquad.h"
#include "kit/KitSimdPath.h"
#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloSerialKernels.h"

using TavloPreampKernel = void (*)(const double* in, double* out, int n);
// Envelopes of a chunk's detector values; lists the frames over the
// threshold in above and returns how many.
using TavloEnvelopeKernel = int (*)(const float* d, int n, double drive, double oneMinusC, double c, double threshold,
                                    double* env, unsigned short* above);
// The same for two detectors (Linked): the louder value of each frame.
using TavloLinkedEnvelopeKernel = int (*)(const float* dL, const float* dR, int n, double drive, double oneMinusC,
                                          double c, double threshold, double* env, unsigned short* above);
using TavloEstimateKernel = void (*)(const double* env, const double* left, const double* right, double input, int n,
                                     double* lo, double* hi);
using TavloProductsKernel = void (*)(const Biquad& filter, const double* src, int n, double* xa0, double* xa1,
                                     double* xa2);
using TavloSerialKernel = void (*)(TavloChunkSerial& c, bool quiet);
using TavloMixKernel = void (*)(const float* y, const double* pL, const double* pR, const double* dL, const double* dR,
                                double wet, double dry, double outputGain, double* outL, double* outR, int n);
using TavloPreampBesideDetectorKernel = void (*)(const double* L, const double* R, int n, double* pL, double* pR,
                                                 Biquad& filter, const double* detSrc, float* d);
using TavloPreampBesideDetectorPairKernel = void (*)(const double* L, const double* R, int n, double* pL,
                                                     double* pR, Biquad& filter, const double* detSrc, float* d,
                                                     Biquad& filter2, const double* detSrc2, float* d2);

struct TavloKernels
{
  const char* name;
  simdpath::Path path;  // the oversamplers' loops follow it
  TavloPreampKernel preamp;
  TavloEnvelopeKernel envelopes;
  TavloLinkedEnvelopeKernel envelopesLinked;
  TavloEstimateKernel estimateGains;
  TavloProductsKernel detectorProducts;
  TavloSerialKernel serial;
  TavloSerialKernel serialLinked;  // the same with the second detector beside (Linked)
  TavloMixKernel mix;
  // Null where the path has none: the first chunk's preamp (not
  // oversampled) run beside its detector.
  TavloPreampBesideDetectorKernel preampBesideDetector;
  TavloPreampBesideDetectorPairKernel preampBesideDetectorPair;  // the same with two (Linked)

  // The set for a path: avx512 picks the serial loop's AVX-512 build (only
  // with kAvx2).
  static const TavloKernels& For(simdpath::Path path, bool avx512);
  // The set the processor runs now (or the one tests forced).
  static const TavloKernels& Active() { return For(simdpath::Active(), simdpath::Avx512()); }
};

namespace tavlokernels
{

// Preamp: tavloeq::PreampCurve.
void PreampSse2(const double* in, double* out, int n);
void PreampAvx2(const double* in, double* out, int n);

// Envelope: tavloeq::DetectorCurve and tavloeq::Envelope.
int EnvelopesSse2(const float* d, int n, double drive, double oneMinusC, double c, double threshold, double* env,
                  unsigned short* above);
int EnvelopesAvx2(const float* d, int n, double drive, double oneMinusC, double c, double threshold, double* env,
                  unsigned short* above);
int EnvelopesLinkedSse2(const float* dL, const float* dR, int n, double drive, double oneMinusC, double c,
                        double threshold, double* env, unsigned short* above);
int EnvelopesLinkedAvx2(const float* dL, const float* dR, int n, double drive, double oneMinusC, double c,
                        double threshold, double* env, unsigned short* above);

// Detector: tavloeq::DetectorStep, over frames [from, to) of src (silence
// for a null source); inline, for the loops that run it beside others.
inline void DetectorRun(Biquad& filter, const double* src, int from, int to, float* d)
{
  for (int i = from; i < to; ++i) d[i] = tavloeq::DetectorStep(filter, src ? src[i] : 0.0);
}
// Two detectors over the same frames (Linked), in one loop: each filter is
// a chain of dependent operations, and side by side the two overlap.
inline void DetectorRunPair(Biquad& a, const double* srcA, Biquad& b, const double* srcB, int n, float* dA, float* dB)
{
  for (int i = 0; i < n; ++i)
  {
    dA[i] = tavloeq::DetectorStep(a, srcA ? srcA[i] : 0.0);
    dB[i] = tavloeq::DetectorStep(b, srcB ? srcB[i] : 0.0);
  }
}
void DetectorProductsScalar(const Biquad& filter, const double* src, int n, double* xa0, double* xa1, double* xa2);
void DetectorProductsAvx2(const Biquad& filter, const double* src, int n, double* xa0, double* xa1, double* xa2);
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
    finite = _mm_and_ps(finite, _mm_cmplt_ps(_mm_and_ps(v, absMask), inf));  // false for NaN too
  }
  bool ok = _mm_movemask_ps(finite) == 15;
  for (; i < n; ++i)
  {
    d[i] = static_cast<float>(out[i]);
    ok = ok && std::isfinite(d[i]);
  }
  return ok;
}
void PreampBesideDetectorAvx2(const double* L, const double* R, int n, double* pL, double* pR, Biquad& filter,
                              const double* detSrc, float* d);
void PreampBesideDetectorPairAvx2(const double* L, const double* R, int n, double* pL, double* pR, Biquad& filter,
                                  const double* detSrc, float* d, Biquad& filter2, const double* detSrc2, float* d2);

// Serial loop: tavloeq::BallisticStep, SmoothGain and MeterStep.
void SerialSse2(TavloChunkSerial& c, bool quiet);
void SerialAvx512(TavloChunkSerial& c, bool quiet);
void SerialLinkedSse2(TavloChunkSerial& c, bool quiet);
void SerialLinkedAvx512(TavloChunkSerial& c, bool quiet);

// Mix: tavloeq::Mix; MixFading adds Listen and Bypass through
// tavloeq::SwitchWeight (any path: it runs only while one of them fades or
// holds). listenL and listenR: what the detector hears, each output's.
void MixSse2(const float* y, const double* pL, const double* pR, const double* dL, const double* dR, double wet,
             double dry, double outputGain, double* outL, double* outR, int n);
void MixAvx2(const float* y, const double* pL, const double* pR, const double* dL, const double* dR, double wet,
             double dry, double outputGain, double* outL, double* outR, int n);
struct TavloFadingSwitches
{
  IFxFade& listenFade;
  bool listen;
  const float* listenL;
  const float* listenR;
  IFxFade& bypassFade;
  bool bypass;
};
void MixFading(const TavloFadingSwitches& sw, const float* y, const double* pL, const double* pR, const double* dL,
               const double* dR, const double* L, const double* R, double wet, double dry, double outputGain,
               double* outL, double* outR, int n);

}  // namespace tavlokernels
