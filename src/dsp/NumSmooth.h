#pragma once

// One-pole smoother, entirely in single precision: the float rounding of the
// gain on its way to the signal is part of the sound.
class NumSmooth
{
public:
  NumSmooth() = default;
  // b is formed as 1 - a in float, not as the float nearest to 1 - a.
  explicit NumSmooth(float a, float z = 0.0f) : mA(a), mB(1.0f - a), mZ(z) {}

  inline float Process(float x)
  {
    mZ = x * mB + mZ * mA;
    return mZ;
  }

  float GetA() const { return mA; }
  float GetB() const { return mB; }
  float GetState() const { return mZ; }
  void SetState(float z) { mZ = z; }

private:
  float mA = 0.99f;
  float mB = 1.0f - 0.99f;
  float mZ = 0.0f;
};
