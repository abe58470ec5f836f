#pragma once

// Tavlo's static curve, measured rather than computed: a steady 1 kHz tone
// rises in 1 dB steps from -60 to 0 dBFS through a fresh instance for each
// Input setting, and the settled output level of every step is read.

#include <memory>
#include <string>
#include <vector>

#include "RenderEngine.h"

struct CurveLine
{
  double input = 0.0;          // the Input setting
  std::vector<double> inDb;    // tone peak, dBFS
  std::vector<double> outDb;   // output as the peak of a sine of equal RMS, dBFS
};

struct CurveRequest
{
  PluginModule module;
  std::vector<ParamChange> settings;  // everything but Input
  Steinberg::Vst::ParamID inputId = 0;
  std::vector<double> inputs;         // one line each
  int block = 512;
  int precision = 32;
};

constexpr double kCurveRate = 48000.0;
constexpr double kCurveLowDb = -60.0;

bool MeasureCurves(const CurveRequest& request, std::vector<CurveLine>& lines, std::string& error);

// The input level where the output first lies 1 dB under the input; NAN
// when it never does.
double CurveKneeDb(const CurveLine& line);
// "Input 100: 1 dB of compression from -23 dBFS in; 0 dBFS in comes out at -12.3 dBFS"
std::string DescribeCurve(const CurveLine& line);
std::string CurveJson(const std::string& file, const std::vector<CurveLine>& lines);

bool DrawCurvePlot(const std::vector<CurveLine>& lines, const std::string& subtitle, const std::string& path,
                   std::string& error);
