// Drawing primitives of IGraphics and the process-wide bitmap and font caches.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "graphics/IBitmapStorage.h"
#include "graphics/IGraphics.h"
#include "kit/KitMutex.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxCachedFont.h"
#include "raster/PxVector.h"

namespace
{
// One cached font per (size, orientation, style, face).
class FontStorage
{
public:
  ~FontStorage()
  {
    for (Entry& e : mEntries) delete e.font;
  }

  PxCachedFont* Find(const IText* pTxt)
  {
    KitMutexLock lock(mMutex);
    for (Entry& e : mEntries)
      if (e.size == pTxt->mSize && e.orientation == pTxt->mOrientation && e.style == pTxt->mStyle &&
          !std::strcmp(e.face, pTxt->mFont))
        return e.font;
    return nullptr;
  }

  void Add(const IText* pTxt, PxCachedFont* font)
  {
    KitMutexLock lock(mMutex);
    Entry e;
    e.size = pTxt->mSize;
    e.orientation = pTxt->mOrientation;
    e.style = pTxt->mStyle;
    std::memcpy(e.face, pTxt->mFont, sizeof(e.face));
    e.face[sizeof(e.face) - 1] = 0;
    e.font = font;
    mEntries.push_back(e);
  }

private:
  struct Entry
  {
    int size, orientation, style;
    char face[32];
    PxCachedFont* font;
  };
  std::vector<Entry> mEntries;
  KitMutex mMutex;
};

BitmapStorage& BitmapCache()
{
  static BitmapStorage s_bitmapCache;
  return s_bitmapCache;
}

FontStorage& FontCache()
{
  static FontStorage s_fontCache;
  return s_fontCache;
}

HFONT CreateSystemFont(const IText* pTxt, int h)
{
  int quality;
  switch (pTxt->mQuality)
  {
    case IText::kQualityDefault: quality = DEFAULT_QUALITY; break;
    case IText::kQualityNonAntiAliased: quality = NONANTIALIASED_QUALITY; break;
    case IText::kQualityAntiAliased:
    case IText::kQualityClearType: quality = ANTIALIASED_QUALITY; break;
    default: quality = NONANTIALIASED_QUALITY; break;
  }
  int esc = pTxt->mOrientation * 10;
  return CreateFont(h, 0, esc, esc, pTxt->mStyle == IText::kStyleBold ? FW_BOLD : FW_NORMAL,
                    (char)(pTxt->mStyle == IText::kStyleItalic), 0, 0, 0, 0, 0, (char)quality, 0, pTxt->mFont);
}
}  // namespace

int IGraphics::CachedImageCount() { return BitmapCache().Count(); }

// ---- Loading ----

IBitmap IGraphics::LoadIBitmap(int ID, const char* name, int nStates, bool framesAreHorizontal)
{
  PxIBitmap* raster = BitmapCache().Find(ID);
  if (!raster)
  {
    // Decoded outside the cache lock; a racing load may add a second entry,
    // later look-ups find the first.
    raster = OSLoadBitmap(ID, name);
    if (!raster)
    {
      // A missing image must not take the editor down: an empty stand-in is
      // cached under the id, so the failure is reported once.
      std::fprintf(stderr, "Tavlo: cannot load image %d \"%s\"; drawing nothing in its place\n", ID,
                   name ? name : "");
      raster = new PxMemBitmap(0, 0, 4);
      name = nullptr;
    }
    BitmapCache().Add(ID, raster, name);
    PxIBitmap* first = BitmapCache().Find(ID);
    if (first) raster = first;
  }
  return IBitmap(raster, raster->getWidth(), raster->getHeight(), nStates, framesAreHorizontal);
}

void IGraphics::RetainBitmap(IBitmap* pBitmap)
{
  if (pBitmap && pBitmap->mData) BitmapCache().Add(-1, pBitmap->mData);
}

void IGraphics::ReleaseBitmap(IBitmap* pBitmap)
{
  if (pBitmap && pBitmap->mData) BitmapCache().Remove(pBitmap->mData);
}

IBitmap IGraphics::ScaleBitmap(IBitmap* pSrc, int destW, int destH)
{
  PxMemBitmap* dest = new PxMemBitmap(destW, destH, 4);
  if (pSrc && pSrc->mData)
    PxScaledBlit(dest, pSrc->mData, 0, 0, destW, destH, 0.0f, 0.0f, (float)pSrc->W, (float)pSrc->H, 1.0f,
                 kPxBlitCopy | kPxBlitFilterBilinear);
  BitmapCache().Add(-1, dest);
  return IBitmap(dest, dest->getWidth(), dest->getHeight(), pSrc ? pSrc->N : 1, false);
}

IBitmap IGraphics::CropBitmap(IBitmap* pSrc, IRECT* pR)
{
  if (!pR) return IBitmap();
  int w = pR->W(), h = pR->H();
  PxMemBitmap* dest = new PxMemBitmap(w, h, 4);
  if (pSrc && pSrc->mData) PxBlit(dest, pSrc->mData, 0, 0, pR->L, pR->T, w, h, 1.0f, kPxBlitCopy);
  BitmapCache().Add(-1, dest);
  return IBitmap(dest, dest->getWidth(), dest->getHeight(), pSrc ? pSrc->N : 1, false);
}

// ---- Bitmaps ----

bool IGraphics::DrawBitmap(IBitmap* pBitmap, IRECT* pDest, int srcX, int srcY, const IChannelBlend* pBlend)
{
  if (mScale != 1.0)
  {
    if (!pBitmap) return true;
    // The offset names a frame of the strip and a place inside it.
    const int fw = pBitmap->FrameWidth(), fh = pBitmap->FrameHeight();
    int frame = 0;
    if (pBitmap->Frames() > 1 && fw > 0 && fh > 0)
    {
      if (pBitmap->mFramesAreHorizontal)
      {
        frame = srcX / fw;
        srcX -= frame * fw;
      }
      else
      {
        frame = srcY / fh;
        srcY -= frame * fh;
      }
    }
    DrawScaledFrame(pBitmap, ToDevice(*pDest), frame, ToDevice(srcX), ToDevice(srcY), pBlend);
    return true;
  }
  IRECT r = pDest->Intersect(&mDrawRECT);
  if (r.Empty() || !pBitmap) return true;
  const int sy = srcY + r.T - pDest->T;
  PxRowsView rows;
  PxBlit(Target(), ReadableRows(pBitmap->mData, sy + r.H(), &rows), r.L, r.T, srcX + r.L - pDest->L, sy, r.W(),
         r.H(), BlendWeight(pBlend), BlendToPxMode(pBlend));
  return true;
}

void IGraphics::DrawScaledFrame(IBitmap* pBitmap, const IRECT& dest, int frame, int offX, int offY,
                                const IChannelBlend* pBlend)
{
  IRECT r = dest.Intersect(&mDrawRECT);
  if (r.Empty()) return;
  BitmapStorage::ScaledFrame f;
  if (!BitmapCache().Frame(*pBitmap, mScale, frame, this, &f)) return;
  // Clipped to the frame: a neighbouring frame never shows.
  const int sx = f.x + offX + r.L - dest.L, sy = f.y + offY + r.T - dest.T;
  const int w = std::min(r.W(), f.x + f.w - sx), h = std::min(r.H(), f.y + f.h - sy);
  PxRowsView rows;
  if (w > 0 && h > 0)
    PxBlit(Target(), ReadableRows(f.raster, sy + h, &rows), r.L, r.T, sx, sy, w, h, BlendWeight(pBlend),
           BlendToPxMode(pBlend));
}

bool IGraphics::DrawBitmap(IBitmap* pBitmap, IRECT* pDest, int frame, const IChannelBlend* pBlend)
{
  if (mScale != 1.0)
  {
    if (pBitmap) DrawScaledFrame(pBitmap, ToDevice(*pDest), frame >= 2 ? frame - 1 : 0, 0, 0, pBlend);
    return true;
  }
  int srcX = 0, srcY = 0;
  if (pBitmap && frame >= 2 && pBitmap->N >= 2)
  {
    int length = pBitmap->mFramesAreHorizontal ? pBitmap->W : pBitmap->H;
    int offset = (int)((double)(frame - 1) * (double)length / (double)pBitmap->N + 0.5);
    if (pBitmap->mFramesAreHorizontal)
      srcX = offset;
    else
      srcY = offset;
  }
  return DrawBitmap(pBitmap, pDest, srcX, srcY, pBlend);
}

bool IGraphics::DrawRotatedBitmap(IBitmap* pBitmap, int destCtrX, int destCtrY, double angle, int yOffsetZeroDeg,
                                  const IChannelBlend* pBlend)
{
  if (!pBitmap) return true;
  PxIBitmap* src = pBitmap->mData;
  int W = pBitmap->W, H = pBitmap->H;
  BitmapStorage::ScaledFrame f;
  if (mScale != 1.0)
  {
    // The whole image, resized as one frame.
    IBitmap whole(pBitmap->mData, W, H, 1, false);
    if (!BitmapCache().Frame(whole, mScale, 0, this, &f)) return true;
    src = f.raster;
    W = f.w;
    H = f.h;
    destCtrX = ToDevice(destCtrX);
    destCtrY = ToDevice(destCtrY);
    yOffsetZeroDeg = ToDevice(yOffsetZeroDeg);
  }
  PxRotatedBlit(Target(), src, destCtrX - W / 2, destCtrY - H / 2, W, H, (float)f.x, (float)f.y, (float)W,
                (float)H, (float)angle, false, BlendWeight(pBlend), BlendToPxMode(pBlend) | kPxBlitFilterBilinear,
                0.0f, (float)yOffsetZeroDeg);
  return true;
}

bool IGraphics::DrawRotatedMask(IBitmap* pBase, IBitmap* pMask, IBitmap* pTop, int x, int y, double angle,
                                const IChannelBlend* pBlend)
{
  if (!pBase || !pMask || !pTop) return true;
  if (!mTmpBitmap) mTmpBitmap = new PxMemBitmap(0, 0, 4);
  int W = pBase->W, H = pBase->H;
  PxIBitmap* base = pBase->mData;
  PxIBitmap* mask = pMask->mData;
  PxIBitmap* top = pTop->mData;
  BitmapStorage::ScaledFrame fb, fm, ft;
  if (mScale != 1.0)
  {
    // The three images resized as whole frames; the composite is built at
    // device size.
    IBitmap b(base, W, H), m(mask, pMask->W, pMask->H), t(top, pTop->W, pTop->H);
    if (!BitmapCache().Frame(b, mScale, 0, this, &fb) || !BitmapCache().Frame(m, mScale, 0, this, &fm) ||
        !BitmapCache().Frame(t, mScale, 0, this, &ft))
      return true;
    base = fb.raster;
    mask = fm.raster;
    top = ft.raster;
    W = fb.w;
    H = fb.h;
    x = ToDevice(x);
    y = ToDevice(y);
  }
  if (mScale == 1.0)
  {
    PxCopy(mTmpBitmap, base);
  }
  else
  {
    mTmpBitmap->resize(W, H);
    PxBlit(mTmpBitmap, base, 0, 0, fb.x, fb.y, W, H, 1.0f, kPxBlitCopy);
  }
  PxClearRect(mTmpBitmap, 0, 0, W, H, 0x00FFFFFF, 0);
  float rad = (float)(angle * 3.141592653589793 / 180.0);
  float xCent = (W % 2) ? -0.5f : 0.0f;
  PxRotatedBlit(mTmpBitmap, mask, 0, 0, W, H, (float)fm.x, (float)fm.y, (float)W, (float)H, rad, true, 1.0f,
                kPxBlitUseSourceAlpha | kPxBlitAdd | kPxBlitFilterBilinear, xCent, 0.0f);
  PxRotatedBlit(mTmpBitmap, top, 0, 0, W, H, (float)ft.x, (float)ft.y, (float)W, (float)H, rad, true, 1.0f,
                kPxBlitUseSourceAlpha | kPxBlitFilterBilinear, xCent, 0.0f);
  IRECT dest(x, y, x + W, y + H);
  IRECT r = dest.Intersect(&mDrawRECT);
  if (!r.Empty())
    PxBlit(Target(), mTmpBitmap, r.L, r.T, r.L - dest.L, r.T - dest.T, r.W(), r.H(), BlendWeight(pBlend),
           BlendToPxMode(pBlend));
  return true;
}

// ---- Vector primitives ----

bool IGraphics::DrawPoint(const IColor* pColor, float x, float y, const IChannelBlend* pBlend, bool)
{
  PxPutPixel(Target(), (int)(Sc(x) + 0.5f), (int)(Sc(y) + 0.5f), pColor->Pixel(), BlendWeight(pBlend),
             BlendToPxMode(pBlend));
  return true;
}

bool IGraphics::ForcePixel(const IColor* pColor, int x, int y)
{
  x = ToDevice(x);
  y = ToDevice(y);
  // Written straight into the word, so the bounds are checked here.
  if (!Target() || !Target()->getBits() || x < 0 || y < 0 || x >= Target()->getWidth() ||
      y >= Target()->getHeight())
    return true;
  Target()->getBits()[(size_t)y * (size_t)Target()->getRowSpan() + (size_t)x] = pColor->Pixel();
  return true;
}

bool IGraphics::DrawLine(const IColor* pColor, float x1, float y1, float x2, float y2, const IChannelBlend* pBlend,
                         bool antiAlias)
{
  PxLine(Target(), (int)Sc(x1), (int)Sc(y1), (int)Sc(x2), (int)Sc(y2), pColor->Pixel(), BlendWeight(pBlend),
         BlendToPxMode(pBlend), antiAlias);
  return true;
}

bool IGraphics::DrawArc(const IColor* pColor, float cx, float cy, float r, float minAngle, float maxAngle,
                        const IChannelBlend* pBlend, bool antiAlias)
{
  PxArc(Target(), Sc(cx), Sc(cy), Sc(r), minAngle, maxAngle, pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend),
        antiAlias);
  return true;
}

bool IGraphics::DrawCircle(const IColor* pColor, float cx, float cy, float r, const IChannelBlend* pBlend,
                           bool antiAlias)
{
  PxCircle(Target(), Sc(cx), Sc(cy), Sc(r), pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend), antiAlias);
  return true;
}

bool IGraphics::RoundRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend, int cornerradius, bool aa)
{
  const IRECT d = ToDevice(*pR);
  PxRoundRect(Target(), (float)d.L, (float)d.T, (float)d.W(), (float)d.H(), ToDevice(cornerradius),
              pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend), aa);
  return true;
}

bool IGraphics::FillRoundRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend, int cornerradius,
                              bool aa)
{
  const IRECT d = ToDevice(*pR);
  int r = ToDevice(cornerradius), x = d.L, y = d.T, w = d.W(), h = d.H();
  unsigned c = pColor->Pixel();
  float wt = BlendWeight(pBlend);
  int mode = BlendToPxMode(pBlend);
  PxFillRect(Target(), x + r, y, w - 2 * r, h, c, wt, mode);
  PxFillRect(Target(), x, y + r, r, h - 2 * r, c, wt, mode);
  PxFillRect(Target(), x + w - r, y + r, r, h - 2 * r, c, wt, mode);
  PxFillCircle(Target(), (float)(d.L + r), (float)(d.T + r), (float)r, c, wt, mode, aa);
  PxFillCircle(Target(), (float)(d.R - r - 1), (float)(d.T + r), (float)r, c, wt, mode, aa);
  PxFillCircle(Target(), (float)(d.L + r), (float)(d.B - r - 1), (float)r, c, wt, mode, aa);
  PxFillCircle(Target(), (float)(d.R - r - 1), (float)(d.B - r - 1), (float)r, c, wt, mode, aa);
  return true;
}

bool IGraphics::FillIRect(const IColor* pColor, IRECT* pR, const IChannelBlend* pBlend)
{
  const IRECT d = ToDevice(*pR);
  PxFillRect(Target(), d.L, d.T, d.W(), d.H(), pColor->Pixel(), BlendWeight(pBlend),
             BlendToPxMode(pBlend));
  return true;
}

bool IGraphics::FillCircle(const IColor* pColor, int cx, int cy, float r, const IChannelBlend* pBlend,
                           bool antiAlias)
{
  PxFillCircle(Target(), Sc((float)cx), Sc((float)cy), Sc(r), pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend),
               antiAlias);
  return true;
}

bool IGraphics::FillTriangle(const IColor* pColor, int x1, int y1, int x2, int y2, int x3, int y3,
                             const IChannelBlend* pBlend)
{
  PxFillTriangle(Target(), ToDevice(x1), ToDevice(y1), ToDevice(x2), ToDevice(y2), ToDevice(x3), ToDevice(y3),
                 pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend));
  return true;
}

bool IGraphics::FillIConvexPolygon(const IColor* pColor, int* x, int* y, int npoints, const IChannelBlend* pBlend)
{
  if (mScale != 1.0 && npoints > 0 && x && y)
  {
    std::vector<int> dx((size_t)npoints), dy((size_t)npoints);
    for (int i = 0; i < npoints; ++i)
    {
      dx[(size_t)i] = ToDevice(x[i]);
      dy[(size_t)i] = ToDevice(y[i]);
    }
    PxFillConvexPolygon(Target(), dx.data(), dy.data(), npoints, pColor->Pixel(), BlendWeight(pBlend),
                        BlendToPxMode(pBlend));
    return true;
  }
  PxFillConvexPolygon(Target(), x, y, npoints, pColor->Pixel(), BlendWeight(pBlend), BlendToPxMode(pBlend));
  return true;
}

IColor IGraphics::GetPoint(int x, int y)
{
  return IColor::FromPixel(PxGetPixel(Target(), ToDevice(x), ToDevice(y)));
}

bool IGraphics::DrawVerticalLine(const IColor* pColor, int xi, int yLo, int yHi)
{
  PxLine(Target(), ToDevice(xi), ToDevice(yLo), ToDevice(xi), ToDevice(yHi), pColor->Pixel(), 1.0f, kPxBlitCopy,
         false);
  return true;
}

bool IGraphics::DrawHorizontalLine(const IColor* pColor, int yi, int xLo, int xHi)
{
  PxLine(Target(), ToDevice(xLo), ToDevice(yi), ToDevice(xHi), ToDevice(yi), pColor->Pixel(), 1.0f, kPxBlitCopy,
         false);
  return true;
}

bool IGraphics::DrawRect(const IColor* pColor, IRECT* pR)
{
  DrawHorizontalLine(pColor, pR->T, pR->L, pR->R);
  DrawHorizontalLine(pColor, pR->B, pR->L, pR->R);
  DrawVerticalLine(pColor, pR->L, pR->T, pR->B);
  DrawVerticalLine(pColor, pR->R, pR->T, pR->B);
  return true;
}

bool IGraphics::DrawVerticalLine(const IColor* pColor, IRECT* pR, float x)
{
  x = x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
  int xi = pR->L + (int)((float)pR->W() * x);
  return DrawVerticalLine(pColor, xi, pR->T, pR->B);
}

bool IGraphics::DrawHorizontalLine(const IColor* pColor, IRECT* pR, float y)
{
  y = y < 0.0f ? 0.0f : (y > 1.0f ? 1.0f : y);
  int yi = pR->B - (int)((float)pR->H() * y);
  return DrawHorizontalLine(pColor, yi, pR->L, pR->R);
}

bool IGraphics::DrawRadialLine(const IColor* pColor, float cx, float cy, float angle, float rMin, float rMax,
                               const IChannelBlend* pBlend, bool antiAlias)
{
  float s = std::sin(angle), c = std::cos(angle);
  return DrawLine(pColor, cx + s * rMin, cy - c * rMin, cx + s * rMax, cy - c * rMax, pBlend, antiAlias);
}

void* IGraphics::GetBits()
{
  return Target() ? (void*)Target()->getBits() : nullptr;
}

// ---- Text ----

PxCachedFont* IGraphics::CacheFont(IText* pTxt)
{
  PxCachedFont* font = FontCache().Find(pTxt);
  if (font)
  {
    pTxt->mCached = font;
    return font;
  }

  int h = pTxt->mSize < 2 ? 2 : pTxt->mSize;
  font = new PxCachedFont();
  for (int attempt = 0; attempt < 2; ++attempt)
  {
    HFONT hFont = CreateSystemFont(pTxt, h);
    if (!hFont)
    {
      delete font;
      return nullptr;
    }
    font->SetFromHFont(hFont, kPxFontOwnHFont | kPxFontNative);
    int lineHeight = font->GetLineHeight();
    // Ask again so that the line height, not the em size, matches; a font
    // reporting no height is kept as it is rather than divided by.
    if (attempt > 0 || lineHeight == h || lineHeight <= 0) break;
    h = (int)((double)h * (double)h / (double)lineHeight + 0.5);
    if (h < 2) h = 2;
  }
  FontCache().Add(pTxt, font);
  pTxt->mCached = font;
  return font;
}

bool IGraphics::DrawIText(IText* pTxt, const char* str, IRECT* pR, bool measure)
{
  if (!str || !*str) return true;
  if (!pTxt || !pR) return false;
  if (mScale != 1.0 && !measure)
  {
    // Drawn from a font of the scaled size, not enlarged pixels. Measuring
    // stays in layout pixels, with the layout's font.
    IText scaled = *pTxt;
    scaled.mSize = std::max(1, (int)std::lround(pTxt->mSize * mScale));
    scaled.mCached = nullptr;
    IRECT d = ToDevice(*pR);
    return DrawTextInDevice(&scaled, str, &d, false);
  }
  return DrawTextInDevice(pTxt, str, pR, measure);
}

bool IGraphics::DrawTextInDevice(IText* pTxt, const char* str, IRECT* pR, bool measure)
{
  PxCachedFont* font = pTxt->mCached ? pTxt->mCached : CacheFont(pTxt);
  if (!font) return false;
  font->SetTextColor(pTxt->mColor.Pixel());

  unsigned fmt = DT_NOCLIP;
  if (pTxt->mAlign == IText::kAlignCenter)
    fmt |= DT_CENTER;
  else if (pTxt->mAlign == IText::kAlignFar)
    fmt |= DT_RIGHT;
  if (pTxt->mColor.A < 255) fmt |= kPxTextUseColorAlpha;

  if (measure)
  {
    RECT r = {0, 0, 0, 0};
    // Measuring draws nothing: no bitmap is made for it.
    font->DrawText(mDrawBitmap, str, -1, &r, fmt | DT_CALCRECT);
    int w = r.right, h = r.bottom;
    if (pTxt->mAlign == IText::kAlignNear)
    {
      pR->R = pR->L + w;
    }
    else if (pTxt->mAlign == IText::kAlignCenter)
    {
      pR->L = (int)pR->MW() - w / 2;
      pR->R = pR->L + w;
    }
    else if (pTxt->mAlign == IText::kAlignFar)
    {
      pR->L = pR->R - w;
    }
    pR->B = pR->T + h;
    return true;
  }

  RECT r = {pR->L, pR->T, pR->R, pR->B};
  font->DrawText(Target(), str, -1, &r, fmt);
  return true;
}

bool IGraphics::MeasureIText(IText* pTxt, const char* str, IRECT* pR)
{
  return DrawIText(pTxt, str, pR, true);
}
