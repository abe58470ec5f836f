#include "kit/KitSimdPath.h"

#include <atomic>

namespace simdpath
{
namespace
{

Path Detect()
{
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? kAvx2 : kPlain;
}

// Set when the library loads, so the audio thread only ever reads them.
const Path gBest = Detect();
const bool gAvx512 = gBest == kAvx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
std::atomic<int> gActive{gBest};
std::atomic<bool> gAllowAvx512{true};

}  // namespace

Path Best() { return gBest; }

bool Avx512() { return gAvx512 && gAllowAvx512.load(std::memory_order_relaxed) && Active() == kAvx2; }

Path Active() { return static_cast<Path>(gActive.load(std::memory_order_relaxed)); }

void Force(Path path) { gActive.store(path == kAvx2 ? gBest : kPlain, std::memory_order_relaxed); }

void AllowAvx512(bool allow) { gAllowAvx512.store(allow, std::memory_order_relaxed); }

}  // namespace simdpath
