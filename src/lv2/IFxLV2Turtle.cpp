#include "lv2/IFxLV2Turtle.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "lv2/IFxLV2.h"

namespace {

const char kPrefixes[] =
  "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
  "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
  "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
  "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
  "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
  "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
  "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
  "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
  "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
  "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
  "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
  "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n"
  "\n";

std::string Uri(const std::string& uri) { return "<" + uri + ">"; }

// The LV2 unit of a parameter's plain value, from the unit people read it
// in and the factor between the two; empty when LV2 has none for it.
std::string LV2Unit(const IParamUnit& u)
{
  struct Map
  {
    const char* unit;
    double scale;
    const char* lv2;
  };
  static const Map kMap[] = {
    {"dB", 1.0, "units:db"},  {"ms", 1000.0, "units:s"}, {"ms", 1.0, "units:ms"}, {"s", 1.0, "units:s"},
    {"%", 1.0, "units:pc"},   {"Hz", 1.0, "units:hz"},   {"kHz", 1.0, "units:khz"},
  };
  for (const Map& m : kMap)
    if (!strcmp(u.unit, m.unit) && u.scale == m.scale) return m.lv2;
  return "";
}

bool HasAlnum(const char* s)
{
  for (; *s; ++s)
    if (std::isalnum((unsigned char)*s)) return true;
  return false;
}

}  // namespace

IFxLV2Turtle::IFxLV2Turtle(IFxLV2& plug, const IFxLV2ClassDef& def, IFxLV2BundleNames names)
  : mPlug(plug), mDef(def), mNames(std::move(names))
{
}

std::string IFxLV2Turtle::Number(double v)
{
  if (!std::isfinite(v)) v = 0.0;
  // Nine significant digits hold any single-precision value; hosts keep
  // port values in single precision.
  char buf[40];
  // At least the integer digits, so 400 is not written 4e+02.
  const int first = std::fabs(v) >= 1.0 ? std::min(17, (int)std::log10(std::fabs(v)) + 1) : 1;
  for (int digits = first; digits <= 17; ++digits)
  {
    snprintf(buf, sizeof(buf), "%.*g", digits, v);
    if ((float)strtod(buf, nullptr) == (float)v) break;
  }
  std::string s = buf;
  // Turtle reads "20" as an integer; a decimal is what ranges expect.
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string IFxLV2Turtle::Quote(const char* text)
{
  std::string s = "\"";
  for (const char* p = text ? text : ""; *p; ++p)
  {
    switch (*p)
    {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default: s += *p;
    }
  }
  return s + "\"";
}

std::string IFxLV2Turtle::PresetLabel(int idx) const
{
  // The framework names its default preset with a placeholder ("-"); a
  // host lists it by name, so it gets one a person can read.
  const char* name = mPlug.Plug()->GetPresetName(idx);
  return HasAlnum(name) ? name : (idx == 0 ? "Default" : "Preset " + std::to_string(idx + 1));
}

std::string IFxLV2Turtle::PresetUri(int idx) const
{
  return std::string(mDef.uri) + "#preset-" + std::to_string(idx + 1);
}

std::string IFxLV2Turtle::Manifest()
{
  std::string t = kPrefixes;
  t += Uri(mDef.uri) + "\n\ta lv2:Plugin ;\n\tlv2:binary " + Uri(mNames.binary) + " ;\n\trdfs:seeAlso " +
       Uri(mNames.pluginTtl) + " .\n\n";
  t += Uri(std::string(mDef.uri) + "#ui") + "\n\ta ui:X11UI ;\n\tlv2:binary " + Uri(mNames.uiBinary) +
       " ;\n\trdfs:seeAlso " + Uri(mNames.uiTtl) + " .\n";
  for (int i = 0; i < mPlug.Plug()->PresetCount(); ++i)
    if (mPlug.Plug()->IsPresetInitialized(i))
      t += "\n" + Uri(PresetUri(i)) + "\n\ta pset:Preset ;\n\tlv2:appliesTo " + Uri(mDef.uri) +
           " ;\n\trdfs:seeAlso " + Uri(mNames.presetsTtl) + " .\n";
  return t;
}

std::string IFxLV2Turtle::PortHead(uint32_t idx)
{
  const IFxLV2Port& port = *mPlug.Ports().At(idx);
  const char* type = port.IsControl() ? "lv2:ControlPort" : "lv2:AudioPort";
  return std::string("\t\ta ") + (port.IsOutput() ? "lv2:OutputPort" : "lv2:InputPort") + " , " + type +
         " ;\n\t\tlv2:index " + std::to_string(idx) + " ;\n\t\tlv2:symbol " + Quote(port.symbol.c_str()) +
         " ;\n\t\tlv2:name " + Quote(port.name.c_str()) + " ;\n";
}

std::string IFxLV2Turtle::ParamPort(int idx)
{
  const IParam* p = mPlug.Plug()->ParamAt(idx);
  const IParamUnit* unit = p->GetUnit();
  std::string t = PortHead(mPlug.Ports().ParamPort(idx));
  t += "\t\tlv2:default " + Number(p->GetDefaultValue()) + " ;\n";
  t += "\t\tlv2:minimum " + Number(p->GetMin()) + " ;\n";
  t += "\t\tlv2:maximum " + Number(p->GetMax()) + " ;\n";

  if (unit && unit->IsNamed())
  {
    // A plain on/off switch is a toggle; one whose states have names of
    // their own, and a list, is a choice between those names.
    const bool onOff = unit->IsSwitch() && !strcmp(unit->offText, "Off") && !strcmp(unit->onText, "On");
    t += onOff ? "\t\tlv2:portProperty lv2:toggled , lv2:integer ;\n"
               : "\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n";
    // A switch's words name its two ends; a list's its values from the minimum up.
    for (int v = 0; v < unit->NamedCount(); ++v)
    {
      const double value = unit->IsSwitch() ? (v ? p->GetMax() : p->GetMin()) : p->GetMin() + v;
      t += std::string(v ? " , [" : "\t\tlv2:scalePoint [") + "\n\t\t\trdfs:label " + Quote(unit->NameAt(v)) +
           " ;\n\t\t\trdf:value " + Number(value) + "\n\t\t]";
    }
    t += " ;\n";
  }
  else if (p->GetType() != IParam::kTypeDouble)
  {
    t += "\t\tlv2:portProperty lv2:integer ;\n";
  }
  else if (unit)
  {
    const std::string u = LV2Unit(*unit);
    if (!u.empty()) t += "\t\tunits:unit " + u + " ;\n";
    if (unit->logarithmic && p->GetMin() > 0.0) t += "\t\tlv2:portProperty pprops:logarithmic ;\n";
  }
  if (unit && unit->description && *unit->description) t += "\t\trdfs:comment " + Quote(unit->description) + " ;\n";
  return t;
}

std::string IFxLV2Turtle::Plugin()
{
  const IFxLV2Ports& ports = mPlug.Ports();
  std::string t = kPrefixes;
  // doap:Project for the maintainer and release it names.
  t += Uri(mDef.uri) + "\n\ta lv2:Plugin , lv2:" + mDef.lv2Class + " , doap:Project ;\n";
  t += "\tdoap:name " + Quote(mDef.name) + " ;\n";
  t += "\tdoap:license " + Uri(mDef.license) + " ;\n";
  t += "\tdoap:maintainer [\n\t\tfoaf:name " + Quote(mDef.vendor) + " ;\n\t\tfoaf:homepage " + Uri(mDef.homepage) +
       " ;\n\t\tfoaf:mbox " + Uri(std::string("mailto:") + mDef.email) + "\n\t] ;\n";
  char version[32];
  IFxBase::GetVersionStr(mDef.vendorVersion, version);
  t += "\tdoap:release [\n\t\tdoap:revision " + Quote(version[0] == 'v' ? version + 1 : version) + "\n\t] ;\n";
  t += "\tlv2:minorVersion " + std::to_string(mDef.lv2MinorVersion) + " ;\n";
  t += "\tlv2:microVersion " + std::to_string(mDef.lv2MicroVersion) + " ;\n";
  if (mDef.comment && *mDef.comment) t += "\trdfs:comment " + Quote(mDef.comment) + " ;\n";
  t += "\tlv2:optionalFeature lv2:hardRTCapable , urid:map ;\n";
  t += "\tlv2:extensionData state:interface ;\n";
  t += "\tui:ui " + Uri(std::string(mDef.uri) + "#ui") + " ;\n";

  for (uint32_t i = 0; i < ports.Count(); ++i)
  {
    const IFxLV2Port& port = *ports.At(i);
    t += i == 0 ? "\tlv2:port [\n" : "\t] , [\n";
    if (port.kind == IFxLV2Port::kParam)
    {
      t += ParamPort(port.index);
      continue;
    }
    t += PortHead(i);
    // The host's own bypass switch does the enabling; a second one on a
    // generic view would only confuse.
    if (port.kind == IFxLV2Port::kEnabled)
      t += "\t\tlv2:designation lv2:enabled ;\n\t\tlv2:default 1 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum 1 ;\n"
           "\t\tlv2:portProperty lv2:toggled , lv2:integer , pprops:notOnGUI ;\n";
    else if (port.kind == IFxLV2Port::kMeter)
    {
      const IFxMeterInfo info = mPlug.Plug()->GetMeterInfo(port.index);
      t += "\t\tlv2:default " + Number(info.rest) + " ;\n\t\tlv2:minimum " + Number(info.minimum) +
           " ;\n\t\tlv2:maximum " + Number(info.maximum) + " ;\n";
      const std::string u = info.unit ? LV2Unit(*info.unit) : "";
      if (!u.empty()) t += "\t\tunits:unit " + u + " ;\n";
      if (info.comment && *info.comment) t += "\t\trdfs:comment " + Quote(info.comment) + " ;\n";
    }
    else if (port.kind == IFxLV2Port::kSideChain)
      t += "\t\tlv2:portProperty lv2:isSideChain , lv2:connectionOptional ;\n";
    else if (port.kind == IFxLV2Port::kLatency)
      t += "\t\tlv2:designation lv2:latency ;\n\t\tlv2:default 0 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum " +
           std::to_string(mPlug.Plug()->MaxLatency()) +
           " ;\n\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , pprops:notOnGUI ;\n"
           "\t\tunits:unit units:frame ;\n"
           "\t\trdfs:comment \"how late the output comes, for the host to line the track up\" ;\n";
  }
  t += "\t] .\n";
  return t;
}

std::string IFxLV2Turtle::UI()
{
  const IFxLV2Ports& ports = mPlug.Ports();
  std::string t = kPrefixes;
  t += Uri(std::string(mDef.uri) + "#ui") + "\n\ta ui:X11UI ;\n";
  // Nothing draws without idle calls, and the editor lives in the host's window.
  t += "\tlv2:requiredFeature ui:idleInterface , ui:parent ;\n";
  t += "\tlv2:optionalFeature ui:resize , ui:touch , ui:noUserResize , opts:options ,\n"
       "\t\t<http://lv2plug.in/ns/ext/urid#map> , <http://lv2plug.in/ns/ext/instance-access> ;\n";
  // The editor draws at the host's scale on high-density screens.
  t += "\topts:supportedOption ui:scaleFactor ;\n";
  t += "\tlv2:extensionData ui:idleInterface";
  for (uint32_t i = 0; i < ports.Count(); ++i)
  {
    const IFxLV2Port& port = *ports.At(i);
    if (port.kind != IFxLV2Port::kParam && port.kind != IFxLV2Port::kMeter) continue;
    // The UI hears only what its editor shows.
    if (port.kind == IFxLV2Port::kMeter && mPlug.Plug()->GetMeterInfo(port.index).controlIdx < 0) continue;
    t += " ;\n\tui:portNotification [\n\t\tui:plugin " + Uri(mDef.uri) + " ;\n\t\tlv2:symbol " +
         Quote(port.symbol.c_str()) + " ;\n\t\tui:protocol ui:floatProtocol\n\t]";
  }
  t += " .\n";
  return t;
}

std::string IFxLV2Turtle::Presets()
{
  const IFxLV2Ports& ports = mPlug.Ports();
  std::string t = kPrefixes;
  for (int i = 0; i < mPlug.Plug()->PresetCount(); ++i)
  {
    if (!mPlug.Plug()->IsPresetInitialized(i) || !mPlug.Plug()->RestorePreset(i)) continue;
    t += Uri(PresetUri(i)) + "\n\ta pset:Preset ;\n\tlv2:appliesTo " + Uri(mDef.uri) + " ;\n\trdfs:label " +
         Quote(PresetLabel(i).c_str());
    for (int p = 0; p < mPlug.Plug()->ParamCount(); ++p)
      t += std::string(p == 0 ? " ;\n\tlv2:port [\n" : "\n\t] , [\n") + "\t\tlv2:symbol " +
           Quote(ports.At(ports.ParamPort(p))->symbol.c_str()) + " ;\n\t\tpset:value " +
           Number(mPlug.Plug()->ParamAt(p)->GetValue());
    t += mPlug.Plug()->ParamCount() ? "\n\t] .\n\n" : " .\n\n";
  }
  return t;
}

bool IFxLV2Turtle::WriteAll(const std::string& folder, std::string* error)
{
  const std::pair<std::string, std::string> files[] = {
    {"manifest.ttl", Manifest()},
    {mNames.pluginTtl, Plugin()},
    {mNames.uiTtl, UI()},
    {mNames.presetsTtl, Presets()},
  };
  for (const auto& f : files)
  {
    const std::string path = folder + "/" + f.first;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << f.second;
    out.close();
    if (!out)
    {
      if (error) *error = "cannot write " + path;
      return false;
    }
  }
  return true;
}
