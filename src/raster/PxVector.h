#pragma once
// Lines, arcs and filled shapes. Every pixel is combined with the blit
// formulas at weight alpha (times the coverage when antialiased); the
// colour's alpha is the source alpha of the kPxBlitUseSourceAlpha modes.
// Angles are radians measured clockwise from straight up.

#include "raster/PxBitmap.h"

void PxLine(PxIBitmap* dest, int x1, int y1, int x2, int y2,
            unsigned int color, float alpha, int mode, bool antialias);
void PxArc(PxIBitmap* dest, float cx, float cy, float r, float minAngle,
           float maxAngle, unsigned int color, float alpha, int mode,
           bool antialias);
void PxCircle(PxIBitmap* dest, float cx, float cy, float r, unsigned int color,
              float alpha, int mode, bool antialias);
void PxFillCircle(PxIBitmap* dest, float cx, float cy, float r,
                  unsigned int color, float alpha, int mode, bool antialias);
void PxRoundRect(PxIBitmap* dest, float x, float y, float w, float h,
                 int cornerRadius, unsigned int color, float alpha, int mode,
                 bool antialias);
void PxFillTriangle(PxIBitmap* dest, int x1, int y1, int x2, int y2, int x3,
                    int y3, unsigned int color, float alpha, int mode);
void PxFillConvexPolygon(PxIBitmap* dest, const int* xs, const int* ys,
                         int count, unsigned int color, float alpha, int mode);
