// run() allocates nothing, whatever the host does between runs: counted as
// the VST 3 suite counts it (AllocCounting.cpp replaces malloc and operator
// new in this executable, so the loaded module's allocations are seen).
#include <gtest/gtest.h>

#include <cmath>

#include "AllocCounting.h"
#include "Lv2TestHost.h"

using namespace lv2host;

TEST(Lv2Alloc, RunAllocatesNothing)
{
  World w(TAVLO_LV2_BUNDLE_PATH);
  ASSERT_NE(nullptr, w.Plugin());

  // The counting sees the module: instantiating allocates the plug-in.
  AllocCounting::Start();
  Instance* inst = new Instance(w, w.Plugin());
  EXPECT_GT(AllocCounting::Stop(), 0);
  ASSERT_TRUE(*inst);
  inst->Activate();

  const int sizes[] = {256, 1, 100, 700, 0, 5000, 4096, 4097};
  const char* const controls[] = {"input", "output", "attack", "release", "mix", "hpf",
                                  "oversample", "bypass", "sidechain", "enabled"};
  const float values[] = {0.0f, 1.0f, 250.0f, -7.0f, NAN, INFINITY, 0.3f, 1e9f};
  long allocs = 0;
  for (int i = 0; i < 80; ++i)
  {
    // Every kind of control change, side-chain ports (dis)connected.
    for (int c = 0; c < 10; ++c)
      if ((i + c) % 3 == 0) inst->Control(controls[c]) = values[(i * 7 + c) % 8];
    inst->Connect("sc_l", i % 4 < 2);
    inst->Connect("sc_r", i % 4 < 2);
    float* in = inst->Audio("in_l");
    for (int f = 0; f < 8192; ++f) in[f] = inst->Audio("in_r")[f] = 0.8f * std::sin(0.01f * (float)(i * 8192 + f));
    AllocCounting::Start();
    inst->Run(sizes[i % 8]);
    allocs += AllocCounting::Stop();
  }
  EXPECT_EQ(0, allocs);
  delete inst;
}
