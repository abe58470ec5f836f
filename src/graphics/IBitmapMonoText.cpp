#include "graphics/IBitmapMonoText.h"

#include <cstring>

void DrawBitmapedText(IGraphics* pGraphics, IBitmap* pTextBitmap, IRECT* pR, IText* pText, IChannelBlend* pBlend,
                      const char* str, bool vCenter, bool multiline, int charWidth, int charHeight, int charOffset)
{
  if (!str || !*str || !pGraphics || !pTextBitmap || !pR) return;
  // A cell without width would divide by zero below and draw nothing anyway.
  if (charWidth <= 0) return;

  int n = (int)std::strlen(str);
  int totalWidth = charWidth * n;
  int y = pR->T;
  if (vCenter) y += (pR->B - charHeight - pR->T) / 2;

  int align = pText ? pText->mAlign : IText::kAlignCenter;
  int startX;
  if (align == IText::kAlignNear)
    startX = pR->L;
  else if (align == IText::kAlignFar)
    startX = pR->R - totalWidth;
  else
    startX = pR->L + (pR->R - pR->L - totalWidth) / 2;

  int availW = pR->R - pR->L;
  int charsPerLine, lines;
  if (!multiline)
  {
    charsPerLine = availW / charWidth;
    lines = 1;
  }
  else if (availW >= totalWidth)
  {
    charsPerLine = n;
    lines = 1;
  }
  else
  {
    charsPerLine = availW / charWidth;
    lines = availW > 0 ? totalWidth / availW + 1 : 0;
  }
  if (charsPerLine <= 0) return;

  int pos = 0;
  for (int l = 0; l < lines; ++l)
  {
    int x = startX;
    for (int c = 0; c < charsPerLine && pos < n; ++c, ++pos)
    {
      int frame = (int)(signed char)str[pos] - 31;  // codes below 32 and 128+ give the blank
      IRECT cell(x, y + l * charHeight, x + charWidth, y + (l + 1) * charHeight);
      pGraphics->DrawBitmap(pTextBitmap, &cell, frame, pBlend);
      x += charWidth + charOffset;
    }
  }
}

IBitmapTextControl::IBitmapTextControl(IFxBase* pPlug, IRECT pR, IBitmap* pBitmap, const char* str, IText* pText,
                                       int charWidth, int charHeight, int charOffset, bool multiLine, bool vCenter)
  : ITextControl(pPlug, pR, pText, str), mCharWidth(charWidth), mCharHeight(charHeight), mCharOffset(charOffset),
    mTextBitmap(*pBitmap), mMultiLine(multiLine), mVCentre(vCenter)
{
}

bool IBitmapTextControl::Draw(IGraphics* pGraphics)
{
  const char* s = mStr.Get();
  if (*s)
    DrawBitmapedText(pGraphics, &mTextBitmap, &mRECT, &mText, &mBlend, s, mVCentre, mMultiLine, mCharWidth,
                     mCharHeight, mCharOffset);
  return true;
}
