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
  // unit, scale, decimals, off, on, description, logarithmic
  {"", 1.0, 0, nullptr, nullptr,
   "threshold and drive together, neither a threshold nor a ratio: compression starts near 50 on "
   "full-scale material, 100 is moderate, 200 heavy, and above the knee louder comes out quieter "
   "(tavlo-render --curve draws it)",
   false},
  {"dB", 1.0, 1, nullptr, nullptr, "make-up gain after the mix", false},
  {"ms", 1000.0, 1, nullptr, nullptr, "how fast gain reduction sets in", true},
  {"ms", 1000.0, 0, nullptr, nullptr, "how fast the gain recovers", true},
  {"%", 1.0, 0, nullptr, nullptr, "share of the compressed signal (0 = dry, 100 = fully compressed)", false},
  {"Hz", 1.0, 0, nullptr, nullptr, "high-pass corner of the detector, so bass pumps it less", true},
  {"", 1.0, 0, "Off", "On",
   "four-times oversampling of the signal path; its filters are not linear-phase, so material near "
   "full scale can peak above 0 dBFS (the demo loop, peak -0.3 dBFS, at +2.5 dBFS; full-band noise "
   "at 0.999 at +7.7 dBFS): turn Output down by as much",
   false},
  {"", 1.0, 0, "Off", "On", "passes the input through untouched", false},
  {"", 1.0, 0, "External", "Internal",
   "what the detector listens to: the right channel only, of the main input (1, internal) or of "
   "the side-chain input (0, external); feed a key to the right side-chain channel, or to both",
   false},
};

Tavlo::Tavlo(IFxInstanceInfo instanceInfo)
  : TavloBinding(instanceInfo, kNumParams, kTavloChannelIO, kTavloNumPresets, kTavloEffectName,
            kTavloProductName, kTavloMfrName, kTavloVersion, kTavloUniqueID, kTavloMfrID,
            kTavloLatency, false, false, false, kTavloSidechainChannels)
{
  // The switches first, then the continuous controls; the order is part of
  // how the instance has always been built.
  ParamAt(kBypass)->InitInt("Bypass", 0, 0, 1, "", "");
  ParamAt(kOversample)->InitInt("Oversample", 0, 0, 1, "", "");
  ParamAt(kSidechain)->InitInt("Sidechain", 1, 0, 1, "", "");

  ParamAt(kOutput)->InitDouble("Output", 0.0, -20.0, 20.0, 0.01, "%", "");
  ParamAt(kOutput)->SetShape(1.0);
  ParamAt(kInput)->InitDouble("Input", 0.0, 0.0, 400.0, 0.01, "%", "");
  ParamAt(kInput)->SetShape(1.0);
  // Shape 2 gives the short times more of the knob's travel.
  ParamAt(kAttack)->InitDouble("Attack", 0.005, 0.0001, 0.01, 0.01, "%", "");
  ParamAt(kAttack)->SetShape(2.0);
  ParamAt(kRelease)->InitDouble("Release", 0.3, 0.1, 0.5, 0.01, "%", "");
  ParamAt(kRelease)->SetShape(2.0);
  ParamAt(kMix)->InitDouble("Mix", 100.0, 0.0, 100.0, 0.01, "%", "");
  ParamAt(kMix)->SetShape(1.0);
  ParamAt(kHPF)->InitDouble("HPF", 20.0, 20.0, 500.0, 0.01, "%", "");
  ParamAt(kHPF)->SetShape(1.0);

  for (int i = 0; i < kNumParams; ++i) ParamAt(i)->SetUnit(&kTavloParamUnits[i]);

  BuildEditor();

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

  // Oversample, Bypass and Sidechain are read from their parameters on
  // every sample, so they need nothing here.
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

namespace {
const IParamUnit kGainDbUnit = {"dB", 1.0, 1, nullptr, nullptr, "gain reduction"};
}

double TavloMeterToGainDb(double meter)
{
  const double gain = 1.0 - meter;
  return 20.0 * std::log10(gain > 0.001 ? gain : 0.001);
}

IFxMeterInfo Tavlo::GetMeterInfo(int idx) const
{
  IFxMeterInfo info;
  if (idx == 0)
  {
    info.name = "Gain reduction";
    info.symbol = "gain_reduction";
    info.controlIdx = mMeterIdx;
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

double Tavlo::GetMeterValue(int idx) const
{
  // The needle's position: 0 at rest, 1 for the full scale of reduction.
  if (idx == 0) return mMeter.GetState();
  if (idx == 1) return TavloMeterToGainDb(mMeter.GetState());
  return 0.0;
}

TavloBinding* MakePlug()
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
