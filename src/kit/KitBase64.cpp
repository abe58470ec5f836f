#include "kit/KitBase64.h"

#include <climits>
#include <cstring>

namespace
{
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(unsigned char c)
{
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
} // namespace

int KitBase64EncodedLen(int n)
{
  if (n < 0) return -1;
  long long len = ((long long)n + 2) / 3 * 4;
  return len > INT_MAX ? -1 : (int)len;
}

int KitBase64Encode(const void* src, int n, char* dest, int destCapacity)
{
  if (!dest || destCapacity <= 0) return -1;
  dest[0] = 0;
  int len = KitBase64EncodedLen(n);
  if (len < 0 || (n > 0 && !src) || (long long)len + 1 > destCapacity) return -1;
  const unsigned char* in = (const unsigned char*)src;
  char* out = dest;
  int i = 0;
  for (; i + 2 < n; i += 3)
  {
    unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    *out++ = kAlphabet[(v >> 18) & 63];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = kAlphabet[(v >> 6) & 63];
    *out++ = kAlphabet[v & 63];
  }
  if (i < n)
  {
    unsigned v = in[i] << 16;
    if (i + 1 < n) v |= in[i + 1] << 8;
    *out++ = kAlphabet[(v >> 18) & 63];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = (i + 1 < n) ? kAlphabet[(v >> 6) & 63] : '=';
    *out++ = '=';
  }
  *out = 0;
  return len;
}

int KitBase64Decode(const char* src, int srcLen, void* dest, int destSize)
{
  if (destSize < 0 || (destSize > 0 && !dest)) return -1;
  if (destSize > 0) memset(dest, 0, (size_t)destSize);
  if (!src) return 0;
  unsigned char* out = (unsigned char*)dest;
  int written = 0;
  unsigned acc = 0;
  int bits = 0;
  for (int i = 0; (srcLen < 0 || i < srcLen) && written < destSize; ++i)
  {
    int v = Sextet((unsigned char)src[i]);
    if (v < 0) break; // "=", the terminator or any stray character
    acc = ((acc << 6) | (unsigned)v) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8)
    {
      bits -= 8;
      out[written++] = (unsigned char)((acc >> bits) & 0xFF);
    }
  }
  return written;
}
