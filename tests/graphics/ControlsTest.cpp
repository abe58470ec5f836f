// The control classes: frame choice, the knob and switch laws, value and
// dirty rules, clamps, prompts and the other classes of the family.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "GraphicsTestSupport.h"
#include "graphics/IReadoutControls.h"

namespace
{
IMouseMod Left() { return IMouseMod(true); }
IMouseMod Shift() { return IMouseMod(true, false, true); }
IMouseMod Ctrl() { return IMouseMod(true, false, false, true); }
}  // namespace

TEST(ControlsTest, KnobFrameChoiceOn61Frames)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  ASSERT_EQ(strip.W, 10);
  ASSERT_EQ(strip.H, 366);
  IKnobMultiControl knob(f.plug, 20, 30, kGain, &strip);
  EXPECT_EQ(*knob.GetRECT(), IRECT(20, 30, 30, 36));  // one frame in size

  struct { double v; int frame; } cases[] = {
    {0.0, 1}, {0.5, 31}, {0.999, 61}, {1.0, 61}, {0.008, 1}, {0.009, 2},
    {1.0 / 120.0 - 1e-9, 1}, {1.0 / 120.0 + 1e-9, 2}, {-0.5, 1}, {1.5, 61},
  };
  for (auto& c : cases)
  {
    knob.SetValue(c.v);
    EXPECT_EQ(knob.FrameForValue(), c.frame) << "value " << c.v;
  }

  // Two-frame switch: 0 draws frame 1, 1 frame 2; a one-frame bitmap always frame 1.
  IBitmap sw = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  ISwitchControl s(f.plug, 0, 0, kSwitch, &sw);
  s.SetValue(0.0);
  EXPECT_EQ(s.FrameForValue(), 1);
  s.SetValue(1.0);
  EXPECT_EQ(s.FrameForValue(), 2);
  IBitmap bg = f.Load(kBgId, "resources/img/bg.png", 1);
  IBitmapControl pic(f.plug, 0, 0, &bg);
  pic.SetValue(0.9);
  EXPECT_EQ(pic.FrameForValue(), 1);
}

TEST(ControlsTest, KnobDragLawAndWheel)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  // The drag law is shared by every knob class; a line knob gives a 60-pixel height.
  auto* knob = new IKnobMultiControl(f.plug, 0, 0, kMix, &strip);
  f.gui->AttachControl(knob);
  f.Attach();
  ASSERT_DOUBLE_EQ(knob->GetValue(), 1.0);  // Mix default 100 %

  IKnobLineControl tall(f.plug, IRECT(0, 0, 40, 60), kMix, &COLOR_WHITE);
  tall.SetValue(0.5);
  IMouseMod left = Left(), shift = Shift(), ctrl = Ctrl();
  // Up by 15 pixels: +15 / 60 / 4.
  tall.OnMouseDrag(0, 0, 0, -15, &left);
  EXPECT_NEAR(tall.GetValue(), 0.5625, 1e-12);
  tall.OnMouseDrag(0, 0, 0, -15, &shift);
  EXPECT_NEAR(tall.GetValue(), 0.56875, 1e-12);
  tall.OnMouseDrag(0, 0, 0, 15, &ctrl);
  EXPECT_NEAR(tall.GetValue(), 0.5625, 1e-12);
  // The drag pushed the value to the plug-in each time: 0.5625 of 0..100.
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 56.25);

  // Past the bottom the value stays at 0 and 0 is what the plug-in gets.
  f.plug->mEdits.clear();
  tall.OnMouseDrag(0, 0, 0, 1000, &left);
  EXPECT_DOUBLE_EQ(tall.GetValue(), 0.0);
  ASSERT_EQ(f.plug->mEdits.size(), 1u);
  EXPECT_DOUBLE_EQ(f.plug->mEdits.back(), 0.0);
  // Coming back moves at once.
  tall.OnMouseDrag(0, 0, 0, -24, &left);
  EXPECT_NEAR(tall.GetValue(), 0.1, 1e-12);

  // A knob of no height (its image failed to load) ignores drags instead of
  // sending the plug-in a division by zero.
  IKnobLineControl flat(f.plug, IRECT(0, 0, 40, 0), kMix, &COLOR_WHITE);
  flat.SetValue(0.5);
  f.plug->mEdits.clear();
  flat.OnMouseDrag(0, 0, 0, -15, &left);
  EXPECT_DOUBLE_EQ(flat.GetValue(), 0.5);
  EXPECT_TRUE(f.plug->mEdits.empty());

  // Horizontal knobs use dX over the width.
  IKnobLineControl wide(f.plug, IRECT(0, 0, 80, 10), kMix, &COLOR_WHITE, 0, 0, -2.0, 2.0, kDirectionHorizontal);
  wide.SetValue(0.5);
  wide.OnMouseDrag(0, 0, 16, -50, &left);
  EXPECT_NEAR(wide.GetValue(), 0.55, 1e-12);

  // Wheel: 0.01 per step, 0.001 with shift or control.
  tall.SetValue(0.5);
  tall.OnMouseWheel(0, 0, &left, 3);
  EXPECT_NEAR(tall.GetValue(), 0.53, 1e-12);
  tall.OnMouseWheel(0, 0, &shift, -2);
  EXPECT_NEAR(tall.GetValue(), 0.528, 1e-12);

  // Through the editor: press, drag up 15 pixels on the 6-pixel film-strip
  // knob, release: one begin, one edit per move, one end.
  f.plug->mLog.clear();
  knob->SetValue(0.5);
  f.gui->OnMouseDown(5, 3, &left);
  f.gui->OnMouseDrag(5, -12, &left);
  f.gui->OnMouseUp(5, -12, &left);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 1.0);  // 0.5 + 15 / 6 / 4 clamps at the top
  EXPECT_EQ(f.plug->mLog, (std::vector<std::string>{"begin 3", "edit 3", "change 3", "end 3"}));
}

TEST(ControlsTest, SwitchSteppingAndWrap)
{
  EditorFixture f;
  IBitmap sw2 = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  IBitmap sw3 = f.Load(kSwitch3Id, "resources/img/switch3.png", 3);
  auto* two = new ISwitchControl(f.plug, 0, 0, kSwitch, &sw2);
  auto* three = new ISwitchControl(f.plug, 20, 0, kMode, &sw3);
  f.gui->AttachControl(two);
  f.gui->AttachControl(three);
  f.Attach();
  EXPECT_EQ(*two->GetRECT(), IRECT(0, 0, 12, 8));
  EXPECT_DOUBLE_EQ(two->GetValue(), 1.0);  // bool default on

  IMouseMod left = Left();
  f.plug->mEdits.clear();
  two->OnMouseDown(1, 1, &left);
  EXPECT_DOUBLE_EQ(two->GetValue(), 0.0);
  two->OnMouseDown(1, 1, &left);
  EXPECT_DOUBLE_EQ(two->GetValue(), 1.0);
  EXPECT_EQ(f.plug->mEdits, (std::vector<double>{0.0, 1.0}));
  // A double click is one more click.
  two->OnMouseDblClick(1, 1, &left);
  EXPECT_DOUBLE_EQ(two->GetValue(), 0.0);
  EXPECT_EQ(f.plug->mEdits.size(), 3u);

  // Three frames cycle 0, 0.5, 1, 0 (mode starts at 1 of 0..2, i.e. 0.5).
  double seq[] = {1.0, 0.0, 0.5, 1.0};
  for (double expect : seq)
  {
    three->OnMouseDown(21, 1, &left);
    EXPECT_DOUBLE_EQ(three->GetValue(), expect);
  }
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 2.0);

  // The wrap compares with 1.001: 0.9995 + 0.5 wraps, but a value that lands
  // at 1.0005 stays (and is clamped to 1).
  three->SetValue(0.5005);
  three->OnMouseDown(21, 1, &left);
  EXPECT_DOUBLE_EQ(three->GetValue(), 1.0);
  three->SetValue(0.5011);
  three->OnMouseDown(21, 1, &left);
  EXPECT_DOUBLE_EQ(three->GetValue(), 0.0);
}

TEST(ControlsTest, ValueFromPlugDefaultAndDoubleClickReset)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  auto* knob = new IKnobMultiControl(f.plug, 0, 0, kGain, &strip);
  auto* unbound = new IKnobMultiControl(f.plug, 20, 0, -1, &strip);
  f.gui->AttachControl(knob);
  f.gui->AttachControl(unbound);
  f.Attach();
  f.gui->Tick();
  f.gui->Tick();
  EXPECT_FALSE(knob->IsDirty());
  EXPECT_DOUBLE_EQ(knob->GetDefaultValue(), 0.5);

  IMouseMod left = Left();
  knob->SetValueFromUserInput(0.9);
  EXPECT_TRUE(knob->IsDirty());
  EXPECT_TRUE(knob->GetRedraw());
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), 16.0);

  // Double click returns to the first value the plug-in sent.
  f.gui->OnMouseDblClick(3, 3, &left);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 0.5);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), 0.0);

  // A control that never heard from the plug-in ignores double clicks.
  EXPECT_DOUBLE_EQ(unbound->GetDefaultValue(), -1.0);
  unbound->SetValue(0.3);
  f.gui->OnMouseDblClick(23, 3, &left);
  EXPECT_DOUBLE_EQ(unbound->GetValue(), 0.3);

  // Values from the plug-in are clamped when they change the control.
  knob->SetValueFromPlug(1.7);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 1.0);
  knob->Clamp(0.2, 0.6);
  knob->SetValueFromPlug(0.1);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 0.2);
  knob->SetValueFromPlug(0.7);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 0.6);
  // Not a number ends at the low clamp, and is not what the plug-in is sent.
  knob->SetValueFromPlug(std::nan(""));
  EXPECT_DOUBLE_EQ(knob->GetValue(), 0.2);
  knob->SetValue(std::nan(""));
  knob->SetDirty(true);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), -12.0);
}

TEST(ControlsTest, DisplayControlsAndAuxParams)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  IText txt;
  auto* knob = new IKnobMultiControl(f.plug, 0, 0, kGain, &strip);
  auto* value = new ITextControl(f.plug, IRECT(0, 40, 60, 50), &txt, "");
  auto* name = new ITextControl(f.plug, IRECT(0, 50, 60, 60), &txt, "");
  knob->SetValDisplayControl(value);
  knob->SetNameDisplayControl(name);
  auto* modeKnob = new IKnobMultiControl(f.plug, 20, 0, kMode, &strip);
  auto* modeText = new ITextControl(f.plug, IRECT(0, 60, 60, 70), &txt, "");
  modeKnob->SetValDisplayControl(modeText);
  for (IControl* c : std::vector<IControl*>{knob, value, name, modeKnob, modeText}) f.gui->AttachControl(c);
  f.Attach();

  knob->SetValueFromUserInput(0.625);  // 5 dB
  EXPECT_STREQ(value->GetTextString(), "5.0 dB");
  EXPECT_STREQ(name->GetTextString(), "Gain");
  modeKnob->SetValueFromUserInput(1.0);
  EXPECT_STREQ(modeText->GetTextString(), "hard ");  // a display text has no label

  // Equal text leaves the control clean; different text marks it dirty.
  f.gui->Tick();
  f.gui->Tick();
  value->SetTextFromPlug("5.0 dB");
  EXPECT_FALSE(value->IsDirty());
  value->SetTextFromPlug("6.0 dB");
  EXPECT_TRUE(value->IsDirty());

  // Auxiliary parameters: look-up, plug-in values and pushing back.
  knob->AddAuxParam(kMix);
  knob->AddAuxParam(kMode);
  EXPECT_EQ(knob->AuxParamIdx(kMode), 1);
  EXPECT_EQ(knob->AuxParamIdx(kSwitch), -1);
  EXPECT_EQ(knob->GetAuxParam(2), nullptr);
  f.gui->Tick();
  f.gui->Tick();
  f.gui->SetParameterFromPlug(kMix, 0.4, true);
  EXPECT_DOUBLE_EQ(knob->GetAuxParam(0)->mValue, 0.4);
  EXPECT_TRUE(knob->IsDirty());
  EXPECT_TRUE(knob->GetRedraw());
  knob->GetAuxParam(1)->mValue = 0.5;
  knob->SetAllAuxParamsFromGUI();
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 40.0);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 1.0);
}

TEST(ControlsTest, OtherSwitchClasses)
{
  EditorFixture f;
  IBitmap sw3 = f.Load(kSwitch3Id, "resources/img/switch3.png", 3);
  IBitmap h4 = f.Load(kHStrip4Id, "resources/img/hstrip4.png", 4, true);
  auto* frames = new ISwitchFramesControl(f.plug, 0, 0, kMix, &sw3);
  auto* hframes = new ISwitchFramesControl(f.plug, 0, 40, kMix, &h4, true);
  auto* contact = new IContactControl(f.plug, 50, 0, kSwitch, &sw3);
  auto* invisible = new IInvisibleSwitchControl(f.plug, IRECT(70, 0, 80, 10), kSwitch);
  for (IControl* c : std::vector<IControl*>{frames, hframes, contact, invisible}) f.gui->AttachControl(c);
  f.Attach();

  // The 12 x 8 frame is split into 3 parts of int(8 / 3) = 2 rows each.
  ASSERT_EQ(frames->GetParts().size(), 3u);
  EXPECT_EQ(frames->GetParts()[1], IRECT(0, 2, 12, 4));
  EXPECT_EQ(frames->GetParts()[2], IRECT(0, 5, 12, 7));
  IMouseMod left = Left();
  frames->OnMouseDown(3, 5, &left);
  EXPECT_DOUBLE_EQ(frames->GetValue(), 1.0);
  frames->OnMouseDown(3, 2, &left);
  EXPECT_DOUBLE_EQ(frames->GetValue(), 0.5);
  frames->OnMouseDown(3, 7, &left);  // in no part: value unchanged
  EXPECT_DOUBLE_EQ(frames->GetValue(), 0.5);
  EXPECT_FALSE(frames->IsPromptDisabled());

  // Horizontal: 10 x 5 frame in 4 parts of 2 pixels (starts 0, 2, 5, 7).
  ASSERT_EQ(hframes->GetParts().size(), 4u);
  EXPECT_EQ(hframes->GetParts()[2], IRECT(5, 40, 7, 45));
  hframes->OnMouseDown(7, 41, &left);
  EXPECT_DOUBLE_EQ(hframes->GetValue(), 1.0);
  // The second press of a double click chooses the same part, not the next.
  hframes->OnMouseDblClick(7, 41, &left);
  EXPECT_DOUBLE_EQ(hframes->GetValue(), 1.0);

  contact->SetValue(0.0);
  contact->OnMouseDown(51, 1, &left);
  EXPECT_DOUBLE_EQ(contact->GetValue(), 0.5);
  contact->OnMouseUp(51, 1, &left);
  EXPECT_DOUBLE_EQ(contact->GetValue(), 0.0);

  EXPECT_EQ(invisible->GetBlend()->mMethod, IChannelBlend::kBlendCopy);
  invisible->SetValue(0.4);
  invisible->OnMouseDown(71, 1, &left);
  EXPECT_DOUBLE_EQ(invisible->GetValue(), 1.0);
  invisible->OnMouseDown(71, 1, &left);
  EXPECT_DOUBLE_EQ(invisible->GetValue(), 0.0);
}

TEST(ControlsTest, RadioButtonsAndFaderGeometry)
{
  EditorFixture f;
  IBitmap sw2 = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);  // 12 x 8 frames
  // Four buttons down a 50-pixel column: spacing int((50 - 32) / 3) = 6.
  IRadioButtonsControl radio(f.plug, IRECT(0, 0, 12, 50), kMode, 4, &sw2);
  ASSERT_EQ(radio.GetButtons().size(), 4u);
  EXPECT_EQ(radio.GetButtons()[1], IRECT(0, 14, 12, 22));
  EXPECT_EQ(radio.GetButtons()[3], IRECT(0, 42, 12, 50));
  IRadioButtonsControl rev(f.plug, IRECT(0, 0, 12, 50), kMode, 4, &sw2, kDirectionVertical, true);
  EXPECT_EQ(rev.GetButtons()[0], IRECT(0, 36, 12, 44));
  EXPECT_EQ(rev.GetButtons()[1], IRECT(0, 22, 12, 30));
  // Horizontally: 3 buttons in 60 pixels, spacing int((60 - 36) / 2) = 12.
  IRadioButtonsControl row(f.plug, IRECT(10, 0, 70, 8), kMode, 3, &sw2, kDirectionHorizontal);
  EXPECT_EQ(row.GetButtons()[2], IRECT(58, 0, 70, 8));
  IRadioButtonsControl rowRev(f.plug, IRECT(10, 0, 70, 8), kMode, 3, &sw2, kDirectionHorizontal, true);
  EXPECT_EQ(rowRev.GetButtons()[0], IRECT(46, 0, 58, 8));
  // One button: nothing to spread and no division by zero.
  IRadioButtonsControl one(f.plug, IRECT(0, 0, 12, 50), kMode, 1, &sw2);
  EXPECT_EQ(one.GetButtons()[0], IRECT(0, 0, 12, 8));

  IMouseMod left = Left();
  radio.OnMouseDown(5, 16, &left);
  EXPECT_NEAR(radio.GetValue(), 1.0 / 3.0, 1e-12);

  // A vertical fader of length 100 with an 8-pixel handle (12 x 16 image, one frame used whole).
  IBitmap handle = f.Load(kSwitch2Id, "resources/img/switch2.png", 1);
  IFaderControl fader(f.plug, 5, 10, 100, kMix, &handle);
  EXPECT_EQ(*fader.GetRECT(), IRECT(5, 10, 17, 110));
  EXPECT_EQ(fader.GetHandleHeadroom(), 16);
  // Value 0.25: top + int(84 * 0.75) = 10 + 63.
  EXPECT_EQ(fader.GetHandleRECT(0.25), IRECT(5, 73, 17, 89));
  // Clicking at y = 60: 1 - int(60 - 10 - 8) / 84 = 0.5.
  fader.OnMouseDown(8, 60, &left);
  EXPECT_DOUBLE_EQ(fader.GetValue(), 0.5);
  IFaderControl onlyHandle(f.plug, 5, 10, 100, kMix, &handle, kDirectionVertical, true);
  onlyHandle.SetValue(1.0);
  EXPECT_TRUE(onlyHandle.IsHit(8, 12));
  EXPECT_FALSE(onlyHandle.IsHit(8, 60));
  IFaderControl hfader(f.plug, 0, 0, 60, kMix, &handle, kDirectionHorizontal);
  EXPECT_EQ(*hfader.GetRECT(), IRECT(0, 0, 60, 16));
  hfader.OnMouseDrag(30, 5, 0, 0, &left);  // int(30 - 6) / 48
  EXPECT_DOUBLE_EQ(hfader.GetValue(), 0.5);
}

TEST(ControlsTest, PromptsThroughTheHeadlessPlatform)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  auto* gain = new IKnobMultiControl(f.plug, 40, 20, kGain, &strip);  // 10 x 6 at (40, 20)
  auto* mode = new IKnobMultiControl(f.plug, 0, 0, kMode, &strip);
  IText txt;
  auto* caption = new ICaptionControl(f.plug, IRECT(0, 60, 50, 70), kMix, &txt);
  for (IControl* c : std::vector<IControl*>{gain, mode, caption}) f.gui->AttachControl(c);
  f.Attach();

  // Prompts are disabled by default.
  gain->PromptUserInput();
  EXPECT_TRUE(f.gui->TextEntries().empty());

  // A number parameter opens a 40 x 16 entry centred on the control with the
  // current value, and the typed text becomes the value.
  gain->DisablePrompt(false);
  f.gui->QueueTextEntry("-7.5");
  gain->PromptUserInput();
  ASSERT_EQ(f.gui->TextEntries().size(), 1u);
  EXPECT_EQ(f.gui->TextEntries()[0].rect, IRECT(25, 15, 65, 31));
  EXPECT_EQ(f.gui->TextEntries()[0].text, "0.0");
  EXPECT_EQ(f.gui->TextEntries()[0].maxLength, 7);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), -7.5);
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.3125);

  // Without a queued answer the entry stays open; text that is no number gives 0.
  gain->PromptUserInput();
  EXPECT_TRUE(f.gui->IsTextEntryOpen());
  f.gui->CommitTextEntry("abc");
  EXPECT_FALSE(f.gui->IsTextEntryOpen());
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), 0.0);
  // A negated display reads typed text back negated.
  f.plug->ParamAt(kGain)->SetDisplayNegated(true);
  f.gui->SetFromStringAfterPrompt(gain, f.plug->ParamAt(kGain), "4");
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kGain)->GetValue(), -4.0);

  // An enumerated parameter gets a menu of its texts with the current one checked.
  mode->DisablePrompt(false);
  f.gui->QueueMenuChoice(2);
  mode->PromptUserInput();
  ASSERT_EQ(f.gui->Menus().size(), 1u);
  EXPECT_EQ(f.gui->Menus()[0].items, (std::vector<std::string>{"soft", "medium", "hard"}));
  EXPECT_EQ(f.gui->Menus()[0].checked, 1);
  EXPECT_EQ(f.gui->Menus()[0].rect, IRECT(0, 0, 10, 6));
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 2.0);
  // Dismissed: nothing changes.
  f.plug->mEdits.clear();
  f.gui->QueueMenuChoice(-1);
  mode->PromptUserInput();
  EXPECT_TRUE(f.plug->mEdits.empty());
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 2.0);
  // Typed text for an enum maps through the display texts; no match is index 0.
  f.gui->SetFromStringAfterPrompt(mode, f.plug->ParamAt(kMode), "medium");
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 1.0);
  f.gui->SetFromStringAfterPrompt(mode, f.plug->ParamAt(kMode), "Medium");
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 0.0);

  // Null pieces do nothing.
  f.gui->PromptUserInput(nullptr, f.plug->ParamAt(kMode), mode->GetRECT());
  f.gui->PromptUserInput(mode, nullptr, mode->GetRECT());
  f.gui->PromptUserInput(mode, f.plug->ParamAt(kMode), nullptr);
  EXPECT_EQ(f.gui->Menus().size(), 2u);

  // The caption prompts on a click once prompts are enabled and shows value and label.
  caption->DisablePrompt(false);
  f.gui->QueueTextEntry("25");
  IMouseMod left = Left();
  caption->OnMouseDown(5, 65, &left);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMix)->GetValue(), 25.0);
  f.gui->DrawAll();
  EXPECT_STREQ(caption->GetTextString(), "25 %");
}

TEST(ControlsTest, UrlAndFileSelector)
{
  EditorFixture f;
  IBitmap sw2 = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  auto* url = new IURLControl(f.plug, IRECT(0, 0, 10, 10), "https://example.invalid/a", "https://example.invalid/b");
  auto* files = new IFileSelectorControl(f.plug, IRECT(20, 0, 30, 10), -1, &sw2, kFileOpen);
  f.gui->AttachControl(url);
  f.gui->AttachControl(files);
  f.Attach();
  IMouseMod left = Left();
  url->OnMouseDown(1, 1, &left);
  // The headless platform cannot open anything, so the backup is tried too.
  EXPECT_EQ(f.gui->OpenedURLs(), (std::vector<std::string>{"https://example.invalid/a", "https://example.invalid/b"}));

  f.gui->Tick();
  f.gui->Tick();
  f.gui->QueueFile("/tmp/some.wav");
  files->OnMouseDown(21, 1, &left);
  KitString picked;
  files->GetLastSelectedFileForPlug(&picked);
  EXPECT_STREQ(picked.Get(), "/tmp/some.wav");
  EXPECT_DOUBLE_EQ(files->GetValue(), 1.0);
  EXPECT_EQ(files->GetState(), IFileSelectorControl::kFSDone);
  files->SetClean();
  EXPECT_TRUE(files->IsDirty());  // once for the finished selection
  EXPECT_FALSE(files->IsDirty());
  files->OnMouseDown(21, 1, &left);
  EXPECT_DOUBLE_EQ(files->GetValue(), 0.0);  // 2 wraps to 0
}

// Readouts name a parameter and give its value as people read it: in its
// unit with a typeset minus when it has one, else its display text and label.
TEST(ControlsTest, ParamReadoutTextAndWhatItFollows)
{
  EditorFixture f;
  IBitmap strip = f.Load(kStrip61Id, "resources/img/strip61.png", 61);
  auto* gain = new IKnobMultiControl(f.plug, 0, 0, kGain, &strip);
  auto* mode = new IKnobMultiControl(f.plug, 20, 0, kMode, &strip);
  IReadoutStyle style;
  auto* readout = new IParamReadoutControl(f.plug, IRECT(0, 50, 100, 70), style, 2, 2);
  f.gui->AttachControl(gain);
  f.gui->AttachControl(mode);
  f.gui->AttachControl(readout);
  f.gui->HandleMouseOver(true);
  f.Attach();

  static const IParamUnit kPercent = {"%", 1.0, 0, nullptr, nullptr, ""};
  static const IParamUnit kDecibel = {"dB", 1.0, 1, nullptr, nullptr, ""};
  struct Case
  {
    int param;
    const IParamUnit* unit;
    double value;
    const char* text;
  };
  const Case cases[] = {
    {kGain, nullptr, -2.5, "Gain -2.5 dB"},  // the host's display text and label
    {kGain, &kDecibel, -2.5, "Gain \xE2\x88\x92" "2.5 dB"},
    {kMode, nullptr, 2.0, "Mode hard"},
    {kMix, &kPercent, 42.0, "Mix 42 %"},
  };
  char buf[64];
  for (const Case& c : cases)
  {
    IParam* p = f.plug->ParamAt(c.param);
    p->SetUnit(c.unit);
    p->SetValue(c.value);
    EXPECT_EQ(FormatParamReadout(p, buf, sizeof(buf)), (int)std::strlen(c.text));
    EXPECT_STREQ(buf, c.text);
  }
  EXPECT_EQ(FormatParamReadout(f.plug->ParamAt(kGain), buf, 6), 5);
  EXPECT_STREQ(buf, "Gain ");
  EXPECT_EQ(FormatParamReadout(nullptr, buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");

  // Hovered, then dragged: the dragged control wins over the hovered one.
  IMouseMod none, left(true);
  f.gui->OnMouseOver(25, 3, &none);
  f.gui->Tick();
  EXPECT_STREQ(readout->GetReadout(), "Mode hard");
  f.gui->OnMouseDown(5, 3, &left);
  f.gui->OnMouseOver(25, 3, &none);
  f.gui->Tick();
  EXPECT_EQ(readout->GetShownParam(), kGain);
  // Never hit: clicks on it reach what lies below.
  EXPECT_NE(f.gui->GetMouseControlIdx(50, 60), 3);
}
