#pragma once

// LV2 presets as hosts save them: a Turtle file describing a pset:Preset
// of a plug-in (lv2:appliesTo) with a value per control port (lv2:port,
// lv2:symbol, pset:value). A preset bundle's manifest.ttl, which points at
// the preset's own file with rdfs:seeAlso, is followed to it.

#include <string>
#include <utility>
#include <vector>

struct Lv2Preset
{
  std::string uri;     // the preset's own (the file's, for "<>")
  std::string label;   // rdfs:label; empty when it has none
  std::string plugin;  // lv2:appliesTo
  std::vector<std::pair<std::string, double>> ports;  // symbol, value
};

// Every preset the file at path describes; false with a message naming the
// file when it cannot be read or is not Turtle.
bool ReadLv2Presets(const std::string& path, std::vector<Lv2Preset>& presets, std::string& error);
