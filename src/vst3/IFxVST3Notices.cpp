#include "vst3/IFxVST3Notices.h"

#include "vst3/IFxVST3HostRunLoop.h"

namespace {
// Often enough that a host's display follows a preset at once, seldom
// enough to cost nothing.
constexpr int kTellIntervalMs = 30;
}  // namespace

IFxVST3Notices::IFxVST3Notices(Teller tell, void* context) : mTell(tell), mContext(context) {}

IFxVST3Notices::~IFxVST3Notices() { StopAll(); }

void IFxVST3Notices::UseContextLoop(Steinberg::FUnknown* context)
{
  if (mContextLoop) return;
  std::unique_ptr<IFxVST3HostRunLoop> loop(IFxVST3HostRunLoop::Of(context));
  if (!loop || !loop->StartTimer(kTellIntervalMs, this)) return;
  DropViewLoop(mViewLoop);
  mContextLoop = std::move(loop);
}

void IFxVST3Notices::UseViewLoop(IEditorRunLoop* loop)
{
  if (mContextLoop || mViewLoop || !loop) return;
  if (loop->StartTimer(kTellIntervalMs, this)) mViewLoop = loop;
}

void IFxVST3Notices::DropViewLoop(IEditorRunLoop* loop)
{
  if (!loop || loop != mViewLoop) return;
  mViewLoop->StopTimer(this);
  mViewLoop = nullptr;
}

void IFxVST3Notices::StopAll()
{
  DropViewLoop(mViewLoop);
  mContextLoop.reset();
}

void IFxVST3Notices::OnRunLoopTimer()
{
  const Steinberg::int32 flags = mPending.exchange(0, std::memory_order_acq_rel);
  if (flags && mTell) mTell(mContext, flags);
}
