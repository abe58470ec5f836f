#pragma once

#include "kit/KitTypedBuf.h"

// A growable list of pointers. The list does not own its elements unless the
// caller asks a removal to delete them (the framework's owned lists do so in
// their destructors). Out-of-range indexes are answered with null or false.
template <class T>
class KitPtrList
{
public:
  explicit KitPtrList(int granulBytes = 1024) : mList(granulBytes) {}
  KitPtrList(const KitPtrList&) = delete;
  KitPtrList& operator=(const KitPtrList&) = delete;

  int GetSize() const { return mList.GetSize(); }
  T* Get(int idx) const
  {
    T** p = mList.GetPtr(idx);
    return p ? *p : nullptr;
  }
  T* GetLast() const { return Get(GetSize() - 1); }
  T** GetList() const { return mList.Get(); }

  // Appends; returns the item, or null when the list could not grow.
  T* Add(T* item) { return mList.Add(item) ? item : nullptr; }
  // Inserts at idx, clipped to 0..size.
  T* Insert(int idx, T* item)
  {
    if (idx < 0) idx = 0;
    if (idx > GetSize()) idx = GetSize();
    return mList.Insert(item, idx) ? item : nullptr;
  }
  // Replaces the pointer at idx (the old element is not deleted).
  bool Set(int idx, T* item)
  {
    T** p = mList.GetPtr(idx);
    if (!p) return false;
    *p = item;
    return true;
  }

  int Find(const T* item) const
  {
    for (int i = 0, n = GetSize(); i < n; ++i)
      if (Get(i) == item) return i;
    return -1;
  }

  // Removes the entry at idx, deleting the element when wantDelete is set.
  bool Delete(int idx, bool wantDelete = false)
  {
    T* item = Get(idx);
    if (idx < 0 || idx >= GetSize()) return false;
    mList.Delete(idx);
    if (wantDelete) delete item;
    return true;
  }

  // Removes every entry, last first, optionally deleting the elements.
  void Empty(bool wantDelete = false)
  {
    if (wantDelete)
    {
      while (GetSize() > 0)
      {
        T* item = GetLast();
        mList.Delete(GetSize() - 1);
        delete item;
      }
    }
    mList.Clear();
  }

private:
  KitTypedBuf<T*> mList;
};
