// The audio path allocates nothing: every allocation made through operator
// new or malloc by this process is counted while a process call runs on
// the counting thread (the module's allocations come here too, since the
// executable's definitions take precedence over the C and C++ runtimes').
#include <dlfcn.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "AllocCounting.h"
#include "HostFixture.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

long CountedProcess(Plug& p, Block& b)
{
  AllocCounting::Start();
  tresult r = b.Run(p.proc());
  const long n = AllocCounting::Stop();
  EXPECT_EQ(kResultOk, r);
  return n;
}

}  // namespace

class AllocTest : public HostTest {};

TEST_F(AllocTest, CountingSeesAnAllocation)
{
  AllocCounting::Start();
  void* volatile p = malloc(16);
  int* volatile q = new int(3);
  EXPECT_EQ(2, AllocCounting::Stop());
  free(p);
  delete q;

  // Every way to an aligned block is seen too, one count each.
  struct alignas(64) Wide
  {
    float lanes[16];
  };
  void* viaPosix = nullptr;
  AllocCounting::Start();
  Wide* volatile wide = new Wide();
  Wide* volatile wides = new Wide[3];
  void* volatile viaC11 = aligned_alloc(64, 256);
  const int posixResult = posix_memalign(&viaPosix, 64, 100);
  void* volatile viaMemalign = memalign(32, 48);
  char* volatile quiet = new (std::nothrow) char[5];
  EXPECT_EQ(6, AllocCounting::Stop());
  ASSERT_EQ(0, posixResult);
  for (void* ptr : {(void*)wide, (void*)wides, (void*)viaC11, viaPosix, (void*)viaMemalign})
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(ptr) % 32);
  delete wide;
  delete[] wides;
  free(viaC11);
  free(viaPosix);
  free(viaMemalign);
  delete[] quiet;

  // A loaded module binds to these same functions, not to the C library's.
  const std::pair<const char*, void*> counted[] = {
    {"malloc", (void*)&malloc},       {"calloc", (void*)&calloc},
    {"realloc", (void*)&realloc},     {"aligned_alloc", (void*)&aligned_alloc},
    {"posix_memalign", (void*)&posix_memalign}, {"memalign", (void*)&memalign},
  };
  for (const auto& c : counted) EXPECT_EQ(c.second, dlsym(RTLD_DEFAULT, c.first)) << c.first;

  // Allocations inside the module are seen as well: creating an instance
  // allocates the plug-in object.
  AllocCounting::Start();
  Instance inst(SharedModule().Factory(), TavloCid());
  const long n = AllocCounting::Stop();
  ASSERT_TRUE(inst);
  EXPECT_GT(n, 0);
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
      // Points within the block, where it is split.
      b.changes.Add(1, ((i + 5) % 10) / 10.0, n / 2);
      b.changes.Add(6, ((i / 10) + 1) % 2, n / 3);
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
