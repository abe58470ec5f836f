#pragma once

// What this program knows of the Tavlo it was built with, without a bundle:
// the parameters and factory presets that --help, --params, the manual page
// and the completion list, the version, and the class ID that tells whether
// a loaded bundle is that plug-in.

#include <string>
#include <vector>

#include "ParamValues.h"
#include "PluginSession.h"

std::vector<ParamDesc> LinkedTavloParams();
// With what each is for.
std::vector<PresetDesc> LinkedTavloPresets();
// "3.3.0"
std::string TavloVersionText();
// The URI of the same plug-in as LV2 hosts know it.
extern const char kTavloLv2Uri[];
// Whether a bundle's class is the plug-in linked into this program.
bool IsLinkedTavlo(const Steinberg::TUID classId);
// That class's ID (the one a CLAP Tavlo stands for too).
void LinkedTavloClassId(Steinberg::TUID classId);
// The parameters of a loaded bundle; Tavlo's carry their units.
std::vector<ParamDesc> SessionParams(const PluginSession& session);
