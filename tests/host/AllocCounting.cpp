// Counts every allocation made through operator new or malloc by this
// process while counting is on for the calling thread (a loaded module's
// allocations come here too, since the executable's definitions take
// precedence over the C and C++ runtimes'). Link this file into the test
// executable itself; the sanitizers' own replacements rule it out.
#include "AllocCounting.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
thread_local bool tCounting = false;
thread_local long tAllocs = 0;

inline void Count()
{
  if (tCounting)
    ++tAllocs;
}
}  // namespace

void AllocCounting::Start()
{
  tAllocs = 0;
  tCounting = true;
}

long AllocCounting::Stop()
{
  tCounting = false;
  return tAllocs;
}

extern "C" void* malloc(size_t n)
{
  Count();
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b)
{
  Count();
  return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n)
{
  Count();
  return __libc_realloc(p, n);
}

void* operator new(size_t n)
{
  Count();
  void* p = __libc_malloc(n ? n : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }

