// IFxBase's side of the block runner (IFxBlockRunner.h): the channels and
// their scratch buffers, 32-bit audio in and out of the double-precision
// chain, the delay line that keeps the latency on pass-through, and the
// host's bypass with its fade.

#include "fx/IFxBase.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "fx/Log.h"
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
}  // namespace

// ---------------------------------------------------------------------------
// The delay line and the scratch buffers

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
  if (n == 0)
    mBuf.Resize(0);
  else
    memset(mBuf.Get(), 0, (size_t)n * sizeof(double));
  mLength = length;
}

void IFxBase::MakeDelayLine(int nIn, int nOut, int length)
{
  delete mDelay;
  mDelay = new DelayLine(nIn, nOut, length);
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
    if (pIn->mScratchBuf.Resize(blockSize))
      memset(pIn->mScratchBuf.Get(), 0, (size_t)blockSize * sizeof(double));
    else if (blockSize > 0)
      ok = false;
    // Slots that pointed at the old scratch memory would dangle.
    if (!pIn->mConnected || *pIn->mSrc == old) *pIn->mSrc = pIn->mScratchBuf.Get();
  }
  for (int i = 0, n = OutputChannelCount(); i < n; ++i)
  {
    OutChannel* pOut = mOutChannels.Get(i);
    double* old = pOut->mScratchBuf.Get();
    if (pOut->mScratchBuf.Resize(blockSize))
      memset(pOut->mScratchBuf.Get(), 0, (size_t)blockSize * sizeof(double));
    else if (blockSize > 0)
      ok = false;
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

// ---------------------------------------------------------------------------
// The host's bypass around the plug-in's processing. Outside a switch
// exactly one of ProcessBuffers and PassThroughBuffers runs; for the frames
// after the host's flag changes both run, and the output moves from one to
// the other along a short linear fade. The chain keeps running through a
// fade into the bypass, and stops at its end, unless the plug-in keeps
// hearing its input while bypassed (HearsInputWhileHostBypassed): then it
// processes every bypassed frame too, and its output is discarded.

void IFxBase::RunBuffers(double sampleType, int nFrames)
{
  (void)sampleType;
  RunDoubleBuffers(nFrames);
}

void IFxBase::RunBuffers(float sampleType, int nFrames)
{
  (void)sampleType;
  // 32-bit hosts run through the scratch buffers, which hold one block.
  if (nFrames > mBlockSize) nFrames = mBlockSize;
  RunDoubleBuffers(nFrames);
  ConvertOutputsToFloat(nFrames);
}

void IFxBase::RunDoubleBuffers(int nFrames)
{
  if (nFrames <= 0) return;
  IFxFade& fade = mHostBypass.mFade;
  const bool bypassed = mBlockBypassed;
  fade.SetLength(IFxFade::FramesAt(GetSampleRate()));
  fade.SetTarget(bypassed);

  int done = 0;
  while (done < nFrames && !fade.Settled())
  {
    const int n = std::min(std::min(nFrames - done, fade.Remaining()), kFadePieceFrames);
    ShiftChannels(done);
    CrossFadePiece(n);
    ShiftChannels(-done);
    done += n;
  }
  if (done == nFrames) return;

  if (bypassed && HearsInputWhileHostBypassed())
  {
    for (int n = 0; done < nFrames; done += n)
    {
      n = std::min(nFrames - done, kFadePieceFrames);
      ShiftChannels(done);
      HostBypassedPiece(n);
      ShiftChannels(-done);
    }
    return;
  }
  ShiftChannels(done);
  if (bypassed)
  {
    PassThroughBuffers(0.0, nFrames - done);
    OnHostBypassedBlock(nFrames - done);
  }
  else
    ProcessBuffers(0.0, nFrames - done);
  ShiftChannels(-done);
}

void IFxBase::OutputsToDry()
{
  double** out = mOutData.Get();
  double** saved = mHostBypass.mSaved.Get();
  double* dry = mHostBypass.mDry.Get();
  for (int c = 0, n = OutputChannelCount(); c < n; ++c)
  {
    saved[c] = out[c];
    out[c] = dry + c * kFadePieceFrames;
  }
}

void IFxBase::OutputsFromDry()
{
  double** out = mOutData.Get();
  double** saved = mHostBypass.mSaved.Get();
  for (int c = 0, n = OutputChannelCount(); c < n; ++c) out[c] = saved[c];
}

void IFxBase::HostBypassedPiece(int nFrames)
{
  // The untouched signal first, as in a fade: a host may pass one buffer as
  // both input and output, and the plug-in must hear the input.
  OutputsToDry();
  PassThroughBuffers(0.0, nFrames);
  OutputsFromDry();
  double** out = mOutData.Get();
  ProcessHostBypassed(mInData.Get(), out, nFrames);
  const double* dry = mHostBypass.mDry.Get();
  for (int c = 0, n = OutputChannelCount(); c < n; ++c)
    if (out[c]) memcpy(out[c], dry + c * kFadePieceFrames, (size_t)nFrames * sizeof(double));
}

void IFxBase::CrossFadePiece(int nFrames)
{
  const int nOut = OutputChannelCount();
  double** out = mOutData.Get();
  double* dry = mHostBypass.mDry.Get();

  // The untouched signal first, into the fade's own buffers: a host may
  // pass one buffer as both input and output.
  OutputsToDry();
  PassThroughBuffers(0.0, nFrames);
  OutputsFromDry();

  ProcessBuffers(0.0, nFrames);

  IFxFade& fade = mHostBypass.mFade;
  for (int s = 0; s < nFrames; ++s)
  {
    const double w = fade.Next();
    for (int c = 0; c < nOut; ++c)
      if (out[c]) out[c][s] = IFxFade::Mix(out[c][s], dry[c * kFadePieceFrames + s], w);
  }
}

void IFxBase::ShiftChannels(int frames)
{
  if (frames == 0) return;
  double** in = mInData.Get();
  double** out = mOutData.Get();
  for (int c = 0, n = InputChannelCount(); c < n; ++c)
    if (in[c]) in[c] += frames;
  for (int c = 0, n = OutputChannelCount(); c < n; ++c)
    if (out[c]) out[c] += frames;
}
