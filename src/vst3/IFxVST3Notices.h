#pragma once

// What the binding has to tell the host but may not tell it from inside a
// call the host is making on the plug-in: Ardour holds a lock of its own
// around its calls on the controller and takes the same lock in
// restartComponent, so a restart asked for from inside setParamNormalized
// freezes it. Notices are collected on any thread (the audio thread too)
// without waiting, and told from a timer on the host's run loop, on its UI
// thread, where no call of the host's is in progress. The run loop is the
// host context's where the host offers one there, else an open view's.

#include <atomic>

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/gui/iplugview.h"

class IFxVST3Notices
{
public:
  // What telling the host means: called on the run loop's thread with the
  // flags collected since the last time (never 0).
  using Teller = void (*)(void* context, Steinberg::int32 restartFlags);

  IFxVST3Notices(Teller tell, void* context) : mTell(tell), mContext(context) {}
  ~IFxVST3Notices() { StopAll(); }
  IFxVST3Notices(const IFxVST3Notices&) = delete;
  IFxVST3Notices& operator=(const IFxVST3Notices&) = delete;

  // Any thread; never waits and never calls the host.
  void Post(Steinberg::int32 restartFlags) { mPending.fetch_or(restartFlags, std::memory_order_acq_rel); }
  // What is still to be told; for tests and for a host with no run loop.
  Steinberg::int32 Pending() const { return mPending.load(std::memory_order_acquire); }

  // A run loop to tell from. The host context's is kept until StopAll; a
  // view's (fromView) serves only while no context loop does, until
  // DropViewLoop. The loop is held (addRef) while it serves.
  void UseLoop(Steinberg::FUnknown* loopOwner, bool fromView);
  void DropViewLoop();
  // Unregisters from every loop (terminate, destruction).
  void StopAll();

  // The timer: tells what is pending.
  void Tell();

private:
  class Timer;
  struct Registration
  {
    Steinberg::Linux::IRunLoop* loop = nullptr;
    Timer* timer = nullptr;
  };
  bool Register(Registration& r, Steinberg::FUnknown* loopOwner);
  static void Unregister(Registration& r);

  Teller mTell;
  void* mContext;
  std::atomic<Steinberg::int32> mPending{0};
  Registration mContextLoop, mViewLoop;
};
