#pragma once
// Inside of a GDI drawing context; shared by the context and text code only.

#include <vector>

#include "raster/PxGdi.h"

struct GdiContext
{
  void* block = nullptr;          // the allocation
  unsigned int* pixels = nullptr; // 64-byte aligned first pixel
  int width = 0, height = 0;      // row span == width
  HGDIOBJ font = nullptr;
  COLORREF textColor = 0;         // black
  COLORREF bkColor = 0xFFFFFF;    // white
  int bkMode = TRANSPARENT;
  RECT clip = {0, 0, 0, 0};
  std::vector<RECT> clipStack;
};
