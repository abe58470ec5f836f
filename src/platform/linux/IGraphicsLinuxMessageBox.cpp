// Message boxes: a dialog window tracked modally on the editor's own
// connection (or one of its own where no editor is open). Nothing in Tavlo
// asks for one; the framework offers it, and the tests drive it.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/linux/IGraphicsLinux.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxVector.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

class LinuxMessageBox
{
public:
  // Button labels and their answers, default button first.
  struct Button
  {
    const char* label;
    int answer;
  };

  LinuxMessageBox(IGraphicsLinux* g, Display* dpy, const char* text, const char* caption, int type)
    : mG(g), mDpy(dpy), mText(text), mCaption(caption)
  {
    switch (type)
    {
      case 1: mButtons = {{"OK", 1}, {"Cancel", 7}}; break;
      case 3: mButtons = {{"Yes", 1}, {"No", 7}, {"Cancel", 2}}; break;
      case 4: mButtons = {{"Yes", 1}, {"No", 7}}; break;
      default: mButtons = {{"OK", 1}}; break;
    }
  }

  // The answer of the button chosen, 0 when closed without one or when the
  // box could not be shown.
  int Run()
  {
    if (!Measure() || !Open()) return 0;
    Publish();
    int answer = -1;
    while (answer < 0)
    {
      if (!IGraphicsLinuxWaitForEvent(mDpy, 100)) continue;
      XEvent ev;
      XNextEvent(mDpy, &ev);
      if (ev.xany.window == mWin) answer = Handle(ev);
    }
    Close();
    return answer;
  }

private:
  static constexpr int kButtonW = 80, kButtonH = 26, kGap = 10, kMargin = 16;

  int NumButtons() const { return (int)mButtons.size(); }

  void TextSize(PxCachedFont* f, const char* s, int* w, int* h)
  {
    PxMemBitmap measure(1, 1);
    RECT m = {0, 0, 0, 0};
    if (s && *s) f->DrawText(&measure, s, -1, &m, DT_CALCRECT | DT_NOPREFIX);
    *w = m.right;
    *h = m.bottom;
  }

  // Fonts, text sizes, the window's size and place, the buttons' places.
  bool Measure()
  {
    IText t(13, &COLOR_BLACK, "DejaVu Sans");
    IText tb(13, &COLOR_BLACK, "DejaVu Sans", IText::kStyleBold);
    mFont = mG->CacheFont(&t);
    mBold = mG->CacheFont(&tb);
    if (!mFont || !mBold) return false;
    int cw, tw;
    TextSize(mBold, mCaption, &cw, &mCaptionH);
    TextSize(mFont, mText, &tw, &mTextH);
    const int nb = NumButtons();
    mW = std::max({cw, tw, nb * kButtonW + (nb - 1) * kGap}) + 2 * kMargin;
    mH = kMargin + mCaptionH + 8 + mTextH + 16 + kButtonH + kMargin;
    const int screen = DefaultScreen(mDpy);
    mX = (DisplayWidth(mDpy, screen) - mW) / 2;
    mY = (DisplayHeight(mDpy, screen) - mH) / 2;
    const int bx0 = mW - kMargin - (nb * kButtonW + (nb - 1) * kGap), by = mH - kMargin - kButtonH;
    for (int i = 0; i < nb; ++i)
      mRects.push_back(IRECT(bx0 + i * (kButtonW + kGap), by, bx0 + i * (kButtonW + kGap) + kButtonW, by + kButtonH));
    return true;
  }

  // A fixed-size dialog window over the editor's.
  bool Open()
  {
    const int screen = DefaultScreen(mDpy);
    if (!XMatchVisualInfo(mDpy, screen, 24, TrueColor, &mVisual)) return false;
    XSetWindowAttributes a;
    a.background_pixmap = None;
    a.border_pixel = 0;
    a.colormap = mColormap = XCreateColormap(mDpy, DefaultRootWindow(mDpy), mVisual.visual, AllocNone);
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask | StructureNotifyMask;
    mWin = XCreateWindow(mDpy, DefaultRootWindow(mDpy), mX, mY, (unsigned)mW, (unsigned)mH, 0, 24, InputOutput,
                         mVisual.visual, CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask, &a);
    XStoreName(mDpy, mWin, mCaption ? mCaption : "");
    mDelete = XInternAtom(mDpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(mDpy, mWin, &mDelete, 1);
    Atom type = XInternAtom(mDpy, "_NET_WM_WINDOW_TYPE", False);
    Atom dialog = XInternAtom(mDpy, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(mDpy, mWin, type, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&dialog), 1);
    if (mG->mWindow) XSetTransientForHint(mDpy, mWin, mG->mWindow);
    XSizeHints hints;
    memset(&hints, 0, sizeof(hints));
    hints.flags = PPosition | PMinSize | PMaxSize;
    hints.x = mX;
    hints.y = mY;
    hints.min_width = hints.max_width = mW;
    hints.min_height = hints.max_height = mH;
    XSetWMNormalHints(mDpy, mWin, &hints);
    XMapRaised(mDpy, mWin);
    return true;
  }

  // The buttons' places on the screen, for tests that press them.
  void Publish()
  {
    {
      std::lock_guard<std::mutex> lock(mG->mAutomationMutex);
      mG->mMessageBoxButtons.clear();
      for (const IRECT& r : mRects) mG->mMessageBoxButtons.push_back(IRECT(mX + r.L, mY + r.T, mX + r.R, mY + r.B));
    }
    mG->mMessageBoxOpen.store(true);
  }

  void Paint()
  {
    PxMemBitmap bm(mW, mH);
    PxFillRect(&bm, 0, 0, mW, mH, 0xFFEDEDED, 1.f, 0);
    mBold->SetTextColor(0xFF000000);
    mFont->SetTextColor(0xFF000000);
    RECT r1 = {kMargin, kMargin, mW - kMargin, kMargin + mCaptionH};
    if (mCaption && *mCaption) mBold->DrawText(&bm, mCaption, -1, &r1, DT_NOPREFIX);
    RECT r2 = {kMargin, kMargin + mCaptionH + 8, mW - kMargin, kMargin + mCaptionH + 8 + mTextH};
    if (mText && *mText) mFont->DrawText(&bm, mText, -1, &r2, DT_NOPREFIX);
    for (int i = 0; i < NumButtons(); ++i) PaintButton(&bm, i);
    XImage* img = XCreateImage(mDpy, mVisual.visual, 24, ZPixmap, 0, reinterpret_cast<char*>(bm.getBits()),
                               (unsigned)mW, (unsigned)mH, 32, bm.getRowSpan() * 4);
    if (!img) return;
    img->byte_order = LSBFirst;
    GC gc = XCreateGC(mDpy, mWin, 0, nullptr);
    XPutImage(mDpy, mWin, gc, img, 0, 0, 0, 0, (unsigned)mW, (unsigned)mH);
    XFreeGC(mDpy, gc);
    img->data = nullptr;
    XDestroyImage(img);
    XFlush(mDpy);
  }

  void PaintButton(PxMemBitmap* bm, int i)
  {
    const IRECT& r = mRects[(size_t)i];
    PxFillRect(bm, r.L, r.T, r.W(), r.H(), i == mFocus ? 0xFF3A6EA5 : 0xFFFAFAFA, 1.f, 0);
    const unsigned border = 0xFF7A7A7A;
    PxLine(bm, r.L, r.T, r.R - 1, r.T, border, 1.f, 0, false);
    PxLine(bm, r.L, r.B - 1, r.R - 1, r.B - 1, border, 1.f, 0, false);
    PxLine(bm, r.L, r.T, r.L, r.B - 1, border, 1.f, 0, false);
    PxLine(bm, r.R - 1, r.T, r.R - 1, r.B - 1, border, 1.f, 0, false);
    mFont->SetTextColor(i == mFocus ? 0xFFFFFFFF : 0xFF000000);
    RECT br = {r.L, r.T + 5, r.R, r.B};
    mFont->DrawText(bm, mButtons[(size_t)i].label, -1, &br, DT_CENTER | DT_NOPREFIX);
  }

  // One event of the box's window: the answer it gives, or -1.
  int Handle(const XEvent& ev)
  {
    const int nb = NumButtons();
    switch (ev.type)
    {
      case MapNotify:
        if (!mFocused)
        {
          XSetInputFocus(mDpy, mWin, RevertToParent, CurrentTime);
          mFocused = true;
        }
        break;
      case Expose:
        if (ev.xexpose.count == 0) Paint();
        break;
      case ButtonPress:
        mPressed = -1;
        for (int i = 0; i < nb; ++i)
          if (mRects[(size_t)i].Contains(ev.xbutton.x, ev.xbutton.y)) mPressed = i;
        break;
      case ButtonRelease:
      {
        int answer = -1;
        for (int i = 0; i < nb; ++i)
          if (i == mPressed && mRects[(size_t)i].Contains(ev.xbutton.x, ev.xbutton.y))
            answer = mButtons[(size_t)i].answer;
        mPressed = -1;
        return answer;
      }
      case KeyPress: return HandleKey(XLookupKeysym(const_cast<XKeyEvent*>(&ev.xkey), 0));
      case ClientMessage:
        if ((Atom)ev.xclient.data.l[0] == mDelete) return 0;  // closed without an answer
        break;
      default: break;
    }
    return -1;
  }

  int HandleKey(KeySym sym)
  {
    const int nb = NumButtons();
    if (sym == XK_Return || sym == XK_KP_Enter || sym == XK_space) return mButtons[(size_t)mFocus].answer;
    if (sym == XK_Escape) return nb > 1 ? mButtons.back().answer : mButtons[0].answer;
    if (sym == XK_Tab || sym == XK_Right)
    {
      mFocus = (mFocus + 1) % nb;
      Paint();
    }
    else if (sym == XK_Left)
    {
      mFocus = (mFocus + nb - 1) % nb;
      Paint();
    }
    return -1;
  }

  void Close()
  {
    XDestroyWindow(mDpy, mWin);
    XFreeColormap(mDpy, mColormap);
    XSync(mDpy, False);
    mG->mMessageBoxOpen.store(false);
    std::lock_guard<std::mutex> lock(mG->mAutomationMutex);
    mG->mMessageBoxButtons.clear();
  }

  IGraphicsLinux* mG;
  Display* mDpy;
  const char* mText;
  const char* mCaption;
  std::vector<Button> mButtons;
  std::vector<IRECT> mRects;
  PxCachedFont* mFont = nullptr;
  PxCachedFont* mBold = nullptr;
  int mCaptionH = 0, mTextH = 0, mW = 0, mH = 0, mX = 0, mY = 0;
  XVisualInfo mVisual;
  Colormap mColormap = 0;
  Window mWin = 0;
  Atom mDelete = 0;
  int mFocus = 0, mPressed = -1;
  bool mFocused = false;
};

int IGraphicsLinux::ShowMessageBox(const char* pText, const char* pCaption, int type)
{
  if (mMessageBoxOpen.load()) return 0;
  if (mDisplay) return LinuxMessageBox(this, static_cast<Display*>(mDisplay), pText, pCaption, type).Run();
  // Without an open editor the box still works, on a connection of its own.
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return 0;
  IGraphicsLinuxAddOwnDisplay(dpy);
  const int answer = LinuxMessageBox(this, dpy, pText, pCaption, type).Run();
  IGraphicsLinuxRemoveOwnDisplay(dpy);
  XCloseDisplay(dpy);
  return answer;
}

bool IGraphicsLinux::MessageBoxButtonScreenRect(int index, IRECT* pR)
{
  std::lock_guard<std::mutex> lock(mAutomationMutex);
  if (index < 0 || index >= (int)mMessageBoxButtons.size() || !pR) return false;
  *pR = mMessageBoxButtons[(size_t)index];
  return true;
}
