#include "dsp/SimdPath.h"

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

// Set when the library loads, so the audio thread only ever reads it.
const Path gBest = Detect();
std::atomic<int> gActive{gBest};

}  // namespace

Path Best() { return gBest; }

Path Active() { return static_cast<Path>(gActive.load(std::memory_order_relaxed)); }

void Force(Path path) { gActive.store(path == kAvx2 ? gBest : kPlain, std::memory_order_relaxed); }

}  // namespace simdpath
