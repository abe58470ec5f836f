// The audio path allocates nothing: every allocation made through operator
// new or malloc by this process is counted while a process call runs on
// the counting thread (the module's allocations come here too, since the
// executable's definitions take precedence over the C and C++ runtimes').
#include <cstdlib>

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
