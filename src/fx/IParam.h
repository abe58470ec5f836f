#pragma once

#include <atomic>

#include "fx/IParamUnit.h"
#include "kit/KitTypedBuf.h"

// One automatable parameter: plain value, range, step, shape and how it is
// shown. Outside the signal path values travel normalised (0..1) through a
// power law set by the shape; the signal path reads the plain value.
//
// The value is atomic: the controller thread may set it while the audio
// thread reads it. Everything else is fixed once the parameter is declared.
class IParam
{
public:
  enum EParamType { kTypeNone = 0, kTypeBool = 1, kTypeInt = 2, kTypeEnum = 3, kTypeDouble = 4 };

  // Bytes of the name, label, group and display-text fields, terminator included.
  static constexpr int kTextSize = 32;
  static constexpr int kMaxPrecision = 6;

  struct DisplayText
  {
    int mValue;
    char mText[kTextSize];
  };

  IParam();
  IParam(const IParam&) = delete;
  IParam& operator=(const IParam&) = delete;

  // Declaration. The first declaration fixes the type; the inner ones it
  // calls leave it in place. Texts longer than 31 characters are cut.
  void InitBool(const char* name, bool defaultVal, const char* label = "", const char* group = "");
  void InitEnum(const char* name, int defaultVal, int nEnums, const char* label = "", const char* group = "");
  void InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label = "",
               const char* group = "");
  void InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                  const char* label = "", const char* group = "", double shape = 1.0);

  // Appends a record; an existing one for the same value is kept (lookups
  // return the first match).
  void SetDisplayText(int value, const char* text);
  // A shape of 0 would make the mapping degenerate and is ignored.
  void SetShape(double shape);
  void SetDisplayNegated(bool negate) { mNegateDisplay = negate; }
  void SetCanAutomate(bool canAutomate) { mCanAutomate = canAutomate; }

  // A normalised value limited to 0..1; NaN passes through for the caller
  // to refuse.
  static double ClampNormalized(double normalized)
  {
    return normalized < 0.0 ? 0.0 : (normalized > 1.0 ? 1.0 : normalized);
  }

  // Values. SetNormalized limits its argument to 0..1 and ignores NaN.
  double GetValue() const { return mValue.load(std::memory_order_relaxed); }
  void SetValue(double value);
  void SetNormalized(double normalized);
  double GetNormalized() const { return GetNormalized(GetValue()); }
  double GetNormalized(double plain) const;
  double GetNonNormalized(double normalized) const;
  void GetBounds(double* minVal, double* maxVal) const;
  // The value read as decibels, as a linear gain.
  double DBToAmp() const;

  EParamType GetType() const { return mType; }
  double GetDefaultValue() const { return mDefault; }
  bool IsAutomatable() const { return mCanAutomate; }
  bool IsDisplayNegated() const { return mNegateDisplay; }
  double GetMin() const { return mMin; }
  double GetMax() const { return mMax; }
  double GetStep() const { return mStep; }
  double GetShape() const { return mShape; }
  int GetPrecision() const { return mDisplayPrecision; }
  // What a host binding reports: the default in normalised form (not
  // clamped) and, for stepped types, the number of steps (0 for double).
  double GetDefaultNormalized() const;
  int GetStepCount() const;

  // Display. Writes the display string of a value into out, never more than
  // capacity bytes including the terminator (nothing when capacity <= 0).
  // A normalised value is mapped with GetNonNormalized first. With display
  // texts, a non-empty text for the value truncated to an integer wins.
  void GetDisplayForHost(double value, bool normalized, char* out, int capacity,
                         bool withDisplayText) const;
  template <int N>
  void GetDisplayForHost(double value, bool normalized, char (&out)[N], bool withDisplayText) const
  {
    GetDisplayForHost(value, normalized, out, N, withDisplayText);
  }

  // "" when no record has the value.
  const char* GetDisplayText(int value) const;
  int GetNDisplayTexts() const { return mDisplayTexts.GetSize(); }
  // The record at idx (its value written when the pointer is given); ""
  // and nothing written for an index out of range.
  const char* GetDisplayTextAtIdx(int idx, int* value = nullptr) const;
  // Exact, case-sensitive match; the value is untouched when there is none.
  bool MapDisplayText(const char* text, int* value) const;

  const char* GetNameForHost() const { return mName; }
  // "" when the current value has a non-empty display text.
  const char* GetLabelForHost() const;
  const char* GetParamGroupForHost() const { return mParamGroup; }

  // The unit people read the value in (not owned; static storage). The
  // host's label stays what it is; this is for readouts, tools and format
  // descriptions. Null until set.
  void SetUnit(const IParamUnit* unit) { mUnit = unit; }
  const IParamUnit* GetUnit() const { return mUnit; }

private:
  // Finds the first non-empty text for a value truncated toward zero; null
  // when there is none or the value is no integer in int's range.
  const char* DisplayTextForValue(double value) const;

  EParamType mType = kTypeNone;
  std::atomic<double> mValue{0.0};
  double mMin = 0.0;
  double mMax = 1.0;
  double mStep = 1.0;
  double mShape = 1.0;
  double mDefault = 0.0;
  int mDisplayPrecision = 0;
  char mName[kTextSize] = {};
  char mLabel[kTextSize] = {};
  char mParamGroup[kTextSize] = {};
  bool mNegateDisplay = false;
  bool mCanAutomate = true;
  const IParamUnit* mUnit = nullptr;
  KitTypedBuf<DisplayText> mDisplayTexts{8 * (int)sizeof(DisplayText)};
};
