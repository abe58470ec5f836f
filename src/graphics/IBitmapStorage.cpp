#include "graphics/IBitmapStorage.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/IGraphics.h"
#include "raster/PxBitmap.h"
#include "raster/PxPng.h"
#include "raster/PxResample.h"

// One image resized for one scale; frames are filled in as they are drawn.
struct BitmapStorage::Variant
{
  double scale = 1.0;
  int frames = 1;
  bool horizontal = false;
  int frameW = 0, frameH = 0;
  std::unique_ptr<PxMemBitmap> pixels;
  std::vector<unsigned char> ready;
};

PxIBitmap* ReadableRows(PxIBitmap* raster, int rows, PxRowsView* view)
{
  PxPngImage* png = dynamic_cast<PxPngImage*>(raster);
  if (!png || png->IsDecoded()) return raster;
  view->mWidth = png->getWidth();
  view->mRowSpan = png->getRowSpan();
  view->mHeight = png->DecodeRows(rows < 1 ? 1 : rows, &view->mBits);
  return view;
}

namespace
{
// Resized images kept per image: two scales covers an editor moved between
// two screens without holding on to every scale a host ever asked for.
constexpr size_t kVariantsPerImage = 2;
}  // namespace

BitmapStorage::~BitmapStorage()
{
  for (std::unique_ptr<Entry>& e : mEntries)
  {
    delete e->raster;
    delete e->twin;
  }
}

PxIBitmap* BitmapStorage::Find(int id)
{
  KitMutexLock lock(mMutex);
  for (std::unique_ptr<Entry>& e : mEntries)
    if (e->id == id) return e->raster;
  return nullptr;
}

int BitmapStorage::Count()
{
  KitMutexLock lock(mMutex);
  return (int)mEntries.size();
}

void BitmapStorage::Add(int id, PxIBitmap* raster, const char* name)
{
  KitMutexLock lock(mMutex);
  std::unique_ptr<Entry> e(new Entry);
  e->id = id;
  e->raster = raster;
  e->name = name ? name : "";
  mEntries.push_back(std::move(e));
}

void BitmapStorage::Remove(PxIBitmap* raster)
{
  KitMutexLock lock(mMutex);
  for (size_t i = 0; i < mEntries.size(); ++i)
  {
    if (mEntries[i]->raster != raster) continue;
    delete mEntries[i]->raster;
    delete mEntries[i]->twin;
    mEntries.erase(mEntries.begin() + (long)i);
    return;
  }
}

std::string BitmapStorage::TwinName(const char* name)
{
  std::string s = name ? name : "";
  const size_t slash = s.find_last_of('/');
  const size_t dot = s.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return s + "@2x";
  return s.substr(0, dot) + "@2x" + s.substr(dot);
}

BitmapStorage::Entry* BitmapStorage::EntryFor(PxIBitmap* raster)
{
  for (std::unique_ptr<Entry>& e : mEntries)
    if (e->raster == raster) return e.get();
  return nullptr;
}

PxIBitmap* BitmapStorage::TwinOf(Entry* e, IGraphics* loader)
{
  if (e->twinState == 0 && loader)
  {
    e->twinState = 1;
    if (!e->name.empty())
    {
      // Only the header is read here; the pixels follow when first drawn.
      PxIBitmap* twin = loader->OSLoadBitmap(e->id, TwinName(e->name.c_str()).c_str());
      if (twin && twin->getWidth() == 2 * e->raster->getWidth() && twin->getHeight() == 2 * e->raster->getHeight())
      {
        e->twin = twin;
        e->twinState = 2;
      }
      else if (twin)
      {
        std::fprintf(stderr, "%s is not twice the size of %s; resizing the latter instead\n",
                     TwinName(e->name.c_str()).c_str(), e->name.c_str());
        delete twin;
      }
    }
  }
  return e->twin;
}

std::shared_ptr<BitmapStorage::Variant> BitmapStorage::TakeVariant(Entry* e, double scale, int frames,
                                                                 bool horizontal, int frameW, int frameH)
{
  for (size_t i = 0; i < e->variants.size(); ++i)
  {
    Variant& c = *e->variants[i];
    if (c.scale == scale && c.frames == frames && c.horizontal == horizontal && c.frameW == frameW &&
        c.frameH == frameH)
    {
      std::shared_ptr<Variant> v = e->variants[i];
      e->variants.erase(e->variants.begin() + (long)i);
      e->variants.insert(e->variants.begin(), v);
      return v;
    }
  }
  return nullptr;
}

bool BitmapStorage::Frame(const IBitmap& bitmap, double scale, int frame, IGraphics* loader, ScaledFrame* out)
{
  if (!bitmap.mData || !out || !(scale > 0.0)) return false;
  const int n = bitmap.Frames();
  const int fw = bitmap.FrameWidth(), fh = bitmap.FrameHeight();
  if (fw <= 0 || fh <= 0) return false;
  frame = frame < 0 ? 0 : (frame >= n ? n - 1 : frame);
  const bool horiz = bitmap.mFramesAreHorizontal;

  KitMutexLock lock(mMutex);
  Entry* e = EntryFor(bitmap.mData);
  PxIBitmap* twin = e ? TwinOf(e, loader) : nullptr;
  if (twin && scale == 2.0)
  {
    out->keep.reset();
    out->raster = twin;
    out->w = 2 * fw;
    out->h = 2 * fh;
    out->x = horiz ? frame * out->w : 0;
    out->y = horiz ? 0 : frame * out->h;
    return true;
  }

  const int dw = (int)std::lround(fw * scale), dh = (int)std::lround(fh * scale);
  if (dw <= 0 || dh <= 0) return false;
  std::shared_ptr<Variant> v = e ? TakeVariant(e, scale, n, horiz, dw, dh) : nullptr;
  // An image outside the cache (made by hand, not loaded) is resized one
  // frame at a time and kept only while drawn.
  const int slots = e ? n : 1, slot = e ? frame : 0;
  if (!v)
  {
    v = std::make_shared<Variant>();
    v->scale = scale;
    v->frames = n;
    v->horizontal = horiz;
    v->frameW = dw;
    v->frameH = dh;
    // Untouched frames cost address space only: the block is not cleared.
    v->pixels.reset(new PxMemBitmap(horiz ? dw * slots : dw, horiz ? dh : dh * slots, 4));
    if (!v->pixels->getBits()) return false;
    v->ready.assign((size_t)slots, 0);
    if (e)
    {
      e->variants.insert(e->variants.begin(), v);
      if (e->variants.size() > kVariantsPerImage) e->variants.resize(kVariantsPerImage);
    }
  }
  const int dx = horiz ? slot * dw : 0, dy = horiz ? 0 : slot * dh;
  if (!v->ready[(size_t)slot])
  {
    // Above scale 1 the sharper set is the source: shrinking it keeps detail
    // that enlarging the small one would blur.
    const int k = twin ? 2 : 1;
    const int sx = horiz ? frame * fw * k : 0, sy = horiz ? 0 : frame * fh * k;
    PxRowsView rows;
    PxIBitmap* src = ReadableRows(twin ? twin : bitmap.mData, sy + fh * k, &rows);
    if (!src->getBits() || src->getHeight() < sy + fh * k) return false;
    PxResample(v->pixels.get(), dx, dy, dw, dh, src, sx, sy, fw * k, fh * k);
    v->ready[(size_t)slot] = 1;
  }
  out->keep = v;
  out->raster = v->pixels.get();
  out->x = dx;
  out->y = dy;
  out->w = dw;
  out->h = dh;
  return true;
}
