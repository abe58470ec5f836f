#include "graphics/ISlotControls.h"

#include "fx/IFxBase.h"

namespace
{

// Changes the shown frame without sending anything to the plug-in: these
// controls have no parameter to send to.
void ShowValue(IControl* c, double v)
{
  if (c->GetValue() == v) return;
  c->SetValue(v);
  c->SetDirty(false);
}

}  // namespace

ISlotSwitchControl::ISlotSwitchControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap)
  : IBitmapControl(pPlug, x, y, pBitmap)
{
  FollowSlot();
}

void ISlotSwitchControl::OnMouseDown(int x, int, IMouseMod* pMod)
{
  if (!mPlug || (pMod && !pMod->L)) return;
  const int want = x < mRECT.MW() ? 0 : 1;
  if (want != mPlug->ShownSlot()) mPlug->SwitchSlot();
  FollowSlot();
}

void ISlotSwitchControl::FollowSlot()
{
  if (mPlug) ShowValue(this, mPlug->ShownSlot() == 1 ? 1.0 : 0.0);
}

ISlotCopyControl::ISlotCopyControl(IFxBase* pPlug, int x, int y, IBitmap* pBitmap)
  : IBitmapControl(pPlug, x, y, pBitmap)
{
  Show();
}

void ISlotCopyControl::OnMouseDown(int, int, IMouseMod* pMod)
{
  if (pMod && !pMod->L) return;
  mHeld = true;
  Show();
}

void ISlotCopyControl::OnMouseUp(int x, int y, IMouseMod*)
{
  if (!mHeld) return;
  mHeld = false;
  if (mPlug && IsHit(x, y)) mPlug->CopyToOtherSlot();
  Show();
}

void ISlotCopyControl::Show()
{
  const int frames = mBitmap.N > 1 ? mBitmap.N : 1;
  const int slot = mPlug && mPlug->ShownSlot() == 1 ? 1 : 0;
  const int frame = (2 * slot + (mHeld ? 1 : 0)) % frames;
  ShowValue(this, frames > 1 ? (double)frame / (double)(frames - 1) : 0.0);
}
