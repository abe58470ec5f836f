#pragma once
// The drawing contexts, fonts and text the raster layer draws with, in the
// shape of the classic GDI calls. The platform layer implements them (on
// Linux with FreeType and fontconfig); nothing here names a platform type.
//
// A context is plain memory: 32-bit pixels (alpha << 24 | red << 16 |
// green << 8 | blue), rows top to bottom, a row span in pixels.

#include <cstdint>

struct RECT
{
  int left, top, right, bottom;  // right and bottom are exclusive
};

// 0x00BBGGRR, the classic GDI colour word.
typedef unsigned int COLORREF;
inline COLORREF GdiRGB(int r, int g, int b)
{
  return (COLORREF)((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
inline int GdiGetRValue(COLORREF c) { return (int)(c & 0xFF); }
inline int GdiGetGValue(COLORREF c) { return (int)((c >> 8) & 0xFF); }
inline int GdiGetBValue(COLORREF c) { return (int)((c >> 16) & 0xFF); }

// Every object handed out by CreateFont starts with this tag, so that
// DeleteObject and SelectObject can tell a real object from a stray pointer.
struct GdiObject
{
  uint32_t kind;
};
typedef GdiObject* HGDIOBJ;
typedef GdiObject* HFONT;

struct GdiContext;
typedef GdiContext* HDC;

struct TEXTMETRIC
{
  int tmHeight;
  int tmAscent;
  int tmDescent;
  int tmInternalLeading;  // the font's leading (line gap)
  int tmExternalLeading;  // always 0
  int tmAveCharWidth;
};

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Text format flags.
constexpr unsigned DT_LEFT = 0x0;
constexpr unsigned DT_CENTER = 0x1;
constexpr unsigned DT_RIGHT = 0x2;
constexpr unsigned DT_VCENTER = 0x4;
constexpr unsigned DT_BOTTOM = 0x8;
constexpr unsigned DT_SINGLELINE = 0x20;
constexpr unsigned DT_NOCLIP = 0x100;
constexpr unsigned DT_CALCRECT = 0x400;
constexpr unsigned DT_NOPREFIX = 0x800;

// Font weights and qualities.
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr int DEFAULT_QUALITY = 0;
constexpr int NONANTIALIASED_QUALITY = 3;
constexpr int ANTIALIASED_QUALITY = 4;

// A zero-filled context of w x h pixels (row span w). refDC is ignored and
// may be null. Returns null for a non-positive size or when out of memory.
HDC GdiCreateMemContext(HDC refDC, int w, int h);
void GdiDeleteGfxContext(HDC ctx);
// First pixel of the top row (64-byte aligned), or null.
void* GdiGetCtxFrameBuffer(HDC ctx);
int GdiGetCtxWidth(HDC ctx);
int GdiGetCtxHeight(HDC ctx);

// Font files in this folder come first for the faces the plug-in ships
// (null or empty forgets the folder). Fonts made earlier keep their face.
void GdiSetFontFolder(const char* folder);

// Any pixel height from 2 to 8192 (magnitude of height; others give 10).
HFONT CreateFont(int height, int width, int escapement, int orientation,
                 int weight, char italic, char underline, char strikeOut,
                 char charSet, char outPrecision, char clipPrecision,
                 char quality, char pitchAndFamily, const char* faceName);
// Deletes a font. Returns false for anything that is not a live object.
bool DeleteObject(HGDIOBJ obj);
// Selects a font into the context and returns the previous one (or null).
HGDIOBJ SelectObject(HDC ctx, HGDIOBJ obj);

bool GetTextMetrics(HDC ctx, TEXTMETRIC* tm);
// Typographic advances (pixels, unrounded) of the characters first..last of
// the selected font, so that text laid out one character at a time lines up
// with text measured as a whole.
bool GetCharWidthFloat(HDC ctx, unsigned int first, unsigned int last, float* widths);
// Where text of the given extent starts inside r for the alignment bits of
// format (the rule GdiDrawText uses; shared with text drawn from cached
// glyphs). Far-off positions are kept within +-2^28 so callers cannot overflow.
void GdiTextOrigin(const RECT* r, int width, int height, unsigned format, int* x, int* y);
// Draws or (with DT_CALCRECT) measures text; returns the text height.
int GdiDrawText(HDC ctx, const char* text, int len, RECT* r, unsigned format);

COLORREF SetTextColor(HDC ctx, COLORREF c);
COLORREF GetTextColor(HDC ctx);
COLORREF SetBkColor(HDC ctx, COLORREF c);
int SetBkMode(HDC ctx, int mode);

// A stack of clip rectangles; text drawing never touches pixels outside the
// current one (the whole context when nothing was set).
void GdiPushClipRegion(HDC ctx);
void GdiSetClipRegion(HDC ctx, const RECT* r);
void GdiPopClipRegion(HDC ctx);
