// Inside the loadable module the editor opens in the host's X11 window.
// This definition replaces the off-screen default of TavloEditor.cpp.
#include "platform/linux/IGraphicsLinux.h"
#include "tavlo/TavloEditor.h"

IGraphics* MakeGraphics(IFxBase* pPlug, int w, int h, int fps)
{
  return new IGraphicsLinux(pPlug, w, h, fps, TavloResourceFolder().c_str());
}
