// Pop-up menus: override-redirect windows tracked modally on the editor's
// own connection.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <poll.h>

#include "graphics/IPopupMenu.h"
#include "kit/KitString.h"
#include "platform/linux/IGraphicsLinux.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxVector.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

constexpr unsigned kMenuBg = 0xFFF2F2F2, kMenuText = 0xFF101010, kMenuDisabled = 0xFF9A9A9A,
                   kMenuHighlight = 0xFF3A6EA5, kMenuHighlightText = 0xFFFFFFFF, kMenuBorder = 0xFF7A7A7A;
constexpr int kItemPadY = 3, kCheckColumn = 18, kArrowColumn = 16, kTitleIndent = 10, kSeparatorH = 7;

Display* Dpy(void* p) { return static_cast<Display*>(p); }

}  // namespace

bool IGraphicsLinuxWaitForEvent(void* pDisplay, int timeoutMs)
{
  Display* dpy = Dpy(pDisplay);
  if (XPending(dpy) > 0) return true;
  pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 && XPending(dpy) > 0;
}

// One open level of a menu.
struct MenuLevel
{
  IPopupMenu* menu = nullptr;
  Window window = 0;
  int x = 0, y = 0, w = 0, h = 0;  // on the root window
  std::vector<std::string> texts;
  std::vector<int> tops, heights;
  int highlight = -1;
};

class LinuxPopupMenu
{
public:
  LinuxPopupMenu(IGraphicsLinux* pGraphics) : mG(pGraphics), mDpy(Dpy(pGraphics->mDisplay)) {}
  ~LinuxPopupMenu()
  {
    while (!mLevels.empty()) CloseLevel();
  }

  IPopupMenu* Run(IPopupMenu* pMenu, int rootX, int rootY)
  {
    mFont = mG->CacheFont(&mText);
    if (!mFont) return nullptr;
    mLineH = std::max(12, mFont->GetLineHeight());
    OpenLevel(pMenu, rootX, rootY);
    Window top = mLevels[0].window;
    XSync(mDpy, False);
    // The menu owns pointer and keyboard until it closes.
    XGrabPointer(mDpy, top, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, None, None, CurrentTime);
    XGrabKeyboard(mDpy, top, True, GrabModeAsync, GrabModeAsync, CurrentTime);
    mG->mMenuOpen.store(true);

    IPopupMenu* result = nullptr;
    int resultIdx = -1;
    bool done = false;
    while (!done)
    {
      if (!IGraphicsLinuxWaitForEvent(mDpy, 100)) continue;
      XEvent ev;
      XNextEvent(mDpy, &ev);
      switch (ev.type)
      {
        case Expose:
          for (size_t i = 0; i < mLevels.size(); ++i)
            if (mLevels[i].window == ev.xexpose.window) Paint((int)i);
          break;
        case MotionNotify:
        {
          int level, item;
          if (Hit(ev.xmotion.x_root, ev.xmotion.y_root, &level, &item)) Highlight(level, item, true);
          break;
        }
        case ButtonPress:
        case ButtonRelease:
        {
          int level, item;
          if (!Hit(ev.xbutton.x_root, ev.xbutton.y_root, &level, &item))
          {
            // A press outside every level dismisses; a release does not (it
            // may end the click that opened the menu).
            if (ev.type == ButtonPress) done = true;
            break;
          }
          if (item >= 0 && Choose(level, item, &result, &resultIdx)) done = true;
          break;
        }
        case KeyPress:
        {
          const KeySym sym = XLookupKeysym(&ev.xkey, 0);
          MenuLevel& l = mLevels.back();
          const int li = (int)mLevels.size() - 1;
          if (sym == XK_Escape) done = true;
          else if (sym == XK_Down || sym == XK_Up) Highlight(li, NextSelectable(l, l.highlight, sym == XK_Down ? 1 : -1), false);
          else if (sym == XK_Right && l.highlight >= 0 && l.menu->GetItem(l.highlight)->GetSubmenu())
            OpenSub(li, l.highlight, true);
          else if (sym == XK_Left && mLevels.size() > 1) CloseLevel();
          else if ((sym == XK_Return || sym == XK_KP_Enter) && l.highlight >= 0)
          {
            if (Choose(li, l.highlight, &result, &resultIdx)) done = true;
          }
          break;
        }
        default:
          break;
      }
    }
    XUngrabKeyboard(mDpy, CurrentTime);
    XUngrabPointer(mDpy, CurrentTime);
    while (!mLevels.empty()) CloseLevel();
    XSync(mDpy, False);
    mG->mMenuOpen.store(false);
    if (!result || resultIdx < 0) return nullptr;
    result->SetChosenItemIdx(resultIdx);
    return result;
  }

private:
  static bool Selectable(IPopupMenuItem* it) { return it && !it->GetIsSeparator() && it->GetEnabled(); }

  int NextSelectable(MenuLevel& l, int from, int dir)
  {
    const int n = l.menu->GetNItems();
    for (int k = 1; k <= n; ++k)
    {
      const int i = ((from < 0 ? (dir > 0 ? -1 : n) : from) + dir * k + n * 4) % n;
      if (Selectable(l.menu->GetItem(i))) return i;
    }
    return from;
  }

  bool Choose(int level, int item, IPopupMenu** pResult, int* pIdx)
  {
    IPopupMenuItem* it = mLevels[(size_t)level].menu->GetItem(item);
    if (!Selectable(it)) return false;
    if (it->GetSubmenu())
    {
      OpenSub(level, item, true);
      return false;
    }
    *pResult = mLevels[(size_t)level].menu;
    *pIdx = item;
    return true;
  }

  bool Hit(int rx, int ry, int* pLevel, int* pItem)
  {
    for (int i = (int)mLevels.size() - 1; i >= 0; --i)
    {
      const MenuLevel& l = mLevels[(size_t)i];
      if (rx < l.x || rx >= l.x + l.w || ry < l.y || ry >= l.y + l.h) continue;
      *pLevel = i;
      *pItem = -1;
      for (size_t k = 0; k < l.tops.size(); ++k)
        if (ry - l.y >= l.tops[k] && ry - l.y < l.tops[k] + l.heights[k]) *pItem = (int)k;
      return true;
    }
    return false;
  }

  // The pointer resting on an item with a submenu opens it; the keyboard
  // opens one only with the right arrow.
  void Highlight(int level, int item, bool byPointer)
  {
    while ((int)mLevels.size() > level + 1)
    {
      // Leave an open submenu alone while its own item stays highlighted.
      if (mLevels[(size_t)level].highlight == item) break;
      CloseLevel();
    }
    MenuLevel& l = mLevels[(size_t)level];
    IPopupMenuItem* it = item >= 0 ? l.menu->GetItem(item) : nullptr;
    const int h = Selectable(it) ? item : -1;
    if (h != l.highlight)
    {
      l.highlight = h;
      Paint(level);
    }
    if (byPointer && h >= 0 && it->GetSubmenu() && (int)mLevels.size() == level + 1) OpenSub(level, h, false);
  }

  void OpenSub(int level, int item, bool selectFirst)
  {
    while ((int)mLevels.size() > level + 1) CloseLevel();
    MenuLevel& l = mLevels[(size_t)level];
    IPopupMenu* sub = l.menu->GetItem(item)->GetSubmenu();
    if (!sub || sub->GetNItems() == 0) return;
    OpenLevel(sub, l.x + l.w - 2, l.y + l.tops[(size_t)item]);
    if (selectFirst) Highlight((int)mLevels.size() - 1, NextSelectable(mLevels.back(), -1, 1), false);
  }

  void OpenLevel(IPopupMenu* pMenu, int x, int y)
  {
    MenuLevel l;
    l.menu = pMenu;
    int textW = 40, top = 2;
    for (int i = 0; i < pMenu->GetNItems(); ++i)
    {
      IPopupMenuItem* it = pMenu->GetItem(i);
      const KitString shown = pMenu->GetItemDisplayText(i);
      l.texts.push_back(shown.Get() ? shown.Get() : "");
      const bool sep = it->GetIsSeparator();
      const int h = sep ? kSeparatorH : mLineH + 2 * kItemPadY;
      l.tops.push_back(top);
      l.heights.push_back(h);
      top += h;
      if (!sep && !l.texts.back().empty())
      {
        RECT m = {0, 0, 0, 0};
        mFont->DrawText(mG->GetDrawBitmap(), l.texts.back().c_str(), -1, &m, DT_CALCRECT | DT_NOPREFIX);
        textW = std::max(textW, m.right + (it->GetIsTitle() ? kTitleIndent : 0));
      }
    }
    l.w = kCheckColumn + textW + kArrowColumn + 4;
    l.h = top + 2;
    // Keep the menu on the screen: above the point or to the left if need be.
    const int sw = DisplayWidth(mDpy, DefaultScreen(mDpy)), sh = DisplayHeight(mDpy, DefaultScreen(mDpy));
    if (x + l.w > sw) x = std::max(0, (mLevels.empty() ? sw : mLevels.back().x + 2) - l.w);
    if (y + l.h > sh) y = std::max(0, sh - l.h);
    l.x = x;
    l.y = y;

    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixmap = None;
    a.border_pixel = 0;
    a.colormap = mG->mColormap;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask;
    l.window = XCreateWindow(mDpy, DefaultRootWindow(mDpy), l.x, l.y, (unsigned)l.w, (unsigned)l.h, 0, 24,
                             InputOutput, static_cast<Visual*>(mG->mVisual),
                             CWOverrideRedirect | CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask, &a);
    XMapRaised(mDpy, l.window);
    mLevels.push_back(l);
    Paint((int)mLevels.size() - 1);
    Publish();
  }

  void CloseLevel()
  {
    XDestroyWindow(mDpy, mLevels.back().window);
    mLevels.pop_back();
    if (!mLevels.empty()) Paint((int)mLevels.size() - 1);
    Publish();
  }

  void Publish()
  {
    std::lock_guard<std::mutex> lock(mG->mAutomationMutex);
    mG->mMenuItemRects.clear();
    for (const MenuLevel& l : mLevels)
    {
      std::vector<IRECT> rects;
      for (size_t k = 0; k < l.tops.size(); ++k)
        rects.push_back(IRECT(l.x, l.y + l.tops[k], l.x + l.w, l.y + l.tops[k] + l.heights[k]));
      mG->mMenuItemRects.push_back(rects);
    }
  }

  void Paint(int level)
  {
    MenuLevel& l = mLevels[(size_t)level];
    PxMemBitmap bm(l.w, l.h);
    PxFillRect(&bm, 0, 0, l.w, l.h, kMenuBg, 1.f, 0);
    for (int i = 0; i < l.menu->GetNItems(); ++i)
    {
      IPopupMenuItem* it = l.menu->GetItem(i);
      const int top = l.tops[(size_t)i], h = l.heights[(size_t)i];
      if (it->GetIsSeparator())
      {
        PxLine(&bm, 4, top + h / 2, l.w - 5, top + h / 2, kMenuBorder, 1.f, 0, false);
        continue;
      }
      const bool hi = i == l.highlight;
      if (hi) PxFillRect(&bm, 2, top, l.w - 4, h, kMenuHighlight, 1.f, 0);
      const unsigned color = !it->GetEnabled() ? kMenuDisabled : hi ? kMenuHighlightText : kMenuText;
      if (it->GetChecked())
      {
        const int cx = 5, cy = top + h / 2;
        PxLine(&bm, cx, cy, cx + 3, cy + 3, color, 1.f, 0, false);
        PxLine(&bm, cx + 3, cy + 3, cx + 9, cy - 4, color, 1.f, 0, false);
      }
      mFont->SetTextColor(color);
      RECT tr = {kCheckColumn + (it->GetIsTitle() ? kTitleIndent : 0), top + kItemPadY, l.w - kArrowColumn,
                 top + h - kItemPadY};
      mFont->DrawText(&bm, l.texts[(size_t)i].c_str(), -1, &tr, DT_NOPREFIX | DT_SINGLELINE);
      if (it->GetSubmenu())
      {
        const int ax = l.w - 11, ay = top + h / 2;
        for (int d = 0; d < 4; ++d) PxLine(&bm, ax + d, ay - 3 + d, ax + d, ay + 3 - d, color, 1.f, 0, false);
      }
    }
    const int w = l.w - 1, h = l.h - 1;
    PxLine(&bm, 0, 0, w, 0, kMenuBorder, 1.f, 0, false);
    PxLine(&bm, 0, h, w, h, kMenuBorder, 1.f, 0, false);
    PxLine(&bm, 0, 0, 0, h, kMenuBorder, 1.f, 0, false);
    PxLine(&bm, w, 0, w, h, kMenuBorder, 1.f, 0, false);
    mG->PutBitmap(l.window, &bm, 0, 0, l.w, l.h);
    XFlush(mDpy);
  }

  IGraphicsLinux* mG;
  Display* mDpy;
  IText mText{13, &COLOR_BLACK, "DejaVu Sans"};
  PxCachedFont* mFont = nullptr;
  int mLineH = 14;
  std::vector<MenuLevel> mLevels;
};

IPopupMenu* IGraphicsLinux::CreateIPopupMenu(IPopupMenu* pMenu, IRECT* pAreaRect)
{
  ReleaseMouseCapture();
  if (!mDisplay || !mWindow || !pMenu || !pAreaRect || pMenu->GetNItems() == 0 || mMenuOpen.load())
    return nullptr;
  if (mEntry.open) EntryClose();
  // Below the rectangle, as seen on the screen.
  int rx = 0, ry = 0;
  Window child;
  const IRECT area = ToDevice(*pAreaRect);
  XTranslateCoordinates(Dpy(mDisplay), mWindow, DefaultRootWindow(Dpy(mDisplay)), area.L, area.B, &rx, &ry, &child);
  LinuxPopupMenu menu(this);
  IPopupMenu* chosen = menu.Run(pMenu, rx, ry);
  {
    std::lock_guard<std::mutex> lock(mAutomationMutex);
    mMenuItemRects.clear();
  }
  SetAllControlsDirty();  // whatever the menu covered is drawn again
  return chosen;
}

bool IGraphicsLinux::MenuItemScreenRect(int level, int item, IRECT* pR)
{
  std::lock_guard<std::mutex> lock(mAutomationMutex);
  if (level < 0 || level >= (int)mMenuItemRects.size() || item < 0 ||
      item >= (int)mMenuItemRects[(size_t)level].size() || !pR)
    return false;
  *pR = mMenuItemRects[(size_t)level][(size_t)item];
  return true;
}
