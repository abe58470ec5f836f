#include "fx/IFxBase.h"

#include <thread>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "fx/Log.h"

// What the block runner drives (channels, scratch buffers, 32-bit audio,
// pass-through and the host's bypass) is in IFxBlockRunner.cpp; surface this
// product builds but never runs is in IFxBaseUnused.cpp.

namespace
{
const char kUserPresetName[] = "user preset";
} // namespace

// ---------------------------------------------------------------------------
// Construction

IFxBase::IFxBase(int nParams, const char* channelIOStr, int nPresets,
                 const char* effectName, const char* productName, const char* mfrName,
                 int vendorVersion, int uniqueID, int mfrID, int latency,
                 bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, EAPI plugAPI,
                 int plugScChans)
  : mUniqueID(uniqueID), mMfrID(mfrID), mVersion(vendorVersion), mAPI(plugAPI),
    mSidechainChannels(plugScChans < 0 ? 0 : plugScChans), mStateChunks(plugDoesChunks), mIsInst(plugIsInst), mDoesMIDI(plugDoesMidi),
    mLatency(latency < 0 ? 0 : latency)
{
  for (int i = 0; i < nParams; ++i) mParams.Add(new IParam);
  mEditorValues.reset(new EditorValue[nParams > 0 ? nParams : 0]);
  for (int i = 0; i < nPresets; ++i) mPresets.Add(new IPreset);

  KitStrCopy(mEffectName, effectName, sizeof(mEffectName));
  KitStrCopy(mProductName, productName, sizeof(mProductName));
  KitStrCopy(mMfrName, mfrName, sizeof(mMfrName));
  Trace(__FUNCTION__, __LINE__, "%s:%s", mEffectName, CurrentTime());

  // "in-out" pairs separated by single spaces; unreadable numbers count as 0.
  int nIn = 0, nOut = 0;
  const char* p = channelIOStr;
  while (p)
  {
    int in = 0, out = 0;
    sscanf(p, "%d-%d", &in, &out);
    mChannelIO.Add(new ChannelIO(in, out));
    if (in > nIn) nIn = in;
    if (out > nOut) nOut = out;
    p = strchr(p, ' ');
    if (p) ++p;
  }

  // The data arrays never move after this, so the channels may point into them.
  mInData.Resize(nIn);
  mOutData.Resize(nOut);
  for (int i = 0; i < nIn; ++i) mInChannels.Add(new InChannel(mInData.Get() + i));
  for (int i = 0; i < nOut; ++i) mOutChannels.Add(new OutChannel(mOutData.Get() + i));
  if (mSidechainChannels > nIn) mSidechainChannels = nIn;

  // Sized once, so that a fade allocates nothing on the audio thread.
  mHostBypass.mDry.Resize(nOut * kFadePieceFrames);
  mHostBypass.mSaved.Resize(nOut);
}

IFxBase::~IFxBase()
{
  delete mGraphics;
  mGraphics = nullptr;
  delete mDelay;
  mChannelIO.Empty(true);
  mParams.Empty(true);
  mPresets.Empty(true);
  mInChannels.Empty(true);
  mOutChannels.Empty(true);
  mInputBusLabels.Empty(true);
  mOutputBusLabels.Empty(true);
}

// ---------------------------------------------------------------------------
// Virtual hooks

void IFxBase::Reset()
{
  KitMutexLock lock(&mMutex);
}

// Called on the audio thread too (host automation): no lock.
void IFxBase::OnParamChange(int paramIdx)
{
  (void)paramIdx;
}

void IFxBase::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames)
{
  if (nFrames <= 0 || !outputs) return;
  int nIn = InputChannelCount(), nOut = OutputChannelCount();
  for (int i = 0; i < nOut; ++i)
  {
    if (!outputs[i]) continue;
    if (i < nIn && inputs && inputs[i])
      memmove(outputs[i], inputs[i], (size_t)nFrames * sizeof(double));
    else
      memset(outputs[i], 0, (size_t)nFrames * sizeof(double));
  }
}

void IFxBase::OnActivate(bool active)
{
  KitMutexLock lock(&mMutex);
  if (active) mHostBypass.mFade.Restart();
}

void IFxBase::ProcessMidiMsg(IMidiMsg* pMsg)
{
  SendMidiMsg(pMsg);
}

bool IFxBase::SerializeState(ByteChunk* pChunk)
{
  return SerializeParams(pChunk);
}

int IFxBase::UnserializeState(ByteChunk* pChunk, int startPos)
{
  return UnserializeParams(pChunk, startPos);
}

bool IFxBase::ApplyParamValue(int paramIdx, double value, bool normalized)
{
  IParam* pParam = ParamAt(paramIdx);
  if (!pParam || std::isnan(value)) return false;
  if (normalized)
  {
    value = IParam::ClampNormalized(value);
    pParam->SetNormalized(value);
  }
  else
  {
    if ((float)pParam->GetValue() == (float)value) return false;
    pParam->SetPlain(value);
    value = pParam->GetNormalized();
  }
  PostToEditor(paramIdx, value);
  OnParamChange(paramIdx);
  return true;
}

void IFxBase::PostToEditor(int paramIdx, double normalized)
{
  EditorValue& e = mEditorValues[(size_t)paramIdx];
  e.value.store(normalized, std::memory_order_relaxed);
  e.pending.store(true, std::memory_order_release);
}

bool IFxBase::TakeEditorValue(int paramIdx, double* pNormalized)
{
  if (paramIdx < 0 || paramIdx >= ParamCount()) return false;
  EditorValue& e = mEditorValues[(size_t)paramIdx];
  if (!e.pending.exchange(false, std::memory_order_acquire)) return false;
  if (pNormalized) *pNormalized = e.value.load(std::memory_order_relaxed);
  return true;
}

void IFxBase::SetParameterFromGUI(int paramIdx, double normalizedValue)
{
  // The host is told the value limited to 0..1, as the parameter takes it,
  // and nothing at all for a NaN. No lock is held while the host hears of
  // it: whatever the host does meanwhile, the audio thread goes on.
  if (std::isnan(normalizedValue)) return;
  normalizedValue = IParam::ClampNormalized(normalizedValue);
  Trace(__FUNCTION__, __LINE__, "%d:%f", paramIdx, normalizedValue);
  ParamAt(paramIdx)->SetNormalized(normalizedValue);
  // What was posted for the editor before this edit is older than what it
  // now shows; its next tick must not put it back.
  TakeEditorValue(paramIdx, nullptr);
  InformHostOfParamChange(paramIdx, normalizedValue);
  OnParamChange(paramIdx);
}

// ---------------------------------------------------------------------------
// Hand-over to the audio thread

IFxBase::ParamBatch::ParamBatch(IFxBase& plug) : mPlug(plug)
{
  mPlug.mMutex.Enter();
  if (mPlug.mBatchDepth++ == 0)
  {
    // The audio thread may be writing a batch of its own; it is short and
    // never waits, so this thread does.
    while (mPlug.mBatchWriter.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
    // Odd: a batch is being written. The read-modify-write keeps the batch's
    // stores after it.
    mPlug.mParamSeq.fetch_add(1, std::memory_order_acq_rel);
  }
}

IFxBase::ParamBatch::~ParamBatch()
{
  if (--mPlug.mBatchDepth == 0)
  {
    mPlug.mParamSeq.fetch_add(1, std::memory_order_release);
    mPlug.mBatchWriter.store(false, std::memory_order_release);
  }
  mPlug.mMutex.Leave();
}

IFxBase::AudioThreadBatch::AudioThreadBatch(IFxBase& plug)
  : mPlug(plug), mHeld(!plug.mBatchWriter.exchange(true, std::memory_order_acquire))
{
  if (mHeld) mPlug.mParamSeq.fetch_add(1, std::memory_order_acq_rel);
}

IFxBase::AudioThreadBatch::~AudioThreadBatch()
{
  if (!mHeld) return;
  mPlug.mParamSeq.fetch_add(1, std::memory_order_release);
  mPlug.mBatchWriter.store(false, std::memory_order_release);
}

void IFxBase::TakeParamsForSetUp()
{
  ParamBatch batch(*this);
  ReadBlockParams();
  mBlockBypassed = mIsBypassed.load(std::memory_order_relaxed);
  UseBlockParams();
}

void IFxBase::TakeBlockParams()
{
  const unsigned seq = mParamSeq.load(std::memory_order_acquire);
  if (seq & 1u) return;
  const bool bypassed = mIsBypassed.load(std::memory_order_relaxed);
  ReadBlockParams();
  // A read-modify-write that changes nothing: it keeps the reads above
  // before it, and sees any batch that began meanwhile.
  if (mParamSeq.fetch_add(0, std::memory_order_acq_rel) != seq) return;
  mBlockBypassed = bypassed;
  UseBlockParams();
}

// ---------------------------------------------------------------------------
// The host, through the binding that attached itself

void IFxBase::BeginInformHostOfParamChange(int paramIdx)
{
  if (mHostIf) mHostIf->BeginInformHostOfParamChange(paramIdx);
}

void IFxBase::InformHostOfParamChange(int paramIdx, double normalizedValue)
{
  if (mHostIf) mHostIf->InformHostOfParamChange(paramIdx, normalizedValue);
}

void IFxBase::EndInformHostOfParamChange(int paramIdx)
{
  if (mHostIf) mHostIf->EndInformHostOfParamChange(paramIdx);
}

void IFxBase::InformHostOfProgramChange()
{
  if (mHostIf) mHostIf->InformHostOfProgramChange();
}

bool IFxBase::IsRenderingOffline()
{
  return mHostIf && mHostIf->IsRenderingOffline();
}

void IFxBase::GetTime(ITimeInfo* pTimeInfo)
{
  if (!pTimeInfo) return;
  *pTimeInfo = ITimeInfo();
  if (mHostIf) mHostIf->GetTime(pTimeInfo);
}

double IFxBase::GetTempo()
{
  ITimeInfo t;
  GetTime(&t);
  return t.mTempo;
}

void IFxBase::ResizeGraphics(int w, int h)
{
  if (mHostIf) mHostIf->ResizeGraphics(w, h);
}

bool IFxBase::SendMidiMsg(IMidiMsg* pMsg)
{
  return mHostIf && mHostIf->SendMidiMsg(pMsg);
}

void IFxBase::PopupHostContextMenuForParam(int paramIdx, int x, int y)
{
  if (mHostIf) mHostIf->PopupHostContextMenuForParam(paramIdx, x, y);
}

bool IFxBase::PopupParamMenu(int paramIdx, int x, int y, const IFxMenuEntry* entries, int nEntries)
{
  return mHostIf && mHostIf->PopupParamMenu(paramIdx, x, y, entries, nEntries);
}

void IFxBase::AttachGraphics(IFxEditor* pGraphics)
{
  if (!pGraphics) return;
  KitMutexLock lock(&mMutex);
  // What was posted for an earlier editor is older than what it is shown now.
  for (int i = 0, n = ParamCount(); i < n; ++i) TakeEditorValue(i, nullptr);
  for (int i = 0, n = ParamCount(); i < n; ++i)
    pGraphics->SetParameterFromPlug(i, ParamAt(i)->GetNormalized(), true);
  pGraphics->PrepDraw();
  // The base owns one editor; a replaced one would otherwise leak.
  if (mGraphics && mGraphics != pGraphics) delete mGraphics;
  mGraphics = pGraphics;
}

void IFxBase::DeleteGraphics()
{
  KitMutexLock lock(&mMutex);
  delete mGraphics;
  mGraphics = nullptr;
}

void IFxBase::SetLatency(int samples)
{
  if (samples < 0) samples = 0;
  mLatency.store(samples, std::memory_order_relaxed);
  if (mDelay) mDelay->SetLength(samples);
  if (mHostIf) mHostIf->InformHostOfLatencyChange();
}

void IFxBase::ChangeLatency(int samples)
{
  if (samples < 0) samples = 0;
  if (mLatency.exchange(samples, std::memory_order_relaxed) != samples && mHostIf)
    mHostIf->InformHostOfLatencyChange();
}

// A host may restore a state on any thread, while the editor ticks on its
// own: the values go to the editor as every other change does, to be taken
// in its next tick. Posting replaces whatever was waiting there, so an
// older value cannot come back over the restored one.
void IFxBase::RedrawParamControls()
{
  for (int i = 0, n = ParamCount(); i < n; ++i) PostToEditor(i, ParamAt(i)->GetNormalized());
}

// ---------------------------------------------------------------------------
// Parameters

void IFxBase::OnParamReset()
{
  for (int i = 0, n = ParamCount(); i < n; ++i) OnParamChange(i);
}

// No lock: the host may take its own while it hears of them.
void IFxBase::DirtyParameters()
{
  for (int i = 0, n = ParamCount(); i < n; ++i)
    InformHostOfParamChange(i, ParamAt(i)->GetNormalized());
}

// ---------------------------------------------------------------------------
// Identification and labels

void IFxBase::GetVersionParts(int version, int* pMajor, int* pMinor, int* pBugFix)
{
  unsigned int v = (unsigned int)version;
  *pMajor = (int)((v & 0xFFFF0000u) >> 16);
  *pMinor = (int)((v & 0x0000FF00u) >> 8);
  *pBugFix = (int)(v & 0x000000FFu);
}

int IFxBase::GetDecimalVersion(int version)
{
  int major, minor, bugFix;
  GetVersionParts(version, &major, &minor, &bugFix);
  return major * 10000 + minor * 100 + bugFix;
}

void IFxBase::GetVersionStr(int version, char* str)
{
  int major, minor, bugFix;
  GetVersionParts(version, &major, &minor, &bugFix);
  // At most "v65535.255.255": 15 bytes with the terminator.
  snprintf(str, 16, "v%d.%d.%d", major, minor, bugFix);
}

void IFxBase::SetHost(const char* host, int version)
{
  mHost = LookUpHost(host);
  mHostVersion = version;
  char vStr[32];
  GetVersionStr(version, vStr);
  Trace(__FUNCTION__, __LINE__, "host_%sknown:%s:%s", mHost == kHostUnknown ? "un" : "",
        host ? host : "", vStr);
}

void IFxBase::SetBusLabel(KitPtrList<KitString>* pList, int idx, const char* label)
{
  if (idx < 0) return;
  if (idx < pList->GetSize()) pList->Delete(idx, true);
  KitString* pStr = new KitString(label ? label : "");
  if (!pList->Insert(idx, pStr)) delete pStr;
}

void IFxBase::SetInputBusLabel(int idx, const char* label)
{
  // Main input and side-chain only.
  if (idx < 0 || idx > 1) return;
  SetBusLabel(&mInputBusLabels, idx, label);
}

void IFxBase::SetOutputBusLabel(int idx, const char* label)
{
  SetBusLabel(&mOutputBusLabels, idx, label);
}

const char* IFxBase::GetInputBusLabel(int idx) const
{
  KitString* pStr = mInputBusLabels.Get(idx);
  return pStr ? pStr->Get() : nullptr;
}

const char* IFxBase::GetOutputBusLabel(int idx) const
{
  KitString* pStr = mOutputBusLabels.Get(idx);
  return pStr ? pStr->Get() : nullptr;
}

// ---------------------------------------------------------------------------
// State

// Both without a lock: they run on the audio thread too (a preset the host
// chooses in a block). A thread that must see or make a whole state holds a
// ParamBatch around them (which serialises such threads).
bool IFxBase::SerializeParams(ByteChunk* pChunk)
{
  for (int i = 0, n = ParamCount(); i < n; ++i)
  {
    double v = ParamAt(i)->GetValue();
    pChunk->Append(v);
    Trace(__FUNCTION__, __LINE__, "%d %s %f", i, ParamAt(i)->GetNameForHost(), v);
  }
  return true;
}

int IFxBase::UnserializeParams(ByteChunk* pChunk, int startPos)
{
  int pos = startPos;
  for (int i = 0, n = ParamCount(); i < n && pos >= 0; ++i)
  {
    double v = 0.0;
    pos = pChunk->Read(&v, pos);
    // A NaN from stored data would survive clamping and reach the audio.
    if (std::isnan(v)) v = 0.0;
    ParamAt(i)->SetValue(v);
    Trace(__FUNCTION__, __LINE__, "%d %s %f", i, ParamAt(i)->GetNameForHost(), ParamAt(i)->GetValue());
  }
  OnParamReset();
  return pos;
}

// ---------------------------------------------------------------------------
// Presets

IPreset* IFxBase::GetNextUninitializedPreset()
{
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    if (!pPreset->mInitialized) return pPreset;
  }
  return nullptr;
}

const char* IFxBase::GetPresetName(int idx) const
{
  IPreset* pPreset = mPresets.Get(idx);
  return pPreset ? pPreset->mName : "";
}

void IFxBase::MakeDefaultPreset(const char* name, int nPresets)
{
  for (int i = 0; i < nPresets; ++i)
  {
    IPreset* pPreset = GetNextUninitializedPreset();
    if (!pPreset) return;
    pPreset->mInitialized = true;
    pPreset->SetName(name ? name : "Empty");
    pPreset->mChunk.Clear();
    SerializeState(&pPreset->mChunk);
  }
}

void IFxBase::MakePreset(const char* name, ...)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();

  va_list vp;
  va_start(vp, name);
  for (int i = 0, n = ParamCount(); i < n; ++i)
  {
    double v;
    if (ParamAt(i)->GetType() == IParam::kTypeDouble)
      v = va_arg(vp, double);
    else
      v = (double)va_arg(vp, int);
    pPreset->mChunk.Append(v);
  }
  va_end(vp);
}

int IFxBase::PresetMatchingValues()
{
  ByteChunk now;
  if (!SerializeState(&now)) return -1;
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    const IPreset* p = mPresets.Get(i);
    if (p->mInitialized && p->mChunk.Size() == now.Size() && memcmp(p->mChunk.Data(), now.Data(), (size_t)now.Size()) == 0)
      return i;
  }
  return -1;
}

bool IFxBase::RestorePreset(int idx)
{
  IPreset* pPreset = mPresets.Get(idx);
  if (!pPreset) return false;

  bool ok;
  if (!pPreset->mInitialized)
  {
    // A free slot captures the current settings under a fresh user name.
    pPreset->mInitialized = true;
    int nUser = 0;
    for (int i = 0, n = PresetCount(); i < n; ++i)
      if (strstr(mPresets.Get(i)->mName, kUserPresetName)) ++nUser;
    char name[IPreset::kNameSize];
    snprintf(name, sizeof(name), "%s %d", kUserPresetName, nUser + 1);
    pPreset->SetName(name);
    pPreset->mChunk.Clear();
    ok = SerializeState(&pPreset->mChunk);
  }
  else
  {
    ok = UnserializeState(&pPreset->mChunk, 0) > 0;
  }

  if (ok)
  {
    mCurrentPresetIdx = idx;
    PresetsChangedByHost();
    // A host may choose a preset from its audio thread (a program change in
    // a block): the editor takes the values in its tick rather than being
    // reached into from here.
    for (int i = 0, n = ParamCount(); i < n; ++i) PostToEditor(i, ParamAt(i)->GetNormalized());
  }
  return ok;
}

bool IFxBase::RestorePreset(const char* name)
{
  if (!name || !*name) return false;
  for (int i = 0, n = PresetCount(); i < n; ++i)
    if (!strcmp(mPresets.Get(i)->mName, name)) return RestorePreset(i);
  return false;
}
