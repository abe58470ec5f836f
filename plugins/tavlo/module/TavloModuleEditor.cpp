// Inside a loadable module the editor opens in the host's X11 window.
#include "platform/linux/IGraphicsLinux.h"
#include "tavlo/TavloEditor.h"

IGraphics* MakeEditor(IFxBase* pPlug)
{
  return LayoutTavloEditor(new IGraphicsLinux(pPlug, kTavloEditorWidth, kTavloEditorHeight, kTavloEditorFPS,
                                              TavloResourceFolder().c_str()));
}
