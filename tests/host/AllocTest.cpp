// The audio path allocates nothing: every allocation made through operator
// new or malloc by this process is counted while a process call runs on
// the counting thread (the module's allocations come here too, since the
// executable's definitions take precedence over the C and C++ runtimes').
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "HostFixture.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
thread_local bool tCounting = false;
std::atomic<long> gAllocs{0};

inline void Count()
{
  if (tCounting)
    ++gAllocs;
}
}  // namespace

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

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

long CountedProcess(Plug& p, Block& b)
{
  long before = gAllocs.load();
  tCounting = true;
  tresult r = b.Run(p.proc());
  tCounting = false;
  EXPECT_EQ(kResultOk, r);
  return gAllocs.load() - before;
}

}  // namespace

class AllocTest : public HostTest {};

TEST_F(AllocTest, CountingSeesAnAllocation)
{
  long before = gAllocs.load();
  tCounting = true;
  void* volatile p = malloc(16);
  int* volatile q = new int(3);
  tCounting = false;
  free(p);
  delete q;
  EXPECT_EQ(2, gAllocs.load() - before);

  // Allocations inside the module are seen as well: creating an instance
  // allocates the plug-in object.
  before = gAllocs.load();
  tCounting = true;
  Instance inst(SharedModule().Factory(), TavloCid());
  tCounting = false;
  ASSERT_TRUE(inst);
  EXPECT_GT(gAllocs.load() - before, 0);
}

TEST_F(AllocTest, ProcessAllocatesNothing)
{
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
    Plug p;
    p.Start(is64 ? kSample64 : kSample32, 256);
    long allocs = 0;
    const int sizes[] = {256, 1, 100, 700, 0, 256};
    for (int i = 0; i < 60; ++i)
    {
      int n = sizes[i % 6];
      Block b(is64, std::max(n, 1));
      b.data.numSamples = n;
      for (int f = 0; f < n; ++f)
        for (int ch = 0; ch < 2; ++ch)
        {
          b.in.Set(0, ch, f, TestSignal(ch, i * 256L + f, 0.8));
          b.sc.Set(0, ch, f, TestSignal(ch + 2, i * 256L + f, 0.8));
        }
      // Automation of every kind, bypass, presets and the side-chain bus.
      b.changes.Add(1, (i % 10) / 10.0);
      b.changes.Add(0, (i % 7) / 7.0);
      b.changes.Add(6, (i / 10) % 2);          // oversampling on and off
      b.changes.Add(8, (i / 5) % 2);
      b.changes.Add(0x62706173, (i % 13) == 0 ? 1.0 : 0.0);
      if (i % 17 == 0)
        b.changes.Add(0x70727374, 0.0);
      p.comp()->activateBus(kAudio, kInput, 1, (i / 3) % 2 == 0);
      if (i % 11 == 5)
      {
        b.data.numInputs = 0;  // input buses missing
        b.data.inputs = nullptr;
      }
      allocs += CountedProcess(p, b);
    }
    EXPECT_EQ(0, allocs);
  }
}
