#pragma once

// Editor controls: the base with value, dirtiness, clamps, hide/gray,
// auxiliary parameters and prompts, and the concrete control classes.

#include <atomic>
#include <vector>

#include "graphics/IGraphicsTypes.h"
#include "graphics/IGraphics.h"
#include "kit/KitString.h"

class IFxBase;
class IParam;
class ITextControl;

class IControl
{
public:
  // One auxiliary parameter a control follows besides its own.
  struct AuxParam
  {
    // Host automation can set it from the audio thread.
    std::atomic<double> mValue{0.0};
    int mParamIdx = -1;
    AuxParam(int idx = -1) : mParamIdx(idx) {}
    AuxParam(const AuxParam& o) : mValue(o.mValue.load()), mParamIdx(o.mParamIdx) {}
    AuxParam& operator=(const AuxParam& o)
    {
      mValue.store(o.mValue.load());
      mParamIdx = o.mParamIdx;
      return *this;
    }
  };

  IControl(IFxBase* pPlug, IRECT pR, int paramIdx = -1,
           IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault);
  virtual ~IControl();

  virtual void OnMouseDown(int x, int y, IMouseMod* pMod);
  virtual void OnMouseUp(int /*x*/, int /*y*/, IMouseMod* /*pMod*/) {}
  virtual void OnMouseDrag(int /*x*/, int /*y*/, int /*dX*/, int /*dY*/, IMouseMod* /*pMod*/) {}
  virtual void OnMouseDblClick(int x, int y, IMouseMod* pMod);
  virtual void OnMouseWheel(int /*x*/, int /*y*/, IMouseMod* /*pMod*/, int /*delta*/) {}
  virtual bool OnKeyDown(int /*x*/, int /*y*/, int /*key*/) { return false; }
  virtual void OnMouseOver(int /*x*/, int /*y*/, IMouseMod* /*pMod*/) {}
  virtual void OnMouseOut() {}
  virtual bool Draw(IGraphics* pGraphics) = 0;
  virtual void SetValueFromPlug(double value);
  virtual void SetValueFromUserInput(double value);
  virtual void TextFromTextEntry(const char* /*txt*/) {}
  virtual void Hide(bool hide);
  virtual void GrayOut(bool gray);
  virtual bool IsHit(int x, int y) { return mTargetRECT.Contains(x, y); }
  virtual void SetDirty(bool pushParamToPlug = true);
  virtual void SetClean();
  virtual bool IsDirty() { return (mFlags.load(std::memory_order_acquire) & kFlagDirty) != 0; }
  virtual void OnGUIIdle() {}
  virtual void SetAuxParamValueFromPlug(int auxParamIdx, double value);

  void PromptUserInput();
  void PromptUserInput(IRECT* pTextRect);

  void AddAuxParam(int paramIdx);
  AuxParam* GetAuxParam(int idx) { return idx >= 0 && idx < NAuxParams() ? &mAuxParams[(size_t)idx] : nullptr; }
  int AuxParamIdx(int paramIdx);
  int NAuxParams() const { return (int)mAuxParams.size(); }
  void SetAllAuxParamsFromGUI();

  int ParamIdx() const { return mParamIdx; }
  IParam* GetParam();
  double GetValue() const { return mValue.load(std::memory_order_acquire); }
  void SetValue(double v) { mValue.store(v, std::memory_order_release); }
  double GetDefaultValue() const { return mDefaultValue.load(std::memory_order_acquire); }
  IRECT* GetRECT() { return &mRECT; }
  IRECT* GetTargetRECT() { return &mTargetRECT; }
  void SetTargetArea(IRECT r) { mTargetRECT = r; }
  IText* GetText() { return &mText; }
  void SetTextEntryLength(int len) { mTextEntryLength = len; }
  int GetTextEntryLength() const { return mTextEntryLength; }
  const IChannelBlend* GetBlend() const { return &mBlend; }
  bool IsHidden() const { return mHide; }
  bool IsGrayed() const { return mGrayed; }
  bool GetRedraw() const { return (mFlags.load(std::memory_order_acquire) & kFlagRedraw) != 0; }
  void SetRedraw() { mFlags.fetch_or(kFlagRedraw, std::memory_order_acq_rel); }
  void Clamp(double lo, double hi) { mClampLo = lo; mClampHi = hi; }
  double GetClampLo() const { return mClampLo; }
  double GetClampHi() const { return mClampHi; }
  void DisablePrompt(bool disable) { mDisablePrompt = disable; }
  bool IsPromptDisabled() const { return mDisablePrompt; }
  void SetDblAsSingleClick(bool v) { mDblAsSingleClick = v; }
  bool GetDblAsSingleClick() const { return mDblAsSingleClick; }
  void SetMOWhenGrayed(bool v) { mMOWhenGreyed = v; }
  bool GetMOWhenGrayed() const { return mMOWhenGreyed; }
  void SetValDisplayControl(ITextControl* p) { mValDisplayControl = p; }
  void SetNameDisplayControl(ITextControl* p) { mNameDisplayControl = p; }
  void SetTooltip(const char* tip) { mTooltip.Set(tip ? tip : ""); }
  const char* GetTooltip() { return mTooltip.Get(); }
  IFxBase* GetPlug() { return mPlug; }

protected:
  IGraphics* Graphics();
  // Sends a value the user set to the plug-in, inside a gesture.
  void SendEdit(int paramIdx, double value);

  int mTextEntryLength = 7;
  IText mText;
  IFxBase* mPlug;
  IRECT mRECT, mTargetRECT;
  int mParamIdx;
  std::vector<AuxParam> mAuxParams;
  // Value, dirty and redraw-again are written from the audio thread too.
  // Dirty and redraw-again share one word so that a redraw finishing on the
  // editor thread cannot wipe out a change the audio thread just flagged.
  static constexpr unsigned kFlagDirty = 1u, kFlagRedraw = 2u;
  std::atomic<double> mValue{0.0};
  std::atomic<double> mDefaultValue{-1.0};
  double mClampLo = 0.0, mClampHi = 1.0;
  std::atomic<unsigned> mFlags{kFlagDirty};
  bool mHide = false, mGrayed = false;
  bool mDisablePrompt = true, mDblAsSingleClick = false, mMOWhenGreyed = false;
  IChannelBlend mBlend;
  ITextControl* mValDisplayControl = nullptr;
  ITextControl* mNameDisplayControl = nullptr;
  KitString mTooltip;
};

// Fills its rectangle with one colour.
class IPanelControl : public IControl
{
public:
  IPanelControl(IFxBase* pPlug, IRECT pR, const IColor* pColor,
                IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : IControl(pPlug, pR, -1, blendMethod), mColor(*pColor) {}
  bool Draw(IGraphics* pGraphics) override;
  IColor* GetColor() { return &mColor; }

protected:
  IColor mColor;
};

// One frame of a film strip chosen by the value; a static picture or an indicator.
class IBitmapControl : public IControl
{
public:
  IBitmapControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                 IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault);
  IBitmapControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap,
                 IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : IBitmapControl(pPlug, x, y, -1, pBitmap, blendMethod) {}
  bool Draw(IGraphics* pGraphics) override;
  IBitmap* GetBitmap() { return &mBitmap; }
  // 1-based frame the value selects.
  int FrameForValue() const;

protected:
  IBitmap mBitmap;
};

// Steps through its frames on each click, wrapping past the last.
class ISwitchControl : public IBitmapControl
{
public:
  ISwitchControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                 IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : IBitmapControl(pPlug, x, y, paramIdx, pBitmap, blendMethod) {}
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* pMod) override;
};

class ISwitchPopUpControl : public ISwitchControl
{
public:
  ISwitchPopUpControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                      IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : ISwitchControl(pPlug, x, y, paramIdx, pBitmap, blendMethod)
  {
    mDisablePrompt = false;
  }
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
};

// Clicking one of N equal parts along the strip selects that frame.
class ISwitchFramesControl : public ISwitchControl
{
public:
  ISwitchFramesControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap, bool imagesAreHorizontal = false,
                       IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  // The second press of a double click chooses the same part again, not
  // the next frame.
  void OnMouseDblClick(int x, int y, IMouseMod* pMod) override { OnMouseDown(x, y, pMod); }
  const std::vector<IRECT>& GetParts() const { return mRECTs; }

protected:
  std::vector<IRECT> mRECTs;
};

// Momentary: back to 0 on release.
class IContactControl : public ISwitchControl
{
public:
  IContactControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                  IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : ISwitchControl(pPlug, x, y, paramIdx, pBitmap, blendMethod) {}
  void OnMouseUp(int x, int y, IMouseMod* pMod) override;
};

// Shown (and hit over its own rectangle) only while on; off, it is hit over a stored area.
class IBitmapOverlayControl : public ISwitchControl
{
public:
  IBitmapOverlayControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap, IRECT pTargetArea,
                        IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : ISwitchControl(pPlug, x, y, paramIdx, pBitmap, blendMethod), mTargetArea(pTargetArea) {}
  IBitmapOverlayControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap, IRECT pTargetArea,
                        IChannelBlend::EBlendMethod blendMethod = IChannelBlend::kBlendDefault)
    : IBitmapOverlayControl(pPlug, x, y, -1, pBitmap, pTargetArea, blendMethod) {}
  bool Draw(IGraphics* pGraphics) override;

protected:
  IRECT mTargetArea;
};

class IInvisibleSwitchControl : public IControl
{
public:
  IInvisibleSwitchControl(IFxBase* pPlug, IRECT pR, int paramIdx)
    : IControl(pPlug, pR, paramIdx, IChannelBlend::kBlendCopy) {}
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  bool Draw(IGraphics*) override { return true; }
};

enum EDirection { kDirectionVertical = 0, kDirectionHorizontal = 1 };

class IRadioButtonsControl : public IControl
{
public:
  IRadioButtonsControl(IFxBase* pPlug, IRECT pR, int paramIdx, int nButtons, IBitmap* pBitmap,
                       EDirection direction = kDirectionVertical, bool reverse = false);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  bool Draw(IGraphics* pGraphics) override;
  const std::vector<IRECT>& GetButtons() const { return mRECTs; }

protected:
  std::vector<IRECT> mRECTs;
  IBitmap mBitmap;
};

class IFaderControl : public IControl
{
public:
  IFaderControl(IFxBase* pPlug, int x, int y, int len, int paramIdx, IBitmap* pBitmap,
                EDirection direction = kDirectionVertical, bool onlyHandle = false);
  int GetLength() const { return mLen; }
  int GetHandleHeadroom() const { return mHandleHeadroom; }
  IRECT GetHandleRECT(double value = -1.0) const;
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* pMod) override;
  void OnMouseWheel(int x, int y, IMouseMod* pMod, int delta) override;
  bool Draw(IGraphics* pGraphics) override;
  bool IsHit(int x, int y) override;
  virtual void SnapToMouse(int x, int y);

protected:
  int mLen, mHandleHeadroom;
  IBitmap mBitmap;
  EDirection mDirection;
  bool mOnlyHandle;
};

// Knobs share the drag and wheel laws; subclasses draw.
class IKnobControl : public IControl
{
public:
  IKnobControl(IFxBase* pPlug, IRECT pR, int paramIdx, EDirection direction = kDirectionVertical,
               double gearing = 4.0)
    : IControl(pPlug, pR, paramIdx), mDirection(direction), mGearing(gearing) {}
  void SetGearing(double gearing) { mGearing = gearing; }
  double GetGearing() const { return mGearing; }
  EDirection GetDirection() const { return mDirection; }
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* pMod) override;
  void OnMouseWheel(int x, int y, IMouseMod* pMod, int delta) override;

protected:
  EDirection mDirection;
  double mGearing;
};

class IKnobLineControl : public IKnobControl
{
public:
  IKnobLineControl(IFxBase* pPlug, IRECT pR, int paramIdx, const IColor* pColor, double innerRadius = 0.0,
                   double outerRadius = 0.0, double minAngle = -0.75 * 3.141592653589793,
                   double maxAngle = 0.75 * 3.141592653589793, EDirection direction = kDirectionVertical,
                   double gearing = 4.0);
  bool Draw(IGraphics* pGraphics) override;

protected:
  IColor mColor;
  float mMinAngle, mMaxAngle, mInnerRadius, mOuterRadius;
};

class IKnobRotaterControl : public IKnobControl
{
public:
  IKnobRotaterControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                      double minAngle = -0.75 * 3.141592653589793, double maxAngle = 0.75 * 3.141592653589793,
                      int yOffsetZeroDeg = 0, EDirection direction = kDirectionVertical, double gearing = 4.0);
  bool Draw(IGraphics* pGraphics) override;

protected:
  IBitmap mBitmap;
  double mMinAngle, mMaxAngle;
  int mYOffset;
};

// A film-strip knob: one frame per step of the value.
class IKnobMultiControl : public IKnobControl
{
public:
  IKnobMultiControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBitmap,
                    EDirection direction = kDirectionVertical, double gearing = 4.0);
  bool Draw(IGraphics* pGraphics) override;
  IBitmap* GetBitmap() { return &mBitmap; }
  int FrameForValue() const;

protected:
  IBitmap mBitmap;
};

class IKnobRotatingMaskControl : public IKnobControl
{
public:
  IKnobRotatingMaskControl(IFxBase* pPlug, int x, int y, int paramIdx, IBitmap* pBase, IBitmap* pMask,
                           IBitmap* pTop, double minAngle = -151.0, double maxAngle = 151.0,
                           EDirection direction = kDirectionVertical, double gearing = 4.0);
  bool Draw(IGraphics* pGraphics) override;

protected:
  IBitmap mBase, mMask, mTop;
  double mMinAngle, mMaxAngle;
};

// One line of text in the control's own text attributes.
class ITextControl : public IControl
{
public:
  ITextControl(IFxBase* pPlug, IRECT pR, IText* pText, const char* str = "");
  void SetTextFromPlug(const char* str);
  void ClearTextFromPlug() { SetTextFromPlug(""); }
  const char* GetTextString() { return mStr.Get(); }
  bool Draw(IGraphics* pGraphics) override;

protected:
  KitString mStr;
};

// Shows its parameter's display text (and label) and prompts for a value.
class ICaptionControl : public ITextControl
{
public:
  ICaptionControl(IFxBase* pPlug, IRECT pR, int paramIdx, IText* pText, bool showParamLabel = true);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* pMod) override;
  bool Draw(IGraphics* pGraphics) override;

protected:
  bool mShowParamLabel;
};

class IURLControl : public IControl
{
public:
  IURLControl(IFxBase* pPlug, IRECT pR, const char* url, const char* backupURL = nullptr,
              const char* errMsgOnFailure = nullptr);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  bool Draw(IGraphics*) override { return true; }

protected:
  char mURL[512], mBackupURL[512], mErrMsg[512];
};

class IFileSelectorControl : public IControl
{
public:
  enum EFileSelectorState { kFSNone = 0, kFSSelecting = 1, kFSDone = 2 };

  IFileSelectorControl(IFxBase* pPlug, IRECT pR, int paramIdx, IBitmap* pBitmap, EFileAction action,
                       const char* dir = "", const char* extensions = "");
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  bool Draw(IGraphics* pGraphics) override;
  bool IsDirty() override;
  void GetLastSelectedFileForPlug(KitString* pStr);
  void SetLastSelectedFileFromPlug(const char* file);
  EFileSelectorState GetState() const { return mState; }

protected:
  IBitmap mBitmap;
  KitString mFile, mDir, mExtensions;
  EFileAction mFileAction;
  EFileSelectorState mState = kFSNone;
};
