#include "fx/IParamUnit.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
struct AltUnit
{
  const char* unit;
  const char* alt;
  double factor;  // value in alt = value in unit x factor
};
constexpr AltUnit kAltUnits[] = {{"ms", "s", 0.001}, {"Hz", "kHz", 0.001}};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Case-insensitive comparison of the n bytes at s with the whole of word.
bool SameWord(const char* s, size_t n, const char* word)
{
  return word && strlen(word) == n && strncasecmp(s, word, n) == 0;
}

// Copies the number that starts at begin to num, n bytes, counting its
// digits; returns where the number ends in the text.
const char* CopyNumber(const char* begin, const char* end, char (&num)[160], size_t& n, size_t& digits)
{
  const char* p = begin;
  if (*p == '-' || *p == '+')
  {
    if (*p == '-') num[n++] = '-';
    ++p;
  }
  else if (end - p >= 3 && !memcmp(p, "\xE2\x88\x92", 3))
  {
    num[n++] = '-';
    p += 3;
  }
  bool mark = false;
  for (; p < end && n < sizeof(num) - 16; ++p)
  {
    if (isdigit((unsigned char)*p)) { num[n++] = *p; ++digits; }
    else if ((*p == '.' || *p == ',') && !mark) { num[n++] = '.'; mark = true; }
    else break;
  }
  // An exponent only when digits follow it: "5e" is no number, and "5 em"
  // is a number with a unit that is none of ours.
  if (digits > 0 && p < end && (*p == 'e' || *p == 'E'))
  {
    const char* q = p + 1;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) ++q;
    if (q < end && isdigit((unsigned char)*q))
    {
      num[n++] = 'e';
      if (negative) num[n++] = '-';
      while (q < end && isdigit((unsigned char)*q) && n < sizeof(num) - 1) num[n++] = *q++;
      p = q;
    }
  }
  return p;
}
}  // namespace

int FormatParamUnit(const IParamUnit& unit, double plain, char* out, std::size_t size,
                    bool typographicMinus)
{
  if (!out || size == 0) return 0;
  int n;
  if (unit.IsSwitch())
  {
    n = std::snprintf(out, size, "%s", plain >= 0.5 ? unit.onText : unit.offText);
  }
  else if (unit.IsList())
  {
    // NaN shows the first name, as a host would set it.
    const double v = std::round(plain);
    const int i = v >= unit.listCount - 1 ? unit.listCount - 1 : (v > 0.0 ? (int)v : 0);
    n = std::snprintf(out, size, "%s", unit.NameAt(i) ? unit.NameAt(i) : "");
  }
  else
  {
    double shown = plain * unit.scale;
    // Rounds before choosing the sign, so -0.04 shown with one decimal
    // reads "0.0", not "-0.0".
    double p = std::pow(10.0, unit.decimals);
    double rounded = std::round(shown * p) / p;
    if (!std::isfinite(rounded)) rounded = 0.0;
    bool negative = rounded < 0.0;
    const char* minus = negative ? (typographicMinus ? "\xE2\x88\x92" : "-") : "";
    const char* space = unit.unit[0] ? " " : "";
    n = std::snprintf(out, size, "%s%.*f%s%s", minus, unit.decimals, std::fabs(rounded), space,
                      unit.unit);
  }
  if (n < 0) { out[0] = '\0'; return 0; }
  return (std::size_t)n < size ? n : (int)size - 1;
}

const char* ParamAltUnit(const IParamUnit& unit, double* factor)
{
  if (unit.IsNamed()) return nullptr;
  for (const AltUnit& a : kAltUnits)
    if (strcasecmp(a.unit, unit.unit) == 0)
    {
      if (factor) *factor = a.factor;
      return a.alt;
    }
  return nullptr;
}

EParamUnitRead ReadParamUnit(const IParamUnit& unit, const char* text, bool bareIsShown,
                             IParamUnitReading* out)
{
  IParamUnitReading r;
  const char* begin = text ? text : "";
  const char* end = begin + strlen(begin);
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  if (begin == end)
  {
    if (out) *out = r;
    return kParamReadEmpty;
  }
  const size_t len = (size_t)(end - begin);
  for (int i = 0; i < unit.NamedCount(); ++i)
    if (SameWord(begin, len, unit.NameAt(i)))
    {
      r.plain = (double)i;
      if (out) *out = r;
      return kParamReadOk;
    }

  // The number, copied in the form the conversion reads: an ASCII sign, a
  // point for the decimal mark; room for any a host's 128-unit string holds.
  char num[160];
  size_t n = 0;
  size_t digits = 0;
  const char* p = CopyNumber(begin, end, num, n, digits);
  double v = 0.0;
  const auto conv = std::from_chars(num, num + n, v, std::chars_format::general);
  if (digits == 0 || conv.ec != std::errc() || conv.ptr != num + n || !std::isfinite(v) ||
      (p < end && (*p == '.' || *p == ',')))
  {
    if (out) *out = r;
    return kParamReadNotANumber;
  }

  // No unit holds a digit: "0x10" or "5 5" is a malformed number.
  for (const char* q = p; q < end; ++q)
    if (isdigit((unsigned char)*q))
    {
      if (out) *out = r;
      return kParamReadNotANumber;
    }
  while (p < end && IsBlank(*p)) ++p;
  const size_t unitLen = (size_t)(end - p);
  double factor = 1.0;
  const char* alt = ParamAltUnit(unit, &factor);
  const double scale = unit.scale != 0.0 ? unit.scale : 1.0;
  if (unitLen == 0)
  {
    r.bare = true;
    r.plain = bareIsShown && !unit.IsNamed() ? v / scale : v;
  }
  else if (!unit.IsNamed() && unit.unit[0] && SameWord(p, unitLen, unit.unit))
    r.plain = v / scale;
  else if (alt && SameWord(p, unitLen, alt))
    r.plain = v / factor / scale;
  else
  {
    r.unit = p;
    if (out) *out = r;
    return kParamReadUnknownUnit;
  }
  if (!r.bare) r.unit = p;
  if (!std::isfinite(r.plain))
  {
    r.unit = nullptr;
    if (out) *out = r;
    return kParamReadNotANumber;
  }
  if (out) *out = r;
  return kParamReadOk;
}
