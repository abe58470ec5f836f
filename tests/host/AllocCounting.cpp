// Counts every allocation made through operator new (aligned or not) or the
// C allocators (malloc, calloc, realloc and the aligned ones) by this
// process while counting is on for the calling thread (a loaded module's
// allocations come here too, since the executable's definitions take
// precedence over the C and C++ runtimes'). Link this file into the test
// executable itself; the sanitizers' own replacements rule it out.
#include "AllocCounting.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);
extern "C" void __libc_free(void*);

// The build hides symbols by default, and a hidden replacement serves this
// executable alone: with default visibility the linker exports each one (the
// C and C++ runtimes define them too), and the modules the test loads bind
// to it.
#define COUNTED __attribute__((visibility("default")))

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

extern "C" COUNTED void* malloc(size_t n)
{
  Count();
  return __libc_malloc(n);
}
extern "C" COUNTED void* calloc(size_t a, size_t b)
{
  Count();
  return __libc_calloc(a, b);
}
extern "C" COUNTED void* realloc(void* p, size_t n)
{
  Count();
  return __libc_realloc(p, n);
}

// glibc lets a program replace these together with malloc; a vector of
// over-aligned elements or a SIMD buffer would otherwise allocate unseen.
extern "C" COUNTED void* memalign(size_t align, size_t n)
{
  Count();
  return __libc_memalign(align, n);
}
extern "C" COUNTED void* aligned_alloc(size_t align, size_t n)
{
  Count();
  return __libc_memalign(align, n);
}
extern "C" COUNTED int posix_memalign(void** out, size_t align, size_t n)
{
  Count();
  if (align < sizeof(void*) || (align & (align - 1)) != 0)
    return EINVAL;
  void* p = __libc_memalign(align, n);
  if (!p)
    return ENOMEM;
  *out = p;
  return 0;
}
extern "C" COUNTED void* valloc(size_t n)
{
  Count();
  return __libc_memalign((size_t)getpagesize(), n);
}
extern "C" COUNTED void* pvalloc(size_t n)
{
  Count();
  const size_t page = (size_t)getpagesize();
  return __libc_memalign(page, (n + page - 1) / page * page);
}

COUNTED void* operator new(size_t n)
{
  Count();
  void* p = __libc_malloc(n ? n : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}
COUNTED void* operator new[](size_t n) { return operator new(n); }
COUNTED void* operator new(size_t n, const std::nothrow_t&) noexcept
{
  Count();
  return __libc_malloc(n ? n : 1);
}
COUNTED void* operator new[](size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
COUNTED void* operator new(size_t n, std::align_val_t align)
{
  Count();
  void* p = __libc_memalign((size_t)align, n ? n : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}
COUNTED void* operator new[](size_t n, std::align_val_t align) { return operator new(n, align); }
COUNTED void* operator new(size_t n, std::align_val_t align, const std::nothrow_t&) noexcept
{
  Count();
  return __libc_memalign((size_t)align, n ? n : 1);
}
COUNTED void* operator new[](size_t n, std::align_val_t align, const std::nothrow_t& tag) noexcept
{
  return operator new(n, align, tag);
}
COUNTED void operator delete(void* p) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p) noexcept { __libc_free(p); }
COUNTED void operator delete(void* p, size_t) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
COUNTED void operator delete(void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
COUNTED void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
COUNTED void operator delete(void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
COUNTED void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { __libc_free(p); }
COUNTED void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { __libc_free(p); }

