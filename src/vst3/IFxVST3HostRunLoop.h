#pragma once

// The host's Linux::IRunLoop behind the platform-neutral interface the
// editor's window host and the binding's notices use.

#include <vector>

#include "graphics/IEditorRunLoop.h"
#include "pluginterfaces/gui/iplugview.h"

class IFxVST3RunLoopHandler;

class IFxVST3HostRunLoop : public IEditorRunLoop
{
public:
  // Takes over one reference to the loop.
  explicit IFxVST3HostRunLoop(Steinberg::Linux::IRunLoop* pLoop) : mLoop(pLoop) {}
  ~IFxVST3HostRunLoop() override;
  // The loop an object offers (a host context, a plug frame), or null.
  static IFxVST3HostRunLoop* Of(Steinberg::FUnknown* owner);

  bool WatchFd(int fd, IEditorRunLoopClient* pClient) override;
  void UnwatchFd(IEditorRunLoopClient* pClient) override { Remove(mFds, pClient, false); }
  bool StartTimer(int ms, IEditorRunLoopClient* pClient) override;
  void StopTimer(IEditorRunLoopClient* pClient) override { Remove(mTimers, pClient, true); }

private:
  struct Entry
  {
    IEditorRunLoopClient* client;
    IFxVST3RunLoopHandler* handler;
  };
  void Drop(Entry& e, bool timer);
  void Remove(std::vector<Entry>& list, IEditorRunLoopClient* pClient, bool timer);

  Steinberg::Linux::IRunLoop* mLoop;
  std::vector<Entry> mFds, mTimers;
};
