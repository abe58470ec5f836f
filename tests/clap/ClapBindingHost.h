#pragma once

// A minimal CLAP host for the binding's tests: the module loaded with
// dlopen, its factory, and an instance made and driven as a host does,
// with a log of what the plug-in asked of its host.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

namespace clapbinding {

// Indices of ETavloParams (the ids in both formats).
enum { kIn = 0, kOut = 1, kAtk = 2, kRel = 3, kMix = 4, kHpf = 5, kOs = 6, kByp = 7, kSc = 8, kDet = 9, kLis = 10, kNumParams = 11 };
// The meters' ids: apart from the parameters', so that parameters added
// later keep clear of them.
enum { kMeter = 1000, kMeterDb = 1001 };

struct ClapModule
{
  void* so = nullptr;
  const clap_plugin_entry_t* entry = nullptr;
  const clap_plugin_factory_t* factory = nullptr;
  std::string error;

  ClapModule()
  {
    so = dlopen(TAVLO_CLAP_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!so)
    {
      error = dlerror();
      return;
    }
    entry = static_cast<const clap_plugin_entry_t*>(dlsym(so, "clap_entry"));
    if (!entry || !entry->init(TAVLO_CLAP_PATH))
    {
      error = "no clap_entry, or its init failed";
      entry = nullptr;
      return;
    }
    factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  }
};

inline ClapModule& Module()
{
  static ClapModule m;
  return m;
}

// What the plug-in asked of its host.
struct HostLog
{
  int callbacks = 0, restarts = 0, flushes = 0, latencyChanged = 0;
  uint32_t rescans = 0;
  // The timers the plug-in holds, by id (their periods), and what it asked
  // the GUI's window to be.
  std::vector<std::pair<clap_id, uint32_t>> timers;
  uint32_t resizeW = 0, resizeH = 0;
};

struct TestHost
{
  clap_host_t host;
  HostLog log;

  // Without timer-support a host gets no editor.
  explicit TestHost(bool offerTimer = true) : offerTimer(offerTimer)
  {
    host.clap_version = CLAP_VERSION_INIT;
    host.host_data = this;
    host.name = "Tavlo CLAP binding test";
    host.vendor = "Quillmarshworks";
    host.url = "";
    host.version = "1";
    host.get_extension = GetExtension;
    host.request_restart = [](const clap_host_t* h) { Of(h).log.restarts++; };
    host.request_process = [](const clap_host_t*) {};
    host.request_callback = [](const clap_host_t* h) { Of(h).log.callbacks++; };
  }
  static TestHost& Of(const clap_host_t* h) { return *static_cast<TestHost*>(h->host_data); }
  bool offerTimer;

  static const void* GetExtension(const clap_host_t* h, const char* id)
  {
    // The test's one thread is both: debug builds check every call.
    static const clap_host_thread_check_t threads = {[](const clap_host_t*) { return true; },
                                                     [](const clap_host_t*) { return true; }};
    static const clap_host_params_t params = {
      [](const clap_host_t* h, clap_param_rescan_flags f) { Of(h).log.rescans |= f; },
      [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
      [](const clap_host_t* h) { Of(h).log.flushes++; }};
    static const clap_host_latency_t latency = {[](const clap_host_t* h) { Of(h).log.latencyChanged++; }};
    static const clap_host_timer_support_t timer = {
      [](const clap_host_t* h, uint32_t ms, clap_id* id)
      {
        auto& timers = Of(h).log.timers;
        *id = timers.empty() ? 1 : timers.back().first + 1;
        timers.push_back({*id, ms});
        return true;
      },
      [](const clap_host_t* h, clap_id id)
      {
        auto& timers = Of(h).log.timers;
        const size_t n = timers.size();
        timers.erase(std::remove_if(timers.begin(), timers.end(), [&](auto& t) { return t.first == id; }), timers.end());
        return timers.size() < n;
      }};
    static const clap_host_gui_t gui = {[](const clap_host_t*) {},
                                        [](const clap_host_t* h, uint32_t w, uint32_t hh)
                                        {
                                          Of(h).log.resizeW = w, Of(h).log.resizeH = hh;
                                          return true;
                                        },
                                        [](const clap_host_t*) { return false; },
                                        [](const clap_host_t*) { return false; },
                                        [](const clap_host_t*, bool) {}};
    if (!strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return Of(h).offerTimer ? &timer : nullptr;
    if (!strcmp(id, CLAP_EXT_GUI)) return &gui;
    if (!strcmp(id, CLAP_EXT_THREAD_CHECK)) return &threads;
    if (!strcmp(id, CLAP_EXT_PARAMS)) return &params;
    if (!strcmp(id, CLAP_EXT_LATENCY)) return &latency;
    return nullptr;
  }
};

// Parameter events of one block, in time order, as the host hands them over.
struct Events
{
  std::vector<clap_event_param_value_t> values;
  clap_input_events_t list;

  Events()
  {
    list.ctx = this;
    list.size = [](const clap_input_events_t* l) { return (uint32_t) static_cast<Events*>(l->ctx)->values.size(); };
    list.get = [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t*
    { return &static_cast<Events*>(l->ctx)->values[i].header; };
  }
  void Add(clap_id id, double value, uint32_t time = 0)
  {
    clap_event_param_value_t e = {};
    e.header = {sizeof(e), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = value;
    values.push_back(e);
  }
};

struct OutEvents
{
  std::vector<std::vector<uint8_t>> events;
  clap_output_events_t list;
  OutEvents()
  {
    list.ctx = this;
    list.try_push = [](const clap_output_events_t* l, const clap_event_header_t* e)
    {
      auto* self = static_cast<OutEvents*>(l->ctx);
      const auto* p = reinterpret_cast<const uint8_t*>(e);
      self->events.emplace_back(p, p + e->size);
      return true;
    };
  }
};

struct ClapPlug
{
  TestHost host;
  const clap_plugin_t* p = nullptr;
  const clap_plugin_params_t* params = nullptr;
  const clap_plugin_state_t* state = nullptr;
  const clap_plugin_latency_t* latency = nullptr;
  const clap_plugin_audio_ports_t* ports = nullptr;
  bool active = false, processing = false;

  explicit ClapPlug(bool offerTimer = true) : host(offerTimer)
  {
    if (!Module().factory) return;
    p = Module().factory->create_plugin(Module().factory, &host.host, "com.quillmarshworks.tavlo");
    if (!p || !p->init(p)) return;
    params = static_cast<const clap_plugin_params_t*>(p->get_extension(p, CLAP_EXT_PARAMS));
    state = static_cast<const clap_plugin_state_t*>(p->get_extension(p, CLAP_EXT_STATE));
    latency = static_cast<const clap_plugin_latency_t*>(p->get_extension(p, CLAP_EXT_LATENCY));
    ports = static_cast<const clap_plugin_audio_ports_t*>(p->get_extension(p, CLAP_EXT_AUDIO_PORTS));
  }
  ~ClapPlug()
  {
    if (!p) return;
    if (processing) p->stop_processing(p);
    if (active) p->deactivate(p);
    p->destroy(p);
  }
  void Start(double rate = 48000.0, uint32_t maxBlock = 8192)
  {
    ASSERT_TRUE(p->activate(p, rate, 1, maxBlock));
    active = true;
    ASSERT_TRUE(p->start_processing(p));
    processing = true;
  }
  double Value(clap_id id)
  {
    double v = NAN;
    EXPECT_TRUE(params->get_value(p, id, &v)) << id;
    return v;
  }
  void Flush(Events& in)
  {
    OutEvents out;
    params->flush(p, &in.list, &out.list);
  }
  std::vector<uint8_t> Save()
  {
    std::vector<uint8_t> bytes;
    clap_ostream_t s = {&bytes, [](const clap_ostream_t* s, const void* b, uint64_t n) -> int64_t
                        {
                          auto* v = static_cast<std::vector<uint8_t>*>(s->ctx);
                          v->insert(v->end(), (const uint8_t*)b, (const uint8_t*)b + n);
                          return (int64_t)n;
                        }};
    EXPECT_TRUE(state->save(p, &s));
    return bytes;
  }
  // Reads in pieces of at most `piece` bytes, as some hosts' streams do.
  bool Load(const std::vector<uint8_t>& bytes, size_t piece = 1u << 30)
  {
    struct Reader
    {
      const std::vector<uint8_t>& b;
      size_t pos, piece;
    } r = {bytes, 0, piece};
    clap_istream_t s = {&r, [](const clap_istream_t* s, void* buf, uint64_t n) -> int64_t
                        {
                          auto* r = static_cast<Reader*>(s->ctx);
                          const size_t k = std::min<size_t>({(size_t)n, r->piece, r->b.size() - r->pos});
                          if (k) memcpy(buf, r->b.data() + r->pos, k);  // an empty state has no data()
                          r->pos += k;
                          return (int64_t)k;
                        }};
    return state->load(p, &s);
  }
};

}  // namespace clapbinding
