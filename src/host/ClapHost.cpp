#include "host/ClapHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <type_traits>

namespace claphost {

// ---------------------------------------------------------------------------
// Module

namespace {

// clap_entry.init may run once per loaded file: dlopen hands back the same
// handle to every Module of a path, so the handles are counted here.
std::mutex gEntryMutex;
std::map<void*, int> gEntryUsers;

}  // namespace

Module::Module(const std::string& path) : mPath(path)
{
  mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!mHandle)
  {
    const char* e = dlerror();
    mError = e ? e : "dlopen failed";
    return;
  }
  mEntry = (const clap_plugin_entry_t*)dlsym(mHandle, "clap_entry");
  if (!mEntry)
  {
    mError = "no clap_entry symbol";
    return;
  }
  if (!clap_version_is_compatible(mEntry->clap_version) || !mEntry->init || !mEntry->deinit || !mEntry->get_factory)
  {
    mError = "clap_entry has an incompatible version or a null function";
    mEntry = nullptr;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(gEntryMutex);
    int& users = gEntryUsers[mHandle];
    if (users == 0 && !mEntry->init(path.c_str()))
    {
      gEntryUsers.erase(mHandle);
      mError = "clap_entry.init failed";
      return;
    }
    ++users;
    mInitialised = true;
  }
  mFactory = (const clap_plugin_factory_t*)mEntry->get_factory(CLAP_PLUGIN_FACTORY_ID);
  if (!mFactory)
    mError = "no plug-in factory";
}

Module::~Module()
{
  if (mInitialised)
  {
    std::lock_guard<std::mutex> lock(gEntryMutex);
    if (--gEntryUsers[mHandle] == 0)
    {
      gEntryUsers.erase(mHandle);
      mEntry->deinit();
    }
  }
  if (mHandle)
    dlclose(mHandle);
}

std::vector<const clap_plugin_descriptor_t*> Module::Descriptors() const
{
  std::vector<const clap_plugin_descriptor_t*> out;
  if (!mFactory)
    return out;
  const uint32_t n = mFactory->get_plugin_count(mFactory);
  for (uint32_t i = 0; i < n; ++i)
    out.push_back(mFactory->get_plugin_descriptor(mFactory, i));
  return out;
}

// ---------------------------------------------------------------------------
// Events

Event Event::Value(uint32_t time, clap_id id, double value, void* cookie)
{
  Event e;
  e.kind = kParamValue;
  e.time = time;
  e.id = id;
  e.value = value;
  e.cookie = cookie;
  return e;
}

Event Event::Gesture(uint32_t time, clap_id id, bool begin)
{
  Event e;
  e.kind = begin ? kGestureBegin : kGestureEnd;
  e.time = time;
  e.id = id;
  return e;
}

Event Event::Transport(uint32_t time, const clap_event_transport_t& t)
{
  Event e;
  e.kind = kTransport;
  e.time = time;
  e.transport = t;
  return e;
}

InputEvents::InputEvents()
{
  mList.ctx = this;
  mList.size = &ListSize;
  mList.get = &ListGet;
}

void InputEvents::Set(const std::vector<Event>& events)
{
  mEvents.clear();
  mEvents.reserve(events.size());
  for (const Event& e : events)
  {
    Stored s;
    std::memset(&s, 0, sizeof(s));
    clap_event_header_t h{};
    h.time = e.time;
    h.space_id = CLAP_CORE_EVENT_SPACE_ID;
    h.flags = e.flags;
    switch (e.kind)
    {
      case Event::kParamValue:
        h.size = sizeof(clap_event_param_value_t);
        h.type = CLAP_EVENT_PARAM_VALUE;
        s.value.header = h;
        s.value.param_id = e.id;
        s.value.cookie = e.cookie;
        s.value.note_id = -1;
        s.value.port_index = -1;
        s.value.channel = -1;
        s.value.key = -1;
        s.value.value = e.value;
        break;
      case Event::kGestureBegin:
      case Event::kGestureEnd:
        h.size = sizeof(clap_event_param_gesture_t);
        h.type = e.kind == Event::kGestureBegin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
        s.gesture.header = h;
        s.gesture.param_id = e.id;
        break;
      case Event::kTransport:
        h.size = sizeof(clap_event_transport_t);
        h.type = CLAP_EVENT_TRANSPORT;
        s.transport = e.transport;
        s.transport.header = h;
        break;
    }
    mEvents.push_back(s);
  }
}

uint32_t InputEvents::ListSize(const clap_input_events_t* list)
{
  return ((const InputEvents*)list->ctx)->Size();
}

const clap_event_header_t* InputEvents::ListGet(const clap_input_events_t* list, uint32_t index)
{
  const InputEvents* self = (const InputEvents*)list->ctx;
  if (index >= self->mEvents.size())
  {
    ++self->mBadIndex;
    return nullptr;
  }
  return &self->mEvents[index].header;
}

OutputEvents::OutputEvents()
{
  mList.ctx = this;
  mList.try_push = &TryPush;
}

bool OutputEvents::TryPush(const clap_output_events_t* list, const clap_event_header_t* event)
{
  OutputEvents* self = (OutputEvents*)list->ctx;
  if (self->mRefuse || !event)
  {
    ++self->mRefused;
    return false;
  }
  OutEvent o;
  o.space = event->space_id;
  o.type = event->type;
  o.size = event->size;
  o.time = event->time;
  o.flags = event->flags;
  if (event->space_id == CLAP_CORE_EVENT_SPACE_ID)
  {
    if (event->type == CLAP_EVENT_PARAM_VALUE && event->size >= sizeof(clap_event_param_value_t))
    {
      const auto* v = (const clap_event_param_value_t*)event;
      o.id = v->param_id;
      o.value = v->value;
    }
    else if ((event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) &&
             event->size >= sizeof(clap_event_param_gesture_t))
      o.id = ((const clap_event_param_gesture_t*)event)->param_id;
  }
  self->mEvents.push_back(o);
  return true;
}

// ---------------------------------------------------------------------------
// Streams

OStream::OStream(uint64_t maxPerCall, int64_t failAfter) : mMaxPerCall(maxPerCall), mFailAfter(failAfter)
{
  mStream.ctx = this;
  mStream.write = &Write;
}

int64_t OStream::Write(const clap_ostream_t* s, const void* buffer, uint64_t size)
{
  OStream* self = (OStream*)s->ctx;
  ++self->mCalls;
  if (self->mFailAfter >= 0 && (int64_t)self->mData.size() >= self->mFailAfter)
    return -1;
  uint64_t n = size;
  if (self->mMaxPerCall && n > self->mMaxPerCall)
    n = self->mMaxPerCall;
  if (self->mFailAfter >= 0)
    n = std::min<uint64_t>(n, (uint64_t)self->mFailAfter - self->mData.size());
  if (n && !buffer)
    return -1;
  const uint8_t* p = (const uint8_t*)buffer;
  self->mData.insert(self->mData.end(), p, p + n);
  return (int64_t)n;
}

IStream::IStream(std::vector<uint8_t> data, uint64_t pieceSize, int64_t failAt)
  : mData(std::move(data)), mPiece(pieceSize), mFailAt(failAt)
{
  mStream.ctx = this;
  mStream.read = &Read;
}

int64_t IStream::Read(const clap_istream_t* s, void* buffer, uint64_t size)
{
  IStream* self = (IStream*)s->ctx;
  ++self->mCalls;
  if (self->mEnded)
    ++self->mReadsAfterEnd;
  uint64_t n = std::min<uint64_t>(size, self->mData.size() - self->mPos);
  if (self->mPiece && n > self->mPiece)
    n = self->mPiece;
  if (self->mFailAt >= 0 && self->mPos + n >= (uint64_t)self->mFailAt && size > 0)
    return -1;
  if (n == 0)
  {
    self->mEnded = size > 0;
    return 0;
  }
  if (!buffer)
    return -1;
  std::memcpy(buffer, self->mData.data() + self->mPos, n);
  self->mPos += n;
  return (int64_t)n;
}

// ---------------------------------------------------------------------------
// Host

Host::Host(const char* name, const char* version) : mMain(std::this_thread::get_id())
{
  std::memset(&mHost, 0, sizeof(mHost));
  mHost.clap_version = CLAP_VERSION;
  mHost.host_data = this;
  mHost.name = name;
  mHost.vendor = "Quillmarshworks";
  mHost.url = "";
  mHost.version = version;
  mHost.get_extension = &GetExtension;
  mHost.request_restart = &RequestRestart;
  mHost.request_process = &RequestProcess;
  mHost.request_callback = &RequestCallback;

  mThreadCheck.is_main_thread = [](const clap_host_t* h) { return From(h)->IsMainThread(); };
  mThreadCheck.is_audio_thread = [](const clap_host_t* h) { return From(h)->IsAudioThread(); };

  mParams.rescan = [](const clap_host_t* h, clap_param_rescan_flags flags) {
    Host* self = From(h);
    self->MainOnly();
    ++self->mCounts.rescan;
    self->mCounts.rescanFlags.fetch_or(flags);
  };
  mParams.clear = [](const clap_host_t* h, clap_id, clap_param_clear_flags) {
    From(h)->MainOnly();
    ++From(h)->mCounts.clear;
  };
  mParams.request_flush = [](const clap_host_t* h) {
    Host* self = From(h);
    if (self->IsAudioThread())
      ++self->mCounts.wrongThread;
    ++self->mCounts.requestFlush;
  };
  mLatency.changed = [](const clap_host_t* h) {
    From(h)->MainOnly();
    ++From(h)->mCounts.latencyChanged;
  };
  mState.mark_dirty = [](const clap_host_t* h) {
    From(h)->MainOnly();
    ++From(h)->mCounts.markDirty;
  };
  mTimerSupport.register_timer = [](const clap_host_t* h, uint32_t period, clap_id* id) {
    Host* self = From(h);
    self->MainOnly();
    if (!id)
      return false;
    std::lock_guard<std::mutex> lock(self->mMutex);
    *id = self->mNextTimer++;
    self->mTimers.push_back({*id, period});
    ++self->mCounts.timersRegistered;
    return true;
  };
  mTimerSupport.unregister_timer = [](const clap_host_t* h, clap_id id) {
    Host* self = From(h);
    self->MainOnly();
    std::lock_guard<std::mutex> lock(self->mMutex);
    auto it = std::find_if(self->mTimers.begin(), self->mTimers.end(), [id](const Timer& t) { return t.id == id; });
    if (it == self->mTimers.end())
      return false;
    self->mTimers.erase(it);
    ++self->mCounts.timersUnregistered;
    return true;
  };
  mLog.log = [](const clap_host_t* h, clap_log_severity severity, const char* msg) {
    Host* self = From(h);
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mLogs.push_back({severity, msg ? msg : "(null)"});
  };
}

Host::~Host() {}

const void* Host::GetExtension(const clap_host_t* h, const char* id)
{
  Host* self = From(h);
  if (!id)
    return nullptr;
  if (std::find(self->mHidden.begin(), self->mHidden.end(), id) != self->mHidden.end())
    return nullptr;
  if (!std::strcmp(id, CLAP_EXT_THREAD_CHECK))
    return &self->mThreadCheck;
  if (!std::strcmp(id, CLAP_EXT_PARAMS))
    return &self->mParams;
  if (!std::strcmp(id, CLAP_EXT_LATENCY))
    return &self->mLatency;
  if (!std::strcmp(id, CLAP_EXT_STATE))
    return &self->mState;
  if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT))
    return &self->mTimerSupport;
  if (!std::strcmp(id, CLAP_EXT_LOG))
    return &self->mLog;
  return nullptr;
}

void Host::RequestRestart(const clap_host_t* h) { ++From(h)->mCounts.restart; }
void Host::RequestProcess(const clap_host_t* h) { ++From(h)->mCounts.process; }

void Host::RequestCallback(const clap_host_t* h)
{
  ++From(h)->mCounts.callback;
  From(h)->mCallbackPending = true;
}

void Host::MainOnly()
{
  if (!IsMainThread())
    ++mCounts.wrongThread;
}

bool Host::IsMainThread() const
{
  const auto self = std::this_thread::get_id();
  return self == mMain && mAudio.load() != self;
}

bool Host::IsAudioThread() const { return mAudio.load() == std::this_thread::get_id(); }

Host::AudioScope::AudioScope(Host& h) : mHost(h), mPrevious(h.mAudio.exchange(std::this_thread::get_id())) {}
Host::AudioScope::~AudioScope() { mHost.mAudio.store(mPrevious); }

std::vector<LogEntry> Host::Logs() const
{
  std::lock_guard<std::mutex> lock(mMutex);
  return mLogs;
}

void Host::ClearLogs()
{
  std::lock_guard<std::mutex> lock(mMutex);
  mLogs.clear();
}

size_t Host::TimerCount() const
{
  std::lock_guard<std::mutex> lock(mMutex);
  return mTimers.size();
}

void Host::RunTimers()
{
  if (!mPlugin)
    return;
  auto* ext = (const clap_plugin_timer_support_t*)mPlugin->get_extension(mPlugin, CLAP_EXT_TIMER_SUPPORT);
  if (!ext || !ext->on_timer)
    return;
  std::vector<Timer> timers;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    timers = mTimers;
  }
  // The plug-in may unregister from inside on_timer, so the copy is walked.
  for (const Timer& t : timers)
    ext->on_timer(mPlugin, t.id);
}

void Host::RunCallbacks()
{
  if (mPlugin && mCallbackPending.exchange(false))
    mPlugin->on_main_thread(mPlugin);
}

// ---------------------------------------------------------------------------
// Instance

Instance::Instance(const Module& module, const char* id, const std::vector<std::string>& hide)
{
  for (const std::string& h : hide)
    mHost.Hide(h);
  if (!module.IsLoaded())
  {
    mError = "module not loaded: " + module.Error();
    return;
  }
  const clap_plugin_factory_t* f = module.Factory();
  std::string pluginId;
  if (id)
    pluginId = id;
  else if (f->get_plugin_count(f) > 0)
  {
    const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, 0);
    if (d && d->id)
      pluginId = d->id;
  }
  if (pluginId.empty())
  {
    mError = "no plug-in id";
    return;
  }
  const clap_plugin_t* p = f->create_plugin(f, mHost.Get(), pluginId.c_str());
  if (!p)
  {
    mError = "create_plugin returned null for " + pluginId;
    return;
  }
  mHost.Attach(p);
  if (!p->init(p))
  {
    mError = "init failed";
    p->destroy(p);
    mHost.Attach(nullptr);
    return;
  }
  mPlugin = p;
  mParams = (const clap_plugin_params_t*)Extension(CLAP_EXT_PARAMS);
  mState = (const clap_plugin_state_t*)Extension(CLAP_EXT_STATE);
  mPorts = (const clap_plugin_audio_ports_t*)Extension(CLAP_EXT_AUDIO_PORTS);
  mLatency = (const clap_plugin_latency_t*)Extension(CLAP_EXT_LATENCY);
}

Instance::~Instance()
{
  if (!mPlugin)
    return;
  if (mProcessing)
    StopProcessing();
  if (mActive)
    Deactivate();
  mPlugin->destroy(mPlugin);
  mHost.Attach(nullptr);
}

const void* Instance::Extension(const char* id) const
{
  return mPlugin ? mPlugin->get_extension(mPlugin, id) : nullptr;
}

std::vector<clap_audio_port_info_t> Instance::Ports(bool input) const
{
  std::vector<clap_audio_port_info_t> out;
  if (!mPorts)
    return out;
  const uint32_t n = mPorts->count(mPlugin, input);
  for (uint32_t i = 0; i < n; ++i)
  {
    clap_audio_port_info_t info;
    std::memset(&info, 0, sizeof(info));
    info.in_place_pair = CLAP_INVALID_ID;
    if (mPorts->get(mPlugin, i, input, &info))
      out.push_back(info);
  }
  return out;
}

uint32_t Instance::MainChannels(bool input) const
{
  auto ports = Ports(input);
  return ports.empty() ? 0 : ports[0].channel_count;
}

bool Instance::Supports64() const
{
  auto in = Ports(true), out = Ports(false);
  for (const auto& p : in)
    if (!(p.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS))
      return false;
  for (const auto& p : out)
    if (!(p.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS))
      return false;
  return !in.empty() || !out.empty();
}

bool Instance::SupportsInPlace() const
{
  auto in = Ports(true), out = Ports(false);
  return !in.empty() && !out.empty() && out[0].in_place_pair != CLAP_INVALID_ID && out[0].in_place_pair == in[0].id;
}

void Instance::PreparePorts()
{
  mInPorts = Ports(true);
  mOutPorts = Ports(false);
  size_t ins = 0, outs = 0;
  for (const auto& p : mInPorts)
    ins += p.channel_count;
  for (const auto& p : mOutPorts)
    outs += p.channel_count;
  mSilence32.assign(ins * mMaxFrames, 0.0f);
  mSilence64.assign(ins * mMaxFrames, 0.0);
  mScratch32.assign(outs * mMaxFrames, 0.0f);
  mScratch64.assign(outs * mMaxFrames, 0.0);
  mPtr32.assign(mInPorts.size() + mOutPorts.size(), {});
  mPtr64.assign(mInPorts.size() + mOutPorts.size(), {});
  mInBufs.assign(mInPorts.size(), clap_audio_buffer_t{});
  mOutBufs.assign(mOutPorts.size(), clap_audio_buffer_t{});
}

bool Instance::Activate(double rate, uint32_t minFrames, uint32_t maxFrames)
{
  if (!mPlugin || mActive)
    return false;
  mMaxFrames = maxFrames;
  PreparePorts();
  if (!mPlugin->activate(mPlugin, rate, minFrames, maxFrames))
    return false;
  mActive = true;
  mRate = rate;
  mSteadyTime = 0;
  return true;
}

void Instance::Deactivate()
{
  if (!mActive)
    return;
  if (mProcessing)
    StopProcessing();
  mPlugin->deactivate(mPlugin);
  mActive = false;
}

bool Instance::StartProcessing()
{
  if (!mActive || mProcessing)
    return false;
  Host::AudioScope audio(mHost);
  mProcessing = mPlugin->start_processing(mPlugin);
  return mProcessing;
}

void Instance::StopProcessing()
{
  if (!mProcessing)
    return;
  Host::AudioScope audio(mHost);
  mPlugin->stop_processing(mPlugin);
  mProcessing = false;
}

void Instance::Reset()
{
  if (!mActive)
    return;
  Host::AudioScope audio(mHost);
  mPlugin->reset(mPlugin);
}

clap_process_status Instance::ProcessRaw(const clap_process_t& process)
{
  if (!mProcessing && !StartProcessing())
    return CLAP_PROCESS_ERROR;
  Host::AudioScope audio(mHost);
  return mPlugin->process(mPlugin, &process);
}

template <typename T>
clap_process_status Instance::ProcessPorts(const std::vector<T* const*>& ins, const std::vector<T* const*>& outs,
                                           uint32_t frames, const std::vector<Event>& events,
                                           const clap_event_transport_t* transport)
{
  constexpr bool is64 = std::is_same<T, double>::value;
  if (!mActive || frames > mMaxFrames)
    return CLAP_PROCESS_ERROR;
  std::vector<std::vector<T*>>* ptrs;
  T *silence, *scratch;
  if constexpr (is64)
    ptrs = &mPtr64, silence = mSilence64.data(), scratch = mScratch64.data();
  else
    ptrs = &mPtr32, silence = mSilence32.data(), scratch = mScratch32.data();
  size_t usedIn = 0, usedOut = 0;
  auto fill = [&](const std::vector<clap_audio_port_info_t>& ports, std::vector<clap_audio_buffer_t>& bufs,
                  size_t ptrBase, const std::vector<T* const*>& given, T* pool, size_t& used, bool input) {
    for (size_t i = 0; i < ports.size(); ++i)
    {
      auto& p = (*ptrs)[ptrBase + i];
      p.resize(ports[i].channel_count);
      T* const* main = i < given.size() ? given[i] : nullptr;
      const bool own = !main;
      for (uint32_t c = 0; c < ports[i].channel_count; ++c)
      {
        p[c] = own ? pool + (used++) * mMaxFrames : main[c];
        // Silence again each block: a plug-in may have written to it.
        if (own && input)
          std::fill(p[c], p[c] + frames, T(0));
      }
      clap_audio_buffer_t& b = bufs[i];
      b = clap_audio_buffer_t{};
      b.channel_count = ports[i].channel_count;
      if constexpr (is64)
        b.data64 = p.data();
      else
        b.data32 = p.data();
      if (own && input)
        b.constant_mask = b.channel_count >= 64 ? ~0ull : ((1ull << b.channel_count) - 1);
    }
  };
  fill(mInPorts, mInBufs, 0, ins, silence, usedIn, true);
  fill(mOutPorts, mOutBufs, mInPorts.size(), outs, scratch, usedOut, false);

  mIn.Set(events);
  clap_process_t p{};
  p.steady_time = mSteadyTime;
  p.frames_count = frames;
  p.transport = transport;
  p.audio_inputs = mInBufs.data();
  p.audio_outputs = mOutBufs.data();
  p.audio_inputs_count = (uint32_t)mInBufs.size();
  p.audio_outputs_count = (uint32_t)mOutBufs.size();
  p.in_events = mIn.List();
  p.out_events = mOut.List();
  const clap_process_status status = ProcessRaw(p);
  mSteadyTime += frames;
  return status;
}

clap_process_status Instance::Process32(float* const* in, float* const* out, uint32_t frames,
                                        const std::vector<Event>& events, const clap_event_transport_t* transport)
{
  return ProcessPorts<float>({in}, {out}, frames, events, transport);
}

clap_process_status Instance::Process64(double* const* in, double* const* out, uint32_t frames,
                                        const std::vector<Event>& events, const clap_event_transport_t* transport)
{
  return ProcessPorts<double>({in}, {out}, frames, events, transport);
}

clap_process_status Instance::ProcessPorts32(const std::vector<float* const*>& ins,
                                             const std::vector<float* const*>& outs, uint32_t frames,
                                             const std::vector<Event>& events,
                                             const clap_event_transport_t* transport)
{
  return ProcessPorts<float>(ins, outs, frames, events, transport);
}

clap_process_status Instance::ProcessPorts64(const std::vector<double* const*>& ins,
                                             const std::vector<double* const*>& outs, uint32_t frames,
                                             const std::vector<Event>& events,
                                             const clap_event_transport_t* transport)
{
  return ProcessPorts<double>(ins, outs, frames, events, transport);
}

std::vector<clap_param_info_t> Instance::ParamInfos() const
{
  std::vector<clap_param_info_t> out;
  if (!mParams)
    return out;
  const uint32_t n = mParams->count(mPlugin);
  for (uint32_t i = 0; i < n; ++i)
  {
    clap_param_info_t info;
    std::memset(&info, 0, sizeof(info));
    if (mParams->get_info(mPlugin, i, &info))
      out.push_back(info);
  }
  return out;
}

bool Instance::GetValue(clap_id id, double& value) const
{
  return mParams && mParams->get_value(mPlugin, id, &value);
}

bool Instance::ValueToText(clap_id id, double value, std::string& text, uint32_t size) const
{
  text.clear();
  if (!mParams)
    return false;
  std::vector<char> buf(size + 1, '\0');
  if (!mParams->value_to_text(mPlugin, id, value, buf.data(), size))
    return false;
  text.assign(buf.data(), strnlen(buf.data(), size));
  return true;
}

bool Instance::TextToValue(clap_id id, const std::string& text, double& value) const
{
  return mParams && mParams->text_to_value(mPlugin, id, text.c_str(), &value);
}

void Instance::Flush(const std::vector<Event>& events)
{
  if (!mParams)
    return;
  mIn.Set(events);
  if (mActive)
  {
    Host::AudioScope audio(mHost);
    mParams->flush(mPlugin, mIn.List(), mOut.List());
  }
  else
    mParams->flush(mPlugin, mIn.List(), mOut.List());
}

bool Instance::SaveState(std::vector<uint8_t>& out, uint64_t maxPerWrite) const
{
  out.clear();
  if (!mState)
    return false;
  OStream s(maxPerWrite);
  const bool ok = mState->save(mPlugin, s.Get());
  out = s.Data();
  return ok;
}

bool Instance::LoadState(const std::vector<uint8_t>& data, uint64_t pieceSize)
{
  if (!mState)
    return false;
  IStream s(data, pieceSize);
  return mState->load(mPlugin, s.Get());
}

uint32_t Instance::LatencyFrames() const
{
  return mLatency ? mLatency->get(mPlugin) : 0;
}

}  // namespace claphost
