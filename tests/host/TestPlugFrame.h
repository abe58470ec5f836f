#pragma once

// The host side of an editor window on Linux: the frame a view is given,
// which is also the host's run loop (a poll over registered descriptors and
// timers that the test runs on its own thread, as a host's UI thread would).

#include <chrono>
#include <functional>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"

namespace vst3host {

using namespace Steinberg;

class PlugFrame : public IPlugFrame, public Linux::IRunLoop
{
public:
  // offerRunLoop false: a host without the run loop (not conforming).
  explicit PlugFrame(bool offerRunLoop = true) : mOfferRunLoop(offerRunLoop) {}
  virtual ~PlugFrame();

  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override;

  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) override;
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override;
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override;
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override;

  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override { return --mRefs; }  // owned by the test

  // Runs the loop: every readable descriptor's handler, every due timer.
  void RunFor(int milliseconds);
  // Runs until pred() holds or the time is up; returns pred().
  bool RunUntil(const std::function<bool()>& pred, int timeoutMs);

  size_t EventHandlerCount() const { return mFds.size(); }
  size_t TimerCount() const { return mTimers.size(); }
  // Interval of the first registered timer, 0 when there is none.
  uint64 FirstTimerInterval() const { return mTimers.empty() ? 0 : mTimers[0].interval; }
  int TimerCalls() const { return mTimerCalls; }
  int ResizeRequests() const { return mResizeRequests; }
  ViewRect LastResize() const { return mLastResize; }
  // When false, resizeView answers without calling the view's onSize.
  void SetAnswerResize(bool answer) { mAnswerResize = answer; }
  int Refs() const { return mRefs; }

private:
  struct Fd
  {
    Linux::IEventHandler* handler;
    int fd;
  };
  struct Timer
  {
    Linux::ITimerHandler* handler;
    uint64 interval;
    std::chrono::steady_clock::time_point next;
  };
  bool mOfferRunLoop;
  bool mAnswerResize = true;
  std::vector<Fd> mFds;
  std::vector<Timer> mTimers;
  int mTimerCalls = 0;
  int mResizeRequests = 0;
  ViewRect mLastResize;
  int mRefs = 1;
};

}  // namespace vst3host
