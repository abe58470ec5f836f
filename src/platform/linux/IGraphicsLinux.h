#pragma once

// The editor host on Linux: an X11 child window inside the host's window,
// driven by the host's run loop (its file-descriptor watch and timer). It
// copies the editor's raster to the window, turns X events into editor
// events, and supplies text entry, pop-up menus, message boxes, file
// prompts, URL opening, the clipboard and the usual folders.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "graphics/IEditorRunLoop.h"
#include "graphics/IGraphics.h"

// Connections of the editor host: X errors on them are expected (a host may
// destroy its window first) and are swallowed; other connections keep the
// error handler they had. Every connection opened here is added while open.
void IGraphicsLinuxAddOwnDisplay(void* pDisplay);
void IGraphicsLinuxRemoveOwnDisplay(void* pDisplay);
// Blocks until the connection has an event or the time is up; for the
// modal loops of menus and dialogs.
bool IGraphicsLinuxWaitForEvent(void* pDisplay, int timeoutMs);

class IGraphicsLinux : public IGraphics, private IEditorRunLoopClient
{
public:
  // resourceDir: where OSLoadBitmap finds images, by file name.
  IGraphicsLinux(IFxBase* pPlug, int w, int h, int refreshFPS = 0, const char* resourceDir = "");
  ~IGraphicsLinux() override;

  using IGraphics::OpenWindow;

  bool DrawScreen(IRECT* pR) override;
  void ForceEndUserEdit() override;
  void Resize(int w, int h) override;
  const char* GetGUIAPI() override { return "X11 GUI"; }
  int ShowMessageBox(const char* pText, const char* pCaption, int type) override;
  IPopupMenu* CreateIPopupMenu(IPopupMenu* pMenu, IRECT* pAreaRect) override;
  void CreateTextEntry(IControl* pControl, IText* pText, IRECT* pTextRect, const char* pString,
                       IParam* pParam) override;
  void HostPath(KitString* pPath) override;
  void PluginPath(KitString* pPath) override;
  void DesktopPath(KitString* pPath) override;
  void AppSupportPath(KitString* pPath, bool isSystem = false) override;
  void SandboxSafeAppSupportPath(KitString* pPath) override;
  void PromptForFile(KitString* pFilename, EFileAction action = kFileOpen, KitString* pDir = nullptr,
                     const char* extensions = "") override;
  bool PromptForColor(IColor*, const char* = "") override { return false; }
  bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
               const char* errMsgOnFailure = nullptr) override;
  // parent: the host's X11 window id.
  void* OpenWindow(void* pParentView) override;
  void CloseWindow() override;
  void* GetWindow() override;
  bool GetTextFromClipboard(KitString* pStr) override;
  void HideMouseCursor() override;
  void ShowMouseCursor() override;
  void UpdateTooltips() override;
  PxIBitmap* OSLoadBitmap(int ID, const char* name) override;

  // The user's scale from TAVLO_UI_SCALE (0 when unset or not a number).
  static double ScaleFromEnvironment();
  // dpi / 96 to the nearest quarter from an X resource string holding
  // "Xft.dpi: <dpi>"; 0 when there is none.
  static double ScaleFromXResources(const char* resources);

  // ---- For automation and tests ----
  unsigned long XWindowId() const { return mWindow; }
  bool IsTextEntryOpen() const { return mEntry.open; }
  const std::string& TextEntryString() const { return mEntry.text; }
  bool IsMenuOpen() const { return mMenuOpen.load(); }
  bool IsMessageBoxOpen() const { return mMessageBoxOpen.load(); }
  // Screen rectangle of item `item` of the open menu level `level` (0 the
  // top menu); false when there is none. Safe from another thread.
  bool MenuItemScreenRect(int level, int item, IRECT* pR);
  // Screen rectangle of button `index` of the open message box.
  bool MessageBoxButtonScreenRect(int index, IRECT* pR);
  bool IsMouseCursorHidden() const { return mCursorHidden; }
  // Redraw timer period the window asked the host for, in milliseconds.
  int TimerPeriodMs() const;

  // Whether the tooltip window is showing.
  bool IsTooltipShown();

  // Maps an X key symbol to the editor's key code, or -1.
  static int KeySymToEditorKey(unsigned long keysym);

protected:
  double ScaleOverride() override { return ScaleFromEnvironment(); }
  // The X server's Xft.dpi, read once per editor.
  double DesktopScale() override;
  void OnScaleChanged() override;

private:
  struct TextEntry
  {
    bool open = false;
    unsigned long window = 0;
    IControl* control = nullptr;
    IParam* param = nullptr;
    IRECT rect;
    std::string text;
    std::string allowed;  // empty: anything printable
    int maxLength = 0;
    size_t caret = 0;
    // The text the field opened with is selected: the first character
    // typed, Backspace or Delete replaces it, as in any native field.
    bool selected = false;
    int size = 10;
    int align = 1;
    std::string face;
    unsigned fg = 0, bg = 0;
    // Who had the keyboard before the field took it.
    unsigned long prevFocus = 0;
    int prevRevert = 0;
  };
  // The last key handed on to the host's window.
  struct HandedKey
  {
    unsigned long time = 0;
    unsigned keycode = 0, state = 0;
  };

  void OnRunLoopFd(int fd) override;
  void OnRunLoopTimer() override;

  void PumpEvents();
  void HandleEvent(void* pXEvent);
  void Tick();
  void HandleButtonPress(void* pXEvent);
  void HandleKey(void* pXEvent);
  // Text entry
  bool EntryKey(unsigned long keysym, const char* chars, int nChars);
  void EntryApply();
  void EntryClose();
  void EntryPaint();
  // Fills what part of a window area lies beyond the editor.
  void PaintSurround(const IRECT& area);
  // Puts pixels of a bitmap on a window.
  void PutBitmap(unsigned long window, PxIBitmap* pBitmap, int x, int y, int w, int h);

  std::string mResourceDir;
  void* mDisplay = nullptr;  // Display*, open while the window is
  unsigned long mWindow = 0;
  unsigned long mParent = 0;  // the host's window
  bool mWindowGone = false;   // destroyed with the host's window
  unsigned long mColormap = 0;
  void* mVisual = nullptr;
  void* mGC = nullptr;
  IEditorRunLoop* mRunLoop = nullptr;  // the one the window registered with
  int mTimerMs = 0;
  int mPrevX = 0, mPrevY = 0;
  unsigned long mLastPressTime = 0;
  int mLastPressX = -100, mLastPressY = -100;
  int mClickCount = 0;
  int mMultiClickMs = 400;
  unsigned long mBlankCursor = 0;
  bool mCursorHidden = false;
  int mHiddenX = -1, mHiddenY = -1;
  TextEntry mEntry;
  HandedKey mHandedKey;
  std::atomic<bool> mMenuOpen{false}, mMessageBoxOpen{false};
  std::mutex mAutomationMutex;
  std::vector<std::vector<IRECT>> mMenuItemRects;  // per level, screen coordinates
  std::vector<IRECT> mMessageBoxButtons;
  struct Tip
  {
    IRECT rect;
    std::string text;
  };
  std::vector<Tip> mTips;
  unsigned long mTipWindow = 0;
  int mTipIndex = -1, mTipTicks = 0;

  friend class LinuxPopupMenu;
  friend class LinuxMessageBox;
};
