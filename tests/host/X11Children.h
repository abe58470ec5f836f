#pragma once

// The child windows of a window, after the server has seen every request.

#include <X11/Xlib.h>

#include <vector>

inline std::vector<Window> X11Children(Display* dpy, Window parent)
{
  Window root, par, *kids = nullptr;
  unsigned n = 0;
  std::vector<Window> out;
  XSync(dpy, False);
  if (XQueryTree(dpy, parent, &root, &par, &kids, &n))
  {
    out.assign(kids, kids + n);
    if (kids) XFree(kids);
  }
  return out;
}
