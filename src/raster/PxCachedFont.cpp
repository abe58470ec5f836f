#include "raster/PxCachedFont.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "raster/PxBlit.h"
#include "raster/PxCombine.h"

using namespace pxdetail;

namespace
{
// Process-wide scratch images, made on first use and kept: one to measure
// fonts and text, one to render glyphs into. Static objects rather than heap
// pointers, so that unloading the plug-in module frees them.
PxSysBitmap* MeasureBitmap()
{
  static PxSysBitmap bmp(256, 256);
  return &bmp;
}

PxSysBitmap* RenderBitmap()
{
  static PxSysBitmap bmp(256, 256);
  return &bmp;
}

std::string EncodeUtf8(unsigned int cp)
{
  std::string s;
  if (cp < 0x80) s += (char)cp;
  else if (cp < 0x800)
  {
    s += (char)(0xC0 | (cp >> 6));
    s += (char)(0x80 | (cp & 0x3F));
  }
  else if (cp < 0x10000)
  {
    s += (char)(0xE0 | (cp >> 12));
    s += (char)(0x80 | ((cp >> 6) & 0x3F));
    s += (char)(0x80 | (cp & 0x3F));
  }
  else
  {
    s += (char)(0xF0 | (cp >> 18));
    s += (char)(0x80 | ((cp >> 12) & 0x3F));
    s += (char)(0x80 | ((cp >> 6) & 0x3F));
    s += (char)(0x80 | (cp & 0x3F));
  }
  return s;
}

// UTF-8 into code points; text that is not valid UTF-8 is read as Latin-1.
std::vector<unsigned int> DecodeUtf8(const char* text, int length)
{
  std::vector<unsigned int> out;
  const unsigned char* p = (const unsigned char*)text;
  const int n = length;
  for (int i = 0; i < n;)
  {
    const unsigned c = p[i];
    const int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= n;
    unsigned int cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; ok && k < len; ++k)
    {
      ok = (p[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok)
    {
      out.assign(p, p + n);
      return out;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}
}  // namespace

PxCachedFont::PxCachedFont() {}

PxCachedFont::~PxCachedFont()
{
  ClearGlyphs();
  DeleteOwnedFont();
}

void PxCachedFont::DeleteOwnedFont()
{
  if (mFont && (mFlags & kPxFontOwnHFont)) DeleteObject(mFont);
  mFont = nullptr;
}

void PxCachedFont::ClearGlyphs()
{
  for (auto& g : mGlyphs) free(g.second.coverage);
  mGlyphs.clear();
}

void PxCachedFont::SetFromHFont(HFONT font, int flags)
{
  if (font != mFont) DeleteOwnedFont();
  mFont = font;
  mFlags = flags;
  ClearGlyphs();
  mLineHeight = 0;
  if (!font) return;
  HDC dc = MeasureBitmap()->getDC();
  TEXTMETRIC tm;
  SelectObject(dc, font);
  if (GetTextMetrics(dc, &tm)) mLineHeight = tm.tmHeight;
  if (flags & kPxFontPrerender)
    for (unsigned int c = 0; c < 128; ++c) GetGlyph(c);
}

unsigned int PxCachedFont::SetTextColor(unsigned int color)
{
  unsigned int prev = mTextColor;
  mTextColor = color;
  return prev;
}

unsigned int PxCachedFont::SetBkColor(unsigned int color)
{
  unsigned int prev = mBkColor;
  mBkColor = color;
  return prev;
}

unsigned int PxCachedFont::SetEffectColor(unsigned int color)
{
  unsigned int prev = mEffectColor;
  mEffectColor = color;
  mEffectsSet = true;
  return prev;
}

int PxCachedFont::SetBkMode(int mode)
{
  int prev = mBkMode;
  mBkMode = mode;
  return prev;
}

void PxCachedFont::SetCombineMode(int mode, float alpha)
{
  mCombineMode = mode;
  mCombineAlpha = alpha;
  mCombinerSet = mode != 0 || alpha != 1.0f;
}

bool PxCachedFont::UseNativePath(PxIBitmap* bm, unsigned int format) const
{
  return (mFlags & kPxFontNative) && !mEffectsSet && !mCombinerSet &&
         !(format & kPxTextUseColorAlpha) && bm && bm->getDC();
}

const PxCachedFont::Glyph* PxCachedFont::GetGlyph(unsigned int code)
{
  auto it = mGlyphs.find(code);
  if (it != mGlyphs.end()) return &it->second;
  if (!mFont) return nullptr;

  // The platform renders the character white on black once; the green
  // channel is its coverage.
  const std::string s = EncodeUtf8(code);
  const unsigned int fmt = DT_NOPREFIX | DT_SINGLELINE | DT_NOCLIP;
  PxSysBitmap* rb = RenderBitmap();
  HDC dc = rb->getDC();
  if (!dc) return nullptr;
  SelectObject(dc, mFont);
  RECT m = {0, 0, 0, 0};
  GdiDrawText(dc, s.c_str(), (int)s.size(), &m, fmt | DT_CALCRECT);
  const int advance = m.right;
  const int pad = mLineHeight / 3 + 1;  // room for overhanging strokes
  Glyph g;
  g.advance = advance;
  if (!GetCharWidthFloat(dc, code, code, &g.exactAdvance)) g.exactAdvance = (float)advance;
  g.offsetX = -pad;
  g.width = advance + 2 * pad;
  g.height = m.bottom > mLineHeight ? m.bottom : mLineHeight;
  if (g.width > rb->getWidth() || g.height > rb->getHeight())
  {
    rb->resize(g.width > rb->getWidth() ? g.width : rb->getWidth(),
               g.height > rb->getHeight() ? g.height : rb->getHeight());
    dc = rb->getDC();
    if (!dc) return nullptr;
    SelectObject(dc, mFont);
  }
  PxClearRect(rb, 0, 0, g.width, g.height, 0, 0xFF000000u);
  ::SetTextColor(dc, GdiRGB(255, 255, 255));
  ::SetBkMode(dc, TRANSPARENT);
  RECT r = {pad, 0, pad + advance, g.height};
  GdiDrawText(dc, s.c_str(), (int)s.size(), &r, fmt);

  g.coverage = (unsigned char*)malloc((size_t)g.width * (size_t)g.height);
  if (!g.coverage) return nullptr;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x)
      g.coverage[(size_t)y * g.width + x] = (unsigned char)PxGetG(PxGetPixel(rb, x, y));
  return &(mGlyphs[code] = g);
}

int PxCachedFont::DrawGlyph(PxIBitmap* bm, unsigned int code, int x, int y,
                            const RECT* clip)
{
  const Glyph* g = GetGlyph(code);
  if (!g) return 0;
  unsigned int* bits = bm ? bm->getBits() : nullptr;
  const int weight = Weight(mCombineAlpha);
  if (!bits || weight <= 0) return g->advance;
  RECT c = {0, 0, bm->getWidth(), bm->getHeight()};
  if (clip)
  {
    if (clip->left > c.left) c.left = clip->left;
    if (clip->top > c.top) c.top = clip->top;
    if (clip->right < c.right) c.right = clip->right;
    if (clip->bottom < c.bottom) c.bottom = clip->bottom;
  }
  const int mode = kPxBlitUseSourceAlpha | (mCombineMode & kPxBlitModeMask);
  const unsigned int rgb = mTextColor & 0x00FFFFFFu;
  const int x0 = x + g->offsetX;
  for (int j = 0; j < g->height; ++j)
  {
    const int py = y + j;
    if (py < c.top || py >= c.bottom) continue;
    unsigned int* row = Row(bm, bits, py);
    const unsigned char* cov = g->coverage + (size_t)j * g->width;
    for (int i = 0; i < g->width; ++i)
    {
      const int px = x0 + i;
      if (!cov[i] || px < c.left || px >= c.right) continue;
      const unsigned int a = (unsigned int)(cov[i] * mDrawAlpha / 255);
      row[px] = Combine(row[px], rgb | (a << 24), weight, mode, false);
    }
  }
  return g->advance;
}

namespace
{

// The text's code points line by line (one line with DT_SINGLELINE, where a
// line break reads as a space); carriage returns are dropped.
std::vector<std::vector<unsigned int>> SplitLines(const char* text, int length, unsigned int format)
{
  std::vector<std::vector<unsigned int>> lines(1);
  for (unsigned int cp : DecodeUtf8(text, length))
  {
    if (cp == '\r') continue;
    if (cp == '\n' && !(format & DT_SINGLELINE)) lines.emplace_back();
    else lines.back().push_back(cp == '\n' ? ' ' : cp);
  }
  return lines;
}

void FillClipped(PxIBitmap* bm, RECT box, const RECT* clip, unsigned int color)
{
  if (clip)
  {
    if (box.left < clip->left) box.left = clip->left;
    if (box.top < clip->top) box.top = clip->top;
    if (box.right > clip->right) box.right = clip->right;
    if (box.bottom > clip->bottom) box.bottom = clip->bottom;
  }
  PxFillRect(bm, box.left, box.top, box.right - box.left, box.bottom - box.top, color, 1.0f, 0);
}

}  // namespace

int PxCachedFont::DrawText(PxIBitmap* bm, const char* text, int length,
                           RECT* rect, unsigned int format)
{
  if (!text || !rect || !mFont) return 0;
  if (length < 0) length = (int)strlen(text);
  else length = (int)strnlen(text, (size_t)length);

  if (UseNativePath(bm, format) ||
      ((format & DT_CALCRECT) && (mFlags & kPxFontNative) && !mEffectsSet && !mCombinerSet &&
       !(format & kPxTextUseColorAlpha)))
  {
    // Measuring needs no pixels, so any context of ours will do.
    HDC dc = UseNativePath(bm, format) ? bm->getDC() : MeasureBitmap()->getDC();
    SelectObject(dc, mFont);
    ::SetTextColor(dc, GdiRGB(PxGetR(mTextColor), PxGetG(mTextColor), PxGetB(mTextColor)));
    ::SetBkMode(dc, TRANSPARENT);
    return GdiDrawText(dc, text, length, rect, (format & ~kPxTextUseColorAlpha) | DT_NOPREFIX);
  }

  // Glyph path: lines of cached glyphs, one line height apart.
  const std::vector<std::vector<unsigned int>> lines = SplitLines(text, length, format);
  // Fractional advances, rounded once per line like the native measure.
  double widest = 0.0;
  for (const auto& line : lines)
  {
    double w = 0.0;
    for (unsigned int cp : line)
    {
      const Glyph* g = GetGlyph(cp);
      if (g) w += g->exactAdvance;
    }
    if (w > widest) widest = w;
  }
  const int width = (int)std::floor(widest + 0.5);
  const bool empty = lines.size() == 1 && lines[0].empty();
  const int height = empty ? 0 : mLineHeight * (int)lines.size();

  if (format & DT_CALCRECT)
  {
    rect->right = (int)std::min<long long>(INT_MAX, (long long)rect->left + width);
    rect->bottom = (int)std::min<long long>(INT_MAX, (long long)rect->top + height);
    return height;
  }
  if (empty || !bm) return height;

  int x, y;
  GdiTextOrigin(rect, width, height, format, &x, &y);
  const RECT* clip = (format & DT_NOCLIP) ? nullptr : rect;

  mDrawAlpha = (format & kPxTextUseColorAlpha) ? PxGetA(mTextColor) : 255;
  if (mBkMode == OPAQUE)
  {
    FillClipped(bm, RECT{x, y, x + width, y + height}, clip, mBkColor);
  }
  for (size_t i = 0; i < lines.size(); ++i)
  {
    double pen = x;
    for (unsigned int cp : lines[i])
    {
      const Glyph* g = GetGlyph(cp);
      if (!g) continue;
      DrawGlyph(bm, cp, (int)std::floor(pen + 0.5), y + mLineHeight * (int)i, clip);
      pen += g->exactAdvance;
    }
  }
  return height;
}
