// Tavlo.lv2's editor as a host's LV2 UI, on a private X server: found
// through lilv, loaded from its own module, embedded in a parent window,
// driven by idle calls and X input, talking to the plug-in only through
// port values.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "Lv2TestHost.h"
#include "X11Children.h"
#include "XvfbSession.h"
#include "fx/IParam.h"
#include "lv2/IFxLV2.h"
#include "lv2/atom/atom.h"
#include "lv2/options/options.h"
#include "lv2/ui/ui.h"
#include "lv2/urid/urid.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "raster/PxBitmap.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"

using namespace lv2host;

namespace {

constexpr int kW = 786, kH = 483;
constexpr uint32_t kInputPort = 0, kMeterPort = 10;
constexpr int kInputL = 127, kInputT = 279, kInputSize = 146;

// The UI module, found through lilv and loaded as a host loads it, from
// the LV2_PATH it was found in (which stays while the module is loaded).
struct UiModule
{
  World w{TAVLO_LV2_BUNDLE_PATH};
  std::string binary, bundle;
  void* handle = nullptr;
  const LV2UI_Descriptor* desc = nullptr;

  UiModule()
  {
    const LilvPlugin* p = w.Plugin();
    if (!p) return;
    LilvUIs* uis = lilv_plugin_get_uis(p);
    LILV_FOREACH (uis, it, uis)
    {
      const LilvUI* ui = lilv_uis_get(uis, it);
      if (!lilv_ui_is_a(ui, w.Uri(LV2_UI__X11UI))) continue;
      char* path = lilv_file_uri_parse(Str(lilv_ui_get_binary_uri(ui)).c_str(), nullptr);
      char* dir = lilv_file_uri_parse(Str(lilv_ui_get_bundle_uri(ui)).c_str(), nullptr);
      binary = path;
      bundle = dir;
      lilv_free(path);
      lilv_free(dir);
      const std::string uri = Str(lilv_ui_get_uri(ui));
      handle = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
      auto fn = handle ? (LV2UI_DescriptorFunction)dlsym(handle, "lv2ui_descriptor") : nullptr;
      for (uint32_t i = 0; fn && fn(i); ++i)
        if (uri == fn(i)->URI) desc = fn(i);
    }
    lilv_uis_free(uis);
  }
  ~UiModule()
  {
    if (handle) dlclose(handle);
  }
};

UiModule& SharedUiModule()
{
  static UiModule module;
  return module;
}

// One open UI with the host's side of its features recorded.
struct OpenUI
{
  const LV2UI_Descriptor* desc;
  LV2UI_Handle handle = nullptr;
  LV2UI_Widget widget = nullptr;
  const LV2UI_Idle_Interface* idle = nullptr;
  std::vector<std::pair<uint32_t, float>> writes;
  std::vector<std::pair<uint32_t, bool>> touches;
  // Touches, releases and writes in the order they came: "touch 0", "write 0", "release 0".
  std::vector<std::string> events;
  int resizedW = 0, resizedH = 0;

  // scale: a ui:scaleFactor option for the UI, 0 for none; instance: the
  // plug-in's handle for instance-access, null for none.
  OpenUI(const LV2UI_Descriptor* d, Window parent, float scale = 0.0f, void* instance = nullptr) : desc(d)
  {
    LV2UI_Resize resize = {this, [](LV2UI_Feature_Handle h, int w, int hgt) {
                             static_cast<OpenUI*>(h)->resizedW = w;
                             static_cast<OpenUI*>(h)->resizedH = hgt;
                             return 0;
                           }};
    // The touch feature is used for as long as the UI lives.
    mTouch = {this, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                static_cast<OpenUI*>(h)->touches.emplace_back(port, grabbed);
                static_cast<OpenUI*>(h)->events.push_back((grabbed ? "touch " : "release ") + std::to_string(port));
              }};
    const LV2_Feature parentF = {LV2_UI__parent, reinterpret_cast<void*>(parent)};
    const LV2_Feature resizeF = {LV2_UI__resize, &resize};
    const LV2_Feature touchF = {LV2_UI__touch, &mTouch};
    const LV2_Feature idleF = {LV2_UI__idleInterface, nullptr};
    LV2_URID_Map map = {&mUris, [](LV2_URID_Map_Handle h, const char* uri) {
                          auto* uris = static_cast<std::vector<std::string>*>(h);
                          for (size_t i = 0; i < uris->size(); ++i)
                            if ((*uris)[i] == uri) return (LV2_URID)(i + 1);
                          uris->push_back(uri);
                          return (LV2_URID)uris->size();
                        }};
    const LV2_Options_Option options[] = {
      {LV2_OPTIONS_INSTANCE, 0, map.map(map.handle, LV2_UI__scaleFactor), sizeof(float),
       map.map(map.handle, LV2_ATOM__Float), &scale},
      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    const LV2_Feature mapF = {LV2_URID__map, &map};
    const LV2_Feature optionsF = {LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature instanceF = {"http://lv2plug.in/ns/ext/instance-access", instance};
    const LV2_Feature* features[] = {&parentF, &resizeF, &touchF, &idleF, nullptr, nullptr, nullptr, nullptr};
    int extra = 4;
    if (scale > 0.0f)
    {
      features[extra++] = &mapF;
      features[extra++] = &optionsF;
    }
    if (instance) features[extra++] = &instanceF;
    handle = desc->instantiate(desc, kTavloUri, SharedUiModule().bundle.c_str(), Write, this, &widget, features);
    idle = static_cast<const LV2UI_Idle_Interface*>(desc->extension_data(LV2_UI__idleInterface));
  }
  ~OpenUI() { Close(); }
  void Close()
  {
    if (handle) desc->cleanup(handle);
    handle = nullptr;
  }

  static void Write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
  {
    ASSERT_EQ(0u, format);
    ASSERT_EQ(sizeof(float), size);
    float v;
    memcpy(&v, buffer, sizeof(v));
    static_cast<OpenUI*>(c)->writes.emplace_back(port, v);
    static_cast<OpenUI*>(c)->events.push_back("write " + std::to_string(port));
  }
  void Port(uint32_t port, float value) { desc->port_event(handle, port, sizeof(float), 0, &value); }
  // Idle calls at about 60 per second, as a host's toolkit loop makes them.
  void Settle(int ms = 200)
  {
    for (int t = 0; t < ms; t += 16)
    {
      if (idle && handle)
      {
        EXPECT_EQ(0, idle->idle(handle));
      }
      usleep(16 * 1000);
    }
  }
  // The same idle calls until pred holds or a generous deadline passes: the
  // UI draws and answers through its own X connection, which a loaded
  // machine may serve late, so nothing is read once after a fixed wait.
  bool Until(const std::function<bool()>& pred)
  {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred())
    {
      if (std::chrono::steady_clock::now() >= end) return pred();
      Settle(16);
    }
    return true;
  }

private:
  LV2UI_Touch mTouch;
  std::vector<std::string> mUris;
};

// The same layout in the same state, drawn off-screen in this process.
struct Reference
{
  // The UI's own model: the parameter table, with meters as reported.
  std::unique_ptr<IFxBase> plug{MakeParamTable()};

  Reference()
  {
    plug->AttachGraphics(MakeTavloHeadlessEditor(plug.get()));
    plug->RestorePreset(0);
  }
  IGraphicsHeadless* Editor() { return static_cast<IGraphicsHeadless*>(plug->GetGraphics()); }
  void Set(int idx, double plain)
  {
    plug->ParamAt(idx)->SetValue(plain);
    Editor()->SetParameterFromPlug(idx, plug->ParamAt(idx)->GetNormalized(), true);
  }
};

class Lv2UI : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    // The user's override would take precedence over the host's scale.
    unsetenv("TAVLO_UI_SCALE");
    ASSERT_TRUE(vst3host::XvfbSession::Shared().Start()) << vst3host::XvfbSession::Shared().Error();
    ASSERT_NE(nullptr, SharedUiModule().desc) << "no X11 UI loaded from " << SharedUiModule().binary;
  }
  void SetUp() override
  {
    mDpy = XOpenDisplay(nullptr);
    ASSERT_NE(nullptr, mDpy);
    int ev, err, maj, min;
    ASSERT_TRUE(XTestQueryExtension(mDpy, &ev, &err, &maj, &min));
    XSetWindowAttributes a;
    a.override_redirect = True;  // exactly where asked: there is no window manager
    a.background_pixel = 0x303030;
    mParent = XCreateWindow(mDpy, DefaultRootWindow(mDpy), 0, 0, kW, kH, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(mDpy, mParent);
    XSync(mDpy, False);
  }
  void TearDown() override
  {
    if (mParent) XDestroyWindow(mDpy, mParent);
    if (mDpy) XCloseDisplay(mDpy);
  }

  std::vector<Window> Children() { return X11Children(mDpy, mParent); }
  // The UI's window once the server shows it, ready for input.
  bool Shown(OpenUI& ui)
  {
    return ui.Until([&] {
      const std::vector<Window> kids = Children();
      XWindowAttributes wa;
      return kids.size() == 1 && XGetWindowAttributes(mDpy, kids[0], &wa) && wa.map_state == IsViewable;
    });
  }

  // Pixels of the UI's window that differ from the reference's raster.
  int Mismatches(Window w, Reference& ref, int x0 = 0, int y0 = 0, int cw = kW, int ch = kH)
  {
    // Readouts catch up with what they show (the gain reduction with the
    // meter), as on the window's timer ticks.
    ref.Editor()->OnGUIIdle();
    ref.Editor()->DrawAll();
    return Mismatches(w, ref.Editor()->GetDrawBitmap(), x0, y0, cw, ch);
  }
  // Waits for the window to show the reference; the mismatches left.
  int MismatchesOnceShown(OpenUI& ui, Window w, Reference& ref)
  {
    ref.Editor()->OnGUIIdle();
    ref.Editor()->DrawAll();
    PxSysBitmap* bm = ref.Editor()->GetDrawBitmap();
    int bad = -1;
    ui.Until([&] { return (bad = Mismatches(w, bm)) == 0; });
    return bad;
  }
  // The same against a raster drawn once, for polling.
  int Mismatches(Window w, PxSysBitmap* bm, int x0 = 0, int y0 = 0, int cw = kW, int ch = kH)
  {
    XImage* img = XGetImage(mDpy, w, x0, y0, (unsigned)cw, (unsigned)ch, AllPlanes, ZPixmap);
    if (!img) return -1;
    int bad = 0;
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x)
        bad += (bm->getBits()[(y0 + y) * bm->getRowSpan() + x0 + x] & 0xFFFFFF) !=
               ((unsigned)XGetPixel(img, x, y) & 0xFFFFFF);
    XDestroyImage(img);
    return bad;
  }

  void MoveTo(int x, int y)
  {
    int rx, ry;
    Window child;
    XTranslateCoordinates(mDpy, mParent, DefaultRootWindow(mDpy), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(mDpy, DefaultScreen(mDpy), rx, ry, 0);
    XSync(mDpy, False);
  }
  void Button(bool down)
  {
    XTestFakeButtonEvent(mDpy, 1, down ? True : False, 0);
    XSync(mDpy, False);
  }

  Display* mDpy = nullptr;
  Window mParent = 0;
};

TEST_F(Lv2UI, OpensInTheParentAndShowsWhatTheOffscreenRenderShows)
{
  OpenUI ui(SharedUiModule().desc, mParent);
  ASSERT_NE(nullptr, ui.handle);
  ASSERT_NE(nullptr, ui.idle);
  EXPECT_EQ(kW, ui.resizedW);
  EXPECT_EQ(kH, ui.resizedH);
  std::vector<Window> kids = Children();
  ASSERT_EQ(1u, kids.size());
  EXPECT_EQ(kids[0], (Window)reinterpret_cast<uintptr_t>(ui.widget));
  XWindowAttributes wa;
  ASSERT_TRUE(XGetWindowAttributes(mDpy, kids[0], &wa));
  EXPECT_EQ(kW, wa.width);
  EXPECT_EQ(kH, wa.height);
  EXPECT_EQ(IsViewable, wa.map_state);

  Reference ref;
  EXPECT_EQ(0, MismatchesOnceShown(ui, kids[0], ref));

  // Host automation arrives as port values: the knob and the meter move
  // to exactly where the reference puts them (the meter on its first
  // report), and nothing is written back.
  ui.Port(kInputPort, 200.0f);
  ref.Set(kInput, 200.0);
  EXPECT_EQ(0, MismatchesOnceShown(ui, kids[0], ref));
  ui.Port(kMeterPort, 0.5f);
  ASSERT_TRUE(ref.plug->SetMeterValue(0, 0.5));
  EXPECT_EQ(0, MismatchesOnceShown(ui, kids[0], ref));
  EXPECT_TRUE(ui.writes.empty());

  // A preset as hosts send it: every control port within one idle cycle,
  // one of them twice (the old value, then the new), the meter among them.
  // The editor shows the last value of each.
  const float leadVocal[9] = {160.0f, 6.5f, 0.002f, 0.15f, 100.0f, 100.0f, 0.0f, 0.0f, 1.0f};
  ui.Port(2, 0.005f);
  for (uint32_t port = 0; port < 9; ++port)
  {
    ui.Port(port, leadVocal[port]);
    ui.Port(kMeterPort, 0.5f);
    ref.Set((int)port, leadVocal[port]);
  }
  EXPECT_EQ(0, MismatchesOnceShown(ui, kids[0], ref));
  EXPECT_TRUE(ui.writes.empty());

  // Values a port cannot hold change nothing on screen (nothing to wait
  // for but time).
  ui.Port(kInputPort, NAN);
  ui.Port(kMeterPort, NAN);
  ui.Port(99, 1.0f);
  ui.Settle(100);
  EXPECT_EQ(0, Mismatches(kids[0], ref));

  ui.Close();
  EXPECT_TRUE(Children().empty());
}

TEST_F(Lv2UI, DragOnInputKnobWritesRisingValuesWithTouch)
{
  OpenUI ui(SharedUiModule().desc, mParent);
  ASSERT_NE(nullptr, ui.handle);
  ui.Port(kInputPort, 100.0f);
  ASSERT_TRUE(Shown(ui));

  // Each step is waited for, so that every one reaches the host on its own.
  const int cx = kInputL + kInputSize / 2, cy = kInputT + kInputSize / 2;
  MoveTo(cx, cy);
  Button(true);
  EXPECT_TRUE(ui.Until([&] { return ui.touches.size() == 1; }));
  for (int step = 1; step <= 5; ++step)
  {
    MoveTo(cx, cy - 8 * step);
    const double want = 100.0 + 400.0 * 8.0 * step / 146.0 / 4.0;
    EXPECT_TRUE(ui.Until([&] { return !ui.writes.empty() && std::fabs(ui.writes.back().second - want) < 1e-3; }))
      << "step " << step;
  }
  Button(false);
  EXPECT_TRUE(ui.Until([&] { return ui.touches.size() == 2; }));

  ASSERT_GE(ui.writes.size(), 3u);
  for (size_t i = 0; i < ui.writes.size(); ++i)
  {
    EXPECT_EQ(kInputPort, ui.writes[i].first);
    if (i > 0)
    {
      EXPECT_GT(ui.writes[i].second, ui.writes[i - 1].second) << i;
    }
  }
  EXPECT_GT(ui.writes.front().second, 100.0f);
  // 40 pixels up a 146-pixel knob with the knobs' gearing of 4, in plain units.
  EXPECT_NEAR(100.0 + 400.0 * 40.0 / 146.0 / 4.0, ui.writes.back().second, 1e-3);
  ASSERT_EQ(2u, ui.touches.size());
  EXPECT_EQ(std::make_pair(kInputPort, true), ui.touches.front());
  EXPECT_EQ(std::make_pair(kInputPort, false), ui.touches.back());

  // A value the host reports just as the knob is grabbed, with no idle call
  // in between, is where the drag starts: press and move reach the UI in
  // one idle call, before its next tick would show the value.
  ui.Settle(100);
  ui.writes.clear();
  ui.Port(kInputPort, 200.0f);
  Button(true);
  MoveTo(cx, cy - 48);
  const double want = 200.0 + 400.0 * 8.0 / 146.0 / 4.0;
  EXPECT_TRUE(ui.Until([&] { return !ui.writes.empty() && std::fabs(ui.writes.back().second - want) < 1e-3; }));
  Button(false);
  EXPECT_TRUE(ui.Until([&] { return ui.touches.size() == 4; }));
  ASSERT_FALSE(ui.writes.empty());
  EXPECT_NEAR(want, ui.writes.front().second, 1e-3) << "the drag started from the value shown before";
}

// A host that sets the plug-in's ports without telling its UI (a preset
// chosen in the host's own dialog): where the host lets the UI see the
// plug-in (instance-access), the editor shows the values the plug-in runs
// with, and a drag starts from them; the echo of the drag's own writes does
// not pull the knob back.
TEST_F(Lv2UI, WithInstanceAccessTheEditorFollowsThePlugIn)
{
  lv2host::World& w = SharedUiModule().w;
  lv2host::Instance dsp(w, w.Plugin());
  ASSERT_TRUE(dsp);
  dsp.Activate();
  dsp.Run(64);
  OpenUI ui(SharedUiModule().desc, mParent, 0.0f, lilv_instance_get_handle(dsp.Get()));
  ASSERT_NE(nullptr, ui.handle);
  ASSERT_TRUE(Shown(ui));
  const Window win = (Window)reinterpret_cast<uintptr_t>(ui.widget);

  const char* const symbols[9] = {"input", "output", "attack", "release", "mix", "hpf", "oversample", "bypass",
                                  "sidechain"};
  const float leadVocal[9] = {160.0f, 6.5f, 0.002f, 0.15f, 100.0f, 100.0f, 0.0f, 0.0f, 1.0f};
  for (int i = 0; i < 9; ++i) dsp.Control(symbols[i]) = leadVocal[i];
  dsp.Run(64);
  Reference ref;
  ref.Editor()->OnGUIIdle();
  for (int i = 0; i < 9; ++i) ref.Set(i, leadVocal[i]);
  EXPECT_EQ(0, MismatchesOnceShown(ui, win, ref));

  const int cx = kInputL + kInputSize / 2, cy = kInputT + kInputSize / 2;
  MoveTo(cx, cy);
  Button(true);
  MoveTo(cx, cy - 8);
  const double want = 160.0 + 400.0 * 8.0 / 146.0 / 4.0;
  EXPECT_TRUE(ui.Until([&] { return !ui.writes.empty() && std::fabs(ui.writes.back().second - want) < 1e-3; }));
  Button(false);
  EXPECT_TRUE(ui.Until([&] { return ui.touches.size() == 2; }));
  ASSERT_FALSE(ui.writes.empty());
  EXPECT_NEAR(want, ui.writes.front().second, 1e-3) << "the drag did not start from the plug-in's value";
  // The plug-in takes the last write a run later, the first ones never.
  dsp.Control("input") = ui.writes.back().second;
  dsp.Run(64);
  MoveTo(1, 1);
  ui.Settle(100);
  ref.Set(0, ui.writes.back().second);
  EXPECT_EQ(0, MismatchesOnceShown(ui, win, ref));

  // A/B: the editor's switch to B reaches the plug-in, whose state the host
  // saves, with A's settings kept there as the other slot.
  IFxBase* plug = static_cast<IFxLV2*>(lilv_instance_get_handle(dsp.Get()))->Plug();
  const double inputA = plug->ParamAt(0)->GetValue();
  MoveTo(364, 386);  // the switch's B
  Button(true);
  Button(false);
  EXPECT_TRUE(ui.Until([&] { return plug->ShownSlot() == 1; }));
  EXPECT_FLOAT_EQ(inputA, plug->OtherSlotValue(0));  // ports carry floats
  dsp.Deactivate();
}

// Touch and release reach the host in pairs around every write: a wheel turn
// is one touch, a double click's reset has its own, and closing the UI in
// the middle of a drag still releases.
TEST_F(Lv2UI, WheelDoubleClickAndClosingMidDragTouchInPairs)
{
  constexpr uint32_t kOutputPort = 1;
  const int ox = 506 + 73, oy = 279 + 73;
  const int ix = kInputL + kInputSize / 2, iy = kInputT + kInputSize / 2;
  OpenUI ui(SharedUiModule().desc, mParent);
  ASSERT_NE(nullptr, ui.handle);
  ASSERT_TRUE(Shown(ui));
  auto releases = [&] { return std::count(ui.events.begin(), ui.events.end(), "release 1"); };
  MoveTo(ox, oy);
  for (int i = 0; i < 3; ++i)
  {
    XTestFakeButtonEvent(mDpy, 4, True, 0);
    XTestFakeButtonEvent(mDpy, 4, False, 0);
  }
  XSync(mDpy, False);
  // The turn's touch is released once the wheel rests.
  EXPECT_TRUE(ui.Until([&] { return releases() == 1; }));
  const std::vector<std::string> turn = {"touch 1", "write 1", "write 1", "write 1", "release 1"};
  EXPECT_EQ(turn, ui.events);
  ASSERT_EQ(3u, ui.writes.size());
  EXPECT_FLOAT_EQ(1.2f, ui.writes.back().second);  // three hundredths of 40 dB

  ui.events.clear();
  for (int i = 0; i < 2; ++i)
  {
    Button(true);
    Button(false);
  }
  EXPECT_TRUE(ui.Until([&] { return releases() == 2; }));
  const std::vector<std::string> reset = {"touch 1", "release 1", "touch 1", "write 1", "release 1"};
  EXPECT_EQ(reset, ui.events);
  EXPECT_EQ(std::make_pair(kOutputPort, 0.0f), ui.writes.back());

  ui.events.clear();
  usleep(600 * 1000);
  MoveTo(ix, iy);
  Button(true);
  EXPECT_TRUE(ui.Until([&] { return !ui.events.empty(); }));
  MoveTo(ix, iy - 20);
  EXPECT_TRUE(ui.Until([&] { return std::count(ui.events.begin(), ui.events.end(), "write 0") >= 1; }));
  ui.Close();
  Button(false);
  ASSERT_GE(ui.events.size(), 3u);
  EXPECT_EQ("touch 0", ui.events.front());
  EXPECT_EQ("release 0", ui.events.back());
  EXPECT_EQ(2, std::count_if(ui.events.begin(), ui.events.end(), [](const std::string& e) { return e[0] != 'w'; }));
}

// LV2 hosts offer no menu for a parameter: a right click shows the editor's
// own entries. Its menu holds the idle call that opened it, as a modal menu
// does, so another connection picks "Enter value..." from the keyboard; then
// "-6 db" and Return write Output -6 in one touch, and the keyboard goes back
// to the window that had it.
TEST_F(Lv2UI, RightClickShowsTheEditorsMenuAndATypedValueIsOneTouch)
{
  constexpr uint32_t kOutputPort = 1;
  OpenUI ui(SharedUiModule().desc, mParent);
  ASSERT_NE(nullptr, ui.handle);
  ASSERT_TRUE(Shown(ui));
  auto focus = [&] {
    Window f = None;
    int revert = 0;
    XGetInputFocus(mDpy, &f, &revert);
    return f;
  };
  auto key = [](Display* d, KeySym sym) {
    const KeyCode code = XKeysymToKeycode(d, sym);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    XSync(d, False);
  };
  XSetInputFocus(mDpy, mParent, RevertToPointerRoot, CurrentTime);
  XSync(mDpy, False);
  const std::vector<Window> before = X11Children(mDpy, DefaultRootWindow(mDpy));
  std::atomic<bool> picked{false};
  std::thread picker([&] {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool shown = false;
    while (!shown && std::chrono::steady_clock::now() < end)
    {
      for (Window w : X11Children(d, DefaultRootWindow(d)))
      {
        XWindowAttributes wa;
        if (std::find(before.begin(), before.end(), w) == before.end() && XGetWindowAttributes(d, w, &wa) &&
            wa.map_state == IsViewable)
          shown = true;
      }
      usleep(20 * 1000);
    }
    if (shown)
    {
      usleep(100 * 1000);  // the menu's grab of the keyboard
      key(d, XK_Down);
      key(d, XK_Return);
      picked = true;
    }
    XCloseDisplay(d);
  });
  MoveTo(506 + 73, 279 + 73);
  XTestFakeButtonEvent(mDpy, 3, True, 0);
  XTestFakeButtonEvent(mDpy, 3, False, 0);
  XSync(mDpy, False);
  const bool entryOpen = ui.Until([&] { return picked && focus() != mParent; });
  picker.join();
  ASSERT_TRUE(entryOpen);
  EXPECT_TRUE(ui.events.empty());
  for (KeySym k : {XK_minus, XK_6, XK_space, XK_d, XK_b, XK_Return}) key(mDpy, k);
  EXPECT_TRUE(ui.Until([&] { return std::count(ui.events.begin(), ui.events.end(), "release 1") == 1; }));
  EXPECT_EQ((std::vector<std::string>{"touch 1", "write 1", "release 1"}), ui.events);
  ASSERT_FALSE(ui.writes.empty());
  EXPECT_EQ(std::make_pair(kOutputPort, -6.0f), ui.writes.back());
  EXPECT_TRUE(ui.Until([&] { return focus() == mParent; }));
  XSetInputFocus(mDpy, PointerRoot, RevertToPointerRoot, CurrentTime);
  XSync(mDpy, False);
}

TEST_F(Lv2UI, TwentyOpenCloseCyclesLeaveNothingBehind)
{
  for (int cycle = 0; cycle < 20; ++cycle)
  {
    SCOPED_TRACE(cycle);
    OpenUI ui(SharedUiModule().desc, mParent);
    ASSERT_NE(nullptr, ui.handle);
    ui.Port(kInputPort, 10.0f * (float)cycle);
    ui.Port(kMeterPort, 0.05f * (float)cycle);
    ui.Settle(48);
    EXPECT_EQ(1u, Children().size());
    ui.Close();
    EXPECT_TRUE(Children().empty());
  }
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
#endif
}

TEST_F(Lv2UI, HostScaleFactorSizesTheWindow)
{
  for (float scale : {2.0f, 1.5f})
  {
    SCOPED_TRACE(scale);
    OpenUI ui(SharedUiModule().desc, mParent, scale);
    ASSERT_NE(nullptr, ui.handle);
    const int w = (int)std::lround(kW * scale), h = (int)std::lround(kH * scale);
    EXPECT_EQ(w, ui.resizedW);
    EXPECT_EQ(h, ui.resizedH);
    XWindowAttributes wa;
    const Window win = (Window)reinterpret_cast<uintptr_t>(ui.widget);
    ui.Until([&] { return XGetWindowAttributes(mDpy, win, &wa) && wa.width == w && wa.height == h; });
    ASSERT_TRUE(XGetWindowAttributes(mDpy, win, &wa));
    EXPECT_EQ(w, wa.width);
    EXPECT_EQ(h, wa.height);
  }
}

TEST_F(Lv2UI, WithoutParentWindowThereIsNoUI)
{
  const LV2UI_Descriptor* d = SharedUiModule().desc;
  LV2UI_Widget widget = nullptr;
  const LV2_Feature idleF = {LV2_UI__idleInterface, nullptr};
  const LV2_Feature* features[] = {&idleF, nullptr};
  auto write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
  EXPECT_EQ(nullptr, d->instantiate(d, kTavloUri, "", write, nullptr, &widget, features));
  // Nor for another plug-in's URI.
  const LV2_Feature parentF = {LV2_UI__parent, reinterpret_cast<void*>(mParent)};
  const LV2_Feature* withParent[] = {&parentF, &idleF, nullptr};
  EXPECT_EQ(nullptr, d->instantiate(d, "urn:other", "", write, nullptr, &widget, withParent));
  EXPECT_TRUE(Children().empty());
  // Nor with a parent that cannot hold a window: the host learns at once,
  // rather than from a widget that is not there.
  XSetWindowAttributes a;
  const Window inputOnly =
    XCreateWindow(mDpy, mParent, 0, 0, kW, kH, 0, 0, InputOnly, CopyFromParent, 0, &a);
  XSync(mDpy, False);
  const LV2_Feature inputOnlyF = {LV2_UI__parent, reinterpret_cast<void*>(inputOnly)};
  const LV2_Feature* withInputOnly[] = {&inputOnlyF, &idleF, nullptr};
  widget = nullptr;
  LV2UI_Handle ui = d->instantiate(d, kTavloUri, "", write, nullptr, &widget, withInputOnly);
  EXPECT_EQ(nullptr, ui);
  if (ui) d->cleanup(ui);
  EXPECT_TRUE(X11Children(mDpy, inputOnly).empty());
  XDestroyWindow(mDpy, inputOnly);
}

}  // namespace
