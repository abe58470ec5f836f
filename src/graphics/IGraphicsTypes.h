#pragma once

// Value types shared by the editor core, its controls and the platform layers.

#include <cstring>

class PxIBitmap;
class PxCachedFont;

// Editor pixels, y down; right and bottom are exclusive. All zero means empty.
struct IRECT
{
  int L = 0, T = 0, R = 0, B = 0;

  IRECT() {}
  IRECT(int l, int t, int r, int b) : L(l), T(t), R(r), B(b) {}

  bool Empty() const { return L == 0 && T == 0 && R == 0 && B == 0; }
  void Clear() { L = T = R = B = 0; }

  int W() const { return R - L; }
  int H() const { return B - T; }
  float MW() const { return 0.5f * (float)(L + R); }
  float MH() const { return 0.5f * (float)(T + B); }

  bool operator==(const IRECT& o) const { return L == o.L && T == o.T && R == o.R && B == o.B; }
  bool operator!=(const IRECT& o) const { return !(*this == o); }

  bool Contains(int x, int y) const { return !Empty() && x >= L && x < R && y >= T && y < B; }

  // Touching at this rectangle's right or bottom edge counts as meeting; the
  // redraw relies on that so a control adjacent to the repaint area is drawn.
  bool Intersects(const IRECT* o) const
  {
    return !Empty() && !o->Empty() && R >= o->L && L < o->R && B >= o->T && T < o->B;
  }

  IRECT Intersect(const IRECT* o) const
  {
    if (!Intersects(o)) return IRECT();
    return IRECT(L > o->L ? L : o->L, T > o->T ? T : o->T, R < o->R ? R : o->R, B < o->B ? B : o->B);
  }

  IRECT Union(const IRECT* o) const
  {
    if (Empty()) return *o;
    if (o->Empty()) return *this;
    return IRECT(L < o->L ? L : o->L, T < o->T ? T : o->T, R > o->R ? R : o->R, B > o->B ? B : o->B);
  }
};

struct IColor
{
  int A = 255, R = 0, G = 0, B = 0;

  IColor() {}
  IColor(int a, int r, int g, int b) : A(a), R(r), G(g), B(b) {}

  bool operator==(const IColor& o) const { return A == o.A && R == o.R && G == o.G && B == o.B; }
  bool operator!=(const IColor& o) const { return !(*this == o); }

  // The raster's straight-alpha pixel word.
  unsigned Pixel() const
  {
    return ((unsigned)(A & 255) << 24) | ((unsigned)(R & 255) << 16) | ((unsigned)(G & 255) << 8) |
           (unsigned)(B & 255);
  }

  static IColor FromPixel(unsigned p)
  {
    return IColor((int)(p >> 24), (int)((p >> 16) & 255), (int)((p >> 8) & 255), (int)(p & 255));
  }
};

const IColor COLOR_TRANSPARENT(0, 0, 0, 0);
const IColor COLOR_BLACK(255, 0, 0, 0);
const IColor COLOR_GRAY(255, 127, 127, 127);
const IColor COLOR_WHITE(255, 255, 255, 255);
const IColor COLOR_RED(255, 255, 0, 0);
const IColor COLOR_GREEN(255, 0, 255, 0);
const IColor COLOR_BLUE(255, 0, 0, 255);
const IColor COLOR_YELLOW(255, 255, 255, 0);
const IColor COLOR_ORANGE(255, 255, 127, 0);

const IColor DEFAULT_TEXT_COLOR = COLOR_BLACK;
const IColor DEFAULT_TEXT_ENTRY_BGCOLOR = COLOR_WHITE;
const IColor DEFAULT_TEXT_ENTRY_FGCOLOR = COLOR_BLACK;

struct IChannelBlend
{
  // A fixed 32-bit type: any stored value is legal and maps as the default.
  enum EBlendMethod : int
  {
    kBlendDefault = 0,
    kBlendCopy = 1,
    kBlendAdditive = 2,
    kBlendDodge = 3
  };

  EBlendMethod mMethod = kBlendDefault;
  float mWeight = 1.0f;

  IChannelBlend(EBlendMethod method = kBlendDefault, float weight = 1.0f) : mMethod(method), mWeight(weight) {}
};

// Raster blit modes the editor selects.
enum
{
  kPxModeCopy = 0,
  kPxModeAdd = 1,
  kPxModeDodge = 2,
  kPxModeUseSourceAlpha = 0x10000,
  kPxModeFilterBilinear = 0x100
};

// Raster mode for a blend; no blend means a source-alpha copy at full weight.
inline int BlendToPxMode(const IChannelBlend* pBlend)
{
  if (!pBlend) return kPxModeUseSourceAlpha;
  switch ((int)pBlend->mMethod)
  {
    case IChannelBlend::kBlendCopy: return kPxModeCopy;
    case IChannelBlend::kBlendAdditive: return kPxModeUseSourceAlpha | kPxModeAdd;
    case IChannelBlend::kBlendDodge: return kPxModeUseSourceAlpha | kPxModeDodge;
    default: return kPxModeUseSourceAlpha;
  }
}

inline float BlendWeight(const IChannelBlend* pBlend) { return pBlend ? pBlend->mWeight : 1.0f; }

struct IText
{
  enum EStyle { kStyleNormal = 0, kStyleBold = 1, kStyleItalic = 2 };
  enum EAlign { kAlignNear = 0, kAlignCenter = 1, kAlignFar = 2 };
  enum EQuality { kQualityDefault = 0, kQualityNonAntiAliased = 1, kQualityAntiAliased = 2, kQualityClearType = 3 };

  char mFont[32];
  int mSize = 10;
  IColor mColor = DEFAULT_TEXT_COLOR;
  IColor mTextEntryBGColor = DEFAULT_TEXT_ENTRY_BGCOLOR;
  IColor mTextEntryFGColor = DEFAULT_TEXT_ENTRY_FGCOLOR;
  int mStyle = kStyleNormal;
  int mAlign = kAlignCenter;
  int mOrientation = 0;
  int mQuality = kQualityDefault;
  PxCachedFont* mCached = nullptr;  // owned by the font cache

  IText(int size = 10, const IColor* pColor = nullptr, const char* font = nullptr, int style = kStyleNormal,
        int align = kAlignCenter, int orientation = 0, int quality = kQualityDefault,
        const IColor* pTEBGColor = nullptr, const IColor* pTEFGColor = nullptr)
    : mSize(size), mColor(pColor ? *pColor : DEFAULT_TEXT_COLOR),
      mTextEntryBGColor(pTEBGColor ? *pTEBGColor : DEFAULT_TEXT_ENTRY_BGCOLOR),
      mTextEntryFGColor(pTEFGColor ? *pTEFGColor : DEFAULT_TEXT_ENTRY_FGCOLOR), mStyle(style), mAlign(align),
      mOrientation(orientation), mQuality(quality)
  {
    SetFace(font ? font : "Monaco");
  }

  explicit IText(const IColor* pColor) : IText(10, pColor) {}

  void SetFace(const char* face)
  {
    std::memset(mFont, 0, sizeof(mFont));
    std::strncpy(mFont, face ? face : "", sizeof(mFont) - 1);
  }
};

// A decoded image, by value; the raster belongs to the bitmap cache.
struct IBitmap
{
  PxIBitmap* mData = nullptr;
  int W = 0, H = 0, N = 1;
  bool mFramesAreHorizontal = false;

  IBitmap() {}
  IBitmap(PxIBitmap* pData, int w, int h, int n = 1, bool framesAreHorizontal = false)
    : mData(pData), W(w), H(h), N(n < 1 ? 1 : n), mFramesAreHorizontal(framesAreHorizontal) {}

  // N is public; a zero written into it must not divide by zero.
  int Frames() const { return N < 1 ? 1 : N; }
  int FrameWidth() const { return mFramesAreHorizontal ? W / Frames() : W; }
  int FrameHeight() const { return mFramesAreHorizontal ? H : H / Frames(); }
};

struct IMouseMod
{
  bool L = false, R = false, S = false, C = false, A = false;

  IMouseMod(bool l = false, bool r = false, bool s = false, bool c = false, bool a = false)
    : L(l), R(r), S(s), C(c), A(a) {}
};
