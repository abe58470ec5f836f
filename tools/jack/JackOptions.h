#pragma once

// The command line of tavlo-jack, in the same kind of table as
// tavlo-render's (CommandLine.h), and the texts made from it: --help, the
// manual page and the bash completion.

#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "ParamValues.h"

enum class JackInfo { kNone, kHelp, kVersion, kManPage, kBashCompletion };

struct TavloJackOptions
{
  std::string name = "Tavlo";  // the JACK client's name
  std::string preset, loadState, settings;
  std::vector<std::pair<std::string, std::string>> sets;  // NAME, VALUE as typed
  std::vector<std::string> connects;                      // "SRC=DST"
  bool headless = false;
  bool listPorts = false;
  JackInfo info = JackInfo::kNone;
};

using JackOptionInfo = OptionInfoOf<TavloJackOptions>;
const std::vector<JackOptionInfo>& JackOptionTable();

// Fills opts from argv; false with a one-line message on a malformed line.
bool ParseJackOptions(int argc, const char* const* argv, TavloJackOptions& opts, std::string& error);

struct JackHelpFacts
{
  std::string version;
  std::vector<ParamDesc> params;
  std::vector<PresetDesc> presets;
  std::string ccMap;  // the default MIDI map, as CcMapText writes it
};
std::string JackHelpText(const JackHelpFacts& facts);
std::string JackManPage(const JackHelpFacts& facts);
std::string JackBashCompletion(const JackHelpFacts& facts);
