#include "PollLoop.h"

#include <algorithm>

#include "kit/KitClock.h"

bool PollLoop::WatchFd(int fd, IEditorRunLoopClient* pClient)
{
  UnwatchFd(pClient);
  mFds.push_back({fd, pClient});
  return true;
}

void PollLoop::UnwatchFd(IEditorRunLoopClient* pClient)
{
  mFds.erase(std::remove_if(mFds.begin(), mFds.end(), [&](const FdWatch& w) { return w.client == pClient; }),
             mFds.end());
}

bool PollLoop::StartTimer(int milliseconds, IEditorRunLoopClient* pClient)
{
  StopTimer(pClient);
  const int period = std::max(1, milliseconds);
  mTimers.push_back({period, KitNowMs() + period, pClient});
  return true;
}

void PollLoop::StopTimer(IEditorRunLoopClient* pClient)
{
  mTimers.erase(std::remove_if(mTimers.begin(), mTimers.end(), [&](const Timer& t) { return t.client == pClient; }),
                mTimers.end());
}

void PollLoop::Watch(std::function<int()> fd, std::function<void()> onReadable)
{
  mProgram.push_back({std::move(fd), std::move(onReadable)});
}

void PollLoop::RunOnce(int maxWaitMs)
{
  std::vector<pollfd> fds;
  std::vector<int> owner;  // >= 0: mProgram's index; -1 - i: mFds' i
  for (size_t i = 0; i < mProgram.size(); ++i)
  {
    const int fd = mProgram[i].fd();
    if (fd < 0) continue;
    fds.push_back({fd, POLLIN, 0});
    owner.push_back((int)i);
  }
  for (size_t i = 0; i < mFds.size(); ++i)
  {
    fds.push_back({mFds[i].fd, POLLIN, 0});
    owner.push_back(-1 - (int)i);
  }
  double now = KitNowMs();
  int wait = std::max(0, maxWaitMs);
  for (const Timer& t : mTimers) wait = std::min(wait, std::max(0, (int)(t.nextMs - now)));
  poll(fds.data(), fds.size(), wait);

  // A handler may stop a watch (or close the editor's window): what is
  // ready is noted first, and each editor client looked up again before
  // it is called.
  std::vector<size_t> programReady;
  std::vector<FdWatch> ready;
  for (size_t k = 0; k < fds.size(); ++k)
  {
    if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    if (owner[k] >= 0)
      programReady.push_back((size_t)owner[k]);
    else
      ready.push_back(mFds[(size_t)(-1 - owner[k])]);
  }
  for (size_t i : programReady) mProgram[i].onReadable();
  for (const FdWatch& w : ready)
    for (const FdWatch& current : mFds)
      if (current.client == w.client && current.fd == w.fd)
      {
        w.client->OnRunLoopFd(w.fd);
        break;
      }
  now = KitNowMs();
  std::vector<IEditorRunLoopClient*> due;
  for (Timer& t : mTimers)
    if (now >= t.nextMs)
    {
      t.nextMs = std::max(t.nextMs + t.periodMs, now + 1);
      due.push_back(t.client);
    }
  for (IEditorRunLoopClient* c : due)
    if (std::any_of(mTimers.begin(), mTimers.end(), [&](const Timer& t) { return t.client == c; })) c->OnRunLoopTimer();
}
