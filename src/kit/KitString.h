#pragma once

#include <cstdarg>

#include "kit/KitHeapBuf.h"

// A growable NUL-terminated 8-bit string. Get() never returns null. Every
// length argument is bounded by the source's actual length, and operations
// that would need more memory than can be had leave the string unchanged
// and return false.
class KitString
{
public:
  KitString() : mBuf(64) {}
  KitString(const char* str, int maxLen = -1);
  KitString(const KitString& other);
  KitString& operator=(const KitString& other);
  KitString& operator=(const char* str);

  const char* Get() const;
  int GetLength() const;
  // Writable characters; null when the string has never held storage.
  // Writes must stay within GetLength() characters.
  char* GetWritable() { return (char*)mBuf.Get(); }

  // maxLen < 0 means the whole of str; a null str counts as "".
  bool Set(const char* str, int maxLen = -1);
  bool Append(const char* str, int maxLen = -1);
  // Inserts at character position pos, clipped to 0..length.
  bool Insert(const char* str, int pos, int maxLen = -1);
  // Removes len characters at pos; the range is clipped to the string.
  void DeleteSub(int pos, int len);
  // Sets the length, cutting the string or padding it with fill characters.
  bool SetLen(int len, char fill = ' ');
  // The printf family, keeping at most maxLen characters of the result.
  bool SetFormatted(int maxLen, const char* fmt, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  bool AppendFormatted(int maxLen, const char* fmt, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void Clear() { mBuf.Resize(0); }

  // Copies at most capacity - 1 characters to dest and terminates it.
  // Returns the number of characters copied; nothing is written for capacity 0.
  int CopyTo(char* dest, int capacity) const;

private:
  bool AppendV(int maxLen, const char* fmt, va_list ap);

  KitHeapBuf mBuf; // characters plus terminator, or empty
};

// Copies at most capacity - 1 characters of src into dest and terminates it:
// the bounded copy the fixed-size name fields use. Returns the characters
// copied. A null src copies "".
int KitStrCopy(char* dest, const char* src, int capacity);
