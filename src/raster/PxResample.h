#pragma once
// Filtered resizing of a rectangle of an image.

#include "raster/PxBitmap.h"

// Draws the source rectangle (srcx, srcy, srcw, srch) resized onto the
// destination rectangle (dstx, dsty, dstw, dsth), replacing its pixels
// (alpha included). The filter is Mitchell-Netravali (B = C = 1/3), widened
// by the reduction factor when shrinking so that fine detail is averaged
// rather than aliased; it works on premultiplied alpha so that transparent
// pixels lend no colour to their neighbours. Samples beyond the source
// rectangle repeat its edge, so frames of a film strip never bleed into each
// other. The destination rectangle is clipped to the image; the source
// rectangle must lie inside the source image, else nothing is drawn.
void PxResample(PxIBitmap* dest, int dstx, int dsty, int dstw, int dsth, PxIBitmap* src, int srcx,
                int srcy, int srcw, int srch);
