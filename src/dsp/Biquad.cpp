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

void Biquad::calcBiquad()
{
  const double kPi = 3.141592653589793;
  const double kSqrt2 = 1.4142135623730951;
  double norm;
  const double V = std::pow(10.0, std::fabs(peakGain) / 20.0);
  const double K = std::tan(kPi * Fc);
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

    case kPeak:
      if (peakGain >= 0.0)
      {
        norm = 1.0 / (1.0 + K / Q + K * K);
        a0 = (1.0 + V * K / Q + K * K) * norm;
        a1 = 2.0 * (K * K - 1.0) * norm;
        a2 = (1.0 - V * K / Q + K * K) * norm;
        b1 = a1;
        b2 = (1.0 - K / Q + K * K) * norm;
      }
      else
      {
        norm = 1.0 / (1.0 + V * K / Q + K * K);
        a0 = (1.0 + K / Q + K * K) * norm;
        a1 = 2.0 * (K * K - 1.0) * norm;
        a2 = (1.0 - K / Q + K * K) * norm;
        b1 = a1;
        b2 = (1.0 - V * K / Q + K * K) * norm;
      }
      break;

    case kLowShelf:
      if (peakGain >= 0.0)
      {
        norm = 1.0 / (1.0 + kSqrt2 * K + K * K);
        a0 = (1.0 + std::sqrt(2.0 * V) * K + V * K * K) * norm;
        a1 = 2.0 * (V * K * K - 1.0) * norm;
        a2 = (1.0 - std::sqrt(2.0 * V) * K + V * K * K) * norm;
        b1 = 2.0 * (K * K - 1.0) * norm;
        b2 = (1.0 - kSqrt2 * K + K * K) * norm;
      }
      else
      {
        norm = 1.0 / (1.0 + std::sqrt(2.0 * V) * K + V * K * K);
        a0 = (1.0 + kSqrt2 * K + K * K) * norm;
        a1 = 2.0 * (K * K - 1.0) * norm;
        a2 = (1.0 - kSqrt2 * K + K * K) * norm;
        b1 = 2.0 * (V * K * K - 1.0) * norm;
        b2 = (1.0 - std::sqrt(2.0 * V) * K + V * K * K) * norm;
      }
      break;

    case kHighShelf:
      if (peakGain >= 0.0)
      {
        norm = 1.0 / (1.0 + kSqrt2 * K + K * K);
        a0 = (V + std::sqrt(2.0 * V) * K + K * K) * norm;
        a1 = 2.0 * (K * K - V) * norm;
        a2 = (V - std::sqrt(2.0 * V) * K + K * K) * norm;
        b1 = 2.0 * (K * K - 1.0) * norm;
        b2 = (1.0 - kSqrt2 * K + K * K) * norm;
      }
      else
      {
        norm = 1.0 / (V + std::sqrt(2.0 * V) * K + K * K);
        a0 = (1.0 + kSqrt2 * K + K * K) * norm;
        a1 = 2.0 * (K * K - 1.0) * norm;
        a2 = (1.0 - kSqrt2 * K + K * K) * norm;
        b1 = 2.0 * (K * K - V) * norm;
        b2 = (V - std::sqrt(2.0 * V) * K + K * K) * norm;
      }
      break;

    default:
      // Unknown type: keep whatever response the filter had.
      break;
  }
}
