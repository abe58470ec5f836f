#pragma once

#include "fx/IFxBase.h"
#include "tavlo/IFxVST3Standin.h"

// Parameter indices; the same numbers are the VST 3 parameter tags.
enum ETavloParams
{
  kInput = 0,
  kOutput,
  kAttack,
  kRelease,
  kMix,
  kHPF,
  kOversample,
  kBypass,
  kSidechain,
  kNumParams
};

// Identity of the plug-in.
constexpr int kTavloVersion = 0x00030300;   // 3.3.0
constexpr int kTavloUniqueID = 0x54617631;  // 'Tav1'
constexpr int kTavloMfrID = 0x5175696c;     // 'Quil'
constexpr int kTavloNumPresets = 1;
constexpr int kTavloLatency = 0;
constexpr int kTavloSidechainChannels = 2;
extern const char kTavloChannelIO[];        // "2-2 4-2": stereo, or stereo plus side-chain
extern const char kTavloEffectName[];
extern const char kTavloProductName[];
extern const char kTavloMfrName[];

// The stereo compressor.
class Tavlo : public IFxVST3
{
public:
  explicit Tavlo(IFxInstanceInfo instanceInfo);
  ~Tavlo() override;

  // Takes and releases the instance lock; nothing is cleared, so a host
  // re-running its set-up mid-stream causes no click.
  void Reset() override;
  // Caches the plain value of a changed parameter for the signal chain.
  void OnParamChange(int paramIdx) override;

  // Cached values, for inspection.
  double GetOutputGain() const { return mOutputGain; }
  double GetInput() const { return mInput; }
  double GetAttack() const { return mAttack; }
  double GetRelease() const { return mRelease; }
  double GetMix() const { return mMix; }
  double GetHpfFreq() const { return mHpfFreq; }
  double GetGainState() const { return mGainState; }
  int GetMeterIdx() const { return mMeterIdx; }

private:
  // Creates the editor, attaches its controls and hands it to the base.
  void BuildEditor();

  // Linear make-up gain; 0 until the first change of Output, so blocks
  // processed before preset 0 is restored are silent.
  double mOutputGain = 0.0;
  double mInput = -10.0;
  double mAttack = 0.0;    // seconds
  double mRelease = 0.0;   // seconds
  double mMix = 100.0;     // percent
  double mHpfFreq = 20.0;  // Hz
  double mGainState = 1.0; // ballistic gain, 1 = no reduction
  int mMeterIdx = -1;      // editor index of the gain-reduction meter
};

// Creates one instance; construction is serialised across threads.
IFxVST3* MakePlug();
// Module start and end hooks.
bool InitModule();
bool DeinitModule();
