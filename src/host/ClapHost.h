#pragma once

// A small CLAP host of our own: loads a .clap the way a Linux host does,
// offers a clap_host whose extensions record what the plug-in asked for, and
// drives one instance through its life cycle, buffers, events, parameters
// and state. The CLAP tests, the renderer and the golden comparison share it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "clap/plugin-factory.h"
#include "clap/plugin.h"
#include "clap/process.h"
#include "clap/stream.h"

// The log extension is part of the CLAP 1.1 ABI but not of the header set
// installed here; its layout is fixed by that ABI.
static CLAP_CONSTEXPR const char CLAP_EXT_LOG[] = "clap.log";
enum
{
  CLAP_LOG_DEBUG = 0,
  CLAP_LOG_INFO = 1,
  CLAP_LOG_WARNING = 2,
  CLAP_LOG_ERROR = 3,
  CLAP_LOG_FATAL = 4,
  CLAP_LOG_HOST_MISBEHAVING = 5,
  CLAP_LOG_PLUGIN_MISBEHAVING = 6,
};
typedef int32_t clap_log_severity;
typedef struct clap_host_log
{
  void(CLAP_ABI* log)(const clap_host_t* host, clap_log_severity severity, const char* msg);
} clap_host_log_t;

namespace claphost {

// The loaded file: dlopen, clap_entry.init; deinit and dlclose on
// destruction. Two Modules of the same file share one init, as the entry
// may be initialised only once per load.
class Module
{
public:
  explicit Module(const std::string& path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool IsLoaded() const { return mFactory != nullptr; }
  const std::string& Error() const { return mError; }
  const std::string& Path() const { return mPath; }
  const clap_plugin_entry_t* Entry() const { return mEntry; }
  const clap_plugin_factory_t* Factory() const { return mFactory; }
  // Every descriptor the factory lists, in its order (null entries kept).
  std::vector<const clap_plugin_descriptor_t*> Descriptors() const;

private:
  std::string mPath, mError;
  void* mHandle = nullptr;
  const clap_plugin_entry_t* mEntry = nullptr;
  const clap_plugin_factory_t* mFactory = nullptr;
  bool mInitialised = false;
};

// Host-side events to send in one process or flush call.
struct Event
{
  enum Kind { kParamValue, kGestureBegin, kGestureEnd, kTransport } kind = kParamValue;
  uint32_t time = 0;
  clap_id id = CLAP_INVALID_ID;
  double value = 0.0;
  void* cookie = nullptr;
  uint32_t flags = 0;
  clap_event_transport_t transport{};  // kTransport only; its header is filled in

  static Event Value(uint32_t time, clap_id id, double value, void* cookie = nullptr);
  static Event Gesture(uint32_t time, clap_id id, bool begin);
  static Event Transport(uint32_t time, const clap_event_transport_t& t);
};

// The input list a plug-in reads: events in the order given (the caller
// sorts; tests may want to hand over what a careless host would).
class InputEvents
{
public:
  InputEvents();
  explicit InputEvents(const std::vector<Event>& events) : InputEvents() { Set(events); }
  void Set(const std::vector<Event>& events);
  const clap_input_events_t* List() const { return &mList; }
  uint32_t Size() const { return (uint32_t)mEvents.size(); }
  // Times the plug-in asked for an index out of range.
  int BadIndexCalls() const { return mBadIndex; }

private:
  union Stored
  {
    clap_event_header_t header;
    clap_event_param_value_t value;
    clap_event_param_gesture_t gesture;
    clap_event_transport_t transport;
  };
  static uint32_t ListSize(const clap_input_events_t* list);
  static const clap_event_header_t* ListGet(const clap_input_events_t* list, uint32_t index);
  std::vector<Stored> mEvents;
  clap_input_events_t mList;
  mutable int mBadIndex = 0;
};

// What the plug-in sent back, one record per event pushed.
struct OutEvent
{
  uint16_t space = 0, type = 0;
  uint32_t size = 0, time = 0, flags = 0;
  clap_id id = CLAP_INVALID_ID;  // param value and gesture events
  double value = 0.0;            // param value events
};

class OutputEvents
{
public:
  OutputEvents();
  const clap_output_events_t* List() const { return &mList; }
  const std::vector<OutEvent>& Events() const { return mEvents; }
  void Clear() { mEvents.clear(); }
  // A host whose queue is full: every push fails (and is still counted).
  void SetRefuse(bool refuse) { mRefuse = refuse; }
  int Refused() const { return mRefused; }

private:
  static bool TryPush(const clap_output_events_t* list, const clap_event_header_t* event);
  clap_output_events_t mList;
  std::vector<OutEvent> mEvents;
  bool mRefuse = false;
  int mRefused = 0;
};

// A clap_ostream into a byte vector. Each write takes at most maxPerCall
// bytes (0: all), as a pipe does; failAfter makes writes fail once the
// stream holds that many bytes (negative: never).
class OStream
{
public:
  explicit OStream(uint64_t maxPerCall = 0, int64_t failAfter = -1);
  const clap_ostream_t* Get() const { return &mStream; }
  const std::vector<uint8_t>& Data() const { return mData; }
  int Calls() const { return mCalls; }

private:
  static int64_t Write(const clap_ostream_t* s, const void* buffer, uint64_t size);
  clap_ostream_t mStream;
  std::vector<uint8_t> mData;
  uint64_t mMaxPerCall;
  int64_t mFailAfter;
  int mCalls = 0;
};

// A clap_istream over bytes, each read returning at most pieceSize bytes
// (0: all that was asked). failAt makes the read that reaches that offset
// report an error (negative: never).
class IStream
{
public:
  explicit IStream(std::vector<uint8_t> data, uint64_t pieceSize = 0, int64_t failAt = -1);
  const clap_istream_t* Get() const { return &mStream; }
  uint64_t Pos() const { return mPos; }
  int Calls() const { return mCalls; }
  // Reads asked for after the stream had reported its end.
  int ReadsAfterEnd() const { return mReadsAfterEnd; }

private:
  static int64_t Read(const clap_istream_t* s, void* buffer, uint64_t size);
  clap_istream_t mStream;
  std::vector<uint8_t> mData;
  uint64_t mPos = 0, mPiece;
  int64_t mFailAt;
  int mCalls = 0, mReadsAfterEnd = 0;
  bool mEnded = false;
};

struct LogEntry
{
  clap_log_severity severity;
  std::string message;
};

// The clap_host handed to one instance. The thread that made it is the main
// thread; the instance marks the audio-thread calls it makes, so that the
// two symbolic threads stay apart even on one OS thread. Every request the
// plug-in makes is counted; calls on the wrong thread are counted too.
class Host
{
public:
  Host(const char* name = "Tavlo CLAP Test Host", const char* version = "1.0");
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const clap_host_t* Get() const { return &mHost; }
  void Attach(const clap_plugin_t* plugin) { mPlugin = plugin; }

  // Extensions the host hides from the plug-in (by id), for hosts without them.
  void Hide(const std::string& extensionId) { mHidden.push_back(extensionId); }

  struct Counts
  {
    std::atomic<int> restart{0}, process{0}, callback{0};
    std::atomic<int> rescan{0}, clear{0}, requestFlush{0};
    std::atomic<int> latencyChanged{0}, markDirty{0};
    std::atomic<int> timersRegistered{0}, timersUnregistered{0};
    std::atomic<int> wrongThread{0};  // a [main-thread] call off it, request_flush on the audio thread
    std::atomic<uint32_t> rescanFlags{0};  // every flag ever passed to rescan
  };
  const Counts& Calls() const { return mCounts; }
  std::vector<LogEntry> Logs() const;
  void ClearLogs();

  // Runs on_timer for every registered timer, and on_main_thread once if a
  // callback was requested, on the calling (main) thread.
  void RunTimers();
  void RunCallbacks();
  size_t TimerCount() const;

  // Marks the calling thread as the audio thread while one exists.
  class AudioScope
  {
  public:
    explicit AudioScope(Host& h);
    ~AudioScope();

  private:
    Host& mHost;
    std::thread::id mPrevious;
  };
  bool IsMainThread() const;
  bool IsAudioThread() const;

private:
  static const void* GetExtension(const clap_host_t* h, const char* id);
  static void RequestRestart(const clap_host_t* h);
  static void RequestProcess(const clap_host_t* h);
  static void RequestCallback(const clap_host_t* h);
  static Host* From(const clap_host_t* h) { return (Host*)h->host_data; }
  void MainOnly();

  clap_host_t mHost;
  const clap_plugin_t* mPlugin = nullptr;
  std::thread::id mMain;
  std::atomic<std::thread::id> mAudio{std::thread::id()};
  std::vector<std::string> mHidden;
  Counts mCounts;
  std::atomic<bool> mCallbackPending{false};
  mutable std::mutex mMutex;
  std::vector<LogEntry> mLogs;
  struct Timer { clap_id id; uint32_t period; };
  std::vector<Timer> mTimers;
  clap_id mNextTimer = 1;

  clap_host_thread_check_t mThreadCheck;
  clap_host_params_t mParams;
  clap_host_latency_t mLatency;
  clap_host_state_t mState;
  clap_host_timer_support_t mTimerSupport;
  clap_host_log_t mLog;
};

// One plug-in instance with its host. The destructor stops processing,
// deactivates and destroys, in that order, whatever state it is in.
class Instance
{
public:
  // The plug-in with that id, or the factory's first when id is null. The
  // host hides the extensions named in hide (a host without them).
  explicit Instance(const Module& module, const char* id = nullptr, const std::vector<std::string>& hide = {});
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  explicit operator bool() const { return mPlugin != nullptr; }
  const std::string& Error() const { return mError; }
  const clap_plugin_t* Plugin() const { return mPlugin; }
  Host& GetHost() { return mHost; }

  const void* Extension(const char* id) const;
  const clap_plugin_params_t* Params() const { return mParams; }
  const clap_plugin_state_t* State() const { return mState; }
  const clap_plugin_audio_ports_t* AudioPorts() const { return mPorts; }
  const clap_plugin_latency_t* Latency() const { return mLatency; }

  // Life cycle; each records the state so the destructor can unwind it.
  bool Activate(double rate, uint32_t minFrames, uint32_t maxFrames);
  void Deactivate();
  bool StartProcessing();
  void StopProcessing();
  void Reset();
  bool IsActive() const { return mActive; }
  bool IsProcessing() const { return mProcessing; }
  double Rate() const { return mRate; }
  uint32_t MaxFrames() const { return mMaxFrames; }

  std::vector<clap_audio_port_info_t> Ports(bool input) const;
  // Channels of the main port (index 0), 0 when there is none.
  uint32_t MainChannels(bool input) const;
  // Whether both main ports carry CLAP_AUDIO_PORT_SUPPORTS_64BITS, and
  // whether the main output names the main input as its in-place pair.
  bool Supports64() const;
  bool SupportsInPlace() const;

  // One block through the main ports; the other ports get silent buffers
  // of their own (constant_mask set), as do the main ports given null. in
  // and out hold MainChannels pointers each; passing the same pointers
  // processes in place. Starts processing first when needed; more frames
  // than activated for is an error. transport may be null (a free-running
  // host).
  clap_process_status Process32(float* const* in, float* const* out, uint32_t frames,
                                const std::vector<Event>& events = {},
                                const clap_event_transport_t* transport = nullptr);
  clap_process_status Process64(double* const* in, double* const* out, uint32_t frames,
                                const std::vector<Event>& events = {},
                                const clap_event_transport_t* transport = nullptr);
  // The same for every port: ins[i] and outs[i] hold the channel pointers
  // of port i (Ports order), null or missing for a silent input (a
  // side-chain left unconnected) or an output nobody reads.
  clap_process_status ProcessPorts32(const std::vector<float* const*>& ins, const std::vector<float* const*>& outs,
                                     uint32_t frames, const std::vector<Event>& events = {},
                                     const clap_event_transport_t* transport = nullptr);
  clap_process_status ProcessPorts64(const std::vector<double* const*>& ins, const std::vector<double* const*>& outs,
                                     uint32_t frames, const std::vector<Event>& events = {},
                                     const clap_event_transport_t* transport = nullptr);
  // A process call as given (buffers, events and all), on the audio thread.
  clap_process_status ProcessRaw(const clap_process_t& process);
  // Events the plug-in sent in process and flush calls since the last Clear.
  OutputEvents& Out() { return mOut; }

  // Parameters.
  std::vector<clap_param_info_t> ParamInfos() const;
  bool GetValue(clap_id id, double& value) const;
  // false when the plug-in refuses; text is what it wrote up to the first
  // NUL within size.
  bool ValueToText(clap_id id, double value, std::string& text, uint32_t size = CLAP_NAME_SIZE) const;
  bool TextToValue(clap_id id, const std::string& text, double& value) const;
  // params.flush with these events, on the audio thread while active.
  void Flush(const std::vector<Event>& events);

  // State through the plug-in's state extension; see OStream and IStream
  // for the pieces.
  bool SaveState(std::vector<uint8_t>& out, uint64_t maxPerWrite = 0) const;
  bool LoadState(const std::vector<uint8_t>& data, uint64_t pieceSize = 0);

  uint32_t LatencyFrames() const;

private:
  template <typename T>
  clap_process_status ProcessPorts(const std::vector<T* const*>& ins, const std::vector<T* const*>& outs,
                                   uint32_t frames, const std::vector<Event>& events,
                                   const clap_event_transport_t* transport);
  void PreparePorts();

  Host mHost;
  const clap_plugin_t* mPlugin = nullptr;
  std::string mError;
  const clap_plugin_params_t* mParams = nullptr;
  const clap_plugin_state_t* mState = nullptr;
  const clap_plugin_audio_ports_t* mPorts = nullptr;
  const clap_plugin_latency_t* mLatency = nullptr;
  bool mActive = false, mProcessing = false;
  double mRate = 0.0;
  uint32_t mMaxFrames = 0;
  int64_t mSteadyTime = 0;
  OutputEvents mOut;
  InputEvents mIn;
  // Silent buffers for the ports other than the main ones.
  std::vector<clap_audio_port_info_t> mInPorts, mOutPorts;
  std::vector<float> mSilence32, mScratch32;  // inputs, outputs the caller leaves to us
  std::vector<double> mSilence64, mScratch64;
  std::vector<std::vector<float*>> mPtr32;
  std::vector<std::vector<double*>> mPtr64;
  std::vector<clap_audio_buffer_t> mInBufs, mOutBufs;
};

}  // namespace claphost
