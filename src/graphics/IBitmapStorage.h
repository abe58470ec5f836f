#pragma once

// The process-wide bitmap cache behind IGraphics::LoadIBitmap: one image per
// resource id, shared by every editor in the process. For editors drawn above
// scale 1 it also finds each image's twin at twice the resolution ("x@2x.png"
// beside "x.png") and keeps the images resized for the scales in use, one
// film-strip frame at a time as frames are first drawn.

#include <memory>
#include <string>
#include <vector>

#include "graphics/IGraphicsTypes.h"
#include "kit/KitMutex.h"

#include "raster/PxBitmap.h"

class IGraphics;

// The first rows of another image as a bitmap of their own; nothing is
// owned. Images decoded as they are drawn hand out what is ready this way.
class PxRowsView : public PxIBitmap
{
public:
  unsigned int* getBits() override { return mBits; }
  int getWidth() override { return mWidth; }
  int getHeight() override { return mHeight; }
  int getRowSpan() override { return mRowSpan; }
  bool resize(int, int) override { return false; }

  unsigned int* mBits = nullptr;
  int mWidth = 0, mHeight = 0, mRowSpan = 0;
};

// The raster, readable at least down to row `rows`: an image still being
// decoded decodes that far and is shown through the view; any other raster
// is returned as it is.
PxIBitmap* ReadableRows(PxIBitmap* raster, int rows, PxRowsView* view);

class BitmapStorage
{
public:
  ~BitmapStorage();

  PxIBitmap* Find(int id);
  // Images held, loaded and derived.
  int Count();
  // The storage owns the raster from now on; name is how the platform found
  // it (empty for derived images), used to find its twin.
  void Add(int id, PxIBitmap* raster, const char* name = nullptr);
  // Deletes the raster and forgets it.
  void Remove(PxIBitmap* raster);

  // One frame of an image as drawn at a scale above 1: the raster holding it,
  // the frame's top-left there and its size in device pixels. `keep` holds
  // the raster for as long as the caller uses it.
  struct ScaledFrame
  {
    std::shared_ptr<void> keep;
    PxIBitmap* raster = nullptr;
    int x = 0, y = 0, w = 0, h = 0;
  };
  // Frame `frame` (0-based) of the image at `scale`: the twin itself at
  // scale 2, otherwise the frame resized from the twin (or from the image
  // when it has none) on first use. The loader's platform finds the twin.
  // False when the image has no pixels to show.
  bool Frame(const IBitmap& bitmap, double scale, int frame, IGraphics* loader, ScaledFrame* out);

  // Twice the resolution, same name: "img/Thr.png" -> "img/Thr@2x.png".
  static std::string TwinName(const char* name);

private:
  struct Variant;
  struct Entry
  {
    int id = -1;
    PxIBitmap* raster = nullptr;
    std::string name;
    int twinState = 0;  // 0 not looked for yet, 1 none, 2 found
    PxIBitmap* twin = nullptr;
    std::vector<std::shared_ptr<Variant>> variants;  // most recently used first
  };

  Entry* EntryFor(PxIBitmap* raster);
  PxIBitmap* TwinOf(Entry* e, IGraphics* loader);
  // The entry's variant of that size, moved to the front; null if none.
  static std::shared_ptr<Variant> TakeVariant(Entry* e, double scale, int frames, bool horizontal, int frameW,
                                              int frameH);

  std::vector<std::unique_ptr<Entry>> mEntries;
  KitMutex mMutex;
};
