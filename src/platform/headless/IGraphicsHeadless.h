#pragma once

// An editor host without a display: images come from a resource folder,
// nothing is shown, the scale is whatever SetScale was given (no desktop,
// no user override), and text entries, menus, message boxes and file prompts
// are answered from queues a test (or a snapshot tool) fills beforehand.

#include <deque>
#include <string>
#include <vector>

#include "graphics/IGraphics.h"

class IGraphicsHeadless : public IGraphics
{
public:
  // resourceDir: where OSLoadBitmap looks for images, by file name.
  IGraphicsHeadless(IFxBase* pPlug, int w, int h, int refreshFPS = 0, const char* resourceDir = "");
  ~IGraphicsHeadless() override;

  using IGraphics::OpenWindow;

  bool DrawScreen(IRECT* pR) override;
  void ForceEndUserEdit() override;
  void Resize(int w, int h) override;
  const char* GetGUIAPI() override { return "Headless"; }
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
  bool PromptForColor(IColor* pColor, const char* prompt = "") override;
  bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
               const char* errMsgOnFailure = nullptr) override;
  void* OpenWindow(void* pParentView) override;
  void CloseWindow() override;
  void* GetWindow() override { return mOpen ? (void*)this : nullptr; }
  bool GetTextFromClipboard(KitString* pStr) override;
  void UpdateTooltips() override {}
  PxIBitmap* OSLoadBitmap(int ID, const char* name) override;

  // ---- What a test drives and inspects ----

  // One timer tick: the controls' idle call, then the dirty area collected
  // and repainted. Returns whether anything was drawn and, through pR, the
  // area (device pixels).
  bool Tick(IRECT* pR = nullptr);
  // Repaints the whole editor.
  void DrawAll();

  // The next text entry is committed with this text (as if typed and confirmed).
  void QueueTextEntry(const char* text) { mTextAnswers.push_back(text ? text : ""); }
  // The next pop-up menu returns this item index; a negative index dismisses it.
  void QueueMenuChoice(int index) { mMenuAnswers.push_back(index); }
  void QueueMessageBoxAnswer(int answer) { mMessageBoxAnswers.push_back(answer); }
  // The next file prompt selects this path.
  void QueueFile(const char* path) { mFileAnswers.push_back(path ? path : ""); }

  // A text entry opened with nothing queued stays open until one of these.
  bool IsTextEntryOpen() const { return mEntryOpen; }
  void CommitTextEntry(const char* text);

  struct TextEntryRequest
  {
    IControl* control;
    IParam* param;
    IRECT rect;
    std::string text;
    int maxLength;
  };
  struct MenuRequest
  {
    IRECT rect;
    std::vector<std::string> items;  // as shown, numbering prefix included
    int checked;                     // first checked item, or -1
  };
  const std::vector<TextEntryRequest>& TextEntries() const { return mTextEntries; }
  const std::vector<MenuRequest>& Menus() const { return mMenus; }
  const std::vector<std::string>& OpenedURLs() const { return mURLs; }
  int DrawScreenCount() const { return mDrawScreenCount; }
  IRECT LastScreenRect() const { return mLastScreenRect; }

private:
  std::string mResourceDir;
  bool mOpen = false;
  bool mEntryOpen = false;
  int mDrawScreenCount = 0;
  IRECT mLastScreenRect;
  std::deque<std::string> mTextAnswers, mFileAnswers;
  std::deque<int> mMenuAnswers, mMessageBoxAnswers;
  std::vector<TextEntryRequest> mTextEntries;
  std::vector<MenuRequest> mMenus;
  std::vector<std::string> mURLs;
};

// Draws the whole editor attached to the plug-in (after the controls' idle
// call, as a timer tick would) and writes it as a PNG.
// False when the plug-in has no editor or the file cannot be written.
bool RenderEditorToPNG(IFxBase* pPlug, const char* path);
