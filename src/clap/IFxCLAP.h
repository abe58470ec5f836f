#pragma once

// Presents a framework plug-in to a CLAP host. It owns the plug-in it is
// given and is the plug-in's host: edits made in the editor leave as
// parameter events (gestures included), and what the host is to read again
// (the latency, every value after a state) is told from the host's main
// thread once the call that changed it is over. The host's buffers and
// parameter events go through the one block runner, each event at its time
// within the block.
//
// The C callbacks of clap_plugin_t and of the extensions are thin thunks
// onto the methods below (IFxCLAP.cpp, IFxCLAPProcess.cpp,
// IFxCLAPParams.cpp, IFxCLAPGui.cpp); the module's entry and factory are in
// IFxCLAPEntry.cpp.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "clap/events.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "clap/IFxCLAPClassDef.h"
#include "clap/plugin.h"
#include "clap/process.h"
#include "fx/IFxBase.h"
#include "fx/IFxBlockRunner.h"
#include "fx/IFxHost.h"

class IGraphics;
class IFxCLAPTimerLoop;

class IFxCLAP final : public IFxHost
{
public:
  using EditorMaker = IGraphics* (*)(IFxBase* pPlug);

  // Frames of the longest block the scratch buffers are sized for; longer
  // blocks go in pieces.
  static constexpr uint32_t kMaxScratchFrames = 1u << 20;
  // The sample rates an instance is made for, as in the other formats.
  static constexpr double kMinSampleRate = 8000.0, kMaxSampleRate = 768000.0;
  // Editor events waiting for the next process or flush.
  static constexpr uint32_t kOutQueueSize = 1024;
  // The meters' parameter ids: meter m is kMeterIdBase + m, apart from the
  // parameters' ids (their indices), so parameters added later never take
  // an id a host's session knows as a meter.
  static constexpr uint32_t kMeterIdBase = 1000;

  // Takes the plug-in (from MakePlug) and keeps it for its whole life.
  IFxCLAP(IFxBase* pPlug, const clap_host_t* host, const clap_plugin_descriptor_t* desc, EditorMaker makeEditor);
  ~IFxCLAP();
  IFxCLAP(const IFxCLAP&) = delete;
  IFxCLAP& operator=(const IFxCLAP&) = delete;

  const clap_plugin_t* Clap() const { return &mClap; }
  static IFxCLAP* Of(const clap_plugin_t* plugin) { return static_cast<IFxCLAP*>(plugin->plugin_data); }
  IFxBase* Plug() const { return mPlug.get(); }

  // ---- the plug-in's host ----
  EAPI GetAPI() const override { return kAPICLAP; }
  void BeginInformHostOfParamChange(int idx) override;
  void InformHostOfParamChange(int idx, double normalizedValue) override;
  void EndInformHostOfParamChange(int idx) override;
  void MarkStateChanged() override;
  void InformHostOfProgramChange() override {}
  void InformHostOfLatencyChange() override;
  void ResizeGraphics(int w, int h) override;
  void PopupHostContextMenuForParam(int, int, int) override {}
  bool SendMidiMsg(IMidiMsg*) override { return false; }
  bool IsRenderingOffline() override { return false; }
  void GetTime(ITimeInfo* pTimeInfo) override;

  // ---- clap_plugin ----
  bool Init();
  bool Activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames);
  void Deactivate();
  bool StartProcessing();
  void StopProcessing();
  void Reset();
  clap_process_status Process(const clap_process_t* process);
  const void* GetExtension(const char* id);
  void OnMainThread();

  // ---- params ----
  // The plug-in's parameters by index (their ids), then its meters as
  // read-only parameters.
  uint32_t ParamInfoCount() const;
  bool ParamInfo(uint32_t index, clap_param_info_t* info) const;
  bool ParamValue(clap_id id, double* value) const;
  bool ValueToText(clap_id id, double value, char* display, uint32_t size) const;
  bool TextToValue(clap_id id, const char* display, double* value) const;
  void Flush(const clap_input_events_t* in, const clap_output_events_t* out);

  // ---- state ----
  bool SaveState(const clap_ostream_t* stream);
  bool LoadState(const clap_istream_t* stream);

  // ---- latency ----
  uint32_t Latency() const { return (uint32_t)mPlug->GetLatency(); }
  // What the host is told: fixed from activation until the host restarts
  // the plug-in (a change meanwhile asks it to).
  uint32_t HostLatency() const { return mActive ? mActiveLatency : Latency(); }

  // ---- gui and timer ----
  bool GuiIsApiSupported(const char* api, bool isFloating) const;
  bool GuiCreate(const char* api, bool isFloating);
  void GuiDestroy();
  bool GuiSetScale(double scale);
  bool GuiGetSize(uint32_t* width, uint32_t* height);
  bool GuiSetSize(uint32_t width, uint32_t height);
  bool GuiSetParent(const clap_window_t* window);
  void OnTimer(clap_id timerId);

private:
  // What waits to be told to the host from its main thread.
  enum : uint32_t
  {
    kLatencyChanged = 1u << 0,
    kValuesChanged = 1u << 1,
  };
  void Post(uint32_t notices);

  // An editor event waiting in a single-writer, single-reader ring: the
  // main thread writes, process or flush reads, neither waits.
  struct OutEvent
  {
    uint16_t type;  // CLAP_EVENT_PARAM_VALUE, _GESTURE_BEGIN or _GESTURE_END
    clap_id id;
    double value;
  };
  void Queue(uint16_t type, int idx, double value);
  void SendQueued(const clap_output_events_t* out);
  // Asks the host for a process or flush to take what is queued.
  void RequestFlush();

  // The host's events of one block as the runner's schedule.
  class InEvents;
  void ApplyEvent(const clap_event_header_t* header);
  template <typename T>
  IFxBlockRunner::ChannelMask RunBlock(const clap_process_t* process, InEvents& events, std::vector<T*>& in,
                                       std::vector<T*>& out);
  // A restart asked for on the audio thread (start_processing, reset),
  // made at the start of a block, never waiting for another thread.
  void RestartIfPending();

  double HostScale(int idx) const;
  bool IsMeterId(clap_id id, int* meter) const;

  void AssertMainThread() const;
  void AssertAudioThread() const;

  std::unique_ptr<IFxBase> mPlug;
  IFxBlockRunner mRunner;
  clap_plugin_t mClap;
  const clap_host_t* mHost;
  EditorMaker mMakeEditor;
  const clap_host_thread_check_t* mHostThreadCheck = nullptr;
  const clap_host_params_t* mHostParams = nullptr;
  const clap_host_latency_t* mHostLatency = nullptr;
  uint32_t mActiveLatency = 0;
  const clap_host_gui_t* mHostGui = nullptr;
  const clap_host_timer_support_t* mHostTimer = nullptr;
  const clap_host_state_t* mHostState = nullptr;

  bool mActive = false;
  std::atomic<bool> mProcessing{false};
  std::atomic<bool> mRestartPending{false};
  std::atomic<uint32_t> mPending{0};

  // Per-channel host pointers of the block being processed; sized at
  // construction so that processing allocates nothing.
  std::vector<float*> mIn32, mOut32;
  std::vector<double*> mIn64, mOut64;
  ITimeInfo mTime;

  OutEvent mOutQueue[kOutQueueSize];
  std::atomic<uint32_t> mOutWrite{0}, mOutRead{0};

  // The editor while the host's GUI exists.
  bool mMadeEditor = false;
  std::unique_ptr<IFxCLAPTimerLoop> mTimerLoop;
};
