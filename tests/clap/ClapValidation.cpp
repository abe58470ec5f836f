// A CLAP plug-in as a host sees it, loaded with dlopen through the host
// library: the checks a CLAP host makes before trusting a plug-in, written
// once and run over every plug-in under test.
//
// Plug-ins under test:
// - ZamComp.clap (Debian's zam-plugins), a plug-in hosts run today: the
//   control that the common checks ask nothing a working plug-in fails.
// - the fault plug-in of this folder, which keeps every contract and breaks
//   one on request (CLAP_FAULT_PLUG_FAULT); the CMake file runs each check
//   against the fault it must catch.
// - Tavlo.clap, where the build has it (or TAVLO_CLAP_BUNDLE names it).
//
// The strict checks hold Tavlo (and the fault plug-in) to more than CLAP
// asks of every plug-in, and ZamComp is left out of them:
// - state: ZamComp has no state extension; Tavlo refuses foreign data;
// - 64-bit and in-place ports, the descriptor's promised strings: optional
//   in CLAP, promised by Tavlo (ZamComp's ports are 32-bit mono);
// - events at their sample and output independent of block sizes: CLAP
//   allows applying events at block starts, as ZamComp does;
// - refusing unknown ids: ZamComp (DPF 1.6's wrapper) answers them;
// - values held exactly and clamped to the range: ZamComp keeps floats and
//   leaves a value a hair outside its range as sent; the common checks
//   allow float precision and ask only that values stay finite.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/ClapHost.h"

using namespace claphost;

namespace {

struct Subject
{
  std::string name;  // test name suffix
  std::string path;
  bool required;  // a missing file fails instead of skipping
  bool strict;    // held to Tavlo's own contracts as well
  std::vector<std::string> features;  // strict: features that must be listed
  std::string pluginName, vendor, version;
  uint32_t channels = 0;  // strict: channels of both main ports
};

std::vector<Subject> Subjects()
{
  std::vector<Subject> s;
  const char* require = std::getenv("TAVLO_REQUIRE_HOSTS");
  s.push_back({"ZamComp", TAVLO_ZAMCOMP_CLAP, require && std::string(require) == "1", false, {}, "", "", "", 0});
  s.push_back({"FaultPlug", CLAP_FAULT_PLUG_PATH, true, true, {"audio-effect", "utility", "stereo"}, "Fault Plug",
               "Quillmarshworks", "1.0.0", 2});
  std::string tavlo;
#ifdef TAVLO_CLAP_BUNDLE_PATH
  tavlo = TAVLO_CLAP_BUNDLE_PATH;
#endif
  if (const char* env = std::getenv("TAVLO_CLAP_BUNDLE"))
    tavlo = env;
  if (!tavlo.empty())
    s.push_back({"Tavlo", tavlo, true, true, {"audio-effect", "compressor", "stereo"}, "Tavlo", "Quillmarshworks",
                 "3.3.0", 2});
  return s;
}

std::vector<Subject> StrictSubjects()
{
  std::vector<Subject> s;
  for (const Subject& x : Subjects())
    if (x.strict)
      s.push_back(x);
  return s;
}

std::string SubjectName(const testing::TestParamInfo<Subject>& info) { return info.param.name; }

// gtest shows the parameter by name, not as bytes.
void PrintTo(const Subject& s, std::ostream* os) { *os << s.name; }

// ---------------------------------------------------------------------------
// Signals and rendering

using Signal = std::vector<std::vector<double>>;  // [channel][frame]

// A tone with noise and loud bursts, so a compressor works; every value is
// a float, so the 32- and 64-bit paths get the same input.
Signal MakeSignal(uint32_t channels, size_t frames, double rate, uint32_t seed = 1)
{
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  Signal s(channels, std::vector<double>(frames));
  for (size_t i = 0; i < frames; ++i)
  {
    const double burst = (i / 1500) % 3 == 1 ? 0.9 : 0.2;
    for (uint32_t c = 0; c < channels; ++c)
      s[c][i] = (float)(burst * std::sin(2.0 * M_PI * (220.0 + 110.0 * c) * i / rate + c) + 0.05 * noise(rng));
  }
  return s;
}

bool Bad(double v, bool is64)
{
  if (!std::isfinite(v))
    return true;
  const double tiny = is64 ? std::numeric_limits<double>::min() : std::numeric_limits<float>::min();
  return v != 0.0 && std::fabs(v) < tiny;
}

struct RenderPlan
{
  bool is64 = false;
  bool inPlace = false;
  std::vector<uint32_t> blocks{256};  // sizes, used in turn
  std::function<std::vector<Event>(size_t block, uint32_t frames)> events;
  // Events at frames of the whole signal, wherever the blocks fall.
  std::vector<std::pair<size_t, Event>> timeline;
  std::function<const clap_event_transport_t*(size_t block)> transport;
};

struct Rendered
{
  Signal out;
  std::string fault;  // the first thing wrong, "" when none
};

std::string Describe(const char* what, size_t block, uint32_t ch, size_t frame, double v)
{
  std::ostringstream o;
  o << what << " at block " << block << ", channel " << ch << ", frame " << frame << ": " << v;
  return o.str();
}

template <typename T>
Rendered RenderT(Instance& inst, const Signal& in, const RenderPlan& plan)
{
  Rendered r;
  const uint32_t chIn = inst.MainChannels(true), chOut = inst.MainChannels(false);
  const size_t total = in.empty() ? 0 : in[0].size();
  r.out.assign(chOut, std::vector<double>(total, 0.0));
  const uint32_t maxFrames = inst.MaxFrames();
  std::vector<std::vector<T>> inBuf(chIn, std::vector<T>(maxFrames)), outBuf(chOut, std::vector<T>(maxFrames));
  std::vector<T*> inPtr(chIn), outPtr(chOut);
  for (uint32_t c = 0; c < chIn; ++c)
    inPtr[c] = inBuf[c].data();
  for (uint32_t c = 0; c < chOut; ++c)
    outPtr[c] = plan.inPlace ? inBuf[c].data() : outBuf[c].data();
  std::set<clap_id> ids;
  for (const auto& p : inst.ParamInfos())
    ids.insert(p.id);

  size_t pos = 0;
  for (size_t block = 0; pos < total; ++block)
  {
    const uint32_t frames = (uint32_t)std::min<size_t>(plan.blocks[block % plan.blocks.size()], total - pos);
    for (uint32_t c = 0; c < chIn; ++c)
      for (uint32_t i = 0; i < frames; ++i)
        inBuf[c][i] = (T)in[c][pos + i];
    // Output the plug-in leaves unwritten shows as NaN.
    if (!plan.inPlace)
      for (auto& o : outBuf)
        std::fill(o.begin(), o.end(), std::numeric_limits<T>::quiet_NaN());
    std::vector<Event> events = plan.events ? plan.events(block, frames) : std::vector<Event>{};
    for (const auto& [at, e] : plan.timeline)
      if (at >= pos && at < pos + frames)
      {
        events.push_back(e);
        events.back().time = (uint32_t)(at - pos);
      }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });
    const clap_event_transport_t* transport = plan.transport ? plan.transport(block) : nullptr;
    inst.Out().Clear();
    clap_process_status st;
    if constexpr (sizeof(T) == sizeof(double))
      st = inst.Process64(inPtr.data(), outPtr.data(), frames, events, transport);
    else
      st = inst.Process32(inPtr.data(), outPtr.data(), frames, events, transport);
    if (st == CLAP_PROCESS_ERROR && r.fault.empty())
      r.fault = "process returned CLAP_PROCESS_ERROR at block " + std::to_string(block);
    if (!plan.inPlace)
      for (uint32_t c = 0; c < chIn && r.fault.empty(); ++c)
        for (uint32_t i = 0; i < frames; ++i)
          if (inBuf[c][i] != (T)in[c][pos + i])
          {
            r.fault = Describe("input buffer written in out-of-place processing", block, c, i, inBuf[c][i]);
            break;
          }
    for (uint32_t c = 0; c < chOut; ++c)
      for (uint32_t i = 0; i < frames; ++i)
      {
        const double v = (double)outPtr[c][i];
        r.out[c][pos + i] = v;
        if (r.fault.empty() && Bad(v, sizeof(T) == sizeof(double)))
          r.fault = Describe(std::isfinite(v) ? "subnormal output" : "non-finite output", block, c, i, v);
      }
    // What the plug-in sends back: in its block, in time order, about
    // parameters it has, with values that are numbers.
    uint32_t last = 0;
    for (const OutEvent& e : inst.Out().Events())
    {
      std::string bad;
      if (e.size < sizeof(clap_event_header_t))
        bad = "output event smaller than its header";
      else if (e.time >= frames || e.time < last)
        bad = "output event out of its block or out of order, at " + std::to_string(e.time);
      else if (e.space == CLAP_CORE_EVENT_SPACE_ID &&
               (e.type == CLAP_EVENT_PARAM_VALUE || e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                e.type == CLAP_EVENT_PARAM_GESTURE_END) &&
               !ids.count(e.id))
        bad = "output event for unknown parameter " + std::to_string(e.id);
      else if (e.type == CLAP_EVENT_PARAM_VALUE && !std::isfinite(e.value))
        bad = "output parameter value not finite";
      last = e.time;
      if (!bad.empty() && r.fault.empty())
        r.fault = bad + " (block " + std::to_string(block) + ")";
    }
    pos += frames;
  }
  return r;
}

Rendered Render(Instance& inst, const Signal& in, const RenderPlan& plan)
{
  return plan.is64 ? RenderT<double>(inst, in, plan) : RenderT<float>(inst, in, plan);
}

// Where two renders first differ, "" when they are equal bit for bit.
std::string FirstDifference(const Signal& a, const Signal& b)
{
  if (a.size() != b.size())
    return "channel counts differ";
  for (size_t c = 0; c < a.size(); ++c)
    for (size_t i = 0; i < a[c].size() && i < b[c].size(); ++i)
      if (std::memcmp(&a[c][i], &b[c][i], sizeof(double)) != 0)
        return "channel " + std::to_string(c) + ", frame " + std::to_string(i) + ": " + std::to_string(a[c][i]) +
               " vs " + std::to_string(b[c][i]);
  return "";
}

bool Writable(const clap_param_info_t& p) { return !(p.flags & CLAP_PARAM_IS_READONLY); }
bool Stepped(const clap_param_info_t& p) { return p.flags & (CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_BYPASS); }

// Values as a plug-in holds them: the strict subjects exactly as sent, the
// others to float precision (ZamComp keeps floats, and its ranges are
// floats widened).
double Tolerance(const Subject& s, const clap_param_info_t& p)
{
  return s.strict ? 0.0 : 1e-6 * std::max({1.0, std::fabs(p.min_value), std::fabs(p.max_value)});
}
bool InRange(const Subject& s, const clap_param_info_t& p, double v)
{
  return v >= p.min_value - Tolerance(s, p) && v <= p.max_value + Tolerance(s, p);
}

// An in-range value other than the default.
double OtherValue(const clap_param_info_t& p, double fraction = 0.73)
{
  if (Stepped(p))
    return p.default_value != p.max_value ? p.max_value : p.min_value;
  return p.min_value + fraction * (p.max_value - p.min_value);
}

// Every writable parameter away from its default, through a flush.
void FlushEveryWritableAway(Instance& inst)
{
  std::vector<Event> ev;
  for (const auto& p : inst.ParamInfos())
    if (Writable(p))
      ev.push_back(Event::Value(0, p.id, OtherValue(p), p.cookie));
  inst.Flush(ev);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v)
    b = (uint8_t)rng();
  return v;
}

// ---------------------------------------------------------------------------
// Fixture

class ClapCheck : public testing::TestWithParam<Subject>
{
protected:
  void SetUp() override
  {
    const Subject& s = GetParam();
    if (access(s.path.c_str(), R_OK) != 0)
    {
      if (s.required)
        FAIL() << s.path << " is missing"
               << (s.name == "ZamComp" ? ": install the Debian package zam-plugins (TAVLO_REQUIRE_HOSTS=1 requires it)"
                                       : "");
      GTEST_SKIP() << s.path << " is missing (Debian package zam-plugins); the control plug-in's checks did not run";
    }
    mModule = std::make_unique<Module>(s.path);
    ASSERT_TRUE(mModule->IsLoaded()) << s.path << ": " << mModule->Error();
  }

  void TearDown() override
  {
    // No call the plug-in made broke the host's threading rules, and the
    // plug-in found nothing wrong with the host.
    for (auto& inst : mInstances)
    {
      EXPECT_EQ(inst->GetHost().Calls().wrongThread.load(), 0) << "host calls on the wrong thread";
      for (const LogEntry& l : inst->GetHost().Logs())
        EXPECT_NE(l.severity, CLAP_LOG_HOST_MISBEHAVING) << l.message;
    }
    mInstances.clear();
    mModule.reset();
  }

  Instance& Make()
  {
    mInstances.push_back(std::make_unique<Instance>(*mModule));
    Instance& inst = *mInstances.back();
    EXPECT_TRUE(inst) << inst.Error();
    return inst;
  }

  // An instance activated for blocks up to maxFrames.
  Instance& MakeActive(double rate = 48000.0, uint32_t maxFrames = 4096)
  {
    Instance& inst = Make();
    EXPECT_TRUE(inst && inst.Activate(rate, 1, maxFrames)) << "activate at " << rate;
    return inst;
  }

  Signal Input(Instance& inst, size_t frames, double rate = 48000.0, uint32_t seed = 1)
  {
    return MakeSignal(inst.MainChannels(true), frames, rate, seed);
  }

  std::unique_ptr<Module> mModule;
  std::vector<std::unique_ptr<Instance>> mInstances;
};

using ClapValidation = ClapCheck;
using ClapStrictValidation = ClapCheck;

// ---------------------------------------------------------------------------
// Common checks

TEST_P(ClapValidation, DescriptorsAreConsistent)
{
  const clap_plugin_factory_t* f = mModule->Factory();
  ASSERT_GE(f->get_plugin_count(f), 1u);
  EXPECT_EQ(f->get_plugin_descriptor(f, f->get_plugin_count(f)), nullptr) << "a descriptor past the count";
  const std::set<std::string> categories = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_AUDIO_EFFECT,
                                            CLAP_PLUGIN_FEATURE_NOTE_EFFECT, CLAP_PLUGIN_FEATURE_ANALYZER};
  std::set<std::string> ids;
  for (const clap_plugin_descriptor_t* d : mModule->Descriptors())
  {
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(clap_version_is_compatible(d->clap_version));
    ASSERT_TRUE(d->id && *d->id) << "the id is mandatory";
    ASSERT_TRUE(d->name && *d->name) << "the name is mandatory";
    EXPECT_TRUE(ids.insert(d->id).second) << "duplicate id " << d->id;
    ASSERT_NE(d->features, nullptr);
    std::set<std::string> features;
    int n = 0;
    for (; d->features[n] && n < 256; ++n)
    {
      EXPECT_TRUE(*d->features[n]) << "empty feature";
      EXPECT_EQ(std::strchr(d->features[n], ' '), nullptr) << "feature with a space: " << d->features[n];
      EXPECT_TRUE(features.insert(d->features[n]).second) << "duplicate feature " << d->features[n];
    }
    ASSERT_LT(n, 256) << "features not null-terminated";
    int cats = 0;
    for (const auto& c : categories)
      cats += (int)features.count(c);
    EXPECT_GE(cats, 1) << d->id << " lists no main category (instrument, audio-effect, note-effect, analyzer)";

    // The instance carries the same descriptor, and its ports agree with
    // the channel features it claims.
    Instance inst(*mModule, d->id);
    ASSERT_TRUE(inst) << inst.Error();
    ASSERT_NE(inst.Plugin()->desc, nullptr);
    EXPECT_STREQ(inst.Plugin()->desc->id, d->id);
    EXPECT_STREQ(inst.Plugin()->desc->name, d->name);
    if (features.count(CLAP_PLUGIN_FEATURE_STEREO))
    {
      EXPECT_EQ(inst.MainChannels(false), 2u) << "listed as stereo";
    }
    if (features.count(CLAP_PLUGIN_FEATURE_MONO))
    {
      EXPECT_EQ(inst.MainChannels(false), 1u) << "listed as mono";
    }
  }
}

TEST_P(ClapValidation, AudioPortsAreConsistent)
{
  Instance& inst = Make();
  ASSERT_NE(inst.AudioPorts(), nullptr) << "an effect without audio ports";
  for (bool input : {true, false})
  {
    const auto ports = inst.Ports(input);
    ASSERT_EQ(ports.size(), inst.AudioPorts()->count(inst.Plugin(), input)) << "a port whose info is refused";
    clap_audio_port_info_t info;
    EXPECT_FALSE(inst.AudioPorts()->get(inst.Plugin(), (uint32_t)ports.size(), input, &info)) << "port past count";
    std::set<clap_id> ids;
    int mains = 0;
    for (size_t i = 0; i < ports.size(); ++i)
    {
      const auto& p = ports[i];
      EXPECT_TRUE(ids.insert(p.id).second) << "duplicate port id " << p.id;
      EXPECT_GT(p.channel_count, 0u);
      EXPECT_NE(strnlen(p.name, CLAP_NAME_SIZE), (size_t)CLAP_NAME_SIZE) << "port name not terminated";
      if (p.flags & CLAP_AUDIO_PORT_IS_MAIN)
      {
        ++mains;
        EXPECT_EQ(i, 0u) << "the main port must be at index 0";
      }
      if (p.port_type && !std::strcmp(p.port_type, CLAP_PORT_STEREO))
      {
        EXPECT_EQ(p.channel_count, 2u);
      }
      if (p.port_type && !std::strcmp(p.port_type, CLAP_PORT_MONO))
      {
        EXPECT_EQ(p.channel_count, 1u);
      }
      if (p.in_place_pair != CLAP_INVALID_ID)
      {
        bool found = false;
        for (const auto& q : inst.Ports(!input))
          found |= q.id == p.in_place_pair && q.channel_count == p.channel_count;
        EXPECT_TRUE(found) << "in-place pair " << p.in_place_pair << " names no port of the other side";
      }
    }
    EXPECT_LE(mains, 1) << "more than one main " << (input ? "input" : "output");
  }
}

TEST_P(ClapValidation, ProcessesIn32And64BitsInAndOutOfPlace)
{
  for (bool is64 : {false, true})
  {
    Signal ref;  // out of place, per bit depth
    for (bool inPlace : {false, true})
    {
      Instance& inst = MakeActive();
      ASSERT_TRUE(inst);
      if ((is64 && !inst.Supports64()) || (inPlace && !inst.SupportsInPlace()))
        continue;  // not offered; the strict checks require both of Tavlo
      SCOPED_TRACE(std::string(is64 ? "64" : "32") + " bit, " + (inPlace ? "in place" : "out of place"));
      RenderPlan plan;
      plan.is64 = is64;
      plan.inPlace = inPlace;
      plan.blocks = {256, 100, 512, 31};
      const Rendered r = Render(inst, Input(inst, 6000), plan);
      EXPECT_EQ(r.fault, "");
      if (!inPlace)
        ref = r.out;
      else
        EXPECT_EQ(FirstDifference(r.out, ref), "") << "in place and out of place differ";
    }
  }
}

TEST_P(ClapValidation, ProcessesAtEverySampleRate)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  const double rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400,
                          192000, 352800, 384000, 705600, 768000, 11025.5, 44099.99, 47999.75, 96000.125};
  for (double rate : rates)
  {
    SCOPED_TRACE("rate " + std::to_string(rate));
    ASSERT_TRUE(inst.Activate(rate, 1, 512)) << "activate refused";
    EXPECT_LT(inst.LatencyFrames(), (uint32_t)rate) << "a latency of a second or more";
    RenderPlan plan;
    plan.blocks = {512};
    EXPECT_EQ(Render(inst, Input(inst, 2048, rate), plan).fault, "");
    inst.Deactivate();
  }
}

TEST_P(ClapValidation, ProcessesEveryBlockSize)
{
  Instance& inst = MakeActive(48000.0, 16384);
  ASSERT_TRUE(inst);
  std::vector<uint32_t> sizes;
  for (uint32_t n = 1; n <= 17; ++n)
    sizes.push_back(n);
  for (uint32_t n = 32; n <= 16384; n *= 2)
    sizes.push_back(n);
  std::mt19937 rng(7);
  for (int i = 0; i < 24; ++i)
    sizes.push_back(1 + rng() % 16384);
  size_t total = 0;
  for (uint32_t n : sizes)
    total += n;
  RenderPlan plan;
  plan.blocks = sizes;
  EXPECT_EQ(Render(inst, Input(inst, total), plan).fault, "");
}

TEST_P(ClapValidation, ResetAndReactivationStartClean)
{
  Instance& fresh = MakeActive();
  Instance& used = MakeActive();
  ASSERT_TRUE(fresh && used);
  RenderPlan plan;
  const Signal first = Input(used, 4000, 48000.0, 11), second = Input(used, 3000, 48000.0, 12);
  const Rendered ref = Render(fresh, second, plan);
  ASSERT_EQ(ref.fault, "");

  ASSERT_EQ(Render(used, first, plan).fault, "");
  used.Reset();
  EXPECT_EQ(FirstDifference(Render(used, second, plan).out, ref.out), "") << "after reset";

  ASSERT_EQ(Render(used, first, plan).fault, "");
  used.StopProcessing();
  used.Deactivate();
  ASSERT_TRUE(used.Activate(44100.0, 1, 4096));
  ASSERT_EQ(Render(used, first, plan).fault, "");
  used.Deactivate();
  ASSERT_TRUE(used.Activate(48000.0, 1, 4096));
  EXPECT_EQ(FirstDifference(Render(used, second, plan).out, ref.out), "") << "after re-activation";
}

TEST_P(ClapValidation, ParameterInfoIsConsistent)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  ASSERT_NE(inst.Params(), nullptr);
  const uint32_t count = inst.Params()->count(inst.Plugin());
  const auto infos = inst.ParamInfos();
  ASSERT_EQ(infos.size(), count) << "get_info refused an index below the count";
  std::set<clap_id> ids;
  for (const auto& p : infos)
  {
    SCOPED_TRACE(std::string("parameter ") + p.name);
    EXPECT_NE(p.id, CLAP_INVALID_ID);
    EXPECT_TRUE(ids.insert(p.id).second) << "duplicate id " << p.id;
    EXPECT_GT(strnlen(p.name, CLAP_NAME_SIZE), 0u);
    EXPECT_LT(strnlen(p.name, CLAP_NAME_SIZE), (size_t)CLAP_NAME_SIZE);
    EXPECT_LT(strnlen(p.module, CLAP_PATH_SIZE), (size_t)CLAP_PATH_SIZE);
    EXPECT_TRUE(std::isfinite(p.min_value) && std::isfinite(p.max_value) && std::isfinite(p.default_value));
    EXPECT_LE(p.min_value, p.default_value);
    EXPECT_LE(p.default_value, p.max_value);
    if (Stepped(p))
    {
      EXPECT_EQ(p.min_value, std::trunc(p.min_value));
      EXPECT_EQ(p.max_value, std::trunc(p.max_value));
      EXPECT_EQ(p.default_value, std::trunc(p.default_value));
    }
    if (p.flags & CLAP_PARAM_IS_BYPASS)
    {
      EXPECT_EQ(p.min_value, 0.0);
      EXPECT_EQ(p.max_value, 1.0);
    }
    double v = NAN;
    EXPECT_TRUE(inst.GetValue(p.id, v));
    EXPECT_TRUE(InRange(GetParam(), p, v)) << v;
  }
}

TEST_P(ClapValidation, ValuesStartAtTheirDefaults)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  for (const auto& p : inst.ParamInfos())
  {
    double v = NAN;
    ASSERT_TRUE(inst.GetValue(p.id, v));
    EXPECT_EQ(v, p.default_value) << p.name;
  }
}

TEST_P(ClapValidation, ParameterEventsWithAndWithoutCookies)
{
  std::vector<Signal> outs;
  for (bool cookies : {true, false})
  {
    Instance& inst = MakeActive();
    ASSERT_TRUE(inst);
    const auto infos = inst.ParamInfos();
    RenderPlan plan;
    plan.events = [&](size_t block, uint32_t) {
      std::vector<Event> ev;
      if (block == 1)
        for (const auto& p : infos)
          if (Writable(p))
            ev.push_back(Event::Value(0, p.id, OtherValue(p), cookies ? p.cookie : nullptr));
      return ev;
    };
    const Rendered r = Render(inst, Input(inst, 2048), plan);
    EXPECT_EQ(r.fault, "");
    outs.push_back(r.out);
    for (const auto& p : infos)
      if (Writable(p))
      {
        double v = NAN;
        EXPECT_TRUE(inst.GetValue(p.id, v));
        EXPECT_NEAR(v, OtherValue(p), Tolerance(GetParam(), p)) << p.name << (cookies ? " with" : " without")
                                                                 << " a cookie";
      }
  }
  EXPECT_EQ(FirstDifference(outs[0], outs[1]), "") << "the same events with and without cookies sound different";
}

TEST_P(ClapValidation, OutOfRangeAndNonFiniteValuesAreSafe)
{
  Instance& inst = MakeActive();
  ASSERT_TRUE(inst);
  const auto infos = inst.ParamInfos();
  const double inf = std::numeric_limits<double>::infinity();
  RenderPlan plan;
  plan.blocks = {512};
  plan.events = [&](size_t block, uint32_t frames) {
    std::vector<Event> ev;
    if (block % 2)
      return ev;
    uint32_t t = 0;
    for (const auto& p : infos)
      if (Writable(p))
        for (double v : {p.min_value - 1000.0, p.max_value + 1000.0, (double)NAN, inf, -inf,
                         -std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                         p.max_value + 1e-9, p.min_value - 1e-9})
          ev.push_back(Event::Value(std::min(t++, frames - 1), p.id, v, p.cookie));
    return ev;
  };
  EXPECT_EQ(Render(inst, Input(inst, 4096), plan).fault, "");
  for (const auto& p : infos)
  {
    // ZamComp keeps a value a hair outside its range (min - 1e-9) as
    // sent; its sound stays safe. Tavlo clamps.
    double v = NAN;
    if (inst.GetValue(p.id, v))
    {
      EXPECT_TRUE(std::isfinite(v)) << p.name << " holds " << v;
      if (GetParam().strict)
      {
        EXPECT_TRUE(InRange(GetParam(), p, v)) << p.name << " holds " << v;
      }
    }
  }
  // A valid value still takes after all that.
  plan.events = [&](size_t block, uint32_t) {
    std::vector<Event> ev;
    if (block == 0)
      for (const auto& p : infos)
        if (Writable(p))
          ev.push_back(Event::Value(0, p.id, OtherValue(p, 0.31), p.cookie));
    return ev;
  };
  EXPECT_EQ(Render(inst, Input(inst, 1024), plan).fault, "");
  for (const auto& p : infos)
    if (Writable(p))
    {
      double v = NAN;
      EXPECT_TRUE(inst.GetValue(p.id, v));
      EXPECT_NEAR(v, OtherValue(p, 0.31), Tolerance(GetParam(), p)) << p.name;
    }
}

TEST_P(ClapValidation, EventsAtEveryOffsetOfABlock)
{
  for (uint32_t frames : {64u, 1u, 13u})
  {
    SCOPED_TRACE("blocks of " + std::to_string(frames));
    Instance& inst = MakeActive();
    ASSERT_TRUE(inst);
    const auto infos = inst.ParamInfos();
    // One value per offset, each parameter sweeping its range; gestures
    // around the sweep. The last value is the one that stays.
    auto valueAt = [](const clap_param_info_t& p, uint32_t t, uint32_t n) {
      const double x = n > 1 ? (double)t / (n - 1) : 1.0;
      return Stepped(p) ? std::round(p.min_value + x * (p.max_value - p.min_value))
                        : p.min_value + x * (p.max_value - p.min_value);
    };
    RenderPlan plan;
    plan.blocks = {frames};
    plan.events = [&](size_t block, uint32_t n) {
      std::vector<Event> ev;
      if (block != 2)
        return ev;
      for (const auto& p : infos)
        if (Writable(p))
          ev.push_back(Event::Gesture(0, p.id, true));
      for (uint32_t t = 0; t < n; ++t)
        for (const auto& p : infos)
          if (Writable(p))
            ev.push_back(Event::Value(t, p.id, valueAt(p, t, n), t % 2 ? p.cookie : nullptr));
      for (const auto& p : infos)
        if (Writable(p))
          ev.push_back(Event::Gesture(n - 1, p.id, false));
      return ev;
    };
    EXPECT_EQ(Render(inst, Input(inst, frames * 5), plan).fault, "");
    for (const auto& p : infos)
      if (Writable(p))
      {
        double v = NAN;
        EXPECT_TRUE(inst.GetValue(p.id, v));
        EXPECT_NEAR(v, valueAt(p, frames - 1, frames), Tolerance(GetParam(), p))
          << p.name << ": the event at the last offset";
      }
  }
}

TEST_P(ClapValidation, TextAndValueConvertBothWays)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  for (const auto& p : inst.ParamInfos())
  {
    SCOPED_TRACE(std::string("parameter ") + p.name);
    std::vector<double> values = {p.min_value, p.max_value, p.default_value};
    if (Stepped(p))
      for (double v = p.min_value; v <= p.max_value && values.size() < 70; v += 1.0)
        values.push_back(v);
    else
      for (double x : {0.1, 0.25, 0.5, 0.77, 0.999})
        values.push_back(p.min_value + x * (p.max_value - p.min_value));
    for (double v : values)
    {
      std::string text, again;
      double back = NAN;
      if (!inst.ValueToText(p.id, v, text))
      {
        ADD_FAILURE() << "no text for " << v;
        continue;
      }
      EXPECT_FALSE(text.empty()) << v;
      if (!inst.TextToValue(p.id, text, back))
      {
        ADD_FAILURE() << "\"" << text << "\" (the text for " << v << ") not read back";
        continue;
      }
      EXPECT_TRUE(InRange(GetParam(), p, back)) << "\"" << text << "\" read as " << back;
      if (Stepped(p))
      {
        EXPECT_EQ(back, v) << "\"" << text << "\"";
      }
      EXPECT_TRUE(inst.ValueToText(p.id, back, again));
      EXPECT_EQ(again, text) << "value " << v << " shown as \"" << text << "\", read back as " << back;
    }
    // A short buffer: the text stays inside it, terminated.
    char buf[32];
    std::memset(buf, 0x7f, sizeof(buf));
    if (inst.Params()->value_to_text(inst.Plugin(), p.id, p.max_value, buf, 4))
    {
      EXPECT_LT(strnlen(buf, 4), 4u) << "not terminated within the size given";
    }
    for (size_t i = 4; i < sizeof(buf); ++i)
      ASSERT_EQ(buf[i], 0x7f) << "written past the size given, at " << i;
    // Text that is no value: refused, or read as a number.
    double junk = 0.0;
    if (inst.TextToValue(p.id, "not a value", junk))
    {
      EXPECT_TRUE(std::isfinite(junk));
    }
  }
}

TEST_P(ClapValidation, FlushAppliesValuesOutsideProcessing)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  const auto infos = inst.ParamInfos();
  for (double fraction : {0.73, 0.21})
  {
    std::vector<Event> ev;
    for (const auto& p : infos)
      if (Writable(p))
        ev.push_back(Event::Value(0, p.id, OtherValue(p, fraction), fraction > 0.5 ? p.cookie : nullptr));
    inst.Flush(ev);  // inactive first, then active and not processing
    for (const auto& p : infos)
      if (Writable(p))
      {
        double v = NAN;
        EXPECT_TRUE(inst.GetValue(p.id, v));
        EXPECT_NEAR(v, OtherValue(p, fraction), Tolerance(GetParam(), p))
          << p.name << (inst.IsActive() ? ", active" : ", inactive");
      }
    if (!inst.IsActive())
    {
      ASSERT_TRUE(inst.Activate(48000.0, 1, 512));
    }
  }
}

// Latency is fixed while active: a parameter that changes it asks for a
// restart, and the new latency shows after re-activation; inactive, the
// plug-in tells the host through latency->changed. The host runs the
// main-thread callbacks the plug-in asks for between its calls, where a
// plug-in may make those requests. Tavlo has such a parameter
// (Oversample) and must show it; ZamComp has no latency.
TEST_P(ClapValidation, LatencyChangesOnlyThroughARestart)
{
  Instance& probe = Make();
  ASSERT_TRUE(probe);
  bool restarted = false;
  for (const auto& p : probe.ParamInfos())
  {
    if (!Writable(p))
      continue;
    SCOPED_TRACE(p.name);
    Instance& inst = MakeActive();
    ASSERT_TRUE(inst);
    const uint32_t before = inst.LatencyFrames();
    RenderPlan plan;
    plan.events = [&](size_t block, uint32_t) {
      return block == 0 ? std::vector<Event>{Event::Value(0, p.id, OtherValue(p), p.cookie)} : std::vector<Event>{};
    };
    ASSERT_EQ(Render(inst, Input(inst, 1024), plan).fault, "");
    inst.GetHost().RunCallbacks();
    EXPECT_EQ(inst.LatencyFrames(), before) << "the latency changed while active";
    if (inst.GetHost().Calls().restart.load() == 0)
      continue;
    inst.Deactivate();
    ASSERT_TRUE(inst.Activate(48000.0, 1, 4096));
    plan.events = nullptr;
    EXPECT_EQ(Render(inst, Input(inst, 1024), plan).fault, "") << "after the restart";
    restarted |= inst.LatencyFrames() != before;

    Instance& idle = Make();
    const uint32_t idleBefore = idle.LatencyFrames();
    idle.Flush({Event::Value(0, p.id, OtherValue(p), p.cookie)});
    idle.GetHost().RunCallbacks();
    if (idle.LatencyFrames() != idleBefore)
    {
      EXPECT_GT(idle.GetHost().Calls().latencyChanged.load(), 0) << "latency changed while inactive, host not told";
    }
  }
  if (GetParam().strict)
  {
    EXPECT_TRUE(restarted) << "no parameter changes the latency through a restart";
  }
}

// A host may offer none of the host extensions: the plug-in still works,
// takes its values and keeps its state.
TEST_P(ClapValidation, CopesWithAHostOfferingNoExtensions)
{
  const std::vector<std::string> all = {CLAP_EXT_THREAD_CHECK, CLAP_EXT_PARAMS, CLAP_EXT_LATENCY, CLAP_EXT_STATE,
                                        CLAP_EXT_TIMER_SUPPORT, CLAP_EXT_LOG};
  mInstances.push_back(std::make_unique<Instance>(*mModule, nullptr, all));
  Instance& inst = *mInstances.back();
  ASSERT_TRUE(inst) << inst.Error();
  FlushEveryWritableAway(inst);
  for (const auto& p : inst.ParamInfos())
    if (Writable(p))
    {
      double v = NAN;
      EXPECT_TRUE(inst.GetValue(p.id, v));
      EXPECT_NEAR(v, OtherValue(p), Tolerance(GetParam(), p)) << p.name << " flushed";
    }
  std::vector<uint8_t> saved;
  if (inst.State())
  {
    EXPECT_TRUE(inst.SaveState(saved));
    EXPECT_TRUE(inst.LoadState(saved));
  }
  ASSERT_TRUE(inst.Activate(48000.0, 1, 512));
  RenderPlan plan;
  plan.events = [&](size_t block, uint32_t) {
    std::vector<Event> back;
    if (block == 1)
      for (const auto& p : inst.ParamInfos())
        if (Writable(p))
          back.push_back(Event::Value(0, p.id, p.default_value, p.cookie));
    return back;
  };
  EXPECT_EQ(Render(inst, Input(inst, 2048), plan).fault, "");
  inst.GetHost().RunCallbacks();
  for (const auto& p : inst.ParamInfos())
    if (Writable(p))
    {
      double v = NAN;
      EXPECT_TRUE(inst.GetValue(p.id, v));
      EXPECT_NEAR(v, p.default_value, Tolerance(GetParam(), p)) << p.name;
    }
  // The values flushed before activation were taken too.
  Instance& check = Make();
  if (!saved.empty())
  {
    ASSERT_TRUE(check.LoadState(saved));
    for (const auto& p : check.ParamInfos())
      if (Writable(p))
      {
        double v = NAN;
        EXPECT_TRUE(check.GetValue(p.id, v));
        EXPECT_NEAR(v, OtherValue(p), Tolerance(GetParam(), p)) << p.name << " in the state saved";
      }
  }
}

TEST_P(ClapValidation, NullAndFuzzedTransport)
{
  Instance& inst = MakeActive();
  ASSERT_TRUE(inst);
  RenderPlan plan;
  plan.blocks = {64};
  EXPECT_EQ(Render(inst, Input(inst, 1024), plan).fault, "") << "with no transport";

  std::mt19937_64 rng(99);
  const double nasty[] = {0.0, -0.0, -1.0, 1e-300, 1e300, NAN, INFINITY, -INFINITY, 120.0};
  auto anyDouble = [&]() { return rng() % 3 ? (double)(rng() % 100000) / 100.0 - 100.0 : nasty[rng() % 9]; };
  auto anyInt = [&]() -> int64_t {
    switch (rng() % 4)
    {
      case 0: return std::numeric_limits<int64_t>::min();
      case 1: return std::numeric_limits<int64_t>::max();
      default: return (int64_t)rng();
    }
  };
  auto fuzz = [&]() {
    clap_event_transport_t t{};
    t.flags = (uint32_t)rng();
    t.song_pos_beats = anyInt();
    t.song_pos_seconds = anyInt();
    t.tempo = anyDouble();
    t.tempo_inc = anyDouble();
    t.loop_start_beats = anyInt();
    t.loop_end_beats = anyInt();
    t.loop_start_seconds = anyInt();
    t.loop_end_seconds = anyInt();
    t.bar_start = anyInt();
    t.bar_number = (int32_t)rng();
    t.tsig_num = rng() % 2 ? 0 : (uint16_t)rng();
    t.tsig_denom = rng() % 2 ? 0 : (uint16_t)rng();
    return t;
  };
  std::vector<clap_event_transport_t> blocks(200);
  for (auto& t : blocks)
    t = fuzz();
  plan.transport = [&](size_t block) { return block % 5 == 4 ? nullptr : &blocks[block]; };
  plan.events = [&](size_t block, uint32_t frames) {
    std::vector<Event> ev;
    if (block % 3 == 0)
      ev.push_back(Event::Transport((uint32_t)(rng() % frames), fuzz()));
    return ev;
  };
  EXPECT_EQ(Render(inst, Input(inst, 64 * 200), plan).fault, "") << "with fuzzed transports";
}

// ---------------------------------------------------------------------------
// Tavlo's own contracts

TEST_P(ClapStrictValidation, DeclaresWhatItPromises)
{
  const Subject& s = GetParam();
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  const clap_plugin_descriptor_t* d = inst.Plugin()->desc;
  EXPECT_STREQ(d->name, s.pluginName.c_str());
  EXPECT_STREQ(d->vendor, s.vendor.c_str());
  EXPECT_STREQ(d->version, s.version.c_str());
  const std::string id = d->id;
  EXPECT_EQ(std::count(id.begin(), id.end(), '.') >= 2 && id.find(' ') == std::string::npos, true)
    << "not in reverse-domain form: " << id;
  for (const std::string& f : s.features)
  {
    bool found = false;
    for (const char* const* p = d->features; *p; ++p)
      found |= f == *p;
    EXPECT_TRUE(found) << "feature " << f << " missing";
  }
  EXPECT_EQ(inst.MainChannels(true), s.channels);
  EXPECT_EQ(inst.MainChannels(false), s.channels);
  EXPECT_TRUE(inst.Supports64()) << "every port must take 64-bit buffers";
  EXPECT_TRUE(inst.SupportsInPlace()) << "the main ports must pair for in-place processing";
  EXPECT_NE(inst.State(), nullptr);
  EXPECT_NE(inst.Latency(), nullptr);
  int bypass = 0, readOnly = 0;
  for (const auto& p : inst.ParamInfos())
  {
    bypass += (p.flags & CLAP_PARAM_IS_BYPASS) && (p.flags & CLAP_PARAM_IS_STEPPED);
    readOnly += (p.flags & CLAP_PARAM_IS_READONLY) != 0;
  }
  EXPECT_EQ(bypass, 1) << "one stepped bypass parameter";
  EXPECT_GE(readOnly, 1) << "a read-only meter";
}

// What does not exist is refused. ZamComp (DPF 1.6's CLAP wrapper) fails
// all three: it creates a plug-in for any id, and answers get_info past
// the count and get_value for an unknown id with true, after asserting.
TEST_P(ClapStrictValidation, RefusesWhatDoesNotExist)
{
  const clap_plugin_factory_t* f = mModule->Factory();
  Host host;
  const std::string unknownPlugin = std::string(mModule->Descriptors().at(0)->id) + ".no-such-plugin";
  const clap_plugin_t* stray = f->create_plugin(f, host.Get(), unknownPlugin.c_str());
  EXPECT_EQ(stray, nullptr) << "an instance for an unknown id";
  if (stray)
    stray->destroy(stray);

  Instance& inst = Make();
  ASSERT_TRUE(inst);
  ASSERT_NE(inst.Params(), nullptr);
  const uint32_t count = inst.Params()->count(inst.Plugin());
  clap_param_info_t past;
  EXPECT_FALSE(inst.Params()->get_info(inst.Plugin(), count, &past)) << "info past the count";
  std::set<clap_id> ids;
  for (const auto& p : inst.ParamInfos())
    ids.insert(p.id);
  clap_id unknown = 0x7fff1234;
  while (ids.count(unknown))
    ++unknown;
  double v;
  EXPECT_FALSE(inst.GetValue(unknown, v)) << "a value for an id that does not exist";
  std::string text;
  EXPECT_FALSE(inst.ValueToText(unknown, 0.0, text)) << "text for an id that does not exist";
  EXPECT_FALSE(inst.TextToValue(unknown, "0", v)) << "a value from text for an id that does not exist";
  EXPECT_EQ(inst.Extension("com.quillmarshworks.no-such-extension"), nullptr);
}

TEST_P(ClapStrictValidation, EventsTakeEffectAtTheirSample)
{
  // An event at offset t sounds exactly as the same event at the start of
  // a block that begins at t; and some event is heard at all.
  Instance& probe = Make();
  ASSERT_TRUE(probe);
  const auto infos = probe.ParamInfos();
  int heard = 0;
  for (bool is64 : {false, true})
  {
    Instance& plain = MakeActive();
    ASSERT_TRUE(plain);
    const Signal in = Input(plain, 256 * 3);
    RenderPlan none;
    none.is64 = is64;
    const Rendered untouched = Render(plain, in, none);
    for (const auto& p : infos)
    {
      if (!Writable(p))
        continue;
      for (uint32_t t : {1u, 97u, 255u})
      {
        SCOPED_TRACE(std::string(p.name) + " at offset " + std::to_string(t) + (is64 ? ", 64 bit" : ", 32 bit"));
        Instance& whole = MakeActive();
        Instance& split = MakeActive();
        ASSERT_TRUE(whole && split);
        RenderPlan a;
        a.is64 = is64;
        a.events = [&](size_t block, uint32_t) {
          return block == 1 ? std::vector<Event>{Event::Value(t, p.id, OtherValue(p), p.cookie)}
                            : std::vector<Event>{};
        };
        RenderPlan b;
        b.is64 = is64;
        b.blocks = {256, t, 256 - t, 256};
        b.events = [&](size_t block, uint32_t) {
          return block == 2 ? std::vector<Event>{Event::Value(0, p.id, OtherValue(p), p.cookie)}
                            : std::vector<Event>{};
        };
        const Rendered ra = Render(whole, in, a), rb = Render(split, in, b);
        EXPECT_EQ(ra.fault, "");
        EXPECT_EQ(rb.fault, "");
        EXPECT_EQ(FirstDifference(ra.out, rb.out), "");
        heard += FirstDifference(ra.out, untouched.out) != "";
      }
    }
  }
  EXPECT_GT(heard, 0) << "no event changed the sound";
}

// How the host cuts the stream into blocks changes no sample: events split
// blocks where they fall, and nothing is done once per block.
TEST_P(ClapStrictValidation, OutputDoesNotDependOnBlockSizes)
{
  Instance& probe = Make();
  ASSERT_TRUE(probe);
  std::vector<std::pair<size_t, Event>> timeline;
  for (const auto& p : probe.ParamInfos())
    if (Writable(p) && !(p.flags & CLAP_PARAM_IS_BYPASS))
    {
      timeline.push_back({0, Event::Value(0, p.id, OtherValue(p), p.cookie)});
      if (!Stepped(p))
        timeline.push_back({21011, Event::Value(0, p.id, OtherValue(p, 0.2), p.cookie)});
    }
  std::stable_sort(timeline.begin(), timeline.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::mt19937 rng(3);
  std::vector<uint32_t> cuts = {1, 1, 2, 3};
  for (int i = 0; i < 60; ++i)
    cuts.push_back(1 + rng() % (rng() % 2 ? 64 : 4096));
  for (bool is64 : {false, true})
  {
    SCOPED_TRACE(is64 ? "64 bit" : "32 bit");
    Instance& whole = MakeActive(48000.0, 16384);
    Instance& cut = MakeActive(48000.0, 16384);
    ASSERT_TRUE(whole && cut);
    const Signal in = Input(whole, 40000, 48000.0, 8);
    RenderPlan a, b;
    a.is64 = b.is64 = is64;
    a.blocks = {16384};
    b.blocks = cuts;
    a.timeline = b.timeline = timeline;
    const Rendered ra = Render(whole, in, a), rb = Render(cut, in, b);
    EXPECT_EQ(ra.fault, "");
    EXPECT_EQ(rb.fault, "");
    EXPECT_EQ(FirstDifference(ra.out, rb.out), "");
  }
}

TEST_P(ClapStrictValidation, StateRefusesEmptyAndForeignData)
{
  Instance& inst = Make();
  ASSERT_TRUE(inst);
  ASSERT_NE(inst.State(), nullptr);
  FlushEveryWritableAway(inst);
  std::vector<uint8_t> before, after;
  ASSERT_TRUE(inst.SaveState(before));
  ASSERT_FALSE(before.empty());

  std::vector<uint8_t> truncated(before.begin(), before.begin() + before.size() / 2);
  std::vector<uint8_t> prefixed = before;  // a valid start, then junk
  const auto junk = RandomBytes(4096, 5);
  prefixed.insert(prefixed.end(), junk.begin(), junk.end());
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> foreign = {
    {"empty", {}}, {"1 MB of random bytes", RandomBytes(1 << 20, 3)}, {"half a state", truncated},
    {"a state with junk after it", prefixed}};
  for (const auto& f : foreign)
  {
    EXPECT_FALSE(inst.LoadState(f.second)) << f.first << " accepted";
    ASSERT_TRUE(inst.SaveState(after));
    EXPECT_EQ(after, before) << "the instance changed on refusing " << f.first;
  }
}

TEST_P(ClapStrictValidation, StateSavesLoadsAndSavesTheSameBytes)
{
  Instance& first = Make();
  ASSERT_TRUE(first);
  ASSERT_NE(first.State(), nullptr);
  FlushEveryWritableAway(first);
  std::vector<uint8_t> a, again, b;
  ASSERT_TRUE(first.SaveState(a));
  ASSERT_TRUE(first.SaveState(again));
  EXPECT_EQ(again, a) << "two saves differ";

  Instance& second = Make();
  ASSERT_TRUE(second.LoadState(a));
  ASSERT_TRUE(second.SaveState(b));
  EXPECT_EQ(b, a) << "save, load, save changed the bytes";
  for (const auto& p : first.ParamInfos())
  {
    double v1 = NAN, v2 = NAN;
    EXPECT_TRUE(first.GetValue(p.id, v1) && second.GetValue(p.id, v2));
    if (Writable(p))
    {
      EXPECT_EQ(v2, v1) << p.name;
    }
  }
  // Loading a state also works on an active instance, and the values
  // reach the sound as on a fresh one given the same state (after the
  // restart the plug-in asks for, should the state change its latency).
  Instance& active = MakeActive();
  Instance& loadedFirst = Make();
  ASSERT_TRUE(loadedFirst.LoadState(a));
  ASSERT_TRUE(loadedFirst.Activate(48000.0, 1, 4096));
  RenderPlan plan;
  ASSERT_EQ(Render(active, Input(active, 512), plan).fault, "");
  ASSERT_TRUE(active.LoadState(a));
  active.GetHost().RunCallbacks();
  if (active.GetHost().Calls().restart.load() > 0)
  {
    active.Deactivate();
    ASSERT_TRUE(active.Activate(48000.0, 1, 4096));
  }
  active.Reset();
  const Signal in = Input(active, 4096, 48000.0, 4);
  EXPECT_EQ(FirstDifference(Render(active, in, plan).out, Render(loadedFirst, in, plan).out), "");
}

TEST_P(ClapStrictValidation, StateMovesThroughStreamsInPieces)
{
  Instance& first = Make();
  ASSERT_TRUE(first);
  ASSERT_NE(first.State(), nullptr);
  std::vector<Event> ev;
  for (const auto& p : first.ParamInfos())
    if (Writable(p))
      ev.push_back(Event::Value(0, p.id, OtherValue(p, 0.4), p.cookie));
  first.Flush(ev);
  std::vector<uint8_t> whole, got;
  ASSERT_TRUE(first.SaveState(whole));
  for (uint64_t piece : {1u, 2u, 3u, 5u, 7u, 11u, 13u, 31u, 127u, 251u, 509u, 4093u})
  {
    SCOPED_TRACE(std::to_string(piece) + " bytes a call");
    ASSERT_TRUE(first.SaveState(got, piece)) << "saving";
    EXPECT_EQ(got, whole);
    Instance& second = Make();
    EXPECT_TRUE(second.LoadState(whole, piece)) << "loading";
    ASSERT_TRUE(second.SaveState(got));
    EXPECT_EQ(got, whole);
  }
}

INSTANTIATE_TEST_SUITE_P(Plugins, ClapValidation, testing::ValuesIn(Subjects()), SubjectName);
INSTANTIATE_TEST_SUITE_P(Plugins, ClapStrictValidation, testing::ValuesIn(StrictSubjects()), SubjectName);

}  // namespace
