// Tavlo in its VST 3 binding with the audio thread running while other
// threads edit, save and restore: the audio thread never waits for them
// (a host that holds an edit or a stream that holds a save stops nothing),
// values read back at once, and a restored state reaches the audio whole.
// Also built with ThreadSanitizer (scripts/test), which reports any value
// shared between these threads without a safe hand-over.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "fx/IFxStateTail.h"
#include "fx/IParam.h"
#include "graphics/IGraphics.h"
#include "host/Vst3Host.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"
#include "vst3/IFxVST3.h"

using namespace Steinberg;

namespace {

using Clock = std::chrono::steady_clock;

// Holds whoever arrives until the test opens it.
class Latch
{
public:
  void Wait()
  {
    std::unique_lock<std::mutex> lock(mMutex);
    ++mArrivals;
    mArrived.notify_all();
    mOpened.wait(lock, [&] { return mOpen; });
  }
  bool WaitForArrival(int ms = 5000)
  {
    std::unique_lock<std::mutex> lock(mMutex);
    return mArrived.wait_for(lock, std::chrono::milliseconds(ms), [&] { return mArrivals > 0; });
  }
  void Open()
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
    mOpened.notify_all();
  }

private:
  std::mutex mMutex;
  std::condition_variable mArrived, mOpened;
  int mArrivals = 0;
  bool mOpen = false;
};

// A host whose performEdit does not return until the test lets it: an
// automation recorder taking its own lock, a UI busy elsewhere.
class HoldingHandler : public vst3host::ComponentHandler
{
public:
  tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue value) override
  {
    latch.Wait();
    return ComponentHandler::performEdit(id, value);
  }
  Latch latch;
};

// A project file on a disk that stalls: reads and writes wait for the test.
class HoldingStream : public vst3host::MemoryStream
{
public:
  HoldingStream() {}
  explicit HoldingStream(std::vector<uint8_t> bytes) : MemoryStream(std::move(bytes)) {}
  tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override
  {
    latch.Wait();
    return MemoryStream::write(buffer, numBytes, numBytesWritten);
  }
  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override
  {
    latch.Wait();
    return MemoryStream::read(buffer, numBytes, numBytesRead);
  }
  Latch latch;
};

IGraphics* OffscreenEditor(IFxBase* plug) { return MakeTavloHeadlessEditor(plug); }

// One 64-frame 32-bit block over these buffers: main input and side-chain
// (in: two buses of two), stereo output.
Vst::ProcessData Block64(vst3host::AudioBuffers& in, vst3host::AudioBuffers& out)
{
  Vst::ProcessData data;
  data.processMode = Vst::kRealtime;
  data.symbolicSampleSize = Vst::kSample32;
  data.numSamples = 64;
  data.numInputs = 2;
  data.numOutputs = 1;
  data.inputs = in.Buses();
  data.outputs = out.Buses();
  return data;
}

// A Tavlo in its binding, initialised, set up and active, with an audio
// thread processing 64-frame blocks of a tone for as long as it runs. After
// each block the audio thread hands what the block worked with to check().
struct Running
{
  vst3host::HostApplication app;
  IFxVST3* binding = new IFxVST3(MakePlug(), OffscreenEditor);
  Tavlo* plug = static_cast<Tavlo*>(binding->Plug());
  std::thread audio;
  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::function<void(const TavloChainSettings&, bool)> check;
  // Called before each block, to add the host's changes for it.
  std::function<void(long, vst3host::ParameterChanges&)> before;

  Running()
  {
    EXPECT_EQ(kResultOk, binding->initialize(&app));
    Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 64, 48000.0};
    EXPECT_EQ(kResultOk, binding->setupProcessing(setup));
    EXPECT_EQ(kResultOk, binding->setActive(true));
  }
  ~Running()
  {
    Stop();
    binding->setActive(false);
    binding->setComponentHandler(nullptr);
    binding->terminate();
    binding->release();
  }
  void Start()
  {
    audio = std::thread([this] {
      vst3host::AudioBuffers in(2, 2, 64, false), out(1, 2, 64, false);
      Vst::ProcessData data = Block64(in, out);
      vst3host::ParameterChanges changes;
      data.inputParameterChanges = &changes;
      for (long n = 0; !stop.load(); ++n)
      {
        changes.Clear();
        if (before) before(n, changes);
        for (int i = 0; i < 64; ++i)
        {
          const double v = 0.5 * std::sin(0.05 * (double)(64 * n + i));
          in.Set(0, 0, i, v);
          in.Set(0, 1, i, v);
        }
        binding->process(data);
        if (check) check(plug->Chain().GetSettings(), plug->BlockBypassed());
        blocks.fetch_add(1);
      }
    });
  }
  void Stop()
  {
    stop.store(true);
    if (audio.joinable()) audio.join();
  }
  // Whether the audio thread gets through n more blocks within a few
  // seconds (it does in milliseconds unless it is stuck).
  bool BlocksGoOn(long n = 200)
  {
    const long from = blocks.load();
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (blocks.load() < from + n && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return blocks.load() >= from + n;
  }
};

bool SameSettings(const TavloChainSettings& a, const TavloChainSettings& b)
{
  return a.input == b.input && a.outputGain == b.outputGain && a.attack == b.attack && a.release == b.release &&
         a.mix == b.mix && a.hpfFreq == b.hpfFreq && a.oversample == b.oversample && a.bypass == b.bypass &&
         a.sidechain == b.sidechain && a.detector == b.detector && a.listen == b.listen;
}

// A saved state: the first release's nine plain values, the host's bypass
// word and the tail with the values of the parameters added since.
std::vector<uint8_t> State(const double (&v)[kNumParams], int32_t bypass)
{
  ByteChunk c;
  for (int i = 0; i < kTavloFirstAppendedParam; ++i) c.Append(v[i]);
  c.Append(bypass);
  IFxStateTail tail;
  tail.appended.assign(v + kTavloFirstAppendedParam, v + kNumParams);
  tail.AppendTo(c);
  return std::vector<uint8_t>(c.Data(), c.Data() + c.Size());
}

}  // namespace

// Each held call would have stopped the audio thread as long as it was
// held when the instance lock was taken around it (and deadlocked a host
// whose audio thread holds what its performEdit waits for).
TEST(Concurrency, AudioGoesOnWhileTheHostHoldsAnEditAndStreamsHoldASaveAndARestore)
{
  // Declared first: the binding lets go of the host's handler when it is
  // torn down, which must find the handler still there.
  HoldingHandler handler;
  Running r;
  r.binding->setComponentHandler(&handler);
  r.Start();
  ASSERT_TRUE(r.BlocksGoOn());

  // A drag on the Input knob in the editor, which the host holds in
  // performEdit. The value reads back at once all the same. The editor's
  // timer ticks meanwhile, reading what the audio thread publishes.
  IPlugView* view = r.binding->createView("editor");
  ASSERT_NE(nullptr, view);
  IGraphics* editor = static_cast<IGraphics*>(r.plug->GetGraphics());
  ASSERT_NE(nullptr, editor);
  for (int i = 0; i < 20 && r.BlocksGoOn(5); ++i) editor->OnGUIIdle();
  const double before = r.binding->getParamNormalized(kInput);
  std::thread ui([&] {
    IMouseMod left(true);
    editor->OnMouseDown(147, 299, &left);
    editor->OnMouseDrag(147, 249, &left);
    editor->OnMouseUp(147, 249, &left);
  });
  ASSERT_TRUE(handler.latch.WaitForArrival());
  EXPECT_TRUE(r.BlocksGoOn()) << "the audio thread waited for the host's performEdit";
  EXPECT_GT(r.binding->getParamNormalized(kInput), before);
  handler.latch.Open();
  ui.join();
  for (int i = 0; i < 20 && r.BlocksGoOn(5); ++i) editor->OnGUIIdle();
  view->release();

  // A save whose stream stalls.
  HoldingStream saved;
  std::thread saver([&] { EXPECT_EQ(kResultOk, r.binding->getState(&saved)); });
  ASSERT_TRUE(saved.latch.WaitForArrival());
  EXPECT_TRUE(r.BlocksGoOn()) << "the audio thread waited for a state save";
  saved.latch.Open();
  saver.join();
  ASSERT_EQ((size_t)kTavloFirstAppendedParam * 8 + 4 + 156, saved.Data().size());  // values, bypass word, tail

  // A restore whose stream stalls.
  HoldingStream restored(saved.Data());
  std::thread restorer([&] { EXPECT_EQ(kResultOk, r.binding->setState(&restored)); });
  ASSERT_TRUE(restored.latch.WaitForArrival());
  EXPECT_TRUE(r.BlocksGoOn()) << "the audio thread waited for a state restore";
  restored.latch.Open();
  restorer.join();
  EXPECT_TRUE(r.BlocksGoOn());
  r.Stop();
}

// Two states restored again and again on one thread: every block works
// with the whole of one state (and its bypass) or the values it had, never
// with half of each.
TEST(Concurrency, ARestoredStateReachesTheAudioWhole)
{
  const double a[kNumParams] = {50.0, -6.0, 0.001, 0.2, 50.0, 100.0, 1.0, 0.0, 1.0, kDetectLinked, 0.0};
  const double b[kNumParams] = {200.0, 3.0, 0.008, 0.45, 100.0, 300.0, 0.0, 1.0, 0.0, kDetectMid, 1.0};
  // What the chain is to be fed for each, as an instance that restores
  // them on its own gives it.
  TavloChainSettings wantA, wantB;
  for (int k = 0; k < 2; ++k)
  {
    IFxVST3* ref = new IFxVST3(MakePlug());
    vst3host::HostApplication app;
    ref->initialize(&app);
    vst3host::MemoryStream s(k == 0 ? State(a, 1) : State(b, 0));
    EXPECT_EQ(kResultOk, ref->setState(&s));
    (k == 0 ? wantA : wantB) = static_cast<Tavlo*>(ref->Plug())->NextBlockSettings();
    ref->terminate();
    ref->release();
  }
  wantA.sampleRate = wantB.sampleRate = 48000.0;

  Running r;
  std::atomic<long> seenA{0}, seenB{0}, mixed{0};
  std::atomic<bool> restoring{false};
  r.check = [&](const TavloChainSettings& s, bool bypassed) {
    if (!restoring.load()) return;
    if (SameSettings(s, wantA) && bypassed) ++seenA;
    else if (SameSettings(s, wantB) && !bypassed) ++seenB;
    else ++mixed;
  };
  r.Start();
  // The first state, before the blocks are watched.
  {
    vst3host::MemoryStream s(State(a, 1));
    ASSERT_EQ(kResultOk, r.binding->setState(&s));
  }
  ASSERT_TRUE(r.BlocksGoOn(10));
  restoring.store(true);
  const auto until = Clock::now() + std::chrono::milliseconds(1500);
  for (int i = 0; Clock::now() < until || seenA.load() == 0 || seenB.load() == 0; ++i)
  {
    vst3host::MemoryStream s(i % 2 ? State(a, 1) : State(b, 0));
    ASSERT_EQ(kResultOk, r.binding->setState(&s));
    if (Clock::now() > until + std::chrono::seconds(10)) break;
  }
  r.Stop();
  EXPECT_EQ(0, mixed.load());
  EXPECT_GT(seenA.load(), 0);
  EXPECT_GT(seenB.load(), 0);
}

// An A/B switch made again and again while the audio runs: every block
// works with one slot whole, never with some values of each.
TEST(Concurrency, ASlotSwitchReachesTheAudioWhole)
{
  const double a[kNumParams] = {50.0, -6.0, 0.001, 0.2, 50.0, 100.0, 1.0, 0.0, 1.0, kDetectLinked, 0.0};
  const double b[kNumParams] = {200.0, 3.0, 0.008, 0.45, 100.0, 300.0, 0.0, 1.0, 0.0, kDetectMid, 1.0};
  // A shown, B the other slot.
  std::vector<uint8_t> state = State(a, 0);
  const int64_t tailAt = IFxStateTail::Find(state.data(), (int64_t)state.size());
  ASSERT_GT(tailAt, 0);
  IFxStateTail tail;
  ASSERT_TRUE(tail.ReadFrom(state.data() + tailAt, (int64_t)state.size() - tailAt));
  tail.slot = 0;
  tail.otherSlot.assign(b, b + kNumParams);
  ByteChunk c;
  c.AppendBytes(state.data(), (int)tailAt);
  tail.AppendTo(c);
  state.assign(c.Data(), c.Data() + c.Size());

  Running r;
  vst3host::MemoryStream s(state);
  ASSERT_EQ(kResultOk, r.binding->setState(&s));
  TavloChainSettings wantA = r.plug->NextBlockSettings(), wantB;
  r.plug->SwitchSlot();
  wantB = r.plug->NextBlockSettings();
  r.plug->SwitchSlot();
  ASSERT_FALSE(SameSettings(wantA, wantB));
  wantA.sampleRate = wantB.sampleRate = 48000.0;
  std::atomic<long> seenA{0}, seenB{0}, mixed{0};
  std::atomic<bool> watching{false};
  r.check = [&](const TavloChainSettings& st, bool) {
    if (!watching.load()) return;
    if (SameSettings(st, wantA)) ++seenA;
    else if (SameSettings(st, wantB)) ++seenB;
    else ++mixed;
  };
  r.Start();
  ASSERT_TRUE(r.BlocksGoOn(10));
  watching.store(true);
  const auto until = Clock::now() + std::chrono::milliseconds(1000);
  while (Clock::now() < until || seenA.load() == 0 || seenB.load() == 0)
  {
    r.plug->SwitchSlot();
    if (Clock::now() > until + std::chrono::seconds(10)) break;
  }
  r.Stop();
  EXPECT_EQ(0, mixed.load());
  EXPECT_GT(seenA.load(), 0);
  EXPECT_GT(seenB.load(), 0);
}

namespace {

// The leading nine values a state holds after program k is chosen.
std::vector<uint8_t> ProgramValues(int k)
{
  IFxVST3* ref = new IFxVST3(MakePlug());
  vst3host::HostApplication app;
  ref->initialize(&app);
  ref->setParamNormalized(kPresetParamTag, k / 11.0);
  vst3host::MemoryStream s;
  EXPECT_EQ(kResultOk, ref->getState(&s));
  ref->terminate();
  ref->release();
  return std::vector<uint8_t>(s.Data().begin(), s.Data().begin() + kTavloFirstAppendedParam * 8);
}

}  // namespace

// A host's program changes inside blocks, one every block between two
// presets, while another thread saves the state and a third chooses
// programs through the controller: every state saved holds one preset
// whole, and so does the instance at the end.
TEST(Concurrency, ProgramChangesInBlocksArePublishedWhole)
{
  const std::vector<uint8_t> glue = ProgramValues(1), vocal = ProgramValues(6), piano = ProgramValues(8),
                             defaults = ProgramValues(0);
  auto whole = [&](const std::vector<uint8_t>& state) {
    if (state.size() < glue.size()) return false;
    const std::vector<uint8_t> values(state.begin(), state.begin() + (long)glue.size());
    return values == glue || values == vocal || values == piano || values == defaults;
  };
  Running r;
  r.before = [](long n, vst3host::ParameterChanges& c) { c.Add(kPresetParamTag, n % 2 ? 1.0 / 11 : 6.0 / 11, 17); };
  r.Start();
  ASSERT_TRUE(r.BlocksGoOn(10));
  std::atomic<bool> stop{false};
  std::thread controller([&] {
    for (int i = 0; !stop.load(); ++i) r.binding->setParamNormalized(kPresetParamTag, i % 2 ? 8.0 / 11 : 0.0);
  });
  long saves = 0, mixed = 0;
  const auto until = Clock::now() + std::chrono::milliseconds(1500);
  while (Clock::now() < until)
  {
    vst3host::MemoryStream s;
    ASSERT_EQ(kResultOk, r.binding->getState(&s));
    ++saves;
    mixed += !whole(s.Data());
  }
  stop.store(true);
  controller.join();
  r.Stop();
  EXPECT_GT(saves, 100);
  EXPECT_EQ(0, mixed) << "of " << saves << " saves";
  vst3host::MemoryStream end;
  ASSERT_EQ(kResultOk, r.binding->getState(&end));
  EXPECT_TRUE(whole(end.Data()));
}

// A new instance set up and activated while another thread saves and
// restores its state: its first block runs on the parameters' values
// (Output 0 dB, Input 0), never on what the chain is built with.
TEST(Concurrency, AFreshInstanceStartsFromItsParameters)
{
  int wrong = 0;
  for (int i = 0; i < 200; ++i)
  {
    IFxVST3* binding = new IFxVST3(MakePlug());
    vst3host::HostApplication app;
    ASSERT_EQ(kResultOk, binding->initialize(&app));
    Tavlo* plug = static_cast<Tavlo*>(binding->Plug());
    const TavloChainSettings want = plug->NextBlockSettings();
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread states([&] {
      while (!stop.load())
      {
        vst3host::MemoryStream s;
        binding->getState(&s);
        s.Rewind();
        binding->setState(&s);
        ++rounds;
      }
    });
    while (rounds.load() < 20) std::this_thread::yield();
    Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 64, 48000.0};
    EXPECT_EQ(kResultOk, binding->setupProcessing(setup));
    EXPECT_EQ(kResultOk, binding->setActive(true));
    vst3host::AudioBuffers in(2, 2, 64, false), out(1, 2, 64, false);
    Vst::ProcessData data = Block64(in, out);
    binding->process(data);
    TavloChainSettings got = plug->Chain().GetSettings();
    got.sampleRate = want.sampleRate;
    wrong += !SameSettings(got, want);
    stop.store(true);
    states.join();
    binding->setActive(false);
    binding->terminate();
    binding->release();
  }
  EXPECT_EQ(0, wrong) << "of 200 instances";
}
