// A small stereo CLAP effect that keeps every contract the validation suite
// checks, and breaks one of them on request: the environment variable
// CLAP_FAULT_PLUG_FAULT names the fault, read at entry init. It shows that
// each check of the suite fails on the fault it is meant to catch.
//
// The sound: a 10 Hz one-pole high-pass (state that reset must clear), a
// gain in dB smoothed per sample, a mode (normal, inverted, channels
// swapped), the side-chain added after them (silent unless the host feeds
// it), a bypass; the peak level of each block on a read-only meter.
// Events take effect at their sample offset. A lookahead switch delays the
// sound by 64 frames and reports that as latency: changed while active, it
// asks the host for a restart and takes effect on re-activation, as
// Tavlo's oversampling does. It asks the host's thread-check where each call
// comes from and logs what it finds wrong with the host.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/plugin-factory.h"

namespace {

std::string gFault;
bool Fault(const char* name) { return gFault == name; }

enum ParamId : clap_id { kGain = 10, kMode = 20, kBypass = 30, kLevel = 40, kLookahead = 50 };
struct ParamDef
{
  clap_id id;
  const char* name;
  double min, max, def;
  uint32_t flags;
};
const ParamDef kParams[] = {
  {kGain, "Gain", -24.0, 24.0, 0.0, CLAP_PARAM_IS_AUTOMATABLE},
  {kMode, "Mode", 0.0, 2.0, 0.0, CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED},
  {kBypass, "Bypass", 0.0, 1.0, 0.0, CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_BYPASS},
  {kLevel, "Level", 0.0, 1.0, 0.0, CLAP_PARAM_IS_READONLY},
  {kLookahead, "Lookahead", 0.0, 1.0, 0.0, CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED},
};
constexpr int kNumParams = 5;
constexpr int kLevelIndex = 3, kLookaheadIndex = 4;
constexpr int kStateValues[] = {0, 1, 2, 4};  // the writable ones
constexpr uint32_t kLookaheadFrames = 64;
const char* const kModeNames[] = {"Normal", "Invert", "Swap"};

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_UTILITY, CLAP_PLUGIN_FEATURE_STEREO,
                           nullptr};
const char* kBadFeatures[] = {CLAP_PLUGIN_FEATURE_UTILITY, CLAP_PLUGIN_FEATURE_MONO, nullptr};

clap_plugin_descriptor_t gDesc = {
  CLAP_VERSION_INIT, "com.quillmarshworks.tests.fault-plug", "Fault Plug", "Quillmarshworks", "", "", "", "1.0.0",
  "A test plug-in with faults to plant", kFeatures};

struct Plug
{
  clap_plugin_t plugin;
  const clap_host_t* host;
  double values[kNumParams];  // in kParams order
  double rate = 48000.0;
  double hpX[2] = {0, 0}, hpY[2] = {0, 0}, hpR = 0.0;
  double gain = 1.0, smooth = 0.0;
  uint32_t saves = 0;
  bool active = false;
  uint32_t latency = 0;  // while active
  double delay[2][kLookaheadFrames] = {};
  uint32_t delayPos = 0;
};

// The host's extensions, null where it has none.
template <typename T>
const T* HostExt(const Plug* p, const char* id)
{
  return (const T*)p->host->get_extension(p->host, id);
}

// Logs through the host's log extension; its layout is fixed by the CLAP
// ABI, which the installed headers lack.
void Log(const Plug* p, int32_t severity, const char* msg)
{
  struct HostLog { void (*log)(const clap_host_t*, int32_t, const char*); };
  if (auto* l = HostExt<HostLog>(p, "clap.log"))
    l->log(p->host, severity, msg);
}
constexpr int32_t kLogHostMisbehaving = 5;

void ExpectThread(const Plug* p, bool audio, const char* call)
{
  auto* tc = HostExt<clap_host_thread_check_t>(p, CLAP_EXT_THREAD_CHECK);
  if (!tc)
    return;
  const bool ok = audio ? tc->is_audio_thread(p->host) && !tc->is_main_thread(p->host)
                        : tc->is_main_thread(p->host) && !tc->is_audio_thread(p->host);
  if (!ok)
    Log(p, kLogHostMisbehaving, (std::string(call) + " called on the wrong thread").c_str());
}

uint32_t LatencyOf(const Plug* p) { return p->values[kLookaheadIndex] >= 0.5 ? kLookaheadFrames : 0; }

Plug* From(const clap_plugin_t* p) { return (Plug*)p->plugin_data; }

int Index(clap_id id)
{
  for (int i = 0; i < kNumParams; ++i)
    if (kParams[i].id == id)
      return i;
  return -1;
}

double Clamp(int i, double v)
{
  if (!std::isfinite(v))
    return kParams[i].def;
  v = std::fmin(std::fmax(v, kParams[i].min), kParams[i].max);
  if (kParams[i].flags & CLAP_PARAM_IS_STEPPED)
    v = std::trunc(v);
  return v;
}

void SetValue(Plug* p, const clap_event_param_value_t* e)
{
  if (!e->cookie && Fault("cookie-required"))
    return;
  int i = e->cookie ? (int)((const ParamDef*)e->cookie - kParams) : Index(e->param_id);
  if (i < 0 || (kParams[i].flags & CLAP_PARAM_IS_READONLY))
    return;
  if (i == kLookaheadIndex && !HostExt<clap_host_latency_t>(p, CLAP_EXT_LATENCY) && Fault("needs-host-latency"))
    return;
  p->values[i] = Fault("no-clamp") ? e->value : Clamp(i, e->value);
  if (i == kLookaheadIndex)
  {
    if (!p->active)
    {
      if (auto* l = HostExt<clap_host_latency_t>(p, CLAP_EXT_LATENCY))
        l->changed(p->host);
    }
    else if (LatencyOf(p) != p->latency)
    {
      if (Fault("latency-no-restart"))
        p->latency = LatencyOf(p);
      else
        p->host->request_restart(p->host);
    }
  }
}

void ApplyEvent(Plug* p, const clap_event_header_t* h)
{
  if (h->space_id == CLAP_CORE_EVENT_SPACE_ID && h->type == CLAP_EVENT_PARAM_VALUE)
    SetValue(p, (const clap_event_param_value_t*)h);
}

void ClearState(Plug* p)
{
  p->hpX[0] = p->hpX[1] = p->hpY[0] = p->hpY[1] = 0.0;
  std::memset(p->delay, 0, sizeof(p->delay));
  p->delayPos = 0;
  p->gain = std::pow(10.0, p->values[0] / 20.0);
}

bool Init(const clap_plugin_t* plugin)
{
  Plug* p = From(plugin);
  for (int i = 0; i < kNumParams; ++i)
    p->values[i] = kParams[i].def;
  if (Fault("default-mismatch"))
    p->values[0] = -6.0;
  ClearState(p);
  return true;
}

void Destroy(const clap_plugin_t* plugin) { delete From(plugin); }

bool Activate(const clap_plugin_t* plugin, double rate, uint32_t, uint32_t)
{
  Plug* p = From(plugin);
  if (Fault("rate-fraction") && rate != std::floor(rate))
    return false;
  ExpectThread(p, false, "activate");
  p->rate = rate;
  p->active = true;
  p->latency = LatencyOf(p);
  p->hpR = std::exp(-2.0 * M_PI * 10.0 / rate);
  p->smooth = 1.0 - std::exp(-1.0 / (0.005 * rate));
  if (!Fault("reactivate-stale"))
    ClearState(p);
  return true;
}

void Deactivate(const clap_plugin_t* plugin) { From(plugin)->active = false; }
bool StartProcessing(const clap_plugin_t*) { return true; }
void StopProcessing(const clap_plugin_t*) {}

void Reset(const clap_plugin_t* plugin)
{
  ExpectThread(From(plugin), true, "reset");
  if (!Fault("reset-noop"))
    ClearState(From(plugin));
}

template <typename T>
void Run(Plug* p, T* const* in, T* const* out, const T* const* sc, uint32_t from, uint32_t to, double scale,
         double& peak)
{
  const double target = std::pow(10.0, p->values[0] / 20.0);
  const int mode = (int)p->values[1];
  const bool bypass = p->values[2] >= 0.5;
  const bool inPlace = in[0] == out[0];
  for (uint32_t i = from; i < to; ++i)
  {
    double x[2] = {(double)in[0][i], (double)in[1][i]};
    double y[2];
    if (i == from || !Fault("per-block-smoothing"))
      p->gain += (target - p->gain) * p->smooth;
    for (int c = 0; c < 2; ++c)
    {
      p->hpY[c] = x[c] - p->hpX[c] + p->hpR * p->hpY[c];
      p->hpX[c] = x[c];
      y[c] = p->hpY[c] * p->gain * scale;
    }
    if (mode == 1)
      y[0] = -y[0], y[1] = -y[1];
    else if (mode == 2)
      std::swap(y[0], y[1]);
    if (sc)
      y[0] += (double)sc[0][i], y[1] += (double)sc[1][i];
    if (bypass)
      y[0] = x[0], y[1] = x[1];
    if (inPlace && Fault("inplace-corrupt"))
      y[1] = y[0];
    if (p->latency)
    {
      for (int c = 0; c < 2; ++c)
        std::swap(y[c], p->delay[c][p->delayPos]);
      p->delayPos = (p->delayPos + 1) % p->latency;
    }
    for (int c = 0; c < 2; ++c)
    {
      out[c][i] = (T)y[c];
      peak = std::fmax(peak, std::fabs(y[c]));
    }
    if (!inPlace && Fault("writes-input"))
      in[0][i] = 0;
  }
}

clap_process_status Process(const clap_plugin_t* plugin, const clap_process_t* proc)
{
  Plug* p = From(plugin);
  ExpectThread(p, true, "process");
  if (proc->audio_inputs_count < 1 || proc->audio_outputs_count != 1)
    return CLAP_PROCESS_ERROR;
  const clap_audio_buffer_t& ain = proc->audio_inputs[0];
  const clap_audio_buffer_t& aout = proc->audio_outputs[0];
  const clap_audio_buffer_t* side = proc->audio_inputs_count > 1 ? &proc->audio_inputs[1] : nullptr;
  const bool is64 = aout.data64 != nullptr && aout.data32 == nullptr;
  uint32_t frames = proc->frames_count;
  if (Fault("short-write") && frames > 4096)
    frames = 4096;

  // A transport-driven factor of 1 that turns to NaN where the planted
  // faults read a transport carelessly.
  double scale = 1.0;
  if (Fault("null-transport") && !proc->transport)
    scale = (60.0 / 0.0) * 0.0;
  if (Fault("fuzzed-transport") && proc->transport && (proc->transport->flags & CLAP_TRANSPORT_HAS_TEMPO))
  {
    const double beat = 60.0 / proc->transport->tempo;
    scale = beat / beat;
  }

  double peak = 0.0;
  const uint32_t n = proc->in_events ? proc->in_events->size(proc->in_events) : 0;
  uint32_t pos = 0;
  for (uint32_t e = 0; e <= n; ++e)
  {
    const clap_event_header_t* h = e < n ? proc->in_events->get(proc->in_events, e) : nullptr;
    if (h && Fault("last-offset-dropped") && h->time + 1 == proc->frames_count && h->time > 0)
      continue;
    uint32_t until = h ? std::min(h->time, frames) : frames;
    if (Fault("block-start-events"))
      until = h ? 0 : frames;
    if (until > pos)
    {
      if (is64)
        Run<double>(p, ain.data64, aout.data64, side ? side->data64 : nullptr, pos, until, scale, peak);
      else
        Run<float>(p, ain.data32, aout.data32, side ? side->data32 : nullptr, pos, until, scale, peak);
      pos = until;
    }
    if (h && !Fault("events-ignored"))
      ApplyEvent(p, h);
  }
  if (is64 && Fault("nan-64") && frames > 0)
    aout.data64[1][frames - 1] = NAN;
  if (Fault("subnormal") && frames > 0)
  {
    if (is64)
      aout.data64[0][0] = 1e-310;
    else
      aout.data32[0][0] = 1e-40f;
  }
  if (Fault("bad-out-event"))
  {
    clap_event_param_value_t e{};
    e.header = {sizeof(e), proc->frames_count, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = 999;
    proc->out_events->try_push(proc->out_events, &e.header);
  }
  p->values[kLevelIndex] = std::fmin(peak, 1.0);
  if (Fault("wrong-thread"))
  {
    auto* hp = (const clap_host_params_t*)p->host->get_extension(p->host, CLAP_EXT_PARAMS);
    if (hp)
      hp->rescan(p->host, CLAP_PARAM_RESCAN_VALUES);
  }
  return CLAP_PROCESS_CONTINUE;
}

// ---------------------------------------------------------------------------
// Extensions

uint32_t PortCount(const clap_plugin_t*, bool isInput) { return isInput ? 2 : 1; }

bool PortGet(const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info)
{
  if (index >= (isInput ? 2u : 1u))
    return false;
  std::memset(info, 0, sizeof(*info));
  info->id = index;
  std::snprintf(info->name, sizeof(info->name), "%s", index == 0 ? (isInput ? "Input" : "Output") : "Side-chain");
  info->flags = (index == 0 || Fault("two-mains") ? CLAP_AUDIO_PORT_IS_MAIN : 0) |
                (Fault("no-64") ? 0 : CLAP_AUDIO_PORT_SUPPORTS_64BITS);
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  info->in_place_pair = index == 0 ? 0 : CLAP_INVALID_ID;
  return true;
}

const clap_plugin_audio_ports_t kPorts = {PortCount, PortGet};

uint32_t ParamCount(const clap_plugin_t*) { return kNumParams; }

bool ParamInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info)
{
  if (index >= kNumParams)
    return false;
  const ParamDef& d = kParams[index];
  std::memset(info, 0, sizeof(*info));
  info->id = (Fault("dup-id") && d.id == kMode) ? kGain : d.id;
  info->flags = d.flags;
  info->cookie = (void*)&d;
  std::snprintf(info->name, sizeof(info->name), "%s", d.name);
  info->min_value = d.min;
  info->max_value = d.max;
  info->default_value = d.def;
  return true;
}

bool ParamValue(const clap_plugin_t* plugin, clap_id id, double* value)
{
  const int i = Index(id);
  if (i < 0 || !value)
    return false;
  *value = From(plugin)->values[i];
  return true;
}

bool ValueToText(const clap_plugin_t*, clap_id id, double value, char* display, uint32_t size)
{
  const int i = Index(id);
  if (i < 0 || !display || size == 0)
    return false;
  value = Clamp(i, value);
  switch (id)
  {
    case kGain: std::snprintf(display, size, "%.2f dB", value); break;
    case kMode: std::snprintf(display, size, "%s", kModeNames[(int)value]); break;
    case kBypass: std::snprintf(display, size, "%s", value >= 0.5 ? "On" : "Off"); break;
    default: std::snprintf(display, size, "%.3f", value); break;
  }
  return true;
}

bool TextToValue(const clap_plugin_t*, clap_id id, const char* display, double* value)
{
  const int i = Index(id);
  if (i < 0 || !display || !value)
    return false;
  if (id == kMode || id == kBypass)
  {
    const int n = id == kMode ? 3 : 2;
    for (int k = 0; k < n; ++k)
      if (!std::strcmp(display, id == kMode ? kModeNames[k] : (k ? "On" : "Off")))
        return *value = k, true;
    return false;
  }
  char* end = nullptr;
  const double v = std::strtod(display, &end);
  if (end == display || !std::isfinite(v))
    return false;
  while (*end == ' ')
    ++end;
  if (id == kGain && !std::strcmp(end, "dB") && !Fault("text-roundtrip"))
    end += 2;
  if (*end)
    return false;
  *value = Clamp(i, v);
  return true;
}

void Flush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t*)
{
  ExpectThread(From(plugin), From(plugin)->active, "flush");
  if (Fault("flush-ignored") || !in)
    return;
  const uint32_t n = in->size(in);
  for (uint32_t e = 0; e < n; ++e)
    ApplyEvent(From(plugin), in->get(in, e));
}

const clap_plugin_params_t kParamsExt = {ParamCount, ParamInfo, ParamValue, ValueToText, TextToValue, Flush};

// State: "FPLG", version 1, the three writable values as doubles, all in
// host byte order.
constexpr uint32_t kStateSize = 4 + 4 + 4 * 8;

bool Save(const clap_plugin_t* plugin, const clap_ostream_t* stream)
{
  Plug* p = From(plugin);
  uint8_t buf[kStateSize];
  std::memcpy(buf, "FPLG", 4);
  const uint32_t version = 1;
  std::memcpy(buf + 4, &version, 4);
  ExpectThread(p, false, "state save");
  double values[4];
  for (int i = 0; i < 4; ++i)
    values[i] = p->values[kStateValues[i]];
  if (Fault("state-unstable"))
    values[0] = std::fmin(values[0] + ++p->saves * 1e-9, 24.0);
  std::memcpy(buf + 8, values, sizeof(values));
  uint32_t done = 0;
  while (done < kStateSize)
  {
    const int64_t n = stream->write(stream, buf + done, kStateSize - done);
    if (n <= 0)
      return false;
    done += (uint32_t)n;
    if (Fault("single-write"))
      break;
  }
  return true;
}

bool Load(const clap_plugin_t* plugin, const clap_istream_t* stream)
{
  Plug* p = From(plugin);
  ExpectThread(p, false, "state load");
  uint8_t buf[kStateSize + 1];
  uint32_t got = 0;
  while (got < kStateSize + 1)
  {
    const int64_t n = stream->read(stream, buf + got, kStateSize + 1 - got);
    if (n < 0)
      return false;
    if (n == 0)
      break;
    got += (uint32_t)n;
    if (Fault("single-read"))
      break;
  }
  if (got == 0 && Fault("accept-empty"))
    return true;
  const bool lax = Fault("accept-random");
  uint32_t version = 0;
  if (got >= 8)
    std::memcpy(&version, buf + 4, 4);
  if (!lax && (got != kStateSize || std::memcmp(buf, "FPLG", 4) || version != 1))
    return false;
  double v[4];
  std::memcpy(v, buf + 8, sizeof(v));
  for (int i = 0; i < 4; ++i)
    if (!lax && (!std::isfinite(v[i]) || Clamp(kStateValues[i], v[i]) != v[i]))
      return false;
  const uint32_t latencyBefore = LatencyOf(p);
  for (int i = 0; i < 4; ++i)
    p->values[kStateValues[i]] = Clamp(kStateValues[i], v[i]);
  if (p->active && LatencyOf(p) != p->latency)
    p->host->request_restart(p->host);
  else if (!p->active && LatencyOf(p) != latencyBefore)
  {
    if (auto* l = HostExt<clap_host_latency_t>(p, CLAP_EXT_LATENCY))
      l->changed(p->host);
  }
  return true;
}

const clap_plugin_state_t kState = {Save, Load};

uint32_t LatencyGet(const clap_plugin_t* plugin)
{
  const Plug* p = From(plugin);
  return p->active ? p->latency : LatencyOf(p);
}
const clap_plugin_latency_t kLatency = {LatencyGet};

const void* GetExtension(const clap_plugin_t*, const char* id)
{
  if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS))
    return &kPorts;
  if (!std::strcmp(id, CLAP_EXT_PARAMS))
    return &kParamsExt;
  if (!std::strcmp(id, CLAP_EXT_STATE))
    return &kState;
  if (!std::strcmp(id, CLAP_EXT_LATENCY))
    return &kLatency;
  return nullptr;
}

void OnMainThread(const clap_plugin_t*) {}

// ---------------------------------------------------------------------------
// Factory and entry

uint32_t Count(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* Descriptor(const clap_plugin_factory_t*, uint32_t index)
{
  return index == 0 ? &gDesc : nullptr;
}

const clap_plugin_t* Create(const clap_plugin_factory_t*, const clap_host_t* host, const char* id)
{
  if (!host || !id || std::strcmp(id, gDesc.id))
    return nullptr;
  Plug* p = new Plug;
  p->host = host;
  p->plugin = clap_plugin_t{&gDesc, p, Init, Destroy, Activate, Deactivate, StartProcessing, StopProcessing,
                            Reset, Process, GetExtension, OnMainThread};
  return &p->plugin;
}

const clap_plugin_factory_t kFactory = {Count, Descriptor, Create};

// init may come once per load; a second call before deinit is a host's
// fault, refused.
int gInits = 0;

bool EntryInit(const char*)
{
  if (gInits++)
    return false;
  const char* f = std::getenv("CLAP_FAULT_PLUG_FAULT");
  gFault = f ? f : "";
  gDesc.features = Fault("bad-features") ? kBadFeatures : kFeatures;
  return true;
}

void EntryDeinit() { gInits = 0; }

const void* EntryFactory(const char* id) { return !std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) ? &kFactory : nullptr; }

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, EntryInit, EntryDeinit,
                                                              EntryFactory};
