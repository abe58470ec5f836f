#pragma once
// Blits, fills and pixel access on PxIBitmap.

#include "raster/PxBitmap.h"

// Low byte of a mode: the combine operation.
constexpr int kPxBlitCopy = 0;
constexpr int kPxBlitAdd = 1;
constexpr int kPxBlitDodge = 2;
constexpr int kPxBlitMultiply = 3;
constexpr int kPxBlitOverlay = 4;
constexpr int kPxBlitHSVAdjust = 5;
constexpr int kPxBlitModeMask = 0xFF;
// Scaled and rotated blits: bilinear filtering instead of nearest pixel.
constexpr int kPxBlitFilterBilinear = 0x100;
// The source pixel's alpha takes part in the combine.
constexpr int kPxBlitUseSourceAlpha = 0x10000;

inline unsigned int PxRGBA(int r, int g, int b, int a)
{
  return ((unsigned int)(a & 0xFF) << 24) | ((unsigned int)(r & 0xFF) << 16) |
         ((unsigned int)(g & 0xFF) << 8) | (unsigned int)(b & 0xFF);
}
inline int PxGetA(unsigned int c) { return (int)(c >> 24); }
inline int PxGetR(unsigned int c) { return (int)((c >> 16) & 0xFF); }
inline int PxGetG(unsigned int c) { return (int)((c >> 8) & 0xFF); }
inline int PxGetB(unsigned int c) { return (int)(c & 0xFF); }

void PxBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty, int srcx,
            int srcy, int w, int h, float alpha, int mode);
// Resizes dest to src's size and copies all of it.
void PxCopy(PxIBitmap* dest, PxIBitmap* src);
void PxFillRect(PxIBitmap* dest, int x, int y, int w, int h,
                unsigned int color, float alpha, int mode);
// Every pixel of the clipped rectangle becomes (pixel & mask) | orBits.
void PxClearRect(PxIBitmap* dest, int x, int y, int w, int h,
                 unsigned int mask, unsigned int orBits);
unsigned int PxGetPixel(PxIBitmap* bmp, int x, int y);
void PxPutPixel(PxIBitmap* bmp, int x, int y, unsigned int color, float alpha,
                int mode);
void PxScaledBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty,
                  int dstw, int dsth, float srcx, float srcy, float srcw,
                  float srch, float alpha, int mode);
// Angle in radians, positive turns clockwise on screen, about the centre of
// the destination rectangle shifted by (rotxcent, rotycent).
void PxRotatedBlit(PxIBitmap* dest, PxIBitmap* src, int dstx, int dsty,
                   int dstw, int dsth, float srcx, float srcy, float srcw,
                   float srch, float angle, bool clipToSource, float alpha,
                   int mode, float rotxcent = 0.0f, float rotycent = 0.0f);
