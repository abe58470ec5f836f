#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/linux/GdiContextImpl.h"

HDC GdiCreateMemContext(HDC refDC, int w, int h)
{
  (void)refDC;
  if (w <= 0 || h <= 0) return nullptr;
  const size_t bytes = (size_t)w * (size_t)h * 4 + 63;
  // Room to move the start to the next 64-byte boundary.
  void* block = calloc(1, bytes + 64);
  if (!block) return nullptr;
  GdiContext* ctx = new (std::nothrow) GdiContext;
  if (!ctx)
  {
    free(block);
    return nullptr;
  }
  ctx->block = block;
  ctx->pixels = (unsigned int*)(((uintptr_t)block + 63) & ~(uintptr_t)63);
  ctx->width = w;
  ctx->height = h;
  ctx->clip = {0, 0, w, h};
  return ctx;
}

void GdiDeleteGfxContext(HDC ctx)
{
  if (!ctx) return;
  free(ctx->block);
  delete ctx;
}

void* GdiGetCtxFrameBuffer(HDC ctx)
{
  return ctx ? ctx->pixels : nullptr;
}

int GdiGetCtxWidth(HDC ctx)
{
  return ctx ? ctx->width : 0;
}

int GdiGetCtxHeight(HDC ctx)
{
  return ctx ? ctx->height : 0;
}

COLORREF SetTextColor(HDC ctx, COLORREF c)
{
  if (!ctx) return 0;
  COLORREF prev = ctx->textColor;
  ctx->textColor = c & 0xFFFFFF;
  return prev;
}

COLORREF GetTextColor(HDC ctx)
{
  return ctx ? ctx->textColor : 0;
}

COLORREF SetBkColor(HDC ctx, COLORREF c)
{
  if (!ctx) return 0;
  COLORREF prev = ctx->bkColor;
  ctx->bkColor = c & 0xFFFFFF;
  return prev;
}

int SetBkMode(HDC ctx, int mode)
{
  if (!ctx) return 0;
  int prev = ctx->bkMode;
  if (mode == TRANSPARENT || mode == OPAQUE) ctx->bkMode = mode;
  return prev;
}

void GdiPushClipRegion(HDC ctx)
{
  if (ctx) ctx->clipStack.push_back(ctx->clip);
}

void GdiSetClipRegion(HDC ctx, const RECT* r)
{
  if (!ctx) return;
  if (!r)
  {
    ctx->clip = {0, 0, ctx->width, ctx->height};
    return;
  }
  RECT c = *r;
  if (c.left < 0) c.left = 0;
  if (c.top < 0) c.top = 0;
  if (c.right > ctx->width) c.right = ctx->width;
  if (c.bottom > ctx->height) c.bottom = ctx->height;
  if (c.right < c.left) c.right = c.left;
  if (c.bottom < c.top) c.bottom = c.top;
  ctx->clip = c;
}

void GdiPopClipRegion(HDC ctx)
{
  if (!ctx || ctx->clipStack.empty()) return;
  ctx->clip = ctx->clipStack.back();
  ctx->clipStack.pop_back();
}
