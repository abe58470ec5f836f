// The plug-in object: construction, the C thunks and the extension table,
// the plug-in's host, activation and the notices told from the main thread.
// Processing, parameters and state, and the GUI are in IFxCLAPProcess.cpp,
// IFxCLAPParams.cpp and IFxCLAPGui.cpp.

#include "clap/IFxCLAP.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "clap/ext/audio-ports.h"
#include "clap/IFxCLAPTimerLoop.h"
#include "fx/IParam.h"

namespace {

IFxCLAP* Self(const clap_plugin_t* p) { return IFxCLAP::Of(p); }

// ---- clap_plugin ----
bool Init(const clap_plugin_t* p) { return Self(p)->Init(); }
void Destroy(const clap_plugin_t* p) { delete Self(p); }
bool Activate(const clap_plugin_t* p, double rate, uint32_t minFrames, uint32_t maxFrames)
{
  return Self(p)->Activate(rate, minFrames, maxFrames);
}
void Deactivate(const clap_plugin_t* p) { Self(p)->Deactivate(); }
bool StartProcessing(const clap_plugin_t* p) { return Self(p)->StartProcessing(); }
void StopProcessing(const clap_plugin_t* p) { Self(p)->StopProcessing(); }
void Reset(const clap_plugin_t* p) { Self(p)->Reset(); }
clap_process_status Process(const clap_plugin_t* p, const clap_process_t* process) { return Self(p)->Process(process); }
const void* GetExtension(const clap_plugin_t* p, const char* id) { return Self(p)->GetExtension(id); }
void OnMainThread(const clap_plugin_t* p) { Self(p)->OnMainThread(); }

// ---- audio ports: stereo in, stereo out, a stereo side-chain ----
constexpr clap_id kMainInPort = 0, kSidechainPort = 1, kMainOutPort = 0;

uint32_t AudioPortCount(const clap_plugin_t* p, bool isInput)
{
  const IFxBase* plug = Self(p)->Plug();
  return isInput ? (plug->SidechainChannelCount() > 0 ? 2u : 1u) : 1u;
}

bool AudioPortGet(const clap_plugin_t* p, uint32_t index, bool isInput, clap_audio_port_info_t* info)
{
  IFxBase* plug = Self(p)->Plug();
  if (!info || index >= AudioPortCount(p, isInput)) return false;
  memset(info, 0, sizeof(*info));
  const int nSc = plug->SidechainChannelCount();
  const int channels = isInput ? (index == 0 ? plug->InputChannelCount() - nSc : nSc) : plug->OutputChannelCount();
  const char* label = isInput ? plug->GetInputBusLabel((int)index) : plug->GetOutputBusLabel(0);
  strncpy(info->name, label ? label : (index == 0 ? "Main" : "Side-chain"), sizeof(info->name) - 1);
  info->id = isInput ? (index == 0 ? kMainInPort : kSidechainPort) : kMainOutPort;
  info->channel_count = (uint32_t)channels;
  info->port_type = channels == 2 ? CLAP_PORT_STEREO : channels == 1 ? CLAP_PORT_MONO : nullptr;
  // One sample size for every port: the runner takes a block in one.
  info->flags = CLAP_AUDIO_PORT_SUPPORTS_64BITS | CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE;
  if (index == 0) info->flags |= CLAP_AUDIO_PORT_IS_MAIN;
  // The main ports may share buffers; the side-chain has no output to pair.
  info->in_place_pair = index == 0 ? (isInput ? kMainOutPort : kMainInPort) : CLAP_INVALID_ID;
  return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {AudioPortCount, AudioPortGet};

// ---- latency ----
uint32_t LatencyGet(const clap_plugin_t* p) { return Self(p)->HostLatency(); }
const clap_plugin_latency_t kLatency = {LatencyGet};

// ---- params ----
uint32_t ParamsCount(const clap_plugin_t* p) { return Self(p)->ParamInfoCount(); }
bool ParamsGetInfo(const clap_plugin_t* p, uint32_t index, clap_param_info_t* info)
{
  return Self(p)->ParamInfo(index, info);
}
bool ParamsGetValue(const clap_plugin_t* p, clap_id id, double* value) { return Self(p)->ParamValue(id, value); }
bool ParamsValueToText(const clap_plugin_t* p, clap_id id, double value, char* display, uint32_t size)
{
  return Self(p)->ValueToText(id, value, display, size);
}
bool ParamsTextToValue(const clap_plugin_t* p, clap_id id, const char* display, double* value)
{
  return Self(p)->TextToValue(id, display, value);
}
void ParamsFlush(const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out)
{
  Self(p)->Flush(in, out);
}
const clap_plugin_params_t kParams = {ParamsCount,       ParamsGetInfo,     ParamsGetValue,
                                      ParamsValueToText, ParamsTextToValue, ParamsFlush};

// ---- state ----
bool StateSave(const clap_plugin_t* p, const clap_ostream_t* stream) { return Self(p)->SaveState(stream); }
bool StateLoad(const clap_plugin_t* p, const clap_istream_t* stream) { return Self(p)->LoadState(stream); }
const clap_plugin_state_t kState = {StateSave, StateLoad};

// ---- gui ----
bool GuiIsApiSupported(const clap_plugin_t* p, const char* api, bool isFloating)
{
  return Self(p)->GuiIsApiSupported(api, isFloating);
}
bool GuiGetPreferredApi(const clap_plugin_t*, const char** api, bool* isFloating)
{
  if (api) *api = CLAP_WINDOW_API_X11;
  if (isFloating) *isFloating = false;
  return api && isFloating;
}
bool GuiCreate(const clap_plugin_t* p, const char* api, bool isFloating) { return Self(p)->GuiCreate(api, isFloating); }
void GuiDestroy(const clap_plugin_t* p) { Self(p)->GuiDestroy(); }
bool GuiSetScale(const clap_plugin_t* p, double scale) { return Self(p)->GuiSetScale(scale); }
bool GuiGetSize(const clap_plugin_t* p, uint32_t* w, uint32_t* h) { return Self(p)->GuiGetSize(w, h); }
// The editor has the sizes of its scales, not any the host drags to.
bool GuiCanResize(const clap_plugin_t*) { return false; }
bool GuiGetResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }
bool GuiAdjustSize(const clap_plugin_t* p, uint32_t* w, uint32_t* h) { return Self(p)->GuiGetSize(w, h); }
bool GuiSetSize(const clap_plugin_t* p, uint32_t w, uint32_t h) { return Self(p)->GuiSetSize(w, h); }
bool GuiSetParent(const clap_plugin_t* p, const clap_window_t* window) { return Self(p)->GuiSetParent(window); }
// Embedded only: there is no window of our own to keep above another.
bool GuiSetTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void GuiSuggestTitle(const clap_plugin_t*, const char*) {}
// The host shows and hides its own window, which holds ours.
bool GuiShow(const clap_plugin_t*) { return true; }
bool GuiHide(const clap_plugin_t*) { return true; }
const clap_plugin_gui_t kGui = {GuiIsApiSupported, GuiGetPreferredApi, GuiCreate,    GuiDestroy,
                                GuiSetScale,       GuiGetSize,         GuiCanResize, GuiGetResizeHints,
                                GuiAdjustSize,     GuiSetSize,         GuiSetParent, GuiSetTransient,
                                GuiSuggestTitle,   GuiShow,            GuiHide};

// ---- timer ----
void TimerOnTimer(const clap_plugin_t* p, clap_id id) { Self(p)->OnTimer(id); }
const clap_plugin_timer_support_t kTimer = {TimerOnTimer};

}  // namespace

IFxCLAP::IFxCLAP(IFxBase* pPlug, const clap_host_t* host, const clap_plugin_descriptor_t* desc, EditorMaker makeEditor)
  : mPlug(pPlug), mRunner(*pPlug), mHost(host), mMakeEditor(makeEditor)
{
  mClap.desc = desc;
  mClap.plugin_data = this;
  mClap.init = ::Init;
  mClap.destroy = ::Destroy;
  mClap.activate = ::Activate;
  mClap.deactivate = ::Deactivate;
  mClap.start_processing = ::StartProcessing;
  mClap.stop_processing = ::StopProcessing;
  mClap.reset = ::Reset;
  mClap.process = ::Process;
  mClap.get_extension = ::GetExtension;
  mClap.on_main_thread = ::OnMainThread;

  mPlug->AttachHost(this);
  mPlug->SetInputBusLabel(0, "Main Input");
  if (mPlug->SidechainChannelCount() > 0) mPlug->SetInputBusLabel(1, "Side-chain");
  mPlug->SetOutputBusLabel(0, "Output");
  const size_t nIn = (size_t)mPlug->InputChannelCount(), nOut = (size_t)mPlug->OutputChannelCount();
  mIn32.assign(nIn, nullptr);
  mOut32.assign(nOut, nullptr);
  mIn64.assign(nIn, nullptr);
  mOut64.assign(nOut, nullptr);
}

IFxCLAP::~IFxCLAP()
{
  // A host that destroys the plug-in with its GUI still there.
  GuiDestroy();
  mPlug->AttachHost(nullptr);
  mPlug.reset();
}

const void* IFxCLAP::GetExtension(const char* id)
{
  if (!id) return nullptr;
  if (!strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kAudioPorts;
  if (!strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
  if (!strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
  if (!strcmp(id, CLAP_EXT_STATE)) return &kState;
  // The editor needs the host's timer to draw and to hear its window.
  if (mMakeEditor && !strcmp(id, CLAP_EXT_GUI)) return &kGui;
  if (mMakeEditor && !strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimer;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Threads

void IFxCLAP::AssertMainThread() const
{
#ifndef NDEBUG
  if (mHostThreadCheck && mHostThreadCheck->is_main_thread) assert(mHostThreadCheck->is_main_thread(mHost));
#endif
}

void IFxCLAP::AssertAudioThread() const
{
#ifndef NDEBUG
  if (mHostThreadCheck && mHostThreadCheck->is_audio_thread) assert(mHostThreadCheck->is_audio_thread(mHost));
#endif
}

// ---------------------------------------------------------------------------
// Life cycle

bool IFxCLAP::Init()
{
  // A host's extensions may be asked for from here on, not before.
  auto ext = [this](const char* id) { return mHost && mHost->get_extension ? mHost->get_extension(mHost, id) : nullptr; };
  mHostThreadCheck = static_cast<const clap_host_thread_check_t*>(ext(CLAP_EXT_THREAD_CHECK));
  AssertMainThread();
  mHostParams = static_cast<const clap_host_params_t*>(ext(CLAP_EXT_PARAMS));
  mHostLatency = static_cast<const clap_host_latency_t*>(ext(CLAP_EXT_LATENCY));
  mHostGui = static_cast<const clap_host_gui_t*>(ext(CLAP_EXT_GUI));
  mHostTimer = static_cast<const clap_host_timer_support_t*>(ext(CLAP_EXT_TIMER_SUPPORT));
  mHostState = static_cast<const clap_host_state_t*>(ext(CLAP_EXT_STATE));
  mPlug->SetHost(mHost && mHost->name ? mHost->name : "", 0);
  mPlug->OnHostIdentified();
  IFxBase::ParamBatch batch(*mPlug);
  mPlug->RestorePreset(0);
  return true;
}

bool IFxCLAP::Activate(double sampleRate, uint32_t, uint32_t maxFrames)
{
  AssertMainThread();
  // No instance rather than one that sounds wrong (NaN fails both tests);
  // a block of no frames leaves no scratch buffers to process with.
  if (mActive || !(sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate) || maxFrames < 1) return false;
  {
    IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
    mPlug->SetSampleRate(sampleRate);
    mPlug->SetBlockSize((int)std::min(maxFrames, kMaxScratchFrames));
    mPlug->Reset();
    // As a new instance: no gain reduction carried over, no bypass fade.
    mPlug->OnActivate(true);
    mPlug->TakeParamsForSetUp();
  }
  mRestartPending.store(false, std::memory_order_relaxed);
  mActiveLatency = Latency();
  mActive = true;
  return true;
}

void IFxCLAP::Deactivate()
{
  AssertMainThread();
  if (!mActive) return;
  mActive = false;
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->OnActivate(false);
}

// Processing switched back on starts clean, as activation does. Both
// calls come on the audio thread, which may not wait for the instance's
// lock: the restart is made at the start of the next block.
bool IFxCLAP::StartProcessing()
{
  AssertAudioThread();
  if (!mProcessing.exchange(true)) mRestartPending.store(true, std::memory_order_release);
  return true;
}

void IFxCLAP::StopProcessing()
{
  AssertAudioThread();
  mProcessing.store(false);
}

void IFxCLAP::Reset()
{
  AssertAudioThread();
  mRestartPending.store(true, std::memory_order_release);
}

void IFxCLAP::RestartIfPending()
{
  if (!mRestartPending.load(std::memory_order_acquire)) return;
  // Held by a state save on another thread: the next block tries again.
  KitMutex* lock = mPlug->GetMutex();
  if (!lock->TryEnter()) return;
  mPlug->OnActivate(true);
  lock->Leave();
  mRestartPending.store(false, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// The plug-in's host

void IFxCLAP::GetTime(ITimeInfo* pTimeInfo)
{
  if (pTimeInfo) *pTimeInfo = mTime;
}

// Any thread, the audio thread too (Oversample automated): told from the
// main thread, where the host may restart the plug-in.
void IFxCLAP::InformHostOfLatencyChange() { Post(kLatencyChanged); }

void IFxCLAP::Post(uint32_t notices)
{
  // One request while any notice waits; request_callback may come from any
  // thread and returns at once.
  if (mPending.fetch_or(notices, std::memory_order_acq_rel) == 0 && mHost && mHost->request_callback)
    mHost->request_callback(mHost);
}

void IFxCLAP::OnMainThread()
{
  AssertMainThread();
  const uint32_t notices = mPending.exchange(0, std::memory_order_acq_rel);
  if (notices & kLatencyChanged)
  {
    // An active plug-in's latency changes only through a restart; an
    // inactive one's is read again at the next activation, when told.
    if (mActive)
    {
      if (mHost && mHost->request_restart) mHost->request_restart(mHost);
    }
    else if (mHostLatency && mHostLatency->changed)
      mHostLatency->changed(mHost);
  }
  if ((notices & kValuesChanged) && mHostParams && mHostParams->rescan)
    mHostParams->rescan(mHost, CLAP_PARAM_RESCAN_VALUES);
}

// ---- edits from the editor, on the main thread ----

void IFxCLAP::BeginInformHostOfParamChange(int idx)
{
  Queue(CLAP_EVENT_PARAM_GESTURE_BEGIN, idx, 0.0);
  RequestFlush();
}

void IFxCLAP::InformHostOfParamChange(int idx, double)
{
  // The host hears the plain value the parameter now holds, in its units.
  if (IParam* param = mPlug->ParamAt(idx)) Queue(CLAP_EVENT_PARAM_VALUE, idx, param->GetValue() * HostScale(idx));
  RequestFlush();
  if (mHostState && mHostState->mark_dirty) mHostState->mark_dirty(mHost);
}

void IFxCLAP::EndInformHostOfParamChange(int idx)
{
  Queue(CLAP_EVENT_PARAM_GESTURE_END, idx, 0.0);
  RequestFlush();
}

void IFxCLAP::MarkStateChanged()
{
  if (mHostState && mHostState->mark_dirty) mHostState->mark_dirty(mHost);
}

void IFxCLAP::RequestFlush()
{
  // Safe whether or not the plug-in is processing: the host answers with a
  // process call or a flush, each of which sends what is queued.
  if (mHostParams && mHostParams->request_flush) mHostParams->request_flush(mHost);
}

void IFxCLAP::Queue(uint16_t type, int idx, double value)
{
  if (!mPlug->ParamAt(idx)) return;
  const uint32_t w = mOutWrite.load(std::memory_order_relaxed);
  // Full (no process or flush for a thousand edits): the oldest stay, as
  // a gesture must end the way it began.
  if (w - mOutRead.load(std::memory_order_acquire) >= kOutQueueSize) return;
  mOutQueue[w % kOutQueueSize] = OutEvent{type, (clap_id)idx, value};
  mOutWrite.store(w + 1, std::memory_order_release);
}

void IFxCLAP::SendQueued(const clap_output_events_t* out)
{
  const uint32_t w = mOutWrite.load(std::memory_order_acquire);
  uint32_t r = mOutRead.load(std::memory_order_relaxed);
  for (; r != w; ++r)
  {
    const OutEvent& e = mOutQueue[r % kOutQueueSize];
    bool sent = false;
    if (e.type == CLAP_EVENT_PARAM_VALUE)
    {
      clap_event_param_value_t ev = {};
      ev.header = {sizeof(ev), 0, CLAP_CORE_EVENT_SPACE_ID, e.type, 0};
      ev.param_id = e.id;
      ev.note_id = -1;
      ev.port_index = -1;
      ev.channel = -1;
      ev.key = -1;
      ev.value = e.value;
      sent = out && out->try_push && out->try_push(out, &ev.header);
    }
    else
    {
      clap_event_param_gesture_t ev = {};
      ev.header = {sizeof(ev), 0, CLAP_CORE_EVENT_SPACE_ID, e.type, 0};
      ev.param_id = e.id;
      sent = out && out->try_push && out->try_push(out, &ev.header);
    }
    // A host whose list is full takes the rest at the next call.
    if (!sent) break;
  }
  mOutRead.store(r, std::memory_order_release);
}
