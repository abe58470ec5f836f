#pragma once

// The plug-in as tavlo-jack hosts it, apart from JACK itself: it owns the
// instance (from MakePlug) and is its host, runs the server's periods
// through the one block runner with the MIDI of each period at its frame,
// and sets the instance up for the server's rate and period size.
//
// Threads. Process is the server's real-time thread: it allocates nothing,
// takes no lock and makes no system call; it only tries the block gate
// (silence while the main thread sets the instance up). A program change
// that finds another thread writing a batch is left for the main thread
// (TakePendingProgram). Everything else is the main thread's.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fx/IFxBase.h"
#include "fx/IFxBlockRunner.h"
#include "fx/IFxHost.h"

class TavloJackEngine final : public IFxHost
{
public:
  // Main inputs, side-chain inputs and outputs, as the plug-in numbers
  // its channels: in_L, in_R, sc_L, sc_R; out_L, out_R.
  static constexpr int kInputs = 4, kOutputs = 2;
  // The scratch buffers hold at least this many frames, so that the usual
  // changes of a server's period need no new set-up (longer periods are
  // run in pieces until the main thread has grown them).
  static constexpr int kMinScratchFrames = 4096;
  // No CC: a controller number maps to nothing.
  static constexpr int kNoParam = -1;

  // Takes the plug-in and keeps it for its whole life; it starts on its
  // first factory preset, as in a plug-in host.
  explicit TavloJackEngine(IFxBase* pPlug);
  ~TavloJackEngine();
  TavloJackEngine(const TavloJackEngine&) = delete;
  TavloJackEngine& operator=(const TavloJackEngine&) = delete;

  IFxBase& Plug() { return *mPlug; }

  // ---- main thread ----
  // A new rate (or the first set-up): the instance starts clean, as after a
  // host's activation.
  void SetUp(double sampleRate, int periodFrames);
  // A longer period than the scratch buffers hold: they grow, the sound
  // goes on.
  void FitPeriod(int periodFrames);
  // The controller number that moves each parameter (0..127), or kNoParam.
  void SetCcMap(const std::vector<int>& paramOfCc);
  const std::vector<int>& CcMap() const { return mCcMap; }
  // The default map: CC 20 + i for parameter i, as far as CC 119.
  static std::vector<int> DefaultCcMap(int paramCount);
  // A program change the audio thread could not make; -1 when none waits.
  int TakePendingProgram() { return mPendingProgram.exchange(-1, std::memory_order_acq_rel); }
  // A factory preset chosen as a program change chooses it; false when
  // there is no such preset.
  bool ChoosePreset(int idx);

  // The whole state as the plug-in bundles save it (the parameter chunk,
  // the bypass word, the tail), and back; the same bytes a host keeps for
  // Tavlo.vst3 or Tavlo.clap.
  bool SaveState(std::vector<uint8_t>& bytes);
  bool LoadState(const std::vector<uint8_t>& bytes, std::string& error);

  // Called when the editor asks for a new size (main thread).
  std::function<void(int w, int h)> onResize;

  // ---- the server's real-time thread ----
  // One MIDI message as JACK delivers it.
  struct MidiEvent
  {
    uint32_t time;  // frame within the period
    const uint8_t* data;
    size_t size;
  };
  // One period. in holds kInputs buffers, out kOutputs; midi(i, event)
  // gives the period's i-th MIDI event, in time order, for i < midiCount.
  template <class MidiSource>
  void Process(float* const* in, float* const* out, int nFrames, MidiSource& midi, uint32_t midiCount)
  {
    Schedule<MidiSource> changes(*this, midi, midiCount);
    IFxBlockGate::Entered inBlock(mPlug->BlockGate());
    if (!inBlock)
    {
      changes.ApplyDue(IFxBlockRunner::kNoneDue);
      mRunner.Silence(out, nFrames);
      return;
    }
    mRunner.Run<float>(in, out, nFrames, changes);
  }
  // A MIDI message: a control change moves the parameter mapped to it, a
  // program change chooses a factory preset. Any channel.
  void ApplyMidi(const uint8_t* data, size_t size);

  // ---- the plug-in's host ----
  EAPI GetAPI() const override { return kAPISA; }
  void BeginInformHostOfParamChange(int) override {}
  void InformHostOfParamChange(int, double) override {}
  void EndInformHostOfParamChange(int) override {}
  void InformHostOfProgramChange() override {}
  // No host to tell: the ports carry no latency of their own.
  void InformHostOfLatencyChange() override {}
  void ResizeGraphics(int w, int h) override
  {
    if (onResize) onResize(w, h);
  }
  void PopupHostContextMenuForParam(int, int, int) override {}
  bool SendMidiMsg(IMidiMsg*) override { return false; }
  bool IsRenderingOffline() override { return false; }
  void GetTime(ITimeInfo* pTimeInfo) override
  {
    if (pTimeInfo) *pTimeInfo = ITimeInfo();
  }

private:
  // The period's MIDI as the runner's schedule: each event at its frame.
  template <class MidiSource>
  class Schedule
  {
  public:
    Schedule(TavloJackEngine& owner, MidiSource& midi, uint32_t count) : mOwner(owner), mMidi(midi), mCount(count) {}
    int ApplyDue(int frame)
    {
      for (; mNext < mCount; ++mNext)
      {
        MidiEvent e;
        if (!mMidi(mNext, e)) continue;
        if ((int64_t)e.time > frame) return (int)e.time;
        mOwner.ApplyMidi(e.data, e.size);
      }
      return IFxBlockRunner::kNoneDue;
    }

  private:
    TavloJackEngine& mOwner;
    MidiSource& mMidi;
    uint32_t mCount;
    uint32_t mNext = 0;
  };

  std::unique_ptr<IFxBase> mPlug;
  IFxBlockRunner mRunner;
  // Parameter of each controller number, read on the audio thread and
  // written only before it runs.
  std::vector<int> mCcMap;
  std::atomic<int> mPendingProgram{-1};
};
