#pragma once

// The host's timer (timer-support) as the editor's run loop. A CLAP host
// offers no descriptor watching here, so every tick reads what the
// window's connection holds and, when the editor's own period is due,
// lets it redraw: the LV2 UI's idle calls do the same.

#include <cstdint>

#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "graphics/IEditorRunLoop.h"

class IFxCLAPTimerLoop final : public IEditorRunLoop
{
public:
  IFxCLAPTimerLoop(const clap_host_t* host, const clap_host_timer_support_t* timer) : mHost(host), mTimer(timer) {}
  ~IFxCLAPTimerLoop() override { Unregister(); }
  IFxCLAPTimerLoop(const IFxCLAPTimerLoop&) = delete;
  IFxCLAPTimerLoop& operator=(const IFxCLAPTimerLoop&) = delete;

  bool WatchFd(int fd, IEditorRunLoopClient* pClient) override
  {
    mFd = fd;
    mFdClient = pClient;
    return true;
  }
  void UnwatchFd(IEditorRunLoopClient* pClient) override
  {
    if (mFdClient == pClient) mFdClient = nullptr;
  }
  // Registers the host's timer at the editor's period, once.
  bool StartTimer(int ms, IEditorRunLoopClient* pClient) override;
  void StopTimer(IEditorRunLoopClient* pClient) override
  {
    if (mTimerClient == pClient) mTimerClient = nullptr;
  }

  // The host's timer fired; false when it is not ours.
  bool OnTimer(uint32_t timerId);
  void Unregister();

private:
  const clap_host_t* mHost;
  const clap_host_timer_support_t* mTimer;
  bool mRegistered = false;
  uint32_t mTimerId = 0;
  int mFd = -1;
  IEditorRunLoopClient* mFdClient = nullptr;
  IEditorRunLoopClient* mTimerClient = nullptr;
  int mTimerMs = 40;
  double mLastTick = 0.0;
};
