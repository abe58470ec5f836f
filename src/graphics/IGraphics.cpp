#include "graphics/IGraphics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fx/IFxBase.h"
#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "graphics/IControl.h"
#include "graphics/IPopupMenu.h"
#include "raster/PxBitmap.h"

namespace
{
// Parameter type codes the prompt distinguishes.
const int kParamTypeBool = 1;
const int kParamTypeEnum = 3;

// What the editor adds to a parameter's context menu.
const IFxMenuEntry kParamMenuEntries[] = {
  {"Enter value...", IGraphics::kMenuEnterValue},
  {"Reset to default", IGraphics::kMenuResetToDefault},
};
constexpr int kNumParamMenuEntries = (int)(sizeof(kParamMenuEntries) / sizeof(kParamMenuEntries[0]));

// The value's text entry over a control: wide enough for "-20.0 dB".
constexpr int kValueEntryW = 72, kValueEntryH = 18;

// The range of content scales: a 4K screen at 300 % is the most seen.
const double kMinScale = 1.0, kMaxScale = 3.0;

double ClampScale(double s)
{
  return s < kMinScale ? kMinScale : (s > kMaxScale ? kMaxScale : s);
}
}  // namespace

IGraphics::IGraphics(IFxBase* pPlug, int w, int h, int refreshFPS)
  : mPlug(pPlug), mWidth(w), mHeight(h), mFPS(refreshFPS > 0 ? refreshFPS : 25)
{
}

IGraphics::~IGraphics()
{
  delete mKeyCatcher;
  mKeyCatcher = nullptr;
  ClearControls();
  delete mDrawBitmap;
  delete mTmpBitmap;
}

void IGraphics::ClearControls()
{
  for (size_t i = mControls.size(); i-- > 0;) delete mControls[i];
  mControls.clear();
}

IParam* IGraphics::ParamOf(int paramIdx)
{
  if (!mPlug || paramIdx < 0 || paramIdx >= mPlug->ParamCount()) return nullptr;
  return mPlug->ParamAt(paramIdx);
}

int IGraphics::ControlParamIdx(IControl* pControl)
{
  int idx = pControl->ParamIdx();
  return ParamOf(idx) ? idx : -1;
}

// ---- Layout ----

void IGraphics::AttachBackground(int ID, const char* name)
{
  IBitmap bg = LoadIBitmap(ID, name, 1, false);
  IControl* pBG = new IBitmapControl(mPlug, 0, 0, -1, &bg, IChannelBlend::kBlendCopy);
  mControls.insert(mControls.begin(), pBG);
}

void IGraphics::AttachPanelBackground(const IColor* pColor)
{
  IControl* pBG = new IPanelControl(mPlug, IRECT(0, 0, mWidth, mHeight), pColor);
  mControls.insert(mControls.begin(), pBG);
  if (pColor) mSurroundColor = *pColor;
}

int IGraphics::AttachControl(IControl* pControl)
{
  // Every pass over the list calls into its controls; a null one is refused.
  if (!pControl) return -1;
  mControls.push_back(pControl);
  return NControls() - 1;
}

void IGraphics::AttachKeyCatcher(IControl* pControl)
{
  if (mKeyCatcher != pControl) delete mKeyCatcher;
  mKeyCatcher = pControl;
}

void IGraphics::HideControl(int paramIdx, bool hide)
{
  for (IControl* c : mControls)
    if (c->ParamIdx() == paramIdx) c->Hide(hide);
}

void IGraphics::GrayOutControl(int paramIdx, bool gray)
{
  for (IControl* c : mControls)
    if (c->ParamIdx() == paramIdx) c->GrayOut(gray);
}

void IGraphics::ClampControl(int paramIdx, double lo, double hi, bool normalized)
{
  if (!normalized)
  {
    IParam* pParam = ParamOf(paramIdx);
    if (!pParam) return;
    lo = pParam->GetNormalized(lo);
    hi = pParam->GetNormalized(hi);
  }
  for (IControl* c : mControls)
    if (c->ParamIdx() == paramIdx) c->Clamp(lo, hi);
}

void IGraphics::AssignParamNameToolTips()
{
  for (IControl* c : mControls)
  {
    IParam* pParam = ParamOf(c->ParamIdx());
    if (pParam) c->SetTooltip(pParam->GetNameForHost());
  }
}

void IGraphics::SetStrictDrawing(bool strict)
{
  mStrict = strict;
  SetAllControlsDirty();
}

// ---- Parameter linkage ----

void IGraphics::SetParameterFromPlug(int paramIdx, double value, bool normalized)
{
  if (!normalized)
  {
    IParam* pParam = ParamOf(paramIdx);
    if (!pParam) return;
    value = pParam->GetNormalized(value);
  }
  for (IControl* c : mControls)
  {
    if (c->ParamIdx() == paramIdx) c->SetValueFromPlug(value);
    int auxIdx = c->AuxParamIdx(paramIdx);
    if (auxIdx > -1) c->SetAuxParamValueFromPlug(auxIdx, value);
  }
}

void IGraphics::SetControlFromPlug(int controlIdx, double normalizedValue)
{
  if (controlIdx >= 0 && controlIdx < NControls()) mControls[(size_t)controlIdx]->SetValueFromPlug(normalizedValue);
}

void IGraphics::SetParameterFromGUI(int paramIdx, double normalizedValue)
{
  for (IControl* c : mControls)
    if (c->ParamIdx() == paramIdx) c->SetValueFromUserInput(normalizedValue);
}

void IGraphics::SetAllControlsDirty()
{
  for (IControl* c : mControls) c->SetDirty(false);
}

// ---- Events ----

void IGraphics::ReleaseMouseCapture()
{
  mMouseCapture = -1;
  mMouseX = mMouseY = -1;
}

int IGraphics::GetMouseControlIdx(int x, int y, bool mo)
{
  if (mMouseCapture >= 0) return mMouseCapture;
  for (int i = NControls() - 1; i >= 0; --i)
  {
    IControl* c = mControls[(size_t)i];
    if (c->IsHidden() || !c->IsHit(x, y)) continue;
    if (!c->IsGrayed() || (mo && c->GetMOWhenGrayed())) return i;
  }
  return -1;
}

int IGraphics::TopmostActiveControlAt(int x, int y)
{
  for (int i = NControls() - 1; i >= 0; --i)
  {
    IControl* c = mControls[(size_t)i];
    if (!c->IsGrayed() && !c->IsHidden() && c->IsHit(x, y)) return i;
  }
  return -1;
}

void IGraphics::OnMouseDown(int x, int y, IMouseMod* pMod)
{
  // A drag or a step starts from the value the host set last, even one set
  // since the last tick: the edit would otherwise start from the value shown
  // before and, being newer, throw the host's away.
  TakePlugValues();
  ReleaseMouseCapture();
  // A press is the next gesture: a wheel turn ends here, and so does a press
  // whose release never reached the editor.
  EndGestures();
  int i = TopmostActiveControlAt(x, y);
  if (i < 0) return;
  mMouseCapture = i;
  mMouseX = x;
  mMouseY = y;
  IControl* c = mControls[(size_t)i];
  int paramIdx = ControlParamIdx(c);
  if (paramIdx >= 0 && pMod && pMod->R)
  {
    ReleaseMouseCapture();
    ShowParamMenu(paramIdx, x, y);
    return;
  }
  BeginPressGesture(paramIdx);
  c->OnMouseDown(x, y, pMod);
  // A modal menu the press opened took the capture and the release with it.
  if (mMouseCapture != i) EndPressGesture();
}

void IGraphics::OnMouseUp(int x, int y, IMouseMod* pMod)
{
  int i = mMouseCapture >= 0 ? mMouseCapture : TopmostActiveControlAt(x, y);
  ReleaseMouseCapture();
  if (i >= 0 && i < NControls()) mControls[(size_t)i]->OnMouseUp(x, y, pMod);
  // Only a press's own gesture ends: a release after a double click or one
  // that began outside the editor has no begin to match.
  EndPressGesture();
  if (i < 0 || i >= NControls()) return;
  // A drag may end over another control than it began on.
  if (mHandleMouseOver) OnMouseOver(x, y, pMod);
}

void IGraphics::OnMouseDrag(int x, int y, IMouseMod* pMod)
{
  int i = mMouseCapture;
  if (i < 0 || i >= NControls() || (x == mMouseX && y == mMouseY)) return;
  int dX = x - mMouseX, dY = y - mMouseY;
  mMouseX = x;
  mMouseY = y;
  mControls[(size_t)i]->OnMouseDrag(x, y, dX, dY, pMod);
}

bool IGraphics::OnMouseDblClick(int x, int y, IMouseMod* pMod)
{
  TakePlugValues();
  ReleaseMouseCapture();
  EndGestures();
  int i = TopmostActiveControlAt(x, y);
  if (i < 0) return false;
  IControl* c = mControls[(size_t)i];
  if (c->GetDblAsSingleClick())
  {
    mMouseCapture = i;
    mMouseX = x;
    mMouseY = y;
    BeginPressGesture(ControlParamIdx(c));
    c->OnMouseDown(x, y, pMod);
    if (mMouseCapture != i) EndPressGesture();
    return true;
  }
  // What the control does (a reset, a step) is an edit of its own.
  c->OnMouseDblClick(x, y, pMod);
  return false;
}

void IGraphics::OnMouseWheel(int x, int y, IMouseMod* pMod, int delta)
{
  TakePlugValues();
  // A wheel turn says where the pointer is as much as a move does.
  if (mHandleMouseOver && mMouseCapture < 0) OnMouseOver(x, y, pMod);
  int i = mMouseCapture >= 0 ? mMouseCapture : TopmostActiveControlAt(x, y);
  if (i < 0 || i >= NControls()) return;
  IControl* c = mControls[(size_t)i];
  const int paramIdx = ControlParamIdx(c);
  // The wheel over the control being dragged is part of the drag's gesture.
  if (paramIdx >= 0 && paramIdx != mPressGesture)
  {
    if (paramIdx != mWheelGesture)
    {
      EndWheelGesture();
      mWheelGesture = paramIdx;
      mPlug->BeginInformHostOfParamChange(paramIdx);
    }
    mLastWheelMs = GestureClockMs();
  }
  c->OnMouseWheel(x, y, pMod, delta);
}

bool IGraphics::OnMouseOver(int x, int y, IMouseMod* pMod)
{
  if (!mHandleMouseOver) return false;
  int i = GetMouseControlIdx(x, y, true);
  if (i >= 0)
  {
    mMouseX = x;
    mMouseY = y;
    mControls[(size_t)i]->OnMouseOver(x, y, pMod);
    if (mMouseOver >= 0 && mMouseOver != i && mMouseOver < NControls()) mControls[(size_t)mMouseOver]->OnMouseOut();
    mMouseOver = i;
  }
  return mHandleMouseOver;
}

void IGraphics::OnMouseOut()
{
  for (IControl* c : mControls) c->OnMouseOut();
  mMouseOver = -1;
}

bool IGraphics::OnKeyDown(int x, int y, int key)
{
  TakePlugValues();
  int i = GetMouseControlIdx(x, y, false);
  if (i > 0) return mControls[(size_t)i]->OnKeyDown(x, y, key);
  if (mKeyCatcher) return mKeyCatcher->OnKeyDown(x, y, key);
  return false;
}

void IGraphics::OnGUIIdle()
{
  // What changed outside the editor since the last tick, and the meters as
  // the audio last published them: read here, so that no other thread ever
  // reaches into the editor.
  TakePlugValues();
  if (mPlug)
  {
    for (int m = 0, n = mPlug->MeterCount(); m < n; ++m)
    {
      const int control = mPlug->GetMeterInfo(m).controlIdx;
      const double value = mPlug->GetMeterValue(m);
      if (control >= 0 && std::isfinite(value)) SetControlFromPlug(control, std::min(1.0, std::max(0.0, value)));
    }
  }
  if (mWheelGesture >= 0 && GestureClockMs() - mLastWheelMs >= kWheelGesturePauseMs) EndWheelGesture();
  for (IControl* c : mControls) c->OnGUIIdle();
}

void IGraphics::TakePlugValues()
{
  if (!mPlug) return;
  double value;
  for (int i = 0, n = mPlug->ParamCount(); i < n; ++i)
    if (mPlug->TakeEditorValue(i, &value)) SetParameterFromPlug(i, value, true);
}

// ---- Gestures ----

double IGraphics::GestureClockMs()
{
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void IGraphics::BeginPressGesture(int paramIdx)
{
  if (paramIdx < 0) return;
  mPressGesture = paramIdx;
  mPlug->BeginInformHostOfParamChange(paramIdx);
}

void IGraphics::EndPressGesture()
{
  const int paramIdx = mPressGesture;
  if (paramIdx < 0) return;
  mPressGesture = -1;
  mPlug->EndInformHostOfParamChange(paramIdx);
}

void IGraphics::EndWheelGesture()
{
  const int paramIdx = mWheelGesture;
  if (paramIdx < 0) return;
  mWheelGesture = -1;
  mPlug->EndInformHostOfParamChange(paramIdx);
}

void IGraphics::EndGestures()
{
  EndPressGesture();
  EndWheelGesture();
}

bool IGraphics::BeginLoneEdit(int paramIdx)
{
  if (!ParamOf(paramIdx) || InGesture(paramIdx)) return false;
  // Another edit is the next gesture for a wheel turn too.
  EndWheelGesture();
  mPlug->BeginInformHostOfParamChange(paramIdx);
  return true;
}

void IGraphics::EndLoneEdit(int paramIdx)
{
  if (ParamOf(paramIdx)) mPlug->EndInformHostOfParamChange(paramIdx);
}

// ---- A parameter's context menu ----

void IGraphics::ShowParamMenu(int paramIdx, int x, int y)
{
  // The host speaks the view's pixels.
  if (mPlug->PopupParamMenu(paramIdx, ToDevice(x), ToDevice(y), kParamMenuEntries, kNumParamMenuEntries)) return;
  IPopupMenu menu;
  for (const IFxMenuEntry& e : kParamMenuEntries) menu.AddItem(e.text);
  IRECT at(x, y, x + 1, y + 1);
  IPopupMenu* pChosen = CreateIPopupMenu(&menu, &at);
  const int idx = pChosen ? pChosen->GetChosenItemIdx() : -1;
  if (idx >= 0 && idx < kNumParamMenuEntries) OnParamMenuEntry(paramIdx, kParamMenuEntries[idx].id);
}

void IGraphics::OnParamMenuEntry(int paramIdx, int entryId)
{
  IParam* pParam = ParamOf(paramIdx);
  IControl* pControl = nullptr;
  for (IControl* c : mControls)
    if (c->ParamIdx() == paramIdx && !c->IsHidden())
    {
      pControl = c;
      break;
    }
  if (!pParam || !pControl) return;
  if (entryId == kMenuEnterValue)
  {
    const int cx = (int)pControl->GetRECT()->MW(), cy = (int)pControl->GetRECT()->MH();
    IRECT r(cx - kValueEntryW / 2, cy - kValueEntryH / 2, cx + kValueEntryW / 2, cy + kValueEntryH / 2);
    PromptUserInput(pControl, pParam, &r);
    pControl->SetRedraw();
  }
  else if (entryId == kMenuResetToDefault)
  {
    // The parameter's own default: the control's is only the first value it
    // was shown.
    pControl->SetValueFromUserInput(IParam::ClampNormalized(pParam->GetDefaultNormalized()));
  }
}

int IGraphics::GetParamIdxForPTAutomation(int x, int y)
{
  int i = TopmostActiveControlAt(x, y);
  mLastClickedParam = i >= 0 ? mControls[(size_t)i]->ParamIdx() : -1;
  return mLastClickedParam;
}

int IGraphics::GetLastClickedParamForPTAutomation()
{
  int idx = mLastClickedParam;
  mLastClickedParam = -1;
  return idx;
}

// ---- Redraw ----

// The redraw works in device pixels (the draw bitmap's), which at scale 1
// are the layout's own.
bool IGraphics::IsDirty(IRECT* pR)
{
  bool dirty = false;
  for (IControl* c : mControls)
  {
    if (c->IsDirty())
    {
      const IRECT r = ToDevice(*c->GetRECT());
      *pR = pR->Union(&r);
      dirty = true;
    }
  }
  return dirty;
}

void IGraphics::Draw(IRECT* pR)
{
  if (mControls.empty()) return;
  Target();
  if (mStrict)
  {
    mDrawRECT = *pR;
    for (IControl* c : mControls)
    {
      const IRECT r = ToDevice(*c->GetRECT());
      if (!c->IsHidden() && pR->Intersects(&r)) c->Draw(this);
    }
    for (IControl* c : mControls) c->SetClean();
  }
  else
  {
    IControl* pBG = mControls[0];
    if (pBG->IsDirty())
    {
      mDrawRECT = ToDevice(*pBG->GetRECT());
      for (size_t i = 0; i < mControls.size(); ++i)
      {
        IControl* c = mControls[i];
        if (i == 0 || !c->IsHidden()) c->Draw(this);
        c->SetClean();
      }
    }
    else
    {
      for (size_t j = 1; j < mControls.size(); ++j)
      {
        IControl* pJ = mControls[j];
        if (!pJ->IsDirty()) continue;
        mDrawRECT = ToDevice(*pJ->GetRECT());
        for (size_t k = 0; k < mControls.size(); ++k)
        {
          IControl* pK = mControls[k];
          const IRECT r = ToDevice(*pK->GetRECT());
          if (!pK->IsHidden() && (k == j || r.Intersects(&mDrawRECT))) pK->Draw(this);
        }
        pJ->SetClean();
      }
    }
  }
  DrawScreen(pR);
}

// ---- Prompts ----

void IGraphics::PromptUserInput(IControl* pControl, IParam* pParam, IRECT* pTextRect)
{
  if (!pControl || !pParam || !pTextRect) return;
  int type = (int)pParam->GetType();
  int n = pParam->GetNDisplayTexts();
  char currentText[512] = "";

  if (type == kParamTypeEnum || (type == kParamTypeBool && n > 0))
  {
    pParam->GetDisplayForHost(pParam->GetValue(), false, currentText, true);
    IPopupMenu menu;
    for (int i = 0; i < n; ++i)
    {
      const char* str = pParam->GetDisplayText(i);
      IPopupMenuItem* pItem = menu.AddItem(str ? str : "");
      if (str && !std::strcmp(str, currentText)) pItem->SetChecked(true);
    }
    IPopupMenu* pChosen = CreateIPopupMenu(&menu, pTextRect);
    // A menu handed back without a chosen item is a dismissal, not a pick of 0.
    if (pChosen && pChosen->GetChosenItemIdx() >= 0)
      pControl->SetValueFromUserInput(pParam->GetNormalized((double)pChosen->GetChosenItemIdx()));
  }
  else
  {
    // What the host shows, with an ASCII minus, so that it reads back as it is.
    if (const IParamUnit* unit = pParam->GetUnit())
      FormatParamUnit(*unit, pParam->GetValue(), currentText, sizeof(currentText));
    else
      pParam->GetDisplayForHost(pParam->GetValue(), false, currentText, false);
    CreateTextEntry(pControl, pControl->GetText(), pTextRect, currentText, pParam);
  }
}

int IGraphics::TextEntryMaxLength(IControl* pControl, IParam* pParam)
{
  const int length = pControl ? pControl->GetTextEntryLength() : 0;
  return pParam && pParam->GetUnit() ? std::max(length, 16) : length;
}

void IGraphics::SetFromStringAfterPrompt(IControl* pControl, IParam* pParam, const char* txt)
{
  if (!pParam || !pControl) return;
  if (const IParamUnit* unit = pParam->GetUnit())
  {
    IParamUnitReading reading;
    if (ReadParamUnit(*unit, txt, true, &reading) == kParamReadOk)
      pControl->SetValueFromUserInput(pParam->GetNormalized(reading.plain));
    return;
  }
  int type = (int)pParam->GetType();
  double v;
  if (type == kParamTypeBool || type == kParamTypeEnum)
  {
    int vi = 0;
    pParam->MapDisplayText(txt ? txt : "", &vi);
    v = (double)vi;
  }
  else
  {
    v = std::atof(txt ? txt : "");
    if (pParam->IsDisplayNegated()) v = -v;
  }
  pControl->SetValueFromUserInput(pParam->GetNormalized(v));
}

// ---- Window ----

void IGraphics::PrepDraw()
{
  ReleaseDrawBitmap();
  mDrawPrepared = true;
}

void IGraphics::MakeDrawBitmap()
{
  mDrawBitmap = new PxSysBitmap(ToDevice(mWidth), ToDevice(mHeight));
  if (!mTmpBitmap) mTmpBitmap = new PxMemBitmap(0, 0, 4);
}

void IGraphics::ReleaseDrawBitmap()
{
  delete mDrawBitmap;
  delete mTmpBitmap;
  mDrawBitmap = nullptr;
  mTmpBitmap = nullptr;
}

// ---- Content scale ----

double IGraphics::ResolveScale()
{
  const double user = ScaleOverride();
  if (user > 0.0) return ClampScale(user);
  if (mHostScale > 0.0) return ClampScale(mHostScale);
  const double desktop = DesktopScale();
  return ClampScale(desktop > 0.0 ? desktop : 1.0);
}

void IGraphics::ApplyScale(double scale)
{
  mScaleSettled = true;
  if (scale == mScale) return;
  mScale = scale;
  // A drag or an open prompt refers to pixels that no longer exist.
  ReleaseMouseCapture();
  ForceEndUserEdit();
  // The next drawing makes a bitmap of the new size.
  ReleaseDrawBitmap();
  SetAllControlsDirty();
  OnScaleChanged();
}

void IGraphics::SetScale(double scale)
{
  // NaN and infinities are no request at all.
  if (!std::isfinite(scale) || scale <= 0.0) return;
  mHostScale = scale;
  ApplyScale(ResolveScale());
}

double IGraphics::GetScale()
{
  if (!mScaleSettled) ApplyScale(ResolveScale());
  return mScale;
}

int IGraphics::WindowWidth()
{
  GetScale();
  return ToDevice(mWidth);
}

int IGraphics::WindowHeight()
{
  GetScale();
  return ToDevice(mHeight);
}

int IGraphics::ToDevice(int v) const
{
  return mScale == 1.0 ? v : (int)std::lround((double)v * mScale);
}

IRECT IGraphics::ToDevice(const IRECT& r) const
{
  if (mScale == 1.0 || r.Empty()) return r;
  const int l = ToDevice(r.L), t = ToDevice(r.T);
  return IRECT(l, t, l + ToDevice(r.W()), t + ToDevice(r.H()));
}

int IGraphics::ToLayout(int devicePx) const
{
  if (mScale == 1.0) return devicePx;
  return (int)std::floor(((double)devicePx + 0.5) / mScale);
}

void IGraphics::Resize(int w, int h)
{
  mWidth = w;
  mHeight = h;
  ReleaseMouseCapture();
  EndGestures();
  mMouseOver = -1;
  ClearControls();
  PrepDraw();
  if (mPlug) mPlug->ResizeGraphics(w, h);
}
