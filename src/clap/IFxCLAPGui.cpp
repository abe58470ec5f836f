// The editor in a CLAP host's X11 window: made when the host creates the
// GUI and deleted when it destroys it, drawn and fed its window's events
// from the host's timer.

#include <time.h>

#include <cmath>
#include <cstring>

#include "clap/IFxCLAP.h"
#include "clap/IFxCLAPTimerLoop.h"
#include "graphics/IGraphics.h"
#include "kit/KitClock.h"

// ---------------------------------------------------------------------------
// The host's timer as the editor's run loop

bool IFxCLAPTimerLoop::StartTimer(int ms, IEditorRunLoopClient* pClient)
{
  mTimerMs = ms > 0 ? ms : 1;
  mTimerClient = pClient;
  mLastTick = KitNowMs();
  if (mRegistered) return true;
  // Events are read at each tick too, so the host's period is at most 30 ms.
  const uint32_t period = (uint32_t)(mTimerMs < 30 ? mTimerMs : 30);
  clap_id id = CLAP_INVALID_ID;
  if (!mTimer || !mTimer->register_timer || !mTimer->register_timer(mHost, period, &id)) return false;
  mTimerId = id;
  mRegistered = true;
  return true;
}

void IFxCLAPTimerLoop::Unregister()
{
  if (mRegistered && mTimer && mTimer->unregister_timer) mTimer->unregister_timer(mHost, mTimerId);
  mRegistered = false;
}

bool IFxCLAPTimerLoop::OnTimer(uint32_t timerId)
{
  if (!mRegistered || timerId != mTimerId) return false;
  // The connection may hold events already read from the socket, so the
  // editor looks at every tick rather than only when the socket is ready.
  if (mFdClient) mFdClient->OnRunLoopFd(mFd);
  // Host timers are not precise; a tick that is nearly due is taken.
  const double now = KitNowMs();
  if (mTimerClient && now - mLastTick >= 0.75 * mTimerMs)
  {
    mLastTick = now;
    mTimerClient->OnRunLoopTimer();
  }
  return true;
}

// ---------------------------------------------------------------------------
// The GUI

bool IFxCLAP::GuiIsApiSupported(const char* api, bool isFloating) const
{
  return mMakeEditor && api && !strcmp(api, CLAP_WINDOW_API_X11) && !isFloating;
}

bool IFxCLAP::GuiCreate(const char* api, bool isFloating)
{
  AssertMainThread();
  // One GUI at a time, and only with the host's timer to drive it.
  if (!GuiIsApiSupported(api, isFloating) || mMadeEditor || mPlug->GetGraphics()) return false;
  if (!mHostTimer || !mHostTimer->register_timer) return false;
  IGraphics* pGraphics = mMakeEditor(mPlug.get());
  if (!pGraphics) return false;
  // The editor, and every image it shows, exists from here on.
  mPlug->AttachGraphics(pGraphics);
  mMadeEditor = true;
  return true;
}

void IFxCLAP::GuiDestroy()
{
  if (!mMadeEditor) return;
  AssertMainThread();
  auto* pGraphics = static_cast<IGraphics*>(mPlug->GetGraphics());
  if (pGraphics && pGraphics->WindowIsOpen())
  {
    mPlug->OnGUIClose();
    pGraphics->CloseWindow();
  }
  if (pGraphics) pGraphics->SetHostRunLoop(nullptr);
  mTimerLoop.reset();
  mMadeEditor = false;
  mPlug->DeleteGraphics();
}

bool IFxCLAP::GuiSetScale(double scale)
{
  AssertMainThread();
  auto* pGraphics = static_cast<IGraphics*>(mPlug->GetGraphics());
  if (!mMadeEditor || !pGraphics || !std::isfinite(scale) || scale <= 0.0) return false;
  const int w = pGraphics->WindowWidth(), h = pGraphics->WindowHeight();
  // The editor's own order of precedence (the user's override first) decides.
  pGraphics->SetScale(scale);
  if (pGraphics->WindowIsOpen() && (pGraphics->WindowWidth() != w || pGraphics->WindowHeight() != h))
    ResizeGraphics(pGraphics->WindowWidth(), pGraphics->WindowHeight());
  return true;
}

bool IFxCLAP::GuiGetSize(uint32_t* width, uint32_t* height)
{
  AssertMainThread();
  auto* pGraphics = static_cast<IGraphics*>(mPlug->GetGraphics());
  if (!mMadeEditor || !pGraphics || !width || !height) return false;
  *width = (uint32_t)pGraphics->WindowWidth();
  *height = (uint32_t)pGraphics->WindowHeight();
  return true;
}

bool IFxCLAP::GuiSetSize(uint32_t width, uint32_t height)
{
  uint32_t w = 0, h = 0;
  return GuiGetSize(&w, &h) && w == width && h == height;
}

bool IFxCLAP::GuiSetParent(const clap_window_t* window)
{
  AssertMainThread();
  auto* pGraphics = static_cast<IGraphics*>(mPlug->GetGraphics());
  if (!mMadeEditor || !pGraphics || !window || !window->api || strcmp(window->api, CLAP_WINDOW_API_X11) != 0 ||
      !window->x11)
    return false;
  // One editor object has one window.
  if (pGraphics->WindowIsOpen()) return false;
  mTimerLoop.reset(new IFxCLAPTimerLoop(mHost, mHostTimer));
  pGraphics->SetHostRunLoop(mTimerLoop.get());
  if (!pGraphics->OpenWindow(reinterpret_cast<void*>(window->x11)))
  {
    pGraphics->SetHostRunLoop(nullptr);
    mTimerLoop.reset();
    return false;
  }
  mPlug->OnGUIOpen();
  return true;
}

void IFxCLAP::OnTimer(clap_id timerId)
{
  AssertMainThread();
  if (mTimerLoop) mTimerLoop->OnTimer(timerId);
}

void IFxCLAP::ResizeGraphics(int w, int h)
{
  auto* pGraphics = static_cast<IGraphics*>(mPlug->GetGraphics());
  if (pGraphics && pGraphics->WindowIsOpen() && mHostGui && mHostGui->request_resize && w > 0 && h > 0)
    mHostGui->request_resize(mHost, (uint32_t)w, (uint32_t)h);
}
