// The editor core: rectangles, the dirty union and redraw policy, event
// dispatch and the parameter traffic it produces.

#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"

namespace
{
// A control that records what reached it and draws nothing.
class ProbeControl : public IControl
{
public:
  ProbeControl(IFxBase* plug, IRECT r, int paramIdx = -1) : IControl(plug, r, paramIdx) {}
  bool Draw(IGraphics*) override
  {
    ++draws;
    return true;
  }
  void OnMouseDown(int x, int y, IMouseMod*) override { log.push_back("down " + std::to_string(x) + "," + std::to_string(y)); }
  void OnMouseUp(int x, int y, IMouseMod*) override { log.push_back("up " + std::to_string(x) + "," + std::to_string(y)); }
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod*) override
  {
    log.push_back("drag " + std::to_string(x) + "," + std::to_string(y) + " d" + std::to_string(dX) + "," +
                  std::to_string(dY));
  }
  void OnMouseDblClick(int, int, IMouseMod*) override { log.push_back("dbl"); }
  void OnMouseWheel(int, int, IMouseMod*, int delta) override { log.push_back("wheel " + std::to_string(delta)); }
  bool OnKeyDown(int, int, int key) override
  {
    log.push_back("key " + std::to_string(key));
    return true;
  }
  void OnMouseOver(int, int, IMouseMod*) override { log.push_back("over"); }
  void OnMouseOut() override { log.push_back("out"); }

  int draws = 0;
  std::vector<std::string> log;
};
}  // namespace

TEST(IRECTTest, GeometryUnionIntersection)
{
  IRECT a(10, 20, 30, 60);
  EXPECT_EQ(a.W(), 20);
  EXPECT_EQ(a.H(), 40);
  EXPECT_FLOAT_EQ(a.MW(), 20.0f);
  EXPECT_FLOAT_EQ(IRECT(0, 0, 5, 5).MW(), 2.5f);
  EXPECT_TRUE(a.Contains(10, 20));
  EXPECT_FALSE(a.Contains(30, 20));  // right edge is exclusive
  EXPECT_FALSE(a.Contains(10, 60));
  EXPECT_FALSE(IRECT().Contains(0, 0));

  // Touching at a's right edge counts; touching at a's left edge does not.
  IRECT right(30, 20, 40, 60), left(0, 20, 10, 60);
  EXPECT_TRUE(a.Intersects(&right));
  EXPECT_FALSE(a.Intersects(&left));
  IRECT empty;
  EXPECT_FALSE(a.Intersects(&empty));

  IRECT b(25, 50, 70, 90);
  EXPECT_EQ(a.Intersect(&b), IRECT(25, 50, 30, 60));
  IRECT far(200, 200, 210, 210);
  EXPECT_TRUE(a.Intersect(&far).Empty());
  EXPECT_EQ(a.Union(&b), IRECT(10, 20, 70, 90));
  EXPECT_EQ(empty.Union(&b), b);
  EXPECT_EQ(b.Union(&empty), b);
}

TEST(IColorTest, PixelWordsAndBlendModes)
{
  EXPECT_EQ(COLOR_ORANGE.Pixel(), 0xFFFF7F00u);
  EXPECT_EQ(COLOR_GRAY.Pixel(), 0xFF7F7F7Fu);
  EXPECT_EQ(COLOR_TRANSPARENT.Pixel(), 0u);
  EXPECT_EQ(DEFAULT_TEXT_ENTRY_BGCOLOR, COLOR_WHITE);
  IColor c = IColor::FromPixel(0x80102030u);
  EXPECT_EQ(c, IColor(0x80, 0x10, 0x20, 0x30));

  EXPECT_EQ(BlendToPxMode(nullptr), 0x10000);
  IChannelBlend copy(IChannelBlend::kBlendCopy), add(IChannelBlend::kBlendAdditive),
    dodge(IChannelBlend::kBlendDodge), odd((IChannelBlend::EBlendMethod)7, 0.5f);
  EXPECT_EQ(BlendToPxMode(&copy), 0);
  EXPECT_EQ(BlendToPxMode(&add), 0x10001);
  EXPECT_EQ(BlendToPxMode(&dodge), 0x10002);
  EXPECT_EQ(BlendToPxMode(&odd), 0x10000);
  EXPECT_FLOAT_EQ(BlendWeight(&odd), 0.5f);
  EXPECT_FLOAT_EQ(BlendWeight(nullptr), 1.0f);

  IText t;
  EXPECT_STREQ(t.mFont, "Monaco");
  EXPECT_EQ(t.mSize, 10);
  EXPECT_EQ(t.mAlign, IText::kAlignCenter);
  EXPECT_EQ(t.mColor, COLOR_BLACK);
}

TEST(GraphicsCoreTest, ConstructionDefaultsAndEmptyEditor)
{
  TestPlug plug;
  IGraphicsHeadless zeroFps(&plug, 50, 40, 0);
  IGraphicsHeadless negFps(&plug, 50, 40, -3);
  IGraphicsHeadless fps60(&plug, 50, 40, 60);
  EXPECT_EQ(zeroFps.FPS(), 25);
  EXPECT_EQ(negFps.FPS(), 25);
  EXPECT_EQ(fps60.FPS(), 60);

  // No controls: nothing is dirty and Draw returns before showing anything.
  IRECT r;
  EXPECT_FALSE(zeroFps.IsDirty(&r));
  EXPECT_TRUE(r.Empty());
  IRECT all(0, 0, 50, 40);
  zeroFps.PrepDraw();
  zeroFps.Draw(&all);
  EXPECT_EQ(zeroFps.DrawScreenCount(), 0);
  EXPECT_FALSE(zeroFps.WindowIsOpen());
  zeroFps.OpenWindow(nullptr);
  EXPECT_TRUE(zeroFps.WindowIsOpen());
  zeroFps.CloseWindow();
  EXPECT_FALSE(zeroFps.WindowIsOpen());
}

TEST(GraphicsCoreTest, AttachOrderBackgroundAndPanel)
{
  EditorFixture f;
  int a = f.gui->AttachControl(new ProbeControl(f.plug, IRECT(0, 0, 5, 5)));
  int b = f.gui->AttachControl(new ProbeControl(f.plug, IRECT(5, 5, 9, 9)));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(f.gui->AttachControl(nullptr), -1);
  EXPECT_EQ(f.gui->NControls(), 2);
  f.gui->AttachBackground(kBgId, "resources/img/bg.png");
  ASSERT_EQ(f.gui->NControls(), 3);
  // The background goes in front of everything and is sized to its image.
  IControl* bg = f.gui->GetControl(0);
  EXPECT_EQ(*bg->GetRECT(), IRECT(0, 0, 100, 80));
  EXPECT_EQ(bg->ParamIdx(), -1);
  EXPECT_EQ(bg->GetBlend()->mMethod, IChannelBlend::kBlendCopy);
  EXPECT_EQ(*f.gui->GetControl(1)->GetRECT(), IRECT(0, 0, 5, 5));

  IColor red = COLOR_RED;
  f.gui->AttachPanelBackground(&red);
  EXPECT_EQ(*f.gui->GetControl(0)->GetRECT(), IRECT(0, 0, 100, 80));
  EXPECT_EQ(f.gui->NControls(), 4);
}

TEST(GraphicsCoreTest, DirtyUnionAndTwoTickRedraw)
{
  EditorFixture f;
  auto* bg = new ProbeControl(f.plug, IRECT(0, 0, 100, 80));
  auto* tl = new ProbeControl(f.plug, IRECT(2, 3, 12, 13));
  auto* mid = new ProbeControl(f.plug, IRECT(40, 30, 50, 40));
  auto* br = new ProbeControl(f.plug, IRECT(80, 60, 95, 75));
  auto* outside = new ProbeControl(f.plug, IRECT(96, 76, 99, 79));
  f.gui->AttachControl(bg);
  f.gui->AttachControl(tl);
  f.gui->AttachControl(mid);
  f.gui->AttachControl(br);
  f.gui->AttachControl(outside);
  f.Attach();

  // Every new control is dirty: the first tick repaints the whole union.
  IRECT r;
  ASSERT_TRUE(f.gui->Tick(&r));
  EXPECT_EQ(r, IRECT(0, 0, 100, 80));
  EXPECT_EQ(bg->draws, 1);
  EXPECT_EQ(outside->draws, 1);
  EXPECT_FALSE(f.gui->Tick());

  // The first value a control receives becomes its default and does not
  // make it dirty.
  f.gui->SetControlFromPlug(1, 0.1);
  f.gui->SetControlFromPlug(3, 0.1);
  EXPECT_FALSE(f.gui->Tick());
  EXPECT_DOUBLE_EQ(tl->GetDefaultValue(), 0.1);

  // Two controls at opposite corners changed from the plug-in.
  f.gui->SetControlFromPlug(1, 0.3);  // tl
  f.gui->SetControlFromPlug(3, 0.6);  // br
  IRECT d;
  ASSERT_TRUE(f.gui->IsDirty(&d));
  EXPECT_EQ(d, IRECT(2, 3, 95, 75));

  // The repaint of that union also draws the background and the control in
  // between, but not the one outside it.
  f.gui->Draw(&d);
  EXPECT_EQ(bg->draws, 2);
  EXPECT_EQ(tl->draws, 2);
  EXPECT_EQ(mid->draws, 2);
  EXPECT_EQ(br->draws, 2);
  EXPECT_EQ(outside->draws, 1);
  EXPECT_EQ(f.gui->LastScreenRect(), IRECT(2, 3, 95, 75));

  // Redraw-again keeps the changed controls dirty for exactly one more tick.
  IRECT second;
  ASSERT_TRUE(f.gui->Tick(&second));
  EXPECT_EQ(second, IRECT(2, 3, 95, 75));
  EXPECT_EQ(tl->draws, 3);
  EXPECT_FALSE(f.gui->Tick());

  // The same value again changes nothing.
  f.gui->SetControlFromPlug(1, 0.3);
  EXPECT_FALSE(f.gui->Tick());
  // Indexes outside the list are ignored.
  f.gui->SetControlFromPlug(5, 1.0);
  f.gui->SetControlFromPlug(-1, 1.0);
  EXPECT_FALSE(f.gui->Tick());
}

TEST(GraphicsCoreTest, HiddenControlsAreCleanedButNotDrawn)
{
  EditorFixture f;
  auto* a = new ProbeControl(f.plug, IRECT(0, 0, 10, 10), kGain);
  auto* b = new ProbeControl(f.plug, IRECT(0, 0, 10, 10), kMix);
  f.gui->AttachControl(a);
  f.gui->AttachControl(b);
  f.Attach();
  f.gui->HideControl(kMix, true);
  EXPECT_TRUE(b->IsHidden());
  IRECT r;
  ASSERT_TRUE(f.gui->Tick(&r));
  EXPECT_EQ(b->draws, 0);
  EXPECT_EQ(a->draws, 1);
  // Hide sets redraw-again, so the area is repainted once more, then rests.
  EXPECT_TRUE(f.gui->Tick());
  EXPECT_FALSE(f.gui->Tick());
  // A hidden control is not hit either.
  IMouseMod mod(true);
  f.gui->OnMouseDown(5, 5, &mod);
  EXPECT_EQ(f.gui->GetMouseCapture(), 0);
}

TEST(GraphicsCoreTest, NonStrictDrawingRedrawsPerDirtyControl)
{
  EditorFixture f;
  auto* bg = new ProbeControl(f.plug, IRECT(0, 0, 100, 80));
  auto* a = new ProbeControl(f.plug, IRECT(0, 0, 20, 20));
  auto* b = new ProbeControl(f.plug, IRECT(10, 10, 30, 30));
  auto* c = new ProbeControl(f.plug, IRECT(60, 60, 70, 70));
  for (IControl* p : std::vector<IControl*>{bg, a, b, c}) f.gui->AttachControl(p);
  f.Attach();
  f.gui->SetStrictDrawing(false);
  EXPECT_FALSE(f.gui->GetStrictDrawing());

  // Background dirty: everything is drawn once and cleaned.
  IRECT all(0, 0, 100, 80);
  f.gui->Draw(&all);
  EXPECT_EQ(bg->draws, 1);
  EXPECT_EQ(c->draws, 1);
  EXPECT_FALSE(c->IsDirty());

  // Only a dirty: a and everything meeting its rectangle (bg, b) are drawn.
  a->SetDirty(false);
  f.gui->Draw(&all);
  EXPECT_EQ(bg->draws, 2);
  EXPECT_EQ(a->draws, 2);
  EXPECT_EQ(b->draws, 2);
  EXPECT_EQ(c->draws, 1);
  EXPECT_FALSE(a->IsDirty());
}

TEST(GraphicsCoreTest, CaptureDragDeltasAndParamNotifications)
{
  EditorFixture f;
  auto* bg = new ProbeControl(f.plug, IRECT(0, 0, 100, 80));
  auto* knob = new ProbeControl(f.plug, IRECT(10, 10, 30, 30), kGain);
  f.gui->AttachControl(bg);
  f.gui->AttachControl(knob);
  f.Attach();
  f.plug->mLog.clear();

  IMouseMod mod(true);
  f.gui->OnMouseDown(15, 15, &mod);
  EXPECT_EQ(f.gui->GetMouseCapture(), 1);
  EXPECT_EQ(f.plug->mLog, std::vector<std::string>{"begin 0"});

  // Drags go to the captured control even outside it; same position is dropped.
  f.gui->OnMouseDrag(15, 15, &mod);
  f.gui->OnMouseDrag(18, 11, &mod);
  f.gui->OnMouseDrag(18, 11, &mod);
  f.gui->OnMouseDrag(60, 70, &mod);
  f.gui->OnMouseUp(60, 70, &mod);
  EXPECT_EQ(knob->log, (std::vector<std::string>{"down 15,15", "drag 18,11 d3,-4", "drag 60,70 d42,59", "up 60,70"}));
  EXPECT_EQ(f.gui->GetMouseCapture(), -1);
  EXPECT_TRUE(bg->log.empty());
  EXPECT_EQ(f.plug->mLog, (std::vector<std::string>{"begin 0", "end 0"}));

  // Without capture, a drag goes nowhere; a mouse-up still reaches the
  // topmost control but ends no gesture: none was begun.
  f.gui->OnMouseDrag(20, 20, &mod);
  f.gui->OnMouseUp(20, 20, &mod);
  EXPECT_EQ(knob->log.back(), "up 20,20");
  EXPECT_EQ(f.plug->Count("end"), 1);

  // A click on the background only: no parameter, no notification.
  f.gui->OnMouseDown(90, 5, &mod);
  EXPECT_EQ(bg->log.back(), "down 90,5");
  EXPECT_EQ(f.plug->Count("begin"), 1);
  f.gui->OnMouseUp(90, 5, &mod);
  EXPECT_EQ(f.plug->Count("end"), 1);
}

TEST(GraphicsCoreTest, RightClickOpensTheParameterMenuOfTheHostOrElseTheEditors)
{
  EditorFixture f;
  auto* knob = new ProbeControl(f.plug, IRECT(10, 10, 30, 30), kMix);
  auto* plain = new ProbeControl(f.plug, IRECT(40, 10, 60, 30));
  f.gui->AttachControl(knob);
  f.gui->AttachControl(plain);
  f.Attach();
  f.plug->mLog.clear();
  // What the host hears, without the plug-in's own change notes.
  auto heard = [&] {
    std::vector<std::string> got;
    for (const std::string& e : f.plug->mLog)
      if (e.compare(0, 6, "change") != 0) got.push_back(e);
    f.plug->mLog.clear();
    return got;
  };
  using Log = std::vector<std::string>;
  const char* kAsked = "menu 3 12 14 Enter value...|Reset to default";

  // A host with menus is asked for its menu with the editor's entries; the
  // control sees nothing, and no gesture begins.
  IMouseMod right(false, true);
  f.gui->OnMouseDown(12, 14, &right);
  EXPECT_EQ(heard(), Log{kAsked});
  EXPECT_TRUE(knob->log.empty());
  EXPECT_TRUE(f.gui->Menus().empty());
  EXPECT_EQ(f.gui->GetMouseCapture(), -1);

  // The host runs "Enter value...": a text entry over the control holding
  // the value, and what is typed reaches the host as one gesture.
  f.gui->QueueTextEntry("25");
  f.gui->OnParamMenuEntry(kMix, IGraphics::kMenuEnterValue);
  ASSERT_EQ(f.gui->TextEntries().size(), 1u);
  EXPECT_EQ(f.gui->TextEntries()[0].control, knob);
  EXPECT_EQ(f.gui->TextEntries()[0].text, "100");
  EXPECT_EQ(f.gui->TextEntries()[0].rect, IRECT(20 - 36, 20 - 9, 20 + 36, 20 + 9));
  EXPECT_EQ(heard(), (Log{"begin 3", "edit 3", "end 3"}));
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 25.0);
  // "Reset to default": the parameter's default, as one gesture; an entry
  // the editor never offered does nothing.
  f.gui->OnParamMenuEntry(kMix, IGraphics::kMenuResetToDefault);
  EXPECT_EQ(heard(), (Log{"begin 3", "edit 3", "end 3"}));
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 100.0);
  f.gui->OnParamMenuEntry(kMix, 1000);
  f.gui->OnParamMenuEntry(kGain, IGraphics::kMenuEnterValue);  // no control shows it
  EXPECT_EQ(f.gui->TextEntries().size(), 1u);
  EXPECT_TRUE(heard().empty());

  // A host without menus: the editor shows its entries alone, where the
  // click was.
  f.plug->mHostMenus = false;
  f.gui->QueueMenuChoice(0);
  f.gui->QueueTextEntry("40");
  f.gui->OnMouseDown(12, 14, &right);
  ASSERT_EQ(f.gui->Menus().size(), 1u);
  EXPECT_EQ(f.gui->Menus()[0].items, (Log{"Enter value...", "Reset to default"}));
  EXPECT_EQ(f.gui->Menus()[0].rect, IRECT(12, 14, 13, 15));
  EXPECT_EQ(heard(), (Log{kAsked, "begin 3", "edit 3", "end 3"}));
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 40.0);
  f.gui->QueueMenuChoice(1);
  f.gui->OnMouseDown(12, 14, &right);
  EXPECT_EQ(heard(), (Log{kAsked, "begin 3", "edit 3", "end 3"}));
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 100.0);
  // Dismissed: nothing changes, nothing is typed.
  f.gui->OnMouseDown(12, 14, &right);
  EXPECT_EQ(heard(), Log{kAsked});
  EXPECT_EQ(f.gui->Menus().size(), 3u);
  EXPECT_EQ(f.gui->TextEntries().size(), 2u);
  EXPECT_TRUE(knob->log.empty());

  // A control without a parameter gets the right click itself.
  f.gui->OnMouseDown(45, 14, &right);
  EXPECT_EQ(plain->log, std::vector<std::string>{"down 45,14"});
  EXPECT_TRUE(heard().empty());
}

TEST(GraphicsCoreTest, GrayedControlsAreSkippedByClicksButNotByMouseOverWhenAsked)
{
  EditorFixture f;
  auto* under = new ProbeControl(f.plug, IRECT(0, 0, 50, 50));
  auto* top = new ProbeControl(f.plug, IRECT(0, 0, 50, 50), kGain);
  f.gui->AttachControl(under);
  f.gui->AttachControl(top);
  f.Attach();
  f.gui->GrayOutControl(kGain, true);
  EXPECT_FLOAT_EQ(top->GetBlend()->mWeight, 0.25f);

  IMouseMod mod(true);
  f.gui->OnMouseDown(10, 10, &mod);
  EXPECT_TRUE(top->log.empty());
  EXPECT_EQ(under->log.size(), 1u);
  f.gui->OnMouseUp(10, 10, &mod);
  f.gui->OnMouseWheel(10, 10, &mod, 2);
  EXPECT_EQ(under->log.back(), "wheel 2");

  // Mouse-over is off by default.
  EXPECT_FALSE(f.gui->OnMouseOver(10, 10, &mod));
  EXPECT_EQ(under->log.size(), 3u);
  f.gui->HandleMouseOver(true);
  EXPECT_TRUE(f.gui->OnMouseOver(10, 10, &mod));
  EXPECT_EQ(under->log.back(), "over");
  top->SetMOWhenGrayed(true);
  EXPECT_TRUE(f.gui->OnMouseOver(11, 10, &mod));
  EXPECT_EQ(top->log, std::vector<std::string>{"over"});
  EXPECT_EQ(under->log.back(), "out");  // left the previous one
  EXPECT_EQ(f.gui->GetMouseOver(), 1);
  f.gui->OnMouseOut();
  EXPECT_EQ(f.gui->GetMouseOver(), -1);

  f.gui->GrayOutControl(kGain, false);
  EXPECT_FLOAT_EQ(top->GetBlend()->mWeight, 1.0f);
}

TEST(GraphicsCoreTest, KeysGoToControlOrKeyCatcher)
{
  EditorFixture f;
  auto* bg = new ProbeControl(f.plug, IRECT(0, 0, 100, 80));
  auto* knob = new ProbeControl(f.plug, IRECT(10, 10, 30, 30), kGain);
  f.gui->AttachControl(bg);
  f.gui->AttachControl(knob);
  f.Attach();

  // No key catcher: over the background the key is not taken.
  EXPECT_FALSE(f.gui->OnKeyDown(70, 70, 15));
  EXPECT_TRUE(bg->log.empty());

  auto* catcher = new ProbeControl(f.plug, IRECT());
  f.gui->AttachKeyCatcher(catcher);
  EXPECT_TRUE(f.gui->OnKeyDown(70, 70, 15));    // over the background
  EXPECT_TRUE(f.gui->OnKeyDown(200, 200, 16));  // over nothing
  EXPECT_TRUE(f.gui->OnKeyDown(20, 20, 17));    // over the knob
  EXPECT_EQ(catcher->log, (std::vector<std::string>{"key 15", "key 16"}));
  EXPECT_EQ(knob->log, std::vector<std::string>{"key 17"});
  EXPECT_TRUE(bg->log.empty());
}

TEST(GraphicsCoreTest, DoubleClickDispatch)
{
  EditorFixture f;
  auto* a = new ProbeControl(f.plug, IRECT(0, 0, 20, 20), kGain);
  f.gui->AttachControl(a);
  f.Attach();
  f.plug->mLog.clear();
  IMouseMod mod(true);
  EXPECT_FALSE(f.gui->OnMouseDblClick(5, 5, &mod));
  EXPECT_EQ(a->log, std::vector<std::string>{"dbl"});
  EXPECT_EQ(f.gui->GetMouseCapture(), -1);
  EXPECT_FALSE(f.gui->OnMouseDblClick(50, 50, &mod));

  // A double click that edits nothing tells the host nothing.
  EXPECT_TRUE(f.plug->mLog.empty());

  // Taken as a single click it is a press: its gesture begins, and ends with
  // the release.
  a->SetDblAsSingleClick(true);
  EXPECT_TRUE(f.gui->OnMouseDblClick(6, 7, &mod));
  EXPECT_EQ(a->log.back(), "down 6,7");
  EXPECT_EQ(f.gui->GetMouseCapture(), 0);
  EXPECT_EQ(f.gui->GetMouseX(), 6);
  EXPECT_EQ(f.plug->mLog, std::vector<std::string>{"begin 0"});
  f.gui->OnMouseUp(6, 7, &mod);
  EXPECT_EQ(f.plug->mLog, (std::vector<std::string>{"begin 0", "end 0"}));
}

// The headless editor on a clock the test sets.
class ClockedEditor : public IGraphicsHeadless
{
public:
  using IGraphicsHeadless::IGraphicsHeadless;
  double now = 1000.0;

protected:
  double GestureClockMs() override { return now; }
};

TEST(GraphicsCoreTest, EveryEditReachesTheHostInsideOneGesture)
{
  TestPlug plug;
  auto* gui = new ClockedEditor(&plug, 100, 80, 0, TestResourceDir().c_str());
  IBitmap strip = gui->LoadIBitmap(kStrip61Id, "resources/img/strip61.png", 61);
  IBitmap sw = gui->LoadIBitmap(kSwitch2Id, "resources/img/switch2.png", 2);
  auto* gain = new IKnobMultiControl(&plug, 0, 0, kGain, &strip);  // 10 x 6
  gui->AttachControl(gain);
  gui->AttachControl(new ISwitchControl(&plug, 20, 0, kSwitch, &sw));  // 12 x 8
  auto* mix = new IKnobMultiControl(&plug, 40, 0, kMix, &strip);
  gui->AttachControl(mix);
  plug.AttachGraphics(gui);
  gui->OpenWindow(nullptr);
  IMouseMod left(true);
  auto step = [&](const char* what, const std::vector<std::string>& want) {
    SCOPED_TRACE(what);
    std::vector<std::string> got;
    for (const std::string& e : plug.mLog)
      if (e.compare(0, 6, "change") != 0) got.push_back(e);
    EXPECT_EQ(want, got);
    plug.mLog.clear();
  };
  plug.mLog.clear();

  // A double click after a click: the reset is a gesture of its own, and
  // the release that follows it ends nothing.
  gui->OnMouseDown(3, 3, &left);
  gui->OnMouseUp(3, 3, &left);
  gui->OnMouseDblClick(3, 3, &left);
  gui->OnMouseUp(3, 3, &left);
  step("double click on a knob", {"begin 0", "end 0", "begin 0", "edit 0", "end 0"});
  gui->OnMouseDown(22, 2, &left);
  gui->OnMouseUp(22, 2, &left);
  gui->OnMouseDblClick(22, 2, &left);
  gui->OnMouseUp(22, 2, &left);
  step("double click on a switch", {"begin 2", "edit 2", "end 2", "begin 2", "edit 2", "end 2"});

  // A wheel turn is one gesture, open until the wheel rests for the pause.
  for (int k = 0; k < 3; ++k, gui->now += 100.0) gui->OnMouseWheel(3, 3, &left, 1);
  gui->now += IGraphics::kWheelGesturePauseMs - 110.0;
  gui->Tick();
  step("wheel turning", {"begin 0", "edit 0", "edit 0", "edit 0"});
  gui->now += 20.0;
  gui->Tick();
  step("wheel at rest", {"end 0"});
  // ...or until the next other gesture: a turn elsewhere, a press, a typed value.
  gui->OnMouseWheel(3, 3, &left, 1);
  gui->OnMouseWheel(42, 2, &left, -1);
  step("wheel on another knob", {"begin 0", "edit 0", "end 0", "begin 3", "edit 3"});
  gui->OnMouseDown(22, 2, &left);
  gui->OnMouseUp(22, 2, &left);
  step("press after a turn", {"end 3", "begin 2", "edit 2", "end 2"});
  gui->OnMouseWheel(42, 2, &left, 1);
  gain->DisablePrompt(false);
  gui->QueueTextEntry("-7.5");
  gain->PromptUserInput();
  step("typed value after a turn", {"begin 3", "edit 3", "end 3", "begin 0", "edit 0", "end 0"});
  // The wheel over the knob being dragged is part of the drag.
  gui->OnMouseDown(43, 3, &left);
  gui->OnMouseWheel(43, 3, &left, 1);
  gui->OnMouseDrag(43, 1, &left);
  gui->OnMouseUp(43, 1, &left);
  step("wheel during a drag", {"begin 3", "edit 3", "edit 3", "end 3"});

  // Closing the window ends a drag or a turn cut short, once.
  gui->OnMouseDown(3, 3, &left);
  gui->OnMouseDrag(3, 1, &left);
  gui->CloseWindow();
  gui->OnMouseUp(3, 1, &left);
  step("closed during a drag", {"begin 0", "edit 0", "end 0"});
  gui->OpenWindow(nullptr);
  gui->OnMouseWheel(42, 2, &left, 1);
  gui->CloseWindow();
  gui->now += 1000.0;
  gui->Tick();
  step("closed during a turn", {"begin 3", "edit 3", "end 3"});
  // Replacing the controls ends what they held.
  gui->OnMouseDown(3, 3, &left);
  gui->Resize(90, 70);
  step("resized during a press", {"begin 0", "end 0", "resize 90 70"});
}

TEST(GraphicsCoreTest, ParameterLinkageBothWays)
{
  EditorFixture f;
  auto* gain = new ProbeControl(f.plug, IRECT(0, 0, 10, 10), kGain);
  auto* gain2 = new ProbeControl(f.plug, IRECT(10, 0, 20, 10), kGain);
  auto* follower = new ProbeControl(f.plug, IRECT(20, 0, 30, 10), kMode);
  follower->AddAuxParam(kMix);
  f.gui->AttachControl(gain);
  f.gui->AttachControl(gain2);
  f.gui->AttachControl(follower);
  f.Attach();

  // Attaching sends every parameter normalised: 0 dB of -20..20 is 0.5.
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.5);
  EXPECT_DOUBLE_EQ(gain->GetDefaultValue(), 0.5);
  EXPECT_DOUBLE_EQ(follower->GetValue(), 0.5);  // mode 1 of 0..2
  EXPECT_DOUBLE_EQ(follower->GetAuxParam(0)->mValue, 1.0);

  // Plain values are normalised by the parameter: 10 dB is 0.75.
  f.gui->SetParameterFromPlug(kGain, 10.0, false);
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.75);
  EXPECT_DOUBLE_EQ(gain2->GetValue(), 0.75);
  f.gui->SetParameterFromPlug(kMix, 25.0, false);
  EXPECT_DOUBLE_EQ(follower->GetAuxParam(0)->mValue, 0.25);
  EXPECT_DOUBLE_EQ(follower->GetValue(), 0.5);

  // From the editor side each bound control pushes the value to the plug-in.
  f.plug->mLog.clear();
  f.gui->SetParameterFromGUI(kGain, 0.25);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), -10.0);
  EXPECT_EQ(f.plug->Count("edit 0"), 2);  // one push per bound control
  EXPECT_EQ(f.plug->Count("change 0"), 2);
  EXPECT_DOUBLE_EQ(gain2->GetValue(), 0.25);

  // Clamp in plain units: -10..10 dB is 0.25..0.75 normalised.
  f.gui->ClampControl(kGain, -10.0, 10.0, false);
  EXPECT_DOUBLE_EQ(gain->GetClampLo(), 0.25);
  EXPECT_DOUBLE_EQ(gain->GetClampHi(), 0.75);
  f.gui->SetParameterFromPlug(kGain, 1.0, true);
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.75);

  f.gui->AssignParamNameToolTips();
  EXPECT_STREQ(gain->GetTooltip(), "Gain");
  EXPECT_STREQ(follower->GetTooltip(), "Mode");

  // Automation look-up.
  EXPECT_EQ(f.gui->GetParamIdxForPTAutomation(25, 5), kMode);
  EXPECT_EQ(f.gui->GetLastClickedParamForPTAutomation(), kMode);
  EXPECT_EQ(f.gui->GetLastClickedParamForPTAutomation(), -1);
  EXPECT_EQ(f.gui->GetParamIdxForPTAutomation(50, 50), -1);
}

TEST(GraphicsCoreTest, ResizeDropsControlsAndTellsThePlugin)
{
  EditorFixture f;
  f.gui->AttachControl(new ProbeControl(f.plug, IRECT(0, 0, 10, 10)));
  f.Attach();
  f.plug->mLog.clear();
  f.gui->Resize(100, 80);  // unchanged: the platform does nothing
  EXPECT_EQ(f.gui->NControls(), 1);
  f.gui->Resize(120, 90);
  EXPECT_EQ(f.gui->NControls(), 0);
  EXPECT_EQ(f.gui->Width(), 120);
  ASSERT_NE(f.gui->GetDrawBitmap(), nullptr);
  EXPECT_EQ(f.plug->mLog, std::vector<std::string>{"resize 120 90"});
}

// At a content scale the layout keeps its pixels while the redraw works in
// the window's: dirty areas, hits and text follow.
TEST(GraphicsCoreTest, ScaleMapsTheLayoutToDevicePixelsAndBack)
{
  EditorFixture f;
  auto* bg = new ProbeControl(f.plug, IRECT(0, 0, 100, 80));
  auto* a = new ProbeControl(f.plug, IRECT(10, 20, 30, 40), kGain);
  auto* b = new ProbeControl(f.plug, IRECT(51, 33, 71, 53));
  f.gui->AttachControl(bg);
  f.gui->AttachControl(a);
  f.gui->AttachControl(b);
  f.Attach();
  f.gui->Tick();

  f.gui->SetScale(2.0);
  EXPECT_EQ(f.gui->Width(), 100);
  EXPECT_EQ(f.gui->WindowWidth(), 200);
  EXPECT_EQ(f.gui->WindowHeight(), 160);
  ASSERT_NE(f.gui->GetDrawBitmap(), nullptr);
  EXPECT_EQ(f.gui->GetDrawBitmap()->getWidth(), 200);
  // A new scale redraws everything.
  IRECT all;
  ASSERT_TRUE(f.gui->Tick(&all));
  EXPECT_EQ(all, IRECT(0, 0, 200, 160));
  f.gui->Tick();
  f.gui->SetControlFromPlug(1, 0.7);
  IRECT d;
  ASSERT_TRUE(f.gui->IsDirty(&d));
  EXPECT_EQ(d, IRECT(20, 40, 60, 80));
  f.gui->Draw(&d);
  EXPECT_EQ(b->draws, 2) << "b lies outside the dirty device area";

  // Device pixels map back to the layout pixel they show; every layout
  // pixel maps to one that maps back to it, and equal sizes stay equal.
  EXPECT_EQ(f.gui->ToLayout(0), 0);
  EXPECT_EQ(f.gui->ToLayout(41), 20);
  for (double scale : {1.25, 1.5, 1.75, 2.0, 2.5, 3.0})
  {
    f.gui->SetScale(scale);
    for (int x = 0; x < 800; ++x) ASSERT_EQ(f.gui->ToLayout(f.gui->ToDevice(x)), x) << scale;
    EXPECT_EQ(f.gui->ToDevice(IRECT(3, 3, 13, 9)).W(), f.gui->ToDevice(IRECT(4, 4, 14, 10)).W()) << scale;
    EXPECT_EQ(f.gui->ToDevice(IRECT(3, 3, 13, 9)).H(), f.gui->ToDevice(IRECT(4, 4, 14, 10)).H()) << scale;
  }

  // A scale change ends a drag in progress.
  f.gui->SetScale(2.0);
  IMouseMod left(true);
  f.gui->OnMouseDown(15, 25, &left);
  EXPECT_EQ(f.gui->GetMouseCapture(), 1);
  f.gui->SetScale(1.5);
  EXPECT_EQ(f.gui->GetMouseCapture(), -1);
}

// Text at a scale comes from a font of the scaled size at the scaled place:
// exactly what the layout's text at twice the size draws at scale 1.
TEST(GraphicsCoreTest, ScaledTextIsSetInTheScaledSizeNotEnlarged)
{
  EditorFixture scaled, plain(200, 160);
  scaled.gui->AttachPanelBackground(&COLOR_BLACK);
  plain.gui->AttachPanelBackground(&COLOR_BLACK);
  scaled.Attach();
  plain.Attach();
  scaled.gui->SetScale(2.0);
  scaled.gui->DrawAll();
  plain.gui->DrawAll();
  IText small(14, &COLOR_WHITE, "DejaVu Sans"), big(28, &COLOR_WHITE, "DejaVu Sans");
  IRECT at(10, 10, 90, 30), at2(20, 20, 180, 60);
  ASSERT_TRUE(scaled.gui->DrawIText(&small, "Gain 3.5", &at));
  ASSERT_TRUE(plain.gui->DrawIText(&big, "Gain 3.5", &at2));
  int lit = 0, differ = 0;
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 200; ++x)
    {
      const unsigned p = PxGetPixel(scaled.gui->GetDrawBitmap(), x, y);
      lit += (p & 0xFF) > 128;
      differ += p != PxGetPixel(plain.gui->GetDrawBitmap(), x, y);
    }
  EXPECT_GT(lit, 200);
  EXPECT_EQ(differ, 0);
  // Measuring stays in layout pixels.
  IRECT m(0, 0, 0, 0), m1(0, 0, 0, 0);
  scaled.gui->MeasureIText(&small, "Gain 3.5", &m);
  plain.gui->MeasureIText(&small, "Gain 3.5", &m1);
  EXPECT_EQ(m, m1);
}
