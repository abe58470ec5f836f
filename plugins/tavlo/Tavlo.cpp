#include "tavlo/Tavlo.h"

#include <cmath>

#include "fx/IParam.h"
#include "kit/KitMutex.h"

const char kTavloChannelIO[] = "2-2 4-2";
const char kTavloEffectName[] = "Tavlo";
const char kTavloProductName[] = "";
const char kTavloMfrName[] = "Quillmarshworks";
const char kTavloVendorURL[] = "https://quillmarshworks.example";
const char kTavloVendorEmail[] = "support@quillmarshworks.example";

const IParamUnit kTavloParamUnits[kNumParams] = {
  // unit, scale, decimals, off, on, description
  {"", 1.0, 0, nullptr, nullptr,
   "threshold and drive together: compression starts near 50 on full-scale material, "
   "100 is moderate, 200 heavy"},
  {"dB", 1.0, 1, nullptr, nullptr, "make-up gain after the mix"},
  {"ms", 1000.0, 1, nullptr, nullptr, "how fast gain reduction sets in"},
  {"ms", 1000.0, 0, nullptr, nullptr, "how fast the gain recovers"},
  {"%", 1.0, 0, nullptr, nullptr, "share of the compressed signal (0 = dry, 100 = fully compressed)"},
  {"Hz", 1.0, 0, nullptr, nullptr, "high-pass corner of the detector, so bass pumps it less"},
  {"", 1.0, 0, "Off", "On", "four-times oversampling of the signal path"},
  {"", 1.0, 0, "Off", "On", "passes the input through untouched"},
  {"", 1.0, 0, "External", "Internal",
   "what the detector listens to: 1 = the main input (internal), 0 = the side-chain input (external)"},
};

void DeclareTavloParam(IParam* p, int idx)
{
  switch (idx)
  {
    case kBypass: p->InitInt("Bypass", 0, 0, 1, "", ""); break;
    case kOversample: p->InitInt("Oversample", 0, 0, 1, "", ""); break;
    case kSidechain: p->InitInt("Sidechain", 1, 0, 1, "", ""); break;
    case kOutput:
      p->InitDouble("Output", 0.0, -20.0, 20.0, 0.01, "%", "");
      p->SetShape(1.0);
      break;
    case kInput:
      p->InitDouble("Input", 0.0, 0.0, 400.0, 0.01, "%", "");
      p->SetShape(1.0);
      break;
    // Shape 2 gives the short times more of the knob's travel.
    case kAttack:
      p->InitDouble("Attack", 0.005, 0.0001, 0.01, 0.01, "%", "");
      p->SetShape(2.0);
      break;
    case kRelease:
      p->InitDouble("Release", 0.3, 0.1, 0.5, 0.01, "%", "");
      p->SetShape(2.0);
      break;
    case kMix:
      p->InitDouble("Mix", 100.0, 0.0, 100.0, 0.01, "%", "");
      p->SetShape(1.0);
      break;
    case kHPF:
      p->InitDouble("HPF", 20.0, 20.0, 500.0, 0.01, "%", "");
      p->SetShape(1.0);
      break;
    default: return;
  }
  p->SetUnit(&kTavloParamUnits[idx]);
}

void DeclareTavloParams(IFxBase* pPlug)
{
  // The switches first, then the continuous controls; the order is part of
  // how the instance has always been built.
  for (int idx : {kBypass, kOversample, kSidechain, kOutput, kInput, kAttack, kRelease, kMix, kHPF})
    DeclareTavloParam(pPlug->ParamAt(idx), idx);
}

Tavlo::Tavlo(IFxInstanceInfo)
  : IFxBase(kNumParams, kTavloChannelIO, kTavloNumPresets, kTavloEffectName, kTavloProductName, kTavloMfrName,
            kTavloVersion, kTavloUniqueID, kTavloMfrID, kTavloLatency, false, false, false, kAPISA,
            kTavloSidechainChannels)
{
  DeclareTavloParams(this);
  MakeDefaultPreset("-", 1);
}

Tavlo::~Tavlo() {}

void Tavlo::Reset()
{
  KitMutexLock lock(GetMutex());
}

void Tavlo::OnParamChange(int paramIdx)
{
  KitMutexLock lock(GetMutex());
  IParam* pParam = ParamAt(paramIdx);
  if (!pParam) return;
  double value = pParam->GetValue();

  // Oversample, Bypass and Sidechain are read from their parameters at the
  // start of every block, so they need nothing here.
  switch (paramIdx)
  {
    case kInput: mInput = value; break;
    case kOutput: mOutputGain = std::pow(10.0, value / 20.0); break;
    case kAttack: mAttack = value; break;
    case kRelease: mRelease = value; break;
    case kMix: mMix = value; break;
    case kHPF: mHpfFreq = value; break;
    default: break;
  }
}

IFxMeterInfo Tavlo::GetMeterInfo(int idx) const
{
  IFxMeterInfo info;
  if (idx == 0)
  {
    info.name = "Gain reduction";
    info.symbol = "gain_reduction";
    info.controlIdx = kTavloMeterControl;
  }
  return info;
}

double Tavlo::GetMeterValue(int idx) const
{
  // The needle's position: 0 at rest, 1 for the full scale of reduction.
  return idx == 0 ? mChain.MeterValue() : 0.0;
}

TavloChainSettings Tavlo::NextBlockSettings() const
{
  TavloChainSettings s;
  s.sampleRate = GetSampleRate();
  s.input = mInput;
  s.outputGain = mOutputGain;
  s.attack = mAttack;
  s.release = mRelease;
  s.mix = mMix;
  s.hpfFreq = mHpfFreq;
  s.oversample = static_cast<int>(ParamAt(kOversample)->GetValue());
  s.bypass = static_cast<int>(ParamAt(kBypass)->GetValue());
  s.sidechain = static_cast<int>(ParamAt(kSidechain)->GetValue());
  return s;
}

void Tavlo::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames)
{
  if (nFrames < 1 || !inputs || !outputs)
    return;
  mChain.SetSettings(NextBlockSettings());
  mChain.Process(inputs, outputs, nFrames);
  if (IFxEditor* pEditor = GetGraphics())
    pEditor->SetControlFromPlug(kTavloMeterControl, mChain.MeterValue());
}

void Tavlo::OnActivate(bool active)
{
  IFxBase::OnActivate(active);
  if (!active)
    return;
  KitMutexLock lock(GetMutex());
  mChain.SetSettings(NextBlockSettings());
  mChain.Restart();
}

void Tavlo::OnHostBypassedBlock(int nFrames)
{
  mChain.SetSettings(NextBlockSettings());
  mChain.RestMeter(nFrames);
  if (IFxEditor* pEditor = GetGraphics())
    pEditor->SetControlFromPlug(kTavloMeterControl, mChain.MeterValue());
}

IFxBase* MakePlug()
{
  // Some hosts create instances from several threads at once.
  static KitMutex sCreateLock;
  KitMutexLock lock(&sCreateLock);
  IFxInstanceInfo info;
  return new Tavlo(info);
}

bool InitModule()
{
  return true;
}

bool DeinitModule()
{
  return true;
}
