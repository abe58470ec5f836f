#pragma once

// The platform-neutral editor: control list, redraw, event dispatch,
// parameter linkage, prompts and the drawing primitives controls call.
// A platform layer derives from it and supplies the window-system operations.

#include <vector>

#include "fx/IFxEditor.h"
#include "graphics/IGraphicsTypes.h"

class IFxBase;
class IParam;
class IControl;
class IPopupMenu;
class KitString;
class PxIBitmap;
class PxMemBitmap;
class PxSysBitmap;
class PxCachedFont;
class IEditorRunLoop;

enum EFileAction { kFileOpen = 0, kFileSave = 1 };

class IGraphics : public IFxEditor
{
public:
  IGraphics(IFxBase* pPlug, int w, int h, int refreshFPS = 0);
  virtual ~IGraphics();

  // ---- Platform operations and overridable behaviour, in slot order ----
  virtual bool DrawScreen(IRECT* pR) = 0;
  virtual bool MeasureIText(IText* pTxt, const char* str, IRECT* pR);
  virtual void ForceEndUserEdit() = 0;
  virtual void Resize(int w, int h);
  virtual bool WindowIsOpen() { return GetWindow() != nullptr; }
  virtual const char* GetGUIAPI() { return ""; }
  virtual int ShowMessageBox(const char* pText, const char* pCaption, int type) = 0;
  // Shows the menu modally; returns the menu with its chosen index set, or null.
  virtual IPopupMenu* CreateIPopupMenu(IPopupMenu* pMenu, IRECT* pAreaRect) = 0;
  virtual void CreateTextEntry(IControl* pControl, IText* pText, IRECT* pTextRect, const char* pString,
                               IParam* pParam) = 0;
  virtual void HostPath(KitString* pPath) = 0;
  virtual void PluginPath(KitString* pPath) = 0;
  virtual void DesktopPath(KitString* pPath) = 0;
  virtual void AppSupportPath(KitString* pPath, bool isSystem = false) = 0;
  virtual void SandboxSafeAppSupportPath(KitString* pPath) = 0;
  virtual void PromptForFile(KitString* pFilename, EFileAction action = kFileOpen, KitString* pDir = nullptr,
                             const char* extensions = "") = 0;
  virtual bool PromptForColor(IColor* pColor, const char* prompt = "") = 0;
  virtual bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
                       const char* errMsgOnFailure = nullptr) = 0;
  virtual void* OpenWindow(void* pParentView) = 0;
  virtual void* OpenWindow(void* /*pParentWnd*/, void* /*pParentControl*/, short /*leftOffset*/,
                           short /*topOffset*/) { return nullptr; }
  virtual void AttachSubWindow(void* /*hostWindow*/) {}
  virtual void RemoveSubWindow() {}
  virtual void CloseWindow() = 0;
  virtual void* GetWindow() = 0;
  virtual bool GetTextFromClipboard(KitString* pStr) = 0;
  virtual void HideMouseCursor() {}
  virtual void ShowMouseCursor() {}
  virtual void UpdateTooltips() = 0;
  // Decodes an image resource into a new raster, or returns null.
  virtual PxIBitmap* OSLoadBitmap(int ID, const char* name) = 0;

  // ---- Layout ----
  IBitmap LoadIBitmap(int ID, const char* name, int nStates = 1, bool framesAreHorizontal = false);
  // Images the process holds for its editors, loaded or derived; they stay
  // for every later editor.
  static int CachedImageCount();
  void AttachBackground(int ID, const char* name);
  void AttachPanelBackground(const IColor* pColor);
  int AttachControl(IControl* pControl);
  void AttachKeyCatcher(IControl* pControl);
  IControl* GetControl(int idx) { return idx >= 0 && idx < NControls() ? mControls[(size_t)idx] : nullptr; }
  int NControls() const { return (int)mControls.size(); }
  IControl* GetKeyCatcher() { return mKeyCatcher; }

  void HideControl(int paramIdx, bool hide);
  void GrayOutControl(int paramIdx, bool gray);
  void ClampControl(int paramIdx, double lo, double hi, bool normalized);
  void AssignParamNameToolTips();
  void SetStrictDrawing(bool strict);
  bool GetStrictDrawing() const { return mStrict; }
  // What a window larger than the editor shows around it (a host may make
  // it so); the panel background's colour, black by default.
  void SetSurroundColor(const IColor& color) { mSurroundColor = color; }
  const IColor& GetSurroundColor() const { return mSurroundColor; }
  void HandleMouseOver(bool canHandle) { mHandleMouseOver = canHandle; }
  bool CanHandleMouseOver() const { return mHandleMouseOver; }
  void EnableTooltips(bool enable) { mEnableTooltips = enable; }
  bool TooltipsEnabled() const { return mEnableTooltips; }

  // ---- Parameter linkage ----
  void SetParameterFromPlug(int paramIdx, double value, bool normalized) override;
  void SetControlFromPlug(int controlIdx, double normalizedValue) override;
  void SetParameterFromGUI(int paramIdx, double normalizedValue);
  void SetAllControlsDirty();

  // ---- Events ----
  void OnMouseDown(int x, int y, IMouseMod* pMod);
  void OnMouseUp(int x, int y, IMouseMod* pMod);
  void OnMouseDrag(int x, int y, IMouseMod* pMod);
  bool OnMouseDblClick(int x, int y, IMouseMod* pMod);
  void OnMouseWheel(int x, int y, IMouseMod* pMod, int delta);
  bool OnMouseOver(int x, int y, IMouseMod* pMod);
  void OnMouseOut();
  bool OnKeyDown(int x, int y, int key);
  void OnGUIIdle();
  void ReleaseMouseCapture();
  int GetMouseControlIdx(int x, int y, bool mo = false);
  int GetMouseCapture() const { return mMouseCapture; }
  int GetMouseOver() const { return mMouseOver; }
  int GetMouseX() const { return mMouseX; }
  int GetMouseY() const { return mMouseY; }
  int GetParamIdxForPTAutomation(int x, int y);
  int GetLastClickedParamForPTAutomation();

  // ---- Gestures ----
  // The host hears every edit the editor makes between one begin and one end
  // for its parameter (touch and latch automation are recorded from them). A
  // press opens a gesture that its release ends; a wheel turn is one gesture,
  // ended after kWheelGesturePauseMs without a step or by the next other
  // gesture; an edit made outside both (a double click's reset, a typed value)
  // is a gesture of its own.
  static constexpr int kWheelGesturePauseMs = 500;
  // Ends every open gesture: the window closes, the controls go away.
  void EndGestures();
  // Whether a gesture is open for the parameter.
  bool InGesture(int paramIdx) const
  {
    return paramIdx >= 0 && (paramIdx == mPressGesture || paramIdx == mWheelGesture);
  }
  // Around an edit a control sends: outside every gesture the edit gets one
  // of its own, which the caller ends with EndLoneEdit when this says true.
  bool BeginLoneEdit(int paramIdx);
  void EndLoneEdit(int paramIdx);

  // ---- Redraw ----
  bool IsDirty(IRECT* pR);
  void Draw(IRECT* pR);

  // ---- Prompts ----
  // A parameter with a unit record shows its value in that unit ("5.0 ms")
  // and reads typed text with ReadParamUnit (a bare number in the unit
  // shown); text that is no value changes nothing.
  void PromptUserInput(IControl* pControl, IParam* pParam, IRECT* pTextRect);
  void SetFromStringAfterPrompt(IControl* pControl, IParam* pParam, const char* txt);
  // How many characters a text entry over the control takes: room for a
  // value with its unit when the parameter has one.
  static int TextEntryMaxLength(IControl* pControl, IParam* pParam);

  // ---- A parameter's context menu ----
  // A right click on a control bound to a parameter asks the host for its
  // menu for that parameter (VST 3 hosts add their automation items) with
  // these entries of the editor's own; a host that offers none gets them
  // shown alone.
  enum EParamMenuEntry
  {
    kMenuEnterValue = 1,     // a text entry over the control
    kMenuResetToDefault = 2  // the parameter's default, as one gesture
  };
  void OnParamMenuEntry(int paramIdx, int entryId) override;

  // ---- Window ----
  void PrepDraw() override;
  // The layout's size: controls, events and Resize speak in these pixels.
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }

  // ---- Content scale ----
  // The editor is drawn at its layout size times its scale. SetScale is the
  // host's request (a VST 3 content scale factor, an LV2 scale factor),
  // clamped to 1..3; the platform may let the user override it and supplies
  // the starting scale when no host asks (see ScaleOverride, DesktopScale).
  // A change redraws the whole editor at the new size and lets the platform
  // resize its window. Call on the editor's thread.
  void SetScale(double scale);
  // The scale in use; the first call settles the starting scale.
  double GetScale();
  // The window's size in device pixels at the scale in use.
  int WindowWidth();
  int WindowHeight();
  // Layout coordinate of a device pixel (its centre), for x and y alike.
  int ToLayout(int devicePx) const;
  // Where a layout rectangle lands in device pixels. Sizes are rounded apart
  // from positions, so that every control drawing one frame of a strip gets
  // the same device size as the strip's scaled frame.
  IRECT ToDevice(const IRECT& r) const;
  // Device pixels of a layout length or coordinate.
  int ToDevice(int v) const;
  int FPS() const { return mFPS; }
  IFxBase* GetPlug() { return mPlug; }
  IRECT* GetDrawRect() { return &mDrawRECT; }
  // The host's event loop for the next OpenWindow; set by the plug-in
  // binding, not owned. Window hosts that need none ignore it.
  void SetHostRunLoop(IEditorRunLoop* pLoop) { mHostRunLoop = pLoop; }
  IEditorRunLoop* GetHostRunLoop() const { return mHostRunLoop; }

  // ---- Drawing primitives (into the draw bitmap) ----
  bool DrawBitmap(IBitmap* pBitmap, IRECT* pDest, int srcX, int srcY, const IChannelBlend* pBlend = nullptr);
  bool DrawBitmap(IBitmap* pBitmap, IRECT* pDest, int frame = 1, const IChannelBlend* pBlend = nullptr);
  bool DrawRotatedBitmap(IBitmap* pBitmap, int destCtrX, int destCtrY, double angle, int yOffsetZeroDeg = 0,
                         const IChannelBlend* pBlend = nullptr);
  bool DrawRotatedMask(IBitmap* pBase, IBitmap* pMask, IBitmap* pTop, int x, int y, double angle,
                       const IChannelBlend* pBlend = nullptr);
  bool DrawPoint(const IColor* pColor, float x, float y, const IChannelBlend* pBlend = nullptr,
                 bool antiAlias = false);
  bool ForcePixel(const IColor* pColor, int x, int y);
  bool DrawLine(const IColor* pColor, float x1, float y1, float x2, float y2,
                const IChannelBlend* pBlend = nullptr, bool antiAlias = false);
  bool DrawArc(const IColor* pColor, float cx, float cy, float r, float minAngle, float maxAngle,
               const IChannelBlend* pBlend = nullptr, bool antiAlias = false);
  bool DrawCircle(const IColor* pColor, float cx, float cy, float r, const IChannelBlend* pBlend = nullptr,
                  bool antiAlias = false);
  bool RoundRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend, int cornerradius, bool aa);
  bool FillRoundRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend, int cornerradius, bool aa);
  bool FillIRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend = nullptr);
  bool FillCircle(const IColor* pColor, int cx, int cy, float r, const IChannelBlend* pBlend = nullptr,
                  bool antiAlias = false);
  bool FillTriangle(const IColor* pColor, int x1, int y1, int x2, int y2, int x3, int y3,
                    const IChannelBlend* pBlend = nullptr);
  bool FillIConvexPolygon(const IColor* pColor, int* x, int* y, int npoints, const IChannelBlend* pBlend = nullptr);
  IColor GetPoint(int x, int y);
  bool DrawVerticalLine(const IColor* pColor, int xi, int yLo, int yHi);
  bool DrawHorizontalLine(const IColor* pColor, int yi, int xLo, int xHi);
  bool DrawRect(const IColor* pColor, IRECT* pR);
  bool DrawVerticalLine(const IColor* pColor, IRECT* pR, float x);
  bool DrawHorizontalLine(const IColor* pColor, IRECT* pR, float y);
  bool DrawRadialLine(const IColor* pColor, float cx, float cy, float angle, float rMin, float rMax,
                      const IChannelBlend* pBlend = nullptr, bool antiAlias = false);
  bool DrawIText(IText* pTxt, const char* str, IRECT* pR, bool measure = false);
  void* GetBits();
  // Null until PrepDraw; made (at the scale in use) when first needed.
  PxSysBitmap* GetDrawBitmap() { return Target(); }

  // ---- Caches and bitmap utilities ----
  PxCachedFont* CacheFont(IText* pTxt);
  void RetainBitmap(IBitmap* pBitmap);
  void ReleaseBitmap(IBitmap* pBitmap);
  IBitmap ScaleBitmap(IBitmap* pSrcBitmap, int destW, int destH);
  IBitmap CropBitmap(IBitmap* pSrcBitmap, IRECT* pR);

protected:
  // The user's scale, which wins over the host's (0 when none is set).
  virtual double ScaleOverride() { return 0.0; }
  // The scale to start from when the host never sets one.
  virtual double DesktopScale() { return 1.0; }
  // The draw bitmap already has the new size; a window should follow.
  virtual void OnScaleChanged() {}
  // Frees the draw bitmap while nothing shows it (a closed window); the next
  // drawing makes a new one, and every control must then be drawn again.
  void ReleaseDrawBitmap();
  // Milliseconds on a steady clock, for the wheel's pause.
  virtual double GestureClockMs();
  // Drops open gestures without telling the plug-in: it is going away.
  void ForgetGestures() { mPressGesture = mWheelGesture = -1; }

  IFxBase* mPlug;
  // Bound to a parameter below the plug-in's count; -1 when not.
  int ControlParamIdx(IControl* pControl);
  IParam* ParamOf(int paramIdx);

private:
  void ClearControls();
  int TopmostActiveControlAt(int x, int y);
  // Shows the values the host set since the last tick.
  void TakePlugValues();
  void ShowParamMenu(int paramIdx, int x, int y);
  void BeginPressGesture(int paramIdx);
  void EndPressGesture();
  void EndWheelGesture();
  void ApplyScale(double scale);
  double ResolveScale();
  // Frame `frame` (0-based) of a bitmap blitted into the device rectangle
  // dest, starting (offX, offY) device pixels inside the frame.
  void DrawScaledFrame(IBitmap* pBitmap, const IRECT& dest, int frame, int offX, int offY,
                       const IChannelBlend* pBlend);
  bool DrawTextInDevice(IText* pTxt, const char* str, IRECT* pR, bool measure);
  float Sc(float v) const { return v * (float)mScale; }
  // The draw bitmap, made on first use after PrepDraw: an instance whose
  // editor is never shown (a host's scan, an offline render) never pays for it.
  PxSysBitmap* Target()
  {
    if (!mDrawBitmap && mDrawPrepared) MakeDrawBitmap();
    return mDrawBitmap;
  }
  void MakeDrawBitmap();

  int mWidth, mHeight, mFPS;
  std::vector<IControl*> mControls;
  PxSysBitmap* mDrawBitmap = nullptr;
  bool mDrawPrepared = false;
  PxMemBitmap* mTmpBitmap = nullptr;
  IRECT mDrawRECT;
  int mMouseCapture = -1, mMouseOver = -1, mMouseX = 0, mMouseY = 0, mLastClickedParam = -1;
  bool mHandleMouseOver = false, mStrict = true, mEnableTooltips = false;
  IControl* mKeyCatcher = nullptr;
  IEditorRunLoop* mHostRunLoop = nullptr;
  IColor mSurroundColor = IColor(255, 0, 0, 0);
  // Parameters of the open press and wheel gestures; -1 when none.
  int mPressGesture = -1, mWheelGesture = -1;
  double mLastWheelMs = 0.0;
  double mScale = 1.0;      // in use
  double mHostScale = 0.0;  // what the host asked for; 0 never asked
  bool mScaleSettled = false;
};

// Defined by the module that shows a plug-in's editor (a bundle with its
// window system): the plug-in's editor laid out and ready to attach, or
// null when it has none. Tools and tests make off-screen editors instead.
IGraphics* MakeEditor(IFxBase* pPlug);
