#pragma once

// The plug-in base's A/B comparison on a panel: which slot is shown, and the
// copy of it into the other. Neither is a parameter, so neither has a host
// menu, readout or typed value; both follow the shown slot in the idle call,
// since a state the host restores may change it without telling the editor.

#include "graphics/IControl.h"

// Two frames, A shown then B. A press on the left half shows A, on the right
// half B (switching only when the other is shown).
class ISlotSwitchControl : public IBitmapControl
{
public:
  ISlotSwitchControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* pMod) override { OnMouseDown(x, y, pMod); }
  void OnGUIIdle() override { FollowSlot(); }

private:
  void FollowSlot();
};

// Four frames: A shown, A shown and held down, B shown, B shown and held
// down; each shows the direction of the copy. The copy is made on release
// over the button, so that a press dragged away from it overwrites nothing.
class ISlotCopyControl : public IBitmapControl
{
public:
  ISlotCopyControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap);
  void OnMouseDown(int x, int y, IMouseMod* pMod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* pMod) override { OnMouseDown(x, y, pMod); }
  void OnMouseUp(int x, int y, IMouseMod* pMod) override;
  void OnGUIIdle() override { Show(); }
  bool IsHeld() const { return mHeld; }

private:
  void Show();

  bool mHeld = false;
};
