#include "platform/linux/IGraphicsLinux.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "fx/IParam.h"
#include "graphics/IControl.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxVector.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace
{

Display* Dpy(void* p) { return static_cast<Display*>(p); }

// The selected text of a field, the same blue as a highlighted menu item.
constexpr unsigned kEntrySelection = 0xFF3A6EA5u;

}  // namespace

// ---------------------------------------------------------------------------
// Text entry: X has no native field, so this is a small one of our own.

void IGraphicsLinux::CreateTextEntry(IControl* pControl, IText* pText, IRECT* pTextRect, const char* pString,
                                     IParam* pParam)
{
  if (!pControl || !pTextRect || mEntry.open || !mDisplay) return;
  const IRECT r = ToDevice(*pTextRect);
  if (r.W() <= 0 || r.H() <= 0) return;

  TextEntry& e = mEntry;
  e = TextEntry();
  e.control = pControl;
  e.param = pParam;
  e.rect = r;
  e.text = pString ? pString : "";
  const IText t = pText ? *pText : IText();
  e.size = std::max(1, (int)(t.mSize * 0.9 * GetScale()));
  e.align = t.mAlign;
  e.face = t.mFont;
  e.fg = t.mTextEntryFGColor.Pixel() | 0xFF000000u;
  e.bg = t.mTextEntryBGColor.Pixel() | 0xFF000000u;
  if (pParam && pParam->GetUnit())
  {
    // A value with its unit ("-3 dB", "0.08 kHz"): anything printable, and
    // the reading decides.
    e.maxLength = TextEntryMaxLength(pControl, pParam);
  }
  else if (pParam)
  {
    switch (pParam->GetType())
    {
      case IParam::kTypeBool:
      case IParam::kTypeInt:
      case IParam::kTypeEnum: e.allowed = "0123456789-+"; break;
      case IParam::kTypeDouble: e.allowed = "0123456789.-+"; break;
      default: e.allowed = "\x01"; break;  // nothing can be typed
    }
    e.maxLength = pControl->GetTextEntryLength();
  }
  e.caret = e.text.size();
  // A value field opens on the value, selected, to be typed over.
  e.selected = pParam && !e.text.empty();

  Display* dpy = Dpy(mDisplay);
  XSetWindowAttributes a;
  a.background_pixmap = None;
  a.border_pixel = 0;
  a.colormap = mColormap;
  a.event_mask = ExposureMask;  // input reaches the editor window
  e.window = XCreateWindow(dpy, mWindow, r.L, r.T, (unsigned)r.W(), (unsigned)r.H(), 0, 24, InputOutput,
                           static_cast<Visual*>(mVisual), CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask, &a);
  e.open = true;
  XMapRaised(dpy, e.window);
  // Typing needs the keyboard; whoever had it gets it back when the field
  // closes.
  Window focus = None;
  XGetInputFocus(dpy, &focus, &e.prevRevert);
  e.prevFocus = focus;
  XSetInputFocus(dpy, mWindow, RevertToParent, CurrentTime);
  EntryPaint();
  XFlush(dpy);
}

void IGraphicsLinux::EntryPaint()
{
  TextEntry& e = mEntry;
  if (!e.open || !mDisplay) return;
  const int w = e.rect.W(), h = e.rect.H();
  PxMemBitmap bm(w, h);
  PxFillRect(&bm, 0, 0, w, h, e.bg, 1.f, 0);

  IText t(e.size, nullptr, e.face.c_str());
  PxCachedFont* font = CacheFont(&t);
  int caretX = 2, lineH = std::max(e.size, 8);
  if (font)
  {
    font->SetTextColor(e.fg);
    lineH = std::max(1, font->GetLineHeight());
    RECT all = {0, 0, 0, 0}, before = {0, 0, 0, 0};
    if (!e.text.empty()) font->DrawText(&bm, e.text.c_str(), (int)e.text.size(), &all, DT_CALCRECT | DT_NOPREFIX);
    if (e.caret > 0) font->DrawText(&bm, e.text.c_str(), (int)e.caret, &before, DT_CALCRECT | DT_NOPREFIX);
    int x0 = 2;
    if (e.align == IText::kAlignCenter)
      x0 = (w - all.right) / 2;
    else if (e.align == IText::kAlignFar)
      x0 = w - 2 - all.right;
    // Long text is clipped at the tail: keep its start visible.
    x0 = std::max(x0, 2);
    const int y0 = (h - lineH) / 2;
    if (e.selected)
    {
      PxFillRect(&bm, x0 - 1, y0, std::min(all.right + 2, w - x0 + 1), lineH, kEntrySelection, 1.f, 0);
      font->SetTextColor(0xFFFFFFFFu);
    }
    if (!e.text.empty())
    {
      RECT tr = {x0, y0, w, y0 + lineH};
      font->DrawText(&bm, e.text.c_str(), (int)e.text.size(), &tr, DT_NOPREFIX | DT_SINGLELINE);
    }
    caretX = x0 + before.right;
  }
  caretX = std::min(std::max(caretX, 1), w - 2);
  const int cy0 = std::max(1, (h - lineH) / 2), cy1 = std::min(h - 2, cy0 + lineH - 1);
  if (!e.selected) PxLine(&bm, caretX, cy0, caretX, cy1, e.fg, 1.f, 0, false);
  PutBitmap(e.window, &bm, 0, 0, w, h);
  XFlush(Dpy(mDisplay));
}

bool IGraphicsLinux::EntryKey(unsigned long keysym, const char* chars, int nChars)
{
  TextEntry& e = mEntry;
  if (e.selected)
  {
    if (keysym == XK_BackSpace || keysym == XK_Delete)
    {
      e.selected = false;
      e.text.clear();
      e.caret = 0;
      EntryPaint();
      return true;
    }
    if (nChars == 1 && (unsigned char)chars[0] >= 32 && chars[0] != 127)
    {
      // A refused character leaves the selection as it was.
      const std::string was = e.text;
      e.text.clear();
      e.caret = 0;
      e.selected = false;
      if (EntryKey(keysym, chars, nChars)) return true;
      e.text = was;
      e.caret = was.size();
      e.selected = true;
      return false;
    }
    if (keysym == XK_Left || keysym == XK_Right || keysym == XK_Home || keysym == XK_End) e.selected = false;
  }
  switch (keysym)
  {
    case XK_Return:
    case XK_KP_Enter: EntryApply(); return true;
    case XK_Escape: EntryClose(); return true;
    case XK_BackSpace:
      if (e.caret > 0) e.text.erase(--e.caret, 1);
      break;
    case XK_Delete:
      if (e.caret < e.text.size()) e.text.erase(e.caret, 1);
      break;
    case XK_Left:
      if (e.caret > 0) --e.caret;
      break;
    case XK_Right:
      if (e.caret < e.text.size()) ++e.caret;
      break;
    case XK_Home: e.caret = 0; break;
    case XK_End: e.caret = e.text.size(); break;
    default:
    {
      if (nChars != 1 || (unsigned char)chars[0] < 32 || chars[0] == 127) return false;
      std::string next = e.text;
      next.insert(e.caret, 1, chars[0]);
      // The same rule as a formatter on a native field: the whole new string
      // must pass, else the key is refused.
      if (!e.allowed.empty())
        for (char c : next)
          if (e.allowed.find(c) == std::string::npos) return false;
      if (e.maxLength > 0 && (int)next.size() > e.maxLength) return false;
      e.text = next;
      ++e.caret;
      break;
    }
  }
  EntryPaint();
  return true;
}

void IGraphicsLinux::EntryApply()
{
  if (!mEntry.open) return;
  IControl* control = mEntry.control;
  IParam* param = mEntry.param;
  const std::string text = mEntry.text;
  EntryClose();
  if (param)
    SetFromStringAfterPrompt(control, param, text.c_str());
  else if (control)
    control->TextFromTextEntry(text.c_str());
  SetAllControlsDirty();
}

void IGraphicsLinux::EntryClose()
{
  if (!mEntry.open) return;
  if (mDisplay)
  {
    Display* dpy = Dpy(mDisplay);
    // Unless someone else took the focus meanwhile.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    if (focus == mWindow && mEntry.prevFocus != mWindow)
      XSetInputFocus(dpy, mEntry.prevFocus, mEntry.prevRevert, CurrentTime);
    if (mEntry.window) XDestroyWindow(dpy, mEntry.window);
    XFlush(dpy);
  }
  mEntry = TextEntry();
}

void IGraphicsLinux::ForceEndUserEdit() { EntryClose(); }
