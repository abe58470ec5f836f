#include "kit/KitString.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace
{
// Length of str limited to maxLen (< 0: unlimited); never reads past the limit.
int BoundedLen(const char* str, int maxLen)
{
  if (!str) return 0;
  if (maxLen < 0)
  {
    size_t n = strlen(str);
    return n > (size_t)(INT_MAX - 1) ? INT_MAX - 1 : (int)n;
  }
  const void* nul = memchr(str, 0, (size_t)maxLen);
  return nul ? (int)((const char*)nul - str) : maxLen;
}
} // namespace

int KitStrCopy(char* dest, const char* src, int capacity)
{
  if (!dest || capacity <= 0) return 0;
  int n = BoundedLen(src, capacity - 1);
  if (n) memmove(dest, src, (size_t)n);
  dest[n] = 0;
  return n;
}

KitString::KitString(const char* str, int maxLen) : mBuf(64) { Set(str, maxLen); }

KitString::KitString(const KitString& other) : mBuf(64) { mBuf.CopyFrom(other.mBuf); }

KitString& KitString::operator=(const KitString& other)
{
  if (this != &other) mBuf.CopyFrom(other.mBuf);
  return *this;
}

KitString& KitString::operator=(const char* str)
{
  Set(str);
  return *this;
}

const char* KitString::Get() const
{
  return mBuf.GetSize() ? (const char*)mBuf.Get() : "";
}

int KitString::GetLength() const { return mBuf.GetSize() ? mBuf.GetSize() - 1 : 0; }

bool KitString::Set(const char* str, int maxLen)
{
  int n = BoundedLen(str, maxLen);
  if (n == 0)
  {
    Clear();
    return true;
  }
  // str may point into this string: build the new contents first.
  KitHeapBuf tmp(64);
  char* p = (char*)tmp.Resize(n + 1);
  if (!p) return false;
  memcpy(p, str, (size_t)n);
  p[n] = 0;
  return mBuf.CopyFrom(tmp);
}

bool KitString::Append(const char* str, int maxLen)
{
  return Insert(str, GetLength(), maxLen);
}

bool KitString::Insert(const char* str, int pos, int maxLen)
{
  int n = BoundedLen(str, maxLen);
  if (n == 0) return true;
  int len = GetLength();
  if (pos < 0) pos = 0;
  if (pos > len) pos = len;
  if (mBuf.GetSize() == 0)
  {
    char* p = (char*)mBuf.Resize(1);
    if (!p) return false;
  }
  // KitHeapBuf::Insert copes with a source inside the buffer.
  return mBuf.Insert(pos, str, n);
}

void KitString::DeleteSub(int pos, int len)
{
  int cur = GetLength();
  if (pos < 0 || len <= 0 || pos >= cur) return;
  if (len > cur - pos) len = cur - pos;
  mBuf.Delete(pos, len);
}

bool KitString::SetLen(int len, char fill)
{
  if (len < 0 || len == INT_MAX) return false;
  int cur = GetLength();
  if (len == 0)
  {
    Clear();
    return true;
  }
  char* p = (char*)mBuf.Resize(len + 1, false);
  if (!p) return false;
  if (len > cur) memset(p + cur, fill, (size_t)(len - cur));
  p[len] = 0;
  return true;
}

bool KitString::AppendV(int maxLen, const char* fmt, va_list ap)
{
  if (!fmt) return true;
  va_list ap2;
  va_copy(ap2, ap);
  int need = vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  if (need < 0) return false;
  if (maxLen >= 0 && need > maxLen) need = maxLen;
  if (need == 0) return true;
  int cur = GetLength();
  if ((long long)cur + need + 1 > INT_MAX) return false;
  char* p = (char*)mBuf.Resize(cur + need + 1, false);
  if (!p) return false;
  vsnprintf(p + cur, (size_t)need + 1, fmt, ap);
  p[cur + need] = 0;
  return true;
}

// Both format into a fresh string first: an argument may point into this one.
bool KitString::SetFormatted(int maxLen, const char* fmt, ...)
{
  KitString tmp;
  va_list ap;
  va_start(ap, fmt);
  bool ok = tmp.AppendV(maxLen, fmt, ap);
  va_end(ap);
  return ok && mBuf.CopyFrom(tmp.mBuf);
}

bool KitString::AppendFormatted(int maxLen, const char* fmt, ...)
{
  KitString tmp;
  va_list ap;
  va_start(ap, fmt);
  bool ok = tmp.AppendV(maxLen, fmt, ap);
  va_end(ap);
  return ok && Append(tmp.Get(), tmp.GetLength());
}

int KitString::CopyTo(char* dest, int capacity) const
{
  return KitStrCopy(dest, Get(), capacity);
}
