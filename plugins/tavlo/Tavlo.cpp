#include "tavlo/Tavlo.h"

#include <algorithm>
#include <cmath>

#include "fx/IParam.h"
#include "kit/KitMutex.h"

const char kTavloChannelIO[] = "2-2 4-2";
const char kTavloEffectName[] = "Tavlo";
const char kTavloProductName[] = "";
const char kTavloMfrName[] = "Quillmarshworks";
const char kTavloVendorURL[] = "https://quillmarshworks.example";
const char kTavloVendorEmail[] = "support@quillmarshworks.example";

// Each chosen by measurement (tavlo-render on the embedded drum loop, peak
// -0.3 dBFS, and on generated single sources peaking at -6 dBFS); the
// figures are in docs/character.md.
const TavloPreset kTavloPresets[kTavloNumPresets] = {
  // name, description,
  //   input, output dB, attack s, release s, mix %, hpf Hz, oversample
  {"Default", "every control at its default: Input 0 compresses nothing; the place to start",
   0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0},
  {"Drum Bus Glue", "drum bus: about 2 dB of slow-attack glue that lets the hits through; the kick's lows do not drive it",
   70.0, 0.0, 0.010, 0.2, 100.0, 90.0, 0},
  {"Drum Room Crush", "room mics or a drum bus crushed flat, the hits' first milliseconds left standing; blend in with the fader",
   180.0, 2.0, 0.0001, 0.1, 100.0, 20.0, 0},
  {"Parallel Crush", "a third of a crushed drum bus under the dry one: density without losing the hits",
   300.0, 2.0, 0.0001, 0.1, 35.0, 20.0, 0},
  {"Kick & Snare Punch", "kick or snare: slow attack and quick release lift each hit above its body",
   180.0, 4.0, 0.010, 0.1, 100.0, 20.0, 0},
  {"Bass Steady", "bass: evens out the notes, about 4 dB on a part peaking at -6 dBFS",
   130.0, 5.0, 0.003, 0.25, 100.0, 20.0, 0},
  {"Lead Vocal", "lead vocal: catches loud syllables and evens out phrases; ignores plosive rumble below 100 Hz",
   160.0, 6.5, 0.002, 0.15, 100.0, 100.0, 0},
  {"Acoustic Guitar", "acoustic guitar: steadies the strumming without hearing the body's boom below 120 Hz",
   140.0, 3.0, 0.005, 0.2, 100.0, 120.0, 0},
  {"Piano", "piano: tames the loudest notes, slow enough to keep their attack and long enough to keep the decay",
   160.0, 3.5, 0.008, 0.35, 100.0, 60.0, 0},
  {"Mix Bus Glue", "mix bus: 1 to 2 dB of slow glue that the bass line does not drive",
   80.0, 1.5, 0.010, 0.4, 100.0, 150.0, 0},
  {"Gentle Leveller", "vocal or voice-over: rides the level phrase by phrase, slow in and slower out",
   130.0, 5.0, 0.010, 0.5, 100.0, 80.0, 0},
  {"Aggressive Character", "drums or synths squashed and pumping through the oversampled curve, the hits poking out",
   120.0, 0.5, 0.0001, 0.1, 100.0, 20.0, 1},
};

TavloParamTable::TavloParamTable()
  : IFxBase(kNumParams, kTavloChannelIO, kTavloNumPresets, kTavloEffectName, kTavloProductName, kTavloMfrName,
            kTavloVersion, kTavloUniqueID, kTavloMfrID, kTavloLatency, false, false, false, kAPISA,
            kTavloSidechainChannels)
{
  DeclareTavloParams(this);
  SetFirstAppendedParam(kTavloFirstAppendedParam);
  // The first preset captures the defaults just declared; the others are
  // values only, so a saved project never depends on a preset's index.
  MakeDefaultPreset(kTavloPresets[0].name, 1);
  for (int i = 1; i < kTavloNumPresets; ++i)
  {
    // Every value in parameter order, as MakePreset writes them.
    double values[kNumParams];
    TavloPresetValues(i, values);
    ByteChunk chunk;
    for (double v : values) chunk.Append(v);
    MakePresetFromChunk(kTavloPresets[i].name, &chunk);
  }
}

Tavlo::Tavlo(IFxInstanceInfo) {}

Tavlo::~Tavlo() {}

void Tavlo::Reset()
{
  KitMutexLock lock(GetMutex());
  // Set-up, with no block running: the chain works at the new rate from the
  // next block on, whatever that block takes.
  TavloChainSettings s = mChain.GetSettings();
  s.sampleRate = GetSampleRate();
  mChain.SetSettings(s);
  UpdateTail();
}

void Tavlo::UpdateTail()
{
  const bool oversampled = ParamAt(kOversample)->GetValue() >= 0.5;
  const double seconds = kTavloTailSeconds + (oversampled ? kTavloOversampleRingSeconds : 0.0);
  SetTailSize((unsigned int)std::ceil(seconds * GetSampleRate()));
}

void Tavlo::OnParamChange(int paramIdx)
{
  IParam* pParam = ParamAt(paramIdx);
  if (!pParam) return;
  double value = pParam->GetValue();

  // Oversample, Bypass, Sidechain, Detector and Listen are read from their
  // parameters at the start of every block; Oversample changes what hosts are told.
  switch (paramIdx)
  {
    case kOversample:
      ChangeLatency(value >= 0.5 ? kTavloOversampleLatency : 0);
      UpdateTail();
      break;
    case kInput: mInput = value; break;
    case kOutput: mOutputGain = tavloeq::OutputGain(value); break;
    case kAttack: mAttack = value; break;
    case kRelease: mRelease = value; break;
    case kMix: mMix = value; break;
    case kHPF: mHpfFreq = value; break;
    default: break;
  }
}

namespace {
const IParamUnit kGainDbUnit = {"dB", 1.0, 1, nullptr, nullptr, "gain reduction"};
}

double TavloMeterToGainDb(double meter)
{
  const double gain = 1.0 - meter;
  return 20.0 * std::log10(gain > 0.001 ? gain : 0.001);
}

IFxMeterInfo TavloParamTable::GetMeterInfo(int idx) const
{
  IFxMeterInfo info;
  if (idx == 0)
  {
    info.name = "Gain reduction";
    info.symbol = "gain_reduction";
    info.controlIdx = kTavloMeterControl;
    info.comment = "the editor's meter: 0 at rest, 1 at full scale";
  }
  else if (idx == 1)
  {
    info.name = "Gain reduction (dB)";
    info.symbol = "gain_reduction_db";
    info.minimum = -60.0;
    info.maximum = 0.0;
    info.unit = &kGainDbUnit;
    info.comment = "the meter in dB, as the editor writes it under the needle: 0 at rest, "
                   "-6 for 6 dB of gain reduction";
    info.appended = true;
  }
  return info;
}

double TavloParamTable::GetMeterValue(int idx) const
{
  const double needle = mNeedle.load(std::memory_order_relaxed);
  if (idx == 0) return needle;
  if (idx == 1) return TavloMeterToGainDb(needle);
  return 0.0;
}

bool TavloParamTable::SetMeterValue(int idx, double value)
{
  // Reported by a host: only a needle in its range moves the needle (the dB
  // meter follows it; the editor shows the needle).
  if (idx != 0 || !std::isfinite(value)) return false;
  mNeedle.store(std::min(1.0, std::max(0.0, value)), std::memory_order_relaxed);
  return true;
}

double Tavlo::GetMeterValue(int idx) const
{
  // The needle's position: 0 at rest, 1 for the full scale of reduction.
  if (idx == 0) return mChain.MeterValue();
  if (idx == 1) return TavloMeterToGainDb(mChain.MeterValue());
  return 0.0;
}

TavloChainSettings Tavlo::NextBlockSettings() const
{
  TavloChainSettings s;
  s.sampleRate = GetSampleRate();
  s.input = mInput.load(std::memory_order_relaxed);
  s.outputGain = mOutputGain.load(std::memory_order_relaxed);
  s.attack = mAttack.load(std::memory_order_relaxed);
  s.release = mRelease.load(std::memory_order_relaxed);
  s.mix = mMix.load(std::memory_order_relaxed);
  s.hpfFreq = mHpfFreq.load(std::memory_order_relaxed);
  s.oversample = static_cast<int>(ParamAt(kOversample)->GetValue());
  s.bypass = static_cast<int>(ParamAt(kBypass)->GetValue());
  s.sidechain = static_cast<int>(ParamAt(kSidechain)->GetValue());
  s.detector = static_cast<int>(ParamAt(kDetector)->GetValue());
  s.listen = static_cast<int>(ParamAt(kListen)->GetValue());
  return s;
}

void Tavlo::ReadBlockParams()
{
  mBlockSettings = NextBlockSettings();
}

void Tavlo::UseBlockParams()
{
  mChain.SetSettings(mBlockSettings);
}

bool Tavlo::BlockReadsInput(int c) const
{
  // The side-chain feeds only the detector, which hears the channels
  // Detector names when the Sidechain switch selects it: the settings the
  // block runs with.
  if (c < 2)
    return true;
  const TavloChainSettings& s = mChain.GetSettings();
  if (s.sidechain != 0 || c > 3)
    return false;
  return s.detector == kDetectLinked || s.detector == kDetectMid || (c == 2) == (s.detector == kDetectLeft);
}

void Tavlo::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames)
{
  if (nFrames < 1 || !inputs || !outputs)
    return;
  mChain.Process(inputs, outputs, nFrames);
}

void Tavlo::OnActivate(bool active)
{
  IFxBase::OnActivate(active);
  if (!active)
    return;
  KitMutexLock lock(GetMutex());
  mChain.Restart();
}

void Tavlo::ProcessHostBypassed(double** inputs, double** outputs, int nFrames)
{
  if (nFrames < 1 || !inputs || !outputs)
    return;
  mChain.ProcessUnheard(inputs, outputs, nFrames);
}

IFxBase* MakePlug()
{
  // Some hosts create instances from several threads at once.
  static KitMutex sCreateLock;
  KitMutexLock lock(&sCreateLock);
  IFxInstanceInfo info;
  return new Tavlo(info);
}

IFxBase* MakeParamTable()
{
  return new TavloParamTable();
}

bool InitModule()
{
  return true;
}

bool DeinitModule()
{
  return true;
}
