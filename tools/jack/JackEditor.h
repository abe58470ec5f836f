#pragma once

// The editor in a window of the program's own: the same editor as in a
// plug-in host, made when shown and deleted when hidden, driven by the
// program's loop.

#include <string>

#include "platform/linux/IGraphicsLinuxTopWindow.h"

class PollLoop;
class TavloJackEngine;

class JackEditor
{
public:
  JackEditor(TavloJackEngine& engine, PollLoop& loop) : mEngine(engine), mLoop(loop) {}
  ~JackEditor() { Hide(); }
  JackEditor(const JackEditor&) = delete;
  JackEditor& operator=(const JackEditor&) = delete;

  // False with the reason (no display) and nothing shown.
  bool Show(const std::string& title, std::string& error);
  void Hide();
  bool Shown() const { return mWindow.IsOpen(); }
  void SetTitle(const std::string& title) { mWindow.SetTitle(title); }
  // The window's connection; -1 while hidden.
  int Fd() const { return mWindow.Fd(); }
  // Reads the window's events; true once its close button was pressed.
  bool CloseAsked() { return mWindow.Pump(); }
  void Resize(int w, int h) { mWindow.Resize(w, h); }

  // Where the editor's images are: the installed CLAP bundle's
  // (../lib/clap beside this program's folder, ~/.clap, /usr/local/lib/clap,
  // /usr/lib/clap), else the build's.
  static std::string ResourceFolder();

private:
  TavloJackEngine& mEngine;
  PollLoop& mLoop;
  IGraphicsLinuxTopWindow mWindow;
};
