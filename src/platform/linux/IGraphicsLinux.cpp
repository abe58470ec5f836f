#include "platform/linux/IGraphicsLinux.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "fx/IParam.h"
#include "graphics/IControl.h"
#include "kit/KitString.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxPng.h"
#include "raster/PxVector.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

Display* Dpy(void* p) { return static_cast<Display*>(p); }

constexpr int kDoubleClickSlop = 4;  // pixels

// Xlib's default error handler ends the process. A host may destroy its
// window before it removes our view (then our child window is gone too), or
// hand us a window id that is no longer valid: errors on our own connections
// are expected then and must not take the host down. Errors on any other
// connection go on to whatever handler was there before ours.
std::mutex gErrorMutex;
std::vector<Display*> gOwnDisplays;
XErrorHandler gPrevErrorHandler = nullptr;
bool gErrorHandlerInstalled = false;

int OwnErrorHandler(Display* d, XErrorEvent* e)
{
  XErrorHandler prev;
  {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    if (std::find(gOwnDisplays.begin(), gOwnDisplays.end(), d) != gOwnDisplays.end()) return 0;
    prev = gPrevErrorHandler;
  }
  return prev ? prev(d, e) : 0;
}

}  // namespace

void IGraphicsLinuxAddOwnDisplay(void* pDisplay)
{
  std::lock_guard<std::mutex> lock(gErrorMutex);
  gOwnDisplays.push_back(Dpy(pDisplay));
  if (!gErrorHandlerInstalled)
  {
    gPrevErrorHandler = XSetErrorHandler(OwnErrorHandler);
    gErrorHandlerInstalled = true;
  }
}

void IGraphicsLinuxRemoveOwnDisplay(void* pDisplay)
{
  std::lock_guard<std::mutex> lock(gErrorMutex);
  gOwnDisplays.erase(std::remove(gOwnDisplays.begin(), gOwnDisplays.end(), Dpy(pDisplay)), gOwnDisplays.end());
  if (gOwnDisplays.empty() && gErrorHandlerInstalled)
  {
    // Give the old handler back, unless someone installed theirs over ours
    // meanwhile (theirs may call ours; it has to stay).
    XErrorHandler current = XSetErrorHandler(gPrevErrorHandler);
    if (current != OwnErrorHandler)
      XSetErrorHandler(current);
    else
      gErrorHandlerInstalled = false;
  }
}

namespace {

IMouseMod ModFromState(unsigned int state, bool rightButton)
{
  IMouseMod mod;
  mod.L = !rightButton;
  mod.R = rightButton;
  mod.S = (state & ShiftMask) != 0;
  mod.C = (state & ControlMask) != 0;
  mod.A = (state & Mod1Mask) != 0;
  return mod;
}

// The editor's window inside the host's: a 24-bit TrueColor child that
// takes every event the editor handles.
struct ChildWindow
{
  Window window = 0;
  Colormap colormap = 0;
  Visual* visual = nullptr;
};

// False, with nothing left behind, when there is no such visual, the parent
// is not there, or the server refuses the window.
bool CreateChildWindow(Display* dpy, Window parent, int w, int h, ChildWindow* pChild)
{
  const int screen = DefaultScreen(dpy);
  XVisualInfo vi;
  XWindowAttributes parentAttr;
  if (!XMatchVisualInfo(dpy, screen, 24, TrueColor, &vi) || !XGetWindowAttributes(dpy, parent, &parentAttr))
    return false;

  XSetWindowAttributes attr;
  memset(&attr, 0, sizeof(attr));
  attr.colormap = XCreateColormap(dpy, parent, vi.visual, AllocNone);
  attr.border_pixel = 0;
  attr.background_pixmap = None;  // we paint every pixel; no flash of background
  attr.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                    KeyReleaseMask | EnterWindowMask | LeaveWindowMask | FocusChangeMask |
                    StructureNotifyMask;
  const Window win = XCreateWindow(dpy, parent, 0, 0, (unsigned)w, (unsigned)h, 0, 24,
                                   InputOutput, vi.visual, CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask,
                                   &attr);
  // The server may refuse the window after handing out its id (a parent
  // that is InputOnly cannot hold it): ask whether it exists before saying
  // there is an editor (the reply comes after any error).
  XWindowAttributes created;
  if (!win || !XGetWindowAttributes(dpy, win, &created))
  {
    XFreeColormap(dpy, attr.colormap);
    return false;
  }
  pChild->window = win;
  pChild->colormap = attr.colormap;
  pChild->visual = vi.visual;
  return true;
}

// Hosts that embed through a toolkit socket read the embedding protocol's
// info: version 0, mapped.
void SetXEmbedInfo(Display* dpy, Window win)
{
  const Atom xembedInfo = XInternAtom(dpy, "_XEMBED_INFO", False);
  const long info[2] = {0, 1};
  XChangeProperty(dpy, win, xembedInfo, xembedInfo, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(info), 2);
}

}  // namespace

IGraphicsLinux::IGraphicsLinux(IFxBase* pPlug, int w, int h, int refreshFPS, const char* resourceDir)
  : IGraphics(pPlug, w, h, refreshFPS), mResourceDir(resourceDir ? resourceDir : "")
{
  // Several hosts talk to X from more than one thread; each editor has its
  // own connection, but Xlib's global state must be guarded all the same.
  static const bool threadsReady = XInitThreads() != 0;
  (void)threadsReady;
  // The fonts ship beside the images.
  if (!mResourceDir.empty()) GdiSetFontFolder(mResourceDir.c_str());
}

IGraphicsLinux::~IGraphicsLinux()
{
  // The plug-in is being destroyed with its editor: nobody to tell.
  ForgetGestures();
  CloseWindow();
}

int IGraphicsLinux::TimerPeriodMs() const { return mTimerMs; }

void* IGraphicsLinux::GetWindow()
{
  return mWindow ? reinterpret_cast<void*>(mWindow) : nullptr;
}

void* IGraphicsLinux::OpenWindow(void* pParentView)
{
  CloseWindow();
  IEditorRunLoop* loop = GetHostRunLoop();
  const Window parent = (Window)reinterpret_cast<uintptr_t>(pParentView);
  if (!loop || !parent) return nullptr;
  if (!GetDrawBitmap()) PrepDraw();

  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return nullptr;
  IGraphicsLinuxAddOwnDisplay(dpy);
  ChildWindow child;
  if (!CreateChildWindow(dpy, parent, WindowWidth(), WindowHeight(), &child))
  {
    IGraphicsLinuxRemoveOwnDisplay(dpy);
    XCloseDisplay(dpy);
    return nullptr;
  }
  const Window win = child.window;

  mDisplay = dpy;
  mWindow = win;
  mParent = parent;
  mWindowGone = false;
  mColormap = child.colormap;
  mVisual = child.visual;
  mGC = XCreateGC(dpy, win, 0, nullptr);
  if (const char* ms = XGetDefault(dpy, "*", "multiClickTime"))
  {
    const int v = atoi(ms);
    if (v > 0) mMultiClickMs = v;
  }
  mLastPressTime = 0;
  mLastPressX = mLastPressY = -100;

  mTimerMs = std::max(1, 1000 / std::max(1, FPS()));
  mRunLoop = loop;
  if (!loop->WatchFd(ConnectionNumber(dpy), this) || !loop->StartTimer(mTimerMs, this))
  {
    CloseWindow();
    return nullptr;
  }

  SetXEmbedInfo(dpy, win);
  // The whole editor is drawn before the window shows, so that it never
  // shows empty, and the images it needs are decoded now, inside the host's
  // call to open the editor, rather than in the first tick of the timer.
  SetAllControlsDirty();
  Tick();
  XMapWindow(dpy, win);
  XSync(dpy, False);
  UpdateTooltips();
  return GetWindow();
}

void IGraphicsLinux::CloseWindow()
{
  // A drag or a wheel turn cut short by the host closing the editor still
  // ends for the host.
  EndGestures();
  if (!mDisplay) return;
  Display* dpy = Dpy(mDisplay);
  EntryClose();
  if (mTipWindow) XDestroyWindow(dpy, mTipWindow);
  mTipWindow = 0;
  mTips.clear();
  mTipIndex = -1;
  if (mCursorHidden) ShowMouseCursor();
  if (mRunLoop)
  {
    mRunLoop->StopTimer(this);
    mRunLoop->UnwatchFd(this);
    mRunLoop = nullptr;
  }
  if (mBlankCursor) XFreeCursor(dpy, mBlankCursor);
  mBlankCursor = 0;
  if (mGC) XFreeGC(dpy, static_cast<GC>(mGC));
  mGC = nullptr;
  if (mWindow && !mWindowGone) XDestroyWindow(dpy, mWindow);
  mWindow = 0;
  mWindowGone = false;
  mParent = 0;
  if (mColormap) XFreeColormap(dpy, mColormap);
  mColormap = 0;
  XSync(dpy, False);
  IGraphicsLinuxRemoveOwnDisplay(dpy);
  XCloseDisplay(dpy);
  mDisplay = nullptr;
  mVisual = nullptr;
  mTimerMs = 0;
  ReleaseMouseCapture();
  // Nothing shows the raster until the window opens again, and then every
  // control is drawn anew: its memory (6 MB at scale 2) is not kept.
  ReleaseDrawBitmap();
}

void IGraphicsLinux::Resize(int w, int h)
{
  if (w == Width() && h == Height()) return;
  IGraphics::Resize(w, h);
  if (mDisplay && mWindow)
  {
    XResizeWindow(Dpy(mDisplay), mWindow, (unsigned)WindowWidth(), (unsigned)WindowHeight());
    XSync(Dpy(mDisplay), False);
  }
}

// ---------------------------------------------------------------------------
// Content scale

double IGraphicsLinux::ScaleFromEnvironment()
{
  const char* v = getenv("TAVLO_UI_SCALE");
  if (!v || !*v) return 0.0;
  char* end = nullptr;
  const double s = strtod(v, &end);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == v || (end && *end) || !std::isfinite(s) || s <= 0.0)
  {
    static bool told = false;
    if (!told) fprintf(stderr, "TAVLO_UI_SCALE=\"%s\" is not a scale (a number from 1 to 3); ignored\n", v);
    told = true;
    return 0.0;
  }
  return s;
}

double IGraphicsLinux::ScaleFromXResources(const char* resources)
{
  if (!resources) return 0.0;
  const char* key = "Xft.dpi:";
  for (const char* line = resources; *line;)
  {
    while (*line == ' ' || *line == '\t') ++line;
    if (!strncmp(line, key, strlen(key)))
    {
      const double dpi = strtod(line + strlen(key), nullptr);
      if (std::isfinite(dpi) && dpi > 0.0) return std::round(dpi / 96.0 * 4.0) / 4.0;
    }
    const char* nl = strchr(line, '\n');
    if (!nl) break;
    line = nl + 1;
  }
  return 0.0;
}

double IGraphicsLinux::DesktopScale()
{
  // Asked before the window opens (a host sizes its window first), so the
  // editor's own connection may not exist yet.
  Display* dpy = mDisplay ? Dpy(mDisplay) : XOpenDisplay(nullptr);
  if (!dpy) return 1.0;
  const double s = ScaleFromXResources(XResourceManagerString(dpy));
  if (dpy != mDisplay) XCloseDisplay(dpy);
  return s > 0.0 ? s : 1.0;
}

void IGraphicsLinux::OnScaleChanged()
{
  if (!mDisplay || !mWindow || mWindowGone) return;
  Display* dpy = Dpy(mDisplay);
  if (mTipWindow) XUnmapWindow(dpy, mTipWindow);
  mTipIndex = -1;
  XResizeWindow(dpy, mWindow, (unsigned)WindowWidth(), (unsigned)WindowHeight());
  XSync(dpy, False);
}

// ---------------------------------------------------------------------------
// Drawing

void IGraphicsLinux::PutBitmap(unsigned long window, PxIBitmap* pBitmap, int x, int y, int w, int h)
{
  if (!mDisplay || !window || !pBitmap) return;
  x = std::max(x, 0);
  y = std::max(y, 0);
  w = std::min(w, pBitmap->getWidth() - x);
  h = std::min(h, pBitmap->getHeight() - y);
  if (w <= 0 || h <= 0) return;
  Display* dpy = Dpy(mDisplay);
  // The image borrows the raster's memory: (A << 24 | R << 16 | G << 8 | B)
  // words, which on a 24-bit TrueColor visual are exactly its pixels.
  XImage* img = XCreateImage(dpy, static_cast<Visual*>(mVisual), 24, ZPixmap, 0,
                             reinterpret_cast<char*>(pBitmap->getBits()), (unsigned)pBitmap->getWidth(),
                             (unsigned)pBitmap->getHeight(), 32, pBitmap->getRowSpan() * 4);
  if (!img) return;
  img->byte_order = LSBFirst;
  XPutImage(dpy, window, static_cast<GC>(mGC), img, x, y, x, y, (unsigned)w, (unsigned)h);
  img->data = nullptr;  // not ours to free
  XDestroyImage(img);
}

bool IGraphicsLinux::DrawScreen(IRECT* pR)
{
  if (!mDisplay || !mWindow || mWindowGone || !pR) return false;
  PutBitmap(mWindow, GetDrawBitmap(), pR->L, pR->T, pR->W(), pR->H());
  // The field sits above the editor: keep it visible over what was redrawn.
  if (mEntry.open && pR->Intersects(&mEntry.rect)) EntryPaint();
  XFlush(Dpy(mDisplay));
  return true;
}

void IGraphicsLinux::Tick()
{
  if (!mDisplay) return;
  OnGUIIdle();
  IRECT r;
  if (IsDirty(&r)) Draw(&r);

  // Tooltips: a control's text appears after the pointer rests on it.
  if (!mTips.empty())
  {
    int hit = -1;
    for (size_t i = 0; i < mTips.size(); ++i)
      if (mTips[i].rect.Contains(mPrevX, mPrevY)) hit = (int)i;
    if (hit != mTipIndex)
    {
      mTipIndex = hit;
      mTipTicks = 0;
      if (mTipWindow) XUnmapWindow(Dpy(mDisplay), mTipWindow);
    }
    else if (hit >= 0 && ++mTipTicks == 12)
    {
      Display* dpy = Dpy(mDisplay);
      const std::string& text = mTips[(size_t)hit].text;
      IText t(11, &COLOR_BLACK, "DejaVu Sans");
      PxCachedFont* font = CacheFont(&t);
      RECT m = {0, 0, 0, 0};
      if (font) font->DrawText(GetDrawBitmap(), text.c_str(), -1, &m, DT_CALCRECT | DT_NOPREFIX);
      const int w = m.right + 8, h = std::max(m.bottom, 12) + 4;
      if (!mTipWindow)
      {
        XSetWindowAttributes a;
        a.override_redirect = True;
        a.background_pixel = 0xFFFFE1;
        a.border_pixel = 0;
        mTipWindow = XCreateWindow(dpy, mWindow, 0, 0, 1, 1, 1, CopyFromParent, InputOutput, CopyFromParent,
                                   CWOverrideRedirect | CWBackPixel | CWBorderPixel, &a);
      }
      PxMemBitmap bm(w, h);
      PxFillRect(&bm, 0, 0, w, h, 0xFFFFFFE1, 1.f, 0);
      if (font)
      {
        font->SetTextColor(0xFF000000);
        RECT tr = {4, 2, w - 4, h - 2};
        font->DrawText(&bm, text.c_str(), -1, &tr, DT_NOPREFIX | DT_NOCLIP);
      }
      XMoveResizeWindow(dpy, mTipWindow, std::min(ToDevice(mPrevX) + 8, WindowWidth() - w),
                        std::min(ToDevice(mPrevY) + 16, WindowHeight() - h), (unsigned)w, (unsigned)h);
      XMapRaised(dpy, mTipWindow);
      XSync(dpy, False);
      PutBitmap(mTipWindow, &bm, 0, 0, w, h);
      XFlush(dpy);
    }
  }
}

void IGraphicsLinux::UpdateTooltips()
{
  mTips.clear();
  mTipIndex = -1;
  if (!mDisplay || !TooltipsEnabled()) return;
  for (int i = 0; i < NControls(); ++i)
  {
    IControl* c = GetControl(i);
    if (!c || c->IsHidden()) continue;
    const IRECT r = *c->GetTargetRECT();
    if (r.Empty()) continue;
    const char* tip = c->GetTooltip();
    mTips.push_back({r, tip ? tip : ""});
  }
}

// ---------------------------------------------------------------------------
// Events

void IGraphicsLinux::OnRunLoopFd(int) { PumpEvents(); }

void IGraphicsLinux::OnRunLoopTimer()
{
  PumpEvents();
  Tick();
}

void IGraphicsLinux::PumpEvents()
{
  // An event may close the window (a host reacting to a menu, say).
  while (mDisplay && XPending(Dpy(mDisplay)) > 0)
  {
    XEvent ev;
    XNextEvent(Dpy(mDisplay), &ev);
    HandleEvent(&ev);
  }
}

void IGraphicsLinux::HandleEvent(void* pXEvent)
{
  XEvent& ev = *static_cast<XEvent*>(pXEvent);
  switch (ev.type)
  {
    case Expose:
      if (ev.xexpose.window == mWindow)
      {
        IRECT r(ev.xexpose.x, ev.xexpose.y, ev.xexpose.x + ev.xexpose.width, ev.xexpose.y + ev.xexpose.height);
        PaintSurround(r);
        Draw(&r);
      }
      else if (mEntry.open && ev.xexpose.window == mEntry.window)
        EntryPaint();
      break;
    case ButtonPress:
      HandleButtonPress(pXEvent);
      break;
    case ButtonRelease:
    {
      if (ev.xbutton.window != mWindow) break;
      const unsigned b = ev.xbutton.button;
      if (b != Button1 && b != Button3) break;
      mPrevX = ToLayout(ev.xbutton.x);
      mPrevY = ToLayout(ev.xbutton.y);
      IMouseMod mod = ModFromState(ev.xbutton.state, b == Button3);
      OnMouseUp(mPrevX, mPrevY, &mod);
      break;
    }
    case MotionNotify:
    {
      if (ev.xmotion.window != mWindow) break;
      // Only the latest position of a burst matters; a burst ends at the
      // first other event, so a release is never handled out of order.
      while (XPending(Dpy(mDisplay)) > 0)
      {
        XEvent next;
        XPeekEvent(Dpy(mDisplay), &next);
        if (next.type != MotionNotify || next.xmotion.window != mWindow) break;
        XNextEvent(Dpy(mDisplay), &ev);
      }
      mPrevX = ToLayout(ev.xmotion.x);
      mPrevY = ToLayout(ev.xmotion.y);
      const unsigned st = ev.xmotion.state;
      if (st & (Button1Mask | Button3Mask))
      {
        if (mEntry.open) break;
        IMouseMod mod = ModFromState(st, (st & Button1Mask) == 0);
        OnMouseDrag(mPrevX, mPrevY, &mod);
      }
      else
      {
        IMouseMod mod = ModFromState(st, false);
        OnMouseOver(mPrevX, mPrevY, &mod);
      }
      break;
    }
    case LeaveNotify:
      if (ev.xcrossing.window == mWindow && ev.xcrossing.mode == NotifyNormal &&
          !(ev.xcrossing.state & (Button1Mask | Button3Mask)))
        OnMouseOut();
      break;
    case KeyPress:
      HandleKey(pXEvent);
      break;
    case DestroyNotify:
      // The host destroyed its window and ours with it; nothing to draw into
      // until removed() closes the rest.
      if (ev.xdestroywindow.window == mWindow) mWindowGone = true;
      break;
    default:
      break;
  }
}

void IGraphicsLinux::HandleButtonPress(void* pXEvent)
{
  XButtonEvent& be = static_cast<XEvent*>(pXEvent)->xbutton;
  if (be.window != mWindow) return;
  // The editor hears layout pixels; the field and the double-click slop
  // work in the window's.
  const int x = ToLayout(be.x), y = ToLayout(be.y);
  mPrevX = x;
  mPrevY = y;
  const unsigned b = be.button;

  if (b >= 4 && b <= 7)
  {
    // Scrolling ends a text entry without applying it.
    if (mEntry.open) EntryClose();
    IMouseMod mod = ModFromState(be.state, false);
    OnMouseWheel(x, y, &mod, (b == 4 || b == 6) ? 1 : -1);
    return;
  }
  if (b != Button1 && b != Button3) return;

  // No focus is taken here: the host keeps its keys (its shortcuts) unless
  // the text entry needs them.
  if (mEntry.open)
  {
    if (mEntry.rect.Contains(be.x, be.y))
    {
      mEntry.caret = mEntry.text.size();
      mEntry.selected = false;
      EntryPaint();
      return;
    }
    EntryApply();  // a click elsewhere accepts what was typed
  }

  if (b == Button3)
  {
    IMouseMod mod = ModFromState(be.state, true);
    OnMouseDown(x, y, &mod);
    return;
  }

  IMouseMod mod = ModFromState(be.state, false);
  // Presses in quick succession at one place count up (2 double, 3 triple,
  // ...); every count from 2 on is a double click to the editor.
  const bool quick = mLastPressTime && be.time - mLastPressTime <= (unsigned long)mMultiClickMs &&
                     std::abs(be.x - mLastPressX) <= kDoubleClickSlop &&
                     std::abs(be.y - mLastPressY) <= kDoubleClickSlop;
  mClickCount = quick ? mClickCount + 1 : 1;
  mLastPressTime = be.time;
  mLastPressX = be.x;
  mLastPressY = be.y;
  if (mClickCount >= 2)
    OnMouseDblClick(x, y, &mod);
  else
    OnMouseDown(x, y, &mod);
}

int IGraphicsLinux::KeySymToEditorKey(unsigned long keysym)
{
  switch (keysym)
  {
    case XK_Up: case XK_KP_Up: return 1;
    case XK_Down: case XK_KP_Down: return 2;
    case XK_Left: case XK_KP_Left: return 3;
    case XK_Right: case XK_KP_Right: return 4;
    case XK_space: return 0;
    default: break;
  }
  if (keysym >= XK_0 && keysym <= XK_9) return 5 + (int)(keysym - XK_0);
  if (keysym >= XK_A && keysym <= XK_Z) return 15 + (int)(keysym - XK_A);
  if (keysym >= XK_a && keysym <= XK_z) return 15 + (int)(keysym - XK_a);
  return -1;
}

void IGraphicsLinux::HandleKey(void* pXEvent)
{
  XKeyEvent& ke = static_cast<XEvent*>(pXEvent)->xkey;
  char chars[16];
  KeySym sym = 0;
  const int n = XLookupString(&ke, chars, (int)sizeof(chars) - 1, &sym, nullptr);
  chars[std::max(n, 0)] = 0;
  if (mEntry.open)
  {
    EntryKey(sym, chars, n);
    return;
  }
  // Arrows and space map by key whatever the modifiers; other keys by the
  // character they produce.
  const KeySym base = XLookupKeysym(&ke, 0);
  int key = KeySymToEditorKey(base);
  if (key < 0 || key >= 5) key = KeySymToEditorKey(sym);
  if (key >= 0 && OnKeyDown(mPrevX, mPrevY, key)) return;
  // Keys the editor does not take belong to the host (its shortcuts): hand
  // the event on to the window we live in, once. A key the host sent us
  // itself is the host's already; handed back, it would come back again,
  // for ever (a toolkit that passes keys on to an embedded window does so).
  if (!mParent || ke.send_event) return;
  if (ke.time == mHandedKey.time && ke.keycode == mHandedKey.keycode && ke.state == mHandedKey.state) return;
  mHandedKey = {ke.time, ke.keycode, ke.state};
  XEvent fwd = *static_cast<XEvent*>(pXEvent);
  fwd.xkey.window = mParent;
  fwd.xkey.subwindow = mWindow;
  XSendEvent(Dpy(mDisplay), mParent, True, KeyPressMask, &fwd);
  XFlush(Dpy(mDisplay));
}

bool IGraphicsLinux::IsTooltipShown()
{
  if (!mDisplay || !mTipWindow) return false;
  XWindowAttributes wa;
  return XGetWindowAttributes(Dpy(mDisplay), mTipWindow, &wa) && wa.map_state == IsViewable;
}

void IGraphicsLinux::PaintSurround(const IRECT& area)
{
  if (!mDisplay || !mWindow || mWindowGone || !mGC) return;
  // The editor sits at the window's top left; a host may make the window
  // larger than asked for, and what lies beyond would show stale pixels.
  const int w = WindowWidth(), h = WindowHeight();
  Display* dpy = Dpy(mDisplay);
  GC gc = static_cast<GC>(mGC);
  XSetForeground(dpy, gc, GetSurroundColor().Pixel() & 0xFFFFFFu);
  if (area.R > w)
  {
    const int l = std::max(area.L, w);
    XFillRectangle(dpy, mWindow, gc, l, area.T, (unsigned)(area.R - l), (unsigned)area.H());
  }
  if (area.B > h && area.L < w)
  {
    const int t = std::max(area.T, h), r = std::min(area.R, w);
    XFillRectangle(dpy, mWindow, gc, area.L, t, (unsigned)(r - area.L), (unsigned)(area.B - t));
  }
}

// ---------------------------------------------------------------------------
// Cursor

void IGraphicsLinux::HideMouseCursor()
{
  if (mCursorHidden || !mDisplay || !mWindow) return;
  Display* dpy = Dpy(mDisplay);
  if (!mBlankCursor)
  {
    static const char zero[8] = {0};
    Pixmap pm = XCreateBitmapFromData(dpy, mWindow, zero, 8, 8);
    XColor black;
    memset(&black, 0, sizeof(black));
    mBlankCursor = XCreatePixmapCursor(dpy, pm, pm, &black, &black, 0, 0);
    XFreePixmap(dpy, pm);
  }
  Window root, child;
  int rx, ry, wx, wy;
  unsigned mask;
  if (!XQueryPointer(dpy, mWindow, &root, &child, &rx, &ry, &wx, &wy, &mask)) return;
  XDefineCursor(dpy, mWindow, mBlankCursor);
  XFlush(dpy);
  mHiddenX = rx;
  mHiddenY = ry;
  mCursorHidden = true;
}

void IGraphicsLinux::ShowMouseCursor()
{
  if (!mCursorHidden || !mDisplay || !mWindow) return;
  Display* dpy = Dpy(mDisplay);
  XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, mHiddenX, mHiddenY);
  XUndefineCursor(dpy, mWindow);
  XSync(dpy, False);  // the pointer is back before anyone asks where it is
  mCursorHidden = false;
}

// ---------------------------------------------------------------------------
// Images

PxIBitmap* IGraphicsLinux::OSLoadBitmap(int, const char* name)
{
  if (!name) return nullptr;
  const char* dot = strrchr(name, '.');
  if (!dot || strcasecmp(dot + 1, "png") != 0) return nullptr;
  const char* file = strrchr(name, '/');
  file = file ? file + 1 : name;
  if (!*file) return nullptr;
  // Looked up by base name with the type "png", whatever case the name used.
  const std::string base(file, (size_t)(strrchr(file, '.') - file));
  if (base.empty()) return nullptr;
  std::string path = mResourceDir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += base + ".png";
  // Only the header is read now; the pixels when the image is first drawn.
  return PxPngImage::Open(path.c_str());
}
