#pragma once

// Allocation counting for tests of the audio path (AllocCounting.cpp
// replaces malloc and operator new in the executable it is linked into).
namespace AllocCounting {
// Counting on for the calling thread.
void Start();
// Counting off; the allocations made on this thread since Start.
long Stop();
}  // namespace AllocCounting
