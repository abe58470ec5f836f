#include "fx/IParam.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kit/KitString.h"

namespace
{
// ln(10) / 20 to 13 significant digits.
constexpr double kDBToAmpFactor = 0.1151292546497;

// Truncates toward zero when the result is an int; false for NaN and for
// values outside int's range, where a plain cast would be undefined.
bool TruncToInt(double v, int* out)
{
  if (!(v > (double)INT_MIN - 1.0 && v < (double)INT_MAX + 1.0)) return false;
  *out = (int)v;
  return true;
}
} // namespace

IParam::IParam() {}

void IParam::InitBool(const char* name, bool defaultVal, const char* label, const char* group)
{
  if (mType == kTypeNone) mType = kTypeBool;
  InitEnum(name, defaultVal ? 1 : 0, 2, label, group);
  SetDisplayText(0, "off");
  SetDisplayText(1, "on");
}

void IParam::InitEnum(const char* name, int defaultVal, int nEnums, const char* label, const char* group)
{
  if (mType == kTypeNone) mType = kTypeEnum;
  // nEnums - 1 computed in 64 bits so INT_MIN cannot wrap; InitDouble then
  // lifts any maximum below minimum + step to 1.
  long long maxVal = (long long)nEnums - 1;
  InitInt(name, defaultVal, 0, maxVal < 0 ? 0 : (int)maxVal, label, group);
}

void IParam::InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label,
                     const char* group)
{
  if (mType == kTypeNone) mType = kTypeInt;
  InitDouble(name, (double)defaultVal, (double)minVal, (double)maxVal, 1.0, label, group);
}

void IParam::InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                        const char* label, const char* group, double shape)
{
  if (mType == kTypeNone) mType = kTypeDouble;
  KitStrCopy(mName, name, kTextSize);
  KitStrCopy(mLabel, label, kTextSize);
  KitStrCopy(mParamGroup, group, kTextSize);
  mValue.store(defaultVal, std::memory_order_relaxed);
  mMin = minVal;
  mMax = maxVal > minVal + step ? maxVal : minVal + step;
  mStep = step;
  mDefault = defaultVal;

  // A step of 0.01 shows two decimals; a step that never becomes whole in
  // double arithmetic stops at the maximum.
  int precision = 0;
  double s = step;
  while (precision < kMaxPrecision && s != std::floor(s))
  {
    ++precision;
    s *= 10.0;
  }
  mDisplayPrecision = precision;

  SetShape(shape);
}

void IParam::SetDisplayText(int value, const char* text)
{
  DisplayText rec;
  memset(&rec, 0, sizeof(rec));
  rec.mValue = value;
  KitStrCopy(rec.mText, text, kTextSize);
  mDisplayTexts.Add(rec);
}

void IParam::SetShape(double shape)
{
  if (shape != 0.0) mShape = shape;
}

void IParam::SetValue(double value)
{
  // NaN fails both comparisons below and would be stored as the maximum;
  // the last good value is the safer one to keep.
  if (std::isnan(value)) return;
  double v = value < mMin ? mMin : (value < mMax ? value : mMax);
  mValue.store(v, std::memory_order_relaxed);
}

void IParam::SetNormalized(double normalized)
{
  // A NaN from a host would reach the signal path as a NaN gain; keep the
  // last good value instead.
  if (std::isnan(normalized)) return;
  // Every caller (host, automation, editor) comes through here. Outside
  // 0..1 the power law leaves the range: below the minimum, or with an even
  // shape a negative value jumps to the maximum.
  normalized = ClampNormalized(normalized);
  double v = RoundToStep(mMin + (mMax - mMin) * std::pow(normalized, mShape));
  if (v > mMax) v = mMax;
  mValue.store(v, std::memory_order_relaxed);
}

double IParam::RoundToStep(double v) const
{
  return mType != kTypeDouble ? std::floor(v / mStep + 0.5) * mStep : v;
}

void IParam::SetPlain(double value)
{
  SetValue(std::isfinite(value) ? RoundToStep(value) : value);
}

double IParam::GetNormalized(double plain) const
{
  double v = plain < mMin ? mMin : (plain < mMax ? plain : mMax);
  return std::pow((v - mMin) / (mMax - mMin), 1.0 / mShape);
}

double IParam::GetNonNormalized(double normalized) const
{
  return mMin + (mMax - mMin) * std::pow(normalized, mShape);
}

void IParam::GetBounds(double* minVal, double* maxVal) const
{
  if (minVal) *minVal = mMin;
  if (maxVal) *maxVal = mMax;
}

double IParam::DBToAmp() const { return std::exp(GetValue() * kDBToAmpFactor); }

double IParam::GetDefaultNormalized() const
{
  return std::pow((mDefault - mMin) / (mMax - mMin), 1.0 / mShape);
}

int IParam::GetStepCount() const
{
  if (mType == kTypeDouble) return 0;
  int n = 0;
  return TruncToInt(mMax - mMin, &n) ? n : INT_MAX;
}

const char* IParam::DisplayTextForValue(double value) const
{
  int iv;
  if (!TruncToInt(value, &iv)) return nullptr;
  const DisplayText* recs = mDisplayTexts.Get();
  for (int i = 0, n = mDisplayTexts.GetSize(); i < n; ++i)
    if (recs[i].mValue == iv) return recs[i].mText[0] ? recs[i].mText : nullptr;
  return nullptr;
}

void IParam::GetDisplayForHost(double value, bool normalized, char* out, int capacity,
                               bool withDisplayText) const
{
  if (!out || capacity <= 0) return;
  if (normalized) value = GetNonNormalized(value);

  if (withDisplayText)
  {
    if (const char* text = DisplayTextForValue(value))
    {
      KitStrCopy(out, text, capacity);
      return;
    }
  }

  if (mNegateDisplay) value = -value;

  if (mDisplayPrecision == 0)
  {
    int iv;
    if (TruncToInt(value, &iv))
      snprintf(out, (size_t)capacity, "%d", iv);
    else // beyond int: the same truncated number, written without a cast
      snprintf(out, (size_t)capacity, "%.0f", std::trunc(value));
  }
  else
  {
    snprintf(out, (size_t)capacity, "%.*f", mDisplayPrecision, value);
  }
}

const char* IParam::GetDisplayText(int value) const
{
  const DisplayText* recs = mDisplayTexts.Get();
  for (int i = 0, n = mDisplayTexts.GetSize(); i < n; ++i)
    if (recs[i].mValue == value) return recs[i].mText;
  return "";
}

const char* IParam::GetDisplayTextAtIdx(int idx, int* value) const
{
  const DisplayText* rec = mDisplayTexts.GetPtr(idx);
  if (!rec) return "";
  if (value) *value = rec->mValue;
  return rec->mText;
}

bool IParam::MapDisplayText(const char* text, int* value) const
{
  if (!text) return false;
  const DisplayText* recs = mDisplayTexts.Get();
  for (int i = 0, n = mDisplayTexts.GetSize(); i < n; ++i)
  {
    if (!strcmp(recs[i].mText, text))
    {
      if (value) *value = recs[i].mValue;
      return true;
    }
  }
  return false;
}

const char* IParam::GetLabelForHost() const
{
  return DisplayTextForValue(GetValue()) ? "" : mLabel;
}
