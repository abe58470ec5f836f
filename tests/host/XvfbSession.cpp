#include "XvfbSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vst3host {

bool XvfbSession::Start()
{
  if (mPid > 0) return true;
  int fds[2];
  if (pipe(fds) != 0)
  {
    mError = "pipe failed";
    return false;
  }
  const pid_t pid = fork();
  if (pid < 0)
  {
    mError = "fork failed";
    return false;
  }
  if (pid == 0)
  {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0)
    {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "2560x1600x24", "-nolisten", "tcp",
           "-noreset", (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  mPid = pid;
  std::string number;
  for (;;)
  {
    pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) break;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty())
  {
    mError = "Xvfb did not start (is the xvfb package installed?)";
    Stop();
    return false;
  }
  mDisplay = ":" + number;
  setenv("DISPLAY", mDisplay.c_str(), 1);
  return true;
}

void XvfbSession::Stop()
{
  if (mPid <= 0) return;
  kill(mPid, SIGTERM);
  int status;
  waitpid(mPid, &status, 0);
  mPid = -1;
}

XvfbSession& XvfbSession::Shared()
{
  static XvfbSession session;
  return session;
}

}  // namespace vst3host
