#pragma once

// Text drawn from a fixed-width font stored as a film strip: frame k holds
// the glyph of character code 31 + k (frame 1 is the blank).

#include "graphics/IControl.h"

void DrawBitmapedText(IGraphics* pGraphics, IBitmap* pTextBitmap, IRECT* pR, IText* pText, IChannelBlend* pBlend,
                      const char* str, bool vCenter = true, bool multiline = false, int charWidth = 6,
                      int charHeight = 12, int charOffset = 0);

class IBitmapTextControl : public ITextControl
{
public:
  IBitmapTextControl(IFxBase* pPlug, IRECT pR, IBitmap* pBitmap, const char* str = "", IText* pText = nullptr,
                     int charWidth = 6, int charHeight = 12, int charOffset = 0, bool multiLine = false,
                     bool vCenter = true);
  bool Draw(IGraphics* pGraphics) override;

protected:
  int mCharWidth, mCharHeight, mCharOffset;
  IBitmap mTextBitmap;
  bool mMultiLine, mVCentre;
};
