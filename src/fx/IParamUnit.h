#pragma once

#include <cstddef>

// How people read and write a parameter's value, beside the label a host
// sees: the unit, the factor from the plain value to that unit, the
// decimals shown, the words for a switch's two states, and one line on what
// the parameter does. Readouts, command-line tools and format descriptions
// all speak from the same record, so they cannot disagree.
struct IParamUnit
{
  const char* unit = "";          // "dB", "ms", "%", "Hz"; "" for a bare number or a switch
  double scale = 1.0;             // shown value = plain value * scale
  int decimals = 0;
  const char* offText = nullptr;  // a switch: the words for 0 and for 1
  const char* onText = nullptr;
  const char* description = "";
  // Hosts that draw their own sliders spread the range by ratio rather than
  // by difference (times and frequencies); the value itself is unchanged.
  bool logarithmic = false;

  bool IsSwitch() const { return offText && onText; }
};

// Writes a plain value in the record's unit ("-3.0 dB", "300 ms", "120",
// "On") into out, never more than size bytes including the terminator.
// With typographicMinus a negative number starts with U+2212 (UTF-8) rather
// than '-'. A switch shows onText for values of 0.5 and above. Returns the
// length written.
int FormatParamUnit(const IParamUnit& unit, double plain, char* out, std::size_t size,
                    bool typographicMinus = false);
