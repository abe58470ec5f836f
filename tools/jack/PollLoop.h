#pragma once

// The program's main loop: poll() over the descriptors the editor and the
// program watch, with the editor's timers, for a program that owns its
// loop (a plug-in's editor is driven by its host's loop instead).

#include <poll.h>

#include <functional>
#include <vector>

#include "graphics/IEditorRunLoop.h"

class PollLoop final : public IEditorRunLoop
{
public:
  // ---- the editor's side ----
  bool WatchFd(int fd, IEditorRunLoopClient* pClient) override;
  void UnwatchFd(IEditorRunLoopClient* pClient) override;
  bool StartTimer(int milliseconds, IEditorRunLoopClient* pClient) override;
  void StopTimer(IEditorRunLoopClient* pClient) override;

  // ---- the program's side ----
  // fd is watched while it is >= 0 (the function is asked each turn).
  void Watch(std::function<int()> fd, std::function<void()> onReadable);
  // Waits for a descriptor, or at most maxWaitMs, then serves what is due.
  void RunOnce(int maxWaitMs);

private:
  struct FdWatch
  {
    int fd;
    IEditorRunLoopClient* client;
  };
  struct Timer
  {
    int periodMs;
    double nextMs;
    IEditorRunLoopClient* client;
  };
  struct ProgramWatch
  {
    std::function<int()> fd;
    std::function<void()> onReadable;
  };
  std::vector<FdWatch> mFds;
  std::vector<Timer> mTimers;
  std::vector<ProgramWatch> mProgram;
};
