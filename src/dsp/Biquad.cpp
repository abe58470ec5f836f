#include "dsp/Biquad.h"

#include <cmath>

Biquad::Biquad(int type_, double Fc_, double Q_, double peakGainDB)
{
  setBiquad(type_, Fc_, Q_, peakGainDB);
  z1 = z2 = 0.0;
}

void Biquad::setType(int type_)
{
  type = type_;
  calcBiquad();
}

void Biquad::setQ(double Q_)
{
  Q = Q_;
  calcBiquad();
}

void Biquad::setFc(double Fc_)
{
  Fc = Fc_;
  calcBiquad();
}

void Biquad::setPeakGain(double peakGainDB)
{
  peakGain = peakGainDB;
  calcBiquad();
}

void Biquad::setBiquad(int type_, double Fc_, double Q_, double peakGainDB)
{
  type = type_;
  Q = Q_;
  Fc = Fc_;
  peakGain = peakGainDB;
  calcBiquad();
}

namespace
{
constexpr double kSqrt2 = 1.4142135623730951;

struct Coefficients
{
  double a0, a1, a2, b1, b2;
};

// The boosting and cutting forms of the three gain-dependent types. Each
// operation and its order is part of the sound: keep them exactly.
Coefficients PeakCoefficients(double K, double Q, double V, bool boost)
{
  double norm;
  Coefficients c;
  if (boost)
  {
    norm = 1.0 / (1.0 + K / Q + K * K);
    c.a0 = (1.0 + V * K / Q + K * K) * norm;
    c.a1 = 2.0 * (K * K - 1.0) * norm;
    c.a2 = (1.0 - V * K / Q + K * K) * norm;
    c.b1 = c.a1;
    c.b2 = (1.0 - K / Q + K * K) * norm;
  }
  else
  {
    norm = 1.0 / (1.0 + V * K / Q + K * K);
    c.a0 = (1.0 + K / Q + K * K) * norm;
    c.a1 = 2.0 * (K * K - 1.0) * norm;
    c.a2 = (1.0 - K / Q + K * K) * norm;
    c.b1 = c.a1;
    c.b2 = (1.0 - V * K / Q + K * K) * norm;
  }
  return c;
}

Coefficients LowShelfCoefficients(double K, double V, bool boost)
{
  double norm;
  Coefficients c;
  if (boost)
  {
    norm = 1.0 / (1.0 + kSqrt2 * K + K * K);
    c.a0 = (1.0 + std::sqrt(2.0 * V) * K + V * K * K) * norm;
    c.a1 = 2.0 * (V * K * K - 1.0) * norm;
    c.a2 = (1.0 - std::sqrt(2.0 * V) * K + V * K * K) * norm;
    c.b1 = 2.0 * (K * K - 1.0) * norm;
    c.b2 = (1.0 - kSqrt2 * K + K * K) * norm;
  }
  else
  {
    norm = 1.0 / (1.0 + std::sqrt(2.0 * V) * K + V * K * K);
    c.a0 = (1.0 + kSqrt2 * K + K * K) * norm;
    c.a1 = 2.0 * (K * K - 1.0) * norm;
    c.a2 = (1.0 - kSqrt2 * K + K * K) * norm;
    c.b1 = 2.0 * (V * K * K - 1.0) * norm;
    c.b2 = (1.0 - std::sqrt(2.0 * V) * K + V * K * K) * norm;
  }
  return c;
}

Coefficients HighShelfCoefficients(double K, double V, bool boost)
{
  double norm;
  Coefficients c;
  if (boost)
  {
    norm = 1.0 / (1.0 + kSqrt2 * K + K * K);
    c.a0 = (V + std::sqrt(2.0 * V) * K + K * K) * norm;
    c.a1 = 2.0 * (K * K - V) * norm;
    c.a2 = (V - std::sqrt(2.0 * V) * K + K * K) * norm;
    c.b1 = 2.0 * (K * K - 1.0) * norm;
    c.b2 = (1.0 - kSqrt2 * K + K * K) * norm;
  }
  else
  {
    norm = 1.0 / (V + std::sqrt(2.0 * V) * K + K * K);
    c.a0 = (1.0 + kSqrt2 * K + K * K) * norm;
    c.a1 = 2.0 * (K * K - 1.0) * norm;
    c.a2 = (1.0 - kSqrt2 * K + K * K) * norm;
    c.b1 = 2.0 * (K * K - V) * norm;
    c.b2 = (V - std::sqrt(2.0 * V) * K + K * K) * norm;
  }
  return c;
}
}  // namespace

void Biquad::calcBiquad()
{
  const double kPi = 3.141592653589793;
  double norm;
  const double V = std::pow(10.0, std::fabs(peakGain) / 20.0);
  const double K = std::tan(kPi * Fc);
  const auto SetCoefficients = [this](const Coefficients& c)
  {
    a0 = c.a0;
    a1 = c.a1;
    a2 = c.a2;
    b1 = c.b1;
    b2 = c.b2;
  };
  switch (type)
  {
    case kLowPass:
      norm = 1.0 / (1.0 + K / Q + K * K);
      a0 = K * K * norm;
      a1 = 2.0 * a0;
      a2 = a0;
      b1 = 2.0 * (K * K - 1.0) * norm;
      b2 = (1.0 - K / Q + K * K) * norm;
      break;

    case kHighPass:
      norm = 1.0 / (1.0 + K / Q + K * K);
      a0 = 1.0 * norm;
      a1 = -2.0 * a0;
      a2 = a0;
      b1 = 2.0 * (K * K - 1.0) * norm;
      b2 = (1.0 - K / Q + K * K) * norm;
      break;

    case kBandPass:
      norm = 1.0 / (1.0 + K / Q + K * K);
      a0 = K / Q * norm;
      a1 = 0.0;
      a2 = -a0;
      b1 = 2.0 * (K * K - 1.0) * norm;
      b2 = (1.0 - K / Q + K * K) * norm;
      break;

    case kNotch:
      norm = 1.0 / (1.0 + K / Q + K * K);
      a0 = (1.0 + K * K) * norm;
      a1 = 2.0 * (K * K - 1.0) * norm;
      a2 = a0;
      b1 = a1;
      b2 = (1.0 - K / Q + K * K) * norm;
      break;

    case kPeak: SetCoefficients(PeakCoefficients(K, Q, V, peakGain >= 0.0)); break;
    case kLowShelf: SetCoefficients(LowShelfCoefficients(K, V, peakGain >= 0.0)); break;
    case kHighShelf: SetCoefficients(HighShelfCoefficients(K, V, peakGain >= 0.0)); break;

    default:
      // Unknown type: keep whatever response the filter had.
      break;
  }
}
