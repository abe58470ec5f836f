// A module that draws text and nothing else, loaded and unloaded by
// ModuleUnloadTest the way a host loads a plug-in.
#include "raster/PxBitmap.h"

// Makes a font of the face, draws a line with it and deletes it again;
// returns the height drawn (0 when there was no font).
extern "C" __attribute__((visibility("default"))) int TavloProbeText(const char* face, int bold)
{
  HFONT f = CreateFont(14, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, 0, 0, 0, ANTIALIASED_QUALITY, 0,
                       face);
  if (!f) return 0;
  PxSysBitmap b(120, 30);
  SelectObject(b.getDC(), f);
  RECT r = {0, 0, 120, 30};
  const int h = GdiDrawText(b.getDC(), "Tavlo 3.3.0", -1, &r, DT_NOCLIP);
  DeleteObject(f);
  return h;
}
