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
  // A list: listCount values 0, 1, ... named in order (a switch names its
  // two with offText and onText instead).
  const char* const* listTexts = nullptr;
  int listCount = 0;

  bool IsSwitch() const { return offText && onText; }
  bool IsList() const { return !IsSwitch() && listTexts && listCount > 0; }
  // Values that are words, not quantities: no unit, no scale.
  bool IsNamed() const { return IsSwitch() || IsList(); }
  // How many values have words (2 for a switch, 0 for a quantity) and the
  // word of each; null outside 0 .. NamedCount() - 1.
  int NamedCount() const { return IsSwitch() ? 2 : (IsList() ? listCount : 0); }
  const char* NameAt(int value) const
  {
    if (value < 0 || value >= NamedCount()) return nullptr;
    return IsSwitch() ? (value ? onText : offText) : listTexts[value];
  }
};

// Writes a plain value in the record's unit ("-3.0 dB", "300 ms", "120",
// "On") into out, never more than size bytes including the terminator.
// With typographicMinus a negative number starts with U+2212 (UTF-8) rather
// than '-'. A switch shows onText for values of 0.5 and above; a list the
// name of the nearest value, the end one beyond either end. Returns the
// length written.
int FormatParamUnit(const IParamUnit& unit, double plain, char* out, std::size_t size,
                    bool typographicMinus = false);

// The other unit people write the same quantity in ("s" beside "ms", "kHz"
// beside "Hz"), with *factor such that a value in it = the value in the
// record's unit x factor; null when there is none.
const char* ParamAltUnit(const IParamUnit& unit, double* factor = nullptr);

// What reading a typed value found.
enum EParamUnitRead
{
  kParamReadOk = 0,
  kParamReadEmpty,        // nothing but blanks
  kParamReadNotANumber,   // neither a number nor one of a switch's words
  kParamReadUnknownUnit,  // a number followed by what is no unit of the record
};

struct IParamUnitReading
{
  double plain = 0.0;            // not limited to any range
  bool bare = false;             // a number without a unit
  const char* unit = nullptr;    // where the unit begins in the text read; null without one
};

// Reads a value as people write it and FormatParamUnit shows it: a number in
// the record's unit or in its other one, with or without a space ("5 ms",
// "5ms", "0.005 s", "-3 dB", "0.08 kHz", "70%"), units in any case, a minus
// as '-' or U+2212 (UTF-8), a decimal comma as well as a point; a switch
// takes its two words in any case, or a number, and a list its values'
// names (read as 0, 1, ...) in the same way. With bareIsShown a number
// without unit is in the unit shown (what people type into a value field);
// without, it is the plain value itself (seconds for a time shown in ms, as
// command lines have always taken it). Infinities, NaN and hexadecimal are
// not numbers here. text may be null (read as empty).
EParamUnitRead ReadParamUnit(const IParamUnit& unit, const char* text, bool bareIsShown,
                             IParamUnitReading* out);
