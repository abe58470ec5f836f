// The state transitions a conformance validator walks through, repeated
// and out of the usual order, and many instances at once.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
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
    ASSERT_EQ(kHostParams, p.ctrl()->getParameterCount());
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
    EXPECT_EQ(kHostParams, p.ctrl()->getParameterCount());
    // A second initialize without terminate is refused and adds nothing.
    EXPECT_NE(kResultOk, p.comp()->initialize(&app));
    EXPECT_EQ(kHostParams, p.ctrl()->getParameterCount());
    EXPECT_EQ(2, p.comp()->getBusCount(kAudio, kInput));
  }
  {
    BareContext bare;
    Plug p(false);
    ASSERT_EQ(kResultOk, p.comp()->initialize(&bare));
    EXPECT_EQ(kHostParams, p.ctrl()->getParameterCount());
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
        if (RunBlock(p, t % 2 == 1, 128) && p.ctrl()->getParameterCount() == kHostParams)
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
    EXPECT_EQ(kStateSize, s.Data().size()) << "round " << i;
    whole = whole && s.Data().size() == kStateSize;
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

namespace {

// A tone on both channels, exact in single precision.
void FillTone(Block& b, long start, double amp)
{
  for (int f = 0; f < b.frames; ++f)
    for (int ch = 0; ch < 2; ++ch)
      b.in.Set(0, ch, f, (double)(float)(amp * std::sin(2.0 * 3.141592653589793 * 220.0 * (start + f) / 48000.0)));
}

// Renders `frames` of the tone in blocks of 512, the changes in the first.
std::vector<double> RenderTone(Plug& p, bool is64, long start, long frames, double amp,
                               const std::vector<std::pair<ParamID, double>>& changes = {})
{
  std::vector<double> out;
  for (long done = 0; done < frames;)
  {
    const int n = (int)std::min<long>(512, frames - done);
    Block b(is64, n);
    FillTone(b, start + done, amp);
    if (done == 0)
      for (const auto& c : changes)
        b.changes.Add(c.first, c.second);
    EXPECT_EQ(kResultOk, b.Run(p.proc()));
    for (int f = 0; f < n; ++f)
      for (int ch = 0; ch < 2; ++ch)
        out.push_back(b.out.Get(0, ch, f));
    done += n;
  }
  return out;
}

long FirstDifference(const std::vector<double>& a, const std::vector<double>& b)
{
  if (a.size() != b.size())
    return 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (memcmp(&a[i], &b[i], sizeof(double)) != 0)
      return (long)(i / 2);
  return -1;
}

constexpr ParamID kBpas = 0x62706173;

}  // namespace

// After a loud passage, deactivation and activation (or processing switched
// off and on again) put the chain back as a new instance has it (gain,
// smoother, detector filter, oversamplers, the fades of both bypasses): a
// quiet tone then comes out bit for bit as from a fresh instance. A set-up,
// a second activation or processing switched on again while on clears
// nothing: the output goes on as if none had come.
TEST_F(LifecycleTest, ReactivationStartsFromACleanSlate)
{
  // Input 200, and Oversample; the block just before deactivation switches
  // a bypass on, so its fade is under way when the plug-in is deactivated.
  struct Case
  {
    const char* what;
    double oversample;
    ParamID lastSwitch;  // 0 for none
  };
  const Case cases[] = {
    {"compressing", 0.0, 0},
    {"compressing, oversampled", 1.0, 0},
    {"host bypass switched on before deactivation", 0.0, kBpas},
    {"Bypass switched on before deactivation", 1.0, 7},
  };
  for (bool is64 : {false, true})
    for (bool byProcessing : {false, true})
    for (const Case& c : cases)
    {
      SCOPED_TRACE(std::string(c.what) + (is64 ? ", 64-bit" : ", 32-bit") +
                   (byProcessing ? ", processing off and on" : ", deactivated and activated"));
      const int32 size = is64 ? kSample64 : kSample32;
      std::vector<std::pair<ParamID, double>> settings = {{0, 0.5}, {6, c.oversample}};
      std::vector<std::pair<ParamID, double>> after;
      if (c.lastSwitch)
        after.push_back({c.lastSwitch, 1.0});

      Plug used, fresh, kept, twin;
      for (Plug* p : {&used, &kept, &twin})
      {
        p->Start(size, 512);
        RenderTone(*p, is64, 0, 24000, 0.9, settings);
      }
      // Part of a fade, then off and on again.
      RenderTone(used, is64, 24000, 100, 0.9, after);
      if (byProcessing)
      {
        ASSERT_EQ(kResultOk, used.proc()->setProcessing(false));
        ASSERT_EQ(kResultOk, used.proc()->setProcessing(true));
      }
      else
      {
        ASSERT_EQ(kResultOk, used.comp()->setActive(false));
        ASSERT_EQ(kResultOk, used.comp()->setActive(true));
      }
      fresh.Start(size, 512);
      std::vector<std::pair<ParamID, double>> freshSettings = settings;
      freshSettings.insert(freshSettings.end(), after.begin(), after.end());
      const auto a = RenderTone(used, is64, 30000, 9600, 0.1);
      const auto b = RenderTone(fresh, is64, 30000, 9600, 0.1, freshSettings);
      EXPECT_EQ(-1, FirstDifference(a, b)) << "first difference at frame " << FirstDifference(a, b);

      // While active, a set-up and another activation leave the history.
      if (c.lastSwitch)
        continue;
      ASSERT_EQ(kResultOk, kept.Setup(size, 512));
      ASSERT_EQ(kResultOk, kept.comp()->setActive(true));
      ASSERT_EQ(kResultOk, kept.proc()->setProcessing(true));
      const auto k = RenderTone(kept, is64, 30000, 9600, 0.1);
      const auto t = RenderTone(twin, is64, 30000, 9600, 0.1);
      EXPECT_EQ(-1, FirstDifference(k, t)) << "first difference at frame " << FirstDifference(k, t);
      // And that history is audible: the gain reduction of the loud passage
      // is still being released.
      EXPECT_NE(-1, FirstDifference(k, b));
    }
}
