#pragma once

#include <cmath>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "kit/KitSimdPath.h"
#include "dsp/halfband/Downsampler2x.h"
#include "dsp/halfband/HalfbandCoefs.h"
#include "dsp/halfband/PairLoops.h"
#include "dsp/halfband/Upsampler2x.h"

// Runs a per-sample function at 2, 4, 8 or 16 times the base rate: a cascade
// of half-band 2x stages up, the function on every oversampled sample, and
// the mirror cascade down. The steepest stage sits next to the base rate on
// both sides. One instance serves one channel through Process.
template <typename T = double>
class OverSampler
{
public:
  enum EFactor
  {
    kNone = 0,
    k2x,
    k4x,
    k8x,
    k16x,
    kNumFactors
  };

  // topFactor: the highest factor the instance will ever be switched to;
  // its buffers are sized for that rate and no higher.
  OverSampler(EFactor factor = kNone, bool blockProcessing = true, int nChannels = 1, EFactor topFactor = k16x)
    : mFactor(kNone), mRate(1), mTopFactor(topFactor > factor ? topFactor : factor),
      mBlockProcessing(blockProcessing), mNChannels(nChannels > 0 ? nChannels : 1)
  {
    // Process works on channel 0, so there is always at least one channel.
    for (int c = 0; c < mNChannels; ++c)
    {
      mUp12.emplace_back(new halfband::Upsampler2x<12>());
      mUp4.emplace_back(new halfband::Upsampler2x<4>());
      mUp3.emplace_back(new halfband::Upsampler2x<3>());
      mUp2.emplace_back(new halfband::Upsampler2x<2>());
      mDown12.emplace_back(new halfband::Downsampler2x<12>());
      mDown4.emplace_back(new halfband::Downsampler2x<4>());
      mDown3.emplace_back(new halfband::Downsampler2x<3>());
      mDown2.emplace_back(new halfband::Downsampler2x<2>());
      mUp12.back()->set_coefs(halfband::Coefs<12>::kValues);
      mDown12.back()->set_coefs(halfband::Coefs<12>::kValues);
      mUp4.back()->set_coefs(halfband::Coefs<4>::kValues);
      mDown4.back()->set_coefs(halfband::Coefs<4>::kValues);
      mUp3.back()->set_coefs(halfband::Coefs<3>::kValues);
      mDown3.back()->set_coefs(halfband::Coefs<3>::kValues);
      mUp2.back()->set_coefs(halfband::Coefs<2>::kValues);
      mDown2.back()->set_coefs(halfband::Coefs<2>::kValues);
    }
    if (factor != kNone)
    {
      mFactor = factor;
      mRate = RateOf(factor);
      Reset(1024);
    }
    Reset(1024);
  }

  OverSampler(const OverSampler&) = delete;
  OverSampler& operator=(const OverSampler&) = delete;

  static int RateOf(EFactor factor)
  {
    return static_cast<int>(1.0 * std::pow(2.0, static_cast<double>(factor)));
  }

  // Sizes the buffers for the top factor whatever the current one, so a
  // later switch of factor never needs more memory than this call took, and
  // clears the filter state of every channel. Buffers above the top rate
  // stay empty.
  void Reset(int blockSize = 1024)
  {
    const int perChannel = mBlockProcessing ? (blockSize > 0 ? blockSize : 1) : 1;
    mBlockCapacity = perChannel;
    const size_t n = static_cast<size_t>(perChannel) * static_cast<size_t>(mNChannels);
    for (int b = 0; b < kNumBuffers; ++b)
    {
      const size_t size = BufferRate(b) <= static_cast<size_t>(RateOf(mTopFactor)) ? n * BufferRate(b) : 0;
      mUpBuffers[b].resize(size);
      mDownBuffers[b].resize(size);
      mUpViews[b].clear();
      mDownViews[b].clear();
    }
    for (int c = 0; c < mNChannels; ++c)
    {
      ClearChannel(c);
      for (int b = 0; b < kNumBuffers; ++b)
      {
        const size_t offset = static_cast<size_t>(c) * perChannel * BufferRate(b);
        mUpViews[b].push_back(mUpBuffers[b].data() + offset);
        mDownViews[b].push_back(mDownBuffers[b].data() + offset);
      }
    }
  }

  // Zeroes the filter state only; buffers and views are left as they are.
  void ClearState()
  {
    for (int c = 0; c < mNChannels; ++c)
      ClearChannel(c);
  }

  // One input sample in, one output sample out, calling func once per
  // oversampled sample in time order. Works on channel 0.
  template <typename F>
  T Process(T input, F&& func)
  {
    switch (mRate)
    {
      case 2:
      {
        double u[2];
        mUp12[0]->process_sample(u[0], u[1], input);
        double r[2] = {func(u[0]), func(u[1])};
        return mDown12[0]->process_sample(r);
      }
      case 4:
      {
        double r[4];
        Up4(input, r);
        for (int k = 0; k < 4; ++k)
          r[k] = func(r[k]);
        return Down4(r);
      }
      case 8:
      {
        double r[8];
        Up8(input, r);
        for (int k = 0; k < 8; ++k)
          r[k] = func(r[k]);
        return Down8(r);
      }
      case 16:
      {
        double a[8];
        Up8(input, a);
        double r[16];
        for (int k = 0; k < 8; ++k)
          mUp2[0]->process_sample(r[2 * k], r[2 * k + 1], a[k]);
        for (int k = 0; k < 16; ++k)
          r[k] = func(r[k]);
        double w[8];
        for (int k = 0; k < 8; ++k)
          w[k] = mDown2[0]->process_sample(r + 2 * k);
        return Down8(w);
      }
      default:
        return func(input);
    }
  }

  // Block form of Process for channel 0, stage by stage over the block: the
  // same numbers as calling Process sample by sample, since every stage sees
  // the same inputs in the same order and func must hold no state.
  // Blocks longer than the size given to Reset are split.
  template <typename F>
  void ProcessBlock(const T* in, T* out, int nFrames, F&& func)
  {
    const int cap = BlockCapacity();
    for (int pos = 0; pos < nFrames; pos += cap)
    {
      const int n = nFrames - pos < cap ? nFrames - pos : cap;
      if (mRate == 1)
      {
        for (int i = 0; i < n; ++i)
          out[pos + i] = func(in[pos + i]);
        continue;
      }
      T* hi = UpsampleBlock(in + pos, n);
      T* res = DownTop();
      for (int k = 0, m = n * mRate; k < m; ++k)
        res[k] = func(hi[k]);
      DownsampleBlock(res, out + pos, n);
    }
  }

  // The halves of ProcessBlock, for a caller that runs several functions on
  // one upsampled block. nFrames must not exceed BlockCapacity(); at rate 1
  // the input is copied through.
  T* UpsampleBlock(const T* in, int nFrames)
  {
    T* a = mUpBuffers[3].data();
    if (mRate == 1)
    {
      for (int i = 0; i < nFrames; ++i)
        a[i] = in[i];
      return a;
    }
    UpStage(*mUp12[0], a, in, nFrames);
    if (mRate == 2)
      return a;
    T* b = mUpBuffers[2].data();
    UpStage(*mUp4[0], b, a, 2 * nFrames);
    if (mRate == 4)
      return b;
    T* c = mUpBuffers[1].data();
    UpStage(*mUp3[0], c, b, 4 * nFrames);
    if (mRate == 8)
      return c;
    T* e = mUpBuffers[0].data();
    UpStage(*mUp2[0], e, c, 8 * nFrames);
    return e;
  }

  // The top-rate buffer of the decimating side (rate x capacity samples).
  T* DownTop()
  {
    switch (mRate)
    {
      case 16: return mDownBuffers[0].data();
      case 8: return mDownBuffers[1].data();
      case 4: return mDownBuffers[2].data();
      default: return mDownBuffers[3].data();
    }
  }

  // hi holds rate x nFrames samples; it may be DownTop() itself.
  void DownsampleBlock(const T* hi, T* out, int nFrames)
  {
    if (mRate == 1)
    {
      for (int i = 0; i < nFrames; ++i)
        out[i] = hi[i];
      return;
    }
    const T* src = hi;
    if (mRate == 16)
    {
      DownStage(*mDown2[0], mDownBuffers[1].data(), src, 8 * nFrames);
      src = mDownBuffers[1].data();
    }
    if (mRate >= 8)
    {
      DownStage(*mDown3[0], mDownBuffers[2].data(), src, 4 * nFrames);
      src = mDownBuffers[2].data();
    }
    if (mRate >= 4)
    {
      DownStage(*mDown4[0], mDownBuffers[3].data(), src, 2 * nFrames);
      src = mDownBuffers[3].data();
    }
    DownStage(*mDown12[0], out, src, nFrames);
  }

  // The top-rate buffer of the upsampling side, as UpsampleBlock left it.
  T* UpTop()
  {
    switch (mRate)
    {
      case 16: return mUpBuffers[0].data();
      case 8: return mUpBuffers[1].data();
      case 4: return mUpBuffers[2].data();
      default: return mUpBuffers[3].data();
    }
  }

  // UpsampleBlock on S instances of one rate at once. Each stage's chain of
  // sections is a long serial dependency; running independent instances in
  // the same loop lets them overlap. Same numbers as one at a time.
  // With work given, work[s] (room for (rate - 2) x nFrames + rate x nFrames
  // samples) takes the levels instead of the instance's own buffers (at 4x
  // on the AVX2 path the lower level stays in registers), and top[s]
  // receives where the top-rate samples are.
  template <int S>
  static void UpsampleBlocks(OverSampler* const os[S], const T* const in[S], int nFrames,
                             T* const* work = nullptr, const T** top = nullptr,
                             simdpath::Path path = simdpath::Active())
  {
    UpsampleBlocks<S, NoShape>(os, in, nFrames, work, top, nullptr, nullptr, path);
  }

  // The same, and shaped[s] (rate x nFrames samples) receives a per-sample
  // function of instance s's top-rate samples: shape->Block(in, out, n) over
  // a run, or on the AVX2 path shape->Four(x) on four samples (target avx2),
  // which must give the same numbers. Computed as the top level makes the
  // samples, the function's work overlaps the filters' serial chains.
  template <int S, class Shape>
  static void UpsampleBlocks(OverSampler* const os[S], const T* const in[S], int nFrames, T* const* work,
                             const T** top, T* const* shaped, const Shape* shape,
                             simdpath::Path path = simdpath::Active())
  {
    const bool avx2 = path == simdpath::kAvx2;
    const int rate = os[0]->mRate;
    bool same = true;
    for (int s = 1; s < S; ++s)
      same = same && os[s]->mRate == rate && os[s]->BlockCapacity() >= nFrames;
    if (!same || rate == 1 || os[0]->BlockCapacity() < nFrames)
    {
      for (int s = 0; s < S; ++s)
      {
        const T* hi = os[s]->UpsampleBlock(in[s], nFrames);
        if (top)
          top[s] = hi;
        if (shape)
          shape->Block(hi, shaped[s], os[s]->mRate * nFrames);
      }
      return;
    }
    const T* src[S];
    for (int s = 0; s < S; ++s)
      src[s] = in[s];
    int m = nFrames;
    T* dst[S];
    size_t offset = 0;
    auto next = [&](int b) {
      for (int s = 0; s < S; ++s)
        dst[s] = work ? work[s] + offset : os[s]->mUpBuffers[b].data();
      offset += static_cast<size_t>(2 * m);
    };
    if constexpr (std::is_same<T, double>::value && S % 2 == 0)
      if (rate == 4 && avx2 && UpFused4x<S>(os, in, nFrames, work, top, shaped, shape))
        return;
    // The shape goes with the top level only.
    auto shapeAt = [&](int levelRate) { return levelRate == rate ? shape : nullptr; };
    next(3);
    UpLevel<S>(os, src, m, dst, [](OverSampler& o) -> halfband::Upsampler2x<12>& { return *o.mUp12[0]; },
               shaped, shapeAt(2), avx2);
    if (rate >= 4)
    {
      next(2);
      UpLevel<S>(os, src, m, dst, [](OverSampler& o) -> halfband::Upsampler2x<4>& { return *o.mUp4[0]; },
                 shaped, shapeAt(4), avx2);
    }
    if (rate >= 8)
    {
      next(1);
      UpLevel<S>(os, src, m, dst, [](OverSampler& o) -> halfband::Upsampler2x<3>& { return *o.mUp3[0]; },
                 shaped, shapeAt(8), avx2);
    }
    if (rate >= 16)
    {
      next(0);
      UpLevel<S>(os, src, m, dst, [](OverSampler& o) -> halfband::Upsampler2x<2>& { return *o.mUp2[0]; },
                 shaped, shapeAt(16), avx2);
    }
    if (top)
      for (int s = 0; s < S; ++s)
        top[s] = src[s];
  }

  // DownsampleBlock on S instances of one rate at once; hi[s] holds
  // rate x nFrames samples for instance s. With work given, work[s] (room
  // for rate x nFrames samples) takes the intermediate levels (at 4x on the
  // AVX2 path they stay in registers).
  template <int S>
  static void DownsampleBlocks(OverSampler* const os[S], const T* const hi[S], T* const out[S], int nFrames,
                               T* const* work = nullptr, simdpath::Path path = simdpath::Active())
  {
    const bool avx2 = path == simdpath::kAvx2;
    const int rate = os[0]->mRate;
    bool same = true;
    for (int s = 1; s < S; ++s)
      same = same && os[s]->mRate == rate && os[s]->BlockCapacity() >= nFrames;
    if (!same || rate == 1 || os[0]->BlockCapacity() < nFrames)
    {
      for (int s = 0; s < S; ++s)
        os[s]->DownsampleBlock(hi[s], out[s], nFrames);
      return;
    }
    const T* src[S];
    for (int s = 0; s < S; ++s)
      src[s] = hi[s];
    T* dst[S];
    size_t offset = 0;
    auto next = [&](int b, int m) {
      for (int s = 0; s < S; ++s)
        dst[s] = work ? work[s] + offset : os[s]->mDownBuffers[b].data();
      offset += static_cast<size_t>(m);
    };
    if (rate >= 16)
    {
      next(1, nFrames * 8);
      DownLevel<S>(os, src, nFrames * 8, dst,
                   [](OverSampler& o) -> halfband::Downsampler2x<2>& { return *o.mDown2[0]; }, avx2);
    }
    if (rate >= 8)
    {
      next(2, nFrames * 4);
      DownLevel<S>(os, src, nFrames * 4, dst,
                   [](OverSampler& o) -> halfband::Downsampler2x<3>& { return *o.mDown3[0]; }, avx2);
    }
    if constexpr (std::is_same<T, double>::value && S % 2 == 0)
      if (rate == 4 && avx2)
      {
        halfband::Downsampler2x<4>* st4[S];
        halfband::Downsampler2x<12>* st12[S];
        for (int s = 0; s < S; ++s)
        {
          st4[s] = os[s]->mDown4[0].get();
          st12[s] = os[s]->mDown12[0].get();
        }
        if (SameCoefs<S>(st4) && SameCoefs<S>(st12))
        {
          halfband::PairLoops::DownPairs4x<S / 2>(st4, st12, src, nFrames, out);
          return;
        }
      }
    if (rate >= 4)
    {
      next(3, nFrames * 2);
      DownLevel<S>(os, src, nFrames * 2, dst,
                   [](OverSampler& o) -> halfband::Downsampler2x<4>& { return *o.mDown4[0]; }, avx2);
    }
    DownLevel<S>(os, src, nFrames, out,
                 [](OverSampler& o) -> halfband::Downsampler2x<12>& { return *o.mDown12[0]; }, avx2);
  }

  // Makes this instance's up stages (channel 0) the same as other's: two
  // instances fed the same input can share one upsampling.
  void CopyUpStateFrom(const OverSampler& other)
  {
    *mUp12[0] = *other.mUp12[0];
    *mUp4[0] = *other.mUp4[0];
    *mUp3[0] = *other.mUp3[0];
    *mUp2[0] = *other.mUp2[0];
  }

  // Frames one ProcessBlock piece can hold: the block size given to Reset,
  // or 1 without block processing.
  int BlockCapacity() const { return mBlockCapacity; }

  EFactor GetFactor() const { return mFactor; }
  int GetRate() const { return mRate; }
  int GetNChannels() const { return mNChannels; }
  bool GetBlockProcessing() const { return mBlockProcessing; }
  // Buffer b holds samples at 16x (b = 0), 8x, 4x and 2x (b = 3).
  size_t GetUpBufferSize(int b) const { return mUpBuffers[b].size(); }
  size_t GetDownBufferSize(int b) const { return mDownBuffers[b].size(); }
  T* GetUpView(int b, int channel) const { return mUpViews[b][channel]; }

  const halfband::Upsampler2x<12>& Up12(int c = 0) const { return *mUp12[c]; }
  const halfband::Upsampler2x<4>& Up4Stage(int c = 0) const { return *mUp4[c]; }
  const halfband::Downsampler2x<12>& Down12(int c = 0) const { return *mDown12[c]; }
  const halfband::Downsampler2x<4>& Down4Stage(int c = 0) const { return *mDown4[c]; }

  EFactor GetTopFactor() const { return mTopFactor; }

  // Switches to factor (up to the top factor): the buffers are sized for
  // blockSize frames and the filters cleared, only when the factor changes.
  void SetFactor(EFactor factor, int blockSize = 1024)
  {
    if (factor == mFactor)
      return;
    mFactor = factor;
    mRate = RateOf(factor);
    Reset(blockSize);
  }

  // No function of the top-rate samples.
  struct NoShape
  {
    void Block(const T*, T*, int) const {}
  };

private:
  // One 2x stage over a block: n samples in, 2n out.
  template <class Stage>
  static void UpStage(Stage& stage, T* out, const T* in, int n)
  {
    for (int i = 0; i < n; ++i)
      stage.process_sample(out[2 * i], out[2 * i + 1], in[i]);
  }

  // One 2x decimating stage over a block: 2n samples in, n out.
  template <class Stage>
  static void DownStage(Stage& stage, T* out, const T* in, int n)
  {
    for (int i = 0; i < n; ++i)
      out[i] = stage.process_sample(in + 2 * i);
  }

  EFactor mFactor;
  int mRate;
  EFactor mTopFactor;
  static constexpr int kNumBuffers = 4;
  static size_t BufferRate(int b) { return static_cast<size_t>(16 >> b); }

  void ClearChannel(int c)
  {
    mUp12[c]->clear_buffers();
    mUp4[c]->clear_buffers();
    mUp3[c]->clear_buffers();
    mUp2[c]->clear_buffers();
    mDown12[c]->clear_buffers();
    mDown4[c]->clear_buffers();
    mDown3[c]->clear_buffers();
    mDown2[c]->clear_buffers();
  }

  // Both up levels of 4x in one AVX2 loop, where the instances' stages share
  // their coefficients; false (nothing done) where they do not.
  template <int S, class Shape>
  static bool UpFused4x(OverSampler* const os[S], const T* const in[S], int nFrames, T* const* work, const T** top,
                        T* const* shaped, const Shape* shape)
  {
    halfband::Upsampler2x<12>* st12[S];
    halfband::Upsampler2x<4>* st4[S];
    T* hi[S];
    for (int s = 0; s < S; ++s)
    {
      st12[s] = os[s]->mUp12[0].get();
      st4[s] = os[s]->mUp4[0].get();
      hi[s] = work ? work[s] + 2 * nFrames : os[s]->mUpBuffers[2].data();
    }
    if (!(SameCoefs<S>(st12) && SameCoefs<S>(st4)))
      return false;
    constexpr bool kCanShape = !std::is_same<Shape, NoShape>::value;
    if (kCanShape && shape)
      halfband::PairLoops::UpPairs4x<S / 2, kCanShape>(st12, st4, in, nFrames, hi, shaped, shape);
    else
      halfband::PairLoops::UpPairs4x<S / 2, false>(st12, st4, in, nFrames, hi, shaped, shape);
    if (top)
      for (int s = 0; s < S; ++s)
        top[s] = hi[s];
    return true;
  }

  // One up level for S instances: m inputs each from src, 2m outputs into
  // dst; src then points at those outputs. With shape given, shaped[s]
  // receives its function of dst[s].
  template <int S, typename Get, class Shape>
  static void UpLevel(OverSampler* const os[S], const T* src[S], int& m, T* const dst[S], Get get,
                      T* const* shaped, const Shape* shape, bool avx2)
  {
    decltype(&get(*os[0])) st[S];
    for (int s = 0; s < S; ++s)
      st[s] = &get(*os[s]);
    // Work on copies: they cannot alias the buffers, so their state can
    // stay in registers through the loop.
    using Stage = typename std::remove_pointer<typename std::decay<decltype(st[0])>::type>::type;
    if constexpr (std::is_same<T, double>::value && S % 2 == 0 && Stage::kSections % 2 == 0)
      if (avx2 && SameCoefs<S>(st))
      {
        constexpr bool kCanShape = !std::is_same<Shape, NoShape>::value;
        if (kCanShape && shape)
          halfband::PairLoops::UpPairs<S / 2, kCanShape>(st, src, m, dst, shaped, shape);
        else
          halfband::PairLoops::UpPairs<S / 2, false>(st, src, m, dst, shaped, shape);
        for (int s = 0; s < S; ++s)
          src[s] = dst[s];
        m *= 2;
        return;
      }
    Stage local[S];
    for (int s = 0; s < S; ++s)
      local[s] = *st[s];
    for (int i = 0; i < m; ++i)
#pragma GCC unroll 4
      for (int s = 0; s < S; ++s)
        local[s].process_sample(dst[s][2 * i], dst[s][2 * i + 1], src[s][i]);
    for (int s = 0; s < S; ++s)
      *st[s] = local[s];
    for (int s = 0; s < S; ++s)
      src[s] = dst[s];
    m *= 2;
    if (shape)
      for (int s = 0; s < S; ++s)
        shape->Block(dst[s], shaped[s], m);
  }

  template <int S, class Stage>
  static bool SameCoefs(Stage* const st[S])
  {
    for (int s = 1; s < S; ++s)
      if (!st[0]->same_coefs(*st[s]))
        return false;
    return true;
  }

  // One down level for S instances: m outputs each from 2m inputs, into
  // dst; src then points at them.
  template <int S, typename Get>
  static void DownLevel(OverSampler* const os[S], const T* src[S], int m, T* const dst[S], Get get, bool avx2)
  {
    decltype(&get(*os[0])) st[S];
    for (int s = 0; s < S; ++s)
      st[s] = &get(*os[s]);
    using Stage = typename std::remove_pointer<typename std::decay<decltype(st[0])>::type>::type;
    if constexpr (std::is_same<T, double>::value && S % 2 == 0 && Stage::kSections % 2 == 0)
      if (avx2 && SameCoefs<S>(st))
      {
        halfband::PairLoops::DownPairs<S / 2>(st, src, m, dst);
        for (int s = 0; s < S; ++s)
          src[s] = dst[s];
        return;
      }
    Stage local[S];
    for (int s = 0; s < S; ++s)
      local[s] = *st[s];
    for (int i = 0; i < m; ++i)
#pragma GCC unroll 4
      for (int s = 0; s < S; ++s)
        dst[s][i] = local[s].process_sample(src[s] + 2 * i);
    for (int s = 0; s < S; ++s)
      *st[s] = local[s];
    for (int s = 0; s < S; ++s)
      src[s] = dst[s];
  }

  inline void Up4(double input, double out[4])
  {
    double a[2];
    mUp12[0]->process_sample(a[0], a[1], input);
    mUp4[0]->process_sample(out[0], out[1], a[0]);
    mUp4[0]->process_sample(out[2], out[3], a[1]);
  }

  inline void Up8(double input, double out[8])
  {
    double b[4];
    Up4(input, b);
    for (int k = 0; k < 4; ++k)
      mUp3[0]->process_sample(out[2 * k], out[2 * k + 1], b[k]);
  }

  inline double Down4(const double r[4])
  {
    const double w[2] = {mDown4[0]->process_sample(r), mDown4[0]->process_sample(r + 2)};
    return mDown12[0]->process_sample(w);
  }

  inline double Down8(const double r[8])
  {
    double w[4];
    for (int k = 0; k < 4; ++k)
      w[k] = mDown3[0]->process_sample(r + 2 * k);
    return Down4(w);
  }

  bool mBlockProcessing;
  int mNChannels;
  int mBlockCapacity = 1;

  std::vector<T> mUpBuffers[kNumBuffers];
  std::vector<T> mDownBuffers[kNumBuffers];
  std::vector<T*> mUpViews[kNumBuffers];
  std::vector<T*> mDownViews[kNumBuffers];

  std::vector<std::unique_ptr<halfband::Upsampler2x<12>>> mUp12;
  std::vector<std::unique_ptr<halfband::Upsampler2x<4>>> mUp4;
  std::vector<std::unique_ptr<halfband::Upsampler2x<3>>> mUp3;
  std::vector<std::unique_ptr<halfband::Upsampler2x<2>>> mUp2;
  std::vector<std::unique_ptr<halfband::Downsampler2x<12>>> mDown12;
  std::vector<std::unique_ptr<halfband::Downsampler2x<4>>> mDown4;
  std::vector<std::unique_ptr<halfband::Downsampler2x<3>>> mDown3;
  std::vector<std::unique_ptr<halfband::Downsampler2x<2>>> mDown2;
};
