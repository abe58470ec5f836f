#pragma once

#include <atomic>

#include "fx/IFxBase.h"
#include "tavlo/chain/TavloChain.h"
#include "tavlo/TavloParams.h"

// Tavlo without its signal path: identity, parameters, presets, state and
// the meters' descriptions, with meter values that are reported to it. The
// model of an editor that runs apart from the audio (an LV2 UI, a snapshot).
class TavloParamTable : public IFxBase
{
public:
  TavloParamTable();

  int MeterCount() const override { return 2; }
  IFxMeterInfo GetMeterInfo(int idx) const override;
  // The value last reported; the dB meter follows the needle's.
  double GetMeterValue(int idx) const override;
  bool SetMeterValue(int idx, double value) override;
  // The oversamplers' delay while Oversample is on: the same for the table
  // as for an instance, so that every description of the ports agrees.
  int MaxLatency() const override { return kTavloOversampleLatency; }

private:
  std::atomic<double> mNeedle{0.0};
};

// The stereo compressor: parameters, state and the signal chain, in no
// plug-in format. A binding (VST 3, LV2) owns an instance and presents it.
class Tavlo : public TavloParamTable
{
public:
  explicit Tavlo(IFxInstanceInfo instanceInfo);
  ~Tavlo() override;

  // The chain takes the new sample rate; nothing is cleared, so a host
  // re-running its set-up mid-stream causes no click.
  void Reset() override;
  // Activation puts the signal chain back as a new instance has it: hosts
  // activate again before an export and after many configuration changes,
  // and must not hear the gain reduction of whatever played before.
  void OnActivate(bool active) override;
  // While the host bypasses the plug-in the chain keeps hearing the input,
  // so that leaving the bypass resumes with the gain the present asks for;
  // its output is discarded and the meter falls to rest.
  bool HearsInputWhileHostBypassed() const override { return true; }
  void ProcessHostBypassed(double** inputs, double** outputs, int nFrames) override;
  // Caches the plain value of a changed parameter for the signal chain.
  // Any thread: the next block takes it.
  void OnParamChange(int paramIdx) override;
  // The chain is fed once per block: the cached values, the switches as
  // their parameters stand, the sample rate.
  void ReadBlockParams() override;
  void UseBlockParams() override;
  bool BlockReadsInput(int c) const override;
  // The compressor: inputs are main L, main R, side-chain L, side-chain R.
  void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override;
  // The gain-reduction meter, for hosts that show plug-in outputs and for
  // the editor's timer tick: the needle's 0..1 as the chain published it at
  // the end of its last block, and the same in dB as the editor writes it.
  double GetMeterValue(int idx) const override;
  bool SetMeterValue(int, double) override { return false; }

  // What the next block will be fed.
  TavloChainSettings NextBlockSettings() const;
  const TavloChain& Chain() const { return mChain; }

private:
  // What hosts are told follows: frames after the last input, by rate and
  // Oversample. Any thread.
  void UpdateTail();

  TavloChain mChain;
  TavloChainSettings mBlockSettings;  // read for the block, audio thread only

  // Parameter values as the chain reads them, cached by OnParamChange on
  // any thread. Linear make-up gain 0 until the first change of Output, so
  // blocks processed before preset 0 is restored are silent.
  std::atomic<double> mOutputGain{0.0};
  std::atomic<double> mInput{-10.0};
  std::atomic<double> mAttack{0.0};    // seconds
  std::atomic<double> mRelease{0.0};   // seconds
  std::atomic<double> mMix{100.0};     // percent
  std::atomic<double> mHpfFreq{20.0};  // Hz
};

// Module start and end hooks.
bool InitModule();
bool DeinitModule();
