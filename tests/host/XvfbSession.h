#pragma once

// A private X server for the tests of one process: Xvfb on a free display
// number, DISPLAY pointed at it, stopped again at the end. Xvfb picks the
// number itself (-displayfd), so parallel test processes never collide.

#include <string>

namespace vst3host {

class XvfbSession
{
public:
  XvfbSession() = default;
  ~XvfbSession() { Stop(); }
  XvfbSession(const XvfbSession&) = delete;
  XvfbSession& operator=(const XvfbSession&) = delete;

  // Starts the server (2560 x 1600, 24 bits: room for an editor at scale 3)
  // and sets DISPLAY; false, with the reason in Error(), when Xvfb is
  // missing or does not come up.
  bool Start();
  void Stop();
  const std::string& Display() const { return mDisplay; }
  // The server's process id, -1 when it is not running.
  int Pid() const { return mPid; }
  const std::string& Error() const { return mError; }

  // The one session of this process, started on first use.
  static XvfbSession& Shared();

private:
  int mPid = -1;
  std::string mDisplay, mError;
};

}  // namespace vst3host
