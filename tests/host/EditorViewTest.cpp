// The editor view's bookkeeping, in process: the open-view list, the
// references a view holds, resize requests and their answers, content scale.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "HostFixture.h"
#include "host/Vst3Host.h"
#include "TestPlugFrame.h"
#include "fx/IParam.h"
#include "graphics/IControl.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"
#include "vst3/IFxVST3.h"
#include "vst3/IFxVST3View.h"

namespace vst3host {
namespace {

// A plug-in that counts its editor hooks.
class ViewPlugIn : public IFxBase
{
public:
  ViewPlugIn()
    : IFxBase(1, "2-2", 1, "ViewPlug", "ViewPlug", "Tests", 0x10000, 0x5677506C, 0x54657374, 0, false, false, false,
              kAPISA)
  {
    ParamAt(0)->InitDouble("Gain", 0.0, -10.0, 10.0, 0.1);
  }
  void OnWindowResize() override { ++windowResizes; }
  void OnGUIOpen() override { ++opens; }
  void OnGUIClose() override { ++closes; }

  int windowResizes = 0, opens = 0, closes = 0;
};

// The plug-in in its binding, which tells when it is destroyed.
class ViewPlug : public IFxVST3
{
public:
  ViewPlug(bool withEditor, bool* destroyed) : IFxVST3(new ViewPlugIn()), mDestroyed(destroyed)
  {
    if (withEditor) Plug()->AttachGraphics(new IGraphicsHeadless(Plug(), 120, 90));
  }
  ~ViewPlug() override
  {
    if (mDestroyed) *mDestroyed = true;
  }
  ViewPlugIn* In() { return static_cast<ViewPlugIn*>(Plug()); }
  IFxEditor* GetGraphics() { return Plug()->GetGraphics(); }

private:
  bool* mDestroyed;
};

int RefCount(FUnknown* u)
{
  u->addRef();
  return (int)u->release();
}

TEST(EditorViewTest, ViewsAreListedAndHoldThePlugin)
{
  bool destroyed = false;
  auto* plug = new ViewPlug(true, &destroyed);
  Vst::IEditController* ctrl = static_cast<Vst::IEditController*>(plug);
  const int base = RefCount(ctrl);
  IPlugView* a = plug->createView("editor");
  IPlugView* b = plug->createView("editor");
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(nullptr, plug->createView("editor2"));
  EXPECT_EQ(base + 2, RefCount(ctrl));
  ASSERT_EQ(2u, plug->OpenViews().size());
  EXPECT_EQ(a, plug->OpenViews()[0]);

  ViewRect r;
  ASSERT_EQ(kResultOk, a->getSize(&r));
  EXPECT_EQ(0, r.left);
  EXPECT_EQ(0, r.top);
  EXPECT_EQ(120, r.right);
  EXPECT_EQ(90, r.bottom);

  // Destroying one view takes only that one off the list.
  EXPECT_EQ(0u, a->release());
  ASSERT_EQ(1u, plug->OpenViews().size());
  EXPECT_EQ(b, plug->OpenViews()[0]);
  EXPECT_EQ(base + 1, RefCount(ctrl));

  // The host lets go of the plug-in first; the last view takes it along.
  ctrl->release();
  EXPECT_FALSE(destroyed);
  b->release();
  EXPECT_TRUE(destroyed);
}

TEST(EditorViewTest, ResizeRequestsAndAnswers)
{
  auto* plug = new ViewPlug(true, nullptr);
  // No view yet: nothing to ask.
  plug->ResizeGraphics(300, 200);
  IPlugView* v = plug->createView("editor");
  auto* view = static_cast<IFxVST3View*>(v);
  // No frame yet: nothing happens.
  plug->ResizeGraphics(300, 200);
  EXPECT_FALSE(view->IsResizePending());

  PlugFrame frame;
  v->setFrame(&frame);
  plug->ResizeGraphics(300, 200);
  EXPECT_EQ(1, frame.ResizeRequests());
  EXPECT_EQ(0, frame.LastResize().left);
  EXPECT_EQ(0, frame.LastResize().top);
  EXPECT_EQ(300, frame.LastResize().right);
  EXPECT_EQ(200, frame.LastResize().bottom);
  // The host answered with onSize: the plug-in hears of it once.
  EXPECT_EQ(1, plug->In()->windowResizes);
  EXPECT_FALSE(view->IsResizePending());

  // A size the host chose on its own is only stored.
  ViewRect hostSize(0, 0, 640, 480);
  EXPECT_EQ(kResultOk, v->onSize(&hostSize));
  EXPECT_EQ(1, plug->In()->windowResizes);
  EXPECT_EQ(640, view->getRect().right);
  EXPECT_EQ(kResultOk, v->onSize(nullptr));

  // A host that answers later.
  frame.SetAnswerResize(false);
  plug->ResizeGraphics(310, 210);
  EXPECT_TRUE(view->IsResizePending());
  EXPECT_EQ(1, plug->In()->windowResizes);
  ViewRect answer(0, 0, 310, 210);
  v->onSize(&answer);
  EXPECT_EQ(2, plug->In()->windowResizes);
  EXPECT_FALSE(view->IsResizePending());
  EXPECT_EQ(kResultFalse, v->canResize());

  v->setFrame(nullptr);
  v->release();
  static_cast<Vst::IEditController*>(plug)->release();
}

TEST(EditorViewTest, WithoutEditorEverythingFails)
{
  bool destroyed = false;
  auto* plug = new ViewPlug(false, &destroyed);
  IPlugView* v = plug->createView("editor");
  ASSERT_NE(nullptr, v);  // created all the same
  ViewRect r(1, 2, 3, 4);
  EXPECT_EQ(kResultFalse, v->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID));
  EXPECT_EQ(kResultFalse, v->getSize(&r));
  EXPECT_EQ(3, r.right);
  PlugFrame frame;
  v->setFrame(&frame);
  EXPECT_EQ(kResultFalse, v->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID));
  EXPECT_EQ(0u, frame.EventHandlerCount());
  EXPECT_EQ(kResultOk, v->removed());
  EXPECT_EQ(0, plug->In()->opens);
  EXPECT_EQ(0, plug->In()->closes);
  v->setFrame(nullptr);
  static_cast<Vst::IEditController*>(plug)->release();
  EXPECT_FALSE(destroyed);
  v->release();
  EXPECT_TRUE(destroyed);
}

// The headless editor opens "windows" without a display; the view brackets
// them with the plug-in's open and close hooks, and a view dropped while
// open still closes.
TEST(EditorViewTest, OpenAndCloseHooksBracketTheWindow)
{
  auto* plug = new ViewPlug(true, nullptr);
  auto* gui = static_cast<IGraphicsHeadless*>(plug->GetGraphics());
  IPlugView* v = plug->createView("editor");
  PlugFrame frame;
  v->setFrame(&frame);
  ASSERT_EQ(kResultOk, v->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID));
  EXPECT_TRUE(gui->WindowIsOpen());
  EXPECT_EQ(1, plug->In()->opens);
  EXPECT_EQ(0, plug->In()->closes);
  EXPECT_EQ(kResultOk, v->removed());
  EXPECT_FALSE(gui->WindowIsOpen());
  EXPECT_EQ(1, plug->In()->closes);
  EXPECT_EQ(nullptr, gui->GetHostRunLoop());

  ASSERT_EQ(kResultOk, v->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID));
  EXPECT_NE(nullptr, gui->GetHostRunLoop());
  // A second view of the same plug-in cannot take the open window away.
  IPlugView* second = plug->createView("editor");
  PlugFrame frame2;
  second->setFrame(&frame2);
  EXPECT_EQ(kResultFalse, second->attached(reinterpret_cast<void*>(0x5678), kPlatformTypeX11EmbedWindowID));
  EXPECT_EQ(kResultOk, second->removed());
  second->setFrame(nullptr);
  second->release();
  EXPECT_TRUE(gui->WindowIsOpen());
  EXPECT_EQ(2, plug->In()->opens);
  EXPECT_EQ(1, plug->In()->closes);
  EXPECT_EQ(1, frame2.Refs());
  v->setFrame(nullptr);
  v->release();  // no removed(): the view closes the window itself
  EXPECT_FALSE(gui->WindowIsOpen());
  EXPECT_EQ(2, plug->In()->closes);
  EXPECT_EQ(nullptr, gui->GetHostRunLoop());
  static_cast<Vst::IEditController*>(plug)->release();
}

// A host whose context offers no run loop hears the binding's notices from
// an open view's frame instead, on the frame's loop; once the view is
// removed nothing is told from there any more.
TEST(EditorViewTest, WithoutAContextLoopNoticesComeFromTheViewsLoop)
{
  auto* plug = new ViewPlug(true, nullptr);
  HostApplication app("No Loop Host", false);
  ComponentHandler handler;
  ASSERT_EQ(kResultOk, plug->initialize(&app));
  plug->setComponentHandler(&handler);
  IPlugView* v = plug->createView("editor");
  PlugFrame frame;
  v->setFrame(&frame);
  ASSERT_EQ(kResultOk, v->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID));
  plug->Plug()->SetLatency(32);
  EXPECT_TRUE(handler.Edits().empty());
  EXPECT_TRUE(frame.RunUntil([&] { return !handler.Edits().empty(); }, 2000));
  ASSERT_EQ(1u, handler.Edits().size());
  EXPECT_EQ((double)Vst::kLatencyChanged, handler.Edits()[0].value);
  EXPECT_EQ(kResultOk, v->removed());
  EXPECT_EQ(0u, frame.TimerCount());
  plug->Plug()->SetLatency(0);
  frame.RunFor(100);
  EXPECT_EQ(1u, handler.Edits().size());
  v->setFrame(nullptr);
  v->release();
  plug->setComponentHandler(nullptr);
  plug->terminate();
  static_cast<Vst::IEditController*>(plug)->release();
}

// A host's content scale sizes the view; an open one asks the host's frame
// for room, a closed one reports the size when asked.
TEST(EditorViewTest, ContentScaleSetsTheSizeAndAsksAnOpenWindowForIt)
{
  auto* plug = new ViewPlug(true, nullptr);
  IPlugView* v = plug->createView("editor");
  IPlugViewContentScaleSupport* scale = nullptr;
  ASSERT_EQ(kResultOk, v->queryInterface(IPlugViewContentScaleSupport::iid, (void**)&scale));
  ASSERT_NE(nullptr, scale);
  PlugFrame frame;
  v->setFrame(&frame);
  auto size = [&] {
    ViewRect r;
    v->getSize(&r);
    return std::make_pair(r.right - r.left, r.bottom - r.top);
  };

  EXPECT_EQ(kResultOk, scale->setContentScaleFactor(2.0f));
  EXPECT_EQ(std::make_pair(240, 180), size());
  EXPECT_EQ(0, frame.ResizeRequests());

  ASSERT_EQ(kResultOk, v->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID));
  EXPECT_EQ(kResultOk, scale->setContentScaleFactor(1.5f));
  EXPECT_EQ(std::make_pair(180, 135), size());
  ASSERT_EQ(1, frame.ResizeRequests());
  EXPECT_EQ(180, frame.LastResize().right);
  EXPECT_EQ(135, frame.LastResize().bottom);
  EXPECT_EQ(1, plug->In()->windowResizes);
  // The same scale again asks for nothing.
  EXPECT_EQ(kResultOk, scale->setContentScaleFactor(1.5f));
  EXPECT_EQ(1, frame.ResizeRequests());
  // Above 3 it is 3; what is no scale at all is refused and changes nothing.
  EXPECT_EQ(kResultOk, scale->setContentScaleFactor(5.0f));
  EXPECT_EQ(std::make_pair(360, 270), size());
  EXPECT_EQ(2, frame.ResizeRequests());
  for (float bad : {0.0f, -1.0f, std::nanf("")}) EXPECT_EQ(kInvalidArgument, scale->setContentScaleFactor(bad));
  EXPECT_EQ(std::make_pair(360, 270), size());
  EXPECT_EQ(2, frame.ResizeRequests());

  scale->release();
  v->removed();
  v->setFrame(nullptr);
  v->release();
  static_cast<Vst::IEditController*>(plug)->release();

  // Without an editor there is nothing to scale.
  bool destroyed = false;
  auto* bare = new ViewPlug(false, &destroyed);
  IPlugView* bv = bare->createView("editor");
  IPlugViewContentScaleSupport* bs = nullptr;
  ASSERT_EQ(kResultOk, bv->queryInterface(IPlugViewContentScaleSupport::iid, (void**)&bs));
  EXPECT_EQ(kResultFalse, bs->setContentScaleFactor(2.0f));
  bs->release();
  static_cast<Vst::IEditController*>(bare)->release();
  bv->release();
  EXPECT_TRUE(destroyed);
}

// The editors a Tavlo binding makes.
int gTavloEditorsMade = 0;
IGraphics* CountedTavloEditor(IFxBase* plug)
{
  ++gTavloEditorsMade;
  return MakeTavloHeadlessEditor(plug);
}

// An instance that a host creates, sets up and runs makes no editor and
// opens no image (they cost time and memory in every instance of a
// session, most never shown); a view made later shows, after its first
// tick, the values and the meter the audio has reached, and follows them.
TEST(TavloEditorLifetime, NoEditorUntilAViewWhichShowsTheCurrentValuesAfterOneTick)
{
  gTavloEditorsMade = 0;
  const int images = IGraphics::CachedImageCount();
  HostApplication app;
  auto* b = new IFxVST3(MakePlug(), CountedTavloEditor);
  ASSERT_EQ(kResultOk, b->initialize(&app));
  Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 64, 48000.0};
  ASSERT_EQ(kResultOk, b->setupProcessing(setup));
  ASSERT_EQ(kResultOk, b->setActive(true));
  auto* tavlo = static_cast<Tavlo*>(b->Plug());

  Block block(false, 64);  // a silent side-chain
  ParameterChanges& changes = block.changes;
  long frame = 0;
  auto run = [&](int blocks) {
    for (int n = 0; n < blocks; ++n)
    {
      for (int i = 0; i < 64; ++i, ++frame)
        for (int ch = 0; ch < 2; ++ch) block.in.Set(0, ch, i, 0.9 * std::sin(0.06 * (double)frame));
      block.data.inputParameterChanges = n == 0 ? &changes : nullptr;
      ASSERT_EQ(kResultOk, b->process(block.data));
    }
  };
  changes.Add(kInput, 0.5);  // Input 200: heavy gain reduction
  run(200);
  EXPECT_EQ(0, gTavloEditorsMade);
  EXPECT_EQ(nullptr, tavlo->GetGraphics());
  EXPECT_EQ(images, IGraphics::CachedImageCount());
  const double meter = tavlo->Chain().MeterValue();
  ASSERT_GT(meter, 0.05);

  auto inputKnob = [](IGraphics* g) {
    std::vector<IControl*> knobs;
    for (int i = 0; i < g->NControls(); ++i)
      if (g->GetControl(i)->ParamIdx() == kInput) knobs.push_back(g->GetControl(i));
    return knobs;
  };
  IPlugView* view = b->createView("editor");
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(1, gTavloEditorsMade);
  auto* g = static_cast<IGraphicsHeadless*>(static_cast<IGraphics*>(tavlo->GetGraphics()));
  ASSERT_NE(nullptr, g);
  g->Tick();
  EXPECT_EQ(meter, g->GetControl(kTavloMeterControl)->GetValue());
  ASSERT_FALSE(inputKnob(g).empty());
  for (IControl* c : inputKnob(g)) EXPECT_DOUBLE_EQ(0.5, c->GetValue());

  // Automation and the meter while it is open, again after one tick.
  changes.Clear();
  changes.Add(kInput, 0.25);
  run(20);
  g->Tick();
  EXPECT_EQ(tavlo->Chain().MeterValue(), g->GetControl(kTavloMeterControl)->GetValue());
  EXPECT_NE(meter, tavlo->Chain().MeterValue());
  for (IControl* c : inputKnob(g)) EXPECT_DOUBLE_EQ(0.25, c->GetValue());

  // A factory preset the host chooses in a block (Drum Room Crush, Input
  // 180) is shown after the next tick too.
  changes.Clear();
  changes.Add(kPresetParamTag, 2.0 / (kTavloNumPresets - 1));
  run(1);
  EXPECT_DOUBLE_EQ(180.0, tavlo->ParamAt(kInput)->GetValue());
  g->Tick();
  for (IControl* c : inputKnob(g)) EXPECT_DOUBLE_EQ(0.45, c->GetValue());

  // A state restored while automation waits for the editor's tick: the tick
  // shows the restored value, not the older one put back over it. A value
  // that comes after the restore still wins.
  MemoryStream saved;
  ASSERT_EQ(kResultOk, b->getState(&saved));
  changes.Clear();
  changes.Add(kInput, 0.1);
  run(1);
  saved.Rewind();
  ASSERT_EQ(kResultOk, b->setState(&saved));
  EXPECT_DOUBLE_EQ(180.0, tavlo->ParamAt(kInput)->GetValue());
  g->Tick();
  for (IControl* c : inputKnob(g)) EXPECT_DOUBLE_EQ(0.45, c->GetValue());
  saved.Rewind();
  ASSERT_EQ(kResultOk, b->setState(&saved));
  changes.Clear();
  changes.Add(kInput, 0.3);
  run(1);
  g->Tick();
  for (IControl* c : inputKnob(g)) EXPECT_DOUBLE_EQ(0.3, c->GetValue());

  // The last view takes the editor with it; the next one makes a new one.
  view->release();
  EXPECT_EQ(nullptr, tavlo->GetGraphics());
  view = b->createView("editor");
  EXPECT_EQ(2, gTavloEditorsMade);
  view->release();

  b->setActive(false);
  b->terminate();
  b->release();
}

}  // namespace
}  // namespace vst3host
