#pragma once

// The settings tavlo-jack starts with, read against the instance it hosts:
// a state file, a preset (factory, .vstpreset or LV2 .ttl) and --set values
// in their units, and the settings file's MIDI map. Every parameter the
// instance has is reachable by name, whatever its count.

#include <string>
#include <vector>

#include "ParamValues.h"

class IFxBase;
class TavloJackEngine;

// The instance's parameters and factory presets as the command line names them.
std::vector<ParamDesc> InstanceParams(IFxBase& plug);
std::vector<PresetDesc> InstancePresets(IFxBase& plug);

// Whole files, as bytes; false with a message naming the file.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
// Written under a temporary name and renamed into place: a state file is
// whole or not there.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// The component state a .vstpreset holds, for this plug-in only.
bool ReadVstPresetState(const std::vector<uint8_t>& file, std::vector<uint8_t>& state, std::string& error);

// --load-state, then --preset, then each NAME=VALUE of sets, in that order;
// false with the message. usage, when given, says whether the command line
// is wrong (an unknown name or value) rather than a file.
struct StartSettings
{
  std::string loadState;
  std::string preset;
  std::vector<std::pair<std::string, std::string>> sets;
};
bool ApplyStartSettings(TavloJackEngine& engine, const StartSettings& settings, std::string& error,
                        bool* usage = nullptr);

// The settings file: lines "cc NUMBER = PARAMETER" (or "cc NUMBER = none")
// change the default map; '#' starts a comment. False with the file's name
// and line on a line that is wrong.
bool ReadSettingsFile(const std::string& path, IFxBase& plug, std::vector<int>& ccMap, std::string& error);
// "CC 20 Input, CC 21 Output, ..." for --help and the manual page.
std::string CcMapText(const std::vector<int>& ccMap, const std::vector<ParamDesc>& params);
