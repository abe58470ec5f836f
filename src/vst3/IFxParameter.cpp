#include "vst3/IFxParameter.h"

#include <cmath>
#include <cstdlib>

#include "fx/IParam.h"

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

IFxParameter::IFxParameter(IParam* param, unsigned tag, int unitId) : mWrappedParam(param)
{
  info.id = tag;
  WidenToString128(param->GetNameForHost(), info.title);
  info.shortTitle[0] = 0;
  WidenToString128(param->GetLabelForHost(), info.units);
  info.stepCount = param->GetStepCount();
  info.defaultNormalizedValue = param->GetDefaultNormalized();
  info.unitId = unitId;
  info.flags = param->IsAutomatable() ? ParameterInfo::kCanAutomate : 0;
  valueNormalized = info.defaultNormalizedValue;
  precision = param->GetPrecision();
}

IFxParameter::~IFxParameter() {}

void IFxParameter::toString(ParamValue valueNormalized, String128 string) const
{
  char text[IParam::kTextSize] = {};
  mWrappedParam->GetDisplayForHost(valueNormalized, true, text, true);
  WidenToString128(text, string);
}

bool IFxParameter::fromString(const TChar* string, ParamValue& normalized) const
{
  char text[128];
  NarrowFromTChar(string, text, sizeof(text));
  double plain = atof(text);
  // "nan" would otherwise travel into the parameter's range mapping.
  if (std::isnan(plain))
    plain = 0.0;
  normalized = mWrappedParam->GetNormalized(plain);
  return true;
}

ParamValue IFxParameter::toPlain(ParamValue normalized) const
{
  return mWrappedParam->GetNonNormalized(normalized);
}

ParamValue IFxParameter::toNormalized(ParamValue plain) const
{
  return mWrappedParam->GetNormalized(plain);
}
