// A built bundle as a host drives it, loaded with dlopen like any host does
// (TAVLO_BENCH_BUNDLE names another bundle to compare, such as an older
// build's):
//
//  - BM_Creation: createInstance of a processing instance that never opens
//    an editor. Counters: milliseconds per instance and the heap it holds
//    right after creation and once set up and active (64-frame blocks).
//  - BM_ProcessUnderEditsAndSaves: process() at 64-frame blocks on an audio
//    thread paced like a sound card (a block due every 1.33 ms at 48 kHz;
//    a block whose whole period passed is dropped, as in an overrun), for
//    three seconds with the editor open and idle, then for three seconds
//    while the Input knob is dragged in the editor through a host whose
//    performEdit takes 1 ms and another thread saves the state through a
//    stream whose writes take 1 ms. Counters for both phases: calls made,
//    blocks dropped, the 99.9th percentile and the longest call.
//
// Figures to report; no target.

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestPlugFrame.h"
#include "XvfbSession.h"
#include "host/Vst3Host.h"

namespace
{
using namespace Steinberg;
using Clock = std::chrono::steady_clock;

const char* BundlePath()
{
  const char* env = std::getenv("TAVLO_BENCH_BUNDLE");
  return env && *env ? env : TAVLO_BUNDLE_PATH;
}

vst3host::Module& SharedModule()
{
  static vst3host::Module module(BundlePath());
  return module;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Bytes the allocator hands out, small blocks and mapped ones alike.
double HeapBytes()
{
  const struct mallinfo2 m = mallinfo2();
  return (double)m.uordblks + (double)m.hblkhd;
}

// ---- Creation ----

void BM_Creation(benchmark::State& state)
{
  vst3host::Module& module = SharedModule();
  TUID cid;
  if (!module.IsLoaded() || !module.FirstAudioClass(cid))
  {
    state.SkipWithError("no bundle");
    return;
  }
  // One instance first: what a module does once (tables, caches) is not
  // the cost of an instance.
  {
    vst3host::Instance warm(module.Factory(), cid);
  }
  constexpr int kBatch = 10;
  double createMs = 0.0, createBytes = 0.0, setupBytes = 0.0;
  long made = 0;
  for (auto _ : state)
  {
    std::vector<std::unique_ptr<vst3host::Instance>> insts;
    std::vector<std::unique_ptr<vst3host::HostApplication>> apps;
    const double heap0 = HeapBytes();
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) insts.emplace_back(new vst3host::Instance(module.Factory(), cid));
    const double ms = Ms(Clock::now() - t0);
    const double heap1 = HeapBytes();
    for (auto& inst : insts)
    {
      apps.emplace_back(new vst3host::HostApplication());
      inst->component->initialize(apps.back().get());
      Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 64, 48000.0};
      inst->processor->setupProcessing(setup);
      inst->component->setActive(true);
    }
    const double heap2 = HeapBytes();
    state.SetIterationTime(ms / 1e3 / kBatch);
    createMs += ms;
    createBytes += heap1 - heap0;
    setupBytes += heap2 - heap0;
    made += kBatch;
    for (auto& inst : insts)
    {
      inst->component->setActive(false);
      inst->component->terminate();
    }
  }
  state.counters["create_ms"] = createMs / (double)made;
  state.counters["created_kb"] = createBytes / (double)made / 1024.0;
  state.counters["set_up_kb"] = setupBytes / (double)made / 1024.0;
}
BENCHMARK(BM_Creation)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// ---- process() while other threads edit and save ----

// A host whose performEdit takes 1 ms (an automation recorder, a busy UI).
class SlowHandler : public vst3host::ComponentHandler
{
public:
  tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue value) override
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++performs;
    return ComponentHandler::performEdit(id, value);
  }
  std::atomic<long> performs{0};
};

// A project file on a slow disk: every write takes 1 ms.
class SlowStream : public vst3host::MemoryStream
{
public:
  tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return MemoryStream::write(buffer, numBytes, numBytesWritten);
  }
};

struct PhaseStats
{
  long calls = 0, dropped = 0;
  double p999Us = 0.0, maxUs = 0.0;
};

// The audio thread of a host: one 64-frame block due every 1.33 ms. A call
// that comes late is still made; blocks whose whole period went by while a
// call was stuck are dropped.
class AudioThread
{
public:
  explicit AudioThread(Vst::IAudioProcessor* proc) : mProc(proc) {}

  PhaseStats Run(double seconds)
  {
    constexpr int kBlock = 64;
    constexpr double kRate = 48000.0;
    const auto period = std::chrono::nanoseconds((long)(1e9 * kBlock / kRate));
    vst3host::AudioBuffers in(2, 2, kBlock, false), out(1, 2, kBlock, false);
    Vst::ProcessData data;
    data.processMode = Vst::kRealtime;
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = kBlock;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = in.Buses();
    data.outputs = out.Buses();
    std::vector<double> us;
    us.reserve((size_t)(seconds * kRate / kBlock) + 16);
    PhaseStats st;
    const auto start = Clock::now();
    const auto end = start + std::chrono::nanoseconds((long)(seconds * 1e9));
    auto due = start;
    while (due < end)
    {
      for (int i = 0; i < kBlock; ++i, ++mFrame)
      {
        const double v = 0.6 * std::sin(2.0 * M_PI * 110.0 * mFrame / kRate);
        in.Set(0, 0, i, v);
        in.Set(0, 1, i, v);
      }
      const auto t0 = Clock::now();
      mProc->process(data);
      const auto t1 = Clock::now();
      us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      ++st.calls;
      due += period;
      // An overrun: the periods that passed while the call was stuck.
      while (due + period < t1 && due < end)
      {
        due += period;
        ++st.dropped;
      }
      std::this_thread::sleep_until(due);
    }
    std::sort(us.begin(), us.end());
    if (!us.empty())
    {
      st.p999Us = us[std::min(us.size() - 1, (size_t)std::ceil(0.999 * (double)us.size()) - 1)];
      st.maxUs = us.back();
    }
    return st;
  }

private:
  Vst::IAudioProcessor* mProc;
  long mFrame = 0;
};

void BM_ProcessUnderEditsAndSaves(benchmark::State& state)
{
  vst3host::Module& module = SharedModule();
  TUID cid;
  if (!module.IsLoaded() || !module.FirstAudioClass(cid) || !vst3host::XvfbSession::Shared().Start())
  {
    state.SkipWithError("no bundle or no X server");
    return;
  }
  Display* dpy = XOpenDisplay(nullptr);
  int ev, err, maj, min;
  if (!dpy || !XTestQueryExtension(dpy, &ev, &err, &maj, &min))
  {
    state.SkipWithError("no XTest");
    return;
  }
  XSetWindowAttributes a;
  a.override_redirect = True;
  const Window parent = XCreateWindow(dpy, DefaultRootWindow(dpy), 0, 0, 786, 483, 0, CopyFromParent, InputOutput,
                                      CopyFromParent, CWOverrideRedirect, &a);
  XMapRaised(dpy, parent);
  XSync(dpy, False);

  for (auto _ : state)
  {
    vst3host::HostApplication app;
    SlowHandler handler;
    vst3host::Instance inst(module.Factory(), cid);
    inst.component->initialize(&app);
    inst.controller->setComponentHandler(&handler);
    Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 64, 48000.0};
    inst.processor->setupProcessing(setup);
    inst.component->setActive(true);
    inst.processor->setProcessing(true);

    vst3host::PlugFrame frame;
    IPlugView* view = inst.controller->createView("editor");
    view->setFrame(&frame);
    if (view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID) != kResultOk)
    {
      state.SkipWithError("the view did not attach");
      return;
    }
    frame.RunFor(300);

    AudioThread audio(inst.processor);
    PhaseStats idle, busy;
    std::atomic<bool> audioDone{false};
    std::thread audioThread([&] {
      idle = audio.Run(3.0);
      audioDone.store(true);
    });
    while (!audioDone.load()) frame.RunFor(20);
    audioThread.join();

    // The stressed phase: the user drags Input up and down (its knob's
    // centre at 147, 299), the host's UI thread runs the editor, another
    // thread saves the project again and again.
    std::atomic<bool> stop{false};
    std::atomic<long> saves{0};
    std::thread user([&] {
      Display* d = XOpenDisplay(nullptr);
      auto move = [&](int x, int y) {
        XTestFakeMotionEvent(d, DefaultScreen(d), x, y, 0);
        XFlush(d);
      };
      move(147, 299);
      XTestFakeButtonEvent(d, 1, True, 0);
      XFlush(d);
      for (int step = 0; !stop.load(); ++step)
      {
        move(147, 299 - (step % 80 < 40 ? step % 40 : 40 - step % 40));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      XTestFakeButtonEvent(d, 1, False, 0);
      XFlush(d);
      XCloseDisplay(d);
    });
    std::thread saver([&] {
      while (!stop.load())
      {
        SlowStream s;
        inst.controller->getState(&s);
        ++saves;
      }
    });
    audioDone.store(false);
    std::thread audioThread2([&] {
      busy = audio.Run(3.0);
      audioDone.store(true);
    });
    const long performs0 = handler.performs.load();
    while (!audioDone.load()) frame.RunFor(20);
    stop.store(true);
    audioThread2.join();
    user.join();
    saver.join();
    frame.RunFor(100);

    state.counters["idle_calls"] = (double)idle.calls;
    state.counters["idle_dropped"] = (double)idle.dropped;
    state.counters["idle_p999_us"] = idle.p999Us;
    state.counters["idle_max_us"] = idle.maxUs;
    state.counters["busy_calls"] = (double)busy.calls;
    state.counters["busy_dropped"] = (double)busy.dropped;
    state.counters["busy_p999_us"] = busy.p999Us;
    state.counters["busy_max_us"] = busy.maxUs;
    state.counters["edits"] = (double)(handler.performs.load() - performs0);
    state.counters["saves"] = (double)saves.load();

    view->removed();
    view->setFrame(nullptr);
    view->release();
    inst.controller->setComponentHandler(nullptr);
    inst.processor->setProcessing(false);
    inst.component->setActive(false);
    inst.component->terminate();
  }
  XDestroyWindow(dpy, parent);
  XCloseDisplay(dpy);
}
BENCHMARK(BM_ProcessUnderEditsAndSaves)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
