#include "vst3/IFxVST3View.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "graphics/IEditorRunLoop.h"
#include "graphics/IGraphics.h"
#include "vst3/IFxVST3.h"

using namespace Steinberg;

namespace {

// One registration with the host's run loop. The host may hold references
// past unregistration, so these objects are counted and outlive the view
// if need be; Detach() makes a late call harmless.
class RunLoopHandler : public Linux::IEventHandler, public Linux::ITimerHandler
{
public:
  explicit RunLoopHandler(IEditorRunLoopClient* pClient) : mClient(pClient) {}

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
  virtual ~RunLoopHandler() {}
  std::atomic<IEditorRunLoopClient*> mClient;
  std::atomic<uint32> mRefs{1};
};

}  // namespace

// The host's Linux::IRunLoop behind the platform-neutral interface.
class IFxVST3HostRunLoop : public IEditorRunLoop
{
public:
  explicit IFxVST3HostRunLoop(Linux::IRunLoop* pLoop) : mLoop(pLoop) {}
  ~IFxVST3HostRunLoop() override
  {
    for (Entry& e : mFds) Drop(e, false);
    for (Entry& e : mTimers) Drop(e, true);
    mLoop->release();
  }

  bool WatchFd(int fd, IEditorRunLoopClient* pClient) override
  {
    UnwatchFd(pClient);
    auto* h = new RunLoopHandler(pClient);
    if (mLoop->registerEventHandler(static_cast<Linux::IEventHandler*>(h), fd) != kResultOk)
    {
      h->Detach();
      h->release();
      return false;
    }
    mFds.push_back({pClient, h});
    return true;
  }
  void UnwatchFd(IEditorRunLoopClient* pClient) override { Remove(mFds, pClient, false); }

  bool StartTimer(int ms, IEditorRunLoopClient* pClient) override
  {
    StopTimer(pClient);
    auto* h = new RunLoopHandler(pClient);
    if (mLoop->registerTimer(static_cast<Linux::ITimerHandler*>(h), (Linux::TimerInterval)std::max(ms, 1)) !=
        kResultOk)
    {
      h->Detach();
      h->release();
      return false;
    }
    mTimers.push_back({pClient, h});
    return true;
  }
  void StopTimer(IEditorRunLoopClient* pClient) override { Remove(mTimers, pClient, true); }

private:
  struct Entry
  {
    IEditorRunLoopClient* client;
    RunLoopHandler* handler;
  };

  void Drop(Entry& e, bool timer)
  {
    if (timer)
      mLoop->unregisterTimer(static_cast<Linux::ITimerHandler*>(e.handler));
    else
      mLoop->unregisterEventHandler(static_cast<Linux::IEventHandler*>(e.handler));
    e.handler->Detach();
    e.handler->release();
  }
  void Remove(std::vector<Entry>& list, IEditorRunLoopClient* pClient, bool timer)
  {
    for (size_t i = 0; i < list.size(); ++i)
    {
      if (list[i].client != pClient) continue;
      Drop(list[i], timer);
      list.erase(list.begin() + (long)i);
      return;
    }
  }

  Linux::IRunLoop* mLoop;
  std::vector<Entry> mFds, mTimers;
};

IFxVST3View::IFxVST3View(IFxVST3* pOwner) : CPluginView(nullptr), mOwner(pOwner)
{
  if (mOwner) mOwner->addRef();
}

IFxVST3View::~IFxVST3View()
{
  if (mOwner)
  {
    // A host that drops the view without removed() still closes the window.
    if (mRunLoop) removed();
    mOwner->ForgetView(this);
    mOwner->release();
  }
}

tresult PLUGIN_API IFxVST3View::isPlatformTypeSupported(FIDString type)
{
  if (!mOwner || !mOwner->Plug()->GetGraphics() || !type) return kResultFalse;
  return strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultOk : kResultFalse;
}

tresult PLUGIN_API IFxVST3View::attached(void* parent, FIDString type)
{
  if (!mOwner || !mOwner->Plug()->GetGraphics()) return kResultFalse;
  if (!type || strcmp(type, kPlatformTypeX11EmbedWindowID) != 0 || !parent) return kResultFalse;
  if (mRunLoop) return kResultFalse;  // already open in a window

  // Without the host's run loop nothing would ever draw or answer events.
  Linux::IRunLoop* loop = nullptr;
  if (!plugFrame || plugFrame->queryInterface(Linux::IRunLoop::iid, (void**)&loop) != kResultOk || !loop)
    return kResultFalse;

  // One editor object has one window: a second view of the same plug-in
  // would take it from the first, whose removed() would then close it.
  auto* pGraphics = static_cast<IGraphics*>(mOwner->Plug()->GetGraphics());
  if (pGraphics->WindowIsOpen())
  {
    loop->release();
    return kResultFalse;
  }
  mRunLoop = new IFxVST3HostRunLoop(loop);
  pGraphics->SetHostRunLoop(mRunLoop);
  if (!pGraphics->OpenWindow(parent))
  {
    pGraphics->SetHostRunLoop(nullptr);
    delete mRunLoop;
    mRunLoop = nullptr;
    return kResultFalse;
  }
  mOwner->Plug()->OnGUIOpen();
  // A host that offers no run loop of its own elsewhere hears the binding's
  // notices from this one while the view is open.
  mOwner->Notices().UseLoop(plugFrame, true);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3View::removed()
{
  if (mOwner && mOwner->Plug()->GetGraphics() && mRunLoop)
  {
    auto* pGraphics = static_cast<IGraphics*>(mOwner->Plug()->GetGraphics());
    mOwner->Plug()->OnGUIClose();
    pGraphics->CloseWindow();
    pGraphics->SetHostRunLoop(nullptr);
  }
  if (mOwner && mRunLoop) mOwner->Notices().DropViewLoop();
  delete mRunLoop;
  mRunLoop = nullptr;
  return CPluginView::removed();
}

tresult PLUGIN_API IFxVST3View::getSize(ViewRect* size)
{
  if (!mOwner || !mOwner->Plug()->GetGraphics()) return kResultFalse;
  if (!size) return kInvalidArgument;
  auto* pGraphics = static_cast<IGraphics*>(mOwner->Plug()->GetGraphics());
  *size = ViewRect(0, 0, pGraphics->WindowWidth(), pGraphics->WindowHeight());
  return kResultOk;
}

tresult PLUGIN_API IFxVST3View::setContentScaleFactor(ScaleFactor factor)
{
  if (!mOwner || !mOwner->Plug()->GetGraphics()) return kResultFalse;
  if (!std::isfinite(factor) || factor <= 0.0f) return kInvalidArgument;
  auto* pGraphics = static_cast<IGraphics*>(mOwner->Plug()->GetGraphics());
  const int w = pGraphics->WindowWidth(), h = pGraphics->WindowHeight();
  pGraphics->SetScale(factor);
  // An open window asks the host to make room; a closed one reports the new
  // size through getSize when it next opens.
  if (IsOpen() && (pGraphics->WindowWidth() != w || pGraphics->WindowHeight() != h))
    resize(pGraphics->WindowWidth(), pGraphics->WindowHeight());
  return kResultOk;
}

tresult PLUGIN_API IFxVST3View::onSize(ViewRect* newSize)
{
  if (newSize)
  {
    rect = *newSize;
    if (mResizePending)
    {
      mResizePending = false;
      if (mOwner) mOwner->Plug()->OnWindowResize();
    }
  }
  return kResultOk;
}

void IFxVST3View::resize(int w, int h)
{
  if (!plugFrame) return;
  mResizePending = true;
  ViewRect r(0, 0, w, h);
  plugFrame->resizeView(this, &r);
}
