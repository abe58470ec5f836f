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
#include <memory>

#include "graphics/IEditorRunLoop.h"
#include "pluginterfaces/base/funknown.h"

class IFxVST3HostRunLoop;

class IFxVST3Notices final : private IEditorRunLoopClient
{
public:
  // What telling the host means: called on the run loop's thread with the
  // flags collected since the last time (never 0).
  using Teller = void (*)(void* context, Steinberg::int32 restartFlags);

  IFxVST3Notices(Teller tell, void* context);
  ~IFxVST3Notices();
  IFxVST3Notices(const IFxVST3Notices&) = delete;
  IFxVST3Notices& operator=(const IFxVST3Notices&) = delete;

  // Any thread; never waits and never calls the host.
  void Post(Steinberg::int32 restartFlags) { mPending.fetch_or(restartFlags, std::memory_order_acq_rel); }

  // The host context's run loop, if it offers one; kept until StopAll.
  void UseContextLoop(Steinberg::FUnknown* context);
  // An open view's run loop (not owned), used while no context loop is and
  // until DropViewLoop, which the view calls before it lets the loop go.
  void UseViewLoop(IEditorRunLoop* loop);
  void DropViewLoop(IEditorRunLoop* loop);
  // Unregisters from every loop (terminate, destruction).
  void StopAll();

private:
  void OnRunLoopFd(int) override {}
  // Tells what is pending.
  void OnRunLoopTimer() override;

  Teller mTell;
  void* mContext;
  std::atomic<Steinberg::int32> mPending{0};
  std::unique_ptr<IFxVST3HostRunLoop> mContextLoop;
  IEditorRunLoop* mViewLoop = nullptr;
};
