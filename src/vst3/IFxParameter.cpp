#include "vst3/IFxParameter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fx/IParam.h"
#include "fx/IParamUnit.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

void WidenToString128(const char* in, String128 out)
{
  int i = 0;
  for (; in && in[i] && i < 127; ++i)
    out[i] = (TChar)(unsigned char)in[i];
  out[i] = 0;
}

void NarrowFromTChar(const TChar* in, char* out, int capacity)
{
  if (!out || capacity <= 0)
    return;
  int i = 0;
  for (; in && in[i] && i < capacity - 1; ++i)
    out[i] = (char)(in[i] & 0xFF);
  out[i] = 0;
}

void Utf8FromTChar(const TChar* in, char* out, int capacity)
{
  if (!out || capacity <= 0)
    return;
  int n = 0;
  for (int i = 0; in && i < 128 && in[i]; ++i)
  {
    uint32 c = (uint16)in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < 128 && (uint16)in[i + 1] >= 0xDC00 && (uint16)in[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + ((uint16)in[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = 0xFFFD;
    char buf[4];
    int len;
    if (c < 0x80) { buf[0] = (char)c; len = 1; }
    else if (c < 0x800) { buf[0] = (char)(0xC0 | (c >> 6)); buf[1] = (char)(0x80 | (c & 0x3F)); len = 2; }
    else if (c < 0x10000)
    {
      buf[0] = (char)(0xE0 | (c >> 12));
      buf[1] = (char)(0x80 | ((c >> 6) & 0x3F));
      buf[2] = (char)(0x80 | (c & 0x3F));
      len = 3;
    }
    else
    {
      buf[0] = (char)(0xF0 | (c >> 18));
      buf[1] = (char)(0x80 | ((c >> 12) & 0x3F));
      buf[2] = (char)(0x80 | ((c >> 6) & 0x3F));
      buf[3] = (char)(0x80 | (c & 0x3F));
      len = 4;
    }
    if (n + len > capacity - 1)
      break;
    memcpy(out + n, buf, (size_t)len);
    n += len;
  }
  out[n] = 0;
}

IFxParameter::IFxParameter(IParam* param, unsigned tag, int unitId) : mWrappedParam(param)
{
  info.id = tag;
  WidenToString128(param->GetNameForHost(), info.title);
  info.shortTitle[0] = 0;
  // The unit people read the value in; switches and lists show words and
  // have none.
  const IParamUnit* unit = param->GetUnit();
  WidenToString128(unit ? (unit->IsNamed() ? "" : unit->unit) : param->GetLabelForHost(), info.units);
  info.stepCount = param->GetStepCount();
  info.defaultNormalizedValue = param->GetDefaultNormalized();
  info.unitId = unitId;
  info.flags = param->IsAutomatable() ? ParameterInfo::kCanAutomate : 0;
  // A list's names are its value strings: hosts offer them as a menu.
  if (unit && unit->IsList()) info.flags |= ParameterInfo::kIsList;
  valueNormalized = info.defaultNormalizedValue;
  precision = unit ? unit->decimals : param->GetPrecision();
}

IFxParameter::~IFxParameter() {}

void IFxParameter::toString(ParamValue valueNormalized, String128 string) const
{
  ParamStringForHost(*mWrappedParam, valueNormalized, string);
}

bool IFxParameter::fromString(const TChar* string, ParamValue& normalized) const
{
  return ParamValueFromHost(*mWrappedParam, string, normalized);
}

namespace {

// What a host's plain value is per the parameter's own: the value in the
// unit the host is told (ms for a time kept in seconds), so that a host's
// number field shows and takes what its units field names.
double HostScale(const IParam& param)
{
  const IParamUnit* unit = param.GetUnit();
  return unit && !unit->IsNamed() && unit->scale > 0.0 ? unit->scale : 1.0;
}

}  // namespace

void ParamStringForHost(const IParam& param, ParamValue valueNormalized, String128 string)
{
  char text[IParam::kTextSize] = {};
  if (const IParamUnit* unit = param.GetUnit())
  {
    // A value outside 0..1 (or NaN) from a host is shown as the end of the
    // range it would be set to. The number alone: hosts put the units
    // field beside it.
    const double n = std::isnan(valueNormalized) ? 0.0 : IParam::ClampNormalized(valueNormalized);
    IParamUnit bare = *unit;
    bare.unit = "";
    FormatParamUnit(bare, param.GetNonNormalized(n), text, sizeof(text));
  }
  else
    param.GetDisplayForHost(valueNormalized, true, text, true);
  WidenToString128(text, string);
}

bool ParamValueFromHost(const IParam& param, const TChar* string, ParamValue& normalized)
{
  if (const IParamUnit* unit = param.GetUnit())
  {
    char utf8[4 * 128 + 1];
    Utf8FromTChar(string, utf8, sizeof(utf8));
    IParamUnitReading reading;
    if (ReadParamUnit(*unit, utf8, true, &reading) != kParamReadOk)
      return false;
    // Beyond the range is its end, as a host's slider would stop there.
    normalized = param.GetNormalized(reading.plain);
    return true;
  }
  char text[128];
  NarrowFromTChar(string, text, sizeof(text));
  double plain = atof(text);
  // "nan" would otherwise travel into the parameter's range mapping.
  if (std::isnan(plain))
    plain = 0.0;
  normalized = param.GetNormalized(plain);
  return true;
}

ParamValue IFxParameter::toPlain(ParamValue normalized) const
{
  return mWrappedParam->GetNonNormalized(normalized) * HostScale(*mWrappedParam);
}

ParamValue IFxParameter::toNormalized(ParamValue plain) const
{
  const IParam& p = *mWrappedParam;
  const double scale = HostScale(p);
  // Before 3.3 a host's plain value for a time was in seconds, and hosts
  // that keep plain values (Ardour's automation) give those back: a value
  // below the range in ms but inside the range in seconds, which no value
  // in ms can be, is read in seconds.
  if (scale != 1.0 && plain < p.GetMin() * scale && plain >= p.GetMin() && plain <= p.GetMax())
    return p.GetNormalized(plain);
  return p.GetNormalized(plain / scale);
}
