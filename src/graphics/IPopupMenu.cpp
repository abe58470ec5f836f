#include "graphics/IPopupMenu.h"

#include <cstddef>
#include <new>

IPopupMenu::~IPopupMenu()
{
  for (IPopupMenuItem* p : mMenuItems) delete p;
}

IPopupMenuItem* IPopupMenu::AddItem(IPopupMenuItem* pItem, int index)
{
  if (!pItem) return nullptr;
  try
  {
    if (index == -1 || index >= GetNItems())
      mMenuItems.push_back(pItem);
    else
      mMenuItems.insert(mMenuItems.begin() + (index < 0 ? 0 : index), pItem);
  }
  catch (const std::bad_alloc&)
  {
    // Not added: the caller keeps ownership.
  }
  return pItem;
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, int index, int itemFlags)
{
  return AddItem(new IPopupMenuItem(text, itemFlags), index);
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, int index, IPopupMenu* pSubmenu)
{
  return AddItem(new IPopupMenuItem(text, pSubmenu), index);
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, IPopupMenu* pSubmenu)
{
  return AddItem(new IPopupMenuItem(text, pSubmenu), -1);
}

IPopupMenuItem* IPopupMenu::AddSeparator(int index)
{
  return AddItem(new IPopupMenuItem("", IPopupMenuItem::kSeparator), index);
}

IPopupMenuItem* IPopupMenu::GetItem(int index)
{
  return index >= 0 && index < GetNItems() ? mMenuItems[(size_t)index] : nullptr;
}

const char* IPopupMenu::GetItemText(int index)
{
  IPopupMenuItem* p = GetItem(index);
  return p ? p->GetText() : "";
}

void IPopupMenu::SetPrefix(int count)
{
  if (count >= 0 && count <= 3) mPrefix = count;
}

KitString IPopupMenu::GetItemDisplayText(int index)
{
  KitString s;
  switch (mPrefix)
  {
    case 1: s.SetFormatted(32, "%1d: ", index + 1); break;
    case 2: s.SetFormatted(32, "%02d: ", index + 1); break;
    case 3: s.SetFormatted(32, "%03d: ", index + 1); break;
    default: break;
  }
  s.Append(GetItemText(index));
  return s;
}

bool IPopupMenu::CheckItem(int index, bool state)
{
  IPopupMenuItem* p = GetItem(index);
  if (!p) return false;
  p->SetChecked(state);
  return true;
}

void IPopupMenu::CheckItemAlone(int index)
{
  for (int i = 0; i < GetNItems(); ++i) mMenuItems[(size_t)i]->SetChecked(i == index);
}

bool IPopupMenu::IsItemChecked(int index)
{
  IPopupMenuItem* p = GetItem(index);
  return p ? p->GetChecked() : false;
}
