#pragma once

// The platform-neutral description of a pop-up menu: the editor fills it,
// the platform shows it modally and sets the chosen item.

#include <vector>

#include "kit/KitString.h"

class IPopupMenu;

class IPopupMenuItem
{
public:
  enum Flags
  {
    kNoFlags = 0,
    kDisabled = 1 << 0,
    kTitle = 1 << 1,
    kChecked = 1 << 2,
    kSeparator = 1 << 3
  };

  IPopupMenuItem(const char* text, int flags = kNoFlags) : mText(text ? text : ""), mFlags(flags) {}
  IPopupMenuItem(const char* text, IPopupMenu* pSubMenu) : mText(text ? text : ""), mSubmenu(pSubMenu) {}

  void SetChecked(bool checked) { SetFlag(kChecked, checked); }
  void SetEnabled(bool enabled) { SetFlag(kDisabled, !enabled); }
  void SetTitle(bool title) { SetFlag(kTitle, title); }
  void SetText(const char* text) { mText.Set(text ? text : ""); }

  bool GetEnabled() const { return !(mFlags & kDisabled); }
  bool GetChecked() const { return (mFlags & kChecked) != 0; }
  bool GetIsTitle() const { return (mFlags & kTitle) != 0; }
  bool GetIsSeparator() const { return (mFlags & kSeparator) != 0; }
  const char* GetText() const { return mText.Get(); }
  IPopupMenu* GetSubmenu() const { return mSubmenu; }
  int GetFlags() const { return mFlags; }

private:
  void SetFlag(int flag, bool on) { mFlags = on ? (mFlags | flag) : (mFlags & ~flag); }

  KitString mText;
  IPopupMenu* mSubmenu = nullptr;  // not owned
  int mFlags = kNoFlags;
};

class IPopupMenu
{
public:
  IPopupMenu() {}
  ~IPopupMenu();
  IPopupMenu(const IPopupMenu&) = delete;
  IPopupMenu& operator=(const IPopupMenu&) = delete;

  // index -1 appends; any other negative index means 0. The menu owns the item.
  IPopupMenuItem* AddItem(IPopupMenuItem* pItem, int index = -1);
  IPopupMenuItem* AddItem(const char* text, int index = -1, int itemFlags = IPopupMenuItem::kNoFlags);
  IPopupMenuItem* AddItem(const char* text, int index, IPopupMenu* pSubmenu);
  IPopupMenuItem* AddItem(const char* text, IPopupMenu* pSubmenu);
  IPopupMenuItem* AddSeparator(int index = -1);

  int GetNItems() const { return (int)mMenuItems.size(); }
  IPopupMenuItem* GetItem(int index);
  const char* GetItemText(int index);
  // "%1d: ", "%02d: " or "%03d: " before each 1-based item number, for 1..3.
  void SetPrefix(int count);
  int GetPrefix() const { return mPrefix; }
  // The item text as a menu shows it, with the numbering prefix.
  KitString GetItemDisplayText(int index);
  bool CheckItem(int index, bool state);
  void CheckItemAlone(int index);
  bool IsItemChecked(int index);
  void SetChosenItemIdx(int index) { mChosenItemIdx = index; }
  int GetChosenItemIdx() const { return mChosenItemIdx; }
  void SetMultiCheck(bool multicheck) { mCanMultiCheck = multicheck; }
  bool GetCanMultiCheck() const { return mCanMultiCheck; }

private:
  int mPrefix = 0;
  int mChosenItemIdx = -1;
  bool mCanMultiCheck = false;
  std::vector<IPopupMenuItem*> mMenuItems;
};
