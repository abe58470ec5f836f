#pragma once

// The AVX2 loops the oversampler runs its half-band levels with: two
// instances in each 256-bit register, and at 4x both levels of a direction
// fused into one loop. The same operations as the stages' process_sample,
// so the same numbers.

#include <immintrin.h>

#include "dsp/halfband/AllpassPaths.h"
#include "dsp/halfband/Downsampler2x.h"
#include "dsp/halfband/Upsampler2x.h"

namespace halfband
{

struct PairLoops
{
  using T = double;

  // The 12- and the 4-section levels of 2Q instances (up or down) as the
  // fused 4x loops run them: their states loaded into pairs, saved back.
  template <int Q, bool kSwapped>
  struct TwoLevels
  {
    using A4 = halfband::detail::AllpassState<4>;
    using A12 = halfband::detail::AllpassState<12>;
    A12* b12[2 * Q];
    A4* b4[2 * Q];
    typename A12::template Pairs<Q, kSwapped> p12;
    typename A4::template Pairs<Q, kSwapped> p4;
    template <class S12, class S4>
    __attribute__((target("avx2"), always_inline)) TwoLevels(S12* const st12[2 * Q], S4* const st4[2 * Q])
    {
      for (int s = 0; s < 2 * Q; ++s)
      {
        b12[s] = st12[s];
        b4[s] = st4[s];
      }
      p12.Load(b12);
      p4.Load(b4);
    }
    __attribute__((target("avx2"), always_inline)) void Save()
    {
      p12.Save(b12);
      p4.Save(b4);
    }
  };

  // The up level with two instances in each 256-bit register: lanes 0 and 1
  // are the first instance's two paths, both fed its input, as in
  // process_sample; lanes 2 and 3 the second's.
  template <int Q, bool kShaped, class Stage, class Shape>
  __attribute__((target("avx2"))) static void UpPairs(Stage* const st[2 * Q], const T* const src[2 * Q], int m,
                                                      T* const dst[2 * Q], T* const* shaped, const Shape* shape)
  {
    halfband::detail::AllpassState<Stage::kSections>* base[2 * Q];
    for (int s = 0; s < 2 * Q; ++s) base[s] = st[s];
    halfband::detail::AllpassState<Stage::kSections>::template RunPairs<Q, false>(
      base, m,
      [&](int i, int q, __m256d& s) __attribute__((target("avx2"), always_inline)) {
        const double a = src[2 * q][i], b = src[2 * q + 1][i];
        s = _mm256_set_pd(b, b, a, a);
      },
      [&](int i, int q, const __m256d& s) __attribute__((target("avx2"), always_inline)) {
        _mm_storeu_pd(dst[2 * q] + 2 * i, _mm256_castpd256_pd128(s));
        _mm_storeu_pd(dst[2 * q + 1] + 2 * i, _mm256_extractf128_pd(s, 1));
        if constexpr (kShaped)
          if (i >= kShapeLag)
            ShapeStep(shape, dst[2 * q], dst[2 * q + 1], shaped[2 * q], shaped[2 * q + 1], i - kShapeLag);
      });
    if constexpr (kShaped)
      for (int i = m > kShapeLag ? m - kShapeLag : 0; i < m; ++i)
        for (int q = 0; q < Q; ++q) ShapeStep(shape, dst[2 * q], dst[2 * q + 1], shaped[2 * q], shaped[2 * q + 1], i);
  }

  // Both up levels of 4x in one loop: each frame's lower-level step feeds
  // the upper level's two steps at once, so the two chains overlap. The
  // same operations as UpPairs on each level.
  template <int Q, bool kShaped, class Shape>
  __attribute__((target("avx2"))) static void
  UpPairs4x(halfband::Upsampler2x<12>* const st12[2 * Q], halfband::Upsampler2x<4>* const st4[2 * Q],
            const T* const src[2 * Q], int n, T* const dst[2 * Q], T* const* shaped, const Shape* shape)
  {
    TwoLevels<Q, false> levels(st12, st4);
    auto& p12 = levels.p12;
    auto& p4 = levels.p4;
    constexpr int kLag = kShapeLag / 2;
    auto shapeFrame = [&](int i) __attribute__((target("avx2"), always_inline))
    {
      if constexpr (kShaped)
        for (int q = 0; q < Q; ++q)
        {
          ShapeStep(shape, dst[2 * q], dst[2 * q + 1], shaped[2 * q], shaped[2 * q + 1], 2 * i);
          ShapeStep(shape, dst[2 * q], dst[2 * q + 1], shaped[2 * q], shaped[2 * q + 1], 2 * i + 1);
        }
    };
    for (int i = 0; i < n; ++i)
    {
      __m256d u[Q], a[Q], b[Q];
      for (int q = 0; q < Q; ++q)
      {
        const double x = src[2 * q][i], y = src[2 * q + 1][i];
        u[q] = _mm256_set_pd(y, y, x, x);
      }
      p12.Step(u);
      // The lower level's first outputs, each in both paths' lanes, then
      // its second ones.
      for (int q = 0; q < Q; ++q)
      {
        a[q] = _mm256_unpacklo_pd(u[q], u[q]);
        b[q] = _mm256_unpackhi_pd(u[q], u[q]);
      }
      p4.Step(a);
      p4.Step(b);
      for (int q = 0; q < Q; ++q)
      {
        _mm_storeu_pd(dst[2 * q] + 4 * i, _mm256_castpd256_pd128(a[q]));
        _mm_storeu_pd(dst[2 * q + 1] + 4 * i, _mm256_extractf128_pd(a[q], 1));
        _mm_storeu_pd(dst[2 * q] + 4 * i + 2, _mm256_castpd256_pd128(b[q]));
        _mm_storeu_pd(dst[2 * q + 1] + 4 * i + 2, _mm256_extractf128_pd(b[q], 1));
      }
      if constexpr (kShaped)
        if (i >= kLag) shapeFrame(i - kLag);
    }
    if constexpr (kShaped)
      for (int i = n > kLag ? n - kLag : 0; i < n; ++i) shapeFrame(i);
    levels.Save();
  }

  // The shape runs this many steps behind the filters: its inputs are then
  // ready when its instructions issue, so they do not crowd the processor's
  // scheduler while the filters' chains wait.
  static constexpr int kShapeLag = 8;

  template <class Shape>
  __attribute__((target("avx2"), always_inline)) static inline void ShapeStep(const Shape* shape, const T* a,
                                                                              const T* b, T* sa, T* sb, int i)
  {
    const __m256d x = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(a + 2 * i)), _mm_loadu_pd(b + 2 * i), 1);
    const __m256d r = shape->Four(x);
    _mm_storeu_pd(sa + 2 * i, _mm256_castpd256_pd128(r));
    _mm_storeu_pd(sb + 2 * i, _mm256_extractf128_pd(r, 1));
  }

  // The down level likewise: path 0 of each instance starts from the later
  // sample of its pair, path 1 from the earlier, and the output is half
  // their sum (path 0's first), as in process_sample. The lanes are swapped
  // (path 1 low), so a pair loads as it lies in memory; two steps' outputs
  // are stored together.
  template <int Q, class Stage>
  __attribute__((target("avx2"))) static void DownPairs(Stage* const st[2 * Q], const T* const src[2 * Q], int m,
                                                        T* const dst[2 * Q])
  {
    halfband::detail::AllpassState<Stage::kSections>* base[2 * Q];
    for (int s = 0; s < 2 * Q; ++s) base[s] = st[s];
    const __m256d half = _mm256_set1_pd(0.5);
    __m256d prev[Q];
    for (int q = 0; q < Q; ++q) prev[q] = _mm256_setzero_pd();
    halfband::detail::AllpassState<Stage::kSections>::template RunPairs<Q, true>(
      base, m,
      [&](int i, int q, __m256d& s)
        __attribute__((target("avx2"), always_inline)) { s = LoadPairs(src[2 * q] + 2 * i, src[2 * q + 1] + 2 * i); },
      [&](int i, int q, const __m256d& s) __attribute__((target("avx2"), always_inline)) {
        const __m256d sum = PathSums(s);
        if (i & 1)
        {
          const __m256d out = _mm256_mul_pd(half, _mm256_unpacklo_pd(prev[q], sum));
          _mm_storeu_pd(dst[2 * q] + i - 1, _mm256_castpd256_pd128(out));
          _mm_storeu_pd(dst[2 * q + 1] + i - 1, _mm256_extractf128_pd(out, 1));
        }
        else
          prev[q] = sum;
      });
    if (m & 1)
      for (int q = 0; q < Q; ++q)
      {
        const __m256d out = _mm256_mul_pd(half, prev[q]);
        dst[2 * q][m - 1] = _mm256_cvtsd_f64(out);
        dst[2 * q + 1][m - 1] = _mm_cvtsd_f64(_mm256_extractf128_pd(out, 1));
      }
  }

  // Lanes 0 and 2 of a swapped pair register's outputs: path 0 plus path 1
  // of each instance, path 0 first as in process_sample.
  __attribute__((target("avx2"), always_inline)) static inline __m256d PathSums(__m256d v)
  {
    return _mm256_add_pd(_mm256_permute_pd(v, 5), v);
  }

  __attribute__((target("avx2"), always_inline)) static inline __m256d LoadPairs(const T* a, const T* b)
  {
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(a)), _mm_loadu_pd(b), 1);
  }

  // Both down levels of 4x in one loop: the upper level's two steps for a
  // frame feed the lower level's step at once, so the two levels' chains of
  // sections overlap. The same operations as DownPairs on each level.
  template <int Q>
  __attribute__((target("avx2"))) static void DownPairs4x(halfband::Downsampler2x<4>* const st4[2 * Q],
                                                          halfband::Downsampler2x<12>* const st12[2 * Q],
                                                          const T* const src[2 * Q], int n, T* const dst[2 * Q])
  {
    TwoLevels<Q, true> levels(st12, st4);
    auto& p12 = levels.p12;
    auto& p4 = levels.p4;
    const __m256d half = _mm256_set1_pd(0.5);
    // One frame: the upper level's steps at 4i and 4i + 2, then the lower
    // level's; s[q] receives the lower level's sums.
    auto frame = [&](int i, __m256d s[Q]) __attribute__((target("avx2"), always_inline))
    {
      __m256d a[Q], b[Q];
      for (int q = 0; q < Q; ++q) a[q] = LoadPairs(src[2 * q] + 4 * i, src[2 * q + 1] + 4 * i);
      p4.Step(a);
      for (int q = 0; q < Q; ++q) b[q] = LoadPairs(src[2 * q] + 4 * i + 2, src[2 * q + 1] + 4 * i + 2);
      p4.Step(b);
      for (int q = 0; q < Q; ++q) s[q] = _mm256_mul_pd(half, _mm256_unpacklo_pd(PathSums(a[q]), PathSums(b[q])));
      p12.Step(s);
      for (int q = 0; q < Q; ++q) s[q] = PathSums(s[q]);
    };
    int i = 0;
    for (; i + 2 <= n; i += 2)
    {
      __m256d e[Q], o[Q];
      frame(i, e);
      frame(i + 1, o);
      for (int q = 0; q < Q; ++q)
      {
        const __m256d out = _mm256_mul_pd(half, _mm256_unpacklo_pd(e[q], o[q]));
        _mm_storeu_pd(dst[2 * q] + i, _mm256_castpd256_pd128(out));
        _mm_storeu_pd(dst[2 * q + 1] + i, _mm256_extractf128_pd(out, 1));
      }
    }
    if (i < n)
    {
      __m256d e[Q];
      frame(i, e);
      for (int q = 0; q < Q; ++q)
      {
        const __m256d out = _mm256_mul_pd(half, e[q]);
        dst[2 * q][i] = _mm256_cvtsd_f64(out);
        dst[2 * q + 1][i] = _mm_cvtsd_f64(_mm256_extractf128_pd(out, 1));
      }
    }
    levels.Save();
  }
};

}  // namespace halfband
