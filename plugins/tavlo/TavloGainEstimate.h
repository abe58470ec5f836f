#pragma once

// The gain computer's target and the ballistics' step toward it.

#include <algorithm>
#include <cmath>

namespace tavlogain
{

const double kLevelScale = 8.65617025;  // dB per neper, as the curve was tuned

// The gain for a detector envelope above the threshold, the ratio following
// the sum of the two main inputs. The expression is the sound: keep it as it
// is, operation for operation.
inline double ExactGain(double env, double left, double right, double input)
{
  const double ratio = std::pow(10.0, (left + right) / 20.0);
  return std::exp(((kLevelScale * std::log(env) + input) * (1.0 / ratio) - input) / kLevelScale) / env;
}

// The attack and release step on the ballistic gain toward g. When the gain
// already equals its target (no reduction, mostly) the release step would
// give the target back: the release factor is at most 1.
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
      gainState = 1.0; // only reachable from non-finite input; no reduction
  }
  return gainState;
}

}  // namespace tavlogain
