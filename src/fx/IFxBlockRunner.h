#pragma once

// One host block through a plug-in, whatever the format. A binding
// translates its format's buffers and events into calls of this: the
// host's parameter values first (IFxBase::ApplyParamValue), then Run with
// one host buffer per plug-in channel. Values a host places within the
// block go to Run as a schedule: the block is split where each is due, so
// automation lands on the frame it was written for. The runner takes the
// values the block works with, connects the channels the host supplied (a
// missing input reads silence, a missing output is not written), converts
// 32-bit audio, splits blocks longer than the plug-in's block size,
// dispatches the host's bypass with its fade, writes silence when the block
// cannot be processed, and says which outputs came out silent.
//
// Run is for the audio thread, inside the plug-in's block gate (which the
// binding enters for the whole host call, and answers with silence when it
// cannot: another thread is setting the instance up).
//
// What this drives inside the plug-in (channels, scratch buffers, 32-bit
// conversion, pass-through and the bypass's fade) is IFxBase's, defined in
// IFxBlockRunner.cpp.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fx/IFxBase.h"

class IFxBlockRunner
{
public:
  // Bit c for output channel c (channels past 63 are not described).
  using ChannelMask = uint64_t;

  // Connects every channel and gives the plug-in its delay line: what an
  // instance needs before its first block, in any format.
  explicit IFxBlockRunner(IFxBase& plug) : mPlug(plug)
  {
    const int nIn = plug.InputChannelCount(), nOut = plug.OutputChannelCount();
    plug.SetInputChannelConnections(0, nIn, true);
    plug.SetOutputChannelConnections(0, nOut, true);
    if (nIn > 0) plug.MakeDelayLine(nIn, nOut, plug.MaxLatency());
    mInFromHost.assign((size_t)nIn, 0);
  }
  IFxBlockRunner(const IFxBlockRunner&) = delete;
  IFxBlockRunner& operator=(const IFxBlockRunner&) = delete;

  // One host block of nFrames. in and out hold one pointer per plug-in
  // channel (InputChannelCount, OutputChannelCount), null where the host
  // supplies none. Returns the outputs that hold only zeros, null ones
  // included.
  template <typename T>
  ChannelMask Run(T* const* in, T* const* out, int nFrames)
  {
    NoChanges none;
    return Run(in, out, nFrames, none);
  }

  // What a schedule of values within a block does: ApplyDue(frame) applies
  // every value due at or before that frame (through ApplyParamValue or the
  // host's bypass) and returns the frame at which the next one is due, or
  // kNoneDue. Values due at the block's end or later are applied after it
  // and taken by the next block.
  static constexpr int kNoneDue = std::numeric_limits<int>::max();
  struct NoChanges
  {
    int ApplyDue(int) { return kNoneDue; }
  };

  // One host block with values due within it: the block is processed in
  // pieces that end where a value is due, and each piece starts with the
  // values applied so far. Values due at frame 0 only are exactly a plain
  // Run after applying them.
  template <typename T, typename Changes>
  ChannelMask Run(T* const* in, T* const* out, int nFrames, Changes& changes)
  {
    const int blockSize = mPlug.GetBlockSize();
    // Without frames, or without scratch buffers (they could not be had),
    // nothing can be processed: silence, rather than what the host's
    // buffers held. The values are kept all the same.
    if (nFrames <= 0 || blockSize <= 0)
    {
      changes.ApplyDue(kNoneDue);
      return Silence(out, std::max(0, nFrames));
    }
    int due = changes.ApplyDue(0);
    mPlug.TakeBlockParams();
    // Longer blocks than announced go in pieces that fit the scratch buffers.
    for (int done = 0; done < nFrames;)
    {
      if (due <= done)
      {
        due = changes.ApplyDue(done);
        mPlug.TakeBlockParams();
      }
      const int n = std::min({blockSize, nFrames - done, std::max(1, due - done)});
      Connect(in, out, done, n);
      mPlug.RunBuffers((T)0, n);
      done += n;
    }
    changes.ApplyDue(kNoneDue);
    return SilentOutputs(out, nFrames);
  }

  // Zeroes every output the host passed: a block that cannot be processed.
  template <typename T>
  ChannelMask Silence(T* const* out, int nFrames)
  {
    const int nOut = mPlug.OutputChannelCount();
    for (int c = 0; c < nOut; ++c)
      if (out && out[c] && nFrames > 0) std::fill_n(out[c], nFrames, (T)0);
    return AllChannels(nOut);
  }

  static ChannelMask AllChannels(int n) { return n <= 0 ? 0 : n >= 64 ? ~(ChannelMask)0 : ((ChannelMask)1 << n) - 1; }

  // True when all n samples are zero, of either sign. The bit patterns are
  // read 8 bytes at a time into four accumulators, which keeps the check of
  // a silent block to a fraction of a nanosecond per sample; audio stops it
  // at its first 256 bytes.
  template <typename T>
  static bool IsSilent(const T* p, int n)
  {
    // Every bit but the sign bits of the samples in one 64-bit word.
    const uint64_t magnitude = sizeof(T) == 4 ? 0x7FFFFFFF7FFFFFFFull : 0x7FFFFFFFFFFFFFFFull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    const size_t size = (size_t)std::max(0, n) * sizeof(T);
    size_t i = 0;
    for (; i + 256 <= size; i += 256)
    {
      uint64_t acc[4] = {0, 0, 0, 0};
      for (size_t k = 0; k < 256; k += 32)
        for (int j = 0; j < 4; ++j)
        {
          uint64_t word;
          memcpy(&word, bytes + i + k + 8 * j, sizeof(word));
          acc[j] |= word;
        }
      if (((acc[0] | acc[1] | acc[2] | acc[3]) & magnitude) != 0) return false;
    }
    for (; i < size; i += sizeof(T))
    {
      T x;
      memcpy(&x, bytes + i, sizeof(T));
      if (x != (T)0) return false;
    }
    return true;
  }

private:
  template <typename T>
  void Connect(T* const* in, T* const* out, int offset, int nFrames)
  {
    const int nIn = mPlug.InputChannelCount(), nOut = mPlug.OutputChannelCount();
    // A channel that read host audio and now reads silence would otherwise
    // read what the last 32-bit block left in its scratch buffer.
    bool zero = false;
    for (int c = 0; c < nIn; ++c)
      if (mInFromHost[(size_t)c] && !(in && in[c])) zero = true;
    if (zero) mPlug.ZeroScratchBuffers();
    for (int c = 0; c < nIn; ++c)
    {
      T* p = in ? in[c] : nullptr;
      mInFromHost[(size_t)c] = p != nullptr;
      mPlug.SetInputChannelConnections(c, 1, p != nullptr);
      if (p)
      {
        p += offset;
        mPlug.AttachInputBuffers(c, 1, &p, nFrames);
      }
    }
    for (int c = 0; c < nOut; ++c)
    {
      T* p = out ? out[c] : nullptr;
      mPlug.SetOutputChannelConnections(c, 1, p != nullptr);
      if (p)
      {
        p += offset;
        mPlug.AttachOutputBuffers(c, 1, &p);
      }
    }
  }

  template <typename T>
  ChannelMask SilentOutputs(T* const* out, int nFrames) const
  {
    ChannelMask mask = 0;
    for (int c = 0, n = std::min(mPlug.OutputChannelCount(), 64); c < n; ++c)
      if (!(out && out[c]) || IsSilent(out[c], nFrames)) mask |= (ChannelMask)1 << c;
    return mask;
  }

  IFxBase& mPlug;
  // Per input channel: read host audio in the last piece.
  std::vector<char> mInFromHost;
};
