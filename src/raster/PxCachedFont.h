#pragma once
// Text drawing with a platform font: natively into images that have a
// drawing context, otherwise from 8-bit coverage glyphs cached per character.

#include <map>

#include "raster/PxBitmap.h"

// SetFromHFont flags.
constexpr int kPxFontPrerender = 0x4;  // render characters 0..127 at once
constexpr int kPxFontOwnHFont = 0x200; // delete the platform font when done
constexpr int kPxFontNative = 0x400;   // draw through the platform text engine

// DrawText format flag: take the text colour's alpha into account.
constexpr unsigned kPxTextUseColorAlpha = 0x40000000;

class PxCachedFont
{
public:
  PxCachedFont();
  virtual ~PxCachedFont();

  PxCachedFont(const PxCachedFont&) = delete;
  PxCachedFont& operator=(const PxCachedFont&) = delete;

  virtual void SetFromHFont(HFONT font, int flags);
  // Returns the previous colour.
  virtual unsigned int SetTextColor(unsigned int color);
  virtual unsigned int SetBkColor(unsigned int color);
  virtual unsigned int SetEffectColor(unsigned int color);
  virtual int SetBkMode(int mode);
  virtual void SetCombineMode(int mode, float alpha);
  // Draws, or with DT_CALCRECT measures into rect; returns the text height.
  virtual int DrawText(PxIBitmap* bm, const char* text, int length, RECT* rect,
                       unsigned int format);
  virtual unsigned int GetTextColor() { return mTextColor; }
  virtual HFONT GetHFont() { return mFont; }
  virtual int GetLineHeight() { return mLineHeight; }
  // Composites one cached glyph with its top-left corner at (x, y), clipped
  // to clip; returns its advance in pixels.
  virtual int DrawGlyph(PxIBitmap* bm, unsigned int code, int x, int y,
                        const RECT* clip);

  // Number of characters whose coverage is cached.
  int GetCachedGlyphCount() const { return (int)mGlyphs.size(); }

private:
  struct Glyph
  {
    int advance = 0;       // whole pixels, for DrawGlyph callers
    float exactAdvance = 0; // what the text layout accumulates
    int offsetX = 0;  // where the coverage's first column sits from the pen
    int width = 0, height = 0;
    unsigned char* coverage = nullptr;
  };

  const Glyph* GetGlyph(unsigned int code);
  void ClearGlyphs();
  void DeleteOwnedFont();
  bool UseNativePath(PxIBitmap* bm, unsigned int format) const;
  int MeasureText(const char* text, int length, unsigned int format, int* w);

  HFONT mFont = nullptr;
  int mFlags = 0;
  int mLineHeight = 0;
  unsigned int mTextColor = 0xFF000000;
  unsigned int mBkColor = 0xFFFFFFFF;
  unsigned int mEffectColor = 0xFF000000;
  int mBkMode = TRANSPARENT;
  int mCombineMode = 0;
  float mCombineAlpha = 1.0f;
  bool mEffectsSet = false;
  bool mCombinerSet = false;
  int mDrawAlpha = 255;  // text colour alpha of the draw in progress
  std::map<unsigned int, Glyph> mGlyphs;
};
