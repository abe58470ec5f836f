#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "fx/ByteChunk.h"
#include "fx/IFxBlockGate.h"
#include "fx/IFxEditor.h"
#include "fx/IFxFade.h"
#include "fx/IFxHost.h"
#include "fx/IMidiMsg.h"
#include "fx/IPreset.h"
#include "fx/Hosts.h"
#include "kit/KitMutex.h"
#include "kit/KitPtrList.h"
#include "kit/KitString.h"
#include "kit/KitTypedBuf.h"

class IParam;
struct IFxStateTail;

// What a factory hands a new instance; the bindings here take nothing from it.
struct IFxInstanceInfo
{
};

struct IParamUnit;

// A value the plug-in shows but nobody sets (a meter). A binding may hand it
// to the host as an output; the editor control named here shows the same.
struct IFxMeterInfo
{
  const char* name = "";    // shown to people
  const char* symbol = "";  // stable identifier: lower-case letters, digits, '_'
  int controlIdx = -1;      // the editor control that shows it, or -1
  double minimum = 0.0, maximum = 1.0, rest = 0.0;  // range, and the value at rest
  const IParamUnit* unit = nullptr;  // the unit it is read in; null: a bare 0..1
  const char* comment = "";          // one line for hosts that describe outputs
  // Added after a release: a format that numbers its ports puts it after
  // all the others, so the numbers saved sessions hold stay the same.
  bool appended = false;
};

// The API-neutral base of a plug-in instance: parameters, presets, channel
// bookkeeping, state, and the traffic of parameter values between host,
// editor and signal path. It serves no format itself: the binding that owns
// the instance (VST 3, LV2) attaches itself as the instance's IFxHost, and
// the host operations below go there.
//
// Threads. The audio thread never waits for another one. Parameter values
// are atomic: whatever thread sets one (editor, controller, state restore)
// reads it back at once, and the signal path takes the values a block works
// with at the start of the block (TakeBlockParams); several values changed
// together (a state, a preset) are published as one batch, which a block
// sees whole or not at all. Set-up and activation close the block gate. The
// instance's recursive lock is for the other threads among themselves
// (state save and restore); the audio thread never takes it.
class IFxBase
{
public:
  // plugAPI is what GetAPI reports until a binding attaches; the last
  // plugScChans inputs are the side-chain.
  IFxBase(int nParams, const char* channelIOStr, int nPresets,
          const char* effectName, const char* productName, const char* mfrName,
          int vendorVersion, int uniqueID, int mfrID, int latency,
          bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, EAPI plugAPI,
          int plugScChans = 0);

  IFxBase(const IFxBase&) = delete;
  IFxBase& operator=(const IFxBase&) = delete;

  // ---- virtual operations, in slot order ----
  virtual ~IFxBase();
  virtual void Reset();
  virtual void OnParamChange(int paramIdx);
  // Base behaviour: inputs copied to the matching outputs, other outputs zeroed.
  virtual void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames);
  virtual void OnGUIOpen() {}
  virtual void OnGUIClose() {}
  virtual void OnIdle() {}
  // With active, the host's bypass starts over as well: the first block
  // after activation takes the bypass as it then is, with no fade.
  virtual void OnActivate(bool active);
  virtual void ProcessMidiMsg(IMidiMsg* pMsg);
  virtual void ProcessSysEx(ISysEx* pSysEx) { (void)pSysEx; }
  virtual bool MidiNoteName(int noteNumber, char* noteName);
  virtual bool SerializeState(ByteChunk* pChunk);
  virtual int UnserializeState(ByteChunk* pChunk, int startPos);
  // data is read as doubles from element startPos on (a count of doubles).
  virtual bool CompareState(const unsigned char* incomingState, int startPos);
  virtual void OnWindowResize() {}
  virtual bool HostRequestingAboutBox() { return false; }
  virtual void OnHostIdentified() {}
  virtual void PopupHostContextMenuForParam(int paramIdx, int x, int y);
  // The host's menu for a parameter with the editor's entries (IFxHost);
  // false when the host offers none.
  virtual bool PopupParamMenu(int paramIdx, int x, int y, const IFxMenuEntry* entries, int nEntries);
  virtual void SetParameterFromGUI(int paramIdx, double normalizedValue);
  // The host operations: passed to the attached IFxHost, or answered as a
  // host would that is not there (nothing told, transport at rest).
  virtual void BeginInformHostOfParamChange(int paramIdx);
  virtual void InformHostOfParamChange(int paramIdx, double normalizedValue);
  virtual void EndInformHostOfParamChange(int paramIdx);
  virtual void InformHostOfProgramChange();
  virtual bool IsRenderingOffline();
  virtual int GetSamplePos();
  virtual double GetTempo();
  virtual void GetTimeSig(int* pNum, int* pDenom);
  virtual void GetTime(ITimeInfo* pTimeInfo);
  virtual EHost GetHost() { return mHost; }
  virtual EAPI GetAPI() { return mHostIf ? mHostIf->GetAPI() : mAPI; }
  virtual void ResizeGraphics(int w, int h);
  virtual void HostSpecificInit() {}
  // Takes ownership; pushes every parameter into the editor first.
  virtual void AttachGraphics(IFxEditor* pGraphics);
  // Deletes the editor, if any: it exists only while someone shows it.
  void DeleteGraphics();
  // A negative count acts as 0. The host is told. The delay line takes the
  // new length and forgets its history: for set-up, not the audio thread.
  virtual void SetLatency(int samples);
  // The latency as the plug-in's settings change it, on any thread (the
  // audio thread too): the delay line keeps its length (MaxLatency, when
  // the binding made it) and the host's bypass delays its pass-through by
  // the new latency within it. The host is told, but never from inside a
  // call the host is making: the binding tells it once the call is over.
  void ChangeLatency(int samples);
  // The most the latency can become; the binding makes the delay line this
  // long.
  virtual int MaxLatency() const { return GetLatency(); }
  virtual bool SendMidiMsg(IMidiMsg* pMsg);
  virtual bool SendSysEx(ISysEx* pSysEx) { (void)pSysEx; return false; }
  // The editor shows every parameter's current value after its next tick
  // (whatever was waiting for it before); safe from any thread.
  virtual void RedrawParamControls();
  virtual void DirtyPTCompareState() {}
  virtual void PresetsChangedByHost() {}
  // A negative count acts as 0.
  virtual void SetBlockSize(int blockSize);
  // Meters, none by default. A value is the latest one processed, 0..1 as
  // the meter's control takes it.
  virtual int MeterCount() const { return 0; }
  virtual IFxMeterInfo GetMeterInfo(int idx) const { (void)idx; return IFxMeterInfo(); }
  virtual double GetMeterValue(int idx) const { (void)idx; return 0.0; }
  // A meter's value reported from elsewhere, for a model of the plug-in that
  // runs apart from its audio (an LV2 UI's, a snapshot's). False when the
  // plug-in measures its meters itself, or has no such meter.
  virtual bool SetMeterValue(int idx, double value) { (void)idx; (void)value; return false; }
  // Called for the frames the host bypasses once any fade into the bypass
  // is over, in place of processing: the signal chain does not run. A
  // plug-in lets its meters fall to rest here.
  virtual void OnHostBypassedBlock(int nFrames) { (void)nFrames; }
  // A plug-in whose state follows what it hears (a detector, a gain) keeps
  // hearing its input while the host bypasses it, so that leaving the bypass
  // resumes from the present rather than from the moment it was entered.
  // When true, ProcessHostBypassed runs for those frames in place of
  // OnHostBypassedBlock; what it writes to outputs is discarded (they carry
  // the passed-through input).
  virtual bool HearsInputWhileHostBypassed() const { return false; }
  virtual void ProcessHostBypassed(double** inputs, double** outputs, int nFrames)
  {
    (void)inputs, (void)outputs;
    OnHostBypassedBlock(nFrames);
  }
  // The values a block works with, on the audio thread at its start:
  // ReadBlockParams copies them aside (reading parameters and what
  // OnParamChange cached, changing nothing the block uses), then
  // UseBlockParams puts the copy to use. A copy read while another thread
  // was halfway through a batch is never used: the block keeps the values
  // of the one before.
  virtual void ReadBlockParams() {}
  virtual void UseBlockParams() {}
  // Whether the block about to run (its values taken) reads input channel
  // c. A 32-bit host's samples are widened only for channels that are read;
  // the others keep whatever their scratch buffers held.
  virtual bool BlockReadsInput(int c) const { (void)c; return true; }

  // Creates (or replaces) the delay line; bindings call this at construction.
  void MakeDelayLine(int nIn, int nOut, int length);

  // ---- the host ----
  // The binding that owns this instance; null detaches. Not owned.
  void AttachHost(IFxHost* pHost) { mHostIf = pHost; }
  IFxHost* GetHostInterface() const { return mHostIf; }

  // ---- channels ----
  bool LegalIO(int nIn, int nOut);
  void SetInputChannelConnections(int idx, int n, bool connected);
  void SetOutputChannelConnections(int idx, int n, bool connected);
  bool IsInChannelConnected(int chIdx) const;
  bool IsOutChannelConnected(int chIdx) const;
  int InputChannelCount() const { return mInChannels.GetSize(); }
  int OutputChannelCount() const { return mOutChannels.GetSize(); }
  // The last inputs, which a binding presents as a side-chain.
  int SidechainChannelCount() const { return mSidechainChannels; }

  // Host buffers for one block. Only connected channels take a host buffer,
  // one after the other.
  void AttachInputBuffers(int idx, int n, double** ppData, int nFrames);
  void AttachInputBuffers(int idx, int n, float** ppData, int nFrames);
  void AttachOutputBuffers(int idx, int n, double** ppData);
  void AttachOutputBuffers(int idx, int n, float** ppData);
  // The tag only selects the host's sample type; its value is ignored.
  void ProcessBuffers(double sampleType, int nFrames);
  void ProcessBuffers(float sampleType, int nFrames);
  void PassThroughBuffers(double sampleType, int nFrames);
  void PassThroughBuffers(float sampleType, int nFrames);
  // One block as the host's bypass flag asks for it: processed, or passed
  // through, and for the frames in which the flag has just changed both,
  // cross-faded, so that switching the bypass makes no click.
  void RunBuffers(double sampleType, int nFrames);
  void RunBuffers(float sampleType, int nFrames);
  void ZeroScratchBuffers();

  void SetSampleRate(double sampleRate) { mSampleRate = sampleRate; }
  double GetSampleRate() const { return mSampleRate; }
  int GetBlockSize() const { return mBlockSize; }
  int GetLatency() const { return mLatency.load(std::memory_order_relaxed); }
  // Frames of output that can follow the last frame of input.
  unsigned int GetTailSize() const { return mTailSize.load(std::memory_order_relaxed); }
  void SetTailSize(unsigned int frames) { mTailSize.store(frames, std::memory_order_relaxed); }
  bool IsBypassed() const { return mIsBypassed; }
  // The host's bypass, kept here for the binding: the plug-in passes its
  // input through (cross-faded) while it is set.
  void SetBypassed(bool bypassed) { mIsBypassed = bypassed; }

  // ---- hand-over to the audio thread ----
  // Set-up and activation close it around their changes; the audio thread
  // processes a block only inside it.
  IFxBlockGate& BlockGate() { return mBlockGate; }

  // Several changes made as one outside the audio thread (a state restored,
  // a preset chosen, the host's bypass with them): while one is alive no
  // block takes new values, and the next block takes all of them. Threads
  // that make batches wait for each other; the audio thread never makes one
  // (it is the thread that takes the values).
  class ParamBatch
  {
  public:
    explicit ParamBatch(IFxBase& plug);
    ~ParamBatch();
    ParamBatch(const ParamBatch&) = delete;
    ParamBatch& operator=(const ParamBatch&) = delete;

  private:
    IFxBase& mPlug;
  };

  // A batch made on the audio thread (a host's program change within a
  // block): it never waits. Held() is false when another thread is writing
  // a batch; nothing may then be changed, and the caller tries again later.
  class AudioThreadBatch
  {
  public:
    explicit AudioThreadBatch(IFxBase& plug);
    ~AudioThreadBatch();
    AudioThreadBatch(const AudioThreadBatch&) = delete;
    AudioThreadBatch& operator=(const AudioThreadBatch&) = delete;
    bool Held() const { return mHeld; }

  private:
    IFxBase& mPlug;
    bool mHeld;
  };

  // Set-up and activation, with the block gate closed: the values the next
  // block works with, taken whole now (waiting for a batch in progress), so
  // that a block that finds a batch half written still runs on the
  // parameters rather than on whatever the signal path was built with.
  void TakeParamsForSetUp();

  // Audio thread, at the start of each host block once the host's own
  // changes for it are applied: the values the block works with, and the
  // host's bypass. A batch half done leaves the last block's values.
  void TakeBlockParams();
  // The host's bypass as the current block took it.
  bool BlockBypassed() const { return mBlockBypassed; }
  bool IsInst() const { return mIsInst; }
  bool DoesMIDI() const { return mDoesMIDI; }
  bool DoesStateChunks() const { return mStateChunks; }
  double GetSamplesPerBeat();

  // ---- parameters ----
  // The one way a host's value reaches a parameter: normalised (0..1, what
  // is outside is limited) or plain (a stepped parameter takes the nearest
  // step, the range limits it). NaN is ignored, and so is a plain value
  // equal in single precision to the current one (a host's float copy of
  // the value). Then OnParamChange, and the editor shows the new value.
  // False when nothing was applied.
  bool ApplyParamValue(int paramIdx, double value, bool normalized);
  IParam* ParamAt(int idx) const { return mParams.Get(idx); }
  // The editor's side of a value changed outside it (host, automation,
  // another view): true, with the normalised value, once per change since
  // the last call. The editor takes them in its timer tick and as an edit
  // of its own begins; nothing else reaches into the editor from the audio
  // thread.
  bool TakeEditorValue(int paramIdx, double* pNormalized);
  int ParamCount() const { return mParams.GetSize(); }
  void OnParamReset();
  void DirtyParameters();
  IFxEditor* GetGraphics() const { return mGraphics; }
  KitMutex* GetMutex() { return &mMutex; }

  // ---- identification and labels ----
  const char* GetEffectName() const { return mEffectName; }
  const char* GetProductName() const { return mProductName; }
  const char* GetMfrName() const { return mMfrName; }
  int GetUniqueID() const { return mUniqueID; }
  int GetMfrID() const { return mMfrID; }
  int GetEffectVersion(bool decimal) const;
  void GetEffectVersionStr(char* str) const;  // at least 32 characters
  int GetHostVersion(bool decimal);
  void GetHostVersionStr(char* str);  // at least 32 characters
  const char* GetAPIString();
  const char* GetArchString() const { return "x64"; }
  // Host identification by the name the host reports.
  void SetHost(const char* host, int version);

  static void GetVersionParts(int version, int* pMajor, int* pMinor, int* pBugFix);
  static int GetDecimalVersion(int version);
  static void GetVersionStr(int version, char* str);  // at least 32 characters

  void SetInputLabel(int idx, const char* label);
  void SetOutputLabel(int idx, const char* label);
  const char* GetInputLabel(int idx) const;
  const char* GetOutputLabel(int idx) const;
  void SetInputBusLabel(int idx, const char* label);
  void SetOutputBusLabel(int idx, const char* label);
  // Null when there is no label at that index.
  const char* GetInputBusLabel(int idx) const;
  const char* GetOutputBusLabel(int idx) const;
  int InputBusLabelCount() const { return mInputBusLabels.GetSize(); }
  int OutputBusLabelCount() const { return mOutputBusLabels.GetSize(); }

  bool SendMidiMsgs(KitTypedBuf<IMidiMsg>* pMsgs);

  // ---- state and presets ----
  bool SerializeParams(ByteChunk* pChunk);
  int UnserializeParams(ByteChunk* pChunk, int startPos);

  int PresetCount() const { return mPresets.GetSize(); }
  int GetCurrentPresetIdx() const { return mCurrentPresetIdx; }
  // The preset a restored state says was chosen, without restoring it.
  void SetCurrentPresetIdx(int idx)
  {
    if (idx >= 0 && idx < PresetCount()) mCurrentPresetIdx = idx;
  }
  // The first preset whose values are exactly the current ones, or -1.
  int PresetMatchingValues();
  // Whether slot idx holds settings (a free slot captures the current ones
  // when restored).
  bool IsPresetInitialized(int idx) const { return mPresets.Get(idx) && mPresets.Get(idx)->mInitialized; }
  // The slot's name, or "" for an index out of range.
  const char* GetPresetName(int idx) const;
  void MakeDefaultPreset(const char* name = nullptr, int nPresets = 1);
  // One value per parameter in index order: int for bool, int and enum
  // parameters, double for the others.
  void MakePreset(const char* name, ...);
  // nParamsNamed pairs of (int index, value), value typed as for MakePreset.
  void MakePresetFromNamedParams(const char* name, int nParamsNamed, ...);
  void MakePresetFromChunk(const char* name, ByteChunk* pChunk);
  void MakePresetFromBlob(const char* name, const char* blob, int sizeOfChunk);
  void EnsureDefaultPreset();
  void PruneUninitializedPresets();
  bool RestorePreset(int idx);
  bool RestorePreset(const char* name);
  void ModifyCurrentPreset(const char* name = nullptr);
  bool SerializePresets(ByteChunk* pChunk);
  int UnserializePresets(ByteChunk* pChunk, int startPos);

  // ---- the state a binding stores for a host; the A/B comparison ----
  // Parameters from this index on were added after the first release: a
  // stored state's leading part, which every release reads, holds the
  // values of those before it, and its tail the others; a format that
  // numbers its controls puts them after all the others, so saved sessions
  // keep their numbers. ParamCount() until set.
  int FirstAppendedParam() const { return mFirstAppendedParam < 0 ? ParamCount() : mFirstAppendedParam; }
  void SetFirstAppendedParam(int idx) { mFirstAppendedParam = idx; }
  // The plug-in's state (SerializeState) into pChunk with the appended
  // parameters' values moved into pTail, and the A/B slots there too.
  // The caller holds a ParamBatch.
  bool SerializeHostState(ByteChunk* pChunk, IFxStateTail* pTail);
  // What SerializeHostState stored, pChunk's bytes with the tail stored
  // after them (a tail read from nothing for a state without one): an
  // appended parameter the state does not hold takes its default, and a
  // state without slots shows A with B the same. < 0 when pChunk is not a
  // state. The caller holds a ParamBatch.
  int UnserializeHostState(ByteChunk* pChunk, const IFxStateTail& tail);

  // The slot shown: 0 for A, 1 for B. Every parameter holds the shown
  // slot's value; the other slot's are kept aside.
  int ShownSlot() const { return mShownSlot.load(std::memory_order_relaxed); }
  // The plain value parameter idx has in the slot not shown.
  double OtherSlotValue(int idx);
  // Shows the other slot: the parameters whose values differ take the
  // other slot's, the audio thread all of them in one block, and the host
  // hears each as an edit, all inside one gesture (what its undo and
  // automation see). Not on the audio thread.
  void SwitchSlot();
  // The shown settings copied into the other slot; the host is told the
  // state changed. Not on the audio thread.
  void CopyToOtherSlot();
  // The slots whole (the tail's slot and otherSlot), for a binding that
  // stores them apart from the parameter values (an LV2 host keeps the
  // values in its ports), and a count that moves on whenever they change.
  void GetSlots(IFxStateTail* pTail);
  void SetSlots(const IFxStateTail& tail);
  unsigned SlotsVersion() const { return mSlotsVersion.load(std::memory_order_acquire); }

  // Developer aids that write preset source text to a file.
  void DumpPresetSrcCode(const char* filename, const char* paramEnumNames[]);
  void DumpPresetBlob(const char* filename);
  void DumpBankBlob(const char* filename);

protected:
  struct ChannelIO
  {
    int mIn, mOut;
    ChannelIO(int nIn, int nOut) : mIn(nIn), mOut(nOut) {}
  };

  struct InChannel
  {
    bool mConnected = false;
    double** mSrc;               // this channel's entry of mInData
    KitTypedBuf<double> mScratchBuf;
    KitString mLabel;
    explicit InChannel(double** ppSrc) : mSrc(ppSrc) {}
  };

  struct OutChannel
  {
    bool mConnected = false;
    double** mDest;              // this channel's entry of mOutData
    float* mFDest = nullptr;     // host buffer of a 32-bit host
    KitTypedBuf<double> mScratchBuf;
    KitString mLabel;
    explicit OutChannel(double** ppDest) : mDest(ppDest) {}
  };

  // Delays the dry signal on pass-through so that bypass keeps the latency.
  struct DelayLine
  {
    KitTypedBuf<double> mBuf;    // channel c is the c-th run of mLength samples
    int64_t mWritePos = 0;
    int mNIn, mNOut;
    int64_t mLength;
    DelayLine(int nIn, int nOut, int length);
    // Sets the length and clears the history.
    void SetLength(int length);
  };

  KitPtrList<ChannelIO> mChannelIO;
  KitMutex mMutex;
  char mEffectName[128];
  char mProductName[128];
  char mMfrName[128];
  int mUniqueID;
  int mMfrID;
  int mVersion;
  EAPI mAPI;
  int mSidechainChannels;
  IFxHost* mHostIf = nullptr;
  EHost mHost = kHostUninit;
  int mHostVersion = 0;
  bool mStateChunks;
  bool mIsInst;
  bool mDoesMIDI;
  std::atomic<bool> mIsBypassed{false};
  std::atomic<int> mCurrentPresetIdx{0};
  std::atomic<double> mSampleRate{44100.0};
  int mBlockSize = 0;
  std::atomic<int> mLatency;
  std::atomic<unsigned int> mTailSize{0};
  DelayLine* mDelay = nullptr;
  IFxEditor* mGraphics = nullptr;
  KitPtrList<IParam> mParams;
  KitPtrList<IPreset> mPresets;
  KitTypedBuf<double*> mInData;
  KitTypedBuf<double*> mOutData;
  KitPtrList<InChannel> mInChannels;
  KitPtrList<OutChannel> mOutChannels;
  KitPtrList<KitString> mInputBusLabels;
  KitPtrList<KitString> mOutputBusLabels;

private:
  friend class ParamBatch;
  IFxBlockGate mBlockGate;
  // Values for the editor to show, one per parameter, and whether each is
  // new: written by whatever thread changes a value, taken by the editor.
  struct EditorValue
  {
    std::atomic<double> value{0.0};
    std::atomic<bool> pending{false};
  };
  std::unique_ptr<EditorValue[]> mEditorValues;
  void PostToEditor(int paramIdx, double normalized);
  // Odd while a batch is being written (a sequence lock: the audio thread
  // reads around it, never waits on it).
  std::atomic<unsigned> mParamSeq{0};
  // Who writes the batch now: the outermost batch of the thread holding
  // mMutex, or the audio thread's, which never waits for it.
  std::atomic<bool> mBatchWriter{false};
  int mBatchDepth = 0;         // batches nested on one thread; under mMutex
  int mFirstAppendedParam = -1;
  // The slot not shown, plain values by index; empty while it is the same
  // as the shown one (a new instance, a state stored without slots). Under
  // mMutex.
  std::vector<double> mOtherSlot;
  std::atomic<int> mShownSlot{0};
  std::atomic<unsigned> mSlotsVersion{0};
  bool mBlockBypassed = false; // audio thread only

  // The host bypass's cross-fade (IFxBlockRunner.cpp): where it stands, and
  // room for the untouched signal of one piece of a fade, per output.
  static constexpr int kFadePieceFrames = 256;
  struct HostBypass
  {
    IFxFade mFade;
    KitTypedBuf<double> mDry;    // output c is the c-th run of kFadePieceFrames
    KitTypedBuf<double*> mSaved; // the outputs' own pointers during a fade
  };
  HostBypass mHostBypass;
  void RunDoubleBuffers(int nFrames);
  void CrossFadePiece(int nFrames);
  // Frames the host bypasses, with the plug-in hearing them.
  void HostBypassedPiece(int nFrames);
  // Output c's pointer moved to its piece of mHostBypass.mDry (and back).
  void OutputsToDry();
  void OutputsFromDry();
  // Moves every input and output pointer on by a number of frames.
  void ShiftChannels(int frames);

  IPreset* GetNextUninitializedPreset();
  int FinishUnserializePresets(int pos);
  void SetBusLabel(KitPtrList<KitString>* pList, int idx, const char* label);
  void ConvertOutputsToFloat(int nFrames);
  // False when some buffer could not take the size (it keeps its old one).
  bool ResizeScratchBuffers(int blockSize);
};

// Defined by the plug-in: one new instance, with no host attached yet.
// Construction is serialised across threads.
IFxBase* MakePlug();
// Defined by the plug-in: its parameters, presets, state and meters with no
// signal path, for an editor whose audio runs elsewhere.
IFxBase* MakeParamTable();
