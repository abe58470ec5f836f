#pragma once

// Parameter values as people type and read them: "Attack=5ms",
// "HPF=0.08kHz", "Oversample=on". A bare number is the plug-in's plain
// value (seconds for Attack and Release), as it has always been.

#include <string>
#include <vector>

#include "fx/IParamUnit.h"

struct ParamDesc
{
  std::string name;
  double min = 0.0, max = 1.0, def = 0.0;  // plain values
  int stepCount = 0;                        // 1: a switch
  const IParamUnit* unit = nullptr;         // null: bare numbers only
};

// Reads text ("5ms", " 0.005 s", "on", "1") into a plain value inside the
// parameter's range; false with a message naming the parameter, its unit
// and its range.
bool ParseParamValue(const ParamDesc& desc, const std::string& text, double& plain, std::string& error);

// "0.1 to 10.1 ms (or 0.0001 to 0.0101 s)", "Off or On (or 0 or 1)", a
// list's "A, B or C (or 0 to 2)".
std::string DescribeRange(const ParamDesc& desc);
// "5.0 ms", "On", "120": the value in the unit people read.
std::string FormatParamValue(const ParamDesc& desc, double plain);
// The unit a value is written in ("ms"; "" for a bare number, a switch or a list).
std::string DisplayUnit(const ParamDesc& desc);
// The value as shown (5 for 0.005 s shown in ms; 0 or 1 for a switch).
double DisplayValue(const ParamDesc& desc, double plain);
// The suffixes a value of this parameter may carry, or a switch's or list's words,
// lower case: {"ms", "s"}, {"off", "on"}.
std::vector<std::string> ValueWords(const ParamDesc& desc);

// The table of --params, --help and the manual page: per parameter one line
// with name, range and default, one with what it does.
std::string ParamsText(const std::vector<ParamDesc>& descs, const char* indent = "  ");

// Without the blanks at either end.
std::string TrimBlanks(const std::string& s);
// Fills text to lines of at most width columns, each starting with indent
// spaces.
std::string FillText(const std::string& text, size_t indent, size_t width = 79);

// A factory preset as people choose it: its name and what it is for.
struct PresetDesc
{
  std::string name;
  std::string description;
};
// "kick-snare-punch" for "Kick & Snare Punch": a name without blanks to type.
std::string PresetSlug(const std::string& name);
// By name or slug, ignoring case, blanks and punctuation; null when unknown.
const PresetDesc* FindPreset(const std::vector<PresetDesc>& presets, const std::string& name);
// The list of --presets, --help and the manual page: per preset its name
// and slug, then what it is for.
std::string PresetsText(const std::vector<PresetDesc>& presets, const char* indent = "  ");

// Case-insensitive lookup by name; null when unknown.
const ParamDesc* FindParam(const std::vector<ParamDesc>& descs, const std::string& name);
// "Input, Output, Attack, ..."
std::string ParamNames(const std::vector<ParamDesc>& descs);
