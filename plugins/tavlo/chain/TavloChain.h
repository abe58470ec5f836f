#pragma once

// The compressor's signal chain: a detector through a high-pass into the
// stored curve, a gain computer with attack and release, the preamp and dry
// strands (oversampled four times when asked), the smoothed gain, the mix,
// the output gain, the Bypass switch and the gain-reduction meter, as
// TavloEquations.h states them, run a chunk at a time by the kernels of the
// processor's path. A plain class with its own state: it knows nothing of
// parameters, hosts or editors. Its owner feeds it the values of a block
// before the block, and reads back the meter it publishes.

#include <atomic>

#include "dsp/Biquad.h"
#include "dsp/NumSmooth.h"
#include "dsp/OverSampler.h"
#include "dsp/VUClass.h"
#include "fx/IFxFade.h"
#include "tavlo/chain/TavloChainSettings.h"
#include "tavlo/chain/TavloEquations.h"
#include "tavlo/chain/kernels/TavloSerialKernels.h"
#include "tavlo/chain/kernels/TavloStrandKernels.h"

struct TavloKernels;

class TavloChain
{
public:
  TavloChain();
  TavloChain(const TavloChain&) = delete;
  TavloChain& operator=(const TavloChain&) = delete;

  // The values of the blocks from now on.
  void SetSettings(const TavloChainSettings& settings) { mSettings = settings; }
  const TavloChainSettings& GetSettings() const { return mSettings; }

  // One block: inputs main L, main R, side-chain L, side-chain R (a null
  // side-chain right reads silence), outputs L, R. Allocates nothing.
  void Process(double** inputs, double** outputs, int nFrames);
  // Frames the host bypasses: the chain runs as Process (the detector and
  // the gain follow the input), its outputs are for discarding, and the
  // meter falls as it would with no gain reduction.
  void ProcessUnheard(double** inputs, double** outputs, int nFrames);
  // The meter falling for frames with no gain reduction; nothing else runs.
  void RestMeter(int nFrames);
  // Back to how a new chain starts: no reduction, filters and oversamplers
  // cleared, the meter at full deflection, Bypass where the settings are.
  // The published meter value stays until the next block.
  void Restart();

  // The meter after the last block: the needle's position, 0 at rest and 1
  // for the full scale of reduction; 0 before any block. Any thread.
  double MeterValue() const { return mMeterOut.load(std::memory_order_relaxed); }

  // State, for inspection.
  double GainState() const { return mGainState; }
  float SmoothedGain() const { return mGainSmoother.GetState(); }
  double MeterState() const { return mMeter.GetState(); }
  const Biquad& DetectorFilter() const { return mDetectorFilter; }
  const OverSampler<double>& PreampOsL() const { return mPreampOsL; }
  const OverSampler<double>& PreampOsR() const { return mPreampOsR; }
  const OverSampler<double>& DryOsL() const { return mDryOsL; }
  const OverSampler<double>& DryOsR() const { return mDryOsR; }

private:
  // Values derived from the settings. They are recomputed only when one of
  // their inputs changes; the results are the same numbers a per-sample
  // recomputation gives.
  struct Coefs
  {
    bool valid = false;
    double sampleRate = 0.0, input = 0.0, attackTime = 0.0, releaseTime = 0.0, hpfFreq = 0.0;
    double c = 0.0, oneMinusC = 0.0, threshold = 0.0, drive = 0.0;
    double attack = 0.0, release = 0.0, meterCoef = 0.0;
    double releaseRecip = 1.0, releaseRecipLow = 0.0;  // 1 / release as two doubles
  };
  void UpdateCoefs();

  // What the detector hears in a block: the channel its filter runs on
  // (the right, the left, or their mid), and with Linked the left besides.
  struct DetectorSources
  {
    const double* hearL;
    const double* hearR;
    int mode;
  };
  DetectorSources SourcesOf(double** inputs) const;
  // Frames [start, start + n) of the source of the detector's filter, or of
  // the left one's (Linked); null for silence.
  const double* MainSource(const DetectorSources& src, int start, int n);
  static const double* LeftSource(const DetectorSources& src, int start);

  // The stages of a block, in order.
  void SwitchOversampling();
  void SwitchDetector();
  TavloChunkSerial SerialStart();
  bool FirstDetector(const TavloKernels& kn, double** inputs, const DetectorSources& src, int nFrames,
                     TavloChunkSerial& serial);
  bool GainTargets(const TavloKernels& kn, int cur, const double* L, const double* R, int n, double gainState);
  void SerialBesideNextDetector(const TavloKernels& kn, TavloChunkSerial& serial, bool quiet,
                                const DetectorSources& src, int start, int nNext, int next);
  void MixChunk(const TavloKernels& kn, int cur, const double* L, const double* R, double* outL, double* outR, int n);
  void SerialEnd(const TavloChunkSerial& serial);
  tavlokernels::StrandOversamplers Oversamplers() { return {mPreampOsL, mPreampOsR, mDryOsL, mDryOsR}; }

  TavloChainSettings mSettings;
  Coefs mCoefs;

  NumSmooth mGainSmoother{tavloeq::kSmootherPole, tavloeq::kSmootherStart};
  double mGainState = 1.0;  // ballistic gain, 1 = no reduction
  VUClass mMeter{tavloeq::kMeterStart};
  std::atomic<double> mMeterOut{0.0};
  Biquad mDetectorFilter;  // high-pass in the detector path
  // Linked: the left channel's high-pass; cleared whenever the detector's
  // mode changes, so a return to Linked does not hear the past.
  Biquad mLeftFilter;
  int mDetector = kDetectRight;
  // Between the processed signal (A) and what the detector hears (B) as
  // Listen asks, and between that and the input (B) as Bypass asks.
  IFxFade mListenFade, mBypassFade;
  // Always switched together, so all four share one factor: none or four
  // times, so no buffers for higher rates are kept. Destroyed in reverse
  // order of declaration.
  static constexpr OverSampler<double>::EFactor kNoOs = OverSampler<double>::kNone;
  static constexpr OverSampler<double>::EFactor kTopOs = OverSampler<double>::k4x;
  OverSampler<double> mPreampOsL{kNoOs, true, 1, kTopOs};
  OverSampler<double> mPreampOsR{kNoOs, true, 1, kTopOs};
  OverSampler<double> mDryOsL{kNoOs, true, 1, kTopOs};
  OverSampler<double> mDryOsR{kNoOs, true, 1, kTopOs};

  // The block goes in chunks. The detector's high-pass for the next chunk
  // runs in the same loop as this chunk's ballistics, so that the two
  // recurrences, each a long chain of dependent operations, overlap; the
  // gain computer, the strands and the mix run over a chunk at a time.
  static constexpr int kChunk = 128;
  struct Scratch
  {
    // The odd padding keeps arrays that are written and read in the same
    // loop from sharing their address bits below 4 KiB, which the processor
    // would otherwise take for a dependency between them.
    float d[2][kChunk + 16];      // detector, this chunk's and the next one's
    float dLeft[2][kChunk + 48];  // Linked: the left channel's
    double mid[kChunk + 72];      // Mid: the next chunk's source
    // The gain computer's envelope and the frames where it is over the
    // threshold (listed in above, flagged in reduce). For every frame, an
    // interval holding the target gain: [1, 1] with no reduction, NaN bounds
    // where only the exact target will do.
    double env[kChunk + 56];
    unsigned short above[kChunk + 8];
    unsigned char reduce[kChunk + 16];
    double lo[kChunk + 24], hi[kChunk + 40];
    // The frames over the threshold packed together for the estimate, with
    // room for a last group of four.
    double pe[kChunk + 4], pl[kChunk + 12], pr[kChunk + 20], plo[kChunk + 28], phi[kChunk + 76];
    float y[kChunk + 200];  // the smoothed gain
    // The next chunk's detector: its input's products with the filter's
    // feed-forward coefficients, and the filter's outputs.
    double xa0[kChunk + 8], xa1[kChunk + 88], xa2[kChunk + 104], dOut[kChunk + 120];
    double xb0[kChunk + 136], xb1[kChunk + 152], xb2[kChunk + 168], dOut2[kChunk + 184];
    double pL[kChunk + 8], pR[kChunk + 24], dL[kChunk + 40], dR[kChunk + 56];
    double osWork[tavlokernels::kStrandWorkSize];
  };
  Scratch mScratch;
};
