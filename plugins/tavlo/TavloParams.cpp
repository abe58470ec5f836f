#include "tavlo/TavloParams.h"

#include "fx/IFxBase.h"
#include "fx/IParam.h"

namespace {
constexpr const char* kTavloDetectorTexts[] = {"Right", "Left", "Linked", "Mid"};
}

// The continuous controls carry the label "%" for hosts, as they always
// have; the unit people read them in is the unit record's.
constexpr TavloParamDef kTavloParams[kNumParams] = {
  // idx, name, kind, default, min, max, step, shape, label, declareRank,
  //   unit: {unit, scale, decimals, off, on, description, logarithmic[, list texts, count]}
  {kInput, "Input", ETavloParamKind::kContinuous, 0.0, 0.0, 400.0, 0.01, 1.0, "%", 4,
   {"", 1.0, 0, nullptr, nullptr,
    "threshold and drive together, neither a threshold nor a ratio: compression starts near 50 on "
    "full-scale material, 100 is moderate, 200 heavy, and above the knee louder comes out quieter "
    "(tavlo-render --curve draws it)",
    false}},
  {kOutput, "Output", ETavloParamKind::kContinuous, 0.0, -20.0, 20.0, 0.01, 1.0, "%", 3,
   {"dB", 1.0, 1, nullptr, nullptr, "make-up gain after the mix", false}},
  // Shape 2 gives the short times more of the knob's travel.
  {kAttack, "Attack", ETavloParamKind::kContinuous, 0.005, 0.0001, 0.01, 0.01, 2.0, "%", 5,
   {"ms", 1000.0, 1, nullptr, nullptr, "how fast gain reduction sets in", true}},
  {kRelease, "Release", ETavloParamKind::kContinuous, 0.3, 0.1, 0.5, 0.01, 2.0, "%", 6,
   {"ms", 1000.0, 0, nullptr, nullptr, "how fast the gain recovers", true}},
  {kMix, "Mix", ETavloParamKind::kContinuous, 100.0, 0.0, 100.0, 0.01, 1.0, "%", 7,
   {"%", 1.0, 0, nullptr, nullptr, "share of the compressed signal (0 = dry, 100 = fully compressed)", false}},
  {kHPF, "HPF", ETavloParamKind::kContinuous, 20.0, 20.0, 500.0, 0.01, 1.0, "%", 8,
   {"Hz", 1.0, 0, nullptr, nullptr, "high-pass corner of the detector, so bass pumps it less", true}},
  {kOversample, "Oversample", ETavloParamKind::kSwitch, 0.0, 0.0, 1.0, 1.0, 1.0, "", 1,
   {"", 1.0, 0, "Off", "On",
    "four-times oversampling of the signal path; its filters are not linear-phase, so material near "
    "full scale can peak above 0 dBFS (the demo loop, peak -0.3 dBFS, at +2.5 dBFS; full-band noise "
    "at 0.999 at +7.7 dBFS): turn Output down by as much",
    false}},
  {kBypass, "Bypass", ETavloParamKind::kSwitch, 0.0, 0.0, 1.0, 1.0, 1.0, "", 0,
   {"", 1.0, 0, "Off", "On", "passes the input through untouched", false}},
  {kSidechain, "Sidechain", ETavloParamKind::kSwitch, 1.0, 0.0, 1.0, 1.0, 1.0, "", 2,
   {"", 1.0, 0, "External", "Internal",
    "which input the detector listens to: the main input (1, internal) or the side-chain input "
    "(0, external), its channels as Detector chooses",
    false}},
  {kDetector, "Detector", ETavloParamKind::kList, 0.0, 0.0, 3.0, 1.0, 1.0, "", 9,
   {"", 1.0, 0, nullptr, nullptr,
    "which channels the detector hears: Right (the right channel only, as every earlier release), "
    "Left, Linked (both channels, each through the high-pass and the curve, the larger reduction "
    "frame by frame: a peak on either side is caught) or Mid ((L + R) / 2: a sound on one side "
    "alone drives it 6 dB less); one gain for both channels in every mode",
    false, kTavloDetectorTexts, 4}},
  {kListen, "Listen", ETavloParamKind::kSwitch, 0.0, 0.0, 1.0, 1.0, 1.0, "", 10,
   {"", 1.0, 0, "Off", "On",
    "plays what the detector hears, after the high-pass, at unity past Mix and Output, to tune HPF "
    "and Detector by ear: the chosen channel or the mid on both outputs, Linked each channel on "
    "its own side",
    false}},
};

namespace {

// The index is the tag hosts store and the rank the order instances are
// built in: a table out of step with either must not compile.
constexpr bool RecordsSitAtTheirIndex()
{
  for (int i = 0; i < kNumParams; ++i)
    if (kTavloParams[i].idx != i) return false;
  return true;
}

constexpr bool RanksAreEachUsedOnce()
{
  for (int rank = 0; rank < kNumParams; ++rank)
  {
    int n = 0;
    for (const TavloParamDef& d : kTavloParams) n += d.declareRank == rank;
    if (n != 1) return false;
  }
  return true;
}

// A switch names its two states, a list each of its values from 0; a
// continuous parameter is a quantity.
constexpr bool KindsAreComplete()
{
  for (const TavloParamDef& d : kTavloParams)
  {
    const bool words = d.unit.offText && d.unit.onText;
    const bool list = d.unit.listTexts && d.unit.listCount > 1;
    if (d.kind == ETavloParamKind::kSwitch && (!words || list || d.minVal != 0.0 || d.maxVal != 1.0)) return false;
    if (d.kind == ETavloParamKind::kList && (words || !list || d.minVal != 0.0 || d.maxVal != d.unit.listCount - 1))
      return false;
    if (d.kind == ETavloParamKind::kContinuous && (words || d.unit.listTexts)) return false;
  }
  return true;
}

static_assert(RecordsSitAtTheirIndex(), "kTavloParams[i].idx must be i");
static_assert(RanksAreEachUsedOnce(), "each declareRank 0 .. kNumParams - 1 exactly once");
static_assert(KindsAreComplete(), "switches need their two words, lists their value texts");

}  // namespace

void DeclareTavloParam(IParam* p, const TavloParamDef& def)
{
  switch (def.kind)
  {
    case ETavloParamKind::kSwitch:
      p->InitInt(def.name, (int)def.defaultVal, (int)def.minVal, (int)def.maxVal, def.label, "");
      break;
    case ETavloParamKind::kList:
      // The names also as the parameter's own display texts, for what reads
      // those (menus of a value, hosts' generic texts).
      p->InitEnum(def.name, (int)def.defaultVal, def.unit.listCount, def.label, "");
      for (int v = 0; v < def.unit.listCount; ++v) p->SetDisplayText(v, def.unit.listTexts[v]);
      break;
    case ETavloParamKind::kContinuous:
      p->InitDouble(def.name, def.defaultVal, def.minVal, def.maxVal, def.step, def.label, "");
      p->SetShape(def.shape);
      break;
  }
  p->SetUnit(&def.unit);
}

void DeclareTavloParam(IParam* p, int idx)
{
  if (idx >= 0 && idx < kNumParams) DeclareTavloParam(p, kTavloParams[idx]);
}

void DeclareTavloParams(IFxBase* pPlug)
{
  for (int rank = 0; rank < kNumParams; ++rank)
    for (const TavloParamDef& def : kTavloParams)
      if (def.declareRank == rank) DeclareTavloParam(pPlug->ParamAt(def.idx), def);
}

void TavloPresetValues(int preset, double values[kNumParams])
{
  for (const TavloParamDef& def : kTavloParams) values[def.idx] = def.defaultVal;
  if (preset < 0 || preset >= kTavloNumPresets) return;
  const TavloPreset& p = kTavloPresets[preset];
  values[kInput] = p.input;
  values[kOutput] = p.output;
  values[kAttack] = p.attack;
  values[kRelease] = p.release;
  values[kMix] = p.mix;
  values[kHPF] = p.hpf;
  values[kOversample] = p.oversample;
}
