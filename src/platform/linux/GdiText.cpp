// Fonts through FreeType, from the plug-in's own font files first and from
// fontconfig for other names; text layout and drawing into memory contexts.

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/GdiContextImpl.h"

namespace
{
constexpr uint32_t kFontKind = 0x46446447;  // 'GdDF'

struct GdiFont : GdiObject
{
  FT_Face face = nullptr;
  double size = 10.0;       // pixels per em (points at 72 dpi)
  double escapement = 0.0;  // degrees
  bool antialias = true;
  // Metrics in pixels.
  double ascent = 0.0, descent = 0.0, leading = 0.0;
};

struct FontFile
{
  std::string path;
  int index = 0;
};

// FreeType objects are not thread-safe; every use of them, the font-file
// look-up cache, the font folder and the set of live fonts are guarded by
// this one mutex.
std::mutex& Lock()
{
  static std::mutex m;
  return m;
}
FT_Library gLibrary = nullptr;
FcConfig* gFcConfig = nullptr;
std::string gFontFolder;
std::map<std::string, FontFile> gFaceFiles;
std::set<GdiObject*> gLiveFonts;
HFONT gLabelFont = nullptr;

// Unloading the module gives back the FreeType library and the module's own
// fontconfig configuration, so that a host loading and unloading the plug-in
// does not lose them each time. Fonts still alive at that point (held by
// someone) keep the library; the font cache of the editor is a
// function-local static and so is gone before this runs.
struct LibraryRelease
{
  ~LibraryRelease()
  {
    if (gFcConfig) FcConfigDestroy(gFcConfig);
    gFcConfig = nullptr;
    for (GdiObject* obj : gLiveFonts)
      if (obj != gLabelFont) return;
    if (gLabelFont)
    {
      GdiFont* f = static_cast<GdiFont*>(gLabelFont);
      FT_Done_Face(f->face);
      f->kind = 0;
      delete f;
      gLabelFont = nullptr;
    }
    gLiveFonts.clear();
    if (gLibrary) FT_Done_FreeType(gLibrary);
    gLibrary = nullptr;
  }
} gLibraryRelease;

bool InitLibrary()
{
  if (gLibrary) return true;
  if (FT_Init_FreeType(&gLibrary)) gLibrary = nullptr;
  return gLibrary != nullptr;
}

bool SameName(const char* a, const char* b) { return !strcasecmp(a, b); }

bool IsFile(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ParentFolder(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The families the bundle carries, one file per weight. The editor draws
// with the sans face (tooltips, menus, message boxes; regular and bold) and
// the monospace one (the version line, value entry).
struct BundledFamily
{
  const char* regular;
  const char* bold;
};
constexpr BundledFamily kBundledSans = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"};
constexpr BundledFamily kBundledMono = {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf"};

// Names the bundle answers for, including the faces of the original look
// that a Linux system rarely has. Every other name goes to fontconfig.
const BundledFamily* BundledFamilyFor(const char* face)
{
  static const char* const kMono[] = {"DejaVu Sans Mono", "monospace", "mono", "Monaco", "Menlo",
                                      "Courier", "Courier New", "Andale Mono", "SF Mono",
                                      "Consolas", "Lucida Console"};
  static const char* const kSans[] = {"", "DejaVu Sans", "sans-serif", "sans"};
  for (const char* m : kMono)
    if (SameName(face, m)) return &kBundledMono;
  for (const char* s : kSans)
    if (SameName(face, s)) return &kBundledSans;
  return nullptr;
}

bool IsSerifName(const char* face)
{
  static const char* const kSerif[] = {"serif", "Times", "Times New Roman", "Georgia", "Palatino",
                                       "New York"};
  for (const char* s : kSerif)
    if (SameName(face, s)) return true;
  return false;
}

// Resources of the bundle this code was loaded from:
// <bundle>/Contents/<arch>/<module>.so gives <bundle>/Contents/Resources.
std::string OwnBundleResources()
{
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&OwnBundleResources), &info) || !info.dli_fname)
    return std::string();
  const std::string contents = ParentFolder(ParentFolder(info.dli_fname));
  if (contents.size() < 9 || contents.compare(contents.size() - 9, 9, "/Contents") != 0)
    return std::string();
  return contents + "/Resources";
}

// Where a bundled font file is looked for, in order: the folder the editor
// host named, the bundle holding this code, and the files the bundle is made
// from (for programs that link the editor in rather than loading the bundle).
bool FindBundledFile(const char* name, FontFile& out)
{
  static const std::string ownBundle = OwnBundleResources();
  const std::string folders[] = {gFontFolder, ownBundle,
#ifdef TAVLO_FONT_SOURCE_DIR
                                 TAVLO_FONT_SOURCE_DIR
#endif
  };
  for (const std::string& folder : folders)
  {
    if (folder.empty()) continue;
    const std::string path = folder + "/" + name;
    if (IsFile(path))
    {
      out.path = path;
      out.index = 0;
      return true;
    }
  }
  return false;
}

// The module's own fontconfig configuration, made on first use. The
// process-wide one belongs to the host: building it here would leave it
// behind when the module is unloaded.
FcConfig* Config()
{
  if (gFcConfig) return gFcConfig;
  // fontconfig also keeps a few small tables of its own (languages, the
  // program's name) that only FcFini frees, which a module must not call.
  // Keeping the library loaded once we have used it keeps those tables in
  // use, instead of losing them with every unload of the module.
  static const bool pinned = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  (void)pinned;
  gFcConfig = FcInitLoadConfigAndFonts();
  return gFcConfig;
}

bool MatchFile(const char* family, bool bold, bool italic, FontFile& out,
               std::string* matchedFamily)
{
  FcConfig* config = Config();
  if (!config) return false;
  FcPattern* pat = FcPatternCreate();
  if (!pat) return false;
  FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)family);
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pat, &res);
  FcPatternDestroy(pat);
  if (!match) return false;
  FcChar8* file = nullptr;
  int index = 0;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
  if (ok)
  {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    out.path = (const char*)file;
    out.index = index;
    FcChar8* fam = nullptr;
    if (matchedFamily && FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
      *matchedFamily = (const char*)fam;
  }
  FcPatternDestroy(match);
  return ok;
}

// Face name to font file, cached for the process. Call with Lock() held.
// The names the bundle carries always give its files, so text looks the
// same on every machine; fontconfig is asked only for other names, and only
// a face of exactly that family is taken from it.
bool LookUpFace(const char* face, bool bold, bool italic, FontFile& out)
{
  std::string key = face;
  if (bold) key += " Bold";
  if (italic) key += " Italic";
  auto it = gFaceFiles.find(key);
  if (it != gFaceFiles.end())
  {
    out = it->second;
    return true;
  }
  const BundledFamily* bundled = BundledFamilyFor(face);
  bool ok = bundled && FindBundledFile(bold ? bundled->bold : bundled->regular, out);
  if (!ok && !bundled)
  {
    std::string matched;
    ok = MatchFile(face, bold, italic, out, &matched) && SameName(matched.c_str(), face);
    if (!ok && IsSerifName(face)) ok = MatchFile("serif", bold, italic, out, nullptr);
    if (!ok) bundled = &kBundledSans;
    ok = ok || FindBundledFile(bold ? bundled->bold : bundled->regular, out);
  }
  // Without the bundle's files, whatever fontconfig has for the generic family.
  if (!ok)
    ok = MatchFile(bundled == &kBundledMono ? "monospace" : "sans-serif", bold, italic, out, nullptr);
  if (ok) gFaceFiles[key] = out;
  return ok;
}

GdiFont* OpenFont(const FontFile& file, double size)
{
  if (!InitLibrary()) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(gLibrary, file.path.c_str(), file.index, &face)) return nullptr;
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);
  if (FT_Set_Char_Size(face, 0, (FT_F26Dot6)std::lround(size * 64.0), 72, 72))
  {
    FT_Done_Face(face);
    return nullptr;
  }
  GdiFont* f = new (std::nothrow) GdiFont;
  if (!f)
  {
    FT_Done_Face(face);
    return nullptr;
  }
  f->kind = kFontKind;
  f->face = face;
  f->size = size;
  if (FT_IS_SCALABLE(face) && face->units_per_EM)
  {
    const double scale = size / face->units_per_EM;
    f->ascent = face->ascender * scale;
    f->descent = -face->descender * scale;
    f->leading = (face->height - face->ascender + face->descender) * scale;
  }
  else
  {
    f->ascent = face->size->metrics.ascender / 64.0;
    f->descent = -face->size->metrics.descender / 64.0;
    f->leading = face->size->metrics.height / 64.0 - f->ascent - f->descent;
  }
  if (f->leading < 0.0) f->leading = 0.0;
  gLiveFonts.insert(f);
  return f;
}

GdiFont* AsFont(HGDIOBJ obj)
{
  // Call with Lock() held.
  if (!obj || !gLiveFonts.count(obj) || obj->kind != kFontKind) return nullptr;
  return static_cast<GdiFont*>(obj);
}

// The fallback when a context has no font: a 10-pixel sans face, made once.
GdiFont* LabelFont()
{
  if (!gLabelFont)
  {
    FontFile file;
    if (LookUpFace("sans-serif", false, false, file)) gLabelFont = OpenFont(file, 10.0);
  }
  return static_cast<GdiFont*>(gLabelFont);
}

GdiFont* ContextFont(HDC ctx)
{
  GdiFont* f = AsFont(ctx->font);
  return f ? f : LabelFont();
}

// UTF-8 to code points; invalid input is taken as Latin-1 bytes instead.
std::vector<uint32_t> Decode(const std::string& s)
{
  std::vector<uint32_t> out;
  out.reserve(s.size());
  const unsigned char* p = (const unsigned char*)s.data();
  const size_t n = s.size();
  for (size_t i = 0; i < n;)
  {
    const unsigned c = p[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!len || i + len > n) goto latin1;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k)
    {
      if ((p[i + k] & 0xC0) != 0x80) goto latin1;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      goto latin1;
    out.push_back(cp);
    i += len;
  }
  return out;
latin1:
  out.clear();
  for (size_t i = 0; i < n; ++i) out.push_back(p[i]);
  return out;
}

// Typographic width of one line, in pixels.
double LineWidth(GdiFont* f, const std::vector<uint32_t>& line)
{
  double w = 0.0;
  for (uint32_t cp : line)
  {
    FT_UInt gi = FT_Get_Char_Index(f->face, cp);
    if (!FT_Load_Glyph(f->face, gi, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP))
      w += f->face->glyph->linearHoriAdvance / 65536.0;
  }
  return w;
}

void BlendCoverage(HDC ctx, const RECT& clip, int x, int y, int cov)
{
  if (cov <= 0 || x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
  unsigned int* p = ctx->pixels + (size_t)y * ctx->width + x;
  const unsigned int d = *p;
  const int t[3] = {GdiGetBValue(ctx->textColor), GdiGetGValue(ctx->textColor),
                    GdiGetRValue(ctx->textColor)};
  unsigned int out = d & 0xFF000000u;  // the text leaves alpha alone
  for (int i = 0; i < 3; ++i)
  {
    const int dv = (int)((d >> (8 * i)) & 0xFF);
    const int v = dv + ((t[i] - dv) * cov + 127) / 255;
    out |= (unsigned int)v << (8 * i);
  }
  *p = out;
}

void DrawLine(HDC ctx, GdiFont* f, const std::vector<uint32_t>& line, double x,
              int baseline, const RECT& clip)
{
  FT_Face face = f->face;
  double pen = x;
  for (uint32_t cp : line)
  {
    const FT_UInt gi = FT_Get_Char_Index(face, cp);
    const double whole = std::floor(pen);
    FT_Vector delta = {(FT_Pos)std::lround((pen - whole) * 64.0), 0};
    FT_Set_Transform(face, nullptr, &delta);
    const FT_Int32 load = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP |
                          (f->antialias ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
    if (!FT_Load_Glyph(face, gi, load))
    {
      const double advance = face->glyph->linearHoriAdvance / 65536.0;
      if (!FT_Render_Glyph(face->glyph, f->antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO))
      {
        const FT_Bitmap& bm = face->glyph->bitmap;
        const int ox = (int)whole + face->glyph->bitmap_left;
        const int oy = baseline - face->glyph->bitmap_top;
        for (unsigned int r = 0; r < bm.rows; ++r)
        {
          const unsigned char* row = bm.buffer + (ptrdiff_t)r * bm.pitch;
          for (unsigned int c = 0; c < bm.width; ++c)
          {
            int cov;
            if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
              cov = (row[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
            else
              cov = row[c];
            BlendCoverage(ctx, clip, ox + (int)c, oy + (int)r, cov);
          }
        }
      }
      pen += advance;
    }
  }
  FT_Set_Transform(face, nullptr, nullptr);
}
}  // namespace

void GdiSetFontFolder(const char* folder)
{
  std::lock_guard<std::mutex> guard(Lock());
  gFontFolder = folder ? folder : "";
  gFaceFiles.clear();
}

HFONT CreateFont(int height, int width, int escapement, int orientation,
                 int weight, char italic, char underline, char strikeOut,
                 char charSet, char outPrecision, char clipPrecision,
                 char quality, char pitchAndFamily, const char* faceName)
{
  (void)width;
  (void)orientation;
  (void)underline;
  (void)strikeOut;
  (void)charSet;
  (void)outPrecision;
  (void)clipPrecision;
  (void)pitchAndFamily;
  int size = height < 0 ? -height : height;
  if (size < 2 || size > 8192) size = 10;
  const bool bold = weight >= FW_BOLD;
  const bool slanted = italic != 0;

  std::lock_guard<std::mutex> guard(Lock());
  FontFile file;
  GdiFont* f = nullptr;
  if (LookUpFace(faceName ? faceName : "", bold, slanted, file)) f = OpenFont(file, size);
  if (!f && LookUpFace("sans-serif", false, false, file)) f = OpenFont(file, size);
  if (!f) return nullptr;
  f->escapement = escapement / 10.0;
  f->antialias = quality != NONANTIALIASED_QUALITY;
  return f;
}

bool DeleteObject(HGDIOBJ obj)
{
  std::lock_guard<std::mutex> guard(Lock());
  GdiFont* f = AsFont(obj);
  if (!f || f == gLabelFont) return false;
  gLiveFonts.erase(obj);
  FT_Done_Face(f->face);
  f->kind = 0;
  delete f;
  return true;
}

HGDIOBJ SelectObject(HDC ctx, HGDIOBJ obj)
{
  if (!ctx) return nullptr;
  std::lock_guard<std::mutex> guard(Lock());
  if (!AsFont(obj)) return nullptr;
  HGDIOBJ prev = ctx->font;
  ctx->font = obj;
  return prev;
}

bool GetTextMetrics(HDC ctx, TEXTMETRIC* tm)
{
  if (!tm) return false;
  tm->tmHeight = 16;
  tm->tmAscent = 12;
  tm->tmDescent = 4;
  tm->tmInternalLeading = 3;
  tm->tmExternalLeading = 0;
  tm->tmAveCharWidth = 10;
  if (!ctx) return false;
  std::lock_guard<std::mutex> guard(Lock());
  GdiFont* f = ContextFont(ctx);
  if (!f) return false;
  tm->tmAscent = (int)f->ascent;
  tm->tmDescent = (int)f->descent;
  tm->tmInternalLeading = (int)f->leading;
  const int sum = tm->tmAscent + tm->tmDescent + tm->tmInternalLeading;
  tm->tmHeight = sum ? sum + 1 : 0;
  tm->tmAveCharWidth = sum * 2 / 3;
  return true;
}

bool GetCharWidthFloat(HDC ctx, unsigned int first, unsigned int last, float* widths)
{
  if (!ctx || !widths || last < first) return false;
  std::lock_guard<std::mutex> guard(Lock());
  GdiFont* f = ContextFont(ctx);
  if (!f) return false;
  for (unsigned int c = first; c <= last; ++c)
    widths[c - first] = (float)LineWidth(f, std::vector<uint32_t>(1, c));
  return true;
}

void GdiTextOrigin(const RECT* r, int width, int height, unsigned format, int* x, int* y)
{
  const long long left = r->left, top = r->top, w = (long long)r->right - r->left,
                  h = (long long)r->bottom - r->top;
  long long px = left, py = top;
  if (format & DT_RIGHT) px += w - width;
  else if (format & DT_CENTER) px += w / 2 - width / 2;
  if (format & DT_BOTTOM) py += h - height;
  else if (format & DT_VCENTER) py += h / 2 - height / 2;
  const long long lim = 1LL << 28;
  *x = (int)std::max(-lim, std::min(lim, px));
  *y = (int)std::max(-lim, std::min(lim, py));
}

// The text as lines of code points: carriage returns go, ampersands mark
// the next character unless told otherwise, and a single line turns line
// feeds into blanks.
static std::vector<std::vector<uint32_t>> TextLines(const char* text, int len, unsigned format)
{
  std::string s;
  const size_t n = len < 0 ? strlen(text) : strnlen(text, (size_t)len);
  const size_t limit = n < 4095 ? n : 4095;
  for (size_t i = 0; i < limit; ++i)
  {
    char c = text[i];
    if (c == '\r') continue;
    if (c == '&' && !(format & DT_NOPREFIX) && i + 1 < limit)
    {
      c = text[++i];
      if (c == '\r') continue;
    }
    if (c == '\n' && (format & DT_SINGLELINE)) c = ' ';
    s += c;
  }

  std::vector<std::vector<uint32_t>> lines(1);
  for (uint32_t cp : Decode(s))
  {
    if (cp == '\n') lines.emplace_back();
    else lines.back().push_back(cp);
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

int GdiDrawText(HDC ctx, const char* text, int len, RECT* r, unsigned format)
{
  if (!ctx || !text || !r) return 0;

  const std::vector<std::vector<uint32_t>> lines = TextLines(text, len, format);

  std::lock_guard<std::mutex> guard(Lock());
  GdiFont* f = ContextFont(ctx);
  if (!f) return 0;

  const double lineHeight = f->ascent + f->descent + f->leading;
  double widest = 0.0;
  for (const auto& line : lines) widest = std::max(widest, LineWidth(f, line));
  const bool empty = lines.size() == 1 && lines[0].empty();
  const int width = (int)std::floor(widest + 0.5);
  int height = 0;
  if (!empty)
  {
    height = lines.size() == 1 ? (int)std::floor(lineHeight + 1.5)
                               : (int)std::floor(lineHeight * lines.size() + 0.5);
    if (height) height += 1;
  }

  if (format & DT_CALCRECT)
  {
    r->right = (int)std::min<long long>(INT_MAX, (long long)r->left + width);
    r->bottom = (int)std::min<long long>(INT_MAX, (long long)r->top + height);
    return height;
  }
  if (empty) return height;

  int x, y;
  GdiTextOrigin(r, width, height, format, &x, &y);

  RECT clip = ctx->clip;
  if (!(format & DT_NOCLIP))
  {
    clip.left = std::max(clip.left, r->left);
    clip.top = std::max(clip.top, r->top);
    clip.right = std::min(clip.right, r->right);
    clip.bottom = std::min(clip.bottom, r->bottom);
  }

  if (ctx->bkMode == OPAQUE)
  {
    const unsigned int bk = 0xFF000000u | ((unsigned)GdiGetRValue(ctx->bkColor) << 16) |
                            ((unsigned)GdiGetGValue(ctx->bkColor) << 8) |
                            (unsigned)GdiGetBValue(ctx->bkColor);
    for (int yy = std::max(y, clip.top); yy < std::min(y + height, clip.bottom); ++yy)
      for (int xx = std::max(x, clip.left); xx < std::min(x + width, clip.right); ++xx)
        ctx->pixels[(size_t)yy * ctx->width + xx] = bk;
  }

  for (size_t i = 0; i < lines.size(); ++i)
  {
    const int baseline = y + (int)std::floor(f->ascent + lineHeight * i + 0.5);
    DrawLine(ctx, f, lines[i], x, baseline, clip);
  }
  return height;
}
