#pragma once

// A growable block of bytes. Storage grows in steps of the granularity so that
// repeated small appends do not reallocate every time. Sizes are ints, as
// everywhere in the framework; every size computation is checked, and a
// failed allocation leaves the buffer exactly as it was and returns null.
class KitHeapBuf
{
public:
  explicit KitHeapBuf(int granul = 4096);
  ~KitHeapBuf();
  KitHeapBuf(const KitHeapBuf&) = delete;
  KitHeapBuf& operator=(const KitHeapBuf&) = delete;

  // Null while the size is 0 and nothing has been allocated.
  void* Get() const { return mBuf; }
  int GetSize() const { return mSize; }
  int GetAlloc() const { return mAlloc; }
  int GetGranul() const { return mGranul; }
  void SetGranul(int granul);

  // Sets the size in bytes; new bytes are zero. A negative size fails. With
  // resizeDown false the storage is kept when shrinking. Returns the buffer,
  // or null on failure (the old contents and size are kept). Resize(0)
  // returns null but succeeds; check GetSize() when that matters.
  void* Resize(int newSize, bool resizeDown = true);

  // Grows the size by n bytes and returns a pointer to the first new byte,
  // or null when n is negative or the new size would overflow or fail.
  void* Grow(int n);

  // Inserts n bytes (copied from src, or zeroed when src is null) at byte
  // position pos (0..size). False on bad arguments or allocation failure.
  bool Insert(int pos, const void* src, int n);
  // Removes n bytes at pos; the range is clipped to the buffer.
  bool Delete(int pos, int n);

  // Copies the contents of another buffer. False (and unchanged) on failure.
  bool CopyFrom(const KitHeapBuf& other);

  // Frees the storage.
  void Clear();

private:
  bool Reserve(long long bytes, bool allowShrink);

  void* mBuf = nullptr;
  int mSize = 0;
  int mAlloc = 0;
  int mGranul;
};
