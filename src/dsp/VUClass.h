#pragma once

#include <cmath>

// Meter ballistics: a one-pole follower covering 99 % of a step in 0.3 s,
// whose target is pushed 1.25 % past the input so the needle overshoots a
// little on the way up and down.
class VUClass
{
public:
  static constexpr double kIntegrationTime = 0.3;
  static constexpr double kLogResidue = -4.60517018599; // ln(0.01)
  static constexpr double kRise = 1.0125;
  static constexpr double kFall = 0.9875;

  explicit VUClass(double state = 1.0) : mState(state) {}

  double Process(double input, double sampleRate);
  // The same step with the coefficient already known (it depends only on the
  // sample rate, so a caller running per sample can keep it).
  inline double ProcessWithCoef(double input, double coef)
  {
    double target = std::fabs(input);
    if (target > mState)
      target *= kRise;
    else
      target *= kFall;
    mState = target + coef * (mState - target);
    return mState;
  }

  static double Coefficient(double sampleRate);

  double GetState() const { return mState; }
  void SetState(double s) { mState = s; }

private:
  double mState;
};
