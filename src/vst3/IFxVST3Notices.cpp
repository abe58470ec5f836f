#include "vst3/IFxVST3Notices.h"

using namespace Steinberg;

namespace {
// Often enough that a host's display follows a preset at once, seldom
// enough to cost nothing.
constexpr Linux::TimerInterval kTellIntervalMs = 30;
}  // namespace

// The registration's handler. The host may hold references past
// unregistration, so it is counted and may outlive the notices; Detach()
// makes a late call harmless.
class IFxVST3Notices::Timer : public Linux::ITimerHandler
{
public:
  explicit Timer(IFxVST3Notices* owner) : mOwner(owner) {}
  void PLUGIN_API onTimer() override
  {
    if (IFxVST3Notices* owner = mOwner.load()) owner->Tell();
  }
  void Detach() { mOwner.store(nullptr); }

  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
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
  virtual ~Timer() {}
  std::atomic<IFxVST3Notices*> mOwner;
  std::atomic<uint32> mRefs{1};
};

bool IFxVST3Notices::Register(Registration& r, FUnknown* loopOwner)
{
  if (r.loop || !loopOwner) return r.loop != nullptr;
  Linux::IRunLoop* loop = nullptr;
  if (loopOwner->queryInterface(Linux::IRunLoop::iid, (void**)&loop) != kResultOk || !loop) return false;
  auto* timer = new Timer(this);
  if (loop->registerTimer(timer, kTellIntervalMs) != kResultOk)
  {
    timer->Detach();
    timer->release();
    loop->release();
    return false;
  }
  r.loop = loop;
  r.timer = timer;
  return true;
}

void IFxVST3Notices::Unregister(Registration& r)
{
  if (!r.loop) return;
  r.timer->Detach();
  r.loop->unregisterTimer(r.timer);
  r.timer->release();
  r.loop->release();
  r = Registration();
}

void IFxVST3Notices::UseLoop(FUnknown* loopOwner, bool fromView)
{
  if (!fromView)
  {
    if (Register(mContextLoop, loopOwner)) Unregister(mViewLoop);
  }
  else if (!mContextLoop.loop)
    Register(mViewLoop, loopOwner);
}

void IFxVST3Notices::DropViewLoop() { Unregister(mViewLoop); }

void IFxVST3Notices::StopAll()
{
  Unregister(mViewLoop);
  Unregister(mContextLoop);
}

void IFxVST3Notices::Tell()
{
  const int32 flags = mPending.exchange(0, std::memory_order_acq_rel);
  if (flags && mTell) mTell(mContext, flags);
}
