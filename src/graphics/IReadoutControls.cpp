#include "graphics/IReadoutControls.h"

#include <cstdio>

#include "fx/IFxBase.h"
#include "fx/IParam.h"

namespace
{
// Space between a readout's name and its value, in layout pixels.
constexpr int kNameValueGap = 6;

// The parameter's value as people read it.
std::string ValueText(IParam* pParam)
{
  char value[160] = "";
  if (const IParamUnit* unit = pParam->GetUnit())
  {
    FormatParamUnit(*unit, pParam->GetValue(), value, sizeof(value), true);
  }
  else
  {
    char display[128] = "";
    pParam->GetDisplayForHost(pParam->GetValue(), false, display, true);
    const char* label = pParam->GetLabelForHost();
    std::snprintf(value, sizeof(value), "%s%s%s", display, *label ? " " : "", label);
  }
  return value;
}

IColor Faded(IColor c, double opacity)
{
  c.A = (int)(c.A * opacity + 0.5);
  return c;
}

// A plate with corners rounded by two pixels, from rectangles that do not
// overlap, so that a translucent colour covers every pixel once.
void DrawPlate(IGraphics* pGraphics, const IRECT& r, const IColor& color)
{
  if (color.A <= 0 || r.W() < 5 || r.H() < 5) return;
  IRECT parts[] = {IRECT(r.L + 2, r.T, r.R - 2, r.B),         IRECT(r.L + 1, r.T + 1, r.L + 2, r.B - 1),
                   IRECT(r.R - 2, r.T + 1, r.R - 1, r.B - 1), IRECT(r.L, r.T + 2, r.L + 1, r.B - 2),
                   IRECT(r.R - 1, r.T + 2, r.R, r.B - 2)};
  for (IRECT& p : parts) pGraphics->FillIRect(&color, &p);
}

// Text drawn left-aligned from (x, top), measured in layout pixels.
int TextWidth(IGraphics* pGraphics, IText* pText, const std::string& s, int* height)
{
  IRECT r(0, 0, 0, 0);
  pGraphics->MeasureIText(pText, s.c_str(), &r);
  if (height) *height = r.H();
  return r.W();
}
}  // namespace

int FormatParamReadout(IParam* pParam, char* out, std::size_t size)
{
  if (!out || !size) return 0;
  out[0] = 0;
  if (!pParam) return 0;
  const int n = std::snprintf(out, size, "%s %s", pParam->GetNameForHost(), ValueText(pParam).c_str());
  if (n < 0)
  {
    out[0] = 0;
    return 0;
  }
  return (std::size_t)n < size ? n : (int)size - 1;
}

// ---- IParamReadoutControl ----

IParamReadoutControl::IParamReadoutControl(IFxBase* pPlug, IRECT r, const IReadoutStyle& style, int holdTicks,
                                           int fadeTicks)
  : IControl(pPlug, r), mStyle(style), mNameText(style.text), mValueText(style.text),
    mHoldTicks(holdTicks < 0 ? 0 : holdTicks), mFadeTicks(fadeTicks < 0 ? 0 : fadeTicks)
{
  mNameText.mAlign = mValueText.mAlign = IText::kAlignNear;
  mNameText.mCached = mValueText.mCached = nullptr;
}

void IParamReadoutControl::OnGUIIdle()
{
  IGraphics* pGraphics = Graphics();
  if (!pGraphics) return;
  int idx = pGraphics->GetMouseCapture();
  if (idx < 0) idx = pGraphics->GetMouseOver();
  IControl* pActive = pGraphics->GetControl(idx);
  IParam* pParam = pActive && pActive != this ? pActive->GetParam() : nullptr;

  const int levelBefore = mLevel;
  const std::string shownBefore = mShown;
  if (pParam)
  {
    mShownParam = pActive->ParamIdx();
    mName = pParam->GetNameForHost();
    mValue = ValueText(pParam);
    mShown = mName + " " + mValue;
    mHold = mHoldTicks;
    mLevel = mFadeTicks > 0 ? mFadeTicks : 1;
  }
  else if (mHold > 0)
  {
    --mHold;
  }
  else if (mLevel > 0)
  {
    --mLevel;
    if (mLevel == 0)
    {
      mShown.clear();
      mShownParam = -1;
    }
  }
  if (mLevel != levelBefore || mShown != shownBefore) SetDirty(false);
}

bool IParamReadoutControl::Draw(IGraphics* pGraphics)
{
  if (mLevel <= 0 || mShown.empty()) return true;
  const double opacity = GetOpacity();
  DrawPlate(pGraphics, mRECT, Faded(mStyle.plate, opacity));
  mNameText.mColor = Faded(mStyle.name, opacity);
  mValueText.mColor = Faded(mStyle.value, opacity);
  int h = 0;
  const int wName = TextWidth(pGraphics, &mNameText, mName, &h);
  const int wValue = TextWidth(pGraphics, &mValueText, mValue, nullptr);
  // Name and value centred together as one line.
  const int left = mRECT.L + (mRECT.W() - (wName + kNameValueGap + wValue)) / 2;
  const int top = mRECT.T + (mRECT.H() - h) / 2;
  IRECT nameR(left, top, left + wName, top + h);
  IRECT valueR(left + wName + kNameValueGap, top, left + wName + kNameValueGap + wValue, top + h);
  pGraphics->DrawIText(&mNameText, mName.c_str(), &nameR);
  pGraphics->DrawIText(&mValueText, mValue.c_str(), &valueR);
  return true;
}

// ---- IPeakReadoutControl ----

IPeakReadoutControl::IPeakReadoutControl(IFxBase* pPlug, IRECT r, int sourceControlIdx, ToShown convert,
                                         const IParamUnit* unit, const IReadoutStyle& style, int holdTicks)
  : IControl(pPlug, r), mSourceIdx(sourceControlIdx), mConvert(convert), mUnit(unit), mStyle(style),
    mValueText(style.text), mHoldTicks(holdTicks < 0 ? 0 : holdTicks)
{
  mValueText.mColor = style.value;
  mValueText.mAlign = IText::kAlignCenter;
  mValueText.mCached = nullptr;
  Show(0.0);
}

void IPeakReadoutControl::Show(double sourceValue)
{
  // Every tick asks; only a new value is formatted.
  if (sourceValue == mShownFor && !mShown.empty()) return;
  mShownFor = sourceValue;
  char text[64] = "";
  const double shown = mConvert ? mConvert(sourceValue) : sourceValue;
  if (mUnit)
    FormatParamUnit(*mUnit, shown, text, sizeof(text), true);
  else
    std::snprintf(text, sizeof(text), "%g", shown);
  if (mShown != text)
  {
    mShown = text;
    SetDirty(false);
  }
}

void IPeakReadoutControl::OnGUIIdle()
{
  IGraphics* pGraphics = Graphics();
  IControl* pSource = pGraphics ? pGraphics->GetControl(mSourceIdx) : nullptr;
  if (!pSource) return;
  // The audio thread writes the source's value; one read per tick.
  const double v = pSource->GetValue();
  if (v > mPeak)
  {
    mPeak = v;
    mHold = mHoldTicks;
  }
  else if (mHold > 0)
  {
    --mHold;
  }
  else
  {
    mPeak = v;
  }
  Show(mPeak);
}

bool IPeakReadoutControl::Draw(IGraphics* pGraphics)
{
  DrawPlate(pGraphics, mRECT, mStyle.plate);
  if (mShown.empty()) return true;
  int h = 0;
  TextWidth(pGraphics, &mValueText, mShown, &h);
  const int top = mRECT.T + (mRECT.H() - h) / 2;
  IRECT r(mRECT.L, top, mRECT.R, top + h);
  pGraphics->DrawIText(&mValueText, mShown.c_str(), &r);
  return true;
}
