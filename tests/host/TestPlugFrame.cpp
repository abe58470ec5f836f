#include "TestPlugFrame.h"

#include <poll.h>

#include <algorithm>

namespace vst3host {

PlugFrame::~PlugFrame()
{
  // A plug-in that forgot to unregister still gets its references back.
  for (Fd& f : mFds) f.handler->release();
  for (Timer& t : mTimers) t.handler->release();
}

tresult PLUGIN_API PlugFrame::resizeView(IPlugView* view, ViewRect* newSize)
{
  if (!view || !newSize) return kInvalidArgument;
  ++mResizeRequests;
  mLastResize = *newSize;
  if (mAnswerResize) view->onSize(newSize);
  return kResultOk;
}

tresult PLUGIN_API PlugFrame::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd)
{
  if (!handler || fd < 0) return kInvalidArgument;
  handler->addRef();
  mFds.push_back({handler, fd});
  return kResultOk;
}

tresult PLUGIN_API PlugFrame::unregisterEventHandler(Linux::IEventHandler* handler)
{
  for (size_t i = 0; i < mFds.size(); ++i)
    if (mFds[i].handler == handler)
    {
      mFds.erase(mFds.begin() + (long)i);
      handler->release();
      return kResultOk;
    }
  return kInvalidArgument;
}

tresult PLUGIN_API PlugFrame::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval ms)
{
  if (!handler || ms == 0) return kInvalidArgument;
  handler->addRef();
  mTimers.push_back({handler, ms, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)});
  return kResultOk;
}

tresult PLUGIN_API PlugFrame::unregisterTimer(Linux::ITimerHandler* handler)
{
  for (size_t i = 0; i < mTimers.size(); ++i)
    if (mTimers[i].handler == handler)
    {
      mTimers.erase(mTimers.begin() + (long)i);
      handler->release();
      return kResultOk;
    }
  return kInvalidArgument;
}

tresult PLUGIN_API PlugFrame::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    *obj = static_cast<IPlugFrame*>(this);
    addRef();
    return kResultOk;
  }
  if (mOfferRunLoop && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid))
  {
    *obj = static_cast<Linux::IRunLoop*>(this);
    addRef();
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

void PlugFrame::RunFor(int milliseconds)
{
  RunUntil([] { return false; }, milliseconds);
}

bool PlugFrame::RunUntil(const std::function<bool()>& pred, int timeoutMs)
{
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred())
  {
    const auto now = clock::now();
    if (now >= end) return pred();
    auto wake = end;
    for (const Timer& t : mTimers) wake = std::min(wake, t.next);
    // Rounded up: rounded down, the last millisecond before a timer is due
    // would be spent polling without waiting.
    const auto until = std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count();
    const int wait = (int)std::max<long>(0, (until + 999) / 1000);

    std::vector<pollfd> pfds;
    for (const Fd& f : mFds) pfds.push_back({f.fd, POLLIN, 0});
    if (!pfds.empty())
      poll(pfds.data(), pfds.size(), wait);
    else if (wait > 0)
      poll(nullptr, 0, wait);

    // Handlers may unregister themselves or others: act on copies and
    // check that each one is still registered.
    for (const pollfd& p : pfds)
    {
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      for (const Fd& f : std::vector<Fd>(mFds))
        if (f.fd == p.fd && std::any_of(mFds.begin(), mFds.end(), [&](const Fd& g) { return g.handler == f.handler; }))
          f.handler->onFDIsSet(f.fd);
    }
    const auto after = clock::now();
    for (const Timer& t : std::vector<Timer>(mTimers))
    {
      auto it = std::find_if(mTimers.begin(), mTimers.end(), [&](const Timer& u) { return u.handler == t.handler; });
      if (it == mTimers.end() || it->next > after) continue;
      it->next = after + std::chrono::milliseconds(it->interval);
      ++mTimerCalls;
      t.handler->onTimer();
    }
  }
  return true;
}

}  // namespace vst3host
