#include "vst3/IFxVST3View.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "graphics/IGraphics.h"
#include "vst3/IFxVST3.h"
#include "vst3/IFxVST3HostRunLoop.h"

using namespace Steinberg;


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
  mOwner->Notices().UseViewLoop(mRunLoop);
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
  if (mOwner && mRunLoop) mOwner->Notices().DropViewLoop(mRunLoop);
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
