#pragma once

// Tavlo's sound, one frame at a time: every constant and every stage of the
// chain, in the order the signal meets them. This is the sound's only
// statement. The reference chain runs it as written; the kernels under
// kernels/ restate stages of it for speed and are tested against it, bit for
// bit. A change to the sound starts here.
//
// The chain, per frame (L, R the main input; S the detector's source: one
// channel, or MidSource of two):
//   d   = DetectorStep(hpf, S)                 high-passed, in single precision
//   g   = TargetGain(d, ...)                   1, or the curve's gain above the threshold
//         (Linked: both channels, each through its own high-pass, the louder
//         value of the two: TargetGainLinked)
//   gs  = BallisticStep(gs, g, attack, release)
//   y   = SmoothGain(smoother, gs)             the gain the signal meets, a float
//   gs  = 1 when Input is 0                    (held: Input 0 never reduces)
//   meter: MeterStep(meter, gs)
//   pX  = PreampCurve(X), dX = X               (both through the 4x oversamplers when on)
//   out = Mix(y, pX, dX, wet, dry, outputGain), faded toward d by Listen
//         (Linked: each channel's own d), then toward X by Bypass

#include <algorithm>
#include <cmath>

#include "dsp/Biquad.h"
#include "dsp/CurveTables.h"
#include "dsp/NumSmooth.h"
#include "dsp/VUClass.h"
#include "fx/IFxFade.h"

namespace tavloeq
{

// ---- constants of the sound ----

// The envelope follower's corner, 2 pi x 10 Hz.
constexpr double kEnvelopeCorner = 62.83185307;
// dB per neper, as the curve was tuned: Input over it is the threshold's
// natural log, below 0.
constexpr double kLevelScale = 8.65617025;
// The preamp reads its table at |x| / (kPreampKnee + |x|).
constexpr double kPreampKnee = 3.0;
// The preamp strand's gain in the wet signal, +70 dB.
constexpr double kPreampGain = 3162.2776601683795;
// The detector's high-pass: Q, and the gain argument a high-pass ignores.
constexpr double kHpfQ = 1.0;
constexpr double kHpfPeakGain = 1.0;
// The gain smoother's pole; it starts at unity, as the ballistic gain does,
// so nothing fades in.
constexpr float kSmootherPole = 0.99f;
constexpr float kSmootherStart = 1.0f;
// The meter starts at full deflection and falls to rest.
constexpr double kMeterStart = 1.0;
// The oversamplers' buffers and the clearing at each switch of Oversample.
constexpr int kOversampleResetSize = 1024;

// ---- coefficients: functions of the settings alone ----

inline double EnvelopeCoef(double sampleRate) { return std::exp(-kEnvelopeCorner / sampleRate); }
inline double Threshold(double input) { return std::exp(-input / kLevelScale); }
inline double Drive(double input) { return std::pow(10.0, (input / 10.0) / 20.0); }
// Attack or release per frame; a time of 0 reaches the target at once.
inline double BallisticCoef(double seconds, double sampleRate)
{
  return seconds != 0.0 ? std::exp(-1.0 / (seconds * sampleRate)) : 0.0;
}
inline double MeterCoef(double sampleRate) { return VUClass::Coefficient(sampleRate); }
// Output in dB as the linear gain the chain multiplies by.
inline double OutputGain(double db) { return std::pow(10.0, db / 20.0); }
// Mix in percent as the wet share; the dry share is 1 minus it.
inline double WetShare(double mixPercent) { return mixPercent / 100.0; }
// Keeps the filter's state: a change of HPF does not restart it.
inline void SetDetectorFilter(Biquad& filter, double hpfFreq, double sampleRate)
{
  filter.setBiquad(Biquad::kHighPass, hpfFreq / sampleRate, kHpfQ, kHpfPeakGain);
}

// ---- detector ----

// The mid of two channels, as the Mid detector hears them.
inline double MidSource(double left, double right) { return (left + right) / 2.0; }

// The detector's source through the high-pass, in single precision. A
// non-finite output clears the filter, so it cannot stick.
inline float DetectorStep(Biquad& filter, double src)
{
  const float d = filter.process(static_cast<float>(src));
  if (!std::isfinite(d)) filter.clearState();
  return d;
}

// The detector curve for a driven value x > 0. Values past the table
// (including ones too large for an int) take the last entry; NaN reads as
// silence.
inline double DetectorCurve(double x)
{
  const CurveTable& tbl = detector_table;
  const double t = x * static_cast<double>(tbl.scale);
  if (t != t) return 0.0;
  if (t >= static_cast<double>(tbl.count - 1)) return tbl.values[tbl.count - 1];
  const int i = static_cast<int>(t);
  const double f = t - i;
  return tbl.values[i] * (1.0 - f) + tbl.values[i + 1] * f;
}

// The envelope of a curve value E: E itself where it is above the root of
// its share, else the root of the follower's blend.
inline double Envelope(double E, double c, double oneMinusC)
{
  const double s = oneMinusC * E;
  return E > std::sqrt(s) ? E : std::sqrt(oneMinusC * E + c * s);
}

// ---- gain computer ----

// The gain for an envelope above the threshold, the ratio following the sum
// of the two main inputs. Operation for operation, this is the sound.
inline double ExactGain(double env, double left, double right, double input)
{
  const double ratio = std::pow(10.0, (left + right) / 20.0);
  return std::exp(((kLevelScale * std::log(env) + input) * (1.0 / ratio) - input) / kLevelScale) / env;
}

// The envelope the detector's value d drives: 0 where the driven value is
// not above 0 (the curve is 0 there; NaN included).
inline double ChannelEnvelope(float d, double drive, double c, double oneMinusC)
{
  const double x = drive * d;
  return x > 0.0 ? Envelope(DetectorCurve(x), c, oneMinusC) : 0.0;
}

// The gain an envelope asks for: 1 unless it is over the threshold (which
// is above 0 for every Input).
inline double GainFor(double env, double threshold, double left, double right, double input)
{
  return env > threshold ? ExactGain(env, left, right, input) : 1.0;
}

inline double TargetGain(float d, double drive, double c, double oneMinusC, double threshold, double left, double right,
                         double input)
{
  return GainFor(ChannelEnvelope(d, drive, c, oneMinusC), threshold, left, right, input);
}

// Linked: the louder of the two channels' detector values, frame by frame,
// so a peak on either channel asks for the reduction it would ask for alone
// (only values above 0 drive the curve). With a NaN on the left, the left.
inline float LinkedDetector(float dLeft, float dRight) { return std::max(dLeft, dRight); }

inline double TargetGainLinked(float dLeft, float dRight, double drive, double c, double oneMinusC, double threshold,
                               double left, double right, double input)
{
  return TargetGain(LinkedDetector(dLeft, dRight), drive, c, oneMinusC, threshold, left, right, input);
}

// The ballistic gain's step toward g. When the gain already equals its
// target the release step would give the target back: the release factor is
// at most 1.
inline double BallisticStep(double gainState, double g, double attack, double release)
{
  if (!(gainState == g) || std::isinf(g))
  {
    const double falling = std::max(g, gainState * attack);
    const double rising = std::min(gainState / release, g);
    gainState = gainState > g ? falling : rising;
    if (std::isnan(gainState) || std::isnan(g))
      gainState = g;
    else if (std::isinf(gainState))
      gainState = 1.0;  // only reachable from non-finite input; no reduction
  }
  return gainState;
}

// The gain the signal meets: the ballistic gain rounded to float through the
// smoother. A smoother gone non-finite restarts from the gain, not from
// silence.
inline float SmoothGain(NumSmooth& smoother, double gainState)
{
  const float gainIn = static_cast<float>(gainState);
  if (!std::isfinite(smoother.GetState())) smoother.SetState(gainIn);
  return smoother.Process(gainIn);
}

// The meter follows the reduction, 1 - gain; gone non-finite, it restarts
// from rest.
inline void MeterStep(VUClass& meter, double gainState, double meterCoef)
{
  if (!std::isfinite(meter.ProcessWithCoef(1.0 - gainState, meterCoef))) meter.SetState(0.0);
}

// ---- strands ----

// The preamp curve's table position for x.
inline double PreampPosition(double x)
{
  const double ax = std::fabs(x);
  return static_cast<double>(Tavlo_table.scale) * (ax / (kPreampKnee + ax) - static_cast<double>(Tavlo_table.origin));
}

// The preamp's bend for x whose table position is t: the table read there,
// with the sign opposite to x's. Positions outside the table (and the NaN of
// an infinite x) take its ends.
inline double PreampAt(double x, double t)
{
  const CurveTable& tbl = Tavlo_table;
  double value;
  if (!(t >= 0.0))
    value = tbl.values[0];
  else if (t >= static_cast<double>(tbl.count - 1))
    value = tbl.values[tbl.count - 1];
  else
  {
    const int i = static_cast<int>(t);
    const double f = t - i;
    value = tbl.values[i] * (1.0 - f) + tbl.values[i + 1] * f;
  }
  value = std::fabs(value);
  return std::signbit(x) ? value : -value;
}

inline double PreampCurve(double x) { return PreampAt(x, PreampPosition(x)); }

// A non-finite sample would stay in the oversamplers' filter states for
// ever: they are cleared after the frame whose input or either strand is not
// finite.
inline bool StrandsFinite(double in, double preamp, double dry)
{
  return std::isfinite(in) && std::isfinite(preamp) && std::isfinite(dry);
}

// ---- output ----

// The compressed signal (preamp strand plus dry, times the smoothed gain)
// blended with the dry one, then the output gain.
inline double Mix(double y, double preamp, double dry, double wet, double dryShare, double outputGain)
{
  const double w = y * (kPreampGain * preamp + dry);
  return (w * wet + dry * dryShare) * outputGain;
}

// A switch for one frame (Listen, Bypass): the weight of what it switches
// to (0 none, 1 all of it), the fade advancing only while between the two.
inline double SwitchWeight(IFxFade& fade, bool on)
{
  fade.SetTarget(on);
  if (fade.AtB()) return 1.0;
  if (fade.AtA()) return 0.0;
  return fade.Next();
}

}  // namespace tavloeq
