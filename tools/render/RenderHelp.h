#pragma once

// tavlo-render's documentation, written once: --help prints it as text,
// --man-page as a manual page and --bash-completion turns its options and
// parameters into a completion script, so the three cannot drift apart.

#include <string>
#include <vector>

#include "ParamValues.h"

struct HelpFacts
{
  std::string version;            // "3.3.0"
  std::vector<ParamDesc> params;  // the plug-in's parameters
  std::vector<PresetDesc> presets;  // its factory presets
  std::vector<std::string> inputExtensions;  // what libsndfile reads; empty: the usual three
};

std::string HelpText(const HelpFacts& facts);
std::string ManPage(const HelpFacts& facts);
std::string BashCompletion(const HelpFacts& facts);
