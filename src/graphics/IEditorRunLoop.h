#pragma once

// The host's event loop as the editor's window host sees it. On Linux the
// host owns the loop (a plug-in may not run one of its own); the plug-in
// binding adapts the host's interface to this one, so the window host needs
// neither the plug-in SDK nor the binding, and the binding needs no X11.

class IEditorRunLoopClient
{
public:
  // The descriptor is readable.
  virtual void OnRunLoopFd(int fd) = 0;
  // One tick of the repeating timer.
  virtual void OnRunLoopTimer() = 0;

protected:
  ~IEditorRunLoopClient() = default;
};

class IEditorRunLoop
{
public:
  virtual ~IEditorRunLoop() {}
  // Each client has at most one descriptor and one timer; false when the
  // host refuses.
  virtual bool WatchFd(int fd, IEditorRunLoopClient* pClient) = 0;
  virtual void UnwatchFd(IEditorRunLoopClient* pClient) = 0;
  virtual bool StartTimer(int milliseconds, IEditorRunLoopClient* pClient) = 0;
  virtual void StopTimer(IEditorRunLoopClient* pClient) = 0;
};
