#include "fx/ByteChunk.h"

#include <climits>

#include "kit/KitString.h"

int ByteChunk::AppendBytes(const void* data, int count)
{
  if (count <= 0 || !data) return Size();
  void* dest = mBytes.Grow(count);
  if (dest) memcpy(dest, data, (size_t)count);
  return Size();
}

int ByteChunk::AppendString(const char* str)
{
  size_t len = str ? strlen(str) : 0;
  if (len > (size_t)INT_MAX - 4) return Size();  // not representable as an item
  int n = (int)len;
  int64_t end = (int64_t)Size() + 4 + n;
  if (end > INT_MAX) return Size();
  Append(n);
  return AppendBytes(str, n);
}

int ByteChunk::AppendString(const KitString& str)
{
  return AppendString(str.Get());
}

int ByteChunk::AppendChunk(const ByteChunk* other)
{
  if (!other || other == this) return other ? AppendSelf() : Size();
  return AppendBytes(other->Data(), other->Size());
}

int ByteChunk::AppendSelf()
{
  int n = Size();
  if (n <= 0 || !mBytes.Grow(n)) return Size();
  memcpy(Data() + n, Data(), (size_t)n);  // Grow may have moved the bytes
  return Size();
}

int ByteChunk::ReadString(KitString* str, int position) const
{
  int32_t len = 0;
  int pos = Read(&len, position);
  if (pos < 0 || len < 0) return -1;
  int64_t end = (int64_t)pos + (int64_t)len;
  if (end > INT_MAX) return -1;
  if (end <= (int64_t)Size())
  {
    if (len > 0)
      str->Set((const char*)Data() + pos, len);  // cut at the first NUL
    else
      str->Set("");
  }
  return (int)end;
}

int ByteChunk::Resize(int newSize)
{
  if (newSize < 0) return Size();
  mBytes.Resize(newSize);
  return Size();
}

bool ByteChunk::IsEqual(const ByteChunk* other) const
{
  if (!other || other->Size() != Size()) return false;
  return Size() == 0 || !memcmp(Data(), other->Data(), (size_t)Size());
}
