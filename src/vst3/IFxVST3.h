#pragma once

#include <atomic>
#include <vector>

#include <memory>

#include "fx/IFxBase.h"
#include "fx/IFxBlockRunner.h"
#include "fx/IFxHost.h"
#include "kit/KitPtrList.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "vst3/IFxVST3Meters.h"
#include "vst3/IFxVST3Notices.h"
#include "vst3/SingleComponentEffect.h"

// Host parameter tags the binding adds to the plug-in's own ('bpas', 'prst').
constexpr Steinberg::Vst::ParamID kBypassParamTag = 0x62706173;
constexpr Steinberg::Vst::ParamID kPresetParamTag = 0x70727374;

class IGraphics;

// Presents a framework plug-in to a VST 3 host as one object that is both
// the audio processor and the edit controller. It owns the plug-in it is
// given and is the plug-in's host: edits, resizing and latency changes the
// plug-in reports reach the VST 3 host from here.
class IFxVST3 : public SingleComponentEffect,
                public Steinberg::Vst::IProcessContextRequirements,
                public IFxVST3Meters,
                public IFxHost
{
public:
  using ParamID = Steinberg::Vst::ParamID;
  using ParamValue = Steinberg::Vst::ParamValue;
  using TChar = Steinberg::Vst::TChar;
  using String128 = Steinberg::Vst::String128;
  // Builds the plug-in's editor in the window system the module shows it in.
  using EditorMaker = IGraphics* (*)(IFxBase* pPlug);

  // Takes the plug-in (from MakePlug) and keeps it for its whole life.
  // makeEditor may be null: a plug-in without an editor. The editor is made
  // when a host asks for a view and deleted with the last view; an editor
  // attached to the plug-in by someone else is left to them.
  explicit IFxVST3(IFxBase* pPlug, EditorMaker makeEditor = nullptr);
  ~IFxVST3() override;

  IFxBase* Plug() const { return mPlug.get(); }

  // ---- the plug-in's host ----
  EAPI GetAPI() const override { return kAPIVST3; }
  void BeginInformHostOfParamChange(int idx) override;
  void InformHostOfParamChange(int idx, double normalizedValue) override;
  void EndInformHostOfParamChange(int idx) override;
  void BeginParamGroup() override;
  void EndParamGroup() override;
  void MarkStateChanged() override;
  void InformHostOfProgramChange() override {}
  void InformHostOfLatencyChange() override;
  void ResizeGraphics(int w, int h) override;
  void PopupHostContextMenuForParam(int idx, int x, int y) override;
  bool PopupParamMenu(int idx, int x, int y, const IFxMenuEntry* entries, int nEntries) override;
  // One of the plug-in's entries in a host's menu was chosen.
  void OnParamMenuEntry(int paramIdx, int entryId);
  // No event output.
  bool SendMidiMsg(IMidiMsg* pMsg) override;
  bool IsRenderingOffline() override;
  void GetTime(ITimeInfo* pTimeInfo) override;

  // Called by a view as it is destroyed.
  void ForgetView(Steinberg::IPlugView* pView);
  // What waits to be told to the host, and the run loops it is told from
  // (a view lends its frame's while it is open).
  IFxVST3Notices& Notices() { return mNotices; }
  const std::vector<Steinberg::IPlugView*>& OpenViews() const { return mOpenViews; }

  // ---- component and processing ----
  tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  tresult PLUGIN_API terminate() override;
  tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, int32 numIns,
                                        Steinberg::Vst::SpeakerArrangement* outputs,
                                        int32 numOuts) override;
  tresult PLUGIN_API setActive(TBool state) override;
  tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  // Processing switched back on starts clean, as activation does.
  tresult PLUGIN_API setProcessing(TBool state) override;
  tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) override;
  uint32 PLUGIN_API getLatencySamples() override;
  uint32 PLUGIN_API getTailSamples() override;
  uint32 PLUGIN_API getProcessContextRequirements() override;
  // The plug-in's meters, for our own renderer's snapshot.
  int32 PLUGIN_API getMeterCount() override;
  tresult PLUGIN_API getMeterValue(int32 index, double* value) override;
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;
  // IComponent and IEditController share these; hosts call both.
  tresult PLUGIN_API setState(Steinberg::IBStream* state) override { return setEditorState(state); }
  tresult PLUGIN_API getState(Steinberg::IBStream* state) override { return getEditorState(state); }
  virtual tresult setEditorState(Steinberg::IBStream* state);
  virtual tresult getEditorState(Steinberg::IBStream* state);

  // ---- controller ----
  tresult PLUGIN_API setParamNormalized(ParamID tag, ParamValue value) override;
  ParamValue PLUGIN_API getParamNormalized(ParamID tag) override;
  ParamValue PLUGIN_API plainParamToNormalized(ParamID tag, ParamValue plainValue) override;
  ParamValue PLUGIN_API normalizedParamToPlain(ParamID tag, ParamValue valueNormalized) override;
  tresult PLUGIN_API getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                           String128 string) override;
  tresult PLUGIN_API getParamValueByString(ParamID tag, TChar* string,
                                           ParamValue& valueNormalized) override;
  int32 PLUGIN_API getUnitCount() override;
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, Steinberg::Vst::UnitInfo& info) override;
  int32 PLUGIN_API getProgramListCount() override;
  tresult PLUGIN_API getProgramListInfo(int32 listIndex, Steinberg::Vst::ProgramListInfo& info) override;
  tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                    String128 name) override;
  tresult PLUGIN_API getProgramInfo(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                    Steinberg::Vst::CString attributeId, String128 attributeValue) override;
  tresult PLUGIN_API hasProgramPitchNames(Steinberg::Vst::ProgramListID listId, int32 programIndex) override;
  tresult PLUGIN_API getProgramPitchName(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                         Steinberg::int16 midiPitch, String128 name) override;
  Steinberg::Vst::UnitID PLUGIN_API getSelectedUnit() override { return 0; }
  tresult PLUGIN_API selectUnit(Steinberg::Vst::UnitID unitId) override;
  tresult PLUGIN_API getUnitByBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                  int32 busIndex, int32 channel, Steinberg::Vst::UnitID& unitId) override;
  tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                        Steinberg::IBStream* data) override;

  // ---- run-time type and interfaces ----
  Steinberg::FClassID isA() const override { return "IFxVST3"; }
  bool isA(Steinberg::FClassID s) const override { return isTypeOf(s, false); }
  bool isTypeOf(Steinberg::FClassID s, bool askBaseClass = true) const override;
  tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override;
  uint32 PLUGIN_API release() override;

  tresult beginEdit(ParamID tag) override;
  tresult performEdit(ParamID tag, ParamValue valueNormalized) override;
  tresult endEdit(ParamID tag) override;

  // ---- accessors ----
  static Steinberg::Vst::SpeakerArrangement getSpeakerArrForChans(int32 chans);
  Steinberg::Vst::AudioBus* getAudioInput(int32 index);
  Steinberg::Vst::AudioBus* getAudioOutput(int32 index);

protected:
  std::unique_ptr<IFxBase> mPlug;
  IFxBlockRunner mRunner;
  int32 mSidechainChannels;
  bool mActive = false;
  Steinberg::Vst::ProcessContext mHostContext;
  // The editor views that are alive; not owning.
  std::vector<Steinberg::IPlugView*> mOpenViews;
  EditorMaker mMakeEditor;
  bool mMadeEditor = false;  // the plug-in's editor is ours, for our views
  // The distinct non-empty group names of the parameters, in order of first
  // appearance: units 1, 2, ... (not owned; the parameters hold them).
  KitPtrList<const char> mUnitNames;

private:
  bool IsValidParamTag(ParamID tag) const;
  // The preset a normalised value of the preset parameter selects.
  int PresetIndexFromNormalized(double value) const;
  // The preset of that name, ignoring case and surrounding blanks; -1 when
  // there is none.
  int PresetIndexFromName(const TChar* text) const;
  // Asks the host to read again what flags says changed; from the host's
  // run loop only (IFxVST3Notices), never inside a call of the host's.
  void RestartComponent(Steinberg::int32 flags);
  static void TellHost(void* self, Steinberg::int32 flags);
  // Every parameter changed at once (a preset, a state): the host is told
  // to read them all again, after the call, and the next block reports
  // them as the processor's output changes for hosts that read those.
  void ValuesChangedTogether();
  void ReportValues(Steinberg::Vst::IParameterChanges* out);
  // A preset chosen on the audio thread, published as a batch; false when
  // another thread's batch is being written (it is tried again at the next
  // block).
  bool RestorePresetInBlock(int idx, ParamValue value);
  // The tail after the plug-in's own bytes and the bypass word, read whole
  // when the stream has one; empty otherwise.
  static void ReadTail(Steinberg::IBStream* stream, ByteChunk& tail);
  void AddHostParameters();
  // The last point of every queue, for a block that cannot be processed.
  void ApplyParameterChanges(Steinberg::Vst::IParameterChanges* changes);
  // One value of a queue: a parameter's, the host bypass's or the preset's.
  void ApplyPoint(ParamID tag, ParamValue value);

  // The points of a block's queues as the block runner asks for them: every
  // point at its offset, in order (IFxBlockRunner::Run's schedule).
  class QueuedPoints
  {
  public:
    explicit QueuedPoints(IFxVST3& owner) : mOwner(owner) {}
    // Room for this many queues, so that a block allocates nothing.
    void Reserve(int nQueues) { mQueues.reserve((size_t)nQueues); }
    // The queues of the block to come; null for none.
    void Take(Steinberg::Vst::IParameterChanges* changes);
    int ApplyDue(int frame);

  private:
    struct Queue
    {
      Steinberg::Vst::IParamValueQueue* queue;
      ParamID tag;
      Steinberg::int32 next, count;
      // The point `next`, read ahead.
      Steinberg::int32 offset;
      ParamValue value;
    };
    // Reads point `next` of q; past the end, or unreadable, ends the queue.
    static void ReadNext(Queue& q);
    IFxVST3& mOwner;
    std::vector<Queue> mQueues;
  };
  QueuedPoints mPoints{*this};
  // The processing flag and the value the controller reports, together.
  void SetBypassed(bool bypassed);
  // How many of a host bus's channel pointers may be read: its count, but
  // never more than the declared bus was negotiated to (0 without one).
  static int32 HostWidth(const Steinberg::Vst::AudioBusBuffers& bus, Steinberg::Vst::AudioBus* declared);
  // The width output bus b has after initialize, for the blocks that come
  // when no bus is declared.
  int32 DefaultOutputWidth(int32 b) const;
  // Zeroes every output channel the host passed on a declared bus and
  // flags it silent.
  void SilenceOutputs(Steinberg::Vst::ProcessData& data);
  // Flags the channels of the active output buses that hold only zeros,
  // from the runner's answer by plug-in output channel.
  void FlagSilentOutputs(Steinberg::Vst::ProcessData& data, Steinberg::uint64 silent);
  void ProcessInputEvents(Steinberg::Vst::IEventList* events);
  // The host's buffer for each plug-in channel, null where it gives none.
  template <typename T>
  void ChannelsOf(Steinberg::Vst::ProcessData& data, std::vector<T*>& in, std::vector<T*>& out);
  template <typename T>
  static T** BusChannels(Steinberg::Vst::AudioBusBuffers& bus);

  // Per-channel host pointers of the block being processed, by sample type.
  // Sized at construction so that processing allocates nothing.
  std::vector<float*> mIn32, mOut32;
  std::vector<double*> mIn64, mOut64;

  // What the controller reports for the binding's own parameters. The
  // bypass value follows every change of the processing flag; the host may
  // also set it here without changing how the audio is processed.
  std::atomic<double> mBypassValue{0.0};
  std::atomic<double> mPresetValue{0.0};
  IFxVST3Notices mNotices{&IFxVST3::TellHost, this};
  std::atomic<bool> mReportValues{false};
  // A host's program change the audio thread could not publish yet, and
  // the value it came with; -1 for none.
  std::atomic<int> mPendingPreset{-1};
  std::atomic<double> mPendingPresetValue{0.0};
  bool mProcessing = false;
};
