#pragma once

// The Turtle files of an LV2 bundle, written from a plug-in instance: its
// port layout, its parameters (name, range, default, unit, switch words,
// description), its meters and its presets. Run at build time, so the
// description can never drift from the code.

#include <cstdint>
#include <string>

class IFxLV2;
struct IFxLV2ClassDef;

struct IFxLV2BundleNames
{
  std::string binary = "Tavlo.so";        // the plug-in's shared object
  std::string uiBinary = "TavloUI.so";    // the UI's
  std::string pluginTtl = "Tavlo.ttl";    // plug-in description
  std::string uiTtl = "TavloUI.ttl";      // UI description
  std::string presetsTtl = "presets.ttl";
};

class IFxLV2Turtle
{
public:
  // plug: an instance with its parameters declared (its values are
  // changed while the presets are read).
  IFxLV2Turtle(IFxLV2& plug, const IFxLV2ClassDef& def, IFxLV2BundleNames names);

  std::string Manifest();
  std::string Plugin();
  std::string UI();
  std::string Presets();

  // Writes the four files into folder; false with the reason in *error.
  bool WriteAll(const std::string& folder, std::string* error);

  // A number as Turtle reads it back to the same single-precision value.
  static std::string Number(double v);
  // A Turtle string literal.
  static std::string Quote(const char* text);

private:
  // Label and URI of each preset slot.
  std::string PresetLabel(int idx) const;
  std::string PresetUri(int idx) const;
  // A port's type, index, symbol and name; the rest of a parameter's port.
  std::string PortHead(uint32_t idx);
  std::string ParamPort(int idx);

  IFxLV2& mPlug;
  const IFxLV2ClassDef& mDef;
  IFxLV2BundleNames mNames;
};
