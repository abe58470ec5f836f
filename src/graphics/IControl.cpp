#include "graphics/IControl.h"

#include <cmath>
#include <cstring>

#include "fx/IFxBase.h"
#include "fx/IParam.h"

// ---- IControl ----

IControl::IControl(IFxBase* pPlug, IRECT pR, int paramIdx, IChannelBlend::EBlendMethod blendMethod)
  : mPlug(pPlug), mRECT(pR), mTargetRECT(pR), mParamIdx(paramIdx), mBlend(blendMethod)
{
}

IControl::~IControl() {}

IGraphics* IControl::Graphics()
{
  return mPlug ? static_cast<IGraphics*>(mPlug->GetGraphics()) : nullptr;
}

IParam* IControl::GetParam()
{
  if (!mPlug || mParamIdx < 0 || mParamIdx >= mPlug->ParamCount()) return nullptr;
  return mPlug->ParamAt(mParamIdx);
}

void IControl::OnMouseDown(int, int, IMouseMod* pMod)
{
  if (pMod && pMod->R) PromptUserInput();
}

void IControl::OnMouseDblClick(int, int, IMouseMod*)
{
  double def = GetDefaultValue();
  if (def >= 0.0)
  {
    SetValue(def);
    SetDirty(true);
  }
}

void IControl::SetValueFromPlug(double value)
{
  if (GetDefaultValue() < 0.0)
  {
    mDefaultValue.store(value, std::memory_order_release);
    SetValue(value);
  }
  if (GetValue() != value)
  {
    SetValue(value);
    // The meter arrives here every sample frame from the audio thread. When
    // the control is already dirty with redraw-again set and the value needs
    // no clamping, the next two ticks draw the new value anyway: skip the
    // locked flag updates.
    const unsigned both = kFlagDirty | kFlagRedraw;
    if ((mFlags.load(std::memory_order_acquire) & both) == both && value >= mClampLo && value <= mClampHi)
      return;
    // Redraw-again before dirty: a SetClean racing in between then still
    // leaves the control dirty.
    SetRedraw();
    SetDirty(false);
  }
}

void IControl::SetValueFromUserInput(double value)
{
  if (GetValue() != value)
  {
    SetValue(value);
    SetRedraw();
    SetDirty(true);
  }
}

void IControl::Hide(bool hide)
{
  mHide = hide;
  SetRedraw();
  SetDirty(false);
}

void IControl::GrayOut(bool gray)
{
  mGrayed = gray;
  mBlend.mWeight = gray ? 0.25f : 1.0f;
  SetDirty(false);
}

void IControl::SetDirty(bool pushParamToPlug)
{
  double v = GetValue();
  // NaN passes both comparisons; it must not reach the plug-in.
  if (v < mClampLo || v != v)
    v = mClampLo;
  else if (v > mClampHi)
    v = mClampHi;
  SetValue(v);
  mFlags.fetch_or(kFlagDirty, std::memory_order_acq_rel);

  IParam* pParam = pushParamToPlug ? GetParam() : nullptr;
  if (!pParam) return;

  SendEdit(mParamIdx, v);

  if (mValDisplayControl)
  {
    char display[512] = "";
    pParam->GetDisplayForHost(pParam->GetValue(), false, display, true);
    display[32] = 0;
    KitString str(display);
    str.Append(" ");
    str.Append(pParam->GetLabelForHost(), 32);
    mValDisplayControl->SetTextFromPlug(str.Get());
  }
  if (mNameDisplayControl) mNameDisplayControl->SetTextFromPlug(pParam->GetNameForHost());
}

void IControl::SetClean()
{
  unsigned flags = mFlags.load(std::memory_order_acquire);
  while (!mFlags.compare_exchange_weak(flags, (flags & kFlagRedraw) ? kFlagDirty : 0u, std::memory_order_acq_rel))
  {
  }
}

void IControl::SetAuxParamValueFromPlug(int auxParamIdx, double value)
{
  AuxParam* pAux = GetAuxParam(auxParamIdx);
  if (pAux && pAux->mValue != value)
  {
    pAux->mValue = value;
    SetRedraw();
    SetDirty(false);
  }
}

void IControl::AddAuxParam(int paramIdx)
{
  mAuxParams.push_back(AuxParam(paramIdx));
}

int IControl::AuxParamIdx(int paramIdx)
{
  for (size_t i = 0; i < mAuxParams.size(); ++i)
    if (mAuxParams[i].mParamIdx == paramIdx) return (int)i;
  return -1;
}

void IControl::SetAllAuxParamsFromGUI()
{
  if (!mPlug) return;
  for (AuxParam& a : mAuxParams) SendEdit(a.mParamIdx, a.mValue);
}

void IControl::SendEdit(int paramIdx, double value)
{
  // The host must hear it inside a gesture; the editor opens one for an
  // edit that comes outside the press or wheel turn that holds one.
  IGraphics* pGraphics = Graphics();
  const bool lone = pGraphics && pGraphics->BeginLoneEdit(paramIdx);
  mPlug->SetParameterFromGUI(paramIdx, value);
  if (lone) pGraphics->EndLoneEdit(paramIdx);
}

void IControl::PromptUserInput()
{
  IParam* pParam = GetParam();
  IGraphics* pGraphics = Graphics();
  if (!pParam || mDisablePrompt || !pGraphics) return;
  if (pParam->GetNDisplayTexts())
  {
    pGraphics->PromptUserInput(this, pParam, &mRECT);
  }
  else
  {
    int cx = (int)mRECT.MW(), cy = (int)mRECT.MH();
    IRECT txtRECT(cx - 20, cy - 8, cx + 20, cy + 8);
    pGraphics->PromptUserInput(this, pParam, &txtRECT);
  }
  SetRedraw();
}

void IControl::PromptUserInput(IRECT* pTextRect)
{
  IParam* pParam = GetParam();
  IGraphics* pGraphics = Graphics();
  if (!pParam || mDisablePrompt || !pGraphics) return;
  pGraphics->PromptUserInput(this, pParam, pTextRect);
  SetRedraw();
}

// ---- IPanelControl ----

bool IPanelControl::Draw(IGraphics* pGraphics)
{
  pGraphics->FillIRect(&mColor, &mRECT, &mBlend);
  return true;
}

// ---- IBitmapControl and the switches ----

namespace
{
IRECT FrameRect(int x, int y, const IBitmap* pBitmap)
{
  return IRECT(x, y, x + pBitmap->FrameWidth(), y + pBitmap->FrameHeight());
}

// 1-based frame of an N-frame strip for a normalized value, rounded to the nearest step.
int FrameFor(double value, int n)
{
  int k = (int)((double)(n - 1) * value + 0.5);
  if (k < 0) return 1;
  if (k + 1 <= n) return k + 1;
  return n;
}
}  // namespace

IBitmapControl::IBitmapControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                               IChannelBlend::EBlendMethod blendMethod)
  : IControl(pPlug, FrameRect(x, y, pBitmap), paramIdx, blendMethod), mBitmap(*pBitmap)
{
}

int IBitmapControl::FrameForValue() const
{
  return mBitmap.N < 2 ? 1 : FrameFor(GetValue(), mBitmap.N);
}

bool IBitmapControl::Draw(IGraphics* pGraphics)
{
  return pGraphics->DrawBitmap(&mBitmap, &mRECT, FrameForValue(), &mBlend);
}

void ISwitchControl::OnMouseDown(int, int, IMouseMod*)
{
  double step = mBitmap.N > 1 ? 1.0 / (double)(mBitmap.N - 1) : 1.0;
  double v = GetValue() + step;
  if (v > 1.001) v = 0.0;
  SetValue(v);
  SetDirty(true);
}

void ISwitchControl::OnMouseDblClick(int x, int y, IMouseMod* pMod)
{
  ISwitchControl::OnMouseDown(x, y, pMod);
}

void ISwitchPopUpControl::OnMouseDown(int, int, IMouseMod*)
{
  PromptUserInput();
  SetDirty(true);
}

ISwitchFramesControl::ISwitchFramesControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                                           bool imagesAreHorizontal, IChannelBlend::EBlendMethod blendMethod)
  : ISwitchControl(pPlug, x, y, paramIdx, pBitmap, blendMethod)
{
  mDisablePrompt = false;
  int n = mBitmap.N;
  for (int i = 0; i < n; ++i)
  {
    if (imagesAreHorizontal)
    {
      float w = (float)mRECT.W();
      int l = mRECT.L + (int)((float)i * w / (float)n);
      mRECTs.push_back(IRECT(l, mRECT.T, l + (int)(w / (float)n), mRECT.B));
    }
    else
    {
      float h = (float)mRECT.H();
      int t = mRECT.T + (int)((float)i * h / (float)n);
      mRECTs.push_back(IRECT(mRECT.L, t, mRECT.R, t + (int)(h / (float)n)));
    }
  }
}

void ISwitchFramesControl::OnMouseDown(int x, int y, IMouseMod*)
{
  int n = (int)mRECTs.size();
  for (int i = 0; i < n; ++i)
  {
    if (mRECTs[(size_t)i].Contains(x, y))
    {
      // A one-frame strip has a single part; it means the start of the range.
      SetValue(n > 1 ? (double)i / (double)(n - 1) : 0.0);
      break;
    }
  }
  SetDirty(true);
}

void IContactControl::OnMouseUp(int, int, IMouseMod*)
{
  SetValue(0.0);
  SetDirty(true);
}

bool IBitmapOverlayControl::Draw(IGraphics* pGraphics)
{
  if (GetValue() < 0.5)
  {
    mTargetRECT = mTargetArea;
    return true;
  }
  mTargetRECT = mRECT;
  return IBitmapControl::Draw(pGraphics);
}

void IInvisibleSwitchControl::OnMouseDown(int, int, IMouseMod*)
{
  SetValue(GetValue() < 0.5 ? 1.0 : 0.0);
  SetDirty(true);
}

// ---- IRadioButtonsControl ----

IRadioButtonsControl::IRadioButtonsControl(IFxBase* pPlug, IRECT pR, int paramIdx, int nButtons, IBitmap* pBitmap,
                                           EDirection direction, bool reverse)
  : IControl(pPlug, pR, paramIdx), mBitmap(*pBitmap)
{
  int n = nButtons < 1 ? 1 : nButtons;
  int fw = mBitmap.W, fh = mBitmap.H / mBitmap.Frames();
  // One button has no gap to spread.
  int gaps = n > 1 ? n - 1 : 1;
  if (direction == kDirectionHorizontal)
  {
    int s = (int)((double)(mRECT.W() - n * fw) / (double)gaps);
    int x = reverse ? mRECT.R - fw - s : mRECT.L;
    for (int i = 0; i < n; ++i)
    {
      mRECTs.push_back(IRECT(x, mRECT.T, x + fw, mRECT.T + fh));
      x += reverse ? -(fw + s) : (fw + s);
    }
  }
  else
  {
    int s = (int)((double)(mRECT.H() - n * fh) / (double)gaps);
    int y = reverse ? mRECT.B - s - fh : mRECT.T;
    for (int i = 0; i < n; ++i)
    {
      mRECTs.push_back(IRECT(mRECT.L, y, mRECT.L + fw, y + fh));
      y += reverse ? -(fh + s) : (fh + s);
    }
  }
}

void IRadioButtonsControl::OnMouseDown(int x, int y, IMouseMod* pMod)
{
  if (pMod && pMod->R)
  {
    PromptUserInput();
    return;
  }
  int n = (int)mRECTs.size();
  for (int i = 0; i < n; ++i)
  {
    if (mRECTs[(size_t)i].Contains(x, y))
    {
      SetValue(n > 1 ? (double)i / (double)(n - 1) : 0.0);
      break;
    }
  }
  SetDirty(true);
}

bool IRadioButtonsControl::Draw(IGraphics* pGraphics)
{
  int n = (int)mRECTs.size();
  int active = (int)(0.5 + GetValue() * (double)(n - 1));
  active = active < 0 ? 0 : (active > n - 1 ? n - 1 : active);
  for (int i = 0; i < n; ++i) pGraphics->DrawBitmap(&mBitmap, &mRECTs[(size_t)i], i == active ? 2 : 1, &mBlend);
  return true;
}

// ---- IFaderControl ----

IFaderControl::IFaderControl(IFxBase* pPlug, int x, int y, int len, int paramIdx, IBitmap* pBitmap,
                             EDirection direction, bool onlyHandle)
  : IControl(pPlug, IRECT(), paramIdx), mLen(len), mBitmap(*pBitmap), mDirection(direction),
    mOnlyHandle(onlyHandle)
{
  if (direction == kDirectionVertical)
  {
    mHandleHeadroom = mBitmap.H;
    mRECT = mTargetRECT = IRECT(x, y, x + mBitmap.W, y + len);
  }
  else
  {
    mHandleHeadroom = mBitmap.W;
    mRECT = mTargetRECT = IRECT(x, y, x + len, y + mBitmap.H);
  }
}

IRECT IFaderControl::GetHandleRECT(double value) const
{
  if (value < 0.0) value = GetValue();
  IRECT r(mRECT.L, mRECT.T, mRECT.L + mBitmap.W, mRECT.T + mBitmap.H);
  if (mDirection == kDirectionVertical)
  {
    int offs = (int)((double)(mLen - mHandleHeadroom) * (1.0 - value));
    r.T += offs;
    r.B += offs;
  }
  else
  {
    int offs = (int)(value * (double)(mLen - mHandleHeadroom));
    r.L += offs;
    r.R += offs;
  }
  return r;
}

void IFaderControl::OnMouseDown(int x, int y, IMouseMod* pMod)
{
  if (pMod && pMod->R)
  {
    PromptUserInput();
    return;
  }
  SnapToMouse(x, y);
}

void IFaderControl::OnMouseDrag(int x, int y, int, int, IMouseMod*)
{
  SnapToMouse(x, y);
}

void IFaderControl::OnMouseWheel(int, int, IMouseMod* pMod, int delta)
{
  double step = (pMod && (pMod->S || pMod->C)) ? 0.001 : 0.01;
  SetValue(GetValue() + (double)delta * step);
  SetDirty(true);
}

void IFaderControl::SnapToMouse(int x, int y)
{
  int travel = mLen - mHandleHeadroom;
  // A handle as long as the track leaves nothing to move along.
  if (travel <= 0)
  {
    SetDirty(true);
    return;
  }
  if (mDirection == kDirectionVertical)
    SetValue(1.0 - (double)(int)((double)(y - mRECT.T) - (double)mHandleHeadroom / 2.0) / (double)travel);
  else
    SetValue((double)(int)((double)(x - mRECT.L) - (double)mHandleHeadroom / 2.0) / (double)travel);
  SetDirty(true);
}

bool IFaderControl::Draw(IGraphics* pGraphics)
{
  IRECT r = GetHandleRECT();
  return pGraphics->DrawBitmap(&mBitmap, &r, 1, &mBlend);
}

bool IFaderControl::IsHit(int x, int y)
{
  if (mOnlyHandle) return GetHandleRECT().Contains(x, y);
  return mTargetRECT.Contains(x, y);
}

// ---- Knobs ----

void IKnobControl::OnMouseDrag(int, int, int dX, int dY, IMouseMod* pMod)
{
  double gearing = mGearing;
  if (pMod && (pMod->S || pMod->C)) gearing *= 10.0;
  double v = GetValue();
  int extent = mDirection == kDirectionVertical ? mRECT.T - mRECT.B : mRECT.R - mRECT.L;
  // A knob without extent (an image that failed to load) has no drag law.
  if (extent == 0) return;
  if (mDirection == kDirectionVertical)
    v += (double)dY / (double)extent / gearing;
  else
    v += (double)dX / (double)extent / gearing;
  SetValue(v);
  SetDirty(true);
}

void IKnobControl::OnMouseWheel(int, int, IMouseMod* pMod, int delta)
{
  double step = (pMod && (pMod->S || pMod->C)) ? 0.001 : 0.01;
  SetValue(GetValue() + (double)delta * step);
  SetDirty(true);
}

IKnobLineControl::IKnobLineControl(IFxBase* pPlug, IRECT pR, int paramIdx, const IColor* pColor,
                                   double innerRadius, double outerRadius, double minAngle, double maxAngle,
                                   EDirection direction, double gearing)
  : IKnobControl(pPlug, pR, paramIdx, direction, gearing), mColor(*pColor), mMinAngle((float)minAngle),
    mMaxAngle((float)maxAngle), mInnerRadius((float)innerRadius), mOuterRadius((float)outerRadius)
{
  if (mOuterRadius == 0.0f) mOuterRadius = 0.5f * (float)pR.W();
  mBlend = IChannelBlend(IChannelBlend::kBlendCopy);
}

bool IKnobLineControl::Draw(IGraphics* pGraphics)
{
  double angle = mMinAngle + GetValue() * (mMaxAngle - mMinAngle);
  float cx = mRECT.MW(), cy = mRECT.MH();
  float s = (float)std::sin(angle), c = (float)std::cos(angle);
  pGraphics->DrawLine(&mColor, cx + s * mInnerRadius, cy - c * mInnerRadius, cx + s * mOuterRadius,
                      cy - c * mOuterRadius, &mBlend, true);
  return true;
}

IKnobRotaterControl::IKnobRotaterControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                                         double minAngle, double maxAngle, int yOffsetZeroDeg, EDirection direction,
                                         double gearing)
  : IKnobControl(pPlug, IRECT(x, y, x + pBitmap->W, y + pBitmap->H), paramIdx, direction, gearing),
    mBitmap(*pBitmap), mMinAngle(minAngle), mMaxAngle(maxAngle), mYOffset(yOffsetZeroDeg)
{
}

bool IKnobRotaterControl::Draw(IGraphics* pGraphics)
{
  int cx = (mRECT.L + mRECT.R) / 2, cy = (mRECT.T + mRECT.B) / 2;
  double angle = mMinAngle + GetValue() * (mMaxAngle - mMinAngle);
  return pGraphics->DrawRotatedBitmap(&mBitmap, cx, cy, angle, mYOffset, &mBlend);
}

IKnobMultiControl::IKnobMultiControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                                     EDirection direction, double gearing)
  : IKnobControl(pPlug, FrameRect(x, y, pBitmap), paramIdx, direction, gearing), mBitmap(*pBitmap)
{
}

int IKnobMultiControl::FrameForValue() const
{
  return FrameFor(GetValue(), mBitmap.N);
}

bool IKnobMultiControl::Draw(IGraphics* pGraphics)
{
  return pGraphics->DrawBitmap(&mBitmap, &mRECT, FrameForValue(), &mBlend);
}

IKnobRotatingMaskControl::IKnobRotatingMaskControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBase,
                                                   IBitmap* pMask, IBitmap* pTop, double minAngle, double maxAngle,
                                                   EDirection direction, double gearing)
  : IKnobControl(pPlug, IRECT(x, y, x + pBase->W, y + pBase->H), paramIdx, direction, gearing), mBase(*pBase),
    mMask(*pMask), mTop(*pTop), mMinAngle(minAngle), mMaxAngle(maxAngle)
{
}

bool IKnobRotatingMaskControl::Draw(IGraphics* pGraphics)
{
  double angle = mMinAngle + GetValue() * (mMaxAngle - mMinAngle);
  return pGraphics->DrawRotatedMask(&mBase, &mMask, &mTop, mRECT.L, mRECT.T, angle, &mBlend);
}

// ---- Text ----

ITextControl::ITextControl(IFxBase* pPlug, IRECT pR, IText* pText, const char* str)
  : IControl(pPlug, pR), mStr(str ? str : "")
{
  if (pText) mText = *pText;
}

void ITextControl::SetTextFromPlug(const char* str)
{
  if (std::strcmp(mStr.Get(), str ? str : ""))
  {
    SetDirty(false);
    mStr.Set(str ? str : "");
  }
}

bool ITextControl::Draw(IGraphics* pGraphics)
{
  const char* s = mStr.Get();
  if (*s) pGraphics->DrawIText(&mText, s, &mRECT);
  return true;
}

ICaptionControl::ICaptionControl(IFxBase* pPlug, IRECT pR, int paramIdx, IText* pText, bool showParamLabel)
  : ITextControl(pPlug, pR, pText), mShowParamLabel(showParamLabel)
{
  mParamIdx = paramIdx;
}

void ICaptionControl::OnMouseDown(int, int, IMouseMod* pMod)
{
  if (pMod && (pMod->L || pMod->R)) PromptUserInput();
}

void ICaptionControl::OnMouseDblClick(int, int, IMouseMod*)
{
  PromptUserInput();
}

bool ICaptionControl::Draw(IGraphics* pGraphics)
{
  IParam* pParam = GetParam();
  if (pParam)
  {
    char display[512] = "";
    pParam->GetDisplayForHost(pParam->GetValue(), false, display, true);
    mStr.Set(display);
    if (mShowParamLabel)
    {
      mStr.Append(" ");
      mStr.Append(pParam->GetLabelForHost());
    }
  }
  return ITextControl::Draw(pGraphics);
}

// ---- IURLControl ----

IURLControl::IURLControl(IFxBase* pPlug, IRECT pR, const char* url, const char* backupURL,
                         const char* errMsgOnFailure)
  : IControl(pPlug, pR)
{
  KitStrCopy(mURL, url, (int)sizeof(mURL));
  KitStrCopy(mBackupURL, backupURL, (int)sizeof(mBackupURL));
  KitStrCopy(mErrMsg, errMsgOnFailure, (int)sizeof(mErrMsg));
}

void IURLControl::OnMouseDown(int, int, IMouseMod*)
{
  IGraphics* pGraphics = Graphics();
  if (!pGraphics) return;
  bool opened = false;
  if (*mURL) opened = pGraphics->OpenURL(mURL, mErrMsg, nullptr, nullptr);
  if (!opened && *mBackupURL) pGraphics->OpenURL(mBackupURL, mErrMsg, nullptr, nullptr);
}

// ---- IFileSelectorControl ----

IFileSelectorControl::IFileSelectorControl(IFxBase* pPlug, IRECT pR, int paramIdx, IBitmap* pBitmap,
                                           EFileAction action, const char* dir, const char* extensions)
  : IControl(pPlug, pR, paramIdx), mBitmap(*pBitmap), mDir(dir ? dir : ""), mExtensions(extensions ? extensions : ""),
    mFileAction(action)
{
}

void IFileSelectorControl::OnMouseDown(int, int, IMouseMod*)
{
  IGraphics* pGraphics = Graphics();
  if (!mPlug || !pGraphics) return;
  mState = kFSSelecting;
  SetDirty(false);
  pGraphics->PromptForFile(&mFile, mFileAction, &mDir, mExtensions.Get());
  double v = GetValue() + 1.0;
  SetValue(v > 1.0 ? 0.0 : v);
  mState = kFSDone;
  SetDirty(true);
}

bool IFileSelectorControl::Draw(IGraphics* pGraphics)
{
  if (mState == kFSSelecting)
  {
    IRECT r(mRECT.L, mRECT.T, mRECT.R, mRECT.B);
    pGraphics->DrawBitmap(&mBitmap, &r, 0, 0, &mBlend);
  }
  return true;
}

bool IFileSelectorControl::IsDirty()
{
  if (IControl::IsDirty()) return true;
  if (mState == kFSDone)
  {
    mState = kFSNone;
    return true;
  }
  return false;
}

void IFileSelectorControl::GetLastSelectedFileForPlug(KitString* pStr)
{
  if (pStr) pStr->Set(mFile.Get());
}

void IFileSelectorControl::SetLastSelectedFileFromPlug(const char* file)
{
  mFile.Set(file ? file : "");
}
