#pragma once

// The command line of tavlo-render, parsed and checked before anything is
// loaded or written.

#include <string>
#include <vector>

struct ParamSetting
{
  std::string name;
  double value = 0.0;
};

struct AutomationPoint
{
  double time = 0.0;  // seconds
  double value = 0.0; // plain units
};

struct ParamAutomation
{
  std::string name;
  std::vector<AutomationPoint> points;  // times strictly increasing

  // Linear between points, held before the first and after the last.
  double ValueAt(double seconds) const;
};

enum class SampleBits { kDefault, k16, k24, k32f };

struct RenderOptions
{
  std::string input;   // empty: the embedded drum-and-bass loop
  std::string output;
  std::string plugin;  // empty: the bundle beside the program
  std::string sidechain;
  std::string saveState, loadState;
  std::string plot, snapshot;
  std::vector<ParamSetting> sets;
  std::vector<ParamAutomation> automations;
  double rate = 0.0;   // 0: the input's rate, or 48000 for the embedded loop
  int block = 512;
  int precision = 32;
  SampleBits bits = SampleBits::kDefault;
  bool quiet = false;
  bool help = false;
};

// Fills opts from argv; false with a one-line message on a malformed line.
bool ParseRenderOptions(int argc, const char* const* argv, RenderOptions& opts, std::string& error);

// Parses "T0:V0,T1:V1,..." into points; false with a message when malformed.
bool ParseAutomationPoints(const std::string& text, std::vector<AutomationPoint>& points,
                           std::string& error);

const char* RenderUsage();
