// The state a binding stores for a host, and the A/B comparison it carries.

#include <cmath>
#include <cstring>

#include "fx/IFxBase.h"
#include "fx/IFxStateTail.h"
#include "fx/IParam.h"

// The plug-in's own bytes with the appended parameters' values moved out
// of them into the tail (they are the values of those parameters, in
// order, after those of the parameters before them).
bool IFxBase::SerializeHostState(ByteChunk* pChunk, IFxStateTail* pTail)
{
  if (!pChunk || !pTail) return false;
  ByteChunk all;
  if (!SerializeState(&all)) return false;
  const int n = ParamCount(), first = FirstAppendedParam();
  const int lead = first * (int)sizeof(double), moved = (n - first) * (int)sizeof(double);
  pTail->appended.clear();
  if (moved > 0 && all.Size() >= lead + moved)
  {
    pTail->appended.resize((size_t)(n - first));
    memcpy(pTail->appended.data(), all.Data() + lead, (size_t)moved);
    pChunk->AppendBytes(all.Data(), lead);
    pChunk->AppendBytes(all.Data() + lead + moved, all.Size() - lead - moved);
  }
  else
  {
    pChunk->AppendBytes(all.Data(), all.Size());
  }
  GetSlots(pTail);
  return true;
}

void IFxBase::GetSlots(IFxStateTail* pTail)
{
  KitMutexLock lock(&mMutex);
  const int n = ParamCount();
  pTail->slot = ShownSlot();
  pTail->otherSlot = mOtherSlot;
  if (pTail->otherSlot.size() != (size_t)n)
  {
    pTail->otherSlot.clear();
    for (int i = 0; i < n; ++i) pTail->otherSlot.push_back(ParamAt(i)->GetValue());
  }
}

int IFxBase::UnserializeHostState(ByteChunk* pChunk, const IFxStateTail& tail)
{
  if (!pChunk) return -1;
  const int n = ParamCount(), first = FirstAppendedParam();
  const int lead = first * (int)sizeof(double);
  if (pChunk->Size() < lead) return -1;
  ByteChunk all;
  all.AppendBytes(pChunk->Data(), lead);
  // What a state from before a parameter existed played: its default.
  for (int i = first; i < n; ++i)
  {
    const size_t k = (size_t)(i - first);
    all.Append(k < tail.appended.size() ? tail.appended[k] : ParamAt(i)->GetDefaultValue());
  }
  all.AppendBytes(pChunk->Data() + lead, pChunk->Size() - lead);
  if (UnserializeState(&all, 0) < 0) return -1;

  SetSlots(tail);
  return pChunk->Size();
}

void IFxBase::SetSlots(const IFxStateTail& tail)
{
  KitMutexLock lock(&mMutex);
  const int n = ParamCount();
  mOtherSlot.clear();
  if (!tail.otherSlot.empty())
  {
    // A slot stored with fewer parameters than this release has leaves the
    // rest at the values just restored: they did not differ then.
    for (int i = 0; i < n; ++i)
    {
      IParam* p = ParamAt(i);
      const double v = (size_t)i < tail.otherSlot.size() ? tail.otherSlot[(size_t)i] : p->GetValue();
      mOtherSlot.push_back(std::fmin(p->GetMax(), std::fmax(p->GetMin(), v)));
    }
  }
  mShownSlot.store(tail.slot == 1 ? 1 : 0, std::memory_order_relaxed);
  mSlotsVersion.fetch_add(1, std::memory_order_acq_rel);
}

double IFxBase::OtherSlotValue(int idx)
{
  IParam* p = ParamAt(idx);
  if (!p) return 0.0;
  KitMutexLock lock(&mMutex);
  return (size_t)idx < mOtherSlot.size() ? mOtherSlot[(size_t)idx] : p->GetValue();
}

void IFxBase::SwitchSlot()
{
  const int n = ParamCount();
  std::vector<int> changed;
  {
    // The audio thread takes every value of the slot in one block.
    ParamBatch batch(*this);
    std::vector<double> shown;
    for (int i = 0; i < n; ++i) shown.push_back(ParamAt(i)->GetValue());
    if (mOtherSlot.size() == (size_t)n)
    {
      for (int i = 0; i < n; ++i)
      {
        if (mOtherSlot[(size_t)i] == shown[(size_t)i]) continue;
        ParamAt(i)->SetValue(mOtherSlot[(size_t)i]);
        changed.push_back(i);
      }
    }
    mOtherSlot.swap(shown);
    mShownSlot.store(1 - ShownSlot(), std::memory_order_relaxed);
    mSlotsVersion.fetch_add(1, std::memory_order_acq_rel);
    for (int i : changed)
    {
      OnParamChange(i);
      PostToEditor(i, ParamAt(i)->GetNormalized());
    }
  }
  // The host hears of them holding nothing, as of any edit.
  if (mHostIf) mHostIf->BeginParamGroup();
  for (int i : changed) BeginInformHostOfParamChange(i);
  for (int i : changed) InformHostOfParamChange(i, ParamAt(i)->GetNormalized());
  for (int i : changed) EndInformHostOfParamChange(i);
  if (mHostIf)
  {
    mHostIf->EndParamGroup();
    mHostIf->MarkStateChanged();
  }
}

void IFxBase::CopyToOtherSlot()
{
  {
    KitMutexLock lock(&mMutex);
    mOtherSlot.clear();
    for (int i = 0, n = ParamCount(); i < n; ++i) mOtherSlot.push_back(ParamAt(i)->GetValue());
    mSlotsVersion.fetch_add(1, std::memory_order_acq_rel);
  }
  if (mHostIf) mHostIf->MarkStateChanged();
}
