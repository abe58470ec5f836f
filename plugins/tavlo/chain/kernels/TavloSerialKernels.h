#pragma once

// The serial loop's state: what one chunk's ballistics, smoother and meter
// read, and the state they carry from frame to frame.

#include "dsp/Biquad.h"
#include "dsp/NumSmooth.h"
#include "dsp/VUClass.h"

struct TavloChunkSerial
{
  // The chunk.
  int n = 0;
  const double *lo = nullptr, *hi = nullptr, *env = nullptr, *L = nullptr, *R = nullptr;
  const unsigned char* reduce = nullptr;
  double attack = 0.0, release = 0.0, input = 0.0, meterCoef = 0.0;
  double releaseRecip = 1.0, releaseRecipLow = 0.0;  // 1 / release as two doubles
  float* y = nullptr;
  // The next chunk's detector over its first nNext frames (at most n):
  // its input's products (the detector products kernel) in, the filter's
  // outputs out.
  int nNext = 0;
  const double *xa0 = nullptr, *xa1 = nullptr, *xa2 = nullptr;
  double* dOut = nullptr;
  // Linked (the serialLinked kernels): the second detector's likewise,
  // beside the first.
  bool linked = false;
  const double *xb0 = nullptr, *xb1 = nullptr, *xb2 = nullptr;
  double* dOut2 = nullptr;
  // The state carried from frame to frame.
  Biquad filter;
  Biquad filter2;  // Linked: the left channel's
  NumSmooth smoother;
  VUClass meter;
  double gainState = 1.0;
};
