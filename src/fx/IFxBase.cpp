#include "fx/IFxBase.h"

#include <thread>

#include <immintrin.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "fx/Log.h"
#include "kit/KitBase64.h"
#include "kit/KitSimdPath.h"

namespace
{
// Clips [first, first + count) to [0, size) without overflowing.
void ClipRange(int first, int count, int size, int* pBegin, int* pEnd)
{
  long long b = first < 0 ? 0 : first;
  long long e = (long long)first + (count < 0 ? 0 : count);
  if (e > size) e = size;
  if (b > e) b = e;
  *pBegin = (int)b;
  *pEnd = (int)e;
}

const char kUserPresetName[] = "user preset";
const double kUnsetMarker = 9.999e-8;
} // namespace

// ---------------------------------------------------------------------------
// Construction

IFxBase::DelayLine::DelayLine(int nIn, int nOut, int length)
  : mNIn(nIn < 0 ? 0 : nIn), mNOut(nOut < 0 ? 0 : nOut), mLength(0)
{
  SetLength(length);
}

void IFxBase::DelayLine::SetLength(int length)
{
  mWritePos = 0;
  mLength = 0;
  if (length < 0) length = 0;
  // One slot more than the longest delay: each sample is written before
  // the one as old as the delay is read.
  long long n = length > 0 ? (long long)mNIn * ((long long)length + 1) : 0;
  // A buffer that cannot be had leaves the line empty: pass-through then
  // copies undelayed instead of indexing memory that is not there.
  if (n > INT_MAX || (n > 0 && !mBuf.Resize((int)n)))
  {
    mBuf.Resize(0);
    return;
  }
  if (n == 0) mBuf.Resize(0);
  else memset(mBuf.Get(), 0, (size_t)n * sizeof(double));
  mLength = length;
}

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

void IFxBase::MakeDelayLine(int nIn, int nOut, int length)
{
  delete mDelay;
  mDelay = new DelayLine(nIn, nOut, length);
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

bool IFxBase::MidiNoteName(int noteNumber, char* noteName)
{
  (void)noteNumber;
  if (noteName) *noteName = '\0';
  return false;
}

bool IFxBase::SerializeState(ByteChunk* pChunk)
{
  return SerializeParams(pChunk);
}

int IFxBase::UnserializeState(ByteChunk* pChunk, int startPos)
{
  return UnserializeParams(pChunk, startPos);
}

bool IFxBase::CompareState(const unsigned char* incomingState, int startPos)
{
  int n = ParamCount();
  if (n == 0) return true;
  if (!incomingState || startPos < 0) return false;
  for (int i = 0; i < n; ++i)
  {
    double stored;
    // memcpy: the caller's bytes need not be aligned for doubles.
    memcpy(&stored, incomingState + ((size_t)startPos + (size_t)i) * sizeof(double), sizeof(double));
    float diff = (float)ParamAt(i)->GetValue() - (float)stored;
    if (!(std::fabs(diff) < 1e-5f)) return false;
  }
  return true;
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

int IFxBase::GetSamplePos()
{
  ITimeInfo t;
  GetTime(&t);
  // Positions past int's range (hours into a session at high rates) are
  // cut as an int conversion of the host's 64-bit count would cut them.
  return (int)(long long)t.mSamplePos;
}

double IFxBase::GetTempo()
{
  ITimeInfo t;
  GetTime(&t);
  return t.mTempo;
}

void IFxBase::GetTimeSig(int* pNum, int* pDenom)
{
  ITimeInfo t;
  GetTime(&t);
  if (pNum) *pNum = t.mNumerator;
  if (pDenom) *pDenom = t.mDenominator;
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

void IFxBase::SetBlockSize(int blockSize)
{
  if (blockSize < 0) blockSize = 0;
  if (blockSize == mBlockSize) return;

  // A size the scratch buffers cannot take leaves no scratch at all, so the
  // processing paths (which never run past the block size) touch nothing.
  if (!ResizeScratchBuffers(blockSize))
  {
    ResizeScratchBuffers(0);
    blockSize = 0;
  }
  mBlockSize = blockSize;
}

bool IFxBase::ResizeScratchBuffers(int blockSize)
{
  bool ok = true;
  for (int i = 0, n = InputChannelCount(); i < n; ++i)
  {
    InChannel* pIn = mInChannels.Get(i);
    double* old = pIn->mScratchBuf.Get();
    if (pIn->mScratchBuf.Resize(blockSize)) memset(pIn->mScratchBuf.Get(), 0, (size_t)blockSize * sizeof(double));
    else if (blockSize > 0) ok = false;
    // Slots that pointed at the old scratch memory would dangle.
    if (!pIn->mConnected || *pIn->mSrc == old) *pIn->mSrc = pIn->mScratchBuf.Get();
  }
  for (int i = 0, n = OutputChannelCount(); i < n; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    double* old = pOut->mScratchBuf.Get();
    if (pOut->mScratchBuf.Resize(blockSize)) memset(pOut->mScratchBuf.Get(), 0, (size_t)blockSize * sizeof(double));
    else if (blockSize > 0) ok = false;
    if (!pOut->mConnected || *pOut->mDest == old) *pOut->mDest = pOut->mScratchBuf.Get();
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Channels

bool IFxBase::LegalIO(int nIn, int nOut)
{
  bool legal = false;
  for (int i = 0, n = mChannelIO.GetSize(); i < n && !legal; ++i)
  {
    ChannelIO* pIO = mChannelIO.Get(i);
    legal = (nIn < 0 || nIn == pIO->mIn) && (nOut < 0 || nOut == pIO->mOut);
  }
  Trace(__FUNCTION__, __LINE__, "%d:%d:%s", nIn, nOut, legal ? "legal" : "illegal");
  return legal;
}

void IFxBase::SetInputChannelConnections(int idx, int n, bool connected)
{
  int b, e;
  ClipRange(idx, n, InputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    InChannel* pIn = mInChannels.Get(i);
    pIn->mConnected = connected;
    if (!connected) *pIn->mSrc = pIn->mScratchBuf.Get();
  }
}

void IFxBase::SetOutputChannelConnections(int idx, int n, bool connected)
{
  int b, e;
  ClipRange(idx, n, OutputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    pOut->mConnected = connected;
    if (!connected) *pOut->mDest = pOut->mScratchBuf.Get();
  }
}

bool IFxBase::IsInChannelConnected(int chIdx) const
{
  InChannel* pIn = mInChannels.Get(chIdx);
  return pIn && pIn->mConnected;
}

bool IFxBase::IsOutChannelConnected(int chIdx) const
{
  OutChannel* pOut = mOutChannels.Get(chIdx);
  return pOut && pOut->mConnected;
}

namespace
{

// 32-bit audio in and out of the double-precision chain, four samples at a
// time (eight on the AVX2 path). Widening is exact; narrowing rounds as the
// scalar conversion does (the same instruction family, under the same
// rounding mode).

__attribute__((target("avx2"))) int WidenEights(const float* src, double* dest, int n)
{
  int s = 0;
  for (; s + 8 <= n; s += 8)
  {
    const __m256 f = _mm256_loadu_ps(src + s);
    _mm256_storeu_pd(dest + s, _mm256_cvtps_pd(_mm256_castps256_ps128(f)));
    _mm256_storeu_pd(dest + s + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)));
  }
  return s;
}

__attribute__((target("avx2"))) int NarrowEights(const double* src, float* dest, int n)
{
  int s = 0;
  for (; s + 8 <= n; s += 8)
  {
    const __m128 lo = _mm256_cvtpd_ps(_mm256_loadu_pd(src + s));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_loadu_pd(src + s + 4));
    _mm256_storeu_ps(dest + s, _mm256_set_m128(hi, lo));
  }
  return s;
}

void WidenToDouble(const float* src, double* dest, int n)
{
  int s = simdpath::Active() == simdpath::kAvx2 ? WidenEights(src, dest, n) : 0;
  for (; s + 4 <= n; s += 4)
  {
    const __m128 f = _mm_loadu_ps(src + s);
    _mm_storeu_pd(dest + s, _mm_cvtps_pd(f));
    _mm_storeu_pd(dest + s + 2, _mm_cvtps_pd(_mm_movehl_ps(f, f)));
  }
  for (; s < n; ++s) dest[s] = (double)src[s];
}

void NarrowToFloat(const double* src, float* dest, int n)
{
  int s = simdpath::Active() == simdpath::kAvx2 ? NarrowEights(src, dest, n) : 0;
  for (; s + 4 <= n; s += 4)
  {
    const __m128 lo = _mm_cvtpd_ps(_mm_loadu_pd(src + s));
    const __m128 hi = _mm_cvtpd_ps(_mm_loadu_pd(src + s + 2));
    _mm_storeu_ps(dest + s, _mm_movelh_ps(lo, hi));
  }
  for (; s < n; ++s) dest[s] = (float)src[s];
}

}  // namespace

void IFxBase::AttachInputBuffers(int idx, int n, double** ppData, int nFrames)
{
  (void)nFrames;
  int b, e;
  ClipRange(idx, n, InputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    InChannel* pIn = mInChannels.Get(i);
    if (pIn->mConnected) *pIn->mSrc = *(ppData++);
  }
}

void IFxBase::AttachInputBuffers(int idx, int n, float** ppData, int nFrames)
{
  int b, e;
  ClipRange(idx, n, InputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    InChannel* pIn = mInChannels.Get(i);
    if (!pIn->mConnected) continue;
    const float* src = *(ppData++);
    double* dest = pIn->mScratchBuf.Get();
    // Never convert past the scratch buffer, whatever count the host sends.
    int frames = nFrames < pIn->mScratchBuf.GetSize() ? nFrames : pIn->mScratchBuf.GetSize();
    if (src && BlockReadsInput(i)) WidenToDouble(src, dest, frames);
    *pIn->mSrc = dest;
  }
}

void IFxBase::AttachOutputBuffers(int idx, int n, double** ppData)
{
  int b, e;
  ClipRange(idx, n, OutputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    if (pOut->mConnected) *pOut->mDest = *(ppData++);
  }
}

void IFxBase::AttachOutputBuffers(int idx, int n, float** ppData)
{
  int b, e;
  ClipRange(idx, n, OutputChannelCount(), &b, &e);
  for (int i = b; i < e; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    if (!pOut->mConnected) continue;
    *pOut->mDest = pOut->mScratchBuf.Get();
    pOut->mFDest = *(ppData++);
  }
}

void IFxBase::ProcessBuffers(double sampleType, int nFrames)
{
  (void)sampleType;
  ProcessDoubleReplacing(mInData.Get(), mOutData.Get(), nFrames);
}

void IFxBase::ProcessBuffers(float sampleType, int nFrames)
{
  (void)sampleType;
  // 32-bit hosts run through the scratch buffers, which hold one block.
  if (nFrames > mBlockSize) nFrames = mBlockSize;
  ProcessDoubleReplacing(mInData.Get(), mOutData.Get(), nFrames);
  ConvertOutputsToFloat(nFrames);
}

void IFxBase::ConvertOutputsToFloat(int nFrames)
{
  for (int i = 0, n = OutputChannelCount(); i < n; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    if (!pOut->mConnected || !pOut->mFDest || !*pOut->mDest) continue;
    const double* src = *pOut->mDest;
    NarrowToFloat(src, pOut->mFDest, nFrames);
  }
}

void IFxBase::PassThroughBuffers(double sampleType, int nFrames)
{
  (void)sampleType;
  if (nFrames <= 0) return;
  int nIn = InputChannelCount(), nOut = OutputChannelCount();
  double** in = mInData.Get();
  double** out = mOutData.Get();

  const int64_t delay = mDelay ? std::min<int64_t>(GetLatency(), mDelay->mLength) : 0;
  if (delay > 0)
  {
    int nCh = mDelay->mNIn < mDelay->mNOut ? mDelay->mNIn : mDelay->mNOut;
    if (nCh > nIn) nCh = nIn;
    if (nCh > nOut) nCh = nOut;
    double* buf = mDelay->mBuf.Get();
    const int64_t slots = mDelay->mLength + 1;
    for (int s = 0; s < nFrames; ++s)
    {
      const int64_t wp = mDelay->mWritePos;
      const int64_t rp = wp >= delay ? wp - delay : wp - delay + slots;
      for (int c = 0; c < nCh; ++c)
      {
        if (!in[c] || !out[c]) continue;
        // Read the input before writing the output: hosts may pass one
        // buffer as both.
        buf[c * slots + wp] = in[c][s];
        out[c][s] = buf[c * slots + rp];
      }
      if (++mDelay->mWritePos >= slots) mDelay->mWritePos = 0;
    }
    // Outputs without a delayed input carry silence rather than stale data.
    for (int c = nCh; c < nOut; ++c)
      if (out[c] && c >= nIn) memset(out[c], 0, (size_t)nFrames * sizeof(double));
    return;
  }

  for (int i = 0; i < nOut; ++i)
  {
    if (!out[i]) continue;
    if (i < nIn && in[i])
      memmove(out[i], in[i], (size_t)nFrames * sizeof(double));
    else
      memset(out[i], 0, (size_t)nFrames * sizeof(double));
  }
}

void IFxBase::PassThroughBuffers(float sampleType, int nFrames)
{
  (void)sampleType;
  if (nFrames > mBlockSize) nFrames = mBlockSize;
  PassThroughBuffers(0.0, nFrames);
  ConvertOutputsToFloat(nFrames);
}

void IFxBase::ZeroScratchBuffers()
{
  for (int i = 0, n = InputChannelCount(); i < n; ++i)
  {
    KitTypedBuf<double>& b = mInChannels.Get(i)->mScratchBuf;
    if (b.GetSize() > 0) memset(b.Get(), 0, (size_t)b.GetSizeBytes());
  }
  for (int i = 0, n = OutputChannelCount(); i < n; ++i)
  {
    KitTypedBuf<double>& b = mOutChannels.Get(i)->mScratchBuf;
    if (b.GetSize() > 0) memset(b.Get(), 0, (size_t)b.GetSizeBytes());
  }
}

double IFxBase::GetSamplesPerBeat()
{
  double tempo = GetTempo();
  if (tempo > 0.0) return GetSampleRate() * 60.0 / tempo;
  return 0.0;
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

int IFxBase::GetEffectVersion(bool decimal) const
{
  return decimal ? GetDecimalVersion(mVersion) : mVersion;
}

void IFxBase::GetEffectVersionStr(char* str) const
{
  GetVersionStr(mVersion, str);
}

int IFxBase::GetHostVersion(bool decimal)
{
  GetHost();
  return decimal ? GetDecimalVersion(mHostVersion) : mHostVersion;
}

void IFxBase::GetHostVersionStr(char* str)
{
  GetHost();
  GetVersionStr(mHostVersion, str);
}

const char* IFxBase::GetAPIString()
{
  switch (GetAPI())
  {
    case kAPIVST2: return "VST2";
    case kAPIVST3: return "VST3";
    case kAPIAU: return "AU";
    case kAPIRTAS: return "RTAS";
    case kAPIAAX: return "AAX";
    case kAPISA: return "Standalone";
    case kAPILV2: return "LV2";
    default: return "";
  }
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

void IFxBase::SetInputLabel(int idx, const char* label)
{
  if (InChannel* pIn = mInChannels.Get(idx)) pIn->mLabel.Set(label ? label : "");
}

void IFxBase::SetOutputLabel(int idx, const char* label)
{
  if (OutChannel* pOut = mOutChannels.Get(idx)) pOut->mLabel.Set(label ? label : "");
}

const char* IFxBase::GetInputLabel(int idx) const
{
  InChannel* pIn = mInChannels.Get(idx);
  return pIn ? pIn->mLabel.Get() : "";
}

const char* IFxBase::GetOutputLabel(int idx) const
{
  OutChannel* pOut = mOutChannels.Get(idx);
  return pOut ? pOut->mLabel.Get() : "";
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

bool IFxBase::SendMidiMsgs(KitTypedBuf<IMidiMsg>* pMsgs)
{
  bool ok = true;
  if (!pMsgs) return ok;
  IMidiMsg* pMsg = pMsgs->Get();
  for (int i = 0, n = pMsgs->GetSize(); i < n; ++i, ++pMsg) ok &= SendMidiMsg(pMsg);
  return ok;
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

void IFxBase::MakePresetFromNamedParams(const char* name, int nParamsNamed, ...)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();

  int n = ParamCount();
  KitTypedBuf<double> vals;
  vals.Resize(n);
  for (int i = 0; i < n && vals.Get(); ++i) vals.Get()[i] = kUnsetMarker;

  va_list vp;
  va_start(vp, nParamsNamed);
  for (int i = 0; i < nParamsNamed; ++i)
  {
    int paramIdx = va_arg(vp, int);
    // The type of the value that follows an unknown index cannot be known,
    // so nothing after it can be read safely.
    if (paramIdx < 0 || paramIdx >= n) break;
    double v;
    if (ParamAt(paramIdx)->GetType() == IParam::kTypeDouble)
      v = va_arg(vp, double);
    else
      v = (double)va_arg(vp, int);
    vals.Get()[paramIdx] = v;
  }
  va_end(vp);

  for (int i = 0; i < n; ++i)
  {
    double v = vals.Get()[i];
    if (v == kUnsetMarker) v = ParamAt(i)->GetValue();
    pPreset->mChunk.Append(v);
  }
}

void IFxBase::MakePresetFromChunk(const char* name, ByteChunk* pChunk)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();
  pPreset->mChunk.AppendChunk(pChunk);
}

void IFxBase::MakePresetFromBlob(const char* name, const char* blob, int sizeOfChunk)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();
  if (sizeOfChunk <= 0) return;
  if (pPreset->mChunk.Resize(sizeOfChunk) != sizeOfChunk) return;
  KitBase64Decode(blob ? blob : "", -1, pPreset->mChunk.Data(), sizeOfChunk);
}

void IFxBase::EnsureDefaultPreset()
{
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    if (pPreset->mInitialized) continue;
    pPreset->mInitialized = true;
    pPreset->SetName("Empty");
    pPreset->mChunk.Clear();
    SerializeState(&pPreset->mChunk);
  }
}

void IFxBase::PruneUninitializedPresets()
{
  for (int i = PresetCount() - 1; i >= 0; --i)
    if (!mPresets.Get(i)->mInitialized) mPresets.Delete(i, true);
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

void IFxBase::ModifyCurrentPreset(const char* name)
{
  IPreset* pPreset = mPresets.Get(mCurrentPresetIdx);
  if (!pPreset) return;
  pPreset->mChunk.Clear();
  SerializeState(&pPreset->mChunk);
  if (name && *name) pPreset->SetName(name);
  Trace(__FUNCTION__, __LINE__, "%d %s", mCurrentPresetIdx.load(), pPreset->mName);
}

bool IFxBase::SerializePresets(ByteChunk* pChunk)
{
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    Trace(__FUNCTION__, __LINE__, "%d %s", i, pPreset->mName);
    pChunk->AppendString(pPreset->mName);
    pChunk->Append(pPreset->mInitialized);
    if (pPreset->mInitialized) pChunk->AppendChunk(&pPreset->mChunk);
  }
  return true;
}

int IFxBase::UnserializePresets(ByteChunk* pChunk, int startPos)
{
  int pos = startPos;
  KitString name;
  for (int i = 0, n = PresetCount(); i < n && pos >= 0; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    pos = pChunk->ReadString(&name, pos);
    if (pos < 0 || pos > pChunk->Size()) return FinishUnserializePresets(-1);
    // Over-long names are cut to the slot.
    pPreset->SetName(name.Get());
    Trace(__FUNCTION__, __LINE__, "%d %s", i, pPreset->mName);

    bool initialized = false;
    pos = pChunk->Read(&initialized, pos);
    if (pos < 0) break;
    pPreset->mInitialized = initialized;

    if (pPreset->mInitialized)
    {
      pos = UnserializeState(pChunk, pos);
      if (pos > 0)
      {
        // Store the values as the current ranges clamped them.
        pPreset->mChunk.Clear();
        SerializeState(&pPreset->mChunk);
      }
    }
  }
  return FinishUnserializePresets(pos);
}

int IFxBase::FinishUnserializePresets(int pos)
{
  RestorePreset(mCurrentPresetIdx);
  return pos;
}

// ---------------------------------------------------------------------------
// Dumps

namespace
{
// Writes the base64 text of a chunk; the buffer fits any chunk size.
void WriteBase64(FILE* fp, const ByteChunk& chunk)
{
  int len = KitBase64EncodedLen(chunk.Size());
  if (len < 0) len = 0;
  KitTypedBuf<char> text;
  if (!text.Resize(len + 1)) return;
  if (KitBase64Encode(chunk.Data(), chunk.Size(), text.Get(), len + 1) < 0) text.Get()[0] = '\0';
  fprintf(fp, "%s\", %i);\n", text.Get(), chunk.Size());
}
} // namespace

void IFxBase::DumpPresetSrcCode(const char* filename, const char* paramEnumNames[])
{
  FILE* fp = filename ? fopen(filename, "w") : nullptr;
  if (!fp) return;
  int n = ParamCount();
  fprintf(fp, "  MakePresetFromNamedParams(\"name\", %d", n);
  for (int i = 0; i < n; ++i)
  {
    IParam* pParam = ParamAt(i);
    const char* id = (paramEnumNames && paramEnumNames[i]) ? paramEnumNames[i] : "";
    double v = pParam->GetValue();
    char valText[64];
    switch (pParam->GetType())
    {
      case IParam::kTypeBool: snprintf(valText, sizeof(valText), "%s", v >= 0.5 ? "true" : "false"); break;
      case IParam::kTypeInt:
      case IParam::kTypeEnum: snprintf(valText, sizeof(valText), "%d", (int)v); break;
      default: snprintf(valText, sizeof(valText), "%.6f", v); break;
    }
    fprintf(fp, ",\n    %s, %s", id, valText);
  }
  fprintf(fp, ");\n");
  fclose(fp);
}

void IFxBase::DumpPresetBlob(const char* filename)
{
  IPreset* pPreset = mPresets.Get(mCurrentPresetIdx);
  if (!pPreset || !filename) return;
  FILE* fp = fopen(filename, "w");
  if (!fp) return;
  fprintf(fp, "MakePresetFromBlob(\"name\", \"");
  WriteBase64(fp, pPreset->mChunk);
  fclose(fp);
}

void IFxBase::DumpBankBlob(const char* filename)
{
  FILE* fp = filename ? fopen(filename, "w") : nullptr;
  if (!fp) return;
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    fprintf(fp, "MakePresetFromBlob(\"%s\", \"", pPreset->mName);
    WriteBase64(fp, pPreset->mChunk);
  }
  fclose(fp);
}
