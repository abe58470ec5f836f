#include "dsp/VUClass.h"

#include <cmath>

double VUClass::Coefficient(double sampleRate)
{
  return std::exp(kLogResidue / (sampleRate * kIntegrationTime));
}

double VUClass::Process(double input, double sampleRate)
{
  return ProcessWithCoef(input, Coefficient(sampleRate));
}
