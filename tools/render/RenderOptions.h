#pragma once

// The command line of tavlo-render, parsed and checked before anything is
// loaded or written. Parameter values stay text here: their units are read
// once the parameters are known (ParamValues.h).

#include <functional>
#include <string>
#include <vector>

#include "CommandLine.h"

struct ParamSetting
{
  std::string name;
  std::string text;  // "5ms", "on", "-3"
};

struct AutomationPoint
{
  double time = 0.0;  // seconds
  double value = 0.0; // plain units
};

struct ParamAutomation
{
  std::string name;
  std::string text;                     // "0:0,4:100%" as given
  std::vector<AutomationPoint> points;  // times strictly increasing, once resolved

  // Linear between points, held before the first and after the last.
  double ValueAt(double seconds) const;
};

enum class SampleBits { kDefault, k16, k24, k32f };

// What to do besides rendering: print something and stop.
enum class InfoRequest { kNone, kHelp, kVersion, kParams, kPresets, kManPage, kBashCompletion };

struct RenderOptions
{
  std::vector<std::string> inputs;  // "-": standard input; none: the embedded loop
  std::string output;               // "-": standard output; empty with outputDir
  std::string outputDir;            // -o DIR: one output per input, names kept
  std::string format;               // "wav", "flac", "aiff"; empty: from the extension
  std::string plugin;               // empty: the bundle beside the program
  std::string sidechain;
  std::string saveState, loadState;
  std::string preset;               // a factory preset or a preset file to start from; empty: none
  std::string savePreset;           // a .vstpreset to write
  std::string plot, snapshot, curve;
  std::vector<ParamSetting> sets;
  std::vector<ParamAutomation> automations;
  double rate = 0.0;   // 0: the input's rate, or 48000 for the embedded loop
  int block = 512;
  int precision = 32;
  int jobs = 1;
  int slot = -1;  // the A/B slot of the loaded state to render: 0 A, 1 B, -1 the one it shows
  SampleBits bits = SampleBits::kDefault;
  bool quiet = false;
  bool force = false;
  bool noClobber = false;  // -n: outputs that exist are skipped, not refused
  bool noDither = false;
  bool json = false;
  InfoRequest info = InfoRequest::kNone;
  // No INPUT or OUTPUT, only --save-state or --save-preset: the settings
  // are written and nothing is rendered.
  bool settingsOnly = false;

  bool Batch() const { return !outputDir.empty(); }
};

// What --preset names: a factory preset, or a file a host saved.
enum class PresetKind { kNone, kFactory, kVst3File, kLv2File };
PresetKind PresetKindOf(const std::string& preset);

// Sample rates a file or --rate may have.
constexpr long kMinRate = 8000;
constexpr long kMaxRate = 768000;

// The one name of names closest to a mistyped one, ignoring case: a slip
// of a letter or two (fewer for short names), or the start of the name;
// empty when none is close or two are equally close.
std::string NearestName(const std::string& given, const std::vector<std::string>& names);

// Fills opts from argv; false with a one-line message on a malformed line.
bool ParseRenderOptions(int argc, const char* const* argv, RenderOptions& opts, std::string& error);

// Parses "T0:V0,T1:V1,..." into points, each value read by readValue (a
// plain number when none is given); false with a message when malformed.
using ValueReader = std::function<bool(const std::string& text, double& value, std::string& error)>;
bool ParseAutomationPoints(const std::string& text, std::vector<AutomationPoint>& points,
                           std::string& error, const ValueReader& readValue = nullptr);

// The option table's rows for this program (CommandLine.h).
using OptionSetter = OptionSetterOf<RenderOptions>;
using OptionValue = OptionValueOf<RenderOptions>;
using OptionInfo = OptionInfoOf<RenderOptions>;
const std::vector<OptionInfo>& RenderOptionTable();
