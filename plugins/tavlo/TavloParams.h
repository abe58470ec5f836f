#pragma once

// Tavlo's identity and its parameter table: static data, which a tool can
// read (and a UI can declare on a parameter table of its own) without
// creating a plug-in instance.

#include "fx/IParamUnit.h"

class IFxBase;
class IParam;

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
  // Added after the first release: stored in the state's tail and given
  // LV2 ports after every other, so saved states and sessions keep theirs.
  kDetector,
  kListen,
  kNumParams
};
constexpr int kTavloFirstAppendedParam = kDetector;

// Identity of the plug-in.
constexpr int kTavloVersion = 0x00030300;   // 3.3.0
constexpr int kTavloUniqueID = 0x54617631;  // 'Tav1'
constexpr int kTavloMfrID = 0x5175696c;     // 'Quil'
constexpr int kTavloLatency = 0;
// The delay of the four-times oversamplers, in frames at the host's rate
// (the same at every rate): where an impulse comes out with Oversample on.
constexpr int kTavloOversampleLatency = 5;
// What can follow the last input: the longest release, and with Oversample
// on the oversamplers' ringing, which falls below -100 dB within 20 ms.
constexpr double kTavloTailSeconds = 0.5;
constexpr double kTavloOversampleRingSeconds = 0.02;
constexpr int kTavloSidechainChannels = 2;
extern const char kTavloChannelIO[];        // "2-2 4-2": stereo, or stereo plus side-chain
extern const char kTavloEffectName[];
extern const char kTavloProductName[];
extern const char kTavloMfrName[];
extern const char kTavloVendorURL[];
extern const char kTavloVendorEmail[];
// One record per parameter: everything a host, a tool, the editor and the
// plug-in itself know of it, in kTavloParams (TavloParams.cpp) at its
// ETavloParams index. A new parameter is a new enum value before
// kNumParams, its record and its use in the chain; declarations, host
// texts, LV2 ports, the renderer's options and the presets' values follow
// from the record. A control on the editor's panel is a place and a film
// strip in TavloEditor.cpp besides.
enum class ETavloParamKind
{
  kContinuous,  // a double with a step and a shape; a knob
  kSwitch,      // 0 or 1, named by the unit's offText and onText
  kList,        // 0 .. maxVal, named by the unit's listTexts (a VST 3 list)
};

struct TavloParamDef
{
  int idx;           // its ETavloParams: VST 3 tag and LV2 port index
  const char* name;  // as hosts list it
  ETavloParamKind kind;
  // Plain values as declared; IParam raises a maximum below min + step.
  double defaultVal, minVal, maxVal;
  double step;        // continuous only: the others step by 1
  double shape;       // continuous only: >1 gives the low values more travel
  const char* label;  // the label hosts are given (not the unit people read)
  // When an instance declares it, 0 first: the order instances have
  // always been built in, the switches first.
  int declareRank;
  // The unit people read it in (readouts, tools, format descriptions, the
  // texts and units VST 3 hosts show); a switch's two words, a list's
  // maxVal + 1 names.
  IParamUnit unit;
};

extern const TavloParamDef kTavloParams[kNumParams];

// A factory preset: a name hosts list, one line on what it is for, and its
// values (plain, Attack and Release in seconds). Every parameter it does
// not name keeps its record's default: Bypass and Listen are off and the
// detector listens to the right channel of the main input in every one.
struct TavloPreset
{
  const char* name;
  const char* description;
  double input, output, attack, release, mix, hpf;
  int oversample;
};
// The defaults first, so preset 0 is what a fresh instance holds.
constexpr int kTavloNumPresets = 12;
extern const TavloPreset kTavloPresets[kTavloNumPresets];
// Preset p's plain value of every parameter, by index: what it names, and
// every other parameter's default.
void TavloPresetValues(int preset, double values[kNumParams]);

// The meter's needle (1 - gain, 0 at rest) as the gain in dB, down to -60 dB
// (a full swing of the needle).
double TavloMeterToGainDb(double meter);

// The editor control that shows the gain-reduction meter.
constexpr int kTavloMeterControl = 10;

// Declares a parameter as its record says: name, range, step, shape, label,
// unit and, for a list, its value texts.
void DeclareTavloParam(IParam* pParam, const TavloParamDef& def);
// Declares parameter idx as every Tavlo declares it; nothing for an index
// outside the table.
void DeclareTavloParam(IParam* pParam, int idx);
// Declares all of them on a plug-in base of kNumParams parameters, in the
// records' declareRank order.
void DeclareTavloParams(IFxBase* pPlug);
