#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kit/KitHeapBuf.h"

class KitString;

// The carrier of all saved state: a growable byte block with typed append
// and bounds-checked read. Values are stored in the processor's byte order
// (little-endian here) with no padding, header or version.
//
// Reads return the position just past the value, or -1 when the value does
// not fit inside the chunk; a failed read leaves its target unchanged.
// Positions are checked in 64-bit arithmetic, so no length or position taken
// from the data can wrap around and make a read land outside the bytes.
class ByteChunk
{
public:
  ByteChunk() : mBytes(512) {}
  ByteChunk(const ByteChunk&) = delete;
  ByteChunk& operator=(const ByteChunk&) = delete;

  // double, int and bool (one byte, 1 or 0); returns the new size.
  template <class T>
  int Append(const T& value)
  {
    static_assert(std::is_arithmetic<T>::value, "ByteChunk stores numbers only");
    return AppendBytes(&value, (int)sizeof(T));
  }
  int Append(bool value)
  {
    uint8_t b = value ? 1 : 0;
    return AppendBytes(&b, 1);
  }

  int AppendBytes(const void* data, int count);
  // Length-prefixed string item: int32 character count, then the characters.
  int AppendString(const char* str);
  int AppendString(const KitString& str);
  // The other chunk's bytes, without a length prefix.
  int AppendChunk(const ByteChunk* other);

  template <class T>
  int Read(T* value, int position) const
  {
    static_assert(std::is_arithmetic<T>::value, "ByteChunk stores numbers only");
    if (!Fits(position, (int64_t)sizeof(T))) return -1;
    memcpy(value, Data() + position, sizeof(T));
    return position + (int)sizeof(T);
  }
  // Any non-zero byte reads as true.
  int Read(bool* value, int position) const
  {
    if (!Fits(position, 1)) return -1;
    *value = Data()[position] != 0;
    return position + 1;
  }

  // Reads a string item. The string gets the characters up to the first NUL
  // among them (empty for a zero length). Returns the position after the item
  // even when the item runs past the end (the string is then unchanged), so
  // that the next read fails; -1 when the length itself cannot be read, is
  // negative, or the end position is not representable.
  int ReadString(KitString* str, int position) const;

  // Sets the size; new bytes are zero. Returns the new size (the old one when
  // memory could not be had or the size is negative).
  int Resize(int newSize);
  void Clear() { mBytes.Resize(0); }
  bool IsEqual(const ByteChunk* other) const;

  int Size() const { return mBytes.GetSize(); }
  uint8_t* Data() { return (uint8_t*)mBytes.Get(); }
  const uint8_t* Data() const { return (const uint8_t*)mBytes.Get(); }

private:
  int AppendSelf();
  bool Fits(int position, int64_t count) const
  {
    return position >= 0 && count >= 0 && (int64_t)position + count <= (int64_t)Size();
  }

  KitHeapBuf mBytes;
};
