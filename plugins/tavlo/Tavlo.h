#pragma once

#include "dsp/Biquad.h"
#include "dsp/NumSmooth.h"
#include "dsp/OverSampler.h"
#include "dsp/VUClass.h"
#include "fx/IFxBase.h"
#include "fx/IParamUnit.h"
#include "tavlo/TavloBinding.h"

// Parameter indices; the same numbers are the VST 3 parameter tags and the
// LV2 control port indices.
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
extern const char kTavloVendorURL[];
extern const char kTavloVendorEmail[];
// The unit each parameter is read in by people (readouts, tools, format
// descriptions), indexed by ETavloParams. The host's labels stay "%".
extern const IParamUnit kTavloParamUnits[kNumParams];

// The stereo compressor.
class Tavlo : public TavloBinding
{
public:
  explicit Tavlo(IFxInstanceInfo instanceInfo);
  ~Tavlo() override;

  // Takes and releases the instance lock; nothing is cleared, so a host
  // re-running its set-up mid-stream causes no click.
  void Reset() override;
  // Activation puts the signal chain back as a new instance has it: hosts
  // activate again before an export and after many configuration changes,
  // and must not hear the gain reduction of whatever played before.
  void OnActivate(bool active) override;
  // While the host bypasses the plug-in the meter falls to rest.
  void OnHostBypassedBlock(int nFrames) override;
  // Caches the plain value of a changed parameter for the signal chain.
  void OnParamChange(int paramIdx) override;
  // The compressor: inputs are main L, main R, side-chain L, side-chain R.
  void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override;
  // The gain-reduction meter, for hosts that show plug-in outputs.
  int MeterCount() const override { return 1; }
  IFxMeterInfo GetMeterInfo(int idx) const override;
  double GetMeterValue(int idx) const override;

  // Cached values, for inspection.
  double GetOutputGain() const { return mOutputGain; }
  double GetInput() const { return mInput; }
  double GetAttack() const { return mAttack; }
  double GetRelease() const { return mRelease; }
  double GetMix() const { return mMix; }
  double GetHpfFreq() const { return mHpfFreq; }
  double GetGainState() const { return mGainState; }
  int GetMeterIdx() const { return mMeterIdx; }

  // Signal-chain state, for inspection.
  float GetSmoothedGain() const { return mGainSmoother.GetState(); }
  double GetMeterState() const { return mMeter.GetState(); }
  const Biquad& GetDetectorFilter() const { return mDetectorFilter; }
  const OverSampler<double>& GetPreampOsL() const { return mPreampOsL; }
  const OverSampler<double>& GetPreampOsR() const { return mPreampOsR; }
  const OverSampler<double>& GetDryOsL() const { return mDryOsL; }
  const OverSampler<double>& GetDryOsR() const { return mDryOsR; }

private:
  // Creates the editor, attaches its controls and hands it to the base.
  void BuildEditor();

  // Smooths the ballistic gain before it touches the signal. It starts at
  // unity, as the ballistic gain does, so nothing fades in.
  static constexpr float kSmootherPole = 0.99f;
  static constexpr float kSmootherStart = 1.0f;
  NumSmooth mGainSmoother{kSmootherPole, kSmootherStart};
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
  VUClass mMeter{1.0};     // starts at full deflection and falls to rest
  Biquad mDetectorFilter;  // high-pass in the detector path
  // Between the processed signal (A) and the input (B) as Bypass asks.
  IFxFade mBypassFade;
  // Always switched together, so all four share one factor. Destroyed in
  // reverse order of declaration.
  OverSampler<double> mPreampOsL{OverSampler<double>::kNone, true, 1};
  OverSampler<double> mPreampOsR{OverSampler<double>::kNone, true, 1};
  OverSampler<double> mDryOsL{OverSampler<double>::kNone, true, 1};
  OverSampler<double> mDryOsR{OverSampler<double>::kNone, true, 1};

  // Values derived from the sample rate and the cached parameters. They are
  // recomputed only when one of those inputs changes; the results are the
  // same numbers a per-sample recomputation gives.
  struct ChainCoefs
  {
    bool valid = false;
    double sampleRate = 0.0, input = 0.0, attackTime = 0.0, releaseTime = 0.0, hpfFreq = 0.0;
    double c = 0.0, oneMinusC = 0.0, threshold = 0.0, drive = 0.0;
    double attack = 0.0, release = 0.0, meterCoef = 0.0;
  };
  void UpdateChainCoefs(double sampleRate);
  ChainCoefs mCoefs;

  // Per-chunk scratch of the signal chain: the detector and gain computer
  // run over a chunk before the ballistics, so that long per-frame chains
  // of independent work do not serialise the whole frame.
  static constexpr int kChunk = 256;
  // Oversampled runs go in pieces of this many frames, so their working
  // buffers stay in the first-level cache.
  static constexpr int kOsChunk = 128;
  static constexpr int kOsWorkSize = 2 * 6 * kOsChunk + 2 * 4 * kOsChunk + 4 * 2 * kOsChunk + 8 * 64;
  struct ChainScratch
  {
    // The odd padding keeps arrays that are written and read in the same
    // loop from sharing their address bits below 4 KiB, which the processor
    // would otherwise take for a dependency between them.
    float d[kChunk + 16];
    double g[kChunk + 8];
    double pL[kChunk + 8], pR[kChunk + 24], dL[kChunk + 40], dR[kChunk + 56];
    double osWork[kOsWorkSize];
  };
  ChainScratch mScratch;
};

// Creates one instance; construction is serialised across threads.
TavloBinding* MakePlug();
// Module start and end hooks.
bool InitModule();
bool DeinitModule();
