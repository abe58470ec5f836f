// The state transitions a conformance validator walks through, repeated
// and out of the usual order, and many instances at once.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "HostFixture.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// One block of the test signal; true when every output sample is finite.
bool RunBlock(Plug& p, bool is64, int frames, long start = 0)
{
  Block b(is64, frames);
  for (int f = 0; f < frames; ++f)
    for (int ch = 0; ch < 2; ++ch)
    {
      b.in.Set(0, ch, f, TestSignal(ch, start + f));
      b.sc.Set(0, ch, f, TestSignal(ch + 2, start + f));
    }
  if (b.Run(p.proc()) != kResultOk)
    return false;
  for (int f = 0; f < frames; ++f)
    if (!std::isfinite(b.out.Get(0, 0, f)) || !std::isfinite(b.out.Get(0, 1, f)))
      return false;
  return true;
}

}  // namespace

class LifecycleTest : public HostTest {};

TEST_F(LifecycleTest, FullCycleRepeatedOnOneInstance)
{
  Plug p(false);
  ASSERT_TRUE(p.inst);
  for (int round = 0; round < 3; ++round)
  {
    SCOPED_TRACE(round);
    HostApplication app;
    ASSERT_EQ(kResultOk, p.comp()->initialize(&app));
    ASSERT_EQ(11, p.ctrl()->getParameterCount());
    ASSERT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
    ASSERT_EQ(1, p.comp()->getBusCount(kAudio, kOutput));
    for (bool is64 : {false, true})
    {
      ASSERT_EQ(kResultOk, p.Setup(is64 ? kSample64 : kSample32, 256, round ? 96000.0 : 44100.0));
      ASSERT_EQ(kResultOk, p.comp()->setActive(true));
      p.proc()->setProcessing(true);
      for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(RunBlock(p, is64, 256, i * 256L));
      p.proc()->setProcessing(false);
      ASSERT_EQ(kResultOk, p.comp()->setActive(false));
    }
    ASSERT_EQ(kResultOk, p.comp()->terminate());
    EXPECT_EQ(0, p.comp()->getBusCount(kAudio, kInput));
    EXPECT_EQ(0, p.ctrl()->getParameterCount());
  }
}

TEST_F(LifecycleTest, UnusualButValidOrders)
{
  Plug p;
  // Activation without any set-up, and processing before set-up: the block
  // size is unknown, so nothing is processed and the host hears silence.
  ASSERT_EQ(kResultOk, p.comp()->setActive(true));
  Block b(false, 64);
  b.out.Fill(0.5);
  EXPECT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_EQ(0.0, b.out.Get(0, 0, 0));
  EXPECT_EQ(0x3u, b.out.Buses()[0].silenceFlags);
  ASSERT_EQ(kResultOk, p.comp()->setActive(false));
  // Set-up repeated with other sizes while inactive, activation toggled.
  ASSERT_EQ(kResultOk, p.Setup(kSample32, 64));
  ASSERT_EQ(kResultOk, p.Setup(kSample32, 4096, 192000.0));
  ASSERT_EQ(kResultOk, p.Setup(kSample64, 1));
  for (int i = 0; i < 5; ++i)
  {
    ASSERT_EQ(kResultOk, p.comp()->setActive(true));
    ASSERT_EQ(kResultOk, p.comp()->setActive(false));
  }
  ASSERT_EQ(kResultOk, p.comp()->setActive(true));
  EXPECT_TRUE(RunBlock(p, true, 1));
  EXPECT_TRUE(RunBlock(p, true, 100));  // more than the single frame announced
  // Processing switched on and off without deactivating.
  for (int i = 0; i < 3; ++i)
  {
    p.proc()->setProcessing(true);
    EXPECT_TRUE(RunBlock(p, true, 1));
    p.proc()->setProcessing(false);
  }
  // A block after deactivation is still safe.
  ASSERT_EQ(kResultOk, p.comp()->setActive(false));
  EXPECT_TRUE(RunBlock(p, true, 1));
}

TEST_F(LifecycleTest, InitializeWithoutHostApplicationAndTwice)
{
  // Contexts outlive the instances: terminate gives them back.
  {
    HostApplication app;
    Plug p(false);
    ASSERT_EQ(kResultOk, p.comp()->initialize(nullptr));
    EXPECT_EQ(11, p.ctrl()->getParameterCount());
    // A second initialize without terminate is refused and adds nothing.
    EXPECT_NE(kResultOk, p.comp()->initialize(&app));
    EXPECT_EQ(11, p.ctrl()->getParameterCount());
    EXPECT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
  }
  {
    BareContext bare;
    Plug p(false);
    ASSERT_EQ(kResultOk, p.comp()->initialize(&bare));
    EXPECT_EQ(11, p.ctrl()->getParameterCount());
  }
  {
    // The host application interface is given back before initialize returns.
    HostApplication app("Ardour");
    Plug p(false);
    ASSERT_EQ(kResultOk, p.comp()->initialize(&app));
    ASSERT_EQ(kResultOk, p.comp()->terminate());
    EXPECT_EQ(1, app.Refs());
  }
}

TEST_F(LifecycleTest, ProcessAfterTerminateWritesSilence)
{
  // A host that keeps calling process after terminate finds no buses: the
  // call stays safe, and the buffers it passes are silenced rather than
  // played again.
  Plug p;
  p.Start(kSample32, 64);
  ASSERT_TRUE(RunBlock(p, false, 64));
  ASSERT_EQ(kResultOk, p.comp()->terminate());
  Block b(false, 64);
  b.out.Fill(0.25);
  b.changes.Add(1, 1.0);
  EXPECT_EQ(kResultOk, b.Run(p.proc()));
  EXPECT_EQ(0.0, b.out.Get(0, 0, 0));
  EXPECT_EQ(0.0, b.out.Get(0, 1, 63));
}

TEST_F(LifecycleTest, FactoryFromManyThreadsIsOneObject)
{
  auto get = (GetFactoryProc)SharedModule().Symbol("GetPluginFactory");
  ASSERT_NE(nullptr, get);
  std::atomic<int> same{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
      {
        IPluginFactory* f = get();
        if (f == SharedModule().Factory())
          ++same;
        f->release();
      }
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(8 * 200, same.load());
  // Only the module object's reference is left.
  EXPECT_EQ(2u, SharedModule().Factory()->addRef());
  EXPECT_EQ(1u, SharedModule().Factory()->release());
}

TEST_F(LifecycleTest, ComponentHandlerRefsAreDroppedOnTerminate)
{
  ComponentHandler handler;
  {
    Plug p(false);
    HostApplication app;
    ASSERT_EQ(kResultOk, p.comp()->initialize(&app));
    ASSERT_EQ(kResultOk, p.ctrl()->setComponentHandler(&handler));
    EXPECT_GT(handler.Refs(), 1);
    ASSERT_EQ(kResultOk, p.comp()->terminate());
    EXPECT_EQ(1, handler.Refs());
  }
  EXPECT_EQ(1, handler.Refs());
}

TEST_F(LifecycleTest, HundredInstancesInParallel)
{
  constexpr int kThreads = 4, kPerThread = 25;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&ok, t] {
      for (int i = 0; i < kPerThread; ++i)
      {
        Plug p;
        if (!p.inst)
          continue;
        if (p.Setup(t % 2 ? kSample64 : kSample32, 128) != kResultOk)
          continue;
        p.comp()->setActive(true);
        if (RunBlock(p, t % 2 == 1, 128) && p.ctrl()->getParameterCount() == 11)
          ++ok;
      }
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(kThreads * kPerThread, ok.load());
}

TEST_F(LifecycleTest, StateCallsAroundProcessingFromAnotherThread)
{
  // Saves and restores on this thread while blocks run on another; the
  // instance lock keeps both whole.
  Plug p;
  p.Start(kSample32, 128);
  std::atomic<bool> stop{false}, stateCalls{false};
  std::atomic<int> bad{0};
  std::atomic<long> overlapping{0};
  std::thread audio([&] {
    long pos = 0;
    while (!stop)
    {
      const bool before = stateCalls.load();
      if (!RunBlock(p, false, 128, pos))
        ++bad;
      // Only a block that began and ended among the state calls counts.
      if (before && stateCalls.load())
        ++overlapping;
      pos += 128;
    }
  });
  // At least 200 rounds, and on until 20 blocks ran among them: an audio
  // thread that a loaded machine starts late must not leave this untested.
  stateCalls = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool whole = true;
  for (int i = 0; whole && (i < 200 || (overlapping < 20 && std::chrono::steady_clock::now() < deadline)); ++i)
  {
    MemoryStream s;
    whole = p.ctrl()->getState(&s) == kResultOk;
    EXPECT_EQ(76u, s.Data().size()) << "round " << i;
    whole = whole && s.Data().size() == 76u;
    s.Rewind();
    whole = whole && p.ctrl()->setState(&s) == kResultOk;
    EXPECT_TRUE(whole) << "round " << i;
    p.ctrl()->setParamNormalized(1, (i % 10) / 10.0);
  }
  stateCalls = false;
  stop = true;
  audio.join();
  EXPECT_GE(overlapping.load(), 20);
  EXPECT_EQ(0, bad.load());
}
