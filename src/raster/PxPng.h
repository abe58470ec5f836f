#pragma once
// PNG files to and from raster images.

#include "raster/PxBitmap.h"

// Decodes the file into `into` (resized to the image) or, when `into` is
// null, into a new PxMemBitmap that then belongs to the caller. Returns null
// for a missing or undecodable file or a target that cannot take the size.
PxIBitmap* PxLoadPNG(const char* path, PxIBitmap* into = nullptr);

// Writes the image as 8-bit RGBA (straight alpha); with opaque every alpha
// byte is written as 255. Returns false on any failure.
bool PxSavePNG(const char* path, PxIBitmap* bmp, bool opaque = false);
