// Parameters as a CLAP host sees them (the VST 3 bundle's table, ids,
// ranges and plain values, and the meters as read-only parameters), and
// the state: the same bytes the VST 3 component writes.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "clap/IFxCLAP.h"
#include "fx/ByteChunk.h"
#include "fx/IFxWholeState.h"
#include "fx/IParam.h"
#include "fx/IParamUnit.h"

// ---------------------------------------------------------------------------
// Parameters

// A host's plain value is in the unit people read it in (ms for a time the
// parameter keeps in seconds), as a VST 3 host's is.
double IFxCLAP::HostScale(int idx) const
{
  const IParam* param = mPlug->ParamAt(idx);
  const IParamUnit* unit = param ? param->GetUnit() : nullptr;
  return unit && !unit->IsNamed() && unit->scale > 0.0 ? unit->scale : 1.0;
}

bool IFxCLAP::IsMeterId(clap_id id, int* meter) const
{
  if (id < kMeterIdBase || id - kMeterIdBase >= (clap_id)std::max(0, mPlug->MeterCount())) return false;
  *meter = (int)(id - kMeterIdBase);
  return true;
}

uint32_t IFxCLAP::ParamInfoCount() const
{
  return (uint32_t)(mPlug->ParamCount() + std::max(0, mPlug->MeterCount()));
}

bool IFxCLAP::ParamInfo(uint32_t index, clap_param_info_t* info) const
{
  AssertMainThread();
  if (!info || index >= ParamInfoCount()) return false;
  memset(info, 0, sizeof(*info));
  info->id = index;
  if (index >= (uint32_t)mPlug->ParamCount())
  {
    const int meter = (int)index - mPlug->ParamCount();
    info->id = kMeterIdBase + (clap_id)meter;
    // Hosts that show a plug-in's outputs (REAPER's gain-reduction meter)
    // read it; nobody sets it.
    const IFxMeterInfo m = mPlug->GetMeterInfo(meter);
    info->flags = CLAP_PARAM_IS_READONLY;
    snprintf(info->name, sizeof(info->name), "%s", m.name);
    info->min_value = m.minimum;
    info->max_value = m.maximum;
    info->default_value = m.rest;
    return true;
  }
  const IParam* param = mPlug->ParamAt((int)index);
  const double scale = HostScale((int)index);
  const IParamUnit* unit = param->GetUnit();
  info->flags = param->IsAutomatable() ? CLAP_PARAM_IS_AUTOMATABLE : 0;
  if (param->GetType() != IParam::kTypeDouble || (unit && unit->IsNamed())) info->flags |= CLAP_PARAM_IS_STEPPED;
  if ((int)index == GetCLAPClassDef().bypassParam) info->flags |= CLAP_PARAM_IS_BYPASS;
  snprintf(info->name, sizeof(info->name), "%s", param->GetNameForHost());
  if (const char* group = param->GetParamGroupForHost()) snprintf(info->module, sizeof(info->module), "%s", group);
  info->min_value = param->GetMin() * scale;
  info->max_value = param->GetMax() * scale;
  info->default_value = param->GetDefaultValue() * scale;
  return true;
}

bool IFxCLAP::ParamValue(clap_id id, double* value) const
{
  if (!value) return false;
  int meter = -1;
  if (IsMeterId(id, &meter))
  {
    const IFxMeterInfo m = mPlug->GetMeterInfo(meter);
    const double v = mPlug->GetMeterValue(meter);
    *value = std::isfinite(v) ? std::min(m.maximum, std::max(m.minimum, v)) : m.rest;
    return true;
  }
  const IParam* param = mPlug->ParamAt((int)id);
  if (id >= (clap_id)mPlug->ParamCount() || !param) return false;
  *value = param->GetValue() * HostScale((int)id);
  return true;
}

bool IFxCLAP::ValueToText(clap_id id, double value, char* display, uint32_t size) const
{
  if (!display || size == 0 || std::isnan(value)) return false;
  int meter = -1;
  if (IsMeterId(id, &meter))
  {
    const IFxMeterInfo m = mPlug->GetMeterInfo(meter);
    if (m.unit)
      FormatParamUnit(*m.unit, value / (m.unit->scale > 0.0 ? m.unit->scale : 1.0), display, size);
    else
      snprintf(display, size, "%.2f", value);
    return true;
  }
  const IParam* param = mPlug->ParamAt((int)id);
  if (id >= (clap_id)mPlug->ParamCount() || !param) return false;
  // Outside the range it is shown as the end it would be set to.
  const double plain = std::min(param->GetMax(), std::max(param->GetMin(), value / HostScale((int)id)));
  if (const IParamUnit* unit = param->GetUnit())
    FormatParamUnit(*unit, plain, display, size);
  else
  {
    char text[IParam::kTextSize] = {};
    param->GetDisplayForHost(plain, false, text, true);
    snprintf(display, size, "%s", text);
  }
  return true;
}

bool IFxCLAP::TextToValue(clap_id id, const char* display, double* value) const
{
  int meter = -1;
  if (display && value && IsMeterId(id, &meter))
  {
    // A meter reads back the text it shows (nobody sets it; a host may
    // still convert).
    const IFxMeterInfo m = mPlug->GetMeterInfo(meter);
    double v = 0.0;
    if (m.unit)
    {
      IParamUnitReading reading;
      if (ReadParamUnit(*m.unit, display, true, &reading) != kParamReadOk) return false;
      v = reading.plain * (m.unit->scale > 0.0 ? m.unit->scale : 1.0);
    }
    else
    {
      char* end = nullptr;
      v = strtod(display, &end);
      if (end == display || !std::isfinite(v)) return false;
    }
    *value = std::min(m.maximum, std::max(m.minimum, v));
    return true;
  }
  const IParam* param = id < (clap_id)mPlug->ParamCount() ? mPlug->ParamAt((int)id) : nullptr;
  if (!param || !display || !value) return false;
  double plain = 0.0;
  if (const IParamUnit* unit = param->GetUnit())
  {
    // "5 ms", "5ms", "0.005 s" or "5" (in the unit shown), as a VST 3 host's
    // field reads them.
    IParamUnitReading reading;
    if (ReadParamUnit(*unit, display, true, &reading) != kParamReadOk) return false;
    plain = reading.plain;
  }
  else
  {
    char* end = nullptr;
    plain = strtod(display, &end);
    if (end == display || !std::isfinite(plain)) return false;
  }
  // Beyond the range is its end, as a host's slider would stop there.
  *value = std::min(param->GetMax(), std::max(param->GetMin(), plain)) * HostScale((int)id);
  return true;
}

// ---------------------------------------------------------------------------
// State: the plug-in's own bytes, the host bypass's word (always 0 here: a
// CLAP host's bypass is its own, and the plug-in's Bypass is a parameter)
// and the tail, as the VST 3 component writes them, so that a state moves
// from one format to the other.

bool IFxCLAP::SaveState(const clap_ostream_t* stream)
{
  AssertMainThread();
  if (!stream || !stream->write) return false;
  ByteChunk chunk;
  if (!IFxWholeState::Save(*mPlug, chunk)) return false;
  // Written holding nothing; a stream may take fewer bytes than offered.
  const unsigned char* data = chunk.Data();
  int64_t left = chunk.Size();
  while (left > 0)
  {
    const int64_t put = stream->write(stream, data, (uint64_t)left);
    if (put <= 0 || put > left) return false;
    data += put;
    left -= put;
  }
  return true;
}

bool IFxCLAP::LoadState(const clap_istream_t* stream)
{
  AssertMainThread();
  if (!stream || !stream->read) return false;
  // All of it arrives before any of it is applied. Anything longer than a
  // state can be is not ours, so reading stops there.
  const int most = IFxWholeState::MaxSize(*mPlug);
  ByteChunk chunk;
  if (chunk.Resize(most + 1) != most + 1) return false;
  int got = 0;
  while (got <= most)
  {
    const int64_t n = stream->read(stream, chunk.Data() + got, (uint64_t)(most + 1 - got));
    if (n < 0) return false;
    if (n == 0) break;
    got += (int)std::min<int64_t>(n, most + 1 - got);
  }
  // CLAP has no host bypass: the word is checked, not applied.
  if (!IFxWholeState::Load(*mPlug, chunk.Data(), got)) return false;
  mPlug->RedrawParamControls();
  // The host reads the values again once this call is over.
  Post(kValuesChanged);
  return true;
}
