#include "vst3/IFxVST3HostRunLoop.h"

#include <algorithm>
#include <atomic>

using namespace Steinberg;

// One registration with the host's run loop. The host may hold references
// past unregistration, so these objects are counted and outlive the view
// if need be; Detach() makes a late call harmless.
class IFxVST3RunLoopHandler : public Linux::IEventHandler, public Linux::ITimerHandler
{
public:
  explicit IFxVST3RunLoopHandler(IEditorRunLoopClient* pClient) : mClient(pClient) {}

  void PLUGIN_API onFDIsSet(Linux::FileDescriptor fd) override
  {
    if (IEditorRunLoopClient* client = mClient.load()) client->OnRunLoopFd(fd);
  }
  void PLUGIN_API onTimer() override
  {
    if (IEditorRunLoopClient* client = mClient.load()) client->OnRunLoopTimer();
  }
  void Detach() { mClient.store(nullptr); }

  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (FUnknownPrivate::iidEqual(iid, Linux::IEventHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
    {
      addRef();
      *obj = static_cast<Linux::IEventHandler*>(this);
      return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid))
    {
      addRef();
      *obj = static_cast<Linux::ITimerHandler*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override
  {
    const uint32 n = --mRefs;
    if (n == 0) delete this;
    return n;
  }

private:
  virtual ~IFxVST3RunLoopHandler() {}
  std::atomic<IEditorRunLoopClient*> mClient;
  std::atomic<uint32> mRefs{1};
};


IFxVST3HostRunLoop* IFxVST3HostRunLoop::Of(FUnknown* owner)
{
  Linux::IRunLoop* loop = nullptr;
  if (!owner || owner->queryInterface(Linux::IRunLoop::iid, (void**)&loop) != kResultOk || !loop) return nullptr;
  return new IFxVST3HostRunLoop(loop);
}

IFxVST3HostRunLoop::~IFxVST3HostRunLoop()
{
  for (Entry& e : mFds) Drop(e, false);
  for (Entry& e : mTimers) Drop(e, true);
  mLoop->release();
}

bool IFxVST3HostRunLoop::WatchFd(int fd, IEditorRunLoopClient* pClient)
{
  UnwatchFd(pClient);
  auto* h = new IFxVST3RunLoopHandler(pClient);
  if (mLoop->registerEventHandler(static_cast<Linux::IEventHandler*>(h), fd) != kResultOk)
  {
    h->Detach();
    h->release();
    return false;
  }
  mFds.push_back({pClient, h});
  return true;
}

bool IFxVST3HostRunLoop::StartTimer(int ms, IEditorRunLoopClient* pClient)
{
  StopTimer(pClient);
  auto* h = new IFxVST3RunLoopHandler(pClient);
  if (mLoop->registerTimer(static_cast<Linux::ITimerHandler*>(h), (Linux::TimerInterval)std::max(ms, 1)) != kResultOk)
  {
    h->Detach();
    h->release();
    return false;
  }
  mTimers.push_back({pClient, h});
  return true;
}

void IFxVST3HostRunLoop::Drop(Entry& e, bool timer)
{
  if (timer)
    mLoop->unregisterTimer(static_cast<Linux::ITimerHandler*>(e.handler));
  else
    mLoop->unregisterEventHandler(static_cast<Linux::IEventHandler*>(e.handler));
  e.handler->Detach();
  e.handler->release();
}

void IFxVST3HostRunLoop::Remove(std::vector<Entry>& list, IEditorRunLoopClient* pClient, bool timer)
{
  for (size_t i = 0; i < list.size(); ++i)
  {
    if (list[i].client != pClient) continue;
    Drop(list[i], timer);
    list.erase(list.begin() + (long)i);
    return;
  }
}
