// The host library itself, against the fault plug-in of this folder: what
// the renderer and the golden comparison rely on (loading, the channels
// reaching the plug-in, streams in pieces) and what the checks rely on (the
// host recording what the plug-in asks, and on which thread).

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "host/ClapHost.h"

using namespace claphost;

namespace {

constexpr clap_id kGain = 10, kMode = 20, kBypass = 30, kLookahead = 50;

TEST(ClapHostStreams, ReadInPiecesAndReportTheirEnd)
{
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  IStream in(data, 3);
  const clap_istream_t* s = in.Get();
  uint8_t buf[16] = {};
  std::vector<int64_t> got;
  for (int i = 0; i < 5; ++i)
    got.push_back(s->read(s, buf + (in.Pos() < 10 ? in.Pos() : 0), 8));
  EXPECT_EQ(got, (std::vector<int64_t>{3, 3, 3, 1, 0}));
  EXPECT_EQ(std::memcmp(buf, data.data(), 10), 0);
  EXPECT_EQ(in.ReadsAfterEnd(), 0);
  EXPECT_EQ(s->read(s, buf, 8), 0);
  EXPECT_EQ(in.ReadsAfterEnd(), 1);

  IStream failing(data, 0, 4);
  EXPECT_EQ(failing.Get()->read(failing.Get(), buf, 3), 3);
  EXPECT_EQ(failing.Get()->read(failing.Get(), buf, 3), -1) << "the read reaching offset 4 fails";
}

TEST(ClapHostStreams, WriteInPiecesAndFailWhenFull)
{
  const uint8_t bytes[10] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  OStream pieces(4);
  EXPECT_EQ(pieces.Get()->write(pieces.Get(), bytes, 10), 4);
  EXPECT_EQ(pieces.Get()->write(pieces.Get(), bytes + 4, 6), 4);
  EXPECT_EQ(pieces.Data(), (std::vector<uint8_t>{9, 8, 7, 6, 5, 4, 3, 2}));

  OStream full(0, 6);
  EXPECT_EQ(full.Get()->write(full.Get(), bytes, 10), 6);
  EXPECT_EQ(full.Get()->write(full.Get(), bytes, 1), -1);
  EXPECT_EQ(full.Data().size(), 6u);
}

class ClapHostLibrary : public testing::Test
{
protected:
  void SetUp() override { unsetenv("CLAP_FAULT_PLUG_FAULT"); }
  void TearDown() override { unsetenv("CLAP_FAULT_PLUG_FAULT"); }
};

TEST_F(ClapHostLibrary, InitialisesEachFileOnce)
{
  Module missing("/nonexistent/Nothing.clap");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_FALSE(missing.Error().empty());

  // The plug-in refuses a second init before deinit, as the entry allows.
  auto a = std::make_unique<Module>(CLAP_FAULT_PLUG_PATH);
  ASSERT_TRUE(a->IsLoaded()) << a->Error();
  {
    Module b(CLAP_FAULT_PLUG_PATH);
    ASSERT_TRUE(b.IsLoaded()) << b.Error();
    Instance inst(b);
    EXPECT_TRUE(inst) << inst.Error();
  }
  Instance still(*a);
  EXPECT_TRUE(still) << "the first module outlives the second";
  ASSERT_EQ(a->Descriptors().size(), 1u);
  EXPECT_STREQ(a->Descriptors()[0]->name, "Fault Plug");
}

TEST_F(ClapHostLibrary, BlocksReachThePluginChannelByChannel)
{
  Module m(CLAP_FAULT_PLUG_PATH);
  Instance inst(m);
  ASSERT_TRUE(inst) << inst.Error();
  inst.Flush({Event::Value(0, kBypass, 1.0)});
  ASSERT_TRUE(inst.Activate(44100.0, 1, 64));
  EXPECT_EQ(inst.Process32(nullptr, nullptr, 65), CLAP_PROCESS_ERROR) << "more frames than activated for";
  EXPECT_EQ(inst.Process64(nullptr, nullptr, 64), CLAP_PROCESS_CONTINUE) << "silence in, output dropped";

  // Bypassed, the plug-in hands back what it was given: each channel its own.
  for (bool inPlace : {false, true})
  {
    float l[64], r[64], ol[64], orr[64];
    double dl[64], dr[64], dol[64], dor[64];
    for (int i = 0; i < 64; ++i)
    {
      l[i] = (float)(i + 1), r[i] = -(float)(i + 1), ol[i] = orr[i] = 0.0f;
      dl[i] = 0.5 + i, dr[i] = -0.5 - i, dol[i] = dor[i] = 0.0;
    }
    float* in32[2] = {l, r};
    float* out32[2] = {ol, orr};
    double* in64[2] = {dl, dr};
    double* out64[2] = {dol, dor};
    EXPECT_EQ(inst.Process32(in32, inPlace ? in32 : out32, 64), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(inst.Process64(in64, inPlace ? in64 : out64, 64), CLAP_PROCESS_CONTINUE);
    for (int i = 0; i < 64; ++i)
    {
      const float* o32[2] = {inPlace ? l : ol, inPlace ? r : orr};
      const double* o64[2] = {inPlace ? dl : dol, inPlace ? dr : dor};
      ASSERT_EQ(o32[0][i], (float)(i + 1)) << i;
      ASSERT_EQ(o32[1][i], -(float)(i + 1)) << i;
      ASSERT_EQ(o64[0][i], 0.5 + i) << i;
      ASSERT_EQ(o64[1][i], -0.5 - i) << i;
    }
  }
  // Events reach it at their offsets: the mode flips the polarity from
  // frame 10 on, once bypass is off (from frame 0).
  float l[32], r[32], ol[32], orr[32];
  float* in32[2] = {l, r};
  float* out32[2] = {ol, orr};
  for (int i = 0; i < 32; ++i)
    l[i] = r[i] = 0.25f;
  inst.Reset();
  EXPECT_EQ(inst.Process32(in32, out32, 32, {Event::Value(0, kBypass, 0.0), Event::Value(10, kMode, 1.0)}),
            CLAP_PROCESS_CONTINUE);
  EXPECT_GT(ol[9], 0.0f);
  EXPECT_LT(ol[10], 0.0f);
}

TEST_F(ClapHostLibrary, EveryPortTakesItsOwnBuffersOrSilence)
{
  Module m(CLAP_FAULT_PLUG_PATH);
  Instance inst(m);
  ASSERT_TRUE(inst) << inst.Error();
  ASSERT_EQ(inst.Ports(true).size(), 2u) << "main input and side-chain";
  ASSERT_TRUE(inst.Activate(48000.0, 1, 32));
  // Silent main input: the plug-in adds the side-chain to nothing.
  std::vector<double> scl(32), scr(32), ol(32, 9.0), orr(32, 9.0);
  for (int i = 0; i < 32; ++i)
    scl[i] = 0.125 * (i + 1), scr[i] = -0.25 * (i + 1);
  double* sc[2] = {scl.data(), scr.data()};
  double* out[2] = {ol.data(), orr.data()};
  EXPECT_EQ(inst.ProcessPorts64({nullptr, sc}, {out}, 32), CLAP_PROCESS_CONTINUE);
  for (int i = 0; i < 32; ++i)
  {
    ASSERT_EQ(ol[i], 0.125 * (i + 1)) << i;
    ASSERT_EQ(orr[i], -0.25 * (i + 1)) << i;
  }
  // Left out, the side-chain is silence.
  EXPECT_EQ(inst.ProcessPorts64({}, {out}, 32), CLAP_PROCESS_CONTINUE);
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(ol[i], 0.0) << i;
}

TEST_F(ClapHostLibrary, RecordsWhatThePluginAsks)
{
  Module m(CLAP_FAULT_PLUG_PATH);
  Instance inst(m);
  ASSERT_TRUE(inst) << inst.Error();
  const Host::Counts& calls = inst.GetHost().Calls();

  // Inactive, a latency change is told; active, it asks for a restart.
  inst.Flush({Event::Value(0, kLookahead, 1.0)});
  EXPECT_EQ(calls.latencyChanged.load(), 1);
  EXPECT_EQ(inst.LatencyFrames(), 64u);
  ASSERT_TRUE(inst.Activate(48000.0, 1, 256));
  float z[256] = {};
  float* ch[2] = {z, z};
  std::vector<float> o0(256), o1(256);
  float* out[2] = {o0.data(), o1.data()};
  EXPECT_EQ(inst.Process32(ch, out, 256, {Event::Value(3, kLookahead, 0.0)}), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(calls.restart.load(), 1);
  EXPECT_EQ(inst.LatencyFrames(), 64u) << "fixed until re-activation";
  inst.Deactivate();
  ASSERT_TRUE(inst.Activate(48000.0, 1, 256));
  EXPECT_EQ(inst.LatencyFrames(), 0u);
  // The plug-in checked the thread of each call through thread-check and
  // found nothing to log.
  EXPECT_TRUE(inst.GetHost().Logs().empty());
  EXPECT_EQ(calls.wrongThread.load(), 0);

  // The plug-in's events come back as sent.
  inst.Out().Clear();
  setenv("CLAP_FAULT_PLUG_FAULT", "bad-out-event", 1);
  {
    Module faulty(CLAP_FAULT_PLUG_PATH);  // shares the loaded file: no new init
    Instance other(faulty);
    ASSERT_TRUE(other);
    ASSERT_TRUE(other.Activate(48000.0, 1, 256));
    EXPECT_EQ(other.Process32(ch, out, 17), CLAP_PROCESS_CONTINUE);
    EXPECT_TRUE(other.Out().Events().empty()) << "the fault was read at the first init only";
  }
}

TEST_F(ClapHostLibrary, OutputEventsAreRecordedOrRefused)
{
  setenv("CLAP_FAULT_PLUG_FAULT", "bad-out-event", 1);
  Module m(CLAP_FAULT_PLUG_PATH);
  Instance inst(m);
  ASSERT_TRUE(inst);
  ASSERT_TRUE(inst.Activate(48000.0, 1, 256));
  float z[256] = {};
  float* ch[2] = {z, z};
  std::vector<float> o0(256), o1(256);
  float* out[2] = {o0.data(), o1.data()};
  EXPECT_EQ(inst.Process32(ch, out, 17), CLAP_PROCESS_CONTINUE);
  ASSERT_EQ(inst.Out().Events().size(), 1u);
  const OutEvent& e = inst.Out().Events()[0];
  EXPECT_EQ(e.type, CLAP_EVENT_PARAM_VALUE);
  EXPECT_EQ(e.id, 999u);
  EXPECT_EQ(e.time, 17u);
  EXPECT_EQ(e.size, sizeof(clap_event_param_value_t));
  inst.Out().Clear();
  inst.Out().SetRefuse(true);
  EXPECT_EQ(inst.Process32(ch, out, 17), CLAP_PROCESS_CONTINUE);
  EXPECT_TRUE(inst.Out().Events().empty());
  EXPECT_EQ(inst.Out().Refused(), 1);
}

TEST(ClapHostThreads, MainAndAudioThreadsStayApart)
{
  Host host;
  const clap_host_t* h = host.Get();
  auto* tc = (const clap_host_thread_check_t*)h->get_extension(h, CLAP_EXT_THREAD_CHECK);
  auto* params = (const clap_host_params_t*)h->get_extension(h, CLAP_EXT_PARAMS);
  ASSERT_TRUE(tc && params);
  EXPECT_TRUE(tc->is_main_thread(h));
  EXPECT_FALSE(tc->is_audio_thread(h));
  {
    Host::AudioScope audio(host);
    EXPECT_FALSE(tc->is_main_thread(h)) << "the audio role, even on the main OS thread";
    EXPECT_TRUE(tc->is_audio_thread(h));
    params->request_flush(h);  // not from the audio thread
  }
  EXPECT_EQ(host.Calls().wrongThread.load(), 1);
  std::thread other([&] {
    EXPECT_FALSE(tc->is_main_thread(h));
    EXPECT_FALSE(tc->is_audio_thread(h));
    params->rescan(h, CLAP_PARAM_RESCAN_VALUES);  // main thread only
  });
  other.join();
  EXPECT_EQ(host.Calls().wrongThread.load(), 2);
  EXPECT_EQ(host.Calls().rescan.load(), 1);
  EXPECT_EQ(host.Calls().rescanFlags.load(), (uint32_t)CLAP_PARAM_RESCAN_VALUES);

  auto* timers = (const clap_host_timer_support_t*)h->get_extension(h, CLAP_EXT_TIMER_SUPPORT);
  ASSERT_NE(timers, nullptr);
  clap_id a = CLAP_INVALID_ID, b = CLAP_INVALID_ID;
  EXPECT_TRUE(timers->register_timer(h, 33, &a));
  EXPECT_TRUE(timers->register_timer(h, 16, &b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(timers->unregister_timer(h, a));
  EXPECT_FALSE(timers->unregister_timer(h, a));
  EXPECT_EQ(host.TimerCount(), 1u);

  auto* log = (const clap_host_log_t*)h->get_extension(h, CLAP_EXT_LOG);
  ASSERT_NE(log, nullptr);
  log->log(h, CLAP_LOG_WARNING, "careful");
  ASSERT_EQ(host.Logs().size(), 1u);
  EXPECT_EQ(host.Logs()[0].message, "careful");

  host.Hide(CLAP_EXT_LATENCY);
  EXPECT_EQ(h->get_extension(h, CLAP_EXT_LATENCY), nullptr);
  EXPECT_NE(h->get_extension(h, CLAP_EXT_STATE), nullptr);
  EXPECT_EQ(h->get_extension(h, "clap.no-such-extension"), nullptr);
  h->request_restart(h);
  h->request_callback(h);
  EXPECT_EQ(host.Calls().restart.load(), 1);
  EXPECT_EQ(host.Calls().callback.load(), 1);
}

}  // namespace
