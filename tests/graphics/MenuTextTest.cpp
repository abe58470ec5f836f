// Pop-up menu model, menus answered through the off-screen platform, and
// bitmap-font text.

#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "graphics/IBitmapMonoText.h"
#include "graphics/IPopupMenu.h"

TEST(PopupMenuTest, InsertionChecksAndRanges)
{
  IPopupMenu menu;
  menu.AddItem("one");
  menu.AddItem("two");
  menu.AddItem("zero", 0);
  menu.AddItem("also first", -5);  // other negative indexes count as 0
  ASSERT_EQ(menu.GetNItems(), 4);
  EXPECT_STREQ(menu.GetItemText(0), "also first");
  EXPECT_STREQ(menu.GetItemText(1), "zero");
  EXPECT_STREQ(menu.GetItemText(3), "two");
  EXPECT_STREQ(menu.GetItemText(4), "");
  EXPECT_EQ(menu.GetItem(-1), nullptr);
  EXPECT_FALSE(menu.CheckItem(9, true));
  EXPECT_FALSE(menu.IsItemChecked(9));

  EXPECT_TRUE(menu.CheckItem(0, true));
  EXPECT_TRUE(menu.CheckItem(2, true));
  menu.CheckItemAlone(1);
  EXPECT_FALSE(menu.IsItemChecked(0));
  EXPECT_TRUE(menu.IsItemChecked(1));
  EXPECT_FALSE(menu.IsItemChecked(2));
  EXPECT_EQ(menu.GetItem(1)->GetFlags(), IPopupMenuItem::kChecked);

  IPopupMenuItem* sep = menu.AddSeparator(2);
  EXPECT_EQ(sep->GetFlags(), 8);
  EXPECT_STREQ(sep->GetText(), "");
  EXPECT_EQ(menu.GetItem(2), sep);

  // Prefixes 0..3 only; the numbering is 1-based.
  menu.SetPrefix(2);
  menu.SetPrefix(4);
  menu.SetPrefix(-1);
  EXPECT_EQ(menu.GetPrefix(), 2);
  EXPECT_STREQ(menu.GetItemDisplayText(0).Get(), "01: also first");
  menu.SetPrefix(1);
  EXPECT_STREQ(menu.GetItemDisplayText(3).Get(), "4: one");
  menu.SetPrefix(3);
  EXPECT_STREQ(menu.GetItemDisplayText(4).Get(), "005: two");
  EXPECT_EQ(menu.GetChosenItemIdx(), -1);

  // A submenu is not owned by its parent.
  IPopupMenu sub;
  sub.AddItem("inner");
  {
    IPopupMenu parent;
    IPopupMenuItem* item = parent.AddItem("more", &sub);
    EXPECT_EQ(item->GetSubmenu(), &sub);
    EXPECT_EQ(item->GetFlags(), 0);
    parent.AddItem("middle", 0, &sub);
    EXPECT_STREQ(parent.GetItemText(0), "middle");
  }
  EXPECT_STREQ(sub.GetItemText(0), "inner");
}

TEST(PopupMenuTest, HeadlessMenusShowPrefixesAndRefuseUnpickableItems)
{
  EditorFixture f;
  IPopupMenu menu;
  menu.AddItem("a");
  menu.AddItem("b");
  menu.AddItem("c", -1, IPopupMenuItem::kDisabled);
  menu.AddSeparator();
  menu.SetPrefix(2);
  IRECT r(1, 2, 3, 4);

  f.gui->QueueMenuChoice(1);
  EXPECT_EQ(f.gui->CreateIPopupMenu(&menu, &r), &menu);
  EXPECT_EQ(menu.GetChosenItemIdx(), 1);
  ASSERT_EQ(f.gui->Menus().size(), 1u);
  EXPECT_EQ(f.gui->Menus()[0].items, (std::vector<std::string>{"01: a", "02: b", "03: c", "04: "}));

  menu.SetChosenItemIdx(-1);
  f.gui->QueueMenuChoice(2);  // disabled
  EXPECT_EQ(f.gui->CreateIPopupMenu(&menu, &r), nullptr);
  f.gui->QueueMenuChoice(3);  // separator
  EXPECT_EQ(f.gui->CreateIPopupMenu(&menu, &r), nullptr);
  f.gui->QueueMenuChoice(7);  // no such item
  EXPECT_EQ(f.gui->CreateIPopupMenu(&menu, &r), nullptr);
  EXPECT_EQ(f.gui->CreateIPopupMenu(&menu, &r), nullptr);  // nothing queued: dismissed
  EXPECT_EQ(menu.GetChosenItemIdx(), -1);

  // The menu takes the mouse capture away.
  IBitmap sw2 = f.Load(kSwitch2Id, "resources/img/switch2.png", 2);
  f.gui->AttachControl(new ISwitchControl(f.plug, 0, 0, kSwitch, &sw2));
  f.Attach();
  IMouseMod left(true);
  f.gui->OnMouseDown(1, 1, &left);
  EXPECT_EQ(f.gui->GetMouseCapture(), 0);
  f.gui->CreateIPopupMenu(&menu, &r);
  EXPECT_EQ(f.gui->GetMouseCapture(), -1);
}

TEST(PopupMenuTest, SwitchPopUpControlPicksFromDisplayTexts)
{
  EditorFixture f;
  IBitmap sw3 = f.Load(kSwitch3Id, "resources/img/switch3.png", 3);
  auto* pop = new ISwitchPopUpControl(f.plug, 0, 0, kMode, &sw3);
  f.gui->AttachControl(pop);
  f.Attach();
  f.gui->QueueMenuChoice(0);
  IMouseMod left(true);
  pop->OnMouseDown(1, 1, &left);
  EXPECT_DOUBLE_EQ(f.plug->ParamAt(kMode)->GetValue(), 0.0);
  EXPECT_DOUBLE_EQ(pop->GetValue(), 0.0);
  EXPECT_EQ(f.gui->Menus().back().checked, 1);  // "medium" was current
}

namespace
{
unsigned Px(IGraphics* g, int x, int y) { return g->GetPoint(x, y).Pixel(); }

struct BitmapTextFixture : EditorFixture
{
  BitmapTextFixture()
  {
    IColor black = COLOR_BLACK;
    gui->AttachPanelBackground(&black);
    Attach();
    gui->DrawAll();  // leaves the whole editor as the draw rectangle
    font = Load(kFontId, "resources/img/font.png", 8);
  }
  IBitmap font;
};
}  // namespace

TEST(BitmapTextTest, LinesAlignmentAndCutting)
{
  // The font strip: frame 1 blank (code 32), frame 4 '#' (35), frame 5 '$' (36).
  {
    BitmapTextFixture f;
    IText left(10, &COLOR_WHITE, nullptr, 0, IText::kAlignNear);
    IRECT r(0, 0, 10, 12);
    DrawBitmapedText(f.gui, &f.font, &r, &left, nullptr, "#$", false, false, 6, 12, 0);
    EXPECT_EQ(Px(f.gui, 0, 0), FramePixel(4));
    EXPECT_EQ(Px(f.gui, 5, 11), FramePixel(4));
    EXPECT_EQ(Px(f.gui, 6, 0), 0xFF000000u);  // only one character fits in 10 pixels
  }
  {
    BitmapTextFixture f;
    IText left(10, &COLOR_WHITE, nullptr, 0, IText::kAlignNear);
    IRECT r(0, 0, 10, 24);
    DrawBitmapedText(f.gui, &f.font, &r, &left, nullptr, "#$", false, true, 6, 12, 0);
    EXPECT_EQ(Px(f.gui, 2, 2), FramePixel(4));
    EXPECT_EQ(Px(f.gui, 2, 14), FramePixel(5));  // second line, same x
    EXPECT_EQ(Px(f.gui, 7, 2), 0xFF000000u);
  }
  {
    BitmapTextFixture f;
    IText right(10, &COLOR_WHITE, nullptr, 0, IText::kAlignFar);
    IRECT r(0, 0, 100, 12);
    DrawBitmapedText(f.gui, &f.font, &r, &right, nullptr, "#$", false, false, 6, 12, 0);
    EXPECT_EQ(Px(f.gui, 87, 5), 0xFF000000u);
    EXPECT_EQ(Px(f.gui, 88, 5), FramePixel(4));
    EXPECT_EQ(Px(f.gui, 94, 5), FramePixel(5));
  }
  {
    // Centred, vertically centred and spaced: start x (100 - 12) / 2 = 44,
    // y (30 - 12) / 2 = 9, second character at 44 + 6 + 2.
    BitmapTextFixture f;
    IText centre;
    IRECT r(0, 0, 100, 30);
    DrawBitmapedText(f.gui, &f.font, &r, &centre, nullptr, "#$", true, false, 6, 12, 2);
    EXPECT_EQ(Px(f.gui, 44, 9), FramePixel(4));
    EXPECT_EQ(Px(f.gui, 44, 8), 0xFF000000u);
    EXPECT_EQ(Px(f.gui, 50, 9), 0xFF000000u);
    EXPECT_EQ(Px(f.gui, 52, 20), FramePixel(5));
  }
  {
    // Control characters and bytes above 127 draw the blank frame.
    BitmapTextFixture f;
    IText left(10, &COLOR_WHITE, nullptr, 0, IText::kAlignNear);
    IRECT r(0, 0, 30, 12);
    DrawBitmapedText(f.gui, &f.font, &r, &left, nullptr, "\t\xC3#", false, false, 6, 12, 0);
    EXPECT_EQ(Px(f.gui, 1, 1), FramePixel(1));
    EXPECT_EQ(Px(f.gui, 7, 1), FramePixel(1));
    EXPECT_EQ(Px(f.gui, 13, 1), FramePixel(4));
    // Zero-width cells draw nothing rather than divide by zero.
    DrawBitmapedText(f.gui, &f.font, &r, &left, nullptr, "$$", false, false, 0, 12, 0);
    EXPECT_EQ(Px(f.gui, 1, 1), FramePixel(1));
  }
}

TEST(BitmapTextTest, ControlDrawsOnlyWhenTextIsSet)
{
  BitmapTextFixture f;
  IText left(10, &COLOR_WHITE, nullptr, 0, IText::kAlignNear);
  IBitmapTextControl ctl(f.plug, IRECT(0, 40, 60, 52), &f.font, "", &left, 6, 12, 0, false, false);
  ctl.Draw(f.gui);
  EXPECT_EQ(Px(f.gui, 1, 41), 0xFF000000u);
  f.gui->Tick();
  f.gui->Tick();
  ctl.SetClean();
  ctl.SetTextFromPlug("$");
  EXPECT_TRUE(ctl.IsDirty());
  ctl.Draw(f.gui);
  EXPECT_EQ(Px(f.gui, 1, 41), FramePixel(5));
  ctl.SetClean();
  ctl.SetTextFromPlug("$");
  EXPECT_FALSE(ctl.IsDirty());
}
