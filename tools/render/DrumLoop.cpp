#include "DrumLoop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// A fixed-seed generator, so the loop is the same on every machine.
struct Noise
{
  uint32_t state = 0x2545F491u;
  double Next()
  {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (double)state / 2147483648.0 - 1.0;
  }
};

struct Canvas
{
  std::vector<float>& frames;
  double rate;
  size_t count;
  void Add(size_t frame, double left, double right)
  {
    if (frame >= count) return;
    frames[2 * frame] += (float)left;
    frames[2 * frame + 1] += (float)right;
  }
};

void Kick(Canvas& c, double at)
{
  const size_t start = (size_t)(at * c.rate);
  const size_t len = (size_t)(0.45 * c.rate);
  double phase = 0.0;
  for (size_t i = 0; i < len; ++i)
  {
    const double t = i / c.rate;
    const double freq = 48.0 + 110.0 * std::exp(-t / 0.035);
    phase += kTwoPi * freq / c.rate;
    const double env = std::exp(-t / 0.22) * std::min(1.0, t / 0.002);
    const double click = t < 0.004 ? 0.4 * (1.0 - t / 0.004) : 0.0;
    const double v = 0.95 * env * std::sin(phase) + click;
    c.Add(start + i, v, v);
  }
}

void Snare(Canvas& c, double at, Noise& noise, double gain)
{
  const size_t start = (size_t)(at * c.rate);
  const size_t len = (size_t)(0.3 * c.rate);
  double prev = 0.0, phase = 0.0;
  for (size_t i = 0; i < len; ++i)
  {
    const double t = i / c.rate;
    const double n = noise.Next();
    const double bright = n - 0.6 * prev;  // tilts the noise upwards
    prev = n;
    phase += kTwoPi * 185.0 / c.rate;
    const double v = gain * (0.45 * bright * std::exp(-t / 0.09) + 0.5 * std::sin(phase) * std::exp(-t / 0.05));
    c.Add(start + i, v * 0.95, v);
  }
}

void Hat(Canvas& c, double at, Noise& noise, double gain, double decay)
{
  const size_t start = (size_t)(at * c.rate);
  const size_t len = (size_t)(6.0 * decay * c.rate);
  // First difference of noise (mostly highs), rounded off above ~9 kHz by
  // two one-pole low-passes so the loop is not all energy at Nyquist.
  const double k = 1.0 - std::exp(-kTwoPi * 9000.0 / c.rate);
  double prev = 0.0, lp1 = 0.0, lp2 = 0.0;
  for (size_t i = 0; i < len; ++i)
  {
    const double t = i / c.rate;
    const double n = noise.Next();
    lp1 += k * ((n - prev) - lp1);
    lp2 += k * (lp1 - lp2);
    prev = n;
    const double v = gain * 1.4 * lp2 * std::exp(-t / decay);
    c.Add(start + i, 0.7 * v, v);  // a little to the right
  }
}

void BassNote(Canvas& c, double at, double length, double freq)
{
  const size_t start = (size_t)(at * c.rate);
  const size_t len = (size_t)(length * c.rate);
  double phase = 0.0;
  for (size_t i = 0; i < len; ++i)
  {
    const double t = i / c.rate;
    phase += kTwoPi * freq / c.rate;
    const double attack = std::min(1.0, t / 0.006);
    const double release = std::min(1.0, (length - t) / 0.02);
    const double body = std::sin(phase) + 0.35 * std::sin(2.0 * phase) + 0.12 * std::sin(3.0 * phase);
    const double v = 0.42 * attack * std::max(0.0, release) * std::tanh(1.4 * body);
    c.Add(start + i, v, v);
  }
}

}  // namespace

std::vector<float> SynthesizeDrumLoop(double sampleRate)
{
  const size_t count = (size_t)std::llround(kDrumLoopSeconds * sampleRate);
  std::vector<float> frames(2 * count, 0.0f);
  Canvas c{frames, sampleRate, count};
  Noise noise;
  const double beat = 60.0 / kDrumLoopBpm;
  const int bars = (int)std::lround(kDrumLoopSeconds / (4.0 * beat));

  // A two-step beat: kick on 1 and the and of 3, snare on 2 and 4, a ghost
  // snare before the last beat of every other bar, eighth-note hats.
  for (int bar = 0; bar < bars; ++bar)
  {
    const double t0 = bar * 4.0 * beat;
    Kick(c, t0);
    Kick(c, t0 + 2.5 * beat);
    Snare(c, t0 + 1.0 * beat, noise, 1.0);
    Snare(c, t0 + 3.0 * beat, noise, 1.0);
    if (bar % 2 == 1) Snare(c, t0 + 3.75 * beat, noise, 0.35);
    for (int e = 0; e < 8; ++e)
    {
      const bool open = e % 4 == 3;
      Hat(c, t0 + e * 0.5 * beat, noise, e % 2 ? 0.55 : 0.35, open ? 0.09 : 0.025);
    }
  }

  // The bass: two notes a bar over a four-bar cycle (E1, G1, A1, D1 roots).
  const double roots[4] = {41.20, 49.00, 55.00, 36.71};
  for (int bar = 0; bar < bars; ++bar)
  {
    const double t0 = bar * 4.0 * beat;
    const double f = roots[bar % 4];
    BassNote(c, t0, 1.5 * beat, f);
    BassNote(c, t0 + 2.5 * beat, 1.25 * beat, bar % 2 ? f * 1.5 : f * 2.0);
  }

  // Mastered loud, as such loops come: a soft saturator over the whole mix,
  // then the peak brought to -0.3 dBFS.
  float peak = 0.0f;
  for (float v : frames) peak = std::max(peak, std::fabs(v));
  if (peak > 0.0f)
  {
    const double drive = 2.0;
    for (float& v : frames) v = (float)std::tanh(drive * v / peak);
    peak = 0.0f;
    for (float v : frames) peak = std::max(peak, std::fabs(v));
    const float scale = (float)(std::pow(10.0, -0.3 / 20.0) / peak);
    for (float& v : frames) v *= scale;
  }
  return frames;
}
