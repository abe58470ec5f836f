#pragma once

// The benchmarks' test signal: music-like stereo at 48 kHz.

#include <cmath>
#include <cstddef>
#include <vector>

namespace benchsignal
{

const double kSampleRate = 48000.0;
const double kPi = 3.141592653589793;

struct Stereo
{
  std::vector<double> L, R, S;
};

// Ten seconds of kick-like decaying tones, enveloped noise bursts and a
// held tone, with a silent gap followed by a loud burst every two seconds.
inline Stereo MusicLike(size_t n)
{
  Stereo s;
  s.L.resize(n);
  s.R.resize(n);
  s.S.assign(n, 0.0);
  unsigned state = 12345u;
  auto noise = [&]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  };
  for (size_t i = 0; i < n; ++i)
  {
    const double t = static_cast<double>(i) / kSampleRate;
    const double beat = std::fmod(t, 0.5);
    const double kick = 0.9 * std::exp(-beat * 12.0) * std::sin(2.0 * kPi * (50.0 + 90.0 * std::exp(-beat * 35.0)) * beat);
    const double off = std::fmod(t + 0.25, 0.5);
    const double snare = 0.5 * std::exp(-off * 25.0) * noise();
    const double hat = 0.15 * std::exp(-std::fmod(t, 0.125) * 80.0) * noise();
    const double pad = 0.12 * std::sin(2.0 * kPi * 220.0 * t) + 0.08 * std::sin(2.0 * kPi * 331.0 * t);
    const double cycle = std::fmod(t, 2.0);
    double gate = 1.0, burst = 0.0;
    if (cycle > 1.5 && cycle < 1.8)
      gate = 0.0;
    if (cycle >= 1.8 && cycle < 1.9)
      burst = 1.2 * std::exp(-(cycle - 1.8) * 10.0) * noise();
    s.L[i] = gate * (kick + snare + hat + pad) + burst;
    s.R[i] = gate * (kick + 0.8 * snare - hat + 0.9 * pad) + 0.9 * burst;
  }
  return s;
}

} // namespace benchsignal
