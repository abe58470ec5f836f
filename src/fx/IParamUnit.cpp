#include "fx/IParamUnit.h"

#include <cmath>
#include <cstdio>

int FormatParamUnit(const IParamUnit& unit, double plain, char* out, std::size_t size,
                    bool typographicMinus)
{
  if (!out || size == 0) return 0;
  int n;
  if (unit.IsSwitch())
  {
    n = std::snprintf(out, size, "%s", plain >= 0.5 ? unit.onText : unit.offText);
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
