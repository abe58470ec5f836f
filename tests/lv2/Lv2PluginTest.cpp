// Tavlo.lv2 as an LV2 host sees it: found by URI through lilv, its ports,
// UI and preset as described, and its sound bit-identical to the VST 3
// bundle's at settings both formats represent exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "BundleRender.h"
#include "HostFixture.h"
#include "Lv2TestHost.h"
#include "fx/IParam.h"
#include "lv2/IFxLV2.h"
#include "lv2/core/lv2.h"
#include "lv2/presets/presets.h"
#include "lv2/ui/ui.h"
#include "lv2/units/units.h"

using namespace lv2host;

namespace {

// A property's URI: lv2core's, or the port-props extension's ("pprops:").
std::string PortProp(const std::string& prop)
{
  const std::string ext = "pprops:";
  return prop.compare(0, ext.size(), ext) == 0 ? "http://lv2plug.in/ns/ext/port-props#" + prop.substr(ext.size())
                                               : "http://lv2plug.in/ns/lv2core#" + prop;
}

using bundles::SharedWorld;

// ---------------------------------------------------------------------------
// Description

struct PortSpec
{
  const char* symbol;
  const char* name;
  bool output, audio;
  float min, max, def;  // control ports only
  const char* unit;     // units: local name, "" for none
  std::vector<std::string> props;
  std::vector<std::pair<std::string, float>> scalePoints;
};

const std::vector<PortSpec>& ExpectedPorts()
{
  static const std::vector<PortSpec> ports = {
    {"input", "Input", false, false, 0, 400, 0, "", {}, {}},
    {"output", "Output", false, false, -20, 20, 0, "db", {}, {}},
    {"attack", "Attack", false, false, 0.0001f, 0.0101f, 0.005f, "s", {"pprops:logarithmic"}, {}},
    {"release", "Release", false, false, 0.1f, 0.5f, 0.3f, "s", {"pprops:logarithmic"}, {}},
    {"mix", "Mix", false, false, 0, 100, 100, "pc", {}, {}},
    {"hpf", "HPF", false, false, 20, 500, 20, "hz", {"pprops:logarithmic"}, {}},
    {"oversample", "Oversample", false, false, 0, 1, 0, "", {"toggled", "integer"}, {{"Off", 0}, {"On", 1}}},
    {"bypass", "Bypass", false, false, 0, 1, 0, "", {"toggled", "integer"}, {{"Off", 0}, {"On", 1}}},
    {"sidechain", "Sidechain", false, false, 0, 1, 1, "", {"integer", "enumeration"},
     {{"External", 0}, {"Internal", 1}}},
    {"enabled", "Enabled", false, false, 0, 1, 1, "", {"toggled", "integer", "pprops:notOnGUI"}, {}},
    {"gain_reduction", "Gain reduction", true, false, 0, 1, 0, "", {}, {}},
    {"in_l", "Input L", false, true, 0, 0, 0, "", {}, {}},
    {"in_r", "Input R", false, true, 0, 0, 0, "", {}, {}},
    {"sc_l", "Side-chain L", false, true, 0, 0, 0, "", {"isSideChain", "connectionOptional"}, {}},
    {"sc_r", "Side-chain R", false, true, 0, 0, 0, "", {"isSideChain", "connectionOptional"}, {}},
    {"out_l", "Output L", true, true, 0, 0, 0, "", {}, {}},
    {"out_r", "Output R", true, true, 0, 0, 0, "", {}, {}},
    // After every port of the first release, so saved sessions keep theirs.
    {"gain_reduction_db", "Gain reduction (dB)", true, false, -60, 0, 0, "db", {}, {}},
    // Added after that: the delay of the oversamplers, for the host to line
    // the track up.
    {"latency", "Latency", true, false, 0, 5, 0, "frame", {"reportsLatency", "integer", "pprops:notOnGUI"}, {}},
    // The parameters added after the first release, after every other port.
    {"detector", "Detector", false, false, 0, 3, 0, "", {"integer", "enumeration"},
     {{"Right", 0}, {"Left", 1}, {"Linked", 2}, {"Mid", 3}}},
    {"listen", "Listen", false, false, 0, 1, 0, "", {"toggled", "integer"}, {{"Off", 0}, {"On", 1}}},
  };
  return ports;
}

TEST(Lv2Plugin, FoundByUriWithItsPortsUiAndPreset)
{
  World& w = SharedWorld();
  const LilvPlugin* p = w.Plugin();
  ASSERT_NE(nullptr, p) << "Tavlo not found in " << w.Folder();
  EXPECT_EQ(1u, lilv_plugins_size(lilv_world_get_all_plugins(w.Get())));
  EXPECT_TRUE(lilv_plugin_verify(p));

  LilvNode* name = lilv_plugin_get_name(p);
  EXPECT_EQ("Tavlo", Str(name));
  lilv_node_free(name);
  LilvNode* author = lilv_plugin_get_author_name(p);
  EXPECT_EQ("Quillmarshworks", Str(author));
  lilv_node_free(author);
  EXPECT_EQ(std::string(LV2_CORE__CompressorPlugin), Str(lilv_plugin_class_get_uri(lilv_plugin_get_class(p))));
  LilvNodes* required = lilv_plugin_get_required_features(p);
  EXPECT_EQ(0u, lilv_nodes_size(required));
  lilv_nodes_free(required);
  EXPECT_TRUE(lilv_plugin_has_latency(p));
  EXPECT_EQ(18u, lilv_plugin_get_latency_port_index(p));

  // Every port, in index order.
  const std::vector<PortSpec>& want = ExpectedPorts();
  ASSERT_EQ(want.size(), lilv_plugin_get_num_ports(p));
  for (uint32_t i = 0; i < want.size(); ++i)
  {
    const PortSpec& s = want[i];
    SCOPED_TRACE(s.symbol);
    const LilvPort* port = lilv_plugin_get_port_by_index(p, i);
    EXPECT_EQ(s.symbol, Str(lilv_port_get_symbol(p, port)));
    LilvNode* pname = lilv_port_get_name(p, port);
    EXPECT_EQ(s.name, Str(pname));
    lilv_node_free(pname);
    EXPECT_EQ(s.output, lilv_port_is_a(p, port, w.Uri(LV2_CORE__OutputPort)));
    EXPECT_EQ(!s.output, lilv_port_is_a(p, port, w.Uri(LV2_CORE__InputPort)));
    EXPECT_EQ(s.audio, lilv_port_is_a(p, port, w.Uri(LV2_CORE__AudioPort)));
    EXPECT_EQ(!s.audio, lilv_port_is_a(p, port, w.Uri(LV2_CORE__ControlPort)));
    if (!s.audio)
    {
      LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
      lilv_port_get_range(p, port, &def, &min, &max);
      EXPECT_FLOAT_EQ(s.min, min ? lilv_node_as_float(min) : NAN);
      EXPECT_FLOAT_EQ(s.max, max ? lilv_node_as_float(max) : NAN);
      EXPECT_FLOAT_EQ(s.def, def ? lilv_node_as_float(def) : NAN);
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
    }
    LilvNodes* units = lilv_port_get_value(p, port, w.Uri(LV2_UNITS__unit));
    EXPECT_EQ(*s.unit ? std::string(LV2_UNITS_PREFIX) + s.unit : "", Str(units ? lilv_nodes_get_first(units) : nullptr));
    lilv_nodes_free(units);
    LilvNodes* props = lilv_port_get_properties(p, port);
    EXPECT_EQ(s.props.size(), lilv_nodes_size(props));
    for (const std::string& prop : s.props)
      EXPECT_TRUE(lilv_port_has_property(p, port, w.Uri(PortProp(prop)))) << prop;
    lilv_nodes_free(props);
    LilvNodes* designation = lilv_port_get_value(p, port, w.Uri(LV2_CORE__designation));
    EXPECT_EQ(i == 9 ? LV2_CORE__enabled : i == 18 ? LV2_CORE__latency : "",
              Str(designation ? lilv_nodes_get_first(designation) : nullptr));
    lilv_nodes_free(designation);

    LilvScalePoints* points = lilv_port_get_scale_points(p, port);
    std::vector<std::pair<std::string, float>> got;
    LILV_FOREACH (scale_points, it, points)
    {
      const LilvScalePoint* sp = lilv_scale_points_get(points, it);
      got.emplace_back(Str(lilv_scale_point_get_label(sp)), lilv_node_as_float(lilv_scale_point_get_value(sp)));
    }
    lilv_scale_points_free(points);
    std::sort(got.begin(), got.end(), [](auto& a, auto& b) { return a.second < b.second; });
    EXPECT_EQ(s.scalePoints, got);
  }

  // The editor, as an X11 UI in the same bundle.
  LilvUIs* uis = lilv_plugin_get_uis(p);
  ASSERT_EQ(1u, lilv_uis_size(uis));
  const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
  EXPECT_EQ(std::string(kTavloUri) + "#ui", Str(lilv_ui_get_uri(ui)));
  EXPECT_TRUE(lilv_ui_is_a(ui, w.Uri(LV2_UI__X11UI)));
  char* binary = lilv_file_uri_parse(Str(lilv_ui_get_binary_uri(ui)).c_str(), nullptr);
  struct stat st;
  EXPECT_EQ(0, stat(binary, &st)) << binary;
  EXPECT_NE(nullptr, strstr(binary, "Tavlo.lv2/TavloUI.so"));
  lilv_free(binary);
  lilv_uis_free(uis);

  // The factory presets; the first, "Default", has every parameter at its
  // port's default.
  LilvNodes* presets = lilv_plugin_get_related(p, w.Uri(LV2_PRESETS__Preset));
  ASSERT_EQ(12u, lilv_nodes_size(presets));
  LilvNode* preset = lilv_new_uri(w.Get(), (std::string(kTavloUri) + "#preset-1").c_str());
  ASSERT_TRUE(lilv_nodes_contains(presets, preset));
  EXPECT_EQ(0, lilv_world_load_resource(w.Get(), preset) < 0);
  LilvNodes* labels = lilv_world_find_nodes(w.Get(), preset, w.Uri(LILV_NS_RDFS "label"), nullptr);
  EXPECT_EQ("Default", Str(labels ? lilv_nodes_get_first(labels) : nullptr));
  lilv_nodes_free(labels);
  LilvNodes* values = lilv_world_find_nodes(w.Get(), preset, w.Uri(LV2_CORE__port), nullptr);
  EXPECT_EQ(11u, lilv_nodes_size(values));
  LILV_FOREACH (nodes, it, values)
  {
    const LilvNode* v = lilv_nodes_get(values, it);
    LilvNode* sym = lilv_world_get(w.Get(), v, w.Uri(LV2_CORE__symbol), nullptr);
    LilvNode* val = lilv_world_get(w.Get(), v, w.Uri(LV2_PRESETS__value), nullptr);
    const std::string symbol = Str(sym);
    bool found = false;
    for (const PortSpec& s : want)
      if (symbol == s.symbol)
      {
        found = true;
        EXPECT_FLOAT_EQ(s.def, val ? lilv_node_as_float(val) : NAN) << symbol;
      }
    EXPECT_TRUE(found) << symbol;
    lilv_node_free(sym);
    lilv_node_free(val);
  }
  lilv_nodes_free(values);
  lilv_node_free(preset);
  lilv_nodes_free(presets);
}

// The LV2 presets are the VST 3 bundle's programs: preset-(k+1) is labelled
// with program k's name and holds, port by port, the values program k
// selected through the preset parameter gives the VST 3 plug-in.
TEST(Lv2Plugin, FactoryPresetsAreTheVst3Programs)
{
  using namespace Steinberg;
  using namespace Steinberg::Vst;
  World& w = SharedWorld();
  const LilvPlugin* p = w.Plugin();
  ASSERT_NE(nullptr, p);
  vst3host::Plug vst;
  IUnitInfo* units = nullptr;
  ASSERT_EQ(kResultOk, vst.ctrl()->queryInterface(IUnitInfo::iid, (void**)&units));
  ProgramListInfo list;
  ASSERT_EQ(kResultOk, units->getProgramListInfo(0, list));
  LilvNodes* presets = lilv_plugin_get_related(p, w.Uri(LV2_PRESETS__Preset));
  EXPECT_EQ((unsigned)list.programCount, lilv_nodes_size(presets));
  for (int32 k = 0; k < list.programCount; ++k)
  {
    String128 name = {};
    ASSERT_EQ(kResultOk, units->getProgramName(list.id, k, name));
    SCOPED_TRACE(vst3host::ToAscii(name));
    vst3host::ParameterChanges changes;
    changes.Add(list.id, vst.ctrl()->plainParamToNormalized(list.id, k));
    ProcessData data;
    data.inputParameterChanges = &changes;
    ASSERT_EQ(kResultOk, vst.proc()->process(data));

    LilvNode* preset = lilv_new_uri(w.Get(), (std::string(kTavloUri) + "#preset-" + std::to_string(k + 1)).c_str());
    ASSERT_TRUE(lilv_nodes_contains(presets, preset));
    lilv_world_load_resource(w.Get(), preset);
    LilvNodes* labels = lilv_world_find_nodes(w.Get(), preset, w.Uri(LILV_NS_RDFS "label"), nullptr);
    EXPECT_EQ(vst3host::ToAscii(name), Str(labels ? lilv_nodes_get_first(labels) : nullptr));
    lilv_nodes_free(labels);
    LilvNodes* values = lilv_world_find_nodes(w.Get(), preset, w.Uri(LV2_CORE__port), nullptr);
    EXPECT_EQ(11u, lilv_nodes_size(values));
    LILV_FOREACH (nodes, it, values)
    {
      const LilvNode* v = lilv_nodes_get(values, it);
      LilvNode* sym = lilv_world_get(w.Get(), v, w.Uri(LV2_CORE__symbol), nullptr);
      LilvNode* val = lilv_world_get(w.Get(), v, w.Uri(LV2_PRESETS__value), nullptr);
      const std::string symbol = Str(sym);
      // Parameter i's port: its index, or for those added later, theirs.
      int tag = -1;
      for (int i = 0; i < 11; ++i)
        if (symbol == ExpectedPorts()[(size_t)(i < 9 ? i : i + 10)].symbol) tag = i;
      ASSERT_GE(tag, 0) << symbol;
      // The ports hold the times in seconds, VST 3 hosts get milliseconds.
      const double perPort = tag == 2 || tag == 3 ? 1000.0 : 1.0;
      const double plain = vst.ctrl()->normalizedParamToPlain((ParamID)tag, vst.ctrl()->getParamNormalized((ParamID)tag));
      EXPECT_FLOAT_EQ((float)(plain / perPort), val ? lilv_node_as_float(val) : NAN) << symbol;
      lilv_node_free(sym);
      lilv_node_free(val);
    }
    lilv_nodes_free(values);
    lilv_node_free(preset);
  }
  lilv_nodes_free(presets);
  units->release();
}

// Rates outside the renderer's range give no instance: the signal chain's
// rate-dependent coefficients do not hold there (at 1 Hz the output gained
// 9.5 dB, at 1e9 Hz nothing was compressed).
namespace {

// A host's state of an instance: its control inputs by symbol, and what
// the plug-in stores through its state interface.
struct PortValues
{
  lv2host::Instance* inst;
  static const void* Get(const char* symbol, void* self, uint32_t* size, uint32_t* type)
  {
    PortValues* pv = static_cast<PortValues*>(self);
    if (pv->inst->Port(symbol) < 0) return nullptr;
    *size = sizeof(float);
    *type = pv->floatType;
    return &pv->inst->Control(symbol);
  }
  static void Set(const char* symbol, void* self, const void* value, uint32_t size, uint32_t)
  {
    PortValues* pv = static_cast<PortValues*>(self);
    if (size == sizeof(float) && pv->inst->Port(symbol) >= 0) memcpy(&pv->inst->Control(symbol), value, size);
  }
  uint32_t floatType;
};

IFxBase* PlugOf(const lv2host::Instance& i) { return static_cast<IFxLV2*>(lilv_instance_get_handle(i.Get()))->Plug(); }

}  // namespace

// A/B in an LV2 host: the values shown are the ports', the slot shown and
// the other slot go through the state interface, so a saved session gives
// both back; a session saved before the slots has both the same.
TEST(Lv2Plugin, BothABSlotsSurviveTheHostsState)
{
  lv2host::World& w = SharedWorld();
  LV2_URID_Map* map = w.Map();
  const uint32_t floatType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Float");
  lv2host::Instance a(w, w.Plugin());
  ASSERT_TRUE(a);
  a.Activate();
  a.Control("input") = 150.0f;
  a.Run(64);
  PlugOf(a)->SwitchSlot();  // B, as the UI switches it, starts as A
  a.Control("input") = 60.0f;  // the ports the UI then writes
  a.Control("detector") = 3.0f;
  a.Run(64);
  PortValues av{&a, floatType};
  LilvState* saved = lilv_state_new_from_instance(w.Plugin(), a.Get(), map, nullptr, nullptr, nullptr, nullptr,
                                                  PortValues::Get, &av, 0, nullptr);
  ASSERT_NE(nullptr, saved);
  char* text = lilv_state_to_string(w.Get(), map, w.Unmap(), saved, "urn:test:state", nullptr);
  EXPECT_NE(nullptr, strstr(text, "tavlo#slots")) << text;
  lilv_free(text);

  lv2host::Instance b(w, w.Plugin());
  ASSERT_TRUE(b);
  b.Activate();
  PortValues bv{&b, floatType};
  lilv_state_restore(saved, b.Get(), PortValues::Set, &bv, 0, nullptr);
  b.Run(64);
  IFxBase* plug = PlugOf(b);
  EXPECT_EQ(1, plug->ShownSlot());
  EXPECT_EQ(60.0, plug->ParamAt(0)->GetValue());
  EXPECT_EQ(3.0, plug->ParamAt(9)->GetValue());
  EXPECT_EQ(150.0, plug->OtherSlotValue(0));
  EXPECT_EQ(0.0, plug->OtherSlotValue(9));
  lilv_state_free(saved);

  // A session an LV2 host saved with the release before the slots: its
  // ports, no slots. Restored over a B shown, A is shown and B is the same.
  LilvState* old = lilv_state_new_from_file(w.Get(), map, nullptr, TAVLO_OLD_SESSION);
  ASSERT_NE(nullptr, old);
  lv2host::Instance c(w, w.Plugin());
  c.Activate();
  c.Control("input") = 10.0f;
  c.Run(64);
  PlugOf(c)->SwitchSlot();
  PortValues cv{&c, floatType};
  lilv_state_restore(old, c.Get(), PortValues::Set, &cv, 0, nullptr);
  c.Run(64);
  EXPECT_EQ(0, PlugOf(c)->ShownSlot());
  EXPECT_EQ(140.0, PlugOf(c)->ParamAt(0)->GetValue());
  EXPECT_EQ(140.0, PlugOf(c)->OtherSlotValue(0));
  lilv_state_free(old);
  a.Deactivate();
  b.Deactivate();
  c.Deactivate();
}

TEST(Lv2Plugin, InstantiatedOnlyAtRatesFrom8000To768000Hz)
{
  World& w = SharedWorld();
  const LilvPlugin* p = w.Plugin();
  ASSERT_NE(nullptr, p);
  const struct
  {
    double rate;
    bool made;
  } cases[] = {{8000.0, true},   {44100.0, true},  {768000.0, true}, {7999.0, false},   {768001.0, false},
               {1.0, false},     {1e-300, false},  {1e9, false},     {0.0, false},      {-48000.0, false},
               {NAN, false},     {INFINITY, false}};
  for (const auto& c : cases)
  {
    LilvInstance* inst = lilv_plugin_instantiate(p, c.rate, nullptr);
    EXPECT_EQ(c.made, inst != nullptr) << c.rate << " Hz";
    if (inst) lilv_instance_free(inst);
  }
}

// ---------------------------------------------------------------------------
// Sound

using namespace bundles;

float Tone(long frame) { return (float)(0.9 * std::sin(2.0 * 3.141592653589793 * 100.0 * (double)frame / 48000.0)); }

// The tone on both main inputs, the test signal on the side-chain.
float ToneSignal(int ch, long frame, double)
{
  return ch < 2 ? Tone(frame) : (float)vst3host::TestSignal(ch, frame, 0.9);
}

void FillInputs(long frame, int n, float* l, float* r, float* sl, float* sr)
{
  for (int f = 0; f < n; ++f)
  {
    l[f] = (float)vst3host::TestSignal(0, frame + f, 0.9);
    r[f] = (float)vst3host::TestSignal(1, frame + f, 0.9);
    sl[f] = (float)vst3host::TestSignal(2, frame + f, 0.9);
    sr[f] = (float)vst3host::TestSignal(3, frame + f, 0.9);
  }
}

class Lv2Sound : public vst3host::HostTest {};

// Block sizes no host would pick: one frame, primes, one past the LV2
// binding's own block of 4096.
const std::vector<int> kOddBlocks = {1, 17, 333, 4097, 7, 90, 2, 1031};

TEST_F(Lv2Sound, BitIdenticalToTheVst3Bundle)
{
  // At the rates hosts use most, each reaching the plug-in through its own
  // format's path (LV2 instantiate, VST 3 setupProcessing).
  // Input 100 = 0.25, Output -5 dB = 0.375, Mix 50 = 0.5, HPF 260 Hz = 0.5
  // on the normalised scale; Attack and Release stay at their defaults.
  const std::vector<Change> compress = {{0, 0, 100, 0.25}, {0, 1, -5, 0.375}, {0, 4, 50, 0.5}, {0, 5, 260, 0.5}};
  auto with = [&](std::vector<Change> extra) {
    std::vector<Change> v = compress;
    v.insert(v.end(), extra.begin(), extra.end());
    return v;
  };
  const RenderCase cases[] = {
    {"defaults", false, {}},
    {"compressing", false, compress},
    {"compressing, oversampled", false, with({{0, 6, 1, 1.0}})},
    {"side-chain connected, detector on the main input", true, with({{0, 8, 1, 1.0}})},
    {"side-chain connected and listened to", true, with({{0, 8, 0, 0.0}})},
    {"side-chain listened to but not connected", false, with({{0, 8, 0, 0.0}})},
    {"host bypass", false, with({{0, kHostBypass, 1, 1.0}})},
    {"host bypass released later", false, with({{0, kHostBypass, 1, 1.0}, {2, kHostBypass, 0, 0.0}})},
    {"plug-in's own Bypass", true, with({{0, 7, 1, 1.0}})},
    {"changes at later blocks", true,
     {{0, 0, 0, 0.0}, {1, 0, 200, 0.5}, {2, 6, 1, 1.0}, {3, 8, 0, 0.0}, {4, 4, 50, 0.5}, {5, 6, 0, 0.0}}},
    {"side-chain listened to, disconnected and connected again between runs", true, with({{0, 8, 0, 0.0}}),
     nullptr, 48000.0, nullptr, 0, {2, 3, 5}},
    {"both bypasses switched on and off mid-stream", true,
     with({{1, kHostBypass, 1, 1.0}, {2, 7, 1, 1.0}, {3, kHostBypass, 0, 0.0}, {4, 7, 0, 0.0}, {5, kHostBypass, 1, 1.0}})},
    {"odd block sizes, oversampled, the side-chain coming and going", true,
     with({{0, 6, 1, 1.0}, {0, 8, 0, 0.0}, {9, kHostBypass, 1, 1.0}, {11, kHostBypass, 0, 0.0}}), nullptr, 48000.0,
     &kOddBlocks, 30000, {4, 7, 13}},
    // A VST 3 point at frame k of a block against an LV2 run split at k.
    {"a step of Input within a block", false, with({{2, 0, 200, 0.5, 321}})},
    {"a ramp of Output within a block", false,
     with({{2, 1, -10, 0.25, 0}, {2, 1, -5, 0.375, 100}, {2, 1, 0, 0.5, 233}, {2, 1, 5, 0.625, 500}, {2, 1, 10, 0.75, 999}})},
    {"switches and both bypasses within blocks, past the LV2 binding's own block", true,
     with({{1, kHostBypass, 1, 1.0, 100}, {1, kHostBypass, 0, 0.0, 400}, {2, 6, 1, 1.0, 17}, {4, 8, 0, 0.0, 4095},
           {4, 7, 1, 1.0, 4500}, {4, 7, 0, 0.0, 5000}, {5, 6, 0, 0.0, 1}})},
  };
  for (double rate : {44100.0, 48000.0, 96000.0})
    for (RenderCase c : cases)
    {
      c.rate = rate;
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string((int)rate) + " Hz");
      const Render lv2 = RenderLv2(c);
      const Render vst3 = RenderVst3(c);
      ASSERT_EQ(c.frames > 0 ? (size_t)c.frames : (size_t)BlockStart((int)kBlocks.size()), lv2.left.size());
      EXPECT_GT(Rms(lv2.left, 0, lv2.left.size()), 0.05);  // a real signal came out
      const long diff = FirstDifference(lv2, vst3);
      EXPECT_EQ(-1, diff) << "first at frame " << diff << ": " << lv2.left[(size_t)std::max(0L, diff)] << " vs "
                          << vst3.left[(size_t)std::max(0L, diff)];
    }
}

// Every bypass switches through a 5 ms linear fade (240 frames at 48 kHz):
// a 100 Hz tone at 0.9 compressed hard (Input 200) jumped by up to 0.9
// between neighbouring samples at the switch; with the fade no step is
// much larger than the tone's own largest (0.0118). Once the fade is over,
// a bypass is the input bit for bit (the host's as late as the latency it
// is told, 5 frames with Oversample on), and either bypass released gives
// exactly what a render never bypassed gives: the chain went on hearing
// the input all along.
TEST_F(Lv2Sound, EveryBypassSwitchIsClickFree)
{
  const long at = BlockStart(2), fadeEnd = at + 239;  // the fade's last frame has weight 1
  for (int os = 0; os <= 1; ++os)
    for (int param : {kHostBypass, 7})
      for (bool toBypass : {true, false})
      {
        std::vector<Change> changes = {{0, 0, 200, 0.5}, {0, 6, (double)os, (double)os}};
        if (!toBypass) changes.push_back({0, param, 1, 1.0});
        changes.push_back({2, param, toBypass ? 1.0 : 0.0, toBypass ? 1.0 : 0.0});
        const std::string what = std::string(param == kHostBypass ? "host bypass" : "Bypass") +
                                 (toBypass ? " on" : " off") + (os ? ", oversampled" : "");
        SCOPED_TRACE(what);
        const RenderCase c = {what.c_str(), false, changes, ToneSignal};
        const Render lv2 = RenderLv2(c), vst3 = RenderVst3(c);
        EXPECT_EQ(-1, FirstDifference(lv2, vst3));
        for (const std::vector<double>* out : {&lv2.left, &lv2.right, &vst3.left, &vst3.right})
        {
          double step = 0.0;
          for (long i = at - 480; i < at + 960; ++i)
            step = std::max(step, (double)std::fabs((*out)[(size_t)i] - (*out)[(size_t)i - 1]));
          EXPECT_LT(step, 0.02);
        }
        const long delay = param == kHostBypass && os ? 5 : 0;
        if (toBypass)
        {
          EXPECT_NE(Tone(fadeEnd - 1 - delay), lv2.left[(size_t)fadeEnd - 1]);
          for (long i = fadeEnd; i < BlockStart((int)kBlocks.size()); ++i)
            ASSERT_EQ(Tone(i - delay), lv2.left[(size_t)i]) << "frame " << i;
        }
        else
        {
          std::vector<Change> never(changes.begin(), changes.begin() + 2);
          const Render ref = RenderLv2({"never bypassed", false, never, ToneSignal});
          EXPECT_NE(ref.left[(size_t)fadeEnd - 1], lv2.left[(size_t)fadeEnd - 1]);
          for (long i = fadeEnd; i < BlockStart((int)kBlocks.size()); ++i)
            ASSERT_EQ(ref.left[(size_t)i], lv2.left[(size_t)i]) << "frame " << i;
        }
      }
}

TEST_F(Lv2Sound, ControlChangesTakeEffectAtTheNextRun)
{
  const RenderCase steady = {"Input 0 throughout", false, {{0, 0, 0, 0.0}}};
  const RenderCase changed = {"Input 200 from block 2", false, {{0, 0, 0, 0.0}, {2, 0, 200, 0.5}}};
  const Render a = RenderLv2(steady), b = RenderLv2(changed);
  const long at = BlockStart(2);
  // Not a frame earlier, and within the first frames of that run.
  const long first = FirstDifference(a, b);
  EXPECT_GE(first, at);
  EXPECT_LT(first, at + 16);
  // Compressing, and much quieter than before by the end of the run.
  EXPECT_LT(Rms(b.left, (size_t)at + 600, (size_t)at + 1000), 0.8 * Rms(a.left, (size_t)at + 600, (size_t)at + 1000));
}

TEST_F(Lv2Sound, NaNAndOutOfRangeControlsAreHarmless)
{
  const double inf = INFINITY;
  // Values no parameter can take, from block 1 on, against the values the
  // parameters clamp them to (NaN leaves the value as it was).
  const RenderCase hostile = {"hostile values", true,
                              {{0, 0, 100, 0}, {1, 0, NAN, 0}, {1, 1, -inf, 0}, {1, 2, -1, 0}, {1, 3, inf, 0},
                               {1, 4, 150, 0}, {1, 5, 1e9, 0}, {1, 6, 7, 0}, {1, 8, 0.4, 0}, {1, 7, -3, 0}}};
  const RenderCase clamped = {"clamped values", true,
                              {{0, 0, 100, 0}, {1, 1, -20, 0}, {1, 2, 0.0001, 0}, {1, 3, 0.5, 0}, {1, 4, 100, 0},
                               {1, 5, 500, 0}, {1, 6, 1, 0}, {1, 8, 0, 0}, {1, 7, 0, 0}}};
  const Render h = RenderLv2(hostile), c = RenderLv2(clamped);
  for (float v : h.left) ASSERT_TRUE(std::isfinite(v));
  for (float v : h.right) ASSERT_TRUE(std::isfinite(v));
  EXPECT_EQ(-1, FirstDifference(h, c));
  EXPECT_GT(Rms(h.left, 0, h.left.size()), 0.01);

  // The host's enable switch, a toggle: NaN keeps it as it was, anything
  // above 0 enables, 0 and below disables. Each run is long enough for the
  // switch's fade (5 ms, 240 frames); its last 256 frames are compared.
  World& w = SharedWorld();
  Instance inst(w, w.Plugin());
  ASSERT_TRUE(inst);
  inst.Control("input") = 200;
  const float enables[] = {1.0f, NAN, 0.0f, NAN, 0.49f, -1.0f, 7.0f, -0.0f, 1e-6f};
  const bool bypassed[] = {false, false, true, true, false, true, false, true, false};
  for (int k = 0; k < 9; ++k)
  {
    inst.Control("enabled") = enables[k];
    FillInputs(k * 512L, 512, inst.Audio("in_l"), inst.Audio("in_r"), inst.Audio("sc_l"), inst.Audio("sc_r"));
    inst.Run(512);
    const bool same = !memcmp(inst.Audio("in_l") + 256, inst.Audio("out_l") + 256, 256 * sizeof(float)) &&
                      !memcmp(inst.Audio("in_r") + 256, inst.Audio("out_r") + 256, 256 * sizeof(float));
    EXPECT_EQ(bypassed[k], same) << "enabled = " << enables[k];
  }
}

// After a loud passage, deactivate and activate put the chain back as a
// new instance has it: a quiet tone then comes out bit for bit as from a
// fresh instance, and so does the meter. The run before deactivation
// switches a bypass on, so its fade is under way.
TEST_F(Lv2Sound, ReactivationStartsFromACleanSlate)
{
  struct Case
  {
    const char* what;
    float oversample;
    const char* lastSwitch;  // a control set in the last run before deactivation
    float value;
  };
  const Case cases[] = {
    {"compressing", 0, nullptr, 0},
    {"compressing, oversampled", 1, nullptr, 0},
    {"disabled before deactivation", 0, "enabled", 0},
    {"Bypass switched on before deactivation", 1, "bypass", 1},
  };
  World& w = SharedWorld();
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.what);
    Instance used(w, w.Plugin()), fresh(w, w.Plugin());
    ASSERT_TRUE(used && fresh);
    auto tone = [](Instance& inst, long start, int n, float amp) {
      for (int f = 0; f < n; ++f)
        inst.Audio("in_l")[f] = inst.Audio("in_r")[f] =
          (float)(amp * std::sin(2.0 * 3.141592653589793 * 220.0 * (double)(start + f) / 48000.0));
      inst.Run(n);
    };
    for (Instance* inst : {&used, &fresh})
    {
      inst->Control("input") = 200;
      inst->Control("oversample") = c.oversample;
    }
    for (long pos = 0; pos < 24000; pos += 480) tone(used, pos, 480, 0.9f);
    if (c.lastSwitch)
    {
      used.Control(c.lastSwitch) = c.value;
      fresh.Control(c.lastSwitch) = c.value;
    }
    tone(used, 24000, 100, 0.9f);
    used.Deactivate();
    used.Activate();
    for (long pos = 30000; pos < 39600; pos += 480)
    {
      tone(used, pos, 480, 0.1f);
      tone(fresh, pos, 480, 0.1f);
      for (const char* out : {"out_l", "out_r"})
        ASSERT_EQ(0, memcmp(used.Audio(out), fresh.Audio(out), 480 * sizeof(float))) << out << " at frame " << pos;
      ASSERT_EQ(fresh.Control("gain_reduction"), used.Control("gain_reduction")) << "meter at frame " << pos;
    }
  }
}

TEST_F(Lv2Sound, GainReductionMeterOnItsOutputPort)
{
  World& w = SharedWorld();
  Instance inst(w, w.Plugin());
  ASSERT_TRUE(inst);
  auto run = [&](int runs) {
    for (int k = 0; k < runs; ++k)
    {
      FillInputs(k * 480L, 480, inst.Audio("in_l"), inst.Audio("in_r"), inst.Audio("sc_l"), inst.Audio("sc_r"));
      inst.Run(480);
    }
    return inst.Control("gain_reduction");
  };
  // The port in dB says what the needle says, as the editor writes it.
  auto inDb = [&](float needle) {
    SCOPED_TRACE(needle);
    const float db = inst.Control("gain_reduction_db");
    EXPECT_NEAR(20.0 * std::log10(1.0 - needle), db, 1e-3);
    EXPECT_LE(db, 0.0f);
  };
  // At rest the needle falls from full scale to nothing within a second;
  // compressing hard it stands clearly up.
  float needle = run(200);
  EXPECT_LT(needle, 0.01f);
  inDb(needle);
  inst.Control("input") = 200;
  const float loaded = run(100);
  EXPECT_GT(loaded, 0.1f);
  EXPECT_LE(loaded, 1.0f);
  inDb(loaded);
  EXPECT_LT(inst.Control("gain_reduction_db"), -1.0f);
  inst.Control("input") = 0;
  needle = run(200);
  EXPECT_LT(needle, 0.01f);
  inDb(needle);
  // While the host disables the plug-in the chain stands still, and the
  // needle falls to rest rather than freezing where it stood.
  inst.Control("input") = 200;
  EXPECT_GT(run(100), 0.1f);
  inst.Control("enabled") = 0;
  needle = run(100);
  EXPECT_LT(needle, 0.01f);
  inDb(needle);
  inst.Control("enabled") = 1;
  EXPECT_GT(run(100), 0.1f);

  // The latency on its port, as the oversamplers delay the output.
  EXPECT_EQ(0.0f, inst.Control("latency"));
  inst.Control("oversample") = 1;
  run(1);
  EXPECT_EQ(5.0f, inst.Control("latency"));
  inst.Control("oversample") = 0;
  run(1);
  EXPECT_EQ(0.0f, inst.Control("latency"));

  // The fall is timed by the sample rate: from full deflection to 1 % in
  // 0.3 s at every rate the plug-in takes. A rate that did not reach the
  // plug-in would move the frame by the ratio of the rates.
  const struct
  {
    double rate;
    long frames;  // 0.3 s
  } rates[] = {{8000, 2400}, {44100, 13230}, {48000, 14400}, {96000, 28800}, {768000, 230400}};
  for (const auto& r : rates)
  {
    Instance at(w, w.Plugin(), r.rate);
    ASSERT_TRUE(at) << r.rate << " Hz";
    auto silence = [&](long frames) {
      for (long done = 0; done < frames; done += 8192) at.Run((int)std::min(8192L, frames - done));
      return at.Control("gain_reduction");
    };
    EXPECT_GT(silence(r.frames - 8), 0.01f) << r.rate << " Hz";
    EXPECT_LT(silence(16), 0.01f) << r.rate << " Hz";
  }
}

}  // namespace
