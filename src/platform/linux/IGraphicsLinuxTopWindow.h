#pragma once

// A top-level X11 window of a program's own, for the editor to open in
// (IGraphicsLinux takes it as its parent): a fixed size, a title, and the
// window manager's close button reported instead of obeyed. It has a
// connection of its own; the program watches Fd() and calls Pump.

#include <string>

class IGraphicsLinuxTopWindow
{
public:
  IGraphicsLinuxTopWindow() = default;
  ~IGraphicsLinuxTopWindow() { Close(); }
  IGraphicsLinuxTopWindow(const IGraphicsLinuxTopWindow&) = delete;
  IGraphicsLinuxTopWindow& operator=(const IGraphicsLinuxTopWindow&) = delete;

  // Opens the display (DISPLAY), creates the window and maps it; false with
  // the reason when there is no display.
  bool Open(int w, int h, const std::string& title, const std::string& appClass, std::string& error);
  void Close();
  bool IsOpen() const { return mWindow != 0; }
  // The window's id, for IGraphics::OpenWindow.
  unsigned long XWindow() const { return mWindow; }
  // The connection's descriptor; -1 when closed.
  int Fd() const;
  void SetTitle(const std::string& title);
  void Resize(int w, int h);
  // Reads what the connection holds; true once the user has asked the
  // window to close (the close button, or the window destroyed).
  bool Pump();

private:
  void FixSize(int w, int h);

  void* mDisplay = nullptr;
  unsigned long mWindow = 0;
  unsigned long mDeleteAtom = 0;
  bool mCloseAsked = false;
};
