#pragma once

// Readouts: numbers shown beside a bitmap editor's knobs and meters, in the
// units people read them in. Both are driven by the editor's idle call, once
// per timer tick, and never take the mouse themselves.

#include <cstddef>
#include <string>

#include "fx/IParamUnit.h"
#include "graphics/IControl.h"

// "<name> <value>" of a parameter as people read it: the value in its unit
// with a typographic minus when the parameter has one, else its display text
// and label. Returns the length written (at most size - 1).
int FormatParamReadout(IParam* pParam, char* out, std::size_t size);

// Colours and type of a readout. The text attributes give face, size and
// style; the colours come from here.
struct IReadoutStyle
{
  IColor plate = COLOR_TRANSPARENT;  // fill behind the text; alpha 0 for none
  IColor name = COLOR_WHITE;         // the parameter's name
  IColor value = COLOR_WHITE;        // the value
  IText text;
};

// Shows the name and value of the parameter whose control is dragged, or is
// under the pointer, or was turned with the wheel (the editor must track the
// pointer: IGraphics::HandleMouseOver). When none is, it stays for holdTicks
// ticks and then fades out over fadeTicks.
class IParamReadoutControl : public IControl
{
public:
  IParamReadoutControl(IFxBase* pPlug, IRECT r, const IReadoutStyle& style, int holdTicks = 12, int fadeTicks = 8);

  void OnGUIIdle() override;
  bool Draw(IGraphics* pGraphics) override;
  bool IsHit(int, int) override { return false; }

  // What it shows ("" once faded out), whose parameter (-1 none) and how
  // opaque it is (0 to 1).
  const char* GetReadout() const { return mShown.c_str(); }
  int GetShownParam() const { return mShownParam; }
  double GetOpacity() const { return mFadeTicks > 0 ? (double)mLevel / (double)mFadeTicks : (mLevel > 0 ? 1.0 : 0.0); }

private:
  IReadoutStyle mStyle;
  IText mNameText, mValueText;
  int mHoldTicks, mFadeTicks;
  int mHold = 0, mLevel = 0;
  int mShownParam = -1;
  std::string mShown, mName, mValue;
};

// A number beside a meter: the value of another control (the meter) turned
// into what is shown by a function and written in a unit, held at its
// highest for holdTicks ticks so that it can be read, then following again.
class IPeakReadoutControl : public IControl
{
public:
  typedef double (*ToShown)(double controlValue);

  // unit must outlive the control (a static table entry).
  IPeakReadoutControl(IFxBase* pPlug, IRECT r, int sourceControlIdx, ToShown convert, const IParamUnit* unit,
                      const IReadoutStyle& style, int holdTicks = 25);

  void OnGUIIdle() override;
  bool Draw(IGraphics* pGraphics) override;
  bool IsHit(int, int) override { return false; }

  const char* GetReadout() const { return mShown.c_str(); }
  // The source value the number is held at.
  double GetHeldValue() const { return mPeak; }

private:
  void Show(double sourceValue);

  int mSourceIdx;
  ToShown mConvert;
  const IParamUnit* mUnit;
  IReadoutStyle mStyle;
  IText mValueText;
  int mHoldTicks;
  int mHold = 0;
  double mPeak = 0.0;
  double mShownFor = -1.0;  // the source value mShown was made from
  std::string mShown;
};
