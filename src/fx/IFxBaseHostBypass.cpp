// The host's bypass around the plug-in's processing. Outside a switch
// exactly one of ProcessBuffers and PassThroughBuffers runs; for the frames
// after the host's flag changes both run, and the output moves from one to
// the other along a short linear fade. The chain keeps running through a
// fade into the bypass, and stops at its end, unless the plug-in keeps
// hearing its input while bypassed (HearsInputWhileHostBypassed): then it
// processes every bypassed frame too, and its output is discarded.

#include "fx/IFxBase.h"

#include <algorithm>
#include <cstring>

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
