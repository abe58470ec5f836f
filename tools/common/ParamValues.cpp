#include "ParamValues.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A second unit people use for the same quantity: value in alt = value in
// unit x factor.
struct AltUnit
{
  const char* alt;
  double factor;
};

bool AltFor(const IParamUnit* u, AltUnit* out)
{
  if (!u) return false;
  out->alt = ParamAltUnit(*u, &out->factor);
  return out->alt != nullptr;
}

std::string Num(double v)
{
  if (v == 0.0) v = 0.0;  // no "-0"
  char buf[64];
  snprintf(buf, sizeof(buf), "%.6g", v);
  return buf;
}

std::string Lower(std::string s)
{
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

bool IsSwitch(const ParamDesc& s) { return s.unit && s.unit->IsSwitch(); }
bool IsList(const ParamDesc& s) { return s.unit && s.unit->IsList(); }

// The plain value's own unit when it differs from the one shown: seconds
// for a value shown in milliseconds.
const char* PlainUnit(const ParamDesc& s)
{
  AltUnit alt;
  if (AltFor(s.unit, &alt) && s.unit->scale != 1.0 && std::fabs(alt.factor * s.unit->scale - 1.0) < 1e-12)
    return alt.alt;
  return nullptr;
}

}  // namespace

std::string DisplayUnit(const ParamDesc& desc)
{
  return desc.unit && !desc.unit->IsNamed() ? desc.unit->unit : "";
}

double DisplayValue(const ParamDesc& desc, double plain)
{
  return desc.unit && !desc.unit->IsNamed() ? plain * desc.unit->scale : plain;
}

std::string DescribeRange(const ParamDesc& desc)
{
  const double lo = std::min(desc.min, desc.max), hi = std::max(desc.min, desc.max);
  if (IsSwitch(desc))
    return std::string(desc.unit->offText) + " or " + desc.unit->onText + " (or " + Num(lo) + " or " + Num(hi) + ")";
  if (IsList(desc))
  {
    // "Peak, RMS or Slow (or 0 to 2)": the names of 0, 1, ... in order.
    std::string s;
    for (int v = 0, n = desc.unit->listCount; v < n; ++v)
      s += std::string(v == 0 ? "" : (v == n - 1 ? " or " : ", ")) + desc.unit->NameAt(v);
    return s + " (or " + Num(lo) + " to " + Num(hi) + ")";
  }
  if (desc.stepCount == 1) return Num(lo) + " or " + Num(hi);
  const std::string unit = DisplayUnit(desc);
  const double scale = desc.unit ? desc.unit->scale : 1.0;
  std::string s = Num(lo * scale) + " to " + Num(hi * scale) + (unit.empty() ? "" : " " + unit);
  AltUnit alt;
  if (AltFor(desc.unit, &alt))
    s += " (or " + Num(lo * scale * alt.factor) + " to " + Num(hi * scale * alt.factor) + " " + alt.alt + ")";
  return s;
}

std::string FormatParamValue(const ParamDesc& desc, double plain)
{
  if (!desc.unit) return Num(plain);
  char buf[64];
  FormatParamUnit(*desc.unit, plain, buf, sizeof(buf));
  return buf;
}

std::vector<std::string> ValueWords(const ParamDesc& desc)
{
  std::vector<std::string> words;
  if (desc.unit && desc.unit->IsNamed())
  {
    for (int v = 0; v < desc.unit->NamedCount(); ++v) words.push_back(Lower(desc.unit->NameAt(v)));
    return words;
  }
  if (!DisplayUnit(desc).empty()) words.push_back(DisplayUnit(desc));
  AltUnit alt;
  if (AltFor(desc.unit, &alt)) words.push_back(alt.alt);
  return words;
}

bool ParseParamValue(const ParamDesc& desc, const std::string& text, double& plain, std::string& error)
{
  const std::string t = TrimBlanks(text);
  const std::string takes = desc.name + " takes " + DescribeRange(desc);
  if (t.empty())
  {
    error = desc.name + " needs a value: " + takes;
    return false;
  }
  // The same reading as a host's value field and the editor's, but a bare
  // number is the plain value (seconds for Attack), as it has always been.
  static const IParamUnit kBareNumber = {};
  IParamUnitReading reading;
  switch (ReadParamUnit(desc.unit ? *desc.unit : kBareNumber, t.c_str(), false, &reading))
  {
    case kParamReadOk: break;
    case kParamReadUnknownUnit:
      error = desc.name + "=" + t + ": '" + TrimBlanks(reading.unit) + "' is not a unit of " + desc.name + "; " + takes;
      return false;
    default:
      error = desc.name + "=" + t + " is not a value: " + takes;
      return false;
  }
  const bool bare = reading.bare;
  const double v = reading.plain;
  double value = v;
  // A switch's words name its two ends.
  if (IsSwitch(desc) && !bare && !reading.unit) value = v >= 0.5 ? desc.max : desc.min;

  const double lo = std::min(desc.min, desc.max), hi = std::max(desc.min, desc.max);
  const double tol = 1e-9 * (hi - lo);
  if (!(value >= lo - tol && value <= hi + tol))
  {
    std::string hint;
    const double asShown = bare && PlainUnit(desc) ? v / desc.unit->scale : NAN;
    if (asShown >= lo - tol && asShown <= hi + tol)
      hint = " (a number without unit is in " + std::string(PlainUnit(desc)) + "; for " + desc.unit->unit +
             " write " + t + desc.unit->unit + ")";
    error = desc.name + "=" + t + " is outside its range" + hint + ": " + takes;
    return false;
  }
  value = std::min(hi, std::max(lo, value));
  if (desc.stepCount > 0 && hi > lo)
  {
    // A stepped parameter takes only its steps; the plug-in would truncate.
    const double pos = (value - desc.min) / (desc.max - desc.min) * desc.stepCount;
    if (std::fabs(pos - std::round(pos)) > 1e-6)
    {
      error = desc.name + "=" + t + " is between steps: " + takes +
              (desc.stepCount > 1 ? " in " + std::to_string(desc.stepCount) + " steps" : "");
      return false;
    }
  }
  plain = value;
  return true;
}

std::string ParamsText(const std::vector<ParamDesc>& descs, const char* indent)
{
  std::string out;
  for (const ParamDesc& p : descs)
  {
    char name[64];
    snprintf(name, sizeof(name), "%s%-12s", indent, p.name.c_str());
    out += name + DescribeRange(p) + ", default " + FormatParamValue(p, p.def) + "\n";
    if (p.unit && p.unit->description[0]) out += FillText(p.unit->description, strlen(indent) + 12);
  }
  return out;
}

std::string PresetSlug(const std::string& name)
{
  std::string s;
  for (char c : name)
  {
    if (isalnum((unsigned char)c)) s += (char)tolower((unsigned char)c);
    else if (!s.empty() && s.back() != '-') s += '-';
  }
  while (!s.empty() && s.back() == '-') s.pop_back();
  return s;
}

const PresetDesc* FindPreset(const std::vector<PresetDesc>& presets, const std::string& name)
{
  // Letters and digits only, so "Kick & Snare Punch", "kick-snare-punch"
  // and "KICK_SNARE_PUNCH" are one name.
  auto key = [](const std::string& s) {
    std::string k;
    for (char c : s)
      if (isalnum((unsigned char)c)) k += (char)tolower((unsigned char)c);
    return k;
  };
  const std::string want = key(name);
  if (want.empty()) return nullptr;
  for (const PresetDesc& p : presets)
    if (key(p.name) == want) return &p;
  return nullptr;
}

std::string PresetsText(const std::vector<PresetDesc>& presets, const char* indent)
{
  std::string out;
  for (const PresetDesc& p : presets)
  {
    out += indent + p.name;
    const std::string slug = PresetSlug(p.name);
    if (strcasecmp(slug.c_str(), p.name.c_str()) != 0) out += " (" + slug + ")";
    out += "\n" + FillText(p.description, strlen(indent) + 4);
  }
  return out;
}

std::string TrimBlanks(const std::string& s)
{
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

std::string FillText(const std::string& text, size_t indent, size_t width)
{
  std::string out, line(indent, ' ');
  size_t pos = 0;
  while (pos < text.size())
  {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(pos, end - pos);
    if (line.size() > indent && line.size() + 1 + word.size() > width)
    {
      out += line + "\n";
      line.assign(indent, ' ');
    }
    if (line.size() > indent) line += ' ';
    line += word;
    pos = end + 1;
  }
  return out + line + "\n";
}

const ParamDesc* FindParam(const std::vector<ParamDesc>& descs, const std::string& name)
{
  const std::string n = TrimBlanks(name);
  for (const ParamDesc& p : descs)
    if (strcasecmp(p.name.c_str(), n.c_str()) == 0) return &p;
  return nullptr;
}

std::string ParamNames(const std::vector<ParamDesc>& descs)
{
  std::string s;
  for (const ParamDesc& p : descs) s += (s.empty() ? "" : ", ") + p.name;
  return s;
}
