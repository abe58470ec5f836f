#include "platform/linux/IGraphicsLinuxTopWindow.h"

#include <unistd.h>

#include <cstring>

#include "platform/linux/IGraphicsLinux.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

Display* Dpy(void* p) { return static_cast<Display*>(p); }

}  // namespace

bool IGraphicsLinuxTopWindow::Open(int w, int h, const std::string& title, const std::string& appClass,
                                   std::string& error)
{
  Close();
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy)
  {
    const char* name = getenv("DISPLAY");
    error = name && *name ? std::string("cannot open the X display ") + name : "no X display (DISPLAY is not set)";
    return false;
  }
  mDisplay = dpy;
  // A window manager may destroy the window first: errors are expected.
  IGraphicsLinuxAddOwnDisplay(dpy);
  const int screen = DefaultScreen(dpy);
  XSetWindowAttributes attr;
  memset(&attr, 0, sizeof(attr));
  attr.background_pixel = BlackPixel(dpy, screen);
  attr.event_mask = StructureNotifyMask;
  mWindow = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, (unsigned)w, (unsigned)h, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attr);
  mDeleteAtom = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  Atom protocols[1] = {(Atom)mDeleteAtom};
  XSetWMProtocols(dpy, mWindow, protocols, 1);
  XClassHint* hint = XAllocClassHint();
  if (hint)
  {
    std::string name = appClass, klass = appClass;
    if (!klass.empty()) klass[0] = (char)toupper((unsigned char)klass[0]);
    hint->res_name = &name[0];
    hint->res_class = &klass[0];
    XSetClassHint(dpy, mWindow, hint);
    XFree(hint);
  }
  const long pid = (long)getpid();
  XChangeProperty(dpy, mWindow, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  FixSize(w, h);
  SetTitle(title);
  XMapWindow(dpy, mWindow);
  XFlush(dpy);
  mCloseAsked = false;
  return true;
}

void IGraphicsLinuxTopWindow::Close()
{
  if (!mDisplay) return;
  Display* dpy = Dpy(mDisplay);
  if (mWindow) XDestroyWindow(dpy, mWindow);
  XSync(dpy, False);
  IGraphicsLinuxRemoveOwnDisplay(dpy);
  XCloseDisplay(dpy);
  mDisplay = nullptr;
  mWindow = 0;
}

int IGraphicsLinuxTopWindow::Fd() const { return mDisplay ? ConnectionNumber(Dpy(mDisplay)) : -1; }

void IGraphicsLinuxTopWindow::SetTitle(const std::string& title)
{
  if (!mWindow) return;
  Display* dpy = Dpy(mDisplay);
  XStoreName(dpy, mWindow, title.c_str());
  // Window managers show the UTF-8 name where there is one.
  XChangeProperty(dpy, mWindow, XInternAtom(dpy, "_NET_WM_NAME", False), XInternAtom(dpy, "UTF8_STRING", False), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.c_str()), (int)title.size());
  XFlush(dpy);
}

void IGraphicsLinuxTopWindow::FixSize(int w, int h)
{
  // The editor has the sizes of its scales, not any the user drags to.
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = PMinSize | PMaxSize;
  hints->min_width = hints->max_width = w;
  hints->min_height = hints->max_height = h;
  XSetWMNormalHints(Dpy(mDisplay), mWindow, hints);
  XFree(hints);
}

void IGraphicsLinuxTopWindow::Resize(int w, int h)
{
  if (!mWindow || w <= 0 || h <= 0) return;
  FixSize(w, h);
  XResizeWindow(Dpy(mDisplay), mWindow, (unsigned)w, (unsigned)h);
  XFlush(Dpy(mDisplay));
}

bool IGraphicsLinuxTopWindow::Pump()
{
  if (!mDisplay) return mCloseAsked;
  Display* dpy = Dpy(mDisplay);
  while (XPending(dpy) > 0)
  {
    XEvent e;
    XNextEvent(dpy, &e);
    if (e.type == ClientMessage && (unsigned long)e.xclient.data.l[0] == mDeleteAtom) mCloseAsked = true;
    if (e.type == DestroyNotify && e.xdestroywindow.window == mWindow)
    {
      mWindow = 0;
      mCloseAsked = true;
    }
  }
  return mCloseAsked;
}
