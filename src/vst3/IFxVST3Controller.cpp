// The controller: parameter values, their text both ways, units and the
// program list, and the editor view.

#include "vst3/IFxVST3.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "fx/Log.h"
#include "vst3/IFxParameter.h"
#include "vst3/IFxVST3Shared.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace vst3shared;

namespace
{

// Reads a plain decimal number, nothing before or after it but spaces.
// Refuses infinities, NaN and anything that is not ASCII.
bool ParseNumber(const TChar* text, double& value)
{
  char buf[129];
  int n = 0;
  for (; text[n] && n < 128; ++n)
  {
    if (text[n] > 127) return false;
    buf[n] = (char)text[n];
  }
  const char* begin = buf;
  const char* end = buf + n;
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  if (begin < end && *begin == '+') ++begin;
  if (begin == end || !(isdigit((unsigned char)*begin) || *begin == '-' || *begin == '.')) return false;
  const auto r = std::from_chars(begin, end, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Controller

bool IFxVST3::IsValidParamTag(ParamID tag) const
{
  return tag < (ParamID)mPlug->ParamCount() && mPlug->ParamAt((int)tag) != nullptr;
}

tresult PLUGIN_API IFxVST3::setParamNormalized(ParamID tag, ParamValue value)
{
  if (std::isnan(value)) return kResultFalse;
  value = IParam::ClampNormalized(value);
  // The binding's own parameters are held for the host to read back (the
  // bypass as its switch's two states, split at 0.5 as in process); the
  // processing bypass and the preset change only through process and state.
  if (tag == kBypassParamTag && !mPlug->IsInst())
  {
    mBypassValue = SwitchIsOn(value) ? 1.0 : 0.0;
    return kResultOk;
  }
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0)
  {
    // A host that selects a program through the controller alone must get
    // it, and hear that every value changed. Setting the program already
    // selected changes nothing: a host that sets back what it read (or the
    // same program again) leaves the user's edits alone.
    const int idx = PresetIndexFromNormalized(value);
    const bool change = idx != PresetIndexFromNormalized(mPresetValue);
    mPresetValue = value;
    if (change)
    {
      bool applied;
      {
        // The audio thread takes the whole preset or none of it.
        IFxBase::ParamBatch batch(*mPlug);
        applied = mPlug->RestorePreset(idx);
      }
      // The host hears of the new values after this call: Ardour, for one,
      // holds a lock around it that its restartComponent takes too.
      if (applied) ValuesChangedTogether();
    }
    return kResultOk;
  }
  if (!IsValidParamTag(tag)) return kResultFalse;
  // A value set here reaches the sound at the next block, as any other.
  mPlug->ApplyParamValue((int)tag, value, true);
  return kResultOk;
}

ParamValue PLUGIN_API IFxVST3::getParamNormalized(ParamID tag)
{
  if (tag == kBypassParamTag && !mPlug->IsInst()) return mBypassValue;
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0) return mPresetValue;
  if (IsValidParamTag(tag)) return mPlug->ParamAt((int)tag)->GetNormalized();
  return 0.0;
}

int IFxVST3::PresetIndexFromNormalized(double value) const
{
  // Program k arrives as k / (count - 1) from hosts that follow the step
  // count, as k / count from older ones; the truncation takes both to k,
  // and 1.0 is the last program, not one past it.
  const int n = mPlug->PresetCount();
  const int idx = (int)(value * n);
  return idx < n ? idx : n - 1;
}

ParamValue PLUGIN_API IFxVST3::plainParamToNormalized(ParamID tag, ParamValue plainValue)
{
  if (IsValidParamTag(tag))
    if (Parameter* param = getParameterObject(tag)) return param->toNormalized(plainValue);
  // A program number, for hosts that select presets by number.
  if (tag == kPresetParamTag && mPlug->PresetCount() > 1)
    return std::isnan(plainValue) ? 0.0 : IParam::ClampNormalized(plainValue / (mPlug->PresetCount() - 1));
  return plainValue;
}

ParamValue PLUGIN_API IFxVST3::normalizedParamToPlain(ParamID tag, ParamValue valueNormalized)
{
  // The list parameters turn the value into an integer: a NaN or a value
  // far outside 0..1 would make that conversion undefined.
  if (getParameterObject(tag))
    valueNormalized = std::isnan(valueNormalized) ? 0.0 : IParam::ClampNormalized(valueNormalized);
  return SingleComponentEffect::normalizedParamToPlain(tag, valueNormalized);
}

tresult PLUGIN_API IFxVST3::getParamStringByValue(ParamID tag, ParamValue valueNormalized, String128 string)
{
  if (!string) return kResultFalse;
  const double value = std::isnan(valueNormalized) ? 0.0 : IParam::ClampNormalized(valueNormalized);
  if (tag == kBypassParamTag && !mPlug->IsInst())
  {
    WidenToString128(SwitchIsOn(value) ? kHostBypassUnit.onText : kHostBypassUnit.offText, string);
    return kResultOk;
  }
  if (tag == kPresetParamTag && mPlug->PresetCount() > 0)
  {
    WidenToString128(mPlug->GetPresetName(PresetIndexFromNormalized(value)), string);
    return kResultOk;
  }
  if (!IsValidParamTag(tag)) return kResultFalse;
  ParamStringForHost(*mPlug->ParamAt((int)tag), valueNormalized, string);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getParamValueByString(ParamID tag, TChar* string, ParamValue& valueNormalized)
{
  if (!string || !getParameterObject(tag)) return kResultFalse;
  // The host's String128 need not be terminated: take at most its 128 units.
  TChar text[129];
  int n = 0;
  for (; n < 128 && string[n]; ++n) text[n] = string[n];
  text[n] = 0;

  ParamValue value = 0.0;
  if (tag == kPresetParamTag)
  {
    // The preset's name, as getParamStringByValue shows it, or its
    // normalised value itself.
    if (!ParseNumber(text, value))
    {
      const int idx = PresetIndexFromName(text);
      if (idx < 0) return kResultFalse;
      const int count = mPlug->PresetCount();
      value = count > 1 ? (double)idx / (count - 1) : 0.0;
    }
  }
  else if (tag == kBypassParamTag)
  {
    // "On" and "Off" in any case, or the two states' numbers.
    char utf8[4 * 128 + 1];
    Utf8FromTChar(text, utf8, sizeof(utf8));
    IParamUnitReading reading;
    if (ReadParamUnit(kHostBypassUnit, utf8, true, &reading) != kParamReadOk ||
        (reading.plain != 0.0 && reading.plain != 1.0))
      return kResultFalse;
    value = reading.plain;
  }
  else if (SingleComponentEffect::getParamValueByString(tag, text, value) != kResultOk || std::isnan(value))
    return kResultFalse;
  valueNormalized = IParam::ClampNormalized(value) + 0.0;  // + 0.0: no negative zero
  return kResultOk;
}

int IFxVST3::PresetIndexFromName(const TChar* text) const
{
  char name[4 * 128 + 1];
  Utf8FromTChar(text, name, sizeof(name));
  const char* begin = name;
  size_t len = strlen(name);
  while (len > 0 && (*begin == ' ' || *begin == '\t'))
  {
    ++begin;
    --len;
  }
  while (len > 0 && (begin[len - 1] == ' ' || begin[len - 1] == '\t')) --len;
  for (int i = 0, count = mPlug->PresetCount(); i < count && len > 0; ++i)
  {
    const char* preset = mPlug->GetPresetName(i);
    if (strlen(preset) == len && strncasecmp(preset, begin, len) == 0) return i;
  }
  return -1;
}

int32 PLUGIN_API IFxVST3::getUnitCount() { return mUnitNames.GetSize() + 1; }

tresult PLUGIN_API IFxVST3::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex == 0)
  {
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    WidenToString128("Root Unit", info.name);
    // Hosts find the program list for their preset menu through its unit.
    info.programListId = mPlug->PresetCount() > 0 ? (ProgramListID)kPresetParamTag : kNoProgramListId;
    return kResultOk;
  }
  if (unitIndex < 0 || unitIndex > mUnitNames.GetSize()) return kResultFalse;
  info.id = unitIndex;
  info.parentUnitId = kRootUnitId;
  WidenToString128(mUnitNames.Get(unitIndex - 1), info.name);
  info.programListId = kNoProgramListId;
  return kResultOk;
}

int32 PLUGIN_API IFxVST3::getProgramListCount() { return mPlug->PresetCount() > 0 ? 1 : 0; }

tresult PLUGIN_API IFxVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
  if (listIndex != 0 || mPlug->PresetCount() <= 0) return kResultFalse;
  info.id = kPresetParamTag;
  info.programCount = mPlug->PresetCount();
  WidenToString128("Factory Presets", info.name);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
  if (listId != (ProgramListID)kPresetParamTag || !name || programIndex < 0 || programIndex >= mPlug->PresetCount())
    return kResultFalse;
  WidenToString128(mPlug->GetPresetName(programIndex), name);
  return kResultOk;
}

tresult PLUGIN_API IFxVST3::getProgramInfo(ProgramListID, int32, Vst::CString, String128) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::hasProgramPitchNames(ProgramListID, int32) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::getProgramPitchName(ProgramListID, int32, int16, String128) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::selectUnit(UnitID) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::getUnitByBus(MediaType, BusDirection, int32, int32, UnitID&) { return kNotImplemented; }
tresult PLUGIN_API IFxVST3::setUnitProgramData(int32, int32, IBStream*) { return kNotImplemented; }

tresult IFxVST3::beginEdit(ParamID tag) { return SingleComponentEffect::beginEdit(tag); }
tresult IFxVST3::performEdit(ParamID tag, ParamValue value) { return SingleComponentEffect::performEdit(tag, value); }
tresult IFxVST3::endEdit(ParamID tag) { return SingleComponentEffect::endEdit(tag); }
