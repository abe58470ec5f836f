#include "platform/headless/IGraphicsHeadless.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "fx/IFxBase.h"
#include "graphics/IControl.h"
#include "graphics/IPopupMenu.h"
#include "kit/KitString.h"
#include "raster/PxPng.h"

IGraphicsHeadless::IGraphicsHeadless(IFxBase* pPlug, int w, int h, int refreshFPS, const char* resourceDir)
  : IGraphics(pPlug, w, h, refreshFPS), mResourceDir(resourceDir ? resourceDir : "")
{
  // The fonts ship beside the images, so the editor's text is the bundle's too.
  if (!mResourceDir.empty()) GdiSetFontFolder(mResourceDir.c_str());
}

IGraphicsHeadless::~IGraphicsHeadless() {}

bool IGraphicsHeadless::DrawScreen(IRECT* pR)
{
  ++mDrawScreenCount;
  if (pR) mLastScreenRect = *pR;
  return true;
}

void IGraphicsHeadless::ForceEndUserEdit()
{
  // Closing the entry this way drops the text, as a real field would.
  mEntryOpen = false;
}

void IGraphicsHeadless::Resize(int w, int h)
{
  if (w == Width() && h == Height()) return;
  IGraphics::Resize(w, h);
}

int IGraphicsHeadless::ShowMessageBox(const char*, const char*, int)
{
  if (mMessageBoxAnswers.empty()) return 0;
  int answer = mMessageBoxAnswers.front();
  mMessageBoxAnswers.pop_front();
  return answer;
}

IPopupMenu* IGraphicsHeadless::CreateIPopupMenu(IPopupMenu* pMenu, IRECT* pAreaRect)
{
  ReleaseMouseCapture();
  if (!pMenu) return nullptr;
  MenuRequest req;
  req.rect = pAreaRect ? *pAreaRect : IRECT();
  req.checked = -1;
  for (int i = 0; i < pMenu->GetNItems(); ++i)
  {
    req.items.push_back(pMenu->GetItemDisplayText(i).Get());
    if (req.checked < 0 && pMenu->IsItemChecked(i)) req.checked = i;
  }
  mMenus.push_back(req);

  if (mMenuAnswers.empty()) return nullptr;
  int index = mMenuAnswers.front();
  mMenuAnswers.pop_front();
  IPopupMenuItem* pItem = pMenu->GetItem(index);
  // Separators, titles and disabled items cannot be picked.
  if (!pItem || pItem->GetIsSeparator() || pItem->GetIsTitle() || !pItem->GetEnabled()) return nullptr;
  pMenu->SetChosenItemIdx(index);
  return pMenu;
}

void IGraphicsHeadless::CreateTextEntry(IControl* pControl, IText*, IRECT* pTextRect, const char* pString,
                                        IParam* pParam)
{
  if (!pControl || mEntryOpen) return;
  TextEntryRequest req{pControl, pParam, pTextRect ? *pTextRect : IRECT(), pString ? pString : "",
                       TextEntryMaxLength(pControl, pParam)};
  mTextEntries.push_back(req);
  mEntryOpen = true;
  if (!mTextAnswers.empty())
  {
    std::string answer = mTextAnswers.front();
    mTextAnswers.pop_front();
    CommitTextEntry(answer.c_str());
  }
}

void IGraphicsHeadless::CommitTextEntry(const char* text)
{
  if (!mEntryOpen || mTextEntries.empty()) return;
  mEntryOpen = false;
  const TextEntryRequest& req = mTextEntries.back();
  // A parameter entry only takes what fits in the field.
  std::string typed = text ? text : "";
  if (req.param && req.maxLength > 0 && (int)typed.size() > req.maxLength) typed.resize((size_t)req.maxLength);
  if (req.param)
    SetFromStringAfterPrompt(req.control, req.param, typed.c_str());
  else
    req.control->TextFromTextEntry(typed.c_str());
}

void IGraphicsHeadless::HostPath(KitString* pPath)
{
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n < 0) n = 0;
  buf[n] = 0;
  char* slash = std::strrchr(buf, '/');
  if (slash) slash[1] = 0;
  pPath->Set(buf);
}

void IGraphicsHeadless::PluginPath(KitString* pPath)
{
  pPath->Set(mResourceDir.c_str());
}

void IGraphicsHeadless::DesktopPath(KitString* pPath)
{
  const char* home = std::getenv("HOME");
  pPath->Set(home ? home : "");
  pPath->Append("/Desktop");
}

void IGraphicsHeadless::AppSupportPath(KitString* pPath, bool isSystem)
{
  if (isSystem)
  {
    pPath->Set("/etc/xdg");
    return;
  }
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg)
  {
    pPath->Set(xdg);
    return;
  }
  const char* home = std::getenv("HOME");
  pPath->Set(home ? home : "");
  pPath->Append("/.config");
}

void IGraphicsHeadless::SandboxSafeAppSupportPath(KitString* pPath)
{
  AppSupportPath(pPath, false);
}

void IGraphicsHeadless::PromptForFile(KitString* pFilename, EFileAction, KitString*, const char*)
{
  if (!pFilename) return;
  if (mFileAnswers.empty())
  {
    pFilename->Set("");
    return;
  }
  pFilename->Set(mFileAnswers.front().c_str());
  mFileAnswers.pop_front();
}

bool IGraphicsHeadless::PromptForColor(IColor*, const char*)
{
  return false;
}

bool IGraphicsHeadless::OpenURL(const char* url, const char*, const char*, const char*)
{
  // Recorded, never opened: there is nothing to open it with.
  mURLs.push_back(url ? url : "");
  return false;
}

void* IGraphicsHeadless::OpenWindow(void*)
{
  mOpen = true;
  return GetWindow();
}

void IGraphicsHeadless::CloseWindow()
{
  ForceEndUserEdit();
  EndGestures();
  mOpen = false;
}

bool IGraphicsHeadless::GetTextFromClipboard(KitString* pStr)
{
  if (pStr) pStr->Set("");
  return false;
}

PxIBitmap* IGraphicsHeadless::OSLoadBitmap(int, const char* name)
{
  if (!name) return nullptr;
  // The layout names files as "resources/img/x.png"; the folder holds them flat.
  const char* file = std::strrchr(name, '/');
  file = file ? file + 1 : name;
  if (!*file) return nullptr;
  std::string path = mResourceDir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += file;
  // Only the header is read now; the pixels when the image is first drawn.
  return PxPngImage::Open(path.c_str());
}

bool IGraphicsHeadless::Tick(IRECT* pR)
{
  OnGUIIdle();
  IRECT r;
  if (!IsDirty(&r)) return false;
  if (!GetDrawBitmap()) PrepDraw();
  Draw(&r);
  if (pR) *pR = r;
  return true;
}

void IGraphicsHeadless::DrawAll()
{
  if (!GetDrawBitmap()) PrepDraw();
  IRECT r(0, 0, WindowWidth(), WindowHeight());
  Draw(&r);
}

bool RenderEditorToPNG(IFxBase* pPlug, const char* path)
{
  if (!pPlug || !path || !pPlug->GetGraphics()) return false;
  IGraphics* pGraphics = static_cast<IGraphics*>(pPlug->GetGraphics());
  if (!pGraphics->GetDrawBitmap()) pGraphics->PrepDraw();
  // Readouts catch up with what they show (the gain reduction with the
  // meter), as on a timer tick.
  pGraphics->OnGUIIdle();
  IRECT r(0, 0, pGraphics->WindowWidth(), pGraphics->WindowHeight());
  pGraphics->Draw(&r);
  return PxSavePNG(path, (PxIBitmap*)pGraphics->GetDrawBitmap(), true);
}
