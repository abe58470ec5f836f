#pragma once

// Second-order IIR section in transposed direct form II. The coefficients and
// the state are double; the sample passed in and out is single precision,
// which is part of how the detector sounds.
class Biquad
{
public:
  enum EType
  {
    kLowPass = 0,
    kHighPass,
    kBandPass,
    kNotch,
    kPeak,
    kLowShelf,
    kHighShelf
  };

  // Passes its input unchanged (rounded to float) until a setter runs: the
  // settings below are stored but not turned into coefficients.
  Biquad() = default;
  Biquad(int type, double Fc, double Q, double peakGainDB);

  void setType(int type);
  void setQ(double Q);
  void setFc(double Fc);
  void setPeakGain(double peakGainDB);
  // Keeps z1/z2, so a filter swept every sample does not restart.
  void setBiquad(int type, double Fc, double Q, double peakGainDB);
  void calcBiquad();

  inline float process(float in)
  {
    const double x = in;
    const double out = x * a0 + z1;
    z1 = x * a1 + z2 - b1 * out;
    z2 = x * a2 - b2 * out;
    return static_cast<float>(out);
  }

  // process() for an input whose products with a0, a1 and a2 are already
  // known (they do not depend on the state): the same operations, so the
  // same output, before its rounding to float.
  inline double processProducts(double xa0, double xa1, double xa2)
  {
    const double out = xa0 + z1;
    z1 = xa1 + z2 - b1 * out;
    z2 = xa2 - b2 * out;
    return out;
  }
  // Zeroes z1/z2 only; lets an owner recover from a non-finite input.
  void clearState() { z1 = z2 = 0.0; }

  int getType() const { return type; }
  double getA0() const { return a0; }
  double getA1() const { return a1; }
  double getA2() const { return a2; }
  double getB1() const { return b1; }
  double getB2() const { return b2; }
  double getZ1() const { return z1; }
  double getZ2() const { return z2; }

private:
  int type = kLowPass;
  double a0 = 1.0, a1 = 0.0, a2 = 0.0, b1 = 0.0, b2 = 0.0;
  double Fc = 0.5, Q = 0.707, peakGain = 0.0;
  double z1 = 0.0, z2 = 0.0;
};
