#pragma once

// Exact pins of stored numbers (curve entries, filter coefficients): a
// checksum of their bits, and a failure message that names the first entry
// that moved, with both values.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace dsppins
{

// FNV-1a over the bytes, as they lie in memory (x86-64 only, as the product).
inline uint64_t Checksum(const void* data, size_t bytes)
{
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < bytes; ++i)
  {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

inline std::string FirstDifference(const float* values, const uint32_t* pinned, int n)
{
  for (int k = 0; k < n; ++k)
  {
    uint32_t bits;
    std::memcpy(&bits, &values[k], sizeof bits);
    if (bits == pinned[k])
      continue;
    float want;
    std::memcpy(&want, &pinned[k], sizeof want);
    char s[160];
    std::snprintf(s, sizeof s, "entry %d is %.9g (bits 0x%08x), pinned %.9g (bits 0x%08x)", k,
                  static_cast<double>(values[k]), bits, static_cast<double>(want), pinned[k]);
    return s;
  }
  return "no entry differs from its pin";
}

inline std::string FirstDifference(const double* values, const uint64_t* pinned, int n)
{
  for (int k = 0; k < n; ++k)
  {
    uint64_t bits;
    std::memcpy(&bits, &values[k], sizeof bits);
    if (bits == pinned[k])
      continue;
    double want;
    std::memcpy(&want, &pinned[k], sizeof want);
    char s[200];
    std::snprintf(s, sizeof s, "entry %d is %.17g (bits 0x%016llx), pinned %.17g (bits 0x%016llx)", k, values[k],
                  static_cast<unsigned long long>(bits), want, static_cast<unsigned long long>(pinned[k]));
    return s;
  }
  return "no entry differs from its pin";
}

} // namespace dsppins
