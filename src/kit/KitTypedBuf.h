#pragma once

#include <climits>
#include <cstring>
#include <type_traits>

#include "kit/KitHeapBuf.h"

// A growable array of plain values (copied bytewise) on a KitHeapBuf.
// Element counts are converted to byte counts with an overflow check, so
// no count can make a buffer smaller than the caller asked for.
template <class T>
class KitTypedBuf
{
  static_assert(std::is_trivially_copyable<T>::value,
                "KitTypedBuf holds plain values only");

public:
  explicit KitTypedBuf(int granulBytes = 4096 - 64) : mHeap(granulBytes) {}

  T* Get() const { return (T*)mHeap.Get(); }
  int GetSize() const { return mHeap.GetSize() / (int)sizeof(T); }
  int GetSizeBytes() const { return mHeap.GetSize(); }

  // Sets the element count; new elements are zero bytes. Null on failure
  // (contents kept) and for a count of 0.
  T* Resize(int count, bool resizeDown = true)
  {
    int bytes;
    if (!Bytes(count, &bytes)) return nullptr;
    return (T*)mHeap.Resize(bytes, resizeDown);
  }

  // Appends one value; returns a pointer to the stored copy, or null.
  T* Add(const T& val)
  {
    T copy = val; // val may live inside this buffer
    T* p = (T*)mHeap.Grow((int)sizeof(T));
    if (!p) return nullptr;
    memcpy((void*)p, &copy, sizeof(T));
    return p;
  }

  // Appends count values (copied from src, zeroed when src is null).
  T* Add(const T* src, int count)
  {
    int at = GetSize();
    return Insert(src, count, at) ? Get() + at : nullptr;
  }

  // Inserts count values at element index idx (0..size).
  bool Insert(const T* src, int count, int idx)
  {
    int bytes, pos;
    if (!Bytes(count, &bytes) || !Bytes(idx, &pos)) return false;
    return mHeap.Insert(pos, src, bytes);
  }
  T* Insert(const T& val, int idx)
  {
    T copy = val;
    return Insert(&copy, 1, idx) ? Get() + idx : nullptr;
  }

  // Removes count elements at idx; clipped to the array.
  bool Delete(int idx, int count = 1)
  {
    if (idx < 0 || count < 0 || idx >= GetSize()) return false;
    if (count > GetSize() - idx) count = GetSize() - idx;
    return mHeap.Delete(idx * (int)sizeof(T), count * (int)sizeof(T));
  }

  // Index of the first element equal (bytewise) to val, or -1.
  int Find(const T& val) const
  {
    const T* p = Get();
    for (int i = 0, n = GetSize(); i < n; ++i)
      if (!memcmp((const void*)&p[i], (const void*)&val, sizeof(T))) return i;
    return -1;
  }

  // Element at idx, or null when out of range.
  T* GetPtr(int idx) const { return (idx >= 0 && idx < GetSize()) ? Get() + idx : nullptr; }

  bool CopyFrom(const KitTypedBuf& other) { return mHeap.CopyFrom(other.mHeap); }
  void Clear() { mHeap.Clear(); }

private:
  static bool Bytes(int count, int* bytes)
  {
    if (count < 0 || (long long)count * (long long)sizeof(T) > INT_MAX) return false;
    *bytes = count * (int)sizeof(T);
    return true;
  }

  KitHeapBuf mHeap;
};
